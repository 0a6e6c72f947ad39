#include "app/screenshot_file.h"

#include <limits>

namespace korvane {

namespace {

constexpr uint32_t kBiRgb = 0;
constexpr uint32_t kBiBitfields = 3;
constexpr uint32_t kBiAlphaBitfields = 6;
constexpr uint32_t kInfoHeaderSize = 40;

struct InfoHeader {
    uint32_t size = 0;
    int32_t width = 0;
    int32_t height = 0;
    uint16_t bitCount = 0;
    uint32_t compression = 0;
    uint32_t sizeImage = 0;
    uint32_t colorsUsed = 0;
};

std::optional<InfoHeader> readInfoHeader(ByteReader block) {
    auto size = block.u32le(0);
    if (!size || *size < kInfoHeaderSize)
        return std::nullopt;
    auto width = block.u32le(4);
    auto height = block.u32le(8);
    auto bitCount = block.u16le(14);
    auto compression = block.u32le(16);
    auto sizeImage = block.u32le(20);
    auto colorsUsed = block.u32le(32);
    if (!width || !height || !bitCount || !compression || !sizeImage || !colorsUsed)
        return std::nullopt;
    return InfoHeader{*size,
                      static_cast<int32_t>(*width),
                      static_cast<int32_t>(*height),
                      *bitCount,
                      *compression,
                      *sizeImage,
                      *colorsUsed};
}

// Bytes between the info header and the pixels: the three (or four) masks that follow a
// 40-byte header with bit fields, and the colour table.
uint64_t tableBytes(const InfoHeader& h) {
    uint64_t bytes = 0;
    if (h.size == kInfoHeaderSize && h.compression == kBiBitfields)
        bytes += 12;
    if (h.size == kInfoHeaderSize && h.compression == kBiAlphaBitfields)
        bytes += 16;
    if (h.bitCount >= 1 && h.bitCount <= 8)
        bytes += 4 * uint64_t(h.colorsUsed ? h.colorsUsed : 1u << h.bitCount);
    else
        bytes += 4 * uint64_t(h.colorsUsed);
    return bytes;
}

// The pixel bytes: biSizeImage, or for an uncompressed bitmap that leaves it 0, rows of whole
// 32-bit words.
std::optional<uint64_t> imageBytes(const InfoHeader& h) {
    if (h.sizeImage != 0)
        return h.sizeImage;
    const bool uncompressed = h.compression == kBiRgb || h.compression == kBiBitfields ||
                              h.compression == kBiAlphaBitfields;
    if (!uncompressed || h.width <= 0 || h.bitCount == 0)
        return std::nullopt;
    const uint64_t stride = (uint64_t(h.width) * h.bitCount + 31) / 32 * 4;
    const int64_t height = h.height;
    const uint64_t rows = uint64_t(height < 0 ? -height : height);
    // Anything past 4 GiB cannot be described by the file header anyway.
    if (rows != 0 && stride > std::numeric_limits<uint32_t>::max() / rows)
        return std::nullopt;
    return stride * rows;
}

void putLe(std::array<uint8_t, kBitmapFileHeaderSize>& out, std::size_t at, uint32_t value,
           int bytes) {
    for (int i = 0; i < bytes; ++i)
        out[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

} // namespace

std::optional<BitmapFilePlan> planBitmapFile(ByteReader block) {
    auto header = readInfoHeader(block);
    if (!header)
        return std::nullopt;
    auto image = imageBytes(*header);
    if (!image)
        return std::nullopt;
    const uint64_t offBits = kBitmapFileHeaderSize + uint64_t(header->size) + tableBytes(*header);
    const uint64_t fileSize = offBits + *image;
    if (fileSize > std::numeric_limits<uint32_t>::max())
        return std::nullopt;
    const uint64_t blockBytes = fileSize - kBitmapFileHeaderSize;
    if (!block.contains(0, static_cast<std::size_t>(blockBytes)))
        return std::nullopt;
    BitmapFilePlan plan;
    plan.header[0] = 'B';
    plan.header[1] = 'M';
    putLe(plan.header, 2, static_cast<uint32_t>(fileSize), 4);
    putLe(plan.header, 10, static_cast<uint32_t>(offBits), 4);
    plan.blockBytes = static_cast<std::size_t>(blockBytes);
    return plan;
}

} // namespace korvane
