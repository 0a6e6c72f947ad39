#pragma once

namespace korvane {

// Sends the current channel and its present programme to a running messenger, when the
// option is on and the channel has a present event.
void postNowPlaying();
// Sends the empty status to a running messenger.
void clearNowPlaying();

} // namespace korvane
