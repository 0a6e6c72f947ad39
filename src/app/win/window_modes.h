#pragma once

#include <windows.h>

namespace korvane {

// Window timers of the mouse: a single click waits 300 ms for a possible double click; the
// full-screen cursor hides 3 seconds after the mouse stopped.
inline constexpr UINT_PTR kClickTimer = 124;
inline constexpr UINT_PTR kCursorTimer = 126;

// Flips alwaysOnTop and makes the main window topmost or not, with the check mark of
// "Rester toujours devant". Does nothing in full screen.
void toggleAlwaysOnTop();

// Compact mode: no caption, menu or status bar, a sizable frame only. Does nothing in full
// screen.
void toggleCompactMode();

// Full screen on the nearest monitor, and back to the saved style and rectangle; a window that
// was compact comes back compact. The cursor is hidden in full screen until the mouse moves.
void toggleFullScreen();

// Shows the cursor in full screen and (re)starts its hide timer.
void revealCursor();

// Mouse messages of the main window.
void onLeftButtonDown();
void onLeftButtonUp(HWND window);
void onLeftButtonDoubleClick(HWND window);
void onMouseMove(WPARAM wParam, LPARAM lParam);
// Moves the window while the left button is held, by the picture.
void dragWindow(WPARAM wParam, LPARAM lParam);

// Timers 124 (single click) and 126 (cursor); false for other timers.
bool handleWindowModeTimer(HWND window, UINT_PTR timer);

} // namespace korvane
