#include "dshow_test_filters.h"

#include "channels/win/channel_file_win.h"
#include "common/win/window_messages.h"
#include "graph/platform_guids.h"
#include "graph/section_filters.h"
#include "si/section_check.h"

#include <string>

namespace korvane::testing {
namespace {

using Bytes = std::vector<uint8_t>;

// Fills in section_length and appends the CRC.
Bytes finishSection(Bytes s) {
    std::size_t sectionLength = s.size() - 3 + 4;
    s[1] = static_cast<uint8_t>((s[1] & 0xF0) | ((sectionLength >> 8) & 0x0F));
    s[2] = static_cast<uint8_t>(sectionLength & 0xFF);
    uint32_t crc = crc32Mpeg2(s.data(), s.size());
    for (int shift = 24; shift >= 0; shift -= 8)
        s.push_back(static_cast<uint8_t>(crc >> shift));
    return s;
}

struct EitEvent {
    uint16_t mjd;
    uint8_t hour, minute, second; // BCD
    std::string title;
};

Bytes eitSection(uint8_t tableId, uint16_t serviceId, const std::vector<EitEvent>& events) {
    Bytes s = {tableId,
               0xF0,
               0,
               uint8_t(serviceId >> 8),
               uint8_t(serviceId),
               0xC1,
               0,
               1,
               0x00,
               0x01,
               0x20,
               0xFA,
               1,
               tableId};
    uint16_t eventId = 1;
    for (const EitEvent& e : events) {
        Bytes descriptor = {0x4D, 0, 'f', 'r', 'e', uint8_t(e.title.size())};
        descriptor.insert(descriptor.end(), e.title.begin(), e.title.end());
        descriptor.push_back(0); // no description
        descriptor[1] = static_cast<uint8_t>(descriptor.size() - 2);
        Bytes header = {uint8_t(eventId >> 8),
                        uint8_t(eventId),
                        uint8_t(e.mjd >> 8),
                        uint8_t(e.mjd),
                        e.hour,
                        e.minute,
                        e.second,
                        0x01,
                        0x00,
                        0x00,
                        uint8_t(0x80 | (descriptor.size() >> 8)),
                        uint8_t(descriptor.size())};
        s.insert(s.end(), header.begin(), header.end());
        s.insert(s.end(), descriptor.begin(), descriptor.end());
        ++eventId;
    }
    return finishSection(s);
}

struct PmtStream {
    uint8_t type;
    uint16_t pid;
    Bytes descriptors;
};

Bytes pmtSection(uint16_t program, uint16_t pcrPid, const std::vector<PmtStream>& streams,
                 uint8_t tableId = 0x02) {
    Bytes s = {tableId, 0xB0, 0, uint8_t(program >> 8),         uint8_t(program),
               0xC1,    0,    0, uint8_t(0xE0 | (pcrPid >> 8)), uint8_t(pcrPid),
               0xF0,    0x00};
    for (const PmtStream& st : streams) {
        Bytes entry = {st.type, uint8_t(0xE0 | (st.pid >> 8)), uint8_t(st.pid),
                       uint8_t(0xF0 | (st.descriptors.size() >> 8)),
                       uint8_t(st.descriptors.size())};
        s.insert(s.end(), entry.begin(), entry.end());
        s.insert(s.end(), st.descriptors.begin(), st.descriptors.end());
    }
    return finishSection(s);
}

// A NIT of the actual network with one transport stream and its logical channel numbers;
// the terrestrial delivery descriptor gives no frequency (all ones), as French networks do.
Bytes nitSection(uint8_t version, uint16_t networkId = 0x20FA) {
    Bytes s = {0x40,
               0xF0,
               0,
               uint8_t(networkId >> 8),
               uint8_t(networkId),
               uint8_t(0xC1 | (version << 1)),
               0,
               0,
               0xF0,
               0x00};
    const Bytes entry = {0x00, 0x04, 0x20, 0xFA, 0xF0, 19,
                         // terrestrial delivery: centre frequency 0xFFFFFFFF
                         0x5A, 11, 0xFF, 0xFF, 0xFF, 0xFF, 0x1F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                         // logical channel numbers: service 0x0101 is 3
                         0x83, 4, 0x01, 0x01, 0xFC, 0x03};
    s.push_back(uint8_t(0xF0 | (entry.size() >> 8)));
    s.push_back(uint8_t(entry.size()));
    s.insert(s.end(), entry.begin(), entry.end());
    return finishSection(s);
}

Bytes withFlippedBit(Bytes s, std::size_t byte) {
    s[byte] ^= 0x10;
    return s;
}

// Posts the decoders' messages to a message-only window of the test thread.
class PostingNotifier : public WindowNotifier {
  public:
    PostingNotifier()
        : window_(CreateWindowExW(0, L"STATIC", nullptr, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  nullptr, nullptr)) {}
    ~PostingNotifier() override { DestroyWindow(window_); }
    void postGuideUpdated() override { PostMessageW(window_, kGuideUpdatedMessage, 0, 0); }
    void postStreamsChanged() override { PostMessageW(window_, kStreamsChangedMessage, 0, 0); }
    void postChannelNumbersChanged() override {
        PostMessageW(window_, kChannelNumbersChangedMessage, 0, 0);
    }

