// The testbed's decoders in the platform's filter graph: tuner -> grabber -> demultiplexer
// -> decoder -> sink on a generated multiplex, compared with what Debian's ffmpeg decodes
// from the same file; zaps, garbage, faults, property pages and teardown.
#include "../../testbed/decoders/decoder_guids.h"
#include "../../testbed/statistics_page.h"
#include "dialog_watcher.h"
#include "testbed_graph_fixture.h"

#include <dvdmedia.h>
#include <mmreg.h>
#include <olectl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <random>
#include <thread>

namespace korvane::testing {
namespace {

using namespace korvane::testbed;

constexpr ULONG kDecoderMux = 554167;

// {6A1C3B52-6F0E-4E5B-9D7A-2C4E8B1F0A03}
constexpr CLSID kPictureSinkClsid = {
    0x6a1c3b52, 0x6f0e, 0x4e5b, {0x9d, 0x7a, 0x2c, 0x4e, 0x8b, 0x1f, 0x0a, 0x03}};

struct Picture {
    int width = 0;
    int height = 0;
    DWORD aspectX = 0;
    DWORD aspectY = 0;
    REFERENCE_TIME frameTime = 0;
    std::vector<uint8_t> pixels; // B, G, R, A; top row first
    REFERENCE_TIME start = -1;
};

// A video renderer of the test: takes RGB32 with a VIDEOINFOHEADER2 (or VIDEOINFOHEADER),
// adopts the type a sample carries, and keeps the last two pictures.
class PictureSink : public CBaseRenderer {
  public:
    // `immediate`: shows each picture as it comes, whatever the clock says.
    explicit PictureSink(bool immediate = false)
        : CBaseRenderer(kPictureSinkClsid, L"Picture sink", nullptr, nullptr),
          immediate_(immediate) {}

    HRESULT ShouldDrawSampleNow(IMediaSample* sample, REFERENCE_TIME* start,
                                REFERENCE_TIME* end) override {
        return immediate_ ? S_OK : CBaseRenderer::ShouldDrawSampleNow(sample, start, end);
    }

    HRESULT CheckMediaType(const CMediaType* pmt) override {
        bool ok =
            pmt->majortype == MEDIATYPE_Video && pmt->subtype == MEDIASUBTYPE_RGB32 &&
            ((pmt->formattype == FORMAT_VideoInfo2 && pmt->cbFormat >= sizeof(VIDEOINFOHEADER2)) ||
             (pmt->formattype == FORMAT_VideoInfo && pmt->cbFormat >= sizeof(VIDEOINFOHEADER)));
        return ok ? S_OK : S_FALSE;
    }
    HRESULT SetMediaType(const CMediaType* pmt) override {
        adopt(*pmt);
        return S_OK;
    }
    HRESULT DoRenderSample(IMediaSample* sample) override {
        AM_MEDIA_TYPE* changed = nullptr;
        if (sample->GetMediaType(&changed) == S_OK && changed) {
            adopt(CMediaType(*changed));
            DeleteMediaType(changed);
        }
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        std::lock_guard lock(mutex_);
        size_t row = size_t(format_.width) * 4;
        if (size_t(sample->GetActualDataLength()) != row * size_t(format_.height)) {
            ++badSizes_;
            return S_OK;
        }
        Picture p = format_;
        p.pixels.resize(row * size_t(p.height));
        for (int y = 0; y < p.height; ++y)
            std::memcpy(&p.pixels[size_t(y) * row], data + size_t(p.height - 1 - y) * row, row);
        REFERENCE_TIME stop = 0;
        if (FAILED(sample->GetTime(&p.start, &stop)))
            p.start = -1;
        previous_ = std::move(last_);
        last_ = std::move(p);
        ++count_;
        return S_OK;
    }

    int count() const {
        std::lock_guard lock(mutex_);
        return count_;
    }
    int badSizes() const {
        std::lock_guard lock(mutex_);
        return badSizes_;
    }
    Picture last() const {
        std::lock_guard lock(mutex_);
        return last_;
    }
    Picture previous() const {
        std::lock_guard lock(mutex_);
        return previous_;
    }

  private:
    void adopt(const CMediaType& mt) {
        const BITMAPINFOHEADER* bmi = nullptr;
        Picture f;
        if (mt.formattype == FORMAT_VideoInfo2) {
            const auto* vih = reinterpret_cast<const VIDEOINFOHEADER2*>(mt.pbFormat);
            bmi = &vih->bmiHeader;
            f.aspectX = vih->dwPictAspectRatioX;
            f.aspectY = vih->dwPictAspectRatioY;
            f.frameTime = vih->AvgTimePerFrame;
        } else {
            const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat);
            bmi = &vih->bmiHeader;
            f.frameTime = vih->AvgTimePerFrame;
        }
        f.width = bmi->biWidth;
        f.height = bmi->biHeight;
        std::lock_guard lock(mutex_);
        format_ = f;
    }

