// Subtitles over the picture: the sink decodes what the "subtitles" output delivers, the
// window shows each display set at its time over the picture the renderer stand-in draws,
// stretched with the picture, and clears it at its time-out; the "Sous-titres"
// menu, the S key and the preference.
#include "app/subtitle_timeline.h"
#include "app/win/menu_state.h"
#include "app/win/subtitle_display.h"
#include "app/win/video_area.h"
#include "graph/demux_outputs.h"
#include "graph/platform_guids.h"
#include "graph/subtitle_filter.h"
#include "picture_test_support.h"
#include "res/resource.h"
#include "support/dvb_subtitle_writer.h"
#include "testbed_graph_fixture.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

namespace korvane::testing {
namespace {

constexpr int kRegionX = 180, kRegionY = 460, kRegionWidth = 360, kRegionHeight = 60;

// A display set of page 1: one region of 4-bit pixels at (kRegionX, kRegionY), a frame of
// colour 2 around a block of colour 1 (both opaque), colour 0 clear, shown for `timeout` s.
dvbsub::Bytes displaySet(uint8_t version, uint8_t timeout) {
    using namespace dvbsub;
    Bytes pixels(std::size_t(kRegionWidth) * kRegionHeight, 1);
    for (int y = 0; y < kRegionHeight; ++y)
        for (int x = 0; x < kRegionWidth; ++x)
            if (x < 20 || x >= kRegionWidth - 20)
                pixels[std::size_t(y) * kRegionWidth + x] = 0;
    return dataField(
        {pageComposition(1, timeout, version, 2, {{1, kRegionX, kRegionY}}),
         regionComposition(1, 1, version, kRegionWidth, kRegionHeight, 4, 1, {{1, 0, 0}}),
         clutDefinition(1, 1, version, {{0, 0x40, 0, 0, 0, 0xFF}, {1, 0x40, 81, 240, 90, 0}}),
         objectData(1, 1, version, 4, kRegionWidth, pixels), endOfDisplaySet(1)});
}

SubtitleStream subtitleStream(int32_t pid, const char* language, uint8_t type, uint16_t page) {
    SubtitleStream stream;
    stream.pid = pid;
    stream.language = {language[0], language[1], language[2]};
    stream.type = type;
    stream.compositionPage = page;
    stream.ancillaryPage = page;
    return stream;
}

ChannelInfo channelWith(const char* name, std::vector<SubtitleStream> streams) {
    ChannelInfo channel;
    channel.name.assign(name);
    channel.frequency = 474167;
    channel.subtitleStreams = std::move(streams);
    return channel;
}

class SubtitlesTest : public PictureWindowTest {
  protected:
    void SetUp() override {
        PictureWindowTest::SetUp();
        // What an earlier test of this process left is forgotten.
        subtitlesFollowChannel();
    }
    void TearDown() override {
        if (auto control = graph_ ? graph_.as<IMediaControl>() : ComPtr<IMediaControl>())
            control->Stop();
        subtitlesFollowChannel();
        PictureWindowTest::TearDown();
    }
    void command(UINT id) { SendMessageW(window_, WM_COMMAND, id, 0); }

