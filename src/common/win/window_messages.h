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
// A save of chaines.xml failed after a success or since the start (later failures of the same
// run are not posted).
inline constexpr UINT kChannelFileWriteFailedMessage = WM_USER + 8;
// The network's NIT came with a new version: the channel numbers may have changed.
inline constexpr UINT kChannelNumbersChangedMessage = WM_USER + 9;
// The filter graph has events to fetch (IMediaEventEx::GetEvent until it answers E_ABORT).
// Posted by the graph manager's own notification, set when the graph runs.
inline constexpr UINT kGraphEventMessage = WM_USER + 10;
// The subtitle sink decoded pictures: the window looks at what is due.
inline constexpr UINT kSubtitlesQueuedMessage = WM_USER + 11;

} // namespace korvane
