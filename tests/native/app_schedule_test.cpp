#include "app/schedule.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace korvane;

namespace {

constexpr FileTime kMinute = 60 * FileTime{10'000'000};

FileTime utc(int y, int mo, int d, int h, int mi) {
    return *fileTimeFromDateTime({y, mo, d, h, mi, 0});
}

// A schedule on a multiplex, times written hhmm (2055 = 20:55).
ScheduledRecording make(int frequency, DateTime date, int start, int end,
                        ScheduleRepeat repeat = ScheduleRepeat::Once, uint8_t weekdays = 0) {
    ScheduledRecording s;
    s.channel.name.assign("Chaine " + std::to_string(frequency));
    s.channel.frequency = frequency;
    s.date = date;
    s.startSecond = start / 100 * 3600 + start % 100 * 60;
    s.endSecond = end / 100 * 3600 + end % 100 * 60;
    s.repeat = repeat;
    s.weekdays = weekdays;
    return s;
}

ScheduledRecording fromGuide(ScheduledRecording s, int before, int after) {
    s.origin = ScheduleOrigin::Guide;
    s.marginBefore = before;
    s.marginAfter = after;
    return s;
}

struct Span {
    FileTime start;
    FileTime end;
};

std::vector<Span> spans(const std::vector<ScheduleOccurrence>& occurrences) {
    std::vector<Span> out;
    for (const auto& o : occurrences)
        out.push_back({o.start, o.end});
    return out;
}

bool operator==(const Span& a, const Span& b) {
    return a.start == b.start && a.end == b.end;
}

std::ostream& operator<<(std::ostream& os, const Span& s) {
    const auto a = *dateTimeFromFileTime(s.start);
    const auto b = *dateTimeFromFileTime(s.end);
    return os << a.month << "-" << a.day << " " << a.hour << ":" << a.minute << " to " << b.month
              << "-" << b.day << " " << b.hour << ":" << b.minute << " UTC";
}

const FixedOffsetTimeConverter kParis{60};
const RuleTimeConverter kCet = RuleTimeConverter::centralEuropean();

} // namespace

