#pragma once

#include <atomic>

namespace korvane {

// A write that keeps failing is told to the user once, not at every attempt: the first
// failure since the start or since the last success is to be reported, the next ones are
// not, until a success arms it again. Safe from any thread.
class RepeatedFailure {
  public:
    // The outcome of one attempt; true when this failure is the one to report.
    bool mustReport(bool succeeded) {
        if (succeeded) {
            failing_.store(false, std::memory_order_release);
            return false;
        }
        return !failing_.exchange(true, std::memory_order_acq_rel);
    }

  private:
    std::atomic<bool> failing_{false};
};

} // namespace korvane
