// The per-user installer as a user meets it: silent install, the shortcuts, a start from the
// Start menu, uninstall with and without the user's files, and an update over an older
// version. These tests run in a Wine prefix of their own and change its user's files.

#include "dshow/com_ptr.h"
#include "version.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <shlobj.h>
#include <shobjidl.h>
#include <tlhelp32.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

namespace korvane::testing {
namespace {

const wchar_t kUninstallKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Korvane TV";
constexpr DWORD kRunTimeoutMs = 60000;
const char* const kProgramFiles[] = {"korvane-tv.exe",
                                     "canaux.ini",
                                     "Lisez-moi.txt",
                                     "Licences\\GCC.txt",
                                     "Licences\\Korvane TV.txt",
                                     "Licences\\MinGW-w64.txt",
                                     "Licences\\libavcodec (LGPL 2.1).txt",
                                     "Licences\\libavcodec.txt",
                                     "uninstall.exe"};
// What the program and its user leave in its folder, with their contents.
const std::pair<const char*, const char*> kUserFiles[] = {
    {"config.ini", "[Config]\r\nVille=Lyon\r\n"},
    {"chaines.xml", "<?xml version=\"1.0\"?>\r\n<chaines/>\r\n"},
    {"chaines.xml.illisible", "<chaines"},
    {"programmation.xml", "<?xml version=\"1.0\"?>\r\n<programmation/>\r\n"},
    {"programmation.xml.illisible (2)", "<program"},
    {"Arte 07-03 20-45-09.mpg", "recording"},
    {"Arte 07-03 20-46-10.bmp", "capture"},
};

std::wstring widen(const char* text) {
    return std::wstring(text, text + strlen(text));
}

std::wstring windowsPath(const char* unixPath) {
    std::wstring path = L"Z:" + widen(unixPath);
    for (wchar_t& c : path)
        c = c == L'/' ? L'\\' : c;
    return path;
}

std::wstring lowered(std::wstring text) {
    CharLowerW(text.data());
    return text;
}

std::wstring shellFolder(int csidl) {
    wchar_t path[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path);
    return path;
}

std::wstring installFolder() {
    return shellFolder(CSIDL_LOCAL_APPDATA) + L"\\Programs\\Korvane TV";
}
std::wstring installed(const char* name) {
    return installFolder() + L"\\" + widen(name);
}
std::wstring startMenuShortcut() {
    return shellFolder(CSIDL_PROGRAMS) + L"\\Korvane TV.lnk";
}
std::wstring desktopShortcut() {
    return shellFolder(CSIDL_DESKTOPDIRECTORY) + L"\\Korvane TV.lnk";
}

bool exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string readFile(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void writeUserFiles() {
    for (const auto& [name, content] : kUserFiles)
        std::ofstream(installed(name).c_str(), std::ios::binary) << content;
}

// The names in folder, "." and ".." left out; subfolders end with a backslash.
std::vector<std::wstring> folderEntries(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW entry{};
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE)
        return names;
    do {
        const std::wstring name = entry.cFileName;
        if (name != L"." && name != L"..")
            names.push_back(name +
                            (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY ? L"\\" : L""));
    } while (FindNextFileW(find, &entry));
    FindClose(find);
    return names;
}

void removeTree(const std::wstring& folder) {
    for (const std::wstring& name : folderEntries(folder)) {
        if (name.back() == L'\\')
            removeTree(folder + L"\\" + name.substr(0, name.size() - 1));
        else
            DeleteFileW((folder + L"\\" + name).c_str());
    }
    RemoveDirectoryW(folder.c_str());
}

// A started process; one still running at destruction is ended.
class Process {
  public:
    Process(const wchar_t* application, std::wstring commandLine, const wchar_t* folder) {
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        if (!CreateProcessW(application, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                            folder, &startup, &info_))
            ADD_FAILURE() << "cannot start a process: " << GetLastError();
    }
    ~Process() {
        if (!info_.hProcess)
            return;
        if (exitCode() == STILL_ACTIVE)
            TerminateProcess(info_.hProcess, 1);
        CloseHandle(info_.hThread);
        CloseHandle(info_.hProcess);
    }
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    bool started() const { return info_.hProcess != nullptr; }
    DWORD id() const { return info_.dwProcessId; }
    bool waitForExit(DWORD timeoutMs) const {
        return WaitForSingleObject(info_.hProcess, timeoutMs) == WAIT_OBJECT_0;
    }
    // STILL_ACTIVE while it runs.
    DWORD exitCode() const {
        DWORD code = STILL_ACTIVE;
        GetExitCodeProcess(info_.hProcess, &code);
        return code;
    }

