#pragma once

// The receiver component that goes with the virtual PCI tuner: it takes the tuner's
// MPEG-2 transport output and passes every buffer on as a BDA transport stream.

#include "dshow/base_filter.h"
#include "dshow/base_pin.h"
#include "testbed_guids.h"

#include <memory>

namespace korvane::testbed {

class ReceiverFilter;

class ReceiverInputPin : public CBaseInputPin {
  public:
    ReceiverInputPin(ReceiverFilter* filter, CCritSec* lock, HRESULT* phr);
    HRESULT CheckMediaType(const CMediaType* pmt) override;
    HRESULT STDMETHODCALLTYPE Receive(IMediaSample* sample) override;
    HRESULT STDMETHODCALLTYPE EndOfStream() override;
    HRESULT STDMETHODCALLTYPE BeginFlush() override;
    HRESULT STDMETHODCALLTYPE EndFlush() override;

  private:
    ReceiverFilter* receiver_;
};

class ReceiverOutputPin : public CBaseOutputPin {
  public:
    ReceiverOutputPin(ReceiverFilter* filter, CCritSec* lock, HRESULT* phr);
    HRESULT CheckMediaType(const CMediaType* pmt) override;
    HRESULT GetMediaType(int position, CMediaType* pmt) override;
    HRESULT DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* request) override;
};

class ReceiverFilter : public CBaseFilter {
  public:
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* phr);
    ~ReceiverFilter() override;
    int GetPinCount() override { return 2; }
    CBasePin* GetPin(int index) override;
    ReceiverOutputPin* Output() { return output_.get(); }

  private:
    ReceiverFilter(IUnknown* outer, HRESULT* phr);
    CCritSec lock_;
    std::unique_ptr<ReceiverInputPin> input_;
    std::unique_ptr<ReceiverOutputPin> output_;
};

} // namespace korvane::testbed
