#pragma once

#include <atomic>

namespace korvane {

// One message pending at a time from the streaming threads to the window: a burst of raises
// (a section of 300 guide events) posts one message, not 300, so the window's queue never
// starves its keys, painting and other messages. The receiver clears before it acts, so an
// update arriving during its work posts again.
class PendingMessage {
  public:
    // True when the caller must post: nothing was pending.
    bool raise() { return !pending_.exchange(true, std::memory_order_acq_rel); }
    // The message was taken (or could not be posted).
    void clear() { pending_.store(false, std::memory_order_release); }

  private:
    std::atomic<bool> pending_{false};
};

} // namespace korvane
