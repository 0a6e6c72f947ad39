#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace korvane {

// The channel switch on the graph: retune when the multiplex changes, remap the four
// demultiplexer outputs, then the recording and audio-track menu states and the status bar.
// The index must name a channel.
void selectChannel(std::size_t index);

// A channel the user picks from the channel menu or the guide. While a recording runs, a
// channel on another multiplex would leave it recording nothing (or a multiplex recording
// changing multiplex in mid-file): the user is asked first; yes stops the recording, its file
// complete, then switches; no leaves everything as it is. The index must name a channel.
void chooseChannel(std::size_t index);

// Up and down keys and the wheel: the neighbouring channel, wrapping; while recording only
// the channels of the recorded multiplex.
void previousChannel();
void nextChannel();

// A digit key: the number grows and timer 123 starts again for a second.
void addTypedDigit(int digit);
// Timer 123: the channel of the typed number, if any, then the number starts afresh.
void onTypedNumberTimer();
// The first channel with that number; nothing when none has it.
void selectChannelByNumber(int32_t number);

// "Première piste audio", "Seconde piste audio" and "Piste AC3".
void onAudioTrackCommand(UINT command);
// An item of a further audio track (IDM_AUDIO_STREAM_FIRST + its place among them) and the
// key that steps through every track of the channel.
void onAudioStreamCommand(UINT command);
void onNextAudioTrackCommand();

} // namespace korvane
