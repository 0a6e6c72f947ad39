// PSI/SI sections of a scenario, built with libdvbpsi's generators so that they are
// independent of the program's own decoders.
#pragma once

#include "scenario.h"

#include <cstdint>
#include <vector>

namespace muxgen {

using Section = std::vector<uint8_t>;

std::vector<Section> build_pat(const MuxSpec& mux);
std::vector<Section> build_pmt(const ServiceSpec& service, size_t phase, uint8_t version);
std::vector<Section> build_sdt(const Scenario& scenario, const MuxSpec& mux);
// NIT actual: every multiplex of the scenario with its logical channel numbers, as sent at
// t seconds into the file (before or after the scenario's renumbering).
std::vector<Section> build_nit(const Scenario& scenario, double t = 0);

// The guide event of `service` that runs at `utc` (seconds since 1970), and the next one.
struct EventTiming {
    size_t index = 0;  // into service.events
    int64_t start = 0; // seconds since 1970
    uint16_t event_id = 0;
};
bool event_at(const Scenario& scenario, const ServiceSpec& service, int64_t utc,
              EventTiming& present, EventTiming& following);

// EIT present/following: section 0 holds the present event, section 1 the following one.
std::vector<Section> build_eit_pf(const Scenario& scenario, const MuxSpec& mux,
                                  const ServiceSpec& service, bool actual, int64_t utc,
                                  uint8_t version);

// A private section (table 0x80) carrying `payload`, for data services.
Section build_private_section(uint16_t extension, uint8_t version,
                              const std::vector<uint8_t>& payload);

uint32_t crc32_mpeg2(const uint8_t* data, size_t length);

} // namespace muxgen
