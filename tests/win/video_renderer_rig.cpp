#include "video_renderer_rig.h"

#include <wincodec.h>

#include <cstdio>

namespace korvane::testing {

namespace {

// The demultiplexer's MPEG-2 video type, as the program creates its output "video".
constexpr GUID kSubtypeMpeg2Video = {
    0xe06d8026, 0xdb46, 0x11cf, {0xb4, 0xd1, 0x00, 0x80, 0x5f, 0x6c, 0xbb, 0xea}};
constexpr GUID kFormatMpeg2Video = {
    0xe06d80e3, 0xdb46, 0x11cf, {0xb4, 0xd1, 0x00, 0x80, 0x5f, 0x6c, 0xbb, 0xea}};
constexpr GUID kWicImagingFactory = {
    0xcacaf262, 0x9370, 0x4615, {0xa1, 0x3b, 0x9f, 0x55, 0x39, 0xda, 0x4c, 0x0a}};
constexpr GUID kWicContainerPng = {
    0x1b7cfaf4, 0x713f, 0x473c, {0xbb, 0xcd, 0x61, 0x37, 0x42, 0x5f, 0xae, 0xaf}};
constexpr GUID kWicFormat24bppBgr = {
    0x6fddc324, 0x4e03, 0x4bfe, {0xb1, 0x85, 0x3d, 0x77, 0x76, 0x8d, 0xc9, 0x0c}};

constexpr uint32_t kKeyPixel = 0x000001; // RGB(0, 0, 1), the program's colour key

LRESULT CALLBACK keyWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcW(window, message, wParam, lParam);
}

const wchar_t* keyWindowClass() {
    static const wchar_t* name = [] {
        WNDCLASSW c{};
        c.lpfnWndProc = keyWindowProc;
        c.hInstance = GetModuleHandleW(nullptr);
        c.hbrBackground = CreateSolidBrush(RGB(0, 0, 1));
        c.lpszClassName = L"KorvaneKeyWindow";
        RegisterClassW(&c);
        return L"KorvaneKeyWindow";
    }();
    return name;
}

std::string hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof(text), "%06x", value);
    return text;
}

} // namespace

void pumpMessages(DWORD ms) {
    DWORD start = GetTickCount();
    do {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        Sleep(10);
    } while (GetTickCount() - start < ms);
}

