#include "si/pmt.h"
#include "si_test_sections.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace korvane;
using namespace si_test;

namespace {

PmtPids classify(const Bytes& section) {
    PmtPids pids;
    EXPECT_EQ(classifyPmtStreams(section.data(), section.size(), pids), PmtRead::Complete);
    return pids;
}

const Bytes kAc3 = descriptor(0x6A, {0x00});
const Bytes kLanguage = descriptor(0x0A, {'f', 'r', 'a', 0x00});

struct WatchedChannel : ::testing::Test {
    ChannelList list;
    CountingNotifier notifier;
    RecordingSaver saver;

    void SetUp() override {
        list.append(channel(0x101));
        list.append(channel(0x102));
        list.setCurrentIndex(1);
    }
    void feed(const Bytes& section) {
        decodePmt(list, notifier, saver, section.data(), section.size());
    }
};

} // namespace

TEST(ClassifyPmtStreams, AudioVideoAndAc3Rules) {
    PmtPids p = classify(pmt(1, 0x1FF,
                             {{0x02, 0x100, {}},
                              {0x03, 0x101, {}},
                              {0x04, 0x102, {}},
                              {0x03, 0x103, {}},
                              {0x00, 0x104, {}}}));
    EXPECT_EQ(p.pcrPid, 0x1FF);
    EXPECT_EQ(p.videoPid, 0x100);
    EXPECT_EQ(p.audio1Pid, 0x101);
    EXPECT_EQ(p.audio2Pid, 0x103);
    EXPECT_EQ(p.videoMpeg4Pid, 0);

    Bytes ac3Loop = kLanguage;
    append(ac3Loop, kAc3);
    p = classify(pmt(1, 0x100,
                     {{0x06, 0x110, ac3Loop},
                      {0x06, 0x111, kLanguage},
                      {0x81, 0x112, kAc3},
                      {0x06, 0x113, kAc3},
                      {0x06, 0x114, kAc3}}));
    EXPECT_EQ(p.ac3Pid, 0x110);
    EXPECT_EQ(p.ac3Pid2, 0x114);
    EXPECT_EQ(p.audio1Pid, 0);

    // An AC-3 descriptor counts on a stream of type 6 only, wherever the stream comes.
    for (uint8_t type : {0x03, 0x05, 0x81}) {
        p = classify(pmt(1, 0x100, {{type, 0x115, kAc3}}));
        EXPECT_EQ(p.ac3Pid, 0) << int(type);
        p = classify(pmt(1, 0x100, {{0x06, 0x116, kAc3}, {type, 0x117, kAc3}}));
        EXPECT_EQ(p.ac3Pid, 0x116) << int(type);
        EXPECT_EQ(p.ac3Pid2, 0) << int(type);
    }

    p = classify(pmt(1, 0x100, {{0x01, 0x120, {}}, {0x1B, 0x121, {}}, {0x1B, 0x122, {}}}));
    EXPECT_EQ(p.videoPid, 0x120);
    EXPECT_EQ(p.videoMpeg4Pid, 0x122);
}

TEST(ClassifyPmtStreams, ReservedBitsAndProgramInfoAreSkipped) {
    // pmt() sets the reserved bits of every PID and length to 1.
    PmtPids p = classify(pmt(1, 0x1FFF, {{0x02, 0x1ABC, {}}, {0x04, 0x0001, kLanguage}},
                             descriptor(0x09, {0x01, 0x00, 0xE1, 0x00})));
    EXPECT_EQ(p.pcrPid, 0x1FFF);
    EXPECT_EQ(p.videoPid, 0x1ABC);
    EXPECT_EQ(p.audio1Pid, 0x0001);
}

