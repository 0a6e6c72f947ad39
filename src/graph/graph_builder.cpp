#include "graph/graph_builder.h"

#include "app/win/app_state.h"
#include "app/win/recording_commands.h"
#include "channels/win/channel_file_win.h"
#include "common/win/show_error.h"
#include "common/win/time_convert_win.h"
#include "common/win/wide_text.h"
#include "graph/devices.h"
#include "graph/network_provider.h"
#include "graph/platform_guids.h"
#include "graph/section_filters.h"
#include "graph/tuning.h"
#include "si/psi_ids.h"

#include <dvdmedia.h>
#include <mmreg.h>

#include <algorithm>
#include <vector>

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

int fail(const wchar_t* text) {
    showError(text);
    return 1;
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

// How the decoders on streaming threads reach the main window.
class MainWindowNotifier : public WindowNotifier {
  public:
    void postGuideUpdated() override { post(WM_USER); }
    void postStreamsChanged() override { post(WM_USER + 1); }

  private:
    static void post(UINT message) {
        if (HWND window = appState().mainWindow)
            PostMessageW(window, message, 0, 0);
    }
};

// What the section filters borrow; they outlive every graph.
MainWindowNotifier& windowNotifier() {
    static MainWindowNotifier notifier;
    return notifier;
}
const TimeConverter& systemClock() {
    static SystemTimeConverter clock;
    return clock;
}
ChannelFileSaver& channelFileSaver() {
    static ChannelFileWriter writer;
    return writer;
}

// The "video" output: MPEG-2 video in a 136-byte MPEG2VIDEOINFO holding only the source
// rectangle, a 4:3 picture aspect and the bitmap size of a 720 x 576 picture.
struct VideoFormat {
    MPEG2VIDEOINFO info{};
    VideoFormat() {
        info.hdr.rcSource = RECT{0, 0, 720, 576};
        info.hdr.dwPictAspectRatioX = 4;
        info.hdr.dwPictAspectRatioY = 3;
        info.hdr.bmiHeader.biSize = 40;
        info.hdr.bmiHeader.biWidth = 720;
        info.hdr.bmiHeader.biHeight = 576;
    }
};
static_assert(sizeof(MPEG2VIDEOINFO) == 136);

// The "son" and "ac3" outputs: 48 kHz 16-bit stereo PCM as the format block.
WAVEFORMATEX audioFormat() {
    WAVEFORMATEX format{};
    format.wFormatTag = 1;
    format.nChannels = 2;
    format.nSamplesPerSec = 48000;
    format.nAvgBytesPerSec = 192000;
    format.nBlockAlign = 4;
    format.wBitsPerSample = 16;
    format.cbSize = 0;
    return format;
}
static_assert(sizeof(WAVEFORMATEX) == 18);

AM_MEDIA_TYPE mediaType(const GUID& major, const GUID& subtype, bool fixedSize, bool temporal) {
    AM_MEDIA_TYPE type{};
    type.majortype = major;
    type.subtype = subtype;
    type.bFixedSizeSamples = fixedSize;
    type.bTemporalCompression = temporal;
    type.lSampleSize = 0;
    type.formattype = FORMAT_None;
    return type;
}

template <class Block>
AM_MEDIA_TYPE withFormat(AM_MEDIA_TYPE type, const GUID& formatType, Block& block) {
    type.formattype = formatType;
    type.cbFormat = sizeof(Block);
    type.pbFormat = reinterpret_cast<BYTE*>(&block);
    return type;
}

AM_MEDIA_TYPE sectionType(const GUID& subtype) {
    return mediaType(MEDIATYPE_MPEG2_SECTIONS, subtype, true, false);
}

// The demultiplexer copies the type it is given.
ComPtr<IPin> createOutput(IMpeg2Demultiplexer* demux, AM_MEDIA_TYPE type, const wchar_t* name) {
    ComPtr<IPin> pin;
    if (FAILED(demux->CreateOutputPin(&type, const_cast<LPWSTR>(name), pin.put())))
        return {};
    return pin;
}

HRESULT connectToInput(IPin* output, IBaseFilter* downstream) {
    ComPtr<IPin> input = findPin(downstream, PINDIR_INPUT);
    if (!output || !input)
        return VFW_E_NOT_FOUND;
    return mediaGraph().graph->ConnectDirect(output, input.get(), nullptr);
}

// Renderless mode, the allocator-presenter and the notification interface; the two last
// are held past the teardown.
int setUpRenderlessVideo(IBaseFilter* vmr, bool deinterlace) {
    {
        ComPtr<IVMRFilterConfig> config;
        vmr->QueryInterface(IID_IVMRFilterConfig, config.putVoid());
        if (!config)
            return fail(L"VMR config non dispo");
        config->SetRenderingMode(kRenderlessMode);
        if (deinterlace)
            config->SetNumberOfStreams(1);
    }
    ComPtr<IVMRSurfaceAllocatorNotify> notify;
    vmr->QueryInterface(IID_IVMRSurfaceAllocatorNotify, notify.putVoid());
    if (!notify)
        return fail(L"VMR notify non dispo");
    ComPtr<IVMRSurfaceAllocator> presenter;
    CoCreateInstance(CLSID_AllocPresenter, nullptr, CLSCTX_INPROC_SERVER, IID_IVMRSurfaceAllocator,
                     presenter.putVoid());
    {
        // A presenter that could not be made, or has no configuration, fails the call.
        ComPtr<IVMRImagePresenterConfig> presenterConfig =
            presenter.as<IVMRImagePresenterConfig>(IID_IVMRImagePresenterConfig);
        if (!presenterConfig || FAILED(presenterConfig->SetRenderingPrefs(kPresenterPrefs)))
            return fail(L"VMR ImagePresenterConfig non dispo");
    }
    notify->AdviseSurfaceAllocator(kAllocatorUserId, presenter.get());
    presenter->AdviseNotify(notify.get());
    videoPresenter() = VideoPresenter{presenter, notify};
    return 0;
}

// The driver's first deinterlacing mode for a 720 x 576 interlaced YV12 stream. A renderer
// without the deinterlace control goes on without it.
int setUpDeinterlacing(IBaseFilter* vmr) {
    {
        ComPtr<IVMRMixerControl> mixer;
        vmr->QueryInterface(IID_IVMRMixerControl, mixer.putVoid());
        if (mixer)
            mixer->SetMixingPrefs(kMixingPrefs);
    }
    ComPtr<IVMRDeinterlaceControl> control;
    vmr->QueryInterface(IID_IVMRDeinterlaceControl, control.putVoid());
    if (!control) {
        showError(L"Pas eu le VMRMixerControl :/");
        return 0;
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
        return fail(L"Nombre de modes de désentrelacement non trouvé");
    count = 1;
    GUID mode{};
    if (FAILED(control->GetNumberOfDeinterlaceModes(&description, &count, &mode)))
        return fail(L"Impossible d'avoir le GUID du désentrelacement");
    if (FAILED(control->SetDeinterlaceMode(kAllStreams, &mode)))
        return fail(L"Impossible de mettre le mode de désentrelacement");
    return 0;
}

// The configured decoder between an output and its renderer, or the platform's own choice
// ending in that renderer when no decoder has the configured name.
struct DecoderLink {
    const wchar_t* codecName;
    const wchar_t* notInserted;
    const wchar_t* notConnectedToDemux;
    const wchar_t* notConnectedToRenderer;
    const wchar_t* notRendered;
};

int linkDecoder(IPin* output, IBaseFilter* codec, IBaseFilter* renderer, const DecoderLink& link) {
    MediaGraph& graph = mediaGraph();
    if (!codec) {
        if (FAILED(graph.graph->RenderEx(output, AM_RENDEREX_RENDERTOEXISTINGRENDERERS, nullptr)))
            return fail(link.notRendered);
        return 0;
    }
    if (FAILED(graph.graph->AddFilter(codec, link.codecName)))
        return fail(link.notInserted);
    if (FAILED(connectToInput(output, codec)))
        return fail(link.notConnectedToDemux);
    if (FAILED(connectFilters(codec, renderer)))
        return fail(link.notConnectedToRenderer);
    return 0;
}

// The audio and AC-3 branches differ only in these.
struct AudioBranch {
    const wchar_t* output;
    const GUID* subtype;
    const wchar_t* notCreated;
    const wchar_t* rendererName;
    ComPtr<IBaseFilter> MediaGraph::*renderer;
    const wchar_t* rendererNotAdded;
    std::u16string AppConfig::*decoderName;
    ComPtr<IBaseFilter> MediaGraph::*codec;
    DecoderLink link;
    ComPtr<IMPEG2PIDMap> MediaGraph::*pidMap;
};

const AudioBranch kAudioBranch = {
    L"son",
    &MEDIASUBTYPE_MPEG2_AUDIO,
    L"pas créé pin son",
    L"Direct sound",
    &MediaGraph::audioRenderer,
    L"Direct sound pas ajouté",
    &AppConfig::audioDecoderName,
    &MediaGraph::audioCodec,
    {L"Codec audio", L"Codec audio non inséré dans le graph",
     L"Impossible de connecter le demux au codec audio", L"connec Codec audio", L"pas render son"},
    &MediaGraph::audioPidMap,
};

const AudioBranch kAc3Branch = {
    L"ac3",
    &MEDIASUBTYPE_DOLBY_AC3,
    L"pas créé pin ac3",
    L"Direct sound le retour",
    &MediaGraph::ac3Renderer,
    L"Direct sound le retour not added",
    &AppConfig::ac3DecoderName,
    &MediaGraph::ac3Codec,
    {L"Codec ac3", L"Codec AC3 non inséré dans le graph",
     L"Impossible de connecter le demux au codec AC3", L"connec Codec audio", L"pas render son"},
    &MediaGraph::ac3PidMap,
};

int buildAudioOutput(IMpeg2Demultiplexer* demux, const AudioBranch& branch) {
    MediaGraph& graph = mediaGraph();
    const AppConfig& config = appConfig();
    WAVEFORMATEX format = audioFormat();
    ComPtr<IPin> output =
        createOutput(demux,
                     withFormat(mediaType(MEDIATYPE_Audio, *branch.subtype, true, false),
                                FORMAT_WaveFormatEx, format),
                     branch.output);
    if (!output)
        return fail(branch.notCreated);
    ComPtr<IBaseFilter>& renderer = graph.*branch.renderer;
    renderer = addFilterByClsid(CLSID_DSoundRender, branch.rendererName);
    if (!renderer)
        return fail(branch.rendererNotAdded);
    ComPtr<IBaseFilter>& codec = graph.*branch.codec;
    codec = findCodecByName(MEDIATYPE_Audio, *branch.subtype, toWide(config.*branch.decoderName),
                            config.strictSearch != 0);
    if (linkDecoder(output.get(), codec.get(), renderer.get(), branch.link))
        return 1;
    graph.*branch.pidMap = output.as<IMPEG2PIDMap>(IID_IMPEG2PIDMap);
    return 0;
}

// The EPG and PMT branches: a section filter of the program's own on its output.
struct SectionBranch {
    const wchar_t* output;
    const wchar_t* notCreated;
    const wchar_t* filterName;
    const wchar_t* notAdded;
    ComPtr<IBaseFilter> (*makeFilter)(HRESULT* hr);
};

ComPtr<IBaseFilter> makeEpgFilter(HRESULT* hr) {
    return ComPtr<IBaseFilter>(
        new CEPGFilter(kClsidEpgFilter, hr, channelList(), windowNotifier(), systemClock()));
}

ComPtr<IBaseFilter> makePmtFilter(HRESULT* hr) {
    return ComPtr<IBaseFilter>(
        new CPMTFilter(kClsidPmtFilter, hr, channelList(), windowNotifier(), channelFileSaver()));
}

const SectionBranch kEpgBranch = {L"epg", L"pas créé pin epg", L"Mon filtre EPG",
                                  L"pas ajouté filtre EPG au graph", &makeEpgFilter};
const SectionBranch kPmtBranch = {L"pmt", L"pas créé pin pmt", L"Mon filtre PMT",
                                  L"pas ajouté PMT filtre au graph", &makePmtFilter};

// Connects the output to the filter and returns the output, or empty after a message.
ComPtr<IPin> buildSectionOutput(IMpeg2Demultiplexer* demux, const SectionBranch& branch) {
    ComPtr<IPin> output = createOutput(demux, sectionType(kMediaSubtypeDvbSi), branch.output);
    if (!output) {
        showError(branch.notCreated);
        return {};
    }
    HRESULT hr = S_OK;
    ComPtr<IBaseFilter> filter = branch.makeFilter(&hr);
    if (FAILED(hr) || FAILED(mediaGraph().graph->AddFilter(filter.get(), branch.filterName))) {
        showError(branch.notAdded);
        return {};
    }
    ComPtr<IPin> input = findPin(filter.get(), PINDIR_INPUT);
    if (!input) {
        showError(L"pas trouvé pin entrée");
        return {};
    }
    if (FAILED(mediaGraph().graph->ConnectDirect(output.get(), input.get(), nullptr))) {
        showError(L"pas connecté pin entrée");
        return {};
    }
    return output;
}

// The filters of the graph, the most downstream first, so that a thread blocked delivering
// into a paused filter is released before its upstream filter waits for it.
std::vector<ComPtr<IBaseFilter>> filtersDownstreamFirst(IFilterGraph* graph) {
    std::vector<ComPtr<IBaseFilter>> filters;
    ComPtr<IEnumFilters> all;
    if (FAILED(graph->EnumFilters(all.put())) || !all)
        return filters;
    for (;;) {
        ComPtr<IBaseFilter> filter;
        if (all->Next(1, filter.put(), nullptr) != S_OK || !filter)
            break;
        filters.push_back(filter);
    }
    // A filter goes once every filter its outputs feed is already in the order.
    auto feedsPending = [&](IBaseFilter* filter, const std::vector<IBaseFilter*>& pending) {
        ComPtr<IEnumPins> pins;
        if (FAILED(filter->EnumPins(pins.put())) || !pins)
            return false;
        for (;;) {
            ComPtr<IPin> pin;
            if (pins->Next(1, pin.put(), nullptr) != S_OK || !pin)
                return false;
            PIN_DIRECTION direction;
            ComPtr<IPin> peer;
            if (FAILED(pin->QueryDirection(&direction)) || direction != PINDIR_OUTPUT ||
                FAILED(pin->ConnectedTo(peer.put())) || !peer)
                continue;
            PIN_INFO info{};
            if (FAILED(peer->QueryPinInfo(&info)))
                continue;
            ComPtr<IBaseFilter> owner = ComPtr<IBaseFilter>::adopt(info.pFilter);
            for (IBaseFilter* other : pending)
                if (other != filter && other == owner.get())
                    return true;
        }
    };
    std::vector<ComPtr<IBaseFilter>> ordered;
    std::vector<IBaseFilter*> pending;
    for (const auto& filter : filters)
        pending.push_back(filter.get());
    while (!pending.empty()) {
        auto next = std::find_if(pending.begin(), pending.end(),
                                 [&](IBaseFilter* f) { return !feedsPending(f, pending); });
        // A loop of connections cannot be ordered: take the rest as they come.
        if (next == pending.end())
            next = pending.begin();
        ordered.push_back(ComPtr<IBaseFilter>(*next));
        pending.erase(next);
    }
    return ordered;
}

// The graph's Stop can leave filters paused (after a Run that failed half-way the graph
// manager may think it never left Stopped): every filter is stopped itself as well.
void stopEveryFilter(IFilterGraph* graph) {
    for (const auto& filter : filtersDownstreamFirst(graph))
        filter->Stop();
}

} // namespace

ComPtr<IBaseFilter> addFilterByClsid(REFCLSID clsid, const wchar_t* name) {
    ComPtr<IBaseFilter> filter;
    if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                filter.putVoid())) ||
        !filter)
        return {};
    if (FAILED(mediaGraph().graph->AddFilter(filter.get(), name)))
        return {};
    return filter;
}

