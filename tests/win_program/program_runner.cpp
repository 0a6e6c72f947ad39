#include "program_runner.h"

#include "trace_lines.h"

#include <algorithm>
#include <utility>

namespace korvane::testing {

namespace {

std::wstring windowsPath(const char* unixPath) {
    std::wstring path = L"Z:";
    for (const char* p = unixPath; *p; ++p)
        path += *p == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(*p));
    return path;
}

struct WindowSearch {
    DWORD processId;
    const wchar_t* className;
    const wchar_t* title;
    HWND found;
};

BOOL CALLBACK findWindowOfProcess(HWND window, LPARAM data) {
    auto* search = reinterpret_cast<WindowSearch*>(data);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->processId)
        return TRUE;
    if (!IsWindowVisible(window))
        return TRUE;
    if (search->className) {
        wchar_t name[64] = {};
        GetClassNameW(window, name, 64);
        if (std::wstring(name) != search->className)
            return TRUE;
    }
    if (search->title) {
        wchar_t text[256] = {};
        GetWindowTextW(window, text, 256);
        if (std::wstring(text) != search->title)
            return TRUE;
    }
    search->found = window;
    return FALSE;
}

BOOL CALLBACK collectText(HWND child, LPARAM data) {
    wchar_t text[512] = {};
    GetWindowTextW(child, text, 512);
    *reinterpret_cast<std::wstring*>(data) += std::wstring(text) + L"\n";
    return TRUE;
}

void removeFolder(const std::wstring& folder) {
    WIN32_FIND_DATAW entry{};
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = entry.cFileName;
            if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                DeleteFileW((folder + L"\\" + name).c_str());
        } while (FindNextFileW(find, &entry));
        FindClose(find);
    }
    RemoveDirectoryW(folder.c_str());
}

} // namespace

ProgramRun::ProgramRun() {
    static int counter = 0;
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    folder_ = std::wstring(temp) + L"korvane-run-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
              std::to_wstring(GetTickCount()) + L"-" + std::to_wstring(counter++);
    CreateDirectoryW(folder_.c_str(), nullptr);
}

ProgramRun::ProgramRun(std::wstring folder) : folder_(std::move(folder)), keepFolder_(true) {}

ProgramRun::~ProgramRun() {
    if (info_.hProcess) {
        if (WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT) {
            TerminateProcess(info_.hProcess, 3);
            WaitForSingleObject(info_.hProcess, 10000);
        }
        CloseHandle(info_.hThread);
        CloseHandle(info_.hProcess);
    }
    if (!keepFolder_)
        removeFolder(folder_);
}

void ProgramRun::writeConfig(const wchar_t* key, const wchar_t* value) const {
    WritePrivateProfileStringW(L"Config", key, value, configPath().c_str());
}

std::wstring ProgramRun::readConfig(const wchar_t* key) const {
    wchar_t value[1024] = {};
    GetPrivateProfileStringW(L"Config", key, L"<absent>", value, 1024, configPath().c_str());
    return value;
}

std::vector<std::wstring> ProgramRun::configLines() const {
    std::vector<wchar_t> buffer(32768);
    DWORD length = GetPrivateProfileSectionW(
        L"Config", buffer.data(), static_cast<DWORD>(buffer.size()), configPath().c_str());
    std::vector<std::wstring> lines;
    for (DWORD start = 0, i = 0; i < length; ++i)
        if (buffer[i] == L'\0') {
            lines.emplace_back(buffer.data() + start, buffer.data() + i);
            start = i + 1;
        }
    return lines;
}

bool ProgramRun::start() {
    std::wstring exe = windowsPath(KORVANE_BINARY_DIR) + L"\\korvane-tv.exe";
    std::wstring commandLine = L"\"" + exe + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    return CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          folder_.c_str(), &startup, &info_) != FALSE;
}

