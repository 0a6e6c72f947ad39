// The video renderer and allocator-presenter stand-ins, created under the platform's class
// identifiers and driven in the program's order, fed with RGB32 pictures of known content.
#include "dialog_watcher.h"
#include "video_renderer_rig.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <sstream>
#include <thread>

namespace korvane::testing {
namespace {

constexpr GUID kBob = {
    0x335aa36e, 0x7884, 0x43a4, {0x9c, 0x91, 0x7f, 0x87, 0xfa, 0xf3, 0xe3, 0x7e}};
// The testbed's own side of the renderer-presenter link: answered only by its objects.
constexpr IID kIidRendererLink = {
    0x4b6f7276, 0x616e, 0x4501, {0x9e, 0x51, 0x54, 0x65, 0x73, 0x74, 0x62, 0x22}};
constexpr IID kIidPresenterLink = {
    0x4b6f7276, 0x616e, 0x4501, {0x9e, 0x51, 0x54, 0x65, 0x73, 0x74, 0x62, 0x23}};

constexpr long kBufferBytes = 720 * 576 * 4;
constexpr REFERENCE_TIME kFrame = 400000; // 40 ms
constexpr RECT kDestination = {20, 10, 380, 290};
constexpr RECT kText = {190, 144, 210, 156};
constexpr uint32_t kTextPixel = 0x12ab34;

const std::vector<uint32_t> kPrimaries = {0xff0000, 0x00ff00, 0x0000ff, 0xffffff,
                                          0xffff00, 0x00ffff, 0xff00ff, 0x808080};
const std::vector<uint32_t> kBars = {0xc0c0c0, 0xc0c000, 0x00c0c0, 0x00c000,
                                     0xc000c0, 0xc00000, 0x0000c0, 0x101010};
const std::vector<uint32_t> kDarks = {0x400000, 0x004000, 0x000040, 0x404040,
                                      0x404000, 0x004040, 0x400040, 0x202020};

std::wstring tempFile(const wchar_t* name) {
    wchar_t folder[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, folder);
    return std::wstring(folder) + name + std::to_wstring(GetCurrentProcessId()) + L".txt";
}

std::vector<std::string> readLines(const std::wstring& path) {
    std::vector<std::string> lines;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return lines;
    std::string text;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0)
        text.append(buffer, read);
    CloseHandle(file);
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

void paintText(HWND window) {
    HDC dc = GetDC(window);
    HBRUSH brush = CreateSolidBrush(RGB(0x12, 0xab, 0x34));
    FillRect(dc, &kText, brush);
    DeleteObject(brush);
    ReleaseDC(window, dc);
}

// The image GetCurrentImage hands out, or empty while it fails.
std::vector<uint8_t> currentImage(IVMRWindowlessControl* control) {
    BYTE* block = nullptr;
    if (FAILED(control->GetCurrentImage(&block)) || !block)
        return {};
    auto* header = reinterpret_cast<BITMAPINFOHEADER*>(block);
    std::vector<uint8_t> out(block, block + header->biSize + header->biSizeImage);
    CoTaskMemFree(block);
    return out;
}

LONG imageWidth(const std::vector<uint8_t>& image) {
    return image.size() < sizeof(BITMAPINFOHEADER)
               ? 0
               : reinterpret_cast<const BITMAPINFOHEADER*>(image.data())->biWidth;
}

void expectImageIs(const std::vector<uint8_t>& image, const TestPicture& picture) {
    ASSERT_GE(image.size(), sizeof(BITMAPINFOHEADER));
    BITMAPINFOHEADER header{};
    std::memcpy(&header, image.data(), sizeof(header));
    EXPECT_EQ(header.biSize, 40u);
    EXPECT_EQ(header.biWidth, picture.width);
    EXPECT_EQ(header.biHeight, picture.height);
    EXPECT_EQ(header.biPlanes, 1);
    EXPECT_EQ(header.biBitCount, 32);
    EXPECT_EQ(header.biCompression, DWORD(BI_RGB));
    EXPECT_EQ(header.biSizeImage, DWORD(picture.width * picture.height * 4));
    ASSERT_EQ(image.size(), 40 + picture.pixels.size());
    EXPECT_TRUE(std::equal(picture.pixels.begin(), picture.pixels.end(), image.begin() + 40))
        << "the pixels are the picture's, bottom-up";
}

void expectConnectionType(IBaseFilter* vmr, LONG width, LONG height, DWORD aspectX, DWORD aspectY) {
    ComPtr<IEnumPins> pins;
    ComPtr<IPin> pin;
    ASSERT_EQ(vmr->EnumPins(pins.put()), S_OK);
    ASSERT_EQ(pins->Next(1, pin.put(), nullptr), S_OK);
    AM_MEDIA_TYPE type{};
    ASSERT_EQ(pin->ConnectionMediaType(&type), S_OK);
    if (aspectX) {
        ASSERT_TRUE(type.formattype == FORMAT_VideoInfo2);
        ASSERT_GE(type.cbFormat, sizeof(VIDEOINFOHEADER2));
        auto* info = reinterpret_cast<VIDEOINFOHEADER2*>(type.pbFormat);
        EXPECT_EQ(info->dwPictAspectRatioX, aspectX);
        EXPECT_EQ(info->dwPictAspectRatioY, aspectY);
        EXPECT_EQ(info->bmiHeader.biWidth, width);
        EXPECT_EQ(info->bmiHeader.biHeight, height);
    } else {
        ASSERT_TRUE(type.formattype == FORMAT_VideoInfo);
        auto* info = reinterpret_cast<VIDEOINFOHEADER*>(type.pbFormat);
        EXPECT_EQ(info->bmiHeader.biWidth, width);
        EXPECT_EQ(info->bmiHeader.biHeight, height);
    }
    FreeMediaType(type);
}

void expectNativeSize(IVMRWindowlessControl* control, LONG width, LONG height, LONG aspectX,
                      LONG aspectY) {
    LONG w = 0, h = 0, x = 0, y = 0;
    ASSERT_EQ(control->GetNativeVideoSize(&w, &h, &x, &y), S_OK);
    EXPECT_EQ(w, width);
    EXPECT_EQ(h, height);
    EXPECT_EQ(x, aspectX);
    EXPECT_EQ(y, aspectY);
}

int framesDrawn(IBaseFilter* vmr) {
    int frames = -1;
    if (auto quality = ComPtr<IBaseFilter>(vmr).as<IQualProp>(IID_IQualProp))
        quality->get_FramesDrawn(&frames);
    return frames;
}

class VideoRendererTest : public ComTest {
  protected:
    void TearDown() override {
        SetEnvironmentVariableW(L"KORVANE_TESTBED_FAULTS", nullptr);
        SetEnvironmentVariableW(L"KORVANE_TESTBED_TRACE", nullptr);
        EXPECT_EQ(testbedLiveObjects(), 0) << "testbed objects outlived their graph";
        ComTest::TearDown();
    }

