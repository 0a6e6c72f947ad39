#pragma once

// Small filters built on the framework, used by the Windows tests: a source that plays a
// queue of byte buffers and a sink renderer that records what it renders.

#include "dshow/com_ptr.h"
#include "dshow/renderer.h"
#include "dshow/source.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <vector>

namespace korvane::testing {

// {6A1C3B52-6F0E-4E5B-9D7A-2C4E8B1F0A01}
inline constexpr CLSID kTestSourceClsid = {
    0x6a1c3b52, 0x6f0e, 0x4e5b, {0x9d, 0x7a, 0x2c, 0x4e, 0x8b, 0x1f, 0x0a, 0x01}};
// {6A1C3B52-6F0E-4E5B-9D7A-2C4E8B1F0A02}
inline constexpr CLSID kTestSinkClsid = {
    0x6a1c3b52, 0x6f0e, 0x4e5b, {0x9d, 0x7a, 0x2c, 0x4e, 0x8b, 0x1f, 0x0a, 0x02}};

struct TestBuffer {
    std::vector<uint8_t> bytes;
    std::optional<REFERENCE_TIME> start; // stream time, 100-ns units
    // A new media type for this buffer on, asked of the downstream pin first, as a decoder
    // does after a format change.
    std::optional<CMediaType> type = std::nullopt;
};

// The first pin of a filter in the given direction.
inline ComPtr<IPin> firstPinOf(IBaseFilter* filter, PIN_DIRECTION wanted) {
    ComPtr<IEnumPins> pins;
    if (!filter || FAILED(filter->EnumPins(pins.put())))
        return {};
    for (;;) {
        ComPtr<IPin> pin;
        if (pins->Next(1, pin.put(), nullptr) != S_OK)
            return {};
        PIN_DIRECTION dir;
        if (SUCCEEDED(pin->QueryDirection(&dir)) && dir == wanted)
            return pin;
    }
}

class TestSource;

class TestSourceStream : public CSourceStream {
  public:
    TestSourceStream(HRESULT* phr, TestSource* filter, const CMediaType& type, long bufferSize);

    void queue(TestBuffer buffer) {
        std::lock_guard lock(mutex_);
        buffers_.push_back(std::move(buffer));
    }
    int delivered() const {
        std::lock_guard lock(mutex_);
        return delivered_;
    }
    bool finished() const {
        std::lock_guard lock(mutex_);
        return finished_;
    }
    // With an empty queue, wait for more buffers until finish() instead of ending the stream.
    void waitWhenEmpty() {
        std::lock_guard lock(mutex_);
        waitWhenEmpty_ = true;
    }
    void finish() {
        std::lock_guard lock(mutex_);
        waitWhenEmpty_ = false;
    }

  protected:
    HRESULT GetMediaType(CMediaType* pmt) override {
        *pmt = type_;
        return S_OK;
    }
    HRESULT DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* request) override {
        request->cBuffers = 2;
        request->cbBuffer = bufferSize_;
        ALLOCATOR_PROPERTIES actual{};
        HRESULT hr = alloc->SetProperties(request, &actual);
        if (FAILED(hr))
            return hr;
        return actual.cbBuffer < bufferSize_ ? E_FAIL : S_OK;
    }
    HRESULT FillBuffer(IMediaSample* sample) override {
        TestBuffer next;
        for (;;) {
            {
                std::lock_guard lock(mutex_);
                if (!buffers_.empty()) {
                    next = std::move(buffers_.front());
                    buffers_.pop_front();
                    ++delivered_;
                    break;
                }
                if (!waitWhenEmpty_) {
                    finished_ = true;
                    return S_FALSE;
                }
            }
            // The filter is stopping: end the stream so that the worker can answer.
            DWORD request = 0;
            if (CheckRequest(&request))
                return S_FALSE;
            Sleep(5);
        }
        if (next.type) {
            if (!m_Connected || m_Connected->QueryAccept(&*next.type) != S_OK)
                return VFW_E_TYPE_NOT_ACCEPTED;
            sample->SetMediaType(&*next.type);
        }
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        long size = static_cast<long>(next.bytes.size());
        if (size > sample->GetSize())
            size = sample->GetSize();
        if (size > 0)
            std::memcpy(data, next.bytes.data(), static_cast<std::size_t>(size));
        sample->SetActualDataLength(size);
        if (next.start) {
            REFERENCE_TIME start = *next.start;
            REFERENCE_TIME stop = start + 1;
            sample->SetTime(&start, &stop);
        } else {
            sample->SetTime(nullptr, nullptr);
        }
        return S_OK;
    }

