#include "graph/graph_builder.h"

#include "common/win/window_messages.h"

#include "graph/demux_outputs.h"
#include "graph/devices.h"
#include "graph/network_provider.h"
#include "graph/platform_guids.h"
#include "graph/section_filters.h"
#include "graph/subtitle_filter.h"
#include "graph/tuning.h"
#include "si/psi_ids.h"

#include <string>

namespace korvane {

namespace {

GraphStatus fail(const GraphSetup& setup, const wchar_t* text) {
    setup.errors.report(text);
    return GraphStatus::Failed;
}

bool failed(GraphStatus status) {
    return status != GraphStatus::Built;
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

GraphStatus linkDecoder(IPin* output, IBaseFilter* codec, IBaseFilter* renderer,
                        const DecoderLink& link, const GraphSetup& setup) {
    MediaGraph& graph = mediaGraph();
    if (!codec) {
        if (FAILED(graph.graph->RenderEx(output, AM_RENDEREX_RENDERTOEXISTINGRENDERERS, nullptr)))
            return fail(setup, link.notRendered);
        return GraphStatus::Built;
    }
    if (FAILED(graph.graph->AddFilter(codec, link.codecName)))
        return fail(setup, link.notInserted);
    if (FAILED(connectToInput(output, codec)))
        return fail(setup, link.notConnectedToDemux);
    if (FAILED(connectFilters(codec, renderer)))
        return fail(setup, link.notConnectedToRenderer);
    return GraphStatus::Built;
}

// The video, audio and AC-3 branches: output -> decoder -> renderer.
struct DecoderBranch {
    const wchar_t* output;
    ComPtr<IPin> (*createOutput)(IMpeg2Demultiplexer*, const GUID&, const wchar_t*);
    const GUID* major;
    const GUID* subtype;
    const wchar_t* notCreated;
    const CLSID* rendererClass;
    const wchar_t* rendererName;
    ComPtr<IBaseFilter> MediaGraph::*renderer;
    const wchar_t* rendererNotAdded;
    GraphStatus (*setUpRenderer)(MediaGraph&, const GraphSetup&); // may be null
    std::wstring GraphSettings::*decoderName;
    ComPtr<IBaseFilter> MediaGraph::*codec;
    DecoderLink link;
    ComPtr<IMPEG2PIDMap> MediaGraph::*pidMap;
};

const DecoderBranch kVideoBranch = {
    L"video",
    &createVideoOutput,
    &MEDIATYPE_Video,
    &MEDIASUBTYPE_MPEG2_VIDEO,
    L"pas créé pin video",
    &CLSID_VideoMixingRenderer,
    L"Mon VMR",
    &MediaGraph::vmr,
    L"VMR non inséré",
    &setUpVideoRenderer,
    &GraphSettings::videoDecoderName,
    &MediaGraph::videoCodec,
    {L"Codec vidéo", L"Codec vidéo non inséré dans le graph",
     L"Impossible de connecter le demux au codec vidéo",
     L"Impossible de connecter le codec vidéo au VMR.\nC'est probablement l'overlay qui n'est "
     L"pas disponible.\n\nVeuillez le libérer et relancer l'application",
     L"pas trouvé de codec vidéo"},
    &MediaGraph::videoPidMap,
};

const DecoderBranch kAudioBranch = {
    L"son",
    &createAudioOutput,
    &MEDIATYPE_Audio,
    &MEDIASUBTYPE_MPEG2_AUDIO,
    L"pas créé pin son",
    &CLSID_DSoundRender,
    L"Direct sound",
    &MediaGraph::audioRenderer,
    L"Direct sound pas ajouté",
    nullptr,
    &GraphSettings::audioDecoderName,
    &MediaGraph::audioCodec,
    {L"Codec audio", L"Codec audio non inséré dans le graph",
     L"Impossible de connecter le demux au codec audio", L"connec Codec audio", L"pas render son"},
    &MediaGraph::audioPidMap,
};

const DecoderBranch kAc3Branch = {
    L"ac3",
    &createAudioOutput,
    &MEDIATYPE_Audio,
    &MEDIASUBTYPE_DOLBY_AC3,
    L"pas créé pin ac3",
    &CLSID_DSoundRender,
    L"Direct sound le retour",
    &MediaGraph::ac3Renderer,
    L"Direct sound le retour not added",
    nullptr,
    &GraphSettings::ac3DecoderName,
    &MediaGraph::ac3Codec,
    {L"Codec ac3", L"Codec AC3 non inséré dans le graph",
     L"Impossible de connecter le demux au codec AC3", L"connec Codec audio", L"pas render son"},
    &MediaGraph::ac3PidMap,
};

GraphStatus buildDecoderBranch(IMpeg2Demultiplexer* demux, const DecoderBranch& branch,
                               const GraphSetup& setup) {
    MediaGraph& graph = mediaGraph();
    ComPtr<IPin> output = branch.createOutput(demux, *branch.subtype, branch.output);
    if (!output)
        return fail(setup, branch.notCreated);
    ComPtr<IBaseFilter>& renderer = graph.*branch.renderer;
    renderer = addFilterByClsid(*branch.rendererClass, branch.rendererName);
    if (!renderer)
        return fail(setup, branch.rendererNotAdded);
    if (branch.setUpRenderer && failed(branch.setUpRenderer(graph, setup)))
        return GraphStatus::Failed;
    ComPtr<IBaseFilter>& codec = graph.*branch.codec;
    codec = findCodecByName(*branch.major, *branch.subtype, setup.settings.*branch.decoderName,
                            setup.settings.strictSearch);
    if (failed(linkDecoder(output.get(), codec.get(), renderer.get(), branch.link, setup)))
        return GraphStatus::Failed;
    graph.*branch.pidMap = output.as<IMPEG2PIDMap>(IID_IMPEG2PIDMap);
    return GraphStatus::Built;
}

// The H.264 and E-AC-3 branches, after the six others. A branch that cannot be built takes
// out what it added and is named in one message at the end: the program plays what it can.
struct ExtraBranch {
    const wchar_t* output;
    ComPtr<IPin> (*createOutput)(IMpeg2Demultiplexer*, const GUID&, const wchar_t*);
    const GUID* major;
    const GUID* subtype;
    const CLSID* rendererClass; // null: the video renderer's H.264 stream
    const wchar_t* rendererName;
    ComPtr<IBaseFilter> MediaGraph::*renderer;
    std::wstring GraphSettings::*decoderName;
    const wchar_t* codecName;
    ComPtr<IBaseFilter> MediaGraph::*codec;
    ComPtr<IMPEG2PIDMap> MediaGraph::*pidMap;
    const wchar_t* missing;
};

const ExtraBranch kH264Branch = {
    L"h264",
    &createVideoOutput,
    &MEDIATYPE_Video,
    &kMediaSubtypeH264,
    nullptr,
    nullptr,
    &MediaGraph::vmr,
    &GraphSettings::h264DecoderName,
    L"Codec H264",
    &MediaGraph::h264Codec,
    &MediaGraph::h264PidMap,
    L"pas de décodeur vidéo H264 : les chaînes en H264 n'auront pas d'image",
};

const ExtraBranch kEac3Branch = {
    L"eac3",
    &createAudioOutput,
    &MEDIATYPE_Audio,
    &kMediaSubtypeDolbyDigitalPlus,
    &CLSID_DSoundRender,
    L"Direct sound E-AC3",
    &MediaGraph::eac3Renderer,
    &GraphSettings::eac3DecoderName,
    L"Codec E-AC3",
    &MediaGraph::eac3Codec,
    &MediaGraph::eac3PidMap,
    L"pas de décodeur audio E-AC3 : les chaînes en E-AC3 n'auront pas de son",
};

// The renderer's first input pin that nothing feeds yet (the video renderer's H.264 stream
// comes after the MPEG-2 one).
ComPtr<IPin> freeInput(IBaseFilter* filter) {
    ComPtr<IEnumPins> pins;
    if (!filter || FAILED(filter->EnumPins(pins.put())) || !pins)
        return {};
    for (;;) {
        ComPtr<IPin> pin;
        if (pins->Next(1, pin.put(), nullptr) != S_OK || !pin)
            return {};
        PIN_DIRECTION direction;
        ComPtr<IPin> peer;
        if (SUCCEEDED(pin->QueryDirection(&direction)) && direction == PINDIR_INPUT &&
            pin->ConnectedTo(peer.put()) == VFW_E_NOT_CONNECTED)
            return pin;
    }
}

// output -> codec -> the renderer's free input, the codec added under name; on failure the
// codec is taken out again.
bool linkThrough(IPin* output, IBaseFilter* codec, const wchar_t* name, IPin* input) {
    IFilterGraph2* graph = mediaGraph().graph.get();
    if (FAILED(graph->AddFilter(codec, name)))
        return false;
    ComPtr<IPin> codecOutput = findPin(codec, PINDIR_OUTPUT);
    if (SUCCEEDED(connectToInput(output, codec)) && codecOutput &&
        SUCCEEDED(graph->ConnectDirect(codecOutput.get(), input, nullptr)))
        return true;
    // Removing a filter breaks its connections.
    graph->RemoveFilter(codec);
    return false;
}

// The named decoder, or else the first registered decoder of the type that connects, in the
// mapper's order. The platform's own automatic rendering is not used here: it may connect a
// compressed sound output straight to the sound renderer, whose format block says PCM.
bool linkExtraDecoder(IPin* output, IBaseFilter* codec, IBaseFilter* renderer,
                      const ExtraBranch& branch, const GraphSetup& setup) {
    ComPtr<IPin> input = freeInput(renderer);
    if (!input)
        return false;
    if (codec)
        return linkThrough(output, codec, branch.codecName, input.get());
    for (const NamedFilter& candidate :
         findCodecs(*branch.major, *branch.subtype, setup.settings.strictSearch))
        if (linkThrough(output, candidate.filter.get(), candidate.name.c_str(), input.get()))
            return true;
    return false;
}

// True when the branch plays; otherwise the graph is left as it was before it.
bool buildExtraBranch(IMpeg2Demultiplexer* demux, const ExtraBranch& branch,
                      const GraphSetup& setup) {
    MediaGraph& graph = mediaGraph();
    ComPtr<IPin> output = branch.createOutput(demux, *branch.subtype, branch.output);
    if (!output)
        return false;
    ComPtr<IBaseFilter> renderer =
        branch.rendererClass ? addFilterByClsid(*branch.rendererClass, branch.rendererName)
                             : graph.*branch.renderer;
    ComPtr<IBaseFilter> codec =
        findCodecByName(*branch.major, *branch.subtype, setup.settings.*branch.decoderName,
                        setup.settings.strictSearch);
    if (renderer && linkExtraDecoder(output.get(), codec.get(), renderer.get(), branch, setup)) {
        if (branch.rendererClass)
            graph.*branch.renderer = renderer;
        graph.*branch.codec = codec;
        graph.*branch.pidMap = output.as<IMPEG2PIDMap>(IID_IMPEG2PIDMap);
        return true;
    }
    if (renderer && branch.rendererClass)
        graph.graph->RemoveFilter(renderer.get());
    output.reset();
    demux->DeleteOutputPin(const_cast<LPWSTR>(branch.output));
    return false;
}

// The "subtitles" output and its sink; on failure the graph is left as it was before it.
bool buildSubtitleBranch(IMpeg2Demultiplexer* demux, const GraphSetup& setup) {
    constexpr const wchar_t* kOutput = L"subtitles";
    MediaGraph& graph = mediaGraph();
    ComPtr<IPin> output = createSubtitleOutput(demux, kOutput);
    if (!output)
        return false;
    HRESULT hr = S_OK;
    auto* sink = new CSubtitleFilter(kClsidSubtitleFilter, &hr, *setup.subtitles);
    ComPtr<IBaseFilter> filter(sink);
    ComPtr<IPin> input = findPin(filter.get(), PINDIR_INPUT);
    if (SUCCEEDED(hr) && input && SUCCEEDED(graph.graph->AddFilter(filter.get(), L"Sous-titres"))) {
        if (SUCCEEDED(graph.graph->ConnectDirect(output.get(), input.get(), nullptr))) {
            graph.subtitleFilter = filter;
            graph.subtitles = sink;
            graph.subtitlePidMap = output.as<IMPEG2PIDMap>(IID_IMPEG2PIDMap);
            return true;
        }
        graph.graph->RemoveFilter(filter.get());
    }
    output.reset();
    demux->DeleteOutputPin(const_cast<LPWSTR>(kOutput));
    return false;
}

void buildExtraBranches(IMpeg2Demultiplexer* demux, const GraphSetup& setup) {
    std::wstring missing;
    for (const ExtraBranch* branch : {&kH264Branch, &kEac3Branch})
        if (!buildExtraBranch(demux, *branch, setup))
            missing += std::wstring(missing.empty() ? L"" : L"\n") + branch->missing;
    if (setup.subtitles && !buildSubtitleBranch(demux, setup))
        missing += std::wstring(missing.empty() ? L"" : L"\n") +
                   L"pas de sortie des sous-titres : ils ne seront pas affichés";
    if (!missing.empty())
        setup.errors.report(
            (L"La lecture des chaînes actuelles sera incomplète :\n" + missing).c_str());
}

// The "data", "epg" and "pmt" branches: a section reader on its output.
struct SectionBranch {
    const wchar_t* output;
    const GUID* subtype;
    const wchar_t* notCreated;
    const wchar_t* filterName;
    const wchar_t* notAdded;
    ComPtr<IBaseFilter> (*makeFilter)(const GraphSetup& setup, HRESULT* hr);
    const wchar_t* noInput;
    const wchar_t* notConnected;
    // What the graph keeps of the connected branch.
    void (*keep)(MediaGraph& graph, IPin* output, IBaseFilter* filter);
};

ComPtr<IBaseFilter> makeSectionsAndTables(const GraphSetup&, HRESULT* hr) {
    ComPtr<IBaseFilter> filter;
    *hr = CoCreateInstance(kClsidSectionsAndTables, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                           filter.putVoid());
    return filter;
}

ComPtr<IBaseFilter> makeEpgFilter(const GraphSetup& setup, HRESULT* hr) {
    return ComPtr<IBaseFilter>(
        new CEPGFilter(kClsidEpgFilter, hr, setup.channels, setup.notifier, setup.clock));
}

ComPtr<IBaseFilter> makePmtFilter(const GraphSetup& setup, HRESULT* hr) {
    return ComPtr<IBaseFilter>(
        new CPMTFilter(kClsidPmtFilter, hr, setup.channels, setup.notifier, setup.saver));
}

void keepSectionData(MediaGraph& graph, IPin*, IBaseFilter* filter) {
    filter->QueryInterface(kIidMpeg2Data, graph.sectionData.putVoid());
}

// The guide of every channel comes on one PID for the whole run; the network's NIT, whose
// version tells of a renumbering, comes with it on the same output.
void mapGuidePid(MediaGraph&, IPin* output, IBaseFilter*) {
    ComPtr<IMPEG2PIDMap> map;
    if (SUCCEEDED(output->QueryInterface(IID_IMPEG2PIDMap, map.putVoid())) && map) {
        ULONG pids[] = {kEitPid, kNitPid};
        map->MapPID(2, pids, MEDIA_MPEG2_PSI);
    }
}

void keepPmtPidMap(MediaGraph& graph, IPin* output, IBaseFilter*) {
    output->QueryInterface(IID_IMPEG2PIDMap, graph.pmtPidMap.putVoid());
}

const SectionBranch kSectionDataBranch = {
    L"data",
    &kMediaSubtypeMpeg2Data,
    L"pas créé pin data",
    L"MPEG2 data",
    L"MPEG2 data pas inséré",
    &makeSectionsAndTables,
    L"Impossible de connecter le demux au mpeg2data",
    L"Impossible de connecter le demux au mpeg2data",
    &keepSectionData,
};
const SectionBranch kEpgBranch = {
    L"epg",
    &kMediaSubtypeDvbSi,
    L"pas créé pin epg",
    L"Mon filtre EPG",
    L"pas ajouté filtre EPG au graph",
    &makeEpgFilter,
    L"pas trouvé pin entrée",
    L"pas connecté pin entrée",
    &mapGuidePid,
};
const SectionBranch kPmtBranch = {
    L"pmt",
    &kMediaSubtypeDvbSi,
    L"pas créé pin pmt",
    L"Mon filtre PMT",
    L"pas ajouté PMT filtre au graph",
    &makePmtFilter,
    L"pas trouvé pin entrée",
    L"pas connecté pin entrée",
    &keepPmtPidMap,
};

GraphStatus buildSectionBranch(IMpeg2Demultiplexer* demux, const SectionBranch& branch,
                               const GraphSetup& setup) {
    MediaGraph& graph = mediaGraph();
    ComPtr<IPin> output = createSectionOutput(demux, *branch.subtype, branch.output);
    if (!output)
        return fail(setup, branch.notCreated);
    HRESULT hr = S_OK;
    ComPtr<IBaseFilter> filter = branch.makeFilter(setup, &hr);
    if (FAILED(hr) || !filter || FAILED(graph.graph->AddFilter(filter.get(), branch.filterName)))
        return fail(setup, branch.notAdded);
    ComPtr<IPin> input = findPin(filter.get(), PINDIR_INPUT);
    if (!input)
        return fail(setup, branch.noInput);
    if (FAILED(graph.graph->ConnectDirect(output.get(), input.get(), nullptr)))
        return fail(setup, branch.notConnected);
    branch.keep(graph, output.get(), filter.get());
    return GraphStatus::Built;
}

// The tuner alone, or the tuner and its receiver, after the network provider; source is
// the filter the stream comes out of.
GraphStatus addTuner(MediaGraph& graph, IBaseFilter* provider, const GraphSetup& setup,
                     ComPtr<IBaseFilter>& source) {
    switch (classifyTransport(graph.tuner.get())) {
    case TransportKind::Mpeg2Transport:
        if (FAILED(graph.graph->AddFilter(graph.tuner.get(), L"Network Tuner")))
            return fail(setup, L"Tuner pas inséré");
        if (FAILED(graph.graph->AddFilter(graph.receiver.get(), L"Receiver Component")))
            return fail(setup, L"Récepteur pas inséré");
        if (FAILED(connectFilters(provider, graph.tuner.get())))
            return fail(setup,
                        L"Tuner TNT non compatible, veuillez effacer config.ini et redémarrer");
        if (FAILED(connectFilters(graph.tuner.get(), graph.receiver.get())))
            return fail(setup,
                        L"Récepteur TNT non compatible, veuillez effacer config.ini et redémarrer");
        source = graph.receiver;
        return GraphStatus::Built;
    case TransportKind::BdaTransport:
        if (FAILED(graph.graph->AddFilter(graph.tuner.get(), L"Clé USB")))
            return fail(setup, L"Clé USB pas inséré");
        if (FAILED(connectFilters(provider, graph.tuner.get())))
            return fail(setup,
                        L"Tuner USB non compatible, veuillez effacer config.ini et redémarrer");
        source = graph.tuner;
        return GraphStatus::Built;
    case TransportKind::None:
        break;
    }
    return GraphStatus::Failed;
}

} // namespace

GraphStatus buildVideoBranch(IMpeg2Demultiplexer* demux, const GraphSetup& setup) {
    return buildDecoderBranch(demux, kVideoBranch, setup);
}

GraphStatus buildAudioBranch(IMpeg2Demultiplexer* demux, const GraphSetup& setup) {
    return buildDecoderBranch(demux, kAudioBranch, setup);
}

GraphStatus buildAc3Branch(IMpeg2Demultiplexer* demux, const GraphSetup& setup) {
    return buildDecoderBranch(demux, kAc3Branch, setup);
}

GraphStatus buildSectionDataBranch(IMpeg2Demultiplexer* demux, const GraphSetup& setup) {
    return buildSectionBranch(demux, kSectionDataBranch, setup);
}

GraphStatus buildEpgBranch(IMpeg2Demultiplexer* demux, const GraphSetup& setup) {
    return buildSectionBranch(demux, kEpgBranch, setup);
}

GraphStatus buildPmtBranch(IMpeg2Demultiplexer* demux, const GraphSetup& setup) {
    return buildSectionBranch(demux, kPmtBranch, setup);
}

GraphStatus renderDemuxOutputs(const GraphSetup& setup) {
    ComPtr<IMpeg2Demultiplexer> demux =
        mediaGraph().demux.as<IMpeg2Demultiplexer>(IID_IMpeg2Demultiplexer);
    if (!demux)
        return fail(setup, L"Demux MPEG2 non valide !");
    struct Branch {
        GraphStatus (*build)(IMpeg2Demultiplexer*, const GraphSetup&);
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
        if (failed(branch.build(demux.get(), setup)))
            return fail(setup, branch.failed);
    buildExtraBranches(demux.get(), setup);
    return GraphStatus::Built;
}

GraphStatus buildSourceChain(const GraphSetup& setup) {
    MediaGraph& graph = mediaGraph();
    if (FAILED(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterGraph2,
                                graph.graph.putVoid())) ||
        !graph.graph)
        return fail(setup, L"Pas réussi à créer le graph DirectShow !");
    HRESULT hr = S_OK;
    ComPtr<IBaseFilter> provider(new CNetworkProvider(nullptr, &hr, kClsidNetworkProvider));
    if (FAILED(hr) || FAILED(graph.graph->AddFilter(provider.get(), L"Fake")))
        return fail(setup, L"ajout du network provider ratée !!!");
    ComPtr<IBaseFilter> source;
    if (failed(addTuner(graph, provider.get(), setup, source)))
        return GraphStatus::Failed;

    findTuningInterfaces(graph, setup.errors);
    if (!graph.frequencyFilter)
        return fail(setup, L"Pas trouvé l'interface pour changer de fréquence");
    findSignalStatistics(graph);
    if (!graph.signalStatistics)
        return fail(setup, L"Pas trouvé l'interface pour avoir la qualité du signal");

    ComPtr<IBaseFilter> grabber = addFilterByClsid(kClsidSampleGrabber, L"Grabber");
    if (!grabber)
        return GraphStatus::Failed;
    if (FAILED(connectFilters(source.get(), grabber.get())))
        return fail(setup, L"Pas connecté le grabber à la carte TNT, veuillez effacer config.ini "
                           L"et redémarrer\n");
    graph.grabber = grabber.as<ISampleGrabber>(kIidSampleGrabber);
    if (setup.grabberReady)
        setup.grabberReady(graph.grabber.get());

    graph.demux = addFilterByClsid(CLSID_MPEG2Demultiplexer, L"Demux");
    if (!graph.demux)
        return GraphStatus::Failed;
    if (FAILED(connectFilters(grabber.get(), graph.demux.get())))
        return fail(setup,
                    L"Pas connecté le grabber au demux, veuillez effacer config.ini et redémarrer");
    return GraphStatus::Built;
}

GraphStatus runGraph(GraphErrorReporter* errors, HWND eventWindow) {
    MediaGraph& graph = mediaGraph();
    graph.mediaControl = graph.graph.as<IMediaControl>(IID_IMediaControl);
    if (!graph.mediaControl)
        return GraphStatus::Failed;
    // Device loss and error aborts come to the window as kGraphEventMessage; set before the
    // run so that no event of the run is missed.
    graph.mediaEvent = graph.graph.as<IMediaEventEx>(IID_IMediaEventEx);
    if (graph.mediaEvent && eventWindow != nullptr)
        graph.mediaEvent->SetNotifyWindow(reinterpret_cast<OAHWND>(eventWindow), kGraphEventMessage,
                                          0);
    // A graph that does not run shows no picture: the user is told, not left before a black
    // window.
    if (FAILED(graph.mediaControl->Run())) {
        if (errors != nullptr)
            errors->report(L"Impossible de démarrer le graph");
        return GraphStatus::Failed;
    }
    return GraphStatus::Built;
}

GraphStatus buildGraph(const GraphSetup& setup) {
    if (failed(buildSourceChain(setup)))
        return GraphStatus::Failed;
    if (failed(renderDemuxOutputs(setup)))
        return fail(setup, L"Erreur lors de la création du graph");
    return runGraph(&setup.errors, setup.videoWindow);
}

} // namespace korvane
