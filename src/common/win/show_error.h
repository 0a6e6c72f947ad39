#pragma once

#include <windows.h>

namespace korvane {

// The window that owns every error box (the main window once it exists).
void setErrorOwner(HWND owner);
// A French text in an error box owned by the main window, with the system's default caption.
void showError(const wchar_t* text);

} // namespace korvane
