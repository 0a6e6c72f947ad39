#pragma once

#include "channels/channel_list.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>

namespace korvane {

class ByteReader;

// Where a recording's bytes go: a file on Windows, memory or a stdio file elsewhere.
class ByteSink {
  public:
    virtual ~ByteSink() = default;
    // Writes all size bytes, in order. False when they could not all be written.
    virtual bool write(const uint8_t* data, std::size_t size) = 0;
    // Ends the output (the last buffered bytes reach the disk, the file is closed). False
    // when that failed: what was written may not all be there.
    virtual bool close() { return true; }
};

enum class RecordingFailure : uint8_t {
    CreateFailed = 1, // the output file could not be created
    WriteFailed = 2,  // a write was refused or cut short (disk full, folder removed)
};

// Told at most once per recording that it lost its output. It may be called on the
// grabber's streaming thread, so the Windows side only posts a message to the main window.
class RecordingFailureReporter {
  public:
    virtual ~RecordingFailureReporter() = default;
    virtual void reportRecordingFailure(RecordingFailure failure) = 0;
};

enum class RecorderMode : uint8_t { Multiplex, ChannelTs, ChannelPs };

enum class VideoCodec : uint8_t { Mpeg2, H264 };

// What one recording keeps. The mode is fixed here rather than guessed from which PIDs are
// zero, so a channel whose PMT PID is still unknown is still recorded as a transport stream.
struct RecorderSettings {
    RecorderMode mode = RecorderMode::Multiplex;
    int32_t keepPid = 0;  // channel TS: the PMT PID
    int32_t videoPid = 0; // channel TS and PS
    int32_t audioPid = 0; // channel TS and PS: the track being played
    // Channel PS: the channel's PCR PID. 0 (unknown), 0x1FFF (none) or the video PID: the pack
    // headers take the PCR from the video PID.
    int32_t pcrPid = 0;
    // Channel PS: an H.264 picture gets a program stream map naming its stream type, which
    // also lists the audio by its codec.
    VideoCodec videoCodec = VideoCodec::Mpeg2;
    AudioCodec audioCodec = AudioCodec::Mpeg;

    friend bool operator==(const RecorderSettings&, const RecorderSettings&) = default;

    static RecorderSettings multiplex() { return {}; }
    static RecorderSettings channelTs(int32_t pmtPid, int32_t videoPid, int32_t audioPid) {
        return {RecorderMode::ChannelTs, pmtPid, videoPid, audioPid, 0};
    }
    static RecorderSettings channelPs(int32_t videoPid, int32_t audioPid, int32_t pcrPid = 0,
                                      VideoCodec videoCodec = VideoCodec::Mpeg2,
                                      AudioCodec audioCodec = AudioCodec::Mpeg) {
        return {RecorderMode::ChannelPs, 0, videoPid, audioPid, pcrPid, videoCodec, audioCodec};
    }
};

// Turns the tuner's transport stream buffers into one of the three recording forms: the
// multiplex without null packets, one channel's packets, or one channel remultiplexed to an
// MPEG-2 program stream. All its buffers are fixed arrays (about 400 KB: allocate it on the
// heap). One streaming thread calls processBuffer, and finish runs after that thread has
// stopped calling; only changeStreams may be called from another thread.
class Recorder {
  public:
    static constexpr std::size_t kPacketSize = 188;
    static constexpr std::size_t kVideoCapacity = 0x40000;
    static constexpr std::size_t kAudioCapacity = 0x10000;
    // 6 header bytes and the largest PES_packet_length.
    static constexpr std::size_t kMaxPesPacket = 6 + 65535;
    static constexpr std::size_t kPackHeaderSize = 14;