ComPtr<IPin> findPin(IBaseFilter* filter, PIN_DIRECTION direction) {
    if (!filter)
        return {};
    ComPtr<IEnumPins> pins;
    if (FAILED(filter->EnumPins(pins.put())) || !pins)
        return {};
    for (;;) {
        ComPtr<IPin> pin;
        if (pins->Next(1, pin.put(), nullptr) != S_OK || !pin)
            return {};
        PIN_DIRECTION found;
        if (SUCCEEDED(pin->QueryDirection(&found)) && found == direction)
            return pin;
    }
}

HRESULT connectFilters(IBaseFilter* upstream, IBaseFilter* downstream) {
    ComPtr<IPin> output = findPin(upstream, PINDIR_OUTPUT);
    ComPtr<IPin> input = findPin(downstream, PINDIR_INPUT);
    if (!output || !input)
        return VFW_E_NOT_FOUND;
    return mediaGraph().graph->ConnectDirect(output.get(), input.get(), nullptr);
}

int buildVideoBranch(IMpeg2Demultiplexer* demux) {
    MediaGraph& graph = mediaGraph();
    const AppConfig& config = appConfig();
    VideoFormat format;
    ComPtr<IPin> output =
        createOutput(demux,
                     withFormat(mediaType(MEDIATYPE_Video, MEDIASUBTYPE_MPEG2_VIDEO, false, true),
                                FORMAT_MPEG2Video, format.info),
                     L"video");
    if (!output)
        return fail(L"pas créé pin video");
    graph.vmr = addFilterByClsid(CLSID_VideoMixingRenderer, L"Mon VMR");
    if (!graph.vmr)
        return fail(L"VMR non inséré");
    if (setUpRenderlessVideo(graph.vmr.get(), config.vmrDeinterlace))
        return 1;
    if (config.vmrDeinterlace && setUpDeinterlacing(graph.vmr.get()))
        return 1;
    graph.vmr->QueryInterface(IID_IVMRWindowlessControl, graph.windowlessControl.putVoid());
    if (!graph.windowlessControl)
        return fail(L"Pas de VMR control !");
    graph.windowlessControl->SetVideoClippingWindow(appState().mainWindow);
    {
        ComPtr<IVMRAspectRatioControl> aspect;
        graph.vmr->QueryInterface(IID_IVMRAspectRatioControl, aspect.putVoid());
        if (!aspect)
            return fail(L"Pas de AspectRatioControl !");
        aspect->SetAspectRatioMode(kLetterBox);
    }
    graph.videoCodec = findCodecByName(MEDIATYPE_Video, MEDIASUBTYPE_MPEG2_VIDEO,
                                       toWide(config.videoDecoderName), config.strictSearch != 0);
    const DecoderLink link = {
        L"Codec vidéo", L"Codec vidéo non inséré dans le graph",
        L"Impossible de connecter le demux au codec vidéo",
        L"Impossible de connecter le codec vidéo au VMR.\nC'est probablement l'overlay qui n'est "
        L"pas disponible.\n\nVeuillez le libérer et relancer l'application",
        L"pas trouvé de codec vidéo"};
    if (linkDecoder(output.get(), graph.videoCodec.get(), graph.vmr.get(), link))
        return 1;
    graph.videoPidMap = output.as<IMPEG2PIDMap>(IID_IMPEG2PIDMap);
    return 0;
}

