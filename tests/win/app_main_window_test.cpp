#include "app/app_config.h"
#include "app/win/app_state.h"
#include "app/win/config_store.h"
#include "app/win/main_commands.h"
#include "app/win/main_window.h"
#include "app/win/menu_state.h"
#include "app/win/session.h"
#include "app/win/status_bar.h"
#include "app/win/window_modes.h"
#include "channels/channel_file.h"
#include "process_state.h"
#include "res/resource.h"

#include <commctrl.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

namespace korvane {
namespace {

ChannelInfo channel(int32_t number, const char* name) {
    ChannelInfo info;
    info.number = number;
    info.name.assign(name);
    return info;
}

std::wstring menuText(HMENU menu, UINT item, UINT by) {
    wchar_t text[256] = {};
    GetMenuStringW(menu, item, text, 256, by);
    return text;
}

// A main window of this process in a working directory of its own, with fresh
// process-wide state.
class MainWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        GetCurrentDirectoryW(MAX_PATH, previous_);
        folder_ = std::wstring(temp) + L"korvane-window-" + std::to_wstring(GetCurrentProcessId()) +
                  L"-" + std::to_wstring(GetTickCount());
        CreateDirectoryW(folder_.c_str(), nullptr);
        SetCurrentDirectoryW(folder_.c_str());
        resetProcessState();
        ASSERT_TRUE(registerMainWindowClass(GetModuleHandleW(nullptr)));
    }
    void TearDown() override {
        if (appState().mainWindow)
            DestroyWindow(appState().mainWindow);
        resetProcessState();
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            ;
        SetCurrentDirectoryW(previous_);
        DeleteFileW((folder_ + L"\\config.ini").c_str());
        DeleteFileW((folder_ + L"\\chaines.xml").c_str());
        RemoveDirectoryW(folder_.c_str());
        SetPriorityClass(GetCurrentProcess(), NORMAL_PRIORITY_CLASS);
    }
    HWND createWindow() {
        HWND window = createMainWindow(GetModuleHandleW(nullptr), appConfig());
        EXPECT_NE(window, nullptr);
        EXPECT_EQ(appState().mainWindow, window);
        createStatusBar();
        ShowWindow(window, SW_SHOWNORMAL);
        return window;
    }
    std::wstring configValue(const wchar_t* key) {
        wchar_t value[1024] = {};
        GetPrivateProfileStringW(L"Config", key, L"<absent>", value, 1024,
                                 (folder_ + L"\\config.ini").c_str());
        return value;
    }
    // The channel file the session loads from the working directory.
    void writeChannelFile(const ChannelRecords& records) {
        const std::string bytes = formatChannelFile(records);
        HANDLE file = CreateFileW((folder_ + L"\\chaines.xml").c_str(), GENERIC_WRITE, 0, nullptr,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        DWORD written = 0;
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        CloseHandle(file);
    }
    void writeConfigValue(const wchar_t* key, const wchar_t* value) {
        WritePrivateProfileStringW(L"Config", key, value, (folder_ + L"\\config.ini").c_str());
    }
    bool checked(UINT command) {
        return GetMenuState(GetMenu(appState().mainWindow), command, MF_BYCOMMAND) & MF_CHECKED;
    }
    UINT stateOf(UINT command) {
        return GetMenuState(GetMenu(appState().mainWindow), command, MF_BYCOMMAND);
    }
    std::vector<int> statusBarParts() {
        int edges[8] = {};
        int count = static_cast<int>(
            SendMessageW(appState().statusBar, SB_GETPARTS, 8, reinterpret_cast<LPARAM>(edges)));
        return std::vector<int>(edges, edges + count);
    }

    wchar_t previous_[MAX_PATH] = {};
    std::wstring folder_;
};

TEST_F(MainWindowTest, SessionInsertsTheChannelMenuAndSetsTheCheckMarks) {
    writeChannelFile({channel(2, "France 2"), channel(1, "TF1 & Co"), channel(14, "Ch\xE9rie 25")});
    writeConfigValue(L"Priorité", L"Inférieure");
    writeConfigValue(L"Utilise AC3 quand dispo", L"Vrai");
    writeConfigValue(L"Utilise toute la largeur", L"Vrai");
    writeConfigValue(L"Fenêtre toujours devant", L"Vrai");
    loadConfig();
    EXPECT_EQ(GetPriorityClass(GetCurrentProcess()), DWORD(BELOW_NORMAL_PRIORITY_CLASS));
    HWND window = createWindow();

    ASSERT_EQ(openChannels(), 0);
    HMENU bar = GetMenu(window);
    const std::vector<std::wstring> titles = {L"Fichier", L"Filtres",   L"Commandes", L"Captures",
                                              L"Chaînes", L"Programme", L"Aide"};
    ASSERT_EQ(GetMenuItemCount(bar), 7);
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(menuText(bar, i, MF_BYPOSITION), titles[i]);

    HMENU channels = GetSubMenu(bar, 4);
    ASSERT_EQ(GetMenuItemCount(channels), 3);
    for (UINT i = 0; i < 3; ++i)
        EXPECT_EQ(GetMenuItemID(channels, i), i);
    EXPECT_EQ(menuText(channels, 0, MF_BYPOSITION), L"2: France 2");
    EXPECT_EQ(menuText(channels, 1, MF_BYPOSITION), L"1: TF1 && Co");
    char ansi[64] = {};
    GetMenuStringA(channels, 2, ansi, 64, MF_BYPOSITION);
    EXPECT_STREQ(ansi, "14: Ch\xE9rie 25");

    EXPECT_TRUE(checked(IDM_PREFER_AC3));
    EXPECT_TRUE(checked(IDM_FULL_WIDTH));
    EXPECT_FALSE(checked(IDM_SEND_NOW_PLAYING));
    EXPECT_TRUE(checked(IDM_PRIORITY_BELOW_NORMAL));
    EXPECT_FALSE(checked(IDM_PRIORITY_HIGH));
    EXPECT_FALSE(checked(IDM_PRIORITY_NORMAL));
    EXPECT_FALSE(checked(IDM_PRIORITY_ABOVE_NORMAL));
    EXPECT_TRUE(appConfig().alwaysOnTop);
    EXPECT_TRUE(checked(IDM_ALWAYS_ON_TOP));
    EXPECT_NE(GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_TOPMOST, 0);
}

TEST_F(MainWindowTest, CommandsFlipSettingsAndSavePriorities) {
    HWND window = createWindow();
    SendMessageW(window, WM_COMMAND, IDM_PRIORITY_NORMAL, 0);
    EXPECT_EQ(GetPriorityClass(GetCurrentProcess()), DWORD(NORMAL_PRIORITY_CLASS));
    EXPECT_TRUE(checked(IDM_PRIORITY_NORMAL));
    EXPECT_FALSE(checked(IDM_PRIORITY_ABOVE_NORMAL));
    EXPECT_EQ(configValue(L"Priorité"), L"Normale");
    SendMessageW(window, WM_COMMAND, IDM_PRIORITY_HIGH, 0);
    EXPECT_EQ(configValue(L"Priorité"), L"Haute");
    EXPECT_FALSE(checked(IDM_PRIORITY_NORMAL));

    SendMessageW(window, WM_COMMAND, IDM_PREFER_AC3, 0);
    EXPECT_TRUE(appConfig().preferAc3);
    EXPECT_TRUE(checked(IDM_PREFER_AC3));
    SendMessageW(window, WM_COMMAND, IDM_PREFER_AC3, 0);
    EXPECT_FALSE(appConfig().preferAc3);
    EXPECT_FALSE(checked(IDM_PREFER_AC3));

    SendMessageW(window, WM_COMMAND, IDM_ALWAYS_ON_TOP, 0);
    EXPECT_TRUE(appConfig().alwaysOnTop);
    EXPECT_NE(GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_TOPMOST, 0);
    SendMessageW(window, WM_COMMAND, IDM_ALWAYS_ON_TOP, 0);
    EXPECT_FALSE(appConfig().alwaysOnTop);
    EXPECT_EQ(GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_TOPMOST, 0);
    EXPECT_FALSE(checked(IDM_ALWAYS_ON_TOP));

    appState().fullScreen = true;
    toggleAlwaysOnTop();
    EXPECT_FALSE(appConfig().alwaysOnTop);
}

TEST_F(MainWindowTest, MenuStatesChangeOnlyWhileTheMenuIsAttached) {
    HWND window = createWindow();
    appState().recordingGeneration = 1;
    refreshRecordingItems();
    EXPECT_TRUE(appState().recording());
    EXPECT_NE(stateOf(IDM_RECORD_MULTIPLEX) & MF_GRAYED, 0u);
    EXPECT_NE(stateOf(IDM_RECORD_CHANNEL_TS) & MF_GRAYED, 0u);
    EXPECT_NE(stateOf(IDM_RECORD_CHANNEL_PS) & MF_GRAYED, 0u);
    EXPECT_EQ(stateOf(IDM_STOP_RECORDING) & (MF_GRAYED | MF_DISABLED), 0u);

    // The context menu's copy keeps the gray and check states, flat.
    setMenuCheck(IDM_PREFER_AC3, true);
    HMENU captures = copyMenu(GetSubMenu(GetMenu(window), 3));
    HMENU commands = copyMenu(GetSubMenu(GetMenu(window), 2));
    EXPECT_EQ(GetMenuItemCount(captures), GetMenuItemCount(GetSubMenu(GetMenu(window), 3)));
    EXPECT_NE(GetMenuState(captures, IDM_RECORD_MULTIPLEX, MF_BYCOMMAND) & MF_GRAYED, 0u);
    EXPECT_EQ(GetMenuState(captures, IDM_STOP_RECORDING, MF_BYCOMMAND) & MF_GRAYED, 0u);
    EXPECT_NE(GetMenuState(commands, IDM_PREFER_AC3, MF_BYCOMMAND) & MF_CHECKED, 0u);
    EXPECT_EQ(menuText(captures, IDM_STOP_RECORDING, MF_BYCOMMAND),
              L"Stopper l'enregistrement\tCtrl+Entrée");
    EXPECT_NE(GetMenuState(captures, 4, MF_BYPOSITION) & MF_SEPARATOR, 0u);
    DestroyMenu(captures);
    DestroyMenu(commands);

    // Detached (compact mode, full screen): only the flag changes.
    HMENU bar = GetMenu(window);
    SetMenu(window, nullptr);
    appState().recordingGeneration = 0;
    refreshRecordingItems();
    setMenuCheck(IDM_PREFER_AC3, false);
    EXPECT_FALSE(appState().recording());
    SetMenu(window, bar);
    EXPECT_NE(stateOf(IDM_RECORD_MULTIPLEX) & MF_GRAYED, 0u);
    EXPECT_TRUE(checked(IDM_PREFER_AC3));
    refreshRecordingItems();
    EXPECT_EQ(stateOf(IDM_RECORD_MULTIPLEX) & (MF_GRAYED | MF_DISABLED), 0u);
    EXPECT_NE(stateOf(IDM_STOP_RECORDING) & MF_GRAYED, 0u);
}

TEST_F(MainWindowTest, StatusBarEdgesFollowTheWindowWidth) {
    HWND window = createWindow();
    for (int width : {420, 1100}) {
        SetWindowPos(window, nullptr, 0, 0, width, 400, SWP_NOMOVE | SWP_NOZORDER);
        RECT client{}, bar{};
        GetClientRect(window, &client);
        GetWindowRect(appState().statusBar, &bar);
        const int barWidth = bar.right - bar.left;
        EXPECT_EQ(barWidth, client.right) << width;
        const int extra = barWidth > 500 ? (barWidth - 500) / 2 : 0;
        if (width > 1000)
            EXPECT_GT(extra, 200);
        else
            EXPECT_EQ(extra, 0);
        EXPECT_EQ(statusBarParts(), (std::vector<int>{100, 160, 300 + extra, 360 + extra, -1}));
    }
}

TEST_F(MainWindowTest, StatusBarShowsTheCurrentChannelAndItsGuide) {
    ChannelInfo arte = channel(7, "Arte");
    arte.present.startTime = 1;
    arte.present.startText.assign("20:45:00");
    arte.present.title.assign("Le film");
    arte.following.startTime = 2;
    arte.following.startText.assign("22:30:00");
    arte.following.title.assign("Documentaire");
    channelList().append(channel(1, "TF1"));
    channelList().append(arte);
    createWindow();

    refreshChannelInfo();
    char text[256] = {};
    SendMessageA(appState().statusBar, SB_GETTEXTA, 0, reinterpret_cast<LPARAM>(text));
    EXPECT_STREQ(text, "");

    channelList().setCurrentIndex(1);
    refreshChannelInfo();
    const char* expected[] = {"Arte", "20:45:00", "Le film", "22:30:00", "Documentaire"};
    for (int part = 0; part < 5; ++part) {
        SendMessageA(appState().statusBar, SB_GETTEXTA, part, reinterpret_cast<LPARAM>(text));
        EXPECT_STREQ(text, expected[part]) << part;
    }

    // A status bar made again (leaving compact mode) shows the channel at once.
    DestroyWindow(appState().statusBar);
    createStatusBar();
    SendMessageA(appState().statusBar, SB_GETTEXTA, 2, reinterpret_cast<LPARAM>(text));
    EXPECT_STREQ(text, "Le film");
}

TEST_F(MainWindowTest, SettingsSaveTheWindowRectangleAndTheWatchedChannel) {
    writeConfigValue(L"Abscisse fenêtre", L"30");
    writeConfigValue(L"Ordonnée fenêtre", L"40");
    writeConfigValue(L"Largeur fenêtre", L"500");
    writeConfigValue(L"Hauteur fenêtre", L"400");
    writeConfigValue(L"Index chaine courante", L"5");
    writeConfigValue(L"Récepteur TNT", L"Récepteur é");
    loadConfig();
    EXPECT_EQ(appConfig().receiverName, u"Récepteur é");
    EXPECT_EQ(appConfig().startChannelIndex, 5);
    EXPECT_EQ(appConfig().videoFolder, std::u16string(folder_.begin(), folder_.end()));
    HWND window = createWindow();
    RECT r{};
    GetWindowRect(window, &r);
    EXPECT_EQ(r.left, 30);
    EXPECT_EQ(r.top, 40);

    channelList().append(channel(1, "TF1"));
    channelList().setCurrentIndex(0);
    SetWindowPos(window, nullptr, 60, 70, 640, 480, SWP_NOZORDER);
    saveConfig();
    EXPECT_EQ(configValue(L"Abscisse fenêtre"), L"60");
    EXPECT_EQ(configValue(L"Ordonnée fenêtre"), L"70");
    EXPECT_EQ(configValue(L"Largeur fenêtre"), L"640");
    EXPECT_EQ(configValue(L"Hauteur fenêtre"), L"480");
    EXPECT_EQ(configValue(L"Index chaine courante"), L"0");
    EXPECT_EQ(configValue(L"Récepteur TNT"), L"Récepteur é");

    // Minimised, the restored rectangle is kept rather than the parking place.
    ShowWindow(window, SW_MINIMIZE);
    ASSERT_TRUE(IsIconic(window));
    saveConfig();
    EXPECT_EQ(configValue(L"Abscisse fenêtre"), L"60");
    EXPECT_EQ(configValue(L"Largeur fenêtre"), L"640");

    // Once the window is gone, the last rectangle saved is written again.
    DestroyWindow(window);
    saveConfig();
    EXPECT_EQ(configValue(L"Ordonnée fenêtre"), L"70");
    EXPECT_EQ(configValue(L"Hauteur fenêtre"), L"480");
}

TEST_F(MainWindowTest, EndOfSessionSavesTheSettingsOnlyWhenTheSessionReallyEnds) {
    HWND window = createWindow();
    appConfig().zoomPercent = 140;
    SendMessageW(window, WM_ENDSESSION, FALSE, 0);
    EXPECT_EQ(configValue(L"Facteur de zoom"), L"<absent>");
    SendMessageW(window, WM_ENDSESSION, TRUE, 0);
    EXPECT_EQ(configValue(L"Facteur de zoom"), L"140");
    EXPECT_TRUE(IsWindow(window));
}

} // namespace
} // namespace korvane