HWND ProgramRun::waitForWindow(const wchar_t* className, DWORD timeoutMs,
                               const wchar_t* title) const {
    const DWORD started = GetTickCount();
    do {
        WindowSearch search{info_.dwProcessId, className, title, nullptr};
        EnumWindows(findWindowOfProcess, reinterpret_cast<LPARAM>(&search));
        if (search.found)
            return search.found;
        if (WaitForSingleObject(info_.hProcess, 100) == WAIT_OBJECT_0)
            return nullptr;
    } while (GetTickCount() - started < timeoutMs);
    return nullptr;
}

bool ProgramRun::hasWindow() const {
    WindowSearch search{info_.dwProcessId, nullptr, nullptr, nullptr};
    EnumWindows(findWindowOfProcess, reinterpret_cast<LPARAM>(&search));
    return search.found != nullptr;
}

DWORD ProgramRun::waitForExit(DWORD timeoutMs) const {
    WaitForSingleObject(info_.hProcess, timeoutMs);
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(info_.hProcess, &code);
    return code;
}

std::wstring childTexts(HWND window) {
    std::wstring texts;
    EnumChildWindows(window, collectText, reinterpret_cast<LPARAM>(&texts));
    return texts;
}

std::wstring messageText(HWND box) {
    wchar_t text[1024] = {};
    GetWindowTextW(GetDlgItem(box, 0xFFFF), text, 1024);
    return text;
}

TestbedSettings::TestbedSettings(const ProgramRun& run, const char* muxFolder,
                                 const wchar_t* faults, const wchar_t* speed)
    : tracePath_(run.folder() + L"\\trace.txt") {
    SetEnvironmentVariableW(
        L"KORVANE_TESTBED_DIR",
        (windowsPath(KORVANE_BINARY_DIR) + L"\\" + windowsPath(muxFolder).substr(2)).c_str());
    SetEnvironmentVariableW(L"KORVANE_TESTBED_SPEED", speed);
    SetEnvironmentVariableW(L"KORVANE_TESTBED_TRACE", tracePath_.c_str());
    SetEnvironmentVariableW(L"KORVANE_TESTBED_FAULTS", faults);
}

TestbedSettings::~TestbedSettings() {
    for (const wchar_t* name : {L"KORVANE_TESTBED_DIR", L"KORVANE_TESTBED_SPEED",
                                L"KORVANE_TESTBED_TRACE", L"KORVANE_TESTBED_FAULTS"})
        SetEnvironmentVariableW(name, nullptr);
}

std::vector<std::string> TestbedSettings::trace(const std::string& prefix) const {
    return traceLines(tracePath_, prefix);
}

bool copyCityFile(const ProgramRun& run) {
    return CopyFileW((windowsPath(KORVANE_BINARY_DIR) + L"\\canaux.ini").c_str(),
                     (run.folder() + L"\\canaux.ini").c_str(), FALSE) != FALSE;
}

std::string readFile(const std::wstring& path) {
    std::string bytes;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return bytes;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0)
        bytes.append(buffer, got);
    CloseHandle(file);
    return bytes;
}

std::vector<std::wstring> comboItems(HWND dialog, int id) {
    std::vector<std::wstring> items;
    HWND combo = GetDlgItem(dialog, id);
    const LRESULT count = SendMessageW(combo, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        wchar_t text[256] = {};
        SendMessageW(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
        items.emplace_back(text);
    }
    return items;
}

bool chooseInCombo(HWND dialog, int id, const std::wstring& item) {
    const std::vector<std::wstring> items = comboItems(dialog, id);
    auto found = std::find(items.begin(), items.end(), item);
    if (found == items.end())
        return false;
    HWND combo = GetDlgItem(dialog, id);
    SendMessageW(combo, CB_SETCURSEL, found - items.begin(), 0);
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(combo));
    return true;
}

void clickButton(HWND dialog, int id) {
    PostMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0);
}

void pressOk(HWND box) {
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
}

void pressCancel(HWND box) {
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
}

} // namespace korvane::testing
