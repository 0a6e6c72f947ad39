// Watching with the testbed: the channel switch, keys, wheel, typed numbers, audio tracks,
// a PMT change of the channel being watched, and the scan of the demo city in its dialog.
// The graph is the program's own up to the demultiplexer, with its section branches; sinks
// stand in for the decoders and renderers.
#include "app/win/channel_commands.h"
#include "app/win/main_commands.h"
#include "app/win/menu_state.h"
#include "app/win/rescan_offer.h"
#include "app/win/session.h"
#include "box_collector.h"
#include "common/win/window_messages.h"
#include "demo_city_channels.h"
#include "dialog_watcher.h"
#include "dshow_test_filters.h"
#include "graph/devices.h"
#include "res/resource.h"
#include "session_fixture.h"

#include <commctrl.h>

#include <algorithm>
#include <functional>
#include <map>
#include <optional>

namespace korvane::testing {
namespace {

using Lines = std::vector<std::string>;
using Texts = std::vector<std::wstring>;

ChannelInfo channel(const char* name, int32_t number, int32_t frequency, int32_t pmt, int32_t video,
                    int32_t audio1, int32_t audio2 = 0, int32_t ac3 = 0, int32_t h264 = 0) {
    ChannelInfo c;
    c.name.assign(name);
    c.number = number;
    c.frequency = frequency;
    c.pmtPid = pmt;
    c.videoPid = video;
    c.audio1Pid = audio1;
    c.audio2Pid = audio2;
    c.ac3Pid = ac3;
    c.videoMpeg4Pid = h264;
    return c;
}

class ChannelSession : public SessionTest {
  protected:
    void TearDown() override {
        sinks_.clear();
        SessionTest::TearDown();
    }

    // buildGraph up to the demultiplexer, its "video", "son" and "ac3" outputs into sinks,
    // its "data", "epg" and "pmt" branches, then the run without a clock, so that the
    // sinks take what comes at the speeded-up pace.
    void buildWithSinks(GraphStatus run = GraphStatus::Built,
                        GraphErrorReporter* runErrors = nullptr) {
        appConfig().tunerName = u"Korvane Testbed Tuner USB";
        ASSERT_TRUE(selectDevices(appConfig(), mediaGraph()));
        ErrorBoxReporter errors;
        const GraphSetup setup = graphSetup(errors);
        ASSERT_EQ(buildSourceChain(setup), GraphStatus::Built);
        MediaGraph& graph = mediaGraph();
        auto demux = graph.demux.as<IMpeg2Demultiplexer>(IID_IMpeg2Demultiplexer);
        ASSERT_TRUE(demux);
        graph.videoPidMap = sinkOutput(demux.get(), L"video", MEDIATYPE_Video);
        graph.audioPidMap = sinkOutput(demux.get(), L"son", MEDIATYPE_Audio);
        graph.ac3PidMap = sinkOutput(demux.get(), L"ac3", MEDIATYPE_Audio);
        ASSERT_EQ(buildSectionDataBranch(demux.get(), setup), GraphStatus::Built);
        ASSERT_EQ(buildEpgBranch(demux.get(), setup), GraphStatus::Built);
        ASSERT_EQ(buildPmtBranch(demux.get(), setup), GraphStatus::Built);
        ASSERT_EQ(graph.graph.as<IMediaFilter>(IID_IMediaFilter)->SetSyncSource(nullptr), S_OK);
        ASSERT_EQ(runGraph(runErrors), run);
    }

    ComPtr<IMPEG2PIDMap> sinkOutput(IMpeg2Demultiplexer* demux, const wchar_t* name,
                                    const GUID& major) {
        AM_MEDIA_TYPE type{};
        type.majortype = major;
        ComPtr<IPin> pin;
        EXPECT_EQ(demux->CreateOutputPin(&type, const_cast<LPWSTR>(name), pin.put()), S_OK);
        auto* sink = new TestSink(major);
        ComPtr<IBaseFilter> filter(sink);
        sinks_.push_back(filter);
        sinkByName_[name] = sink;
        EXPECT_EQ(mediaGraph().graph->AddFilter(filter.get(), name), S_OK);
        ComPtr<IPin> input;
        filter->FindPin(L"In", input.put());
        if (!input) {
            ComPtr<IEnumPins> pins;
            filter->EnumPins(pins.put());
            pins->Next(1, input.put(), nullptr);
        }
        EXPECT_EQ(mediaGraph().graph->ConnectDirect(pin.get(), input.get(), nullptr), S_OK);
        return pin.as<IMPEG2PIDMap>(IID_IMPEG2PIDMap);
    }

