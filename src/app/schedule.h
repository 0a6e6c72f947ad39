#pragma once

#include "capture/recorder.h"
#include "channels/channel_list.h"
#include "common/date_time.h"
#include "common/fixed_text.h"
#include "common/time_convert.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace korvane {

enum class ScheduleRepeat : uint8_t { Once, Daily, Weekly };

// Typed in the scheduling dialog, or taken from a guide event (with its title and margins).
enum class ScheduleOrigin : uint8_t { Typed, Guide };

// What became of the last occurrence handled (ScheduledRecording::lastHandled). A repeating
// schedule stays due for its next occurrences whatever its state; a single one is due only
// while Pending or Recording.
enum class ScheduleState : uint8_t { Pending, Recording, Done, Missed, Skipped, Failed };

// Weekday bits of ScheduledRecording::weekdays, Monday first.
inline constexpr uint8_t kMonday = 1 << 0;
inline constexpr uint8_t kTuesday = 1 << 1;
inline constexpr uint8_t kWednesday = 1 << 2;
inline constexpr uint8_t kThursday = 1 << 3;
inline constexpr uint8_t kFriday = 1 << 4;
inline constexpr uint8_t kSaturday = 1 << 5;
inline constexpr uint8_t kSunday = 1 << 6;
inline constexpr uint8_t kEveryWeekday = 0x7F;

// Margins of a schedule taken from the guide, in minutes, unless config.ini says otherwise.
inline constexpr int kDefaultMarginBefore = 2;
inline constexpr int kDefaultMarginAfter = 10;
// Margins accepted in the file and from settings, in minutes.
inline constexpr int kMaxMargin = 240;

// Enough of a channel to find it again in the channel list after a new scan, and to name it.
struct ScheduledChannel {
    FixedText<256> name; // 8-bit text, as ChannelInfo::name
    int32_t onid = 0;
    int32_t tsid = 0;
    int32_t sid = 0;
    int32_t frequency = 0; // kHz: the multiplex, as ChannelInfo::frequency

    friend bool operator==(const ScheduledChannel&, const ScheduledChannel&) = default;
};

ScheduledChannel scheduledChannelOf(const ChannelInfo& channel);

// Index of the list's channel a schedule names: the first with the same ONID, TSID, SID and
// frequency, else the first with the same ONID, TSID and SID (a retuned multiplex); nothing
// when no channel has them.
std::optional<std::size_t> findScheduledChannel(const ChannelRecords& records,
                                                const ScheduledChannel& channel);

struct ScheduledRecording {
    // Unique within the file and kept there, so that edits and the scheduler can name a
    // schedule across runs. 0 until the store gives it one.
    uint32_t id = 0;
    ScheduledChannel channel;
    // Local wall-clock day of the first occurrence (hour, minute, second unused), and the
    // start and end as seconds into the day. An end at or before the start is on the next day.
    DateTime date;
    int startSecond = 0; // 0..86399
    int endSecond = 0;   // 0..86399
    RecorderMode format = RecorderMode::Multiplex;
    ScheduleRepeat repeat = ScheduleRepeat::Once;
    uint8_t weekdays = 0; // Weekly: the days an occurrence starts on (kMonday...)
    ScheduleOrigin origin = ScheduleOrigin::Typed;
    // Guide: the event's title (8-bit text) and the margins (minutes) put around its times.
    FixedText<256> title;
    int marginBefore = 0;
    int marginAfter = 0;
    ScheduleState state = ScheduleState::Pending;
    // UTC start (margins included) of the last occurrence handled, 0 = none yet. Occurrences
    // starting at or before it are never recorded or reported again.
    FileTime lastHandled = 0;

    friend bool operator==(const ScheduledRecording&, const ScheduledRecording&) = default;
};

using ScheduledRecordings = std::vector<ScheduledRecording>;

// What is wrong with a schedule, if anything: the first problem found.
enum class ScheduleProblem : uint8_t {
    None,
    BadDate,    // not a calendar date
    BadTime,    // start or end outside the day
    NoWeekday,  // weekly with no day chosen, or bits beyond Sunday
    BadMargin,  // below 0 or above kMaxMargin
    BadChannel, // no name, or frequency not above 0
    BadFormat,  // format, repeat, origin or state outside their enums
};
ScheduleProblem checkSchedule(const ScheduledRecording& schedule);

