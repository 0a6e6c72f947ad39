#pragma once

#include "capture/recorder.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace korvane {

// How a queued sink's output ended.
struct QueuedSinkEnd {
    bool failed = false;       // the destination refused a write or its close
    bool timedOut = false;     // the destination did not take the rest in time
    uint64_t droppedBytes = 0; // bytes never handed to the destination
};

// Hands the bytes written to it to its destination from a thread of its own, so that a slow
// or stalled destination (a network share, a USB disk) never holds the streaming thread up.
// The bytes wait in a queue of at most `capacity` bytes; a write that does not fit is dropped
// and counted, and the recording goes on. Once the destination has refused a write, write
// answers false. The bytes that reach the destination are those written, in order.
class QueuedSink : public ByteSink {
  public:
    static constexpr std::size_t kDefaultCapacity = std::size_t{64} << 20;

    explicit QueuedSink(std::unique_ptr<ByteSink> destination,
                        std::size_t capacity = kDefaultCapacity);
    // Ends the output as close() does, waiting at most kDefaultWait.
    ~QueuedSink() override;
    QueuedSink(const QueuedSink&) = delete;
    QueuedSink& operator=(const QueuedSink&) = delete;

    bool write(const uint8_t* data, std::size_t size) override;
    // Waits for the queue to drain and closes the destination. False when it failed or did
    // not drain in time.
    bool close() override;

    // Asks the writer to write what is queued and close the destination; takes no more bytes.
    void end();
    // Waits at most `wait` for that; true once the destination is closed. end() first.
    bool waitClosed(std::chrono::milliseconds wait);

    // Ends and waits at most `wait` for the queue to drain and the destination to close. When the
    // destination does not answer in time, what is still queued is dropped (and counted) and
    // the destination is closed by the writer thread as soon as its write returns. Later
    // calls give the same result.
    QueuedSinkEnd finish(std::chrono::milliseconds wait);

    static constexpr std::chrono::milliseconds kDefaultWait{3000};

  private:
    struct State;
    std::shared_ptr<State> state_;
    bool finished_ = false;
    QueuedSinkEnd end_;
};

} // namespace korvane
