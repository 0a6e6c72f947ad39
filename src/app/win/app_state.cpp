#include "app/win/app_state.h"

namespace korvane {

namespace {
HINSTANCE instanceHandle = nullptr;
}

AppConfig& appConfig() {
    static AppConfig config;
    return config;
}

AppState& appState() {
    static AppState state;
    return state;
}

ChannelList& channelList() {
    static ChannelList list;
    return list;
}

HINSTANCE appInstance() {
    return instanceHandle;
}

void setAppInstance(HINSTANCE instance) {
    instanceHandle = instance;
}

} // namespace korvane