    // Removes and counts the posted messages of one kind.
    int take(UINT message) {
        int n = 0;
        MSG msg;
        while (PeekMessageW(&msg, window_, message, message, PM_REMOVE)) {
            EXPECT_EQ(msg.wParam, 0u);
            EXPECT_EQ(msg.lParam, 0);
            ++n;
        }
        return n;
    }
    HWND window() const { return window_; }

  private:
    HWND window_;
};

// Writes the channel file to a path of the test's own and counts the writes.
class CountingSaver : public ChannelFileSaver {
  public:
    explicit CountingSaver(std::wstring path) : path_(std::move(path)) {}
    void saveChannels(const ChannelRecords& copy) override {
        ++saves;
        EXPECT_TRUE(saveChannelFileTo(path_, copy));
    }
    int saves = 0;

  private:
    std::wstring path_;
};

std::wstring tempFile(const wchar_t* stem) {
    wchar_t dir[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    return std::wstring(dir) + stem + std::to_wstring(GetCurrentProcessId()) + L".xml";
}

ChannelInfo channel(const char* name, int32_t sid, int32_t pmtPid) {
    ChannelInfo c;
    c.name.assign(name);
    c.sid = sid;
    c.pmtPid = pmtPid;
    c.frequency = 586000;
    return c;
}

CMediaType sectionType(const GUID& subtype = kMediaSubtypeDvbSi) {
    CMediaType type(kMediaTypeMpeg2Sections);
    type.SetSubtype(&subtype);
    return type;
}

class SectionFilterTest : public ComTest {
  protected:
    // Plays the sections through the filter in a running graph, up to the end of stream.
    void play(IBaseFilter* filter, const std::vector<Bytes>& sections) {
        auto graph = makeGraph();
        auto* source = new TestSource(sectionType());
        ComPtr<IBaseFilter> sourceFilter(source);
        ASSERT_EQ(graph->AddFilter(sourceFilter.get(), L"Demux"), S_OK);
        ASSERT_EQ(graph->AddFilter(filter, L"Filtre"), S_OK);
        ASSERT_EQ(connect(graph.get(), sourceFilter.get(), filter), S_OK);
        for (const Bytes& s : sections)
            source->stream().queue({s, std::nullopt});
        auto control = graph.as<IMediaControl>(IID_IMediaControl);
        ASSERT_TRUE(SUCCEEDED(control->Run()));
        long code = 0;
        EXPECT_EQ(graph.as<IMediaEvent>(IID_IMediaEvent)->WaitForCompletion(10000, &code), S_OK);
        control->Stop();
        ASSERT_EQ(source->stream().delivered(), static_cast<int>(sections.size()));
    }

    ChannelList channels;
    PostingNotifier notifier;
    FixedOffsetTimeConverter clock{0};
};

TEST_F(SectionFilterTest, BothFiltersAcceptEverySectionSubtypeAndNothingElse) {
    CountingSaver saver(tempFile(L"accept"));
    ComPtr<IBaseFilter> epg(new CEPGFilter(kClsidEpgFilter, nullptr, channels, notifier, clock));
    ComPtr<IBaseFilter> pmt(new CPMTFilter(kClsidPmtFilter, nullptr, channels, notifier, saver));
    for (IBaseFilter* filter : {epg.get(), pmt.get()}) {
        ComPtr<IPin> in = firstPin(filter, PINDIR_INPUT);
        ASSERT_TRUE(in);
        for (const GUID* subtype : {&kMediaSubtypeDvbSi, &kMediaSubtypeMpeg2Data, &GUID_NULL}) {
            CMediaType type = sectionType(*subtype);
            EXPECT_EQ(in->QueryAccept(&type), S_OK);
        }
        for (const GUID* major : {&MEDIATYPE_Stream, &MEDIATYPE_Video, &kMediaTypeBdaAntenna}) {
            CMediaType type(*major);
            type.SetSubtype(&kMediaSubtypeDvbSi);
            EXPECT_EQ(in->QueryAccept(&type), S_FALSE);
        }
    }
    CLSID clsid{};
    epg->GetClassID(&clsid);
    EXPECT_EQ(clsid, kClsidEpgFilter);
    pmt->GetClassID(&clsid);
    EXPECT_EQ(clsid, kClsidPmtFilter);
}

TEST_F(SectionFilterTest, EpgFilterStoresPresentFollowingAndDropsTheRest) {
    channels.append(channel("Watched", 0x101, 0x100));
    channels.append(channel("Other", 0x102, 0x200));
    channels.setCurrentIndex(0);
    // 2026-12-07 is MJD 61381 (0xEFC5).
    Bytes present = eitSection(0x4E, 0x101, {{0xEFC5, 0x20, 0x30, 0x00, "Journal"}});
    Bytes following = eitSection(0x4E, 0x101, {{0xEFC5, 0x21, 0x00, 0x00, "Film"}});
    Bytes otherTs = eitSection(0x4F, 0x102, {{0xEFC5, 0x20, 0x00, 0x00, "Ailleurs"}});
    Bytes schedule = eitSection(0x50, 0x102, {{0xEFC5, 0x22, 0x00, 0x00, "Programme"}});
    Bytes corrupt = withFlippedBit(eitSection(0x4E, 0x102, {{0xEFC5, 0x23, 0, 0, "Casse"}}), 20);
    Bytes trailing = eitSection(0x4F, 0x102, {{0xEFC5, 0x23, 0, 0, "Queue"}});
    trailing.push_back(0xFF);
    Bytes tiny = {0x4E, 0x00, 0x00};

    ComPtr<IBaseFilter> epg(new CEPGFilter(kClsidEpgFilter, nullptr, channels, notifier, clock));
    play(epg.get(), {present, schedule, corrupt, tiny, trailing, Bytes{}, otherTs, following});

    auto watched = channels.copyAt(0);
    auto other = channels.copyAt(1);
    EXPECT_STREQ(watched->present.title.c_str(), "Journal");
    EXPECT_STREQ(watched->present.startText.c_str(), "20:30:00");
    EXPECT_STREQ(watched->following.title.c_str(), "Film");
    // Only the 0x4F section reached the other channel: schedule, corrupt and over-long
    // samples were dropped.
    EXPECT_STREQ(other->present.title.c_str(), "Ailleurs");
    EXPECT_TRUE(other->following.empty());
    // One guide message per new event of the channel being watched, none for the other.
    EXPECT_EQ(notifier.take(kGuideUpdatedMessage), 2);
    EXPECT_EQ(notifier.take(kStreamsChangedMessage), 0);
}

// The NIT travels with the guide: its first version is noted, a new one is told to the
// window once, and neither touches the guide nor the channels.
TEST_F(SectionFilterTest, EpgFilterTellsOnceOfANewNitVersion) {
    channels.append(channel("Watched", 0x101, 0x100));
    channels.setCurrentIndex(0);
    const struct {
        const char* what;
        std::vector<Bytes> sections;
        int told;
    } cases[] = {
        {"same version", {nitSection(4), nitSection(4), nitSection(4)}, 0},
        {"new version", {nitSection(4), nitSection(4), nitSection(5), nitSection(5)}, 1},
        {"then another", {nitSection(4), nitSection(5), nitSection(6)}, 1},
        {"broken new version", {nitSection(4), withFlippedBit(nitSection(5), 12)}, 0},
        {"another network", {nitSection(4), nitSection(5, 0x20FB)}, 0},
    };
    for (const auto& c : cases) {
        ComPtr<IBaseFilter> epg(
            new CEPGFilter(kClsidEpgFilter, nullptr, channels, notifier, clock));
        play(epg.get(), c.sections);
        EXPECT_EQ(notifier.take(kChannelNumbersChangedMessage), c.told) << c.what;
        EXPECT_EQ(notifier.take(kGuideUpdatedMessage), 0) << c.what;
    }
    const auto watched = channels.copyAt(0);
    EXPECT_EQ(watched->number, 0);
    EXPECT_TRUE(watched->present.empty());
}

TEST_F(SectionFilterTest, PmtChangeStoresPidsRewritesTheFileAndPostsOnce) {
    channels.append(channel("Une", 0x101, 0x100));
    channels.append(channel("Deux", 0x102, 0x200));
    channels.setCurrentIndex(1);
    std::wstring path = tempFile(L"pmt");
    DeleteFileW(path.c_str());
    CountingSaver saver(path);
    Bytes pmt = pmtSection(
        0x102, 0x120, {{0x02, 0x120, {}}, {0x03, 0x130, {}}, {0x06, 0x140, {0x6A, 0x01, 0x00}}});
    Bytes pat = finishSection({0x00, 0xB0, 0, 0x00, 0x01, 0xC1, 0, 0, 0x01, 0x02, 0xE2, 0x00});
    Bytes otherPids = pmtSection(0x102, 0x121, {{0x02, 0x121, {}}});

    ComPtr<IBaseFilter> filter(new CPMTFilter(kClsidPmtFilter, nullptr, channels, notifier, saver));
    play(filter.get(), {pat, pmt, pmt, withFlippedBit(otherPids, 13), Bytes{0x02, 0xB0}});

    auto current = channels.copyAt(1);
    EXPECT_EQ(current->pcrPid, 0x120);
    EXPECT_EQ(current->videoPid, 0x120);
    EXPECT_EQ(current->audio1Pid, 0x130);
    EXPECT_EQ(current->ac3Pid, 0x140);
    EXPECT_EQ(channels.copyAt(0)->videoPid, 0) << "only the watched channel changes";
    // The repeated PMT changed nothing: one write, one message.
    EXPECT_EQ(saver.saves, 1);
    EXPECT_EQ(notifier.take(kStreamsChangedMessage), 1);
    EXPECT_EQ(notifier.take(kGuideUpdatedMessage), 0);

    ChannelList reread;
    ASSERT_EQ(loadChannelFileFrom(path, reread), 0);
    ASSERT_EQ(reread.size(), 2u);
    EXPECT_EQ(reread.copyAt(1)->videoPid, 0x120);
    EXPECT_EQ(reread.copyAt(1)->ac3Pid, 0x140);
    DeleteFileW(path.c_str());
}

TEST_F(SectionFilterTest, FiltersAreDestroyedWithTheirGraphManyTimes) {
    CountingSaver saver(tempFile(L"cycles"));
    channels.append(channel("Une", 0x101, 0x100));
    channels.setCurrentIndex(0);
    long before = liveObjectCount();
    for (int cycle = 0; cycle < 100; ++cycle) {
        ComPtr<IBaseFilter> epg(
            new CEPGFilter(kClsidEpgFilter, nullptr, channels, notifier, clock));
        ComPtr<IBaseFilter> pmt(
            new CPMTFilter(kClsidPmtFilter, nullptr, channels, notifier, saver));
        play(epg.get(), {eitSection(0x4E, 0x101, {{0xEFC5, 0x20, 0, 0, "Boucle"}})});
        play(pmt.get(), {pmtSection(0x101, 0x120, {{0x02, 0x120, {}}})});
        if (HasFatalFailure())
            return;
    }
    EXPECT_EQ(liveObjectCount(), before);
}

} // namespace
} // namespace korvane::testing
