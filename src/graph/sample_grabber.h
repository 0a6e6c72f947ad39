#pragma once

#include "capture/attached_recordings.h"
#include "capture/recorder.h"
#include "capture/win/file_recorder.h"
#include "dshow/com_ptr.h"
#include "dshow/sync.h"
#include "dshow/unknown.h"
#include "graph/platform_guids.h"

#include <atomic>
#include <cstdint>
#include <memory>

namespace korvane {

// One recording: every transport stream buffer handed to SampleCB goes to the recorder. The
// object creates the file; close() (or the last release) writes what is left and closes it.
//
// The platform's grabber may read its callback pointer and call it later without a reference
// of its own, so a recording is not installed on the grabber directly but reached through a
// CRecordingHook, which takes a reference for each call.
class CSampleGrabber : public CUnknown, public ISampleGrabberCB {
  public:
    // generation names the recording in its failure reports (see WindowFailureReporter).
    CSampleGrabber(const wchar_t* fileName, const RecorderSettings& settings,
                   HWND notifyWindow = nullptr, uint32_t generation = 0);
    // The whole multiplex.
    explicit CSampleGrabber(const wchar_t* fileName, HWND notifyWindow = nullptr);
    // One channel as a transport stream: its PAT, PMT, video and audio packets.
    CSampleGrabber(const wchar_t* fileName, int32_t pmtPid, int32_t videoPid, int32_t audioPid,
                   HWND notifyWindow = nullptr);
    // One channel remultiplexed to a program stream.
    CSampleGrabber(const wchar_t* fileName, int32_t videoPid, int32_t audioPid,
                   HWND notifyWindow = nullptr);
    ~CSampleGrabber() override;

    DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // Runs on the grabber's streaming thread, under the object's lock.
    HRESULT STDMETHODCALLTYPE SampleCB(double sampleTime, IMediaSample* sample) override;
    // The buffer form is not used: the grabber is installed with method 0.
    HRESULT STDMETHODCALLTYPE BufferCB(double sampleTime, BYTE* buffer, long length) override;

    // Ends the recording: waits for a SampleCB call in progress, writes what is still
    // collected, waits (bounded) for the file to take it and closes the file. Later calls of
    // SampleCB do nothing; later calls of close give nothing to report.
    RecordingEnd close();
    bool failed();
    // The recorded channel's PIDs changed: the next buffers are kept by the new ones.
    void changeStreams(const RecorderSettings& settings);

  private:
    CCritSec lock_;
    std::unique_ptr<FileRecorder> recorder_; // empty once closed
};

// The callback the platform's grabber holds for the whole life of the graph. It is installed
// while the graph is stopped and never changed while buffers may flow, so the pointer the
// grabber reads stays valid; it passes each buffer to every recording attached at the time
// (the user's and the scheduled ones on the same multiplex), taking them and a reference to
// each under its own lock, so that detaching a recording cannot free it under a call. Without
// a recording it does nothing.
class CRecordingHook : public CUnknown, public ISampleGrabberCB {
  public:
    CRecordingHook();
    ~CRecordingHook() override;

    DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    HRESULT STDMETHODCALLTYPE SampleCB(double sampleTime, IMediaSample* sample) override;
    HRESULT STDMETHODCALLTYPE BufferCB(double sampleTime, BYTE* buffer, long length) override;

    // How many recordings the hook feeds at most.
    static constexpr std::size_t kCapacity = 8;

    // The next buffers also go to recording. False when kCapacity recordings are attached.
    bool attach(CSampleGrabber* recording);
    // Takes that recording away; the caller gets the hook's reference (empty when it was not
    // attached). A call already past the hook may still reach it: close it before letting it
    // go.
    ComPtr<CSampleGrabber> detach(CSampleGrabber* recording);

    // The tick count (GetTickCount64) of the last buffer with data, 0 before the first: the
    // data watch reads it from the main thread.
    uint64_t lastDataTick() const { return lastDataTick_.load(std::memory_order_relaxed); }

  private:
    AttachedRecordings<ComPtr<CSampleGrabber>, kCapacity> recordings_;
    std::atomic<uint64_t> lastDataTick_{0};
};

} // namespace korvane
