#include "app/win/main_commands.h"

#include "app/channel_switch.h"
#include "app/win/about_box.h"
#include "app/win/app_state.h"
#include "app/win/audio_stream_menu.h"
#include "app/win/channel_commands.h"
#include "app/win/config_store.h"
#include "app/win/configuration_dialog.h"
#include "app/win/guide_dialog.h"
#include "app/win/main_window.h"
#include "app/win/menu_state.h"
#include "app/win/now_playing.h"
#include "app/win/recording_commands.h"
#include "app/win/schedule_dialogs.h"
#include "app/win/screenshot.h"
#include "app/win/shell_commands.h"
#include "app/win/signal_dialog.h"
#include "app/win/status_bar.h"
#include "app/win/subtitle_display.h"
#include "app/win/tray_icon.h"
#include "app/win/video_area.h"
#include "app/win/volume.h"
#include "app/win/window_modes.h"
#include "res/resource.h"

#include <optional>
#include <vector>

namespace korvane {

namespace {

void flipPreferAc3() {
    AppConfig& config = appConfig();
    config.preferAc3 = !config.preferAc3;
    setMenuCheck(IDM_PREFER_AC3, config.preferAc3);
}

void flipSendNowPlaying() {
    AppConfig& config = appConfig();
    config.sendNowPlaying = !config.sendNowPlaying;
    if (config.sendNowPlaying)
        refreshChannelInfo();
    else
        clearNowPlaying();
    setMenuCheck(IDM_SEND_NOW_PLAYING, config.sendNowPlaying);
}

void choosePriority(UINT id) {
    applyPriority(static_cast<uint16_t>(id));
    saveConfig();
}

// Handlers that need the window, the command, or neither.
template <void (*run)(HWND)> void withWindow(HWND window, UINT) {
    run(window);
}
template <void (*run)(UINT)> void withId(HWND, UINT id) {
    run(id);
}
template <void (*run)()> void alone(HWND, UINT) {
    run();
}

constexpr ItemRule kNone = ItemRule::None;

const MainCommand kCommands[] = {
    // "Fichier"
    {IDM_CONFIGURATION, withWindow<showConfigurationDialog>, kNone},
    {IDM_VIDEO_FOLDER, chooseFolder, kNone},
    {IDM_SCREENSHOT_FOLDER, chooseFolder, kNone},
    {IDM_PRIORITY_HIGH, withId<choosePriority>, kNone},
    {IDM_PRIORITY_ABOVE_NORMAL, withId<choosePriority>, kNone},
    {IDM_PRIORITY_NORMAL, withId<choosePriority>, kNone},
    {IDM_PRIORITY_BELOW_NORMAL, withId<choosePriority>, kNone},
    {IDM_MINIMIZE_TO_TRAY, alone<toggleMinimizeToTray>, kNone},
    {IDM_QUIT, withWindow<closeMainWindow>, kNone},
    // "Filtres"
    {IDM_VIDEO_DECODER_PAGES, withId<showFilterPages>, kNone},
    {IDM_AUDIO_DECODER_PAGES, withId<showFilterPages>, kNone},
    {IDM_AC3_DECODER_PAGES, withId<showFilterPages>, kNone},
    {IDM_VMR_PAGES, withId<showFilterPages>, kNone},
    {IDM_DSOUND_PAGES, withId<showFilterPages>, kNone},
    {IDM_DSOUND_AC3_PAGES, withId<showFilterPages>, kNone},
    {IDM_DEMUX_PAGES, withId<showFilterPages>, kNone},
    // "Commandes"
    {IDM_FULL_SCREEN, alone<toggleFullScreen>, kNone},
    {IDM_ALWAYS_ON_TOP, alone<toggleAlwaysOnTop>, kNone},
    {IDM_FIRST_AUDIO, withId<onAudioTrackCommand>, ItemRule::AudioTrack},
    {IDM_SECOND_AUDIO, withId<onAudioTrackCommand>, ItemRule::AudioTrack},
    {IDM_AC3_TRACK, withId<onAudioTrackCommand>, ItemRule::AudioTrack},
    {IDM_NEXT_AUDIO, alone<onNextAudioTrackCommand>, kNone},
    {IDM_PREFER_AC3, alone<flipPreferAc3>, kNone},
    {IDM_SUBTITLES_NONE, withId<onSubtitleCommand>, kNone},
    {IDM_NEXT_SUBTITLES, alone<onNextSubtitleCommand>, kNone},
    {IDM_MUTE, alone<toggleMute>, kNone},
    {IDM_VOLUME_UP, [](HWND, UINT) { changeVolume(true); }, kNone},
    {IDM_VOLUME_DOWN, [](HWND, UINT) { changeVolume(false); }, kNone},
    {IDM_ZOOM_IN, withId<zoomCommand>, kNone},
    {IDM_ZOOM_OUT, withId<zoomCommand>, kNone},
    {IDM_DEFAULT_ZOOM, withId<zoomCommand>, kNone},
    {IDM_FULL_WIDTH, withId<zoomCommand>, kNone},
    {IDM_SIGNAL_QUALITY, withWindow<showSignalQualityDialog>, kNone},
    // "Captures"
    {IDM_RECORD_MULTIPLEX, withId<startRecording>, ItemRule::NotWhileRecording},
    {IDM_RECORD_CHANNEL_TS, withId<startRecording>, ItemRule::NotWhileRecording},
    {IDM_RECORD_CHANNEL_PS, withId<startRecording>, ItemRule::NotWhileRecording},
    {IDM_STOP_RECORDING, alone<stopRecording>, ItemRule::WhileRecording},
    {IDM_SCHEDULE_RECORDING, [](HWND window, UINT) { showScheduleEntryDialog(window); }, kNone},
    {IDM_SCHEDULE_LIST, withWindow<showScheduleListDialog>, kNone},
    {IDM_SCREENSHOT, alone<takeScreenshot>, kNone},
    // "Programme"
    {IDM_GUIDE, [](HWND window, UINT) { showGuideDialog(window, chooseChannel); }, kNone},
    {IDM_SEND_NOW_PLAYING, alone<flipSendNowPlaying>, kNone},
    // "Aide"
    {IDM_ABOUT, withWindow<showAboutBox>, kNone},
};

// Commands over a range of identifiers: the items made at run time.
struct MainCommandRange {
    MainCommand first;
    UINT last;
};

const MainCommandRange kCommandRanges[] = {
    {{IDM_AUDIO_STREAM_FIRST, withId<onAudioStreamCommand>, ItemRule::AudioTrack},
     IDM_AUDIO_STREAM_LAST},
    {{IDM_SUBTITLE_STREAM_FIRST, withId<onSubtitleCommand>, kNone}, IDM_SUBTITLE_STREAM_LAST},
};

UINT menuFlags(const MenuItemState& item) {
    return (item.checked ? MFS_CHECKED : 0) | (item.disabled ? MFS_DISABLED | MFS_GRAYED : 0);
}

MenuItemState audioTrackItem(const AudioTrackMenu& menu, UINT id) {
    if (id == IDM_FIRST_AUDIO)
        return menu.first;
    return id == IDM_SECOND_AUDIO ? menu.second : menu.ac3;
}

} // namespace

std::span<const MainCommand> mainCommands() {
    return kCommands;
}

const MainCommand* findMainCommand(UINT id) {
    for (const MainCommand& command : kCommands)
        if (command.id == id)
            return &command;
    for (const MainCommandRange& range : kCommandRanges)
        if (id >= range.first.id && id <= range.last)
            return &range.first;
    return nullptr;
}

void refreshRecordingItems() {
    const bool recording = appState().recording();
    for (const MainCommand& command : kCommands) {
        if (command.rule == ItemRule::NotWhileRecording)
            setMenuItemState(command.id, menuFlags({false, recording}));
        else if (command.rule == ItemRule::WhileRecording)
            setMenuItemState(command.id, menuFlags({false, !recording}));
    }
}

void refreshAudioTrackItems() {
    std::optional<ChannelInfo> channel = channelList().copyCurrent();
    if (!channel)
        return;
    const AudioTrackMenu menu = audioTrackMenu(appState().audioTrack, *channel);
    for (const MainCommand& command : kCommands)
        if (command.rule == ItemRule::AudioTrack)
            setMenuItemState(command.id, menuFlags(audioTrackItem(menu, command.id)));
    std::vector<AudioStreamMenuItem> items;
    for (const AudioStreamItem& item : audioStreamItems(appState().audioTrack, *channel)) {
        if (items.size() > IDM_AUDIO_STREAM_LAST - IDM_AUDIO_STREAM_FIRST)
            break;
        items.push_back({static_cast<UINT>(IDM_AUDIO_STREAM_FIRST + items.size()), item.text,
                         menuFlags(item.state)});
    }
    setAudioStreamItems(items);
}

} // namespace korvane
