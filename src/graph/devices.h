#pragma once

// Devices and decoders by friendly name: the tuner and receiver categories of the system
// device enumerator, decoders through the filter mapper, and the transport-stream kind a
// device's outputs offer.

#include "dshow/com_ptr.h"
#include "dshow/platform.h"
#include "graph/media_graph.h"

#include <string>
#include <vector>

namespace korvane {

// What a device's output offers. A tuner of kind Mpeg2Transport needs a receiver component
// (which must be of kind BdaTransport); one of kind BdaTransport delivers the stream itself.
enum class TransportKind { None = 0, Mpeg2Transport = 1, BdaTransport = 2 };

// The first output media type of major type Stream with one of the two transport subtypes
// decides; input pins are not looked at. None for no filter.
TransportKind classifyTransport(IBaseFilter* filter);

// The first device of the category whose friendly name equals name exactly (same length,
// same characters, case-sensitive), bound as a filter; empty when there is none.
ComPtr<IBaseFilter> findDeviceByName(const GUID& category, const std::wstring& name);

// The first registered filter that takes {major, subtype} on an input, has an output and a
// merit above MERIT_DO_NOT_USE, and whose friendly name equals name exactly. With exactMatch
// off, filters registered for any type match too.
ComPtr<IBaseFilter> findCodecByName(const GUID& major, const GUID& subtype,
                                    const std::wstring& name, bool exactMatch);

// Every decoder findCodecByName would consider, in the mapper's order, bound, with its
// friendly name.
struct NamedFilter {
    std::wstring name;
    ComPtr<IBaseFilter> filter;
};
std::vector<NamedFilter> findCodecs(const GUID& major, const GUID& subtype, bool exactMatch);

// Adds the friendly name of every device of the category whose outputs offer a transport
// stream to a combo box. 1 when the category cannot be enumerated, else 0.
int fillDeviceCombo(const GUID& category, HWND dialog, int controlId);

// Adds the friendly name of every decoder findCodecByName would consider to a combo box.
void fillCodecCombo(const GUID& major, const GUID& subtype, HWND dialog, int controlId,
                    bool exactMatch);

// The start-up device check: the tuner of that name, and for a tuner that needs one the
// receiver of that name, of kind BdaTransport, into graph.tuner and graph.receiver. False
// (and nothing kept) when they are not all there.
bool selectDevices(const std::wstring& tunerName, const std::wstring& receiverName,
                   MediaGraph& graph);

} // namespace korvane
