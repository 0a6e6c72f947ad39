#include "dshow_test_filters.h"

#include "dshow/enumerators.h"
#include "dshow/sample_bytes.h"

namespace korvane::testing {
namespace {

CMediaType streamType() {
    CMediaType type(MEDIATYPE_Stream);
    type.SetSubtype(&MEDIASUBTYPE_MPEG2_TRANSPORT);
    return type;
}

std::vector<uint8_t> bytesOf(std::initializer_list<uint8_t> values) {
    return values;
}

struct Pipeline {
    ComPtr<IFilterGraph2> graph;
    TestSource* source = nullptr;
    TestSink* sink = nullptr;
    ComPtr<IBaseFilter> sourceFilter;
    ComPtr<IBaseFilter> sinkFilter;
    ComPtr<IMediaControl> control;
};

class FrameworkTest : public ComTest {
  protected:
    Pipeline build(const GUID& sinkMajor = MEDIATYPE_Stream) {
        Pipeline p;
        p.graph = makeGraph();
        p.source = new TestSource(streamType());
        p.sourceFilter = ComPtr<IBaseFilter>(p.source);
        p.sink = new TestSink(sinkMajor);
        p.sinkFilter = ComPtr<IBaseFilter>(p.sink);
        EXPECT_EQ(p.graph->AddFilter(p.sourceFilter.get(), L"Source"), S_OK);
        EXPECT_EQ(p.graph->AddFilter(p.sinkFilter.get(), L"Sink"), S_OK);
        p.control = p.graph.as<IMediaControl>(IID_IMediaControl);
        return p;
    }
};

TEST_F(FrameworkTest, ConnectionNegotiatesTheSourceTypeAndTheAllocator) {
    Pipeline p = build();
    ASSERT_EQ(connect(p.graph.get(), p.sourceFilter.get(), p.sinkFilter.get()), S_OK);

    ComPtr<IPin> in = firstPin(p.sinkFilter.get(), PINDIR_INPUT);
    ComPtr<IPin> peer;
    ASSERT_EQ(in->ConnectedTo(peer.put()), S_OK);
    EXPECT_EQ(peer.get(), firstPin(p.sourceFilter.get(), PINDIR_OUTPUT).get());
    AM_MEDIA_TYPE mt{};
    ASSERT_EQ(in->ConnectionMediaType(&mt), S_OK);
    EXPECT_EQ(mt.majortype, MEDIATYPE_Stream);
    EXPECT_EQ(mt.subtype, MEDIASUBTYPE_MPEG2_TRANSPORT);
    FreeMediaType(mt);

    // The allocator agreed at connection is the input pin's, sized by the source.
    auto memInput = in.as<IMemInputPin>(IID_IMemInputPin);
    ComPtr<IMemAllocator> alloc;
    ASSERT_EQ(memInput->GetAllocator(alloc.put()), S_OK);
    ALLOCATOR_PROPERTIES props{};
    ASSERT_EQ(alloc->GetProperties(&props), S_OK);
    EXPECT_EQ(props.cBuffers, 2);
    EXPECT_GE(props.cbBuffer, 4096);

    // A second connection of the same pins is refused.
    ComPtr<IPin> out = firstPin(p.sourceFilter.get(), PINDIR_OUTPUT);
    EXPECT_EQ(out->Connect(in.get(), nullptr), VFW_E_ALREADY_CONNECTED);
}

TEST_F(FrameworkTest, ConnectionFailsWhenNoTypeIsAccepted) {
    Pipeline p = build(MEDIATYPE_Video);
    EXPECT_TRUE(FAILED(connect(p.graph.get(), p.sourceFilter.get(), p.sinkFilter.get())));
    ComPtr<IPin> in = firstPin(p.sinkFilter.get(), PINDIR_INPUT);
    ComPtr<IPin> peer;
    EXPECT_EQ(in->ConnectedTo(peer.put()), VFW_E_NOT_CONNECTED);
    EXPECT_FALSE(peer);
}

TEST_F(FrameworkTest, PinsOfTheSameDirectionDoNotConnect) {
    Pipeline p = build();
    ComPtr<IPin> in = firstPin(p.sinkFilter.get(), PINDIR_INPUT);
    CMediaType type = streamType();
    EXPECT_EQ(in->ReceiveConnection(in.get(), &type), VFW_E_INVALID_DIRECTION);
}

TEST_F(FrameworkTest, EnumeratorsWalkPinsAndTypesAndClone) {
    Pipeline p = build();
    ComPtr<IEnumPins> pins;
    ASSERT_EQ(p.sourceFilter->EnumPins(pins.put()), S_OK);
    IPin* got[2] = {};
    ULONG fetched = 0;
    EXPECT_EQ(pins->Next(2, got, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 1u);
    ComPtr<IPin> out = ComPtr<IPin>::adopt(got[0]);
    EXPECT_EQ(pins->Skip(1), S_FALSE);
    EXPECT_EQ(pins->Reset(), S_OK);
    ComPtr<IEnumPins> clone;
    ASSERT_EQ(pins->Clone(clone.put()), S_OK);
    ComPtr<IPin> again;
    EXPECT_EQ(clone->Next(1, again.put(), nullptr), S_OK);
    EXPECT_EQ(again.get(), out.get());

    ComPtr<IEnumMediaTypes> types;
    ASSERT_EQ(out->EnumMediaTypes(types.put()), S_OK);
    AM_MEDIA_TYPE* mt[2] = {};
    EXPECT_EQ(types->Next(2, mt, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 1u);
    EXPECT_EQ(mt[0]->majortype, MEDIATYPE_Stream);
    DeleteMediaType(mt[0]);

    PIN_INFO info{};
    ASSERT_EQ(out->QueryPinInfo(&info), S_OK);
    EXPECT_STREQ(info.achName, L"Out");
    EXPECT_EQ(info.dir, PINDIR_OUTPUT);
    EXPECT_EQ(info.pFilter, p.sourceFilter.get());
    info.pFilter->Release();

    ComPtr<IPin> found;
    EXPECT_EQ(p.sourceFilter->FindPin(L"Out", found.put()), S_OK);
    EXPECT_EQ(found.get(), out.get());
    EXPECT_EQ(p.sourceFilter->FindPin(L"Nope", found.put()), VFW_E_NOT_FOUND);
}

TEST_F(FrameworkTest, QueryFilterInfoGivesTheGraphNameAndTheClassId) {
    Pipeline p = build();
    FILTER_INFO info{};
    ASSERT_EQ(p.sinkFilter->QueryFilterInfo(&info), S_OK);
    EXPECT_STREQ(info.achName, L"Sink");
    EXPECT_TRUE(info.pGraph != nullptr);
    if (info.pGraph)
        info.pGraph->Release();
    CLSID clsid{};
    ASSERT_EQ(p.sinkFilter->GetClassID(&clsid), S_OK);
    EXPECT_EQ(clsid, kTestSinkClsid);
}

TEST_F(FrameworkTest, RunDeliversEverySampleInOrderThenCompletes) {
    Pipeline p = build();
    ASSERT_EQ(connect(p.graph.get(), p.sourceFilter.get(), p.sinkFilter.get()), S_OK);
    for (uint8_t i = 0; i < 20; ++i)
        p.source->stream().queue({bytesOf({i, uint8_t(i + 1), uint8_t(i + 2)}), std::nullopt});

    ASSERT_TRUE(SUCCEEDED(p.control->Run()));
    auto events = p.graph.as<IMediaEvent>(IID_IMediaEvent);
    long code = 0;
    EXPECT_EQ(events->WaitForCompletion(10000, &code), S_OK);
    EXPECT_EQ(code, EC_COMPLETE);
    ASSERT_TRUE(SUCCEEDED(p.control->Stop()));

    auto rendered = p.sink->rendered();
    ASSERT_EQ(rendered.size(), 20u);
    for (uint8_t i = 0; i < 20; ++i)
        EXPECT_EQ(rendered[i].bytes, bytesOf({i, uint8_t(i + 1), uint8_t(i + 2)}));
}

TEST_F(FrameworkTest, TimeStampedSamplesWaitForTheirStreamTime) {
    Pipeline p = build();
    ASSERT_EQ(connect(p.graph.get(), p.sourceFilter.get(), p.sinkFilter.get()), S_OK);
    const REFERENCE_TIME due = 3000000; // 300 ms
    p.source->stream().queue({bytesOf({1}), std::nullopt});
    p.source->stream().queue({bytesOf({2}), due});

    ASSERT_TRUE(SUCCEEDED(p.control->Run()));
    ASSERT_TRUE(waitFor([&] { return p.sink->count() == 2; }));
    p.control->Stop();

    auto rendered = p.sink->rendered();
    ASSERT_EQ(rendered.size(), 2u);
    ASSERT_GE(rendered[1].streamTime, 0) << "the graph gave the sink no clock";
    // The clock event may fire a little early by the clock's own rounding (1 ms).
    EXPECT_GE(rendered[1].streamTime, due - 10000);
}

TEST_F(FrameworkTest, PausedRendererHoldsTheSampleUntilRun) {
    Pipeline p = build();
    ASSERT_EQ(connect(p.graph.get(), p.sourceFilter.get(), p.sinkFilter.get()), S_OK);
    p.source->stream().queue({bytesOf({7}), std::nullopt});
    p.source->stream().queue({bytesOf({8}), std::nullopt});

    ASSERT_TRUE(SUCCEEDED(p.control->Pause()));
    ASSERT_TRUE(waitFor([&] { return p.source->stream().delivered() >= 1; }));
    Sleep(200);
    EXPECT_EQ(p.sink->count(), 0u);

    ASSERT_TRUE(SUCCEEDED(p.control->Run()));
    EXPECT_TRUE(waitFor([&] { return p.sink->count() == 2; }));
    p.control->Stop();
}

TEST_F(FrameworkTest, StopReleasesAThreadBlockedInThePausedRenderer) {
    Pipeline p = build();
    ASSERT_EQ(connect(p.graph.get(), p.sourceFilter.get(), p.sinkFilter.get()), S_OK);
    p.source->stream().queue({bytesOf({1}), std::nullopt});
    p.source->stream().queue({bytesOf({2}), std::nullopt});
    ASSERT_TRUE(SUCCEEDED(p.control->Pause()));
    ASSERT_TRUE(waitFor([&] { return p.source->stream().delivered() >= 1; }));
    // The worker is blocked inside the sink's Receive; Stop must not wait for it forever.
    EXPECT_TRUE(SUCCEEDED(p.control->Stop()));
    EXPECT_EQ(p.sink->count(), 0u);
}

TEST_F(FrameworkTest, DisconnectNeedsAStoppedFilter) {
    Pipeline p = build();
    ASSERT_EQ(connect(p.graph.get(), p.sourceFilter.get(), p.sinkFilter.get()), S_OK);
    ComPtr<IPin> in = firstPin(p.sinkFilter.get(), PINDIR_INPUT);
    ASSERT_TRUE(SUCCEEDED(p.control->Run()));
    EXPECT_EQ(in->Disconnect(), VFW_E_NOT_STOPPED);
    p.control->Stop();
    EXPECT_EQ(in->Disconnect(), S_OK);
    EXPECT_EQ(in->Disconnect(), S_FALSE);
}

TEST_F(FrameworkTest, RepeatedBuildRunStopTeardownLeavesNothingAlive) {
    long before = liveObjectCount();
    for (int cycle = 0; cycle < 100; ++cycle) {
        Pipeline p = build();
        ASSERT_EQ(connect(p.graph.get(), p.sourceFilter.get(), p.sinkFilter.get()), S_OK);
        p.source->stream().queue({bytesOf({uint8_t(cycle)}), std::nullopt});
        ASSERT_TRUE(SUCCEEDED(p.control->Run()));
        ASSERT_TRUE(waitFor([&] { return p.sink->count() == 1; }));
        ASSERT_TRUE(SUCCEEDED(p.control->Stop()));
    }
    EXPECT_EQ(liveObjectCount(), before);
}

} // namespace
} // namespace korvane::testing

namespace korvane::testing {
namespace {

// A source whose pin never sizes its allocator, so that committing it fails.
class UnsizedSource : public CSource {
  public:
    UnsizedSource() : CSource(L"Unsized source", nullptr, kTestSourceClsid) {
        HRESULT hr = S_OK;
        new Stream(&hr, this);
    }

