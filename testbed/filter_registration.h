#pragma once

#include "dshow/platform.h"

#include <span>

namespace korvane::testbed {

// Registers a filter of one input and one output pin, each with its media types, in a
// category of the filter mapper.
inline HRESULT registerTwoPinFilter(IFilterMapper2* mapper, const CLSID& clsid, const wchar_t* name,
                                    const GUID* category, const wchar_t* instance, DWORD merit,
                                    const wchar_t* inputName, std::span<const REGPINTYPES> inputs,
                                    const wchar_t* outputName,
                                    std::span<const REGPINTYPES> outputs) {
    REGFILTERPINS pins[2] = {};
    pins[0].strName = const_cast<LPWSTR>(inputName);
    pins[0].nMediaTypes = UINT(inputs.size());
    pins[0].lpMediaType = inputs.data();
    pins[1].strName = const_cast<LPWSTR>(outputName);
    pins[1].bOutput = TRUE;
    pins[1].nMediaTypes = UINT(outputs.size());
    pins[1].lpMediaType = outputs.data();
    REGFILTER2 filter = {};
    filter.dwVersion = 1;
    filter.dwMerit = merit;
    filter.cPins = 2;
    filter.rgPins = pins;
    return mapper->RegisterFilter(clsid, name, nullptr, category, instance, &filter);
}

} // namespace korvane::testbed
