#pragma once

#include "dshow/base_filter.h"
#include "dshow/base_pin.h"
#include "dshow/sync.h"

namespace korvane {

class CBaseRenderer;

// The single input pin of a CBaseRenderer: it checks the streaming state and hands every
// call to its renderer. Its lock is the renderer's interface lock.
class CRendererInputPin : public CBaseInputPin {
  public:
    CRendererInputPin(CBaseRenderer* renderer, HRESULT* phr, const wchar_t* pinName);

    HRESULT STDMETHODCALLTYPE EndOfStream() override;
    HRESULT STDMETHODCALLTYPE BeginFlush() override;
    HRESULT STDMETHODCALLTYPE EndFlush() override;
    HRESULT STDMETHODCALLTYPE Receive(IMediaSample* sample) override;

    HRESULT CheckMediaType(const CMediaType* pmt) override;
    HRESULT SetMediaType(const CMediaType* pmt) override;
    HRESULT BreakConnect() override;
    HRESULT CompleteConnect(IPin* receivePin) override;
    HRESULT Active() override;
    HRESULT Inactive() override;

  private:
    CBaseRenderer* m_pRenderer;
};

// A filter that consumes samples on its one input pin (created on first use) and renders
// each in DoRenderSample on the delivering thread.
//
// Scheduling: a sample without time stamps, or any sample when the graph has no clock, is
// rendered as soon as the filter runs; a time-stamped sample waits until the graph clock
// reaches run start + sample start. While paused a sample is held until Run. Stop and flush
// drop the held sample and release the waiting thread.
//
// Locks: m_InterfaceLock is the filter's state lock (state changes, connection, flush and
// end of stream); m_RendererLock guards the held sample, the clock advise and the
// end-of-stream flags, and is held while DoRenderSample runs. Take the interface lock first.
class CBaseRenderer : public CBaseFilter, public IAMFilterMiscFlags {
  public:
    CBaseRenderer(REFCLSID clsid, const wchar_t* objectName, IUnknown* outer, HRESULT* phr);
    ~CBaseRenderer() override;

    DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
    // Tells the graph that this filter ends a stream, so that it waits for its EC_COMPLETE.
    ULONG STDMETHODCALLTYPE GetMiscFlags() override { return AM_FILTER_MISC_FLAGS_IS_RENDERER; }

    HRESULT STDMETHODCALLTYPE Stop() override;
    HRESULT STDMETHODCALLTYPE Pause() override;
    HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME tStart) override;

    int GetPinCount() override;
    CBasePin* GetPin(int index) override;
    // The name the input pin is created with.
    virtual const wchar_t* InputPinName() const { return L"In"; }

    virtual HRESULT CheckMediaType(const CMediaType* pmt) = 0;
    // Renders one sample; its result is not passed upstream.
    virtual HRESULT DoRenderSample(IMediaSample* sample) = 0;
    virtual HRESULT SetMediaType(const CMediaType*) { return S_OK; }
    virtual HRESULT BreakConnect() { return S_OK; }
    virtual HRESULT CompleteConnect(IPin*) { return S_OK; }
    virtual HRESULT Active() { return S_OK; }
    virtual HRESULT Inactive() { return S_OK; }
    virtual HRESULT OnStartStreaming() { return S_OK; }
    virtual HRESULT OnStopStreaming() { return S_OK; }
    virtual void OnRenderStart(IMediaSample*) {}
    virtual void OnRenderEnd(IMediaSample*) {}

    // S_OK: render at once; S_FALSE: render when the clock reaches *start (stream time).
    virtual HRESULT ShouldDrawSampleNow(IMediaSample* sample, REFERENCE_TIME* start,
                                        REFERENCE_TIME* end);
    // Holds the sample and schedules it; S_OK when the caller must wait for it.
    virtual HRESULT PrepareReceive(IMediaSample* sample);
    // Waits for the sample's time, then renders it, on the delivering thread.
    virtual HRESULT Receive(IMediaSample* sample);
    virtual HRESULT Render(IMediaSample* sample);
    virtual HRESULT EndOfStream();
    virtual HRESULT BeginFlush();
    virtual HRESULT EndFlush();
    // EC_COMPLETE to the graph, once per stream.
    virtual HRESULT SendEndOfStream();

    CCritSec* InterfaceLock() { return &m_InterfaceLock; }

  protected:
    void ScheduleSample(IMediaSample* sample);
    void CancelNotification();
    void ClearPendingSample();

    CCritSec m_InterfaceLock;
    CCritSec m_RendererLock;
    CRendererInputPin* m_pInputPin = nullptr;
    IMediaSample* m_pMediaSample = nullptr; // counted while held
    CAMEvent m_RenderEvent{true};           // set when the held sample is due
    CAMEvent m_AbortEvent{true};            // set while a waiting Receive must give up
    DWORD_PTR m_dwAdvise = 0;
    bool m_bFlushing = false;
    bool m_bEOS = false;
    bool m_bEOSDelivered = false;
};

} // namespace korvane