TEST(ClassifyPmtStreams, TruncatedSectionsStopWithoutReadingPastTheEnd) {
    PmtPids p;
    const uint8_t shortSection[12] = {0x02, 0xB0, 0x09, 0, 1, 0xC1, 0, 0, 0xE1, 0x00, 0xF0, 0};
    EXPECT_EQ(classifyPmtStreams(shortSection, sizeof shortSection, p), PmtRead::NoHeader);
    EXPECT_EQ(p.pcrPid, 0);

    Bytes lying = pmt(1, 0x100, {{0x02, 0x100, {}}, {0x03, 0x101, {}}});
    lying[12 + 5 + 3] = 0xF0; // second entry's ES_info_length
    lying[12 + 5 + 4] = 0x40;
    p = PmtPids{};
    EXPECT_EQ(classifyPmtStreams(lying.data(), lying.size(), p), PmtRead::Truncated);
    EXPECT_EQ(p.videoPid, 0x100);
    EXPECT_EQ(p.audio1Pid, 0);

    Bytes badDescriptor = pmt(1, 0x100, {{0x06, 0x100, {0x6A, 0x05, 0x00}}});
    p = PmtPids{};
    EXPECT_EQ(classifyPmtStreams(badDescriptor.data(), badDescriptor.size(), p),
              PmtRead::Truncated);
    EXPECT_EQ(p.ac3Pid, 0);

    const Bytes whole = pmt(1, 0x100, {{0x02, 0x100, kLanguage}, {0x06, 0x101, kAc3}});
    for (std::size_t n = 0; n < whole.size(); ++n) {
        Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n));
        p = PmtPids{};
        // Only cuts that fall on an entry boundary before the (shifted) CRC read complete.
        const bool boundary = n == 16 || n == 27;
        EXPECT_EQ(classifyPmtStreams(cut.data(), cut.size(), p) == PmtRead::Complete, boundary)
            << n;
    }
}

// A descriptor whose length runs past its entry's loop, but not past the section, ends that
// loop only: every entry is still classified, and the watched channel takes the result.
TEST_F(WatchedChannel, DescriptorRunningPastItsLoopKeepsEveryEntry) {
    const struct {
        const char* what;
        Bytes videoLoop;
        Bytes ac3Loop;
    } cases[] = {
        {"language descriptor reaching into the next entry",
         {0x0A, 0x06, 'f', 'r', 'a', 0x00},
         kAc3},
        {"AC-3 descriptor reaching into the next entry still counts",
         kLanguage,
         {0x0A, 0x04, 'f', 'r', 'a', 0x00, 0x6A, 0x03, 0x00}},
        {"a lone tag whose length byte belongs to the next entry", {0x0A}, kAc3},
    };
    for (const auto& c : cases) {
        list.lock().at(1) = channel(0x102);
        const Bytes section = pmt(0x102, 0x100,
                                  {{0x02, 0x100, c.videoLoop},
                                   {0x06, 0x102, c.ac3Loop},
                                   {0x03, 0x101, {}},
                                   {0x1B, 0x103, kLanguage}});
        PmtPids p;
        EXPECT_EQ(classifyPmtStreams(section.data(), section.size(), p), PmtRead::Complete)
            << c.what;
        feed(section);
        const ChannelInfo ch = *list.copyAt(1);
        EXPECT_EQ(ch.pcrPid, 0x100) << c.what;
        EXPECT_EQ(ch.videoPid, 0x100) << c.what;
        EXPECT_EQ(ch.ac3Pid, 0x102) << c.what;
        EXPECT_EQ(ch.audio1Pid, 0x101) << c.what;
        EXPECT_EQ(ch.videoMpeg4Pid, 0x103) << c.what;
    }
}

TEST_F(WatchedChannel, ChangeIsStoredSavedThenPostedOnce) {
    const Bytes section = pmt(0x102, 0x100, {{0x02, 0x100, {}}, {0x03, 0x101, {}}});
    feed(section);
    ChannelInfo c = *list.copyAt(1);
    EXPECT_EQ(c.pcrPid, 0x100);
    EXPECT_EQ(c.videoPid, 0x100);
    EXPECT_EQ(c.audio1Pid, 0x101);
    EXPECT_EQ(list.copyAt(0)->videoPid, 0);
    ASSERT_EQ(saver.saves.size(), 1u);
    EXPECT_EQ(saver.saves[0].size(), 2u);
    EXPECT_EQ(saver.saves[0][1].videoPid, 0x100);
    EXPECT_EQ(notifier.streamChanges, 1);

    feed(section);
    EXPECT_EQ(saver.saves.size(), 1u);
    EXPECT_EQ(notifier.streamChanges, 1);
}

