#pragma once

#include <windows.h>

namespace korvane {

// Turns a static control into a hyperlink: dark blue text, underlined while the pointer is
// over it, the hand cursor, clicks reported to the parent as WM_COMMAND (SS_NOTIFY). All its
// state lives in window properties of the control and its parent, and both are put back, and
// the underlined font deleted, when they are destroyed.
BOOL makeHyperlink(HWND control);

// The colour of the link text.
inline constexpr COLORREF kHyperlinkColor = RGB(0, 0, 192);

} // namespace korvane
