#include "app/channel_switch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace korvane {
namespace {

// Every call on the outputs and the tuner, in order, as "<output> map 0x120 es",
// "<output> unmap 0x120" and "tune 474167".
struct CallLog {
    std::vector<std::string> lines;
};

std::string hex(int32_t pid) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(pid));
    return text;
}

class FakePidMap : public PidMap {
  public:
    FakePidMap(const char* name, CallLog& log) : name_(name), log_(log) {}
    void mapPid(int32_t pid, PidContent content) override {
        log_.lines.push_back(name_ + " map " + hex(pid) +
                             (content == PidContent::Psi ? " psi" : " es"));
        if (std::find(mapped.begin(), mapped.end(), pid) == mapped.end())
            mapped.push_back(pid);
    }
    void unmapPid(int32_t pid) override {
        log_.lines.push_back(name_ + " unmap " + hex(pid));
        std::erase(mapped, pid);
    }
    std::vector<int32_t> mappedPids(std::size_t max) override {
        return {mapped.begin(), mapped.begin() + std::min(max, mapped.size())};
    }
    std::vector<int32_t> mapped;

  private:
    std::string name_;
    CallLog& log_;
};

class FakeTuner : public ScanTuner {
  public:
    explicit FakeTuner(CallLog& log) : log_(log) {}
    int tuneFrequency(int32_t frequency) override {
        log_.lines.push_back("tune " + std::to_string(frequency));
        return 0;
    }

  private:
    CallLog& log_;
};

ChannelInfo channel(int32_t frequency, int32_t number, int32_t pmt, int32_t video, int32_t audio1,
                    int32_t audio2 = 0, int32_t ac3 = 0) {
    ChannelInfo c;
    c.frequency = frequency;
    c.number = number;
    c.pmtPid = pmt;
    c.videoPid = video;
    c.audio1Pid = audio1;
    c.audio2Pid = audio2;
    c.ac3Pid = ac3;
    return c;
}

class ChannelSwitch : public ::testing::Test {
  protected:
    void SetUp() override {
        list.append(channel(474167, 1, 0x100, 0x120, 0x130, 0x131, 0x133));
        list.append(channel(474167, 2, 0x200, 0, 0x230));           // H.264 only: no video mapped
        list.append(channel(522167, 3, 0x400, 0x420, 0, 0, 0x433)); // AC-3 only
        list.append(channel(522167, 4, 0, 0x520, 0x530));           // PAT never named it
    }
    std::vector<std::string> select(std::size_t index, bool preferAc3 = false) {
        log.lines.clear();
        EXPECT_TRUE(switchChannel(list, index, preferAc3, track, outputs, &tuner));
        return log.lines;
    }

    CallLog log;
    FakePidMap video{"video", log}, audio{"son", log}, ac3{"ac3", log}, pmt{"pmt", log};
    DemuxOutputs outputs{&video, &audio, &ac3, &pmt};
    FakeTuner tuner{log};
    AudioTrack track = AudioTrack::First;
    ChannelList list;
};

TEST_F(ChannelSwitch, RetunesOnlyForTheFirstSelectionOrAnotherFrequency) {
    using Lines = std::vector<std::string>;
    EXPECT_EQ(select(0), (Lines{"tune 474167", "video map 0x120 es", "son map 0x130 es",
                                "pmt map 0x100 psi"}));
    EXPECT_EQ(list.currentIndex(), 0);
    // Same multiplex: the four outputs are emptied in order, no retune.
    EXPECT_EQ(select(1), (Lines{"video unmap 0x120", "son unmap 0x130", "pmt unmap 0x100",
                                "son map 0x230 es", "pmt map 0x200 psi"}));
    EXPECT_EQ(select(2), (Lines{"son unmap 0x230", "pmt unmap 0x200", "tune 522167",
                                "video map 0x420 es", "pmt map 0x400 psi"}));
    // A PMT PID of 0 is mapped all the same.
    EXPECT_EQ(select(3), (Lines{"video unmap 0x420", "pmt unmap 0x400", "video map 0x520 es",
                                "son map 0x530 es", "pmt map 0x0 psi"}));
    // Reselecting the current channel (after a PMT change) remaps without retuning.
    EXPECT_EQ(select(3), (Lines{"video unmap 0x520", "son unmap 0x530", "pmt unmap 0x0",
                                "video map 0x520 es", "son map 0x530 es", "pmt map 0x0 psi"}));

    log.lines.clear();
    EXPECT_FALSE(switchChannel(list, 4, false, track, outputs, &tuner));
    EXPECT_TRUE(log.lines.empty());
    EXPECT_EQ(list.currentIndex(), 3);
}

