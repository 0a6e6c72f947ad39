#pragma once

#include "app/app_config.h"
#include "app/win/app_state.h"
#include "channels/channel_list.h"

namespace korvane {

// Puts what the program keeps for the whole process (settings, session state, channel list)
// back to how a fresh start finds it, so that the tests sharing a process do not see each
// other's. The media graph is left alone: the test that built it releases it before it
// uninitialises COM.
inline void resetProcessState() {
    appConfig() = AppConfig{};
    appState() = AppState{};
    channelList().clear();
}

} // namespace korvane
