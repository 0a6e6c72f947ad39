#pragma once

// One elementary stream through libavcodec: its parser finds the frames in bytes cut
// anywhere, its decoder turns them into pictures or audio. No DirectShow here; times are
// opaque 64-bit values (the filter passes 100-ns units) carried from input to output.

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <cstdint>
#include <functional>
#include <vector>

namespace korvane::testbed {

inline constexpr int64_t kNoTime = INT64_MIN;

class StreamDecoder {
  public:
    // A decoded frame, its time (kNoTime when the stream gave none) and the codec context.
    using FrameSink = std::function<void(const AVFrame&, int64_t time, const AVCodecContext&)>;

    explicit StreamDecoder(AVCodecID codec);
    ~StreamDecoder();
    StreamDecoder(const StreamDecoder&) = delete;
    StreamDecoder& operator=(const StreamDecoder&) = delete;

    // False when the codec is not built in or cannot be opened.
    bool ready() const { return context_ != nullptr; }

    // Bytes of the stream; `time` belongs to the first frame that starts in them.
    void push(const uint8_t* data, size_t size, int64_t time, const FrameSink& sink);
    // Hands out what the parser and the decoder still hold (end of stream).
    void drain(const FrameSink& sink);
    // Forgets partial frames and reference pictures: after a flush, a gap or a stream change,
    // pictures are shown again from the next key frame on.
    void reset();

    long errors() const { return errors_; }
    // aspect_ratio_information of the last MPEG-2 sequence header, 0 before one was seen.
    int mpeg2AspectCode() const { return mpeg2Aspect_; }

  private:
    bool open(AVCodecID codec);
    void close();
    void decode(const uint8_t* data, int size, int64_t time, const FrameSink& sink);
    void receive(const FrameSink& sink);
    void noteSequenceHeader(const uint8_t* data, size_t size);

    AVCodecID codec_;
    AVCodecParserContext* parser_ = nullptr;
    AVCodecContext* parserContext_ = nullptr; // what the parser learns, apart from the decoder
    AVCodecContext* context_ = nullptr;
    AVPacket* packet_ = nullptr;
    AVFrame* frame_ = nullptr;
    std::vector<uint8_t> padded_;
    long errors_ = 0;
    int mpeg2Aspect_ = 0;
    bool waitKeyFrame_ = true;
    int framesWithoutKey_ = 0;
};

} // namespace korvane::testbed
