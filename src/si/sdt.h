#pragma once

#include "channels/channel_list.h"
#include "common/fixed_text.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace korvane {

// One service entry of an SDT section with the names of its first service descriptor; a name
// whose length runs past that descriptor stays empty, as does every name without one.
struct SdtEntry {
    int32_t sid = 0;
    FixedText<256> provider;
    FixedText<256> name;
};

// What an SDT section announces. An entry or descriptor reaching past the section ends the
// list there: the services before it are kept.
struct SdtTable {
    int32_t tsid = 0;
    int32_t onid = 0;
    std::vector<SdtEntry> services;
};

SdtTable parseSdt(const uint8_t* section, std::size_t length);

// Appends one record per service, with the multiplex identifiers and the frequency being
// scanned (kHz), under the list's lock.
void applySdt(ChannelList& list, const SdtTable& table, int32_t frequency);

// Parse then apply, as the scan reads each SDT.
void decodeSdt(ChannelList& list, const uint8_t* section, std::size_t length, int32_t frequency);

} // namespace korvane
