// The testbed in the platform's filter graph: virtual tuner -> Sample Grabber -> demultiplexer
// stand-in, with section, elementary-stream and section-reader outputs, playing the
// multiplexes muxgen made for the tests.
#include "si/nit.h"
#include "si/scan.h"
#include "si/win/scan_win.h"
#include "testbed_graph_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

namespace korvane::testing {
namespace {

using namespace korvane::testbed;

uint32_t crc32(const uint8_t* data, size_t size) {
    uint32_t crc = 0xFFFFFFFF;
    for (size_t i = 0; i < size; ++i) {
        crc ^= uint32_t(data[i]) << 24;
        for (int b = 0; b < 8; ++b)
            crc = (crc & 0x80000000) ? (crc << 1) ^ 0x04C11DB7 : crc << 1;
    }
    return crc;
}

AM_MEDIA_TYPE sectionMediaType(const GUID& subtype) {
    AM_MEDIA_TYPE mt{};
    mt.majortype = kMediaTypeMpeg2Sections;
    mt.subtype = subtype;
    mt.bFixedSizeSamples = TRUE;
    mt.formattype = FORMAT_None;
    return mt;
}

class TestbedGraph : public TestbedGraphTest {
  protected:
    // A demultiplexer output connected to a recording sink; returns its PID map.
    ComPtr<IMPEG2PIDMap> output(const wchar_t* name, AM_MEDIA_TYPE type, TestSink*& sink) {
        ComPtr<IPin> pin;
        EXPECT_EQ(demuxControl_->CreateOutputPin(&type, const_cast<LPWSTR>(name), pin.put()), S_OK);
        if (!pin)
            return {};
        auto* created = new TestSink(type.majortype);
        ComPtr<IBaseFilter> filter(created);
        sinks_.push_back(filter);
        EXPECT_EQ(graph_->AddFilter(filter.get(), name), S_OK);
        EXPECT_EQ(
            graph_->ConnectDirect(pin.get(), firstPin(filter.get(), PINDIR_INPUT).get(), nullptr),
            S_OK);
        sink = created;
        return pin.as<IMPEG2PIDMap>();
    }

    // A section reader on a demultiplexer output, as the program sets it up.
    ComPtr<IMpeg2Data> sectionReader() {
        AM_MEDIA_TYPE type = sectionMediaType(kMediaSubtypeMpeg2Data);
        ComPtr<IPin> pin;
        EXPECT_EQ(demuxControl_->CreateOutputPin(&type, const_cast<LPWSTR>(L"data"), pin.put()),
                  S_OK);
        ComPtr<IBaseFilter> reader = create(kClsidMpeg2Data, L"MPEG2 data");
        if (!reader || !pin)
            return {};
        EXPECT_EQ(
            graph_->ConnectDirect(pin.get(), firstPin(reader.get(), PINDIR_INPUT).get(), nullptr),
            S_OK);
        ComPtr<IMpeg2Data> data;
        reader->QueryInterface(kIidMpeg2Data, data.putVoid());
        return data;
    }