TEST_F(WatchedChannel, PcrChangeAloneAndEmptyPmtCount) {
    feed(pmt(0x102, 0x100, {{0x02, 0x100, {}}}));
    feed(pmt(0x102, 0x1FF, {{0x02, 0x100, {}}}));
    EXPECT_EQ(list.copyAt(1)->pcrPid, 0x1FF);
    EXPECT_EQ(saver.saves.size(), 2u);
    EXPECT_EQ(notifier.streamChanges, 2);

    feed(pmt(0x102, 0x1FF, {{0x05, 0x200, {}}}));
    EXPECT_EQ(list.copyAt(1)->videoPid, 0);
    EXPECT_EQ(list.copyAt(1)->pcrPid, 0x1FF);
    EXPECT_EQ(notifier.streamChanges, 3);
}

TEST_F(WatchedChannel, NothingHappensWithoutAWatchedChannelOrWithALyingPmt) {
    ChannelInfo before = *list.copyAt(1);
    before.videoPid = 0x300;
    before.audio1Pid = 0x301;
    list.lock().at(1) = before;

    Bytes lying = pmt(0x102, 0x100, {{0x02, 0x300, {}}, {0x03, 0x301, {}}});
    lying[12 + 5 + 4] = 0x40;
    feed(lying);
    EXPECT_EQ(list.copyAt(1)->audio1Pid, 0x301);
    EXPECT_EQ(list.copyAt(1)->pcrPid, 0);

    list.setCurrentIndex(-1);
    feed(pmt(0x102, 0x100, {{0x02, 0x100, {}}}));
    list.setCurrentIndex(7);
    feed(pmt(0x102, 0x100, {{0x02, 0x100, {}}}));
    EXPECT_TRUE(saver.saves.empty());
    EXPECT_EQ(notifier.streamChanges, 0);
    EXPECT_EQ(list.copyAt(0)->videoPid, 0);
}

// The watched record takes only its own program's PMT: with two programs on one PMT PID, or
// a section of the previous channel still in delivery after a zap, the other program's PMT
// would rewrite the record and the channel file at every repetition. A record without a
// service id takes any PMT.
TEST_F(WatchedChannel, OnlyTheWatchedProgramsPmtIsApplied) {
    const struct {
        int32_t recordSid;
        unsigned program;
        bool applied;
    } cases[] = {
        {0x102, 0x102, true}, {0x102, 0x101, false}, {0x102, 0x999, false},
        {0, 0x101, true},     {0, 0x999, true},
    };
    for (const auto& c : cases) {
        list.lock().at(1) = channel(c.recordSid);
        saver.saves.clear();
        notifier.streamChanges = 0;
        feed(pmt(c.program, 0x100, {{0x02, 0x200, {}}, {0x03, 0x201, {}}}));
        const ChannelInfo ch = *list.copyAt(1);
        EXPECT_EQ(ch.videoPid, c.applied ? 0x200 : 0) << c.recordSid << " " << c.program;
        EXPECT_EQ(saver.saves.size(), c.applied ? 1u : 0u) << c.recordSid << " " << c.program;
        EXPECT_EQ(notifier.streamChanges, c.applied ? 1 : 0) << c.recordSid << " " << c.program;
    }
    // A zap on one multiplex: the old channel's PMT arriving late leaves the new one alone.
    list.lock().at(0) = channel(0x101);
    list.lock().at(1) = channel(0x102);
    feed(pmt(0x102, 0x100, {{0x02, 0x300, {}}}));
    list.setCurrentIndex(0);
    feed(pmt(0x102, 0x100, {{0x02, 0x300, {}}}));
    feed(pmt(0x101, 0x110, {{0x02, 0x310, {}}}));
    EXPECT_EQ(list.copyAt(0)->videoPid, 0x310);
    EXPECT_EQ(list.copyAt(1)->videoPid, 0x300);
}

