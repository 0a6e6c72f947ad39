#pragma once

// What tests of the testbed's stand-ins share: its live-object count and the Windows form
// of build-tree paths.

#include <windows.h>

#include <string>

namespace korvane::testing {

// Objects of the testbed DLL alive in this process (0 when it is not loaded).
inline long testbedLiveObjects() {
    HMODULE dll = GetModuleHandleW(L"testbed.dll");
    if (!dll)
        return 0;
    // Through void* so that the cast between function types does not warn.
    auto count = reinterpret_cast<long (*)()>(
        reinterpret_cast<void*>(GetProcAddress(dll, "TestbedLiveObjects")));
    return count ? count() : -1;
}

// A Unix path of the build tree as Wine shows it: /x/y is Z:\x\y.
inline std::wstring windowsPath(const std::string& unixPath) {
    std::wstring out = L"Z:";
    for (char c : unixPath)
        out += c == '/' ? L'\\' : wchar_t(c);
    return out;
}

} // namespace korvane::testing
