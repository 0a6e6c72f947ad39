#pragma once

#include "common/fixed_text.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string_view>
#include <vector>

namespace korvane {

// One programme-guide slot. startTime is UTC in 100-ns units since 1601 (0 = empty);
// endTime likewise, start plus the broadcast duration (0 = the duration was undefined); the
// clock texts are local "HH:MM:SS".
struct EpgEvent {
    uint64_t startTime = 0;
    uint64_t endTime = 0;
    FixedText<32> startText;
    FixedText<32> endText;
    FixedText<256> title;
    FixedText<256> description;
    uint8_t latest = 0;

    bool empty() const { return startTime == 0; }
    bool hasEnd() const { return endTime != 0; }
};

enum class AudioCodec : uint8_t { Mpeg, Ac3, Eac3 };

// What a track is for, from the ISO 639 descriptor's audio_type and the supplementary audio
// descriptor's editorial classification.
enum class AudioKind : uint8_t { Main, AudioDescription, CleanAudio, SpokenSubtitles };

// One audio stream of a channel's PMT. language holds the ISO 639-2 code's three bytes as
// broadcast ("fre", "qaa", "qad"), all zero when the PMT gives none.
struct AudioStream {
    int32_t pid = 0;
    AudioCodec codec = AudioCodec::Mpeg;
    std::array<char, 3> language{};
    AudioKind kind = AudioKind::Main;

    friend bool operator==(const AudioStream&, const AudioStream&) = default;
};

// One DVB subtitle stream of a channel's PMT (stream type 6 with the subtitling descriptor).
// type is the descriptor's subtitling_type: 0x10-0x14 normal, 0x20-0x24 for the hard of
// hearing. A descriptor listing several languages gives one stream entry per language.
struct SubtitleStream {
    int32_t pid = 0;
    std::array<char, 3> language{};
    uint8_t type = 0;
    uint16_t compositionPage = 0;
    uint16_t ancillaryPage = 0;

    bool forHardOfHearing() const { return type >= 0x20 && type <= 0x24; }
    friend bool operator==(const SubtitleStream&, const SubtitleStream&) = default;
};

// One television service. Texts are the broadcast (or ANSI) bytes; identifiers and PIDs
// are held as signed 32-bit values, 0 meaning absent.
struct ChannelInfo {
    FixedText<256> name;
    FixedText<256> group;
    int32_t frequency = 0; // kHz, tuner offset included
    int32_t onid = 0;
    int32_t sid = 0;
    int32_t tsid = 0;
    int32_t number = 0;
    int32_t pmtPid = 0;
    int32_t pcrPid = 0;
    int32_t videoPid = 0;
    int32_t videoMpeg4Pid = 0;
    int32_t audio1Pid = 0;
    int32_t audio2Pid = 0;
    int32_t ac3Pid = 0;
    int32_t ac3Pid2 = 0;
    // Every audio stream of the PMT (MPEG, AC-3 and E-AC-3) in the PMT's order.
    std::vector<AudioStream> audioStreams;
    // Every DVB subtitle stream of the PMT, in the PMT's order.
    std::vector<SubtitleStream> subtitleStreams;
    EpgEvent present;
    EpgEvent following;
};

using ChannelRecords = std::vector<ChannelInfo>;

// Exchange sort by number, ascending; not stable (2, 2, 1 as A, B, C gives C, B, A).
void sortChannelsByNumber(ChannelRecords& records);
void eraseChannelAt(ChannelRecords& records, std::size_t index);

// Lookups in list order; each returns the first match.
std::optional<std::size_t> findChannelByNumber(const ChannelRecords& records, int32_t number);

// An audio stream that none of the channel's four audio PID fields (audio1Pid, audio2Pid,
// ac3Pid, ac3Pid2) carries: an E-AC-3 track, or an MPEG track between the first and the last.
bool isFurtherAudioStream(const ChannelInfo& channel, const AudioStream& stream);

// The audio streams a channel keeps beyond its PID fields: all of them, in the PMT's order,
// when one is a further stream; none when the PID fields say everything.
std::vector<AudioStream> keptAudioStreams(const ChannelInfo& channel);
std::optional<std::size_t> findChannelByName(const ChannelRecords& records, std::string_view name);
std::optional<std::size_t> findChannelBySid(const ChannelRecords& records, int32_t sid);

// The process-wide channel list with the index of the channel being watched.
//
// One mutex guards the records (guide slots included) and currentIndex. The user-interface
// thread and the streaming threads (guide and PMT decoders) go through it; nobody keeps a
// pointer or reference into the records once the lock is released, only indexes. Readers
// that display a record copy it under the lock.
class ChannelList {
  public:
    // Exclusive access for compound reads and updates; holds the lock while it lives.
    class Access {
      public:
        ChannelRecords& records() { return list_->records_; }
        const ChannelRecords& records() const { return list_->records_; }
        std::size_t size() const { return list_->records_.size(); }
        ChannelInfo& at(std::size_t index) { return list_->records_.at(index); }
        int32_t currentIndex() const { return list_->currentIndex_; }
        void setCurrentIndex(int32_t index) { list_->currentIndex_ = index; }
        // The record being watched, or null while currentIndex names no record.
        ChannelInfo* current();

      private:
        friend class ChannelList;
        explicit Access(ChannelList& list) : lock_(list.mutex_), list_(&list) {}
        std::unique_lock<std::mutex> lock_;
        ChannelList* list_;
    };

    ChannelList() = default;
    ChannelList(const ChannelList&) = delete;
    ChannelList& operator=(const ChannelList&) = delete;

    Access lock() { return Access(*this); }

    // Single operations, each under the lock once.
    std::size_t size() const;
    int32_t currentIndex() const;
    void setCurrentIndex(int32_t index);
    void append(const ChannelInfo& record);
    void eraseAt(std::size_t index);
    void sortByNumber();
    void clear();
    // Copies taken under the lock.
    std::optional<ChannelInfo> copyAt(std::size_t index) const;
    std::optional<ChannelInfo> copyCurrent() const;
    ChannelRecords snapshot() const;

  private:
    mutable std::mutex mutex_;
    ChannelRecords records_;
    int32_t currentIndex_ = -1;
};

} // namespace korvane
