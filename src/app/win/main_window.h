#pragma once

#include "app/app_config.h"

#include <windows.h>

namespace korvane {

inline constexpr const wchar_t* kMainWindowClass = L"Korvane TV";
inline constexpr const wchar_t* kMainWindowTitle = L"Korvane TV";
// The background of the client area, which is also the video renderer's colour key.
inline constexpr COLORREF kVideoColorKey = RGB(0, 0, 1);

// Registers the window class (double clicks, icon 101, arrow cursor, menu 102, key-colour
// brush). True when the class is usable, also when this module registered it before.
bool registerMainWindowClass(HINSTANCE instance);
// Creates the main window at the configured position and size; null on failure.
HWND createMainWindow(HINSTANCE instance, const AppConfig& config);

LRESULT CALLBACK MainWindow(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The "Quitter" command and the window's close box: the session ends, then the window.
void closeMainWindow(HWND window);

// Runs one menu or accelerator command: a command of the table, else the channel whose
// index it is; false when neither owns the identifier.
bool handleCommand(HWND window, UINT command);

// The context menu: flat copies of the first five menus of the full menu.
void showContextMenu(HWND window, LPARAM position);

} // namespace korvane
