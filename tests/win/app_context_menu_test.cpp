#include "app/win/app_state.h"
#include "app/win/main_commands.h"
#include "app/win/main_window.h"
#include "app/win/menu_state.h"
#include "app/win/session.h"
#include "app/win/status_bar.h"
#include "channels/channel_file.h"
#include "process_state.h"
#include "res/resource.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace korvane {
namespace {

struct ItemSeen {
    UINT id;
    UINT state;
    std::wstring text;
};

struct PopupSeen {
    std::wstring title;
    bool isPopup = false;
    std::vector<ItemSeen> items;
};

// Reads the context menu while it is tracked on the test's thread, then closes it.
class MenuWatcher {
  public:
    explicit MenuWatcher(HWND owner) : owner_(owner), thread_([this] { watch(); }) {}
    ~MenuWatcher() { join(); }
    void join() {
        if (thread_.joinable())
            thread_.join();
    }
    const std::vector<PopupSeen>& popups() const { return popups_; }
    HMENU root() const { return root_; }
    const std::vector<HMENU>& subMenus() const { return subMenus_; }

  private:
    static BOOL CALLBACK findMenuWindow(HWND window, LPARAM data) {
        wchar_t name[16] = {};
        GetClassNameW(window, name, 16);
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        if (std::wstring(name) == L"#32768" && IsWindowVisible(window) &&
            process == GetCurrentProcessId()) {
            *reinterpret_cast<HWND*>(data) = window;
            return FALSE;
        }
        return TRUE;
    }
    void watch() {
        for (int i = 0; i < 200; ++i) {
            HWND menuWindow = nullptr;
            EnumWindows(findMenuWindow, reinterpret_cast<LPARAM>(&menuWindow));
            if (menuWindow) {
                read(reinterpret_cast<HMENU>(SendMessageW(menuWindow, MN_GETHMENU, 0, 0)));
                PostMessageW(menuWindow, WM_KEYDOWN, VK_ESCAPE, 0);
                PostMessageW(owner_, WM_CANCELMODE, 0, 0);
                return;
            }
            Sleep(50);
        }
    }
    void read(HMENU root) {
        root_ = root;
        for (int i = 0; i < GetMenuItemCount(root); ++i) {
            PopupSeen popup;
            wchar_t text[256] = {};
            GetMenuStringW(root, i, text, 256, MF_BYPOSITION);
            popup.title = text;
            HMENU sub = GetSubMenu(root, i);
            popup.isPopup = sub != nullptr;
            subMenus_.push_back(sub);
            for (int j = 0; sub && j < GetMenuItemCount(sub); ++j) {
                GetMenuStringW(sub, j, text, 256, MF_BYPOSITION);
                popup.items.push_back(
                    {GetMenuItemID(sub, j), GetMenuState(sub, j, MF_BYPOSITION), text});
            }
            popups_.push_back(popup);
        }
    }

    HWND owner_;
    std::vector<PopupSeen> popups_;
    HMENU root_ = nullptr;
    std::vector<HMENU> subMenus_;
    std::thread thread_;
};

// A working directory of its own holding a channel file, for the session to load.
class ChannelFileFolder {
  public:
    explicit ChannelFileFolder(const ChannelRecords& records) {
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        GetCurrentDirectoryW(MAX_PATH, previous_);
        folder_ = std::wstring(temp) + L"korvane-context-" + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(folder_.c_str(), nullptr);
        SetCurrentDirectoryW(folder_.c_str());
        const std::string bytes = formatChannelFile(records);
        HANDLE file = CreateFileW(L"chaines.xml", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD written = 0;
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        CloseHandle(file);
    }
    ~ChannelFileFolder() {
        SetCurrentDirectoryW(previous_);
        DeleteFileW((folder_ + L"\\chaines.xml").c_str());
        DeleteFileW((folder_ + L"\\config.ini").c_str());
        RemoveDirectoryW(folder_.c_str());
    }

  private:
    wchar_t previous_[MAX_PATH] = {};
    std::wstring folder_;
};

TEST(ContextMenu, ListsFiveFlatCopiesWithTheirStatesAndLeavesNothingBehind) {
    resetProcessState();
    appConfig().preferAc3 = true;
    ChannelInfo first;
    first.number = 2;
    first.name.assign("France 2");
    ChannelInfo second;
    second.number = 7;
    second.name.assign("Arte");
    ChannelFileFolder channelFile(ChannelRecords{first, second});
    ASSERT_TRUE(registerMainWindowClass(GetModuleHandleW(nullptr)));
    HWND window = createMainWindow(GetModuleHandleW(nullptr), appConfig());
    ASSERT_NE(window, nullptr);
    ShowWindow(window, SW_SHOWNORMAL);
    ASSERT_EQ(openChannels(), 0);
    appState().fullMenu = GetMenu(window);
    appState().recordingGeneration = 1;
    refreshRecordingItems();

    ShowCursor(TRUE);
    const int cursor = ShowCursor(FALSE);
    const DWORD before = GetTickCount();
    MenuWatcher watcher(window);
    SendMessageW(window, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(window), MAKELPARAM(40, 60));
    watcher.join();
    ShowCursor(TRUE);
    EXPECT_EQ(ShowCursor(FALSE), cursor);
    // The click that closed the menu must not count as a click on the picture.
    EXPECT_LT(appState().activatedAt - before, 60000u);

    const auto& popups = watcher.popups();
    ASSERT_EQ(popups.size(), 5u);
    ASSERT_NE(watcher.root(), nullptr);
    EXPECT_FALSE(IsMenu(watcher.root()));
    for (HMENU sub : watcher.subMenus())
        EXPECT_FALSE(IsMenu(sub));
    EXPECT_TRUE(IsMenu(appState().fullMenu));
    const wchar_t* titles[] = {L"Fichier", L"Filtres", L"Commandes", L"Captures", L"Chaînes"};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(popups[i].title, titles[i]);
        EXPECT_TRUE(popups[i].isPopup);
        // The one nested popup: "Sous-titres" in "Commandes", copied with its items.
        for (const ItemSeen& item : popups[i].items) {
            if (item.id == UINT(-1)) {
                EXPECT_TRUE(i == 2 && item.text == L"Sous-titres") << "nested popup in " << i;
            }
        }
    }
    auto find = [&](int popup, UINT id) {
        for (const ItemSeen& item : popups[popup].items)
            if (item.id == id)
                return item;
        ADD_FAILURE() << "missing " << id;
        return ItemSeen{};
    };
    EXPECT_EQ(find(0, IDM_QUIT).text, L"Quitter");
    EXPECT_NE(find(0, IDM_PRIORITY_ABOVE_NORMAL).state & MF_CHECKED, 0u);
    EXPECT_NE(find(2, IDM_PREFER_AC3).state & MF_CHECKED, 0u);
    EXPECT_NE(find(3, IDM_RECORD_MULTIPLEX).state & MF_GRAYED, 0u);
    EXPECT_EQ(find(3, IDM_STOP_RECORDING).state & MF_GRAYED, 0u);
    EXPECT_EQ(find(3, IDM_STOP_RECORDING).text, L"Stopper l'enregistrement\tCtrl+Entrée");
    ASSERT_EQ(popups[4].items.size(), 2u);
    EXPECT_EQ(popups[4].items[0].id, 0u);
    EXPECT_EQ(popups[4].items[0].text, L"2: France 2");
    EXPECT_EQ(popups[4].items[1].id, 1u);
    EXPECT_EQ(popups[4].items[1].text, L"7: Arte");

    DestroyWindow(window);
    resetProcessState();
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
        ;
}

} // namespace
} // namespace korvane
