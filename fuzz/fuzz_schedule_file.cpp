#include "app/schedule_file.h"

#include <cstdlib>

using namespace korvane;

// Whatever the reader accepts must be a set of valid schedules that survives a write and a
// read back unchanged, and that the occurrence rules can walk without fault.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    ScheduleFile file;
    if (parseScheduleFile(text, file) != ScheduleFileError::None)
        return 0;
    for (const auto& s : file.schedules)
        if (checkSchedule(s) != ScheduleProblem::None)
            std::abort();
    ScheduleFile back;
    if (parseScheduleFile(formatScheduleFile(file), back) != ScheduleFileError::None ||
        !(back == file))
        std::abort();

    static const RuleTimeConverter clock = RuleTimeConverter::centralEuropean();
    const FileTime now = file.lastCheck ? file.lastCheck : *fileTimeFromDateTime({2026, 3, 28});
    if (file.schedules.size() > 8)
        file.schedules.resize(8);
    for (const auto& s : file.schedules) {
        const auto next = nextDueOccurrence(s, now, clock);
        if (next && next->end <= next->start)
            std::abort();
        findScheduleConflict(s, file.schedules, now, clock);
    }
    findMissedSchedules(file.schedules, now, now + FileTime{40} * 86'400 * 10'000'000, clock);
    return 0;
}