    // The first section of a table, or empty; `elapsed` tells how long the reader took.
    std::vector<uint8_t> section(IMpeg2Data* data, PID pid, TID tid, DWORD timeout,
                                 DWORD* elapsed = nullptr) {
        ISectionList* list = nullptr;
        DWORD start = GetTickCount();
        HRESULT hr = data->GetSection(pid, tid, nullptr, timeout, &list);
        if (elapsed)
            *elapsed = GetTickCount() - start;
        if (FAILED(hr) || !list)
            return {};
        DWORD length = 0;
        PSECTION raw = nullptr;
        std::vector<uint8_t> out;
        if (SUCCEEDED(list->GetSectionData(0, &length, &raw)) && raw)
            out.assign(reinterpret_cast<uint8_t*>(raw), reinterpret_cast<uint8_t*>(raw) + length);
        list->Release();
        return out;
    }
};

TEST_F(TestbedGraph, DeliversWholeSectionsAndPesPayloads) {
    TestSink* pmt = nullptr;
    TestSink* sound = nullptr;
    auto pmtMap = output(L"pmt", sectionMediaType(kMediaSubtypeDvbSi), pmt);
    AM_MEDIA_TYPE audio{};
    audio.majortype = MEDIATYPE_Audio;
    audio.subtype = MEDIASUBTYPE_MPEG2_AUDIO;
    auto soundMap = output(L"son", audio, sound);
    ASSERT_TRUE(pmtMap && soundMap);
    ULONG pmtPid = 0x100;
    ULONG audioPid = 0x130;
    ASSERT_EQ(pmtMap->MapPID(1, &pmtPid, MEDIA_MPEG2_PSI), S_OK);
    ASSERT_EQ(soundMap->MapPID(1, &audioPid, MEDIA_ELEMENTARY_STREAM), S_OK);
    tune(474167);
    run();
    EXPECT_TRUE(waitFor([&] { return pmt->count() >= 5 && sound->count() >= 20; }));

    // The map answers what it carries, and unmapping while running stops the flow at once.
    ComPtr<IEnumPIDMap> entries;
    ASSERT_EQ(pmtMap->EnumPIDMap(entries.put()), S_OK);
    PID_MAP entry[8];
    ULONG got = 0;
    entries->Next(8, entry, &got);
    ASSERT_EQ(got, 1u);
    EXPECT_EQ(entry[0].ulPID, 0x100u);
    EXPECT_EQ(entry[0].MediaSampleContent, MEDIA_MPEG2_PSI);
    ASSERT_EQ(pmtMap->UnmapPID(1, &pmtPid), S_OK);
    EXPECT_EQ(pmtMap->UnmapPID(1, &pmtPid), E_INVALIDARG) << "not mapped any more";
    Sleep(50); // a section already handed over may still be rendered
    size_t before = pmt->count();
    size_t sounds = sound->count();
    EXPECT_TRUE(waitFor([&] { return sound->count() >= sounds + 20; }));
    EXPECT_EQ(pmt->count(), before);
    stop();

    for (const auto& s : pmt->rendered()) {
        ASSERT_GE(s.bytes.size(), 16u);
        EXPECT_EQ(s.bytes[0], 0x02);
        EXPECT_EQ(size_t(((s.bytes[1] & 0x0F) << 8) | s.bytes[2]) + 3, s.bytes.size())
            << "one whole section per sample";
        EXPECT_EQ(crc32(s.bytes.data(), s.bytes.size()), 0u);
        EXPECT_EQ((s.bytes[3] << 8) | s.bytes[4], 0x0101);
    }
    // Each PES carries one 384-byte MPEG-1 Layer II frame; the PES header is gone.
    auto rendered = sound->rendered();
    for (const auto& s : rendered) {
        ASSERT_EQ(s.bytes.size(), 384u);
        EXPECT_EQ(s.bytes[0], 0xFF);
        EXPECT_EQ(s.bytes[1] & 0xF0, 0xF0);
    }
    // Time-stamped samples are rendered in time order by the clock-driven sink.
    for (size_t i = 1; i < rendered.size(); ++i)
        EXPECT_GE(rendered[i].streamTime, rendered[i - 1].streamTime);
}

// The tuner delivers as soon as the graph pauses, before it runs: those samples are stamped
// for the start of the run, not for a time counted from the performance counter's origin
// (a clocked sound renderer would wait for it until the graph stops). The first sample of
// an output after a PID is mapped starts a new stream.
TEST_F(TestbedGraph, SamplesDeliveredBeforeTheRunAreStampedForItsStart) {
    TestSink* sound = nullptr;
    AM_MEDIA_TYPE audio{};
    audio.majortype = MEDIATYPE_Audio;
    audio.subtype = MEDIASUBTYPE_MPEG2_AUDIO;
    auto soundMap = output(L"son", audio, sound);
    ASSERT_TRUE(soundMap);
    ULONG audioPid = 0x130;
    ASSERT_EQ(soundMap->MapPID(1, &audioPid, MEDIA_ELEMENTARY_STREAM), S_OK);
    tune(474167);
    auto control = graph_.as<IMediaControl>();
    ASSERT_TRUE(SUCCEEDED(control->Pause()));
    Sleep(300);
    run();
    ASSERT_TRUE(waitFor([&] { return sound->count() >= 3; }));
    ASSERT_EQ(soundMap->UnmapPID(1, &audioPid), S_OK);
    ASSERT_EQ(soundMap->MapPID(1, &audioPid, MEDIA_ELEMENTARY_STREAM), S_OK);
    size_t beforeRemap = sound->count();
    ASSERT_TRUE(waitFor([&] { return sound->count() >= beforeRemap + 3; }));
    stop();

    auto rendered = sound->rendered();
    ASSERT_GE(rendered[0].start, 0);
    EXPECT_LT(rendered[0].start, 20'000'000) << "within two seconds of the start of the run";
    EXPECT_TRUE(rendered[0].discontinuity);
    EXPECT_FALSE(rendered[1].discontinuity);
    auto remapped = std::find_if(rendered.begin() + 1, rendered.end(),
                                 [](const auto& r) { return r.discontinuity; });
    EXPECT_NE(remapped, rendered.end()) << "a new stream after the PID was mapped again";
}

TEST_F(TestbedGraph, SectionReaderFindsTablesWithinTheirRepetitionTime) {
    ComPtr<IMpeg2Data> data = sectionReader();
    ASSERT_TRUE(data);
    tune(474167);
    run();
    // Repetition in wall time is the broadcast period divided by the speed (8), plus slack.
    DWORD took = 0;
    std::vector<uint8_t> sdt = section(data.get(), 0x11, 0x42, 5000, &took);
    ASSERT_FALSE(sdt.empty());
    EXPECT_LT(took, 2000u / 8 + 1000);
    EXPECT_EQ((sdt[3] << 8) | sdt[4], 1) << "transport_stream_id";
    EXPECT_EQ((sdt[8] << 8) | sdt[9], 0x20FA) << "original_network_id";

    std::vector<uint8_t> pat = section(data.get(), 0x00, 0x00, 5000, &took);
    ASSERT_GE(pat.size(), 12u + 4 * 4);
    EXPECT_LT(took, 100u + 1000);
    EXPECT_EQ((pat[12] << 8) | pat[13], 0x0101);
    EXPECT_EQ(((pat[14] & 0x1F) << 8) | pat[15], 0x0100);

    std::vector<uint8_t> pmt = section(data.get(), 0x100, 0x02, 5000, &took);
    ASSERT_FALSE(pmt.empty());
    EXPECT_LT(took, 100u + 1000);
    EXPECT_EQ(((pmt[8] & 0x1F) << 8) | pmt[9], 0x120) << "PCR PID";

    std::vector<uint8_t> nit = section(data.get(), 0x10, 0x40, 5000, &took);
    ASSERT_FALSE(nit.empty());
    EXPECT_LT(took, 10000u / 8 + 1000);
    EXPECT_EQ((nit[3] << 8) | nit[4], 0x20FA);

    // No table 0x02 comes on PID 0: the request fails after its time-out.
    EXPECT_TRUE(section(data.get(), 0x00, 0x02, 300, &took).empty());
    EXPECT_GE(took, 280u);
}

TEST_F(TestbedGraph, EmptyFrequencyHasNoSignalAndTheReaderTimesOut) {
    ComPtr<IMpeg2Data> data = sectionReader();
    ASSERT_TRUE(data);
    tune(999999);
    run();
    DWORD took = 0;
    EXPECT_TRUE(section(data.get(), 0x11, 0x42, 500, &took).empty());
    EXPECT_GE(took, 480u);
    EXPECT_LT(took, 2000u);
    auto stats = tuner_.as<IBDA_SignalStatistics>();
    ASSERT_TRUE(stats);
    BOOLEAN locked = TRUE;
    BOOLEAN present = TRUE;
    LONG quality = -1;
    stats->get_SignalLocked(&locked);
    stats->get_SignalPresent(&present);
    stats->get_SignalQuality(&quality);
    EXPECT_FALSE(locked);
    EXPECT_FALSE(present);
    EXPECT_EQ(quality, 0);

    tune(474167);
    stats->get_SignalLocked(&locked);
    EXPECT_TRUE(locked);
    EXPECT_FALSE(section(data.get(), 0x11, 0x42, 3000).empty());
}

TEST_F(TestbedGraph, RetuningSwitchesFiles) {
    ComPtr<IMpeg2Data> data = sectionReader();
    ASSERT_TRUE(data);
    tune(474167);
    run();
    std::vector<uint8_t> first = section(data.get(), 0x11, 0x42, 3000);
    ASSERT_FALSE(first.empty());
    EXPECT_EQ((first[3] << 8) | first[4], 1);
    tune(522167);
    // A section already on its way from the old multiplex may still come first.
    int tsid = 0;
    for (int i = 0; i < 5 && tsid != 2; ++i) {
        std::vector<uint8_t> s = section(data.get(), 0x11, 0x42, 3000);
        ASSERT_FALSE(s.empty());
        tsid = (s[3] << 8) | s[4];
    }
    EXPECT_EQ(tsid, 2);
    ULONG frequency = 0;
    tuner_.as<IBDA_FrequencyFilter>()->get_Frequency(&frequency);
    EXPECT_EQ(frequency, 522167u);
}

TEST_F(TestbedGraph, PmtChangeIsSeenOnThePmtOutput) {
    TestSink* pmt = nullptr;
    auto map = output(L"pmt", sectionMediaType(kMediaSubtypeDvbSi), pmt);
    ASSERT_TRUE(map);
    ULONG pid = 0x100;
    map->MapPID(1, &pid, MEDIA_MPEG2_PSI);
    tune(490167);
    run();
    auto sawVersion = [&](int version) {
        for (const auto& s : pmt->rendered()) {
            if (s.bytes.size() > 5 && ((s.bytes[5] >> 1) & 0x1F) == version)
                return true;
        }
        return false;
    };
    EXPECT_TRUE(waitFor([&] { return sawVersion(0) && sawVersion(1); }));
    stop();
    // Version 1 moves the video to 0x121 and adds AC-3.
    for (const auto& s : pmt->rendered()) {
        if (((s.bytes[5] >> 1) & 0x1F) != 1)
            continue;
        size_t infoLength = ((s.bytes[10] & 0x0F) << 8) | s.bytes[11];
        size_t p = 12 + infoLength;
        EXPECT_EQ(s.bytes[p], 0x02);
        EXPECT_EQ(((s.bytes[p + 1] & 0x1F) << 8) | s.bytes[p + 2], 0x121);
        break;
    }
}

TEST_F(TestbedGraph, SurvivesContinuityErrorsAndSyncLoss) {
    TestSink* sdt = nullptr;
    auto map = output(L"sdt", sectionMediaType(kMediaSubtypeDvbSi), sdt);
    ULONG pid = 0x11;
    map->MapPID(1, &pid, MEDIA_MPEG2_PSI);
    TestSink* video = nullptr;
    AM_MEDIA_TYPE mt{};
    mt.majortype = MEDIATYPE_Video;
    mt.subtype = MEDIASUBTYPE_MPEG2_VIDEO;
    auto videoMap = output(L"video", mt, video);
    ULONG videoPid = 0x120;
    videoMap->MapPID(1, &videoPid, MEDIA_ELEMENTARY_STREAM);
    // Without a clock the sinks take pictures as fast as the speeded-up file comes.
    ASSERT_EQ(graph_.as<IMediaFilter>()->SetSyncSource(nullptr), S_OK);
    tune(506167);
    run();
    // Three-second file at speed 8: several loops past the faults.
    EXPECT_TRUE(waitFor([&] { return sdt->count() >= 8 && video->count() >= 150; }));
    stop();
    int badCrc = 0;
    for (const auto& s : sdt->rendered())
        badCrc += crc32(s.bytes.data(), s.bytes.size()) != 0;
    EXPECT_GE(badCrc, 1) << "the demultiplexer passes sections on; checking is the reader's job";
    EXPECT_LT(badCrc, int(sdt->count()));
    for (const auto& v : video->rendered()) {
        ASSERT_GE(v.bytes.size(), 4u);
        EXPECT_EQ(v.bytes[0] | v.bytes[1], 0);
        EXPECT_EQ(v.bytes[2], 1) << "every picture starts with a start code";
    }
}

TEST_F(TestbedGraph, RunningAndStoppingManyTimesLeaksNothing) {
    ComPtr<IMpeg2Data> data = sectionReader();
    ASSERT_TRUE(data);
    for (int i = 0; i < 15; ++i) {
        tune(i % 2 ? 474167 : 999999);
        run();
        if (i % 4 == 1) {
            EXPECT_FALSE(section(data.get(), 0x00, 0x00, 2000).empty()) << "run " << i;
        }
        Sleep(20);
        stop();
    }
    data = nullptr;
}

TEST_F(TestbedGraph, SectionReaderHonoursTheExtensionFilter) {
    ComPtr<IMpeg2Data> data = sectionReader();
    ASSERT_TRUE(data);
    tune(474167);
    run();
    for (WORD sid : {0x0102, 0x0103}) {
        MPEG2_FILTER filter{};
        filter.bVersionNumber = 1;
        filter.wFilterSize = sizeof(filter);
        filter.fSpecifyTableIdExtension = TRUE;
        filter.TableIdExtension = sid;
        ISectionList* list = nullptr;
        ASSERT_EQ(data->GetSection(0x12, 0x4E, &filter, 3000, &list), S_OK);
        DWORD length = 0;
        PSECTION section = nullptr;
        ASSERT_EQ(list->GetSectionData(0, &length, &section), S_OK);
        const auto* bytes = reinterpret_cast<const uint8_t*>(section);
        EXPECT_EQ((bytes[3] << 8) | bytes[4], sid);
        WORD count = 0;
        list->GetNumberOfSections(&count);
        EXPECT_EQ(count, 1);
        PID pid = 0;
        list->GetProgramIdentifier(&pid);
        EXPECT_EQ(pid, 0x12);
        EXPECT_EQ(list->GetSectionData(1, &length, &section), E_INVALIDARG);
        list->Release();
    }
}

// Two programs' tables on one PID asked at the same time, each by its table id extension,
// as the scan asks programs that share a PMT PID: each gets its own, and the PID is unmapped
// once both have returned, whichever mapped it.
TEST_F(TestbedGraph, SectionReaderServesConcurrentRequestsOnOnePid) {
    ComPtr<IMpeg2Data> data = sectionReader();
    ASSERT_TRUE(data);
    ComPtr<IMPEG2PIDMap> dataMap;
    {
        ComPtr<IPin> pin;
        ASSERT_EQ(demux_->FindPin(const_cast<LPWSTR>(L"data"), pin.put()), S_OK);
        dataMap = pin.as<IMPEG2PIDMap>();
    }
    ASSERT_TRUE(dataMap);
    tune(474167);
    run();
    const WORD programs[] = {0x0102, 0x0103, 0x0102};
    int answered[3] = {-1, -1, -1};
    std::vector<std::thread> readers;
    for (int i = 0; i < 3; ++i)
        readers.emplace_back([&, i] {
            CoInitializeEx(nullptr, COINIT_MULTITHREADED);
            MPEG2_FILTER filter{};
            filter.bVersionNumber = 1;
            filter.wFilterSize = sizeof(filter);
            filter.fSpecifyTableIdExtension = TRUE;
            filter.TableIdExtension = programs[i];
            ISectionList* list = nullptr;
            if (data->GetSection(0x12, 0x4E, &filter, 3000, &list) == S_OK) {
                DWORD length = 0;
                PSECTION section = nullptr;
                if (list->GetSectionData(0, &length, &section) == S_OK) {
                    const auto* bytes = reinterpret_cast<const uint8_t*>(section);
                    answered[i] = (bytes[3] << 8) | bytes[4];
                }
                list->Release();
            }
            CoUninitialize();
        });
    for (std::thread& reader : readers)
        reader.join();
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(answered[i], programs[i]) << i;
    ComPtr<IEnumPIDMap> entries;
    ASSERT_EQ(dataMap->EnumPIDMap(entries.put()), S_OK);
    PID_MAP entry[8];
    ULONG got = 0;
    entries->Next(8, entry, &got);
    EXPECT_EQ(got, 0u) << "nothing left mapped on the reader's output";
}

TEST_F(TestbedGraph, OutputPinsAreManagedByName) {
    AM_MEDIA_TYPE type = sectionMediaType(kMediaSubtypeDvbSi);
    ComPtr<IPin> a;
    ComPtr<IPin> twice;
    ASSERT_EQ(demuxControl_->CreateOutputPin(&type, const_cast<LPWSTR>(L"epg"), a.put()), S_OK);
    EXPECT_FALSE(
        SUCCEEDED(demuxControl_->CreateOutputPin(&type, const_cast<LPWSTR>(L"epg"), twice.put())));
    PIN_INFO info{};
    ASSERT_EQ(a->QueryPinInfo(&info), S_OK);
    EXPECT_STREQ(info.achName, L"epg");
    EXPECT_EQ(info.dir, PINDIR_OUTPUT);
    info.pFilter->Release();
    // The output offers exactly the type it was created with.
    ComPtr<IEnumMediaTypes> types;
    a->EnumMediaTypes(types.put());
    AM_MEDIA_TYPE* mt = nullptr;
    ASSERT_EQ(types->Next(1, &mt, nullptr), S_OK);
    EXPECT_EQ(mt->majortype, kMediaTypeMpeg2Sections);
    EXPECT_EQ(mt->subtype, kMediaSubtypeDvbSi);
    DeleteMediaType(mt);
    EXPECT_NE(types->Next(1, &mt, nullptr), S_OK);
    a = nullptr;
    types = nullptr;

    run();
    EXPECT_EQ(demuxControl_->DeleteOutputPin(const_cast<LPWSTR>(L"epg")), VFW_E_NOT_STOPPED);
    stop();
    EXPECT_EQ(demuxControl_->DeleteOutputPin(const_cast<LPWSTR>(L"epg")), S_OK);
    EXPECT_EQ(demuxControl_->DeleteOutputPin(const_cast<LPWSTR>(L"epg")), E_INVALIDARG);
    ComPtr<IPin> gone;
    EXPECT_NE(demux_->FindPin(L"epg", gone.put()), S_OK);
}

TEST_F(TestbedGraph, FolderCanComeFromTheRegistry) {
    SetEnvironmentVariableW(L"KORVANE_TESTBED_DIR", nullptr);
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Korvane\\Testbed", 0, nullptr, 0,
                              KEY_WRITE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    std::wstring folder = windowsPath(KORVANE_BINARY_DIR "/testbed-data");
    RegSetValueExW(key, L"Dossier", 0, REG_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                   DWORD((folder.size() + 1) * sizeof(wchar_t)));
    tune(522167);
    BOOLEAN locked = FALSE;
    tuner_.as<IBDA_SignalStatistics>()->get_SignalLocked(&locked);
    RegDeleteValueW(key, L"Dossier");
    RegCloseKey(key);
    EXPECT_TRUE(locked);
}

// The program's scan, through its own reader adapter, over the virtual tuner.
class BdaScanTuner : public ScanTuner {
  public:
    explicit BdaScanTuner(IBaseFilter* tuner)
        : control_(ComPtr<IBaseFilter>(tuner).as<IBDA_DeviceControl>()),
          frequency_(ComPtr<IBaseFilter>(tuner).as<IBDA_FrequencyFilter>()) {}
    int tuneFrequency(int32_t khz) override {
        control_->StartChanges();
        frequency_->put_Bandwidth(8);
        frequency_->put_Frequency(ULONG(khz));
        control_->CheckChanges();
        return SUCCEEDED(control_->CommitChanges()) ? 0 : 1;
    }