    // A renderer added to the graph, in the given rendering mode.
    static ComPtr<IBaseFilter> addRenderer(IFilterGraph2* graph, DWORD mode) {
        ComPtr<IBaseFilter> vmr;
        EXPECT_EQ(CoCreateInstance(kClsidVmr7, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                   vmr.putVoid()),
                  S_OK);
        if (!vmr)
            return {};
        EXPECT_EQ(graph->AddFilter(vmr.get(), L"VMR"), S_OK);
        if (mode != VMRMode_Windowed) {
            EXPECT_EQ(vmr.as<IVMRFilterConfig>(IID_IVMRFilterConfig)->SetRenderingMode(mode), S_OK);
        }
        return vmr;
    }

    // A source of pictures connected to the renderer, waiting for what the test queues; the
    // graph owns it.
    TestSource* addSource(IFilterGraph2* graph, IBaseFilter* vmr, const CMediaType& type) {
        auto* source = new TestSource(type, kBufferBytes);
        source->stream().waitWhenEmpty();
        ComPtr<IBaseFilter> filter(source);
        EXPECT_EQ(graph->AddFilter(filter.get(), L"Images"), S_OK);
        connected_ = connect(graph, filter.get(), vmr);
        return source;
    }

    static void queuePictures(TestSource* source, const TestPicture& picture,
                              std::optional<CMediaType> type, REFERENCE_TIME start, int count) {
        for (int i = 0; i < count; ++i) {
            TestBuffer buffer{picture.pixels, start + i * kFrame, std::nullopt};
            if (i == 0)
                buffer.type = type;
            source->stream().queue(std::move(buffer));
        }
    }

    static REFERENCE_TIME streamTime(TestSource* source) {
        REFERENCE_TIME now = 0;
        return SUCCEEDED(source->StreamTime(now)) ? now : -1;
    }

