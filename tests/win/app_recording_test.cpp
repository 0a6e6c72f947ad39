#include "app/win/app_state.h"
#include "app/win/main_window.h"
#include "app/win/recording_commands.h"
#include "capture/win/file_recorder.h"
#include "dialog_watcher.h"
#include "dshow/com_ptr.h"
#include "dshow/unknown.h"
#include "graph/platform_guids.h"
#include "process_state.h"
#include "res/resource.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace korvane {
namespace {

using testing::DialogWatcher;
using testing::pressOk;

// The grabber calls the shell never makes: the stand-ins below only take callbacks.
class CallbackOnlyGrabber : public ISampleGrabber {
  public:
    HRESULT STDMETHODCALLTYPE SetOneShot(BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetMediaType(const AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetConnectedMediaType(AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetBufferSamples(BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetCurrentBuffer(LONG*, LONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetCurrentSample(IMediaSample**) override { return E_NOTIMPL; }
};

// A sample grabber that calls its callback as the platform's may: the streaming thread reads
// the callback pointer without taking a reference and calls it a moment later, and
// SetCallback swaps and releases without waiting for that call. beginCall() holds the thread
// between the read and the call until finishCall(); a callback whose last reference went in
// between is noted and not called.
class PointerReadingGrabber final : public CallbackOnlyGrabber {
  public:
    ~PointerReadingGrabber() { SetCallback(nullptr, 0); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (riid != IID_IUnknown && riid != kIidSampleGrabber) {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        *ppv = static_cast<ISampleGrabber*>(this);
        AddRef();
        return S_OK;
    }
    // Owned by the test: the count is kept but never frees the object.
    ULONG STDMETHODCALLTYPE AddRef() override { return ULONG(++refs_); }
    ULONG STDMETHODCALLTYPE Release() override { return ULONG(--refs_); }

    HRESULT STDMETHODCALLTYPE SetCallback(ISampleGrabberCB* callback, LONG) override {
        if (callback)
            callback->AddRef();
        ISampleGrabberCB* old = callback_.exchange(callback);
        if (old && old->Release() == 0 && old == readByCall_.load())
            freedUnderCall_ = true;
        return S_OK;
    }

    void beginCall(IMediaSample* sample) {
        read_ = false;
        go_ = false;
        thread_ = std::thread([this, sample] {
            ISampleGrabberCB* callback = callback_.load();
            readByCall_ = callback;
            read_ = true;
            while (!go_)
                Sleep(1);
            if (callback && !freedUnderCall_)
                callback->SampleCB(0.0, sample);
            readByCall_ = nullptr;
        });
        while (!read_)
            Sleep(1);
    }
    void finishCall() {
        go_ = true;
        thread_.join();
    }
    bool freedUnderCall() const { return freedUnderCall_; }

  private:
    std::atomic<long> refs_{1};
    std::atomic<ISampleGrabberCB*> callback_{nullptr};
    std::atomic<ISampleGrabberCB*> readByCall_{nullptr};
    std::atomic<bool> freedUnderCall_{false};
    std::atomic<bool> read_{false};
    std::atomic<bool> go_{false};
    std::thread thread_;
};

// One 188-byte packet of PID 0x100 in a sample of the platform's memory allocator.
struct OnePacketSample {
    OnePacketSample() {
        CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                         allocator.putVoid());
        ALLOCATOR_PROPERTIES wanted{1, 188, 1, 0}, actual{};
        allocator->SetProperties(&wanted, &actual);
        allocator->Commit();
        allocator->GetBuffer(sample.put(), nullptr, nullptr, 0);
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        std::fill(data, data + 188, BYTE(0xAA));
        data[0] = 0x47;
        data[1] = 0x01;
        data[2] = 0x00;
        data[3] = 0x10;
        sample->SetActualDataLength(188);
    }
    ~OnePacketSample() {
        sample.reset();
        allocator->Decommit();
    }
    ComPtr<IMemAllocator> allocator;
    ComPtr<IMediaSample> sample;
};

// The recording commands of the main window on the platform's sample grabber.
class RecordingCommandsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        folder_ = std::wstring(temp) + L"korvane-recording-" +
                  std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(GetTickCount());
        ASSERT_TRUE(CreateDirectoryW(folder_.c_str(), nullptr));
        resetProcessState();
        appConfig().videoFolder.assign(folder_.begin(), folder_.end());
        ChannelInfo arte;
        arte.name.assign("Arte: <HD>");
        arte.pmtPid = 0x100;
        arte.videoMpeg4Pid = 0x120;
        arte.audio1Pid = 0x130;
        channelList().append(arte);
        channelList().setCurrentIndex(0);

        ASSERT_TRUE(registerMainWindowClass(GetModuleHandleW(nullptr)));
        window_ = createMainWindow(GetModuleHandleW(nullptr), appConfig());
        ASSERT_NE(window_, nullptr);
        ASSERT_TRUE(SUCCEEDED(CoCreateInstance(kClsidSampleGrabber, nullptr, CLSCTX_INPROC_SERVER,
                                               IID_IBaseFilter, grabberFilter_.putVoid())));
        grabber_ = grabberFilter_.as<ISampleGrabber>(kIidSampleGrabber);
        ASSERT_TRUE(grabber_);
        setRecordingGrabber(grabber_.get());
    }

    void TearDown() override {
        releaseRecordingGrabber();
        grabber_.reset();
        grabberFilter_.reset();
        DestroyWindow(window_);
        resetProcessState();
        pumpMessages();
        for (const std::wstring& name : recordings())
            DeleteFileW((folder_ + L"\\" + name).c_str());
        RemoveDirectoryW(folder_.c_str());
        CoUninitialize();
    }

    static void pumpMessages() {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }

    void command(UINT id) { SendMessageW(window_, WM_COMMAND, id, 0); }

    std::string readRecording(const std::wstring& name) const {
        HANDLE h = CreateFileW((folder_ + L"\\" + name).c_str(), GENERIC_READ, FILE_SHARE_READ,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        std::string bytes;
        if (h == INVALID_HANDLE_VALUE)
            return bytes;
        char chunk[4096];
        DWORD got = 0;
        while (ReadFile(h, chunk, sizeof chunk, &got, nullptr) && got > 0)
            bytes.append(chunk, chunk + got);
        CloseHandle(h);
        return bytes;
    }

    std::vector<std::wstring> recordings() const {
        std::vector<std::wstring> names;
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW((folder_ + L"\\*.mpg").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE)
            return names;
        do
            names.push_back(found.cFileName);
        while (FindNextFileW(search, &found));
        FindClose(search);
        return names;
    }

    // True when nobody holds the file open (the recorder keeps it unshared).
    bool closed(const std::wstring& name) const {
        HANDLE h = CreateFileW((folder_ + L"\\" + name).c_str(), GENERIC_WRITE, 0, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            return false;
        CloseHandle(h);
        return true;
    }

    bool grayed(UINT id) const {
        MENUITEMINFOW item{};
        item.cbSize = sizeof(item);
        item.fMask = MIIM_STATE;
        GetMenuItemInfoW(GetMenu(window_), id, FALSE, &item);
        return (item.fState & MFS_GRAYED) != 0;
    }

    std::wstring folder_;
    HWND window_ = nullptr;
    ComPtr<IBaseFilter> grabberFilter_;
    ComPtr<ISampleGrabber> grabber_;
};

TEST_F(RecordingCommandsTest, OneRecordingAtATimeAndStopClosesItsFile) {
    command(IDM_RECORD_CHANNEL_TS);
    ASSERT_TRUE(appState().recording());
    std::vector<std::wstring> files = recordings();
    ASSERT_EQ(files.size(), 1u);
    // Characters a file name cannot hold are replaced; the date and time follow the name.
    EXPECT_EQ(files[0].rfind(L"Arte_ _HD_ ", 0), 0u) << files[0];
    EXPECT_FALSE(closed(files[0]));
    EXPECT_TRUE(grayed(IDM_RECORD_MULTIPLEX));
    EXPECT_TRUE(grayed(IDM_RECORD_CHANNEL_PS));
    EXPECT_FALSE(grayed(IDM_STOP_RECORDING));

    command(IDM_RECORD_MULTIPLEX);
    EXPECT_EQ(recordings().size(), 1u);

    command(IDM_STOP_RECORDING);
    EXPECT_FALSE(appState().recording());
    EXPECT_TRUE(closed(files[0]));
    EXPECT_FALSE(grayed(IDM_RECORD_MULTIPLEX));
    EXPECT_TRUE(grayed(IDM_STOP_RECORDING));
    // Stopping again changes nothing.
    command(IDM_STOP_RECORDING);
    EXPECT_FALSE(appState().recording());
}

TEST_F(RecordingCommandsTest, AFileThatCannotBeCreatedStopsTheRecordingAndTellsTheUser) {
    const std::wstring missing = folder_ + L"\\disparu";
    appConfig().videoFolder.assign(missing.begin(), missing.end());
    DialogWatcher watcher(pressOk);
    command(IDM_RECORD_MULTIPLEX);
    for (int i = 0; i < 200 && appState().recording(); ++i) {
        pumpMessages();
        Sleep(25);
    }
    EXPECT_FALSE(appState().recording());
    EXPECT_TRUE(watcher.seen());
    EXPECT_NE(watcher.texts().find(L"Impossible de créer le fichier d'enregistrement"),
              std::wstring::npos)
        << std::string(watcher.texts().begin(), watcher.texts().end());
    EXPECT_EQ(watcher.owner(), window_);
    EXPECT_FALSE(grayed(IDM_RECORD_MULTIPLEX));
}

TEST_F(RecordingCommandsTest, StopWhileTheGrabberIsAboutToCallTheRecorderFreesNothingUnderIt) {
    const long before = liveObjectCount();
    {
        PointerReadingGrabber slow;
        setRecordingGrabber(&slow);
        OnePacketSample packet;
        for (UINT mode : {IDM_RECORD_MULTIPLEX, IDM_RECORD_CHANNEL_TS, IDM_RECORD_CHANNEL_PS}) {
            command(mode);
            ASSERT_TRUE(appState().recording());
            // The streaming thread has read the callback; the user stops before it calls.
            slow.beginCall(packet.sample.get());
            command(IDM_STOP_RECORDING);
            EXPECT_FALSE(appState().recording());
            slow.finishCall();
            EXPECT_FALSE(slow.freedUnderCall()) << "mode " << mode;
            // Every file is closed by the stop; nothing reached it after the stop.
            for (const std::wstring& name : recordings()) {
                EXPECT_TRUE(closed(name)) << "mode " << mode;
                EXPECT_EQ(readRecording(name), "") << "mode " << mode;
                DeleteFileW((folder_ + L"\\" + name).c_str());
            }
            if (slow.freedUnderCall())
                break;
        }
        releaseRecordingGrabber();
    }
    EXPECT_EQ(liveObjectCount(), before);
}

TEST_F(RecordingCommandsTest, ALateFailureOfAStoppedRecordingLeavesTheNextOneAlone) {
    // The first recording cannot create its file: its report is posted at once, and is still
    // queued when the user stops it and starts another in a folder that exists.
    const std::wstring good(appConfig().videoFolder.begin(), appConfig().videoFolder.end());
    const std::wstring missing = folder_ + L"\\disparu";
    appConfig().videoFolder.assign(missing.begin(), missing.end());
    command(IDM_RECORD_MULTIPLEX);
    command(IDM_STOP_RECORDING);
    appConfig().videoFolder.assign(good.begin(), good.end());
    command(IDM_RECORD_CHANNEL_TS);
    ASSERT_TRUE(appState().recording());
    {
        DialogWatcher watcher(pressOk);
        for (int i = 0; i < 20; ++i) {
            pumpMessages();
            Sleep(25);
        }
        EXPECT_TRUE(appState().recording()) << "the old report stopped the new recording";
        EXPECT_FALSE(watcher.seen()) << std::string(watcher.texts().begin(), watcher.texts().end());
    }
    const std::vector<std::wstring> files = recordings();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_FALSE(closed(files[0]));
    command(IDM_STOP_RECORDING);
}

// A grabber whose streaming thread is the test's: feed() calls the installed callback.
class FeedingGrabber final : public CallbackOnlyGrabber {
  public:
    ~FeedingGrabber() { SetCallback(nullptr, 0); }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (riid != IID_IUnknown && riid != kIidSampleGrabber) {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        *ppv = static_cast<ISampleGrabber*>(this);
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE SetCallback(ISampleGrabberCB* callback, LONG) override {
        if (callback)
            callback->AddRef();
        if (callback_)
            callback_->Release();
        callback_ = callback;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetBufferSamples2(BOOL) { return E_NOTIMPL; }
    void feed(IMediaSample* sample) {
        if (callback_)
            callback_->SampleCB(0.0, sample);
    }

  private:
    ISampleGrabberCB* callback_ = nullptr;
};

// Recording destinations standing in for a disk: one that refuses its close (a disk full
// when the last bytes reach it), one that holds its first write for ten seconds (a network
// share that stalls).
enum class Destination { Plain, CloseFails, StallsTenSeconds };
Destination destinationKind = Destination::Plain;
std::atomic<int> destinationWrites{0};

struct StandInDestination : ByteSink {
    bool write(const uint8_t*, std::size_t) override {
        if (destinationKind == Destination::StallsTenSeconds && destinationWrites == 0)
            Sleep(10000);
        ++destinationWrites;
        return true;
    }
    bool close() override { return destinationKind != Destination::CloseFails; }
};

std::unique_ptr<ByteSink> openStandIn(const wchar_t*) {
    return std::make_unique<StandInDestination>();
}

class RecordingDestinationTest : public RecordingCommandsTest {
  protected:
    void SetUp() override {
        RecordingCommandsTest::SetUp();
        destinationWrites = 0;
        setRecordingSinkMaker(openStandIn);
        setRecordingGrabber(&feeding_);
    }
    void TearDown() override {
        releaseRecordingGrabber();
        setRecordingSinkMaker(nullptr);
        RecordingCommandsTest::TearDown();
    }
    FeedingGrabber feeding_;
};

TEST_F(RecordingDestinationTest, TheStopTellsWhatTheEndOfTheRecordingLost) {
    struct Case {
        Destination destination;
        const wchar_t* text; // null: the stop says nothing
    };
    const Case cases[] = {
        {Destination::Plain, nullptr},
        {Destination::CloseFails, L"Erreur d'écriture dans le fichier d'enregistrement"},
    };
    OnePacketSample packet;
    for (const Case& c : cases) {
        destinationKind = c.destination;
        for (UINT mode : {IDM_RECORD_MULTIPLEX, IDM_RECORD_CHANNEL_PS}) {
            command(mode);
            ASSERT_TRUE(appState().recording());
            feeding_.feed(packet.sample.get());
            DialogWatcher watcher(pressOk);
            command(IDM_STOP_RECORDING);
            EXPECT_FALSE(appState().recording());
            pumpMessages();
            const std::wstring texts = watcher.texts();
            const std::string shown(texts.begin(), texts.end());
            if (c.text == nullptr) {
                EXPECT_FALSE(watcher.seen()) << shown;
            } else {
                EXPECT_NE(watcher.texts().find(c.text), std::wstring::npos)
                    << "mode " << mode << ": " << shown;
                EXPECT_EQ(watcher.owner(), window_);
            }
        }
    }
}

TEST_F(RecordingDestinationTest, AStalledDestinationFreezesNeitherThePictureNorTheWindow) {
    destinationKind = Destination::StallsTenSeconds;
    OnePacketSample packet;
    command(IDM_RECORD_MULTIPLEX);
    ASSERT_TRUE(appState().recording());
    // The streaming thread: each buffer goes on to the picture once the recorder has it.
    std::atomic<bool> streaming{true};
    std::atomic<DWORD> slowestCall{0};
    std::atomic<int> buffers{0};
    std::thread stream([&] {
        while (streaming) {
            const DWORD before = GetTickCount();
            feeding_.feed(packet.sample.get());
            const DWORD took = GetTickCount() - before;
            if (took > slowestCall)
                slowestCall = took;
            ++buffers;
            Sleep(2);
        }
    });
    // Another program asks the window something, as a task switcher does.
    std::atomic<int> answered{0}, unanswered{0};
    std::atomic<bool> asking{true};
    std::thread asker([&] {
        while (asking) {
            DWORD_PTR result = 0;
            if (SendMessageTimeoutW(window_, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 2000, &result))
                ++answered;
            else
                ++unanswered;
            Sleep(50);
        }
    });
    const DWORD until = GetTickCount() + 3000;
    while (GetTickCount() < until) {
        pumpMessages();
        Sleep(5);
    }
    EXPECT_EQ(destinationWrites.load(), 0) << "the destination was meant to be stalled";
    DialogWatcher watcher(pressOk);
    const DWORD stopStart = GetTickCount();
    command(IDM_STOP_RECORDING);
    const DWORD stopTook = GetTickCount() - stopStart;
    for (int i = 0; i < 20; ++i) {
        pumpMessages();
        Sleep(10);
    }
    streaming = false;
    asking = false;
    stream.join();
    asker.join();
    EXPECT_FALSE(appState().recording());
    EXPECT_LT(slowestCall.load(), 1000u) << "a buffer waited for the destination";
    EXPECT_GT(buffers.load(), 100);
    EXPECT_GT(answered.load(), 10);
    EXPECT_EQ(unanswered.load(), 0);
    EXPECT_LT(stopTook, 8000u) << "the stop waited for the stalled destination";
    EXPECT_NE(watcher.texts().find(L"Le disque n'a pas suivi le débit de l'enregistrement"),
              std::wstring::npos)
        << std::string(watcher.texts().begin(), watcher.texts().end());
}

} // namespace
} // namespace korvane
