#include "app/win/guide_dialog.h"

#include "app/win/app_state.h"
#include "res/resource.h"
#include "si/guide_table.h"

#include <commctrl.h>

namespace korvane {

namespace {

struct Column {
    const wchar_t* header;
    int width;
};
constexpr Column kColumns[] = {
    {L"Chaîne", 90},       {L"Début", 60}, {L"Fin", 60}, {L"Nom du programme", 220},
    {L"Description", 700},
};
constexpr DWORD kExtendedStyles = LVS_EX_GRIDLINES | LVS_EX_HEADERDRAGDROP | LVS_EX_FULLROWSELECT;
constexpr int kNameBytes = 256;

void insertColumns(HWND table) {
    for (int i = 0; i < static_cast<int>(std::size(kColumns)); ++i) {
        LVCOLUMNW column{};
        column.mask = LVCF_FMT | LVCF_TEXT | LVCF_WIDTH;
        column.fmt = LVCFMT_LEFT;
        column.cx = kColumns[i].width;
        column.pszText = const_cast<wchar_t*>(kColumns[i].header);
        SendMessageW(table, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
    }
}

// The cell texts are the broadcast's 8-bit texts, set with the 8-bit messages.
void setCell(HWND table, int row, int column, const std::string& text) {
    LVITEMA item{};
    item.iSubItem = column;
    item.pszText = const_cast<char*>(text.c_str());
    SendMessageA(table, LVM_SETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
}

void insertRow(HWND table, int row, const GuideRow& cells) {
    LVITEMA item{};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.pszText = const_cast<char*>(cells.channelName.c_str());
    const int at =
        static_cast<int>(SendMessageA(table, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
    if (at < 0)
        return;
    setCell(table, at, 1, cells.startText);
    setCell(table, at, 2, cells.endText);
    setCell(table, at, 3, cells.title);
    setCell(table, at, 4, cells.description);
}

void selectRow(HWND table, int row) {
    LVITEMW item{};
    item.stateMask = LVIS_SELECTED;
    item.state = LVIS_SELECTED;
    SendMessageW(table, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item));
    SendMessageW(table, LVM_ENSUREVISIBLE, row, FALSE);
}

// The channel of a double-clicked row: the first one whose name equals the row's first cell.
void switchToRowChannel(HWND dialog, const NMITEMACTIVATE& activation) {
    auto select = reinterpret_cast<ChannelSelector>(GetWindowLongPtrW(dialog, DWLP_USER));
    if (activation.iItem < 0 || !select)
        return;
    char name[kNameBytes] = {};
    LVITEMA item{};
    item.iSubItem = 0;
    item.pszText = name;
    item.cchTextMax = kNameBytes;
    SendMessageA(activation.hdr.hwndFrom, LVM_GETITEMTEXTA, activation.iItem,
                 reinterpret_cast<LPARAM>(&item));
    const std::optional<std::size_t> index =
        findChannelByName(channelList().snapshot(), std::string_view(name));
    if (index)
        select(*index);
}

} // namespace

void fillGuideList(HWND table) {
    GuideTable guide;
    {
        // Rows and selection from one consistent view; the list view is filled unlocked.
        auto access = channelList().lock();
        guide = guideTable(access.records(), access.currentIndex());
    }
    for (std::size_t row = 0; row < guide.rows.size(); ++row)
        insertRow(table, static_cast<int>(row), guide.rows[row]);
    if (guide.selected)
        selectRow(table, static_cast<int>(*guide.selected));
}

INT_PTR CALLBACK ProgrammeGuideDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: {
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        HWND table = GetDlgItem(dialog, IDC_GUIDE_LIST);
        SendMessageW(table, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, kExtendedStyles);
        insertColumns(table);
        fillGuideList(table);
        return TRUE;
    }
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
        case IDCANCEL:
            EndDialog(dialog, 0);
            return TRUE;
        case IDC_GUIDE_REFRESH: {
            HWND table = GetDlgItem(dialog, IDC_GUIDE_LIST);
            SendMessageW(table, LVM_DELETEALLITEMS, 0, 0);
            fillGuideList(table);
            return TRUE;
        }
        default:
            return FALSE;
        }
    case WM_NOTIFY: {
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header->idFrom != IDC_GUIDE_LIST || header->code != NM_DBLCLK)
            return FALSE;
        const auto& activation = *reinterpret_cast<const NMITEMACTIVATE*>(lParam);
        if (activation.iItem < 0)
            return FALSE;
        switchToRowChannel(dialog, activation);
        return TRUE;
    }
    default:
        return FALSE;
    }
}

void showGuideDialog(HWND owner, ChannelSelector select) {
    ShowCursor(TRUE);
    DialogBoxParamW(appInstance(), MAKEINTRESOURCEW(IDD_GUIDE), owner, ProgrammeGuideDialog,
                    reinterpret_cast<LPARAM>(select));
    ShowCursor(FALSE);
}

} // namespace korvane
