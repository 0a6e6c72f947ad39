#pragma once

#include <windows.h>

namespace korvane {

// The scan at start-up: the scan dialog (106) runs it from its first idle moment, then the
// channels are numbered, pruned and sorted from the NIT and saved. 0 when channels were
// found, 1 when none was, kScanStopped when the program is to end without a word (closed
// during the scan, or the scan cancelled without keeping its channels).
int runChannelScan();

// The main window's WM_ENTERIDLE: the dialog given in lParam is the scan dialog when a scan
// is pending; the whole scan runs inside this call, and the dialog is ended by it.
void onEnterIdle(WPARAM wParam, LPARAM lParam);

// True from the scan dialog's showing to the end of runChannelScan.
bool channelScanActive();

// The program is ending: the scan stops at its next read and keeps nothing. With wait, this
// returns only once the scan's table reads have all returned, so that the graph can be torn
// down at once (the end of the session, which leaves no time to unwind first).
void stopChannelScan(bool wait);

} // namespace korvane
