#include "dshow/renderer.h"

#include <new>

namespace korvane {

CRendererInputPin::CRendererInputPin(CBaseRenderer* renderer, HRESULT* phr, const wchar_t* pinName)
    : CBaseInputPin(L"Renderer input pin", renderer, renderer->InterfaceLock(), phr, pinName),
      m_pRenderer(renderer) {}

HRESULT STDMETHODCALLTYPE CRendererInputPin::EndOfStream() {
    CAutoLock lock(m_pRenderer->InterfaceLock());
    HRESULT hr = CheckStreaming();
    if (hr != S_OK)
        return hr;
    return m_pRenderer->EndOfStream();
}

HRESULT STDMETHODCALLTYPE CRendererInputPin::BeginFlush() {
    CAutoLock lock(m_pRenderer->InterfaceLock());
    CBaseInputPin::BeginFlush();
    return m_pRenderer->BeginFlush();
}

HRESULT STDMETHODCALLTYPE CRendererInputPin::EndFlush() {
    CAutoLock lock(m_pRenderer->InterfaceLock());
    HRESULT hr = m_pRenderer->EndFlush();
    if (FAILED(hr))
        return hr;
    return CBaseInputPin::EndFlush();
}

HRESULT STDMETHODCALLTYPE CRendererInputPin::Receive(IMediaSample* sample) {
    HRESULT hr = CBaseInputPin::Receive(sample);
    if (hr != S_OK)
        return hr;
    return m_pRenderer->Receive(sample);
}

HRESULT CRendererInputPin::CheckMediaType(const CMediaType* pmt) {
    return m_pRenderer->CheckMediaType(pmt);
}

HRESULT CRendererInputPin::SetMediaType(const CMediaType* pmt) {
    HRESULT hr = CBaseInputPin::SetMediaType(pmt);
    if (FAILED(hr))
        return hr;
    return m_pRenderer->SetMediaType(pmt);
}

HRESULT CRendererInputPin::BreakConnect() {
    HRESULT hr = m_pRenderer->BreakConnect();
    if (FAILED(hr))
        return hr;
    return CBaseInputPin::BreakConnect();
}

HRESULT CRendererInputPin::CompleteConnect(IPin* receivePin) {
    HRESULT hr = m_pRenderer->CompleteConnect(receivePin);
    if (FAILED(hr))
        return hr;
    return CBaseInputPin::CompleteConnect(receivePin);
}

HRESULT CRendererInputPin::Active() {
    return m_pRenderer->Active();
}

HRESULT CRendererInputPin::Inactive() {
    HRESULT hr = m_pRenderer->Inactive();
    if (FAILED(hr))
        return hr;
    return CBaseInputPin::Inactive();
}

CBaseRenderer::CBaseRenderer(REFCLSID clsid, const wchar_t* objectName, IUnknown* outer, HRESULT*)
    : CBaseFilter(objectName, outer, &m_InterfaceLock, clsid) {}

CBaseRenderer::~CBaseRenderer() {
    ClearPendingSample();
    delete m_pInputPin;
}

HRESULT STDMETHODCALLTYPE CBaseRenderer::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (riid == IID_IAMFilterMiscFlags)
        return GetInterface(static_cast<IAMFilterMiscFlags*>(this), ppv);
    return CBaseFilter::NonDelegatingQueryInterface(riid, ppv);
}

int CBaseRenderer::GetPinCount() {
    return GetPin(0) ? 1 : 0;
}

CBasePin* CBaseRenderer::GetPin(int index) {
    CAutoLock lock(&m_InterfaceLock);
    if (index != 0)
        return nullptr;
    if (!m_pInputPin) {
        HRESULT hr = S_OK;
        m_pInputPin = new (std::nothrow) CRendererInputPin(this, &hr, InputPinName());
    }
    return m_pInputPin;
}

HRESULT STDMETHODCALLTYPE CBaseRenderer::Stop() {
    CAutoLock lock(&m_InterfaceLock);
    {
        CAutoLock sampleLock(&m_RendererLock);
        CancelNotification();
        ClearPendingSample();
        m_AbortEvent.Set();
        m_bEOS = false;
        m_bEOSDelivered = false;
    }
    if (m_State == State_Running)
        OnStopStreaming();
    return CBaseFilter::Stop();
}

HRESULT STDMETHODCALLTYPE CBaseRenderer::Pause() {
    CAutoLock lock(&m_InterfaceLock);
    FILTER_STATE previous = m_State;
    if (previous == State_Stopped) {
        CAutoLock sampleLock(&m_RendererLock);
        m_AbortEvent.Reset();
        m_bFlushing = false;
        m_bEOS = false;
        m_bEOSDelivered = false;
    }
    HRESULT hr = CBaseFilter::Pause();
    if (FAILED(hr))
        return hr;
    if (previous == State_Running) {
        // A held sample waits again, now until the next Run.
        CAutoLock sampleLock(&m_RendererLock);
        CancelNotification();
        OnStopStreaming();
    }
    return hr;
}

