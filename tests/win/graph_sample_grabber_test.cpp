#include "dshow_test_filters.h"

#include "graph/platform_guids.h"
#include "graph/sample_grabber.h"

#include <string>

namespace korvane::testing {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes packet(uint16_t pid, uint8_t fill) {
    Bytes p(188, fill);
    p[0] = 0x47;
    p[1] = static_cast<uint8_t>(pid >> 8);
    p[2] = static_cast<uint8_t>(pid);
    p[3] = 0x10;
    return p;
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

std::wstring tempFile(const wchar_t* stem) {
    wchar_t dir[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    return std::wstring(dir) + stem + std::to_wstring(GetCurrentProcessId()) + L".mpg";
}

Bytes readFile(const std::wstring& path) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    Bytes bytes;
    if (h == INVALID_HANDLE_VALUE)
        return bytes;
    uint8_t chunk[4096];
    DWORD got = 0;
    while (ReadFile(h, chunk, sizeof chunk, &got, nullptr) && got > 0)
        bytes.insert(bytes.end(), chunk, chunk + got);
    CloseHandle(h);
    return bytes;
}

// True when nobody holds the file open any more (the recorder opens it unshared).
bool isClosed(const std::wstring& path) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(h);
    return true;
}

// Transport stream source -> the platform's sample grabber -> sink, as in the program's
// graph between the tuner and the demultiplexer.
class SampleGrabberTest : public ComTest {
  protected:
    void SetUp() override {
        ComTest::SetUp();
        graph = makeGraph();
        CMediaType ts(MEDIATYPE_Stream);
        ts.SetSubtype(&MEDIASUBTYPE_MPEG2_TRANSPORT);
        source = new TestSource(ts, 188 * 8);
        sourceFilter = ComPtr<IBaseFilter>(source);
        sink = new TestSink(MEDIATYPE_Stream);
        sinkFilter = ComPtr<IBaseFilter>(sink);
        ASSERT_TRUE(SUCCEEDED(CoCreateInstance(kClsidSampleGrabber, nullptr, CLSCTX_INPROC_SERVER,
                                               IID_IBaseFilter, grabberFilter.putVoid())));
        grabber = grabberFilter.as<ISampleGrabber>(kIidSampleGrabber);
        ASSERT_TRUE(grabber);
        ASSERT_EQ(graph->AddFilter(sourceFilter.get(), L"Clé USB"), S_OK);
        ASSERT_EQ(graph->AddFilter(grabberFilter.get(), L"Grabber"), S_OK);
        ASSERT_EQ(graph->AddFilter(sinkFilter.get(), L"Demux"), S_OK);
        ASSERT_EQ(connect(graph.get(), sourceFilter.get(), grabberFilter.get()), S_OK);
        ASSERT_EQ(connect(graph.get(), grabberFilter.get(), sinkFilter.get()), S_OK);
        control = graph.as<IMediaControl>(IID_IMediaControl);
    }
    void TearDown() override {
        if (grabber)
            grabber->SetCallback(nullptr, 0);
        control.reset();
        grabber.reset();
        grabberFilter.reset();
        sinkFilter.reset();
        sourceFilter.reset();
        graph.reset();
        ComTest::TearDown();
    }

    // Hands the recorder to the grabber, which then holds the only reference.
    void install(CSampleGrabber* recorder) {
        ComPtr<ISampleGrabberCB> callback;
        ASSERT_EQ(recorder->NonDelegatingQueryInterface(kIidSampleGrabberCB, callback.putVoid()),
                  S_OK);
        ASSERT_EQ(grabber->SetCallback(callback.get(), 0), S_OK);
    }

    void playToEnd() {
        ASSERT_TRUE(SUCCEEDED(control->Run()));
        long code = 0;
        EXPECT_EQ(graph.as<IMediaEvent>(IID_IMediaEvent)->WaitForCompletion(10000, &code), S_OK);
        control->Stop();
    }

