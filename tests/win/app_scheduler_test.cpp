// Scheduled recordings in the running shell: the schedule file (damaged, unwritable, missed
// occurrences at start) and, with the testbed playing the demo city at broadcast pace, the
// scheduler tuning, recording side by side, skipping for a user's recording elsewhere, and
// its power calls.
#include "app/schedule_file.h"
#include "app/win/channel_commands.h"
#include "app/win/power_platform.h"
#include "app/win/recording_commands.h"
#include "app/win/schedule_store.h"
#include "app/win/scheduler.h"
#include "app/win/session.h"
#include "box_collector.h"
#include "common/win/time_convert_win.h"
#include "graph/devices.h"
#include "res/resource.h"
#include "session_fixture.h"

#include <commctrl.h>

#include <algorithm>
#include <map>
#include <set>

namespace korvane::testing {
namespace {

constexpr FileTime kSecond = 10'000'000;

// Records the power calls instead of making them.
class PowerCalls : public PowerPlatform {
  public:
    bool setWakeTimer(FileTime utc) override {
        calls.push_back("wake");
        wakes.push_back(utc);
        return true;
    }
    void cancelWakeTimer() override { calls.push_back("cancel"); }
    void setSystemRequired(bool required) override {
        calls.push_back(required ? "required" : "released");
    }
    std::vector<std::string> calls;
    std::vector<FileTime> wakes;
};

ChannelInfo channel(const char* name, int32_t number, int32_t frequency, int32_t sid, int32_t pmt,
                    int32_t video, int32_t audio) {
    ChannelInfo c;
    c.name.assign(name);
    c.number = number;
    c.frequency = frequency;
    c.sid = sid;
    c.pmtPid = pmt;
    c.pcrPid = video;
    c.videoPid = video;
    c.audio1Pid = audio;
    return c;
}

// Two channels of one multiplex of the demo city, and one of another.
const ChannelInfo kTvUne = channel("TV Une", 1, 562167, 0x601, 0x425, 0x120, 0x130);
const ChannelInfo kRiviera = channel("Riviera TV", 10, 562167, 0x602, 0x426, 0x220, 0x230);
const ChannelInfo kSixTv = channel("Six TV", 6, 498167, 0x401, 0x411, 0x120, 0x130);

// A single schedule of channel over [start, start + seconds), in local wall-clock terms.
ScheduledRecording scheduleOf(const ChannelInfo& channel, FileTime start, int seconds,
                              RecorderMode format) {
    const DateTime local = *SystemTimeConverter().fileTimeToLocal(start);
    ScheduledRecording s;
    s.channel = scheduledChannelOf(channel);
    s.date = DateTime{local.year, local.month, local.day, 0, 0, 0};
    s.startSecond = local.hour * 3600 + local.minute * 60 + local.second;
    s.endSecond = (s.startSecond + seconds) % 86400;
    s.format = format;
    return s;
}

// The start of the whole second at least `ahead` seconds from now.
FileTime wholeSecondAhead(int ahead) {
    const FileTime t = utcNow() + FileTime(ahead) * kSecond;
    return (t / kSecond + 1) * kSecond;
}

const ScheduledRecording* stored(uint32_t id) {
    for (const ScheduledRecording& s : schedules())
        if (s.id == id)
            return &s;
    return nullptr;
}

ScheduleState stateOf(uint32_t id) {
    const ScheduledRecording* s = stored(id);
    return s ? s->state : ScheduleState::Pending;
}

// A transport stream's PIDs and how long its PCRs ran on pcrPid: the sum of the steps
// between consecutive PCRs, so that the testbed's file looping back does not count.
struct TsFacts {
    std::set<int> pids;
    double seconds = 0;
};

TsFacts inspect(const std::string& ts, int pcrPid) {
    TsFacts facts;
    int64_t last = -1;
    for (std::size_t at = 0; at + 188 <= ts.size(); at += 188) {
        const auto* p = reinterpret_cast<const uint8_t*>(ts.data() + at);
        const int pid = ((p[1] & 0x1F) << 8) | p[2];
        facts.pids.insert(pid);
        if (pid != pcrPid || !(p[3] & 0x20) || p[4] < 7 || !(p[5] & 0x10))
            continue;
        const int64_t pcr = (int64_t{p[6]} << 25) | (int64_t{p[7]} << 17) | (int64_t{p[8]} << 9) |
                            (int64_t{p[9]} << 1) | (p[10] >> 7);
        if (last >= 0 && pcr > last && pcr - last < 90000)
            facts.seconds += double(pcr - last) / 90000.0;
        last = pcr;
    }
    return facts;
}

class SchedulerSession : public SessionTest {
  protected:
    void SetUp() override {
        SessionTest::SetUp();
        resetSchedules();
        setPowerPlatform(&power_);
        appConfig().videoFolder.assign(folder_.begin(), folder_.end());
    }

