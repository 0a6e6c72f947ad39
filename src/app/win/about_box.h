#pragma once

#include <windows.h>

namespace korvane {

// The address shown by the About box's link; the link opens it with a closing "/".
inline constexpr const wchar_t* kWebSiteShown = L"http://www.korvane.tv";
inline constexpr const wchar_t* kWebSiteOpened = L"http://www.korvane.tv/";

// The procedure of dialog 104, "A propos".
INT_PTR CALLBACK AboutBox(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// The About box, modal, owned by the main window.
void showAboutBox(HWND owner);

} // namespace korvane