    HRESULT connected_ = E_FAIL;
};

// Pictures of 4:3, anamorphic 16:9 and a VIDEOINFOHEADER of 3:1 in a row: each is drawn in
// its time, letter-boxed into the destination and under what the program paints over it,
// handed out by GetCurrentImage and described by the pin's connection type; the trace tells
// the whole story.
TEST_F(VideoRendererTest, DrawsEachPictureOnTimeLetterBoxedAndFollowsFormatChanges) {
    std::wstring tracePath = tempFile(L"korvane-vmr-trace-");
    DeleteFileW(tracePath.c_str());
    SetEnvironmentVariableW(L"KORVANE_TESTBED_TRACE", tracePath.c_str());
    KeyWindow window(860, 600, 400, 300);
    auto graph = makeGraph();
    RendererSetup s = setUpRendererLikeTheProgram(graph.get(), window.handle(), true);
    ASSERT_EQ(s.failed, RendererStep::None);
    EXPECT_FALSE(s.deinterlaceControlMissing);
    EXPECT_EQ(s.deinterlaceModes, 1u);
    EXPECT_TRUE(s.deinterlaceMode == kBob);
    BYTE* none = reinterpret_cast<BYTE*>(1);
    EXPECT_TRUE(FAILED(s.windowless->GetCurrentImage(&none))) << "no picture yet";
    EXPECT_EQ(none, nullptr);

    TestPicture standard = blockPicture(80, 60, kPrimaries);
    TestSource* source = addSource(graph.get(), s.vmr.get(), rgb32Type(80, 60, 4, 3));
    ASSERT_EQ(connected_, S_OK);
    ASSERT_EQ(s.windowless->SetColorKey(kProgramColourKey), S_OK);
    RECT destination = kDestination;
    ASSERT_EQ(s.windowless->SetVideoPosition(nullptr, &destination), S_OK);
    queuePictures(source, standard, std::nullopt, 0, 5);
    auto control = graph.as<IMediaControl>();
    ASSERT_TRUE(SUCCEEDED(control->Run()));

    ASSERT_TRUE(waitFor([&] { return framesDrawn(s.vmr.get()) >= 5; }));
    expectImageIs(currentImage(s.windowless.get()), standard);
    expectConnectionType(s.vmr.get(), 80, 60, 4, 3);
    expectNativeSize(s.windowless.get(), 80, 60, 4, 3);
    expectWindowShows(window.grab(), 400, 300, standard, expectedLetterBox(kDestination, 4, 3));
    // The program's on-screen text over the picture, in a colour other than the key.
    paintText(window.handle());

    // A zap: another size and shape, after a pause longer than the trace's gap.
    struct Change {
        TestPicture picture;
        CMediaType type;
        DWORD aspectX, aspectY;
    };
    Change changes[] = {{blockPicture(720, 576, kBars), rgb32Type(720, 576, 16, 9), 16, 9},
                        {blockPicture(96, 32, kDarks), rgb32Type(96, 32, 0, 0), 3, 1}};
    int drawn = 5;
    for (const Change& change : changes) {
        SCOPED_TRACE(change.picture.width);
        REFERENCE_TIME due = streamTime(source) + 7000000;
        queuePictures(source, change.picture, change.type, due, 3);
        ASSERT_TRUE(waitFor(
            [&] { return imageWidth(currentImage(s.windowless.get())) == change.picture.width; }));
        EXPECT_GE(streamTime(source), due) << "drawn before its time";
        drawn += 3;
        ASSERT_TRUE(waitFor([&] { return framesDrawn(s.vmr.get()) >= drawn; }));
        // The window repaints what the smaller picture gave back.
        pumpMessages(100);
        expectImageIs(currentImage(s.windowless.get()), change.picture);
        bool info2 = change.type.formattype == FORMAT_VideoInfo2;
        expectConnectionType(s.vmr.get(), change.picture.width, change.picture.height,
                             info2 ? change.aspectX : 0, info2 ? change.aspectY : 0);
        expectNativeSize(s.windowless.get(), change.picture.width, change.picture.height,
                         LONG(change.aspectX), LONG(change.aspectY));
        std::vector<uint32_t> pixels = window.grab();
        expectWindowShows(pixels, 400, 300, change.picture,
                          expectedLetterBox(kDestination, change.aspectX, change.aspectY));
        EXPECT_EQ(pixels[size_t(kText.top + 3) * 400 + size_t(kText.left + 3)], kTextPixel)
            << "the picture goes under what the program paints over it";
        if (change.aspectX == 16) {
            std::wstring folder = windowsPath(KORVANE_BINARY_DIR "/screenshots");
            CreateDirectoryW(folder.c_str(), nullptr);
            EXPECT_TRUE(savePng(folder + L"\\video_renderer.png", pixels, 400, 300));
        }
    }
    control->Stop();
    source->stream().finish();

    std::vector<std::string> texts;
    DWORD previous = 0;
    for (const std::string& line : readLines(tracePath)) {
        size_t space = line.find(' ');
        ASSERT_NE(space, std::string::npos) << line;
        ASSERT_EQ(line.find_first_not_of("0123456789"), space) << line;
        DWORD ms = DWORD(std::stoul(line.substr(0, space)));
        EXPECT_GE(ms, previous) << line;
        previous = ms;
        texts.push_back(line.substr(space + 1));
    }
    std::vector<std::string> expected = {"render 4 prefs a",
                                         "mixing 1011",
                                         "deinterlace {335AA36E-7884-43A4-9C91-7F87FAF3E37E}",
                                         "colorkey 10000",
                                         "position 20 10 380 290",
                                         "picture 80x60",
                                         "picture 720x576",
                                         "picture 96x32"};
    EXPECT_EQ(texts, expected);
    DeleteFileW(tracePath.c_str());
}

// Each switch makes the program's setup fail where the program expects it to; the missing
// deinterlace control is the one failure the program goes on after.
TEST_F(VideoRendererTest, EveryFaultSwitchFailsItsStep) {
    struct Row {
        const wchar_t* fault;
        RendererStep failed;
        bool deinterlaceMissing;
    };
    const Row rows[] = {
        {L"", RendererStep::None, false},
        {L"renderer-not-creatable", RendererStep::Create, false},
        {L"renderer-no-filter-config", RendererStep::FilterConfig, false},
        {L"renderer-no-allocator-notify", RendererStep::AllocatorNotify, false},
        {L"presenter-prefs-fail", RendererStep::PresenterPrefs, false},
        {L"renderer-no-deinterlace-control", RendererStep::None, true},
        {L"deinterlace-count-fails", RendererStep::DeinterlaceCount, false},
        {L"deinterlace-guid-fails", RendererStep::DeinterlaceGuid, false},
        {L"set-deinterlace-mode-fails", RendererStep::SetDeinterlaceMode, false},
        {L"renderer-no-windowless-control", RendererStep::WindowlessControl, false},
        {L"renderer-no-aspect-ratio-control", RendererStep::AspectRatioControl, false},
    };
    KeyWindow window(860, 600, 200, 150);
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.fault, row.fault + wcslen(row.fault)));
        SetEnvironmentVariableW(L"KORVANE_TESTBED_FAULTS", row.fault);
        auto graph = makeGraph();
        RendererSetup s = setUpRendererLikeTheProgram(graph.get(), window.handle(), true);
        EXPECT_EQ(s.failed, row.failed);
        EXPECT_EQ(s.deinterlaceControlMissing, row.deinterlaceMissing);
        if (row.failed == RendererStep::Create) {
            ComPtr<IBaseFilter> direct;
            EXPECT_EQ(CoCreateInstance(kClsidVmr7, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                       direct.putVoid()),
                      E_FAIL);
        }
    }
}