    void TearDown() override {
        stopScheduler();
        resetSchedules();
        setPowerPlatform(nullptr);
        for (const std::wstring& name : filesLike(L"*.mpg"))
            DeleteFileW((folder_ + L"\\" + name).c_str());
        for (const std::wstring& name : filesLike(L"programmation.xml*"))
            DeleteFileW((folder_ + L"\\" + name).c_str());
        RemoveDirectoryW((folder_ + L"\\programmation.xml.tmp").c_str());
        SessionTest::TearDown();
    }

    // The demo city at broadcast pace, watched on TV Une, with the program's graph up to the
    // PMT branch.
    void playDemoCity() {
        SetEnvironmentVariableW(L"KORVANE_TESTBED_DIR",
                                windowsPath(KORVANE_BINARY_DIR "/testbed/muxes").c_str());
        SetEnvironmentVariableW(L"KORVANE_TESTBED_SPEED", L"1");
        playUpToThePmtBranch({kTvUne, kSixTv, kRiviera});
    }

    std::vector<std::wstring> filesLike(const wchar_t* pattern) const {
        std::vector<std::wstring> names;
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW((folder_ + L"\\" + pattern).c_str(), &found);
        if (search == INVALID_HANDLE_VALUE)
            return names;
        do
            names.push_back(found.cFileName);
        while (FindNextFileW(search, &found));
        FindClose(search);
        std::sort(names.begin(), names.end());
        return names;
    }

    std::wstring statusBarNotice() const {
        wchar_t text[256] = {};
        SendMessageW(appState().statusBar, SB_GETTEXTW, 4, reinterpret_cast<LPARAM>(text));
        return text;
    }

