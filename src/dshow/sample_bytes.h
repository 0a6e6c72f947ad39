#pragma once

#include <windows.h>

#include "dshow/platform.h"

#include <cstdint>
#include <span>

namespace korvane {

// The bytes a media sample carries: its buffer up to the actual data length. An upstream
// filter may set a length beyond the buffer it wrote into, so the length is clamped to the
// buffer's size; a sample without a buffer, or with no data, gives an empty span.
inline std::span<const uint8_t> sampleBytes(IMediaSample* sample) {
    BYTE* data = nullptr;
    if (!sample || FAILED(sample->GetPointer(&data)) || !data)
        return {};
    long length = sample->GetActualDataLength();
    long size = sample->GetSize();
    if (size >= 0 && length > size)
        length = size;
    if (length <= 0)
        return {};
    return {data, static_cast<std::size_t>(length)};
}

} // namespace korvane
