#include "common/win/show_error.h"

namespace korvane {

namespace {
HWND errorOwner = nullptr;
}

void setErrorOwner(HWND owner) {
    errorOwner = owner;
}

void showError(const wchar_t* text) {
    MessageBoxW(errorOwner, text, nullptr, MB_OK | MB_ICONERROR);
}

} // namespace korvane
