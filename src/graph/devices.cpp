#include "graph/devices.h"

#include "dshow/media_type.h"
#include "graph/platform_guids.h"

#include <optional>

namespace korvane {

namespace {

// Filters of that merit or lower are left out of the decoder lists.
constexpr DWORD kDecoderMinimumMerit = MERIT_DO_NOT_USE + 1;

// Clears a VARIANT when it goes out of scope.
struct Variant {
    VARIANT value;
    Variant() { VariantInit(&value); }
    ~Variant() { VariantClear(&value); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
};

// The device's "FriendlyName", with its exact length.
std::optional<std::wstring> friendlyName(IMoniker* moniker) {
    ComPtr<IPropertyBag> bag;
    if (FAILED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.putVoid())) || !bag)
        return std::nullopt;
    Variant name;
    if (FAILED(bag->Read(L"FriendlyName", &name.value, nullptr)) || name.value.vt != VT_BSTR ||
        !name.value.bstrVal)
        return std::nullopt;
    return std::wstring(name.value.bstrVal, SysStringLen(name.value.bstrVal));
}

ComPtr<IBaseFilter> bindFilter(IMoniker* moniker) {
    ComPtr<IBaseFilter> filter;
    if (FAILED(moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, filter.putVoid())))
        return {};
    return filter;
}

// The devices of a category; empty when the category cannot be enumerated or has none.
ComPtr<IEnumMoniker> deviceMonikers(const GUID& category) {
    ComPtr<ICreateDevEnum> devices;
    if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                                IID_ICreateDevEnum, devices.putVoid())))
        return {};
    ComPtr<IEnumMoniker> monikers;
    if (devices->CreateClassEnumerator(category, monikers.put(), 0) != S_OK)
        return {};
    return monikers;
}

// The registered filters that take {major, subtype} on an input and have an output.
ComPtr<IEnumMoniker> decoderMonikers(const GUID& major, const GUID& subtype, bool exactMatch) {
    ComPtr<IFilterMapper2> mapper;
    if (FAILED(CoCreateInstance(CLSID_FilterMapper2, nullptr,
                                CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER, IID_IFilterMapper2,
                                mapper.putVoid())))
        return {};
    GUID types[2] = {major, subtype};
    ComPtr<IEnumMoniker> monikers;
    if (FAILED(mapper->EnumMatchingFilters(monikers.put(), 0, exactMatch, kDecoderMinimumMerit,
                                           TRUE, 1, types, nullptr, nullptr, FALSE, TRUE, 0,
                                           nullptr, nullptr, nullptr)))
        return {};
    return monikers;
}

// Calls visit with each moniker in order until it returns false.
template <class Visit> void forEachMoniker(IEnumMoniker* monikers, Visit visit) {
    if (!monikers)
        return;
    for (;;) {
        ComPtr<IMoniker> moniker;
        if (monikers->Next(1, moniker.put(), nullptr) != S_OK || !moniker)
            return;
        if (!visit(moniker.get()))
            return;
    }
}

ComPtr<IBaseFilter> bindFirstNamed(IEnumMoniker* monikers, const std::wstring& name) {
    ComPtr<IBaseFilter> found;
    forEachMoniker(monikers, [&](IMoniker* moniker) {
        std::optional<std::wstring> friendly = friendlyName(moniker);
        if (friendly && *friendly == name)
            found = bindFilter(moniker);
        return !found;
    });
    return found;
}

TransportKind transportOfType(const AM_MEDIA_TYPE& type) {
    if (type.majortype != MEDIATYPE_Stream)
        return TransportKind::None;
    if (type.subtype == MEDIASUBTYPE_MPEG2_TRANSPORT)
        return TransportKind::Mpeg2Transport;
    if (type.subtype == kSubtypeBdaMpeg2Transport)
        return TransportKind::BdaTransport;
    return TransportKind::None;
}

