#pragma once

#include <windows.h>

namespace korvane {

// The main window's private messages. They are posted, never sent, from the streaming
// threads (the stream decoders and the recorders), so they live on the ground floor where
// every poster can name them.

// A guide event was stored for the channel being watched.
inline constexpr UINT kGuideUpdatedMessage = WM_USER;
// The PIDs of the channel being watched changed and the channel file was rewritten.
inline constexpr UINT kStreamsChangedMessage = WM_USER + 1;
// A recording lost its output; wParam is the recording's generation (each recording started
// gets the next number, never 0), lParam the RecordingFailure.
inline constexpr UINT kRecordingFailedMessage = WM_USER + 2;
// The filter graph has events to fetch (IMediaEventEx::GetEvent until it answers E_ABORT).
// Posted by the graph manager's own notification, set when the graph runs.
inline constexpr UINT kGraphEventMessage = WM_USER + 8;

} // namespace korvane