    // The renderer stand-in fed with 4:3 pictures for ten seconds, and the subtitle sink fed
    // by a source of subtitle samples, in one running graph.
    void runGraph() {
        graph_ = GraphTools::makeGraph();
        RendererSetup renderer = setUpRendererLikeTheProgram(graph_.get(), window_, false);
        ASSERT_EQ(renderer.failed, RendererStep::None);
        auto* video = new TestSource(rgb32Type(720, 576, 4, 3), 720 * 576 * 4);
        video->stream().waitWhenEmpty();
        video_ = ComPtr<IBaseFilter>(video);
        ASSERT_EQ(graph_->AddFilter(video_.get(), L"Codec vid\u00e9o"), S_OK);
        ASSERT_EQ(GraphTools::connect(graph_.get(), video_.get(), renderer.vmr.get()), S_OK);
        mediaGraph().graph = graph_;
        mediaGraph().vmr = renderer.vmr;
        mediaGraph().windowlessControl = renderer.windowless;
        renderer.windowless->SetColorKey(kProgramColourKey);
        const TestPicture picture = blockPicture(
            720, 576,
            {0x808080, 0x808000, 0x008080, 0x008000, 0x800080, 0x800000, 0x000080, 0x101010});
        for (int i = 0; i < 250; ++i)
            video->stream().queue(TestBuffer{picture.pixels, i * 400000LL});

        CMediaType type(kMediaTypeSubtitle);
        type.SetSubtype(&kMediaSubtypeDvbSubtitles);
        // A PES packet's data bytes reach 64 kB.
        subtitleSource_ = new TestSource(type, 65536);
        subtitleSource_->stream().waitWhenEmpty();
        ComPtr<IBaseFilter> source(subtitleSource_);
        ASSERT_EQ(graph_->AddFilter(source.get(), L"Demux"), S_OK);
        HRESULT hr = S_OK;
        auto* sink = new CSubtitleFilter(kClsidSubtitleFilter, &hr, subtitleReceiver());
        ComPtr<IBaseFilter> filter(sink);
        ASSERT_EQ(graph_->AddFilter(filter.get(), L"Sous-titres"), S_OK);
        ASSERT_EQ(GraphTools::connect(graph_.get(), source.get(), filter.get()), S_OK);
        mediaGraph().subtitleFilter = filter;
        mediaGraph().subtitles = sink;
        layoutVideo();
        ASSERT_TRUE(SUCCEEDED(graph_.as<IMediaControl>()->Run()));
    }

    // Pumps the window's messages until the graph's stream time reaches `ticks` (90 kHz).
    bool pumpUntil(int64_t ticks) {
        for (int i = 0; i < 1500; ++i) {
            std::optional<int64_t> now = mediaGraph().subtitles->streamTime90k();
            if (now && *now >= ticks)
                return true;
            pumpMessages(10);
        }
        return false;
    }

    // Pumps the window's messages until the colour shows (or has gone), for a few seconds:
    // the timer that shows it is late when the machine is busy.
    bool pumpUntilShown(uint32_t colour, bool shown) {
        for (int i = 0; i < 150; ++i) {
            if (boxOf(WindowCapture(window_), colour).has_value() == shown)
                return true;
            pumpMessages(20);
        }
        return false;
    }

    // The colour the decoder gives CLUT entry 1, decoded apart from the program.
    static uint32_t expectedColour() {
        SubtitleDecoder decoder(1, 1);
        const auto pictures = decoder.decodePayload(displaySet(0, 5), 0);
        if (pictures.empty() || pictures[0].regions.empty())
            return 0xFFFFFFFF;
        return pictures[0].regions[0].palette.at(1) & 0xFFFFFF;
    }

    // The box of the pixels of this colour in the window, or nothing.
    static std::optional<RECT> boxOf(const WindowCapture& capture, uint32_t colour) {
        return capture.boxWhere([colour](uint32_t pixel) { return pixel == colour; });
    }

    // Where the opaque block of the region goes over the picture rectangle; the stretch may
    // round each edge either way.
    static void expectBox(const RECT& box, const VideoRect& picture) {
        const RECT expected = expectedBox(picture);
        EXPECT_NEAR(box.left, expected.left, 1) << box;
        EXPECT_NEAR(box.top, expected.top, 1) << box;
        EXPECT_NEAR(box.right, expected.right, 1) << box;
        EXPECT_NEAR(box.bottom, expected.bottom, 1) << box;
    }
    static RECT expectedBox(const VideoRect& picture) {
        SubtitleRegion block;
        block.x = kRegionX + 20;
        block.y = kRegionY;
        block.width = kRegionWidth - 40;
        block.height = kRegionHeight;
        const VideoRect r = subtitleRegionArea(block, 720, 576, picture);
        return RECT{r.left, r.top, r.right, r.bottom};
    }

