#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace korvane {

// Bounds-checked view over untrusted bytes (sections from the air, files, packets).
// Reads use absolute offsets from the start of the view, multi-byte fields most
// significant byte first unless the name says le. A read that would pass the end yields nothing.
class ByteReader {
  public:
    ByteReader(const uint8_t* data, std::size_t size) : data_(data), size_(data ? size : 0) {}

    std::size_t size() const { return size_; }
    const uint8_t* data() const { return data_; }

    // True when [offset, offset + count) lies inside the view.
    bool contains(std::size_t offset, std::size_t count) const {
        return offset <= size_ && count <= size_ - offset;
    }

    std::optional<uint8_t> u8(std::size_t offset) const {
        if (!contains(offset, 1))
            return std::nullopt;
        return data_[offset];
    }

    std::optional<uint16_t> u16(std::size_t offset) const {
        if (!contains(offset, 2))
            return std::nullopt;
        return static_cast<uint16_t>((data_[offset] << 8) | data_[offset + 1]);
    }

    std::optional<uint32_t> u32(std::size_t offset) const {
        if (!contains(offset, 4))
            return std::nullopt;
        return (uint32_t{data_[offset]} << 24) | (uint32_t{data_[offset + 1]} << 16) |
               (uint32_t{data_[offset + 2]} << 8) | uint32_t{data_[offset + 3]};
    }

    // Little-endian fields, for the platform's own structures (bitmap headers).
    std::optional<uint16_t> u16le(std::size_t offset) const {
        if (!contains(offset, 2))
            return std::nullopt;
        return static_cast<uint16_t>(data_[offset] | (data_[offset + 1] << 8));
    }

    std::optional<uint32_t> u32le(std::size_t offset) const {
        if (!contains(offset, 4))
            return std::nullopt;
        return uint32_t{data_[offset]} | (uint32_t{data_[offset + 1]} << 8) |
               (uint32_t{data_[offset + 2]} << 16) | (uint32_t{data_[offset + 3]} << 24);
    }

    // A 13-bit PID: the high byte masked with 0x1F.
    std::optional<uint16_t> pid(std::size_t offset) const {
        auto v = u16(offset);
        if (!v)
            return std::nullopt;
        return static_cast<uint16_t>(*v & 0x1FFF);
    }

    // A 12-bit length: the high byte masked with 0x0F.
    std::optional<uint16_t> length12(std::size_t offset) const {
        auto v = u16(offset);
        if (!v)
            return std::nullopt;
        return static_cast<uint16_t>(*v & 0x0FFF);
    }

    // Pointer to count bytes at offset, or null when they do not all lie in the view.
    const uint8_t* bytes(std::size_t offset, std::size_t count) const {
        return contains(offset, count) ? data_ + offset : nullptr;
    }

    // The part of the view from offset on, at most count bytes (empty when offset is past the end).
    ByteReader sub(std::size_t offset, std::size_t count) const {
        if (offset >= size_)
            return ByteReader(nullptr, 0);
        std::size_t n = size_ - offset < count ? size_ - offset : count;
        return ByteReader(data_ + offset, n);
    }

  private:
    const uint8_t* data_;
    std::size_t size_;
};

} // namespace korvane
