#include "frame_convert.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

#include <algorithm>
#include <cmath>
#include <numeric>
#include <utility>

namespace korvane::testbed {

namespace {

PictureFormat reduced(PictureFormat f, int64_t x, int64_t y) {
    if (x <= 0 || y <= 0) {
        x = f.width;
        y = f.height;
    }
    int64_t g = std::gcd(x, y);
    x /= g;
    y /= g;
    // Keep both terms small enough for the 32-bit fields they go into.
    while (x > 0xFFFF || y > 0xFFFF) {
        x = (x + 1) / 2;
        y = (y + 1) / 2;
    }
    f.aspectX = int(std::max<int64_t>(x, 1));
    f.aspectY = int(std::max<int64_t>(y, 1));
    return f;
}

// YUV to RGB in 16.16 fixed point.
struct Matrix {
    int y, rv, gu, gv, bu, yOffset;
};

Matrix matrixFor(const AVFrame& frame, bool fullRange) {
    bool bt709 = frame.colorspace == AVCOL_SPC_BT709 ||
                 (frame.colorspace == AVCOL_SPC_UNSPECIFIED && frame.height >= 720);
    double kr = bt709 ? 0.2126 : 0.299;
    double kb = bt709 ? 0.0722 : 0.114;
    double kg = 1 - kr - kb;
    double ys = fullRange ? 1.0 : 255.0 / 219.0;
    double cs = fullRange ? 1.0 : 255.0 / 224.0;
    auto fixed = [](double v) { return int(std::lround(v * 65536)); };
    return {fixed(ys),
            fixed(2 * (1 - kr) * cs),
            fixed(2 * kb * (1 - kb) / kg * cs),
            fixed(2 * kr * (1 - kr) / kg * cs),
            fixed(2 * (1 - kb) * cs),
            fullRange ? 0 : 16};
}

uint8_t clamp8(int v) {
    return uint8_t(std::clamp(v >> 16, 0, 255));
}

template <class Sample>
void convertRows(const AVFrame& f, const AVPixFmtDescriptor& d, const Matrix& m, uint8_t* out,
                 size_t stride) {
    const int shift = d.comp[0].depth - 8;
    const bool grey = d.nb_components < 3;
    const Sample neutral = Sample(128 << shift);
    for (int y = 0; y < f.height; ++y) {
        auto row = [&](int plane, int line) {
            return reinterpret_cast<const Sample*>(f.data[plane] +
                                                   ptrdiff_t(line) * f.linesize[plane]);
        };
        const Sample* ys = row(0, y);
        const Sample* us = grey ? nullptr : row(1, y >> d.log2_chroma_h);
        const Sample* vs = grey ? nullptr : row(2, y >> d.log2_chroma_h);
        uint8_t* px = out + size_t(f.height - 1 - y) * stride;
        for (int x = 0; x < f.width; ++x, px += 4) {
            int cx = x >> d.log2_chroma_w;
            int luma = ((ys[x] >> shift) - m.yOffset) * m.y + 32768;
            int u = ((grey ? neutral : us[cx]) >> shift) - 128;
            int v = ((grey ? neutral : vs[cx]) >> shift) - 128;
            px[0] = clamp8(luma + m.bu * u);
            px[1] = clamp8(luma - m.gu * u - m.gv * v);
            px[2] = clamp8(luma + m.rv * v);
            px[3] = 255;
        }
    }
}

bool readable(const AVPixFmtDescriptor* d) {
    if (!d || (d->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_HWACCEL |
                           AV_PIX_FMT_FLAG_BITSTREAM | AV_PIX_FMT_FLAG_BE)))
        return false;
    if (d->nb_components < 1 || d->comp[0].depth < 8 || d->comp[0].depth > 16)
        return false;
    // One component per plane, samples of one byte, or two for more than 8 bits.
    int step = d->comp[0].depth > 8 ? 2 : 1;
    int planes = d->nb_components < 3 ? 1 : 3;
    for (int i = 0; i < planes; ++i) {
        if (d->comp[i].plane != i || d->comp[i].step != step || d->comp[i].shift != 0 ||
            d->comp[i].depth != d->comp[0].depth)
            return false;
    }
    return true;
}

// Left and right gains of one channel in a mix-down.
std::pair<float, float> gainsOf(AVChannel channel) {
    constexpr float k = 0.70710678f;
    switch (channel) {
    case AV_CHAN_FRONT_LEFT:
    case AV_CHAN_FRONT_LEFT_OF_CENTER:
    case AV_CHAN_WIDE_LEFT:
        return {1.0f, 0.0f};
    case AV_CHAN_FRONT_RIGHT:
    case AV_CHAN_FRONT_RIGHT_OF_CENTER:
    case AV_CHAN_WIDE_RIGHT:
        return {0.0f, 1.0f};
    case AV_CHAN_FRONT_CENTER:
        return {k, k};
    case AV_CHAN_BACK_LEFT:
    case AV_CHAN_SIDE_LEFT:
    case AV_CHAN_SURROUND_DIRECT_LEFT:
        return {k, 0.0f};
    case AV_CHAN_BACK_RIGHT:
    case AV_CHAN_SIDE_RIGHT:
    case AV_CHAN_SURROUND_DIRECT_RIGHT:
        return {0.0f, k};
    case AV_CHAN_LOW_FREQUENCY:
    case AV_CHAN_LOW_FREQUENCY_2:
        return {0.0f, 0.0f};
    default:
        return {0.5f, 0.5f};
    }
}

// One sample as a float in [-1, 1].
float sampleAt(const AVFrame& f, AVSampleFormat format, int channel, int index, int channels) {
    bool planar = av_sample_fmt_is_planar(format);
    const uint8_t* base = f.extended_data[planar ? channel : 0];
    size_t at = planar ? size_t(index) : size_t(index) * size_t(channels) + size_t(channel);
    switch (av_get_packed_sample_fmt(format)) {
    case AV_SAMPLE_FMT_U8:
        return (float(base[at]) - 128.0f) / 128.0f;
    case AV_SAMPLE_FMT_S16:
        return float(reinterpret_cast<const int16_t*>(base)[at]) / 32768.0f;
    case AV_SAMPLE_FMT_S32:
        return float(double(reinterpret_cast<const int32_t*>(base)[at]) / 2147483648.0);
    case AV_SAMPLE_FMT_FLT:
        return reinterpret_cast<const float*>(base)[at];
    case AV_SAMPLE_FMT_DBL:
        return float(reinterpret_cast<const double*>(base)[at]);
    default:
        return 0.0f;
    }
}

int16_t toS16(float v) {
    return int16_t(std::lrint(std::clamp(v * 32768.0f, -32768.0f, 32767.0f)));
}

} // namespace