// The default windowed mode takes pictures without a window of the program's; windowless
// mode paints the border; renderless mode wants its presenter before it connects; calls
// out of turn are refused as the platform refuses them.
TEST_F(VideoRendererTest, OtherModesAndCallsOutOfTurnAnswerLikeThePlatform) {
    KeyWindow window(860, 600, 400, 300);
    TestPicture wide = blockPicture(64, 36, kBars);
    {
        auto graph = makeGraph();
        ComPtr<IBaseFilter> vmr = addRenderer(graph.get(), VMRMode_Windowed);
        ASSERT_TRUE(vmr);
        auto config = vmr.as<IVMRFilterConfig>(IID_IVMRFilterConfig);
        auto windowless = vmr.as<IVMRWindowlessControl>(IID_IVMRWindowlessControl);
        auto notify = vmr.as<IVMRSurfaceAllocatorNotify>(IID_IVMRSurfaceAllocatorNotify);
        auto mixer = vmr.as<IVMRMixerControl>(IID_IVMRMixerControl);
        ComPtr<IVMRSurfaceAllocator> presenter;
        ASSERT_EQ(CoCreateInstance(kClsidAllocPresenter, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IVMRSurfaceAllocator, presenter.putVoid()),
                  S_OK);
        DWORD mode = 0;
        DWORD prefs = 0;
        ASSERT_EQ(config->GetRenderingMode(&mode), S_OK);
        EXPECT_EQ(mode, DWORD(VMRMode_Windowed));
        EXPECT_EQ(config->SetRenderingMode(3), E_INVALIDARG);
        EXPECT_EQ(windowless->SetVideoClippingWindow(window.handle()), VFW_E_WRONG_STATE);
        EXPECT_EQ(notify->AdviseSurfaceAllocator(kProgramUserId, presenter.get()),
                  VFW_E_WRONG_STATE);
        EXPECT_EQ(mixer->GetMixingPrefs(&prefs), VFW_E_VMR_NOT_IN_MIXER_MODE);
        EXPECT_EQ(mixer->SetMixingPrefs(kProgramMixingPrefs), VFW_E_VMR_NOT_IN_MIXER_MODE);
        ASSERT_EQ(config->SetNumberOfStreams(1), S_OK);
        EXPECT_EQ(config->SetNumberOfStreams(1), VFW_E_WRONG_STATE) << "the mixer is loaded";
        EXPECT_EQ(mixer->SetMixingPrefs(0x1033), E_INVALIDARG) << "two filters at once";
        ASSERT_EQ(mixer->GetMixingPrefs(&prefs), S_OK);
        EXPECT_EQ(prefs, 0x111u) << "the platform's default";

        TestSource* source = addSource(graph.get(), vmr.get(), rgb32Type(64, 36, 16, 9));
        ASSERT_EQ(connected_, S_OK);
        EXPECT_EQ(config->SetRenderingMode(VMRMode_Renderless), VFW_E_WRONG_STATE);
        EXPECT_EQ(mixer->SetMixingPrefs(kProgramMixingPrefs), VFW_E_WRONG_STATE);
        queuePictures(source, wide, std::nullopt, 0, 3);
        auto control = graph.as<IMediaControl>();
        ASSERT_TRUE(SUCCEEDED(control->Run()));
        ASSERT_TRUE(waitFor([&] { return framesDrawn(vmr.get()) >= 3; }));
        expectImageIs(currentImage(windowless.get()), wide);
        std::vector<uint32_t> pixels = window.grab();
        EXPECT_EQ(std::count(pixels.begin(), pixels.end(), 0x000001u),
                  std::ptrdiff_t(pixels.size()))
            << "nothing drawn into a window that was never given";
        control->Stop();
        source->stream().finish();
    }
    {
        auto graph = makeGraph();
        ComPtr<IBaseFilter> vmr = addRenderer(graph.get(), VMRMode_Renderless);
        ASSERT_TRUE(vmr);
        addSource(graph.get(), vmr.get(), rgb32Type(64, 36, 16, 9));
        EXPECT_EQ(connected_, VFW_E_VMR_NO_AP_SUPPLIED);
    }
    {
        auto graph = makeGraph();
        ComPtr<IBaseFilter> vmr = addRenderer(graph.get(), VMRMode_Windowless);
        ASSERT_TRUE(vmr);
        auto windowless = vmr.as<IVMRWindowlessControl>(IID_IVMRWindowlessControl);
        RECT destination = kDestination;
        ASSERT_EQ(windowless->SetVideoClippingWindow(window.handle()), S_OK);
        ASSERT_EQ(windowless->SetAspectRatioMode(VMR_ARMODE_LETTER_BOX), S_OK);
        ASSERT_EQ(windowless->SetBorderColor(RGB(255, 0, 255)), S_OK);
        ASSERT_EQ(windowless->SetVideoPosition(nullptr, &destination), S_OK);
        TestSource* source = addSource(graph.get(), vmr.get(), rgb32Type(64, 36, 16, 9));
        ASSERT_EQ(connected_, S_OK);
        queuePictures(source, wide, std::nullopt, 0, 3);
        auto control = graph.as<IMediaControl>();
        ASSERT_TRUE(SUCCEEDED(control->Run()));
        ASSERT_TRUE(waitFor([&] { return framesDrawn(vmr.get()) >= 3; }));
        std::vector<uint32_t> pixels = window.grab();
        RECT target = expectedLetterBox(kDestination, 16, 9);
        EXPECT_EQ(pixels[size_t(target.top - 3) * 400 + 200], 0xff00ffu) << "top bar";
        EXPECT_EQ(pixels[size_t(target.bottom + 2) * 400 + 200], 0xff00ffu) << "bottom bar";
        EXPECT_EQ(pixels[size_t(kDestination.top - 2) * 400 + 200], 0x000001u) << "above";
        EXPECT_EQ(pixels[size_t(target.top + 2) * 400 + target.left + 2], wide.colours[0]);
        control->Stop();
        source->stream().finish();
    }
}

