#pragma once

namespace korvane {

// One decibel up or down, applied to the graph unless muted, and shown on the picture.
void changeVolume(bool up);
// Mutes the graph (volume -10000) or puts the last volume back; "Sourdine" stays on the
// picture while muted.
void toggleMute();

} // namespace korvane
