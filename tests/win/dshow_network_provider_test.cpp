#include "dshow_test_filters.h"

#include "graph/network_provider.h"
#include "graph/platform_guids.h"

namespace korvane::testing {
namespace {

// Stands in for a tuner's antenna input: accepts the antenna type and counts what arrives.
class AntennaInput : public TestSink {
  public:
    AntennaInput() : TestSink(kMediaTypeBdaAntenna) {}
};

class NetworkProviderTest : public ComTest {
  protected:
    void SetUp() override {
        ComTest::SetUp();
        graph = makeGraph();
        provider = ComPtr<IBaseFilter>(new CNetworkProvider(nullptr, &hr, kClsidNetworkProvider));
        ASSERT_EQ(graph->AddFilter(provider.get(), L"Fake"), S_OK);
    }
    void TearDown() override {
        provider.reset();
        graph.reset();
        ComTest::TearDown();
    }

    ComPtr<IPin> pipin() { return firstPin(provider.get(), PINDIR_OUTPUT); }

    HRESULT hr = S_OK;
    ComPtr<IFilterGraph2> graph;
    ComPtr<IBaseFilter> provider;
};

TEST_F(NetworkProviderTest, HasOneOutputPinNamedPipin) {
    ComPtr<IEnumPins> pins;
    ASSERT_EQ(provider->EnumPins(pins.put()), S_OK);
    IPin* got[2] = {};
    ULONG fetched = 0;
    pins->Next(2, got, &fetched);
    ASSERT_EQ(fetched, 1u);
    ComPtr<IPin> pin = ComPtr<IPin>::adopt(got[0]);
    PIN_INFO info{};
    ASSERT_EQ(pin->QueryPinInfo(&info), S_OK);
    EXPECT_STREQ(info.achName, L"Pipin");
    EXPECT_EQ(info.dir, PINDIR_OUTPUT);
    info.pFilter->Release();

    CLSID clsid{};
    provider->GetClassID(&clsid);
    EXPECT_EQ(clsid, kClsidNetworkProvider);
    FILTER_INFO filterInfo{};
    ASSERT_EQ(provider->QueryFilterInfo(&filterInfo), S_OK);
    EXPECT_STREQ(filterInfo.achName, L"Fake");
    filterInfo.pGraph->Release();
}

TEST_F(NetworkProviderTest, EnumeratesExactlyTheAntennaType) {
    ComPtr<IEnumMediaTypes> types;
    ASSERT_EQ(pipin()->EnumMediaTypes(types.put()), S_OK);
    AM_MEDIA_TYPE* mt[3] = {};
    ULONG fetched = 0;
    EXPECT_EQ(types->Next(3, mt, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 1u);
    EXPECT_EQ(mt[0]->majortype, kMediaTypeBdaAntenna);
    EXPECT_EQ(mt[0]->subtype, GUID_NULL);
    EXPECT_EQ(mt[0]->formattype, GUID_NULL);
    EXPECT_EQ(mt[0]->cbFormat, 0u);
    DeleteMediaType(mt[0]);
}

TEST_F(NetworkProviderTest, AcceptsOnlyTheAntennaMajorType) {
    ComPtr<IPin> pin = pipin();
    CMediaType antenna(kMediaTypeBdaAntenna);
    antenna.SetSubtype(&MEDIASUBTYPE_MPEG2_TRANSPORT); // any subtype will do
    EXPECT_EQ(pin->QueryAccept(&antenna), S_OK);
    for (const GUID* other :
         {&MEDIATYPE_Stream, &MEDIATYPE_Video, &kMediaTypeMpeg2Sections, &GUID_NULL}) {
        CMediaType type(*other);
        EXPECT_EQ(pin->QueryAccept(&type), S_FALSE);
    }
}

TEST_F(NetworkProviderTest, RefusesAnInputOfAnotherMajorType) {
    ComPtr<IBaseFilter> sink(new TestSink(MEDIATYPE_Stream));
    ASSERT_EQ(graph->AddFilter(sink.get(), L"Sink"), S_OK);
    EXPECT_TRUE(FAILED(connect(graph.get(), provider.get(), sink.get())));
    ComPtr<IPin> peer;
    EXPECT_EQ(pipin()->ConnectedTo(peer.put()), VFW_E_NOT_CONNECTED);
}

TEST_F(NetworkProviderTest, RunsAndStopsItsWorkerThreadManyTimes) {
    auto* antenna = new AntennaInput;
    ComPtr<IBaseFilter> sink(antenna);
    ASSERT_EQ(graph->AddFilter(sink.get(), L"Network Tuner"), S_OK);
    ASSERT_EQ(connect(graph.get(), provider.get(), sink.get()), S_OK);
    auto control = graph.as<IMediaControl>(IID_IMediaControl);

    for (int i = 0; i < 50; ++i) {
        std::size_t before = antenna->count();
        ASSERT_TRUE(SUCCEEDED(control->Run())) << "cycle " << i;
        // The worker delivers while the graph runs.
        ASSERT_TRUE(waitFor([&] { return antenna->count() > before; })) << "cycle " << i;
        ASSERT_EQ(control->Stop(), S_OK) << "cycle " << i;
        // Stopped means the worker has ended: nothing arrives any more.
        std::size_t stopped = antenna->count();
        Sleep(20);
        ASSERT_EQ(antenna->count(), stopped) << "cycle " << i;
    }
}

} // namespace
} // namespace korvane::testing

namespace korvane::testing {
namespace {

// A tuner's antenna input that counts the samples it takes, in one of three manners.
enum class Manner {
    // Takes one sample and then asks for no more (S_FALSE), as a tuner that has no use for
    // the provider's buffers may answer.
    TakesOneThenRefuses,
    // Takes every sample while its filter streams, so that a paused provider's worker
    // delivers in a tight loop.
    TakesAll,
    // Takes every sample whatever its state and lets go of its side of the connection
    // whenever asked, so that a provider can be left active and connected to it after every
    // other reference has gone, as when a filter is released outside its graph.
    TakesAllLetsGo,
};

class CountingAntenna : public CBaseFilter {
  public:
    explicit CountingAntenna(Manner manner)
        : CBaseFilter(L"Counting antenna", nullptr, &lock_, kTestSinkClsid), manner_(manner) {
        pin_ = new Pin(this, &lock_);
    }
    ~CountingAntenna() override { delete pin_; }
    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int index) override { return index == 0 ? pin_ : nullptr; }
    long received() const { return received_; }

