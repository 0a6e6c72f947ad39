#include "app/win/session.h"

#include "app/session_rules.h"
#include "app/win/app_state.h"
#include "app/win/channel_commands.h"
#include "app/win/channel_scan.h"
#include "app/win/config_store.h"
#include "app/win/configuration_dialog.h"
#include "app/win/graph_wiring.h"
#include "app/win/main_window.h"
#include "app/win/menu_state.h"
#include "app/win/now_playing.h"
#include "app/win/schedule_store.h"
#include "app/win/scheduler.h"
#include "app/win/status_bar.h"
#include "app/win/video_area.h"
#include "app/win/window_modes.h"
#include "channels/win/channel_file_win.h"
#include "common/dvb_text.h"
#include "common/win/show_error.h"
#include "graph/media_graph.h"
#include "res/resource.h"
#include "si/scan.h"

#include <commctrl.h>
#include <objbase.h>

namespace korvane {

namespace {

constexpr int kChannelMenuPosition = 4;

class ComApartment {
  public:
    ComApartment() : initialised_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
    ~ComApartment() {
        if (initialised_)
            CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

  private:
    bool initialised_;
};

class AcceleratorTable {
  public:
    explicit AcceleratorTable(HACCEL table) : table_(table) {}
    ~AcceleratorTable() {
        if (table_)
            DestroyAcceleratorTable(table_);
    }
    AcceleratorTable(const AcceleratorTable&) = delete;
    AcceleratorTable& operator=(const AcceleratorTable&) = delete;
    HACCEL get() const { return table_; }

  private:
    HACCEL table_;
};

// The mutex is never closed: it lives as long as the process.
bool anotherInstanceRuns() {
    CreateMutexW(nullptr, TRUE, L"Korvane TV");
    return GetLastError() == ERROR_ALREADY_EXISTS;
}

// The configured tuner (and receiver), with the configuration dialog once when they are
// not there.
int checkDevices() {
    if (selectDevices(appConfig(), mediaGraph()))
        return 0;
    showConfigurationDialog(appState().mainWindow);
    return selectDevices(appConfig(), mediaGraph()) ? 0 : 1;
}

// A channel file there but unreadable is set aside before the scan writes a new one, and
// the user told; a missing file (the first start) needs no word.
void keepUnreadableChannelFileAndTell() {
    switch (keepUnreadableChannelFile()) {
    case UnreadableChannelFile::Missing:
        break;
    case UnreadableChannelFile::Kept:
        showError(L"Le fichier chaines.xml est illisible : il est gardé sous le nom "
                  L"chaines.xml.illisible et une nouvelle recherche des chaînes commence.");
        break;
    case UnreadableChannelFile::NotKept:
        showError(L"Le fichier chaines.xml est illisible et n'a pas pu être renommé : une "
                  L"nouvelle recherche des chaînes va le remplacer.");
        break;
    }
}

// The channel file, or a scan when it cannot be read.
int loadOrScanChannels() {
    if (loadChannelFile(channelList()) != 0) {
        keepUnreadableChannelFileAndTell();
        if (int status = runChannelScan()) {
            if (status != kScanStopped)
                showError(L"Aucune chaine n'a été trouvée");
            return status;
        }
    }
    if (channelList().size() == 0) {
        showError(L"Aucune chaine n'est dans le fichier");
        return 1;
    }
    return 0;
}

// The video renderer keys the picture on the window's background colour.
void applyColorKey() {
    if (IVMRWindowlessControl* control = mediaGraph().windowlessControl.get())
        control->SetColorKey(kVideoColorKey);
}

void insertChannelMenu(HMENU bar) {
    HMENU channels = buildChannelMenu();
    if (!bar || !channels)
        return;
    if (!InsertMenuW(bar, kChannelMenuPosition, MF_BYPOSITION | MF_POPUP,
                     reinterpret_cast<UINT_PTR>(channels), L"Chaînes"))
        DestroyMenu(channels);
}

// The menu bar, also while compact mode or full screen has it detached.
HMENU menuBar() {
    const AppState& state = appState();
    return state.fullMenu ? state.fullMenu : GetMenu(state.mainWindow);
}

// Inverted first, so that the toggle brings it back and applies it.
void applyAlwaysOnTop() {
    appConfig().alwaysOnTop = !appConfig().alwaysOnTop;
    toggleAlwaysOnTop();
}

int messageLoop(HACCEL accelerators) {
    MSG message{};
    for (;;) {
        BOOL result = GetMessageW(&message, nullptr, 0, 0);
        if (result == 0 || result == -1)
            break;
        if (!TranslateAcceleratorW(appState().mainWindow, accelerators, &message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    return static_cast<int>(message.wParam);
}

} // namespace

HMENU buildChannelMenu() {
    HMENU menu = CreatePopupMenu();
    if (!menu)
        return nullptr;
    ChannelRecords records = channelList().snapshot();
    for (std::size_t index = 0; index < records.size(); ++index) {
        std::string text =
            channelMenuText(records[index].number, shownDvbText(records[index].name.view()));
        AppendMenuA(menu, MF_STRING, index, text.c_str());
    }
    return menu;
}

HMENU channelMenu() {
    HMENU bar = menuBar();
    return bar ? GetSubMenu(bar, kChannelMenuPosition) : nullptr;
}

void replaceChannelMenu() {
    HMENU bar = menuBar();
    if (!bar || !channelMenu())
        return;
    DeleteMenu(bar, kChannelMenuPosition, MF_BYPOSITION);
    insertChannelMenu(bar);
    if (GetMenu(appState().mainWindow) == bar)
        DrawMenuBar(appState().mainWindow);
}

int openChannels() {
    if (int status = loadOrScanChannels())
        return status;
    insertChannelMenu(GetMenu(appState().mainWindow));
    syncMenuChecks();
    applyAlwaysOnTop();
    // The stored index is used at start-up only.
    selectChannel(static_cast<std::size_t>(
        startChannelIndex(appConfig().startChannelIndex, channelList().size())));
    appState().typedNumber = 0;
    return 0;
}

int initialiseSession() {
    if (int status = checkDevices())
        return status;
    if (buildSessionGraph() != GraphStatus::Built)
        return 1;
    return openChannels();
}

void shutdownSession() {
    stopScheduler();
    saveConfig();
    tearDownSessionGraph();
}

int runProgram(HINSTANCE instance, int showCommand) {
    setAppInstance(instance);
    if (anotherInstanceRuns())
        return 0;
    loadConfig();
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);
    if (!registerMainWindowClass(instance))
        return 0;
    ComApartment com;
    HWND window = createMainWindow(instance, appConfig());
    if (!window)
        return 0;
    createStatusBar();
    ShowWindow(window, showCommand);
    UpdateWindow(window);
    if (int status = initialiseSession()) {
        shutdownSession();
        releaseVideoPresenter();
        // Closed during the scan, or the scan cancelled without keeping its channels: the
        // user's choice, not a failure.
        return status == kScanStopped ? 0 : -1;
    }
    appState().fullMenu = GetMenu(window);
    applyColorKey();
    layoutVideo();
    loadSchedules();
    startScheduler();
    AcceleratorTable accelerators(LoadAcceleratorsW(instance, MAKEINTRESOURCEW(IDR_ACCELERATORS)));
    const int exitCode = messageLoop(accelerators.get());
    // The window is gone by now; its former handle is still given as the sender.
    if (appConfig().sendNowPlaying)
        clearNowPlaying();
    releaseVideoPresenter();
    return exitCode;
}

} // namespace korvane