PictureFormat pictureFormatOf(const AVFrame& frame, const AVCodecContext& context,
                              int mpeg2AspectCode) {
    PictureFormat f;
    f.width = frame.width;
    f.height = frame.height;
    if (context.framerate.num > 0 && context.framerate.den > 0)
        f.frameTime = int64_t(10000000) * context.framerate.den / context.framerate.num;
    switch (context.codec_id == AV_CODEC_ID_MPEG2VIDEO ? mpeg2AspectCode : 0) {
    case 1: // square samples
        return reduced(f, f.width, f.height);
    case 2:
        return reduced(f, 4, 3);
    case 3:
        return reduced(f, 16, 9);
    case 4:
        return reduced(f, 221, 100);
    default:
        break;
    }
    AVRational sar =
        frame.sample_aspect_ratio.num > 0 ? frame.sample_aspect_ratio : context.sample_aspect_ratio;
    if (sar.num <= 0 || sar.den <= 0)
        return reduced(f, f.width, f.height);
    return reduced(f, int64_t(f.width) * sar.num, int64_t(f.height) * sar.den);
}

bool convertPicture(const AVFrame& frame, uint8_t* out, size_t stride) {
    auto format = AVPixelFormat(frame.format);
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(format);
    if (!readable(d) || frame.width <= 0 || frame.height <= 0)
        return false;
    bool fullRange = frame.color_range == AVCOL_RANGE_JPEG || format == AV_PIX_FMT_YUVJ420P ||
                     format == AV_PIX_FMT_YUVJ422P || format == AV_PIX_FMT_YUVJ444P;
    Matrix m = matrixFor(frame, fullRange);
    if (d->comp[0].depth > 8)
        convertRows<uint16_t>(frame, *d, m, out, stride);
    else
        convertRows<uint8_t>(frame, *d, m, out, stride);
    return true;
}

size_t convertAudio(const AVFrame& frame, int16_t* out, size_t capacity) {
    auto format = AVSampleFormat(frame.format);
    int channels = frame.ch_layout.nb_channels;
    if (channels <= 0 || frame.nb_samples <= 0 || !frame.extended_data)
        return 0;
    size_t count = std::min(size_t(frame.nb_samples), capacity);
    // Gains per channel, scaled so that full scale on every channel cannot clip.
    std::pair<float, float> gains[64];
    channels = std::min(channels, 64);
    float sumLeft = 0;
    float sumRight = 0;
    for (int c = 0; c < channels; ++c) {
        if (channels == 1)
            gains[c] = {1.0f, 1.0f};
        else if (channels == 2)
            gains[c] = c == 0 ? std::pair{1.0f, 0.0f} : std::pair{0.0f, 1.0f};
        else
            gains[c] = gainsOf(av_channel_layout_channel_from_index(&frame.ch_layout, unsigned(c)));
        sumLeft += gains[c].first;
        sumRight += gains[c].second;
    }
    float scale = 1.0f / std::max({sumLeft, sumRight, 1.0f});
    for (size_t i = 0; i < count; ++i) {
        float left = 0;
        float right = 0;
        for (int c = 0; c < channels; ++c) {
            float s = sampleAt(frame, format, c, int(i), frame.ch_layout.nb_channels);
            left += s * gains[c].first;
            right += s * gains[c].second;
        }
        out[2 * i] = toS16(left * scale);
        out[2 * i + 1] = toS16(right * scale);
    }
    return count;
}

} // namespace korvane::testbed