TEST_F(ChannelSwitch, PreferredAc3ReplacesTheFirstTrackWhenTheChannelHasOne) {
    track = AudioTrack::Second;
    auto lines = select(0, true);
    EXPECT_EQ(lines[2], "ac3 map 0x133 es");
    EXPECT_EQ(track, AudioTrack::Ac3);
    lines = select(1, true);
    EXPECT_EQ(lines,
              (std::vector<std::string>{"video unmap 0x120", "ac3 unmap 0x133", "pmt unmap 0x100",
                                        "son map 0x230 es", "pmt map 0x200 psi"}));
    EXPECT_EQ(track, AudioTrack::First);
}

TEST_F(ChannelSwitch, UnmapsAtMostEightPidsPerOutputAndToleratesMissingOutputs) {
    for (int32_t pid = 1; pid <= 10; ++pid)
        video.mapped.push_back(pid);
    unmapAllPids(&video);
    EXPECT_EQ(video.mapped, (std::vector<int32_t>{9, 10}));
    unmapAllPids(nullptr);

    DemuxOutputs none;
    log.lines.clear();
    EXPECT_TRUE(switchChannel(list, 2, true, track, none, nullptr));
    EXPECT_TRUE(log.lines.empty());
    EXPECT_EQ(list.currentIndex(), 2);
    EXPECT_EQ(track, AudioTrack::Ac3);
}

TEST(RetuneDecision, FirstSelectionAlwaysRetunes) {
    EXPECT_TRUE(retuneNeeded(std::nullopt, 474167));
    EXPECT_FALSE(retuneNeeded(474167, 474167));
    EXPECT_TRUE(retuneNeeded(474167, 522167));
}

ChannelRecords onFrequencies(std::vector<int32_t> frequencies) {
    ChannelRecords records;
    for (int32_t f : frequencies)
        records.push_back(channel(f, 0, 0, 0, 0));
    return records;
}

