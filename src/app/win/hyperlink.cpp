#include "app/win/hyperlink.h"

#include <windowsx.h>

namespace korvane {

namespace {

constexpr const wchar_t* kOriginalProc = L"_Hyperlink_Original_Proc_";
constexpr const wchar_t* kOriginalFont = L"_Hyperlink_Original_Font_";
constexpr const wchar_t* kUnderlineFont = L"_Hyperlink_Underline_Font_";
constexpr const wchar_t* kFromStatic = L"_Hyperlink_From_Static_";

WNDPROC originalProc(HWND window) {
    return reinterpret_cast<WNDPROC>(GetPropW(window, kOriginalProc));
}

// Puts the window's own procedure back and forgets it.
WNDPROC unsubclass(HWND window) {
    WNDPROC original = originalProc(window);
    SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original));
    RemovePropW(window, kOriginalProc);
    return original;
}

void showFont(HWND control, const wchar_t* property) {
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(GetPropW(control, property)), FALSE);
    InvalidateRect(control, nullptr, FALSE);
}

bool pointerInside(HWND control, LPARAM position) {
    POINT at{GET_X_LPARAM(position), GET_Y_LPARAM(position)};
    ClientToScreen(control, &at);
    RECT r{};
    GetWindowRect(control, &r);
    return PtInRect(&r, at) != FALSE;
}

void forgetLink(HWND control) {
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(GetPropW(control, kOriginalFont)),
                 FALSE);
    RemovePropW(control, kOriginalFont);
    if (HANDLE underline = GetPropW(control, kUnderlineFont))
        DeleteObject(static_cast<HGDIOBJ>(underline));
    RemovePropW(control, kUnderlineFont);
    RemovePropW(control, kFromStatic);
}

LRESULT CALLBACK linkParentProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    WNDPROC original = originalProc(window);
    if (!original)
        return DefWindowProcW(window, message, wParam, lParam);
    switch (message) {
    case WM_CTLCOLORSTATIC: {
        const LRESULT brush = CallWindowProcW(original, window, message, wParam, lParam);
        if (GetPropW(reinterpret_cast<HWND>(lParam), kFromStatic))
            SetTextColor(reinterpret_cast<HDC>(wParam), kHyperlinkColor);
        return brush;
    }
    case WM_DESTROY:
        return CallWindowProcW(unsubclass(window), window, message, wParam, lParam);
    default:
        return CallWindowProcW(original, window, message, wParam, lParam);
    }
}

LRESULT CALLBACK linkControlProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam) {
    WNDPROC original = originalProc(control);
    if (!original)
        return DefWindowProcW(control, message, wParam, lParam);
    switch (message) {
    case WM_SETCURSOR:
        SetCursor(LoadCursorW(nullptr, IDC_HAND));
        return TRUE;
    case WM_MOUSEMOVE:
        // The capture is the hover state: it lets the control see the pointer leave.
        if (GetCapture() != control) {
            showFont(control, kUnderlineFont);
            SetCapture(control);
        } else if (!pointerInside(control, lParam)) {
            showFont(control, kOriginalFont);
            ReleaseCapture();
        }
        break;
    case WM_CAPTURECHANGED:
        // Capture taken away (another window, a message box): the pointer is no longer known
        // to be over the link.
        if (reinterpret_cast<HWND>(lParam) != control)
            showFont(control, kOriginalFont);
        break;
    case WM_DESTROY:
        unsubclass(control);
        forgetLink(control);
        return CallWindowProcW(original, control, message, wParam, lParam);
    default:
        break;
    }
    return CallWindowProcW(original, control, message, wParam, lParam);
}

HFONT underlined(HFONT font) {
    LOGFONTW description{};
    HGDIOBJ source = font ? static_cast<HGDIOBJ>(font) : GetStockObject(SYSTEM_FONT);
    if (!GetObjectW(source, sizeof(description), &description))
        return nullptr;
    description.lfUnderline = TRUE;
    return CreateFontIndirectW(&description);
}

} // namespace

BOOL makeHyperlink(HWND control) {
    HWND parent = GetParent(control);
    if (parent &&
        reinterpret_cast<WNDPROC>(GetWindowLongPtrW(parent, GWLP_WNDPROC)) != linkParentProc) {
        SetPropW(parent, kOriginalProc,
                 reinterpret_cast<HANDLE>(GetWindowLongPtrW(parent, GWLP_WNDPROC)));
        SetWindowLongPtrW(parent, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(linkParentProc));
    }
    SetWindowLongW(control, GWL_STYLE, GetWindowLongW(control, GWL_STYLE) | SS_NOTIFY);
    SetPropW(control, kOriginalProc,
             reinterpret_cast<HANDLE>(GetWindowLongPtrW(control, GWLP_WNDPROC)));
    SetWindowLongPtrW(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(linkControlProc));
    const HFONT font = reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
    SetPropW(control, kOriginalFont, font);
    SetPropW(control, kUnderlineFont, underlined(font));
    SetPropW(control, kFromStatic, reinterpret_cast<HANDLE>(1));
    return TRUE;
}

} // namespace korvane
