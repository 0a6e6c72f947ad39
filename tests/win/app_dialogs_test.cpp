// The small dialogs of the main window: signal quality, programme guide, About box with its
// hyperlink, and the filter property pages.
#include "../../testbed/decoders/decoder_guids.h"
#include "app/win/about_box.h"
#include "app/win/guide_dialog.h"
#include "app/win/hyperlink.h"
#include "app/win/shell_commands.h"
#include "dialog_watcher.h"
#include "picture_test_support.h"
#include "res/resource.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

namespace korvane::testing {
namespace {

// The platform's MPEG-2 demultiplexer, which the testbed stands in for.
constexpr CLSID kMpeg2DemultiplexerClsid = {
    0xafb6c280, 0x2c41, 0x11d3, {0x8a, 0x60, 0x00, 0x00, 0xf8, 0x1e, 0x0e, 0x4a}};
// The testbed's virtual tuner that delivers the stream itself.
constexpr CLSID kTestbedUsbTuner = {
    0x4b6f7276, 0x616e, 0x4501, {0x9e, 0x51, 0x54, 0x65, 0x73, 0x74, 0x62, 0x01}};

std::wstring windowsPath(const char* unixPath) {
    std::wstring out = L"Z:";
    for (const char* c = unixPath; *c; ++c)
        out += *c == '/' ? L'\\' : wchar_t(*c);
    return out;
}

std::wstring itemText(HWND dialog, int id) {
    wchar_t text[256] = {};
    GetDlgItemTextW(dialog, id, text, 256);
    return text;
}

class DialogsTest : public PictureWindowTest {
  protected:
    void TearDown() override {
        SetEnvironmentVariableW(L"KORVANE_TESTBED_FAULTS", nullptr);
        PictureWindowTest::TearDown();
    }
};

struct SignalTexts {
    std::wstring caption, present, locked, quality, strength;
};

// Opens "Qualité du signal" from the menu command and reads it once it has refreshed.
SignalTexts openSignalDialog(HWND window) {
    SignalTexts texts;
    DialogWatcher watcher([&texts](HWND dialog) {
        wchar_t caption[64] = {};
        GetWindowTextW(dialog, caption, 64);
        texts = {caption, itemText(dialog, IDC_SIGNAL_PRESENT), itemText(dialog, IDC_SIGNAL_LOCKED),
                 itemText(dialog, IDC_SIGNAL_QUALITY), itemText(dialog, IDC_SIGNAL_STRENGTH)};
        // Escape closes it like "Fermer".
        pressCancel(dialog);
    });
    SendMessageW(window, WM_COMMAND, IDM_SIGNAL_QUALITY, 0);
    EXPECT_TRUE(watcher.seen());
    return texts;
}

TEST_F(DialogsTest, SignalDialogShowsWhatTheTunerReports) {
    SetEnvironmentVariableW(L"KORVANE_TESTBED_DIR",
                            windowsPath(KORVANE_BINARY_DIR "/testbed-data").c_str());
    struct Case {
        const wchar_t* faults;
        ULONG frequency;
        SignalTexts expected;
    };
    const Case cases[] = {
        {L"", 474167, {L"Qualité du signal", L"Oui", L"Oui", L"95", L"80"}},
        {L"", 600000, {L"Qualité du signal", L"Non", L"Non", L"0", L"0"}},
        {L"tuner-statistics-fail",
         474167,
         {L"Qualité du signal", L"Oui", L"Oui", L"Inconnue", L"Inconnue"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.frequency);
        SetEnvironmentVariableW(L"KORVANE_TESTBED_FAULTS", c.faults);
        ComPtr<IBaseFilter> tuner;
        ASSERT_TRUE(SUCCEEDED(CoCreateInstance(kTestbedUsbTuner, nullptr, CLSCTX_INPROC_SERVER,
                                               IID_IBaseFilter, tuner.putVoid())));
        auto control = tuner.as<IBDA_DeviceControl>();
        auto frequency = tuner.as<IBDA_FrequencyFilter>();
        ASSERT_TRUE(control && frequency);
        control->StartChanges();
        frequency->put_Bandwidth(8);
        frequency->put_Frequency(c.frequency);
        control->CheckChanges();
        control->CommitChanges();
        mediaGraph().signalStatistics = tuner.as<IBDA_SignalStatistics>();
        const SignalTexts texts = openSignalDialog(window_);
        EXPECT_EQ(texts.caption, c.expected.caption);
        EXPECT_EQ(texts.present, c.expected.present);
        EXPECT_EQ(texts.locked, c.expected.locked);
        EXPECT_EQ(texts.quality, c.expected.quality);
        EXPECT_EQ(texts.strength, c.expected.strength);
        mediaGraph().signalStatistics = nullptr;
    }
    // A tuner without statistics leaves the template's texts.
    const SignalTexts none = openSignalDialog(window_);
    EXPECT_EQ(none.present, L"?");
    EXPECT_EQ(none.locked, L"?");
    EXPECT_EQ(none.quality, L"Inconnue");
    EXPECT_EQ(none.strength, L"Inconnue");
}

EpgEvent guideEvent(uint64_t start, const char* from, const char* to, const char* title) {
    EpgEvent e;
    e.startTime = start;
    e.startText.assign(from);
    e.endText.assign(to);
    e.title.assign(title);
    e.description.assign("Description de " + std::string(title));
    return e;
}

std::atomic<int> guideSelection{-1};
void recordGuideSelection(std::size_t index) {
    guideSelection = static_cast<int>(index);
}

struct GuideView {
    std::vector<std::wstring> headers;
    std::vector<int> widths;
    LRESULT extendedStyles = 0;
    std::vector<std::vector<std::string>> rows;
    std::vector<bool> selected;
};

GuideView readGuide(HWND table) {
    GuideView view;
    view.extendedStyles = SendMessageW(table, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0);
    for (int column = 0; column < 5; ++column) {
        wchar_t header[64] = {};
        LVCOLUMNW info{};
        info.mask = LVCF_TEXT | LVCF_WIDTH;
        info.pszText = header;
        info.cchTextMax = 64;
        SendMessageW(table, LVM_GETCOLUMNW, column, reinterpret_cast<LPARAM>(&info));
        view.headers.push_back(header);
        view.widths.push_back(info.cx);
    }
    const int count = static_cast<int>(SendMessageW(table, LVM_GETITEMCOUNT, 0, 0));
    for (int row = 0; row < count; ++row) {
        std::vector<std::string> cells;
        for (int column = 0; column < 5; ++column) {
            char text[256] = {};
            LVITEMA item{};
            item.iSubItem = column;
            item.pszText = text;
            item.cchTextMax = 256;
            SendMessageA(table, LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
            cells.push_back(text);
        }
        view.rows.push_back(cells);
        view.selected.push_back(SendMessageW(table, LVM_GETITEMSTATE, row, LVIS_SELECTED) != 0);
    }
    return view;
}

TEST_F(DialogsTest, GuideListsPresentAndFollowingEventsAndSwitchesOnDoubleClick) {
    ChannelInfo first, second, third;
    first.name.assign("TF1");
    first.present = guideEvent(1, "20:00:00", "20:45:00", "Journal");
    second.name.assign("France 2");
    second.present = guideEvent(2, "20:10:00", "21:00:00", "M\xE9t\xE9o");
    second.following = guideEvent(3, "21:00:00", "22:30:00", "Film");
    third.name.assign("France 3");
    for (const ChannelInfo& c : {first, second, third})
        channelList().append(c);
    channelList().setCurrentIndex(1);

    GuideView opened, refreshed;
    bool openAfterDoubleClick = false;
    int afterRowClick = -2, afterOutsideClick = -2;
    DialogWatcher watcher([&](HWND dialog) {
        HWND table = GetDlgItem(dialog, IDC_GUIDE_LIST);
        opened = readGuide(table);
        SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_GUIDE_REFRESH, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDC_GUIDE_REFRESH)));
        refreshed = readGuide(table);
        // A double click on the third row (France 2's following event).
        RECT row{};
        row.left = LVIR_BOUNDS;
        SendMessageW(table, LVM_GETITEMRECT, 2, reinterpret_cast<LPARAM>(&row));
        SendMessageW(table, WM_LBUTTONDBLCLK, MK_LBUTTON,
                     MAKELPARAM(row.left + 20, (row.top + row.bottom) / 2));
        openAfterDoubleClick = IsWindowVisible(dialog) != FALSE;
        afterRowClick = guideSelection.exchange(-1);
        // Below the last row: no row, no switch.
        SendMessageW(table, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(20, 290));
        afterOutsideClick = guideSelection;
        pressOk(dialog);
    });
    const int cursor = cursorCounter();
    showGuideDialog(window_, recordGuideSelection);
    ASSERT_TRUE(watcher.seen());
    EXPECT_EQ(cursorCounter(), cursor);

