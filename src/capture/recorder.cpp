#include "capture/recorder.h"

#include "common/byte_reader.h"

#include <cstring>

namespace korvane {

namespace {

constexpr uint8_t kSyncByte = 0x47;
constexpr int32_t kNullPid = 0x1FFF;
constexpr int32_t kNoPid = -1;

// A PID given by the channel record: outside 0..0x1FFF it can match no packet.
int32_t validPid(int32_t pid) {
    return pid >= 0 && pid <= kNullPid ? pid : kNoPid;
}

// In a program stream recording 0 means "no such stream", never the PAT.
int32_t presentPid(int32_t pid) {
    return pid == 0 ? kNoPid : validPid(pid);
}

int32_t packetPid(const ByteReader& p) {
    return p.pid(1).value_or(kNullPid);
}

} // namespace

Recorder::Recorder(const RecorderSettings& settings, ByteSink* sink,
                   RecordingFailureReporter* reporter)
    : mode_(settings.mode), keepPid_(kNoPid), videoPid_(kNoPid), audioPid_(kNoPid), sink_(sink),
      reporter_(reporter), video_{videoBuffer_.data(), kVideoCapacity, 0, false, 0, true},
      audio_{audioBuffer_.data(), kAudioCapacity, 0, false, 0, false} {
    if (mode_ == RecorderMode::ChannelTs) {
        keepPid_ = validPid(settings.keepPid);
        videoPid_ = validPid(settings.videoPid);
        audioPid_ = validPid(settings.audioPid);
    } else if (mode_ == RecorderMode::ChannelPs) {
        videoPid_ = presentPid(settings.videoPid);
        audioPid_ = presentPid(settings.audioPid);
    }
    if (sink_ == nullptr)
        fail(RecordingFailure::CreateFailed);
}

Recorder::~Recorder() {
    finish();
}

bool Recorder::processBuffer(const uint8_t* data, std::size_t size) {
    if (failed_ || finished_ || data == nullptr || size == 0)
        return !failed_;
    alignPackets(data, size);
    closeRun();
    flushStaging();
    return !failed_;
}

bool Recorder::finish() {
    if (finished_)
        return !failed_;
    finished_ = true;
    if (!failed_ && mode_ == RecorderMode::ChannelPs) {
        video_.inPes = false;
        flushPes(video_);
        audio_.inPes = false;
        flushPes(audio_);
        flushStaging();
    }
    carryLength_ = 0;
    return !failed_;
}

// Cuts a buffer into 188-byte packets. A packet is taken when its sync byte is followed by
// another one 188 bytes on (or by the end of the buffer); otherwise the bytes up to the next
// sync byte are dropped. A packet cut by the end of the buffer is carried to the next one.
void Recorder::alignPackets(const uint8_t* data, std::size_t size) {
    ByteReader buffer(data, size);
    std::size_t pos = 0;
    if (carryLength_ > 0) {
        std::size_t need = kPacketSize - carryLength_;
        if (size < need) {
            std::memcpy(carryPacket_.data() + carryLength_, buffer.bytes(0, size), size);
            carryLength_ += size;
            return;
        }
        std::memcpy(carryPacket_.data() + carryLength_, buffer.bytes(0, need), need);
        carryLength_ = 0;
        processPacket(carryPacket_.data(), false);
        pos = need;
    }
    while (buffer.contains(pos, kPacketSize)) {
        if (buffer.u8(pos) == kSyncByte &&
            (pos + kPacketSize == size || buffer.u8(pos + kPacketSize) == kSyncByte)) {
            processPacket(buffer.bytes(pos, kPacketSize), true);
            pos += kPacketSize;
            continue;
        }
        const void* next =
            std::memchr(buffer.bytes(pos + 1, size - pos - 1), kSyncByte, size - pos - 1);
        if (next == nullptr)
            return;
        pos = static_cast<std::size_t>(static_cast<const uint8_t*>(next) - data);
    }
    carryFrom(data, size, pos);
}

// Keeps the tail of a buffer for the next one, starting at a sync byte so that bytes that
// cannot begin a packet are never completed into one.
void Recorder::carryFrom(const uint8_t* data, std::size_t size, std::size_t pos) {
    ByteReader buffer(data, size);
    if (pos >= size)
        return;
    if (buffer.u8(pos) != kSyncByte) {
        const void* next = std::memchr(buffer.bytes(pos, size - pos), kSyncByte, size - pos);
        if (next == nullptr)
            return;
        pos = static_cast<std::size_t>(static_cast<const uint8_t*>(next) - data);
    }
    carryLength_ = size - pos;
    std::memcpy(carryPacket_.data(), buffer.bytes(pos, carryLength_), carryLength_);
}

void Recorder::processPacket(const uint8_t* packet, bool inBuffer) {
    ByteReader p(packet, kPacketSize);
    int32_t pid = packetPid(p);
    switch (mode_) {
    case RecorderMode::Multiplex:
        if (pid != kNullPid)
            keepPacket(packet, inBuffer);
        break;
    case RecorderMode::ChannelTs:
        if (pid == 0 || pid == keepPid_ || pid == videoPid_ || pid == audioPid_)
            keepPacket(packet, inBuffer);
        break;
    case RecorderMode::ChannelPs:
        if (pid == videoPid_)
            collect(video_, packet);
        else if (pid == audioPid_)
            collect(audio_, packet);
        break;
    }
}

// Packets that follow each other in the buffer grow one run, written at once later.
void Recorder::keepPacket(const uint8_t* packet, bool inBuffer) {
    if (inBuffer && packet == runEnd_ && runBegin_ != nullptr) {
        runEnd_ += kPacketSize;
        return;
    }
    closeRun();
    if (inBuffer) {
        runBegin_ = packet;
        runEnd_ = packet + kPacketSize;
    } else {
        emit(packet, kPacketSize);
    }
}

// One packet of the video or audio PID into its PES collector. Packets without payload do
// not advance the continuity counter, so they neither test nor move it.
void Recorder::collect(PesCollector& pes, const uint8_t* packet) {
    ByteReader p(packet, kPacketSize);
    uint8_t flags = p.u8(3).value_or(0);
    if ((flags & 0x10) == 0) {
        // Many multiplexes send the PCR in packets of their own, an adaptation field without
        // payload: without it no pack header, and so no PES, would ever be written.
        if (pes.video && (flags & 0x20) && p.u8(4).value_or(0) >= 7 && (p.u8(5).value_or(0) & 0x10))
            writePackHeader(p.bytes(6, 6));
        return;
    }
    uint8_t cc = flags & 0x0F;
    if (pes.inPes && ((cc - pes.lastCc) & 0x0F) != 1) {
        pes.inPes = false;
        flushPes(pes);
    }
    if (p.u8(1).value_or(0) & 0x40) {
        pes.inPes = true;
        flushPes(pes);
    }
    if (!pes.inPes)
        return;
    pes.lastCc = cc;

    std::size_t offset = 4;
    std::size_t adaptationLength = 0;
    bool hasAdaptation = (flags & 0x20) != 0;
    if (hasAdaptation) {
        adaptationLength = p.u8(4).value_or(0xFF);
        if (adaptationLength + 1 >= kPacketSize - 4)
            return;
        offset = 5 + adaptationLength;
    }
    std::size_t length = kPacketSize - offset;
    if (pes.fill + length <= pes.capacity) {
        std::memcpy(pes.buffer + pes.fill, p.bytes(offset, length), length);
        pes.fill += length;
    }
    // The PCR takes the flags byte and six more bytes of the adaptation field.
    if (pes.video && hasAdaptation && adaptationLength >= 7 && (p.u8(5).value_or(0) & 0x10))
        writePackHeader(p.bytes(6, 6));
}

void Recorder::flushPes(PesCollector& pes) {
    // Shorter than the fixed PES header: no length field to fill in, nothing decodable.
    if (packHeaderWritten_ && pes.fill >= 6 && !failed_) {
        if (pes.video)
            flushVideoPes(pes);
        else
            flushAudioPes(pes);
    }
    pes.fill = 0;
}

void Recorder::flushAudioPes(PesCollector& pes) {
    std::size_t length = pes.fill - 6;
    pes.buffer[4] = static_cast<uint8_t>(length >> 8);
    pes.buffer[5] = static_cast<uint8_t>(length);
    emit(pes.buffer, pes.fill);
}

// A video PES longer than PES_packet_length can say leaves as several PES packets; every one
// after the first carries a 9-byte header without timestamps.
void Recorder::flushVideoPes(PesCollector& pes) {
    while (pes.fill > kMaxPesPacket) {
        pes.buffer[4] = 0xFF;
        pes.buffer[5] = 0xFF;
        emit(pes.buffer, kMaxPesPacket);
        std::size_t rest = pes.fill - kMaxPesPacket;
        std::memmove(pes.buffer + 9, pes.buffer + kMaxPesPacket, rest);
        pes.fill = rest + 9;
        pes.buffer[6] &= static_cast<uint8_t>(~0x04);
        pes.buffer[7] = 0;
        pes.buffer[8] = 0;
    }
    std::size_t length = pes.fill - 6;
    pes.buffer[4] = static_cast<uint8_t>(length >> 8);
    pes.buffer[5] = static_cast<uint8_t>(length);
    emit(pes.buffer, pes.fill);
}

// An MPEG-2 pack header whose SCR is the packet's PCR (33-bit base, 9-bit extension), with
// program_mux_rate 10240 and no stuffing.
void Recorder::writePackHeader(const uint8_t* pcr) {
    ByteReader r(pcr, 6);
    uint8_t a0 = r.u8(0).value_or(0), a1 = r.u8(1).value_or(0), a2 = r.u8(2).value_or(0);
    uint8_t a3 = r.u8(3).value_or(0), a4 = r.u8(4).value_or(0), a5 = r.u8(5).value_or(0);
    uint8_t header[kPackHeaderSize] = {
        0x00,
        0x00,
        0x01,
        0xBA,
        static_cast<uint8_t>(0x44 | ((a0 >> 5) << 3) | ((a0 >> 3) & 0x03)),
        static_cast<uint8_t>(((a0 & 0x07) << 5) | (a1 >> 3)),
        static_cast<uint8_t>(((a1 & 0x07) << 5) | (((a2 >> 6) & 0x03) << 3) | 0x04 |
                             ((a2 >> 4) & 0x03)),
        static_cast<uint8_t>(((a2 & 0x0F) << 4) | (a3 >> 4)),
        static_cast<uint8_t>(((a3 & 0x0F) << 4) | ((a4 >> 7) << 3) | 0x04 | ((a4 & 0x01) << 1) |
                             (a5 >> 7)),
        static_cast<uint8_t>(((a5 & 0x7F) << 1) | 0x01),
        0x00,
        0xA0,
        0x03,
        0xF8,
    };
    emit(header, sizeof header);
    packHeaderWritten_ = true;
}

void Recorder::closeRun() {
    if (runBegin_ == nullptr)
        return;
    const uint8_t* begin = runBegin_;
    std::size_t size = static_cast<std::size_t>(runEnd_ - runBegin_);
    runBegin_ = runEnd_ = nullptr;
    emit(begin, size);
}

// Large pieces go straight to the sink; small ones are gathered and leave together. Either
// way the bytes have been copied or written when this returns, so callers may reuse them.
void Recorder::emit(const uint8_t* data, std::size_t size) {
    if (failed_ || size == 0)
        return;
    if (size >= kDirectWrite) {
        flushStaging();
        if (!failed_ && !sink_->write(data, size))
            fail(RecordingFailure::WriteFailed);
        return;
    }
    if (stagingFill_ + size > kStagingSize)
        flushStaging();
    std::memcpy(staging_.data() + stagingFill_, data, size);
    stagingFill_ += size;
}

void Recorder::flushStaging() {
    if (stagingFill_ == 0)
        return;
    std::size_t size = stagingFill_;
    stagingFill_ = 0;
    if (!failed_ && !sink_->write(staging_.data(), size))
        fail(RecordingFailure::WriteFailed);
}

void Recorder::fail(RecordingFailure failure) {
    if (failed_)
        return;
    failed_ = true;
    stagingFill_ = 0;
    runBegin_ = runEnd_ = nullptr;
    if (reporter_ != nullptr)
        reporter_->reportRecordingFailure(failure);
}

} // namespace korvane
