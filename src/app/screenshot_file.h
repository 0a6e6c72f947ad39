#pragma once

#include "common/byte_reader.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace korvane {

inline constexpr std::size_t kBitmapFileHeaderSize = 14;

// What a screenshot file holds: the 14-byte file header, then the first `blockBytes` bytes of
// the renderer's packed bitmap (info header, colour table or masks if any, pixels).
struct BitmapFilePlan {
    std::array<uint8_t, kBitmapFileHeaderSize> header{};
    std::size_t blockBytes = 0;
};

// Plans the file for a packed bitmap as the renderer hands it out; `block` spans the bytes
// that may be read. For the usual block (40-byte header, no colour table, biSizeImage set) the
// file is "BM", bfSize = 14 + biSize + biSizeImage, bfOffBits = 14 + biSize, then the block.
// A colour table or bit masks after the header are counted in bfOffBits, and a biSizeImage of
// 0 is computed from the width, height and bit count, so the header never lies about the
// block. Nothing when the header is not a bitmap info header, the size cannot be known, or
// the block is shorter than its header says.
std::optional<BitmapFilePlan> planBitmapFile(ByteReader block);

} // namespace korvane
