#pragma once

// Stand-in for the platform's MPEG-2 demultiplexer: one transport-stream input, output pins
// created on request, each with its own PID map. PSI outputs receive one whole section per
// sample (its PID in the sample's media time, which the section reader relies on),
// elementary-stream outputs receive PES payloads stamped from their PTS, transport-packet
// outputs the packets themselves. Map changes take effect from the next packet.

#include "dshow/base_filter.h"
#include "dshow/base_pin.h"
#include "si/section_assembler.h"
#include "si/ts_packet.h"
#include "testbed_guids.h"

#include <atomic>
#include <map>
#include <memory>
#include <utility>
#include <vector>

namespace korvane::testbed {

class DemuxFilter;

class DemuxInputPin : public CBaseInputPin {
  public:
    DemuxInputPin(DemuxFilter* filter, CCritSec* lock, HRESULT* phr);
    HRESULT CheckMediaType(const CMediaType* pmt) override;
    HRESULT STDMETHODCALLTYPE Receive(IMediaSample* sample) override;
    HRESULT STDMETHODCALLTYPE EndOfStream() override;
    HRESULT STDMETHODCALLTYPE BeginFlush() override;
    HRESULT STDMETHODCALLTYPE EndFlush() override;

  private:
    DemuxFilter* demux_;
};

// What an output pin carries for one mapped PID, and the assembly state that goes with it.
struct PidRoute {
    MEDIA_SAMPLE_CONTENT content = MEDIA_MPEG2_PSI;
    SectionAssembler sections;
    std::vector<uint8_t> pes;
    bool pesBroken = true; // until the next unit start
    int lastCounter = -1;
    // The first section after the map has been written to the trace.
    bool sectionTraced = false;
};

class DemuxOutputPin : public CBaseOutputPin, public IMPEG2PIDMap {
  public:
    DemuxOutputPin(DemuxFilter* filter, CCritSec* lock, HRESULT* phr, const wchar_t* name,
                   const AM_MEDIA_TYPE& type);
    DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    HRESULT CheckMediaType(const CMediaType* pmt) override;
    HRESULT GetMediaType(int position, CMediaType* pmt) override;
    HRESULT DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* request) override;

    // IMPEG2PIDMap
    HRESULT STDMETHODCALLTYPE MapPID(ULONG count, ULONG* pids,
                                     MEDIA_SAMPLE_CONTENT content) override;
    HRESULT STDMETHODCALLTYPE UnmapPID(ULONG count, ULONG* pids) override;
    HRESULT STDMETHODCALLTYPE EnumPIDMap(IEnumPIDMap** out) override;

    void SetType(const AM_MEDIA_TYPE& type) { type_ = type; }
    // Streaming thread, under the filter's map lock.
    std::map<uint16_t, PidRoute>& Routes() { return routes_; }
    // Under the map lock: the next sample of this output starts a new stream (a PID was
    // mapped, or the clock of the stream jumped).
    void MarkDiscontinuity() { discontinuity_ = true; }
    bool TakeDiscontinuity() { return std::exchange(discontinuity_, false); }

  private:
    DemuxFilter* demux_;
    CMediaType type_;
    std::map<uint16_t, PidRoute> routes_;
    bool discontinuity_ = true;
};

class DemuxFilter : public CBaseFilter, public IMpeg2Demultiplexer {
  public:
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* phr);
    ~DemuxFilter() override;
    DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    int GetPinCount() override;
    CBasePin* GetPin(int index) override;
    HRESULT STDMETHODCALLTYPE Stop() override;
    HRESULT STDMETHODCALLTYPE Pause() override;
    HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME start) override;

    // IMpeg2Demultiplexer
    HRESULT STDMETHODCALLTYPE CreateOutputPin(AM_MEDIA_TYPE* type, LPWSTR name,
                                              IPin** pin) override;
    HRESULT STDMETHODCALLTYPE SetOutputPinMediaType(LPWSTR name, AM_MEDIA_TYPE* type) override;
    HRESULT STDMETHODCALLTYPE DeleteOutputPin(LPWSTR name) override;

    // Streaming side.
    HRESULT Process(const uint8_t* data, size_t size);
    // Asks for the assembly state to be dropped before the next data; never waits for a
    // delivery in progress, which may be blocked downstream while the graph stops.
    void ResetStreams() { resetPending_ = true; }
    // Guards every output's PID map and assembly state.
    CCritSec* MapLock() { return &mapLock_; }

  private:
    DemuxFilter(IUnknown* outer, HRESULT* phr);
    struct Delivery {
        DemuxOutputPin* pin;
        std::vector<uint8_t> bytes;
        bool timed = false;
        REFERENCE_TIME start = 0;
        bool discontinuity = false;
        LONGLONG mediaTime = -1;
    };
    void route(const TsPacket& packet, std::vector<Delivery>& out);
    void finishPes(DemuxOutputPin* pin, PidRoute& route, std::vector<Delivery>& out);
    void notePcr(uint64_t pcr);

    CCritSec lock_;
    CCritSec mapLock_;
    CCritSec receiveLock_;
    std::unique_ptr<DemuxInputPin> input_;
    std::vector<std::unique_ptr<DemuxOutputPin>> outputs_;
    TsPacketSplitter splitter_;
    // Stream-time anchor: PCR value (27 MHz) seen at stream time anchorTime_.
    bool anchored_ = false;
    uint64_t anchorPcr_ = 0;
    REFERENCE_TIME anchorTime_ = 0;
    // Performance-counter time at which stream time 0 falls, while running; until the graph
    // runs, stream time stands at pausedStreamTime_.
    REFERENCE_TIME runStart_ = 0;
    bool running_ = false;
    REFERENCE_TIME pausedStreamTime_ = 0;
    REFERENCE_TIME streamTimeNow() const;
    uint64_t lastPcr_ = 0;
    std::atomic<bool> resetPending_{true};
};

} // namespace korvane::testbed
