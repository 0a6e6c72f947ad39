#pragma once

#include <windows.h>

#include <span>

namespace korvane {

// What sets an item's gray and check state where the program's state decides it; the other
// items stay enabled, and keep the check mark their command or the settings give them.
enum class ItemRule {
    None,
    NotWhileRecording, // the three start items: grayed while a recording runs
    WhileRecording,    // the stop item: grayed while none runs
    AudioTrack,        // checked and grayed by the track played and the channel's tracks
};

// A command of the main window's menus and accelerators.
struct MainCommand {
    UINT id;
    void (*run)(HWND window, UINT id);
    ItemRule rule;
};

// Every command of the menus, in menu order, but the channel items, whose command is the
// channel's index.
std::span<const MainCommand> mainCommands();
// The command with that identifier; null for any other.
const MainCommand* findMainCommand(UINT id);

// The start and stop recording items by whether a recording runs.
void refreshRecordingItems();
// The three audio-track items by the track played and the tracks of the channel being
// watched; unchanged while no channel is current.
void refreshAudioTrackItems();

} // namespace korvane
