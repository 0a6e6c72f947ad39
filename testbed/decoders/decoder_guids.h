#pragma once

// Class identifiers of the testbed's decoders, the media subtypes they take beyond the ones
// the platform headers name, and the small interface through which tests read a decoder's
// counters (its property page shows the same through IStatisticsSource).

#include "dshow/platform.h"

namespace korvane::testbed {

inline constexpr CLSID kClsidMpeg2VideoDecoder = {
    0x4b6f7276, 0x616e, 0x4544, {0x9e, 0x51, 0x54, 0x65, 0x73, 0x74, 0x62, 0x01}};
inline constexpr CLSID kClsidH264VideoDecoder = {
    0x4b6f7276, 0x616e, 0x4544, {0x9e, 0x51, 0x54, 0x65, 0x73, 0x74, 0x62, 0x02}};
inline constexpr CLSID kClsidMpegAudioDecoder = {
    0x4b6f7276, 0x616e, 0x4544, {0x9e, 0x51, 0x54, 0x65, 0x73, 0x74, 0x62, 0x03}};
inline constexpr CLSID kClsidAc3AudioDecoder = {
    0x4b6f7276, 0x616e, 0x4544, {0x9e, 0x51, 0x54, 0x65, 0x73, 0x74, 0x62, 0x04}};

inline constexpr wchar_t kMpeg2VideoDecoderName[] = L"Korvane Testbed MPEG-2 Video Decoder";
inline constexpr wchar_t kH264VideoDecoderName[] = L"Korvane Testbed H.264 Video Decoder";
inline constexpr wchar_t kMpegAudioDecoderName[] = L"Korvane Testbed MPEG Audio Decoder";
inline constexpr wchar_t kAc3AudioDecoderName[] = L"Korvane Testbed AC-3 Audio Decoder";

// H.264 as an Annex B byte stream ("H264"), and E-AC-3.
inline constexpr GUID kSubtypeH264 = {
    0x34363248, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
inline constexpr GUID kSubtypeDolbyDigitalPlus = {
    0xa7fb87af, 0x2d02, 0x42fb, {0xa4, 0xd4, 0x05, 0xcd, 0x93, 0x84, 0x3b, 0xdd}};

struct DecoderStatistics {
    BOOL video;
    LONG delivered; // pictures or audio frames handed downstream
    LONG errors;    // undecodable data, and formats the downstream filter refused
    LONG dropped;   // input samples dropped while the output queue was full
    WCHAR format[96];
};

inline constexpr IID kIidDecoderStatistics = {
    0x4b6f7276, 0x616e, 0x4544, {0x9e, 0x51, 0x53, 0x74, 0x61, 0x74, 0x73, 0x01}};

struct IDecoderStatistics : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetCounters(DecoderStatistics* out) = 0;
};

} // namespace korvane::testbed
