#include "app/win/main_window.h"

#include "app/win/app_state.h"
#include "app/win/channel_commands.h"
#include "app/win/channel_scan.h"
#include "app/win/graph_events.h"
#include "app/win/graph_wiring.h"
#include "app/win/main_commands.h"
#include "app/win/menu_state.h"
#include "app/win/recording_commands.h"
#include "app/win/rescan_offer.h"
#include "app/win/schedule_store.h"
#include "app/win/scheduler.h"
#include "app/win/session.h"
#include "app/win/status_bar.h"
#include "app/win/subtitle_display.h"
#include "app/win/tray_icon.h"
#include "app/win/video_area.h"
#include "app/win/window_modes.h"
#include "common/win/show_error.h"
#include "common/win/window_messages.h"
#include "res/resource.h"

#include <windowsx.h>

namespace korvane {

namespace {

void onSize(HWND window, WPARAM wParam, LPARAM lParam) {
    if (minimizeToTrayIfChosen(window, wParam))
        return;
    if (HWND bar = appState().statusBar) {
        SendMessageW(bar, WM_SIZE, wParam, lParam);
        layoutStatusBar();
    }
    layoutVideo();
    RedrawWindow(window, nullptr, nullptr, RDW_ERASE | RDW_INVALIDATE);
}

// Up and down step through the channels, digits type a channel number.
void onKeyDown(WPARAM key) {
    if (key == VK_UP)
        previousChannel();
    else if (key == VK_DOWN)
        nextChannel();
    else if (key >= '0' && key <= '9')
        addTypedDigit(static_cast<int>(key - '0'));
    else if (key >= VK_NUMPAD0 && key <= VK_NUMPAD9)
        addTypedDigit(static_cast<int>(key - VK_NUMPAD0));
}

// A notch away from the user is the previous channel, towards the user the next.
void onMouseWheel(WPARAM wParam) {
    const int delta = GET_WHEEL_DELTA_WPARAM(wParam);
    if (delta >= WHEEL_DELTA)
        previousChannel();
    else if (delta <= -WHEEL_DELTA)
        nextChannel();
}

// The PMT decoder changed the PIDs of the channel being watched: map the new ones, and a
// recording of that channel follows them with the track now heard.
void onStreamsChanged() {
    const int32_t current = channelList().currentIndex();
    if (current >= 0 && static_cast<std::size_t>(current) < channelList().size()) {
        selectChannel(static_cast<std::size_t>(current));
        followRecordedChannel();
    }
}

// Channel menu items carry the channel's index as their command.
bool selectChannelByCommand(UINT command) {
    if (command >= channelList().size())
        return false;
    chooseChannel(command);
    return true;
}

} // namespace

bool registerMainWindowClass(HINSTANCE instance) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = CS_DBLCLKS;
    windowClass.lpfnWndProc = MainWindow;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_MAIN));
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = CreateSolidBrush(kVideoColorKey);
    windowClass.lpszMenuName = MAKEINTRESOURCEW(IDR_MAIN_MENU);
    windowClass.lpszClassName = kMainWindowClass;
    if (RegisterClassExW(&windowClass))
        return true;
    const bool registered = GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    DeleteObject(windowClass.hbrBackground);
    return registered;
}

HWND createMainWindow(HINSTANCE instance, const AppConfig& config) {
    return CreateWindowExW(0, kMainWindowClass, kMainWindowTitle,
                           WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN | WS_CLIPSIBLINGS,
                           config.windowLeft, config.windowTop, config.windowWidth,
                           config.windowHeight, nullptr, nullptr, instance, nullptr);
}

void closeMainWindow(HWND window) {
    shutdownSession();
    DestroyWindow(window);
}

bool handleCommand(HWND window, UINT command) {
    if (const MainCommand* entry = findMainCommand(command)) {
        entry->run(window, command);
        return true;
    }
    // The channel menu's own items: the new scan, then the channels by index.
    if (command == IDM_RESCAN_CHANNELS) {
        relaunchChannelScan();
        return true;
    }
    return selectChannelByCommand(command);
}

void showContextMenu(HWND window, LPARAM position) {
    HMENU fullMenu = appState().fullMenu;
    if (!fullMenu)
        return;
    HMENU popup = CreatePopupMenu();
    if (!popup)
        return;
    static const wchar_t* const titles[] = {L"Fichier", L"Filtres", L"Commandes", L"Captures",
                                            L"Chaînes"};
    for (int index = 0; index < 5; ++index) {
        HMENU source = GetSubMenu(fullMenu, index);
        HMENU copy = source ? copyMenu(source) : CreatePopupMenu();
        if (copy)
            AppendMenuW(popup, MF_POPUP, reinterpret_cast<UINT_PTR>(copy), titles[index]);
    }
    // Signed coordinates: monitors left of or above the primary one have negative ones.
    POINT at{GET_X_LPARAM(position), GET_Y_LPARAM(position)};
    if (at.x == -1 && at.y == -1) {
        // Opened from the keyboard: at the top-left corner of the client area.
        at = POINT{0, 0};
        ClientToScreen(window, &at);
    }
    ShowCursor(TRUE);
    TrackPopupMenuEx(popup, TPM_LEFTALIGN | TPM_LEFTBUTTON, at.x, at.y, window, nullptr);
    ShowCursor(FALSE);
    appState().activatedAt = GetTickCount();
    // Destroying the root popup destroys the five copies attached to it.
    DestroyMenu(popup);
}