    // sink and reporter must outlive the recorder (its destructor may still write). A null
    // sink means the file could not be created: that is reported at once and nothing is
    // recorded. reporter may be null.
    Recorder(const RecorderSettings& settings, ByteSink* sink, RecordingFailureReporter* reporter);
    ~Recorder();
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    // One buffer as the sample grabber hands it over, cut anywhere. Everything kept from it
    // has been handed to the sink when this returns. False once the output has failed.
    bool processBuffer(const uint8_t* data, std::size_t size);

    // End of the recording. The program-stream data still being collected is written as a
    // continuity break would write it; a partial transport packet is dropped. Called by the
    // destructor; later calls do nothing. False when the output has failed.
    bool finish();

    // The channel's PIDs (and codecs) changed: the packets of the buffers handed over after
    // this call are kept by the new ones. The mode stays the recording's own. Thread-safe.
    void changeStreams(const RecorderSettings& settings);

    bool failed() const { return failed_; }
    RecorderMode mode() const { return mode_; }

  private:
    struct PesCollector {
        uint8_t* buffer;
        std::size_t capacity;
        std::size_t fill = 0;
        bool inPes = false;
        uint8_t lastCc = 0;
        bool video;
    };

    void takeStreams(const RecorderSettings& settings);
    void switchStreams(const RecorderSettings& settings);
    void emitFullVideoPackets(PesCollector& pes);
    void writeStreamMap();
    void alignPackets(const uint8_t* data, std::size_t size);
    void carryFrom(const uint8_t* data, std::size_t size, std::size_t pos);
    void processPacket(const uint8_t* packet, bool inBuffer);
    void keepPacket(const uint8_t* packet, bool inBuffer);
    void collect(PesCollector& pes, const uint8_t* packet);
    void flushPes(PesCollector& pes);
    void flushVideoPes(PesCollector& pes);
    void flushAudioPes(PesCollector& pes);
    void keepPendingPcr(const ByteReader& packet);
    void writePackHeader(const uint8_t* pcr);
    void closeRun();
    void emit(const uint8_t* data, std::size_t size);
    void flushStaging();
    void fail(RecordingFailure failure);

    RecorderMode mode_;
    int32_t keepPid_;
    int32_t videoPid_;
    int32_t audioPid_;
    int32_t pcrPid_; // channel PS: where the pack headers' PCR comes from
    VideoCodec videoCodec_ = VideoCodec::Mpeg2;
    AudioCodec audioCodec_ = AudioCodec::Mpeg;
    // Channel PS: a program stream map goes after the next pack header. Once one has been
    // written, every change of the streams writes a new one so it never names a stale codec.
    bool streamMapPending_ = false;
    bool streamMapWritten_ = false;
    uint8_t streamMapVersion_ = 0;
    ByteSink* sink_;
    RecordingFailureReporter* reporter_;
    bool failed_ = false;
    bool finished_ = false;
    bool packHeaderWritten_ = false;
    bool pendingPcr_ = false;
    bool videoPayloadPcr_ = false; // a payload packet of the video PID has carried a PCR
    std::array<uint8_t, 6> pendingPcrBytes_{};

    std::array<uint8_t, kPacketSize> carryPacket_{};
    std::size_t carryLength_ = 0;

    // Packets kept from the current buffer that lie next to each other in it.
    const uint8_t* runBegin_ = nullptr;
    const uint8_t* runEnd_ = nullptr;

    // The arrays below are always written before they are read: no zero-filling.
    // Small pieces gathered so that one buffer leaves in few writes.
    static constexpr std::size_t kStagingSize = 0x10000;
    static constexpr std::size_t kDirectWrite = 0x2000;
    std::array<uint8_t, kStagingSize> staging_;
    std::size_t stagingFill_ = 0;

    std::mutex changeLock_;
    std::optional<RecorderSettings> changed_; // under changeLock_
    std::atomic<bool> changePending_{false};

    std::array<uint8_t, kVideoCapacity> videoBuffer_;
    std::array<uint8_t, kAudioCapacity> audioBuffer_;
    PesCollector video_;
    PesCollector audio_;
};

} // namespace korvane