    ComPtr<IFilterGraph2> graph;
    TestSource* source = nullptr;
    TestSink* sink = nullptr;
    ComPtr<IBaseFilter> sourceFilter;
    ComPtr<IBaseFilter> sinkFilter;
    ComPtr<IBaseFilter> grabberFilter;
    ComPtr<ISampleGrabber> grabber;
    ComPtr<IMediaControl> control;
};

TEST_F(SampleGrabberTest, AnswersOnlyTheCallbackInterfaceAndIUnknown) {
    std::wstring path = tempFile(L"qi");
    long before = liveObjectCount();
    {
        ComPtr<IUnknown> object((new CSampleGrabber(path.c_str()))->NonDelegatingUnknown());
        ComPtr<ISampleGrabberCB> callback = object.as<ISampleGrabberCB>(kIidSampleGrabberCB);
        ASSERT_TRUE(callback);
        EXPECT_EQ(callback.as<IUnknown>(IID_IUnknown).get(), object.get());
        EXPECT_FALSE(object.as<IBaseFilter>(IID_IBaseFilter));
        BYTE buffer[4] = {};
        EXPECT_EQ(callback->BufferCB(0.0, buffer, 4), S_OK);
    }
    EXPECT_EQ(liveObjectCount(), before);
    EXPECT_TRUE(readFile(path).empty());
    EXPECT_TRUE(isClosed(path));
    DeleteFileW(path.c_str());
}

TEST_F(SampleGrabberTest, MultiplexRecordingGetsEveryBufferButNullPackets) {
    std::wstring path = tempFile(L"mux");
    long before = liveObjectCount();
    install(new CSampleGrabber(path.c_str()));
    Bytes pat = packet(0x0000, 1), video = packet(0x100, 2), null = packet(0x1FFF, 3);
    // Buffers cut across packet boundaries: the recorder carries the piece in between.
    Bytes stream = concat({pat, video, null, video, pat});
    source->stream().queue({Bytes(stream.begin(), stream.begin() + 300), std::nullopt});
    source->stream().queue({Bytes(stream.begin() + 300, stream.end()), std::nullopt});
    playToEnd();
    EXPECT_EQ(sink->count(), 2u) << "the grabber passes every buffer on";

    // Removing the callback releases the last reference: the recorder is destroyed.
    ASSERT_EQ(grabber->SetCallback(nullptr, 0), S_OK);
    EXPECT_EQ(liveObjectCount(), before);
    EXPECT_TRUE(isClosed(path));
    EXPECT_EQ(readFile(path), concat({pat, video, video, pat}));
    DeleteFileW(path.c_str());
}

TEST_F(SampleGrabberTest, ChannelRecordingKeepsOnlyItsPackets) {
    std::wstring path = tempFile(L"chan");
    install(new CSampleGrabber(path.c_str(), 0x100, 0x120, 0x130));
    Bytes kept = concat({packet(0, 1), packet(0x100, 2), packet(0x120, 3), packet(0x130, 4)});
    source->stream().queue(
        {concat({packet(0, 1), packet(0x131, 9), packet(0x100, 2)}), std::nullopt});
    source->stream().queue(
        {concat({packet(0x12, 9), packet(0x120, 3), packet(0x130, 4)}), std::nullopt});
    playToEnd();
    ASSERT_EQ(grabber->SetCallback(nullptr, 0), S_OK);
    EXPECT_EQ(readFile(path), kept);
    DeleteFileW(path.c_str());
}

// A multiplex recording and a channel recording fed by one hook each get their own bytes;
// the one detached half-way stops there while the other goes on to the end.
TEST_F(SampleGrabberTest, RecordingsSideBySideOnOneHookEachKeepTheirOwnPackets) {
    const std::wstring muxPath = tempFile(L"side-mux");
    const std::wstring chanPath = tempFile(L"side-chan");
    ComPtr<CRecordingHook> hook(new CRecordingHook);
    ASSERT_EQ(grabber->SetCallback(hook.get(), 0), S_OK);
    ComPtr<CSampleGrabber> mux(new CSampleGrabber(muxPath.c_str()));
    ComPtr<CSampleGrabber> chan(new CSampleGrabber(chanPath.c_str(), 0x100, 0x120, 0x130));
    ASSERT_TRUE(hook->attach(mux.get()));
    ASSERT_TRUE(hook->attach(chan.get()));
    const Bytes first = concat({packet(0, 1), packet(0x120, 2), packet(0x200, 3)});
    const Bytes second = concat({packet(0x130, 4), packet(0x201, 5)});
    source->stream().queue({first, std::nullopt});
    playToEnd();
    ASSERT_EQ(hook->detach(mux.get()).get(), mux.get());
    EXPECT_FALSE(hook->detach(mux.get())) << "detached twice";
    mux->close();
    source->stream().queue({second, std::nullopt});
    playToEnd();
    ASSERT_EQ(hook->detach(chan.get()).get(), chan.get());
    chan->close();
    EXPECT_EQ(readFile(muxPath), first);
    EXPECT_EQ(readFile(chanPath), concat({packet(0, 1), packet(0x120, 2), packet(0x130, 4)}));
    ASSERT_EQ(grabber->SetCallback(nullptr, 0), S_OK);
    DeleteFileW(muxPath.c_str());
    DeleteFileW(chanPath.c_str());
}

TEST_F(SampleGrabberTest, RecordingDetachedFromTheHookWhileRunningIsClosedAtOnce) {
    std::wstring path = tempFile(L"live");
    long before = liveObjectCount();
    ComPtr<CRecordingHook> hook(new CRecordingHook);
    ASSERT_EQ(grabber->SetCallback(hook.get(), 0), S_OK);
    ComPtr<CSampleGrabber> recording(new CSampleGrabber(path.c_str()));
    hook->attach(recording.get());
    for (int i = 0; i < 2000; ++i)
        source->stream().queue({packet(0x100, uint8_t(i)), std::nullopt});
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    ASSERT_TRUE(waitFor([&] { return source->stream().delivered() > 100; }));
    ASSERT_EQ(hook->detach(recording.get()).get(), recording.get());
    recording->close();
    // Closed when close() returns, while the stream may go on through the idle hook.
    EXPECT_TRUE(isClosed(path));
    Bytes written = readFile(path);
    EXPECT_EQ(written.size() % 188, 0u);
    EXPECT_GT(written.size(), 0u);
    recording.reset();
    EXPECT_TRUE(waitFor([&] { return liveObjectCount() == before + 1; })) << "only the hook left";
    control->Stop();
    EXPECT_EQ(readFile(path), written);
    // Once the graph has stopped, the grabber's callback can go.
    ASSERT_EQ(grabber->SetCallback(nullptr, 0), S_OK);
    hook.reset();
    EXPECT_EQ(liveObjectCount(), before);
    DeleteFileW(path.c_str());
}

} // namespace
} // namespace korvane::testing
