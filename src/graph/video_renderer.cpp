#include "graph/video_renderer.h"

namespace korvane {

namespace {

// Renderless: the allocator-presenter draws the pictures.
constexpr DWORD kRenderlessMode = 4;
// ForceOverlays (0x2) with DoNotRenderColorKeyAndBorder (0x8).
constexpr DWORD kPresenterPrefs = 10;
// NoDecimation (0x1), BiLinearFiltering (0x10), RenderTargetYUV (0x1000).
constexpr DWORD kMixingPrefs = 0x1011;
constexpr DWORD_PTR kAllocatorUserId = 0x118218;
constexpr DWORD kLetterBox = 1;
constexpr DWORD kAllStreams = 0xFFFFFFFF;

GraphStatus fail(const GraphSetup& setup, const wchar_t* text) {
    setup.errors.report(text);
    return GraphStatus::Failed;
}

bool failed(GraphStatus status) {
    return status != GraphStatus::Built;
}

// Kept from the video branch to the end of the run.
struct VideoPresenter {
    ComPtr<IVMRSurfaceAllocator> presenter;
    ComPtr<IVMRSurfaceAllocatorNotify> notify;
};

VideoPresenter& videoPresenter() {
    static VideoPresenter held;
    return held;
}

// Renderless mode, the allocator-presenter and the notification interface; the two last
// are held past the teardown.
GraphStatus setUpRenderlessVideo(IBaseFilter* vmr, const GraphSetup& setup) {
    {
        ComPtr<IVMRFilterConfig> config;
        vmr->QueryInterface(IID_IVMRFilterConfig, config.putVoid());
        if (!config)
            return fail(setup, L"VMR config non dispo");
        config->SetRenderingMode(kRenderlessMode);
        // Mixing mode with the MPEG-2 and the H.264 streams; a renderer that cannot mix
        // still shows MPEG-2 (the H.264 branch then finds no input).
        config->SetNumberOfStreams(kVideoStreamCount);
    }
    ComPtr<IVMRSurfaceAllocatorNotify> notify;
    vmr->QueryInterface(IID_IVMRSurfaceAllocatorNotify, notify.putVoid());
    if (!notify)
        return fail(setup, L"VMR notify non dispo");
    ComPtr<IVMRSurfaceAllocator> presenter;
    CoCreateInstance(CLSID_AllocPresenter, nullptr, CLSCTX_INPROC_SERVER, IID_IVMRSurfaceAllocator,
                     presenter.putVoid());
    {
        // A presenter that could not be made, or has no configuration, fails the call.
        ComPtr<IVMRImagePresenterConfig> presenterConfig =
            presenter.as<IVMRImagePresenterConfig>(IID_IVMRImagePresenterConfig);
        if (!presenterConfig || FAILED(presenterConfig->SetRenderingPrefs(kPresenterPrefs)))
            return fail(setup, L"VMR ImagePresenterConfig non dispo");
    }
    notify->AdviseSurfaceAllocator(kAllocatorUserId, presenter.get());
    presenter->AdviseNotify(notify.get());
    videoPresenter() = VideoPresenter{presenter, notify};
    return GraphStatus::Built;
}

// The driver's first deinterlacing mode for a 720 x 576 interlaced YV12 stream. A renderer
// without the deinterlace control goes on without it.
GraphStatus setUpDeinterlacing(IBaseFilter* vmr, const GraphSetup& setup) {
    {
        ComPtr<IVMRMixerControl> mixer;
        vmr->QueryInterface(IID_IVMRMixerControl, mixer.putVoid());
        if (mixer)
            mixer->SetMixingPrefs(kMixingPrefs);
    }
    ComPtr<IVMRDeinterlaceControl> control;
    vmr->QueryInterface(IID_IVMRDeinterlaceControl, control.putVoid());
    if (!control) {
        setup.errors.report(L"Pas eu le VMRMixerControl :/");
        return GraphStatus::Built;
    }
    VMRVideoDesc description{};
    description.dwSize = 36;
    description.dwSampleWidth = 720;
    description.dwSampleHeight = 576;
    description.SingleFieldPerSample = TRUE;
    description.dwFourCC = 0x32315659; // "YV12"
    description.InputSampleFreq = VMRFrequency{25, 1};
    description.OutputFrameFreq = VMRFrequency{50, 1};
    static_assert(sizeof(VMRVideoDesc) == 36);
    DWORD count = 0;
    if (FAILED(control->GetNumberOfDeinterlaceModes(&description, &count, nullptr)))
        return fail(setup, L"Nombre de modes de désentrelacement non trouvé");
    count = 1;
    GUID mode{};
    if (FAILED(control->GetNumberOfDeinterlaceModes(&description, &count, &mode)))
        return fail(setup, L"Impossible d'avoir le GUID du désentrelacement");
    if (FAILED(control->SetDeinterlaceMode(kAllStreams, &mode)))
        return fail(setup, L"Impossible de mettre le mode de désentrelacement");
    return GraphStatus::Built;
}

} // namespace

GraphStatus setUpVideoRenderer(MediaGraph& graph, const GraphSetup& setup) {
    if (failed(setUpRenderlessVideo(graph.vmr.get(), setup)))
        return GraphStatus::Failed;
    if (setup.settings.deinterlace && failed(setUpDeinterlacing(graph.vmr.get(), setup)))
        return GraphStatus::Failed;
    graph.vmr->QueryInterface(IID_IVMRWindowlessControl, graph.windowlessControl.putVoid());
    if (!graph.windowlessControl)
        return fail(setup, L"Pas de VMR control !");
    graph.windowlessControl->SetVideoClippingWindow(setup.videoWindow);
    ComPtr<IVMRAspectRatioControl> aspect;
    graph.vmr->QueryInterface(IID_IVMRAspectRatioControl, aspect.putVoid());
    if (!aspect)
        return fail(setup, L"Pas de AspectRatioControl !");
    aspect->SetAspectRatioMode(kLetterBox);
    return GraphStatus::Built;
}

void showVideoStream(MediaGraph& graph, VideoStream stream) {
    graph.shownVideo = stream;
    ComPtr<IVMRMixerControl> mixer = graph.vmr.as<IVMRMixerControl>(IID_IVMRMixerControl);
    if (!mixer)
        return;
    // Hidden first, so that the two pictures are never shown together; a stream whose decoder
    // is missing refuses the settings, which changes nothing.
    const VideoMix mix = videoMixFor(stream);
    for (const StreamMix& setting : {mix.hidden, mix.shown}) {
        mixer->SetAlpha(setting.stream, setting.alpha);
        mixer->SetZOrder(setting.stream, setting.zOrder);
    }
}

void showChannelVideo(MediaGraph& graph, const ChannelInfo& channel) {
    showVideoStream(graph, channelVideoStream(channel));
}

ComPtr<IPin> shownVideoInput(MediaGraph& graph) {
    ComPtr<IEnumPins> pins;
    if (!graph.vmr || FAILED(graph.vmr->EnumPins(pins.put())) || !pins)
        return {};
    uint32_t index = 0;
    for (;;) {
        ComPtr<IPin> pin;
        if (pins->Next(1, pin.put(), nullptr) != S_OK || !pin)
            return {};
        PIN_DIRECTION direction;
        if (FAILED(pin->QueryDirection(&direction)) || direction != PINDIR_INPUT)
            continue;
        if (index++ == streamIndex(graph.shownVideo))
            return pin;
    }
}

void releaseVideoPresenter() {
    videoPresenter() = VideoPresenter{};
}

} // namespace korvane