    void queueSubtitle(const dvbsub::Bytes& payload, int64_t seconds10ths) {
        subtitleSource_->stream().queue(TestBuffer{payload, seconds10ths * 1000000LL});
    }

    // Menu texts of the "Sous-titres" popup and which one is checked.
    std::vector<std::wstring> subtitleItems(int* checked) {
        std::vector<std::wstring> texts;
        HMENU commands = GetSubMenu(appState().fullMenu, 2);
        HMENU popup = nullptr;
        for (int i = 0; commands && i < GetMenuItemCount(commands); ++i)
            if (HMENU inner = GetSubMenu(commands, i);
                inner && GetMenuItemID(inner, 0) == IDM_SUBTITLES_NONE)
                popup = inner;
        *checked = -1;
        for (int i = 0; popup && i < GetMenuItemCount(popup); ++i) {
            wchar_t text[128] = {};
            GetMenuStringW(popup, i, text, 128, MF_BYPOSITION);
            texts.emplace_back(text);
            if (GetMenuState(popup, i, MF_BYPOSITION) & MF_CHECKED)
                *checked = i;
        }
        return texts;
    }

    ComPtr<IFilterGraph2> graph_;
    ComPtr<IBaseFilter> video_;
    TestSource* subtitleSource_ = nullptr;
};

// A display set shows over the picture at its time, stretched from the 720 x 576 display
// over the picture at zoom 100, and goes at its time-out; a zap clears the next one at once.
TEST_F(SubtitlesTest, DisplaySetsShowAtTheirTimeOverThePictureAndGo) {
    dropStatusBar();
    setClientSize(800, 600);
    const uint32_t colour = expectedColour();
    ASSERT_NE(colour, 0xFFFFFFFFu) << "the decoder decodes the test's display set";
    channelList().append(channelWith("Arte", {subtitleStream(0x150, "fra", 0x10, 1)}));
    channelList().append(channelWith("France 2", {}));
    channelList().setCurrentIndex(0);
    appConfig().subtitles = SubtitlePreference::Normal;
    ASSERT_NO_FATAL_FAILURE(runGraph());
    // As after the program's graph is built: the channel's stream goes to the sink.
    subtitlesFollowChannel();

    queueSubtitle(displaySet(0, 2), 15); // at 1.5 s, for 2 s
    ASSERT_TRUE(pumpUntil(14 * 9000));
    EXPECT_FALSE(boxOf(WindowCapture(window_), colour)) << "not before its time";
    ASSERT_TRUE(pumpUntil(15 * 9000));
    ASSERT_TRUE(pumpUntilShown(colour, true));
    {
        const WindowCapture capture(window_);
        const auto box = boxOf(capture, colour);
        ASSERT_TRUE(box) << std::hex << colour << " missing; the block's middle shows "
                         << capture.at(400, 510);
        expectBox(*box, VideoRect{0, 0, 800, 600});
        // Colour 0 is clear: the picture shows beside the block, inside the region.
        EXPECT_NE(capture.at(box->left - 5, box->top + 5) & 0xFFFFFF, colour);
        const std::wstring shots = windowsPath(KORVANE_BINARY_DIR "/screenshots");
        CreateDirectoryW(shots.c_str(), nullptr);
        savePng(shots + L"\\main_window_subtitles.png", capture.pixels(), capture.width(),
                capture.height());
    }
    ASSERT_TRUE(pumpUntil(35 * 9000));
    EXPECT_TRUE(pumpUntilShown(colour, false)) << "gone at its time-out";

    // A zap clears it at once, long before its time-out.
    queueSubtitle(displaySet(1, 10), 40);
    ASSERT_TRUE(pumpUntil(40 * 9000));
    ASSERT_TRUE(pumpUntilShown(colour, true));
    channelList().setCurrentIndex(1);
    subtitlesFollowChannel();
    EXPECT_TRUE(pumpUntilShown(colour, false)) << "gone with the zap";
}

// The menu lists the channel's streams by language and type; a choice becomes the
// preference that picks the stream on the next channel; S steps to none and back.
TEST_F(SubtitlesTest, MenuKeyAndPreferenceFollowTheChannels) {
    channelList().append(channelWith("Arte", {subtitleStream(0x150, "deu", 0x10, 1),
                                              subtitleStream(0x151, "fra", 0x10, 2),
                                              subtitleStream(0x152, "fra", 0x20, 3)}));
    channelList().append(channelWith("France 2", {subtitleStream(0x160, "fra", 0x20, 1),
                                                  subtitleStream(0x161, "fra", 0x10, 2)}));
    channelList().append(channelWith("Sans", {}));
    channelList().setCurrentIndex(0);
    subtitlesFollowChannel();
    int checked = 0;
    EXPECT_EQ(subtitleItems(&checked),
              (std::vector<std::wstring>{L"Aucun", L"Allemand", L"Fran\u00e7ais",
                                         L"Fran\u00e7ais (sourds et malentendants)"}));
    EXPECT_EQ(checked, 0) << "off by default";

    struct Step {
        const char* what;
        UINT command; // 0: the next channel
        SubtitlePreference preference;
        int checked;
    };
    const Step steps[] = {
        {"a stream from the menu", IDM_SUBTITLE_STREAM_FIRST + 2, SubtitlePreference::HardOfHearing,
         3},
        {"the next channel takes the preferred type", 0, SubtitlePreference::HardOfHearing, 1},
        {"S steps on", IDM_NEXT_SUBTITLES, SubtitlePreference::Normal, 2},
        {"S past the last: none", IDM_NEXT_SUBTITLES, SubtitlePreference::Off, 0},
        {"S again: the first", IDM_NEXT_SUBTITLES, SubtitlePreference::HardOfHearing, 1},
        {"a channel without subtitles", 0, SubtitlePreference::HardOfHearing, 0},
        {"Aucun", IDM_SUBTITLES_NONE, SubtitlePreference::Off, 0},
        {"the preference off: none on the first channel", 0, SubtitlePreference::Off, 0},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        if (step.command) {
            command(step.command);
        } else {
            channelList().setCurrentIndex((channelList().currentIndex() + 1) % 3);
            subtitlesFollowChannel();
        }
        EXPECT_EQ(appConfig().subtitles, step.preference);
        subtitleItems(&checked);
        EXPECT_EQ(checked, step.checked);
    }
    EXPECT_TRUE(appConfig().subtitlesStored);
    // The context menu's copy of "Commandes" holds the submenu too.
    HMENU copy = copyMenu(GetSubMenu(appState().fullMenu, 2));
    bool found = false;
    for (int i = 0; i < GetMenuItemCount(copy); ++i)
        if (HMENU inner = GetSubMenu(copy, i))
            found = found || GetMenuItemID(inner, 0) == IDM_SUBTITLES_NONE;
    EXPECT_TRUE(found);
    DestroyMenu(copy);
}

// Keeps what the sink decodes, as the shell's receiver would.
class RecordingReceiver : public SubtitleReceiver {
  public:
    void subtitlesDecoded(uint32_t generation, std::vector<SubtitlePicture> pictures) override {
        std::lock_guard<std::mutex> guard(lock_);
        for (SubtitlePicture& picture : pictures)
            pictures_.emplace_back(generation, std::move(picture));
    }
    std::vector<std::pair<uint32_t, SubtitlePicture>> pictures() {
        std::lock_guard<std::mutex> guard(lock_);
        return pictures_;
    }

