#pragma once

#include "capture/recorder.h"
#include "capture/win/file_recorder.h"
#include "dshow/unknown.h"
#include "graph/platform_guids.h"

#include <memory>

namespace korvane {

// One recording, hooked on the platform's sample grabber as its callback: every transport
// stream buffer that passes the grabber goes to the recorder. The object creates the file;
// the grabber owns it through its reference from SetCallback(this, 0) to SetCallback(none),
// and the last release destroys it, which writes what is left and closes the file.
//
// SampleCB runs on the grabber's streaming thread and holds a reference of its own while it
// works, so a callback removed during a call is destroyed when that call returns.
class CSampleGrabber : public CUnknown, public ISampleGrabberCB {
  public:
    CSampleGrabber(const wchar_t* fileName, const RecorderSettings& settings,
                   HWND notifyWindow = nullptr);
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

    HRESULT STDMETHODCALLTYPE SampleCB(double sampleTime, IMediaSample* sample) override;
    // The buffer form is not used: the grabber is installed with method 0.
    HRESULT STDMETHODCALLTYPE BufferCB(double sampleTime, BYTE* buffer, long length) override;

    bool failed() const { return recorder_->failed(); }

  private:
    std::unique_ptr<FileRecorder> recorder_;
};

} // namespace korvane