RendererSetup setUpRendererLikeTheProgram(IFilterGraph2* graph, HWND window, bool deinterlace) {
    RendererSetup s;
    ComPtr<IBaseFilter> vmr;
    if (FAILED(CoCreateInstance(kClsidVmr7, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                vmr.putVoid())) ||
        FAILED(graph->AddFilter(vmr.get(), L"Mon VMR"))) {
        s.failed = RendererStep::Create;
        return s;
    }
    s.vmr = vmr;
    auto config = vmr.as<IVMRFilterConfig>(IID_IVMRFilterConfig);
    if (!config) {
        s.failed = RendererStep::FilterConfig;
        return s;
    }
    config->SetRenderingMode(VMRMode_Renderless);
    if (deinterlace)
        config->SetNumberOfStreams(1);
    s.notify = vmr.as<IVMRSurfaceAllocatorNotify>(IID_IVMRSurfaceAllocatorNotify);
    if (!s.notify) {
        s.failed = RendererStep::AllocatorNotify;
        return s;
    }
    CoCreateInstance(kClsidAllocPresenter, nullptr, CLSCTX_INPROC_SERVER, IID_IVMRSurfaceAllocator,
                     s.presenter.putVoid());
    auto presenterConfig = s.presenter.as<IVMRImagePresenterConfig>(IID_IVMRImagePresenterConfig);
    if (!presenterConfig || FAILED(presenterConfig->SetRenderingPrefs(kProgramRenderingPrefs))) {
        s.failed = RendererStep::PresenterPrefs;
        return s;
    }
    s.notify->AdviseSurfaceAllocator(kProgramUserId, s.presenter.get());
    s.presenter->AdviseNotify(s.notify.get());
    if (deinterlace) {
        if (auto mixer = vmr.as<IVMRMixerControl>(IID_IVMRMixerControl))
            mixer->SetMixingPrefs(kProgramMixingPrefs);
        auto control = vmr.as<IVMRDeinterlaceControl>(IID_IVMRDeinterlaceControl);
        if (!control) {
            s.deinterlaceControlMissing = true;
        } else {
            VMRVideoDesc description{};
            static_assert(sizeof(description) == 36);
            description.dwSize = sizeof(description);
            description.dwSampleWidth = 720;
            description.dwSampleHeight = 576;
            description.SingleFieldPerSample = TRUE;
            description.dwFourCC = 0x32315659; // YV12
            description.InputSampleFreq = {25, 1};
            description.OutputFrameFreq = {50, 1};
            DWORD count = 0;
            if (FAILED(control->GetNumberOfDeinterlaceModes(&description, &count, nullptr))) {
                s.failed = RendererStep::DeinterlaceCount;
                return s;
            }
            s.deinterlaceModes = count;
            count = 1;
            if (FAILED(control->GetNumberOfDeinterlaceModes(&description, &count,
                                                            &s.deinterlaceMode))) {
                s.failed = RendererStep::DeinterlaceGuid;
                return s;
            }
            if (FAILED(control->SetDeinterlaceMode(0xFFFFFFFF, &s.deinterlaceMode))) {
                s.failed = RendererStep::SetDeinterlaceMode;
                return s;
            }
        }
    }
    s.windowless = vmr.as<IVMRWindowlessControl>(IID_IVMRWindowlessControl);
    if (!s.windowless) {
        s.failed = RendererStep::WindowlessControl;
        return s;
    }
    s.windowless->SetVideoClippingWindow(window);
    auto aspect = vmr.as<IVMRAspectRatioControl>(IID_IVMRAspectRatioControl);
    if (!aspect) {
        s.failed = RendererStep::AspectRatioControl;
        return s;
    }
    aspect->SetAspectRatioMode(VMR_ARMODE_LETTER_BOX);
    return s;
}

uint32_t TestPicture::colourAt(LONG x, LONG y) const {
    return colours[size_t((y * 2 / height) * 4 + x * 4 / width)];
}

TestPicture blockPicture(LONG width, LONG height, std::vector<uint32_t> colours) {
    TestPicture p;
    p.width = width;
    p.height = height;
    p.colours = std::move(colours);
    p.pixels.resize(size_t(width) * size_t(height) * 4);
    auto* out = reinterpret_cast<uint32_t*>(p.pixels.data());
    for (LONG row = 0; row < height; ++row) {
        LONG y = height - 1 - row; // bottom-up
        for (LONG x = 0; x < width; ++x)
            out[size_t(row) * size_t(width) + size_t(x)] = p.colourAt(x, y);
    }
    return p;
}