    EXPECT_EQ(opened.headers, (std::vector<std::wstring>{L"Chaîne", L"Début", L"Fin",
                                                         L"Nom du programme", L"Description"}));
    EXPECT_EQ(opened.widths, (std::vector<int>{90, 60, 60, 220, 700}));
    EXPECT_EQ(opened.extendedStyles & 0x31, 0x31);
    const std::vector<std::vector<std::string>> rows = {
        {"TF1", "20:00:00", "20:45:00", "Journal", "Description de Journal"},
        {"France 2", "20:10:00", "21:00:00", "M\xE9t\xE9o", "Description de M\xE9t\xE9o"},
        {"France 2", "21:00:00", "22:30:00", "Film", "Description de Film"},
    };
    EXPECT_EQ(opened.rows, rows);
    EXPECT_EQ(opened.selected, (std::vector<bool>{false, true, false}));
    EXPECT_EQ(refreshed.rows, rows);
    EXPECT_EQ(refreshed.selected, opened.selected);
    EXPECT_TRUE(openAfterDoubleClick);
    EXPECT_EQ(afterRowClick, 1);
    EXPECT_EQ(afterOutsideClick, -1);
}

HWND childWithText(HWND dialog, const wchar_t* text) {
    return FindWindowExW(dialog, nullptr, L"Static", text);
}

TEST_F(DialogsTest, AboutBoxLinkFollowsThePointerAndLeavesNothingBehind) {
    // The modal box from the menu, closed with Escape.
    std::wstring texts;
    DialogWatcher watcher([&texts](HWND dialog) {
        wchar_t caption[64] = {};
        GetWindowTextW(dialog, caption, 64);
        texts = std::wstring(caption) + L"|" + itemText(dialog, IDC_ABOUT_LINK) + L"|" +
                itemText(dialog, IDOK);
        pressCancel(dialog);
    });
    SendMessageW(window_, WM_COMMAND, IDM_ABOUT, 0);
    ASSERT_TRUE(watcher.seen());
    EXPECT_EQ(texts, L"A propos|http://www.korvane.tv|OK");

    const DWORD gdiAtStart = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    std::vector<HGDIOBJ> underlineFonts;
    for (int opening = 0; opening < 50; ++opening) {
        HWND dialog = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_ABOUT),
                                         window_, AboutBox, 0);
        ASSERT_NE(dialog, nullptr);
        HWND link = GetDlgItem(dialog, IDC_ABOUT_LINK);
        HWND version = childWithText(dialog, L"Korvane TV 0.3a");
        ASSERT_TRUE(link && version);
        const HFONT original = reinterpret_cast<HFONT>(SendMessageW(link, WM_GETFONT, 0, 0));
        const HGDIOBJ underline = GetPropW(link, L"_Hyperlink_Underline_Font_");
        underlineFonts.push_back(underline);
        if (opening == 0) {
            EXPECT_EQ(GetPropW(link, L"_Hyperlink_From_Static_"), reinterpret_cast<HANDLE>(1));
            EXPECT_EQ(GetPropW(link, L"_Hyperlink_Original_Font_"), original);
            EXPECT_NE(GetPropW(link, L"_Hyperlink_Original_Proc_"), nullptr);
            EXPECT_NE(GetPropW(dialog, L"_Hyperlink_Original_Proc_"), nullptr);
            EXPECT_NE(GetWindowLongW(link, GWL_STYLE) & SS_NOTIFY, 0);
            LOGFONTW description{};
            ASSERT_TRUE(GetObjectW(underline, sizeof(description), &description));
            EXPECT_TRUE(description.lfUnderline);

            // Dark blue text for the link only.
            HDC dc = CreateCompatibleDC(nullptr);
            SendMessageW(dialog, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                         reinterpret_cast<LPARAM>(link));
            EXPECT_EQ(GetTextColor(dc), kHyperlinkColor);
            SendMessageW(dialog, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                         reinterpret_cast<LPARAM>(version));
            EXPECT_NE(GetTextColor(dc), kHyperlinkColor);
            DeleteDC(dc);

            // The hand over the link; underlined while the pointer is on it.
            EXPECT_EQ(SendMessageW(link, WM_SETCURSOR, reinterpret_cast<WPARAM>(link), HTCLIENT),
                      TRUE);
            EXPECT_EQ(GetCursor(), LoadCursorW(nullptr, IDC_HAND));
            SendMessageW(link, WM_MOUSEMOVE, 0, MAKELPARAM(3, 3));
            EXPECT_EQ(GetCapture(), link);
            EXPECT_EQ(SendMessageW(link, WM_GETFONT, 0, 0), reinterpret_cast<LRESULT>(underline));
            SendMessageW(link, WM_MOUSEMOVE, 0, MAKELPARAM(4, 3));
            EXPECT_EQ(GetCapture(), link);
            SendMessageW(link, WM_MOUSEMOVE, 0, MAKELPARAM(-40 & 0xFFFF, 3));
            EXPECT_EQ(GetCapture(), nullptr);
            EXPECT_EQ(SendMessageW(link, WM_GETFONT, 0, 0), reinterpret_cast<LRESULT>(original));
        }
        // Closed while underlined.
        SendMessageW(link, WM_MOUSEMOVE, 0, MAKELPARAM(3, 3));
        DestroyWindow(dialog);
        EXPECT_EQ(GetObjectType(underline), 0u) << "opening " << opening;
    }
    EXPECT_EQ(GetCapture(), nullptr);
    if (gdiAtStart != 0) {
        EXPECT_EQ(GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS), gdiAtStart);
    }
}

