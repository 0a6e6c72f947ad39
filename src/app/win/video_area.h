#pragma once

#include <windows.h>

namespace korvane {

// Window timer of the on-screen display: the window is redrawn when it expires, which removes
// texts whose 3 seconds are over.
inline constexpr UINT_PTR kOsdTimer = 125;

// Places the picture in the client area above the status bar, with the zoom and full-width
// mode, through the renderer's windowless control. Does nothing while there is no control.
void layoutVideo();

// Redraws the main window now and again in 3 seconds.
void showOsd();
// The timer's expiry.
void onOsdTimer(HWND window);

// WM_PAINT: the on-screen texts over the letterboxed picture area.
void paintOsd(HWND window);

// WM_DISPLAYCHANGE: tells the renderer, when there is one.
void onDisplayChange();

// The zoom commands: "Zoomer", "Dezoomer", "Utilise toute la largeur", "Zoom par défaut".
void zoomCommand(UINT command);

} // namespace korvane