  private:
    std::mutex lock_;
    std::vector<std::pair<uint32_t, SubtitlePicture>> pictures_;
};

class TestbedSubtitles : public TestbedGraphTest {
  protected:
    ComPtr<IMPEG2PIDMap> connectOutput(ComPtr<IPin> pin, ComPtr<IBaseFilter> filter,
                                       const wchar_t* name) {
        EXPECT_TRUE(pin && filter);
        if (!pin || !filter)
            return {};
        sinks_.push_back(filter);
        EXPECT_EQ(graph_->AddFilter(filter.get(), name), S_OK);
        EXPECT_EQ(
            graph_->ConnectDirect(pin.get(), firstPin(filter.get(), PINDIR_INPUT).get(), nullptr),
            S_OK);
        return pin.as<IMPEG2PIDMap>();
    }
};

// The program's "subtitles" output on the demultiplexer stand-in, playing the test
// multiplex's Canal Deux HD: each sample is one PES packet's data bytes, stamped on the
// video's time base (muxgen gives a display set the PTS of its picture), and the sink
// decodes the chosen stream's display sets with those times, in 90 kHz ticks.
TEST_F(TestbedSubtitles, SubtitlePayloadsComeOnTheVideosTimeBaseAndDecode) {
    RecordingReceiver receiver;
    HRESULT hr = S_OK;
    auto* sink = new CSubtitleFilter(kClsidSubtitleFilter, &hr, receiver);
    ComPtr<IBaseFilter> sinkFilter(sink);
    auto subtitles = connectOutput(createSubtitleOutput(demuxControl_.get(), L"subtitles"),
                                   sinkFilter, L"Sous-titres");
    auto* raw = new TestSink(kMediaTypeSubtitle);
    auto rawMap = connectOutput(createSubtitleOutput(demuxControl_.get(), L"raw"),
                                ComPtr<IBaseFilter>(raw), L"raw");
    auto* video = new TestSink(MEDIATYPE_Video);
    auto videoMap =
        connectOutput(createVideoOutput(demuxControl_.get(), kMediaSubtypeH264, L"h264"),
                      ComPtr<IBaseFilter>(video), L"h264");
    ASSERT_TRUE(subtitles && rawMap && videoMap);
    SubtitleStream stream;
    stream.pid = 0x240;
    stream.compositionPage = 1;
    stream.ancillaryPage = 1;
    const uint32_t generation = sink->selectStream(&stream);
    ULONG subtitlePid = 0x240;
    ULONG videoPid = 0x220;
    ASSERT_EQ(subtitles->MapPID(1, &subtitlePid, MEDIA_ELEMENTARY_STREAM), S_OK);
    ASSERT_EQ(rawMap->MapPID(1, &subtitlePid, MEDIA_ELEMENTARY_STREAM), S_OK);
    ASSERT_EQ(videoMap->MapPID(1, &videoPid, MEDIA_ELEMENTARY_STREAM), S_OK);
    tune(474167);
    run();
    EXPECT_TRUE(waitFor([&] { return raw->count() >= 3 && receiver.pictures().size() >= 3; }));
    stop();

    const auto payloads = raw->rendered();
    const auto pictures = video->rendered();
    ASSERT_GE(payloads.size(), 3u);
    for (const auto& payload : payloads) {
        ASSERT_GE(payload.bytes.size(), 3u);
        EXPECT_EQ(payload.bytes[0], 0x20) << "data_identifier first: the PES header is gone";
        EXPECT_EQ(payload.bytes[1], 0x00);
        EXPECT_EQ(payload.bytes.back(), 0xFF) << "the data field's end marker last";
        ASSERT_GE(payload.start, 0);
        const bool withItsPicture =
            std::any_of(pictures.begin(), pictures.end(),
                        [&](const auto& p) { return std::llabs(p.start - payload.start) <= 1; });
        EXPECT_TRUE(withItsPicture) << "no picture stamped " << payload.start;
    }
    const auto decoded = receiver.pictures();
    ASSERT_GE(decoded.size(), 3u);
    bool shown = false;
    for (const auto& [carried, picture] : decoded) {
        EXPECT_EQ(carried, generation);
        const bool stamped = std::any_of(payloads.begin(), payloads.end(), [&](const auto& p) {
            return std::llabs(p.start * 9 / 1000 - picture.pts) <= 1;
        });
        EXPECT_TRUE(stamped) << picture.pts;
        shown = shown || !picture.regions.empty();
    }
    EXPECT_TRUE(shown) << "a display set with a text among them";
}

} // namespace
} // namespace korvane::testing