  private:
    class Pin : public CBaseInputPin {
      public:
        Pin(CountingAntenna* filter, CCritSec* lock)
            : CBaseInputPin(L"Antenna", filter, lock, nullptr, L"Antenne"), filter_(filter) {}
        HRESULT CheckMediaType(const CMediaType* pmt) override {
            return *pmt->Type() == kMediaTypeBdaAntenna ? S_OK : E_FAIL;
        }
        HRESULT STDMETHODCALLTYPE Receive(IMediaSample* sample) override {
            const Manner manner = filter_->manner_;
            HRESULT hr = manner == Manner::TakesAllLetsGo ? S_OK : CBaseInputPin::Receive(sample);
            if (hr != S_OK)
                return hr;
            InterlockedIncrement(&filter_->received_);
            return manner == Manner::TakesOneThenRefuses ? S_FALSE : S_OK;
        }
        HRESULT STDMETHODCALLTYPE Disconnect() override {
            if (filter_->manner_ != Manner::TakesAllLetsGo)
                return CBaseInputPin::Disconnect();
            CAutoLock lock(m_pLock);
            return DisconnectInternal();
        }

      private:
        CountingAntenna* filter_;
    };

    CCritSec lock_;
    Manner manner_;
    Pin* pin_;
    volatile long received_ = 0;
};

TEST_F(NetworkProviderTest, WorkerIdlesWhenTheTunerWantsNoBuffers) {
    auto* antenna = new CountingAntenna(Manner::TakesOneThenRefuses);
    ComPtr<IBaseFilter> tuner(antenna);
    ASSERT_EQ(graph->AddFilter(tuner.get(), L"Network Tuner"), S_OK);
    ASSERT_EQ(connect(graph.get(), provider.get(), tuner.get()), S_OK);
    auto control = graph.as<IMediaControl>(IID_IMediaControl);
    for (long run = 1; run <= 5; ++run) {
        ASSERT_TRUE(SUCCEEDED(control->Run()));
        ASSERT_TRUE(waitFor([&] { return antenna->received() == run; }));
        Sleep(50);
        EXPECT_EQ(antenna->received(), run) << "one buffer per run, then the worker waits";
        ASSERT_EQ(control->Stop(), S_OK);
    }
}

TEST_F(NetworkProviderTest, KeepsTheAllocatorSizeTheTunerAskedFor) {
    auto* antenna = new AntennaInput;
    ComPtr<IBaseFilter> sink(antenna);
    ASSERT_EQ(graph->AddFilter(sink.get(), L"Network Tuner"), S_OK);
    ComPtr<IPin> in = firstPin(sink.get(), PINDIR_INPUT);
    auto memInput = in.as<IMemInputPin>(IID_IMemInputPin);
    ComPtr<IMemAllocator> alloc;
    ASSERT_EQ(memInput->GetAllocator(alloc.put()), S_OK);
    ALLOCATOR_PROPERTIES asked{3, 4096, 1, 0}, actual{};
    ASSERT_EQ(alloc->SetProperties(&asked, &actual), S_OK);

    ASSERT_EQ(connect(graph.get(), provider.get(), sink.get()), S_OK);
    ALLOCATOR_PROPERTIES now{};
    ASSERT_EQ(alloc->GetProperties(&now), S_OK);
    EXPECT_EQ(now.cBuffers, 3);
    EXPECT_EQ(now.cbBuffer, 4096);
}

} // namespace
} // namespace korvane::testing

