#include "app/win/rescan_offer.h"

#include "app/session_rules.h"
#include "app/win/app_state.h"
#include "app/win/channel_commands.h"
#include "app/win/channel_scan.h"
#include "app/win/main_window.h"
#include "app/win/recording_commands.h"
#include "app/win/session.h"
#include "common/win/show_error.h"
#include "res/resource.h"

#include <commctrl.h>

namespace korvane {

namespace {

// The last part, where the following programme is shown: the present one stays in sight.
constexpr WPARAM kOfferPart = 4;

struct RescanOffer {
    bool made = false;   // once per run
    bool stands = false; // from the offer to the new scan
};

RescanOffer& offer() {
    static RescanOffer state;
    return state;
}

void addRescanItem() {
    HMENU menu = channelMenu();
    if (!menu)
        return;
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, IDM_RESCAN_CHANNELS, L"Relancer la recherche des chaînes");
}

bool userStopsRecordingToScan() {
    return MessageBoxW(appState().mainWindow,
                       L"Un enregistrement est en cours. L'arrêter et relancer la recherche "
                       L"des chaînes ?",
                       kMainWindowTitle, MB_YESNO | MB_ICONQUESTION) == IDYES;
}

} // namespace

void onChannelNumbersChanged() {
    RescanOffer& state = offer();
    if (state.made)
        return;
    state.made = true;
    state.stands = true;
    addRescanItem();
    showRescanOffer();
}

void showRescanOffer() {
    HWND bar = appState().statusBar;
    if (!offer().stands || !bar)
        return;
    SendMessageW(
        bar, SB_SETTEXTW, kOfferPart,
        reinterpret_cast<LPARAM>(L"Les numéros des chaînes ont changé : relancer la recherche ?"));
}

void relaunchChannelScan() {
    if (appState().recording()) {
        if (!userStopsRecordingToScan())
            return;
        stopRecording();
    }
    ChannelList& list = channelList();
    const std::optional<ChannelInfo> watched = list.copyCurrent();
    const int32_t watchedIndex = list.currentIndex();
    const ChannelRecords previous = list.snapshot();
    // The scan appends to an empty list; no channel is current meanwhile, so the PMT decoder
    // leaves the records alone.
    list.clear();
    appState().scan.pendingNit.clear();
    const int status = runChannelScan();
    if (status != kScanFound) {
        list.clear();
        for (const ChannelInfo& record : previous)
            list.append(record);
        // A close during the scan stopped it; the window closes now that it has returned.
        if (appState().scan.stop.get() == ScanStop::Quit) {
            PostMessageW(appState().mainWindow, WM_CLOSE, 0, 0);
            return;
        }
        if (status == kScanNothingFound)
            showError(L"Aucune chaine n'a été trouvée");
        if (watchedIndex >= 0)
            selectChannel(static_cast<std::size_t>(watchedIndex));
        return;
    }
    offer().stands = false;
    replaceChannelMenu();
    selectChannel(channelAfterRescan(list.snapshot(), watched));
}

} // namespace korvane
