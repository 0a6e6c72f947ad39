#include "app/win/channel_scan.h"

#include "app/win/app_state.h"
#include "app/win/graph_ports.h"
#include "app/win/graph_wiring.h"
#include "app/win/main_window.h"
#include "channels/win/channel_file_win.h"
#include "channels/win/frequency_plan_win.h"
#include "common/win/wide_text.h"
#include "graph/media_graph.h"
#include "res/resource.h"
#include "si/win/scan_win.h"

#include <objbase.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
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

// Table reads in flight: the end of the session waits for them before the graph goes.
HANDLE readsInFlight = nullptr;

// Dispatches what arrives for the user-interface thread until the event is set, so that
// the scan dialog keeps painting (and hears Escape) while the table reads wait. The
// program's end (WM_QUIT) stops the scan and is left in the queue for the main loop.
void pumpUntil(HANDLE done, HWND dialog, ScanStopFlag& stop) {
    readsInFlight = done;
    bool quit = false;
    int quitCode = 0;
    while (!quit) {
        const DWORD woken = MsgWaitForMultipleObjects(1, &done, FALSE, INFINITE, QS_ALLINPUT);
        if (woken != WAIT_OBJECT_0 + 1)
            break;
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                quit = true;
                quitCode = static_cast<int>(message.wParam);
                break;
            }
            if (!IsDialogMessageW(dialog, &message)) {
                TranslateMessage(&message);
                DispatchMessageW(&message);
            }
        }
    }
    if (quit) {
        stop.request(ScanStop::Quit);
        WaitForSingleObject(done, INFINITE);
        PostQuitMessage(quitCode);
    }
    readsInFlight = nullptr;
}

// A stop is seen within this time: the platform's read cannot be interrupted, so a long
// time-out is waited for in slices.
constexpr int kReadSliceMs = 500;
// Table reads that run at once, each on a thread of the scan's own.
constexpr std::size_t kMaxReadsAtOnce = 16;

// The scan's table reads, made together by a few threads of the scan's own while this thread
// keeps the scan dialog alive. The threads live as long as the scan, so that the reads
// begin as soon as a frequency is tuned (a table that passes before its PID is mapped costs
// a whole repetition). The reader's interface is held by a reference of the scan's own, taken
// and released on this thread, and lent to the reading threads only while this thread waits
// for them to finish a batch.
class ConcurrentSectionReader : public SectionReader {
  public:
    ConcurrentSectionReader(ComPtr<IMpeg2Data> data, HWND dialog, ScanStopFlag& stop)
        : data_(std::move(data)), reader_(data_.get()), dialog_(dialog), stop_(stop) {
        // Started before the first tune: starting threads takes longer than a table's pass.
        if (done_.get())
            startWorkers();
    }

