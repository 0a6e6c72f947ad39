#include "graph/sample_grabber.h"

#include "dshow/com_ptr.h"

namespace korvane {

CSampleGrabber::CSampleGrabber(const wchar_t* fileName, const RecorderSettings& settings,
                               HWND notifyWindow)
    : CUnknown(L"Sample grabber", nullptr),
      recorder_(std::make_unique<FileRecorder>(fileName, settings, notifyWindow)) {}

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
    if (!sample)
        return S_OK;
    // Keeps this object alive until the call ends, whatever SetCallback does meanwhile.
    ComPtr<IUnknown> self(GetOwner());
    BYTE* data = nullptr;
    if (FAILED(sample->GetPointer(&data)) || !data)
        return S_OK;
    long length = sample->GetActualDataLength();
    long size = sample->GetSize();
    if (size >= 0 && length > size)
        length = size;
    if (length > 0)
        recorder_->processBuffer(data, static_cast<std::size_t>(length));
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CSampleGrabber::BufferCB(double, BYTE*, long) {
    return S_OK;
}

} // namespace korvane
