#pragma once

#include "dshow/unknown.h"

#include "dshow/platform.h"

namespace korvane {

class CBaseFilter;
class CBasePin;

// Enumerates a filter's pins; holds a reference to the filter. When the filter's pin set
// changes (its pin version moves), Next and Skip answer VFW_E_ENUM_OUT_OF_SYNC until Reset.
class CEnumPins : public CUnknown, public IEnumPins {
  public:
    CEnumPins(CBaseFilter* filter, const CEnumPins* toCopy);
    ~CEnumPins() override;

    DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    HRESULT STDMETHODCALLTYPE Next(ULONG count, IPin** pins, ULONG* fetched) override;
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override;
    HRESULT STDMETHODCALLTYPE Reset() override;
    HRESULT STDMETHODCALLTYPE Clone(IEnumPins** ppEnum) override;

  private:
    bool outOfSync() const;

    CBaseFilter* filter_;
    int position_ = 0;
    LONG version_;
};

// Enumerates a pin's preferred media types through its GetMediaType; holds a reference to
// the pin (that is, to its filter). Types are handed out in CoTaskMem memory.
class CEnumMediaTypes : public CUnknown, public IEnumMediaTypes {
  public:
    CEnumMediaTypes(CBasePin* pin, const CEnumMediaTypes* toCopy);
    ~CEnumMediaTypes() override;

    DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    HRESULT STDMETHODCALLTYPE Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) override;
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override;
    HRESULT STDMETHODCALLTYPE Reset() override;
    HRESULT STDMETHODCALLTYPE Clone(IEnumMediaTypes** ppEnum) override;

  private:
    bool outOfSync() const;

    CBasePin* pin_;
    int position_ = 0;
    LONG version_;
};

} // namespace korvane
