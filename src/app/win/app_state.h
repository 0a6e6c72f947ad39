#pragma once

#include "app/app_config.h"
#include "app/channel_switch.h"
#include "channels/channel_list.h"
#include "si/scan.h"

#include <windows.h>

#include <cstdint>

namespace korvane {

// The shell's run-time state; touched on the main thread only.
struct AppState {
    HWND mainWindow = nullptr;
    HWND statusBar = nullptr; // null while hidden
    HMENU fullMenu = nullptr; // the menu bar with the channel menu, kept while detached
    // The generation of the running recording, which its recorder's failure report carries;
    // 0 while none runs.
    uint32_t recordingGeneration = 0;
    AudioTrack audioTrack = AudioTrack::First;
    int typedNumber = 0;
    bool muted = false;
    int volume = 0; // hundredths of a decibel, -10000 ... 0
    bool chromeVisible = true;
    bool fullScreen = false;
    bool cursorRevealed = false;
    LONG compactSavedStyle = 0;
    LONG fullScreenSavedStyle = 0;
    RECT windowedRect{};
    // The scan at start-up: scanPending makes the scan dialog's first idle moment run it.
    ScanState scan;
    // Tick counts, compared by unsigned subtraction so the counter's wrap is harmless.
    DWORD channelShownAt = 0;
    DWORD volumeShownAt = 0;
    DWORD zoomShownAt = 0;
    DWORD activatedAt = 0;
    POINT pressPoint{0, 0}; // x = -1: no accepted press
    bool dragging = false;
    POINT dragLast{0, 0};

    bool recording() const { return recordingGeneration != 0; }
};

// The process-wide objects, alive from start-up to exit.
AppConfig& appConfig();
AppState& appState();
ChannelList& channelList();

HINSTANCE appInstance();
void setAppInstance(HINSTANCE instance);

} // namespace korvane
