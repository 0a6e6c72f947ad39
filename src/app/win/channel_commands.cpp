#include "app/win/channel_commands.h"

#include "app/channel_switch.h"
#include "app/win/app_state.h"
#include "app/win/graph_ports.h"
#include "app/win/main_commands.h"
#include "app/win/main_window.h"
#include "app/win/recording_commands.h"
#include "app/win/scheduler.h"
#include "app/win/status_bar.h"
#include "app/win/video_area.h"
#include "graph/media_graph.h"
#include "graph/video_renderer.h"
#include "res/resource.h"

#include <optional>

namespace korvane {

namespace {

constexpr UINT kTypedNumberPeriodMs = 1000;

// True when the channel at index is on another multiplex than the one watched.
bool onAnotherMultiplex(std::size_t index) {
    const std::optional<ChannelInfo> current = channelList().copyCurrent();
    const std::optional<ChannelInfo> target = channelList().copyAt(index);
    return current && target && current->frequency != target->frequency;
}

bool userStopsRecordingToSwitch() {
    return MessageBoxW(appState().mainWindow,
                       L"Un enregistrement est en cours. L'arrêter et changer de multiplex ?",
                       kMainWindowTitle, MB_YESNO | MB_ICONQUESTION) == IDYES;
}

// The user's recording or a scheduled one: either keeps the tuner on its multiplex.
bool anyRecording() {
    return appState().recording() || scheduledRecordingRunning();
}

void selectIfAny(std::optional<std::size_t> index) {
    if (index)
        selectChannel(*index);
}

} // namespace

void selectChannel(std::size_t index) {
    AppState& state = appState();
    GraphOutputs outputs(mediaGraph());
    GraphTuner tuner(mediaGraph());
    if (!switchChannel(channelList(), index, appConfig().preferAc3, state.audioTrack,
                       outputs.outputs(), &tuner))
        return;
    if (std::optional<ChannelInfo> channel = channelList().copyCurrent())
        showChannelVideo(mediaGraph(), *channel);
    refreshRecordingItems();
    refreshAudioTrackItems();
    refreshChannelInfo();
    // The on-screen display shows the channel for a while from this moment.
    state.channelShownAt = GetTickCount();
    showOsd();
}

void chooseChannel(std::size_t index) {
    if (anyRecording() && onAnotherMultiplex(index)) {
        if (!userStopsRecordingToSwitch())
            return;
        stopRecording();
        stopScheduledRecordings();
    }
    selectChannel(index);
}

void previousChannel() {
    ChannelList& list = channelList();
    selectIfAny(previousChannelIndex(list.snapshot(), list.currentIndex(), anyRecording()));
}

void nextChannel() {
    ChannelList& list = channelList();
    selectIfAny(nextChannelIndex(list.snapshot(), list.currentIndex(), anyRecording()));
}

void addTypedDigit(int digit) {
    AppState& state = appState();
    state.typedNumber = appendTypedDigit(state.typedNumber, digit);
    SetTimer(state.mainWindow, IDT_TYPED_NUMBER, kTypedNumberPeriodMs, nullptr);
}

void onTypedNumberTimer() {
    AppState& state = appState();
    KillTimer(state.mainWindow, IDT_TYPED_NUMBER);
    const int32_t number = state.typedNumber;
    state.typedNumber = 0;
    if (anyRecording()) {
        ChannelList& list = channelList();
        selectIfAny(typedNumberChoice(list.snapshot(), list.currentIndex(), number, true));
    } else {
        selectChannelByNumber(number);
    }
}

void selectChannelByNumber(int32_t number) {
    selectIfAny(findChannelByNumber(channelList().snapshot(), number));
}

void onAudioTrackCommand(UINT command) {
    std::optional<ChannelInfo> channel = channelList().copyCurrent();
    if (!channel)
        return;
    AudioTrack& track = appState().audioTrack;
    GraphOutputs outputs(mediaGraph());
    switch (command) {
    case IDM_FIRST_AUDIO:
        selectFirstAudioTrack(*channel, track, outputs.outputs());
        break;
    case IDM_SECOND_AUDIO:
        if (!selectSecondAudioTrack(*channel, track, outputs.outputs()))
            return;
        break;
    case IDM_AC3_TRACK:
        if (!selectAc3Track(*channel, track, outputs.outputs()))
            return;
        break;
    default:
        return;
    }
    refreshAudioTrackItems();
}

void onAudioStreamCommand(UINT command) {
    std::optional<ChannelInfo> channel = channelList().copyCurrent();
    if (!channel || command < IDM_AUDIO_STREAM_FIRST)
        return;
    const std::vector<AudioStreamItem> items = audioStreamItems(appState().audioTrack, *channel);
    const std::size_t place = command - IDM_AUDIO_STREAM_FIRST;
    if (place >= items.size())
        return;
    GraphOutputs outputs(mediaGraph());
    if (selectAudioStream(*channel, items[place].pid, appState().audioTrack, outputs.outputs()))
        refreshAudioTrackItems();
}

void onNextAudioTrackCommand() {
    std::optional<ChannelInfo> channel = channelList().copyCurrent();
    if (!channel)
        return;
    GraphOutputs outputs(mediaGraph());
    if (selectNextAudioTrack(*channel, appState().audioTrack, outputs.outputs()))
        refreshAudioTrackItems();
}

} // namespace korvane
