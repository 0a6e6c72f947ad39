#include "app/win/recording_commands.h"

#include "app/win/app_state.h"
#include "app/win/main_commands.h"
#include "capture/win/recording_failure.h"
#include "capture/win/recording_paths.h"
#include "common/dvb_text.h"
#include "common/win/show_error.h"
#include "dshow/com_ptr.h"
#include "graph/platform_guids.h"
#include "graph/sample_grabber.h"
#include "res/resource.h"

#include <optional>
#include <string>

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
};

RecordingSlot& slot() {
    static RecordingSlot recordings;
    return recordings;
}

// Detaches the running recording from the hook and closes its file; a streaming call that
// took it just before keeps it alive until it returns, and writes nothing more.
void endRecording() {
    RecordingSlot& s = slot();
    if (s.hook)
        s.hook->detach();
    if (s.recording) {
        s.recording->close();
        s.recording.reset();
    }
    appState().recordingGeneration = 0;
}

// The video PID recorded: MPEG-2 video, else H.264.
int32_t recordedVideoPid(const ChannelInfo& channel) {
    return channel.videoPid != 0 ? channel.videoPid : channel.videoMpeg4Pid;
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
    const int32_t video = recordedVideoPid(*channel);
    const int32_t audio = heardAudio(*channel, appState().audioTrack).pid;
    const RecorderSettings settings =
        command == IDM_RECORD_CHANNEL_TS
            ? RecorderSettings::channelTs(channel->pmtPid, video, audio)
            : RecorderSettings::channelPs(video, audio, channel->pcrPid);
    return new CSampleGrabber(path->c_str(), settings, window, generation);
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
    const uint32_t generation = s.lastGeneration + 1 != 0 ? s.lastGeneration + 1 : 1;
    s.lastGeneration = generation;
    CSampleGrabber* recorder = createRecorder(command, state.mainWindow, generation);
    if (recorder == nullptr) {
        // No current channel, or a path that does not fit: nothing can be recorded.
        showError(recordingFailureText(RecordingFailure::CreateFailed));
        return;
    }
    s.recording = ComPtr(recorder);
    state.recordingGeneration = generation;
    s.hook->attach(recorder);
    refreshRecordingItems();
}

void stopRecording() {
    if (!appState().recording())
        return;
    endRecording();
    refreshRecordingItems();
}

void releaseRecordingGrabber() {
    endRecording();
    RecordingSlot& s = slot();
    // The hook stays installed, with nothing attached, until the grabber lets it go: the
    // graph may still be streaming, and the grabber may be about to call it.
    s.hook.reset();
    s.grabber.reset();
}

void onRecordingFailed(WPARAM generation, LPARAM failure) {
    handleRecordingFailed(generation, failure, appState().recordingGeneration, stopRecording);
}

} // namespace korvane
