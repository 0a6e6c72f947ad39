#include "support/dvb_subtitle_writer.h"

#include <algorithm>

namespace korvane::dvbsub {

namespace {

void put16(Bytes& b, unsigned v) {
    b.push_back(static_cast<uint8_t>(v >> 8));
    b.push_back(static_cast<uint8_t>(v));
}

// Most significant bit first, as the pixel code strings are read.
class BitWriter {
  public:
    explicit BitWriter(Bytes& out) : out_(out) {}
    void put(unsigned value, int bits) {
        for (int i = bits - 1; i >= 0; --i) {
            if (used_ == 0)
                out_.push_back(0);
            if ((value >> i) & 1)
                out_.back() |= static_cast<uint8_t>(0x80 >> used_);
            used_ = (used_ + 1) % 8;
        }
    }
    void align() { used_ = 0; }

  private:
    Bytes& out_;
    int used_ = 0;
};

// Runs of colour 0 take the string's run codes; other pixels are written one by one.
void putZeros2(BitWriter& w, int count) {
    while (count > 0) {
        if (count >= 29) {
            const int n = std::min(count, 284);
            w.put(0b000011, 6), w.put(static_cast<unsigned>(n - 29), 8), w.put(0, 2);
            count -= n;
        } else if (count >= 12) {
            const int n = std::min(count, 27);
            w.put(0b000010, 6), w.put(static_cast<unsigned>(n - 12), 4), w.put(0, 2);
            count -= n;
        } else if (count >= 3) {
            const int n = std::min(count, 10);
            w.put(0b001, 3), w.put(static_cast<unsigned>(n - 3), 3), w.put(0, 2);
            count -= n;
        } else if (count == 2) {
            w.put(0b000001, 6);
            count = 0;
        } else {
            w.put(0b0001, 4);
            count = 0;
        }
    }
}

void putZeros4(BitWriter& w, int count) {
    while (count > 0) {
        if (count >= 25) {
            const int n = std::min(count, 280);
            w.put(0b00001111, 8), w.put(static_cast<unsigned>(n - 25), 8), w.put(0, 4);
            count -= n;
        } else if (count >= 9) {
            w.put(0b00001110, 8), w.put(static_cast<unsigned>(count - 9), 4), w.put(0, 4);
            count = 0;
        } else if (count >= 3) {
            w.put(0b00000, 5), w.put(static_cast<unsigned>(count - 2), 3);
            count = 0;
        } else if (count == 2) {
            w.put(0b00001101, 8);
            count = 0;
        } else {
            w.put(0b00001100, 8);
            count = 0;
        }
    }
}

void putZeros8(BitWriter& w, int count) {
    while (count > 0) {
        const int n = std::min(count, 127);
        w.put(0, 8), w.put(0, 1), w.put(static_cast<unsigned>(n), 7);
        count -= n;
    }
}

// One row as a pixel code string of `bits` per pixel, then the end of the object line.
void putRow(Bytes& out, int bits, const uint8_t* row, int width) {
    out.push_back(bits == 2 ? 0x10 : bits == 4 ? 0x11 : 0x12);
    BitWriter w(out);
    for (int x = 0; x < width;) {
        int zeros = 0;
        while (x + zeros < width && row[x + zeros] == 0)
            ++zeros;
        if (zeros > 0) {
            bits == 2 ? putZeros2(w, zeros) : bits == 4 ? putZeros4(w, zeros) : putZeros8(w, zeros);
            x += zeros;
            continue;
        }
        w.put(row[x++], bits);
    }
    // End of string: 00 0 0 00, 0000 0 000, 00000000 0 0000000.
    w.put(0, bits == 2 ? 6 : bits == 4 ? 8 : 16);
    w.align();
    out.push_back(0xF0);
}

uint8_t depthCode(int bits) {
    return bits == 2 ? 1 : bits == 4 ? 2 : 3;
}

} // namespace

Bytes segment(uint8_t type, uint16_t page, const Bytes& body) {
    Bytes b{0x0F, type};
    put16(b, page);
    put16(b, static_cast<unsigned>(body.size()));
    b.insert(b.end(), body.begin(), body.end());
    return b;
}

Bytes displayDefinition(uint16_t page, uint8_t version, int width, int height) {
    Bytes body{static_cast<uint8_t>(version << 4 | 0x07)};
    put16(body, static_cast<unsigned>(width - 1));
    put16(body, static_cast<unsigned>(height - 1));
    return segment(0x14, page, body);
}

Bytes pageComposition(uint16_t page, uint8_t timeoutSeconds, uint8_t version, uint8_t state,
                      const std::vector<RegionPlacement>& regions) {
    Bytes body{timeoutSeconds, static_cast<uint8_t>(version << 4 | state << 2 | 0x03)};
    for (const RegionPlacement& r : regions) {
        body.push_back(r.regionId);
        body.push_back(0xFF);
        put16(body, static_cast<unsigned>(r.x));
        put16(body, static_cast<unsigned>(r.y));
    }
    return segment(0x10, page, body);
}

Bytes regionComposition(uint16_t page, uint8_t regionId, uint8_t version, int width, int height,
                        int bits, uint8_t clutId, const std::vector<ObjectPlacement>& objects) {
    const uint8_t depth = depthCode(bits);
    Bytes body{regionId, static_cast<uint8_t>(version << 4 | 0x08 | 0x07)};
    put16(body, static_cast<unsigned>(width));
    put16(body, static_cast<unsigned>(height));
    body.push_back(static_cast<uint8_t>(depth << 5 | depth << 2 | 0x03));
    body.push_back(clutId);
    body.push_back(0);    // 8-bit background colour
    body.push_back(0x03); // 4-bit and 2-bit background colours 0
    for (const ObjectPlacement& o : objects) {
        put16(body, o.objectId);
        put16(body, 0x0000 | (static_cast<unsigned>(o.x) & 0x0FFF)); // bitmap, own object
        put16(body, 0xF000 | (static_cast<unsigned>(o.y) & 0x0FFF));
    }
    return segment(0x11, page, body);
}

Bytes clutDefinition(uint16_t page, uint8_t clutId, uint8_t version,
                     const std::vector<ClutEntry>& entries) {
    Bytes body{clutId, static_cast<uint8_t>(version << 4 | 0x0F)};
    for (const ClutEntry& e : entries) {
        body.push_back(e.id);
        body.push_back(static_cast<uint8_t>(e.depths | 0x1F)); // reserved bits, full range
        body.insert(body.end(), {e.y, e.cr, e.cb, e.t});
    }
    return segment(0x12, page, body);
}

Bytes objectData(uint16_t page, uint16_t objectId, uint8_t version, int bits, int width,
                 const Bytes& pixels) {
    const int height = width > 0 ? static_cast<int>(pixels.size()) / width : 0;
    Bytes fields[2];
    for (int y = 0; y < height; ++y)
        putRow(fields[y % 2], bits, pixels.data() + static_cast<std::size_t>(y) * width, width);
    Bytes body;
    put16(body, objectId);
    body.push_back(static_cast<uint8_t>(version << 4 | 0x01)); // pixels coded, colours modified
    put16(body, static_cast<unsigned>(fields[0].size()));
    put16(body, static_cast<unsigned>(fields[1].size()));
    body.insert(body.end(), fields[0].begin(), fields[0].end());
    body.insert(body.end(), fields[1].begin(), fields[1].end());
    return segment(0x13, page, body);
}

Bytes endOfDisplaySet(uint16_t page) {
    return segment(0x80, page, {});
}

Bytes dataField(const std::vector<Bytes>& segments) {
    Bytes b{0x20, 0x00};
    for (const Bytes& s : segments)
        b.insert(b.end(), s.begin(), s.end());
    b.push_back(0xFF);
    return b;
}

Bytes pesPacket(const Bytes& dataField, std::optional<int64_t> pts) {
    Bytes b{0x00, 0x00, 0x01, 0xBD, 0, 0, 0x80, static_cast<uint8_t>(pts ? 0x80 : 0x00)};
    b.push_back(pts ? 5 : 0);
    if (pts) {
        const uint64_t v = static_cast<uint64_t>(*pts) & 0x1FFFFFFFFull;
        b.push_back(static_cast<uint8_t>(0x21 | ((v >> 29) & 0x0E)));
        put16(b, static_cast<unsigned>(((v >> 14) & 0xFFFE) | 1));
        put16(b, static_cast<unsigned>(((v << 1) & 0xFFFE) | 1));
    }
    b.insert(b.end(), dataField.begin(), dataField.end());
    const std::size_t length = b.size() - 6;
    b[4] = static_cast<uint8_t>(length >> 8);
    b[5] = static_cast<uint8_t>(length);
    return b;
}

} // namespace korvane::dvbsub
