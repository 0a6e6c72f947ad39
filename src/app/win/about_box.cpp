#include "app/win/about_box.h"

#include "app/win/app_state.h"
#include "app/win/hyperlink.h"
#include "res/resource.h"

#include <shellapi.h>

namespace korvane {

INT_PTR CALLBACK AboutBox(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        return makeHyperlink(GetDlgItem(dialog, IDC_ABOUT_LINK));
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, 0);
            return TRUE;
        }
        // A click; a double click is a click and a STN_DBLCLK, and opens the site once.
        if (LOWORD(wParam) == IDC_ABOUT_LINK) {
            if (HIWORD(wParam) == STN_CLICKED)
                ShellExecuteW(dialog, L"open", kWebSiteOpened, nullptr, nullptr, SW_SHOWNORMAL);
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}

void showAboutBox(HWND owner) {
    DialogBoxParamW(appInstance(), MAKEINTRESOURCEW(IDD_ABOUT), owner, AboutBox, 0);
}

} // namespace korvane