    ~ConcurrentSectionReader() override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            closing_ = true;
        }
        wake_.notify_all();
        for (std::thread& worker : workers_)
            worker.join();
    }

    ConcurrentSectionReader(const ConcurrentSectionReader&) = delete;
    ConcurrentSectionReader& operator=(const ConcurrentSectionReader&) = delete;

    std::optional<Section> getSection(const SectionRequest& request) override {
        return getSections({request}, 0).front();
    }

    std::vector<std::optional<Section>> getSections(const std::vector<SectionRequest>& requests,
                                                    std::optional<std::size_t> leader) override {
        if (!done_.get() || requests.empty())
            return SectionReader::getSections(requests, leader);
        Batch batch{requests, leader};
        batch.results.resize(requests.size());
        batch.running = workers_.size();
        ResetEvent(done_.get());
        {
            std::lock_guard<std::mutex> lock(mutex_);
            batch_ = &batch;
            ++generation_;
        }
        wake_.notify_all();
        pumpUntil(done_.get(), dialog_, stop_);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            batch_ = nullptr;
        }
        return std::move(batch.results);
    }

  private:
    struct Batch {
        const std::vector<SectionRequest>& requests;
        std::optional<std::size_t> leader;
        std::vector<std::optional<Section>> results{};
        std::atomic<std::size_t> next{0};
        std::atomic<std::size_t> running{0};
        std::atomic<bool> abandoned{false};
    };

    void startWorkers() {
        while (workers_.size() < kMaxReadsAtOnce)
            workers_.emplace_back([this] { work(); });
    }

    // Each worker takes part in every batch once: the batch ends when all have left it.
    void work() {
        const bool com = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
        uint64_t seen = 0;
        for (;;) {
            Batch* batch = nullptr;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                wake_.wait(lock, [&] { return closing_ || generation_ != seen; });
                if (closing_)
                    break;
                seen = generation_;
                batch = batch_;
            }
            readAll(*batch);
            if (--batch->running == 0)
                SetEvent(done_.get());
        }
        if (com)
            CoUninitialize();
    }

    // Takes the batch's requests one by one until none is left.
    void readAll(Batch& batch) {
        for (std::size_t i = batch.next++; i < batch.requests.size(); i = batch.next++) {
            batch.results[i] = readInSlices(batch.requests[i], batch.abandoned);
            if (!batch.results[i] && batch.leader == i)
                batch.abandoned = true;
        }
    }

    std::optional<Section> readInSlices(const SectionRequest& request,
                                        const std::atomic<bool>& abandoned) {
        const ULONGLONG started = GetTickCount64();
        for (;;) {
            const ULONGLONG spent = GetTickCount64() - started;
            if (stop_.stopped() || abandoned || spent >= ULONGLONG(request.timeoutMs))
                return std::nullopt;
            SectionRequest slice = request;
            slice.timeoutMs = static_cast<int>(
                std::min<ULONGLONG>(ULONGLONG(request.timeoutMs) - spent, kReadSliceMs));
            const ULONGLONG asked = GetTickCount64();
            if (auto section = reader_.getSection(slice))
                return section;
            // A read refused at once (no reader, nothing connected) is not a time-out.
            if (GetTickCount64() - asked + 50 < ULONGLONG(slice.timeoutMs))
                return std::nullopt;
        }
    }

    ComPtr<IMpeg2Data> data_;
    Mpeg2DataSectionReader<IMpeg2Data, ISectionList> reader_;
    HWND dialog_;
    ScanStopFlag& stop_;
    Event done_;
    std::mutex mutex_;
    std::condition_variable wake_;
    Batch* batch_ = nullptr;
    uint64_t generation_ = 0;
    bool closing_ = false;
    std::vector<std::thread> workers_;
};

bool userKeepsChannelsFound(std::size_t count) {
    const std::wstring question = L"Garder les " + std::to_wstring(count) + L" chaînes trouvées ?";
    return MessageBoxW(appState().mainWindow, question.c_str(), kMainWindowTitle,
                       MB_YESNO | MB_ICONQUESTION) == IDYES;
}

} // namespace

int runChannelScan() {
    ScanState& scan = appState().scan;
    ModalScanDialog dialog(appInstance(), IDD_SCAN, appState().mainWindow, scan.stop);
    return runChannelScan(channelList(), scan, dialog, channelFileSaver(), userKeepsChannelsFound);
}

bool channelScanActive() {
    return appState().scan.scanActive;
}

void stopChannelScan(bool wait) {
    ScanState& scan = appState().scan;
    if (!scan.scanActive)
        return;
    scan.stop.request(ScanStop::Quit);
    if (wait && readsInFlight)
        WaitForSingleObject(readsInFlight, INFINITE);
}

void onEnterIdle(WPARAM wParam, LPARAM lParam) {
    ScanState& scan = appState().scan;
    if (!isScanStartIdle(scan, wParam))
        return;
    HWND dialog = reinterpret_cast<HWND>(lParam);
    DialogScanProgress progress(dialog);
    ConcurrentSectionReader reader(mediaGraph().sectionData, dialog, scan.stop);
    GraphTuner tuner(mediaGraph());
    const auto plan = [] {
        const AppConfig& config = appConfig();
        return buildFrequencyPlan(toWide(config.city), toWide(config.tunerName),
                                  appState().mainWindow);
    };
    scanAllFrequencies(channelList(), scan, plan, reader, tuner, progress);
}

} // namespace korvane