    PowerCalls power_;
};

// Schedules of one multiplex that overlap record side by side, each its own channel and
// format for its own time; one on another multiplex at the same time is refused with the
// schedule in its way named. The machine's wake-up is set before the first start, and the
// system is kept awake while the recordings run and released after.
TEST_F(SchedulerSession, OverlappingSchedulesOnOneMultiplexRecordSideBySide) {
    playDemoCity();
    BoxCollector boxes;
    const FileTime start = wholeSecondAhead(10);
    struct Case {
        const ChannelInfo* channel;
        int offset, seconds;
        RecorderMode format;
        std::set<int> pids; // what the file may hold
        int pcrPid;         // 0: a program stream
    } cases[] = {
        {&kTvUne, 0, 10, RecorderMode::ChannelTs, {0, 0x425, 0x120, 0x130}, 0x120},
        {&kRiviera, 3, 5, RecorderMode::ChannelTs, {0, 0x426, 0x220, 0x230}, 0x220},
        {&kRiviera, 4, 4, RecorderMode::ChannelPs, {}, 0},
    };
    std::vector<uint32_t> ids;
    for (const Case& c : cases) {
        const ScheduleChangeResult added =
            addSchedule(scheduleOf(*c.channel, start + c.offset * kSecond, c.seconds, c.format));
        ASSERT_EQ(added.outcome, ScheduleChangeOutcome::Applied);
        ids.push_back(added.id);
    }
    const ScheduleChangeResult refused =
        addSchedule(scheduleOf(kSixTv, start + 2 * kSecond, 4, RecorderMode::Multiplex));
    ASSERT_EQ(refused.outcome, ScheduleChangeOutcome::Conflict);
    ASSERT_TRUE(refused.conflict);
    EXPECT_EQ(refused.conflict->id, ids[0]);
    EXPECT_NE(scheduleConflictText(refused).find(L"TV Une"), std::wstring::npos)
        << scheduleConflictText(refused);
    EXPECT_EQ(schedules().size(), std::size(cases));

    startScheduler();
    EXPECT_NE(scheduleStatusText().find(L"Prochain enregistrement : TV Une"), std::wstring::npos)
        << scheduleStatusText();
    ASSERT_FALSE(power_.wakes.empty());
    EXPECT_LE(power_.wakes.front(), start);
    EXPECT_GE(power_.wakes.front() + 61 * kSecond, start);
    ASSERT_TRUE(pumpUntil([&] { return stateOf(ids[0]) == ScheduleState::Recording; }, 15000));
    EXPECT_NE(scheduleStatusText().find(L"Enregistrement en cours : TV Une"), std::wstring::npos);
    EXPECT_TRUE(pumpUntil(
        [&] {
            return std::all_of(ids.begin(), ids.end(),
                               [](uint32_t id) { return stateOf(id) == ScheduleState::Done; });
        },
        20000));
    const std::vector<std::wstring> files = filesLike(L"*.mpg");
    ASSERT_EQ(files.size(), std::size(cases));
    std::map<std::set<int>, double> tsFiles;
    int programStreams = 0;
    for (const std::wstring& name : files) {
        const std::string bytes = readFile(name.c_str());
        ASSERT_FALSE(bytes.empty()) << std::string(name.begin(), name.end());
        if (bytes[0] != 0x47) {
            ++programStreams;
            continue;
        }
        const TsFacts facts = inspect(bytes, inspect(bytes, 0).pids.count(0x220) ? 0x220 : 0x120);
        tsFiles[facts.pids] = facts.seconds;
    }
    EXPECT_EQ(programStreams, 1);
    for (const Case& c : cases) {
        if (c.pcrPid == 0)
            continue;
        ASSERT_EQ(tsFiles.count(c.pids), 1u) << c.channel->name.view();
        std::printf("%s: %.2f s recorded for %d s asked\n", c.channel->name.c_str(),
                    tsFiles[c.pids], c.seconds);
        EXPECT_NEAR(tsFiles[c.pids], c.seconds, 1.0) << c.channel->name.view();
    }
    const auto& calls = power_.calls;
    EXPECT_EQ(calls.front(), "wake");
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "required"), 1);
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "released"), 1);
    EXPECT_LT(std::find(calls.begin(), calls.end(), "required"),
              std::find(calls.begin(), calls.end(), "released"));
    EXPECT_TRUE(boxes.seen().empty());
    // Done and written: a new start finds the states in the file.
    loadSchedules();
    for (uint32_t id : ids)
        EXPECT_EQ(stateOf(id), ScheduleState::Done);
}