  private:
    ComPtr<IBDA_DeviceControl> control_;
    ComPtr<IBDA_FrequencyFilter> frequency_;
};

TEST_F(TestbedGraph, ProgramScanFindsTheGeneratedServices) {
    ComPtr<IMpeg2Data> data = sectionReader();
    ASSERT_TRUE(data);
    run();
    Mpeg2DataSectionReader<IMpeg2Data, ISectionList> reader(data.get());
    BdaScanTuner tuner(tuner_.get());
    ChannelList list;
    ScanState state;
    EXPECT_EQ(scanFrequency(list, state, reader, tuner, 474167), 0);
    EXPECT_EQ(scanFrequency(list, state, reader, tuner, 522167), 0);
    stop();
    ASSERT_EQ(list.size(), 5u);
    ASSERT_FALSE(state.pendingNit.empty());
    applyLogicalChannelNumbers(list, state.pendingNit);
    // The radio and data services leave for lack of video; the rest sorts by number.
    auto access = list.lock();
    ASSERT_EQ(access.size(), 3u);
    const ChannelInfo& une = access.at(0);
    EXPECT_EQ(une.name.view(), "\x05T\xE9l\xE9 Une");
    EXPECT_EQ(une.number, 1);
    EXPECT_EQ(une.frequency, 474167);
    EXPECT_EQ(une.tsid, 1);
    EXPECT_EQ(une.sid, 0x0101);
    EXPECT_EQ(une.pmtPid, 0x100);
    EXPECT_EQ(une.pcrPid, 0x120);
    EXPECT_EQ(une.videoPid, 0x120);
    EXPECT_EQ(une.audio1Pid, 0x130);
    EXPECT_EQ(une.audio2Pid, 0x131);
    EXPECT_EQ(une.ac3Pid, 0x133);
    const ChannelInfo& deux = access.at(1);
    EXPECT_EQ(deux.name.view(), "Canal Deux HD");
    EXPECT_EQ(deux.number, 2);
    EXPECT_EQ(deux.videoPid, 0);
    EXPECT_EQ(deux.videoMpeg4Pid, 0x220);
    EXPECT_EQ(deux.subtitleStreams,
              (std::vector<SubtitleStream>{{0x240, {'f', 'r', 'a'}, 0x10, 1, 1},
                                           {0x241, {'f', 'r', 'a'}, 0x20, 1, 1}}));
    const ChannelInfo& trois = access.at(2);
    EXPECT_EQ(trois.number, 3);
    EXPECT_EQ(trois.frequency, 522167);
    EXPECT_EQ(trois.videoMpeg4Pid, 0x420);
    EXPECT_EQ(trois.ac3Pid, 0x433);
}

class TestbedCardTuner : public ComTest {};

TEST_F(TestbedCardTuner, PlaysThroughItsReceiverComponent) {
    SetEnvironmentVariableW(L"KORVANE_TESTBED_DIR",
                            windowsPath(KORVANE_BINARY_DIR "/testbed-data").c_str());
    SetEnvironmentVariableW(L"KORVANE_TESTBED_SPEED", kTestbedSpeed);
    {
        ComPtr<IFilterGraph2> graph = makeGraph();
        ASSERT_TRUE(graph);
        auto add = [&](const CLSID& clsid, const wchar_t* name) {
            ComPtr<IBaseFilter> f;
            EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                       f.putVoid()),
                      S_OK);
            if (f) {
                EXPECT_EQ(graph->AddFilter(f.get(), name), S_OK);
            }
            return f;
        };
        ComPtr<IBaseFilter> tuner = add(kClsidCardTuner, L"Network Tuner");
        ComPtr<IBaseFilter> receiver = add(kClsidReceiver, L"Receiver Component");
        ComPtr<IBaseFilter> grabber = add(kClsidSampleGrabber, L"Grabber");
        ComPtr<IBaseFilter> demux = add(kClsidMpeg2Demultiplexer, L"Demux");
        ASSERT_TRUE(tuner && receiver && grabber && demux);
        // The receiver takes only the PCI tuner's transport type.
        ASSERT_EQ(connect(graph.get(), tuner.get(), receiver.get()), S_OK);
        ASSERT_EQ(connect(graph.get(), receiver.get(), grabber.get()), S_OK);
        ASSERT_EQ(connect(graph.get(), grabber.get(), demux.get()), S_OK);
        auto control = demux.as<IMpeg2Demultiplexer>();
        AM_MEDIA_TYPE type = sectionMediaType(kMediaSubtypeDvbSi);
        ComPtr<IPin> pin;
        ASSERT_EQ(control->CreateOutputPin(&type, const_cast<LPWSTR>(L"pat"), pin.put()), S_OK);
        auto* sink = new TestSink(kMediaTypeMpeg2Sections);
        ComPtr<IBaseFilter> sinkFilter(sink);
        ASSERT_EQ(graph->AddFilter(sinkFilter.get(), L"sink"), S_OK);
        ASSERT_EQ(graph->ConnectDirect(pin.get(), firstPin(sinkFilter.get(), PINDIR_INPUT).get(),
                                       nullptr),
                  S_OK);
        ULONG pid = 0;
        pin.as<IMPEG2PIDMap>()->MapPID(1, &pid, MEDIA_MPEG2_PSI);
        auto device = tuner.as<IBDA_DeviceControl>();
        device->StartChanges();
        tuner.as<IBDA_FrequencyFilter>()->put_Frequency(522167);
        device->CommitChanges();
        ASSERT_TRUE(SUCCEEDED(graph.as<IMediaControl>()->Run()));
        EXPECT_TRUE(waitFor([&] { return sink->count() >= 3; }));
        graph.as<IMediaControl>()->Stop();
        for (const auto& s : sink->rendered()) {
            ASSERT_GE(s.bytes.size(), 8u);
            EXPECT_EQ(s.bytes[0], 0x00);
            EXPECT_EQ((s.bytes[3] << 8) | s.bytes[4], 2) << "the second multiplex's PAT";
        }
    }
    EXPECT_EQ(testbedLiveObjects(), 0);
}

