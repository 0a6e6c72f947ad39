#pragma once

#include "app/schedule.h"

#include <windows.h>

#include <optional>

namespace korvane {

// "Programmer un enregistrement" (dialog 110): channel, date, start and end, format and
// repeat. OK checks the entry and hands it to the schedule store; a refused entry (a wrong
// entry, or a conflict with a schedule on another multiplex) is told in a box over the
// dialog, which stays open.

// What the dialog opens with and what it does on OK.
struct ScheduleEntryRequest {
    ScheduledRecording schedule;
    // Editing: the id of the schedule the entry replaces; nothing for a new one.
    std::optional<uint32_t> replacing;
};

INT_PTR CALLBACK ScheduleEntryDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// A new schedule on the channel being watched, today, from the next minute for an hour, as a
// channel transport stream. Returns IDOK when a schedule was stored.
INT_PTR showScheduleEntryDialog(HWND owner);
// The dialog on a schedule of the store; IDOK when it was replaced.
INT_PTR editScheduleDialog(HWND owner, const ScheduledRecording& schedule);

// "Programmation" (dialog 111): the schedules (channel, day, start, end, format, repeat,
// state), "Modifier...", "Supprimer" and "Fermer"; it follows the store's changes while open.
INT_PTR CALLBACK ScheduleListDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
void showScheduleListDialog(HWND owner);

// The UTC time the dialogs and the guide judge an entry by (a single recording already over
// is refused); the system's clock unless a test sets its own (null puts the system's back).
using UtcNowSource = FileTime (*)();
void setScheduleEntryClock(UtcNowSource now);
FileTime scheduleEntryNow();

// A refusal told over a dialog (error icon, the system's caption), so that the dialog is
// the one the box blocks.
void showDialogError(HWND dialog, const wchar_t* text);

} // namespace korvane
