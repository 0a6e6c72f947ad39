#include "capture/queued_sink.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace korvane {

namespace {

// Writes are gathered into blocks of this size, so that the writer thread hands the
// destination large pieces and the queue needs few allocations.
constexpr std::size_t kBlockSize = std::size_t{1} << 20;
// Blocks kept for reuse once written.
constexpr std::size_t kSpareBlocks = 4;
// How long a block that is not full waits for more bytes before it is written: the writer
// wakes a few times a second, not once for every buffer of the stream.
constexpr std::chrono::milliseconds kGatherWait{250};

} // namespace

// Shared by the sink and its writer thread, so that a writer still held by its destination
// after a timed-out finish keeps what it uses.
struct QueuedSink::State {
    explicit State(std::unique_ptr<ByteSink> sink, std::size_t limit)
        : destination(std::move(sink)), capacity(limit) {}

    void run();
    void append(const uint8_t* data, std::size_t size);

    std::unique_ptr<ByteSink> destination;
    const std::size_t capacity;

    std::mutex mutex;
    std::condition_variable wake; // bytes queued, or the end asked
    std::condition_variable done; // the writer has closed the destination
    std::deque<std::vector<uint8_t>> blocks;
    std::vector<std::vector<uint8_t>> spares;
    std::size_t queued = 0;  // bytes in blocks and in the block being written
    std::size_t writing = 0; // bytes of the block being written
    uint64_t dropped = 0;
    bool ending = false;    // write everything queued, then close
    bool abandoned = false; // drop everything queued, then close
    bool failed = false;
    bool closed = false;
    std::thread writer;
};

void QueuedSink::State::append(const uint8_t* data, std::size_t size) {
    if (blocks.empty() || blocks.back().size() + size > kBlockSize) {
        std::vector<uint8_t> block;
        if (!spares.empty()) {
            block = std::move(spares.back());
            spares.pop_back();
        }
        block.reserve(size > kBlockSize ? size : kBlockSize);
        blocks.push_back(std::move(block));
    }
    std::vector<uint8_t>& back = blocks.back();
    back.insert(back.end(), data, data + size);
    queued += size;
}

void QueuedSink::State::run() {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        wake.wait_for(lock, kGatherWait,
                      [this] { return blocks.size() > 1 || ending || abandoned; });
        if (abandoned || (blocks.empty() && ending))
            break;
        if (blocks.empty())
            continue;
        std::vector<uint8_t> block = std::move(blocks.front());
        blocks.pop_front();
        writing = block.size();
        lock.unlock();
        const bool ok = destination->write(block.data(), block.size());
        lock.lock();
        queued -= block.size();
        writing = 0;
        if (!ok) {
            // Nothing after a lost piece is worth writing: the output is broken.
            failed = true;
            for (const std::vector<uint8_t>& left : blocks)
                dropped += left.size();
            blocks.clear();
            queued = 0;
        }
        if (spares.size() < kSpareBlocks) {
            block.clear();
            spares.push_back(std::move(block));
        }
    }
    lock.unlock();
    const bool closedWell = destination->close();
    lock.lock();
    if (!closedWell)
        failed = true;
    closed = true;
    done.notify_all();
}

QueuedSink::QueuedSink(std::unique_ptr<ByteSink> destination, std::size_t capacity)
    : state_(std::make_shared<State>(std::move(destination), capacity)) {
    std::shared_ptr<State> state = state_;
    state_->writer = std::thread([state] { state->run(); });
}

QueuedSink::~QueuedSink() {
    finish(kDefaultWait);
}

bool QueuedSink::write(const uint8_t* data, std::size_t size) {
    State& s = *state_;
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.failed || s.ending)
        return false;
    if (size == 0)
        return true;
    if (size > s.capacity - s.queued) {
        s.dropped += size;
        return true;
    }
    const std::size_t blocksBefore = s.blocks.size();
    s.append(data, size);
    // A block has just been filled: the writer takes it now.
    if (s.blocks.size() > blocksBefore && s.blocks.size() > 1)
        s.wake.notify_one();
    return true;
}

void QueuedSink::end() {
    State& s = *state_;
    std::lock_guard<std::mutex> lock(s.mutex);
    s.ending = true;
    s.wake.notify_one();
}

bool QueuedSink::waitClosed(std::chrono::milliseconds wait) {
    State& s = *state_;
    std::unique_lock<std::mutex> lock(s.mutex);
    return s.done.wait_for(lock, wait, [&s] { return s.closed; });
}

QueuedSinkEnd QueuedSink::finish(std::chrono::milliseconds wait) {
    if (finished_)
        return end_;
    finished_ = true;
    end();
    State& s = *state_;
    std::unique_lock<std::mutex> lock(s.mutex);
    if (!s.done.wait_for(lock, wait, [&s] { return s.closed; })) {
        s.abandoned = true;
        s.dropped += s.queued - s.writing;
        s.blocks.clear();
        s.queued = s.writing;
        s.wake.notify_one();
        end_.timedOut = true;
    }
    end_.failed = s.failed;
    end_.droppedBytes = s.dropped;
    const bool closed = s.closed;
    lock.unlock();
    if (closed)
        s.writer.join();
    else
        s.writer.detach();
    return end_;
}

bool QueuedSink::close() {
    const QueuedSinkEnd end = finish(kDefaultWait);
    return !end.failed && !end.timedOut;
}

} // namespace korvane
