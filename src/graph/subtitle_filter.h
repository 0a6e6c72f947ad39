#pragma once

#include "channels/channel_list.h"
#include "dshow/renderer.h"
#include "dshow/sync.h"
#include "subtitles/subtitle_decoder.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace korvane {

// Where the subtitle sink hands its decoded pictures, on the streaming thread. The receiver
// keeps them for the window, tells it by a posted message, and never calls into the graph.
class SubtitleReceiver {
  public:
    virtual ~SubtitleReceiver() = default;
    virtual void subtitlesDecoded(uint32_t generation, std::vector<SubtitlePicture> pictures) = 0;
};

// The sink of the demultiplexer's "subtitles" output: each sample holds the data bytes of
// one subtitle PES packet, stamped with its presentation time on the graph's stream-time
// base. The samples of the chosen stream are decoded as they come (not held until their
// time: that would hold back the demultiplexer's other outputs) and the pictures go to the
// receiver with their time in 90 kHz ticks of stream time; the shell shows each at its time.
class CSubtitleFilter : public CBaseRenderer {
  public:
    CSubtitleFilter(REFCLSID clsid, HRESULT* phr, SubtitleReceiver& receiver);
    ~CSubtitleFilter() override;

    HRESULT CheckMediaType(const CMediaType* pmt) override;
    HRESULT DoRenderSample(IMediaSample* sample) override;
    HRESULT ShouldDrawSampleNow(IMediaSample*, REFERENCE_TIME*, REFERENCE_TIME*) override {
        return S_OK;
    }

    // User-interface thread: decodes the pages of this stream from now on (null: none, every
    // sample is dropped). The pictures of the new choice carry the generation returned.
    uint32_t selectStream(const SubtitleStream* stream);
    // The graph's stream time in 90 kHz ticks while the graph runs with a clock.
    std::optional<int64_t> streamTime90k();

  private:
    SubtitleReceiver& receiver_;
    // Guards the decoder and the generation; held while the receiver is called so that a
    // picture of a stream left behind never carries the new generation.
    CCritSec decoderLock_;
    std::unique_ptr<SubtitleDecoder> decoder_;
    uint32_t generation_ = 0;
};

} // namespace korvane
