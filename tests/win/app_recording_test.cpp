#include "app/win/app_state.h"
#include "app/win/main_window.h"
#include "app/win/recording_commands.h"
#include "dialog_watcher.h"
#include "dshow/com_ptr.h"
#include "graph/platform_guids.h"
#include "res/resource.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

namespace korvane {
namespace {

using testing::DialogWatcher;
using testing::pressOk;

// The recording commands of the main window on the platform's sample grabber.
class RecordingCommandsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        folder_ = std::wstring(temp) + L"korvane-recording-" +
                  std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(GetTickCount());
        ASSERT_TRUE(CreateDirectoryW(folder_.c_str(), nullptr));
        appConfig() = AppConfig{};
        appConfig().videoFolder.assign(folder_.begin(), folder_.end());
        appState() = AppState{};
        channelList().clear();
        ChannelInfo arte;
        arte.name.assign("Arte: <HD>");
        arte.pmtPid = 0x100;
        arte.videoMpeg4Pid = 0x120;
        arte.audio1Pid = 0x130;
        channelList().append(arte);
        channelList().setCurrentIndex(0);

        ASSERT_TRUE(registerMainWindowClass(GetModuleHandleW(nullptr)));
        window_ = createMainWindow(GetModuleHandleW(nullptr), appConfig());
        ASSERT_NE(window_, nullptr);
        ASSERT_TRUE(SUCCEEDED(CoCreateInstance(kClsidSampleGrabber, nullptr, CLSCTX_INPROC_SERVER,
                                               IID_IBaseFilter, grabberFilter_.putVoid())));
        grabber_ = grabberFilter_.as<ISampleGrabber>(kIidSampleGrabber);
        ASSERT_TRUE(grabber_);
        setRecordingGrabber(grabber_.get());
    }

    void TearDown() override {
        releaseRecordingGrabber();
        grabber_.reset();
        grabberFilter_.reset();
        DestroyWindow(window_);
        appState() = AppState{};
        channelList().clear();
        pumpMessages();
        for (const std::wstring& name : recordings())
            DeleteFileW((folder_ + L"\\" + name).c_str());
        RemoveDirectoryW(folder_.c_str());
        CoUninitialize();
    }

    static void pumpMessages() {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }

    void command(UINT id) { SendMessageW(window_, WM_COMMAND, id, 0); }

    std::vector<std::wstring> recordings() const {
        std::vector<std::wstring> names;
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW((folder_ + L"\\*.mpg").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE)
            return names;
        do
            names.push_back(found.cFileName);
        while (FindNextFileW(search, &found));
        FindClose(search);
        return names;
    }

    // True when nobody holds the file open (the recorder keeps it unshared).
    bool closed(const std::wstring& name) const {
        HANDLE h = CreateFileW((folder_ + L"\\" + name).c_str(), GENERIC_WRITE, 0, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            return false;
        CloseHandle(h);
        return true;
    }

    bool grayed(UINT id) const {
        MENUITEMINFOW item{};
        item.cbSize = sizeof(item);
        item.fMask = MIIM_STATE;
        GetMenuItemInfoW(GetMenu(window_), id, FALSE, &item);
        return (item.fState & MFS_GRAYED) != 0;
    }

    std::wstring folder_;
    HWND window_ = nullptr;
    ComPtr<IBaseFilter> grabberFilter_;
    ComPtr<ISampleGrabber> grabber_;
};

TEST_F(RecordingCommandsTest, OneRecordingAtATimeAndStopClosesItsFile) {
    command(IDM_RECORD_CHANNEL_TS);
    ASSERT_TRUE(appState().recording);
    std::vector<std::wstring> files = recordings();
    ASSERT_EQ(files.size(), 1u);
    // Characters a file name cannot hold are replaced; the date and time follow the name.
    EXPECT_EQ(files[0].rfind(L"Arte_ _HD_ ", 0), 0u) << files[0];
    EXPECT_FALSE(closed(files[0]));
    EXPECT_TRUE(grayed(IDM_RECORD_MULTIPLEX));
    EXPECT_TRUE(grayed(IDM_RECORD_CHANNEL_PS));
    EXPECT_FALSE(grayed(IDM_STOP_RECORDING));

    command(IDM_RECORD_MULTIPLEX);
    EXPECT_EQ(recordings().size(), 1u);

    command(IDM_STOP_RECORDING);
    EXPECT_FALSE(appState().recording);
    EXPECT_TRUE(closed(files[0]));
    EXPECT_FALSE(grayed(IDM_RECORD_MULTIPLEX));
    EXPECT_TRUE(grayed(IDM_STOP_RECORDING));
    // Stopping again changes nothing.
    command(IDM_STOP_RECORDING);
    EXPECT_FALSE(appState().recording);
}

TEST_F(RecordingCommandsTest, AFileThatCannotBeCreatedStopsTheRecordingAndTellsTheUser) {
    const std::wstring missing = folder_ + L"\\disparu";
    appConfig().videoFolder.assign(missing.begin(), missing.end());
    DialogWatcher watcher(pressOk);
    command(IDM_RECORD_MULTIPLEX);
    for (int i = 0; i < 200 && appState().recording; ++i) {
        pumpMessages();
        Sleep(25);
    }
    EXPECT_FALSE(appState().recording);
    EXPECT_TRUE(watcher.seen());
    EXPECT_NE(watcher.texts().find(L"Impossible de créer le fichier d'enregistrement"),
              std::wstring::npos)
        << std::string(watcher.texts().begin(), watcher.texts().end());
    EXPECT_EQ(watcher.owner(), window_);
    EXPECT_FALSE(grayed(IDM_RECORD_MULTIPLEX));
}

} // namespace
} // namespace korvane
