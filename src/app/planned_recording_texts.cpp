#include "app/planned_recording_texts.h"

#include <cstdio>

namespace korvane {

namespace {

constexpr std::string_view kDayNames[] = {"dim.", "lun.", "mar.", "mer.", "jeu.", "ven.", "sam."};
// Monday first, as the weekday bits.
constexpr std::string_view kWeekdayNames[] = {"lun.", "mar.", "mer.", "jeu.",
                                              "ven.", "sam.", "dim."};

std::string twoDigits(int value) {
    char text[8];
    std::snprintf(text, sizeof text, "%02d", value);
    return text;
}

std::string weekdaysText(uint8_t weekdays) {
    std::string text;
    for (int day = 0; day < 7; ++day) {
        if (!(weekdays & (1 << day)))
            continue;
        if (!text.empty())
            text += ' ';
        text += kWeekdayNames[day];
    }
    return text;
}

int secondOfDay(const DateTime& local) {
    return local.hour * 3600 + local.minute * 60 + local.second;
}

} // namespace

std::string_view recordingFormatText(RecorderMode format) {
    switch (format) {
    case RecorderMode::Multiplex:
        return "Multiplex";
    case RecorderMode::ChannelTs:
        return "Chaine en TS";
    case RecorderMode::ChannelPs:
        return "Chaine en PS";
    }
    return "";
}

std::string_view repeatText(ScheduleRepeat repeat) {
    switch (repeat) {
    case ScheduleRepeat::Once:
        return "Une fois";
    case ScheduleRepeat::Daily:
        return "Tous les jours";
    case ScheduleRepeat::Weekly:
        return "Chaque semaine";
    }
    return "";
}

std::string_view scheduleStateText(ScheduleState state) {
    switch (state) {
    case ScheduleState::Pending:
        return "Programmé";
    case ScheduleState::Recording:
        return "En cours";
    case ScheduleState::Done:
        return "Terminé";
    case ScheduleState::Missed:
        return "Manqué";
    case ScheduleState::Skipped:
        return "Non enregistré";
    case ScheduleState::Failed:
        return "Échec";
    }
    return "";
}

std::string clockText(int second) {
    if (second < 0 || second >= 86400)
        return "";
    std::string text = twoDigits(second / 3600) + ":" + twoDigits(second / 60 % 60);
    if (second % 60)
        text += ":" + twoDigits(second % 60);
    return text;
}

std::string dayText(const DateTime& date) {
    DateTime day = date;
    day.hour = day.minute = day.second = 0;
    if (!isValidDateTime(day))
        return "";
    return std::string(kDayNames[dayOfWeek(date.year, date.month, date.day)]) + " " +
           twoDigits(date.day) + "/" + twoDigits(date.month) + "/" + std::to_string(date.year);
}

PlannedRowTexts plannedRowTexts(const ScheduledRecording& schedule) {
    PlannedRowTexts row;
    row.day = dayText(schedule.date);
    row.start = clockText(schedule.startSecond);
    row.end = clockText(schedule.endSecond);
    row.format = recordingFormatText(schedule.format);
    row.repeat = repeatText(schedule.repeat);
    if (schedule.repeat == ScheduleRepeat::Weekly)
        row.repeat += " : " + weekdaysText(schedule.weekdays);
    row.state = scheduleStateText(schedule.state);
    return row;
}

std::string scheduleEntryProblem(const ScheduledRecording& schedule, FileTime now,
                                 const TimeConverter& clock) {
    switch (checkSchedule(schedule)) {
    case ScheduleProblem::None:
        break;
    case ScheduleProblem::BadDate:
        return "La date n'est pas valide.";
    case ScheduleProblem::BadTime:
        return "L'heure de début ou de fin n'est pas valide.";
    case ScheduleProblem::NoWeekday:
        return "Choisissez au moins un jour de la semaine.";
    case ScheduleProblem::BadMargin:
        return "Les marges doivent être comprises entre 0 et 240 minutes.";
    case ScheduleProblem::BadChannel:
        return "Choisissez une chaîne.";
    case ScheduleProblem::BadFormat:
        return "Le format d'enregistrement n'est pas valide.";
    }
    if (schedule.startSecond == schedule.endSecond)
        return "L'heure de fin doit être différente de l'heure de début.";
    if (schedule.repeat == ScheduleRepeat::Once) {
        const auto occurrence = occurrenceOnDay(schedule, schedule.date, clock);
        if (!occurrence)
            return "La date n'est pas valide.";
        if (occurrence->end <= now)
            return "L'heure de fin de cet enregistrement est déjà passée.";
    }
    return "";
}

std::string nextOccurrenceText(const ScheduledRecording& schedule, FileTime now,
                               const TimeConverter& clock) {
    const auto occurrence = nextOccurrence(schedule, now, clock);
    const auto start = occurrence ? clock.fileTimeToLocal(occurrence->start) : std::nullopt;
    const auto end = occurrence ? clock.fileTimeToLocal(occurrence->end) : std::nullopt;
    if (start && end)
        return "le " + dayText(*start) + " de " + clockText(secondOfDay(*start)) + " à " +
               clockText(secondOfDay(*end));
    return "le " + dayText(schedule.date) + " de " + clockText(schedule.startSecond) + " à " +
           clockText(schedule.endSecond);
}

} // namespace korvane