TEST(PreviousNext, WrapAndStayOnTheRecordedMultiplex) {
    const ChannelRecords records = onFrequencies({1, 2, 1, 3, 1, 2});
    struct Case {
        int32_t current;
        bool recording;
        std::optional<std::size_t> previous, next;
    };
    const Case cases[] = {
        {0, false, 5, 1},
        {5, false, 4, 0},
        {2, false, 1, 3},
        {-1, false, 5, 0}, // nothing selected yet
        {2, true, 0, 4},
        {0, true, 4, 2},
        {4, true, 2, 0},
        {1, true, 5, 5},                       // the other channel on frequency 2, both ways round
        {3, true, std::nullopt, std::nullopt}, // alone on its frequency
        {-1, true, std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(previousChannelIndex(records, c.current, c.recording), c.previous)
            << c.current << (c.recording ? " recording" : "");
        EXPECT_EQ(nextChannelIndex(records, c.current, c.recording), c.next)
            << c.current << (c.recording ? " recording" : "");
    }
    EXPECT_EQ(previousChannelIndex({}, 0, false), std::nullopt);
    EXPECT_EQ(nextChannelIndex({}, 0, true), std::nullopt);
}

TEST(TypedNumbers, DigitsAccumulateWithoutOverflow) {
    int32_t typed = 0;
    for (int digit : {1, 2})
        typed = appendTypedDigit(typed, digit);
    EXPECT_EQ(typed, 12);
    for (int i = 0; i < 20; ++i)
        typed = appendTypedDigit(typed, 9);
    EXPECT_EQ(typed, 12999999);
    EXPECT_EQ(appendTypedDigit(5, 10), 5);
}

TEST(TypedNumbers, FirstMatchWinsAndWhileRecordingOnlyOnTheCurrentFrequency) {
    ChannelRecords records = onFrequencies({1, 2, 1, 2});
    const int32_t numbers[] = {12, 5, 5, 1};
    for (std::size_t i = 0; i < records.size(); ++i)
        records[i].number = numbers[i];
    struct Case {
        int32_t current;
        int32_t number;
        bool recording;
        std::optional<std::size_t> chosen;
    };
    const Case cases[] = {
        {0, 12, false, 0},
        {0, 5, false, 1},
        {0, 7, false, std::nullopt},
        {3, 5, true, 1},
        {0, 1, true, std::nullopt},
        // The first channel numbered 5 is on another frequency: a later one on this
        // frequency is not looked for.
        {2, 5, true, std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(typedNumberChoice(records, c.current, c.number, c.recording), c.chosen)
            << c.number << " from " << c.current;
}

TEST_F(ChannelSwitch, AudioTrackCommandsMovePidsAndSetTheMenuStates) {
    using Lines = std::vector<std::string>;
    const ChannelInfo une = *list.copyAt(0);
    select(0);
    const MenuItemState enabled{false, false}, disabled{false, true}, checkedDisabled{true, true};
    EXPECT_EQ(audioTrackMenu(track, une), (AudioTrackMenu{checkedDisabled, enabled, enabled}));

    log.lines.clear();
    ASSERT_TRUE(selectSecondAudioTrack(une, track, outputs));
    EXPECT_EQ(log.lines, (Lines{"son unmap 0x130", "son map 0x131 es"}));
    EXPECT_EQ(audioTrackMenu(track, une), (AudioTrackMenu{enabled, checkedDisabled, disabled}));
    // Entered from the first track only (reachable by accelerator while the menu is detached).
    EXPECT_FALSE(selectAc3Track(une, track, outputs));

    log.lines.clear();
    selectFirstAudioTrack(une, track, outputs);
    EXPECT_EQ(log.lines, (Lines{"son unmap 0x131", "son map 0x130 es"}));
    EXPECT_EQ(track, AudioTrack::First);

    log.lines.clear();
    ASSERT_TRUE(selectAc3Track(une, track, outputs));
    EXPECT_EQ(log.lines, (Lines{"son unmap 0x130", "ac3 map 0x133 es"}));
    EXPECT_EQ(audioTrackMenu(track, une), (AudioTrackMenu{enabled, disabled, checkedDisabled}));
    EXPECT_FALSE(selectSecondAudioTrack(une, track, outputs));

    log.lines.clear();
    selectFirstAudioTrack(une, track, outputs);
    EXPECT_EQ(log.lines, (Lines{"ac3 unmap 0x133", "son map 0x130 es"}));
    EXPECT_EQ(video.mapped, (std::vector<int32_t>{0x120}));
    EXPECT_EQ(audio.mapped, (std::vector<int32_t>{0x130}));
    EXPECT_TRUE(ac3.mapped.empty());

    log.lines.clear();
    selectFirstAudioTrack(une, track, outputs);
    EXPECT_TRUE(log.lines.empty()) << "already on the first track";
}

TEST_F(ChannelSwitch, ChannelsWithoutTheTracksLeaveTheirItemsDisabled) {
    const ChannelInfo deux = *list.copyAt(1);
    const ChannelInfo trois = *list.copyAt(2);
    select(1);
    log.lines.clear();
    EXPECT_FALSE(selectSecondAudioTrack(deux, track, outputs));
    EXPECT_FALSE(selectAc3Track(deux, track, outputs));
    EXPECT_TRUE(log.lines.empty());
    const MenuItemState disabled{false, true}, checkedDisabled{true, true};
    EXPECT_EQ(audioTrackMenu(track, deux), (AudioTrackMenu{checkedDisabled, disabled, disabled}));

    // An AC-3-only channel under the AC-3 preference: back to the first track unmaps the
    // AC-3 and has no first track to map.
    select(2, true);
    EXPECT_EQ(track, AudioTrack::Ac3);
    EXPECT_FALSE(selectAc3Track(trois, track, outputs));
    log.lines.clear();
    selectFirstAudioTrack(trois, track, outputs);
    EXPECT_EQ(log.lines, (std::vector<std::string>{"ac3 unmap 0x433"}));
    EXPECT_EQ(track, AudioTrack::First);
}

AudioStream stream(int32_t pid, AudioCodec codec, const char* language,
                   AudioKind kind = AudioKind::Main) {
    AudioStream s{pid, codec, {}, kind};
    if (language)
        std::copy(language, language + 3, s.language.begin());
    return s;
}

constexpr AudioCodec kEac3 = AudioCodec::Eac3;
constexpr AudioKind kDescription = AudioKind::AudioDescription;

// The default track, whatever the PMT's order: the French main E-AC-3 track, never the
// description or the original version while it exists; the PID fields keep their rule.
TEST(DefaultAudioTrack, FrenchMainTrackWhateverTheOrder) {
    const struct {
        const char* what;
        std::vector<AudioStream> streams;
        int32_t audio1, ac3;
        bool preferAc3;
        AudioTrack expected;
    } cases[] = {
        {"description listed first",
         {stream(0x11, kEac3, "qad"), stream(0x12, kEac3, "fre"), stream(0x13, kEac3, "qaa")},
         0,
         0,
         false,
         AudioTrack{AudioTrack::Slot::Stream, 0x12, kEac3}},
        {"original version first, fra",
         {stream(0x13, kEac3, "qaa"), stream(0x11, kEac3, "fre", kDescription),
          stream(0x12, kEac3, "fra")},
         0,
         0,
         false,
         AudioTrack{AudioTrack::Slot::Stream, 0x12, kEac3}},
        {"German before French",
         {stream(0x14, kEac3, "deu"), stream(0x12, kEac3, "fre")},
         0,
         0,
         false,
         AudioTrack{AudioTrack::Slot::Stream, 0x12, kEac3}},
        {"no French: another language before the original version",
         {stream(0x13, kEac3, "qaa"), stream(0x14, kEac3, "deu")},
         0,
         0,
         false,
         AudioTrack{AudioTrack::Slot::Stream, 0x14, kEac3}},
        {"only a description and the original version",
         {stream(0x11, kEac3, "fre", kDescription), stream(0x13, kEac3, "qaa")},
         0,
         0,
         false,
         AudioTrack{AudioTrack::Slot::Stream, 0x13, kEac3}},
        {"only a description",
         {stream(0x11, kEac3, "qad")},
         0,
         0,
         false,
         AudioTrack{AudioTrack::Slot::Stream, 0x11, kEac3}},
        {"no languages: the first",
         {stream(0x15, kEac3, nullptr), stream(0x16, kEac3, nullptr)},
         0,
         0,
         false,
         AudioTrack{AudioTrack::Slot::Stream, 0x15, kEac3}},
        {"MPEG audio first without the preference",
         {stream(0x20, AudioCodec::Mpeg, "fre"), stream(0x12, kEac3, "fre")},
         0x20,
         0,
         false,
         AudioTrack::First},
        {"the preference takes E-AC-3 over MPEG",
         {stream(0x20, AudioCodec::Mpeg, "fre"), stream(0x12, kEac3, "fre")},
         0x20,
         0,
         true,
         AudioTrack{AudioTrack::Slot::Stream, 0x12, kEac3}},
        {"AC-3 before E-AC-3 under the preference",
         {stream(0x30, AudioCodec::Ac3, "fre"), stream(0x12, kEac3, "fre")},
         0,
         0x30,
         true,
         AudioTrack::Ac3},
        {"AC-3 without the preference is not heard",
         {stream(0x30, AudioCodec::Ac3, "fre")},
         0,
         0x30,
         false,
         AudioTrack::First},
        {"no audio at all", {}, 0, 0, true, AudioTrack::First},
    };
    for (const auto& c : cases) {
        ChannelInfo ch;
        ch.audioStreams = c.streams;
        ch.audio1Pid = c.audio1;
        ch.ac3Pid = c.ac3;
        EXPECT_EQ(defaultAudioTrack(ch, c.preferAc3), c.expected) << c.what;
        EXPECT_EQ(heardAudio(ch, c.expected).pid, c.expected.slot == AudioTrack::Slot::Stream
                                                      ? c.expected.pid
                                                  : c.expected == AudioTrack::Ac3 ? c.ac3
                                                                                  : c.audio1)
            << c.what;
    }
}

// A channel of today: H.264 video on its own output, three E-AC-3 tracks, the items below
// the three fixed items, the step key going round every track.
TEST_F(ChannelSwitch, TodaysChannelMapsH264AndEac3AndOffersEveryTrack) {
    FakePidMap h264{"h264", log}, eac3{"eac3", log};
    outputs.h264 = &h264;
    outputs.eac3 = &eac3;
    ChannelInfo hd = channel(474167, 5, 0x600, 0, 0);
    hd.videoMpeg4Pid = 0x610;
    hd.audioStreams = {stream(0x621, kEac3, "qad"), stream(0x620, kEac3, "fra"),
                       stream(0x622, kEac3, "qaa"), stream(0x623, kEac3, "ger")};
    list.append(hd);
    ChannelInfo both = channel(474167, 6, 0x700, 0x710, 0x720);
    both.videoMpeg4Pid = 0x711;
    both.audioStreams = {stream(0x720, AudioCodec::Mpeg, "fre"), stream(0x721, kEac3, "fre")};
    list.append(both);

    using Lines = std::vector<std::string>;
    select(0);
    EXPECT_EQ(select(4), (Lines{"video unmap 0x120", "son unmap 0x130", "pmt unmap 0x100",
                                "h264 map 0x610 es", "eac3 map 0x620 es", "pmt map 0x600 psi"}));
    EXPECT_EQ(heardAudio(hd, track), (HeardAudio{0x620, kEac3}));
    const MenuItemState enabled{}, disabled{false, true}, checked{true, true};
    EXPECT_EQ(audioTrackMenu(track, hd), (AudioTrackMenu{disabled, disabled, disabled}));
    EXPECT_EQ(audioStreamItems(track, hd),
              (std::vector<AudioStreamItem>{{0x621, "Audiodescription (E-AC3)", enabled},
                                            {0x620, "Français (E-AC3)", checked},
                                            {0x622, "Version originale (E-AC3)", enabled},
                                            {0x623, "Allemand (E-AC3)", enabled}}));

    log.lines.clear();
    selectFirstAudioTrack(hd, track, outputs);
    EXPECT_TRUE(log.lines.empty());
    ASSERT_TRUE(selectAudioStream(hd, 0x622, track, outputs));
    EXPECT_EQ(log.lines, (Lines{"eac3 unmap 0x620", "eac3 map 0x622 es"}));
    EXPECT_FALSE(selectAudioStream(hd, 0x622, track, outputs));
    EXPECT_FALSE(selectAudioStream(hd, 0x999, track, outputs));
    EXPECT_EQ(audioStreamItems(track, hd)[2].state, checked);
    // The step key: 0x623, then round to the first of the list.
    ASSERT_TRUE(selectNextAudioTrack(hd, track, outputs));
    ASSERT_TRUE(selectNextAudioTrack(hd, track, outputs));
    EXPECT_EQ(heardAudio(hd, track).pid, 0x621);
    // Leaving E-AC-3 and MPEG-2 for the MPEG-2 video and MPEG audio of the next channel;
    // the H.264 of a channel with MPEG-2 video stays unmapped.
    EXPECT_EQ(select(5), (Lines{"pmt unmap 0x600", "h264 unmap 0x610", "eac3 unmap 0x621",
                                "video map 0x710 es", "son map 0x720 es", "pmt map 0x700 psi"}));
    EXPECT_EQ(audioStreamItems(track, both),
              (std::vector<AudioStreamItem>{{0x721, "Français (E-AC3)", enabled}}));
    log.lines.clear();
    ASSERT_TRUE(selectNextAudioTrack(both, track, outputs));
    EXPECT_EQ(log.lines, (Lines{"son unmap 0x720", "eac3 map 0x721 es"}));
    EXPECT_EQ(audioTrackMenu(track, both), (AudioTrackMenu{enabled, disabled, disabled}));
    log.lines.clear();
    selectFirstAudioTrack(both, track, outputs);
    EXPECT_EQ(log.lines, (Lines{"eac3 unmap 0x721", "son map 0x720 es"}));
    EXPECT_EQ(track, AudioTrack::First);
    // Under the preference the E-AC-3 track comes first.
    EXPECT_EQ(select(5, true)[4], "eac3 map 0x721 es");
}

TEST(AudioStreamName, LanguageKindAndFallbacks) {
    const struct {
        AudioStream stream;
        const char* name;
    } cases[] = {
        {stream(1, kEac3, "fre"), "Français"},
        {stream(1, kEac3, "fra", kDescription), "Audiodescription"},
        {stream(1, kEac3, "qad"), "Audiodescription"},
        {stream(1, kEac3, "qaa"), "Version originale"},
        {stream(1, kEac3, "deu"), "Allemand"},
        {stream(1, kEac3, "eng", AudioKind::CleanAudio), "Anglais malentendants"},
        {stream(1, kEac3, "fre", AudioKind::SpokenSubtitles), "Français sous-titres parlés"},
        {stream(1, kEac3, "swe"), "swe"},
        {stream(1, kEac3, "S\x01?"), "Piste 3"},
        {stream(1, kEac3, nullptr), "Piste 3"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(audioStreamName(c.stream, 3), c.name) << c.name;
}

} // namespace
} // namespace korvane
