#pragma once

namespace korvane {

// The main window's handling of kGraphEventMessage: fetches every event the graph holds. A
// tuner lost (unplugged) or an error that stopped the graph ends a running recording, whose
// file is complete up to then, and tells the user.
void onGraphEvents();

} // namespace korvane
