#include "app/win/volume.h"

#include "app/picture_controls.h"
#include "app/win/app_state.h"
#include "app/win/video_area.h"
#include "graph/media_graph.h"

namespace korvane {

namespace {

// The graph's audio volume, through its IBasicAudio fetched for this one call; a graph without
// an audio renderer refuses it, which changes nothing.
void applyVolume(long volume) {
    IFilterGraph2* graph = mediaGraph().graph.get();
    if (!graph)
        return;
    ComPtr<IBasicAudio> audio;
    if (SUCCEEDED(graph->QueryInterface(IID_IBasicAudio, audio.putVoid())) && audio)
        audio->put_Volume(volume);
}

} // namespace

void changeVolume(bool up) {
    AppState& state = appState();
    state.volume = volumeStepped(state.volume, up);
    if (!state.muted)
        applyVolume(state.volume);
    state.volumeShownAt = GetTickCount();
    showOsd();
}

void toggleMute() {
    AppState& state = appState();
    state.muted = !state.muted;
    applyVolume(state.muted ? kSilentVolume : state.volume);
    if (state.mainWindow)
        RedrawWindow(state.mainWindow, nullptr, nullptr, RDW_ERASE | RDW_INVALIDATE);
}

} // namespace korvane
