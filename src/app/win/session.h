#pragma once

#include <windows.h>

namespace korvane {

// After the main window exists: channel list check, channel menu, check marks, always on
// top. 0 on success; non-zero after the user has been told why.
int initialiseSession();
// Saves the settings. Safe after a start-up that failed half-way.
void shutdownSession();

// The "Chaînes" popup: one item per channel in list order, command = list index.
HMENU buildChannelMenu();

// The program from the single-instance check to the end of the message loop; the result is
// the process exit code.
int runProgram(HINSTANCE instance, int showCommand);

} // namespace korvane
