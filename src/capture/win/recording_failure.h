#pragma once

#include "capture/recorder.h"

#include <string>
#include <string_view>
#include <windows.h>

namespace korvane {

// Posted to the main window when a recording lost its output; wParam is the
// RecordingFailure, lParam 0. WM_USER and WM_USER + 1 belong to the stream decoders.
constexpr UINT kRecordingFailedMessage = WM_USER + 2;

// Reports a recorder's failure from any thread by posting kRecordingFailedMessage.
class WindowFailureReporter : public RecordingFailureReporter {
  public:
    explicit WindowFailureReporter(HWND window) : window_(window) {}
    void reportRecordingFailure(RecordingFailure failure) override;

  private:
    HWND window_;
};

// The French text shown for a failure.
const wchar_t* recordingFailureText(RecordingFailure failure);

// The main window procedure's handling of kRecordingFailedMessage: stops the recording (the
// same as the stop command, which does nothing when none runs) and tells the user.
void handleRecordingFailed(WPARAM wParam, void (*stopRecording)(),
                           void (*show)(const wchar_t* text) = nullptr);

// Widens an 8-bit channel name through the ANSI code page, for the recording file names.
std::u16string widenAnsi(std::string_view text);

} // namespace korvane