  private:
    PROCESS_INFORMATION info_{};
};

// Runs a command line to its end and gives its exit code (STILL_ACTIVE on time-out).
DWORD run(std::wstring commandLine) {
    Process process(nullptr, std::move(commandLine), nullptr);
    if (!process.started())
        return STILL_ACTIVE;
    process.waitForExit(kRunTimeoutMs);
    return process.exitCode();
}

DWORD runSetup(const char* setup) {
    return run(L"\"" + windowsPath(setup) + L"\" /S");
}

bool uninstallEntryExists() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kUninstallKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

std::wstring entryText(const wchar_t* name) {
    wchar_t value[1024] = {};
    DWORD size = sizeof(value);
    if (RegGetValueW(HKEY_CURRENT_USER, kUninstallKey, name, RRF_RT_REG_SZ, nullptr, value,
                     &size) != ERROR_SUCCESS)
        return L"<absent>";
    return value;
}

DWORD entryNumber(const wchar_t* name) {
    DWORD value = 0;
    DWORD size = sizeof(value);
    if (RegGetValueW(HKEY_CURRENT_USER, kUninstallKey, name, RRF_RT_REG_DWORD, nullptr, &value,
                     &size) != ERROR_SUCCESS)
        return 0xFFFFFFFF;
    return value;
}

bool processRunning(const wchar_t* exeName) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return false;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    bool found = false;
    for (BOOL more = Process32FirstW(snapshot, &entry); more && !found;
         more = Process32NextW(snapshot, &entry))
        found = lstrcmpiW(entry.szExeFile, exeName) == 0;
    CloseHandle(snapshot);
    return found;
}

// As Windows does it: the registered quiet command. The uninstaller returns at once after
// starting a copy of itself ("Un.exe" in the temporary folder), which does the work and
// removes the uninstall entry last.
void uninstall(const std::wstring& extraOptions = L"") {
    const std::wstring command = entryText(L"QuietUninstallString");
    ASSERT_NE(command, L"<absent>");
    ASSERT_EQ(run(command + extraOptions), 0u);
    const DWORD started = GetTickCount();
    while (uninstallEntryExists() || processRunning(L"Un.exe")) {
        ASSERT_LT(GetTickCount() - started, kRunTimeoutMs) << "the uninstaller did not finish";
        Sleep(200);
    }
}

// Every test starts with a user who does not have the program.
void removeInstallation() {
    if (uninstallEntryExists())
        uninstall(L" /PURGE");
    removeTree(installFolder());
    DeleteFileW(startMenuShortcut().c_str());
    DeleteFileW(desktopShortcut().c_str());
    RegDeleteKeyW(HKEY_CURRENT_USER, kUninstallKey);
}

struct Shortcut {
    bool loaded = false;
    std::wstring target;
    std::wstring folder;
    std::wstring arguments;
};

Shortcut readShortcut(const std::wstring& path) {
    Shortcut shortcut;
    ComPtr<IShellLinkW> link;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                link.putVoid())))
        return shortcut;
    ComPtr<IPersistFile> file = link.as<IPersistFile>(IID_IPersistFile);
    if (!file || FAILED(file->Load(path.c_str(), STGM_READ)))
        return shortcut;
    wchar_t text[MAX_PATH] = {};
    link->GetPath(text, MAX_PATH, nullptr, SLGP_RAWPATH);
    shortcut.target = text;
    link->GetWorkingDirectory(text, MAX_PATH);
    shortcut.folder = text;
    link->GetArguments(text, MAX_PATH);
    shortcut.arguments = text;
    shortcut.loaded = true;
    return shortcut;
}

std::wstring versionString(const std::wstring& file, const wchar_t* name) {
    DWORD ignored = 0;
    std::vector<char> data(GetFileVersionInfoSizeW(file.c_str(), &ignored));
    if (data.empty() || !GetFileVersionInfoW(file.c_str(), 0, DWORD(data.size()), data.data()))
        return L"<no version>";
    WORD* translation = nullptr;
    UINT size = 0;
    if (!VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation",
                        reinterpret_cast<void**>(&translation), &size) ||
        size < 4)
        return L"<no translation>";
    wchar_t path[128] = {};
    wsprintfW(path, L"\\StringFileInfo\\%04x%04x\\%s", translation[0], translation[1], name);
    wchar_t* value = nullptr;
    if (!VerQueryValueW(data.data(), path, reinterpret_cast<void**>(&value), &size))
        return L"<absent>";
    return value;
}

DWORD fixedFileVersionMs(const std::wstring& file) {
    DWORD ignored = 0;
    std::vector<char> data(GetFileVersionInfoSizeW(file.c_str(), &ignored));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT size = 0;
    if (data.empty() || !GetFileVersionInfoW(file.c_str(), 0, DWORD(data.size()), data.data()) ||
        !VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &size))
        return 0;
    return fixed->dwFileVersionMS;
}