  private:
    class Stream : public CSourceStream {
      public:
        Stream(HRESULT* phr, UnsizedSource* filter)
            : CSourceStream(L"Unsized stream", phr, filter, L"Out") {}

      protected:
        HRESULT GetMediaType(CMediaType* pmt) override {
            *pmt = CMediaType(MEDIATYPE_Stream);
            return S_OK;
        }
        HRESULT DecideBufferSize(IMemAllocator*, ALLOCATOR_PROPERTIES*) override { return S_OK; }
        HRESULT FillBuffer(IMediaSample*) override { return S_OK; }
    };
};

TEST_F(FrameworkTest, AnAllocatorThatCannotBeCommittedFailsThePauseAndStartsNoWorker) {
    auto graph = makeGraph();
    ComPtr<IBaseFilter> source(new UnsizedSource);
    ComPtr<IBaseFilter> sink(new TestSink(MEDIATYPE_Stream));
    ASSERT_EQ(graph->AddFilter(source.get(), L"Source"), S_OK);
    ASSERT_EQ(graph->AddFilter(sink.get(), L"Sink"), S_OK);
    ASSERT_EQ(connect(graph.get(), source.get(), sink.get()), S_OK);

    EXPECT_TRUE(FAILED(source->Pause()));
    FILTER_STATE state = State_Running;
    ASSERT_EQ(source->GetState(0, &state), S_OK);
    EXPECT_EQ(state, State_Stopped);
    // Still stopped, so it can be disconnected and released.
    EXPECT_EQ(firstPin(source.get(), PINDIR_OUTPUT)->Disconnect(), S_OK);
}

} // namespace
} // namespace korvane::testing

namespace korvane::testing {
namespace {

TEST_F(FrameworkTest, FlushDropsTheHeldSampleAndRefusesDeliveriesUntilItEnds) {
    Pipeline p = build();
    ASSERT_EQ(connect(p.graph.get(), p.sourceFilter.get(), p.sinkFilter.get()), S_OK);
    p.source->stream().queue({bytesOf({1}), std::nullopt});
    p.source->stream().queue({bytesOf({2}), std::nullopt});
    ASSERT_TRUE(SUCCEEDED(p.control->Pause()));
    ASSERT_TRUE(waitFor([&] { return p.sink->holding(); }));

    // The worker is blocked with sample 1 held by the paused sink; a flush releases it, and
    // the next delivery is refused, which sends the worker back to wait for a command.
    ComPtr<IPin> in = firstPin(p.sinkFilter.get(), PINDIR_INPUT);
    ASSERT_EQ(in->BeginFlush(), S_OK);
    ASSERT_TRUE(waitFor([&] { return p.source->stream().delivered() == 2; }));
    ASSERT_EQ(in->EndFlush(), S_OK);
    // A refused worker waits for the next start.
    ASSERT_TRUE(SUCCEEDED(p.control->Stop()));
    p.source->stream().queue({bytesOf({3}), std::nullopt});
    ASSERT_TRUE(SUCCEEDED(p.control->Run()));
    ASSERT_TRUE(waitFor([&] { return p.sink->count() == 1; }));
    p.control->Stop();
    auto rendered = p.sink->rendered();
    ASSERT_EQ(rendered.size(), 1u);
    EXPECT_EQ(rendered[0].bytes, bytesOf({3})) << "samples of the flush must not be rendered";
}

TEST_F(FrameworkTest, EndOfStreamWhilePausedCompletesOnlyOnceRunning) {
    Pipeline p = build();
    ASSERT_EQ(connect(p.graph.get(), p.sourceFilter.get(), p.sinkFilter.get()), S_OK);
    ASSERT_TRUE(SUCCEEDED(p.control->Pause()));
    // No data: the source reaches its end at once and the sink sees end of stream paused.
    ASSERT_TRUE(waitFor([&] { return p.source->stream().finished(); }));
    Sleep(100);
    EXPECT_EQ(p.sink->completions(), 0);
    ASSERT_TRUE(SUCCEEDED(p.control->Run()));
    EXPECT_TRUE(waitFor([&] { return p.sink->completions() == 1; }));
    auto events = p.graph.as<IMediaEvent>(IID_IMediaEvent);
    long code = 0;
    EXPECT_EQ(events->WaitForCompletion(10000, &code), S_OK);
    EXPECT_EQ(code, EC_COMPLETE);
    p.control->Stop();
}

TEST(MediaTypeTest, CopiesOwnTheirFormatBlock) {
    CMediaType original(MEDIATYPE_Video);
    original.SetSubtype(&MEDIASUBTYPE_MPEG2_VIDEO);
    original.SetFormatType(&FORMAT_VideoInfo);
    const BYTE format[] = {1, 2, 3, 4, 5};
    ASSERT_TRUE(original.SetFormat(format, sizeof format));

    CMediaType copy(original);
    ASSERT_NE(copy.Format(), original.Format());
    EXPECT_TRUE(copy == original);
    copy.Format()[0] = 9;
    EXPECT_FALSE(copy == original);
    EXPECT_EQ(original.Format()[0], 1);

    AM_MEDIA_TYPE* handedOut = CreateMediaType(&original);
    ASSERT_TRUE(handedOut);
    EXPECT_EQ(handedOut->cbFormat, sizeof format);
    EXPECT_NE(handedOut->pbFormat, original.Format());
    DeleteMediaType(handedOut);

    copy = original;
    EXPECT_TRUE(copy == original);
    copy.InitMediaType();
    EXPECT_EQ(copy.FormatLength(), 0u);
    EXPECT_FALSE(copy.IsValid());
}

TEST(MediaTypeTest, PartialTypesMatchOnTheFieldsTheyGive) {
    CMediaType full(MEDIATYPE_Video);
    full.SetSubtype(&MEDIASUBTYPE_MPEG2_VIDEO);
    full.SetFormatType(&FORMAT_None);

    CMediaType majorOnly(MEDIATYPE_Video);
    EXPECT_TRUE(majorOnly.IsPartiallySpecified());
    EXPECT_TRUE(full.MatchesPartial(&majorOnly));
    CMediaType otherMajor(MEDIATYPE_Audio);
    EXPECT_FALSE(full.MatchesPartial(&otherMajor));
    CMediaType otherSubtype(MEDIATYPE_Video);
    otherSubtype.SetSubtype(&MEDIASUBTYPE_RGB24);
    EXPECT_FALSE(full.MatchesPartial(&otherSubtype));
    CMediaType wildcard;
    EXPECT_TRUE(full.MatchesPartial(&wildcard));
    EXPECT_FALSE(full.IsPartiallySpecified());
}

// A sample that reports whatever buffer, size and length it is given, as a faulty upstream
// filter's may; only what sampleBytes asks is answered.
class ReportedSample : public IMediaSample {
  public:
    ReportedSample(BYTE* buffer, HRESULT pointerResult, long size, long length)
        : buffer_(buffer), pointerResult_(pointerResult), size_(size), length_(length) {}
    STDMETHODIMP QueryInterface(REFIID, void** ppv) override {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 1; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP GetPointer(BYTE** buffer) override {
        *buffer = buffer_;
        return pointerResult_;
    }
    STDMETHODIMP_(long) GetSize() override { return size_; }
    STDMETHODIMP GetTime(REFERENCE_TIME*, REFERENCE_TIME*) override { return E_NOTIMPL; }
    STDMETHODIMP SetTime(REFERENCE_TIME*, REFERENCE_TIME*) override { return E_NOTIMPL; }
    STDMETHODIMP IsSyncPoint() override { return S_FALSE; }
    STDMETHODIMP SetSyncPoint(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP IsPreroll() override { return S_FALSE; }
    STDMETHODIMP SetPreroll(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP_(long) GetActualDataLength() override { return length_; }
    STDMETHODIMP SetActualDataLength(long) override { return E_NOTIMPL; }
    STDMETHODIMP GetMediaType(AM_MEDIA_TYPE**) override { return S_FALSE; }
    STDMETHODIMP SetMediaType(AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    STDMETHODIMP IsDiscontinuity() override { return S_FALSE; }
    STDMETHODIMP SetDiscontinuity(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP GetMediaTime(LONGLONG*, LONGLONG*) override { return E_NOTIMPL; }
    STDMETHODIMP SetMediaTime(LONGLONG*, LONGLONG*) override { return E_NOTIMPL; }

  private:
    BYTE* buffer_;
    HRESULT pointerResult_;
    long size_;
    long length_;
};

TEST(SampleBytesTest, GiveTheActualLengthWithinTheBufferAndNothingWithoutOne) {
    BYTE buffer[188] = {};
    const struct {
        BYTE* buffer;
        HRESULT pointerResult;
        long size;
        long length;
        std::size_t expected;
    } cases[] = {
        {buffer, S_OK, 188, 100, 100},  {buffer, S_OK, 188, 188, 188},
        {buffer, S_OK, 188, 4096, 188}, {buffer, S_OK, 188, 0, 0},
        {buffer, S_OK, 188, -5, 0},     {buffer, E_FAIL, 188, 100, 0},
        {nullptr, S_OK, 188, 100, 0},
    };
    for (const auto& c : cases) {
        ReportedSample sample(c.buffer, c.pointerResult, c.size, c.length);
        std::span<const uint8_t> bytes = sampleBytes(&sample);
        EXPECT_EQ(bytes.size(), c.expected) << c.size << " " << c.length;
        if (c.expected) {
            EXPECT_EQ(bytes.data(), buffer);
        }
    }
    EXPECT_TRUE(sampleBytes(nullptr).empty());
}

} // namespace
} // namespace korvane::testing
