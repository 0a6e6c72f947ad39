#pragma once

#include "capture/recorder.h"

#include <windows.h>

#include <cstdint>
#include <string>

namespace korvane {

// Runs the schedules: at an occurrence's start it tunes the channel (a live zap is stopped,
// never a recording the user runs on another multiplex: the occurrence is then skipped and
// said so), records in the schedule's format to the video folder under the usual name, and
// stops at the end. Occurrences on one multiplex that overlap record side by side. While
// schedules are pending, a waitable timer wakes the machine shortly before the next start;
// while any recording runs, the system is asked not to sleep. Main thread only.

// Main window timers: the next start, the next end, and the re-arm after a resume or a
// clock change (left a moment for the system to settle).
inline constexpr UINT_PTR kScheduleStartTimer = 135;
inline constexpr UINT_PTR kScheduleEndTimer = 136;
inline constexpr UINT_PTR kScheduleRearmTimer = 137;

// Posted when the scheduler has something to tell in an error box (a missed or failed
// occurrence): the box is shown from the main window's handler, outside the scheduler's work.
inline constexpr UINT kScheduleNoticeMessage = WM_USER + 14;
void onScheduleNotice();

// After the channels are open: the occurrences that passed while the program was closed are
// marked missed (and the user told once, in French), then the timers are armed.
void startScheduler();
// At shutdown, before the graph goes: stops the scheduled recordings (files complete),
// cancels the timers and the wake-up, and releases the system.
void stopScheduler();

// Computes the next start and end again from the schedules (after any change, a resume, a
// clock or time zone change) and sets the timers and the wake-up.
void rearmScheduler();

// The main window's WM_TIMER for kScheduleStartTimer ... kScheduleRearmTimer; false for any
// other id.
bool onSchedulerTimer(UINT_PTR id);
// WM_POWERBROADCAST (PBT_APMRESUMEAUTOMATIC, PBT_APMRESUMESUSPEND) and WM_TIMECHANGE.
void onPowerBroadcast(WPARAM event);
void onTimeChange();

// What the tooltip says: the scheduled recordings running ("Enregistrement en cours : <chaîne>
// jusqu'à <heure>"), else the next start ("Prochain enregistrement : <chaîne> le <jour> à
// <heure>"), else "Aucun enregistrement programmé".
std::wstring scheduleStatusText();

// True while a scheduled recording runs (the manual recording commands stay available: the
// one a user starts runs beside it).
bool scheduledRecordingRunning();

// A recording started or ended (the user's or a scheduled one): the system is asked not to
// sleep while any runs, and released after.
void recordingsChanged();
// The user chose a channel on another multiplex and agreed to stop what records: the
// scheduled recordings end now (files complete), their occurrences marked failed.
void stopScheduledRecordings();
// The schedule is being edited or removed: its running recording, if any, ends now (its file
// complete) and its occurrence is marked done.
void stopScheduledOccurrence(uint32_t scheduleId);
// Why the schedule's last occurrence failed or was skipped, in French; empty when it did
// not (or the program has been restarted since).
std::wstring scheduleOutcomeReason(uint32_t scheduleId);

// The recorder of a scheduled recording lost its file: the recording stops, the schedule is
// marked failed with the reason, and the user told.
void scheduledRecordingFailed(uint32_t generation, RecordingFailure failure);

} // namespace korvane