TEST(ScanPmt, WritesTheGivenRecordOnly) {
    ChannelList list;
    list.append(channel(0x101));
    list.append(channel(0x102));
    Bytes ac3 = kAc3;
    const Bytes section =
        pmt(0x102, 0x120, {{0x1B, 0x120, {}}, {0x03, 0x121, {}}, {0x06, 0x122, ac3}});
    scanPmt(list, section.data(), section.size(), 1);
    scanPmt(list, section.data(), section.size(), 5);
    ChannelInfo c = *list.copyAt(1);
    EXPECT_EQ(c.pcrPid, 0x120);
    EXPECT_EQ(c.videoMpeg4Pid, 0x120);
    EXPECT_EQ(c.audio1Pid, 0x121);
    EXPECT_EQ(c.ac3Pid, 0x122);
    EXPECT_EQ(list.copyAt(0)->pcrPid, 0);

    // Entries read before a lying one stay written, as the scan writes as it goes.
    Bytes lying = pmt(0x101, 0x130, {{0x02, 0x130, {}}, {0x03, 0x131, {}}});
    lying[12 + 5 + 4] = 0x40;
    scanPmt(list, lying.data(), lying.size(), 0);
    EXPECT_EQ(list.copyAt(0)->pcrPid, 0x130);
    EXPECT_EQ(list.copyAt(0)->videoPid, 0x130);
    EXPECT_EQ(list.copyAt(0)->audio1Pid, 0);
}

namespace {

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts)
        append(all, part);
    return all;
}

Bytes language(const char* code, uint8_t audioType) {
    return descriptor(0x0A, {static_cast<uint8_t>(code[0]), static_cast<uint8_t>(code[1]),
                             static_cast<uint8_t>(code[2]), audioType});
}

// The supplementary audio descriptor: mix type 1, the classification, and the language
// when given.
Bytes supplementary(uint8_t classification, const char* code = nullptr) {
    Bytes body{0x06, static_cast<uint8_t>(0x80 | (classification << 2) | 0x02 | (code ? 1 : 0))};
    if (code)
        body.insert(body.end(), code, code + 3);
    return descriptor(0x7F, body);
}

const Bytes kEac3 = descriptor(0x7A, {0x00});

std::array<char, 3> code(const char* c) {
    return {c[0], c[1], c[2]};
}

} // namespace

TEST(ClassifyPmtStreams, AudioStreamsWithCodecLanguageAndKind) {
    const std::array<char, 3> none{};
    const struct {
        const char* what;
        uint8_t type;
        Bytes loop;
        bool audio;
        AudioCodec codec;
        std::array<char, 3> language;
        AudioKind kind;
    } cases[] = {
        {"MPEG-1 audio", 0x03, language("fre", 0), true, AudioCodec::Mpeg, code("fre"),
         AudioKind::Main},
        {"MPEG-2 audio without language", 0x04, {}, true, AudioCodec::Mpeg, none, AudioKind::Main},
        {"AC-3", 0x06, concat({language("eng", 0), kAc3}), true, AudioCodec::Ac3, code("eng"),
         AudioKind::Main},
        {"E-AC-3", 0x06, concat({kEac3, language("fra", 0)}), true, AudioCodec::Eac3, code("fra"),
         AudioKind::Main},
        {"both AC-3 descriptors count as AC-3", 0x06, concat({kEac3, kAc3}), true, AudioCodec::Ac3,
         none, AudioKind::Main},
        {"audio_type 3 is a description", 0x06, concat({kEac3, language("fre", 3)}), true,
         AudioCodec::Eac3, code("fre"), AudioKind::AudioDescription},
        {"audio_type 2 is clean audio", 0x03, language("fre", 2), true, AudioCodec::Mpeg,
         code("fre"), AudioKind::CleanAudio},
        {"qad is a description", 0x06, concat({kEac3, language("qad", 0)}), true, AudioCodec::Eac3,
         code("qad"), AudioKind::AudioDescription},
        {"qaa stays main", 0x06, concat({kEac3, language("qaa", 0)}), true, AudioCodec::Eac3,
         code("qaa"), AudioKind::Main},
        {"supplementary classification and language win", 0x06,
         concat({kEac3, language("fre", 0), supplementary(1, "qad")}), true, AudioCodec::Eac3,
         code("qad"), AudioKind::AudioDescription},
        {"supplementary without language keeps the ISO 639 code", 0x06,
         concat({kEac3, language("fre", 3), supplementary(0)}), true, AudioCodec::Eac3, code("fre"),
         AudioKind::Main},
        {"spoken subtitles", 0x06, concat({kEac3, supplementary(3, "fre")}), true, AudioCodec::Eac3,
         code("fre"), AudioKind::SpokenSubtitles},
        {"other extension descriptors are skipped", 0x06,
         concat({kEac3, descriptor(0x7F, {0x05, 0x05})}), true, AudioCodec::Eac3, none,
         AudioKind::Main},
        {"language descriptor too short for its code", 0x06,
         concat({kEac3, descriptor(0x0A, {'f', 'r'})}), true, AudioCodec::Eac3, none,
         AudioKind::Main},
        {"language without audio_type", 0x06, concat({kEac3, descriptor(0x0A, {'d', 'e', 'u'})}),
         true, AudioCodec::Eac3, code("deu"), AudioKind::Main},
        {"supplementary announcing a language it lacks", 0x06,
         concat({kEac3, language("fre", 0), descriptor(0x7F, {0x06, 0x85, 'q'})}), true,
         AudioCodec::Eac3, code("fre"), AudioKind::AudioDescription},
        {"empty extension descriptor", 0x06, concat({kEac3, descriptor(0x7F, {})}), true,
         AudioCodec::Eac3, none, AudioKind::Main},
        {"private stream without an AC-3 descriptor",
         0x06,
         language("fre", 0),
         false,
         {},
         none,
         {}},
        {"E-AC-3 descriptor on another type", 0x81, kEac3, false, {}, none, {}},
        {"H.264 video", 0x1B, language("fre", 0), false, {}, none, {}},
    };
    for (const auto& c : cases) {
        std::vector<AudioStream> audio;
        PmtPids pids;
        const Bytes section = pmt(1, 0x100, {{0x1B, 0x100, {}}, {c.type, 0x120, c.loop}});
        ASSERT_EQ(classifyPmtStreams(section.data(), section.size(), pids, &audio),
                  PmtRead::Complete)
            << c.what;
        ASSERT_EQ(audio.size(), c.audio ? 1u : 0u) << c.what;
        if (!c.audio)
            continue;
        EXPECT_EQ(audio[0], (AudioStream{0x120, c.codec, c.language, c.kind})) << c.what;
    }
}

