#pragma once

#include "capture/recorder.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <random>
#include <vector>

namespace korvane {
namespace recorder_test {

using Bytes = std::vector<uint8_t>;

struct MemorySink : ByteSink {
    Bytes bytes;
    std::vector<std::size_t> writes;
    std::size_t acceptedWrites = SIZE_MAX; // writes after this many fail
    bool write(const uint8_t* data, std::size_t size) override {
        if (writes.size() >= acceptedWrites)
            return false;
        writes.push_back(size);
        bytes.insert(bytes.end(), data, data + size);
        return true;
    }
};

struct CountingReporter : RecordingFailureReporter {
    std::vector<RecordingFailure> failures;
    void reportRecordingFailure(RecordingFailure failure) override { failures.push_back(failure); }
};

// A packet with the given PID and continuity counter, payload only, filled with a marker.
inline Bytes tsPacket(int pid, uint8_t cc = 0, uint8_t fill = 0xAA, bool start = false) {
    Bytes p(188, fill);
    p[0] = 0x47;
    p[1] = static_cast<uint8_t>(((pid >> 8) & 0x1F) | (start ? 0x40 : 0));
    p[2] = static_cast<uint8_t>(pid);
    p[3] = static_cast<uint8_t>(0x10 | (cc & 0x0F));
    return p;
}

inline void append(Bytes& to, const Bytes& from) {
    to.insert(to.end(), from.begin(), from.end());
}

inline std::vector<int> pidsOf(const Bytes& ts) {
    std::vector<int> pids;
    for (std::size_t i = 0; i + 188 <= ts.size(); i += 188)
        pids.push_back(((ts[i + 1] & 0x1F) << 8) | ts[i + 2]);
    return pids;
}

inline Bytes pcrBytes(uint64_t base, uint16_t ext) {
    return {static_cast<uint8_t>(base >> 25),
            static_cast<uint8_t>(base >> 17),
            static_cast<uint8_t>(base >> 9),
            static_cast<uint8_t>(base >> 1),
            static_cast<uint8_t>(((base & 1) << 7) | 0x7E | (ext >> 8)),
            static_cast<uint8_t>(ext)};
}

// Cuts a PES into transport packets on pid, the first one with the unit start flag and, when
// given, a PCR; the last one padded with adaptation-field stuffing.
inline Bytes packetizePes(int pid, const Bytes& pes, uint8_t& cc, const Bytes& pcr = {}) {
    Bytes out;
    std::size_t pos = 0;
    bool first = true;
    while (pos < pes.size() || first) {
        Bytes p(188, 0xFF);
        p[0] = 0x47;
        p[1] = static_cast<uint8_t>(((pid >> 8) & 0x1F) | (first ? 0x40 : 0));
        p[2] = static_cast<uint8_t>(pid);
        std::size_t header = 4;
        std::size_t adaptation = 0; // bytes after the length byte
        if (first && !pcr.empty())
            adaptation = 7;
        std::size_t room = 188 - 4 - (adaptation ? adaptation + 1 : 0);
        std::size_t left = pes.size() - pos;
        if (left < room) {
            std::size_t need = 188 - 4 - left; // adaptation field incl. its length byte
            adaptation = need - 1;
        }
        if (adaptation > 0 || (left < room)) {
            p[3] = static_cast<uint8_t>(0x30 | (cc & 0x0F));
            p[4] = static_cast<uint8_t>(adaptation);
            if (adaptation > 0) {
                p[5] = 0x00;
                if (first && !pcr.empty()) {
                    p[5] = 0x10;
                    std::copy(pcr.begin(), pcr.end(), p.begin() + 6);
                }
            }
            header = 5 + adaptation;
        } else {
            p[3] = static_cast<uint8_t>(0x10 | (cc & 0x0F));
        }
        std::size_t take = std::min<std::size_t>(188 - header, left);
        std::copy(pes.begin() + static_cast<long>(pos), pes.begin() + static_cast<long>(pos + take),
                  p.begin() + static_cast<long>(header));
        pos += take;
        cc = static_cast<uint8_t>((cc + 1) & 0x0F);
        first = false;
        append(out, p);
    }
    return out;
}

// A PES of total size bytes: start code, stream id, zero length, an MPEG-2 header with PTS.
inline Bytes pesOf(uint8_t streamId, std::size_t size, uint8_t seed = 1) {
    Bytes pes(size);
    for (std::size_t i = 0; i < size; ++i)
        pes[i] = static_cast<uint8_t>(seed + i * 7);
    const uint8_t head[] = {0x00, 0x00, 0x01, streamId, 0x00, 0x00, 0x85, 0x80, 0x05};
    std::copy(head, head + std::min<std::size_t>(size, sizeof head), pes.begin());
    return pes;
}

// frames rounds of PAT, a null packet, a video PES of videoBase + 411 * round bytes on 0x100
// (with a PCR), the PMT PID 0x555 and an audio PES on 0x101.
inline Bytes channelMultiplex(int frames, std::size_t videoBase) {
    Bytes ts;
    uint8_t vcc = 0, acc = 0;
    const auto pcr = pcrBytes(90000, 0);
    for (int frame = 0; frame < frames; ++frame) {
        const auto round = static_cast<uint8_t>(frame);
        append(ts, tsPacket(0, round));
        append(ts, tsPacket(0x1FFF));
        append(ts, packetizePes(0x100, pesOf(0xE0, videoBase + frame * 411, round), vcc, pcr));
        append(ts, tsPacket(0x555, round));
        append(ts, packetizePes(0x101, pesOf(0xC0, 700 + frame, round), acc));
    }
    return ts;
}

inline std::unique_ptr<Recorder> makeRecorder(const RecorderSettings& s, MemorySink& sink,
                                              RecordingFailureReporter* reporter = nullptr) {
    return std::make_unique<Recorder>(s, &sink, reporter);
}

inline Bytes recordWhole(const RecorderSettings& s, const Bytes& ts) {
    MemorySink sink;
    {
        auto r = makeRecorder(s, sink);
        r->processBuffer(ts.data(), ts.size());
    }
    return sink.bytes;
}

inline Bytes recordSplit(const RecorderSettings& s, const Bytes& ts, uint32_t seed,
                         std::size_t maxPiece) {
    MemorySink sink;
    std::mt19937 rng(seed);
    {
        auto r = makeRecorder(s, sink);
        std::size_t pos = 0;
        while (pos < ts.size()) {
            std::size_t n = std::min<std::size_t>(1 + rng() % maxPiece, ts.size() - pos);
            r->processBuffer(ts.data() + pos, n);
            pos += n;
        }
    }
    return sink.bytes;
}

} // namespace recorder_test

} // namespace korvane
