#include "si/win/scan_win.h"

#include "res/resource.h"

#include <commctrl.h>

#include <string>

namespace korvane {

namespace {

INT_PTR CALLBACK scanDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        SetWindowLongPtrW(dialog, GWLP_USERDATA, lParam);
        return TRUE;
    case WM_COMMAND:
        // Escape and the close box arrive as IDCANCEL.
        if (LOWORD(wParam) == IDCANCEL) {
            if (auto* stop =
                    reinterpret_cast<ScanStopFlag*>(GetWindowLongPtrW(dialog, GWLP_USERDATA)))
                stop->request(ScanStop::Cancelled);
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}

} // namespace

void DialogScanProgress::setRange(int count) {
    const int top = count < 0 ? 0 : (count > 0xFFFF ? 0xFFFF : count);
    SendDlgItemMessageW(dialog_, IDC_SCAN_PROGRESS, PBM_SETRANGE, 0, MAKELPARAM(0, top));
}

void DialogScanProgress::setPosition(int position) {
    SendDlgItemMessageW(dialog_, IDC_SCAN_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void DialogScanProgress::addName(std::string_view name) {
    const std::string text(name);
    SendDlgItemMessageA(dialog_, IDC_SCAN_NAMES, LB_ADDSTRING, 0,
                        reinterpret_cast<LPARAM>(text.c_str()));
}

void DialogScanProgress::end() {
    EndDialog(dialog_, 0);
}

void ModalScanDialog::runModal() {
    DialogBoxParamW(instance_, MAKEINTRESOURCEW(resourceId_), owner_, scanDialogProc,
                    reinterpret_cast<LPARAM>(stop_));
}

bool isScanStartIdle(const ScanState& state, WPARAM wParam) {
    return wParam == MSGF_DIALOGBOX && state.scanPending && !state.scanRunning;
}

} // namespace korvane
