#include "stream_decoder.h"

#include "common/byte_reader.h"

extern "C" {
#include <libavutil/dict.h>
}

#include <algorithm>
#include <climits>

namespace korvane::testbed {

namespace {

// After a reset, pictures wait for a key frame; a stream that never flags one (intra refresh)
// is shown anyway after this many pictures.
constexpr int kMaxPicturesWithoutKey = 50;

bool isVideoCodec(AVCodecID codec) {
    return codec == AV_CODEC_ID_MPEG2VIDEO || codec == AV_CODEC_ID_H264;
}

const AVCodec* findDecoder(AVCodecID codec) {
    if (const AVCodec* decoder = avcodec_find_decoder(codec))
        return decoder;
    // The MPEG audio decoder reads every layer.
    if (codec == AV_CODEC_ID_MP1 || codec == AV_CODEC_ID_MP3)
        return avcodec_find_decoder(AV_CODEC_ID_MP2);
    return nullptr;
}

} // namespace

StreamDecoder::StreamDecoder(AVCodecID codec) : codec_(codec) {
    // Damaged streams are expected here; the counters say what went wrong.
    static const bool quiet = [] {
        av_log_set_level(AV_LOG_QUIET);
        return true;
    }();
    (void)quiet;
    open(codec);
}

StreamDecoder::~StreamDecoder() {
    close();
}

bool StreamDecoder::open(AVCodecID codec) {
    const AVCodec* decoder = findDecoder(codec);
    if (!decoder)
        return false;
    parser_ = av_parser_init(codec);
    parserContext_ = avcodec_alloc_context3(nullptr);
    context_ = avcodec_alloc_context3(decoder);
    packet_ = av_packet_alloc();
    frame_ = av_frame_alloc();
    if (!parser_ || !parserContext_ || !context_ || !packet_ || !frame_) {
        close();
        return false;
    }
    parserContext_->codec_id = codec;
    context_->pkt_timebase = AVRational{1, 10000000};
    context_->thread_count = 1;
    AVDictionary* options = nullptr;
    // The AC-3 decoder mixes down to stereo itself, with the stream's own mixing levels.
    if (codec == AV_CODEC_ID_AC3 || codec == AV_CODEC_ID_EAC3)
        av_dict_set(&options, "downmix", "stereo", 0);
    int opened = avcodec_open2(context_, decoder, &options);
    av_dict_free(&options);
    if (opened < 0) {
        close();
        return false;
    }
    return true;
}

void StreamDecoder::close() {
    if (parser_)
        av_parser_close(parser_);
    parser_ = nullptr;
    avcodec_free_context(&parserContext_);
    avcodec_free_context(&context_);
    av_packet_free(&packet_);
    av_frame_free(&frame_);
}

void StreamDecoder::reset() {
    if (!ready())
        return;
    // Parsers have no flush of their own.
    av_parser_close(parser_);
    parser_ = av_parser_init(codec_);
    avcodec_flush_buffers(context_);
    waitKeyFrame_ = true;
    framesWithoutKey_ = 0;
    if (!parser_)
        close();
}

void StreamDecoder::push(const uint8_t* data, size_t size, int64_t time, const FrameSink& sink) {
    if (!ready() || !data || size == 0 || size > size_t(INT_MAX))
        return;
    // Parsers and decoders may read a little past the end of what they are given.
    padded_.assign(data, data + size);
    padded_.resize(size + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    const uint8_t* at = padded_.data();
    int left = int(size);
    int64_t pts = time == kNoTime ? AV_NOPTS_VALUE : time;
    while (left > 0 && ready()) {
        uint8_t* frame = nullptr;
        int frameSize = 0;
        int used = av_parser_parse2(parser_, parserContext_, &frame, &frameSize, at, left, pts,
                                    AV_NOPTS_VALUE, 0);
        if (used < 0 || used > left) {
            ++errors_;
            return;
        }
        // The time belongs to the buffer it came with, not to the rest of it.
        pts = AV_NOPTS_VALUE;
        at += used;
        left -= used;
        if (frameSize > 0)
            decode(frame, frameSize, parser_->pts, sink);
        else if (used == 0)
            break;
    }
}

void StreamDecoder::drain(const FrameSink& sink) {
    if (!ready())
        return;
    uint8_t* frame = nullptr;
    int frameSize = 0;
    av_parser_parse2(parser_, parserContext_, &frame, &frameSize, nullptr, 0, AV_NOPTS_VALUE,
                     AV_NOPTS_VALUE, 0);
    if (frameSize > 0)
        decode(frame, frameSize, parser_->pts, sink);
    if (avcodec_send_packet(context_, nullptr) >= 0)
        receive(sink);
    reset();
}

void StreamDecoder::decode(const uint8_t* data, int size, int64_t time, const FrameSink& sink) {
    if (codec_ == AV_CODEC_ID_MPEG2VIDEO)
        noteSequenceHeader(data, size_t(size));
    // Not reference-counted: the decoder copies what it keeps.
    packet_->data = const_cast<uint8_t*>(data);
    packet_->size = size;
    packet_->pts = time;
    packet_->dts = AV_NOPTS_VALUE;
    int sent = avcodec_send_packet(context_, packet_);
    if (sent == AVERROR(EAGAIN)) {
        receive(sink);
        sent = avcodec_send_packet(context_, packet_);
    }
    packet_->data = nullptr;
    packet_->size = 0;
    if (sent < 0 && sent != AVERROR(EAGAIN) && sent != AVERROR_EOF)
        ++errors_;
    receive(sink);
}

void StreamDecoder::receive(const FrameSink& sink) {
    for (;;) {
        int got = avcodec_receive_frame(context_, frame_);
        if (got == AVERROR(EAGAIN) || got == AVERROR_EOF)
            return;
        if (got < 0) {
            ++errors_;
            return;
        }
        if (frame_->decode_error_flags || (frame_->flags & AV_FRAME_FLAG_CORRUPT))
            ++errors_;
        bool show = true;
        if (isVideoCodec(codec_) && waitKeyFrame_) {
            bool key = frame_->key_frame || frame_->pict_type == AV_PICTURE_TYPE_I;
            if (key || ++framesWithoutKey_ > kMaxPicturesWithoutKey)
                waitKeyFrame_ = false;
            else
                show = false;
        }
        int64_t time = frame_->best_effort_timestamp;
        if (time == AV_NOPTS_VALUE)
            time = frame_->pts;
        if (show)
            sink(*frame_, time == AV_NOPTS_VALUE ? kNoTime : time, *context_);
        av_frame_unref(frame_);
    }
}

void StreamDecoder::noteSequenceHeader(const uint8_t* data, size_t size) {
    // The sequence header leads the picture it comes with: look no further than the first
    // picture start code.
    ByteReader bytes(data, size);
    for (size_t i = 0; bytes.contains(i, 4); ++i) {
        if (bytes.data()[i] != 0 || bytes.data()[i + 1] != 0 || bytes.data()[i + 2] != 1)
            continue;
        uint8_t code = bytes.data()[i + 3];
        if (code == 0x00)
            return;
        if (code == 0xB3) {
            // horizontal_size (12 bits), vertical_size (12), aspect_ratio_information (4).
            if (auto b = bytes.u8(i + 7))
                mpeg2Aspect_ = *b >> 4;
            return;
        }
    }
}

} // namespace korvane::testbed