TEST_F(VideoRendererTest, PropertyPageShowsTheRendererState) {
    KeyWindow window(860, 600, 400, 300);
    auto graph = makeGraph();
    RendererSetup s = setUpRendererLikeTheProgram(graph.get(), window.handle(), false);
    ASSERT_EQ(s.failed, RendererStep::None);
    TestPicture standard = blockPicture(80, 60, kPrimaries);
    TestSource* source = addSource(graph.get(), s.vmr.get(), rgb32Type(80, 60, 4, 3));
    ASSERT_EQ(connected_, S_OK);
    RECT destination = kDestination;
    s.windowless->SetVideoPosition(nullptr, &destination);
    queuePictures(source, standard, std::nullopt, 0, 4);
    auto control = graph.as<IMediaControl>();
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    ASSERT_TRUE(waitFor([&] { return framesDrawn(s.vmr.get()) >= 4; }));

    auto specify = s.vmr.as<ISpecifyPropertyPages>(IID_ISpecifyPropertyPages);
    ASSERT_TRUE(specify);
    CAUUID pages{};
    ASSERT_EQ(specify->GetPages(&pages), S_OK);
    ASSERT_EQ(pages.cElems, 1u);
    ComPtr<IUnknown> object = s.vmr.as<IUnknown>(IID_IUnknown);
    IUnknown* objects[] = {object.get()};
    DialogWatcher watcher(pressOk);
    HRESULT hr = OleCreatePropertyFrame(window.handle(), 10, 10, L"Mon VMR", 1, objects,
                                        pages.cElems, pages.pElems, 0, 0, nullptr);
    CoTaskMemFree(pages.pElems);
    EXPECT_EQ(hr, S_OK);
    ASSERT_TRUE(watcher.seen());
    std::wstring texts = watcher.texts();
    for (const wchar_t* shown : {L"Taille native", L"80 x 60", L"Rapport d'aspect", L"4:3",
                                 L"Images affichées", L"Position", L"20, 10 - 380, 290"})
        EXPECT_NE(texts.find(shown), std::wstring::npos) << "missing: " << shown;
    control->Stop();
    source->stream().finish();
}