  private:
    CMediaType type_;
    long bufferSize_;
    mutable std::mutex mutex_;
    std::deque<TestBuffer> buffers_;
    int delivered_ = 0;
    bool finished_ = false;
    bool waitWhenEmpty_ = false;
};

class TestSource : public CSource {
  public:
    explicit TestSource(const CMediaType& type, long bufferSize = 4096)
        : CSource(L"Test source", nullptr, kTestSourceClsid) {
        HRESULT hr = S_OK;
        stream_ = new TestSourceStream(&hr, this, type, bufferSize);
    }
    TestSourceStream& stream() { return *stream_; }

  private:
    TestSourceStream* stream_;
};

inline TestSourceStream::TestSourceStream(HRESULT* phr, TestSource* filter, const CMediaType& type,
                                          long bufferSize)
    : CSourceStream(L"Test source stream", phr, filter, L"Out"), type_(type),
      bufferSize_(bufferSize) {}

// A sink that accepts one major type and records every rendered buffer with the stream time
// at which it was rendered.
class TestSink : public CBaseRenderer {
  public:
    struct Rendered {
        std::vector<uint8_t> bytes;
        REFERENCE_TIME streamTime; // -1 without a clock
    };

    explicit TestSink(const GUID& majorType)
        : CBaseRenderer(kTestSinkClsid, L"Test sink", nullptr, nullptr), major_(majorType) {}

    HRESULT CheckMediaType(const CMediaType* pmt) override {
        return *pmt->Type() == major_ ? S_OK : E_FAIL;
    }
    HRESULT DoRenderSample(IMediaSample* sample) override {
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        long n = sample->GetActualDataLength();
        REFERENCE_TIME now = -1;
        if (FAILED(StreamTime(now)))
            now = -1;
        std::lock_guard lock(mutex_);
        rendered_.push_back({std::vector<uint8_t>(data, data + n), now});
        return S_OK;
    }
    std::vector<Rendered> rendered() const {
        std::lock_guard lock(mutex_);
        return rendered_;
    }
    std::size_t count() const {
        std::lock_guard lock(mutex_);
        return rendered_.size();
    }
    // True while a delivered sample waits in the renderer.
    bool holding() {
        CAutoLock lock(&m_RendererLock);
        return m_pMediaSample != nullptr;
    }
    int completions() const { return completions_; }
    HRESULT SendEndOfStream() override {
        if (!m_bEOSDelivered)
            ++completions_;
        return CBaseRenderer::SendEndOfStream();
    }

  private:
    GUID major_;
    std::atomic<int> completions_{0};
    mutable std::mutex mutex_;
    std::vector<Rendered> rendered_;
};

// COM for the calling test thread, with a check that every object of ours created during
// the test is gone at its end.
class ComTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
        liveAtStart_ = liveObjectCount();
    }
    void TearDown() override {
        EXPECT_EQ(liveObjectCount(), liveAtStart_) << "objects of ours outlived the test";
        CoUninitialize();
    }

    static ComPtr<IFilterGraph2> makeGraph() {
        ComPtr<IFilterGraph2> graph;
        EXPECT_TRUE(SUCCEEDED(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER,
                                               IID_IFilterGraph2, graph.putVoid())));
        return graph;
    }

    static ComPtr<IPin> firstPin(IBaseFilter* filter, PIN_DIRECTION wanted) {
        return firstPinOf(filter, wanted);
    }

    static HRESULT connect(IFilterGraph2* graph, IBaseFilter* from, IBaseFilter* to) {
        ComPtr<IPin> out = firstPin(from, PINDIR_OUTPUT);
        ComPtr<IPin> in = firstPin(to, PINDIR_INPUT);
        if (!out || !in)
            return E_FAIL;
        return graph->ConnectDirect(out.get(), in.get(), nullptr);
    }

  private:
    long liveAtStart_ = 0;
};

// Polls until the condition holds or about ten seconds have passed.
template <class Condition> bool waitFor(Condition condition) {
    for (int i = 0; i < 1000; ++i) {
        if (condition())
            return true;
        Sleep(10);
    }
    return condition();
}

} // namespace korvane::testing
