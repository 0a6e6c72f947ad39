#pragma once

// Decoded frames into what the decoders deliver: pictures as 32-bit bottom-up DIB rows,
// audio as interleaved 16-bit stereo.

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <cstddef>
#include <cstdint>

namespace korvane::testbed {

struct PictureFormat {
    int width = 720;
    int height = 576;
    int aspectX = 4; // picture (display) aspect ratio, reduced
    int aspectY = 3;
    int64_t frameTime = 400000; // 100-ns units
    bool operator==(const PictureFormat&) const = default;
};

// The format of a decoded picture. MPEG-2 gives its display aspect ratio in the sequence
// header (`mpeg2AspectCode`, 0 when there was none); other codecs give the sample aspect.
PictureFormat pictureFormatOf(const AVFrame& frame, const AVCodecContext& context,
                              int mpeg2AspectCode);

// The bytes of a picture as 32-bit pixels, 4 x width per row with no padding.
inline size_t pictureBytes(const PictureFormat& f) {
    return size_t(f.width) * size_t(f.height) * 4;
}

// Writes the picture as B, G, R, 255 pixels, bottom row first, `stride` bytes apart; false
// for a pixel format it cannot read (only planar YUV and grey come from these decoders).
bool convertPicture(const AVFrame& frame, uint8_t* out, size_t stride);

// Writes the audio as interleaved 16-bit stereo: mono is doubled, stereo kept, more channels
// mixed down (centre and surrounds at -3 dB, LFE left out) and scaled so that nothing clips.
// Returns the sample frames written, at most `capacity`.
size_t convertAudio(const AVFrame& frame, int16_t* out, size_t capacity);

} // namespace korvane::testbed
