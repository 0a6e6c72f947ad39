#include "si/win/scan_win.h"

#include "graph/mpeg2_data.h"

#include "res/resource.h"

#include <gtest/gtest.h>

#include <commctrl.h>

#include <optional>
#include <string>

using namespace korvane;

namespace {

struct FakeList {
    std::vector<uint8_t> bytes;
    DWORD reportedLength = 0;
    HRESULT dataResult = S_OK;
    int releases = 0;
    HRESULT GetSectionData(WORD number, DWORD* length, uint8_t** section) {
        if (number != 0)
            return E_INVALIDARG;
        *length = reportedLength;
        *section = bytes.data();
        return dataResult;
    }
    ULONG Release() { return static_cast<ULONG>(++releases); }
};

struct FakeData {
    FakeList list;
    bool answer = true;
    WORD pid = 0;
    BYTE tid = 0;
    DWORD timeout = 0;
    std::optional<MPEG2_FILTER> filter;
    HRESULT GetSection(WORD p, BYTE t, MPEG2_FILTER* f, DWORD ms, FakeList** out) {
        pid = p;
        tid = t;
        timeout = ms;
        filter.reset();
        if (f)
            filter = *f;
        if (!answer)
            return HRESULT_FROM_WIN32(ERROR_TIMEOUT);
        *out = &list;
        return S_OK;
    }
};

} // namespace

TEST(ScanSectionReaderWin, CopiesTheFirstSectionAndReleasesTheList) {
    FakeData data;
    data.list.bytes = {0x42, 0xF0, 0x05, 1, 2, 3, 4, 5};
    data.list.reportedLength = 8;
    Mpeg2DataSectionReader<FakeData, FakeList> reader(&data);
    const SectionRequest sdt{0x11, 0x42, std::nullopt, 5000};
    auto section = reader.getSection(sdt);
    ASSERT_TRUE(section);
    EXPECT_EQ(*section, data.list.bytes);
    EXPECT_EQ(data.pid, 0x11);
    EXPECT_EQ(data.tid, 0x42);
    EXPECT_EQ(data.timeout, 5000u);
    EXPECT_FALSE(data.filter) << "no filter without an extension";
    EXPECT_EQ(data.list.releases, 1);

    data.list.reportedLength = 5000; // longer than any section
    EXPECT_FALSE(reader.getSection(sdt));
    data.list.reportedLength = 8;
    data.list.dataResult = E_FAIL;
    EXPECT_FALSE(reader.getSection(sdt));
    EXPECT_EQ(data.list.releases, 3);

    data.answer = false;
    EXPECT_FALSE(reader.getSection({0x10, 0x40, std::nullopt, 10000}));
    EXPECT_EQ(data.list.releases, 3);
    Mpeg2DataSectionReader<FakeData, FakeList> none(nullptr);
    EXPECT_FALSE(none.getSection({0, 0, std::nullopt, 1}));
}

TEST(ScanSectionReaderWin, AsksAPmtByItsProgramNumberThroughTheReadersFilter) {
    FakeData data;
    data.list.bytes = {0x02, 0xB0, 0x05, 0x01, 0x02, 3, 4, 5};
    data.list.reportedLength = 8;
    Mpeg2DataSectionReader<FakeData, FakeList> reader(&data);
    ASSERT_TRUE(reader.getSection({0x100, 0x02, 0x0102, 5000}));
    ASSERT_TRUE(data.filter);
    EXPECT_EQ(data.filter->bVersionNumber, 1);
    EXPECT_EQ(data.filter->wFilterSize, sizeof(MPEG2_FILTER));
    EXPECT_TRUE(data.filter->fSpecifyTableIdExtension);
    EXPECT_EQ(data.filter->TableIdExtension, 0x0102);
    EXPECT_FALSE(data.filter->fUseRawFilteringBits);
    EXPECT_FALSE(data.filter->fSpecifyVersion);
}

TEST(ScanProgressWin, DrivesTheProgressBarAndTheNameList) {
    INITCOMMONCONTROLSEX init{sizeof(init), ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&init);
    HINSTANCE instance = GetModuleHandleW(nullptr);
    HWND dialog = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 300, 300, nullptr, nullptr,
                                  instance, nullptr);
    ASSERT_NE(dialog, nullptr);
    HWND bar = CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD, 0, 0, 200, 20, dialog,
                               reinterpret_cast<HMENU>(IDC_SCAN_PROGRESS), instance, nullptr);
    HWND names = CreateWindowExW(0, L"LISTBOX", L"", WS_CHILD, 0, 30, 200, 200, dialog,
                                 reinterpret_cast<HMENU>(IDC_SCAN_NAMES), instance, nullptr);
    ASSERT_NE(bar, nullptr);
    ASSERT_NE(names, nullptr);

    DialogScanProgress progress(dialog);
    progress.setRange(49);
    progress.setPosition(48);
    progress.addName("\x0B"
                     "Ch\xE9rie 25");
    progress.addName("TF1");
    EXPECT_EQ(SendMessageW(bar, PBM_GETRANGE, FALSE, 0), 49);
    EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), 48);
    ASSERT_EQ(SendMessageW(names, LB_GETCOUNT, 0, 0), 2);
    char text[256] = {};
    SendMessageA(names, LB_GETTEXT, 0, reinterpret_cast<LPARAM>(text));
    EXPECT_EQ(std::string(text), "\x0B"
                                 "Ch\xE9rie 25");
    SendMessageA(names, LB_GETTEXT, 1, reinterpret_cast<LPARAM>(text));
    EXPECT_EQ(std::string(text), "TF1") << "unsorted: order of discovery";
    DestroyWindow(dialog);
}

TEST(ScanIdleRouting, OnlyTheFirstDialogIdleOfAPendingScanStartsIt) {
    ScanState state;
    EXPECT_FALSE(isScanStartIdle(state, MSGF_DIALOGBOX));
    state.scanPending = true;
    EXPECT_TRUE(isScanStartIdle(state, MSGF_DIALOGBOX));
    EXPECT_FALSE(isScanStartIdle(state, MSGF_MENU));
    state.scanRunning = true;
    EXPECT_FALSE(isScanStartIdle(state, MSGF_DIALOGBOX));
}