int buildAudioBranch(IMpeg2Demultiplexer* demux) {
    return buildAudioOutput(demux, kAudioBranch);
}

int buildAc3Branch(IMpeg2Demultiplexer* demux) {
    return buildAudioOutput(demux, kAc3Branch);
}

int buildSectionDataBranch(IMpeg2Demultiplexer* demux) {
    MediaGraph& graph = mediaGraph();
    ComPtr<IPin> output = createOutput(demux, sectionType(kMediaSubtypeMpeg2Data), L"data");
    if (!output)
        return fail(L"pas créé pin data");
    ComPtr<IBaseFilter> reader = addFilterByClsid(kClsidSectionsAndTables, L"MPEG2 data");
    if (!reader)
        return fail(L"MPEG2 data pas inséré");
    reader->QueryInterface(kIidMpeg2Data, graph.sectionData.putVoid());
    if (FAILED(connectToInput(output.get(), reader.get())))
        return fail(L"Impossible de connecter le demux au mpeg2data");
    return 0;
}

int buildEpgBranch(IMpeg2Demultiplexer* demux) {
    ComPtr<IPin> output = buildSectionOutput(demux, kEpgBranch);
    if (!output)
        return 1;
    // The guide of every channel comes on one PID for the whole run.
    if (ComPtr<IMPEG2PIDMap> map = output.as<IMPEG2PIDMap>(IID_IMPEG2PIDMap)) {
        ULONG pid = kEitPid;
        map->MapPID(1, &pid, MEDIA_MPEG2_PSI);
    }
    return 0;
}

