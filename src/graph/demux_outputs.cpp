#include "graph/demux_outputs.h"

#include "graph/platform_guids.h"

#include <dvdmedia.h>
#include <mmreg.h>

namespace korvane {

namespace {

// The "video" output: MPEG-2 video in a 136-byte MPEG2VIDEOINFO holding only the source
// rectangle, a 4:3 picture aspect and the bitmap size of a 720 x 576 picture.
MPEG2VIDEOINFO videoFormat() {
    MPEG2VIDEOINFO info{};
    info.hdr.rcSource = RECT{0, 0, 720, 576};
    info.hdr.dwPictAspectRatioX = 4;
    info.hdr.dwPictAspectRatioY = 3;
    info.hdr.bmiHeader.biSize = 40;
    info.hdr.bmiHeader.biWidth = 720;
    info.hdr.bmiHeader.biHeight = 576;
    return info;
}
static_assert(sizeof(MPEG2VIDEOINFO) == 136);

// The "son" and "ac3" outputs: 48 kHz 16-bit stereo PCM as the format block.
WAVEFORMATEX audioFormat() {
    WAVEFORMATEX format{};
    format.wFormatTag = 1;
    format.nChannels = 2;
    format.nSamplesPerSec = 48000;
    format.nAvgBytesPerSec = 192000;
    format.nBlockAlign = 4;
    format.wBitsPerSample = 16;
    format.cbSize = 0;
    return format;
}
static_assert(sizeof(WAVEFORMATEX) == 18);

AM_MEDIA_TYPE mediaType(const GUID& major, const GUID& subtype, bool fixedSize, bool temporal) {
    AM_MEDIA_TYPE type{};
    type.majortype = major;
    type.subtype = subtype;
    type.bFixedSizeSamples = fixedSize;
    type.bTemporalCompression = temporal;
    type.lSampleSize = 0;
    type.formattype = FORMAT_None;
    return type;
}

template <class Block>
AM_MEDIA_TYPE withFormat(AM_MEDIA_TYPE type, const GUID& formatType, Block& block) {
    type.formattype = formatType;
    type.cbFormat = sizeof(Block);
    type.pbFormat = reinterpret_cast<BYTE*>(&block);
    return type;
}

// The demultiplexer copies the type it is given.
ComPtr<IPin> createOutput(IMpeg2Demultiplexer* demux, AM_MEDIA_TYPE type, const wchar_t* name) {
    ComPtr<IPin> pin;
    if (FAILED(demux->CreateOutputPin(&type, const_cast<LPWSTR>(name), pin.put())))
        return {};
    return pin;
}

} // namespace

ComPtr<IPin> createVideoOutput(IMpeg2Demultiplexer* demux, const GUID& subtype,
                               const wchar_t* name) {
    MPEG2VIDEOINFO format = videoFormat();
    return createOutput(
        demux,
        withFormat(mediaType(MEDIATYPE_Video, subtype, false, true), FORMAT_MPEG2Video, format),
        name);
}

ComPtr<IPin> createAudioOutput(IMpeg2Demultiplexer* demux, const GUID& subtype,
                               const wchar_t* name) {
    WAVEFORMATEX format = audioFormat();
    return createOutput(
        demux,
        withFormat(mediaType(MEDIATYPE_Audio, subtype, true, false), FORMAT_WaveFormatEx, format),
        name);
}

ComPtr<IPin> createSubtitleOutput(IMpeg2Demultiplexer* demux, const wchar_t* name) {
    return createOutput(
        demux, mediaType(kMediaTypeSubtitle, kMediaSubtypeDvbSubtitles, false, false), name);
}

ComPtr<IPin> createSectionOutput(IMpeg2Demultiplexer* demux, const GUID& subtype,
                                 const wchar_t* name) {
    return createOutput(demux, mediaType(MEDIATYPE_MPEG2_SECTIONS, subtype, true, false), name);
}

} // namespace korvane
