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

bool hasPayload(const ByteReader& p) {
    return (p.u8(3).value_or(0) & 0x10) != 0;
}

// The six PCR bytes of a packet's adaptation field (its flags byte, then the PCR), or null
// when it carries none.
const uint8_t* packetPcr(const ByteReader& p) {
    if ((p.u8(3).value_or(0) & 0x20) == 0 || p.u8(4).value_or(0) < 7 ||
        (p.u8(5).value_or(0) & 0x10) == 0)
        return nullptr;
    return p.bytes(6, 6);
}

} // namespace

Recorder::Recorder(const RecorderSettings& settings, ByteSink* sink,
                   RecordingFailureReporter* reporter)
    : mode_(settings.mode), keepPid_(kNoPid), videoPid_(kNoPid), audioPid_(kNoPid), pcrPid_(kNoPid),
      sink_(sink),
      reporter_(reporter), video_{videoBuffer_.data(), kVideoCapacity, 0, false, 0, true},
      audio_{audioBuffer_.data(), kAudioCapacity, 0, false, 0, false} {
    takeStreams(settings);
    streamMapPending_ = mode_ == RecorderMode::ChannelPs && videoCodec_ == VideoCodec::H264;
    if (sink_ == nullptr)
        fail(RecordingFailure::CreateFailed);
}

void Recorder::takeStreams(const RecorderSettings& settings) {
    if (mode_ == RecorderMode::ChannelTs) {
        keepPid_ = validPid(settings.keepPid);
        videoPid_ = validPid(settings.videoPid);
        audioPid_ = validPid(settings.audioPid);
    } else if (mode_ == RecorderMode::ChannelPs) {
        videoPid_ = presentPid(settings.videoPid);
        audioPid_ = presentPid(settings.audioPid);
        // A PMT without a PCR names 0x1FFF: the video PID's PCR, if any, is taken then.
        const int32_t pcr = presentPid(settings.pcrPid);
        pcrPid_ = pcr == kNoPid || pcr == kNullPid ? videoPid_ : pcr;
        videoCodec_ = settings.videoCodec;
        audioCodec_ = settings.audioCodec;
    }
}

void Recorder::changeStreams(const RecorderSettings& settings) {
    std::lock_guard lock(changeLock_);
    changed_ = settings;
    changePending_.store(true, std::memory_order_release);
}

// A stream whose PID or codec changed ends its PES where it stands, as a continuity break
// would, and the next one starts at the new PID's next unit start.
void Recorder::switchStreams(const RecorderSettings& settings) {
    if (mode_ != RecorderMode::ChannelPs) {
        takeStreams(settings);
        return;
    }
    const int32_t video = videoPid_, audio = audioPid_, pcr = pcrPid_;
    const VideoCodec videoCodec = videoCodec_;
    const AudioCodec audioCodec = audioCodec_;
    takeStreams(settings);
    const bool videoChanged = video != videoPid_ || videoCodec != videoCodec_;
    const bool audioChanged = audio != audioPid_ || audioCodec != audioCodec_;
    if (videoChanged) {
        video_.inPes = false;
        flushPes(video_);
    }
    if (audioChanged) {
        audio_.inPes = false;
        flushPes(audio_);
    }
    if (pcr != pcrPid_ || videoChanged) {
        pendingPcr_ = false;
        videoPayloadPcr_ = false;
    }
    if ((videoChanged || audioChanged) && (streamMapWritten_ || videoCodec_ == VideoCodec::H264)) {
        streamMapPending_ = true;
        if (packHeaderWritten_)
            writeStreamMap();
    }
}

Recorder::~Recorder() {
    finish();
}

