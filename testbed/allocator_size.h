#pragma once

#include "dshow/platform.h"

namespace korvane::testbed {

// Asks the allocator for at least 8 buffers of `bytes` each; fails when it grants smaller
// buffers than the pin needs to deliver.
inline HRESULT requestBuffers(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* request, long bytes) {
    if (request->cBuffers < 8)
        request->cBuffers = 8;
    if (request->cbBuffer < bytes)
        request->cbBuffer = bytes;
    if (request->cbAlign < 1)
        request->cbAlign = 1;
    ALLOCATOR_PROPERTIES actual{};
    HRESULT hr = alloc->SetProperties(request, &actual);
    if (FAILED(hr))
        return hr;
    return actual.cbBuffer >= bytes ? S_OK : E_FAIL;
}

} // namespace korvane::testbed
