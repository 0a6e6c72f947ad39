#pragma once

// The testbed's decoder filters: one class for every kind (MPEG-2 and H.264 video, MPEG
// audio, AC-3 and E-AC-3), on libavcodec. The input pin queues what the demultiplexer
// delivers and returns at once; a thread of the filter's own parses, decodes, converts and
// delivers downstream, so that a renderer that holds a sample until its presentation time
// never stalls the demultiplexer's other outputs. When the queue is full (the renderer is
// paused, or the stream comes faster than it plays) new input is dropped and decoding picks
// up again at the next key frame.

#include "decoder_guids.h"
#include "dshow/base_filter.h"
#include "dshow/base_pin.h"
#include "dshow/com_ptr.h"
#include "frame_convert.h"
#include "statistics_page.h"
#include "testbed_settings.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

namespace korvane::testbed {

struct DecoderInput {
    const GUID* subtype;
    AVCodecID codec;
};

// What distinguishes one registered decoder from another.
struct DecoderKind {
    const CLSID* clsid;
    const wchar_t* name;
    bool video;
    std::span<const DecoderInput> inputs;
    Fault refuseRenderer; // the switch that makes its output refuse every connection
};

enum class DecoderId { Mpeg2Video, H264Video, MpegAudio, Ac3Audio, Count };
const DecoderKind& decoderKind(DecoderId id);

class DecoderFilter;
class StreamDecoder;

class DecoderInputPin : public CBaseInputPin {
  public:
    DecoderInputPin(DecoderFilter* filter, CCritSec* lock, HRESULT* phr);
    HRESULT CheckMediaType(const CMediaType* pmt) override;
    HRESULT STDMETHODCALLTYPE Receive(IMediaSample* sample) override;
    HRESULT STDMETHODCALLTYPE EndOfStream() override;
    HRESULT STDMETHODCALLTYPE BeginFlush() override;
    HRESULT STDMETHODCALLTYPE EndFlush() override;

  private:
    DecoderFilter* decoder_;
};

class DecoderOutputPin : public CBaseOutputPin {
  public:
    DecoderOutputPin(DecoderFilter* filter, CCritSec* lock, HRESULT* phr);
    HRESULT CheckMediaType(const CMediaType* pmt) override;
    HRESULT GetMediaType(int position, CMediaType* pmt) override;
    HRESULT SetMediaType(const CMediaType* pmt) override;
    HRESULT DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* request) override;
    HRESULT STDMETHODCALLTYPE ConnectionMediaType(AM_MEDIA_TYPE* pmt) override;

    // The streaming thread changes the connection's type when the downstream pin accepted
    // a new format; the state lock is not for it, so the type has a lock of its own.
    CMediaType ConnectionType();
    void ChangeConnectionType(const CMediaType& type);
    IPin* Peer() const { return m_Connected; }

  private:
    DecoderFilter* decoder_;
    std::mutex typeLock_;
};

