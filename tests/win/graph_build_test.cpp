// Devices by name, the configuration dialog, the tuner's control nodes, and the graph's
// failures as the user sees them (their boxes, in order), with the testbed's fault switches.
#include "app/win/config_store.h"
#include "box_collector.h"
#include "dshow_test_filters.h"
#include "graph/devices.h"
#include "graph/platform_guids.h"
#include "graph/tuning.h"
#include "res/resource.h"
#include "session_fixture.h"

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
    // The configured tuner bound, then the graph built up to its first failure.
    int build(const std::wstring& tuner, const std::wstring& receiver = L"") {
        appConfig().tunerName = toU16(tuner);
        appConfig().receiverName = toU16(receiver);
        if (!selectDevices(appConfig(), mediaGraph()))
            return -1;
        return buildGraph();
    }
    static std::u16string toU16(const std::wstring& text) {
        return std::u16string(text.begin(), text.end());
    }
};

TEST_F(GraphBuild, DevicesAreFoundByExactNameAndTheirTransportKind) {
    EXPECT_EQ(classifyTransport(findDeviceByName(kCategoryBdaNetworkTuner, kUsbTuner).get()),
              TransportKind::BdaTransport);
    EXPECT_EQ(classifyTransport(findDeviceByName(kCategoryBdaNetworkTuner, kPciTuner).get()),
              TransportKind::Mpeg2Transport);
    EXPECT_EQ(classifyTransport(findDeviceByName(kCategoryBdaReceiverComponent, kReceiver).get()),
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
        graph.tuner = findDeviceByName(kCategoryBdaNetworkTuner, kUsbTuner);
        ASSERT_TRUE(graph.tuner);
        BoxCollector collector;
        findTuningInterfaces(graph);
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
        pumpUntil([&] { return collector.seen().size() >= c.boxes.size(); }, 3000);
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
        BoxCollector collector;
        EXPECT_EQ(buildGraph(), 1) << c.faults;
        pumpUntil([&] { return collector.seen().size() >= c.boxes.size(); }, 3000);
        EXPECT_EQ(collector.seen(), c.boxes) << c.faults;
        tearDownGraph();
        releaseVideoPresenter();
        EXPECT_EQ(testbedLiveObjects(), 0) << c.faults;
    }
}

} // namespace
} // namespace korvane::testing
