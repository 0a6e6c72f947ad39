#pragma once

// Shared pieces of the picture tests: a main window of this process with fresh process-wide
// state, a stand-in windowless video control that records what it is asked, and a renderer
// whose input is connected with a chosen picture aspect ratio.

#include "app/win/app_state.h"
#include "app/win/main_window.h"
#include "app/win/status_bar.h"
#include "dshow_test_filters.h"
#include "graph/media_graph.h"
#include "process_state.h"
#include "video_renderer_rig.h"

#include <dvdmedia.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <climits>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

// Rectangles compared and printed by the test assertions.
inline bool operator==(const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}
inline std::ostream& operator<<(std::ostream& out, const RECT& r) {
    return out << "(" << r.left << "," << r.top << "," << r.right << "," << r.bottom << ")";
}

namespace korvane::testing {

// Answers what the program asks of the renderer's windowless control, and remembers it.
class FakeWindowlessControl : public IVMRWindowlessControl {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (iid == IID_IUnknown || iid == IID_IVMRWindowlessControl) {
            *out = static_cast<IVMRWindowlessControl*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override { return --references; }

    HRESULT STDMETHODCALLTYPE SetVideoPosition(LPRECT source, LPRECT target) override {
        sourceGiven = source != nullptr;
        if (target)
            positions.push_back(*target);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE DisplayModeChanged() override {
        ++displayChanges;
        return S_OK;
    }
    // The current picture: a copy of `image` in task memory, or failure while it is empty.
    HRESULT STDMETHODCALLTYPE GetCurrentImage(BYTE** dib) override {
        ++imageRequests;
        if (image.empty())
            return E_FAIL;
        *dib = static_cast<BYTE*>(CoTaskMemAlloc(image.size()));
        memcpy(*dib, image.data(), image.size());
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetNativeVideoSize(LONG*, LONG*, LONG*, LONG*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetMinIdealVideoSize(LONG*, LONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetMaxIdealVideoSize(LONG*, LONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetVideoPosition(RECT*, RECT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetAspectRatioMode(DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetAspectRatioMode(DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetVideoClippingWindow(HWND) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RepaintVideo(HWND, HDC) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetBorderColor(COLORREF) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetBorderColor(COLORREF*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetColorKey(COLORREF) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetColorKey(COLORREF*) override { return E_NOTIMPL; }

    ULONG references = 1;
    bool sourceGiven = false;
    std::vector<RECT> positions;
    int displayChanges = 0;
    int imageRequests = 0;
    std::vector<uint8_t> image;
};

// The graph helpers of ComTest, for code outside a ComTest fixture.
struct GraphTools : ComTest {
    using ComTest::connect;
    using ComTest::firstPin;
    using ComTest::makeGraph;
};

// A renderer whose input pin is connected with a VIDEOINFOHEADER2 of the given picture aspect
// ratio, as the video decoder connects to the real renderer.
class ConnectedRenderer {
  public:
    ConnectedRenderer(DWORD aspectX, DWORD aspectY) {
        graph_ = GraphTools::makeGraph();
        CMediaType type(MEDIATYPE_Video);
        type.SetSubtype(&MEDIASUBTYPE_RGB32);
        type.SetFormatType(&FORMAT_VideoInfo2);
        auto* info =
            reinterpret_cast<VIDEOINFOHEADER2*>(type.AllocFormatBuffer(sizeof(VIDEOINFOHEADER2)));
        info->dwPictAspectRatioX = aspectX;
        info->dwPictAspectRatioY = aspectY;
        info->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info->bmiHeader.biWidth = 720;
        info->bmiHeader.biHeight = 576;
        info->bmiHeader.biPlanes = 1;
        info->bmiHeader.biBitCount = 32;
        source_ = ComPtr<IBaseFilter>(new TestSource(type));
        renderer_ = ComPtr<IBaseFilter>(new TestSink(MEDIATYPE_Video));
        graph_->AddFilter(source_.get(), L"Décodeur");
        graph_->AddFilter(renderer_.get(), L"Mon VMR");
        connected = SUCCEEDED(GraphTools::connect(graph_.get(), source_.get(), renderer_.get()));
    }
    IBaseFilter* renderer() const { return renderer_.get(); }

    bool connected = false;

  private:
    ComPtr<IFilterGraph2> graph_;
    ComPtr<IBaseFilter> source_;
    ComPtr<IBaseFilter> renderer_;
};

// The window's pixels, read back from the screen.
class WindowCapture {
  public:
    explicit WindowCapture(HWND window) {
        RECT client{};
        GetClientRect(window, &client);
        width_ = client.right;
        height_ = client.bottom;
        BITMAPINFO info{};
        info.bmiHeader = {sizeof(BITMAPINFOHEADER), width_, -height_, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        HDC screen = GetDC(window);
        HDC memory = CreateCompatibleDC(screen);
        void* bits = nullptr;
        HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        HGDIOBJ previous = SelectObject(memory, bitmap);
        BitBlt(memory, 0, 0, width_, height_, screen, 0, 0, SRCCOPY);
        const auto* pixels = static_cast<const uint32_t*>(bits);
        pixels_.assign(pixels, pixels + width_ * height_);
        SelectObject(memory, previous);
        DeleteObject(bitmap);
        DeleteDC(memory);
        ReleaseDC(window, screen);
    }

    // The box of the pixels `match` takes (0x00RRGGBB) inside rows [top, bottom), or nothing.
    template <class Match>
    std::optional<RECT> boxWhere(Match match, int top = 0, int bottom = INT_MAX) const {
        std::optional<RECT> box;
        for (int y = std::max(top, 0); y < std::min(bottom, height_); ++y) {
            for (int x = 0; x < width_; ++x) {
                if (!match(pixels_[y * width_ + x] & 0xFFFFFF))
                    continue;
                if (!box)
                    box = RECT{x, y, x + 1, y + 1};
                box->left = std::min<LONG>(box->left, x);
                box->right = std::max<LONG>(box->right, x + 1);
                box->top = std::min<LONG>(box->top, y);
                box->bottom = std::max<LONG>(box->bottom, y + 1);
            }
        }
        return box;
    }

    // The box of the on-screen green inside [top, bottom), or nothing.
    std::optional<RECT> greenBox(int top, int bottom) const {
        return boxWhere(
            [](uint32_t p) {
                const int r = (p >> 16) & 0xFF, g = (p >> 8) & 0xFF, b = p & 0xFF;
                return g >= 200 && r <= 80 && b <= 80;
            },
            top, bottom);
    }

    const std::vector<uint32_t>& pixels() const { return pixels_; }
    int width() const { return width_; }
    int height() const { return height_; }
    uint32_t at(int x, int y) const { return pixels_[y * width_ + x]; }

  private:
    int width_ = 0;
    int height_ = 0;
    std::vector<uint32_t> pixels_;
};

inline int cursorCounter() {
    ShowCursor(TRUE);
    return ShowCursor(FALSE);
}

// A main window with its status bar in a working directory of its own, and fresh
// process-wide state; the window menu is the full menu.
class PictureWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        GetCurrentDirectoryW(MAX_PATH, previous_);
        folder_ = std::wstring(temp) + L"korvane-picture-" +
                  std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(GetTickCount());
        CreateDirectoryW(folder_.c_str(), nullptr);
        SetCurrentDirectoryW(folder_.c_str());
        resetProcessState();
        ASSERT_TRUE(registerMainWindowClass(GetModuleHandleW(nullptr)));
        window_ = createMainWindow(GetModuleHandleW(nullptr), appConfig());
        ASSERT_NE(window_, nullptr);
        createStatusBar();
        ShowWindow(window_, SW_SHOWNORMAL);
        appState().fullMenu = GetMenu(window_);
        cursorAtStart_ = cursorCounter();
    }
    void TearDown() override {
        mediaGraph() = MediaGraph{};
        if (IsWindow(window_))
            DestroyWindow(window_);
        if (appState().fullMenu && !GetMenu(window_))
            DestroyMenu(appState().fullMenu);
        resetProcessState();
        pumpMessages(0);
        // Whatever the test did, the cursor counter is where it was.
        EXPECT_EQ(cursorCounter(), cursorAtStart_);
        SetCurrentDirectoryW(previous_);
        RemoveDirectoryW(folder_.c_str());
        CoUninitialize();
    }

    // Sizes the window so that its client area is exactly width x height.
    void setClientSize(int width, int height) {
        for (int attempt = 0; attempt < 3; ++attempt) {
            RECT window{}, client{};
            GetWindowRect(window_, &window);
            GetClientRect(window_, &client);
            const int dx = width - client.right, dy = height - client.bottom;
            if (dx == 0 && dy == 0)
                return;
            SetWindowPos(window_, nullptr, 0, 0, window.right - window.left + dx,
                         window.bottom - window.top + dy, SWP_NOZORDER | SWP_NOMOVE);
        }
    }
    void dropStatusBar() {
        DestroyWindow(appState().statusBar);
        appState().statusBar = nullptr;
    }
    int statusBarHeight() {
        RECT r{};
        GetWindowRect(appState().statusBar, &r);
        return r.bottom - r.top;
    }
    void watchChannel(const char* name, const char* presentTitle) {
        ChannelInfo channel;
        channel.name.assign(name);
        channel.frequency = 474167;
        if (presentTitle) {
            channel.present.startTime = 1;
            channel.present.title.assign(presentTitle);
        }
        channelList().append(channel);
        channelList().setCurrentIndex(0);
    }

    wchar_t previous_[MAX_PATH] = {};
    std::wstring folder_;
    HWND window_ = nullptr;
    int cursorAtStart_ = 0;
};

} // namespace korvane::testing