CMediaType rgb32Type(LONG width, LONG height, DWORD aspectX, DWORD aspectY) {
    CMediaType type(MEDIATYPE_Video);
    type.SetSubtype(&MEDIASUBTYPE_RGB32);
    BITMAPINFOHEADER* bitmap = nullptr;
    if (aspectX && aspectY) {
        type.SetFormatType(&FORMAT_VideoInfo2);
        auto* info =
            reinterpret_cast<VIDEOINFOHEADER2*>(type.AllocFormatBuffer(sizeof(VIDEOINFOHEADER2)));
        info->rcSource = info->rcTarget = RECT{0, 0, width, height};
        info->dwPictAspectRatioX = aspectX;
        info->dwPictAspectRatioY = aspectY;
        info->AvgTimePerFrame = 400000;
        bitmap = &info->bmiHeader;
    } else {
        type.SetFormatType(&FORMAT_VideoInfo);
        auto* info =
            reinterpret_cast<VIDEOINFOHEADER*>(type.AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
        info->rcSource = info->rcTarget = RECT{0, 0, width, height};
        info->AvgTimePerFrame = 400000;
        bitmap = &info->bmiHeader;
    }
    bitmap->biSize = sizeof(BITMAPINFOHEADER);
    bitmap->biWidth = width;
    bitmap->biHeight = height;
    bitmap->biPlanes = 1;
    bitmap->biBitCount = 32;
    bitmap->biCompression = BI_RGB;
    bitmap->biSizeImage = DWORD(width * height * 4);
    type.SetSampleSize(bitmap->biSizeImage);
    return type;
}

KeyWindow::KeyWindow(int x, int y, int width, int height) : width_(width), height_(height) {
    window_ =
        CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, keyWindowClass(), L"", WS_POPUP, x, y,
                        width, height, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    // Shown without being activated: Wine hands activated windows to the window manager,
    // and without one their hiding waits two seconds for it.
    SetWindowPos(window_, HWND_TOPMOST, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_SHOWWINDOW);
    UpdateWindow(window_);
    // Let the first paints happen now rather than over a picture later.
    pumpMessages(150);
}

KeyWindow::~KeyWindow() {
    if (window_)
        DestroyWindow(window_);
}

std::vector<uint32_t> KeyWindow::grab() const {
    std::vector<uint32_t> pixels(size_t(width_) * size_t(height_));
    HDC windowDc = GetDC(window_);
    HDC memory = CreateCompatibleDC(windowDc);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width_;
    info.bmiHeader.biHeight = -height_; // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap && bits) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        BitBlt(memory, 0, 0, width_, height_, windowDc, 0, 0, SRCCOPY);
        GdiFlush();
        const auto* source = static_cast<const uint32_t*>(bits);
        for (size_t i = 0; i < pixels.size(); ++i)
            pixels[i] = source[i] & 0x00FFFFFF;
        SelectObject(memory, old);
        DeleteObject(bitmap);
    }
    DeleteDC(memory);
    ReleaseDC(window_, windowDc);
    return pixels;
}

bool savePng(const std::wstring& path, const std::vector<uint32_t>& pixels, int width, int height) {
    ComPtr<IWICImagingFactory> factory;
    ComPtr<IWICStream> stream;
    ComPtr<IWICBitmapEncoder> encoder;
    ComPtr<IWICBitmapFrameEncode> frame;
    if (FAILED(CoCreateInstance(kWicImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IWICImagingFactory, factory.putVoid())) ||
        FAILED(factory->CreateStream(stream.put())) ||
        FAILED(stream->InitializeFromFilename(path.c_str(), GENERIC_WRITE)) ||
        FAILED(factory->CreateEncoder(kWicContainerPng, nullptr, encoder.put())) ||
        FAILED(encoder->Initialize(stream.get(), WICBitmapEncoderNoCache)) ||
        FAILED(encoder->CreateNewFrame(frame.put(), nullptr)) ||
        FAILED(frame->Initialize(nullptr)) || FAILED(frame->SetSize(UINT(width), UINT(height))))
        return false;
    GUID format = kWicFormat24bppBgr;
    if (FAILED(frame->SetPixelFormat(&format)) || format != kWicFormat24bppBgr)
        return false;
    UINT stride = UINT((width * 3 + 3) & ~3);
    std::vector<BYTE> rows(size_t(stride) * size_t(height));
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint32_t p = pixels[size_t(y) * size_t(width) + size_t(x)];
            BYTE* out = &rows[size_t(y) * stride + size_t(x) * 3];
            out[0] = BYTE(p);
            out[1] = BYTE(p >> 8);
            out[2] = BYTE(p >> 16);
        }
    }
    return SUCCEEDED(frame->WritePixels(UINT(height), stride, UINT(rows.size()), rows.data())) &&
           SUCCEEDED(frame->Commit()) && SUCCEEDED(encoder->Commit());
}

RECT expectedLetterBox(const RECT& destination, DWORD aspectX, DWORD aspectY) {
    // The arithmetic of the program's own paint handler, so that its texts and the picture
    // meet.
    long w = destination.right - destination.left;
    long h = destination.bottom - destination.top;
    long x = long(aspectX);
    long y = long(aspectY);
    RECT r = destination;
    if (x * h > y * w) {
        long m = (h - w * y / x) / 2;
        r.top += m;
        r.bottom -= m;
    } else if (x * h < y * w) {
        long m = (w - h * x / y) / 2;
        r.left += m;
        r.right -= m;
    }
    return r;
}

