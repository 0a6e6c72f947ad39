#include "app/win/video_area.h"

#include "app/picture_controls.h"
#include "app/video_geometry.h"
#include "app/win/app_state.h"
#include "app/win/menu_state.h"
#include "app/win/subtitle_display.h"
#include "common/dvb_text.h"
#include "dshow/media_type.h"
#include "graph/graph_builder.h"
#include "graph/media_graph.h"
#include "graph/video_renderer.h"
#include "res/resource.h"

#include <dvdmedia.h>

namespace korvane {

namespace {

int32_t statusBarHeight() {
    HWND bar = appState().statusBar;
    RECT r{};
    if (!bar || !GetWindowRect(bar, &r))
        return 0;
    return r.bottom - r.top;
}

VideoRect clientVideoArea(HWND window) {
    RECT client{};
    GetClientRect(window, &client);
    return videoArea(client.right, client.bottom, statusBarHeight());
}

// The picture aspect ratio of a VIDEOINFOHEADER2; a VIDEOINFOHEADER carries none, so its
// picture is shown with square pixels, as the renderer does.
AspectRatio aspectOf(const AM_MEDIA_TYPE& type) {
    if (!type.pbFormat)
        return AspectRatio{};
    if (type.formattype == FORMAT_VideoInfo2 && type.cbFormat >= sizeof(VIDEOINFOHEADER2)) {
        const auto* info = reinterpret_cast<const VIDEOINFOHEADER2*>(type.pbFormat);
        return aspectOrDefault(info->dwPictAspectRatioX, info->dwPictAspectRatioY);
    }
    if (type.formattype == FORMAT_VideoInfo && type.cbFormat >= sizeof(VIDEOINFOHEADER)) {
        const auto& bitmap = reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat)->bmiHeader;
        const LONG height = bitmap.biHeight < 0 ? -bitmap.biHeight : bitmap.biHeight;
        if (bitmap.biWidth > 0 && height > 0)
            return AspectRatio{uint32_t(bitmap.biWidth), uint32_t(height)};
    }
    return AspectRatio{};
}

// The aspect ratio of the picture on screen (the stream shown); 4:3 while nothing is connected.
AspectRatio rendererAspect() {
    ComPtr<IPin> pin = shownVideoInput(mediaGraph());
    AM_MEDIA_TYPE type{};
    if (!pin || FAILED(pin->ConnectionMediaType(&type)))
        return AspectRatio{};
    const AspectRatio aspect = aspectOf(type);
    FreeMediaType(type);
    return aspect;
}

void drawOsdTexts(HDC dc, const std::vector<OsdText>& texts, int32_t fontHeight) {
    LOGFONTW description{};
    description.lfHeight = fontHeight;
    HFONT font = CreateFontIndirectW(&description);
    HGDIOBJ previous = font ? SelectObject(dc, font) : nullptr;
    SetTextColor(dc, RGB(0, 255, 0));
    SetBkMode(dc, TRANSPARENT);
    for (const OsdText& text : texts) {
        SetTextAlign(dc, text.alignRight ? TA_RIGHT : TA_LEFT);
        TextOutA(dc, text.x, text.y, text.text.data(), static_cast<int>(text.text.size()));
    }
    if (previous)
        SelectObject(dc, previous);
    if (font)
        DeleteObject(font);
}

void paintOsdTexts(HWND window, HDC dc) {
    std::optional<ChannelInfo> channel = channelList().copyCurrent();
    if (!channel)
        return;
    const AppState& state = appState();
    const AppConfig& config = appConfig();
    OsdState osd;
    osd.visible =
        osdVisibility(GetTickCount(), state.channelShownAt, state.volumeShownAt, state.zoomShownAt);
    osd.muted = state.muted;
    if (osdIdle(osd))
        return;
    osd.volume = state.volume;
    osd.zoomPercent = config.zoomPercent;
    osd.channelName = shownDvbText(channel->name.view());
    osd.hasPresent = !channel->present.empty();
    osd.presentTitle = shownDvbText(channel->present.title.view());
    const VideoRect picture =
        pictureArea(clientVideoArea(window), rendererAspect(), config.fullWidth);
    const int32_t fontHeight = osdFontHeight(picture);
    drawOsdTexts(dc, osdTexts(osd, picture, fontHeight), fontHeight);
}

void redrawMainWindow() {
    if (HWND window = appState().mainWindow)
        RedrawWindow(window, nullptr, nullptr, RDW_ERASE | RDW_INVALIDATE);
}

void zoomChanged() {
    layoutVideo();
    appState().zoomShownAt = GetTickCount();
    showOsd();
}

} // namespace

void layoutVideo() {
    IVMRWindowlessControl* control = mediaGraph().windowlessControl.get();
    HWND window = appState().mainWindow;
    if (!control || !window)
        return;
    const AppConfig& config = appConfig();
    const VideoRect r =
        videoDestination(clientVideoArea(window), config.fullWidth, config.zoomPercent);
    RECT destination{r.left, r.top, r.right, r.bottom};
    control->SetVideoPosition(nullptr, &destination);
}

void showOsd() {
    redrawMainWindow();
    if (HWND window = appState().mainWindow)
        SetTimer(window, kOsdTimer, kOsdDisplayMs, nullptr);
}

void onOsdTimer(HWND window) {
    KillTimer(window, kOsdTimer);
    redrawMainWindow();
}

void paintOsd(HWND window) {
    PAINTSTRUCT paint{};
    HDC dc = BeginPaint(window, &paint);
    if (dc) {
        const AppConfig& config = appConfig();
        const VideoRect shown = pictureArea(
            videoDestination(clientVideoArea(window), config.fullWidth, config.zoomPercent),
            rendererAspect(), config.fullWidth);
        paintSubtitles(dc, shown);
        paintOsdTexts(window, dc);
    }
    EndPaint(window, &paint);
}

void onDisplayChange() {
    if (IVMRWindowlessControl* control = mediaGraph().windowlessControl.get())
        control->DisplayModeChanged();
}

void zoomCommand(UINT command) {
    AppConfig& config = appConfig();
    switch (command) {
    case IDM_ZOOM_IN:
        config.zoomPercent = zoomedIn(config.zoomPercent);
        zoomChanged();
        break;
    case IDM_ZOOM_OUT:
        config.zoomPercent = zoomedOut(config.zoomPercent);
        zoomChanged();
        break;
    case IDM_FULL_WIDTH:
        config.fullWidth = !config.fullWidth;
        setMenuCheck(IDM_FULL_WIDTH, config.fullWidth);
        layoutVideo();
        redrawMainWindow();
        break;
    case IDM_DEFAULT_ZOOM:
        config.zoomPercent = 100;
        config.fullWidth = false;
        setMenuCheck(IDM_FULL_WIDTH, false);
        zoomChanged();
        break;
    default:
        break;
    }
}

} // namespace korvane