// The prefix's registry sends both class identifiers to the testbed, whatever Wine
// registered there before.
TEST_F(VideoRendererTest, PlatformClassIdsLoadTheTestbed) {
    for (const CLSID* clsid : {&kClsidVmr7, &kClsidAllocPresenter}) {
        wchar_t text[64] = {};
        StringFromGUID2(*clsid, text, 64);
        std::wstring key = std::wstring(L"CLSID\\") + text + L"\\InprocServer32";
        wchar_t server[MAX_PATH] = {};
        DWORD size = sizeof(server);
        ASSERT_EQ(RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr,
                               server, &size),
                  ERROR_SUCCESS);
        std::wstring path = server;
        EXPECT_EQ(path.substr(path.size() - 11), L"testbed.dll") << path;
    }
    ComPtr<IUnknown> vmr;
    ComPtr<IUnknown> presenter;
    ASSERT_EQ(
        CoCreateInstance(kClsidVmr7, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, vmr.putVoid()),
        S_OK);
    ASSERT_EQ(CoCreateInstance(kClsidAllocPresenter, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                               presenter.putVoid()),
              S_OK);
    EXPECT_TRUE(vmr.as<IUnknown>(kIidRendererLink));
    EXPECT_TRUE(presenter.as<IUnknown>(kIidPresenterLink));
    EXPECT_GE(testbedLiveObjects(), 2);
}

