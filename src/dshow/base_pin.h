#pragma once

#include "dshow/base_filter.h"
#include "dshow/media_type.h"
#include "dshow/sync.h"
#include "dshow/unknown.h"

#include "dshow/platform.h"

namespace korvane {

// Base of every pin: IPin with the connection protocol and media-type negotiation.
//
// A pin is not a COM object of its own: its references are the filter's, so the filter
// lives as long as any of its pins is held. m_pLock is the filter's state lock; it guards
// m_Connected, m_mt and the stream segment. Connection and disconnection need the filter
// stopped.
class CBasePin : public CUnknown, public IPin, public IQualityControl {
  public:
    CBasePin(const wchar_t* objectName, CBaseFilter* filter, CCritSec* lock, HRESULT* phr,
             const wchar_t* pinName, PIN_DIRECTION dir);
    ~CBasePin() override;

    DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE NonDelegatingAddRef() override;
    ULONG STDMETHODCALLTYPE NonDelegatingRelease() override;

    // IPin
    HRESULT STDMETHODCALLTYPE Connect(IPin* receivePin, const AM_MEDIA_TYPE* pmt) override;
    HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* pmt) override;
    HRESULT STDMETHODCALLTYPE Disconnect() override;
    HRESULT STDMETHODCALLTYPE ConnectedTo(IPin** pin) override;
    HRESULT STDMETHODCALLTYPE ConnectionMediaType(AM_MEDIA_TYPE* pmt) override;
    HRESULT STDMETHODCALLTYPE QueryPinInfo(PIN_INFO* info) override;
    HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION* dir) override;
    HRESULT STDMETHODCALLTYPE QueryId(LPWSTR* id) override;
    HRESULT STDMETHODCALLTYPE QueryAccept(const AM_MEDIA_TYPE* pmt) override;
    HRESULT STDMETHODCALLTYPE EnumMediaTypes(IEnumMediaTypes** ppEnum) override;
    HRESULT STDMETHODCALLTYPE QueryInternalConnections(IPin** pins, ULONG* count) override;
    HRESULT STDMETHODCALLTYPE EndOfStream() override;
    HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop,
                                         double rate) override;
    // IQualityControl
    HRESULT STDMETHODCALLTYPE Notify(IBaseFilter* sender, Quality q) override;
    HRESULT STDMETHODCALLTYPE SetSink(IQualityControl* sink) override;

    // Media-type negotiation, overridden by concrete pins.
    virtual HRESULT CheckMediaType(const CMediaType* pmt) = 0;
    virtual HRESULT SetMediaType(const CMediaType* pmt);
    virtual HRESULT CheckConnect(IPin* pin);
    virtual HRESULT BreakConnect();
    virtual HRESULT CompleteConnect(IPin* receivePin);
    // The pin's preferred types in order: S_OK, VFW_S_NO_MORE_ITEMS past the last,
    // E_INVALIDARG for a negative position.
    virtual HRESULT GetMediaType(int position, CMediaType* pmt);
    virtual LONG GetMediaTypeVersion() { return m_TypeVersion; }
    void IncrementTypeVersion() { InterlockedIncrement(&m_TypeVersion); }

    // State changes of the owning filter, called under its state lock.
    virtual HRESULT Active() { return S_OK; }
    virtual HRESULT Inactive() { return S_OK; }
    virtual HRESULT Run(REFERENCE_TIME) { return S_OK; }

    bool IsConnected() const { return m_Connected != nullptr; }
    IPin* GetConnected() const { return m_Connected; }
    const CMediaType& CurrentMediaType() const { return m_mt; }
    const wchar_t* Name() const { return m_pName; }
    bool IsStopped() const;

  protected:
    HRESULT DisconnectInternal();
    virtual HRESULT AgreeMediaType(IPin* receivePin, const CMediaType* pmt);
    virtual HRESULT AttemptConnection(IPin* receivePin, const CMediaType* pmt);
    virtual HRESULT TryMediaTypes(IPin* receivePin, const CMediaType* pmt, IEnumMediaTypes* types);

    wchar_t* m_pName;
    IPin* m_Connected = nullptr; // counted reference to the peer
    PIN_DIRECTION m_dir;
    CCritSec* m_pLock;
    bool m_bRunTimeError = false;
    bool m_bCanReconnectWhenActive = false;
    bool m_bTryMyTypesFirst = false;
    CBaseFilter* m_pFilter;
    IQualityControl* m_pQSink = nullptr; // not counted, as the quality protocol asks
    volatile LONG m_TypeVersion = 1;
    CMediaType m_mt;
    REFERENCE_TIME m_tStart = 0;
    REFERENCE_TIME m_tStop = MAXLONGLONG;
    double m_dRate = 1.0;
};

