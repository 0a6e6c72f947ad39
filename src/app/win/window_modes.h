#pragma once

namespace korvane {

// Flips alwaysOnTop and makes the main window topmost or not, with the check mark of
// "Rester toujours devant". Does nothing in full screen.
void toggleAlwaysOnTop();

} // namespace korvane
