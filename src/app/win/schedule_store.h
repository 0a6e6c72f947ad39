#pragma once

#include "app/schedule.h"

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace korvane {

// The program's schedule: "programmation.xml" beside config.ini, read once at start and
// rewritten (through a temporary file moved over it) after every change. Main thread only.

// Posted to the main window and to every watcher after any change of the schedules (added,
// replaced, removed, or a state the scheduler wrote) and whenever what runs or comes next
// changes (the tooltip's text, scheduleStatusText()). No parameters.
inline constexpr UINT kSchedulesChangedMessage = WM_USER + 13;

// The working directory followed by "\programmation.xml".
std::wstring scheduleFilePath();

// Reads the file into the store (once, at start). A missing file is an empty schedule; a
// file that cannot be read is renamed aside ("programmation.xml.illisible", then
// "programmation.xml.illisible (2)"..., never over another file) and the user told, and the
// schedule starts empty.
void loadSchedules();

// The schedules as they are, in the order they were added, each with its id.
const ScheduledRecordings& schedules();
// The UTC time the scheduler last looked at the schedules (0: never), as the file keeps it.
FileTime lastScheduleCheck();

// How a change came out. Applied: the store holds it and the file was written.
// Conflict: refused, nothing changed; conflict names the schedule in the way (another
// multiplex at an overlapping time). WriteFailed: the file could not be written (the user
// was told, once for a run of failures); the change is kept in memory. NotFound: no schedule
// has the id. Invalid: checkSchedule found a problem, or the store is full.
enum class ScheduleChangeOutcome { Applied, Conflict, WriteFailed, NotFound, Invalid };
struct ScheduleChangeResult {
    ScheduleChangeOutcome outcome = ScheduleChangeOutcome::Applied;
    uint32_t id = 0;                             // the schedule added or replaced
    std::optional<ScheduledRecording> conflict;  // with Conflict only
    std::optional<ScheduleConflict> occurrences; // with Conflict: the colliding occurrences
    bool accepted() const {
        return outcome == ScheduleChangeOutcome::Applied ||
               outcome == ScheduleChangeOutcome::WriteFailed;
    }
};

// The French text naming a conflict, for the dialogs: "Cet enregistrement chevauche celui
// de <chaîne> le <jour> de <début> à <fin>, sur un autre multiplex."
std::wstring scheduleConflictText(const ScheduleChangeResult& refused);

// A schedule's day as the user reads it ("07/12/2026"), and an instant as the local clock's
// hour and minute ("20:45", "--:--" when the clock cannot say).
std::wstring localDayText(const DateTime& day);
std::wstring localClockText(FileTime utc);

// Adds a schedule (its id is given by the store; the one passed is ignored), Pending.
ScheduleChangeResult addSchedule(const ScheduledRecording& schedule);
// Puts schedule in the place of the one with id (the id is kept, the state set Pending). A
// schedule replaced while it records stops recording (its file is complete); the new times
// are then armed.
ScheduleChangeResult replaceSchedule(uint32_t id, const ScheduledRecording& schedule);
// Removing a schedule that records stops that recording (its file is complete).
ScheduleChangeResult removeSchedule(uint32_t id);

// For the scheduler: what became of an occurrence (setOccurrenceState) and the occurrences
// found missed, each written to the file and told to the watchers (false when no schedule
// has the id); the time it last looked, written when save says so.
bool recordScheduleOutcome(uint32_t id, const ScheduleOccurrence& occurrence, ScheduleState state);
void recordMissedSchedules(const std::vector<MissedSchedule>& missed, FileTime checkedAt);
void recordScheduleCheck(FileTime checkedAt, bool save);
// Empties the store (tests, and a new start in the same process).
void resetSchedules();

// Windows that also get kSchedulesChangedMessage (a dialog listing the schedules, the
// notification area's owner). Remove before the window goes.
void addScheduleWatcher(HWND window);
void removeScheduleWatcher(HWND window);

} // namespace korvane
