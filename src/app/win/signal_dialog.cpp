#include "app/win/signal_dialog.h"

#include "app/win/app_state.h"
#include "graph/media_graph.h"
#include "res/resource.h"

#include <string>

namespace korvane {

namespace {

void showYesNo(HWND dialog, int control, BOOLEAN value) {
    SetDlgItemTextW(dialog, control, value ? L"Oui" : L"Non");
}

void showNumber(HWND dialog, int control, LONG value) {
    SetDlgItemTextW(dialog, control, std::to_wstring(value).c_str());
}

} // namespace

void refreshSignalQuality(HWND dialog) {
    IBDA_SignalStatistics* statistics = mediaGraph().signalStatistics.get();
    if (!statistics)
        return;
    BOOLEAN flag = 0;
    if (SUCCEEDED(statistics->get_SignalLocked(&flag)))
        showYesNo(dialog, IDC_SIGNAL_LOCKED, flag);
    if (SUCCEEDED(statistics->get_SignalPresent(&flag)))
        showYesNo(dialog, IDC_SIGNAL_PRESENT, flag);
    LONG value = 0;
    if (SUCCEEDED(statistics->get_SignalQuality(&value)))
        showNumber(dialog, IDC_SIGNAL_QUALITY, value);
    if (SUCCEEDED(statistics->get_SignalStrength(&value)))
        showNumber(dialog, IDC_SIGNAL_STRENGTH, value);
}

INT_PTR CALLBACK SignalQualityDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        refreshSignalQuality(dialog);
        SetTimer(dialog, kSignalTimer, kSignalRefreshMs, nullptr);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            KillTimer(dialog, kSignalTimer);
            EndDialog(dialog, 0);
            return TRUE;
        }
        return FALSE;
    case WM_TIMER:
        if (wParam == kSignalTimer)
            refreshSignalQuality(dialog);
        return TRUE;
    default:
        return FALSE;
    }
}

void showSignalQualityDialog(HWND owner) {
    ShowCursor(TRUE);
    DialogBoxParamW(appInstance(), MAKEINTRESOURCEW(IDD_SIGNAL_QUALITY), owner, SignalQualityDialog,
                    0);
    ShowCursor(FALSE);
}

} // namespace korvane
