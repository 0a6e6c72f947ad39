#include "decoder_filter.h"
#include "decoders.h"
#include "filter_registration.h"

#include <vector>

namespace korvane::testbed {

CUnknown* createMpeg2VideoDecoder(IUnknown* outer, HRESULT* phr) {
    return DecoderFilter::Create(decoderKind(DecoderId::Mpeg2Video), outer, phr);
}

CUnknown* createH264VideoDecoder(IUnknown* outer, HRESULT* phr) {
    return DecoderFilter::Create(decoderKind(DecoderId::H264Video), outer, phr);
}

CUnknown* createMpegAudioDecoder(IUnknown* outer, HRESULT* phr) {
    return DecoderFilter::Create(decoderKind(DecoderId::MpegAudio), outer, phr);
}

CUnknown* createAc3AudioDecoder(IUnknown* outer, HRESULT* phr) {
    return DecoderFilter::Create(decoderKind(DecoderId::Ac3Audio), outer, phr);
}

HRESULT registerDecoderFilters(IFilterMapper2* mapper) {
    for (size_t id = 0; id < size_t(DecoderId::Count); ++id) {
        const DecoderKind& kind = decoderKind(DecoderId(id));
        const GUID* major = kind.video ? &MEDIATYPE_Video : &MEDIATYPE_Audio;
        std::vector<REGPINTYPES> inputs;
        for (const DecoderInput& input : kind.inputs)
            inputs.push_back({major, input.subtype});
        const REGPINTYPES output[] = {
            {major, kind.video ? &MEDIASUBTYPE_RGB32 : &MEDIASUBTYPE_PCM}};
        // Well above MERIT_DO_NOT_USE + 1, the least a decoder lookup by type takes.
        HRESULT hr =
            registerTwoPinFilter(mapper, *kind.clsid, kind.name, &CLSID_LegacyAmFilterCategory,
                                 nullptr, MERIT_NORMAL, L"Entrée", inputs, L"Sortie", output);
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}

void unregisterDecoderFilters(IFilterMapper2* mapper) {
    for (size_t id = 0; id < size_t(DecoderId::Count); ++id)
        mapper->UnregisterFilter(&CLSID_LegacyAmFilterCategory, nullptr,
                                 *decoderKind(DecoderId(id)).clsid);
}

} // namespace korvane::testbed
