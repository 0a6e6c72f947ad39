#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace korvane::testing {

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

inline void pressOk(HWND dialog) {
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
}
inline void pressCancel(HWND dialog) {
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
}
inline void pressYes(HWND dialog) {
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDYES, BN_CLICKED), 0);
}
inline void pressNo(HWND dialog) {
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDNO, BN_CLICKED), 0);
}

} // namespace korvane::testing
