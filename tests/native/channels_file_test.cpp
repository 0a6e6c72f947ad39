#include "support/channel_file_reader.h"
#include "support/xml_tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>

using namespace korvane;

namespace {

ChannelInfo sample(const char* name, const char* group) {
    ChannelInfo c;
    c.name.assign(name);
    c.group.assign(group);
    c.frequency = 586167;
    c.onid = 0x20FA;
    c.tsid = 4;
    c.sid = 0x0401;
    c.number = 5;
    c.pmtPid = 0x0110;
    c.pcrPid = 0x0120;
    return c;
}

ChannelRecords roundTrip(const ChannelRecords& in) {
    ChannelRecords out;
    EXPECT_TRUE(parseChannelFile(formatChannelFile(in), out, replaceWithQuestionMarks));
    return out;
}

XmlNode element(std::u16string name, std::u16string text = {}, std::vector<XmlNode> kids = {}) {
    return XmlNode{std::move(name), std::move(text), std::move(kids)};
}

void expectSameStoredFields(const ChannelInfo& a, const ChannelInfo& b) {
    EXPECT_EQ(a.name.view(), b.name.view());
    EXPECT_EQ(a.group.view(), b.group.view());
    EXPECT_EQ(a.frequency, b.frequency);
    EXPECT_EQ(a.onid, b.onid);
    EXPECT_EQ(a.sid, b.sid);
    EXPECT_EQ(a.tsid, b.tsid);
    EXPECT_EQ(a.number, b.number);
    EXPECT_EQ(a.pmtPid, b.pmtPid);
    EXPECT_EQ(a.pcrPid, b.pcrPid);
    EXPECT_EQ(a.videoPid, b.videoPid);
    EXPECT_EQ(a.videoMpeg4Pid, b.videoMpeg4Pid);
    EXPECT_EQ(a.audio1Pid, b.audio1Pid);
    EXPECT_EQ(a.audio2Pid, b.audio2Pid);
    EXPECT_EQ(a.ac3Pid, b.ac3Pid);
    EXPECT_EQ(a.ac3Pid2, b.ac3Pid2);
}

} // namespace

TEST(ChannelFileWriter, WritesTheExactLayout) {
    EXPECT_EQ(formatChannelFile({}), "<Chaines>\r\n</Chaines>\r\n");

    const std::string head = "<Chaines>\r\n"
                             "\t<Chaine>\r\n"
                             "\t\t<Nom>TF1</Nom>\r\n"
                             "\t\t<Groupe>SMR6</Groupe>\r\n"
                             "\t\t<Frequence>586167</Frequence>\r\n"
                             "\t\t<ONID>8442</ONID>\r\n"
                             "\t\t<TSID>4</TSID>\r\n"
                             "\t\t<SID>1025</SID>\r\n"
                             "\t\t<Numero>5</Numero>\r\n"
                             "\t\t<PMT>272</PMT>\r\n"
                             "\t\t<PCR>288</PCR>\r\n";
    const std::string tail = "\t</Chaine>\r\n"
                             "</Chaines>\r\n";
    ChannelInfo c = sample("TF1", "SMR6");
    c.videoMpeg4Pid = 0x0100;
    c.ac3Pid2 = 0x0105;
    c.audio1Pid = -3; // negative PIDs are not written
    EXPECT_EQ(formatChannelFile({c}), head +
                                          "\t\t<Video_mpeg4>256</Video_mpeg4>\r\n"
                                          "\t\t<Ac3_2>261</Ac3_2>\r\n" +
                                          tail);

    // Every optional PID at once: their lines keep one order.
    ChannelInfo all = sample("TF1", "SMR6");
    all.videoPid = 0x0201;
    all.videoMpeg4Pid = 0x0202;
    all.audio1Pid = 0x0203;
    all.audio2Pid = 0x0204;
    all.ac3Pid = 0x0205;
    all.ac3Pid2 = 0x0206;
    EXPECT_EQ(formatChannelFile({all}), head +
                                            "\t\t<Video>513</Video>\r\n"
                                            "\t\t<Video_mpeg4>514</Video_mpeg4>\r\n"
                                            "\t\t<Son1>515</Son1>\r\n"
                                            "\t\t<Son2>516</Son2>\r\n"
                                            "\t\t<Ac3>517</Ac3>\r\n"
                                            "\t\t<Ac3_2>518</Ac3_2>\r\n" +
                                            tail);
}