LRESULT CALLBACK MainWindow(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        appState().mainWindow = window;
        setErrorOwner(window);
        return 0;
    case WM_DESTROY:
        removeTrayIcon();
        setErrorOwner(nullptr);
        PostQuitMessage(0);
        return 0;
    case WM_MOVE:
        layoutVideo();
        return 0;
    case WM_SIZE:
        onSize(window, wParam, lParam);
        return 0;
    case WM_PAINT:
        paintOsd(window);
        return 0;
    case WM_DISPLAYCHANGE:
        onDisplayChange();
        return 0;
    case WM_MOUSEMOVE:
        onMouseMove(wParam, lParam);
        return 0;
    case WM_LBUTTONDOWN:
        onLeftButtonDown();
        return 0;
    case WM_LBUTTONUP:
        onLeftButtonUp(window);
        return 0;
    case WM_LBUTTONDBLCLK:
        onLeftButtonDoubleClick(window);
        return 0;
    case WM_SETFOCUS:
        appState().activatedAt = GetTickCount();
        return 0;
    case WM_CLOSE:
        // During the scan the graph stays until the scan has returned; the start-up then
        // ends the program.
        if (channelScanActive())
            stopChannelScan(false);
        else
            closeMainWindow(window);
        return 0;
    case WM_ENDSESSION:
        // Windows is ending the session: the process ends without WM_CLOSE, so the settings
        // are saved and the graph released here, once a running scan has stopped reading.
        if (wParam) {
            stopChannelScan(true);
            shutdownSession();
        }
        return 0;
    case WM_CONTEXTMENU:
        showContextMenu(window, lParam);
        return 0;
    case WM_SYSCOMMAND:
        // No screen saver and no monitor power-off while the window is active.
        if ((wParam & 0xFFF0) == SC_SCREENSAVE || (wParam & 0xFFF0) == SC_MONITORPOWER)
            return 0;
        break;
    case kGuideUpdatedMessage:
        guideUpdateReceived();
        refreshChannelInfo();
        return 0;
    case kStreamsChangedMessage:
        onStreamsChanged();
        return 0;
    case kChannelFileWriteFailedMessage:
        showError(L"Impossible d'écrire le fichier chaines.xml : la liste des chaînes n'a pas "
                  L"été enregistrée.");
        return 0;
    case kChannelNumbersChangedMessage:
        onChannelNumbersChanged();
        return 0;
    case WM_KEYDOWN:
        onKeyDown(wParam);
        return 0;
    case WM_MOUSEWHEEL:
        onMouseWheel(wParam);
        return 0;
    case WM_TIMER:
        if (wParam == IDT_TYPED_NUMBER) {
            onTypedNumberTimer();
            return 0;
        }
        if (wParam == kOsdTimer) {
            onOsdTimer(window);
            return 0;
        }
        if (wParam == kSubtitleTimer) {
            advanceSubtitles(window);
            return 0;
        }
        if (wParam == kDataWatchTimer) {
            onDataWatchTimer();
            return 0;
        }
        if (wParam == kTrayTooltipTimer) {
            refreshTrayTooltip();
            return 0;
        }
        if (onSchedulerTimer(wParam))
            return 0;
        if (handleWindowModeTimer(window, wParam))
            return 0;
        break;
    case WM_ENTERIDLE:
        onEnterIdle(wParam, lParam);
        return 0;
    case kRecordingFailedMessage:
        // A recorder lost its file: stop the recording and tell the user.
        onRecordingFailed(wParam, lParam);
        return 0;
    case kGraphEventMessage:
        onGraphEvents();
        return 0;
    case kTrayIconMessage:
        onTrayIconMessage(window, lParam);
        return 0;
    case kScheduleNoticeMessage:
        onScheduleNotice();
        return 0;
    case kSchedulesChangedMessage:
        return 0;
    case WM_POWERBROADCAST:
        onPowerBroadcast(wParam);
        return TRUE;
    case WM_TIMECHANGE:
        onTimeChange();
        return 0;
    case kSubtitlesQueuedMessage:
        advanceSubtitles(window);
        return 0;
    case WM_COMMAND:
        if (handleCommand(window, LOWORD(wParam)))
            return 0;
        break;
    default:
        if (onTaskbarRestarted(window, message))
            return 0;
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

} // namespace korvane
