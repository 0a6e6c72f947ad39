#pragma once

#include <cstdint>

namespace korvane {

// A broken-down calendar date and time (UTC or local, as the caller says).
struct DateTime {
    int year = 0;
    int month = 0; // 1..12
    int day = 0;   // 1..31
    int hour = 0;
    int minute = 0;
    int second = 0;

    friend bool operator==(const DateTime&, const DateTime&) = default;
};

// 100-ns intervals since 1601-01-01 00:00 UTC, the platform's file-time count.
using FileTime = uint64_t;

} // namespace korvane
