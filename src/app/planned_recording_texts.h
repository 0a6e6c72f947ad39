#pragma once

#include "app/schedule.h"
#include "common/time_convert.h"

#include <string>
#include <string_view>

namespace korvane {

// The French texts the scheduling dialogs show for a schedule, in UTF-8. The channel's name
// is the 8-bit broadcast text and is shown as such.

// Formats as the recording commands name them: "Multiplex", "Chaine en TS", "Chaine en PS".
std::string_view recordingFormatText(RecorderMode format);
// "Une fois", "Tous les jours", "Chaque semaine".
std::string_view repeatText(ScheduleRepeat repeat);
// "Programmé", "En cours", "Terminé", "Manqué", "Non enregistré", "Échec".
std::string_view scheduleStateText(ScheduleState state);
// Seconds into the day as "HH:MM", with ":SS" when the seconds are not 0.
std::string clockText(int secondOfDay);
// A local day as "mar. 08/12/2026"; the day's abbreviation from the calendar.
std::string dayText(const DateTime& date);

// The cells of one row of the "Programmation" list after the channel's name.
struct PlannedRowTexts {
    std::string day;
    std::string start;
    std::string end;
    std::string format;
    std::string repeat; // a weekly schedule lists its days: "Chaque semaine : lun. mer."
    std::string state;
};
PlannedRowTexts plannedRowTexts(const ScheduledRecording& schedule);

// What is wrong with a schedule typed in the dialog, as a sentence; empty when it can be
// kept. Beyond the model's checks, an end equal to the start (a day long or nothing, the
// user cannot have meant either) is refused, and so is a single recording whose time has
// already passed at now.
std::string scheduleEntryProblem(const ScheduledRecording& schedule, FileTime now,
                                 const TimeConverter& clock);

// When a schedule records next, for the guide's confirmation: "le <jour> de <début> à <fin>",
// the times with their margins, from the next occurrence at now; from the schedule's own
// day and times when it has none.
std::string nextOccurrenceText(const ScheduledRecording& schedule, FileTime now,
                               const TimeConverter& clock);

} // namespace korvane