// The program keeps the presenter and the notification interface; once every reference
// is let go, nothing of the testbed is left, however often the graph was built.
// Two streams in mixing mode, as the program feeds the MPEG-2 and the H.264 decoders'
// pictures: only streams with an alpha above 0 are drawn, the front one by Z order, at its
// alpha over the background; a stream shown before its first picture shows the background,
// never the other stream's last picture.
TEST_F(VideoRendererTest, TwoStreamsMixByAlphaAndZOrder) {
    KeyWindow window(860, 600, 400, 300);
    auto graph = makeGraph();
    ComPtr<IBaseFilter> vmr = addRenderer(graph.get(), VMRMode_Windowless);
    ASSERT_TRUE(vmr);
    auto config = vmr.as<IVMRFilterConfig>(IID_IVMRFilterConfig);
    auto mixer = vmr.as<IVMRMixerControl>(IID_IVMRMixerControl);
    auto windowless = vmr.as<IVMRWindowlessControl>(IID_IVMRWindowlessControl);
    EXPECT_EQ(config->SetNumberOfStreams(3), E_NOTIMPL) << "the stand-in mixes two";
    ASSERT_EQ(config->SetNumberOfStreams(2), S_OK);
    ComPtr<IPin> second;
    ASSERT_EQ(vmr->FindPin(L"VMR Input1", second.put()), S_OK);
    float alpha = 0;
    EXPECT_EQ(mixer->GetAlpha(2, &alpha), E_INVALIDARG);
    ASSERT_EQ(windowless->SetVideoClippingWindow(window.handle()), S_OK);
    RECT destination = kDestination;
    ASSERT_EQ(windowless->SetVideoPosition(nullptr, &destination), S_OK);

    const TestPicture mpeg2 = blockPicture(32, 24, kPrimaries);
    const TestPicture h264 = blockPicture(48, 27, kBars);
    TestSource* first = addSource(graph.get(), vmr.get(), rgb32Type(32, 24, 0, 0));
    ASSERT_EQ(connected_, S_OK);
    auto* secondSource = new TestSource(rgb32Type(48, 27, 0, 0), kBufferBytes);
    secondSource->stream().waitWhenEmpty();
    ComPtr<IBaseFilter> secondFilter(secondSource);
    ASSERT_EQ(graph->AddFilter(secondFilter.get(), L"Images H264"), S_OK);
    ASSERT_EQ(graph->ConnectDirect(firstPinOf(secondFilter.get(), PINDIR_OUTPUT).get(),
                                   second.get(), nullptr),
              S_OK);

    queuePictures(first, mpeg2, std::nullopt, 0, 2);
    auto control = graph.as<IMediaControl>();
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    auto shows = [&](const TestPicture& picture) {
        return waitFor([&] {
            const std::vector<uint8_t> image = currentImage(windowless.get());
            return image.size() == 40 + picture.pixels.size() &&
                   std::equal(picture.pixels.begin(), picture.pixels.end(), image.begin() + 40);
        });
    };
    ASSERT_TRUE(shows(mpeg2));

    // The H.264 stream shown before its first picture: the background, at the last size.
    ASSERT_EQ(mixer->SetAlpha(0, 0.0f), S_OK);
    ASSERT_EQ(mixer->SetAlpha(1, 1.0f), S_OK);
    TestPicture black = mpeg2;
    std::fill(black.pixels.begin(), black.pixels.end(), uint8_t(0));
    expectImageIs(currentImage(windowless.get()), black);

    struct Step {
        const char* what;
        float alpha0, alpha1;
        DWORD z0, z1;
        const TestPicture* front;
        float frontAlpha;
    };
    const Step steps[] = {
        {"H.264 alone", 0.0f, 1.0f, 0, 1, &h264, 1.0f},
        {"MPEG-2 alone", 1.0f, 0.0f, 0, 1, &mpeg2, 1.0f},
        {"both, MPEG-2 in front by Z order", 1.0f, 1.0f, 1, 0, &h264, 1.0f},
        {"both, H.264 behind again", 1.0f, 1.0f, 0, 1, &mpeg2, 1.0f},
        {"half-transparent in front of another size", 0.5f, 1.0f, 0, 1, &mpeg2, 0.5f},
    };
    queuePictures(secondSource, h264, std::nullopt, streamTime(first), 2);
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        ASSERT_EQ(mixer->SetAlpha(0, step.alpha0), S_OK);
        ASSERT_EQ(mixer->SetAlpha(1, step.alpha1), S_OK);
        ASSERT_EQ(mixer->SetZOrder(0, step.z0), S_OK);
        ASSERT_EQ(mixer->SetZOrder(1, step.z1), S_OK);
        TestPicture expected = *step.front;
        for (uint8_t& byte : expected.pixels)
            byte = uint8_t(byte * step.frontAlpha + 0.5f);
        EXPECT_TRUE(shows(expected));
        if (step.frontAlpha == 1.0f) {
            pumpMessages(100);
            expectWindowShows(window.grab(), window.width(), window.height(), *step.front,
                              expectedLetterBox(kDestination, 0, 0));
        }
    }
    control->Stop();
    first->stream().finish();
    secondSource->stream().finish();
}

