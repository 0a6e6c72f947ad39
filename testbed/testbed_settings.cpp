#include "testbed_settings.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace korvane::testbed {

namespace {

constexpr const wchar_t* kFaultNames[] = {
    L"renderer-not-creatable",
    L"renderer-no-filter-config",
    L"renderer-no-allocator-notify",
    L"presenter-prefs-fail",
    L"renderer-no-deinterlace-control",
    L"deinterlace-count-fails",
    L"deinterlace-guid-fails",
    L"set-deinterlace-mode-fails",
    L"renderer-no-windowless-control",
    L"renderer-no-aspect-ratio-control",
    L"video-decoder-refuses-renderer",
    L"audio-decoder-refuses-renderer",
    L"ac3-decoder-refuses-renderer",
    L"tuner-no-device-control",
    L"tuner-no-topology",
    L"tuner-no-statistics-node",
    L"tuner-frequency-on-two-nodes",
    L"tuner-statistics-fail",
    L"tuner-run-fails",
    L"todays-decoders-missing",
};
static_assert(sizeof(kFaultNames) / sizeof(kFaultNames[0]) == size_t(Fault::Count));

std::wstring environmentText(const wchar_t* name) {
    DWORD n = GetEnvironmentVariableW(name, nullptr, 0);
    if (n == 0)
        return {};
    std::wstring text(n, L'\0');
    n = GetEnvironmentVariableW(name, text.data(), n);
    text.resize(n);
    return text;
}

std::wstring registryText(const wchar_t* name) {
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        DWORD size = 0;
        if (RegGetValueW(root, L"Software\\Korvane\\Testbed", name, RRF_RT_REG_SZ, nullptr, nullptr,
                         &size) != ERROR_SUCCESS ||
            size < sizeof(wchar_t))
            continue;
        std::wstring text(size / sizeof(wchar_t), L'\0');
        if (RegGetValueW(root, L"Software\\Korvane\\Testbed", name, RRF_RT_REG_SZ, nullptr,
                         text.data(), &size) != ERROR_SUCCESS)
            continue;
        text.resize(size / sizeof(wchar_t));
        while (!text.empty() && text.back() == L'\0')
            text.pop_back();
        return text;
    }
    return {};
}

bool listHolds(const std::wstring& list, const wchar_t* name) {
    size_t pos = 0;
    while (pos < list.size()) {
        size_t end = list.find_first_of(L", ;\t", pos);
        if (end == std::wstring::npos)
            end = list.size();
        if (list.compare(pos, end - pos, name) == 0)
            return true;
        pos = end + 1;
    }
    return false;
}

} // namespace

std::wstring testbedSetting(const wchar_t* variable, const wchar_t* value) {
    std::wstring text = environmentText(variable);
    return text.empty() ? registryText(value) : text;
}

const wchar_t* faultName(Fault fault) {
    size_t index = size_t(fault);
    return index < size_t(Fault::Count) ? kFaultNames[index] : L"";
}

bool faultActive(Fault fault) {
    return listHolds(testbedSetting(L"KORVANE_TESTBED_FAULTS", L"Pannes"), faultName(fault));
}

void trace(const char* format, ...) {
    std::wstring path = environmentText(L"KORVANE_TESTBED_TRACE");
    if (path.empty())
        return;
    char line[512];
    int n = std::snprintf(line, sizeof(line), "%lu ", static_cast<unsigned long>(GetTickCount()));
    va_list args;
    va_start(args, format);
    int m = std::vsnprintf(line + n, sizeof(line) - size_t(n) - 1, format, args);
    va_end(args);
    if (m < 0)
        return;
    size_t length = std::min(size_t(n) + size_t(m), sizeof(line) - 2);
    line[length++] = '\n';
    // Opened for each line in append mode: lines from several processes stay whole, and the
    // file is complete whenever a test reads it. Wine appends by writing at the end it has
    // just looked up, so two threads of one process writing at once could overwrite each
    // other's line: they take turns.
    static std::mutex writing;
    std::lock_guard<std::mutex> turn(writing);
    HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, line, DWORD(length), &written, nullptr);
    CloseHandle(file);
}

} // namespace korvane::testbed
