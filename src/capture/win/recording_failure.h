#pragma once

#include "capture/recorder.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <windows.h>

namespace korvane {

// Posted to the main window when a recording lost its output; wParam is the recording's
// generation (each recording started gets the next number, never 0), lParam the
// RecordingFailure. WM_USER and WM_USER + 1 belong to the stream decoders.
constexpr UINT kRecordingFailedMessage = WM_USER + 2;

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
