#pragma once

#include "app/schedule.h"
#include "channels/channel_file.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace korvane {

// The schedule file, beside config.ini in the working directory. A file that cannot be read
// is kept aside under the suffix (an older copy there is replaced) and the user told, so that
// the next save never replaces the schedules with an empty list unseen.
inline constexpr const char* kScheduleFileName = "programmation.xml";
inline constexpr const char* kScheduleFileUnreadableSuffix = ".illisible";
// The one version this reader knows; a file of another version is refused whole.
inline constexpr int kScheduleFileVersion = 1;
// Bounds a file within reason for a hand-kept list, so that a huge or looping file is refused
// before it costs anything.
inline constexpr std::size_t kMaxScheduleFileBytes = 1 << 20;
inline constexpr std::size_t kMaxSchedules = 1000;

struct ScheduleFile {
    ScheduledRecordings schedules;
    // UTC time the program last looked for schedules to record or report (0 = never): the
    // start of the window of missed occurrences at the next start.
    FileTime lastCheck = 0;

    friend bool operator==(const ScheduleFile&, const ScheduleFile&) = default;
};

// The whole file: UTF-8 (pure ASCII in fact: names and titles escaped as in chaines.xml, the
// quote as "&quot;"), CR LF line ends, a root "Programmation" with a version attribute and
// one empty "Enregistrement" element per schedule, its fields as attributes.
std::string formatScheduleFile(const ScheduleFile& file);

enum class ScheduleFileError : uint8_t {
    None,
    TooLarge,       // above kMaxScheduleFileBytes, or more than kMaxSchedules schedules
    NotXml,         // not the file's XML shape: cut short, stray text, unknown entity...
    UnknownVersion, // no version attribute, or one this reader does not know
    BadField,       // a missing or repeated attribute, a bad number, date, time or keyword
    TooLong,        // a name or title beyond 255 bytes
    BadSchedule,    // fields that do not make a schedule (checkSchedule)
    DuplicateId,    // two schedules with one id, or an id of 0
};

// Reads a whole file. On any error out is left untouched: a damaged file is refused as a
// whole, never read as a shorter list. Characters of a hand-edited file that have no byte of
// their own in the 8-bit text go through toAnsi.
ScheduleFileError parseScheduleFile(std::string_view bytes, ScheduleFile& out,
                                    const WideToAnsi& toAnsi = replaceWithQuestionMarks);

} // namespace korvane
