#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace korvane::testing {

// The message text of a message box (its static text control).
inline std::wstring messageBoxText(HWND box) {
    wchar_t text[1024] = {};
    GetDlgItemTextW(box, 0xFFFF, text, 1024);
    return text;
}

// The caption of a window.
inline std::wstring windowTitle(HWND window) {
    wchar_t text[256] = {};
    GetWindowTextW(window, text, 256);
    return text;
}

// Watches, on a thread of its own, every dialog box the user-interface thread shows while
// it lives, in order: each new one is handed to `act`, which answers it (by default the
// message text is noted and OK pressed). What `act` returns is kept.
class BoxCollector {
  public:
    using Act = std::function<std::wstring(HWND)>;

    static std::wstring pressOk(HWND box) {
        std::wstring text = messageBoxText(box);
        PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        return text;
    }

    explicit BoxCollector(Act act = &BoxCollector::pressOk)
        : uiThread_(GetCurrentThreadId()), act_(std::move(act)), thread_([this] { watch(); }) {}
    ~BoxCollector() {
        stop_ = true;
        thread_.join();
    }
    BoxCollector(const BoxCollector&) = delete;
    BoxCollector& operator=(const BoxCollector&) = delete;

    std::vector<std::wstring> seen() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return seen_;
    }

  private:
    static BOOL CALLBACK findDialogs(HWND window, LPARAM data) {
        wchar_t name[16] = {};
        GetClassNameW(window, name, 16);
        if (std::wstring(name) == L"#32770" && IsWindowVisible(window))
            reinterpret_cast<std::vector<HWND>*>(data)->push_back(window);
        return TRUE;
    }
    void watch() {
        std::set<HWND> answered;
        while (!stop_) {
            std::vector<HWND> dialogs;
            EnumThreadWindows(uiThread_, findDialogs, reinterpret_cast<LPARAM>(&dialogs));
            // A handle answered earlier may be given to a new window once the old one is gone.
            for (auto it = answered.begin(); it != answered.end();)
                it = IsWindow(*it) ? std::next(it) : answered.erase(it);
            for (HWND dialog : dialogs) {
                if (answered.count(dialog))
                    continue;
                Sleep(50); // let it finish its initialisation
                answered.insert(dialog);
                std::wstring result = act_(dialog);
                std::lock_guard<std::mutex> lock(mutex_);
                seen_.push_back(std::move(result));
            }
            Sleep(20);
        }
    }

    DWORD uiThread_;
    Act act_;
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    std::vector<std::wstring> seen_;
    std::thread thread_;
};

} // namespace korvane::testing