// A schedule for one guide event (present or following): its channel, local date and times
// from the event's UTC start and its "HH:MM:SS" end text, its title, the margins given.
// Nothing when the event is empty or its times cannot be read.
std::optional<ScheduledRecording> scheduleFromGuideEvent(const ChannelInfo& channel,
                                                         const EpgEvent& event, RecorderMode format,
                                                         int marginBefore, int marginAfter,
                                                         const TimeConverter& clock);

// One occurrence in UTC, margins included: recording runs over [start, end).
struct ScheduleOccurrence {
    FileTime start = 0;
    FileTime end = 0;
    // Its local day (hour, minute, second unused), to name it in messages.
    DateTime day;

    friend bool operator==(const ScheduleOccurrence&, const ScheduleOccurrence&) = default;
};

// The occurrence that starts on a given local day, whether or not the schedule has one that
// day. Each end is the typed time of its own day, so a clock change in between shortens or
// lengthens it.
std::optional<ScheduleOccurrence> occurrenceOnDay(const ScheduledRecording& schedule,
                                                  const DateTime& day, const TimeConverter& clock);

// The first occurrence that has not ended at time t (it may already be running), ignoring
// the state. Nothing when there is none (a single schedule in the past).
std::optional<ScheduleOccurrence> nextOccurrence(const ScheduledRecording& schedule, FileTime t,
                                                 const TimeConverter& clock);

// The occurrence the scheduler must record next at time now: like nextOccurrence but past
// the last one handled, and nothing for a single schedule that has ended in any state.
std::optional<ScheduleOccurrence> nextDueOccurrence(const ScheduledRecording& schedule,
                                                    FileTime now, const TimeConverter& clock);

// Every occurrence that overlaps [from, to), in order, at most maxCount of them.
std::vector<ScheduleOccurrence> occurrencesBetween(const ScheduledRecording& schedule,
                                                   FileTime from, FileTime to,
                                                   const TimeConverter& clock,
                                                   std::size_t maxCount = 1000);

// How far conflicts are looked for beyond the first occurrence two repeating schedules
// share: long enough for weekly repeats and a clock change.
inline constexpr FileTime kConflictHorizon = FileTime{8} * 7 * 86'400 * 10'000'000;

// The first schedule the candidate collides with: one occurrence of each overlapping on two
// multiplexes (one tuner). Overlaps on one multiplex are allowed (recorded side by side). A
// schedule with the candidate's id is the one being edited and is skipped, as are single
// schedules no longer pending. Only occurrences that end after now count.
struct ScheduleConflict {
    std::size_t index = 0;        // in the list given
    ScheduleOccurrence candidate; // the candidate's colliding occurrence
    ScheduleOccurrence other;     // the other schedule's
};
std::optional<ScheduleConflict> findScheduleConflict(const ScheduledRecording& candidate,
                                                     const ScheduledRecordings& schedules,
                                                     FileTime now, const TimeConverter& clock,
                                                     FileTime horizon = kConflictHorizon);

// The occurrences of one schedule that started at or after lastRun, ended by now and were
// never handled: they passed while the program was not running.
struct MissedSchedule {
    std::size_t index = 0; // in the list given
    std::size_t count = 0;
    ScheduleOccurrence first;
    ScheduleOccurrence last;
};
std::vector<MissedSchedule> findMissedSchedules(const ScheduledRecordings& schedules,
                                                FileTime lastRun, FileTime now,
                                                const TimeConverter& clock);
// Marks each schedule found Missed up to its last missed occurrence (a repeating one stays
// due for its next occurrence).
void markMissed(ScheduledRecordings& schedules, const std::vector<MissedSchedule>& missed);

// Records what became of an occurrence: the state and, for an occurrence that ended
// (anything but Recording), lastHandled = its start.
void setOccurrenceState(ScheduledRecording& schedule, const ScheduleOccurrence& occurrence,
                        ScheduleState state);

// One above the largest id in use (1 for an empty list); 0 when the ids are exhausted.
uint32_t nextScheduleId(const ScheduledRecordings& schedules);

} // namespace korvane