// Occurrences of each repeat, across month and year ends, with margins, and across both
// clock changes: each starts at the typed time of its own day.
TEST(Schedule, OccurrencesInAWindow) {
    const uint8_t monFri = kMonday | kFriday;
    struct Case {
        const char* what;
        const TimeConverter& clock;
        ScheduledRecording schedule;
        FileTime from;
        FileTime to;
        std::vector<Span> expected;
    };
    const Case cases[] = {
        {"once", kParis, make(1, {2026, 12, 24}, 2055, 2240), utc(2026, 12, 1, 0, 0),
         utc(2027, 1, 1, 0, 0), {{utc(2026, 12, 24, 19, 55), utc(2026, 12, 24, 21, 40)}}},
        {"once outside the window", kParis, make(1, {2026, 12, 24}, 2055, 2240),
         utc(2026, 12, 24, 21, 40), utc(2027, 1, 1, 0, 0), {}},
        {"an end before the start is the next day", kParis, make(1, {2026, 12, 31}, 2330, 100),
         utc(2026, 12, 1, 0, 0), utc(2027, 1, 2, 0, 0),
         {{utc(2026, 12, 31, 22, 30), utc(2027, 1, 1, 0, 0)}}},
        {"an end equal to the start lasts a day", kParis, make(1, {2026, 6, 1}, 800, 800),
         utc(2026, 6, 1, 0, 0), utc(2026, 6, 3, 0, 0),
         {{utc(2026, 6, 1, 7, 0), utc(2026, 6, 2, 7, 0)}}},
        {"daily across a month end", kParis,
         make(1, {2026, 1, 30}, 2100, 2200, ScheduleRepeat::Daily), utc(2026, 1, 20, 0, 0),
         utc(2026, 2, 1, 20, 30),
         {{utc(2026, 1, 30, 20, 0), utc(2026, 1, 30, 21, 0)},
          {utc(2026, 1, 31, 20, 0), utc(2026, 1, 31, 21, 0)},
          {utc(2026, 2, 1, 20, 0), utc(2026, 2, 1, 21, 0)}}},
        {"daily across a year end, past midnight", kParis,
         make(1, {2026, 12, 30}, 2330, 30, ScheduleRepeat::Daily), utc(2026, 12, 30, 23, 0),
         utc(2027, 1, 1, 23, 0),
         {{utc(2026, 12, 30, 22, 30), utc(2026, 12, 30, 23, 30)},
          {utc(2026, 12, 31, 22, 30), utc(2026, 12, 31, 23, 30)},
          {utc(2027, 1, 1, 22, 30), utc(2027, 1, 1, 23, 30)}}},
        {"daily over a leap day", kParis, make(1, {2028, 2, 28}, 1200, 1300, ScheduleRepeat::Daily),
         utc(2028, 2, 28, 0, 0), utc(2028, 3, 1, 0, 0),
         {{utc(2028, 2, 28, 11, 0), utc(2028, 2, 28, 12, 0)},
          {utc(2028, 2, 29, 11, 0), utc(2028, 2, 29, 12, 0)}}},
        {"weekly on Monday and Friday from a Tuesday", kParis,
         make(1, {2026, 12, 1}, 2000, 2100, ScheduleRepeat::Weekly, monFri),
         utc(2026, 11, 1, 0, 0), utc(2026, 12, 12, 0, 0),
         {{utc(2026, 12, 4, 19, 0), utc(2026, 12, 4, 20, 0)},
          {utc(2026, 12, 7, 19, 0), utc(2026, 12, 7, 20, 0)},
          {utc(2026, 12, 11, 19, 0), utc(2026, 12, 11, 20, 0)}}},
        {"guide margins", kParis, fromGuide(make(1, {2026, 12, 24}, 2050, 2235), 2, 10),
         utc(2026, 12, 24, 0, 0), utc(2026, 12, 25, 0, 0),
         {{utc(2026, 12, 24, 19, 48), utc(2026, 12, 24, 21, 45)}}},
        {"typed times take no margin", kParis,
         [] {
             auto s = make(1, {2026, 12, 24}, 2050, 2235);
             s.marginBefore = 5;
             return s;
         }(),
         utc(2026, 12, 24, 0, 0), utc(2026, 12, 25, 0, 0),
         {{utc(2026, 12, 24, 19, 50), utc(2026, 12, 24, 21, 35)}}},
        {"daily evening across the spring change", kCet,
         make(1, {2026, 3, 28}, 2000, 2100, ScheduleRepeat::Daily), utc(2026, 3, 28, 0, 0),
         utc(2026, 3, 30, 0, 0),
         {{utc(2026, 3, 28, 19, 0), utc(2026, 3, 28, 20, 0)},
          {utc(2026, 3, 29, 18, 0), utc(2026, 3, 29, 19, 0)}}},
        {"weekly on Sunday night across the spring gap", kCet,
         make(1, {2026, 3, 22}, 230, 330, ScheduleRepeat::Weekly, kSunday), utc(2026, 3, 21, 0, 0),
         utc(2026, 4, 6, 0, 0),
         {{utc(2026, 3, 22, 1, 30), utc(2026, 3, 22, 2, 30)},
          {utc(2026, 3, 29, 1, 0), utc(2026, 3, 29, 1, 30)},
          {utc(2026, 4, 5, 0, 30), utc(2026, 4, 5, 1, 30)}}},
        {"weekly on Sunday night across the autumn repeat", kCet,
         make(1, {2026, 10, 18}, 230, 330, ScheduleRepeat::Weekly, kSunday),
         utc(2026, 10, 17, 0, 0), utc(2026, 11, 2, 0, 0),
         {{utc(2026, 10, 18, 0, 30), utc(2026, 10, 18, 1, 30)},
          {utc(2026, 10, 25, 0, 30), utc(2026, 10, 25, 2, 30)},
          {utc(2026, 11, 1, 1, 30), utc(2026, 11, 1, 2, 30)}}},
        {"wholly inside the skipped hour: no occurrence that day", kCet,
         make(1, {2026, 3, 22}, 210, 250, ScheduleRepeat::Weekly, kSunday),
         utc(2026, 3, 21, 0, 0), utc(2026, 4, 6, 0, 0),
         {{utc(2026, 3, 22, 1, 10), utc(2026, 3, 22, 1, 50)},
          {utc(2026, 4, 5, 0, 10), utc(2026, 4, 5, 0, 50)}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(checkSchedule(c.schedule), ScheduleProblem::None);
        EXPECT_EQ(spans(occurrencesBetween(c.schedule, c.from, c.to, c.clock)), c.expected);
    }
}

// What the scheduler records next: a running occurrence first, nothing handled twice, and
// nothing for a single schedule that has ended in any state.
TEST(Schedule, NextDueOccurrence) {
    auto daily = make(1, {2026, 12, 1}, 2000, 2100, ScheduleRepeat::Daily);
    auto handled = daily;
    handled.lastHandled = utc(2026, 12, 10, 19, 0);
    auto once = make(1, {2026, 12, 24}, 2055, 2240);
    auto done = once;
    done.state = ScheduleState::Done;
    auto failed = once;
    failed.state = ScheduleState::Failed;
    auto recording = once;
    recording.state = ScheduleState::Recording;
    auto weekly = make(1, {2027, 1, 1}, 2000, 2100, ScheduleRepeat::Weekly, kWednesday);
    struct Case {
        const char* what;
        const ScheduledRecording& schedule;
        FileTime now;
        std::optional<FileTime> start;
    };
    const Case cases[] = {
        {"before today's", daily, utc(2026, 12, 10, 12, 0), utc(2026, 12, 10, 19, 0)},
        {"today's is running", daily, utc(2026, 12, 10, 19, 30), utc(2026, 12, 10, 19, 0)},
        {"today's was handled", handled, utc(2026, 12, 10, 19, 30), utc(2026, 12, 11, 19, 0)},
        {"today's has ended", daily, utc(2026, 12, 10, 20, 0), utc(2026, 12, 11, 19, 0)},
        {"not before its first day", daily, utc(2026, 11, 1, 0, 0), utc(2026, 12, 1, 19, 0)},
        {"a single one ahead", once, utc(2026, 12, 1, 0, 0), utc(2026, 12, 24, 19, 55)},
        {"a single one past", once, utc(2026, 12, 24, 21, 40), std::nullopt},
        {"a single one done", done, utc(2026, 12, 1, 0, 0), std::nullopt},
        {"a single one failed", failed, utc(2026, 12, 1, 0, 0), std::nullopt},
        {"a single one resumed", recording, utc(2026, 12, 24, 21, 0), utc(2026, 12, 24, 19, 55)},
        {"weekly, the first chosen day from its date", weekly, utc(2026, 12, 1, 0, 0),
         utc(2027, 1, 6, 19, 0)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto next = nextDueOccurrence(c.schedule, c.now, kParis);
        ASSERT_EQ(next.has_value(), c.start.has_value());
        if (next)
            EXPECT_EQ(next->start, *c.start);
    }
}

// Two multiplexes cannot be recorded at once; one multiplex can, side by side.
TEST(Schedule, ConflictsAreFoundOnOtherMultiplexesOnly) {
    const FileTime now = utc(2026, 12, 1, 12, 0);
    const auto daily = ScheduleRepeat::Daily;
    const auto weekly = ScheduleRepeat::Weekly;
    auto done = make(2, {2026, 12, 24}, 2100, 2200);
    done.state = ScheduleState::Done;
    auto edited = make(2, {2026, 12, 24}, 2100, 2200);
    edited.id = 7;
    auto candidateEdited = make(1, {2026, 12, 24}, 2100, 2200);
    candidateEdited.id = 7;
    struct Case {
        const char* what;
        ScheduledRecording candidate;
        ScheduledRecordings others;
        std::optional<std::size_t> conflict;
        FileTime otherStart = 0; // the colliding occurrence of the other schedule
    };
    const Case cases[] = {
        {"overlap on another multiplex",
         make(1, {2026, 12, 24}, 2055, 2240),
         {make(2, {2026, 12, 24}, 2200, 2300)},
         0,
         utc(2026, 12, 24, 21, 0)},
        {"overlap on the same multiplex",
         make(1, {2026, 12, 24}, 2055, 2240),
         {make(1, {2026, 12, 24}, 2200, 2300)},
         std::nullopt},
        {"one ends as the other starts",
         make(1, {2026, 12, 24}, 2055, 2200),
         {make(2, {2026, 12, 24}, 2200, 2300)},
         std::nullopt},
        {"a margin makes the overlap",
         fromGuide(make(1, {2026, 12, 24}, 2055, 2155), 2, 10),
         {make(2, {2026, 12, 24}, 2200, 2300)},
         0,
         utc(2026, 12, 24, 21, 0)},
        {"a daily one meets a single one",
         make(1, {2026, 12, 24}, 2055, 2240),
         {make(2, {2026, 12, 2}, 2230, 2330, daily)},
         0,
         utc(2026, 12, 24, 21, 30)},
        {"a daily candidate meets a single one weeks ahead",
         make(1, {2026, 12, 2}, 2230, 2330, daily),
         {make(2, {2027, 3, 3}, 2300, 2359)},
         0,
         utc(2027, 3, 3, 22, 0)},
        {"weekly on different days",
         make(1, {2026, 12, 1}, 2000, 2100, weekly, kMonday),
         {make(2, {2026, 12, 1}, 2000, 2100, weekly, kTuesday)},
         std::nullopt},
        {"weekly on one day",
         make(1, {2026, 12, 1}, 2000, 2100, weekly, kMonday),
         {make(2, {2026, 12, 1}, 2030, 2130, weekly, kMonday | kThursday)},
         0,
         utc(2026, 12, 7, 19, 30)},
        {"a weekly one that starts months later",
         make(1, {2026, 12, 1}, 2000, 2100, daily),
         {make(2, {2027, 6, 1}, 2030, 2130, weekly, kSaturday)},
         0,
         utc(2027, 6, 5, 19, 30)},
        {"past midnight into the next day's",
         make(1, {2026, 12, 1}, 2330, 30, weekly, kFriday),
         {make(2, {2026, 12, 1}, 15, 100, weekly, kSaturday)},
         0,
         utc(2026, 12, 4, 23, 15)},
        {"a single one already done", make(1, {2026, 12, 24}, 2100, 2200), {done}, std::nullopt},
        {"the schedule being edited", candidateEdited, {edited}, std::nullopt},
        {"the earliest collision is named",
         make(1, {2026, 12, 2}, 2000, 2100, daily),
         {make(3, {2026, 12, 20}, 2000, 2100), make(2, {2026, 12, 5}, 2000, 2100)},
         1,
         utc(2026, 12, 5, 19, 0)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto conflict = findScheduleConflict(c.candidate, c.others, now, kParis);
        ASSERT_EQ(conflict.has_value(), c.conflict.has_value());
        if (!conflict)
            continue;
        EXPECT_EQ(conflict->index, *c.conflict);
        EXPECT_EQ(conflict->other.start, c.otherStart);
        EXPECT_LT(conflict->candidate.start, conflict->other.end);
        EXPECT_LT(conflict->other.start, conflict->candidate.end);
    }
}

// Occurrences that passed while the program was closed are reported once, then never again.
TEST(Schedule, MissedWhileClosed) {
    const FileTime lastRun = utc(2026, 12, 10, 12, 0);
    const FileTime now = utc(2026, 12, 13, 19, 30);
    auto handledDaily = make(1, {2026, 12, 1}, 2000, 2100, ScheduleRepeat::Daily);
    handledDaily.lastHandled = utc(2026, 12, 10, 19, 0);
    auto done = make(1, {2026, 12, 11}, 2000, 2100);
    done.state = ScheduleState::Done;
    struct Case {
        const char* what;
        ScheduledRecording schedule;
        std::size_t count;
        FileTime first = 0;
        FileTime last = 0;
    };
    const Case cases[] = {
        {"a single one while closed", make(1, {2026, 12, 11}, 2000, 2100), 1,
         utc(2026, 12, 11, 19, 0), utc(2026, 12, 11, 19, 0)},
        {"a single one before the last run", make(1, {2026, 12, 9}, 2000, 2100), 0},
        {"a single one running now", make(1, {2026, 12, 13}, 2000, 2100), 0},
        {"a single one done", done, 0},
        {"daily: three days, today's still running",
         make(1, {2026, 12, 1}, 2000, 2100, ScheduleRepeat::Daily), 3, utc(2026, 12, 10, 19, 0),
         utc(2026, 12, 12, 19, 0)},
        {"daily, the first already handled", handledDaily, 2, utc(2026, 12, 11, 19, 0),
         utc(2026, 12, 12, 19, 0)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScheduledRecordings list = {c.schedule};
        const auto missed = findMissedSchedules(list, lastRun, now, kParis);
        ASSERT_EQ(missed.size(), c.count ? 1u : 0u);
        if (missed.empty())
            continue;
        EXPECT_EQ(missed[0].count, c.count);
        EXPECT_EQ(missed[0].first.start, c.first);
        EXPECT_EQ(missed[0].last.start, c.last);
        markMissed(list, missed);
        EXPECT_EQ(list[0].state, ScheduleState::Missed);
        EXPECT_TRUE(findMissedSchedules(list, lastRun, now, kParis).empty());
        // A repeating schedule stays due: today's occurrence, still running, comes next.
        if (c.schedule.repeat == ScheduleRepeat::Daily)
            EXPECT_EQ(nextDueOccurrence(list[0], now, kParis)->start, utc(2026, 12, 13, 19, 0));
    }
}

TEST(Schedule, FromGuideEventsAndChecks) {
    ChannelInfo channel;
    channel.name.assign("France 2");
    channel.frequency = 586166;
    channel.onid = 8442;
    channel.tsid = 1;
    channel.sid = 257;
    const auto event = [](FileTime start, const char* end) {
        EpgEvent e;
        e.startTime = start;
        e.endText.assign(end);
        e.title.assign("Le film");
        return e;
    };
    const auto s = scheduleFromGuideEvent(channel, event(utc(2026, 12, 24, 19, 50), "22:35:00"),
                                          RecorderMode::ChannelTs, 2, 10, kParis);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->date, (DateTime{2026, 12, 24, 0, 0, 0}));
    EXPECT_EQ(s->startSecond, 20 * 3600 + 50 * 60);
    EXPECT_EQ(s->endSecond, 22 * 3600 + 35 * 60);
    EXPECT_EQ(s->title, "Le film");
    EXPECT_EQ(s->channel, scheduledChannelOf(channel));
    EXPECT_EQ(nextOccurrence(*s, 0, kParis)->end, utc(2026, 12, 24, 21, 45));
    const auto late = scheduleFromGuideEvent(channel, event(utc(2026, 12, 24, 22, 50), "01:05:30"),
                                             RecorderMode::Multiplex, 0, 0, kParis);
    ASSERT_TRUE(late);
    EXPECT_EQ(nextOccurrence(*late, 0, kParis)->end, utc(2026, 12, 25, 0, 5) + kMinute / 2);
    EXPECT_FALSE(
        scheduleFromGuideEvent(channel, EpgEvent{}, RecorderMode::Multiplex, 2, 10, kParis));
    EXPECT_FALSE(scheduleFromGuideEvent(channel, event(utc(2026, 12, 24, 19, 50), "22h35"),
                                        RecorderMode::Multiplex, 2, 10, kParis));
    EXPECT_FALSE(scheduleFromGuideEvent(channel, event(utc(2026, 12, 24, 19, 50), "20:50:00"),
                                        RecorderMode::Multiplex, 2, 10, kParis));
    EXPECT_FALSE(scheduleFromGuideEvent(channel, event(utc(2026, 12, 24, 19, 50), "22:35:00"),
                                        RecorderMode::Multiplex, 2, kMaxMargin + 1, kParis));

    const struct {
        void (*change)(ScheduledRecording&);
        ScheduleProblem problem;
    } checks[] = {
        {[](ScheduledRecording&) {}, ScheduleProblem::None},
        {[](ScheduledRecording& r) { r.date.day = 31; }, ScheduleProblem::BadDate},
        {[](ScheduledRecording& r) { r.endSecond = 86400; }, ScheduleProblem::BadTime},
        {[](ScheduledRecording& r) { r.repeat = ScheduleRepeat::Weekly; },
         ScheduleProblem::NoWeekday},
        {[](ScheduledRecording& r) { r.marginBefore = -1; }, ScheduleProblem::BadMargin},
        {[](ScheduledRecording& r) { r.channel.frequency = 0; }, ScheduleProblem::BadChannel},
        {[](ScheduledRecording& r) { r.state = static_cast<ScheduleState>(9); },
         ScheduleProblem::BadFormat},
    };
    for (const auto& c : checks) {
        auto r = make(1, {2026, 11, 30}, 2000, 2100);
        c.change(r);
        EXPECT_EQ(checkSchedule(r), c.problem);
    }

    ChannelRecords list(3, channel);
    list[0].sid = 258;
    list[2].frequency = 474166;
    ScheduledChannel wanted = scheduledChannelOf(channel);
    EXPECT_EQ(findScheduledChannel(list, wanted), std::optional<std::size_t>(1));
    wanted.frequency = 474166;
    EXPECT_EQ(findScheduledChannel(list, wanted), std::optional<std::size_t>(2));
    wanted.frequency = 100;
    EXPECT_EQ(findScheduledChannel(list, wanted), std::optional<std::size_t>(1));
    wanted.sid = 1;
    EXPECT_FALSE(findScheduledChannel(list, wanted));

    ScheduledRecordings ids(2);
    ids[0].id = 4;
    ids[1].id = 2;
    EXPECT_EQ(nextScheduleId(ids), 5u);
    EXPECT_EQ(nextScheduleId({}), 1u);
    ids[1].id = 0xFFFFFFFF;
    EXPECT_EQ(nextScheduleId(ids), 0u);
}
