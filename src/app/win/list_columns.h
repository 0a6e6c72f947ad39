#pragma once

#include <windows.h>

#include <span>

namespace korvane {

// A list view's column: its header and its width in pixels.
struct ListColumn {
    const wchar_t* header;
    int width;
};

// Adds the columns to a report-style list view, left-aligned, in order.
void insertListColumns(HWND table, std::span<const ListColumn> columns);

} // namespace korvane