TEST(ChannelFileWriter, AlwaysWritesPmtAndPcrAndNegativeIdentifiers) {
    ChannelInfo c;
    c.frequency = -1;
    std::string text = formatChannelFile({c});
    EXPECT_NE(text.find("\t\t<PMT>0</PMT>\r\n"), std::string::npos);
    EXPECT_NE(text.find("\t\t<PCR>0</PCR>\r\n"), std::string::npos);
    EXPECT_NE(text.find("\t\t<Frequence>-1</Frequence>\r\n"), std::string::npos);
    EXPECT_NE(text.find("\t\t<Nom></Nom>\r\n"), std::string::npos);
    EXPECT_EQ(text.find("Video"), std::string::npos);
}

TEST(ChannelFileText, EscapedTextIsPureAsciiAndReversible) {
    EXPECT_EQ(escapeChannelText("A<B>&C"), "A&lt;B&gt;&amp;C");
    EXPECT_EQ(escapeChannelText("Ch\xE9rie 25"), "Ch&#xE9;rie 25");
    EXPECT_EQ(escapeChannelText("\x0B"
                                "France 2"),
              "&#xE00B;France 2");
    EXPECT_EQ(escapeChannelText(" x "), "&#xE020;x&#xE020;");
    for (int b = 1; b < 256; ++b) {
        std::string one(1, static_cast<char>(b));
        for (char e : escapeChannelText(one))
            EXPECT_LT(static_cast<unsigned char>(e), 0x80) << b;
    }
}

TEST(ChannelFileText, WideTextMapsBackToBytes) {
    EXPECT_EQ(channelTextFromWide(u"Ch\u00E9rie", nullptr), "Ch\xE9rie");
    EXPECT_EQ(channelTextFromWide(u"\uE005x\uE01F", nullptr), "\x05x\x1F");
    // Characters outside both blocks go through the code-page conversion.
    auto fake = [](std::u16string_view t) { return std::string(t.size(), '#'); };
    EXPECT_EQ(channelTextFromWide(u"a\u20AC\u20ACb\uE0FF", fake), "a##b\xFF");
    EXPECT_EQ(channelTextFromWide(u"\U0001F600", replaceWithQuestionMarks), "?");
    std::u16string longText(300, u'x');
    EXPECT_EQ(channelTextFromWide(longText, nullptr).size(), 255u);
    EXPECT_EQ(channelTextFromWide(std::u16string(254, u'x') + u"\u20AC\u20AC", fake).size(), 255u);
}

TEST(ChannelFileRoundTrip, KeepsEveryByteOfNamesAndProviders) {
    std::string everyByte;
    for (int b = 1; b < 256; ++b)
        everyByte += static_cast<char>(b);
    ChannelRecords in = {sample("Ch\xE9rie 25", "L'\xC9quipe & co <HD>"),
                         sample("\x05"
                                "Arte",
                                "\x0B"
                                "  spaced  "),
                         sample(everyByte.substr(0, 200).c_str(), everyByte.substr(120).c_str()),
                         sample(" ", "\t\r\n")};
    in[1].videoPid = 0x200;
    in[1].audio2Pid = 0x202;
    in[1].ac3Pid = 0x203;
    ChannelRecords out = roundTrip(in);
    ASSERT_EQ(out.size(), in.size());
    for (std::size_t i = 0; i < in.size(); ++i)
        expectSameStoredFields(in[i], out[i]);
}

TEST(ChannelFileRoundTrip, KeepsH264OnlyChannelsAndOrder) {
    ChannelInfo a = sample("A", "G");
    a.videoMpeg4Pid = 512;
    ChannelInfo b = sample("B", "G");
    b.videoPid = 100;
    b.audio1Pid = 101;
    ChannelRecords out = roundTrip({a, b});
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].videoPid, 0);
    EXPECT_EQ(out[0].videoMpeg4Pid, 512);
    EXPECT_EQ(out[1].name.view(), "B");
    EXPECT_EQ(out[1].audio1Pid, 101);
}

