#pragma once

#include "capture/queued_sink.h"
#include "capture/recorder.h"
#include "capture/win/file_sink.h"
#include "capture/win/recording_failure.h"

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <memory>

namespace korvane {

// How a recording's output ended, as its stop tells the user.
struct RecordingEnd {
    bool failedAtEnd = false; // the last pieces, the drain or the close failed: not reported yet
    uint64_t lostBytes = 0;   // dropped because the destination did not keep up
};

// Opens the destination of a recording; null when it cannot be created. The program's is a
// FileSink; tests put destinations of their own in its place.
using RecordingSinkMaker = std::unique_ptr<ByteSink> (*)(const wchar_t* path);
void setRecordingSinkMaker(RecordingSinkMaker maker); // null: back to files
std::unique_ptr<ByteSink> openRecordingSink(const wchar_t* path);

// One recording into one file: the file is created here and written from a thread of its own
// through a bounded queue, failures are posted to notifyWindow under the recording's
// generation, and close() (or destruction) writes what is still collected, waits (bounded)
// for the queue to drain and closes the file.
class FileRecorder {
  public:
    // How long close() waits for a stalled destination before giving the rest up.
    static constexpr std::chrono::milliseconds kDrainWait{3000};

    FileRecorder(const wchar_t* path, const RecorderSettings& settings, HWND notifyWindow,
                 uint32_t generation = 0);
    ~FileRecorder() { close(); }
    FileRecorder(const FileRecorder&) = delete;
    FileRecorder& operator=(const FileRecorder&) = delete;

    bool processBuffer(const uint8_t* data, std::size_t size) {
        return recorder_.processBuffer(data, size);
    }
    void changeStreams(const RecorderSettings& settings) { recorder_.changeStreams(settings); }
    bool failed() const { return recorder_.failed(); }
    // Ends the recording; later calls give the same result.
    RecordingEnd close();

  private:
    // Declared in this order so that the recorder is destroyed, and flushed, first.
    std::unique_ptr<QueuedSink> queue_; // null when the file could not be created
    WindowFailureReporter reporter_;
    Recorder recorder_;
    bool closed_ = false;
    RecordingEnd end_;
};

} // namespace korvane
