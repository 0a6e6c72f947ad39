#pragma once

#include "app/schedule.h"

#include <windows.h>

#include <cstddef>
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
// file that cannot be read is renamed aside ("programmation.xml.endommage-<date>", never
// over another file) and the user told, and the schedule starts empty.
void loadSchedules();

// The schedules as they are, in the order they were added.
const std::vector<Schedule>& schedules();

// How a change came out. Applied: the store holds it and the file was written.
// Conflict: refused, nothing changed; conflict is the schedule in the way (another
// multiplex at an overlapping time). WriteFailed: the file could not be written (the user
// was told, once for a run of failures); the change is kept in memory. NotFound: the index
// names no schedule.
enum class ScheduleChangeOutcome { Applied, Conflict, WriteFailed, NotFound };
struct ScheduleChangeResult {
    ScheduleChangeOutcome outcome = ScheduleChangeOutcome::Applied;
    std::optional<Schedule> conflict; // with Conflict only
    bool accepted() const {
        return outcome == ScheduleChangeOutcome::Applied ||
               outcome == ScheduleChangeOutcome::WriteFailed;
    }
};

// The French text naming a conflict, for the dialogs: "Cette programmation chevauche celle
// de <chaîne> le <jour> de <début> à <fin>, sur un autre multiplex."
std::wstring scheduleConflictText(const Schedule& conflict);

ScheduleChangeResult addSchedule(const Schedule& schedule);
// index is a position in schedules(); a schedule replaced while it records keeps recording
// to its end.
ScheduleChangeResult replaceSchedule(std::size_t index, const Schedule& schedule);
// Removing a schedule that records stops that recording (its file is complete).
ScheduleChangeResult removeSchedule(std::size_t index);

// Windows that also get kSchedulesChangedMessage (a dialog listing the schedules, the
// notification area's owner). Remove before the window goes.
void addScheduleWatcher(HWND window);
void removeScheduleWatcher(HWND window);

} // namespace korvane
