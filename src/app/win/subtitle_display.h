#pragma once

// The subtitles on screen: the stream chosen on each channel, the "Sous-titres" menu and
// the S key, and the decoded pictures shown over the picture at their time.

#include "app/video_geometry.h"
#include "graph/subtitle_filter.h"

#include <windows.h>

namespace korvane {

// Timer of the main window that shows and clears the subtitle pictures at their time.
inline constexpr UINT_PTR kSubtitleTimer = 130;

// Takes the sink's pictures for the whole run (the graph's construction borrows it).
SubtitleReceiver& subtitleReceiver();

// After a channel switch: what was shown goes at once, and the channel's stream the
// preference picks (if any) is decoded and mapped on the "subtitles" output.
void subtitlesFollowChannel();

// "Aucun", a stream of the menu, and the S key's step; each sets the preference.
void onSubtitleCommand(UINT command);
void onNextSubtitleCommand();

// kSubtitlesQueuedMessage and kSubtitleTimer: shows or clears what is due, then waits for
// the next change.
void advanceSubtitles(HWND window);

// WM_PAINT: the shown picture's regions stretched over the picture rectangle, opaque pixels
// only, so that they stay above the picture through the renderer's colour key.
void paintSubtitles(HDC dc, const VideoRect& picture);

} // namespace korvane
