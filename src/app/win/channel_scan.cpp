#include "app/win/channel_scan.h"

#include "app/win/app_state.h"
#include "app/win/graph_ports.h"
#include "app/win/graph_wiring.h"
#include "channels/win/channel_file_win.h"
#include "channels/win/frequency_plan_win.h"
#include "common/win/wide_text.h"
#include "graph/media_graph.h"
#include "res/resource.h"
#include "si/win/scan_win.h"

#include <objbase.h>

#include <thread>

namespace korvane {

namespace {

// A Win32 event, closed when it goes.
class Event {
  public:
    Event() : handle_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~Event() {
        if (handle_)
            CloseHandle(handle_);
    }
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;
    HANDLE get() const { return handle_; }

  private:
    HANDLE handle_;
};

// Dispatches what arrives for the user-interface thread until the event is set, so that
// the scan dialog keeps painting while a table read waits for its section.
void pumpUntil(HANDLE done, HWND dialog) {
    for (;;) {
        const DWORD woken = MsgWaitForMultipleObjects(1, &done, FALSE, INFINITE, QS_ALLINPUT);
        if (woken != WAIT_OBJECT_0 + 1)
            return;
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            // The end of the session: leave it in the queue for the main loop.
            if (message.message == WM_QUIT) {
                PostQuitMessage(static_cast<int>(message.wParam));
                WaitForSingleObject(done, INFINITE);
                return;
            }
            if (!IsDialogMessageW(dialog, &message)) {
                TranslateMessage(&message);
                DispatchMessageW(&message);
            }
        }
    }
}

// The scan's table reads, each made on a short-lived thread of its own while this thread
// keeps the scan dialog alive: a read waits up to ten seconds, a whole scan minutes.
class ResponsiveSectionReader : public SectionReader {
  public:
    ResponsiveSectionReader(IMpeg2Data* data, HWND dialog) : reader_(data), dialog_(dialog) {}

    std::optional<std::vector<uint8_t>> getSection(uint16_t pid, uint8_t tableId,
                                                   int timeoutMs) override {
        Event done;
        if (!done.get())
            return reader_.getSection(pid, tableId, timeoutMs);
        std::optional<std::vector<uint8_t>> section;
        std::thread reading([&] {
            const bool com = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
            section = reader_.getSection(pid, tableId, timeoutMs);
            if (com)
                CoUninitialize();
            SetEvent(done.get());
        });
        pumpUntil(done.get(), dialog_);
        reading.join();
        return section;
    }

  private:
    Mpeg2DataSectionReader<IMpeg2Data, ISectionList> reader_;
    HWND dialog_;
};

} // namespace

int runChannelScan() {
    ModalScanDialog dialog(appInstance(), IDD_SCAN, appState().mainWindow);
    return runChannelScan(channelList(), appState().scan, dialog, channelFileSaver());
}

void onEnterIdle(WPARAM wParam, LPARAM lParam) {
    ScanState& scan = appState().scan;
    if (!isScanStartIdle(scan, wParam))
        return;
    HWND dialog = reinterpret_cast<HWND>(lParam);
    DialogScanProgress progress(dialog);
    ResponsiveSectionReader reader(mediaGraph().sectionData.get(), dialog);
    GraphTuner tuner(mediaGraph());
    const auto plan = [] {
        const AppConfig& config = appConfig();
        return buildFrequencyPlan(toWide(config.city), toWide(config.tunerName),
                                  appState().mainWindow);
    };
    scanAllFrequencies(channelList(), scan, plan, reader, tuner, progress);
}

} // namespace korvane
