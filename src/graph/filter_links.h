#pragma once

// Filters added to mediaGraph() and connected pin to pin.

#include "dshow/com_ptr.h"
#include "dshow/platform.h"

namespace korvane {

// A new in-process object of the class added to the graph under name; empty when it could
// not be created or added (nothing is reported).
ComPtr<IBaseFilter> addFilterByClsid(REFCLSID clsid, const wchar_t* name);
// The filter's first pin of that direction, in EnumPins order.
ComPtr<IPin> findPin(IBaseFilter* filter, PIN_DIRECTION direction);
// ConnectDirect from the upstream filter's first output to the downstream one's first input,
// with no media type; a missing pin fails.
HRESULT connectFilters(IBaseFilter* upstream, IBaseFilter* downstream);
// The same from a given output pin; a missing pin fails.
HRESULT connectToInput(IPin* output, IBaseFilter* downstream);

} // namespace korvane