TEST(ChannelFileReader, LoadsFilesOfThePlainAsciiFormat) {
    // As written before any escaping existed: ASCII, no declaration, TAB indentation.
    const char* legacy = "<Chaines>\r\n\t<Chaine>\r\n\t\t<Nom>France 2</Nom>\r\n"
                         "\t\t<Groupe>GR1</Groupe>\r\n\t\t<Frequence>530167</Frequence>\r\n"
                         "\t\t<ONID>8442</ONID>\r\n\t\t<TSID>1</TSID>\r\n\t\t<SID>257</SID>\r\n"
                         "\t\t<Numero>2</Numero>\r\n\t\t<PMT>272</PMT>\r\n\t\t<PCR>120</PCR>\r\n"
                         "\t\t<Video>120</Video>\r\n\t\t<Son1>130</Son1>\r\n"
                         "\t</Chaine>\r\n</Chaines>\r\n";
    ChannelRecords out;
    ASSERT_TRUE(parseChannelFile(legacy, out, nullptr));
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].name.view(), "France 2");
    EXPECT_EQ(out[0].group.view(), "GR1");
    EXPECT_EQ(out[0].frequency, 530167);
    EXPECT_EQ(out[0].sid, 257);
    EXPECT_EQ(out[0].tsid, 1);
    EXPECT_EQ(out[0].number, 2);
    EXPECT_EQ(out[0].videoPid, 120);
    EXPECT_EQ(out[0].audio1Pid, 130);
    EXPECT_EQ(out[0].audio2Pid, 0);
}

TEST(ChannelFileReader, RefusesTextThatIsNotWellFormed) {
    ChannelRecords out;
    EXPECT_FALSE(parseChannelFile("", out, nullptr));
    EXPECT_FALSE(
        parseChannelFile("<Chaines><Chaine><Nom>A&B</Nom></Chaine></Chaines>", out, nullptr));
    EXPECT_FALSE(
        parseChannelFile("<Chaines><Chaine><Nom>A<B</Nom></Chaine></Chaines>", out, nullptr));
    EXPECT_FALSE(
        parseChannelFile("<Chaines><Chaine><Nom>Ch\xE9rie</Nom></Chaine></Chaines>", out, nullptr));
    EXPECT_FALSE(parseChannelFile("<Chaines><Chaine><Nom>\x05"
                                  "A</Nom></Chaine></Chaines>",
                                  out, nullptr));
    EXPECT_FALSE(parseChannelFile("<Chaines><Chaine></Chaines>", out, nullptr));
    EXPECT_FALSE(parseChannelFile("<Chaines/><Chaines/>", out, nullptr));
    EXPECT_TRUE(out.empty());
}

TEST(ChannelFileRecordRules, TextFieldTakesTheFirstChildEvenWhenEmpty) {
    XmlNode chaine = element(u"Chaine", u"",
                             {element(u"Nom", u""), element(u"Nom", u"Second"),
                              element(u"nom", u"lower"), element(u"Groupe", u"G")});
    ChannelInfo c = channelFromNode(chaine, nullptr);
    EXPECT_TRUE(c.name.empty());
    EXPECT_EQ(c.group.view(), "G");
    chaine.children.erase(chaine.children.begin(), chaine.children.begin() + 2);
    EXPECT_TRUE(channelFromNode(chaine, nullptr).name.empty()) << "names are case-sensitive";
}

TEST(ChannelFileRecordRules, IntegerFieldTakesTheFirstNonZeroChild) {
    XmlNode chaine =
        element(u"Chaine", u"",
                {element(u"Video", u"0"), element(u"Video", u"512"), element(u"Video", u"7"),
                 element(u"SID", u"abc"), element(u"SID", u"-4x"), element(u"video", u"9")});
    ChannelInfo c = channelFromNode(chaine, nullptr);
    EXPECT_EQ(c.videoPid, 512);
    EXPECT_EQ(c.sid, -4);
    EXPECT_EQ(c.number, 0) << "a missing Numero reads as 0";
}

TEST(ChannelFileRecordRules, EveryChildOfTheRootIsARecord) {
    auto root = parseXmlDocument("<Liste><!-- note --><Chaine><Nom>X</Nom><SID>3</SID>"
                                 "<Extra><SID>9</SID></Extra></Chaine><Autre a='1'/></Liste>");
    ASSERT_TRUE(root);
    ChannelRecords out;
    appendChannelRecords(*root, out, nullptr);
    ASSERT_EQ(out.size(), 3u);
    EXPECT_TRUE(out[0].name.empty()) << "a comment gives an empty record";
    EXPECT_EQ(out[1].name.view(), "X");
    EXPECT_EQ(out[1].sid, 3) << "deeper nesting is ignored";
    EXPECT_EQ(out[2].sid, 0);
}

