#include "app/win/tray_icon.h"

#include "app/win/app_state.h"
#include "app/win/config_store.h"
#include "app/win/menu_state.h"
#include "app/win/schedule_store.h"
#include "app/win/scheduler.h"
#include "res/resource.h"

#include <shellapi.h>

#include <cwchar>
#include <iterator>
#include <optional>

namespace korvane {

namespace {

constexpr UINT kIconId = 1;
constexpr UINT kTooltipPeriodMs = 15000;
constexpr const wchar_t* kWatcherClass = L"Korvane TV schedule watcher";

LRESULT CALLBACK ScheduleWatcher(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kSchedulesChangedMessage) {
        refreshTrayTooltip();
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// A message-only window that the schedule store tells of its changes while the icon shows,
// so that the tooltip follows at once.
class ScheduleWatcherWindow {
  public:
    ScheduleWatcherWindow() {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = ScheduleWatcher;
        windowClass.hInstance = appInstance();
        windowClass.lpszClassName = kWatcherClass;
        RegisterClassW(&windowClass);
        window_ = CreateWindowExW(0, kWatcherClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  appInstance(), nullptr);
        if (window_)
            addScheduleWatcher(window_);
    }
    ScheduleWatcherWindow(const ScheduleWatcherWindow&) = delete;
    ScheduleWatcherWindow& operator=(const ScheduleWatcherWindow&) = delete;
    ~ScheduleWatcherWindow() {
        if (!window_)
            return;
        removeScheduleWatcher(window_);
        DestroyWindow(window_);
    }

  private:
    HWND window_ = nullptr;
};

// The icon in the notification area, removed when this goes (the main window's end, or the
// process's at the latest).
class TrayIcon {
  public:
    TrayIcon() = default;
    TrayIcon(const TrayIcon&) = delete;
    TrayIcon& operator=(const TrayIcon&) = delete;
    ~TrayIcon() { remove(); }

    bool shown() const { return window_ != nullptr; }
    const std::wstring& tooltip() const { return tooltip_; }

    bool show(HWND window, const std::wstring& tooltip) {
        remove();
        NOTIFYICONDATAW data = describe(window, tooltip);
        data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
        data.uCallbackMessage = kTrayIconMessage;
        data.hIcon = static_cast<HICON>(LoadImageW(appInstance(), MAKEINTRESOURCEW(IDI_MAIN),
                                                   IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                                   GetSystemMetrics(SM_CYSMICON), LR_SHARED));
        if (!Shell_NotifyIconW(NIM_ADD, &data))
            return false;
        window_ = window;
        tooltip_ = tooltip;
        watcher_.emplace();
        return true;
    }

    void setTooltip(const std::wstring& tooltip) {
        if (!window_ || tooltip == tooltip_)
            return;
        NOTIFYICONDATAW data = describe(window_, tooltip);
        data.uFlags = NIF_TIP;
        if (Shell_NotifyIconW(NIM_MODIFY, &data))
            tooltip_ = tooltip;
    }

    void remove() {
        if (!window_)
            return;
        NOTIFYICONDATAW data = describe(window_, L"");
        Shell_NotifyIconW(NIM_DELETE, &data);
        watcher_.reset();
        window_ = nullptr;
        tooltip_.clear();
    }

  private:
    static NOTIFYICONDATAW describe(HWND window, const std::wstring& tooltip) {
        NOTIFYICONDATAW data{};
        data.cbSize = sizeof(data);
        data.hWnd = window;
        data.uID = kIconId;
        // The tip's buffer holds 127 characters and the terminator; longer texts are cut.
        wcsncpy(data.szTip, tooltip.c_str(), std::size(data.szTip) - 1);
        return data;
    }

    HWND window_ = nullptr;
    std::wstring tooltip_;
    std::optional<ScheduleWatcherWindow> watcher_;
};

TrayIcon& trayIcon() {
    static TrayIcon icon;
    return icon;
}

// What records, else what comes next, under the program's name.
std::wstring tooltipText() {
    std::wstring text = L"Korvane TV\n";
    text += scheduleStatusText();
    if (text.size() > 127)
        text.resize(127);
    return text;
}

UINT taskbarCreatedMessage() {
    static const UINT message = RegisterWindowMessageW(L"TaskbarCreated");
    return message;
}

} // namespace

void toggleMinimizeToTray() {
    AppConfig& config = appConfig();
    config.minimizeToTray = !config.minimizeToTray;
    setMenuCheck(IDM_MINIMIZE_TO_TRAY, config.minimizeToTray);
    saveConfig();
    if (!config.minimizeToTray && trayIconShown())
        restoreFromTray(appState().mainWindow);
}

bool minimizeToTrayIfChosen(HWND window, WPARAM sizeType) {
    if (sizeType != SIZE_MINIMIZED || !appConfig().minimizeToTray)
        return false;
    // Without an icon the window would be lost from sight: it then stays on the task bar.
    if (!trayIcon().show(window, tooltipText()))
        return false;
    ShowWindow(window, SW_HIDE);
    SetTimer(window, kTrayTooltipTimer, kTooltipPeriodMs, nullptr);
    return true;
}

void restoreFromTray(HWND window) {
    KillTimer(window, kTrayTooltipTimer);
    trayIcon().remove();
    ShowWindow(window, SW_SHOW);
    ShowWindow(window, SW_RESTORE);
    SetForegroundWindow(window);
}

void onTrayIconMessage(HWND window, LPARAM mouseMessage) {
    const UINT mouse = static_cast<UINT>(mouseMessage);
    if (mouse == WM_LBUTTONUP || mouse == WM_LBUTTONDBLCLK || mouse == WM_RBUTTONUP)
        restoreFromTray(window);
}

void refreshTrayTooltip() {
    if (trayIcon().shown())
        trayIcon().setTooltip(tooltipText());
}

bool onTaskbarRestarted(HWND window, UINT message) {
    if (message == 0 || message != taskbarCreatedMessage())
        return false;
    if (trayIcon().shown())
        trayIcon().show(window, tooltipText());
    return true;
}

void removeTrayIcon() {
    trayIcon().remove();
}

bool trayIconShown() {
    return trayIcon().shown();
}

std::wstring trayIconTooltip() {
    return trayIcon().tooltip();
}

} // namespace korvane