int buildPmtBranch(IMpeg2Demultiplexer* demux) {
    ComPtr<IPin> output = buildSectionOutput(demux, kPmtBranch);
    if (!output)
        return 1;
    mediaGraph().pmtPidMap = output.as<IMPEG2PIDMap>(IID_IMPEG2PIDMap);
    return 0;
}

int renderDemuxOutputs() {
    ComPtr<IMpeg2Demultiplexer> demux =
        mediaGraph().demux.as<IMpeg2Demultiplexer>(IID_IMpeg2Demultiplexer);
    if (!demux)
        return fail(L"Demux MPEG2 non valide !");
    struct Branch {
        int (*build)(IMpeg2Demultiplexer*);
        const wchar_t* failed;
    };
    static const Branch branches[] = {
        {&buildVideoBranch, L"Erreur lors du rendu du pin vidéo"},
        {&buildAudioBranch, L"Erreur lors du rendu du pin son"},
        {&buildAc3Branch, L"Erreur lors du rendu du pin ac3"},
        {&buildSectionDataBranch, L"Erreur lors du rendu du pin mpeg2"},
        {&buildEpgBranch, L"Erreur lors du rendu du pin epg"},
        {&buildPmtBranch, L"Erreur lors du rendu du pin pmt"},
    };
    for (const Branch& branch : branches)
        if (branch.build(demux.get()))
            return fail(branch.failed);
    return 0;
}

