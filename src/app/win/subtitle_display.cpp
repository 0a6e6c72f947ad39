#include "app/win/subtitle_display.h"

#include "app/channel_switch.h"
#include "app/subtitle_choice.h"
#include "app/subtitle_timeline.h"
#include "app/win/app_state.h"
#include "app/win/config_store.h"
#include "app/win/graph_ports.h"
#include "app/win/menu_state.h"
#include "common/win/wide_text.h"
#include "common/win/window_messages.h"
#include "graph/media_graph.h"
#include "res/resource.h"

#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <type_traits>

namespace korvane {

namespace {

class ShellSubtitles : public SubtitleReceiver {
  public:
    void subtitlesDecoded(uint32_t generation, std::vector<SubtitlePicture> pictures) override {
        {
            std::lock_guard<std::mutex> guard(lock);
            for (SubtitlePicture& picture : pictures)
                timeline.add(generation, std::move(picture));
        }
        if (HWND target = window.load())
            PostMessageW(target, kSubtitlesQueuedMessage, 0, 0);
    }

    std::mutex lock;
    SubtitleTimeline timeline; // guarded by lock
    std::atomic<HWND> window{nullptr};
    // User-interface thread only: the chosen stream's place in the channel's list.
    std::optional<std::size_t> chosen;
};

ShellSubtitles& shell() {
    static ShellSubtitles subtitles;
    return subtitles;
}

// "Aucun" first, then one item per stream of the channel, the chosen one checked; in the
// full menu, attached or not, so that the context menu copies them too.
void refreshSubtitleItems(const ChannelInfo* channel) {
    HMENU bar = appState().fullMenu;
    if (!bar && appState().mainWindow)
        bar = GetMenu(appState().mainWindow);
    HMENU popup = bar ? popupHolding(bar, IDM_SUBTITLES_NONE) : nullptr;
    if (!popup)
        return;
    for (UINT command = IDM_SUBTITLE_STREAM_FIRST; command <= IDM_SUBTITLE_STREAM_LAST; ++command)
        DeleteMenu(popup, command, MF_BYCOMMAND);
    const std::optional<std::size_t> chosen = shell().chosen;
    CheckMenuItem(popup, IDM_SUBTITLES_NONE, MF_BYCOMMAND | (chosen ? MF_UNCHECKED : MF_CHECKED));
    if (!channel)
        return;
    const std::size_t room = IDM_SUBTITLE_STREAM_LAST - IDM_SUBTITLE_STREAM_FIRST + 1;
    for (std::size_t i = 0; i < channel->subtitleStreams.size() && i < room; ++i) {
        std::wstring text = widenUtf8(subtitleStreamName(channel->subtitleStreams[i], i + 1));
        const UINT flags = MF_STRING | (chosen == i ? MF_CHECKED : MF_UNCHECKED);
        AppendMenuW(popup, flags, IDM_SUBTITLE_STREAM_FIRST + i, text.c_str());
    }
}

// Painted now rather than when the queue is empty: the renderer's traffic may hold back a
// deferred paint past the frame the picture belongs to.
void redrawVideo() {
    if (HWND window = appState().mainWindow)
        RedrawWindow(window, nullptr, nullptr, RDW_ERASE | RDW_INVALIDATE | RDW_UPDATENOW);
}

// Clears the screen at once and decodes and maps the stream chosen (none: nothing).
void applyChoice(const ChannelInfo* channel, std::optional<std::size_t> choice) {
    ShellSubtitles& subtitles = shell();
    subtitles.window = appState().mainWindow;
    const SubtitleStream* stream = nullptr;
    if (channel && choice && *choice < channel->subtitleStreams.size())
        stream = &channel->subtitleStreams[*choice];
    else
        choice.reset();
    subtitles.chosen = choice;
    MediaGraph& graph = mediaGraph();
    DemuxPidMap map(graph.subtitlePidMap.get());
    if (graph.subtitlePidMap)
        unmapAllPids(&map);
    const uint32_t generation = graph.subtitles ? graph.subtitles->selectStream(stream) : 0;
    {
        std::lock_guard<std::mutex> guard(subtitles.lock);
        subtitles.timeline.restart(generation);
    }
    if (stream && graph.subtitlePidMap)
        map.mapPid(stream->pid, PidContent::ElementaryStream);
    if (HWND window = appState().mainWindow)
        KillTimer(window, kSubtitleTimer);
    redrawVideo();
    refreshSubtitleItems(channel);
}

// A choice of the user's: applied, and kept as the preference for the channels to come.
void chooseSubtitles(std::optional<std::size_t> choice) {
    std::optional<ChannelInfo> channel = channelList().copyCurrent();
    if (!channel)
        return;
    applyChoice(&*channel, choice);
    const std::optional<std::size_t> applied = shell().chosen;
    AppConfig& config = appConfig();
    config.subtitles = preferenceOf(applied ? &channel->subtitleStreams[*applied] : nullptr);
    config.subtitlesStored = true;
}

template <class Handle, class Deleter> auto owned(Handle handle, Deleter deleter) {
    return std::unique_ptr<std::remove_pointer_t<Handle>, Deleter>(handle, deleter);
}

void paintRegion(HDC dc, const SubtitleRegion& region, const VideoRect& area) {
    const SubtitleBitmap bitmap = subtitleBitmap(region);
    if (bitmap.pixels.empty() || area.right <= area.left || area.bottom <= area.top)
        return;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = region.width;
    info.bmiHeader.biHeight = -region.height; // top-down rows, as the region's
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    auto dib = owned(CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0),
                     [](HBITMAP b) { DeleteObject(b); });
    auto memory = owned(CreateCompatibleDC(dc), [](HDC d) { DeleteDC(d); });
    if (!dib || !bits || !memory)
        return;
    // 0x00RRGGBB in memory order is the DIB's blue, green, red, unused.
    std::memcpy(bits, bitmap.pixels.data(), bitmap.pixels.size() * sizeof(uint32_t));
    HGDIOBJ previous = SelectObject(memory.get(), dib.get());
    const COLORREF key =
        RGB((bitmap.key >> 16) & 0xFF, (bitmap.key >> 8) & 0xFF, bitmap.key & 0xFF);
    GdiTransparentBlt(dc, area.left, area.top, area.right - area.left, area.bottom - area.top,
                      memory.get(), 0, 0, region.width, region.height, key);
    SelectObject(memory.get(), previous);
}

} // namespace

