#include "app/win/scheduler.h"

#include "app/recording_watch.h"
#include "app/win/app_state.h"
#include "app/win/channel_commands.h"
#include "app/win/power_platform.h"
#include "app/win/recording_commands.h"
#include "app/win/schedule_store.h"
#include "app/win/status_bar.h"
#include "capture/win/recording_failure.h"
#include "common/dvb_text.h"
#include "common/win/show_error.h"
#include "common/win/time_convert_win.h"
#include "common/win/wide_text.h"

#include <algorithm>
#include <map>
#include <optional>
#include <vector>

namespace korvane {

namespace {

constexpr FileTime kTicksPerMs = 10'000;
constexpr FileTime kTicksPerSecond = 1000 * kTicksPerMs;
// The timers look at the wall clock again at least this often, so that a clock set forward
// or back, or a timer held up, moves a start by at most that much.
constexpr FileTime kLongestWait = 60 * kTicksPerSecond;
// The machine wakes this long before a start, to give the system and the tuner time.
constexpr FileTime kWakeAhead = 60 * kTicksPerSecond;
// After a resume or a clock change, the re-arm waits this long for the system to settle.
constexpr UINT kSettleMs = 2000;

// One occurrence being recorded.
struct RunningOccurrence {
    uint32_t scheduleId = 0;
    ScheduleOccurrence occurrence;
    uint32_t generation = 0;
    int32_t frequency = 0;
    std::wstring channelName;
};

struct SchedulerState {
    bool started = false;
    std::vector<RunningOccurrence> running;
    bool systemRequired = false;
    std::optional<FileTime> wakeAt;
    // The next start the timers wait for, to say in the tooltip.
    std::optional<ScheduleOccurrence> next;
    std::wstring nextChannel;
    std::map<uint32_t, std::wstring> reasons;
    std::wstring statusText;
    // Error boxes waiting for kScheduleNoticeMessage: a box's own message loop must never
    // run inside a re-arm, nor hold up the starts that come while it is open.
    std::vector<std::wstring> errors;
};

SchedulerState& scheduler() {
    static SchedulerState state;
    return state;
}

std::wstring channelText(const ScheduledChannel& channel) {
    return toWide(widenAnsi(shownDvbText(channel.name.view())));
}

const ScheduledRecording* scheduleById(uint32_t id) {
    for (const ScheduledRecording& schedule : schedules()) {
        if (schedule.id == id)
            return &schedule;
    }
    return nullptr;
}

bool isRunning(uint32_t id) {
    const auto& running = scheduler().running;
    return std::any_of(running.begin(), running.end(),
                       [id](const RunningOccurrence& r) { return r.scheduleId == id; });
}

// Milliseconds from now to when, at least 1 and at most kLongestWait.
UINT delayUntil(FileTime when, FileTime now) {
    const FileTime wait = when > now ? std::min(when - now, kLongestWait) : 0;
    return static_cast<UINT>(std::max<FileTime>(1, (wait + kTicksPerMs - 1) / kTicksPerMs));
}

void tellLater(std::wstring text) {
    scheduler().errors.push_back(std::move(text));
    if (HWND window = appState().mainWindow)
        PostMessageW(window, kScheduleNoticeMessage, 0, 0);
}

void setStatusText(std::wstring text) {
    SchedulerState& s = scheduler();
    if (text == s.statusText)
        return;
    s.statusText = std::move(text);
    if (HWND window = appState().mainWindow)
        PostMessageW(window, kSchedulesChangedMessage, 0, 0);
}

std::wstring currentStatusText() {
    const SchedulerState& s = scheduler();
    if (!s.running.empty()) {
        std::wstring text = L"Enregistrement en cours : ";
        for (std::size_t i = 0; i < s.running.size(); ++i) {
            if (i > 0)
                text += L", ";
            text += s.running[i].channelName + L" jusqu'à " +
                    localClockText(s.running[i].occurrence.end);
        }
        return text;
    }
    if (s.next)
        return L"Prochain enregistrement : " + s.nextChannel + L" le " + localDayText(s.next->day) +
               L" à " + localClockText(s.next->start);
    return L"Aucun enregistrement programmé";
}

// The occurrence is skipped or failed: its state says so, the reason is kept for the list,
// and the status bar tells it.
void reportOutcome(uint32_t id, const ScheduleOccurrence& occurrence, ScheduleState state,
                   const std::wstring& notice) {
    scheduler().reasons[id] = notice;
    recordScheduleOutcome(id, occurrence, state);
    showStatusNotice(notice.c_str());
}

// Another multiplex than frequency is being recorded: by the user, or by a schedule.
bool anotherMultiplexRecorded(int32_t frequency) {
    if (appState().recording()) {
        const std::optional<ChannelInfo> current = channelList().copyCurrent();
        if (current && current->frequency != frequency)
            return true;
    }
    const auto& running = scheduler().running;
    return std::any_of(running.begin(), running.end(), [frequency](const RunningOccurrence& r) {
        return r.frequency != frequency;
    });
}

void startOccurrence(const ScheduledRecording& schedule, const ScheduleOccurrence& occurrence) {
    const uint32_t id = schedule.id;
    const std::wstring name = channelText(schedule.channel);
    const std::optional<std::size_t> index =
        findScheduledChannel(channelList().snapshot(), schedule.channel);
    const std::optional<ChannelInfo> channel = index ? channelList().copyAt(*index) : std::nullopt;
    if (!channel) {
        reportOutcome(id, occurrence, ScheduleState::Failed,
                      L"Enregistrement programmé de " + name +
                          L" impossible : la chaîne n'est plus dans la liste");
        return;
    }
    if (anotherMultiplexRecorded(channel->frequency)) {
        reportOutcome(id, occurrence, ScheduleState::Skipped,
                      L"Enregistrement programmé de " + name +
                          L" annulé : un enregistrement est en cours sur un autre multiplex");
        return;
    }
    // Nothing records: the channel watched gives way, as a zap would. While something
    // records on this multiplex the picture stays where the user put it.
    if (!appState().recording() && scheduler().running.empty() &&
        channelList().currentIndex() != static_cast<int32_t>(*index))
        selectChannel(*index);
    const uint32_t generation = startSideRecording(schedule.format, *index);
    if (generation == 0) {
        reportOutcome(id, occurrence, ScheduleState::Failed,
                      L"Enregistrement programmé de " + name + L" impossible : " +
                          recordingFailureText(RecordingFailure::CreateFailed));
        return;
    }
    scheduler().running.push_back(
        RunningOccurrence{id, occurrence, generation, channel->frequency, name});
    scheduler().reasons.erase(id);
    recordScheduleOutcome(id, occurrence, ScheduleState::Recording);
    showStatusNotice((L"Enregistrement programmé en cours : " + name).c_str());
}

// Ends the recording of one running occurrence, taken out of the list, with the state it
// earned: done, or failed when its last writes did not reach the disk or it had already
// been let go.
void finishOccurrence(const RunningOccurrence& ended) {
    if (!sideRecordingRunning(ended.generation)) {
        // The graph let it go before its end (rebuilt, or its device lost): the file holds
        // only the beginning.
        const std::wstring notice = L"L'enregistrement programmé de " + ended.channelName +
                                    L" a été interrompu avant la fin";
        reportOutcome(ended.scheduleId, ended.occurrence, ScheduleState::Failed, notice);
        tellLater(notice);
        return;
    }
    const RecordingEnd end = stopSideRecording(ended.generation);
    if (end.failedAtEnd) {
        const std::wstring notice = L"L'enregistrement programmé de " + ended.channelName +
                                    L" a échoué : " +
                                    recordingFailureText(RecordingFailure::WriteFailed);
        reportOutcome(ended.scheduleId, ended.occurrence, ScheduleState::Failed, notice);
        tellLater(notice);
        return;
    }
    recordScheduleOutcome(ended.scheduleId, ended.occurrence, ScheduleState::Done);
    const std::u16string lost = lostDataText(end.lostBytes);
    if (!lost.empty())
        tellLater(toWide(lost));
}

std::optional<RunningOccurrence> takeRunning(uint32_t scheduleId) {
    auto& running = scheduler().running;
    const auto found = std::find_if(running.begin(), running.end(), [scheduleId](const auto& r) {
        return r.scheduleId == scheduleId;
    });
    if (found == running.end())
        return std::nullopt;
    RunningOccurrence taken = *found;
    running.erase(found);
    return taken;
}

void stopEnded(FileTime now) {
    std::vector<uint32_t> ended;
    for (const RunningOccurrence& r : scheduler().running) {
        if (r.occurrence.end <= now || scheduleById(r.scheduleId) == nullptr)
            ended.push_back(r.scheduleId);
    }
    for (uint32_t id : ended) {
        if (std::optional<RunningOccurrence> taken = takeRunning(id))
            finishOccurrence(*taken);
    }
}

std::wstring missedText(const std::vector<MissedSchedule>& missed) {
    std::wstring text = L"Des enregistrements programmés n'ont pas eu lieu pendant que le "
                        L"programme était fermé ou l'ordinateur en veille :";
    const ScheduledRecordings& list = schedules();
    for (const MissedSchedule& m : missed) {
        if (m.index >= list.size())
            continue;
        text += L"\n" + channelText(list[m.index].channel) + L" le " + localDayText(m.first.day) +
                L" à " + localClockText(m.first.start);
        if (m.count > 1)
            text += L" (" + std::to_wstring(m.count) + L" fois)";
    }
    return text;
}

// Occurrences that ended, unhandled, since the last look (the program closed, the machine
// asleep past a start): marked missed and told.
void reportMissed(FileTime now) {
    const SystemTimeConverter clock;
    const FileTime since = lastScheduleCheck();
    std::vector<MissedSchedule> missed = findMissedSchedules(schedules(), since, now, clock);
    if (missed.empty()) {
        recordScheduleCheck(now, false);
        return;
    }
    tellLater(missedText(missed));
    recordMissedSchedules(missed, now);
}

void startDue(FileTime now) {
    const SystemTimeConverter clock;
    std::vector<std::pair<uint32_t, ScheduleOccurrence>> due;
    for (const ScheduledRecording& schedule : schedules()) {
        if (isRunning(schedule.id))
            continue;
        const std::optional<ScheduleOccurrence> next = nextDueOccurrence(schedule, now, clock);
        if (next && next->start <= now)
            due.emplace_back(schedule.id, *next);
    }
    for (const auto& [id, occurrence] : due) {
        if (const ScheduledRecording* schedule = scheduleById(id))
            startOccurrence(*schedule, occurrence);
    }
}

// The next start after now among the schedules not recording.
void findNext(FileTime now) {
    const SystemTimeConverter clock;
    SchedulerState& s = scheduler();
    s.next.reset();
    s.nextChannel.clear();
    for (const ScheduledRecording& schedule : schedules()) {
        if (isRunning(schedule.id))
            continue;
        const std::optional<ScheduleOccurrence> next = nextDueOccurrence(schedule, now, clock);
        if (next && next->start > now && (!s.next || next->start < s.next->start)) {
            s.next = next;
            s.nextChannel = channelText(schedule.channel);
        }
    }
}

void armWakeUp(FileTime now) {
    SchedulerState& s = scheduler();
    std::optional<FileTime> wake;
    if (s.next)
        wake = s.next->start > now + kWakeAhead ? s.next->start - kWakeAhead : s.next->start;
    if (wake == s.wakeAt)
        return;
    if (wake && powerPlatform().setWakeTimer(*wake)) {
        s.wakeAt = wake;
        return;
    }
    if (s.wakeAt)
        powerPlatform().cancelWakeTimer();
    s.wakeAt.reset();
}

void armTimers(FileTime now) {
    const SchedulerState& s = scheduler();
    HWND window = appState().mainWindow;
    if (s.next)
        SetTimer(window, kScheduleStartTimer, delayUntil(s.next->start, now), nullptr);
    else
        KillTimer(window, kScheduleStartTimer);
    if (s.running.empty()) {
        KillTimer(window, kScheduleEndTimer);
        return;
    }
    FileTime end = s.running.front().occurrence.end;
    for (const RunningOccurrence& r : s.running)
        end = std::min(end, r.occurrence.end);
    SetTimer(window, kScheduleEndTimer, delayUntil(end, now), nullptr);
}

} // namespace

void startScheduler() {
    SchedulerState& s = scheduler();
    if (s.started)
        return;
    s.started = true;
    rearmScheduler();
}

namespace {

// Stops every running scheduled recording (each file complete) and marks its occurrence
// failed, the channel's name followed by why.
void stopRunningAsFailed(const wchar_t* why) {
    SchedulerState& s = scheduler();
    while (!s.running.empty()) {
        const RunningOccurrence ended = s.running.front();
        s.running.erase(s.running.begin());
        stopSideRecording(ended.generation);
        reportOutcome(ended.scheduleId, ended.occurrence, ScheduleState::Failed,
                      L"Enregistrement programmé de " + ended.channelName + why);
    }
}

} // namespace

void stopScheduler() {
    SchedulerState& s = scheduler();
    if (!s.started)
        return;
    HWND window = appState().mainWindow;
    for (UINT_PTR id : {kScheduleStartTimer, kScheduleEndTimer, kScheduleRearmTimer})
        KillTimer(window, id);
    // Cut short by the end of the program: the file is complete, the occurrence is not.
    stopRunningAsFailed(L" interrompu : le programme a été fermé");
    if (s.wakeAt)
        powerPlatform().cancelWakeTimer();
    recordScheduleCheck(utcNow(), true);
    s = SchedulerState{};
    recordingsChanged();
}

void rearmScheduler() {
    if (!scheduler().started)
        return;
    const FileTime now = utcNow();
    stopEnded(now);
    reportMissed(now);
    startDue(now);
    findNext(now);
    armWakeUp(now);
    armTimers(now);
    setStatusText(currentStatusText());
}

bool onSchedulerTimer(UINT_PTR id) {
    if (id != kScheduleStartTimer && id != kScheduleEndTimer && id != kScheduleRearmTimer)
        return false;
    if (id == kScheduleRearmTimer)
        KillTimer(appState().mainWindow, kScheduleRearmTimer);
    rearmScheduler();
    return true;
}

void onPowerBroadcast(WPARAM event) {
    if (event == PBT_APMRESUMEAUTOMATIC || event == PBT_APMRESUMESUSPEND)
        SetTimer(appState().mainWindow, kScheduleRearmTimer, kSettleMs, nullptr);
}

void onTimeChange() {
    SetTimer(appState().mainWindow, kScheduleRearmTimer, kSettleMs, nullptr);
}

void onScheduleNotice() {
    // Taken before it is shown: the box's message loop may bring the next one here.
    while (!scheduler().errors.empty()) {
        const std::wstring text = scheduler().errors.front();
        scheduler().errors.erase(scheduler().errors.begin());
        showError(text.c_str());
    }
}

std::wstring scheduleStatusText() {
    return currentStatusText();
}

bool scheduledRecordingRunning() {
    return !scheduler().running.empty();
}

void recordingsChanged() {
    SchedulerState& s = scheduler();
    const bool required = appState().recording() || sideRecordingCount() > 0;
    if (required == s.systemRequired)
        return;
    s.systemRequired = required;
    powerPlatform().setSystemRequired(required);
}

void stopScheduledRecordings() {
    stopRunningAsFailed(L" arrêté pour changer de multiplex");
    rearmScheduler();
}

void stopScheduledOccurrence(uint32_t scheduleId) {
    if (std::optional<RunningOccurrence> taken = takeRunning(scheduleId))
        finishOccurrence(*taken);
}

std::wstring scheduleOutcomeReason(uint32_t scheduleId) {
    const auto& reasons = scheduler().reasons;
    const auto found = reasons.find(scheduleId);
    return found == reasons.end() ? std::wstring() : found->second;
}

void scheduledRecordingFailed(uint32_t generation, RecordingFailure failure) {
    auto& running = scheduler().running;
    const auto found = std::find_if(running.begin(), running.end(), [generation](const auto& r) {
        return r.generation == generation;
    });
    if (found == running.end())
        return;
    const RunningOccurrence failed = *found;
    running.erase(found);
    stopSideRecording(failed.generation);
    const std::wstring notice = L"L'enregistrement programmé de " + failed.channelName +
                                L" a échoué : " + recordingFailureText(failure);
    reportOutcome(failed.scheduleId, failed.occurrence, ScheduleState::Failed, notice);
    tellLater(notice);
    rearmScheduler();
}

} // namespace korvane