// A recording the user runs on another multiplex is never cut: the schedule is skipped, the
// status bar says so, and the user's recording goes on.
TEST_F(SchedulerSession, AUserRecordingOnAnotherMultiplexMakesTheScheduleSkipped) {
    playDemoCity();
    BoxCollector boxes;
    selectChannel(1); // Six TV
    SendMessageW(window_, WM_COMMAND, IDM_RECORD_MULTIPLEX, 0);
    ASSERT_TRUE(appState().recording());
    const ScheduleChangeResult added =
        addSchedule(scheduleOf(kTvUne, wholeSecondAhead(2), 3, RecorderMode::ChannelTs));
    ASSERT_EQ(added.outcome, ScheduleChangeOutcome::Applied);
    startScheduler();
    ASSERT_TRUE(pumpUntil([&] { return stateOf(added.id) == ScheduleState::Skipped; }, 8000));
    EXPECT_NE(statusBarNotice().find(L"annulé"), std::wstring::npos) << statusBarNotice();
    EXPECT_NE(scheduleOutcomeReason(added.id).find(L"TV Une"), std::wstring::npos);
    EXPECT_TRUE(appState().recording());
    EXPECT_EQ(channelList().copyCurrent()->frequency, kSixTv.frequency);
    EXPECT_EQ(sideRecordingCount(), 0u);
    SendMessageW(window_, WM_COMMAND, IDM_STOP_RECORDING, 0);
    const std::vector<std::wstring> files = filesLike(L"*.mpg");
    ASSERT_EQ(files.size(), 1u);
    EXPECT_GT(readFile(files[0].c_str()).size(), 100'000u) << "the user's recording went on";
    EXPECT_TRUE(boxes.seen().empty());
}

// A scheduled recording the graph lets go before its end (rebuilt, or its device lost) holds
// only its beginning: it ends as a failure with its reason, never as done.
TEST_F(SchedulerSession, ARecordingLetGoBeforeItsEndIsAFailure) {
    playDemoCity();
    BoxCollector boxes;
    const ScheduleChangeResult added =
        addSchedule(scheduleOf(kTvUne, wholeSecondAhead(2), 4, RecorderMode::ChannelTs));
    ASSERT_EQ(added.outcome, ScheduleChangeOutcome::Applied);
    startScheduler();
    ASSERT_TRUE(pumpUntil([&] { return stateOf(added.id) == ScheduleState::Recording; }, 8000));
    releaseRecordingGrabber();
    ASSERT_TRUE(pumpUntil([&] { return stateOf(added.id) != ScheduleState::Recording; }, 10000));
    EXPECT_EQ(stateOf(added.id), ScheduleState::Failed);
    EXPECT_NE(scheduleOutcomeReason(added.id).find(L"interrompu"), std::wstring::npos)
        << scheduleOutcomeReason(added.id);
}

// The schedule file at start: a damaged one is kept aside under a name of its own (an earlier
// damaged copy is kept too) with a word to the user, and the schedule starts empty; a write
// that fails is told once.
TEST_F(SchedulerSession, ADamagedFileIsKeptAsideAndAFailedWriteIsToldOnce) {
    const std::string damaged[] = {"<Programmation version=\"1\"><Enregistrement", "\xFF\xFE<x/>"};
    for (std::size_t i = 0; i < std::size(damaged); ++i) {
        writeFile(L"programmation.xml", damaged[i]);
        BoxCollector boxes;
        loadSchedules();
        pumpUntil([&] { return !boxes.seen().empty(); }, 3000);
        ASSERT_EQ(boxes.seen().size(), 1u) << i;
        EXPECT_NE(boxes.seen()[0].find(L"programmation.xml.illisible"), std::wstring::npos);
        EXPECT_TRUE(schedules().empty());
        const wchar_t* aside =
            i == 0 ? L"programmation.xml.illisible" : L"programmation.xml.illisible (2)";
        EXPECT_EQ(readFile(aside), damaged[i]) << i;
    }
    EXPECT_EQ(readFile(L"programmation.xml.illisible"), damaged[0]) << "never replaced";
    EXPECT_EQ(filesLike(L"programmation.xml").size(), 0u);

    // A folder in the temporary file's place: every write fails, and says so once.
    ASSERT_TRUE(CreateDirectoryW((folder_ + L"\\programmation.xml.tmp").c_str(), nullptr));
    BoxCollector boxes;
    const FileTime later = utcNow() + 3600 * kSecond;
    const ScheduleChangeResult first =
        addSchedule(scheduleOf(kTvUne, later, 60, RecorderMode::Multiplex));
    const ScheduleChangeResult second =
        addSchedule(scheduleOf(kRiviera, later, 60, RecorderMode::Multiplex));
    pumpFor(300);
    EXPECT_EQ(first.outcome, ScheduleChangeOutcome::WriteFailed);
    EXPECT_EQ(second.outcome, ScheduleChangeOutcome::WriteFailed);
    ASSERT_EQ(boxes.seen().size(), 1u);
    EXPECT_NE(boxes.seen()[0].find(L"Impossible d'écrire le fichier programmation.xml"),
              std::wstring::npos);
    EXPECT_EQ(schedules().size(), 2u) << "kept in memory";
    RemoveDirectoryW((folder_ + L"\\programmation.xml.tmp").c_str());
    ASSERT_EQ(removeSchedule(first.id).outcome, ScheduleChangeOutcome::Applied);
    ScheduleFile written;
    ASSERT_EQ(parseScheduleFile(readFile(L"programmation.xml"), written), ScheduleFileError::None);
    ASSERT_EQ(written.schedules.size(), 1u);
    EXPECT_EQ(written.schedules[0].id, second.id);
}

// Occurrences that passed while the program was closed are marked missed at start and told
// once, with their channel; one whose time has not come stays pending and is armed.
TEST_F(SchedulerSession, MissedOccurrencesAreReportedAtStart) {
    const FileTime now = utcNow();
    ScheduleFile file;
    file.lastCheck = now - 3 * 3600 * kSecond;
    ScheduledRecording missed =
        scheduleOf(kRiviera, now - 2 * 3600 * kSecond, 600, RecorderMode::ChannelTs);
    missed.id = 1;
    ScheduledRecording coming =
        scheduleOf(kTvUne, now + 2 * 3600 * kSecond, 600, RecorderMode::ChannelPs);
    coming.id = 2;
    file.schedules = {missed, coming};
    writeFile(L"programmation.xml", formatScheduleFile(file));
    BoxCollector boxes;
    loadSchedules();
    ASSERT_EQ(schedules().size(), 2u);
    startScheduler();
    ASSERT_TRUE(pumpUntil([&] { return !boxes.seen().empty(); }, 5000));
    pumpFor(200);
    ASSERT_EQ(boxes.seen().size(), 1u);
    EXPECT_NE(boxes.seen()[0].find(L"n'ont pas eu lieu"), std::wstring::npos);
    EXPECT_NE(boxes.seen()[0].find(L"Riviera TV"), std::wstring::npos) << boxes.seen()[0];
    EXPECT_EQ(boxes.seen()[0].find(L"TV Une"), std::wstring::npos) << boxes.seen()[0];
    EXPECT_EQ(stateOf(1), ScheduleState::Missed);
    EXPECT_EQ(stateOf(2), ScheduleState::Pending);
    ScheduleFile written;
    ASSERT_EQ(parseScheduleFile(readFile(L"programmation.xml"), written), ScheduleFileError::None);
    EXPECT_EQ(written.schedules[0].state, ScheduleState::Missed);
    // The file keeps whole seconds.
    EXPECT_GT(written.lastCheck + kSecond, now);
    const std::optional<ScheduleOccurrence> next =
        nextOccurrence(coming, now, SystemTimeConverter());
    ASSERT_TRUE(next);
    EXPECT_EQ(power_.wakes, std::vector<FileTime>{next->start - 60 * kSecond});
    // Stopped, the scheduler lets the wake-up go.
    stopScheduler();
    EXPECT_EQ(power_.calls.back(), "cancel");
}

// The system's own answers: the waitable timer is set with resume and cancelled, and the
// execution state is taken and given back.
TEST(SystemPowerPlatform, TheWakeTimerAndTheExecutionStateAreAccepted) {
    PowerPlatform& system = systemPowerPlatform();
    EXPECT_TRUE(system.setWakeTimer(utcNow() + 3600 * kSecond));
    system.cancelWakeTimer();
    EXPECT_TRUE(system.setWakeTimer(utcNow() + 7200 * kSecond));
    system.cancelWakeTimer();
    system.setSystemRequired(true);
    EXPECT_EQ(SetThreadExecutionState(ES_CONTINUOUS) & ES_SYSTEM_REQUIRED,
              DWORD(ES_SYSTEM_REQUIRED));
    system.setSystemRequired(false);
    EXPECT_EQ(SetThreadExecutionState(ES_CONTINUOUS) & ES_SYSTEM_REQUIRED, 0u);
}

} // namespace
} // namespace korvane::testing