int buildSourceChain() {
    MediaGraph& graph = mediaGraph();
    if (FAILED(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterGraph2,
                                graph.graph.putVoid())) ||
        !graph.graph)
        return fail(L"Pas réussi à créer le graph DirectShow !");
    HRESULT hr = S_OK;
    ComPtr<IBaseFilter> provider(new CNetworkProvider(nullptr, &hr, kClsidNetworkProvider));
    if (FAILED(hr) || FAILED(graph.graph->AddFilter(provider.get(), L"Fake")))
        return fail(L"ajout du network provider ratée !!!");

    ComPtr<IBaseFilter> source;
    switch (classifyTransport(graph.tuner.get())) {
    case TransportKind::Mpeg2Transport:
        if (FAILED(graph.graph->AddFilter(graph.tuner.get(), L"Network Tuner")))
            return fail(L"Tuner pas inséré");
        if (FAILED(graph.graph->AddFilter(graph.receiver.get(), L"Receiver Component")))
            return fail(L"Récepteur pas inséré");
        if (FAILED(connectFilters(provider.get(), graph.tuner.get())))
            return fail(L"Tuner TNT non compatible, veuillez effacer config.ini et redémarrer");
        if (FAILED(connectFilters(graph.tuner.get(), graph.receiver.get())))
            return fail(L"Récepteur TNT non compatible, veuillez effacer config.ini et redémarrer");
        source = graph.receiver;
        break;
    case TransportKind::BdaTransport:
        if (FAILED(graph.graph->AddFilter(graph.tuner.get(), L"Clé USB")))
            return fail(L"Clé USB pas inséré");
        if (FAILED(connectFilters(provider.get(), graph.tuner.get())))
            return fail(L"Tuner USB non compatible, veuillez effacer config.ini et redémarrer");
        source = graph.tuner;
        break;
    case TransportKind::None:
        return 1;
    }

    findTuningInterfaces(graph);
    if (!graph.frequencyFilter)
        return fail(L"Pas trouvé l'interface pour changer de fréquence");
    findSignalStatistics(graph);
    if (!graph.signalStatistics)
        return fail(L"Pas trouvé l'interface pour avoir la qualité du signal");

    ComPtr<IBaseFilter> grabber = addFilterByClsid(kClsidSampleGrabber, L"Grabber");
    if (!grabber)
        return 1;
    if (FAILED(connectFilters(source.get(), grabber.get())))
        return fail(L"Pas connecté le grabber à la carte TNT, veuillez effacer config.ini et "
                    L"redémarrer\n");
    graph.grabber = grabber.as<ISampleGrabber>(kIidSampleGrabber);
    setRecordingGrabber(graph.grabber.get());

    graph.demux = addFilterByClsid(CLSID_MPEG2Demultiplexer, L"Demux");
    if (!graph.demux)
        return 1;
    if (FAILED(connectFilters(grabber.get(), graph.demux.get())))
        return fail(L"Pas connecté le grabber au demux, veuillez effacer config.ini et redémarrer");
    return 0;
}