TEST(ChannelFileRecordRules, DecimalRuleSkipsBlanksAndClamps) {
    EXPECT_EQ(parseChannelFileInt(u"  \t42abc"), 42);
    EXPECT_EQ(parseChannelFileInt(u"+7"), 7);
    EXPECT_EQ(parseChannelFileInt(u"-"), 0);
    EXPECT_EQ(parseChannelFileInt(u""), 0);
    EXPECT_EQ(parseChannelFileInt(u"x1"), 0);
    EXPECT_EQ(parseChannelFileInt(u"2147483647"), 2147483647);
    EXPECT_EQ(parseChannelFileInt(u"2147483648"), 2147483647);
    EXPECT_EQ(parseChannelFileInt(u"-2147483648"), -2147483647 - 1);
    EXPECT_EQ(parseChannelFileInt(u"-99999999999999999999999"), -2147483647 - 1);
    EXPECT_EQ(parseChannelFileInt(u"00012"), 12);
}

// The writer and the reader share one field list: every field the file carries is in it once,
// and each one alone comes back as written; optional numbers are left out unless above 0.
TEST(ChannelFileFields, EachFieldOnceAndBackAsWritten) {
    int32_t value = 1000;
    for (const ChannelFileField& field : kChannelFileFields) {
        int same = 0;
        for (const ChannelFileField& other : kChannelFileFields)
            same += (field.text && other.text == field.text) ||
                    (field.number && other.number == field.number);
        EXPECT_EQ(same, 1) << field.element;

        ChannelInfo c;
        if (field.text)
            (c.*field.text).assign("<" + std::string(field.element) + "\xE9>");
        else
            c.*field.number = ++value;
        const ChannelRecords back = roundTrip({c});
        ASSERT_EQ(back.size(), 1u);
        expectSameStoredFields(back[0], c);
        if (field.number) {
            c.*field.number = -1;
            const std::string text = formatChannelFile({c});
            const bool written = text.find("<" + std::string(field.element) + ">") != text.npos;
            EXPECT_EQ(written, !field.optional) << field.element;
        }
    }
    EXPECT_EQ(std::size(kChannelFileFields), 15u);
}

namespace {

AudioStream track(int32_t pid, AudioCodec codec, const char* language, AudioKind kind) {
    AudioStream s{pid, codec, {}, kind};
    if (language)
        std::copy(language, language + 3, s.language.begin());
    return s;
}

} // namespace

// Audio streams travel as optional elements after the PID lines: a channel whose streams
// the PID fields carry writes the very bytes it always wrote, a file written before them
// loads unchanged, and a channel with E-AC-3 tracks gets every stream back in its order.
TEST(ChannelFileRoundTrip, AudioStreamsAreKeptOnlyWhenThePidFieldsMissSome) {
    ChannelInfo mpeg = sample("France 3", "R1");
    mpeg.videoPid = 0x200;
    mpeg.audio1Pid = 0x201;
    mpeg.audio2Pid = 0x202;
    const std::string pidFieldsOnly = formatChannelFile({mpeg});
    mpeg.audioStreams = {track(0x201, AudioCodec::Mpeg, "fre", AudioKind::Main),
                         track(0x202, AudioCodec::Mpeg, "qad", AudioKind::AudioDescription)};
    EXPECT_EQ(formatChannelFile({mpeg}), pidFieldsOnly);
    EXPECT_EQ(pidFieldsOnly.find("Piste"), std::string::npos);

    ChannelInfo hd = sample("\x05"
                            "France 2",
                            "R1");
    hd.videoMpeg4Pid = 0x120;
    hd.audioStreams = {
        track(0x131, AudioCodec::Eac3, "qad", AudioKind::AudioDescription),
        track(0x130, AudioCodec::Eac3, "fra", AudioKind::Main),
        track(0x132, AudioCodec::Eac3, "qaa", AudioKind::Main),
        track(0x133, AudioCodec::Mpeg, nullptr, AudioKind::CleanAudio),
        track(0x134, AudioCodec::Ac3, "d<&", AudioKind::SpokenSubtitles),
        track(0x135, AudioCodec::Eac3, " e\x01", AudioKind::Main),
    };
    hd.audio1Pid = 0x133;
    const std::string text = formatChannelFile({mpeg, hd});
    EXPECT_NE(text.find("\t\t<Video_mpeg4>288</Video_mpeg4>\r\n"
                        "\t\t<Son1>307</Son1>\r\n"
                        "\t\t<Piste>305 eac3 description qad</Piste>\r\n"
                        "\t\t<Piste>304 eac3 principale fra</Piste>\r\n"
                        "\t\t<Piste>306 eac3 principale qaa</Piste>\r\n"
                        "\t\t<Piste>307 mpeg malentendants</Piste>\r\n"
                        "\t\t<Piste>308 ac3 soustitres d&lt;&amp;</Piste>\r\n"
                        "\t\t<Piste>309 eac3 principale &#xE020;e&#xE001;</Piste>\r\n"
                        "\t</Chaine>\r\n"),
              std::string::npos);
    EXPECT_EQ(text.substr(0, pidFieldsOnly.size() - 12),
              pidFieldsOnly.substr(0, pidFieldsOnly.size() - 12));

    const ChannelRecords out = roundTrip({mpeg, hd});
    ASSERT_EQ(out.size(), 2u);
    EXPECT_TRUE(out[0].audioStreams.empty());
    expectSameStoredFields(out[1], hd);
    EXPECT_EQ(out[1].audioStreams, hd.audioStreams);
    EXPECT_EQ(formatChannelFile(out), formatChannelFile({mpeg, hd}));
}

