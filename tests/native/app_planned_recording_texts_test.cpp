#include "app/planned_recording_texts.h"

#include <gtest/gtest.h>

#include <string>

namespace korvane {
namespace {

ScheduledRecording plan(ScheduleRepeat repeat, int start, int end, uint8_t weekdays = 0) {
    ScheduledRecording s;
    s.id = 1;
    s.channel.name.assign("France 2");
    s.channel.frequency = 586167;
    s.channel.sid = 0x202;
    s.date = DateTime{2026, 12, 8, 0, 0, 0}; // a Tuesday
    s.startSecond = start;
    s.endSecond = end;
    s.format = RecorderMode::ChannelTs;
    s.repeat = repeat;
    s.weekdays = weekdays;
    return s;
}

FileTime utc(int year, int month, int day, int hour, int minute) {
    return *fileTimeFromDateTime({year, month, day, hour, minute, 0});
}

TEST(PlannedRecordingTexts, RowsSayDayTimesFormatRepeatAndState) {
    struct Row {
        ScheduledRecording schedule;
        PlannedRowTexts expected;
    };
    ScheduledRecording weekly =
        plan(ScheduleRepeat::Weekly, 6 * 3600, 6 * 3600 + 1800, kMonday | kWednesday | kSunday);
    weekly.format = RecorderMode::Multiplex;
    weekly.state = ScheduleState::Missed;
    ScheduledRecording night = plan(ScheduleRepeat::Daily, 23 * 3600 + 59 * 60 + 30, 45);
    night.format = RecorderMode::ChannelPs;
    night.state = ScheduleState::Recording;
    night.date = DateTime{2027, 1, 3, 0, 0, 0};
    const Row rows[] = {
        {plan(ScheduleRepeat::Once, 20 * 3600 + 50 * 60, 22 * 3600 + 40 * 60),
         {"mar. 08/12/2026", "20:50", "22:40", "Chaine en TS", "Une fois", "Programmé"}},
        {weekly,
         {"mar. 08/12/2026", "06:00", "06:30", "Multiplex", "Chaque semaine : lun. mer. dim.",
          "Manqué"}},
        {night,
         {"dim. 03/01/2027", "23:59:30", "00:00:45", "Chaine en PS", "Tous les jours", "En cours"}},
    };
    for (const Row& row : rows) {
        const PlannedRowTexts texts = plannedRowTexts(row.schedule);
        SCOPED_TRACE(row.expected.start);
        EXPECT_EQ(texts.day, row.expected.day);
        EXPECT_EQ(texts.start, row.expected.start);
        EXPECT_EQ(texts.end, row.expected.end);
        EXPECT_EQ(texts.format, row.expected.format);
        EXPECT_EQ(texts.repeat, row.expected.repeat);
        EXPECT_EQ(texts.state, row.expected.state);
    }
    // Every state has its word; out-of-day times and impossible days show nothing.
    for (ScheduleState state : {ScheduleState::Done, ScheduleState::Skipped, ScheduleState::Failed})
        EXPECT_FALSE(scheduleStateText(state).empty());
    EXPECT_EQ(clockText(-1), "");
    EXPECT_EQ(clockText(86400), "");
    EXPECT_EQ(dayText(DateTime{2026, 2, 30, 0, 0, 0}), "");
}

TEST(PlannedRecordingTexts, EntriesTheDialogRefuses) {
    // 8 December 2026 at 19:00 UTC, 20:00 on the clock of UTC+1.
    const FixedOffsetTimeConverter clock(60);
    const FileTime now = utc(2026, 12, 8, 19, 0);
    ScheduledRecording noChannel = plan(ScheduleRepeat::Once, 21 * 3600, 22 * 3600);
    noChannel.channel = ScheduledChannel{};
    ScheduledRecording badDate = plan(ScheduleRepeat::Once, 21 * 3600, 22 * 3600);
    badDate.date = DateTime{2026, 2, 30, 0, 0, 0};
    struct Case {
        const char* what;
        ScheduledRecording schedule;
        std::string problem;
    };
    const Case cases[] = {
        {"later today", plan(ScheduleRepeat::Once, 21 * 3600, 22 * 3600), ""},
        {"running now, ends later", plan(ScheduleRepeat::Once, 19 * 3600, 21 * 3600), ""},
        {"across midnight", plan(ScheduleRepeat::Once, 23 * 3600, 3600), ""},
        {"ended an hour ago", plan(ScheduleRepeat::Once, 18 * 3600, 19 * 3600),
         "L'heure de fin de cet enregistrement est déjà passée."},
        {"end equals start", plan(ScheduleRepeat::Once, 21 * 3600, 21 * 3600),
         "L'heure de fin doit être différente de l'heure de début."},
        {"daily from a past day", plan(ScheduleRepeat::Daily, 18 * 3600, 19 * 3600), ""},
        {"weekly without a day", plan(ScheduleRepeat::Weekly, 21 * 3600, 22 * 3600),
         "Choisissez au moins un jour de la semaine."},
        {"weekly on Fridays", plan(ScheduleRepeat::Weekly, 21 * 3600, 22 * 3600, kFriday), ""},
        {"no channel", noChannel, "Choisissez une chaîne."},
        {"no such day", badDate, "La date n'est pas valide."},
        {"time beyond the day", plan(ScheduleRepeat::Once, 21 * 3600, 86400),
         "L'heure de début ou de fin n'est pas valide."},
    };
    for (const Case& c : cases)
        EXPECT_EQ(scheduleEntryProblem(c.schedule, now, clock), c.problem) << c.what;
}

TEST(PlannedRecordingTexts, GuideConfirmationGivesTheTimesWithTheirMargins) {
    const FixedOffsetTimeConverter clock(60);
    ScheduledRecording fromGuide = plan(ScheduleRepeat::Once, 21 * 3600, 22 * 3600 + 30 * 60);
    fromGuide.origin = ScheduleOrigin::Guide;
    fromGuide.marginBefore = 2;
    fromGuide.marginAfter = 10;
    EXPECT_EQ(nextOccurrenceText(fromGuide, utc(2026, 12, 8, 12, 0), clock),
              "le mar. 08/12/2026 de 20:58 à 22:40");
    // Past its end it has no next occurrence: the schedule's own day and times.
    EXPECT_EQ(nextOccurrenceText(fromGuide, utc(2026, 12, 9, 12, 0), clock),
              "le mar. 08/12/2026 de 21:00 à 22:30");
}

} // namespace
} // namespace korvane
