#pragma once

namespace korvane {

// The network's NIT came with a new version (the broadcaster renumbered the channels): the
// status bar offers a new scan and the channel menu gets the item that runs it, once in the
// program's run. Nothing is renumbered until the user asks.
void onChannelNumbersChanged();
// The offer's text in the status bar while it stands (after the channel's texts are set).
void showRescanOffer();
// The channel menu's "Relancer la recherche des chaînes": a running recording is stopped
// first if the user agrees; the scan replaces the list and the channel file, and the service
// watched before is played again. A scan that finds nothing keeps the list and the file.
void relaunchChannelScan();

} // namespace korvane
