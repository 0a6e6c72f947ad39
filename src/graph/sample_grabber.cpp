#include "graph/sample_grabber.h"

#include "dshow/sample_bytes.h"

namespace korvane {

CSampleGrabber::CSampleGrabber(const wchar_t* fileName, const RecorderSettings& settings,
                               HWND notifyWindow, uint32_t generation)
    : CUnknown(L"Sample grabber", nullptr),
      recorder_(std::make_unique<FileRecorder>(fileName, settings, notifyWindow, generation)) {}

CSampleGrabber::CSampleGrabber(const wchar_t* fileName, HWND notifyWindow)
    : CSampleGrabber(fileName, RecorderSettings::multiplex(), notifyWindow) {}

CSampleGrabber::CSampleGrabber(const wchar_t* fileName, int32_t pmtPid, int32_t videoPid,
                               int32_t audioPid, HWND notifyWindow)
    : CSampleGrabber(fileName, RecorderSettings::channelTs(pmtPid, videoPid, audioPid),
                     notifyWindow) {}

CSampleGrabber::CSampleGrabber(const wchar_t* fileName, int32_t videoPid, int32_t audioPid,
                               HWND notifyWindow)
    : CSampleGrabber(fileName, RecorderSettings::channelPs(videoPid, audioPid), notifyWindow) {}

CSampleGrabber::~CSampleGrabber() = default;

HRESULT STDMETHODCALLTYPE CSampleGrabber::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (riid == kIidSampleGrabberCB)
        return GetInterface(static_cast<ISampleGrabberCB*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT STDMETHODCALLTYPE CSampleGrabber::SampleCB(double, IMediaSample* sample) {
    std::span<const uint8_t> bytes = sampleBytes(sample);
    CAutoLock lock(&lock_);
    if (recorder_ && !bytes.empty())
        recorder_->processBuffer(bytes.data(), bytes.size());
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CSampleGrabber::BufferCB(double, BYTE*, long) {
    return S_OK;
}

RecordingEnd CSampleGrabber::close() {
    std::unique_ptr<FileRecorder> recorder;
    {
        CAutoLock lock(&lock_);
        recorder = std::move(recorder_);
    }
    // Outside the lock: a streaming call waiting for it returns at once and writes nothing.
    return recorder ? recorder->close() : RecordingEnd{};
}

void CSampleGrabber::changeStreams(const RecorderSettings& settings) {
    CAutoLock lock(&lock_);
    if (recorder_)
        recorder_->changeStreams(settings);
}

bool CSampleGrabber::failed() {
    CAutoLock lock(&lock_);
    return recorder_ && recorder_->failed();
}

CRecordingHook::CRecordingHook() : CUnknown(L"Recording hook", nullptr) {}

CRecordingHook::~CRecordingHook() = default;

HRESULT STDMETHODCALLTYPE CRecordingHook::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (riid == kIidSampleGrabberCB)
        return GetInterface(static_cast<ISampleGrabberCB*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT STDMETHODCALLTYPE CRecordingHook::SampleCB(double sampleTime, IMediaSample* sample) {
    if (sample != nullptr && sample->GetActualDataLength() > 0)
        lastDataTick_.store(GetTickCount64(), std::memory_order_relaxed);
    decltype(recordings_)::Snapshot recordings;
    const std::size_t count = recordings_.snapshot(recordings);
    for (std::size_t i = 0; i < count; ++i)
        recordings[i]->SampleCB(sampleTime, sample);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CRecordingHook::BufferCB(double, BYTE*, long) {
    return S_OK;
}

bool CRecordingHook::attach(CSampleGrabber* recording) {
    return recording != nullptr && recordings_.attach(ComPtr(recording));
}

ComPtr<CSampleGrabber> CRecordingHook::detach(CSampleGrabber* recording) {
    return recordings_.detach(recording);
}

} // namespace korvane
