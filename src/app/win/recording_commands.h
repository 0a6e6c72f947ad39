#pragma once

#include "capture/recorder.h"
#include "capture/win/file_recorder.h"

#include <windows.h>

#include <cstddef>
#include <cstdint>

struct ISampleGrabber;

namespace korvane {

// The platform sample grabber the recordings hook on. The media graph sets it while the graph
// is stopped (its callback is set then, once) and clears it before releasing its filters;
// without it the start commands do nothing.
void setRecordingGrabber(ISampleGrabber* grabber);

// "Enregistrer le multiplex", "Enregistrer la chaine en TS", "Enregistrer la chaine en PS":
// creates the recorder for the current channel (or the whole multiplex), installs it on the
// grabber and grays the start items. Does nothing while a recording runs.
void startRecording(UINT command);

// "Stopper l'enregistrement": takes the recorder off the grabber's hook and closes its file,
// which is complete when this returns (the wait for a stalled destination is bounded). A
// failure of the last writes or of the close, or data dropped because the destination did
// not keep up, is told then. Does nothing when no recording runs.
void stopRecording();

// The watched channel's PIDs changed (its record now holds the new ones): a recording of that
// channel keeps the new picture and audio PIDs (and the PMT) from the next buffer on.
void followRecordedChannel();

// Stops a running recording because of cause (a lost tuner), then shows cause, and what the
// end of the recording had to say. cause alone when no recording runs.
void stopRecordingAfter(const wchar_t* cause);

// The data watch's timer on the main window (kDataWatchTimer, every second while a recording
// runs): the status bar says so while no data has come for a while.
inline constexpr UINT_PTR kDataWatchTimer = 127;
void onDataWatchTimer();

// At shutdown, before the graph stops: ends a running recording and drops the shell's
// references. The grabber keeps its idle callback until the graph has stopped (the teardown
// then clears it) or the grabber goes.
void releaseRecordingGrabber();

// A recording beside the user's one (a scheduled one): the channel at index in the list, in
// mode (the whole multiplex for Multiplex), under the usual name in the video folder, fed by
// the same grabber as every other recording while the tuner stays on its multiplex. Its
// generation names it (never 0); 0 when it cannot start (no graph, nothing to record, too
// many recordings). A file that cannot be created is reported later, as a failure under
// that generation.
uint32_t startSideRecording(RecorderMode mode, std::size_t channelIndex);
// Ends that recording; its file is complete when this returns. Nothing for an unknown one.
RecordingEnd stopSideRecording(uint32_t generation);
// How many side recordings run.
std::size_t sideRecordingCount();
// Whether the side recording of this generation still runs (the graph's release ends them all).
bool sideRecordingRunning(uint32_t generation);

// The main window's handling of a recorder's posted failure report (wParam, lParam).
void onRecordingFailed(WPARAM generation, LPARAM failure);

} // namespace korvane