namespace korvane::testing {
namespace {

TEST_F(ComTest, ProviderGraphsBuiltAndTornDownRepeatedlyLeaveNothingAlive) {
    long before = liveObjectCount();
    for (int cycle = 0; cycle < 100; ++cycle) {
        auto graph = makeGraph();
        HRESULT hr = S_OK;
        ComPtr<IBaseFilter> provider(new CNetworkProvider(nullptr, &hr, kClsidNetworkProvider));
        auto* antenna = new AntennaInput;
        ComPtr<IBaseFilter> tuner(antenna);
        ASSERT_EQ(graph->AddFilter(provider.get(), L"Fake"), S_OK);
        ASSERT_EQ(graph->AddFilter(tuner.get(), L"Clé USB"), S_OK);
        ASSERT_EQ(connect(graph.get(), provider.get(), tuner.get()), S_OK);
        auto control = graph.as<IMediaControl>(IID_IMediaControl);
        ASSERT_TRUE(SUCCEEDED(control->Run())) << "cycle " << cycle;
        ASSERT_TRUE(waitFor([&] { return antenna->count() > 0; })) << "cycle " << cycle;
        ASSERT_EQ(control->Stop(), S_OK) << "cycle " << cycle;
    }
    EXPECT_EQ(liveObjectCount(), before);
}

} // namespace
} // namespace korvane::testing

namespace korvane::testing {
namespace {

// A filter that cannot leave Stopped, as a tuner whose Pause and Run fail: the graph's Run
// fails, after it has paused the other filters.
class StubbornFilter : public CBaseFilter {
  public:
    StubbornFilter() : CBaseFilter(L"Stubborn filter", nullptr, &lock_, kTestSinkClsid) {}
    int GetPinCount() override { return 0; }
    CBasePin* GetPin(int) override { return nullptr; }
    HRESULT STDMETHODCALLTYPE Pause() override { return E_FAIL; }
    HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME) override { return E_FAIL; }

  private:
    CCritSec lock_;
};

TEST_F(ComTest, AProviderLeftPausedByAFailedRunIsReleasedWithoutStop) {
    const long before = liveObjectCount();
    for (int cycle = 0; cycle < 50; ++cycle) {
        auto graph = makeGraph();
        HRESULT hr = S_OK;
        ComPtr<IBaseFilter> provider(new CNetworkProvider(nullptr, &hr, kClsidNetworkProvider));
        auto* antenna = new CountingAntenna(Manner::TakesAll);
        ComPtr<IBaseFilter> tuner(antenna);
        ComPtr<IBaseFilter> stubborn(new StubbornFilter);
        ASSERT_EQ(graph->AddFilter(provider.get(), L"Fake"), S_OK);
        ASSERT_EQ(graph->AddFilter(tuner.get(), L"Clé USB"), S_OK);
        ASSERT_EQ(graph->AddFilter(stubborn.get(), L"Têtu"), S_OK);
        ASSERT_EQ(connect(graph.get(), provider.get(), tuner.get()), S_OK);
        EXPECT_TRUE(FAILED(graph.as<IMediaControl>(IID_IMediaControl)->Run()));
        FILTER_STATE state = State_Stopped;
        provider->GetState(0, &state);
        ASSERT_NE(state, State_Stopped) << "the graph left the provider paused";
        // The worker delivers until the graph and the filters go, with nobody stopping them.
        ASSERT_TRUE(waitFor([&] { return antenna->received() > 10; })) << "cycle " << cycle;
        graph.reset();
        stubborn.reset();
        tuner.reset();
        provider.reset();
        ASSERT_EQ(liveObjectCount(), before) << "cycle " << cycle;
    }
}

} // namespace
} // namespace korvane::testing

namespace korvane::testing {
namespace {

TEST_F(ComTest, AProviderReleasedWhilePausedAndConnectedStopsItsWorkerAndLeavesNothingAlive) {
    const long before = liveObjectCount();
    for (int cycle = 0; cycle < 50; ++cycle) {
        HRESULT hr = S_OK;
        ComPtr<IBaseFilter> provider(new CNetworkProvider(nullptr, &hr, kClsidNetworkProvider));
        auto* antenna = new CountingAntenna(Manner::TakesAllLetsGo);
        ComPtr<IBaseFilter> tuner(antenna);
        ComPtr<IPin> out = firstPin(provider.get(), PINDIR_OUTPUT);
        ComPtr<IPin> in = firstPin(tuner.get(), PINDIR_INPUT);
        ASSERT_EQ(out->Connect(in.get(), nullptr), S_OK);
        ASSERT_EQ(provider->Pause(), S_OK);
        // The worker fills and delivers buffers in a tight loop while the provider goes.
        ASSERT_TRUE(waitFor([&] { return antenna->received() > 10; })) << "cycle " << cycle;
        ASSERT_EQ(in->Disconnect(), S_OK);
        in.reset();
        out.reset();
        tuner.reset();
        provider.reset();
        ASSERT_EQ(liveObjectCount(), before) << "cycle " << cycle;
    }
}

} // namespace
} // namespace korvane::testing
