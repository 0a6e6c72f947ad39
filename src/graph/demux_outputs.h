#pragma once

// The demultiplexer's outputs, each created with the media type its branch expects; empty
// when the demultiplexer refuses it.

#include "dshow/com_ptr.h"
#include "graph/media_graph.h"

namespace korvane {

// MPEG-2 video with a 720 x 576, 4:3 MPEG2VIDEOINFO block.
ComPtr<IPin> createVideoOutput(IMpeg2Demultiplexer* demux, const GUID& subtype,
                               const wchar_t* name);
// Audio with a 48 kHz 16-bit stereo PCM WAVEFORMATEX block.
ComPtr<IPin> createAudioOutput(IMpeg2Demultiplexer* demux, const GUID& subtype,
                               const wchar_t* name);
// DVB subtitles, the data bytes of one PES packet per sample, no format block.
ComPtr<IPin> createSubtitleOutput(IMpeg2Demultiplexer* demux, const wchar_t* name);
// MPEG-2 sections, fixed-size samples, no format block.
ComPtr<IPin> createSectionOutput(IMpeg2Demultiplexer* demux, const GUID& subtype,
                                 const wchar_t* name);

} // namespace korvane
