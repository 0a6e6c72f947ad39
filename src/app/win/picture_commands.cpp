#include "app/win/picture_commands.h"

#include "app/win/about_box.h"
#include "app/win/channel_commands.h"
#include "app/win/guide_dialog.h"
#include "app/win/screenshot.h"
#include "app/win/shell_commands.h"
#include "app/win/signal_dialog.h"
#include "app/win/video_area.h"
#include "app/win/volume.h"
#include "app/win/window_modes.h"
#include "res/resource.h"

namespace korvane {

bool runPictureCommand(HWND window, UINT command) {
    switch (command) {
    case IDM_ABOUT:
        showAboutBox(window);
        return true;
    case IDM_VIDEO_DECODER_PAGES:
    case IDM_AUDIO_DECODER_PAGES:
    case IDM_VMR_PAGES:
    case IDM_DSOUND_PAGES:
    case IDM_DEMUX_PAGES:
    case IDM_AC3_DECODER_PAGES:
    case IDM_DSOUND_AC3_PAGES:
        showFilterPages(command);
        return true;
    case IDM_SCREENSHOT:
        takeScreenshot();
        return true;
    case IDM_FULL_SCREEN:
        toggleFullScreen();
        return true;
    case IDM_MUTE:
        toggleMute();
        return true;
    case IDM_SIGNAL_QUALITY:
        showSignalQualityDialog(window);
        return true;
    case IDM_GUIDE:
        showGuideDialog(window, selectChannel);
        return true;
    case IDM_VOLUME_UP:
    case IDM_VOLUME_DOWN:
        changeVolume(command == IDM_VOLUME_UP);
        return true;
    case IDM_ZOOM_IN:
    case IDM_ZOOM_OUT:
    case IDM_FULL_WIDTH:
    case IDM_DEFAULT_ZOOM:
        zoomCommand(command);
        return true;
    default:
        return false;
    }
}

bool handlePictureTimer(HWND window, UINT_PTR timer) {
    if (timer == kOsdTimer) {
        onOsdTimer(window);
        return true;
    }
    return handleWindowModeTimer(window, timer);
}

} // namespace korvane