TEST(ClassifyPmtStreams, AudioStreamsKeepThePmtOrderAndStopWhereTheWalkStops) {
    const Bytes section = pmt(1, 0x100,
                              {{0x1B, 0x100, {}},
                               {0x06, 0x111, concat({kEac3, language("qad", 0)})},
                               {0x03, 0x112, language("fre", 0)},
                               {0x06, 0x113, concat({kEac3, language("fre", 0)})},
                               {0x06, 0x114, concat({kEac3, language("qaa", 0)})}});
    PmtPids pids;
    std::vector<AudioStream> audio;
    ASSERT_EQ(classifyPmtStreams(section.data(), section.size(), pids, &audio), PmtRead::Complete);
    ASSERT_EQ(audio.size(), 4u);
    EXPECT_EQ(audio[0].pid, 0x111);
    EXPECT_EQ(audio[1].pid, 0x112);
    EXPECT_EQ(audio[3].pid, 0x114);
    EXPECT_EQ(pids.audio1Pid, 0x112);
    EXPECT_EQ(pids.ac3Pid, 0);

    // Every cut of the section reads without passing its end and keeps a prefix of the list.
    for (std::size_t cut = 0; cut < section.size(); ++cut) {
        const Bytes part(section.begin(), section.begin() + static_cast<std::ptrdiff_t>(cut));
        PmtPids p;
        std::vector<AudioStream> a;
        classifyPmtStreams(part.data(), part.size(), p, &a);
        ASSERT_LE(a.size(), audio.size()) << cut;
        for (std::size_t i = 0; i < a.size(); ++i)
            EXPECT_EQ(a[i].pid, audio[i].pid) << cut;
    }
}