TransportKind transportOfPin(IPin* pin) {
    PIN_DIRECTION direction;
    if (FAILED(pin->QueryDirection(&direction)) || direction != PINDIR_OUTPUT)
        return TransportKind::None;
    ComPtr<IEnumMediaTypes> types;
    if (FAILED(pin->EnumMediaTypes(types.put())) || !types)
        return TransportKind::None;
    TransportKind kind = TransportKind::None;
    while (kind == TransportKind::None) {
        AM_MEDIA_TYPE* type = nullptr;
        if (types->Next(1, &type, nullptr) != S_OK || !type)
            break;
        kind = transportOfType(*type);
        DeleteMediaType(type);
    }
    return kind;
}

void addComboText(HWND dialog, int controlId, const std::wstring& text) {
    SendDlgItemMessageW(dialog, controlId, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

} // namespace

TransportKind classifyTransport(IBaseFilter* filter) {
    if (!filter)
        return TransportKind::None;
    ComPtr<IEnumPins> pins;
    if (FAILED(filter->EnumPins(pins.put())) || !pins)
        return TransportKind::None;
    TransportKind kind = TransportKind::None;
    while (kind == TransportKind::None) {
        ComPtr<IPin> pin;
        if (pins->Next(1, pin.put(), nullptr) != S_OK || !pin)
            break;
        kind = transportOfPin(pin.get());
    }
    return kind;
}

ComPtr<IBaseFilter> findDeviceByName(const GUID& category, const std::wstring& name) {
    ComPtr<IEnumMoniker> monikers = deviceMonikers(category);
    return bindFirstNamed(monikers.get(), name);
}

ComPtr<IBaseFilter> findCodecByName(const GUID& major, const GUID& subtype,
                                    const std::wstring& name, bool exactMatch) {
    ComPtr<IEnumMoniker> monikers = decoderMonikers(major, subtype, exactMatch);
    return bindFirstNamed(monikers.get(), name);
}

std::vector<NamedFilter> findCodecs(const GUID& major, const GUID& subtype, bool exactMatch) {
    std::vector<NamedFilter> codecs;
    ComPtr<IEnumMoniker> monikers = decoderMonikers(major, subtype, exactMatch);
    forEachMoniker(monikers.get(), [&](IMoniker* moniker) {
        std::optional<std::wstring> name = friendlyName(moniker);
        if (ComPtr<IBaseFilter> filter = name ? bindFilter(moniker) : ComPtr<IBaseFilter>{})
            codecs.push_back({*name, filter});
        return true;
    });
    return codecs;
}

int fillDeviceCombo(const GUID& category, HWND dialog, int controlId) {
    ComPtr<IEnumMoniker> monikers = deviceMonikers(category);
    if (!monikers)
        return 1;
    forEachMoniker(monikers.get(), [&](IMoniker* moniker) {
        // Every device is made to see what its outputs offer.
        ComPtr<IBaseFilter> filter = bindFilter(moniker);
        if (filter && classifyTransport(filter.get()) != TransportKind::None)
            if (std::optional<std::wstring> name = friendlyName(moniker))
                addComboText(dialog, controlId, *name);
        return true;
    });
    return 0;
}

void fillCodecCombo(const GUID& major, const GUID& subtype, HWND dialog, int controlId,
                    bool exactMatch) {
    ComPtr<IEnumMoniker> monikers = decoderMonikers(major, subtype, exactMatch);
    forEachMoniker(monikers.get(), [&](IMoniker* moniker) {
        if (std::optional<std::wstring> name = friendlyName(moniker))
            addComboText(dialog, controlId, *name);
        return true;
    });
}

bool selectDevices(const std::wstring& tunerName, const std::wstring& receiverName,
                   MediaGraph& graph) {
    graph.tuner = findDeviceByName(kCategoryNetworkTuner, tunerName);
    switch (classifyTransport(graph.tuner.get())) {
    case TransportKind::BdaTransport:
        return true;
    case TransportKind::Mpeg2Transport:
        graph.receiver = findDeviceByName(kCategoryReceiverComponent, receiverName);
        if (classifyTransport(graph.receiver.get()) == TransportKind::BdaTransport)
            return true;
        break;
    case TransportKind::None:
        break;
    }
    graph.tuner.reset();
    graph.receiver.reset();
    return false;
}

} // namespace korvane
