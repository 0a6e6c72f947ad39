#include "app/win/window_modes.h"

#include "app/picture_controls.h"
#include "app/win/app_state.h"
#include "app/win/menu_state.h"
#include "app/win/status_bar.h"
#include "res/resource.h"

namespace korvane {

namespace {

constexpr LONG kCompactStyle = WS_CLIPCHILDREN | WS_THICKFRAME;
constexpr LONG kFullScreenStyle = WS_CLIPCHILDREN;
constexpr UINT kReframe = SWP_SHOWWINDOW | SWP_FRAMECHANGED;

void destroyStatusBar() {
    AppState& state = appState();
    if (state.statusBar)
        DestroyWindow(state.statusBar);
    state.statusBar = nullptr;
}

void applyCursorChange(int change) {
    if (change > 0)
        ShowCursor(TRUE);
    else if (change < 0)
        ShowCursor(FALSE);
}

ScreenPoint cursorPosition() {
    POINT at{};
    GetCursorPos(&at);
    return ScreenPoint{at.x, at.y};
}

void enterFullScreen(HWND window) {
    AppState& state = appState();
    state.fullScreenSavedStyle = SetWindowLongW(window, GWL_STYLE, kFullScreenStyle);
    if (state.chromeVisible)
        destroyStatusBar();
    GetWindowRect(window, &state.windowedRect);
    if (state.chromeVisible)
        SetMenu(window, nullptr);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor);
    const RECT& r = monitor.rcMonitor;
    SetWindowPos(window, HWND_TOP, r.left, r.top, r.right - r.left, r.bottom - r.top, kReframe);
    applyCursorChange(cursorOnEnter(state.cursorRevealed));
}

void leaveFullScreen(HWND window) {
    AppState& state = appState();
    SetWindowLongW(window, GWL_STYLE, state.fullScreenSavedStyle);
    if (state.chromeVisible) {
        createStatusBar();
        SetMenu(window, state.fullMenu);
    }
    const RECT& r = state.windowedRect;
    SetWindowPos(window, HWND_TOP, r.left, r.top, r.right - r.left, r.bottom - r.top, kReframe);
    bool killTimer = false;
    applyCursorChange(cursorOnLeave(state.cursorRevealed, killTimer));
    if (killTimer)
        KillTimer(window, kCursorTimer);
}

} // namespace

void toggleAlwaysOnTop() {
    AppState& state = appState();
    if (state.fullScreen)
        return;
    AppConfig& config = appConfig();
    config.alwaysOnTop = !config.alwaysOnTop;
    SetWindowPos(state.mainWindow, config.alwaysOnTop ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE);
    setMenuCheck(IDM_ALWAYS_ON_TOP, config.alwaysOnTop);
}

void toggleCompactMode() {
    AppState& state = appState();
    HWND window = state.mainWindow;
    if (state.fullScreen || !window)
        return;
    if (state.chromeVisible) {
        destroyStatusBar();
        SetMenu(window, nullptr);
        state.compactSavedStyle = SetWindowLongW(window, GWL_STYLE, kCompactStyle);
    } else {
        createStatusBar();
        SetMenu(window, state.fullMenu);
        SetWindowLongW(window, GWL_STYLE, state.compactSavedStyle);
    }
    // The compact style lacks WS_VISIBLE: this shows the window again with its new frame.
    SetWindowPos(window, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | kReframe);
    state.chromeVisible = !state.chromeVisible;
}

void toggleFullScreen() {
    AppState& state = appState();
    HWND window = state.mainWindow;
    if (!window)
        return;
    if (state.fullScreen)
        leaveFullScreen(window);
    else
        enterFullScreen(window);
    state.fullScreen = !state.fullScreen;
}

void revealCursor() {
    AppState& state = appState();
    applyCursorChange(cursorOnMove(state.cursorRevealed));
    if (state.mainWindow)
        SetTimer(state.mainWindow, kCursorTimer, kCursorHideMs, nullptr);
}

void onLeftButtonDown() {
    AppState& state = appState();
    const ScreenPoint press = pressPointFor(GetTickCount(), state.activatedAt, cursorPosition());
    state.pressPoint = POINT{press.x, press.y};
}

void onLeftButtonUp(HWND window) {
    const POINT& press = appState().pressPoint;
    if (releaseIsClick(cursorPosition(), ScreenPoint{press.x, press.y}))
        SetTimer(window, kClickTimer, kSingleClickMs, nullptr);
}

void onLeftButtonDoubleClick(HWND window) {
    KillTimer(window, kClickTimer);
    toggleFullScreen();
    // The release that ends the double click starts nothing.
    appState().pressPoint.x = kNoPress;
}

void dragWindow(WPARAM wParam, LPARAM lParam) {
    AppState& state = appState();
    HWND window = state.mainWindow;
    RECT r{};
    if (!window || !GetWindowRect(window, &r))
        return;
    ScreenPoint last{state.dragLast.x, state.dragLast.y};
    const DragMove move =
        dragStep(state.dragging, last, (wParam & MK_LBUTTON) != 0, state.fullScreen,
                 ScreenPoint{r.left, r.top}, LOWORD(lParam), HIWORD(lParam));
    state.dragLast = POINT{last.x, last.y};
    if (move.move)
        MoveWindow(window, move.to.x, move.to.y, r.right - r.left, r.bottom - r.top, TRUE);
}

void onMouseMove(WPARAM wParam, LPARAM lParam) {
    dragWindow(wParam, lParam);
    if (appState().fullScreen)
        revealCursor();
}

bool handleWindowModeTimer(HWND window, UINT_PTR timer) {
    if (timer == kClickTimer) {
        KillTimer(window, kClickTimer);
        toggleCompactMode();
        return true;
    }
    if (timer == kCursorTimer) {
        KillTimer(window, kCursorTimer);
        applyCursorChange(cursorOnTimer(appState().cursorRevealed));
        return true;
    }
    return false;
}

} // namespace korvane
