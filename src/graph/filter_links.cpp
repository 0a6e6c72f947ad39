#include "graph/filter_links.h"

#include "graph/media_graph.h"

namespace korvane {

ComPtr<IBaseFilter> addFilterByClsid(REFCLSID clsid, const wchar_t* name) {
    ComPtr<IBaseFilter> filter;
    if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                filter.putVoid())) ||
        !filter)
        return {};
    if (FAILED(mediaGraph().graph->AddFilter(filter.get(), name)))
        return {};
    return filter;
}

ComPtr<IPin> findPin(IBaseFilter* filter, PIN_DIRECTION direction) {
    if (!filter)
        return {};
    ComPtr<IEnumPins> pins;
    if (FAILED(filter->EnumPins(pins.put())) || !pins)
        return {};
    for (;;) {
        ComPtr<IPin> pin;
        if (pins->Next(1, pin.put(), nullptr) != S_OK || !pin)
            return {};
        PIN_DIRECTION found;
        if (SUCCEEDED(pin->QueryDirection(&found)) && found == direction)
            return pin;
    }
}

HRESULT connectFilters(IBaseFilter* upstream, IBaseFilter* downstream) {
    ComPtr<IPin> output = findPin(upstream, PINDIR_OUTPUT);
    ComPtr<IPin> input = findPin(downstream, PINDIR_INPUT);
    if (!output || !input)
        return VFW_E_NOT_FOUND;
    return mediaGraph().graph->ConnectDirect(output.get(), input.get(), nullptr);
}

HRESULT connectToInput(IPin* output, IBaseFilter* downstream) {
    ComPtr<IPin> input = findPin(downstream, PINDIR_INPUT);
    if (!output || !input)
        return VFW_E_NOT_FOUND;
    return mediaGraph().graph->ConnectDirect(output, input.get(), nullptr);
}

} // namespace korvane
