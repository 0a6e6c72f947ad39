// Recordings started and stopped over and over while the testbed tuner streams at eight times
// broadcast speed through the program's graph head (tuner, platform sample grabber,
// demultiplexer): no crash, and every file closed and well-formed when its stop returns.
#include "app/win/recording_commands.h"
#include "dialog_watcher.h"
#include "graph/devices.h"
#include "graph/tuning.h"
#include "res/resource.h"
#include "session_fixture.h"

#include <cstdlib>
#include <iostream>

namespace korvane::testing {
namespace {

// Cycles of each recording form: KORVANE_RECORDING_CYCLES, 1000 for the run by hand (about
// 25 s for the three forms alone; several minutes beside the other Wine tests, which share
// the Wine server that every file operation goes through), else 200 in the test suite.
int cyclesPerForm() {
    if (const char* text = std::getenv("KORVANE_RECORDING_CYCLES")) {
        int cycles = std::atoi(text);
        if (cycles > 0)
            return cycles;
    }
    return 200;
}

// What is wrong with a transport stream file: its length or a packet without its sync byte.
std::string tsProblem(const std::string& bytes) {
    if (bytes.size() % 188 != 0)
        return "length " + std::to_string(bytes.size()) + " is not a whole number of packets";
    for (std::size_t at = 0; at < bytes.size(); at += 188) {
        if (static_cast<uint8_t>(bytes[at]) != 0x47)
            return "no sync byte at " + std::to_string(at);
    }
    return {};
}

// What is wrong with a program stream file: it must be empty, or start with a pack header and
// hold nothing but whole pack headers and PES packets.
std::string psProblem(const std::string& bytes) {
    auto at = [&](std::size_t i) { return static_cast<uint8_t>(bytes[i]); };
    for (std::size_t pos = 0; pos < bytes.size();) {
        if (bytes.size() - pos < 6 || at(pos) != 0 || at(pos + 1) != 0 || at(pos + 2) != 1)
            return "no start code at " + std::to_string(pos);
        const uint8_t id = at(pos + 3);
        if (pos == 0 && id != 0xBA)
            return "the file does not start with a pack header";
        std::size_t size = 0;
        if (id == 0xBA) {
            if (bytes.size() - pos < 14 || (at(pos + 4) & 0xC4) != 0x44)
                return "bad pack header at " + std::to_string(pos);
            size = 14 + (at(pos + 13) & 0x07);
        } else if (id >= 0xBB) {
            size = 6 + (std::size_t(at(pos + 4)) << 8 | at(pos + 5));
        } else {
            return "stream id " + std::to_string(id) + " at " + std::to_string(pos);
        }
        if (size > bytes.size() - pos)
            return "a packet at " + std::to_string(pos) + " runs past the end";
        pos += size;
    }
    return {};
}

class RecordingStress : public SessionTest {
  protected:
    void SetUp() override {
        SessionTest::SetUp();
        appConfig().tunerName = u"Korvane Testbed Tuner USB";
        appConfig().videoFolder.assign(folder_.begin(), folder_.end());
        ASSERT_TRUE(selectDevices(appConfig(), mediaGraph()));
        ErrorBoxReporter errors;
        ASSERT_EQ(buildSourceChain(graphSetup(errors)), GraphStatus::Built);
        ASSERT_EQ(runGraph(), GraphStatus::Built);
        ChannelInfo channel;
        channel.name.assign("T\xE9l\xE9 Une");
        channel.frequency = 474167;
        channel.pmtPid = 0x100;
        channel.videoPid = 0x120;
        channel.audio1Pid = 0x130;
        channelList().append(channel);
        channelList().setCurrentIndex(0);
        tuneFrequency(mediaGraph(), channel.frequency);
    }

    // The one recording file of the folder.
    std::wstring recordingName() const {
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW((folder_ + L"\\*.mpg").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE)
            return {};
        FindClose(search);
        return found.cFileName;
    }

    // True when nobody holds the file open (the recorder keeps it unshared).
    bool closed(const std::wstring& name) const {
        HANDLE h = CreateFileW((folder_ + L"\\" + name).c_str(), GENERIC_READ, 0, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            return false;
        CloseHandle(h);
        return true;
    }
};

TEST_F(RecordingStress, StartAndStopManyTimesWhileTheTunerStreams) {
    const int cycles = cyclesPerForm();
    DialogWatcher watcher(pressOk);
    const DWORD start = GetTickCount();
    struct Form {
        UINT command;
        const char* name;
        std::string (*problem)(const std::string&);
        int withData = 0;
        std::size_t bytes = 0;
    };
    Form forms[] = {{IDM_RECORD_MULTIPLEX, "multiplex TS", tsProblem},
                    {IDM_RECORD_CHANNEL_TS, "channel TS", tsProblem},
                    {IDM_RECORD_CHANNEL_PS, "channel PS", psProblem}};
    for (Form& form : forms) {
        for (int cycle = 0; cycle < cycles; ++cycle) {
            SendMessageW(window_, WM_COMMAND, form.command, 0);
            ASSERT_TRUE(appState().recording()) << form.name << ", cycle " << cycle;
            // Stops at every moment of the tuner's buffers, which come every few milliseconds.
            pumpFor(DWORD(cycle % 5));
            SendMessageW(window_, WM_COMMAND, IDM_STOP_RECORDING, 0);
            ASSERT_FALSE(appState().recording()) << form.name << ", cycle " << cycle;
            const std::wstring name = recordingName();
            ASSERT_FALSE(name.empty()) << form.name << ", cycle " << cycle;
            ASSERT_TRUE(closed(name)) << form.name << ", cycle " << cycle << ": still open";
            const std::string bytes = readFile(name.c_str());
            ASSERT_EQ(form.problem(bytes), "") << form.name << ", cycle " << cycle;
            form.withData += !bytes.empty();
            form.bytes += bytes.size();
            ASSERT_TRUE(DeleteFileW((folder_ + L"\\" + name).c_str()));
        }
    }
    EXPECT_FALSE(watcher.seen()) << std::string(watcher.texts().begin(), watcher.texts().end());
    for (const Form& form : forms)
        std::cout << form.name << ": " << cycles << " cycles, " << form.withData
                  << " files with data, " << form.bytes << " bytes" << std::endl;
    std::cout << "took " << GetTickCount() - start << " ms" << std::endl;
    EXPECT_GT(forms[0].withData, 0);
    EXPECT_GT(forms[1].withData, 0);
}

} // namespace
} // namespace korvane::testing