TEST(ChannelFileRecordRules, AudioStreamTextsThisVersionDoesNotWriteAreSkipped) {
    const struct {
        const char16_t* text;
        bool read;
        AudioStream stream;
    } cases[] = {
        {u"100 eac3 principale fre", true, track(100, AudioCodec::Eac3, "fre", AudioKind::Main)},
        {u"8191 mpeg description", true,
         track(8191, AudioCodec::Mpeg, nullptr, AudioKind::AudioDescription)},
        {u"100 ac3 principale fr", true, track(100, AudioCodec::Ac3, nullptr, AudioKind::Main)},
        {u"100 eac3 principale \uE020\u00E9\uE000", true,
         track(100, AudioCodec::Eac3, " \xE9\x00", AudioKind::Main)},
        {u"8192 eac3 principale", false, {}},
        {u"0 eac3 principale", false, {}},
        {u"-5 eac3 principale", false, {}},
        {u"+5 eac3 principale", false, {}},
        {u"100 EAC3 principale", false, {}},
        {u"100 eac3", false, {}},
        {u"100  eac3 principale", false, {}},
        {u"", false, {}},
        {u"dts eac3 principale", false, {}},
    };
    for (const auto& c : cases) {
        const auto stream = parseAudioStream(c.text);
        EXPECT_EQ(stream.has_value(), c.read) << stream.has_value();
        if (stream && c.read)
            EXPECT_EQ(*stream, c.stream);
    }
    // Unknown elements and a bad stream leave the rest of the record as it was.
    auto root = parseXmlDocument("<Chaines><Chaine><Nom>A</Nom><Piste>9 dts principale</Piste>"
                                 "<Autre>1</Autre><Piste>7 eac3 principale fre</Piste>"
                                 "<Son1>5</Son1></Chaine></Chaines>");
    ASSERT_TRUE(root);
    const ChannelInfo c = channelFromNode(root->children[0], replaceWithQuestionMarks);
    EXPECT_EQ(c.audio1Pid, 5);
    ASSERT_EQ(c.audioStreams.size(), 1u);
    EXPECT_EQ(c.audioStreams[0].pid, 7);
}

namespace {

SubtitleStream subtitle(int32_t pid, const char* language, uint8_t type, uint16_t composition,
                        uint16_t ancillary) {
    SubtitleStream s{pid, {}, type, composition, ancillary};
    if (language)
        std::copy(language, language + 3, s.language.begin());
    return s;
}

} // namespace

