#pragma once

#include <windows.h>

namespace korvane {

// The scan at start-up: the scan dialog (106) runs it from its first idle moment, then the
// channels are numbered, pruned and sorted from the NIT and saved. 1 when none was found.
int runChannelScan();

// The main window's WM_ENTERIDLE: the dialog given in lParam is the scan dialog when a scan
// is pending; the whole scan runs inside this call, and the dialog is ended by it.
void onEnterIdle(WPARAM wParam, LPARAM lParam);

} // namespace korvane
