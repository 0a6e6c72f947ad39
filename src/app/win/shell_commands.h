#pragma once

#include <windows.h>

#include <unknwn.h>

namespace korvane {

// Folder browser for the video folder (IDM_VIDEO_FOLDER) or the screenshot folder
// (IDM_SCREENSHOT_FOLDER); a chosen folder is stored and the settings saved. Cancelling
// changes nothing.
void chooseFolder(HWND owner, UINT command);

// The property pages of a graph filter in a frame owned by the main window. The filter is
// null when its device or decoder was not configured.
void showFilterProperties(IUnknown* filter, const wchar_t* caption);

// The property pages of the graph filter a "Filtres" command (IDM_VIDEO_DECODER_PAGES ...
// IDM_DSOUND_AC3_PAGES) names, captioned with its configured name or its role.
void showFilterPages(UINT command);

} // namespace korvane
