#include "app/now_playing_text.h"
#include "app/win/app_state.h"
#include "app/win/graph_wiring.h"
#include "app/win/main_window.h"
#include "app/win/now_playing.h"
#include "app/win/status_bar.h"
#include "common/win/window_messages.h"
#include "process_state.h"
#include "res/resource.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <thread>
#include <vector>

namespace korvane {
namespace {

struct Received {
    HWND sender;
    ULONG_PTR data;
    DWORD bytes;
    std::wstring text;
};

std::vector<Received> received;

// Stands in for the messenger's hidden window.
LRESULT CALLBACK messengerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COPYDATA) {
        auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        received.push_back({reinterpret_cast<HWND>(wParam), data->dwData, data->cbData,
                            std::wstring(static_cast<const wchar_t*>(data->lpData))});
        return TRUE;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

class NowPlayingTest : public ::testing::Test {
  protected:
    void SetUp() override {
        received.clear();
        resetProcessState();
        ASSERT_TRUE(registerMainWindowClass(GetModuleHandleW(nullptr)));
        window_ = createMainWindow(GetModuleHandleW(nullptr), appConfig());
        ASSERT_NE(window_, nullptr);
        createStatusBar();

        ChannelInfo arte;
        arte.number = 7;
        arte.name.assign("Arte");
        arte.present.startTime = 1;
        arte.present.title.assign("Le journal t\xE9l\xE9vis\xE9");
        ChannelInfo empty;
        empty.name.assign("Sans guide");
        channelList().append(arte);
        channelList().append(empty);
    }
    void TearDown() override {
        if (messenger_)
            DestroyWindow(messenger_);
        DestroyWindow(window_);
        resetProcessState();
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            ;
    }
    void startMessenger() {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = messengerProc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"MsnMsgrUIManager";
        RegisterClassW(&windowClass);
        messenger_ = CreateWindowExW(0, L"MsnMsgrUIManager", nullptr, WS_OVERLAPPED, 0, 0, 10, 10,
                                     nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(messenger_, nullptr);
    }
    std::vector<Received> fromThisWindow() const {
        std::vector<Received> mine;
        for (const Received& r : received)
            if (r.sender == window_)
                mine.push_back(r);
        return mine;
    }
    HWND window_ = nullptr;
    HWND messenger_ = nullptr;
};

// The guide decoder posts once per new event of the watched channel, on a streaming thread: a
// section of 300 events must leave one update in the window's queue, not 300 that starve its
// keys and painting. Once the window has taken it, the next event posts again.
TEST_F(NowPlayingTest, ABurstOfGuideUpdatesLeavesOneMessageUntilTheWindowTakesIt) {
    ErrorBoxReporter errors;
    WindowNotifier& notifier = graphSetup(errors).notifier;
    auto pending = [this] {
        int count = 0;
        MSG message;
        while (PeekMessageW(&message, window_, kGuideUpdatedMessage, kGuideUpdatedMessage,
                            PM_REMOVE)) {
            ++count;
            DispatchMessageW(&message);
        }
        return count;
    };
    for (int round = 0; round < 3; ++round) {
        std::thread decoder([&notifier] {
            for (int event = 0; event < 300; ++event)
                notifier.postGuideUpdated();
        });
        decoder.join();
        EXPECT_EQ(pending(), 1) << "round " << round;
    }
}

// One test holds the only messenger window, so that a test process running beside it never
// finds a second one; messages from other processes' windows are left out.
TEST_F(NowPlayingTest, MessengerGetsThePlayingStatusPerRefreshAndTheClearedOneWhenSwitchedOff) {
    startMessenger();
    channelList().setCurrentIndex(0);
    refreshChannelInfo();
    EXPECT_TRUE(fromThisWindow().empty()) << "option off";

    appConfig().sendNowPlaying = true;
    refreshChannelInfo();
    auto sent = fromThisWindow();
    ASSERT_EQ(sent.size(), 1u);
    const std::wstring expected = L"\\0Music\\01\\0{0} - {1}\\0Arte\\0Le journal télévisé\\0\\0\\0";
    EXPECT_EQ(sent[0].text, expected);
    EXPECT_EQ(sent[0].data, ULONG_PTR(0x547));
    EXPECT_EQ(sent[0].bytes, DWORD((expected.size() + 1) * 2));

    // A guide update sends the same status again.
    SendMessageW(window_, kGuideUpdatedMessage, 0, 0);
    EXPECT_EQ(fromThisWindow().size(), 2u);

    // A channel without a present event sends nothing.
    channelList().setCurrentIndex(1);
    refreshChannelInfo();
    EXPECT_EQ(fromThisWindow().size(), 2u);

    // The menu command: off sends the cleared status, on sends the playing one again.
    channelList().setCurrentIndex(0);
    SendMessageW(window_, WM_COMMAND, IDM_SEND_NOW_PLAYING, 0);
    EXPECT_FALSE(appConfig().sendNowPlaying);
    EXPECT_EQ(GetMenuState(GetMenu(window_), IDM_SEND_NOW_PLAYING, MF_BYCOMMAND) & MF_CHECKED, 0u);
    sent = fromThisWindow();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[2].text, L"\\0Music\\00\\0\\0\\0\\0\\0\\0");
    EXPECT_EQ(sent[2].bytes, 46u);

    SendMessageW(window_, WM_COMMAND, IDM_SEND_NOW_PLAYING, 0);
    EXPECT_TRUE(appConfig().sendNowPlaying);
    EXPECT_NE(GetMenuState(GetMenu(window_), IDM_SEND_NOW_PLAYING, MF_BYCOMMAND) & MF_CHECKED, 0u);
    sent = fromThisWindow();
    ASSERT_EQ(sent.size(), 4u);
    EXPECT_EQ(sent[3].text, expected);
}

} // namespace
} // namespace korvane
