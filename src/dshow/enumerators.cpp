#include "dshow/enumerators.h"

#include "dshow/base_filter.h"
#include "dshow/base_pin.h"

#include <new>

namespace korvane {

CEnumPins::CEnumPins(CBaseFilter* filter, const CEnumPins* toCopy)
    : CUnknown(L"Pin enumerator", nullptr), filter_(filter),
      position_(toCopy ? toCopy->position_ : 0),
      version_(toCopy ? toCopy->version_ : filter->GetPinVersion()) {
    filter_->AddRef();
}

CEnumPins::~CEnumPins() {
    filter_->Release();
}

HRESULT STDMETHODCALLTYPE CEnumPins::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (riid == IID_IEnumPins)
        return GetInterface(static_cast<IEnumPins*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

bool CEnumPins::outOfSync() const {
    return version_ != filter_->GetPinVersion();
}

HRESULT STDMETHODCALLTYPE CEnumPins::Next(ULONG count, IPin** pins, ULONG* fetched) {
    if (!pins)
        return E_POINTER;
    if (fetched)
        *fetched = 0;
    else if (count > 1)
        return E_INVALIDARG;
    if (outOfSync())
        return VFW_E_ENUM_OUT_OF_SYNC;
    ULONG done = 0;
    int total = filter_->GetPinCount();
    while (done < count && position_ < total) {
        CBasePin* pin = filter_->GetPin(position_++);
        if (!pin)
            break;
        pins[done] = pin;
        pin->AddRef();
        ++done;
    }
    if (fetched)
        *fetched = done;
    return done == count ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE CEnumPins::Skip(ULONG count) {
    if (outOfSync())
        return VFW_E_ENUM_OUT_OF_SYNC;
    int left = filter_->GetPinCount() - position_;
    if (static_cast<ULONG>(left < 0 ? 0 : left) < count)
        return S_FALSE;
    position_ += static_cast<int>(count);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CEnumPins::Reset() {
    version_ = filter_->GetPinVersion();
    position_ = 0;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CEnumPins::Clone(IEnumPins** ppEnum) {
    if (!ppEnum)
        return E_POINTER;
    if (outOfSync())
        return VFW_E_ENUM_OUT_OF_SYNC;
    *ppEnum = new (std::nothrow) CEnumPins(filter_, this);
    if (!*ppEnum)
        return E_OUTOFMEMORY;
    (*ppEnum)->AddRef();
    return S_OK;
}

CEnumMediaTypes::CEnumMediaTypes(CBasePin* pin, const CEnumMediaTypes* toCopy)
    : CUnknown(L"Media type enumerator", nullptr), pin_(pin),
      position_(toCopy ? toCopy->position_ : 0),
      version_(toCopy ? toCopy->version_ : pin->GetMediaTypeVersion()) {
    pin_->AddRef();
}

CEnumMediaTypes::~CEnumMediaTypes() {
    pin_->Release();
}

HRESULT STDMETHODCALLTYPE CEnumMediaTypes::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (riid == IID_IEnumMediaTypes)
        return GetInterface(static_cast<IEnumMediaTypes*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

bool CEnumMediaTypes::outOfSync() const {
    return version_ != pin_->GetMediaTypeVersion();
}

HRESULT STDMETHODCALLTYPE CEnumMediaTypes::Next(ULONG count, AM_MEDIA_TYPE** types,
                                                ULONG* fetched) {
    if (!types)
        return E_POINTER;
    if (fetched)
        *fetched = 0;
    else if (count > 1)
        return E_INVALIDARG;
    if (outOfSync())
        return VFW_E_ENUM_OUT_OF_SYNC;
    ULONG done = 0;
    while (done < count) {
        CMediaType type;
        if (pin_->GetMediaType(position_, &type) != S_OK)
            break;
        AM_MEDIA_TYPE* copy = CreateMediaType(&type);
        if (!copy)
            break;
        ++position_;
        types[done++] = copy;
    }
    if (fetched)
        *fetched = done;
    return done == count ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE CEnumMediaTypes::Skip(ULONG count) {
    if (outOfSync())
        return VFW_E_ENUM_OUT_OF_SYNC;
    while (count > 0) {
        CMediaType type;
        if (pin_->GetMediaType(position_, &type) != S_OK)
            return S_FALSE;
        ++position_;
        --count;
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CEnumMediaTypes::Reset() {
    version_ = pin_->GetMediaTypeVersion();
    position_ = 0;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CEnumMediaTypes::Clone(IEnumMediaTypes** ppEnum) {
    if (!ppEnum)
        return E_POINTER;
    if (outOfSync())
        return VFW_E_ENUM_OUT_OF_SYNC;
    *ppEnum = new (std::nothrow) CEnumMediaTypes(pin_, this);
    if (!*ppEnum)
        return E_OUTOFMEMORY;
    (*ppEnum)->AddRef();
    return S_OK;
}

} // namespace korvane
