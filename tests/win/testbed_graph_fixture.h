#pragma once

// The testbed's head of a graph as the program builds it: virtual tuner -> platform sample
// grabber -> demultiplexer stand-in, playing the multiplexes generated for the tests eight
// times faster than broadcast; and a check that no testbed object outlives its graph.

#include "../../testbed/testbed_guids.h"
#include "dshow_test_filters.h"
#include "graph/platform_guids.h"
#include "testbed_support.h"

#include <vector>

namespace korvane::testing {

// The file pace: four seconds of multiplex play in half a second.
inline constexpr const wchar_t* kTestbedSpeed = L"8";

class TestbedGraphTest : public ComTest {
  protected:
    void SetUp() override {
        ComTest::SetUp();
        SetEnvironmentVariableW(L"KORVANE_TESTBED_DIR",
                                windowsPath(KORVANE_BINARY_DIR "/testbed-data").c_str());
        SetEnvironmentVariableW(L"KORVANE_TESTBED_SPEED", kTestbedSpeed);
        graph_ = makeGraph();
        ASSERT_TRUE(graph_);
        tuner_ = create(testbed::kClsidUsbTuner, L"Clé USB");
        grabber_ = create(kClsidSampleGrabber, L"Grabber");
        demux_ = create(testbed::kClsidMpeg2Demultiplexer, L"Demux");
        ASSERT_TRUE(tuner_ && grabber_ && demux_);
        ASSERT_EQ(connect(graph_.get(), tuner_.get(), grabber_.get()), S_OK);
        ASSERT_EQ(connect(graph_.get(), grabber_.get(), demux_.get()), S_OK);
        demuxControl_ = demux_.as<IMpeg2Demultiplexer>();
        ASSERT_TRUE(demuxControl_);
    }

    void TearDown() override {
        if (graph_) {
            if (auto control = graph_.as<IMediaControl>())
                control->Stop();
        }
        sinks_.clear();
        demuxControl_ = nullptr;
        tuner_ = nullptr;
        grabber_ = nullptr;
        demux_ = nullptr;
        graph_ = nullptr;
        EXPECT_EQ(testbedLiveObjects(), 0) << "testbed objects outlived their graph";
        ComTest::TearDown();
    }

    ComPtr<IBaseFilter> create(const CLSID& clsid, const wchar_t* name) {
        ComPtr<IBaseFilter> filter;
        if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                    filter.putVoid())))
            return {};
        if (FAILED(graph_->AddFilter(filter.get(), name)))
            return {};
        return filter;
    }

    void tune(ULONG khz) {
        auto control = tuner_.as<IBDA_DeviceControl>();
        auto frequency = tuner_.as<IBDA_FrequencyFilter>();
        ASSERT_TRUE(control && frequency);
        control->StartChanges();
        frequency->put_Bandwidth(8);
        frequency->put_Frequency(khz);
        control->CheckChanges();
        ASSERT_EQ(control->CommitChanges(), S_OK);
    }

    void run() {
        auto control = graph_.as<IMediaControl>();
        ASSERT_TRUE(control);
        ASSERT_TRUE(SUCCEEDED(control->Run()));
    }

    void stop() { graph_.as<IMediaControl>()->Stop(); }

    ComPtr<IFilterGraph2> graph_;
    ComPtr<IBaseFilter> tuner_;
    ComPtr<IBaseFilter> grabber_;
    ComPtr<IBaseFilter> demux_;
    ComPtr<IMpeg2Demultiplexer> demuxControl_;
    std::vector<ComPtr<IBaseFilter>> sinks_; // filters of the test, released before the check
};

} // namespace korvane::testing