int runGraph() {
    MediaGraph& graph = mediaGraph();
    graph.mediaControl = graph.graph.as<IMediaControl>(IID_IMediaControl);
    if (!graph.mediaControl)
        return 1;
    // A graph that does not run shows no picture; nothing is reported.
    graph.mediaControl->Run();
    return 0;
}

int buildGraph() {
    if (int status = buildSourceChain())
        return status;
    if (renderDemuxOutputs())
        return fail(L"Erreur lors de la création du graph");
    return runGraph();
}

void tearDownGraph() {
    MediaGraph& graph = mediaGraph();
    releaseRecordingGrabber();
    if (graph.mediaControl)
        graph.mediaControl->Stop();
    if (graph.graph)
        stopEveryFilter(graph.graph.get());
    // Only now that nothing streams may the grabber's callback change.
    if (graph.grabber)
        graph.grabber->SetCallback(nullptr, 0);
    graph.sectionData.reset();
    graph.windowlessControl.reset();
    graph.graph.reset();
    graph.videoCodec.reset();
    graph.audioCodec.reset();
    graph.ac3Codec.reset();
    graph.videoPidMap.reset();
    graph.audioPidMap.reset();
    graph.ac3PidMap.reset();
    graph.pmtPidMap.reset();
    graph.demux.reset();
    graph.vmr.reset();
    graph.audioRenderer.reset();
    graph.ac3Renderer.reset();
    graph.tuner.reset();
    graph.receiver.reset();
    graph.signalStatistics.reset();
    graph.frequencyFilter.reset();
    graph.deviceControl.reset();
    graph.grabber.reset();
    graph.mediaControl.reset();
}

void releaseVideoPresenter() {
    videoPresenter() = VideoPresenter{};
}

} // namespace korvane
