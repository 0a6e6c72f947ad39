#pragma once

#include <windows.h>

namespace korvane {

// The main window's commands of the picture, the window modes and the small dialogs: About,
// filter property pages, screenshot, full screen, mute, signal quality, programme guide,
// volume and zoom. False for any other command.
bool runPictureCommand(HWND window, UINT command);

// The main window's timers 124 (single click), 125 (on-screen display) and 126 (cursor);
// false for any other timer.
bool handlePictureTimer(HWND window, UINT_PTR timer);

} // namespace korvane