class DecoderFilter : public CBaseFilter,
                      public ISpecifyPropertyPages,
                      public IStatisticsSource,
                      public IDecoderStatistics {
  public:
    static CUnknown* Create(const DecoderKind& kind, IUnknown* outer, HRESULT* phr);
    ~DecoderFilter() override;

    DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    int GetPinCount() override { return 2; }
    CBasePin* GetPin(int index) override;
    HRESULT STDMETHODCALLTYPE Stop() override;
    HRESULT STDMETHODCALLTYPE Pause() override;

    // ISpecifyPropertyPages
    HRESULT STDMETHODCALLTYPE GetPages(CAUUID* pages) override;
    // IStatisticsSource: what the property page shows
    HRESULT STDMETHODCALLTYPE GetStatistics(LPWSTR* title, LPWSTR* lines) override;
    // IDecoderStatistics
    HRESULT STDMETHODCALLTYPE GetCounters(DecoderStatistics* out) override;

    const DecoderKind& Kind() const { return kind_; }
    bool RefusesRenderer() const { return refuseRenderer_; }
    // The codec for an input subtype, AV_CODEC_ID_NONE when it is not one of ours.
    AVCodecID CodecFor(const GUID& subtype) const;
    // The output type for the format known now, in the given format type (VIDEOINFOHEADER2
    // or VIDEOINFOHEADER for pictures).
    CMediaType OutputType(const GUID& formatType);
    void NoteInputType(const CMediaType& type);

    // Upstream side.
    HRESULT Queue(IMediaSample* sample);
    void QueueEndOfStream();
    void BeginFlushing();
    void EndFlushing();

  private:
    DecoderFilter(const DecoderKind& kind, IUnknown* outer, HRESULT* phr);

    struct Item {
        std::vector<uint8_t> bytes;
        int64_t time;
        bool discontinuity = false;
        bool endOfStream = false;
        AVCodecID codec = AV_CODEC_ID_NONE; // set when the input type changed
        unsigned generation = 0;
    };

    void startWorker();
    void stopWorker();
    void work();
    void process(Item& item, std::unique_ptr<StreamDecoder>& decoder, AVCodecID& codec);
    void deliverPicture(const AVFrame& frame, int64_t time, const AVCodecContext& context,
                        int mpeg2Aspect, unsigned generation);
    void deliverAudio(const AVFrame& frame, int64_t time, unsigned generation);
    // Hands the sound renderer 10 ms of silence as soon as streaming starts. Wine's graph
    // runs its filters only once every renderer has completed its pause, which its
    // DirectSound renderer does on its first sample: an audio output with no PID mapped
    // (the AC-3 one, most of the time) would otherwise hold the whole graph paused.
    void cueRenderer();
    // Makes the output carry `wanted` from the next sample on; false when the downstream
    // pin refuses it.
    bool followFormat(const CMediaType& wanted, CMediaType& attach);
    // A buffer for the next sample in the `wanted` format; none when the downstream pin
    // refuses the format or the allocator gives none.
    ComPtr<IMediaSample> nextBuffer(const CMediaType& wanted, CMediaType& attach, BYTE** data);
    // Delivers with the times (`start` kNoTime: untimed) and a type to attach (when valid),
    // unless a flush came since the input was taken.
    HRESULT deliver(IMediaSample* sample, int64_t start, int64_t stop, const CMediaType& attach,
                    unsigned generation);
    std::wstring describeFormat();

    const DecoderKind& kind_;
    const bool refuseRenderer_;
    CCritSec lock_;
    std::unique_ptr<DecoderInputPin> input_;
    std::unique_ptr<DecoderOutputPin> output_;

    // Format: written by the streaming thread, read to build output types.
    std::mutex formatLock_;
    PictureFormat picture_;
    int sampleRate_ = 48000;
    AVCodecID inputCodec_ = AV_CODEC_ID_NONE;

    // The queue between the input pin and the worker.
    std::mutex queueLock_;
    std::condition_variable queueChanged_;
    std::deque<Item> queue_;
    size_t queuedBytes_ = 0;
    bool stopping_ = false;
    bool flushing_ = false;
    bool gap_ = false; // input was dropped: the next item starts a new run of data
    std::atomic<unsigned> generation_{0};
    // Held by the worker while it handles one item; a flush waits on it for the item in hand.
    std::mutex busy_;
    std::thread worker_;

    // Worker state.
    bool discontinuity_ = true;
    bool attachType_ = true; // the next sample carries the output type (after a reset)
    CMediaType refused_;     // the last type the downstream pin refused
    int64_t nextAudioTime_ = INT64_MIN;

    std::atomic<long> delivered_{0};
    std::atomic<long> errors_{0};
    std::atomic<long> dropped_{0};
    long decoderErrors_ = 0; // the part of errors_ that the current decoder reported
};

} // namespace korvane::testbed
