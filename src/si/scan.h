#pragma once

#include "channels/channel_list.h"
#include "channels/channel_saver.h"
#include "channels/frequency_plan.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

namespace korvane {

// Table reads of a scan: the first section of a table on a PID, or nothing within the time-out.
class SectionReader {
  public:
    virtual ~SectionReader() = default;
    // The section's bytes from table_id to its last byte, as the reader delivers them.
    virtual std::optional<std::vector<uint8_t>> getSection(uint16_t pid, uint8_t tableId,
                                                           int timeoutMs) = 0;
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

// What one scan keeps between its steps.
struct ScanState {
    bool scanPending = false;
    // Set while scanAllFrequencies runs: a modal message box inside the scan (the tuner
    // questions) sends its own idle notifications, which must not start a second scan.
    bool scanRunning = false;
    // A copy of the first NIT section found; empty until then.
    std::vector<uint8_t> pendingNit;
};

// Time-outs of the table reads, in milliseconds.
inline constexpr int kSdtTimeoutMs = 5000;
inline constexpr int kPatTimeoutMs = 10000;
inline constexpr int kPmtTimeoutMs = 5000;
inline constexpr int kNitTimeoutMs = 10000;

// One frequency: SDT (nothing else is read without it), PAT, the PMT of every channel added
// here, and the NIT until one has been found. 1 when no SDT came, else 0.
int scanFrequency(ChannelList& list, ScanState& state, SectionReader& reader, ScanTuner& tuner,
                  int32_t frequency);

// Every frequency of the plan in order, with the progress and the names found shown as it
// goes; clears scanPending and ends the dialog. A call made while a scan runs does nothing.
void scanAllFrequencies(ChannelList& list, ScanState& state,
                        const std::function<FrequencyPlan()>& buildPlan, SectionReader& reader,
                        ScanTuner& tuner, ScanProgress& progress);

// The whole scan: dialog, then numbers, pruning and sorting from the NIT when one was found,
// then the channel file. 1 when no channel was found or none is left after the pruning
// (nothing is saved), else 0.
int runChannelScan(ChannelList& list, ScanState& state, ScanDialog& dialog,
                   ChannelFileSaver& saver);

} // namespace korvane
