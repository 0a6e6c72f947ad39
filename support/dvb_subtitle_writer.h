#pragma once

// Builders of DVB subtitle streams for tests, seeds and tools: segments, the PES data field
// that carries them, and the PES packet around it. Fields are written as a broadcaster does;
// nothing is checked, so that tests can also build what is broken.

#include <cstdint>
#include <optional>
#include <vector>

namespace korvane::dvbsub {

using Bytes = std::vector<uint8_t>;

struct RegionPlacement {
    uint8_t regionId;
    int x;
    int y;
};

struct ObjectPlacement {
    uint16_t objectId;
    int x;
    int y;
};

// One CLUT entry in full range: Y, Cr, Cb and T (0 = opaque), for the depths in `depths`
// (0x80 2-bit, 0x40 4-bit, 0x20 8-bit).
struct ClutEntry {
    uint8_t id;
    uint8_t depths;
    uint8_t y;
    uint8_t cr;
    uint8_t cb;
    uint8_t t;
};

Bytes segment(uint8_t type, uint16_t page, const Bytes& body);
Bytes displayDefinition(uint16_t page, uint8_t version, int width, int height);
// state: 0 normal case, 1 acquisition point, 2 mode change.
Bytes pageComposition(uint16_t page, uint8_t timeoutSeconds, uint8_t version, uint8_t state,
                      const std::vector<RegionPlacement>& regions);
// A region filled with colour 0, of `bits` per pixel (2, 4 or 8), using CLUT clutId.
Bytes regionComposition(uint16_t page, uint8_t regionId, uint8_t version, int width, int height,
                        int bits, uint8_t clutId, const std::vector<ObjectPlacement>& objects);
Bytes clutDefinition(uint16_t page, uint8_t clutId, uint8_t version,
                     const std::vector<ClutEntry>& entries);
// A bitmap object of `bits` per pixel (2, 4 or 8), rows of `width` palette indices; even rows
// go to the top field, odd rows to the bottom field.
Bytes objectData(uint16_t page, uint16_t objectId, uint8_t version, int bits, int width,
                 const Bytes& pixels);
Bytes endOfDisplaySet(uint16_t page);

// data_identifier, subtitle_stream_id, the segments, the end marker.
Bytes dataField(const std::vector<Bytes>& segments);
// A private_stream_1 PES packet around a data field, with a PTS when one is given.
Bytes pesPacket(const Bytes& dataField, std::optional<int64_t> pts);

} // namespace korvane::dvbsub
