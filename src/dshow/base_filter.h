#pragma once

#include "dshow/sync.h"
#include "dshow/unknown.h"

#include "dshow/platform.h"

namespace korvane {

class CBasePin;

// Base of every filter of ours: IBaseFilter with its state, clock and graph membership.
//
// The filter's state lock (`m_pLock`, passed in by the derived class) guards m_State,
// m_tStart, m_pClock, the graph pointers and the pins' connection state; every IBaseFilter
// and IMediaFilter method takes it. Streaming threads must not take it while delivering.
class CBaseFilter : public CUnknown, public IBaseFilter {
  public:
    CBaseFilter(const wchar_t* objectName, IUnknown* outer, CCritSec* lock, REFCLSID clsid);
    ~CBaseFilter() override;

    DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // IPersist
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) override;
    // IMediaFilter
    HRESULT STDMETHODCALLTYPE Stop() override;
    HRESULT STDMETHODCALLTYPE Pause() override;
    HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME tStart) override;
    HRESULT STDMETHODCALLTYPE GetState(DWORD timeoutMs, FILTER_STATE* state) override;
    HRESULT STDMETHODCALLTYPE SetSyncSource(IReferenceClock* clock) override;
    HRESULT STDMETHODCALLTYPE GetSyncSource(IReferenceClock** clock) override;
    // IBaseFilter
    HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins** ppEnum) override;
    HRESULT STDMETHODCALLTYPE FindPin(LPCWSTR id, IPin** ppPin) override;
    HRESULT STDMETHODCALLTYPE QueryFilterInfo(FILTER_INFO* info) override;
    HRESULT STDMETHODCALLTYPE JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;
    HRESULT STDMETHODCALLTYPE QueryVendorInfo(LPWSTR* vendorInfo) override;

    // The stream time: the clock's time minus the run start; VFW_E_NO_CLOCK without a clock.
    virtual HRESULT StreamTime(REFERENCE_TIME& time);
    virtual int GetPinCount() = 0;
    // The pin at index, without a reference, or null past the last.
    virtual CBasePin* GetPin(int index) = 0;
    // Changes whenever the set of pins changes, so that enumerators notice.
    virtual LONG GetPinVersion() { return m_PinVersion; }
    void IncrementPinVersion() { InterlockedIncrement(&m_PinVersion); }

    // Posts an event to the graph (EC_COMPLETE names this filter in its second parameter).
    HRESULT NotifyEvent(long code, LONG_PTR param1, LONG_PTR param2);

    bool IsActive();
    bool IsStopped();
    CCritSec* StateLock() const { return m_pLock; }
    IFilterGraph* GetFilterGraph() const { return m_pGraph; }

  protected:
    FILTER_STATE m_State = State_Stopped;
    IReferenceClock* m_pClock = nullptr; // counted reference
    REFERENCE_TIME m_tStart = 0;
    CLSID m_clsid;
    CCritSec* m_pLock;
    // The graph and its event sink are not counted: the graph owns the filter.
    IFilterGraph* m_pGraph = nullptr;
    IMediaEventSink* m_pSink = nullptr;
    wchar_t* m_pName = nullptr;
    volatile LONG m_PinVersion = 1;
};

} // namespace korvane
