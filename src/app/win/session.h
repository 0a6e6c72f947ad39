#pragma once

#include <windows.h>

namespace korvane {

// After the main window exists: device check (with the configuration dialog once), the
// media graph, then openChannels. 0 on success; non-zero after the user has been told why.
int initialiseSession();
// The channel file or a scan, the channel menu, the check marks, always on top and the
// start channel.
int openChannels();
// Saves the settings and tears the graph down. Safe after a start-up that failed half-way.
void shutdownSession();

// The "Chaînes" popup: one item per channel in list order, command = list index.
HMENU buildChannelMenu();
// The "Chaînes" popup of the menu bar (attached or not); null before it exists.
HMENU channelMenu();
// A new "Chaînes" popup from the list in place of the one in the menu bar.
void replaceChannelMenu();

// The program from the single-instance check to the end of the message loop; the result is
// the process exit code.
int runProgram(HINSTANCE instance, int showCommand);

} // namespace korvane