TEST_F(WatchedChannel, AudioStreamChangesAreStoredSavedAndPosted) {
    list.lock().at(1) = channel(0x102);
    const auto withAudio = [](const Bytes& loop) {
        return pmt(0x102, 0x100, {{0x1B, 0x100, {}}, {0x06, 0x110, concat({kEac3, loop})}});
    };
    feed(withAudio(language("fre", 0)));
    ASSERT_EQ(list.copyAt(1)->audioStreams.size(), 1u);
    EXPECT_EQ(notifier.streamChanges, 1);
    feed(withAudio(language("fre", 0)));
    EXPECT_EQ(notifier.streamChanges, 1);
    // Only the language changes: no PID field differs, the stream list does.
    feed(withAudio(language("qaa", 0)));
    EXPECT_EQ(notifier.streamChanges, 2);
    ASSERT_EQ(saver.saves.size(), 2u);
    EXPECT_EQ(saver.saves[1][1].audioStreams[0].language, code("qaa"));
    feed(withAudio(language("qaa", 3)));
    EXPECT_EQ(notifier.streamChanges, 3);
    EXPECT_EQ(list.copyAt(1)->audioStreams[0].kind, AudioKind::AudioDescription);

    // A channel whose PID fields carry every stream keeps the languages without a rewrite
    // or a reselection: the channel file does not hold them.
    list.lock().at(1) = channel(0x102);
    saver.saves.clear();
    notifier.streamChanges = 0;
    const auto mpeg = [](const char* code) {
        return pmt(0x102, 0x100, {{0x02, 0x100, {}}, {0x03, 0x101, language(code, 0)}});
    };
    feed(mpeg("fre"));
    EXPECT_EQ(notifier.streamChanges, 1);
    feed(mpeg("eng"));
    EXPECT_EQ(notifier.streamChanges, 1);
    EXPECT_EQ(saver.saves.size(), 1u);
    EXPECT_EQ(list.copyAt(1)->audioStreams[0].language, code("eng"));

    ChannelList scanned;
    scanned.append(channel(0x102));
    const Bytes section = withAudio(language("fre", 0));
    scanPmt(scanned, section.data(), section.size(), 0);
    scanPmt(scanned, section.data(), section.size(), 0);
    EXPECT_EQ(scanned.copyAt(0)->audioStreams,
              (std::vector<AudioStream>{{0x110, AudioCodec::Eac3, code("fre"), AudioKind::Main}}));
}

namespace {

// One subtitling descriptor entry: language, subtitling_type, composition and ancillary page.
Bytes subtitleEntry(const char* code, uint8_t type, uint16_t composition, uint16_t ancillary) {
    return {static_cast<uint8_t>(code[0]),          static_cast<uint8_t>(code[1]),
            static_cast<uint8_t>(code[2]),          type,
            static_cast<uint8_t>(composition >> 8), static_cast<uint8_t>(composition),
            static_cast<uint8_t>(ancillary >> 8),   static_cast<uint8_t>(ancillary)};
}

SubtitleStream subtitle(int32_t pid, const char* c, uint8_t type, uint16_t composition,
                        uint16_t ancillary) {
    return {pid, code(c), type, composition, ancillary};
}

} // namespace