// An object that offers property pages but names none.
class NoPages : public ISpecifyPropertyPages {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (iid == IID_IUnknown || iid == IID_ISpecifyPropertyPages) {
            *out = static_cast<ISpecifyPropertyPages*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override { return --references; }
    HRESULT STDMETHODCALLTYPE GetPages(CAUUID* pages) override {
        *pages = CAUUID{0, nullptr};
        return S_OK;
    }
    ULONG references = 1;
};

ComPtr<IBaseFilter> createFilter(const CLSID& clsid) {
    ComPtr<IBaseFilter> filter;
    CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, filter.putVoid());
    return filter;
}

TEST_F(DialogsTest, FilterCommandsOpenThePagesOrSayWhyThereAreNone) {
    {
        // Nothing in the graph yet.
        DialogWatcher watcher(pressOk);
        SendMessageW(window_, WM_COMMAND, IDM_DEMUX_PAGES, 0);
        ASSERT_TRUE(watcher.seen());
        EXPECT_NE(watcher.texts().find(
                      L"Il faut d'abord configurer un filtre et redémarrer l'application"),
                  std::wstring::npos);
    }
    NoPages none;
    {
        DialogWatcher watcher(pressOk);
        showFilterProperties(&none, L"Demux");
        ASSERT_TRUE(watcher.seen());
        EXPECT_NE(watcher.texts().find(L"Ce filtre n'a pas de property page"), std::wstring::npos);
    }
    EXPECT_EQ(none.references, 1u);

    // The testbed's decoders and renderer have a statistics page; the platform's sound
    // renderer and the testbed's demultiplexer have none.
    MediaGraph& graph = mediaGraph();
    graph.videoCodec = createFilter(testbed::kClsidMpeg2VideoDecoder);
    graph.audioCodec = createFilter(testbed::kClsidMpegAudioDecoder);
    graph.ac3Codec = createFilter(testbed::kClsidAc3AudioDecoder);
    graph.vmr = createFilter(kClsidVmr7);
    graph.audioRenderer = createFilter(CLSID_DSoundRender);
    graph.ac3Renderer = createFilter(CLSID_DSoundRender);
    graph.demux = createFilter(kMpeg2DemultiplexerClsid);
    appConfig().videoDecoderName = u"Korvane Testbed MPEG-2 Video Decoder";
    appConfig().audioDecoderName = u"Korvane Testbed MPEG Audio Decoder";
    appConfig().ac3DecoderName = u"Korvane Testbed AC-3 Audio Decoder";
    struct Case {
        UINT command;
        const wchar_t* shown; // in the frame's title or one of its controls
    };
    const Case cases[] = {
        {IDM_VIDEO_DECODER_PAGES, L"Images décodées"},
        {IDM_AUDIO_DECODER_PAGES, L"Trames décodées"},
        {IDM_AC3_DECODER_PAGES, L"Trames décodées"},
        {IDM_VMR_PAGES, L"Taille native"},
        {IDM_DSOUND_PAGES, L"Ce filtre n'a pas de property page"},
        {IDM_DSOUND_AC3_PAGES, L"Ce filtre n'a pas de property page"},
        {IDM_DEMUX_PAGES, L"Ce filtre n'a pas de property page"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        const int cursor = cursorCounter();
        DialogWatcher watcher(pressOk);
        SendMessageW(window_, WM_COMMAND, c.command, 0);
        ASSERT_TRUE(watcher.seen());
        EXPECT_NE(watcher.texts().find(c.shown), std::wstring::npos);
        EXPECT_EQ(cursorCounter(), cursor);
        EXPECT_EQ(watcher.texts().find(L"Erreur lors de la création"), std::wstring::npos);
    }
}

} // namespace
} // namespace korvane::testing
