#pragma once

#include "capture/recorder.h"
#include "capture/win/file_sink.h"
#include "capture/win/recording_failure.h"

#include <windows.h>

namespace korvane {

// One recording into one file: the file is created here, failures are posted to
// notifyWindow under the recording's generation, and destruction writes what is still
// collected before closing the file.
class FileRecorder {
  public:
    FileRecorder(const wchar_t* path, const RecorderSettings& settings, HWND notifyWindow,
                 uint32_t generation = 0)
        : file_(path), reporter_(notifyWindow, generation),
          recorder_(settings, file_.isOpen() ? &file_ : nullptr, &reporter_) {}

    bool processBuffer(const uint8_t* data, std::size_t size) {
        return recorder_.processBuffer(data, size);
    }
    bool finish() { return recorder_.finish(); }
    void changeStreams(const RecorderSettings& settings) { recorder_.changeStreams(settings); }
    bool failed() const { return recorder_.failed(); }

  private:
    // Declared in this order so that the recorder is destroyed, and flushed, first.
    FileSink file_;
    WindowFailureReporter reporter_;
    Recorder recorder_;
};

} // namespace korvane
