#pragma once

// The program's process-wide state in this test process: a main window in a working
// directory of its own, the testbed playing the test multiplexes eight times faster than
// broadcast, its trace file, and at the end the graph torn down with a check that no
// testbed object outlived it.

#include "app/win/app_state.h"
#include "app/win/graph_wiring.h"
#include "app/win/main_window.h"
#include "app/win/session.h"
#include "app/win/status_bar.h"
#include "channels/channel_file.h"
#include "graph/graph_builder.h"
#include "graph/media_graph.h"
#include "process_state.h"
#include "testbed_support.h"
#include "trace_lines.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace korvane::testing {

// Dispatches this thread's messages for a while (posted notifications, timers).
inline void pumpFor(DWORD milliseconds) {
    const DWORD start = GetTickCount();
    do {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        Sleep(5);
    } while (GetTickCount() - start < milliseconds);
}

// Pumps until the condition holds, up to about ten seconds.
template <class Condition> bool pumpUntil(Condition condition, DWORD timeoutMs = 10000) {
    const DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start > timeoutMs)
            return false;
        pumpFor(10);
    }
    return true;
}

class SessionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        GetCurrentDirectoryW(MAX_PATH, previous_);
        folder_ = std::wstring(temp) + L"korvane-session-" +
                  std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(GetTickCount());
        CreateDirectoryW(folder_.c_str(), nullptr);
        SetCurrentDirectoryW(folder_.c_str());
        SetEnvironmentVariableW(L"KORVANE_TESTBED_DIR",
                                windowsPath(KORVANE_BINARY_DIR "/testbed-data").c_str());
        SetEnvironmentVariableW(L"KORVANE_TESTBED_SPEED", L"8");
        SetEnvironmentVariableW(L"KORVANE_TESTBED_TRACE", tracePath().c_str());
        SetEnvironmentVariableW(L"KORVANE_TESTBED_FAULTS", nullptr);
        resetProcessState();
        ASSERT_TRUE(registerMainWindowClass(GetModuleHandleW(nullptr)));
        window_ = createMainWindow(GetModuleHandleW(nullptr), appConfig());
        ASSERT_NE(window_, nullptr);
        createStatusBar();
    }

    void TearDown() override {
        tearDownSessionGraph();
        releaseVideoPresenter();
        if (IsWindow(window_))
            DestroyWindow(window_);
        resetProcessState();
        pumpFor(0);
        EXPECT_EQ(testbedLiveObjects(), 0) << "testbed objects outlived the teardown";
        SetEnvironmentVariableW(L"KORVANE_TESTBED_FAULTS", nullptr);
        SetEnvironmentVariableW(L"KORVANE_TESTBED_TRACE", nullptr);
        SetCurrentDirectoryW(previous_);
        for (const wchar_t* name : {L"config.ini", L"chaines.xml", L"canaux.ini", L"trace.txt"})
            DeleteFileW((folder_ + L"\\" + name).c_str());
        RemoveDirectoryW(folder_.c_str());
        CoUninitialize();
    }

    std::wstring tracePath() const { return folder_ + L"\\trace.txt"; }

    // chaines.xml holding channels, and the program's graph up to its PMT branch, running on
    // the first of them.
    void playUpToThePmtBranch(const ChannelRecords& channels) {
        appConfig().tunerName = u"Korvane Testbed Tuner USB";
        writeFile(L"chaines.xml", formatChannelFile(channels));
        ASSERT_TRUE(selectDevices(appConfig(), mediaGraph()));
        ErrorBoxReporter errors;
        const GraphSetup setup = graphSetup(errors);
        ASSERT_EQ(buildSourceChain(setup), GraphStatus::Built);
        auto demux = mediaGraph().demux.as<IMpeg2Demultiplexer>(IID_IMpeg2Demultiplexer);
        ASSERT_TRUE(demux);
        ASSERT_EQ(buildPmtBranch(demux.get(), setup), GraphStatus::Built);
        ASSERT_EQ(runGraph(), GraphStatus::Built);
        ASSERT_EQ(openChannels(), 0);
    }

    // The trace lines without their time stamps, optionally only those starting with prefix.
    std::vector<std::string> trace(const std::string& prefix = "") const {
        return traceLines(tracePath(), prefix);
    }
    void clearTrace() const { DeleteFileW(tracePath().c_str()); }

    void setFaults(const wchar_t* faults) const {
        SetEnvironmentVariableW(L"KORVANE_TESTBED_FAULTS", faults);
    }

    void writeFile(const wchar_t* name, const std::string& bytes) const {
        std::ofstream((folder_ + L"\\" + name).c_str(), std::ios::binary) << bytes;
    }
    std::string readFile(const wchar_t* name) const {
        std::ifstream file((folder_ + L"\\" + name).c_str(), std::ios::binary);
        std::ostringstream bytes;
        bytes << file.rdbuf();
        return bytes.str();
    }

    UINT menuState(UINT command) const {
        return GetMenuState(GetMenu(window_), command, MF_BYCOMMAND);
    }

    HWND window_ = nullptr;
    std::wstring folder_;
    wchar_t previous_[MAX_PATH] = {};
};

} // namespace korvane::testing
