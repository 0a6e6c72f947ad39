#include "app/win/app_state.h"
#include "app/win/main_window.h"
#include "app/win/shell_commands.h"
#include "res/resource.h"

#include <gtest/gtest.h>
#include <shlobj.h>
#include <windows.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace korvane {
namespace {

// Waits on another thread for a dialog box of the user-interface thread, notes what it
// shows, then acts on it (the dialog runs a modal loop on the test's own thread).
class DialogWatcher {
  public:
    explicit DialogWatcher(std::function<void(HWND)> act)
        : uiThread_(GetCurrentThreadId()), act_(std::move(act)), thread_([this] { watch(); }) {}
    ~DialogWatcher() {
        stop_ = true;
        thread_.join();
    }
    bool seen() const { return seen_; }
    HWND owner() const { return owner_; }
    std::wstring texts() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return texts_;
    }

  private:
    static BOOL CALLBACK findDialog(HWND window, LPARAM data) {
        wchar_t name[16] = {};
        GetClassNameW(window, name, 16);
        if (std::wstring(name) == L"#32770" && IsWindowVisible(window)) {
            *reinterpret_cast<HWND*>(data) = window;
            return FALSE;
        }
        return TRUE;
    }
    static BOOL CALLBACK collect(HWND child, LPARAM data) {
        wchar_t text[512] = {};
        GetWindowTextW(child, text, 512);
        *reinterpret_cast<std::wstring*>(data) += std::wstring(text) + L"\n";
        return TRUE;
    }
    void watch() {
        for (int i = 0; i < 600 && !stop_; ++i) {
            HWND dialog = nullptr;
            EnumThreadWindows(uiThread_, findDialog, reinterpret_cast<LPARAM>(&dialog));
            if (dialog) {
                Sleep(300);
                std::wstring texts;
                EnumChildWindows(dialog, collect, reinterpret_cast<LPARAM>(&texts));
                {
                    std::lock_guard<std::mutex> lock(mutex_);
                    texts_ = texts;
                }
                owner_ = GetWindow(dialog, GW_OWNER);
                seen_ = true;
                act_(dialog);
                return;
            }
            Sleep(50);
        }
    }

    DWORD uiThread_;
    std::function<void(HWND)> act_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> seen_{false};
    std::atomic<HWND> owner_{nullptr};
    mutable std::mutex mutex_;
    std::wstring texts_;
    std::thread thread_;
};

void pressOk(HWND dialog) {
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
}
void pressCancel(HWND dialog) {
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
}

int cursorCount() {
    ShowCursor(TRUE);
    return ShowCursor(FALSE);
}

// An object that answers IUnknown only, as a filter without property pages would.
class PlainObject : public IUnknown {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (iid == IID_IUnknown) {
            *out = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override { return --references; }
    ULONG references = 1;
};

class ShellCommandsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        GetCurrentDirectoryW(MAX_PATH, previous_);
        folder_ = std::wstring(temp) + L"korvane-commands-" +
                  std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(GetTickCount());
        CreateDirectoryW(folder_.c_str(), nullptr);
        SetCurrentDirectoryW(folder_.c_str());
        appConfig() = AppConfig{};
        appConfig().videoFolder = u"C:\\avant";
        appConfig().screenshotFolder = u"C:\\images";
        appState() = AppState{};
        ASSERT_TRUE(registerMainWindowClass(GetModuleHandleW(nullptr)));
        window_ = createMainWindow(GetModuleHandleW(nullptr), appConfig());
        ASSERT_NE(window_, nullptr);
        ShowWindow(window_, SW_SHOWNORMAL);
    }
    void TearDown() override {
        DestroyWindow(window_);
        appState() = AppState{};
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            ;
        SetCurrentDirectoryW(previous_);
        DeleteFileW(configPath().c_str());
        RemoveDirectoryW(folder_.c_str());
        CoUninitialize();
    }
    std::wstring configPath() const { return folder_ + L"\\config.ini"; }
    bool configExists() const {
        return GetFileAttributesW(configPath().c_str()) != INVALID_FILE_ATTRIBUTES;
    }

    wchar_t previous_[MAX_PATH] = {};
    std::wstring folder_;
    HWND window_ = nullptr;
};

TEST_F(ShellCommandsTest, CancelledFolderBrowserChangesNothing) {
    const int cursor = cursorCount();
    DialogWatcher watcher(pressCancel);
    SendMessageW(window_, WM_COMMAND, IDM_VIDEO_FOLDER, 0);
    ASSERT_TRUE(watcher.seen());
    EXPECT_NE(watcher.texts().find(L"Choisissez le répertoire où seront enregistrées les vidéos :"),
              std::wstring::npos)
        << std::string(watcher.texts().begin(), watcher.texts().end());
    EXPECT_EQ(watcher.owner(), window_);
    EXPECT_EQ(appConfig().videoFolder, u"C:\\avant");
    EXPECT_FALSE(configExists());
    EXPECT_EQ(cursorCount(), cursor);
}

TEST_F(ShellCommandsTest, ChosenScreenshotFolderIsStoredAndSaved) {
    PIDLIST_ABSOLUTE item = ILCreateFromPathW(folder_.c_str());
    ASSERT_NE(item, nullptr);
    DialogWatcher watcher([item](HWND dialog) {
        SendMessageW(dialog, BFFM_SETSELECTIONW, FALSE, reinterpret_cast<LPARAM>(item));
        Sleep(300);
        pressOk(dialog);
    });
    SendMessageW(window_, WM_COMMAND, IDM_SCREENSHOT_FOLDER, 0);
    ILFree(item);
    ASSERT_TRUE(watcher.seen());
    EXPECT_NE(watcher.texts().find(
                  L"Choisissez le répertoire où seront enregistrées les captures d'écran :"),
              std::wstring::npos);
    EXPECT_EQ(appConfig().screenshotFolder, std::u16string(folder_.begin(), folder_.end()));
    EXPECT_EQ(appConfig().videoFolder, u"C:\\avant");
    wchar_t saved[1024] = {};
    GetPrivateProfileStringW(L"Config", L"Répertoire screenshots", L"", saved, 1024,
                             configPath().c_str());
    EXPECT_EQ(std::wstring(saved), folder_);
}

TEST_F(ShellCommandsTest, PropertyPagesOfAMissingFilterOrOneWithoutPagesAreRefused) {
    {
        DialogWatcher watcher(pressOk);
        showFilterProperties(nullptr, L"VMR");
        ASSERT_TRUE(watcher.seen());
        EXPECT_NE(watcher.texts().find(
                      L"Il faut d'abord configurer un filtre et redémarrer l'application"),
                  std::wstring::npos);
        EXPECT_EQ(watcher.owner(), window_);
    }
    PlainObject plain;
    {
        DialogWatcher watcher(pressOk);
        showFilterProperties(&plain, L"Demux");
        ASSERT_TRUE(watcher.seen());
        EXPECT_NE(watcher.texts().find(L"Ce filtre n'a pas de property page"), std::wstring::npos);
    }
    EXPECT_EQ(plain.references, 1u);
}

} // namespace
} // namespace korvane
