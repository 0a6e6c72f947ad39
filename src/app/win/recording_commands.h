#pragma once

#include <windows.h>

struct ISampleGrabber;

namespace korvane {

// The platform sample grabber the recordings hook on. The media graph sets it once built and
// clears it before releasing its filters; without it the start commands do nothing.
void setRecordingGrabber(ISampleGrabber* grabber);

// "Enregistrer le multiplex", "Enregistrer la chaine en TS", "Enregistrer la chaine en PS":
// creates the recorder for the current channel (or the whole multiplex), installs it on the
// grabber and grays the start items. Does nothing while a recording runs.
void startRecording(UINT command);

// "Stopper l'enregistrement": removes the recorder from the grabber, whose release of it
// closes the file. Does nothing when no recording runs.
void stopRecording();

// At shutdown, before the graph stops: ends a running recording (the grabber's callback set
// to none) and drops the grabber reference.
void releaseRecordingGrabber();

// The main window's handling of a recorder's posted failure report.
void onRecordingFailed(WPARAM failure);

} // namespace korvane
