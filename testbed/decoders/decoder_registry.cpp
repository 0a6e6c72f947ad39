#include "decoder_filter.h"
#include "decoder_page.h"
#include "decoders.h"

#include <vector>

namespace korvane::testbed {

namespace {

const DecoderKind* const kKinds[] = {&mpeg2VideoDecoderKind(), &h264VideoDecoderKind(),
                                     &mpegAudioDecoderKind(), &ac3AudioDecoderKind()};

} // namespace

CUnknown* createMpeg2VideoDecoder(IUnknown* outer, HRESULT* phr) {
    return DecoderFilter::Create(mpeg2VideoDecoderKind(), outer, phr);
}

CUnknown* createH264VideoDecoder(IUnknown* outer, HRESULT* phr) {
    return DecoderFilter::Create(h264VideoDecoderKind(), outer, phr);
}

CUnknown* createMpegAudioDecoder(IUnknown* outer, HRESULT* phr) {
    return DecoderFilter::Create(mpegAudioDecoderKind(), outer, phr);
}

CUnknown* createAc3AudioDecoder(IUnknown* outer, HRESULT* phr) {
    return DecoderFilter::Create(ac3AudioDecoderKind(), outer, phr);
}

CUnknown* createDecoderPage(IUnknown* outer, HRESULT* phr) {
    return DecoderPage::CreateInstance(outer, phr);
}

HRESULT registerDecoderFilters(IFilterMapper2* mapper) {
    for (const DecoderKind* kind : kKinds) {
        const GUID* major = kind->video ? &MEDIATYPE_Video : &MEDIATYPE_Audio;
        std::vector<REGPINTYPES> inputs;
        for (const DecoderInput& input : kind->inputs)
            inputs.push_back({major, input.subtype});
        REGPINTYPES output = {major, kind->video ? &MEDIASUBTYPE_RGB32 : &MEDIASUBTYPE_PCM};
        REGFILTERPINS pins[2] = {};
        pins[0].strName = const_cast<LPWSTR>(L"Entrée");
        pins[0].nMediaTypes = UINT(inputs.size());
        pins[0].lpMediaType = inputs.data();
        pins[1].strName = const_cast<LPWSTR>(L"Sortie");
        pins[1].bOutput = TRUE;
        pins[1].nMediaTypes = 1;
        pins[1].lpMediaType = &output;
        REGFILTER2 filter = {};
        filter.dwVersion = 1;
        // Above MERIT_DO_NOT_USE + 1, the least a decoder lookup by type takes.
        filter.dwMerit = MERIT_NORMAL;
        filter.cPins = 2;
        filter.rgPins = pins;
        HRESULT hr = mapper->RegisterFilter(*kind->clsid, kind->name, nullptr,
                                            &CLSID_LegacyAmFilterCategory, nullptr, &filter);
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}

void unregisterDecoderFilters(IFilterMapper2* mapper) {
    for (const DecoderKind* kind : kKinds)
        mapper->UnregisterFilter(&CLSID_LegacyAmFilterCategory, nullptr, *kind->clsid);
}

} // namespace korvane::testbed