TEST(ClassifyPmtStreams, SubtitleStreamsFromTheSubtitlingDescriptor) {
    const Bytes fra = subtitleEntry("fra", 0x10, 1, 1);
    const Bytes hoh = subtitleEntry("fra", 0x20, 2, 0x0102);
    const Bytes deu = subtitleEntry("deu", 0x14, 3, 0xFFFF);
    const struct {
        const char* what;
        uint8_t type;
        Bytes loop;
        std::vector<SubtitleStream> streams;
    } cases[] = {
        {"one entry", 0x06, descriptor(0x59, fra), {subtitle(0x130, "fra", 0x10, 1, 1)}},
        {"two languages in one descriptor",
         0x06,
         descriptor(0x59, concat({hoh, deu})),
         {subtitle(0x130, "fra", 0x20, 2, 0x0102), subtitle(0x130, "deu", 0x14, 3, 0xFFFF)}},
        {"two descriptors in loop order",
         0x06,
         concat({language("fra", 0), descriptor(0x59, deu), descriptor(0x59, fra)}),
         {subtitle(0x130, "deu", 0x14, 3, 0xFFFF), subtitle(0x130, "fra", 0x10, 1, 1)}},
        {"an entry cut short is left out",
         0x06,
         descriptor(0x59, concat({fra, Bytes(hoh.begin(), hoh.begin() + 7)})),
         {subtitle(0x130, "fra", 0x10, 1, 1)}},
        {"empty descriptor", 0x06, descriptor(0x59, {}), {}},
        {"not on a private PES stream", 0x81, descriptor(0x59, fra), {}},
        {"an AC-3 stream stays audio", 0x06, concat({kAc3, descriptor(0x59, fra)}), {}},
        {"an E-AC-3 stream stays audio", 0x06, concat({descriptor(0x59, fra), kEac3}), {}},
        {"teletext", 0x06, descriptor(0x56, {'f', 'r', 'a', 0x09, 0x00}), {}},
    };
    for (const auto& c : cases) {
        std::vector<AudioStream> audio;
        std::vector<SubtitleStream> subtitles;
        PmtPids pids;
        const Bytes section = pmt(1, 0x100,
                                  {{0x1B, 0x100, {}},
                                   {0x06, 0x120, concat({kEac3, language("fra", 0)})},
                                   {c.type, 0x130, c.loop}});
        ASSERT_EQ(classifyPmtStreams(section.data(), section.size(), pids, &audio, &subtitles),
                  PmtRead::Complete)
            << c.what;
        EXPECT_EQ(subtitles, c.streams) << c.what;
        // The subtitles change none of the PID fields nor the audio streams.
        EXPECT_EQ(pids, classify(section)) << c.what;
        EXPECT_EQ(audio.front().pid, 0x120) << c.what;
    }

    // Every cut of a section reads without passing its end and keeps a prefix of the list.
    const Bytes section = pmt(1, 0x100,
                              {{0x06, 0x131, descriptor(0x59, concat({fra, hoh}))},
                               {0x06, 0x132, descriptor(0x59, deu)}});
    PmtPids pids;
    std::vector<SubtitleStream> whole;
    classifyPmtStreams(section.data(), section.size(), pids, nullptr, &whole);
    ASSERT_EQ(whole.size(), 3u);
    for (std::size_t cut = 0; cut < section.size(); ++cut) {
        const Bytes part(section.begin(), section.begin() + static_cast<std::ptrdiff_t>(cut));
        std::vector<SubtitleStream> s;
        classifyPmtStreams(part.data(), part.size(), pids, nullptr, &s);
        ASSERT_LE(s.size(), whole.size()) << cut;
        EXPECT_TRUE(std::equal(s.begin(), s.end(), whole.begin())) << cut;
    }
}

TEST_F(WatchedChannel, SubtitleStreamChangesAreStoredSavedAndPosted) {
    list.lock().at(1) = channel(0x102);
    const auto withSubtitles = [](const Bytes& entries) {
        return pmt(
            0x102, 0x100,
            {{0x02, 0x100, {}}, {0x03, 0x101, {}}, {0x06, 0x130, descriptor(0x59, entries)}});
    };
    const Bytes fra = subtitleEntry("fra", 0x10, 1, 1);
    feed(withSubtitles(fra));
    EXPECT_EQ(notifier.streamChanges, 1);
    feed(withSubtitles(fra));
    EXPECT_EQ(notifier.streamChanges, 1);
    // Only a page id changes, then a stream is added, then they all go.
    feed(withSubtitles(subtitleEntry("fra", 0x10, 1, 2)));
    feed(withSubtitles(concat({fra, subtitleEntry("fra", 0x20, 2, 2)})));
    EXPECT_EQ(notifier.streamChanges, 3);
    ASSERT_EQ(saver.saves.size(), 3u);
    EXPECT_EQ(saver.saves[1][1].subtitleStreams,
              (std::vector<SubtitleStream>{subtitle(0x130, "fra", 0x10, 1, 2)}));
    EXPECT_EQ(list.copyAt(1)->subtitleStreams.size(), 2u);
    feed(pmt(0x102, 0x100, {{0x02, 0x100, {}}, {0x03, 0x101, {}}}));
    EXPECT_EQ(notifier.streamChanges, 4);
    EXPECT_TRUE(list.copyAt(1)->subtitleStreams.empty());

    ChannelList scanned;
    scanned.append(channel(0x102));
    const Bytes section = withSubtitles(fra);
    scanPmt(scanned, section.data(), section.size(), 0);
    scanPmt(scanned, section.data(), section.size(), 0);
    EXPECT_EQ(scanned.copyAt(0)->subtitleStreams,
              (std::vector<SubtitleStream>{subtitle(0x130, "fra", 0x10, 1, 1)}));
}