    const bool immediate_;
    mutable std::mutex mutex_;
    Picture format_;
    Picture last_;
    Picture previous_;
    int count_ = 0;
    int badSizes_ = 0;
};

// A sound renderer of the test: 16-bit stereo PCM only, recorded.
class PcmSink : public TestSink {
  public:
    PcmSink() : TestSink(MEDIATYPE_Audio) {}
    HRESULT CheckMediaType(const CMediaType* pmt) override {
        if (pmt->subtype != MEDIASUBTYPE_PCM || pmt->formattype != FORMAT_WaveFormatEx ||
            pmt->cbFormat < sizeof(WAVEFORMATEX))
            return S_FALSE;
        const auto* wfx = reinterpret_cast<const WAVEFORMATEX*>(pmt->pbFormat);
        return wfx->nChannels == 2 && wfx->wBitsPerSample == 16 ? S_OK : S_FALSE;
    }
};

// The pictures of one loop of a video stream as Debian's ffmpeg decodes them.
struct Reference {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> bytes;
    size_t frames() const { return bytes.size() / (size_t(width) * size_t(height) * 4); }
    const uint8_t* frame(size_t i) const { return &bytes[i * size_t(width) * size_t(height) * 4]; }
};

Reference loadReference(const std::string& name, int width, int height) {
    Reference r{width, height, {}};
    std::ifstream in(std::string(KORVANE_BINARY_DIR "/testbed-data/") + name, std::ios::binary);
    r.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return r;
}

std::vector<uint8_t> readFileBytes(const std::string& name) {
    std::ifstream in(std::string(KORVANE_BINARY_DIR "/testbed-data/") + name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct Match {
    size_t frame = 0;
    double meanError = 1e9; // mean absolute difference of B, G and R
    double farShare = 1;    // share of B, G, R values more than 24 apart
};

// The reference picture closest to a decoded one.
Match bestMatch(const Reference& ref, const Picture& p) {
    Match best;
    if (p.width != ref.width || p.height != ref.height)
        return best;
    size_t pixels = size_t(p.width) * size_t(p.height);
    for (size_t f = 0; f < ref.frames(); ++f) {
        const uint8_t* r = ref.frame(f);
        uint64_t sum = 0;
        size_t distant = 0;
        for (size_t i = 0; i < pixels * 4; ++i) {
            if (i % 4 == 3)
                continue;
            int d = std::abs(int(r[i]) - int(p.pixels[i]));
            sum += uint64_t(d);
            distant += d > 24;
        }
        double mean = double(sum) / double(pixels * 3);
        if (mean < best.meanError)
            best = {f, mean, double(distant) / double(pixels * 3)};
    }
    return best;
}

void expectMatchesReference(const Reference& ref, const Picture& p, const char* what) {
    ASSERT_FALSE(p.pixels.empty()) << what;
    ASSERT_GT(ref.frames(), 0u) << what;
    Match m = bestMatch(ref, p);
    EXPECT_LT(m.meanError, 2.0) << what << ": best reference frame " << m.frame;
    EXPECT_LT(m.farShare, 0.01) << what;
}

// The frequency of the tone on one channel (0 left, 1 right) of a buffer of 16-bit stereo,
// from its rising zero crossings; 0 when it holds less than two periods.
double bufferFrequency(const std::vector<uint8_t>& bytes, int channel, int rate) {
    size_t frames = bytes.size() / 4;
    auto at = [&](size_t i) {
        int16_t v;
        std::memcpy(&v, &bytes[4 * i + 2 * size_t(channel)], 2);
        return v;
    };
    size_t first = 0;
    size_t last = 0;
    int crossings = 0;
    for (size_t i = 1; i < frames; ++i) {
        if (at(i - 1) < 0 && at(i) >= 0) {
            if (crossings == 0)
                first = i;
            last = i;
            ++crossings;
        }
    }
    return crossings < 3 ? 0 : double(crossings - 1) * rate / double(last - first);
}

// The tone of a run of buffers: the median of theirs, so that the seams where the played file
// loops (and the decoder's first frame, which fades in) do not count.
double toneFrequency(const std::vector<TestSink::Rendered>& rendered, int channel, size_t from) {
    std::vector<double> found;
    for (size_t i = from; i < rendered.size(); ++i) {
        if (double f = bufferFrequency(rendered[i].bytes, channel, 48000); f > 0)
            found.push_back(f);
    }
    if (found.empty())
        return 0;
    std::nth_element(found.begin(), found.begin() + long(found.size() / 2), found.end());
    return found[found.size() / 2];
}

// The strength of one frequency on one channel, relative to full scale (Goertzel).
double toneLevel(const std::vector<int16_t>& pcm, int channel, double hz, int rate) {
    double w = 2 * 3.14159265358979 * hz / rate;
    double c = 2 * std::cos(w);
    double s1 = 0;
    double s2 = 0;
    size_t frames = pcm.size() / 2;
    for (size_t i = 0; i < frames; ++i) {
        double s0 = pcm[2 * i + size_t(channel)] / 32768.0 + c * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    double power = s1 * s1 + s2 * s2 - c * s1 * s2;
    return 2 * std::sqrt(std::max(power, 0.0)) / double(std::max<size_t>(frames, 1));
}

std::vector<int16_t> pcmOf(const std::vector<TestSink::Rendered>& rendered, size_t from = 0) {
    std::vector<int16_t> pcm;
    for (size_t i = from; i < rendered.size(); ++i) {
        const auto& bytes = rendered[i].bytes;
        size_t n = pcm.size();
        pcm.resize(n + bytes.size() / 2);
        std::memcpy(pcm.data() + n, bytes.data(), bytes.size() / 2 * 2);
    }
    return pcm;
}

DecoderStatistics statisticsOf(IBaseFilter* decoder) {
    DecoderStatistics s{};
    ComPtr<IDecoderStatistics> stats;
    if (SUCCEEDED(decoder->QueryInterface(kIidDecoderStatistics, stats.putVoid())))
        stats->GetCounters(&s);
    return s;
}

// The media types the program gives the demultiplexer's outputs.
CMediaType programVideoType(const GUID& subtype = MEDIASUBTYPE_MPEG2_VIDEO) {
    CMediaType mt;
    mt.SetType(&MEDIATYPE_Video);
    mt.SetSubtype(&subtype);
    mt.SetVariableSize();
    mt.SetTemporalCompression(TRUE);
    mt.SetFormatType(&FORMAT_MPEG2Video);
    BYTE* block = mt.AllocFormatBuffer(136);
    auto* info = reinterpret_cast<VIDEOINFOHEADER2*>(block);
    info->rcSource = {0, 0, 720, 576};
    info->dwPictAspectRatioX = 4;
    info->dwPictAspectRatioY = 3;
    info->bmiHeader.biSize = 40;
    info->bmiHeader.biWidth = 720;
    info->bmiHeader.biHeight = 576;
    return mt;
}

CMediaType programAudioType(const GUID& subtype) {
    CMediaType mt;
    mt.SetType(&MEDIATYPE_Audio);
    mt.SetSubtype(&subtype);
    mt.SetFormatType(&FORMAT_WaveFormatEx);
    WAVEFORMATEX wfx{1, 2, 48000, 192000, 4, 16, 0};
    mt.SetFormat(reinterpret_cast<const BYTE*>(&wfx), sizeof(wfx));
    return mt;
}

struct StreamCase {
    const char* name;
    CLSID decoder;
    bool video;
    GUID subtype;
    ULONG pid;
    // Video: the reference and the picture's shape; audio: the tone.
    const char* reference;
    int width, height;
    DWORD aspectX, aspectY;
    double tone;
};

const StreamCase kMpeg2Video{"MPEG-2 4:3",
                             kClsidMpeg2VideoDecoder,
                             true,
                             MEDIASUBTYPE_MPEG2_VIDEO,
                             0x120,
                             "554167-0x120.bgra",
                             176,
                             144,
                             4,
                             3,
                             0};
const StreamCase kMpeg2VideoWide{"MPEG-2 16:9",
                                 kClsidMpeg2VideoDecoder,
                                 true,
                                 MEDIASUBTYPE_MPEG2_VIDEO,
                                 0x220,
                                 "554167-0x220.bgra",
                                 352,
                                 288,
                                 16,
                                 9,
                                 0};
const StreamCase kH264Video{"H.264 16:9",
                            kClsidH264VideoDecoder,
                            true,
                            kSubtypeH264,
                            0x221,
                            "554167-0x221.bgra",
                            352,
                            288,
                            16,
                            9,
                            0};
const StreamCase kMpegAudio{
    "MPEG audio", kClsidMpegAudioDecoder, false, MEDIASUBTYPE_MPEG2_AUDIO, 0x130, "", 0, 0, 0, 0,
    460};
const StreamCase kMpegAudioOther{
    "MPEG audio", kClsidMpegAudioDecoder, false, MEDIASUBTYPE_MPEG2_AUDIO, 0x230, "", 0, 0, 0, 0,
    300};
const StreamCase kAc3Audio{
    "AC-3", kClsidAc3AudioDecoder, false, MEDIASUBTYPE_DOLBY_AC3, 0x133, "", 0, 0, 0, 0, 580};

class TestbedDecoders : public TestbedGraphTest {
  protected:
    void SetUp() override {
        TestbedGraphTest::SetUp();
        // Sinks take samples as they come: the files play faster than the clock.
        ASSERT_EQ(graph_.as<IMediaFilter>()->SetSyncSource(nullptr), S_OK);
    }

    struct Chain {
        ComPtr<IMPEG2PIDMap> map;
        ComPtr<IBaseFilter> decoder;
        PictureSink* pictures = nullptr;
        PcmSink* sound = nullptr;
    };

    // A demultiplexer output of the program's type -> the decoder -> a sink of the test, or
    // the filter `renderer` when given.
    Chain chain(const wchar_t* name, const StreamCase& c, IBaseFilter* renderer = nullptr) {
        Chain out;
        CMediaType type = c.video ? programVideoType(c.subtype) : programAudioType(c.subtype);
        ComPtr<IPin> pin;
        EXPECT_EQ(demuxControl_->CreateOutputPin(&type, const_cast<LPWSTR>(name), pin.put()), S_OK);
        out.decoder = create(c.decoder, (std::wstring(L"Codec ") + name).c_str());
        if (!pin || !out.decoder)
            return out;
        EXPECT_EQ(graph_->ConnectDirect(pin.get(), firstPin(out.decoder.get(), PINDIR_INPUT).get(),
                                        nullptr),
                  S_OK);
        ComPtr<IBaseFilter> sink(renderer);
        if (!renderer) {
            if (c.video) {
                out.pictures = new PictureSink;
                sink = ComPtr<IBaseFilter>(out.pictures);
            } else {
                out.sound = new PcmSink;
                sink = ComPtr<IBaseFilter>(out.sound);
            }
            sinks_.push_back(sink);
            EXPECT_EQ(graph_->AddFilter(sink.get(), (std::wstring(L"Sink ") + name).c_str()), S_OK);
        }
        EXPECT_EQ(connect(graph_.get(), out.decoder.get(), sink.get()), S_OK) << c.name;
        sinks_.push_back(out.decoder);
        out.map = pin.as<IMPEG2PIDMap>();
        map(out.map.get(), c.pid);
        return out;
    }

    static void map(IMPEG2PIDMap* map, ULONG pid) {
        ASSERT_TRUE(map);
        ASSERT_EQ(map->MapPID(1, &pid, MEDIA_ELEMENTARY_STREAM), S_OK);
    }

    static bool shows(const PictureSink* sink, const StreamCase& c) {
        Picture p = sink->last();
        return p.width == c.width && p.height == c.height && !p.pixels.empty();
    }

    // Waits for pictures of the stream's shape, then checks them against the reference.
    void expectPicturesOf(const PictureSink* sink, const StreamCase& c) {
        ASSERT_TRUE(waitFor([&] { return shows(sink, c); })) << c.name;
        int shown = sink->count();
        EXPECT_TRUE(waitFor([&] {
            return sink->count() > shown + 20 && sink->previous().width == c.width;
        })) << c.name;
        Picture last = sink->last();
        EXPECT_EQ(last.aspectX, c.aspectX) << c.name;
        EXPECT_EQ(last.aspectY, c.aspectY) << c.name;
        EXPECT_EQ(last.frameTime, 400000) << c.name;
        Reference ref = loadReference(c.reference, c.width, c.height);
        expectMatchesReference(ref, last, c.name);
        // Pictures a frame time apart are consecutive frames of the stream (unless the file
        // looped between them).
        Picture previous = sink->previous();
        if (last.start - previous.start == 400000 && previous.start >= 0) {
            size_t a = bestMatch(ref, previous).frame;
            size_t b = bestMatch(ref, last).frame;
            EXPECT_EQ((a + 1) % ref.frames(), b) << c.name;
        }
        EXPECT_EQ(sink->badSizes(), 0) << c.name;
    }

    static void expectTone(const std::vector<TestSink::Rendered>& rendered, size_t from, double hz,
                           const char* what) {
        ASSERT_GT(rendered.size(), from + 20) << what;
        for (int channel = 0; channel < 2; ++channel) {
            EXPECT_NEAR(toneFrequency(rendered, channel, from), hz, hz * 0.01)
                << what << " channel " << channel;
        }
    }
};

class DecodedStream : public TestbedDecoders,
                      public ::testing::WithParamInterface<const StreamCase*> {};

TEST_P(DecodedStream, IsWhatFfmpegDecodesFromTheSameFile) {
    const StreamCase& c = *GetParam();
    Chain ch = chain(L"es", c);
    tune(kDecoderMux);
    run();
    if (c.video) {
        expectPicturesOf(ch.pictures, c);
    } else {
        EXPECT_TRUE(waitFor([&] { return ch.sound->count() > 60; }));
        // The output is what the DirectSound renderer takes.
        AM_MEDIA_TYPE mt{};
        ComPtr<IPin> out = firstPin(ch.decoder.get(), PINDIR_OUTPUT);
        ASSERT_EQ(out->ConnectionMediaType(&mt), S_OK);
        const auto* wfx = reinterpret_cast<const WAVEFORMATEX*>(mt.pbFormat);
        EXPECT_EQ(mt.subtype, MEDIASUBTYPE_PCM);
        EXPECT_EQ(wfx->wFormatTag, WAVE_FORMAT_PCM);
        EXPECT_EQ(wfx->nChannels, 2);
        EXPECT_EQ(wfx->nSamplesPerSec, 48000u);
        EXPECT_EQ(wfx->wBitsPerSample, 16);
        FreeMediaType(mt);
        expectTone(ch.sound->rendered(), 0, c.tone, c.name);
    }
    stop();
    DecoderStatistics s = statisticsOf(ch.decoder.get());
    EXPECT_GT(s.delivered, 10);
    EXPECT_EQ(s.errors, 0);
    EXPECT_EQ(s.dropped, 0);
}

INSTANTIATE_TEST_SUITE_P(Streams, DecodedStream,
                         ::testing::Values(&kMpeg2Video, &kH264Video, &kMpegAudio, &kAc3Audio),
                         [](const ::testing::TestParamInfo<const StreamCase*>& info) {
                             std::string name;
                             for (const char* c = info.param->name; *c; ++c)
                                 name += std::isalnum(uint8_t(*c)) ? *c : '_';
                             return name;
                         });

TEST_F(TestbedDecoders, ZapToAnotherServiceChangesPictureShapeAndTone) {
    Chain video = chain(L"video", kMpeg2Video);
    Chain sound = chain(L"son", kMpegAudio);
    tune(kDecoderMux);
    run();
    expectPicturesOf(video.pictures, kMpeg2Video);
    EXPECT_TRUE(waitFor([&] { return sound.sound->count() > 60; }));
    expectTone(sound.sound->rendered(), 0, kMpegAudio.tone, "before the zap");

    // An upstream flush on the way, as a seek or retune would bring.
    ComPtr<IPin> input = firstPin(video.decoder.get(), PINDIR_INPUT);
    EXPECT_EQ(input->BeginFlush(), S_OK);
    EXPECT_EQ(input->EndFlush(), S_OK);

    ULONG old = kMpeg2Video.pid;
    ASSERT_EQ(video.map->UnmapPID(1, &old), S_OK);
    map(video.map.get(), kMpeg2VideoWide.pid);
    old = kMpegAudio.pid;
    ASSERT_EQ(sound.map->UnmapPID(1, &old), S_OK);
    size_t before = sound.sound->count();
    map(sound.map.get(), kMpegAudioOther.pid);
    expectPicturesOf(video.pictures, kMpeg2VideoWide);
    // The renderer's connection follows the new shape.
    AM_MEDIA_TYPE mt{};
    ComPtr<IPin> out = firstPin(video.decoder.get(), PINDIR_OUTPUT);
    ASSERT_EQ(out->ConnectionMediaType(&mt), S_OK);
    ASSERT_EQ(mt.formattype, FORMAT_VideoInfo2);
    EXPECT_EQ(reinterpret_cast<VIDEOINFOHEADER2*>(mt.pbFormat)->dwPictAspectRatioX, 16u);
    EXPECT_EQ(reinterpret_cast<VIDEOINFOHEADER2*>(mt.pbFormat)->bmiHeader.biWidth, 352);
    FreeMediaType(mt);
    // A few frames of the old service may still be on their way.
    EXPECT_TRUE(waitFor([&] { return sound.sound->count() > before + 80; }));
    stop();
    expectTone(sound.sound->rendered(), before + 20, kMpegAudioOther.tone, "after the zap");
}

TEST_F(TestbedDecoders, SoundRenderersNeitherHoldTheGraphPausedNorStallThePicture) {
    // Wine's DirectSound renderers, on the graph's clock, hold each sample until its time,
    // which runs eight times ahead of the clock here: the audio decoders' queues fill up and
    // drop input, and the pictures, delivered by the same demultiplexer thread, flow on.
    // The AC-3 output has no PID mapped, as in the program most of the time: its renderer
    // must complete its pause all the same, or Wine's graph never runs.
    ComPtr<IBaseFilter> first = create(CLSID_DSoundRender, L"Direct sound");
    ComPtr<IBaseFilter> second = create(CLSID_DSoundRender, L"Direct sound le retour");
    ASSERT_TRUE(first && second);
    sinks_.push_back(first);
    sinks_.push_back(second);
    auto* pictures = new PictureSink(true);
    ComPtr<IBaseFilter> picturesFilter(pictures);
    sinks_.push_back(picturesFilter);
    ASSERT_EQ(graph_->AddFilter(picturesFilter.get(), L"Images"), S_OK);
    Chain video = chain(L"video", kMpeg2Video, picturesFilter.get());
    Chain sound = chain(L"son", kMpegAudio, first.get());
    Chain ac3 = chain(L"ac3", kAc3Audio, second.get());
    ULONG ac3Pid = kAc3Audio.pid;
    ASSERT_EQ(ac3.map->UnmapPID(1, &ac3Pid), S_OK);
    ASSERT_EQ(graph_->SetDefaultSyncSource(), S_OK);
    tune(kDecoderMux);
    run();
    OAFilterState state = State_Stopped;
    EXPECT_EQ(graph_.as<IMediaControl>()->GetState(5000, &state), S_OK);
    EXPECT_EQ(state, State_Running);
    EXPECT_TRUE(waitFor([&] { return pictures->count() > 100; }));
    EXPECT_TRUE(waitFor([&] { return statisticsOf(sound.decoder.get()).dropped > 0; }));
    stop();
    EXPECT_EQ(statisticsOf(ac3.decoder.get()).delivered, 0) << "nothing was decoded";
}

TEST_F(TestbedDecoders, AutomaticRenderingPicksThemIntoTheRenderersPresent) {
    // What the program does when no decoder name is configured: each branch adds its
    // renderer, then RenderEx on the output, to the renderers already in the graph only.
    auto* pictures = new PictureSink;
    auto* sound = new PcmSink;
    auto* ac3 = new PcmSink;
    struct Branch {
        const wchar_t* output;
        CMediaType type;
        ULONG pid;
        IBaseFilter* renderer;
        const wchar_t* name;
    };
    const Branch branches[] = {
        {L"video", programVideoType(), 0x120, pictures, L"Mon VMR"},
        {L"son", programAudioType(MEDIASUBTYPE_MPEG2_AUDIO), 0x130, sound, L"Direct sound"},
        {L"ac3", programAudioType(MEDIASUBTYPE_DOLBY_AC3), 0x133, ac3, L"Direct sound le retour"}};
    for (const Branch& b : branches) {
        sinks_.push_back(ComPtr<IBaseFilter>(b.renderer));
        ASSERT_EQ(graph_->AddFilter(b.renderer, b.name), S_OK);
        ComPtr<IPin> pin;
        CMediaType type = b.type;
        ASSERT_EQ(demuxControl_->CreateOutputPin(&type, const_cast<LPWSTR>(b.output), pin.put()),
                  S_OK);
        EXPECT_EQ(graph_->RenderEx(pin.get(), AM_RENDEREX_RENDERTOEXISTINGRENDERERS, nullptr), S_OK)
            << "no decoder for " << std::string(b.output, b.output + wcslen(b.output));
        map(pin.as<IMPEG2PIDMap>().get(), b.pid);
    }
    tune(kDecoderMux);
    run();
    EXPECT_TRUE(waitFor(
        [&] { return pictures->count() > 30 && sound->count() > 30 && ac3->count() > 30; }));
    stop();
    expectTone(sound->rendered(), 0, kMpegAudio.tone, "MPEG audio");
    expectTone(ac3->rendered(), 0, kAc3Audio.tone, "AC-3");
    expectMatchesReference(loadReference(kMpeg2Video.reference, 176, 144), pictures->last(),
                           "pictures");
}

TEST_F(TestbedDecoders, RunningStoppingAndZappingManyTimesLeavesNothingBehind) {
    Chain video = chain(L"video", kMpeg2Video);
    Chain sound = chain(L"son", kMpegAudio);
    Chain ac3 = chain(L"ac3", kAc3Audio);
    tune(kDecoderMux);
    for (int i = 0; i < 12; ++i) {
        run();
        Sleep(i % 3 == 0 ? 150 : 20);
        if (i % 4 == 1) {
            ULONG from = i % 8 == 1 ? 0x120 : 0x220;
            ULONG to = from == 0x120 ? 0x220 : 0x120;
            video.map->UnmapPID(1, &from);
            map(video.map.get(), to);
        }
        stop();
    }
    EXPECT_GT(video.pictures->count(), 0);
    EXPECT_GT(sound.sound->count(), 0u);
    EXPECT_GT(ac3.sound->count(), 0u);
}

// Straight from a source of the test, without the demultiplexer: elementary streams cut at
// random places, with garbage and a gap in the middle.
class DirectDecoding : public ComTest {};

struct DirectCase {
    const char* name;
    CLSID decoder;
    bool video;
    GUID subtype;
    const char* stream;
};

TEST_F(DirectDecoding, GarbageAndCutsAnywhereAreSurvived) {
    const DirectCase cases[] = {
        {"MPEG-2", kClsidMpeg2VideoDecoder, true, MEDIASUBTYPE_MPEG2_VIDEO, "554167-0x120.es"},
        {"MPEG audio", kClsidMpegAudioDecoder, false, MEDIASUBTYPE_MPEG2_AUDIO, "554167-0x130.es"},
        {"AC-3", kClsidAc3AudioDecoder, false, MEDIASUBTYPE_DOLBY_AC3, "554167-0x133.es"},
        {"AC-3 5.1", kClsidAc3AudioDecoder, false, MEDIASUBTYPE_DOLBY_AC3, "ac3-5.1.es"},
        {"E-AC-3 5.1", kClsidAc3AudioDecoder, false, kSubtypeDolbyDigitalPlus, "eac3-5.1.es"},
    };
    std::mt19937 random(9);
    for (const DirectCase& c : cases) {
        std::vector<uint8_t> stream = readFileBytes(c.stream);
        ASSERT_GT(stream.size(), 10000u) << c.stream;
        ComPtr<IFilterGraph2> graph = makeGraph();
        CMediaType type = c.video ? programVideoType(c.subtype) : programAudioType(c.subtype);
        auto* source = new TestSource(type, 1 << 16);
        ComPtr<IBaseFilter> sourceFilter(source);
        ComPtr<IBaseFilter> decoder;
        ASSERT_EQ(CoCreateInstance(c.decoder, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                   decoder.putVoid()),
                  S_OK);
        PictureSink* pictures = c.video ? new PictureSink : nullptr;
        PcmSink* sound = c.video ? nullptr : new PcmSink;
        ComPtr<IBaseFilter> sink = c.video ? ComPtr<IBaseFilter>(pictures)
                                           : ComPtr<IBaseFilter>(static_cast<IBaseFilter*>(sound));
        graph->AddFilter(sourceFilter.get(), L"source");
        graph->AddFilter(decoder.get(), L"decoder");
        graph->AddFilter(sink.get(), L"sink");
        ASSERT_EQ(connect(graph.get(), sourceFilter.get(), decoder.get()), S_OK) << c.name;
        ASSERT_EQ(connect(graph.get(), decoder.get(), sink.get()), S_OK) << c.name;
        graph.as<IMediaFilter>()->SetSyncSource(nullptr);

        // Two thirds of the stream, random bytes, then the whole stream again.
        auto queueCut = [&](size_t from, size_t to) {
            while (from < to) {
                size_t n = std::min<size_t>(to - from, 1 + random() % 12000);
                source->stream().queue(
                    {{stream.begin() + long(from), stream.begin() + long(from + n)}, std::nullopt});
                from += n;
            }
        };
        queueCut(0, stream.size() * 2 / 3);
        for (int i = 0; i < 8; ++i) {
            std::vector<uint8_t> garbage(1 + random() % 4000);
            for (auto& b : garbage)
                b = uint8_t(random());
            source->stream().queue({garbage, std::nullopt});
        }
        queueCut(0, stream.size());
        ASSERT_TRUE(SUCCEEDED(graph.as<IMediaControl>()->Run()));
        EXPECT_TRUE(waitFor([&] { return source->stream().finished(); })) << c.name;
        Sleep(300);
        graph.as<IMediaControl>()->Stop();

        DecoderStatistics s = statisticsOf(decoder.get());
        EXPECT_EQ(s.dropped, 0) << c.name;
        if (c.video) {
            // Pictures of the stream's last loop, after the garbage, are whole again.
            EXPECT_GT(pictures->count(), 60) << c.name;
            expectMatchesReference(loadReference("554167-0x120.bgra", 176, 144), pictures->last(),
                                   c.name);
        } else {
            auto rendered = sound->rendered();
            ASSERT_GT(rendered.size(), 40u) << c.name;
            // The last third of the second pass, well after the garbage.
            std::vector<int16_t> pcm = pcmOf(rendered, rendered.size() * 3 / 4);
            if (std::string(c.stream).ends_with("-5.1.es")) {
                // Centre on both sides at the same level, the left surround on the left only.
                EXPECT_GT(toneLevel(pcm, 0, 600, 48000), 0.05) << c.name;
                EXPECT_NEAR(toneLevel(pcm, 0, 600, 48000), toneLevel(pcm, 1, 600, 48000), 0.01);
                EXPECT_GT(toneLevel(pcm, 0, 900, 48000), 0.05) << c.name;
                EXPECT_LT(toneLevel(pcm, 1, 900, 48000), 0.005) << c.name;
            } else {
                double hz = c.subtype == MEDIASUBTYPE_DOLBY_AC3 ? 580 : 460;
                for (int channel = 0; channel < 2; ++channel) {
                    EXPECT_NEAR(toneFrequency(rendered, channel, rendered.size() * 3 / 4), hz,
                                hz * 0.01)
                        << c.name;
                }
            }
        }
    }
}

TEST_F(DirectDecoding, ProgramFindsTheDecodersByTypePairAndName) {
    struct Lookup {
        GUID major;
        GUID subtype;
        const wchar_t* name;
    };
    const Lookup lookups[] = {
        {MEDIATYPE_Video, MEDIASUBTYPE_MPEG2_VIDEO, kMpeg2VideoDecoderName},
        {MEDIATYPE_Audio, MEDIASUBTYPE_MPEG2_AUDIO, kMpegAudioDecoderName},
        {MEDIATYPE_Audio, MEDIASUBTYPE_DOLBY_AC3, kAc3AudioDecoderName},
        {MEDIATYPE_Video, kSubtypeH264, kH264VideoDecoderName},
        {MEDIATYPE_Audio, kSubtypeDolbyDigitalPlus, kAc3AudioDecoderName},
    };
    ComPtr<IFilterMapper2> mapper;
    ASSERT_EQ(CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IFilterMapper2, mapper.putVoid()),
              S_OK);
    for (const Lookup& l : lookups) {
        // Exactly the program's lookup: exact match, merit above MERIT_DO_NOT_USE, an
        // input of the pair, an output of any type.
        GUID pair[2] = {l.major, l.subtype};
        ComPtr<IEnumMoniker> found;
        ASSERT_EQ(mapper->EnumMatchingFilters(found.put(), 0, TRUE, 0x200001, TRUE, 1, pair,
                                              nullptr, nullptr, FALSE, TRUE, 0, nullptr, nullptr,
                                              nullptr),
                  S_OK);
        bool listed = false;
        for (;;) {
            ComPtr<IMoniker> moniker;
            if (!found || found->Next(1, moniker.put(), nullptr) != S_OK)
                break;
            ComPtr<IPropertyBag> bag;
            moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.putVoid());
            VARIANT name;
            VariantInit(&name);
            if (bag && SUCCEEDED(bag->Read(L"FriendlyName", &name, nullptr)) &&
                std::wstring(name.bstrVal) == l.name) {
                listed = true;
                ComPtr<IBaseFilter> filter;
                EXPECT_EQ(
                    moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, filter.putVoid()),
                    S_OK);
            }
            VariantClear(&name);
        }
        EXPECT_TRUE(listed) << "no " << std::string(l.name, l.name + wcslen(l.name));
    }
}

TEST_F(TestbedDecoders, RefuseRendererSwitchesFailOnlyTheOutputConnection) {
    struct Refusal {
        const wchar_t* fault;
        const StreamCase* stream;
    };
    const Refusal refusals[] = {{L"video-decoder-refuses-renderer", &kMpeg2Video},
                                {L"audio-decoder-refuses-renderer", &kMpegAudio},
                                {L"ac3-decoder-refuses-renderer", &kAc3Audio}};
    int n = 0;
    for (const Refusal& r : refusals) {
        const StreamCase& c = *r.stream;
        for (bool faulty : {true, false}) {
            SetEnvironmentVariableW(L"KORVANE_TESTBED_FAULTS", faulty ? r.fault : nullptr);
            std::wstring name = L"out" + std::to_wstring(n++);
            CMediaType type = c.video ? programVideoType() : programAudioType(c.subtype);
            ComPtr<IPin> pin;
            ASSERT_EQ(demuxControl_->CreateOutputPin(&type, name.data(), pin.put()), S_OK);
            ComPtr<IBaseFilter> decoder = create(c.decoder, (L"Codec " + name).c_str());
            ComPtr<IBaseFilter> sink(c.video ? static_cast<IBaseFilter*>(new PictureSink)
                                             : static_cast<IBaseFilter*>(new PcmSink));
            sinks_.push_back(decoder);
            sinks_.push_back(sink);
            graph_->AddFilter(sink.get(), (L"Sink " + name).c_str());
            EXPECT_EQ(graph_->ConnectDirect(pin.get(), firstPin(decoder.get(), PINDIR_INPUT).get(),
                                            nullptr),
                      S_OK);
            HRESULT hr = connect(graph_.get(), decoder.get(), sink.get());
            if (faulty) {
                EXPECT_TRUE(FAILED(hr)) << c.name;
            } else {
                EXPECT_EQ(hr, S_OK) << c.name;
            }
        }
    }
    SetEnvironmentVariableW(L"KORVANE_TESTBED_FAULTS", nullptr);
}

struct PageResult {
    HRESULT pages = E_FAIL;
    GUID page = GUID_NULL;
    HRESULT frame = E_FAIL;
    bool seen = false;
    std::wstring texts;
};

// The decoder's property pages in the platform's property frame, closed by a watcher.
PageResult showPagesOf(const CLSID& decoder) {
    PageResult r;
    if (FAILED(OleInitialize(nullptr)))
        return r;
    {
        ComPtr<IBaseFilter> filter;
        CoCreateInstance(decoder, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, filter.putVoid());
        auto pages = filter.as<ISpecifyPropertyPages>();
        CAUUID uuids{};
        if (pages && SUCCEEDED(r.pages = pages->GetPages(&uuids)) && uuids.cElems == 1) {
            r.page = uuids.pElems[0];
            IUnknown* object = filter.get();
            DialogWatcher watcher(pressCancel);
            r.frame = OleCreatePropertyFrame(nullptr, 0, 0, L"Décodeur", 1, &object, uuids.cElems,
                                             uuids.pElems, 0, 0, nullptr);
            r.seen = watcher.seen();
            r.texts = watcher.texts();
        }
        CoTaskMemFree(uuids.pElems);
    }
    OleUninitialize();
    return r;
}

TEST(DecoderPages, EachDecoderShowsItsCountersInAPropertyFrame) {
    struct PageCase {
        CLSID decoder;
        const wchar_t* counter;
    };
    const PageCase cases[] = {{kClsidMpeg2VideoDecoder, L"Images décodées"},
                              {kClsidMpegAudioDecoder, L"Trames décodées"},
                              {kClsidAc3AudioDecoder, L"Trames décodées"}};
    // Each frame is modal on a thread of its own, so that they all close together: closing
    // a window under Wine without a window manager takes a while.
    PageResult results[std::size(cases)];
    {
        std::vector<std::thread> threads;
        for (size_t i = 0; i < std::size(cases); ++i)
            threads.emplace_back([&, i] { results[i] = showPagesOf(cases[i].decoder); });
        for (auto& t : threads)
            t.join();
    }
    for (size_t i = 0; i < std::size(cases); ++i) {
        const PageResult& r = results[i];
        EXPECT_EQ(r.pages, S_OK);
        EXPECT_EQ(r.page, kClsidStatisticsPage);
        EXPECT_EQ(r.frame, S_OK);
        EXPECT_TRUE(r.seen);
        EXPECT_NE(r.texts.find(cases[i].counter), std::wstring::npos) << i;
        EXPECT_NE(r.texts.find(L"Erreurs\n0\n"), std::wstring::npos) << i;
        EXPECT_NE(r.texts.find(L"Format\n"), std::wstring::npos) << i;
    }
    EXPECT_EQ(testbedLiveObjects(), 0);
}

} // namespace
} // namespace korvane::testing