void expectWindowShows(const std::vector<uint32_t>& pixels, int windowWidth, int windowHeight,
                       const TestPicture& picture, const RECT& target) {
    auto at = [&](long x, long y) { return pixels[size_t(y) * size_t(windowWidth) + size_t(x)]; };
    auto inWindow = [&](long x, long y) {
        return x >= 0 && y >= 0 && x < windowWidth && y < windowHeight;
    };
    long w = target.right - target.left;
    long h = target.bottom - target.top;
    struct Point {
        long x, y;
        uint32_t expected;
    };
    std::vector<Point> points;
    for (int by = 0; by < 2; ++by) {
        for (int bx = 0; bx < 4; ++bx)
            points.push_back({target.left + (2 * bx + 1) * w / 8, target.top + (2 * by + 1) * h / 4,
                              picture.colours[size_t(by * 4 + bx)]});
    }
    points.push_back({target.left + 2, target.top + 2, picture.colours[0]});
    points.push_back({target.right - 3, target.top + 2, picture.colours[3]});
    points.push_back({target.left + 2, target.bottom - 3, picture.colours[4]});
    points.push_back({target.right - 3, target.bottom - 3, picture.colours[7]});
    long midX = (target.left + target.right) / 2;
    long midY = (target.top + target.bottom) / 2;
    for (Point outside :
         {Point{target.left - 2, midY, kKeyPixel}, Point{target.right + 1, midY, kKeyPixel},
          Point{midX, target.top - 2, kKeyPixel}, Point{midX, target.bottom + 1, kKeyPixel}})
        points.push_back(outside);
    for (Point corner : {Point{0, 0, kKeyPixel}, Point{windowWidth - 1, 0, kKeyPixel},
                         Point{0, windowHeight - 1, kKeyPixel},
                         Point{windowWidth - 1, windowHeight - 1, kKeyPixel}}) {
        POINT p = {corner.x, corner.y};
        if (!PtInRect(&target, p))
            points.push_back(corner);
    }
    for (const Point& p : points) {
        if (inWindow(p.x, p.y)) {
            EXPECT_EQ(hex(at(p.x, p.y)), hex(p.expected)) << "at " << p.x << "," << p.y;
        }
    }
}

ComPtr<IMPEG2PIDMap> connectVideoBranch(IFilterGraph2* graph, IMpeg2Demultiplexer* demux,
                                        const CLSID& decoder, IBaseFilter* vmr, HRESULT* failure) {
    MPEG2VIDEOINFO info{};
    static_assert(sizeof(info) == 136);
    info.hdr.rcSource = RECT{0, 0, 720, 576};
    info.hdr.dwPictAspectRatioX = 4;
    info.hdr.dwPictAspectRatioY = 3;
    info.hdr.bmiHeader.biSize = 40;
    info.hdr.bmiHeader.biWidth = 720;
    info.hdr.bmiHeader.biHeight = 576;
    AM_MEDIA_TYPE type{};
    type.majortype = MEDIATYPE_Video;
    type.subtype = kSubtypeMpeg2Video;
    type.bTemporalCompression = TRUE;
    type.formattype = kFormatMpeg2Video;
    type.cbFormat = sizeof(info);
    type.pbFormat = reinterpret_cast<BYTE*>(&info);

    ComPtr<IPin> output;
    ComPtr<IBaseFilter> codec;
    HRESULT hr = demux->CreateOutputPin(&type, const_cast<LPWSTR>(L"video"), output.put());
    if (SUCCEEDED(hr))
        hr = CoCreateInstance(decoder, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                              codec.putVoid());
    if (SUCCEEDED(hr))
        hr = graph->AddFilter(codec.get(), L"Codec vidéo");
    if (SUCCEEDED(hr))
        hr = graph->ConnectDirect(output.get(), firstPinOf(codec.get(), PINDIR_INPUT).get(),
                                  nullptr);
    if (SUCCEEDED(hr))
        hr = graph->ConnectDirect(firstPinOf(codec.get(), PINDIR_OUTPUT).get(),
                                  firstPinOf(vmr, PINDIR_INPUT).get(), nullptr);
    *failure = hr;
    if (FAILED(hr))
        return {};
    return output.as<IMPEG2PIDMap>(IID_IMPEG2PIDMap);
}

} // namespace korvane::testing