TEST(TestbedDevices, TunersAreListedInTheirCategoryWithTheirTransportKind) {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    {
        ComPtr<ICreateDevEnum> devices;
        ASSERT_EQ(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_ICreateDevEnum, devices.putVoid()),
                  S_OK);
        ComPtr<IEnumMoniker> monikers;
        ASSERT_EQ(devices->CreateClassEnumerator(kCategoryBdaNetworkTuner, monikers.put(), 0),
                  S_OK);
        std::vector<std::wstring> names;
        std::vector<GUID> subtypes;
        for (;;) {
            ComPtr<IMoniker> moniker;
            if (monikers->Next(1, moniker.put(), nullptr) != S_OK)
                break;
            ComPtr<IPropertyBag> bag;
            moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.putVoid());
            VARIANT name;
            VariantInit(&name);
            if (bag && SUCCEEDED(bag->Read(L"FriendlyName", &name, nullptr)))
                names.push_back(name.bstrVal);
            VariantClear(&name);
            ComPtr<IBaseFilter> filter;
            ASSERT_EQ(moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, filter.putVoid()),
                      S_OK);
            // The classification looks at the output's media types.
            ComPtr<IPin> out = firstPinOf(filter.get(), PINDIR_OUTPUT);
            ASSERT_TRUE(out);
            ComPtr<IEnumMediaTypes> types;
            out->EnumMediaTypes(types.put());
            AM_MEDIA_TYPE* mt = nullptr;
            ASSERT_EQ(types->Next(1, &mt, nullptr), S_OK);
            EXPECT_EQ(mt->majortype, kTypeStream);
            subtypes.push_back(mt->subtype);
            DeleteMediaType(mt);
        }
        auto usb = std::find(names.begin(), names.end(), L"Korvane Testbed Tuner USB");
        auto pci = std::find(names.begin(), names.end(), L"Korvane Testbed Tuner PCI");
        ASSERT_NE(usb, names.end());
        ASSERT_NE(pci, names.end());
        EXPECT_EQ(subtypes[size_t(usb - names.begin())], kSubtypeBdaTransport);
        EXPECT_EQ(subtypes[size_t(pci - names.begin())], kSubtypeMpeg2Transport);

        ComPtr<IEnumMoniker> receivers;
        ASSERT_EQ(devices->CreateClassEnumerator(kCategoryBdaReceiver, receivers.put(), 0), S_OK);
        bool listed = false;
        for (;;) {
            ComPtr<IMoniker> moniker;
            if (receivers->Next(1, moniker.put(), nullptr) != S_OK)
                break;
            ComPtr<IPropertyBag> bag;
            moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.putVoid());
            VARIANT name;
            VariantInit(&name);
            if (bag && SUCCEEDED(bag->Read(L"FriendlyName", &name, nullptr)))
                listed |= std::wstring(name.bstrVal) == L"Korvane Testbed Receiver";
            VariantClear(&name);
        }
        EXPECT_TRUE(listed);
    }
    CoUninitialize();
}

