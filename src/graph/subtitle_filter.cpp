#include "graph/subtitle_filter.h"

#include "dshow/sample_bytes.h"
#include "graph/platform_guids.h"

namespace korvane {

namespace {

// 100 ns units to 90 kHz ticks; a sample stamped before the stream's start is due at once.
int64_t ticks90k(REFERENCE_TIME time) {
    return time > 0 ? int64_t(time) * 9 / 1000 : 0;
}

} // namespace

CSubtitleFilter::CSubtitleFilter(REFCLSID clsid, HRESULT* phr, SubtitleReceiver& receiver)
    : CBaseRenderer(clsid, L"Sous-titres", nullptr, phr), receiver_(receiver) {}

CSubtitleFilter::~CSubtitleFilter() = default;

HRESULT CSubtitleFilter::CheckMediaType(const CMediaType* pmt) {
    if (!pmt)
        return E_POINTER;
    return *pmt->Type() == kMediaTypeSubtitle && *pmt->Subtype() == kMediaSubtypeDvbSubtitles
               ? S_OK
               : E_FAIL;
}

HRESULT CSubtitleFilter::DoRenderSample(IMediaSample* sample) {
    REFERENCE_TIME start = 0;
    REFERENCE_TIME stop = 0;
    // A display set without a time cannot be placed against the picture.
    if (FAILED(sample->GetTime(&start, &stop)))
        return S_OK;
    std::span<const uint8_t> bytes = sampleBytes(sample);
    CAutoLock lock(&decoderLock_);
    if (!decoder_)
        return S_OK;
    // A new map or a jump of the stream's clock: what was decoded belongs to another time.
    if (sample->IsDiscontinuity() == S_OK)
        decoder_->reset();
    if (bytes.empty())
        return S_OK;
    std::vector<SubtitlePicture> pictures = decoder_->decodePayload(bytes, ticks90k(start));
    if (!pictures.empty())
        receiver_.subtitlesDecoded(generation_, std::move(pictures));
    return S_OK;
}

uint32_t CSubtitleFilter::selectStream(const SubtitleStream* stream) {
    CAutoLock lock(&decoderLock_);
    decoder_.reset();
    if (stream)
        decoder_ =
            std::make_unique<SubtitleDecoder>(stream->compositionPage, stream->ancillaryPage);
    return ++generation_;
}

std::optional<int64_t> CSubtitleFilter::streamTime90k() {
    CAutoLock lock(&m_InterfaceLock);
    REFERENCE_TIME now = 0;
    if (m_State != State_Running || FAILED(StreamTime(now)))
        return std::nullopt;
    return int64_t(now) * 9 / 1000;
}

} // namespace korvane