bool Recorder::processBuffer(const uint8_t* data, std::size_t size) {
    if (failed_ || finished_ || data == nullptr || size == 0)
        return !failed_;
    if (changePending_.load(std::memory_order_acquire)) {
        std::optional<RecorderSettings> changed;
        {
            std::lock_guard lock(changeLock_);
            changed.swap(changed_);
            changePending_.store(false, std::memory_order_relaxed);
        }
        if (changed)
            switchStreams(*changed);
    }
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
        // A PCR in a payload packet of the video PID is used by collect as that packet goes by.
        if (pid == pcrPid_ && (pid != videoPid_ || !hasPayload(p)))
            keepPendingPcr(p);
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
    if ((flags & 0x10) == 0)
        return;
    uint8_t cc = flags & 0x0F;
    if (pes.inPes && ((cc - pes.lastCc) & 0x0F) != 1) {
        pes.inPes = false;
        flushPes(pes);
    }
    const bool start = (p.u8(1).value_or(0) & 0x40) != 0;
    if (start) {
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
    // A video PES larger than the buffer (an HD I-frame) leaves in full PES packets as it
    // grows, which are the bytes its flush would have written; before the first pack header
    // it is dropped whole, like any PES there.
    if (pes.video && pes.fill + length > pes.capacity) {
        if (packHeaderWritten_ && !failed_) {
            emitFullVideoPackets(pes);
        } else {
            pes.inPes = false;
            pes.fill = 0;
            return;
        }
    }
    if (pes.fill + length <= pes.capacity) {
        std::memcpy(pes.buffer + pes.fill, p.bytes(offset, length), length);
        pes.fill += length;
    }
    if (!pes.video)
        return;
    if (const uint8_t* pcr = pcrPid_ == videoPid_ ? packetPcr(p) : nullptr) {
        writePackHeader(pcr);
        pendingPcr_ = false;
        videoPayloadPcr_ = true;
    } else if (start && pendingPcr_ && !videoPayloadPcr_) {
        writePackHeader(pendingPcrBytes_.data());
        pendingPcr_ = false;
    }
}

// A PCR that came without video payload: from an adaptation-only packet of the video PID or
// from the channel's own PCR PID. The next video PES start without a PCR of its own gets a
// pack header from the latest one, so there is at most one pack header per video PES, as
// when the PCR rides in the video's payload packets. Once a PCR has come in those, the
// stream is one whose pack headers they give alone, as they always have.
void Recorder::keepPendingPcr(const ByteReader& packet) {
    if (const uint8_t* pcr = packetPcr(packet)) {
        std::memcpy(pendingPcrBytes_.data(), pcr, pendingPcrBytes_.size());
        pendingPcr_ = true;
    }
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
    emitFullVideoPackets(pes);
    std::size_t length = pes.fill - 6;
    pes.buffer[4] = static_cast<uint8_t>(length >> 8);
    pes.buffer[5] = static_cast<uint8_t>(length);
    emit(pes.buffer, pes.fill);
}

// Writes full-size PES packets while more than one remains, keeping the rest behind a
// 9-byte header.
void Recorder::emitFullVideoPackets(PesCollector& pes) {
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
    if (streamMapPending_)
        writeStreamMap();
}

namespace {

// The CRC_32 of MPEG-2 tables (polynomial 0x04C11DB7, no reflection, initial all ones).
uint32_t mpegCrc32(const uint8_t* data, std::size_t size) {
    uint32_t crc = 0xFFFFFFFF;
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= static_cast<uint32_t>(data[i]) << 24;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x80000000) != 0 ? (crc << 1) ^ 0x04C11DB7 : crc << 1;
    }
    return crc;
}

// The stream id of the PES being collected when its header is there and in [low, high].
uint8_t collectedStreamId(const uint8_t* buffer, std::size_t fill, uint8_t low, uint8_t high,
                          uint8_t otherwise) {
    if (fill < 4)
        return otherwise;
    const uint8_t id = buffer[3];
    return id >= low && id <= high ? id : otherwise;
}

} // namespace

// A program stream map naming each stream's type, so that a reader need not guess H.264 from
// the bytes: video in 0xE0-0xEF, MPEG audio in 0xC0-0xDF, AC-3 and E-AC-3 in
// private_stream_1.
void Recorder::writeStreamMap() {
    streamMapPending_ = false;
    streamMapWritten_ = true;
    uint8_t map[6 + 10 + 2 * 4 + 4] = {0x00, 0x00, 0x01, 0xBC};
    std::size_t size = 6;
    map[size++] = static_cast<uint8_t>(0xE0 | (streamMapVersion_ & 0x1F));
    streamMapVersion_ = static_cast<uint8_t>((streamMapVersion_ + 1) & 0x1F);
    map[size++] = 0xFF;
    map[size++] = 0x00; // no program descriptors
    map[size++] = 0x00;
    const std::size_t entriesAt = size;
    size += 2;
    auto entry = [&](uint8_t type, uint8_t id) {
        map[size++] = type;
        map[size++] = id;
        map[size++] = 0x00;
        map[size++] = 0x00;
    };
    if (videoPid_ != kNoPid)
        entry(videoCodec_ == VideoCodec::H264 ? 0x1B : 0x02,
              collectedStreamId(video_.buffer, video_.fill, 0xE0, 0xEF, 0xE0));
    if (audioPid_ != kNoPid) {
        if (audioCodec_ == AudioCodec::Mpeg)
            entry(0x03, collectedStreamId(audio_.buffer, audio_.fill, 0xC0, 0xDF, 0xC0));
        else
            entry(0x06, 0xBD);
    }
    const std::size_t entries = size - entriesAt - 2;
    map[entriesAt] = static_cast<uint8_t>(entries >> 8);
    map[entriesAt + 1] = static_cast<uint8_t>(entries);
    const std::size_t length = size + 4 - 6;
    map[4] = static_cast<uint8_t>(length >> 8);
    map[5] = static_cast<uint8_t>(length);
    const uint32_t crc = mpegCrc32(map, size);
    for (int shift = 24; shift >= 0; shift -= 8)
        map[size++] = static_cast<uint8_t>(crc >> shift);
    emit(map, size);
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
