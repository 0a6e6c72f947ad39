#pragma once

// What the testbed's COM server needs of its decoders: creation functions for its class
// table, and their registration in the filter mapper's DirectShow filter category.

#include "decoder_guids.h"
#include "dshow/unknown.h"

namespace korvane::testbed {

CUnknown* createMpeg2VideoDecoder(IUnknown* outer, HRESULT* phr);
CUnknown* createH264VideoDecoder(IUnknown* outer, HRESULT* phr);
CUnknown* createMpegAudioDecoder(IUnknown* outer, HRESULT* phr);
CUnknown* createAc3AudioDecoder(IUnknown* outer, HRESULT* phr);

// Registers every decoder with its input types and its merit, so that a lookup by media
// type (and the graph's automatic rendering) finds it.
HRESULT registerDecoderFilters(IFilterMapper2* mapper);
void unregisterDecoderFilters(IFilterMapper2* mapper);

} // namespace korvane::testbed
