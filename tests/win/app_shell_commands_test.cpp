#include "app/win/app_state.h"
#include "app/win/main_window.h"
#include "app/win/shell_commands.h"
#include "dialog_watcher.h"
#include "process_state.h"
#include "res/resource.h"

#include <commctrl.h>
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

using testing::DialogWatcher;
using testing::pressCancel;
using testing::pressOk;

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
        resetProcessState();
        appConfig().videoFolder = u"C:\\avant";
        appConfig().screenshotFolder = u"C:\\images";
        ASSERT_TRUE(registerMainWindowClass(GetModuleHandleW(nullptr)));
        window_ = createMainWindow(GetModuleHandleW(nullptr), appConfig());
        ASSERT_NE(window_, nullptr);
        ShowWindow(window_, SW_SHOWNORMAL);
    }
    void TearDown() override {
        DestroyWindow(window_);
        resetProcessState();
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

// The text of the item selected in a folder browser's tree.
std::wstring selectedFolderName(HWND dialog) {
    HWND tree = FindWindowExW(dialog, nullptr, WC_TREEVIEWW, nullptr);
    if (!tree)
        return {};
    HTREEITEM selected = TreeView_GetSelection(tree);
    wchar_t text[MAX_PATH] = {};
    TVITEMW item{};
    item.mask = TVIF_TEXT;
    item.hItem = selected;
    item.pszText = text;
    item.cchTextMax = MAX_PATH;
    if (!selected || !TreeView_GetItem(tree, &item))
        return {};
    return text;
}

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
    const std::wstring leaf = folder_.substr(folder_.find_last_of(L'\\') + 1);
    DialogWatcher watcher([item, leaf](HWND dialog) {
        // The browser fills its tree while it opens; under load a selection asked too early
        // is lost, so it is asked again until the tree shows it.
        for (int attempt = 0; attempt < 25 && selectedFolderName(dialog) != leaf; ++attempt) {
            SendMessageW(dialog, BFFM_SETSELECTIONW, FALSE, reinterpret_cast<LPARAM>(item));
            Sleep(200);
        }
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
