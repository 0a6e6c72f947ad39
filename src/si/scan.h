#pragma once

#include "channels/channel_list.h"
#include "channels/channel_saver.h"
#include "channels/frequency_plan.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

namespace korvane {

// One table read: the first section of a table on a PID (with the given table id extension
// when there is one: a PMT's program_number), or nothing within the time-out.
struct SectionRequest {
    uint16_t pid = 0;
    uint8_t tableId = 0;
    std::optional<uint16_t> extension;
    int timeoutMs = 0;
};

using Section = std::vector<uint8_t>;

// Table reads of a scan.
class SectionReader {
  public:
    virtual ~SectionReader() = default;
    // The section's bytes from table_id to its last byte, as the reader delivers them.
    virtual std::optional<Section> getSection(const SectionRequest& request) = 0;
    // Every request at once, each under its own time-out; the answers in the requests' order.
    // When the request at index leader comes to nothing, the others are abandoned: their
    // tables are not worth the wait. This one reads them one after the other.
    virtual std::vector<std::optional<Section>>
    getSections(const std::vector<SectionRequest>& requests, std::optional<std::size_t> leader);
};
// Retunes to a frequency in kHz with an 8 MHz bandwidth; 0 on success.
class ScanTuner {
  public:
    virtual ~ScanTuner() = default;
    virtual int tuneFrequency(int32_t frequency) = 0;
};

// The scan dialog as the scan sees it: a progress bar, the list of names found and its end.
class ScanProgress {
  public:
    virtual ~ScanProgress() = default;
    virtual void setRange(int count) = 0;
    virtual void setPosition(int position) = 0;
    // An 8-bit service name as broadcast.
    virtual void addName(std::string_view name) = 0;
    virtual void end() = 0;
};

// Shows the scan dialog modally; the dialog starts scanAllFrequencies on its first idle
// moment while scanPending is set, and returns once the scan has ended it.
class ScanDialog {
  public:
    virtual ~ScanDialog() = default;
    virtual void runModal() = 0;
};

// Why a scan stops before its end: the user's cancel (Escape, the dialog's close), or the
// program's end (its window closed, the session ending), which keeps nothing.
enum class ScanStop { None, Cancelled, Quit };

// A stop asked from the user-interface thread and seen by the threads that read tables.
class ScanStopFlag {
  public:
    ScanStopFlag() = default;
    ScanStopFlag(const ScanStopFlag& other) : value_(other.get()) {}
    ScanStopFlag& operator=(const ScanStopFlag& other) {
        value_ = other.get();
        return *this;
    }
    ScanStop get() const { return value_.load(); }
    bool stopped() const { return get() != ScanStop::None; }
    // A quit outranks a cancel, never the other way round.
    void request(ScanStop stop);
    void reset() { value_ = ScanStop::None; }

  private:
    std::atomic<ScanStop> value_{ScanStop::None};
};

// What one scan keeps between its steps.
struct ScanState {
    bool scanPending = false;
    // Set while scanAllFrequencies runs: a modal message box inside the scan (the tuner
    // questions) sends its own idle notifications, which must not start a second scan.
    bool scanRunning = false;
    // Set from the dialog's showing to the end of runChannelScan: a close then stops the
    // scan instead of tearing the graph down under it.
    bool scanActive = false;
    ScanStopFlag stop;
    // A copy of the first NIT section found; empty until then.
    std::vector<uint8_t> pendingNit;
};

// Time-outs of the table reads, in milliseconds.
inline constexpr int kSdtTimeoutMs = 5000;
inline constexpr int kPatTimeoutMs = 10000;
inline constexpr int kPmtTimeoutMs = 5000;
inline constexpr int kNitTimeoutMs = 10000;

// One frequency: SDT, PAT and (until one has been found) NIT read together, then the PMTs
// of the services the PAT names, together, each matched by its program_number. Without an
// SDT nothing is kept and the other reads are abandoned. The frequency's channels are added
// only once all its reads are done, and not at all when the scan is stopped meanwhile.
// 1 when no SDT came (or the scan was stopped), else 0.
int scanFrequency(ChannelList& list, ScanState& state, SectionReader& reader, ScanTuner& tuner,
                  int32_t frequency);

// Every frequency of the plan in order, with the progress and the names found shown as it
// goes, until the plan ends or a stop is asked; clears scanPending and ends the dialog. A
// call made while a scan runs does nothing.
void scanAllFrequencies(ChannelList& list, ScanState& state,
                        const std::function<FrequencyPlan()>& buildPlan, SectionReader& reader,
                        ScanTuner& tuner, ScanProgress& progress);

// What runChannelScan gives back.
inline constexpr int kScanFound = 0;
inline constexpr int kScanNothingFound = 1;
// Stopped for the program's end, or cancelled without keeping what was found: nothing saved,
// nothing to tell.
inline constexpr int kScanStopped = 2;

// The whole scan: dialog, then numbers, pruning and sorting from the NIT when one was found,
// then the channel file. After a cancel, keepFound (given the number of channels found) says
// whether they are kept and saved; after a quit nothing is. kScanNothingFound when no channel
// was found or none is left after the pruning (nothing is saved).
int runChannelScan(ChannelList& list, ScanState& state, ScanDialog& dialog, ChannelFileSaver& saver,
                   const std::function<bool(std::size_t)>& keepFound);

} // namespace korvane
