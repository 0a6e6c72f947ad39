#pragma once

#include "dshow/source.h"

namespace korvane {

class CNetworkProvider;

// The provider's only output: it offers the BDA antenna type so that a tuner's antenna input
// can be connected, and carries nothing.
class CPinBidon : public CSourceStream {
  public:
    CPinBidon(const wchar_t* objectName, HRESULT* phr, CNetworkProvider* filter,
              const wchar_t* pinName);
    ~CPinBidon() override;

  protected:
    // Leaves the sample as it is.
    HRESULT FillBuffer(IMediaSample* sample) override;
    // Any type whose major type is the BDA antenna, whatever its subtype and format.
    HRESULT CheckMediaType(const CMediaType* pmt) override;
    // Exactly one type: the BDA antenna major type, the other fields empty.
    HRESULT GetMediaType(int position, CMediaType* pmt) override;
    HRESULT DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* request) override;
};

// The minimal network provider at the head of the graph: a source filter with one CPinBidon.
// It exposes no BDA network-provider interface; the program tunes the tuner itself.
class CNetworkProvider : public CSource {
  public:
    CNetworkProvider(IUnknown* outer, HRESULT* phr, REFCLSID clsid);
    ~CNetworkProvider() override;

    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int index) override { return index == 0 ? pin : nullptr; }

  private:
    CPinBidon* pin;
};

} // namespace korvane