struct VisibleWindows {
    DWORD processId;
    HWND dialog = nullptr;
    HWND other = nullptr;
};

BOOL CALLBACK sortWindow(HWND window, LPARAM data) {
    auto* found = reinterpret_cast<VisibleWindows*>(data);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != found->processId || !IsWindowVisible(window))
        return TRUE;
    wchar_t name[16] = {};
    GetClassNameW(window, name, 16);
    (std::wstring(name) == L"#32770" ? found->dialog : found->other) = window;
    return TRUE;
}

// Starts the program as its shortcut does and ends it as a user would, whatever start-up
// shows: every dialog or message box is cancelled, then the main window is closed once it
// has stood alone for a while. Gives the exit code, or STILL_ACTIVE on time-out.
DWORD startAndClose(const Shortcut& shortcut) {
    Process program(shortcut.target.c_str(), L"\"" + shortcut.target + L"\" " + shortcut.arguments,
                    shortcut.folder.c_str());
    if (!program.started())
        return STILL_ACTIVE;
    constexpr DWORD kAloneBeforeCloseMs = 10000;
    const DWORD started = GetTickCount();
    DWORD aloneSince = 0;
    while (!program.waitForExit(250) && GetTickCount() - started < kRunTimeoutMs) {
        VisibleWindows windows{program.id()};
        EnumWindows(sortWindow, reinterpret_cast<LPARAM>(&windows));
        if (windows.dialog) {
            PostMessageW(windows.dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
            aloneSince = 0;
        } else if (!windows.other) {
            aloneSince = 0;
        } else if (!aloneSince) {
            aloneSince = GetTickCount();
        } else if (GetTickCount() - aloneSince > kAloneBeforeCloseMs) {
            PostMessageW(windows.other, WM_CLOSE, 0, 0);
            aloneSince = GetTickCount();
        }
    }
    return program.exitCode();
}

class Installer : public ::testing::Test {
  protected:
    void SetUp() override {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        removeInstallation();
        ASSERT_FALSE(exists(installFolder()));
    }
    void TearDown() override { CoUninitialize(); }
};

TEST_F(Installer, SilentInstallPutsProgramShortcutsAndUninstallEntryInTheUsersFolder) {
    ASSERT_EQ(runSetup(KORVANE_SETUP), 0u);

    for (const char* name : kProgramFiles)
        EXPECT_TRUE(exists(installed(name))) << name;
    const std::wstring exe = installed("korvane-tv.exe");
    const std::wstring version = widen(KORVANE_VERSION_TEXT);
    EXPECT_EQ(versionString(exe, L"ProductVersion"), version);
    EXPECT_EQ(versionString(exe, L"FileVersion"), version);
    EXPECT_EQ(fixedFileVersionMs(exe),
              DWORD(MAKELONG(KORVANE_VERSION_MINOR, KORVANE_VERSION_MAJOR)));
    EXPECT_EQ(versionString(windowsPath(KORVANE_SETUP), L"ProductVersion"), version);
    // The licence, by its identifier, in both version resources and as a text beside them.
    EXPECT_EQ(versionString(exe, L"LegalCopyright"), widen(KORVANE_LEGAL_COPYRIGHT));
    EXPECT_EQ(versionString(windowsPath(KORVANE_SETUP), L"LegalCopyright"),
              widen(KORVANE_LEGAL_COPYRIGHT));
    EXPECT_NE(readFile(installed("Licences\\Korvane TV.txt")).find("GPL-2.0-or-later"),
              std::string::npos);
    EXPECT_EQ(readFile(installed("canaux.ini")),
              readFile(windowsPath(KORVANE_SOURCE_DIR "/data/canaux.ini")));
    // Notepad reads it as UTF-8, lines ending in CR LF.
    const std::string readme = readFile(installed("Lisez-moi.txt"));
    EXPECT_EQ(readme.rfind("\xEF\xBB\xBFKorvane TV " KORVANE_VERSION_TEXT "\r\n", 0), 0u);

    const std::wstring folder = lowered(installFolder());
    EXPECT_EQ(entryText(L"DisplayName"), L"Korvane TV");
    EXPECT_EQ(entryText(L"DisplayVersion"), version);
    EXPECT_EQ(entryNumber(L"VersionMajor"), DWORD(KORVANE_VERSION_MAJOR));
    EXPECT_EQ(entryNumber(L"VersionMinor"), DWORD(KORVANE_VERSION_MINOR));
    EXPECT_EQ(entryText(L"Publisher"), widen(KORVANE_PUBLISHER));
    EXPECT_EQ(lowered(entryText(L"DisplayIcon")), lowered(exe) + L",0");
    EXPECT_EQ(lowered(entryText(L"InstallLocation")), folder);
    EXPECT_EQ(lowered(entryText(L"UninstallString")), L"\"" + folder + L"\\uninstall.exe\"");
    EXPECT_EQ(lowered(entryText(L"QuietUninstallString")),
              L"\"" + folder + L"\\uninstall.exe\" /s");
    EXPECT_EQ(entryNumber(L"NoModify"), 1u);
    EXPECT_EQ(entryNumber(L"NoRepair"), 1u);
    // In KiB: the installed files but the uninstaller, each rounded up.
    DWORD expectedSize = 0;
    for (const char* name : kProgramFiles)
        if (std::string(name) != "uninstall.exe")
            expectedSize += DWORD((readFile(installed(name)).size() + 1023) / 1024);
    EXPECT_EQ(entryNumber(L"EstimatedSize"), expectedSize);

    for (const std::wstring& path : {startMenuShortcut(), desktopShortcut()}) {
        const Shortcut shortcut = readShortcut(path);
        ASSERT_TRUE(shortcut.loaded) << "no shortcut " << std::string(path.begin(), path.end());
        EXPECT_EQ(lowered(shortcut.target), lowered(exe));
        EXPECT_EQ(lowered(shortcut.folder), folder);
        EXPECT_EQ(shortcut.arguments, L"");
    }
}

TEST_F(Installer, ProgramStartedFromItsShortcutKeepsItsSettingsInTheInstallFolder) {
    ASSERT_EQ(runSetup(KORVANE_SETUP), 0u);
    const Shortcut shortcut = readShortcut(startMenuShortcut());
    ASSERT_TRUE(shortcut.loaded);
    ASSERT_FALSE(exists(installed("config.ini")));

    EXPECT_NE(startAndClose(shortcut), DWORD(STILL_ACTIVE));

    const std::wstring config = installed("config.ini");
    ASSERT_TRUE(exists(config));
    wchar_t city[64] = {};
    GetPrivateProfileStringW(L"Config", L"Ville", L"<absent>", city, 64, config.c_str());
    EXPECT_STRNE(city, L"<absent>");
}

TEST_F(Installer, SilentUninstallRemovesTheProgramAndKeepsTheUsersFiles) {
    ASSERT_EQ(runSetup(KORVANE_SETUP), 0u);
    writeUserFiles();

    uninstall();

    for (const char* name : kProgramFiles)
        EXPECT_FALSE(exists(installed(name))) << name;
    EXPECT_FALSE(exists(installed("Licences")));
    EXPECT_FALSE(exists(startMenuShortcut()));
    EXPECT_FALSE(exists(desktopShortcut()));
    EXPECT_FALSE(uninstallEntryExists());
    for (const auto& [name, content] : kUserFiles)
        EXPECT_EQ(readFile(installed(name)), content) << name;
}

TEST_F(Installer, UninstallAskedToRemoveTheUsersFilesLeavesNothing) {
    ASSERT_EQ(runSetup(KORVANE_SETUP), 0u);
    writeUserFiles();

    uninstall(L" /PURGE");

    std::string left;
    for (const std::wstring& name : folderEntries(installFolder()))
        left += " " + std::string(name.begin(), name.end());
    EXPECT_FALSE(exists(installFolder())) << "left:" << left;
    EXPECT_FALSE(exists(startMenuShortcut()));
    EXPECT_FALSE(uninstallEntryExists());
}

TEST_F(Installer, InstallOverAnOlderVersionUpdatesItAndKeepsTheUsersFiles) {
    ASSERT_EQ(runSetup(KORVANE_OLD_SETUP), 0u);
    ASSERT_EQ(entryText(L"DisplayVersion"), L"0.0a");
    writeUserFiles();

    ASSERT_EQ(runSetup(KORVANE_SETUP), 0u);

    EXPECT_EQ(entryText(L"DisplayVersion"), widen(KORVANE_VERSION_TEXT));
    EXPECT_EQ(entryNumber(L"VersionMinor"), DWORD(KORVANE_VERSION_MINOR));
    EXPECT_EQ(lowered(entryText(L"InstallLocation")), lowered(installFolder()));
    for (const char* name : kProgramFiles)
        EXPECT_TRUE(exists(installed(name))) << name;
    for (const auto& [name, content] : kUserFiles)
        EXPECT_EQ(readFile(installed(name)), content) << name;
}

TEST_F(Installer, RefusesToReplaceTheProgramWhileItRuns) {
    // The running program holds this mutex.
    HANDLE running = CreateMutexW(nullptr, FALSE, L"Korvane TV");
    ASSERT_NE(running, nullptr);
    EXPECT_EQ(runSetup(KORVANE_SETUP), 2u);
    CloseHandle(running);
    EXPECT_FALSE(exists(installFolder()));
    EXPECT_FALSE(uninstallEntryExists());
}

} // namespace
} // namespace korvane::testing