    void writeChannels(const ChannelRecords& records) {
        writeFile(L"chaines.xml", formatChannelFile(records));
    }

    // The tune lines and the PID maps of the four switched outputs since the last call (not
    // the first section each PSI output delivers).
    Lines switched() {
        Lines lines;
        for (const std::string& line : trace()) {
            if (line.rfind("section ", 0) == 0)
                continue;
            if (line.rfind("tune ", 0) == 0 || line.find(" video ") != std::string::npos ||
                line.find(" son ") != std::string::npos ||
                line.find(" ac3 ") != std::string::npos || line.find(" pmt ") != std::string::npos)
                lines.push_back(line);
        }
        Lines fresh(lines.begin() + static_cast<long>(std::min(seen_, lines.size())), lines.end());
        seen_ = lines.size();
        return fresh;
    }

    void key(WPARAM virtualKey) { SendMessageW(window_, WM_KEYDOWN, virtualKey, 0); }
    void wheel(short delta) {
        SendMessageW(window_, WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(delta)), 0);
    }
    std::string statusText(int part) {
        char text[256] = {};
        SendMessageA(appState().statusBar, SB_GETTEXTA, part, reinterpret_cast<LPARAM>(text));
        return text;
    }

    std::vector<ComPtr<IBaseFilter>> sinks_;
    std::map<std::wstring, TestSink*> sinkByName_;
    std::size_t seen_ = 0;
};

// Télé Une and Canal Deux HD share the first multiplex, Info Trois is on the second. The
// records hold what their PMTs say, so that no PMT change comes to remap them.
ChannelRecords smallCity() {
    ChannelRecords records = {
        channel("T\xE9l\xE9 Une", 1, 474167, 0x100, 0x120, 0x130, 0x131, 0x133),
        channel("Canal Deux HD", 12, 474167, 0x200, 0, 0x230, 0, 0, 0x220),
        channel("Info Trois", 2, 522167, 0x400, 0, 0, 0, 0x433, 0x420)};
    records[0].pcrPid = 0x120;
    records[1].pcrPid = 0x220;
    records[2].pcrPid = 0x420;
    // Service ids as a scan stores them: a PMT section of the previous channel still in
    // delivery after a switch is then not taken for the new channel's.
    records[0].sid = 0x0101;
    records[1].sid = 0x0102;
    records[2].sid = 0x0201;
    // Canal Deux HD's two French subtitle streams, normal and for the hard of hearing.
    for (const auto& [pid, type] : {std::pair{0x240, 0x10}, std::pair{0x241, 0x20}}) {
        SubtitleStream stream;
        stream.pid = pid;
        stream.language = {'f', 'r', 'a'};
        stream.type = static_cast<uint8_t>(type);
        stream.compositionPage = 1;
        stream.ancillaryPage = 1;
        records[1].subtitleStreams.push_back(stream);
    }
    return records;
}

// While a recording runs, a channel chosen from the menu on another multiplex asks first: no
// leaves the channel and the recording as they are, yes stops the recording and switches. A
// channel of the same multiplex is not asked about.
TEST_F(ChannelSession, AChoiceOnAnotherMultiplexWhileRecordingAsksFirst) {
    writeChannels(smallCity());
    buildWithSinks();
    ASSERT_EQ(openChannels(), 0);
    switched();
    appState().recordingGeneration = 1;
    const struct {
        UINT channel;
        void (*answer)(HWND);
        bool asked;
        int32_t current;
        bool recording;
    } steps[] = {
        {2, pressNo, true, 0, true},
        {1, pressNo, false, 1, true},
        {2, pressYes, true, 2, false},
    };
    for (const auto& step : steps) {
        DialogWatcher watcher(step.answer);
        ASSERT_TRUE(handleCommand(window_, step.channel));
        EXPECT_EQ(watcher.seen(), step.asked) << step.channel;
        if (step.asked) {
            EXPECT_NE(watcher.texts().find(
                          L"Un enregistrement est en cours. L'arrêter et changer de multiplex ?"),
                      std::wstring::npos);
        }
        EXPECT_EQ(channelList().currentIndex(), step.current) << step.channel;
        EXPECT_EQ(appState().recording(), step.recording) << step.channel;
        EXPECT_EQ(switched().empty(), step.current == 0) << step.channel;
    }
}

TEST_F(ChannelSession, SwitchingRetunesAcrossMultiplexesAndRemapsTheOutputs) {
    writeChannels(smallCity());
    appConfig().startChannelIndex = 7; // not a channel: the first one
    buildWithSinks();
    ASSERT_EQ(openChannels(), 0);
    EXPECT_EQ(switched(),
              (Lines{"tune 474167", "map video 288 es", "map son 304 es", "map pmt 256 psi"}));
    EXPECT_EQ(statusText(0), "T\xE9l\xE9 Une");
    EXPECT_EQ(channelList().currentIndex(), 0);
    EXPECT_TRUE(pumpUntil([&] { return sinkByName_[L"video"]->count() > 5; }))
        << "the mapped video reaches its output";
    // The PMT output's first section after each map is traced once, with its table id.
    auto traced = [&](const char* line) {
        return pumpUntil([&] {
            const Lines all = trace();
            return std::count(all.begin(), all.end(), line) == 1;
        });
    };
    EXPECT_TRUE(traced("section pmt 256 2"));

    // Channel menu: same multiplex, no retune.
    ASSERT_TRUE(handleCommand(window_, 1));
    EXPECT_EQ(switched(), (Lines{"unmap video 288", "unmap son 304", "unmap pmt 256",
                                 "map son 560 es", "map pmt 512 psi"}));
    EXPECT_TRUE(traced("section pmt 512 2"));
    EXPECT_FALSE(handleCommand(window_, 3)) << "no such channel";

    struct Step {
        std::function<void()> act;
        int32_t current;
        Lines lines;
    };
    const Step steps[] = {
        {[&] { key(VK_DOWN); },
         2,
         {"unmap son 560", "unmap pmt 512", "tune 522167", "map pmt 1024 psi"}},
        {[&] { key(VK_DOWN); },
         0,
         {"unmap pmt 1024", "tune 474167", "map video 288 es", "map son 304 es",
          "map pmt 256 psi"}},
        {[&] { wheel(120); },
         2,
         {"unmap video 288", "unmap son 304", "unmap pmt 256", "tune 522167", "map pmt 1024 psi"}},
        {[&] { wheel(-60); }, 2, {}},
        {[&] { wheel(-240); },
         0,
         {"unmap pmt 1024", "tune 474167", "map video 288 es", "map son 304 es",
          "map pmt 256 psi"}},
        // While recording, only the recorded multiplex: 0 -> 1 -> 0, never 2.
        {[&] {
             appState().recordingGeneration = 1;
             refreshRecordingItems();
         },
         0,
         {}},
        {[&] { key(VK_UP); },
         1,
         {"unmap video 288", "unmap son 304", "unmap pmt 256", "map son 560 es",
          "map pmt 512 psi"}},
        {[&] { key(VK_UP); },
         0,
         {"unmap son 560", "unmap pmt 512", "map video 288 es", "map son 304 es",
          "map pmt 256 psi"}},
    };
    for (std::size_t i = 0; i < std::size(steps); ++i) {
        steps[i].act();
        EXPECT_EQ(channelList().currentIndex(), steps[i].current) << "step " << i;
        EXPECT_EQ(switched(), steps[i].lines) << "step " << i;
    }
    EXPECT_NE(menuState(IDM_RECORD_MULTIPLEX) & MF_GRAYED, 0u) << "recording items kept";
}

TEST_F(ChannelSession, TypedNumbersSelectAfterASecondAndRespectTheRecording) {
    writeChannels(smallCity());
    buildWithSinks();
    ASSERT_EQ(openChannels(), 0);
    switched();
    struct Case {
        std::vector<WPARAM> keys;
        bool recording;
        int32_t current;
    };
    const Case cases[] = {
        {{'1', VK_NUMPAD2}, false, 1}, // 12 within a second
        {{'2'}, false, 2},
        {{'1'}, true, 2},       // first channel numbered 1 is on another multiplex
        {{'9', '9'}, false, 2}, // no such number
        {{VK_NUMPAD1}, false, 0},
    };
    for (const Case& c : cases) {
        appState().recordingGeneration = c.recording ? 1 : 0;
        refreshRecordingItems();
        for (WPARAM k : c.keys)
            key(k);
        EXPECT_NE(appState().typedNumber, 0);
        pumpFor(1300);
        EXPECT_EQ(appState().typedNumber, 0);
        EXPECT_EQ(channelList().currentIndex(), c.current) << c.keys.front();
    }
}

TEST_F(ChannelSession, AudioTrackCommandsMovePidsAndSetTheMenuStates) {
    writeChannels(smallCity());
    buildWithSinks();
    ASSERT_EQ(openChannels(), 0);
    switched();
    const UINT off = MF_GRAYED | MF_DISABLED;
    auto states = [&] {
        return std::vector<UINT>{menuState(IDM_FIRST_AUDIO) & (off | MF_CHECKED),
                                 menuState(IDM_SECOND_AUDIO) & (off | MF_CHECKED),
                                 menuState(IDM_AC3_TRACK) & (off | MF_CHECKED)};
    };
    using States = std::vector<UINT>;
    struct Step {
        UINT command;
        Lines lines;
        States states;
    };
    const Step steps[] = {
        {IDM_SECOND_AUDIO, {"unmap son 304", "map son 305 es"}, {0, MF_CHECKED | off, off}},
        {IDM_AC3_TRACK, {}, {0, MF_CHECKED | off, off}},
        {IDM_FIRST_AUDIO, {"unmap son 305", "map son 304 es"}, {MF_CHECKED | off, 0, 0}},
        {IDM_AC3_TRACK, {"unmap son 304", "map ac3 307 es"}, {0, off, MF_CHECKED | off}},
        {IDM_FIRST_AUDIO, {"unmap ac3 307", "map son 304 es"}, {MF_CHECKED | off, 0, 0}},
    };
    EXPECT_EQ(states(), (States{MF_CHECKED | off, 0, 0}));
    for (const Step& step : steps) {
        handleCommand(window_, step.command);
        EXPECT_EQ(switched(), step.lines) << step.command;
        EXPECT_EQ(states(), step.states) << step.command;
    }

    // AC-3 by default where there is one; a channel without the tracks grays them.
    appConfig().preferAc3 = true;
    handleCommand(window_, 0);
    EXPECT_EQ(switched(), (Lines{"unmap video 288", "unmap son 304", "unmap pmt 256",
                                 "map video 288 es", "map ac3 307 es", "map pmt 256 psi"}));
    EXPECT_EQ(appState().audioTrack, AudioTrack::Ac3);
    handleCommand(window_, 1);
    EXPECT_NE(appState().audioTrack, AudioTrack::Ac3);
    EXPECT_EQ(states(), (States{MF_CHECKED | off, off, off}));
    handleCommand(window_, IDM_SECOND_AUDIO);
    EXPECT_EQ(switched(), (Lines{"unmap video 288", "unmap ac3 307", "unmap pmt 256",
                                 "map son 560 es", "map pmt 512 psi"}));
}

TEST_F(ChannelSession, APmtChangeOfTheWatchedChannelRemapsIt) {
    // The multiplex of 490167 moves its first service's video and sound two seconds in and
    // adds an AC-3 track; the file loops, so the change comes back again and again.
    ChannelInfo change = channel("Change TV", 7, 490167, 0x100, 0x120, 0x130);
    change.pcrPid = 0x120;
    writeChannels({change, channel("Stable TV", 8, 490167, 0x200, 0, 0x230, 0, 0, 0x220)});
    appConfig().preferAc3 = true;
    buildWithSinks();
    ASSERT_EQ(openChannels(), 0);
    EXPECT_EQ(switched(),
              (Lines{"tune 490167", "map video 288 es", "map son 304 es", "map pmt 256 psi"}));
    Lines after;
    bool fileChanged = false;
    // Read as soon as the remap is seen: the remap and this check both run on this thread,
    // and the file's next loop brings the old PMT, and the first audio track, back.
    std::optional<bool> ac3AtRemap;
    ASSERT_TRUE(pumpUntil([&] {
        for (const std::string& line : switched())
            after.push_back(line);
        if (!ac3AtRemap && std::find(after.begin(), after.end(), "map video 289 es") != after.end())
            ac3AtRemap = appState().audioTrack == AudioTrack::Ac3;
        ChannelRecords saved;
        if (parseChannelFile(readFile(L"chaines.xml"), saved, replaceWithQuestionMarks) &&
            saved.size() == 2 && saved[0].videoPid == 0x121 && saved[0].ac3Pid == 0x133 &&
            saved[1].videoMpeg4Pid == 0x220)
            fileChanged = true;
        return fileChanged && ac3AtRemap.has_value();
    }));
    // Reselected without a retune, with the new PIDs and the preferred AC-3 track.
    auto mapped = std::find(after.begin(), after.end(), "map video 289 es");
    ASSERT_GE(mapped - after.begin(), 3);
    EXPECT_EQ(Lines(mapped - 3, mapped + 3),
              (Lines{"unmap video 288", "unmap son 304", "unmap pmt 256", "map video 289 es",
                     "map ac3 307 es", "map pmt 256 psi"}));
    EXPECT_EQ(std::count(after.begin(), after.end(), "tune 490167"), 0);
    EXPECT_TRUE(*ac3AtRemap);
}

// A channel of today from the channel file: its E-AC-3 tracks are items below "Piste AC3"
// named in French, the French main track heard and checked whatever the order; an item or
// the step key moves the check, in the full menu kept for compact mode and full screen too;
// a channel of MPEG audio has none. Its name is shown without its table selector.
TEST_F(ChannelSession, FurtherAudioTracksAreItemsAndNamesLoseTheirSelector) {
    ChannelRecords records = smallCity();
    ChannelInfo hd = channel("\x05T\xE9l\xE9 HD", 15, 474167, 0x300, 0, 0, 0, 0, 0x320);
    hd.pcrPid = 0x320;
    hd.sid = 0x0103;
    const auto track = [](int32_t pid, const char* language, AudioKind kind) {
        AudioStream s{pid, AudioCodec::Eac3, {}, kind};
        std::copy(language, language + 3, s.language.begin());
        return s;
    };
    hd.audioStreams = {track(0x331, "qad", AudioKind::AudioDescription),
                       track(0x330, "fra", AudioKind::Main), track(0x332, "qaa", AudioKind::Main)};
    records.push_back(hd);
    writeChannels(records);
    buildWithSinks();
    ASSERT_EQ(openChannels(), 0);
    handleCommand(window_, 3);
    // The full menu once start-up has recorded it, else the window's own.
    HMENU bar = appState().fullMenu ? appState().fullMenu : GetMenu(window_);
    ASSERT_NE(bar, nullptr);

    const auto text = [&](UINT command) {
        wchar_t buffer[128] = {};
        GetMenuStringW(bar, command, buffer, 128, MF_BYCOMMAND);
        return std::wstring(buffer);
    };
    const auto checkedItems = [&] {
        std::vector<UINT> checked;
        for (UINT id = IDM_AUDIO_STREAM_FIRST; id <= IDM_AUDIO_STREAM_LAST; ++id) {
            const UINT state = GetMenuState(bar, id, MF_BYCOMMAND);
            if (state != static_cast<UINT>(-1) && (state & MF_CHECKED))
                checked.push_back(id - IDM_AUDIO_STREAM_FIRST);
        }
        return checked;
    };
    using Places = std::vector<UINT>;
    EXPECT_EQ(text(IDM_AUDIO_STREAM_FIRST), L"Audiodescription (E-AC3)");
    EXPECT_EQ(text(IDM_AUDIO_STREAM_FIRST + 1), L"Français (E-AC3)");
    EXPECT_EQ(text(IDM_AUDIO_STREAM_FIRST + 2), L"Version originale (E-AC3)");
    EXPECT_EQ(GetMenuState(bar, IDM_AUDIO_STREAM_FIRST + 3, MF_BYCOMMAND), static_cast<UINT>(-1));
    EXPECT_EQ(checkedItems(), Places{1});
    EXPECT_EQ(heardAudio(hd, appState().audioTrack), (HeardAudio{0x330, AudioCodec::Eac3}));
    EXPECT_EQ(statusText(0), "T\xE9l\xE9 HD");
    EXPECT_EQ(text(3).find(L'\x05'), std::wstring::npos);
    EXPECT_NE(text(3).find(L"HD"), std::wstring::npos);

    handleCommand(window_, IDM_AUDIO_STREAM_FIRST + 2);
    EXPECT_EQ(checkedItems(), Places{2});
    EXPECT_EQ(heardAudio(hd, appState().audioTrack).pid, 0x332);
    handleCommand(window_, IDM_NEXT_AUDIO);
    EXPECT_EQ(checkedItems(), Places{0});
    handleCommand(window_, IDM_AUDIO_STREAM_FIRST + 7);
    EXPECT_EQ(checkedItems(), Places{0});

    // The items sit right below "Piste AC3".
    HMENU commands = GetSubMenu(bar, 2);
    int ac3 = -1;
    for (int position = 0; position < GetMenuItemCount(commands); ++position)
        if (GetMenuItemID(commands, position) == IDM_AC3_TRACK)
            ac3 = position;
    ASSERT_GE(ac3, 0);
    EXPECT_EQ(GetMenuItemID(commands, ac3 + 1), UINT(IDM_AUDIO_STREAM_FIRST));
    EXPECT_EQ(GetMenuItemID(commands, ac3 + 4), UINT(IDM_PREFER_AC3));

    handleCommand(window_, 0);
    EXPECT_EQ(GetMenuState(bar, IDM_AUDIO_STREAM_FIRST, MF_BYCOMMAND), static_cast<UINT>(-1));
    EXPECT_EQ(appState().audioTrack, AudioTrack::First);
    // The step key goes through the tracks of an MPEG channel too: second, then AC-3.
    handleCommand(window_, IDM_NEXT_AUDIO);
    EXPECT_EQ(appState().audioTrack, AudioTrack::Second);
    handleCommand(window_, IDM_NEXT_AUDIO);
    EXPECT_EQ(appState().audioTrack, AudioTrack::Ac3);
}

TEST_F(ChannelSession, ARunThatFailsHalfWayStillEndsWithEveryFilterStopped) {
    setFaults(L"tuner-run-fails");
    struct KeptErrors : GraphErrorReporter {
        std::wstring texts;
        void report(const wchar_t* text) override { texts += text; }
    } errors;
    buildWithSinks(GraphStatus::Failed, &errors);
    // The user is told rather than left before a black window.
    EXPECT_EQ(errors.texts, L"Impossible de démarrer le graph");
    std::vector<ComPtr<IBaseFilter>> filters;
    ComPtr<IEnumFilters> all;
    ASSERT_EQ(mediaGraph().graph->EnumFilters(all.put()), S_OK);
    for (ComPtr<IBaseFilter> filter; all->Next(1, filter.put(), nullptr) == S_OK;)
        filters.push_back(filter);
    all.reset();
    auto running = [&] {
        int count = 0;
        for (const auto& filter : filters) {
            FILTER_STATE state = State_Stopped;
            filter->GetState(0, &state);
            count += state != State_Stopped;
        }
        return count;
    };
    EXPECT_GT(running(), 0) << "the filters after the tuner were started before it refused";
    tearDownSessionGraph();
    EXPECT_EQ(running(), 0);
}

TEST_F(ChannelSession, ScanOfTheDemoCityFillsItsDialogAndSavesTheChannels) {
    SetEnvironmentVariableW(L"KORVANE_TESTBED_DIR",
                            windowsPath(KORVANE_BINARY_DIR "/testbed/muxes").c_str());
    ASSERT_TRUE(CopyFileW(windowsPath(KORVANE_BINARY_DIR "/canaux.ini").c_str(),
                          (folder_ + L"\\canaux.ini").c_str(), FALSE));
    appConfig().city = u"Démoville";
    buildWithSinks();

    struct Dialog {
        std::wstring title;
        LONG style = 0, listStyle = 0;
        LRESULT range = 0, lastPosition = -1;
        std::vector<LRESULT> nameCounts; // each larger count seen, as the list grew
        std::string firstName;
    } dialog;
    BoxCollector collector([&](HWND box) {
        dialog.title = windowTitle(box);
        dialog.style = GetWindowLongW(box, GWL_STYLE);
        dialog.listStyle = GetWindowLongW(GetDlgItem(box, IDC_SCAN_NAMES), GWL_STYLE);
        // Read as the scan goes, until it ends the dialog.
        while (IsWindow(box)) {
            const LRESULT range =
                SendDlgItemMessageW(box, IDC_SCAN_PROGRESS, PBM_GETRANGE, FALSE, 0);
            const LRESULT position = SendDlgItemMessageW(box, IDC_SCAN_PROGRESS, PBM_GETPOS, 0, 0);
            const LRESULT names = SendDlgItemMessageW(box, IDC_SCAN_NAMES, LB_GETCOUNT, 0, 0);
            if (IsWindow(box)) {
                dialog.range = std::max(dialog.range, range);
                dialog.lastPosition = std::max(dialog.lastPosition, position);
                if (dialog.nameCounts.empty() || dialog.nameCounts.back() < names)
                    dialog.nameCounts.push_back(names);
            }
            if (dialog.firstName.empty() && names > 0) {
                char first[256] = {};
                SendDlgItemMessageA(box, IDC_SCAN_NAMES, LB_GETTEXT, 0, LPARAM(first));
                dialog.firstName = first;
            }
            Sleep(20);
        }
        return dialog.title;
    });
    ASSERT_EQ(openChannels(), 0);

    EXPECT_TRUE(pumpUntil([&] { return !collector.seen().empty(); }, 3000));
    EXPECT_EQ(collector.seen(), Texts{L"Scan des fréquences en cours"});
    EXPECT_EQ(dialog.style & WS_SYSMENU, 0) << "the user cannot close it";
    EXPECT_NE(dialog.style & WS_CAPTION, 0);
    EXPECT_EQ(dialog.listStyle & LBS_SORT, 0);
    EXPECT_EQ(dialog.range, 6);
    EXPECT_EQ(dialog.lastPosition, 5);
    // The list grows frequency by frequency (the last names come as the scan ends the
    // dialog, too late to be seen from here): every service, radio and data ones too.
    EXPECT_GE(dialog.nameCounts.size(), 3u);
    EXPECT_GE(dialog.nameCounts.back(), 22);
    EXPECT_EQ(dialog.firstName, "Hexagone 2");
    EXPECT_FALSE(appState().scan.scanPending);

    expectDemoCityChannels(readFile(L"chaines.xml"));
    HMENU channels = GetSubMenu(GetMenu(window_), 4);
    ASSERT_EQ(GetMenuItemCount(channels), static_cast<int>(std::size(kDemoCity)));
    char item[64] = {};
    // The last item: the city's highest number.
    GetMenuStringA(channels, static_cast<UINT>(std::size(kDemoCity) - 1), item, 64, MF_BYPOSITION);
    EXPECT_STREQ(item, "56: Six TV HD");
    // The first channel plays: its multiplex is tuned last, then its outputs are mapped.
    const Lines tuned = trace("tune");
    EXPECT_EQ(tuned, (Lines{"tune 586167", "tune 474167", "tune 522167", "tune 498167",
                            "tune 538167", "tune 562167", "tune 562167"}));
    const Lines lines = switched();
    EXPECT_EQ(Lines(lines.end() - 4, lines.end()),
              (Lines{"tune 562167", "map video 288 es", "map son 304 es", "map pmt 1061 psi"}));
}

// The status bar's part of the following programme, where the offer of a new scan goes.
std::wstring statusPart(int part) {
    wchar_t text[256] = {};
    SendMessageW(appState().statusBar, SB_GETTEXTW, part, reinterpret_cast<LPARAM>(text));
    return text;
}

constexpr const wchar_t* kRescanOffer =
    L"Les numéros des chaînes ont changé : relancer la recherche ?";

// A network renumbers its channels while one is watched (tools/muxgen/scenarios/renumber.mux:
// the NIT's version goes up three seconds into each loop, two regional services share 3):
// the status bar offers a new scan and the channel menu gets its item, once; nothing is
// renumbered until the user asks. The item then scans again, replaces the list and the
// file, and plays the same service.
TEST_F(ChannelSession, ANewNitVersionOffersANewScanOnce) {
    ChannelRecords records{
        channel("Premiere", 1, 610167, 0x300, 0x320, 0x330),
        channel("Region Nord", 3, 610167, 0x100, 0x120, 0x130),
        channel("Region Sud", 3, 610167, 0x200, 0x220, 0x230),
    };
    const int32_t sids[] = {0x3003, 0x3001, 0x3002};
    for (std::size_t i = 0; i < records.size(); ++i) {
        records[i].onid = 0x20FA;
        records[i].tsid = 0x30;
        records[i].sid = sids[i];
    }
    writeChannels(records);
    writeFile(L"canaux.ini", "[G\xE9n\xE9ral]\r\nOffset=167\r\n[Essai]\r\nR1=38\r\n");
    appConfig().city = u"Essai";
    appConfig().startChannelIndex = 2;
    buildWithSinks();
    ASSERT_EQ(openChannels(), 0);
    EXPECT_EQ(trace("map epg"), (Lines{"map epg 18 psi", "map epg 16 psi"}));
    HMENU channels = GetSubMenu(GetMenu(window_), 4);
    ASSERT_EQ(GetMenuItemCount(channels), 3);

    ASSERT_TRUE(pumpUntil([] { return statusPart(4) == kRescanOffer; }, 15000));
    EXPECT_EQ(GetMenuItemCount(channels), 5);
    EXPECT_EQ(GetMenuState(channels, IDM_RESCAN_CHANNELS, MF_BYCOMMAND) & (MF_GRAYED | MF_DISABLED),
              0u);
    // Later loops bring the old version and the new one again: no second offer, and the
    // guide's refreshes keep the offer in sight.
    pumpFor(2000);
    EXPECT_EQ(GetMenuItemCount(channels), 5);
    SendMessageW(window_, kGuideUpdatedMessage, 0, 0);
    EXPECT_EQ(statusPart(4), kRescanOffer);
    EXPECT_EQ(statusPart(0), L"Region Sud");
    // Nothing was renumbered behind the user's back.
    ChannelRecords unchanged;
    ASSERT_TRUE(parseChannelFile(readFile(L"chaines.xml"), unchanged, replaceWithQuestionMarks));
    ASSERT_EQ(unchanged.size(), 3u);
    EXPECT_EQ(unchanged[2].number, 3);
    EXPECT_EQ(channelList().copyAt(2)->number, 3);

    // The item: the scan dialog comes and goes, then the same service plays again.
    BoxCollector collector([](HWND box) {
        std::wstring title = windowTitle(box);
        if (title != L"Scan des fréquences en cours")
            return BoxCollector::pressOk(box);
        while (IsWindow(box))
            Sleep(20);
        return title;
    });
    clearTrace();
    SendMessageW(window_, WM_COMMAND, MAKEWPARAM(IDM_RESCAN_CHANNELS, 0), 0);
    EXPECT_TRUE(pumpUntil([&] { return !collector.seen().empty(); }, 3000));
    EXPECT_EQ(collector.seen(), Texts{L"Scan des fréquences en cours"});
    ASSERT_EQ(channelList().size(), 3u);
    const std::optional<ChannelInfo> watched = channelList().copyCurrent();
    ASSERT_TRUE(watched);
    EXPECT_EQ(watched->sid, 0x3002);
    EXPECT_EQ(trace("tune").front(), "tune 610167");
    // Whichever version the scan read, the file holds the scan's list, in number order.
    ChannelRecords rescanned;
    ASSERT_TRUE(parseChannelFile(readFile(L"chaines.xml"), rescanned, replaceWithQuestionMarks));
    ASSERT_EQ(rescanned.size(), 3u);
    EXPECT_EQ(rescanned[0].name.view(), "Premiere");
    EXPECT_TRUE(rescanned[2].number == 3 || rescanned[2].number == 31) << rescanned[2].number;
    channels = GetSubMenu(GetMenu(window_), 4);
    EXPECT_EQ(GetMenuItemCount(channels), 3) << "the new menu has no offer";
    EXPECT_NE(statusPart(4), kRescanOffer);
}

} // namespace
} // namespace korvane::testing