HRESULT STDMETHODCALLTYPE CBaseRenderer::Run(REFERENCE_TIME tStart) {
    CAutoLock lock(&m_InterfaceLock);
    FILTER_STATE previous = m_State;
    HRESULT hr = CBaseFilter::Run(tStart);
    if (FAILED(hr) || previous == State_Running)
        return hr;
    CAutoLock sampleLock(&m_RendererLock);
    OnStartStreaming();
    if (m_pMediaSample)
        ScheduleSample(m_pMediaSample);
    else if (m_bEOS)
        SendEndOfStream();
    return hr;
}

HRESULT CBaseRenderer::ShouldDrawSampleNow(IMediaSample* sample, REFERENCE_TIME* start,
                                           REFERENCE_TIME* end) {
    if (!m_pClock)
        return S_OK;
    HRESULT hr = sample->GetTime(start, end);
    // VFW_E_SAMPLE_TIME_NOT_SET (and any failure): an untimed sample.
    if (FAILED(hr))
        return S_OK;
    return S_FALSE;
}

void CBaseRenderer::ScheduleSample(IMediaSample* sample) {
    REFERENCE_TIME start = 0;
    REFERENCE_TIME end = 0;
    if (ShouldDrawSampleNow(sample, &start, &end) == S_OK) {
        m_RenderEvent.Set();
        return;
    }
    HRESULT hr = m_pClock->AdviseTime(
        m_tStart, start, reinterpret_cast<HEVENT>(m_RenderEvent.handle()), &m_dwAdvise);
    if (FAILED(hr)) {
        m_dwAdvise = 0;
        m_RenderEvent.Set();
    }
}

void CBaseRenderer::CancelNotification() {
    if (m_dwAdvise && m_pClock)
        m_pClock->Unadvise(m_dwAdvise);
    m_dwAdvise = 0;
    m_RenderEvent.Reset();
}

void CBaseRenderer::ClearPendingSample() {
    if (m_pMediaSample) {
        m_pMediaSample->Release();
        m_pMediaSample = nullptr;
    }
}

HRESULT CBaseRenderer::PrepareReceive(IMediaSample* sample) {
    CAutoLock lock(&m_InterfaceLock);
    CAutoLock sampleLock(&m_RendererLock);
    if (m_State == State_Stopped)
        return VFW_E_WRONG_STATE;
    if (m_bFlushing)
        return S_FALSE;
    if (m_bEOS)
        return VFW_E_SAMPLE_REJECTED_EOS;
    if (m_pMediaSample)
        return E_UNEXPECTED;
    m_pMediaSample = sample;
    sample->AddRef();
    m_RenderEvent.Reset();
    if (m_State == State_Running)
        ScheduleSample(sample);
    return S_OK;
}

HRESULT CBaseRenderer::Receive(IMediaSample* sample) {
    HRESULT hr = PrepareReceive(sample);
    if (hr != S_OK)
        return hr == S_FALSE ? S_OK : hr;

    HANDLE events[2] = {m_RenderEvent.handle(), m_AbortEvent.handle()};
    for (;;) {
        // The time-out only re-checks the held sample; Stop and flush also set the abort event.
        DWORD waited = WaitForMultipleObjects(2, events, FALSE, 100);
        CAutoLock lock(&m_InterfaceLock);
        CAutoLock sampleLock(&m_RendererLock);
        if (m_pMediaSample != sample)
            return m_State == State_Stopped ? VFW_E_WRONG_STATE : S_OK;
        if (waited == WAIT_OBJECT_0 + 1) {
            // An abort that did not take our sample: a stale signal; drop the sample.
            ClearPendingSample();
            return S_OK;
        }
        if (waited != WAIT_OBJECT_0)
            continue;
        m_dwAdvise = 0;
        hr = Render(sample);
        ClearPendingSample();
        return SUCCEEDED(hr) ? S_OK : hr;
    }
}

HRESULT CBaseRenderer::Render(IMediaSample* sample) {
    OnRenderStart(sample);
    DoRenderSample(sample);
    OnRenderEnd(sample);
    return S_OK;
}

HRESULT CBaseRenderer::EndOfStream() {
    CAutoLock lock(&m_InterfaceLock);
    CAutoLock sampleLock(&m_RendererLock);
    if (m_State == State_Stopped || m_bFlushing)
        return S_OK;
    m_bEOS = true;
    if (m_State == State_Running && !m_pMediaSample)
        SendEndOfStream();
    return S_OK;
}

HRESULT CBaseRenderer::BeginFlush() {
    CAutoLock lock(&m_InterfaceLock);
    CAutoLock sampleLock(&m_RendererLock);
    m_bFlushing = true;
    CancelNotification();
    ClearPendingSample();
    m_AbortEvent.Set();
    m_bEOS = false;
    m_bEOSDelivered = false;
    return S_OK;
}

HRESULT CBaseRenderer::EndFlush() {
    CAutoLock lock(&m_InterfaceLock);
    CAutoLock sampleLock(&m_RendererLock);
    m_bFlushing = false;
    m_AbortEvent.Reset();
    return S_OK;
}

HRESULT CBaseRenderer::SendEndOfStream() {
    if (m_bEOSDelivered)
        return S_OK;
    m_bEOSDelivered = true;
    return NotifyEvent(EC_COMPLETE, S_OK, 0);
}

} // namespace korvane