// Subtitle streams follow the audio streams, one element each; a channel without any
// writes the bytes it wrote before they existed.
TEST(ChannelFileRoundTrip, SubtitleStreamsFollowTheAudioStreams) {
    ChannelInfo plain = sample("France 3", "R1");
    plain.videoPid = 0x200;
    plain.audio1Pid = 0x201;
    const std::string before = formatChannelFile({plain});
    EXPECT_EQ(before.find("SousTitre"), std::string::npos);

    ChannelInfo hd = sample("Arte HD", "R1");
    hd.videoMpeg4Pid = 0x120;
    hd.audioStreams = {track(0x130, AudioCodec::Eac3, "fra", AudioKind::Main),
                       track(0x131, AudioCodec::Eac3, "deu", AudioKind::Main)};
    hd.subtitleStreams = {subtitle(0x140, "fra", 0x10, 1, 1), subtitle(0x140, "deu", 0x10, 2, 2),
                          subtitle(0x141, "fra", 0x20, 65535, 0), subtitle(0x142, nullptr, 0, 0, 0),
                          subtitle(0x1FFF, "<\x01 ", 0xFF, 3, 4)};
    const std::string text = formatChannelFile({plain, hd});
    EXPECT_EQ(text.substr(0, before.size() - 12), before.substr(0, before.size() - 12));
    EXPECT_NE(text.find("\t\t<Piste>305 eac3 principale deu</Piste>\r\n"
                        "\t\t<SousTitre>320 16 1 1 fra</SousTitre>\r\n"
                        "\t\t<SousTitre>320 16 2 2 deu</SousTitre>\r\n"
                        "\t\t<SousTitre>321 32 65535 0 fra</SousTitre>\r\n"
                        "\t\t<SousTitre>322 0 0 0</SousTitre>\r\n"
                        "\t\t<SousTitre>8191 255 3 4 &lt;&#xE001;&#xE020;</SousTitre>\r\n"
                        "\t</Chaine>\r\n"),
              std::string::npos);

    // A channel with subtitles alone still writes them.
    ChannelInfo sd = sample("TF1", "R1");
    sd.videoMpeg4Pid = 0x100;
    sd.subtitleStreams = {subtitle(0x105, "fra", 0x20, 1, 1)};
    const ChannelRecords out = roundTrip({plain, hd, sd});
    ASSERT_EQ(out.size(), 3u);
    EXPECT_TRUE(out[0].subtitleStreams.empty());
    EXPECT_EQ(out[1].subtitleStreams, hd.subtitleStreams);
    EXPECT_EQ(out[1].audioStreams, hd.audioStreams);
    EXPECT_EQ(out[2].subtitleStreams, sd.subtitleStreams);
    EXPECT_EQ(formatChannelFile(out), formatChannelFile({plain, hd, sd}));
}

TEST(ChannelFileRecordRules, SubtitleStreamTextsThisVersionDoesNotWriteAreSkipped) {
    const struct {
        const char16_t* text;
        std::optional<SubtitleStream> stream;
    } cases[] = {
        {u"100 16 1 1 fre", subtitle(100, "fre", 0x10, 1, 1)},
        {u"8191 255 65535 65535", subtitle(8191, nullptr, 0xFF, 0xFFFF, 0xFFFF)},
        {u"100 32 2 3 fr", subtitle(100, nullptr, 0x20, 2, 3)},
        {u"100 32 2 3 \uE020\u00E9\uE000", subtitle(100, " \xE9\x00", 0x20, 2, 3)},
        {u"8192 16 1 1 fre", std::nullopt},
        {u"0 16 1 1 fre", std::nullopt},
        {u"100 256 1 1", std::nullopt},
        {u"100 16 65536 1", std::nullopt},
        {u"100 16 1 99999999999", std::nullopt},
        {u"+100 16 1 1", std::nullopt},
        {u"100 -16 1 1", std::nullopt},
        {u"100 0x10 1 1", std::nullopt},
        {u"100 16 1", std::nullopt},
        {u"100  16 1 1", std::nullopt},
        {u"", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(parseSubtitleStream(c.text), c.stream);

    auto root = parseXmlDocument("<Chaines><Chaine><Nom>A</Nom><SousTitre>9 x 1 1</SousTitre>"
                                 "<SousTitre/><SousTitre>7 16 1 1 fre</SousTitre>"
                                 "<Son1>5</Son1></Chaine></Chaines>");
    ASSERT_TRUE(root);
    const ChannelInfo c = channelFromNode(root->children[0], replaceWithQuestionMarks);
    EXPECT_EQ(c.audio1Pid, 5);
    EXPECT_EQ(c.subtitleStreams, (std::vector<SubtitleStream>{subtitle(7, "fre", 0x10, 1, 1)}));
}