TEST(TestbedDevices, TopologyLeadsToTheFrequencyAndStatisticsNodes) {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    {
        ComPtr<IBaseFilter> tuner;
        ASSERT_EQ(CoCreateInstance(kClsidUsbTuner, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                   tuner.putVoid()),
                  S_OK);
        auto topology = tuner.as<IBDA_Topology>();
        ASSERT_TRUE(topology);
        EXPECT_TRUE(tuner.as<IBDA_DeviceControl>());
        ULONG types[32];
        ULONG count = 0;
        ASSERT_EQ(topology->GetNodeTypes(&count, 32, types), S_OK);
        ASSERT_GE(count, 1u);
        bool frequencyFound = false;
        bool statisticsFound = false;
        for (ULONG n = 0; n < count; ++n) {
            GUID interfaces[32];
            ULONG found = 0;
            ASSERT_EQ(topology->GetNodeInterfaces(types[n], &found, 32, interfaces), S_OK);
            ComPtr<IUnknown> node;
            ASSERT_EQ(topology->GetControlNode(0, 1, types[n], node.put()), S_OK);
            for (ULONG i = 0; i < found; ++i) {
                ComPtr<IUnknown> answer;
                EXPECT_EQ(node->QueryInterface(interfaces[i], answer.putVoid()), S_OK);
                frequencyFound |= interfaces[i] == __uuidof(IBDA_FrequencyFilter);
                statisticsFound |= interfaces[i] == __uuidof(IBDA_SignalStatistics);
            }
        }
        EXPECT_TRUE(frequencyFound);
        EXPECT_TRUE(statisticsFound);
        ComPtr<IUnknown> none;
        EXPECT_NE(topology->GetControlNode(0, 1, 7, none.put()), S_OK);
    }
    CoUninitialize();
}

} // namespace
} // namespace korvane::testing
