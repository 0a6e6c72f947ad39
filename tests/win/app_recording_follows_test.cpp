// A channel recording running while the channel's PMT moves its streams: the testbed plays a
// multiplex whose first service moves its video and sound to new PIDs halfway through the
// file, and the file loops, so the PIDs go back and forth as the recording runs.
#include "app/win/recording_commands.h"
#include "app/win/session.h"
#include "dialog_watcher.h"
#include "graph/devices.h"
#include "res/resource.h"
#include "session_fixture.h"

#include <algorithm>
#include <cstdlib>
#include <map>

namespace korvane::testing {
namespace {

ChannelInfo changingChannel() {
    ChannelInfo c;
    c.name.assign("Change TV");
    c.number = 7;
    c.frequency = 490167;
    c.sid = 0x1001;
    c.pmtPid = 0x100;
    c.pcrPid = 0x120;
    c.videoPid = 0x120;
    c.audio1Pid = 0x130;
    return c;
}

class RecordingFollowsChannel : public SessionTest {
  protected:
    void SetUp() override {
        SessionTest::SetUp();
        appConfig().videoFolder.assign(folder_.begin(), folder_.end());
        playUpToThePmtBranch({changingChannel()});
    }

    // Records with command (or, scheduled, beside the user's recordings) until the channel has
    // been moved to its new PIDs and back at least twice, then returns the file's bytes
    // (copied to KORVANE_KEEP_RECORDINGS when set).
    std::string recordAcrossChanges(UINT command, bool scheduled = false) {
        const RecorderMode mode =
            command == IDM_RECORD_CHANNEL_TS ? RecorderMode::ChannelTs : RecorderMode::ChannelPs;
        uint32_t side = 0;
        if (scheduled) {
            side = startSideRecording(mode, 0);
            EXPECT_NE(side, 0u);
        } else {
            SendMessageW(window_, WM_COMMAND, command, 0);
            EXPECT_TRUE(appState().recording());
        }
        int moves = 0;
        int32_t last = 0x120;
        EXPECT_TRUE(pumpUntil([&] {
            std::optional<ChannelInfo> channel = channelList().copyCurrent();
            if (channel && channel->videoPid != last) {
                last = channel->videoPid;
                ++moves;
            }
            return moves >= 4;
        }));
        if (scheduled)
            stopSideRecording(side);
        else
            SendMessageW(window_, WM_COMMAND, IDM_STOP_RECORDING, 0);
        EXPECT_FALSE(appState().recording());
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW((folder_ + L"\\*.mpg").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE)
            return {};
        FindClose(search);
        const std::wstring path = folder_ + L"\\" + found.cFileName;
        if (const wchar_t* keep = _wgetenv(L"KORVANE_KEEP_RECORDINGS"))
            CopyFileW(path.c_str(), (std::wstring(keep) + L"\\" + found.cFileName).c_str(), FALSE);
        std::string bytes = readFile(found.cFileName);
        DeleteFileW(path.c_str());
        return bytes;
    }
};

// The PAT and PMT, the old and new pictures and sounds, nothing else of the multiplex.
void expectBothPidSetsAndNothingElse(const std::string& ts) {
    ASSERT_EQ(ts.size() % 188, 0u);
    std::map<int, int> packets;
    for (std::size_t at = 0; at < ts.size(); at += 188) {
        ASSERT_EQ(static_cast<uint8_t>(ts[at]), 0x47) << at;
        ++packets[((static_cast<uint8_t>(ts[at + 1]) & 0x1F) << 8) |
                  static_cast<uint8_t>(ts[at + 2])];
    }
    std::vector<int> pids;
    for (const auto& [pid, count] : packets)
        pids.push_back(pid);
    EXPECT_EQ(pids, (std::vector<int>{0, 0x100, 0x120, 0x121, 0x130, 0x131}));
    EXPECT_GT(packets[0x121], packets[0x120] / 4) << "the new video PID is barely recorded";
}

// The user's recording, and a scheduled one of the watched channel beside it.
TEST_F(RecordingFollowsChannel, ChannelTsKeepsTheNewPidsAfterEachPmtChange) {
    DialogWatcher watcher(pressOk);
    for (const bool scheduled : {false, true}) {
        SCOPED_TRACE(scheduled ? "a scheduled recording" : "the user's recording");
        expectBothPidSetsAndNothingElse(recordAcrossChanges(IDM_RECORD_CHANNEL_TS, scheduled));
    }
    EXPECT_FALSE(watcher.seen());
}

// Pack header SCRs span the whole looping file only when the recording follows the change:
// the old PIDs carry the first two seconds of every loop, the new ones the last two.
TEST_F(RecordingFollowsChannel, ChannelPsGoesOnWithTheNewVideoAndSound) {
    DialogWatcher watcher(pressOk);
    const std::string ps = recordAcrossChanges(IDM_RECORD_CHANNEL_PS);
    auto at = [&](std::size_t i) { return static_cast<uint8_t>(ps[i]); };
    int64_t lowest = INT64_MAX, highest = 0;
    int video = 0, audio = 0;
    for (std::size_t pos = 0; pos + 6 <= ps.size();) {
        ASSERT_TRUE(at(pos) == 0 && at(pos + 1) == 0 && at(pos + 2) == 1) << pos;
        const uint8_t id = at(pos + 3);
        if (id == 0xBA) {
            const int64_t scr = (int64_t{(at(pos + 4) >> 3) & 7} << 30) |
                                (int64_t{at(pos + 4) & 3} << 28) | (int64_t{at(pos + 5)} << 20) |
                                (int64_t{(at(pos + 6) >> 3) & 0x1F} << 15) |
                                (int64_t{at(pos + 6) & 3} << 13) | (int64_t{at(pos + 7)} << 5) |
                                ((at(pos + 8) >> 3) & 0x1F);
            lowest = std::min(lowest, scr);
            highest = std::max(highest, scr);
            pos += 14;
            continue;
        }
        video += id == 0xE0;
        audio += id == 0xC0;
        pos += 6 + ((std::size_t{at(pos + 4)} << 8) | at(pos + 5));
        ASSERT_LE(pos, ps.size());
    }
    EXPECT_GT(video, 0);
    EXPECT_GT(audio, 0);
    EXPECT_GT(highest - lowest, 3 * 90000) << "only one half of the file was recorded";
    EXPECT_FALSE(watcher.seen());
}

} // namespace
} // namespace korvane::testing
