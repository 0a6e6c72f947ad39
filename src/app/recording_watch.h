#pragma once

#include <cstdint>
#include <string>

namespace korvane {

// How long a recording may go without data before the user is told.
inline constexpr uint64_t kNoDataDelayMs = 5000;

// Whether a recording started at startTick has waited too long for data: the last buffer
// (lastDataTick, 0 before any) or the start, whichever is later, lies kNoDataDelayMs or more
// before now. Ticks are milliseconds of one monotonic clock.
bool recordingStarved(uint64_t now, uint64_t startTick, uint64_t lastDataTick);

// The French text a stop shows when the destination did not keep up; empty when nothing
// was lost. Sizes in megabytes (10^6 bytes) with one decimal, or in bytes below 0.1 MB.
std::u16string lostDataText(uint64_t lostBytes);

} // namespace korvane
