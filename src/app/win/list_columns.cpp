#include "app/win/list_columns.h"

#include <commctrl.h>

namespace korvane {

void insertListColumns(HWND table, std::span<const ListColumn> columns) {
    for (int i = 0; i < static_cast<int>(columns.size()); ++i) {
        LVCOLUMNW column{};
        column.mask = LVCF_FMT | LVCF_TEXT | LVCF_WIDTH;
        column.fmt = LVCFMT_LEFT;
        column.cx = columns[i].width;
        column.pszText = const_cast<wchar_t*>(columns[i].header);
        SendMessageW(table, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
    }
}

} // namespace korvane