// An output pin that delivers samples through the input pin's IMemInputPin, with the
// allocator agreed at connection (the input pin's own, else a CLSID_MemoryAllocator).
// The allocator is committed while the filter is active.
class CBaseOutputPin : public CBasePin {
  public:
    CBaseOutputPin(const wchar_t* objectName, CBaseFilter* filter, CCritSec* lock, HRESULT* phr,
                   const wchar_t* pinName);
    ~CBaseOutputPin() override;

    HRESULT STDMETHODCALLTYPE EndOfStream() override { return E_UNEXPECTED; }
    HRESULT STDMETHODCALLTYPE BeginFlush() override { return E_UNEXPECTED; }
    HRESULT STDMETHODCALLTYPE EndFlush() override { return E_UNEXPECTED; }

    HRESULT CheckConnect(IPin* pin) override;
    HRESULT BreakConnect() override;
    HRESULT CompleteConnect(IPin* receivePin) override;
    HRESULT Active() override;
    HRESULT Inactive() override;

    virtual HRESULT DecideAllocator(IMemInputPin* pin, IMemAllocator** ppAlloc);
    // Sets the buffer count and size on the chosen allocator.
    virtual HRESULT DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* request) = 0;
    virtual HRESULT GetDeliveryBuffer(IMediaSample** ppSample, REFERENCE_TIME* start,
                                      REFERENCE_TIME* stop, DWORD flags);
    virtual HRESULT Deliver(IMediaSample* sample);
    virtual HRESULT InitAllocator(IMemAllocator** ppAlloc);
    virtual HRESULT DeliverEndOfStream();
    virtual HRESULT DeliverBeginFlush();
    virtual HRESULT DeliverEndFlush();
    virtual HRESULT DeliverNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate);

  protected:
    IMemAllocator* m_pAllocator = nullptr; // counted
    IMemInputPin* m_pInputPin = nullptr;   // counted, the peer's IMemInputPin
};

// An input pin that receives samples (IMemInputPin). Receive checks the streaming state;
// derived pins render or pass the sample on after it. m_bFlushing is written under the
// filter's state lock and read by the streaming thread.
class CBaseInputPin : public CBasePin, public IMemInputPin {
  public:
    CBaseInputPin(const wchar_t* objectName, CBaseFilter* filter, CCritSec* lock, HRESULT* phr,
                  const wchar_t* pinName);
    ~CBaseInputPin() override;

    DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // IPin
    HRESULT STDMETHODCALLTYPE BeginFlush() override;
    HRESULT STDMETHODCALLTYPE EndFlush() override;
    // IMemInputPin
    HRESULT STDMETHODCALLTYPE GetAllocator(IMemAllocator** ppAlloc) override;
    HRESULT STDMETHODCALLTYPE NotifyAllocator(IMemAllocator* alloc, BOOL readOnly) override;
    HRESULT STDMETHODCALLTYPE GetAllocatorRequirements(ALLOCATOR_PROPERTIES* props) override;
    HRESULT STDMETHODCALLTYPE Receive(IMediaSample* sample) override;
    HRESULT STDMETHODCALLTYPE ReceiveMultiple(IMediaSample** samples, long count,
                                              long* processed) override;
    HRESULT STDMETHODCALLTYPE ReceiveCanBlock() override { return S_OK; }

    HRESULT BreakConnect() override;
    HRESULT Inactive() override;
    // S_OK while samples may flow; S_FALSE while flushing; an error when stopped or broken.
    virtual HRESULT CheckStreaming();
    bool IsFlushing() const { return m_bFlushing; }
    bool IsReadOnly() const { return m_bReadOnly; }

  protected:
    IMemAllocator* m_pAllocator = nullptr; // counted
    bool m_bReadOnly = false;
    volatile bool m_bFlushing = false;
};

} // namespace korvane