// The program lists the renderer's pins from its window thread (each paint asks for the
// picture's shape) while a decoder's thread delivers pictures: neither may wait for the
// other for ever.
TEST_F(VideoRendererTest, PinsAreListedWhilePicturesArrive) {
    KeyWindow window(860, 600, 400, 300);
    auto graph = makeGraph();
    RendererSetup s = setUpRendererLikeTheProgram(graph.get(), window.handle(), true);
    ASSERT_EQ(s.failed, RendererStep::None);
    const TestPicture picture = blockPicture(32, 24, kPrimaries);
    TestSource* source = addSource(graph.get(), s.vmr.get(), rgb32Type(32, 24, 0, 0));
    ASSERT_EQ(connected_, S_OK);
    constexpr int kPictures = 3000;
    for (int i = 0; i < kPictures; ++i)
        source->stream().queue(TestBuffer{picture.pixels, std::nullopt});
    source->stream().finish();

    std::atomic<bool> done = false;
    std::atomic<int> listings = 0;
    std::thread lister([&] {
        while (source->stream().delivered() < kPictures && listings < 200000) {
            ComPtr<IEnumPins> pins;
            ComPtr<IPin> pin;
            if (SUCCEEDED(s.vmr->EnumPins(pins.put())))
                pins->Next(1, pin.put(), nullptr);
            ++listings;
        }
        done = true;
    });
    auto control = graph.as<IMediaControl>();
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    const DWORD began = GetTickCount();
    while (!done && GetTickCount() - began < 60000)
        Sleep(20);
    if (!done) {
        // Two threads that wait for each other cannot be joined: report and leave.
        ADD_FAILURE() << "the pin listing and the pictures' delivery wait for each other ("
                      << listings << " listings, " << source->stream().delivered()
                      << " pictures delivered)";
        std::fflush(nullptr);
        TerminateProcess(GetCurrentProcess(), 1);
    }
    lister.join();
    EXPECT_GT(listings, 0);
    control->Stop();
}

TEST_F(VideoRendererTest, ManyBuildRunStopReleaseCyclesLeaveNothingAlive) {
    KeyWindow window(860, 600, 200, 150);
    TestPicture picture = blockPicture(32, 24, kPrimaries);
    for (int cycle = 0; cycle < 8; ++cycle) {
        auto graph = makeGraph();
        RendererSetup s = setUpRendererLikeTheProgram(graph.get(), window.handle(), cycle % 2 == 1);
        ASSERT_EQ(s.failed, RendererStep::None);
        TestSource* source = addSource(graph.get(), s.vmr.get(), rgb32Type(32, 24, 4, 3));
        ASSERT_EQ(connected_, S_OK);
        s.windowless->SetColorKey(kProgramColourKey);
        RECT destination = {0, 0, 200, 150};
        s.windowless->SetVideoPosition(nullptr, &destination);
        queuePictures(source, picture, std::nullopt, 0, 2);
        auto control = graph.as<IMediaControl>();
        ASSERT_TRUE(SUCCEEDED(control->Run()));
        ASSERT_TRUE(waitFor([&] { return framesDrawn(s.vmr.get()) >= 1; }));
        control->Stop();
        source->stream().finish();
        // As the program's teardown: the graph first, the presenter and notify last.
        control = nullptr;
        s.windowless = nullptr;
        graph = nullptr;
        s.vmr = nullptr;
        EXPECT_GT(testbedLiveObjects(), 0) << "the program's references keep the renderer";
        s.notify = nullptr;
        s.presenter = nullptr;
        EXPECT_EQ(testbedLiveObjects(), 0) << "cycle " << cycle;
    }
}

} // namespace
} // namespace korvane::testing
