#include "app/win/recording_commands.h"

#include "app/win/app_state.h"
#include "app/win/menu_state.h"
#include "app/win/show_error.h"
#include "capture/win/recording_failure.h"
#include "capture/win/recording_paths.h"
#include "dshow/com_ptr.h"
#include "graph/platform_guids.h"
#include "graph/sample_grabber.h"
#include "res/resource.h"

#include <optional>
#include <string>

namespace korvane {

namespace {

ComPtr<ISampleGrabber>& recordingGrabber() {
    static ComPtr<ISampleGrabber> grabber;
    return grabber;
}

// The video PID recorded: MPEG-2 video, else H.264.
int32_t recordedVideoPid(const ChannelInfo& channel) {
    return channel.videoPid != 0 ? channel.videoPid : channel.videoMpeg4Pid;
}

// The audio track being played: first, second, then AC-3, the last test winning.
int32_t recordedAudioPid(const ChannelInfo& channel, const AppState& state) {
    int32_t pid = channel.audio1Pid;
    if (state.secondAudioActive)
        pid = channel.audio2Pid;
    if (state.ac3Active)
        pid = channel.ac3Pid;
    return pid;
}

// A new recorder for the command, or null when there is nothing to record.
CSampleGrabber* createRecorder(UINT command, HWND window) {
    const std::wstring folder(appConfig().videoFolder.begin(), appConfig().videoFolder.end());
    if (command == IDM_RECORD_MULTIPLEX) {
        std::optional<std::wstring> path = multiplexRecordingPathNow(folder);
        return path ? new CSampleGrabber(path->c_str(), window) : nullptr;
    }
    std::optional<ChannelInfo> channel = channelList().copyCurrent();
    if (!channel)
        return nullptr;
    std::optional<std::wstring> path = channelRecordingPathNow(folder, channel->name.view());
    if (!path)
        return nullptr;
    const int32_t video = recordedVideoPid(*channel);
    const int32_t audio = recordedAudioPid(*channel, appState());
    if (command == IDM_RECORD_CHANNEL_TS)
        return new CSampleGrabber(path->c_str(), channel->pmtPid, video, audio, window);
    return new CSampleGrabber(path->c_str(),
                              RecorderSettings::channelPs(video, audio, channel->pcrPid), window);
}

} // namespace

void setRecordingGrabber(ISampleGrabber* grabber) {
    recordingGrabber() = ComPtr(grabber);
}

void startRecording(UINT command) {
    AppState& state = appState();
    ISampleGrabber* grabber = recordingGrabber().get();
    if (state.recording || grabber == nullptr)
        return;
    CSampleGrabber* recorder = createRecorder(command, state.mainWindow);
    if (recorder == nullptr) {
        // No current channel, or a path that does not fit: nothing can be recorded.
        showError(recordingFailureText(RecordingFailure::CreateFailed));
        return;
    }
    // The grabber takes its own reference; ours goes when `object` does.
    ComPtr<IUnknown> object(recorder->NonDelegatingUnknown());
    ComPtr<ISampleGrabberCB> callback = object.as<ISampleGrabberCB>(kIidSampleGrabberCB);
    grabber->SetCallback(callback.get(), 0);
    setRecordingMenuState(true);
}

void stopRecording() {
    if (!appState().recording)
        return;
    if (ISampleGrabber* grabber = recordingGrabber().get())
        grabber->SetCallback(nullptr, 0);
    setRecordingMenuState(false);
}

void releaseRecordingGrabber() {
    if (ISampleGrabber* grabber = recordingGrabber().get())
        grabber->SetCallback(nullptr, 0);
    recordingGrabber().reset();
}

void onRecordingFailed(WPARAM failure) {
    handleRecordingFailed(failure, stopRecording);
}

} // namespace korvane
