#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace korvane {

// One item of a further audio track: its command, its text in UTF-8 and its MFS_ state.
struct AudioStreamMenuItem {
    UINT command;
    std::string text;
    UINT state;
};

// Replaces the further audio-track items of "Commandes", placed right below "Piste AC3",
// in the full menu (attached or not, so that the context menu of
// compact mode and full screen copies them too).
void setAudioStreamItems(const std::vector<AudioStreamMenuItem>& items);

} // namespace korvane
