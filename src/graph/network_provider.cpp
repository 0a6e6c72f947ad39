#include "graph/network_provider.h"

#include "graph/platform_guids.h"

namespace korvane {

CPinBidon::CPinBidon(const wchar_t* objectName, HRESULT* phr, CNetworkProvider* filter,
                     const wchar_t* pinName)
    : CSourceStream(objectName, phr, filter, pinName) {}

CPinBidon::~CPinBidon() = default;

HRESULT CPinBidon::FillBuffer(IMediaSample*) {
    return S_OK;
}

HRESULT CPinBidon::CheckMediaType(const CMediaType* pmt) {
    if (!pmt)
        return E_POINTER;
    return *pmt->Type() == kMediaTypeBdaAntenna ? S_OK : E_FAIL;
}

HRESULT CPinBidon::GetMediaType(int position, CMediaType* pmt) {
    if (position < 0)
        return E_INVALIDARG;
    if (position > 0)
        return VFW_S_NO_MORE_ITEMS;
    pmt->InitMediaType();
    pmt->SetType(&kMediaTypeBdaAntenna);
    return S_OK;
}

HRESULT CPinBidon::DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES*) {
    // Nothing is carried, but an allocator that was never given a size cannot be committed
    // and the filter could not leave Stopped: such an allocator gets the smallest one.
    ALLOCATOR_PROPERTIES current{};
    if (SUCCEEDED(alloc->GetProperties(&current)) && current.cBuffers > 0 && current.cbBuffer > 0)
        return S_OK;
    ALLOCATOR_PROPERTIES smallest{1, 1, 1, 0};
    ALLOCATOR_PROPERTIES actual{};
    alloc->SetProperties(&smallest, &actual);
    return S_OK;
}

CNetworkProvider::CNetworkProvider(IUnknown*, HRESULT* phr, REFCLSID clsid)
    : CSource(L"Mon network provider", nullptr, clsid, phr),
      pin(new CPinBidon(L"pin bidon", phr, this, L"Pipin")) {}

CNetworkProvider::~CNetworkProvider() {
    delete pin;
}

} // namespace korvane
