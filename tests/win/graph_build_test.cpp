// Devices by name, the configuration dialog, the tuner's control nodes, and the graph's
// failures as the user sees them (their boxes, in order), with the testbed's fault switches.
#include "app/win/config_store.h"
#include "box_collector.h"
#include "dshow/media_type.h"
#include "dshow_test_filters.h"
#include "graph/devices.h"
#include "graph/platform_guids.h"
#include "graph/tuning.h"
#include "graph/video_renderer.h"
#include "graph_error_collector.h"
#include "res/resource.h"

#include "session_fixture.h"
#include <dvdmedia.h>
#include <mmreg.h>

#include <commctrl.h>

#include <algorithm>

namespace korvane::testing {
namespace {

const std::wstring kUsbTuner = L"Korvane Testbed Tuner USB";
const std::wstring kPciTuner = L"Korvane Testbed Tuner PCI";
const std::wstring kReceiver = L"Korvane Testbed Receiver";

using Texts = std::vector<std::wstring>;

class GraphBuild : public SessionTest {
  protected:
    // The configured tuner bound, then the graph built up to its first failure: 0 when
    // built, 1 when not.
    int build(GraphErrorReporter& errors, const std::wstring& tuner,
              const std::wstring& receiver = L"") {
        appConfig().tunerName = toU16(tuner);
        appConfig().receiverName = toU16(receiver);
        if (!selectDevices(appConfig(), mediaGraph()))
            return -1;
        return buildGraph(graphSetup(errors)) == GraphStatus::Built ? 0 : 1;
    }
    static std::u16string toU16(const std::wstring& text) {
        return std::u16string(text.begin(), text.end());
    }
};

TEST_F(GraphBuild, DevicesAreFoundByExactNameAndTheirTransportKind) {
    EXPECT_EQ(classifyTransport(findDeviceByName(kCategoryNetworkTuner, kUsbTuner).get()),
              TransportKind::BdaTransport);
    EXPECT_EQ(classifyTransport(findDeviceByName(kCategoryNetworkTuner, kPciTuner).get()),
              TransportKind::Mpeg2Transport);
    EXPECT_EQ(classifyTransport(findDeviceByName(kCategoryReceiverComponent, kReceiver).get()),
              TransportKind::BdaTransport);
    EXPECT_EQ(classifyTransport(nullptr), TransportKind::None);
    // The demultiplexer's input takes a stream but it has no transport output.
    ComPtr<IBaseFilter> demux;
    ASSERT_EQ(CoCreateInstance(CLSID_MPEG2Demultiplexer, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IBaseFilter, demux.putVoid()),
              S_OK);
    EXPECT_EQ(classifyTransport(demux.get()), TransportKind::None);
    demux.reset();
    EXPECT_FALSE(
        findCodecByName(MEDIATYPE_Video, MEDIASUBTYPE_MPEG2_VIDEO, L"Aucun décodeur", true));

    struct Case {
        std::wstring tuner, receiver;
        bool found, withReceiver;
    };
    const Case cases[] = {
        {kUsbTuner, L"", true, false},
        {kUsbTuner, kReceiver, true, false}, // delivers the stream itself
        {kPciTuner, kReceiver, true, true},
        {kPciTuner, L"", false, false},
        {kPciTuner, kUsbTuner, false, false}, // not a receiver component
        {L"korvane testbed tuner usb", L"", false, false},
        {L"Korvane Testbed Tuner", L"", false, false},
        {L"", L"", false, false},
    };
    for (const Case& c : cases) {
        appConfig().tunerName = toU16(c.tuner);
        appConfig().receiverName = toU16(c.receiver);
        EXPECT_EQ(selectDevices(appConfig(), mediaGraph()), c.found) << c.tuner;
        EXPECT_EQ(bool(mediaGraph().tuner), c.found) << c.tuner;
        EXPECT_EQ(bool(mediaGraph().receiver), c.withReceiver) << c.tuner;
        tearDownGraph();
    }
}

std::vector<std::wstring> comboItems(HWND dialog, int id) {
    std::vector<std::wstring> items;
    const LRESULT count = SendDlgItemMessageW(dialog, id, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        wchar_t text[256] = {};
        SendDlgItemMessageW(dialog, id, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
        items.emplace_back(text);
    }
    return items;
}

std::wstring comboSelection(HWND dialog, int id) {
    const LRESULT index = SendDlgItemMessageW(dialog, id, CB_GETCURSEL, 0, 0);
    if (index == CB_ERR)
        return L"<none>";
    wchar_t text[256] = {};
    SendDlgItemMessageW(dialog, id, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text));
    return text;
}

bool contains(const std::vector<std::wstring>& items, const std::wstring& item) {
    return std::find(items.begin(), items.end(), item) != items.end();
}

TEST_F(GraphBuild, ConfigurationDialogListsTheDevicesAndStoresTheChoiceOnOkOnly) {
    writeFile(L"canaux.ini",
              "[G\xE9n\xE9ral]\r\nOffset=167\r\n[Essai]\r\nR1=21\r\n[Autre]\r\nR1=30\r\n");
    appConfig().tunerName = u"Korvane Testbed Tuner PCI";
    appConfig().receiverName = u"Récepteur disparu";
    appConfig().city = u"essai"; // the selection at opening ignores case
    struct Seen {
        std::vector<std::wstring> cities, tuners, receivers, video, audio, ac3;
        std::wstring city, tuner, receiver;
        LONG tunerStyle = 0, cityStyle = 0;
        RECT client{}, units{0, 0, 397, 241};
        std::wstring title;
    } seen;
    auto choose = [&](HWND dialog) {
        seen.title = windowTitle(dialog);
        seen.cities = comboItems(dialog, IDC_CITY);
        seen.tuners = comboItems(dialog, IDC_TUNER);
        seen.receivers = comboItems(dialog, IDC_RECEIVER);
        seen.video = comboItems(dialog, IDC_VIDEO_DECODER);
        seen.audio = comboItems(dialog, IDC_AUDIO_DECODER);
        seen.ac3 = comboItems(dialog, IDC_AC3_DECODER);
        seen.city = comboSelection(dialog, IDC_CITY);
        seen.tuner = comboSelection(dialog, IDC_TUNER);
        seen.receiver = comboSelection(dialog, IDC_RECEIVER);
        seen.tunerStyle = GetWindowLongW(GetDlgItem(dialog, IDC_TUNER), GWL_STYLE);
        seen.cityStyle = GetWindowLongW(GetDlgItem(dialog, IDC_CITY), GWL_STYLE);
        GetClientRect(dialog, &seen.client);
        MapDialogRect(dialog, &seen.units);
        SendDlgItemMessageW(dialog, IDC_TUNER, CB_SELECTSTRING, WPARAM(-1),
                            LPARAM(L"Korvane Testbed Tuner USB"));
        SendDlgItemMessageW(dialog, IDC_CITY, CB_SELECTSTRING, WPARAM(-1), LPARAM(L"Autre"));
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        return std::wstring(L"ok");
    };
    {
        BoxCollector collector(choose);
        ASSERT_TRUE(handleCommand(window_, IDM_CONFIGURATION));
        EXPECT_EQ(collector.seen(), Texts{L"ok"});
    }
    EXPECT_EQ(seen.title, L"Configuration");
    EXPECT_EQ(seen.cities, (Texts{L"Non précisée (scanne tous les canaux)", L"Essai", L"Autre"}));
    EXPECT_TRUE(contains(seen.tuners, kUsbTuner));
    EXPECT_TRUE(contains(seen.tuners, kPciTuner));
    EXPECT_TRUE(std::is_sorted(seen.tuners.begin(), seen.tuners.end()));
    EXPECT_TRUE(contains(seen.receivers, kReceiver));
    EXPECT_FALSE(contains(seen.receivers, kUsbTuner));
    EXPECT_NE(seen.tunerStyle & CBS_SORT, 0);
    EXPECT_EQ(seen.cityStyle & CBS_SORT, 0);
    EXPECT_EQ(seen.city, L"Essai");
    EXPECT_EQ(seen.tuner, kPciTuner);
    EXPECT_EQ(seen.receiver, L"<none>") << "a receiver that is gone selects nothing";
    EXPECT_EQ(seen.client.right, seen.units.right);
    EXPECT_EQ(seen.client.bottom, seen.units.bottom);
    for (const auto* list : {&seen.video, &seen.audio, &seen.ac3})
        EXPECT_TRUE(std::is_sorted(list->begin(), list->end()));

    EXPECT_EQ(appConfig().tunerName, u"Korvane Testbed Tuner USB");
    EXPECT_EQ(appConfig().city, u"Autre");
    EXPECT_EQ(appConfig().receiverName, u"Récepteur disparu") << "nothing selected: kept";
    wchar_t saved[256] = {};
    GetPrivateProfileStringW(L"Config", L"Tuner TNT", L"", saved, 256, configPath().c_str());
    EXPECT_STREQ(saved, L"Korvane Testbed Tuner USB");

    // Cancel changes nothing, in memory or on disk.
    DeleteFileW(configPath().c_str());
    {
        BoxCollector collector([](HWND dialog) {
            SendDlgItemMessageW(dialog, IDC_TUNER, CB_SELECTSTRING, WPARAM(-1),
                                LPARAM(L"Korvane Testbed Tuner PCI"));
            PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
            return std::wstring(L"cancel");
        });
        handleCommand(window_, IDM_CONFIGURATION);
    }
    EXPECT_EQ(appConfig().tunerName, u"Korvane Testbed Tuner USB");
    EXPECT_EQ(GetFileAttributesW(configPath().c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(GraphBuild, ControlNodesComeFromTheFirstNodeTypeThatListsThem) {
    struct Case {
        const wchar_t* faults;
        bool deviceControl, frequency, statistics;
        Texts boxes;
    };
    const Case cases[] = {
        {L"", true, true, true, {}},
        {L"tuner-no-device-control", false, false, true, {L"IBDA_DeviceControl"}},
        {L"tuner-no-topology", true, false, false, {}},
        {L"tuner-no-statistics-node", true, true, false, {}},
        {L"tuner-frequency-on-two-nodes", true, true, true, {}},
    };
    for (const Case& c : cases) {
        setFaults(c.faults);
        MediaGraph& graph = mediaGraph();
        graph.tuner = findDeviceByName(kCategoryNetworkTuner, kUsbTuner);
        ASSERT_TRUE(graph.tuner);
        GraphErrorCollector collector;
        findTuningInterfaces(graph, collector);
        findSignalStatistics(graph);
        EXPECT_EQ(bool(graph.deviceControl), c.deviceControl) << c.faults;
        EXPECT_EQ(bool(graph.frequencyFilter), c.frequency) << c.faults;
        EXPECT_EQ(bool(graph.signalStatistics), c.statistics) << c.faults;
        if (graph.frequencyFilter) {
            // The RF node (type 0) is the tuner itself; a second node is another object.
            ComPtr<IUnknown> chosen = graph.frequencyFilter.as<IUnknown>(IID_IUnknown);
            ComPtr<IUnknown> tuner = graph.tuner.as<IUnknown>(IID_IUnknown);
            EXPECT_EQ(chosen.get(), tuner.get()) << c.faults;
        }
        EXPECT_EQ(collector.seen(), c.boxes) << c.faults;
        tearDownGraph();
    }
}

// A stand-in tuner whose output offers a transport stream but which has no antenna input.
class InputlessTuner : public TestSource {
  public:
    explicit InputlessTuner(const GUID& subtype) : TestSource(typeOf(subtype)) {}

  private:
    static CMediaType typeOf(const GUID& subtype) {
        CMediaType type(MEDIATYPE_Stream);
        type.SetSubtype(&subtype);
        return type;
    }
};

TEST_F(GraphBuild, EachFailureShowsItsBoxesInOrderAndTheTeardownLeavesNothing) {
    struct Case {
        const wchar_t* faults;
        std::wstring tuner, receiver;
        const GUID* inputless; // the tuner or receiver replaced by a filter without input
        Texts boxes;
    };
    const Case cases[] = {
        {L"tuner-no-device-control",
         kUsbTuner,
         L"",
         nullptr,
         {L"IBDA_DeviceControl", L"Pas trouvé l'interface pour changer de fréquence"}},
        {L"tuner-no-topology",
         kPciTuner,
         kReceiver,
         nullptr,
         {L"Pas trouvé l'interface pour changer de fréquence"}},
        {L"tuner-no-statistics-node",
         kUsbTuner,
         L"",
         nullptr,
         {L"Pas trouvé l'interface pour avoir la qualité du signal"}},
        {L"",
         kUsbTuner,
         L"",
         &kSubtypeBdaMpeg2Transport,
         {L"Tuner USB non compatible, veuillez effacer config.ini et redémarrer"}},
        {L"",
         kPciTuner,
         kReceiver,
         &MEDIASUBTYPE_MPEG2_TRANSPORT,
         {L"Tuner TNT non compatible, veuillez effacer config.ini et redémarrer"}},
        {L"",
         kPciTuner,
         kReceiver,
         &kSubtypeBdaMpeg2Transport,
         {L"Récepteur TNT non compatible, veuillez effacer config.ini et redémarrer"}},
        // A branch failure: the step's box, the branch's, then the graph's.
        {L"presenter-prefs-fail",
         kUsbTuner,
         L"",
         nullptr,
         {L"VMR ImagePresenterConfig non dispo", L"Erreur lors du rendu du pin vidéo",
          L"Erreur lors de la création du graph"}},
    };
    for (const Case& c : cases) {
        setFaults(c.faults);
        appConfig().tunerName = toU16(c.tuner);
        appConfig().receiverName = toU16(c.receiver);
        ASSERT_TRUE(selectDevices(appConfig(), mediaGraph())) << c.faults;
        if (c.inputless) {
            ComPtr<IBaseFilter> replacement(new InputlessTuner(*c.inputless));
            (c.receiver.empty() || *c.inputless == MEDIASUBTYPE_MPEG2_TRANSPORT
                 ? mediaGraph().tuner
                 : mediaGraph().receiver) = replacement;
        }
        GraphErrorCollector collector;
        EXPECT_EQ(buildGraph(graphSetup(collector)), GraphStatus::Failed) << c.faults;
        EXPECT_EQ(collector.seen(), c.boxes) << c.faults;
        tearDownSessionGraph();
        releaseVideoPresenter();
        EXPECT_EQ(testbedLiveObjects(), 0) << c.faults;
    }
}

const std::wstring kVideoDecoder = L"Korvane Testbed MPEG-2 Video Decoder";
const std::wstring kAudioDecoder = L"Korvane Testbed MPEG Audio Decoder";
const std::wstring kAc3Decoder = L"Korvane Testbed AC-3 Audio Decoder";

// A branch failure shows the step's box, then the branch's, then the graph's.
Texts branchFailure(const wchar_t* step, const wchar_t* branch) {
    return {step, branch, L"Erreur lors de la création du graph"};
}

TEST_F(GraphBuild, RendererAndDecoderFailuresEndTheBranchExceptAMissingDeinterlacer) {
    const wchar_t* video = L"Erreur lors du rendu du pin vidéo";
    struct Case {
        const wchar_t* faults;
        bool deinterlace;
        int result;
        Texts boxes;
    };
    const Case cases[] = {
        {L"renderer-not-creatable", false, 1, branchFailure(L"VMR non inséré", video)},
        {L"renderer-no-filter-config", false, 1, branchFailure(L"VMR config non dispo", video)},
        {L"renderer-no-allocator-notify", false, 1, branchFailure(L"VMR notify non dispo", video)},
        {L"presenter-prefs-fail", false, 1,
         branchFailure(L"VMR ImagePresenterConfig non dispo", video)},
        {L"renderer-no-deinterlace-control", true, 0, {L"Pas eu le VMRMixerControl :/"}},
        {L"renderer-no-deinterlace-control", false, 0, {}},
        {L"deinterlace-count-fails", true, 1,
         branchFailure(L"Nombre de modes de désentrelacement non trouvé", video)},
        {L"deinterlace-guid-fails", true, 1,
         branchFailure(L"Impossible d'avoir le GUID du désentrelacement", video)},
        {L"set-deinterlace-mode-fails", true, 1,
         branchFailure(L"Impossible de mettre le mode de désentrelacement", video)},
        {L"renderer-no-windowless-control", false, 1,
         branchFailure(L"Pas de VMR control !", video)},
        {L"renderer-no-aspect-ratio-control", false, 1,
         branchFailure(L"Pas de AspectRatioControl !", video)},
        {L"video-decoder-refuses-renderer", false, 1,
         branchFailure(L"Impossible de connecter le codec vidéo au VMR.\nC'est probablement "
                       L"l'overlay qui n'est pas disponible.\n\nVeuillez le libérer et relancer "
                       L"l'application",
                       video)},
        {L"ac3-decoder-refuses-renderer", false, 1,
         branchFailure(L"connec Codec audio", L"Erreur lors du rendu du pin ac3")},
    };
    for (const Case& c : cases) {
        setFaults(c.faults);
        appConfig().vmrDeinterlace = c.deinterlace;
        appConfig().videoDecoderName = toU16(kVideoDecoder);
        appConfig().audioDecoderName = toU16(kAudioDecoder);
        appConfig().ac3DecoderName = toU16(kAc3Decoder);
        GraphErrorCollector collector;
        EXPECT_EQ(build(collector, kUsbTuner), c.result) << c.faults;
        EXPECT_EQ(collector.seen(), c.boxes) << c.faults;
        tearDownSessionGraph();
        releaseVideoPresenter();
        EXPECT_EQ(testbedLiveObjects(), 0) << c.faults;
    }
}

// The media type an output was created with, as its connection shows it.
struct OutputType {
    GUID major, subtype, format;
    BOOL fixedSize, temporal;
    ULONG sampleSize;
    std::vector<uint8_t> block;
};

OutputType connectionType(IBaseFilter* demux, const wchar_t* name) {
    OutputType out{};
    ComPtr<IPin> pin;
    if (FAILED(demux->FindPin(name, pin.put())) || !pin)
        return out;
    AM_MEDIA_TYPE type{};
    if (FAILED(pin->ConnectionMediaType(&type)))
        return out;
    out = {type.majortype,
           type.subtype,
           type.formattype,
           type.bFixedSizeSamples,
           type.bTemporalCompression,
           type.lSampleSize,
           std::vector<uint8_t>(type.pbFormat, type.pbFormat + type.cbFormat)};
    FreeMediaType(type);
    return out;
}

template <class Block> std::vector<uint8_t> bytesOf(const Block& block) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(&block);
    return std::vector<uint8_t>(bytes, bytes + sizeof(Block));
}

std::vector<std::wstring> filterNames(IFilterGraph* graph) {
    std::vector<std::wstring> names;
    ComPtr<IEnumFilters> filters;
    graph->EnumFilters(filters.put());
    for (ComPtr<IBaseFilter> filter; filters->Next(1, filter.put(), nullptr) == S_OK;) {
        FILTER_INFO info{};
        filter->QueryFilterInfo(&info);
        if (info.pGraph)
            info.pGraph->Release();
        names.emplace_back(info.achName);
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST_F(GraphBuild, TheWholeGraphRunsWithItsNamesTypesAndRendererSettings) {
    appConfig().vmrDeinterlace = true;
    appConfig().videoDecoderName = u"Décodeur introuvable"; // rendered automatically
    appConfig().audioDecoderName = toU16(kAudioDecoder);
    appConfig().ac3DecoderName = toU16(kAc3Decoder);
    {
        GraphErrorCollector collector;
        ASSERT_EQ(build(collector, kPciTuner, kReceiver), 0);
        EXPECT_EQ(collector.seen(), Texts{});
    }
    MediaGraph& graph = mediaGraph();
    std::vector<std::wstring> names = filterNames(graph.graph.get());
    for (const wchar_t* name :
         {L"Fake", L"Network Tuner", L"Receiver Component", L"Grabber", L"Demux", L"Mon VMR",
          L"Codec audio", L"Direct sound", L"Codec ac3", L"Direct sound le retour", L"MPEG2 data",
          L"Mon filtre EPG", L"Mon filtre PMT", L"Korvane Testbed MPEG-2 Video Decoder",
          L"Korvane Testbed H.264 Video Decoder", L"Direct sound E-AC3", L"Sous-titres"})
        EXPECT_TRUE(contains(names, name)) << std::string(name, name + wcslen(name));
    // The MPEG-2, H.264 and E-AC-3 decoders inserted by the platform (no name configured for
    // the last two), and the subtitle sink.
    EXPECT_EQ(names.size(), 18u);
    EXPECT_TRUE(graph.subtitles && graph.subtitleFilter && graph.subtitlePidMap);
    EXPECT_TRUE(!graph.videoCodec && graph.audioCodec && graph.ac3Codec);
    EXPECT_TRUE(graph.videoPidMap && graph.audioPidMap && graph.ac3PidMap && graph.pmtPidMap);
    EXPECT_TRUE(graph.h264PidMap && graph.eac3PidMap && graph.eac3Renderer);
    EXPECT_TRUE(!graph.h264Codec && !graph.eac3Codec);
    EXPECT_TRUE(graph.sectionData && graph.windowlessControl && graph.grabber);
    OAFilterState state = State_Stopped;
    graph.mediaControl->GetState(1000, &state);
    EXPECT_EQ(state, State_Running);

    MPEG2VIDEOINFO video{};
    video.hdr.rcSource = RECT{0, 0, 720, 576};
    video.hdr.dwPictAspectRatioX = 4;
    video.hdr.dwPictAspectRatioY = 3;
    video.hdr.bmiHeader.biSize = 40;
    video.hdr.bmiHeader.biWidth = 720;
    video.hdr.bmiHeader.biHeight = 576;
    const WAVEFORMATEX sound{1, 2, 48000, 192000, 4, 16, 0};
    struct Expected {
        const wchar_t* name;
        OutputType type;
    };
    const Expected outputs[] = {
        {L"video",
         {MEDIATYPE_Video, MEDIASUBTYPE_MPEG2_VIDEO, FORMAT_MPEG2Video, FALSE, TRUE, 0,
          bytesOf(video)}},
        {L"son",
         {MEDIATYPE_Audio, MEDIASUBTYPE_MPEG2_AUDIO, FORMAT_WaveFormatEx, TRUE, FALSE, 0,
          bytesOf(sound)}},
        {L"ac3",
         {MEDIATYPE_Audio, MEDIASUBTYPE_DOLBY_AC3, FORMAT_WaveFormatEx, TRUE, FALSE, 0,
          bytesOf(sound)}},
        {L"data",
         {MEDIATYPE_MPEG2_SECTIONS, kMediaSubtypeMpeg2Data, FORMAT_None, TRUE, FALSE, 0, {}}},
        {L"epg", {MEDIATYPE_MPEG2_SECTIONS, kMediaSubtypeDvbSi, FORMAT_None, TRUE, FALSE, 0, {}}},
        {L"pmt", {MEDIATYPE_MPEG2_SECTIONS, kMediaSubtypeDvbSi, FORMAT_None, TRUE, FALSE, 0, {}}},
        {L"h264",
         {MEDIATYPE_Video, kMediaSubtypeH264, FORMAT_MPEG2Video, FALSE, TRUE, 0, bytesOf(video)}},
        {L"eac3",
         {MEDIATYPE_Audio, kMediaSubtypeDolbyDigitalPlus, FORMAT_WaveFormatEx, TRUE, FALSE, 0,
          bytesOf(sound)}},
    };
    ASSERT_EQ(video.hdr.bmiHeader.biSize, 40u);
    ASSERT_EQ(bytesOf(video).size(), 136u);
    for (const Expected& e : outputs) {
        const OutputType got = connectionType(graph.demux.get(), e.name);
        const std::string name(e.name, e.name + wcslen(e.name));
        EXPECT_EQ(got.major, e.type.major) << name;
        EXPECT_EQ(got.subtype, e.type.subtype) << name;
        EXPECT_EQ(got.format, e.type.format) << name;
        EXPECT_EQ(got.fixedSize, e.type.fixedSize) << name;
        EXPECT_EQ(got.temporal, e.type.temporal) << name;
        EXPECT_EQ(got.sampleSize, e.type.sampleSize) << name;
        EXPECT_EQ(got.block, e.type.block) << name;
    }
    // The guide's and the NIT's PIDs are on "epg" from the start, nothing on "pmt" before a
    // channel.
    EXPECT_EQ(trace("map epg"), (std::vector<std::string>{"map epg 18 psi", "map epg 16 psi"}));
    EXPECT_TRUE(trace("map pmt").empty());
    EXPECT_EQ(trace("render"), (std::vector<std::string>{"render 4 prefs a"}));
    EXPECT_EQ(trace("mixing"), (std::vector<std::string>{"mixing 1011"}));
    EXPECT_EQ(trace("deinterlace").size(), 1u);
}

// The H.264 and E-AC-3 branches come after the six others and are optional: with decoders
// the H.264 one feeds the renderer's second stream; without them the graph plays the rest
// and one box names both, while the other branches keep their own failures.
TEST_F(GraphBuild, TodaysBranchesFeedTheSecondStreamOrAreLeftOutWithOneMessage) {
    const wchar_t* missing =
        L"La lecture des chaînes actuelles sera incomplète :\n"
        L"pas de décodeur vidéo H264 : les chaînes en H264 n'auront pas d'image\n"
        L"pas de décodeur audio E-AC3 : les chaînes en E-AC3 n'auront pas de son";
    struct Case {
        const wchar_t* faults;
        bool named; // the testbed's decoders configured by name
        int result;
        Texts boxes;
        bool branches;
    };
    const Case cases[] = {
        {L"", true, 0, {}, true},
        {L"", false, 0, {}, true},
        {L"todays-decoders-missing", true, 0, {missing}, false},
        {L"todays-decoders-missing", false, 0, {missing}, false},
        {L"todays-decoders-missing,ac3-decoder-refuses-renderer", true, 1,
         branchFailure(L"connec Codec audio", L"Erreur lors du rendu du pin ac3"), false},
    };
    for (const Case& c : cases) {
        const std::string what = std::string(c.faults, c.faults + wcslen(c.faults)) +
                                 (c.named ? " named" : " automatic");
        setFaults(c.faults);
        appConfig().videoDecoderName = toU16(kVideoDecoder);
        appConfig().audioDecoderName = toU16(kAudioDecoder);
        appConfig().ac3DecoderName = toU16(kAc3Decoder);
        appConfig().h264DecoderName = c.named ? u"Korvane Testbed H.264 Video Decoder" : u"";
        appConfig().eac3DecoderName = c.named ? toU16(kAc3Decoder) : u"";
        GraphErrorCollector collector;
        EXPECT_EQ(build(collector, kUsbTuner), c.result) << what;
        EXPECT_EQ(collector.seen(), c.boxes) << what;
        MediaGraph& graph = mediaGraph();
        EXPECT_EQ(bool(graph.h264PidMap), c.branches) << what;
        EXPECT_EQ(bool(graph.eac3PidMap), c.branches) << what;
        EXPECT_EQ(bool(graph.h264Codec), c.branches && c.named) << what;
        EXPECT_EQ(bool(graph.eac3Codec), c.branches && c.named) << what;
        if (c.result == 0) {
            const std::vector<std::wstring> names = filterNames(graph.graph.get());
            EXPECT_EQ(contains(names, L"Codec H264"), c.branches && c.named) << what;
            EXPECT_EQ(contains(names, L"Direct sound E-AC3"), c.branches) << what;
            // A branch left out leaves no output behind it.
            ComPtr<IPin> output;
            EXPECT_EQ(SUCCEEDED(graph.demux->FindPin(L"h264", output.put())), c.branches) << what;
            // The renderer mixes two streams; the H.264 decoder feeds the second.
            ComPtr<IPin> second;
            ASSERT_EQ(graph.vmr->FindPin(L"VMR Input1", second.put()), S_OK) << what;
            ComPtr<IPin> feeding;
            EXPECT_EQ(second->ConnectedTo(feeding.put()) == S_OK, c.branches) << what;
            // Showing one stream hides the other, whichever the decoders present.
            auto mixer = graph.vmr.as<IVMRMixerControl>(IID_IVMRMixerControl);
            for (VideoStream stream : {VideoStream::H264, VideoStream::Mpeg2}) {
                showVideoStream(graph, stream);
                float shown = -1, hidden = -1;
                const VideoMix mix = videoMixFor(stream);
                mixer->GetAlpha(mix.shown.stream, &shown);
                mixer->GetAlpha(mix.hidden.stream, &hidden);
                EXPECT_EQ(shown, 1.0f) << what;
                EXPECT_EQ(hidden, 0.0f) << what;
                EXPECT_EQ(graph.shownVideo, stream);
            }
        }
        tearDownSessionGraph();
        releaseVideoPresenter();
        EXPECT_EQ(testbedLiveObjects(), 0) << what;
    }
}

// The two combos of today's decoders list the decoders registered for H.264 and E-AC-3,
// select the stored names and store the choice on OK under their own keys.
TEST_F(GraphBuild, ConfigurationDialogChoosesTheDecodersOfTodaysBroadcasts) {
    appConfig().h264DecoderName = u"Korvane Testbed H.264";
    appConfig().eac3DecoderName = u"Décodeur disparu";
    struct Seen {
        Texts h264, eac3, video;
        std::wstring h264Selected, eac3Selected;
    } seen;
    {
        BoxCollector collector([&](HWND dialog) {
            seen.h264 = comboItems(dialog, IDC_H264_DECODER);
            seen.eac3 = comboItems(dialog, IDC_EAC3_DECODER);
            seen.video = comboItems(dialog, IDC_VIDEO_DECODER);
            seen.h264Selected = comboSelection(dialog, IDC_H264_DECODER);
            seen.eac3Selected = comboSelection(dialog, IDC_EAC3_DECODER);
            SendDlgItemMessageW(dialog, IDC_EAC3_DECODER, CB_SELECTSTRING, WPARAM(-1),
                                LPARAM(kAc3Decoder.c_str()));
            PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
            return std::wstring(L"ok");
        });
        ASSERT_TRUE(handleCommand(window_, IDM_CONFIGURATION));
        EXPECT_EQ(collector.seen(), Texts{L"ok"});
    }
    EXPECT_TRUE(contains(seen.h264, L"Korvane Testbed H.264 Video Decoder"));
    EXPECT_FALSE(contains(seen.h264, kVideoDecoder)) << "an MPEG-2 decoder takes no H.264";
    EXPECT_FALSE(contains(seen.video, L"Korvane Testbed H.264 Video Decoder"));
    EXPECT_TRUE(contains(seen.eac3, kAc3Decoder)) << "the AC-3 decoder reads E-AC-3";
    EXPECT_EQ(seen.h264Selected, L"Korvane Testbed H.264 Video Decoder") << "by its beginning";
    EXPECT_EQ(seen.eac3Selected, L"<none>");
    EXPECT_EQ(appConfig().h264DecoderName, u"Korvane Testbed H.264 Video Decoder");
    EXPECT_EQ(appConfig().eac3DecoderName, toU16(kAc3Decoder));
    wchar_t saved[256] = {};
    GetPrivateProfileStringW(L"Config", L"Filtre audio E-AC3", L"", saved, 256,
                             configPath().c_str());
    EXPECT_EQ(std::wstring(saved), kAc3Decoder);
}

} // namespace
} // namespace korvane::testing
