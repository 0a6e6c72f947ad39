#include "app/schedule.h"

#include <algorithm>
#include <limits>

namespace korvane {

namespace {

constexpr FileTime kTicksPerSecond = 10'000'000;
constexpr FileTime kTicksPerMinute = 60 * kTicksPerSecond;
constexpr FileTime kTicksPerDay = 86'400 * kTicksPerSecond;
constexpr int kSecondsPerDay = 86'400;
// Missed occurrences are looked for at most this far back.
constexpr FileTime kMissedLookBack = FileTime{366} * kTicksPerDay;
// Repeating occurrences are looked for from this many days before the local day of the time
// asked: an occurrence lasts at most a day and the margins, and starts on its own day.
constexpr int kDaysBack = 2;

DateTime dayOf(const DateTime& t) {
    return {t.year, t.month, t.day, 0, 0, 0};
}

// Days since 1601-01-01 of a calendar day, to order days.
std::optional<int64_t> dayNumber(const DateTime& day) {
    const auto t = fileTimeFromDateTime(dayOf(day));
    if (!t)
        return std::nullopt;
    return static_cast<int64_t>(*t / kTicksPerDay);
}

std::optional<DateTime> localDayOf(FileTime t, const TimeConverter& clock) {
    const auto local = clock.fileTimeToLocal(t);
    if (!local)
        return std::nullopt;
    return dayOf(*local);
}

bool startsOnDay(const ScheduledRecording& s, const DateTime& day) {
    const auto first = dayNumber(s.date);
    const auto asked = dayNumber(day);
    if (!first || !asked || *asked < *first)
        return false;
    switch (s.repeat) {
    case ScheduleRepeat::Once:
        return *asked == *first;
    case ScheduleRepeat::Daily:
        return true;
    case ScheduleRepeat::Weekly: {
        // dayOfWeek counts from Sunday; the bits from Monday.
        const int monday0 = (dayOfWeek(day.year, day.month, day.day) + 6) % 7;
        return (s.weekdays >> monday0) & 1;
    }
    }
    return false;
}

bool overlaps(const ScheduleOccurrence& a, const ScheduleOccurrence& b) {
    return a.start < b.end && b.start < a.end;
}

bool isDueSingle(const ScheduledRecording& s) {
    return s.state == ScheduleState::Pending || s.state == ScheduleState::Recording;
}

// Seconds into the day of an "HH:MM:SS" text.
std::optional<int> secondsOfClockText(std::string_view text) {
    if (text.size() != 8 || text[2] != ':' || text[5] != ':')
        return std::nullopt;
    int parts[3];
    for (int i = 0; i < 3; ++i) {
        const char hi = text[i * 3];
        const char lo = text[i * 3 + 1];
        if (hi < '0' || hi > '9' || lo < '0' || lo > '9')
            return std::nullopt;
        parts[i] = (hi - '0') * 10 + (lo - '0');
    }
    if (parts[0] > 23 || parts[1] > 59 || parts[2] > 59)
        return std::nullopt;
    return parts[0] * 3600 + parts[1] * 60 + parts[2];
}

} // namespace

ScheduledChannel scheduledChannelOf(const ChannelInfo& channel) {
    ScheduledChannel out;
    out.name = channel.name;
    out.onid = channel.onid;
    out.tsid = channel.tsid;
    out.sid = channel.sid;
    out.frequency = channel.frequency;
    return out;
}

std::optional<std::size_t> findScheduledChannel(const ChannelRecords& records,
                                                const ScheduledChannel& channel) {
    const auto sameService = [&](const ChannelInfo& c) {
        return c.onid == channel.onid && c.tsid == channel.tsid && c.sid == channel.sid;
    };
    for (std::size_t i = 0; i < records.size(); ++i)
        if (sameService(records[i]) && records[i].frequency == channel.frequency)
            return i;
    for (std::size_t i = 0; i < records.size(); ++i)
        if (sameService(records[i]))
            return i;
    return std::nullopt;
}

ScheduleProblem checkSchedule(const ScheduledRecording& s) {
    if (s.channel.name.empty() || s.channel.frequency <= 0)
        return ScheduleProblem::BadChannel;
    if (!isValidDateTime(dayOf(s.date)))
        return ScheduleProblem::BadDate;
    if (s.startSecond < 0 || s.startSecond >= kSecondsPerDay || s.endSecond < 0 ||
        s.endSecond >= kSecondsPerDay)
        return ScheduleProblem::BadTime;
    if (s.format > RecorderMode::ChannelPs || s.repeat > ScheduleRepeat::Weekly ||
        s.origin > ScheduleOrigin::Guide || s.state > ScheduleState::Failed)
        return ScheduleProblem::BadFormat;
    if (s.repeat == ScheduleRepeat::Weekly && (s.weekdays == 0 || (s.weekdays & ~kEveryWeekday)))
        return ScheduleProblem::NoWeekday;
    if (s.marginBefore < 0 || s.marginBefore > kMaxMargin || s.marginAfter < 0 ||
        s.marginAfter > kMaxMargin)
        return ScheduleProblem::BadMargin;
    return ScheduleProblem::None;
}

std::optional<ScheduledRecording> scheduleFromGuideEvent(const ChannelInfo& channel,
                                                         const EpgEvent& event, RecorderMode format,
                                                         int marginBefore, int marginAfter,
                                                         const TimeConverter& clock) {
    if (event.empty())
        return std::nullopt;
    const auto start = clock.fileTimeToLocal(event.startTime);
    const auto end = secondsOfClockText(event.endText.view());
    if (!start || !end)
        return std::nullopt;
    ScheduledRecording s;
    s.channel = scheduledChannelOf(channel);
    s.date = dayOf(*start);
    s.startSecond = start->hour * 3600 + start->minute * 60 + start->second;
    s.endSecond = *end;
    // An event of no length has nothing to record (its end would read as the next day).
    if (s.endSecond == s.startSecond)
        return std::nullopt;
    s.format = format;
    s.origin = ScheduleOrigin::Guide;
    s.title = event.title;
    s.marginBefore = marginBefore;
    s.marginAfter = marginAfter;
    if (checkSchedule(s) != ScheduleProblem::None)
        return std::nullopt;
    return s;
}

std::optional<ScheduleOccurrence> occurrenceOnDay(const ScheduledRecording& s, const DateTime& day,
                                                  const TimeConverter& clock) {
    if (!startsOnDay(s, day))
        return std::nullopt;
    const DateTime startDay = dayOf(day);
    const auto endDay = s.endSecond <= s.startSecond ? addDays(startDay, 1) : startDay;
    if (!endDay)
        return std::nullopt;
    const auto at = [](DateTime d, int seconds) {
        d.hour = seconds / 3600;
        d.minute = seconds / 60 % 60;
        d.second = seconds % 60;
        return d;
    };
    auto start = clock.localToUtc(at(startDay, s.startSecond));
    auto end = clock.localToUtc(at(*endDay, s.endSecond));
    if (!start || !end)
        return std::nullopt;
    if (s.origin == ScheduleOrigin::Guide) {
        const FileTime before = FileTime(std::max(s.marginBefore, 0)) * kTicksPerMinute;
        const FileTime after = FileTime(std::max(s.marginAfter, 0)) * kTicksPerMinute;
        if (*start < before || *end > std::numeric_limits<FileTime>::max() - after)
            return std::nullopt;
        *start -= before;
        *end += after;
    }
    // Both ends in the hour the clock skips: nothing of it exists that day.
    if (*end <= *start)
        return std::nullopt;
    return ScheduleOccurrence{*start, *end, startDay};
}

std::vector<ScheduleOccurrence> occurrencesBetween(const ScheduledRecording& s, FileTime from,
                                                   FileTime to, const TimeConverter& clock,
                                                   std::size_t maxCount) {
    std::vector<ScheduleOccurrence> out;
    if (from >= to || maxCount == 0)
        return out;
    const auto keep = [&](const std::optional<ScheduleOccurrence>& o) {
        if (o && o->start < to && o->end > from)
            out.push_back(*o);
    };
    if (s.repeat == ScheduleRepeat::Once) {
        keep(occurrenceOnDay(s, s.date, clock));
        return out;
    }
    const auto fromDay = localDayOf(from, clock);
    const auto toDay = localDayOf(to, clock);
    const auto first = dayNumber(s.date);
    if (!fromDay || !toDay || !first)
        return out;
    auto day = addDays(*fromDay, -kDaysBack);
    if (!day || *dayNumber(*day) < *first)
        day = dayOf(s.date);
    const int64_t last = *dayNumber(*toDay) + 1;
    while (day && *dayNumber(*day) <= last && out.size() < maxCount) {
        keep(occurrenceOnDay(s, *day, clock));
        day = addDays(*day, 1);
    }
    return out;
}

std::optional<ScheduleOccurrence> nextOccurrence(const ScheduledRecording& s, FileTime t,
                                                 const TimeConverter& clock) {
    if (s.repeat == ScheduleRepeat::Once) {
        const auto o = occurrenceOnDay(s, s.date, clock);
        if (o && o->end > t)
            return o;
        return std::nullopt;
    }
    const auto localDay = localDayOf(t, clock);
    const auto first = dayNumber(s.date);
    if (!localDay || !first)
        return std::nullopt;
    auto day = addDays(*localDay, -kDaysBack);
    if (!day || *dayNumber(*day) < *first)
        day = dayOf(s.date);
    // A week and the days looked back hold an occurrence of any valid weekly schedule; a few
    // more cover days whose occurrence falls wholly in a skipped hour.
    for (int i = 0; i < 7 + kDaysBack + 7 && day; ++i) {
        const auto o = occurrenceOnDay(s, *day, clock);
        if (o && o->end > t)
            return o;
        day = addDays(*day, 1);
    }
    return std::nullopt;
}

std::optional<ScheduleOccurrence> nextDueOccurrence(const ScheduledRecording& s, FileTime now,
                                                    const TimeConverter& clock) {
    if (s.repeat == ScheduleRepeat::Once && !isDueSingle(s))
        return std::nullopt;
    FileTime t = now;
    // Occurrences already handled are passed over; they cannot be more than a few since
    // lastHandled only ever names a past occurrence.
    for (int i = 0; i < 4; ++i) {
        const auto o = nextOccurrence(s, t, clock);
        if (!o || s.lastHandled == 0 || o->start > s.lastHandled)
            return o;
        if (s.repeat == ScheduleRepeat::Once)
            return std::nullopt;
        t = o->end;
    }
    return std::nullopt;
}

std::optional<ScheduleConflict> findScheduleConflict(const ScheduledRecording& candidate,
                                                     const ScheduledRecordings& schedules,
                                                     FileTime now, const TimeConverter& clock,
                                                     FileTime horizon) {
    const auto candidateNext = nextOccurrence(candidate, now, clock);
    if (!candidateNext)
        return std::nullopt;
    std::optional<ScheduleConflict> earliest;
    for (std::size_t i = 0; i < schedules.size(); ++i) {
        const ScheduledRecording& other = schedules[i];
        if ((candidate.id != 0 && other.id == candidate.id) ||
            other.channel.frequency == candidate.channel.frequency)
            continue;
        if (other.repeat == ScheduleRepeat::Once && !isDueSingle(other))
            continue;
        const auto otherNext = nextOccurrence(other, now, clock);
        if (!otherNext)
            continue;
        // A single schedule can only meet the other within its one occurrence; two repeating
        // ones from the first moment both run, for the horizon.
        FileTime from;
        FileTime to;
        if (candidate.repeat == ScheduleRepeat::Once || other.repeat == ScheduleRepeat::Once) {
            const auto& single =
                candidate.repeat == ScheduleRepeat::Once ? *candidateNext : *otherNext;
            from = std::max(now, single.start);
            to = single.end;
        } else {
            from = std::max({now, candidateNext->start, otherNext->start});
            to = from > std::numeric_limits<FileTime>::max() - horizon
                     ? std::numeric_limits<FileTime>::max()
                     : from + horizon;
        }
        const auto mine = occurrencesBetween(candidate, from, to, clock);
        const auto theirs = occurrencesBetween(other, from, to, clock);
        for (const auto& a : mine) {
            if (earliest && a.start >= earliest->candidate.start)
                break;
            const auto hit = std::find_if(theirs.begin(), theirs.end(),
                                          [&](const auto& b) { return overlaps(a, b); });
            if (hit != theirs.end()) {
                earliest = ScheduleConflict{i, a, *hit};
                break;
            }
        }
    }
    return earliest;
}

std::vector<MissedSchedule> findMissedSchedules(const ScheduledRecordings& schedules,
                                                FileTime lastRun, FileTime now,
                                                const TimeConverter& clock) {
    std::vector<MissedSchedule> out;
    if (now <= lastRun)
        return out;
    const FileTime from = std::max(lastRun, now > kMissedLookBack ? now - kMissedLookBack : 0);
    for (std::size_t i = 0; i < schedules.size(); ++i) {
        const ScheduledRecording& s = schedules[i];
        if (s.repeat == ScheduleRepeat::Once && !isDueSingle(s))
            continue;
        MissedSchedule missed{i, 0, {}, {}};
        for (const auto& o : occurrencesBetween(s, from, now, clock, 400)) {
            // Ended while the program was closed, and never handled: one running now is
            // still recorded for what is left of it.
            if (o.end > now || o.end <= lastRun || o.start <= s.lastHandled)
                continue;
            if (missed.count++ == 0)
                missed.first = o;
            missed.last = o;
        }
        if (missed.count > 0)
            out.push_back(missed);
    }
    return out;
}

void markMissed(ScheduledRecordings& schedules, const std::vector<MissedSchedule>& missed) {
    for (const MissedSchedule& m : missed) {
        if (m.index >= schedules.size() || m.count == 0)
            continue;
        setOccurrenceState(schedules[m.index], m.last, ScheduleState::Missed);
    }
}

void setOccurrenceState(ScheduledRecording& schedule, const ScheduleOccurrence& occurrence,
                        ScheduleState state) {
    schedule.state = state;
    if (state != ScheduleState::Recording && state != ScheduleState::Pending)
        schedule.lastHandled = std::max(schedule.lastHandled, occurrence.start);
}

uint32_t nextScheduleId(const ScheduledRecordings& schedules) {
    uint32_t largest = 0;
    for (const auto& s : schedules)
        largest = std::max(largest, s.id);
    return largest == std::numeric_limits<uint32_t>::max() ? 0 : largest + 1;
}

} // namespace korvane