SubtitleReceiver& subtitleReceiver() {
    return shell();
}

void subtitlesFollowChannel() {
    std::optional<ChannelInfo> channel = channelList().copyCurrent();
    if (!channel) {
        applyChoice(nullptr, std::nullopt);
        return;
    }
    const HeardAudio heard = heardAudio(*channel, appState().audioTrack);
    applyChoice(&*channel, preferredSubtitleStream(*channel, appConfig().subtitles,
                                                   audioLanguageOf(*channel, heard.pid)));
}

void onSubtitleCommand(UINT command) {
    if (command == IDM_SUBTITLES_NONE)
        chooseSubtitles(std::nullopt);
    else if (command >= IDM_SUBTITLE_STREAM_FIRST && command <= IDM_SUBTITLE_STREAM_LAST)
        chooseSubtitles(command - IDM_SUBTITLE_STREAM_FIRST);
}

void onNextSubtitleCommand() {
    std::optional<ChannelInfo> channel = channelList().copyCurrent();
    if (!channel)
        return;
    chooseSubtitles(nextSubtitleChoice(shell().chosen, channel->subtitleStreams.size()));
}

void advanceSubtitles(HWND window) {
    KillTimer(window, kSubtitleTimer);
    CSubtitleFilter* filter = mediaGraph().subtitles;
    if (!filter)
        return;
    const std::optional<int64_t> now = filter->streamTime90k();
    ShellSubtitles& subtitles = shell();
    bool changed = false;
    std::optional<int64_t> next;
    {
        std::lock_guard<std::mutex> guard(subtitles.lock);
        if (now)
            changed = subtitles.timeline.advance(*now);
        next = subtitles.timeline.nextChange();
    }
    if (changed)
        redrawVideo();
    if (!next)
        return;
    // Looked at again at least every second, so that a clock that moves unevenly or a graph
    // that does not run yet is followed.
    int64_t waitMs = now ? (*next - *now) / 90 : 100;
    waitMs = std::clamp<int64_t>(waitMs, USER_TIMER_MINIMUM, 1000);
    SetTimer(window, kSubtitleTimer, static_cast<UINT>(waitMs), nullptr);
}

void paintSubtitles(HDC dc, const VideoRect& picture) {
    std::optional<SubtitlePicture> shown;
    {
        ShellSubtitles& subtitles = shell();
        std::lock_guard<std::mutex> guard(subtitles.lock);
        if (const SubtitlePicture* current = subtitles.timeline.shown())
            shown = *current;
    }
    if (!shown)
        return;
    for (const SubtitleRegion& region : shown->regions)
        paintRegion(dc, region,
                    subtitleRegionArea(region, shown->displayWidth, shown->displayHeight, picture));
}

} // namespace korvane
