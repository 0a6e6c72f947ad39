#pragma once

namespace korvane {

// Creates the status bar at the bottom of the main window, sets its parts, and shows the
// current channel's texts when a channel is being watched.
void createStatusBar();
// Sets the five part edges from the status bar's current width.
void layoutStatusBar();
// Redraws the main window and shows the current channel's name and guide events in the
// status bar. Does nothing while no channel is being watched.
void refreshChannelInfo();
// While a recording receives no data, its last part says so ("Enregistrement : aucune donnée
// reçue"); when data flows again the channel's texts come back.
void showRecordingDataState(bool starved);
// A notice in the last part (a scheduled recording started, skipped or failed), until the
// channel's texts are shown again.
void showStatusNotice(const wchar_t* text);

} // namespace korvane
