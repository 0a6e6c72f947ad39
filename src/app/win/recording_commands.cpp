#include "app/win/recording_commands.h"

#include "app/recorded_streams.h"
#include "app/recording_watch.h"
#include "app/win/app_state.h"
#include "app/win/main_commands.h"
#include "app/win/scheduler.h"
#include "app/win/status_bar.h"
#include "capture/win/recording_failure.h"
#include "capture/win/recording_paths.h"
#include "common/dvb_text.h"
#include "common/win/show_error.h"
#include "common/win/wide_text.h"
#include "dshow/com_ptr.h"
#include "graph/platform_guids.h"
#include "graph/sample_grabber.h"
#include "res/resource.h"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

namespace korvane {

namespace {

// What the shell holds of the recordings: the grabber, the hook installed on it, and its own
// reference to the running recording, so that the recording lives until the stop has closed
// it, and after that as long as a streaming call holds it. Whether one runs, and its
// generation, is the application state's recordingGeneration.
struct RecordingSlot {
    ComPtr<ISampleGrabber> grabber;
    ComPtr<CRecordingHook> hook;
    ComPtr<CSampleGrabber> recording;
    uint32_t lastGeneration = 0; // given to the last one started
    // A channel recording's channel (index and service id; -1 for none or the multiplex)
    // and what its recorder keeps, so that it follows the channel's PMT.
    int32_t channelIndex = -1;
    int32_t channelSid = 0;
    RecorderSettings settings;
    uint64_t startTick = 0;    // when the running recording started (GetTickCount64)
    bool starvedShown = false; // the status bar says that no data comes
};

RecordingSlot& slot() {
    static RecordingSlot recordings;
    return recordings;
}

// The recordings that run beside the user's (the scheduled ones), on the same hook.
struct SideRecording {
    uint32_t generation = 0;
    ComPtr<CSampleGrabber> recording;
    // What a channel recording records, so that it can follow its channel's PMT.
    int32_t channelIndex = -1;
    int32_t channelSid = 0;
    AudioTrack track = AudioTrack::First;
    RecorderSettings settings;
};

std::vector<SideRecording>& sideRecordings() {
    static std::vector<SideRecording> recordings;
    return recordings;
}

uint32_t nextGeneration() {
    RecordingSlot& s = slot();
    s.lastGeneration = s.lastGeneration + 1 != 0 ? s.lastGeneration + 1 : 1;
    return s.lastGeneration;
}

RecordingEnd closeSideRecording(SideRecording& side) {
    if (slot().hook)
        slot().hook->detach(side.recording.get());
    RecordingEnd end = side.recording->close();
    side.recording.reset();
    return end;
}

// The data watch: while a recording runs, a timer looks every second whether data still
// reaches the grabber.
void startDataWatch() {
    slot().startTick = GetTickCount64();
    SetTimer(appState().mainWindow, kDataWatchTimer, 1000, nullptr);
}

void stopDataWatch() {
    KillTimer(appState().mainWindow, kDataWatchTimer);
    RecordingSlot& s = slot();
    if (s.starvedShown) {
        s.starvedShown = false;
        showRecordingDataState(false);
    }
}

// Detaches the running recording from the hook and closes its file; a streaming call that
// took it just before keeps it alive until it returns, and writes nothing more.
RecordingEnd endRecording() {
    RecordingSlot& s = slot();
    if (s.hook && s.recording)
        s.hook->detach(s.recording.get());
    RecordingEnd end;
    if (s.recording) {
        end = s.recording->close();
        s.recording.reset();
    }
    s.channelIndex = -1;
    const bool wasRecording = appState().recordingGeneration != 0;
    if (wasRecording)
        stopDataWatch();
    appState().recordingGeneration = 0;
    if (wasRecording)
        recordingsChanged();
    return end;
}

// What the end of a recording had to say that nobody was told yet: a failure of its last
// writes or of its close ("disk full" after the stop), or data lost to a slow destination.
void tellRecordingEnd(const RecordingEnd& end) {
    if (end.failedAtEnd) {
        showError(recordingFailureText(RecordingFailure::WriteFailed));
        return;
    }
    const std::u16string lost = lostDataText(end.lostBytes);
    if (!lost.empty())
        showError(toWide(lost).c_str());
}

void endRecordingQuietly() {
    endRecording();
    refreshRecordingItems();
}

RecorderMode modeOf(UINT command) {
    return command == IDM_RECORD_CHANNEL_TS ? RecorderMode::ChannelTs : RecorderMode::ChannelPs;
}

// A new recorder for the command, or null when there is nothing to record.
CSampleGrabber* createRecorder(UINT command, HWND window, uint32_t generation) {
    const std::wstring folder(appConfig().videoFolder.begin(), appConfig().videoFolder.end());
    if (command == IDM_RECORD_MULTIPLEX) {
        std::optional<std::wstring> path = multiplexRecordingPathNow(folder);
        return path ? new CSampleGrabber(path->c_str(), RecorderSettings::multiplex(), window,
                                         generation)
                    : nullptr;
    }
    std::optional<ChannelInfo> channel = channelList().copyCurrent();
    if (!channel)
        return nullptr;
    std::optional<std::wstring> path =
        channelRecordingPathNow(folder, shownDvbText(channel->name.view()));
    if (!path)
        return nullptr;
    RecordingSlot& s = slot();
    s.settings = channelRecordingSettings(modeOf(command), *channel, appState().audioTrack);
    s.channelIndex = channelList().currentIndex();
    s.channelSid = channel->sid;
    return new CSampleGrabber(path->c_str(), s.settings, window, generation);
}

} // namespace

void setRecordingGrabber(ISampleGrabber* grabber) {
    releaseRecordingGrabber();
    if (grabber == nullptr)
        return;
    RecordingSlot& s = slot();
    s.grabber = ComPtr(grabber);
    s.hook = ComPtr(new CRecordingHook);
    grabber->SetCallback(s.hook.get(), 0);
}

void startRecording(UINT command) {
    AppState& state = appState();
    RecordingSlot& s = slot();
    if (state.recording() || !s.hook)
        return;
    const uint32_t generation = nextGeneration();
    CSampleGrabber* recorder = createRecorder(command, state.mainWindow, generation);
    if (recorder == nullptr) {
        // No current channel, or a path that does not fit: nothing can be recorded.
        showError(recordingFailureText(RecordingFailure::CreateFailed));
        return;
    }
    s.recording = ComPtr(recorder);
    if (!s.hook->attach(recorder)) {
        s.recording->close();
        s.recording.reset();
        showError(recordingFailureText(RecordingFailure::CreateFailed));
        return;
    }
    state.recordingGeneration = generation;
    startDataWatch();
    refreshRecordingItems();
    recordingsChanged();
}

void stopRecording() {
    if (!appState().recording())
        return;
    const RecordingEnd end = endRecording();
    refreshRecordingItems();
    tellRecordingEnd(end);
}

uint32_t startSideRecording(RecorderMode mode, std::size_t channelIndex) {
    RecordingSlot& s = slot();
    if (!s.hook)
        return 0;
    const std::wstring folder(appConfig().videoFolder.begin(), appConfig().videoFolder.end());
    std::optional<std::wstring> path;
    SideRecording side;
    side.settings = RecorderSettings::multiplex();
    if (mode == RecorderMode::Multiplex) {
        path = multiplexRecordingPathNow(folder);
    } else {
        const std::optional<ChannelInfo> channel = channelList().copyAt(channelIndex);
        if (!channel)
            return 0;
        // The track heard when the channel is the one watched, else its first.
        side.channelIndex = static_cast<int32_t>(channelIndex);
        side.channelSid = channel->sid;
        const bool watched = channelList().currentIndex() == side.channelIndex;
        side.track = watched ? appState().audioTrack : AudioTrack::First;
        side.settings = channelRecordingSettings(mode, *channel, side.track);
        path = channelRecordingPathNow(folder, shownDvbText(channel->name.view()));
    }
    if (!path)
        return 0;
    side.generation = nextGeneration();
    side.recording = ComPtr<CSampleGrabber>(
        new CSampleGrabber(path->c_str(), side.settings, appState().mainWindow, side.generation));
    if (!s.hook->attach(side.recording.get())) {
        side.recording->close();
        return 0;
    }
    const uint32_t generation = side.generation;
    sideRecordings().push_back(std::move(side));
    recordingsChanged();
    return generation;
}

RecordingEnd stopSideRecording(uint32_t generation) {
    std::vector<SideRecording>& sides = sideRecordings();
    for (auto it = sides.begin(); it != sides.end(); ++it) {
        if (it->generation != generation)
            continue;
        SideRecording side = std::move(*it);
        sides.erase(it);
        const RecordingEnd end = closeSideRecording(side);
        recordingsChanged();
        return end;
    }
    return RecordingEnd{};
}

std::size_t sideRecordingCount() {
    return sideRecordings().size();
}

bool sideRecordingRunning(uint32_t generation) {
    const std::vector<SideRecording>& sides = sideRecordings();
    return std::any_of(sides.begin(), sides.end(), [generation](const SideRecording& side) {
        return side.generation == generation;
    });
}

void stopRecordingAfter(const wchar_t* cause) {
    const bool wasRecording = appState().recording();
    const RecordingEnd end = wasRecording ? endRecording() : RecordingEnd{};
    if (wasRecording)
        refreshRecordingItems();
    showError(cause);
    tellRecordingEnd(end);
}

void releaseRecordingGrabber() {
    endRecording();
    for (SideRecording& side : sideRecordings())
        closeSideRecording(side);
    sideRecordings().clear();
    RecordingSlot& s = slot();
    // The hook stays installed, with nothing attached, until the grabber lets it go: the
    // graph may still be streaming, and the grabber may be about to call it.
    s.hook.reset();
    s.grabber.reset();
}

namespace {

void followChannel(CSampleGrabber& recording, RecorderSettings& settings,
                   const ChannelInfo& channel, AudioTrack track) {
    const RecorderSettings now = channelRecordingSettings(settings.mode, channel, track);
    if (now == settings)
        return;
    settings = now;
    recording.changeStreams(now);
}

} // namespace

// Only the watched channel's PMT is read: the recordings of that channel follow it, the
// user's with the track heard, a scheduled one with the track it started with.
void followRecordedChannel() {
    const int32_t current = channelList().currentIndex();
    const std::optional<ChannelInfo> channel = channelList().copyCurrent();
    if (current < 0 || !channel)
        return;
    RecordingSlot& s = slot();
    if (appState().recording() && s.recording && s.channelIndex == current &&
        s.channelSid == channel->sid)
        followChannel(*s.recording.get(), s.settings, *channel, appState().audioTrack);
    for (SideRecording& side : sideRecordings()) {
        if (side.channelIndex == current && side.channelSid == channel->sid)
            followChannel(*side.recording.get(), side.settings, *channel, side.track);
    }
}

void onRecordingFailed(WPARAM generation, LPARAM failure) {
    for (const SideRecording& side : sideRecordings()) {
        if (side.generation == generation) {
            scheduledRecordingFailed(side.generation, static_cast<RecordingFailure>(failure));
            return;
        }
    }
    // The failure is told once, by the handler: the stop itself says nothing more.
    handleRecordingFailed(generation, failure, appState().recordingGeneration, endRecordingQuietly);
}

void onDataWatchTimer() {
    const AppState& state = appState();
    RecordingSlot& s = slot();
    const bool starved = state.recording() && s.hook &&
                         recordingStarved(GetTickCount64(), s.startTick, s.hook->lastDataTick());
    if (starved != s.starvedShown) {
        s.starvedShown = starved;
        showRecordingDataState(starved);
    }
}

} // namespace korvane
