#pragma once

#include "capture/recorder.h"
#include "common/win/window_messages.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <windows.h>

namespace korvane {

// Reports a recorder's failure from any thread by posting kRecordingFailedMessage.
class WindowFailureReporter : public RecordingFailureReporter {
  public:
    WindowFailureReporter(HWND window, uint32_t generation)
        : window_(window), generation_(generation) {}
    void reportRecordingFailure(RecordingFailure failure) override;

  private:
    HWND window_;
    uint32_t generation_;
};

// The French text shown for a failure.
const wchar_t* recordingFailureText(RecordingFailure failure);

// The main window procedure's handling of kRecordingFailedMessage, running the generation of
// the recording that runs (0: none): the report of that recording stops it (as the stop
// command does) and tells the user; the late report of a recording already stopped is dropped.
void handleRecordingFailed(WPARAM wParam, LPARAM lParam, uint32_t running, void (*stopRecording)(),
                           void (*show)(const wchar_t* text) = nullptr);

} // namespace korvane
