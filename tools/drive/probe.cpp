// korvane-probe.exe: a console helper that looks at the running program from another process
// of the same Wine prefix, for the scripts that drive it (tools/drive/drive.py). It reads one
// command a line on its standard input and answers one line on its standard output:
//
//   attach MS          wait up to MS for the program's main window: "ok <pid> <hwnd>" or "none"
//   tick               GetTickCount, the clock of the testbed's trace: "tick <ms>"
//   command ID         post WM_COMMAND ID to the main window: "tick <ms>" of the post
//   key VK             post WM_KEYDOWN and WM_KEYUP of VK: "tick <ms>"
//   stats              "handles <n> gdi <n> user <n> windows <n> private <bytes> working <bytes>"
//                      (gdi and user are 0 under Wine, whose GetGuiResources is a stub)
//   profile MS         CPU time of the program's threads over the next MS, in ms, by whose
//                      work each thread was doing when looked at, every 200 ms: the program's,
//                      the testbed's (decoding, drawing) or Wine's own threads' (sound mixer),
//                      Wine's calls counted for their caller:
//                      "program <ms> testbed <ms> other <ms> top <module>:<ms>,..."
//   windows            the visible top-level windows of the program, "<hwnd> <class>|<title>"
//                      separated by " ; ", then the line "end"
//   cancel TITLE       post IDCANCEL to the program's dialog of that caption: "ok" or "none"
//   alive              "yes" while the program runs, else "no <exit code>"
//   quit               end
#include <windows.h>

#include <psapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr const wchar_t* kProgramFile = L"korvane-tv.exe";
constexpr const wchar_t* kMainWindowClass = L"Korvane TV";

// A kernel handle, closed when it goes.
class Handle {
  public:
    explicit Handle(HANDLE handle = nullptr) : handle_(handle) {}
    ~Handle() { reset(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return handle_; }
    bool valid() const { return handle_ && handle_ != INVALID_HANDLE_VALUE; }
    void reset(HANDLE handle = nullptr) {
        if (valid())
            CloseHandle(handle_);
        handle_ = handle;
    }

  private:
    HANDLE handle_;
};

struct Program {
    DWORD pid = 0;
    HWND window = nullptr;
    Handle process;
};

void answer(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(stdout, format, arguments);
    va_end(arguments);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

std::string narrow(const std::wstring& text) {
    if (text.empty())
        return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(), size,
                        nullptr, nullptr);
    return out;
}

std::wstring widen(const std::string& text) {
    if (text.empty())
        return {};
    const int size =
        MultiByteToWideChar(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(), size);
    return out;
}

DWORD findProgramProcess() {
    Handle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot.valid())
        return 0;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry))
        if (_wcsicmp(entry.szExeFile, kProgramFile) == 0)
            return entry.th32ProcessID;
    return 0;
}

struct WindowList {
    DWORD pid;
    std::vector<HWND> windows;
};

BOOL CALLBACK collectWindow(HWND window, LPARAM data) {
    auto* list = reinterpret_cast<WindowList*>(data);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == list->pid && IsWindowVisible(window))
        list->windows.push_back(window);
    return TRUE;
}

std::vector<HWND> programWindows(DWORD pid) {
    WindowList list{pid, {}};
    EnumWindows(collectWindow, reinterpret_cast<LPARAM>(&list));
    return list.windows;
}

std::wstring className(HWND window) {
    wchar_t name[128] = {};
    GetClassNameW(window, name, 128);
    return name;
}

std::wstring caption(HWND window) {
    wchar_t text[256] = {};
    GetWindowTextW(window, text, 256);
    return text;
}

bool attach(Program& program, DWORD timeoutMs) {
    const DWORD started = GetTickCount();
    do {
        if (DWORD pid = findProgramProcess()) {
            for (HWND window : programWindows(pid))
                if (className(window) == kMainWindowClass) {
                    program.pid = pid;
                    program.window = window;
                    program.process.reset(OpenProcess(
                        PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | SYNCHRONIZE, FALSE, pid));
                    return program.process.valid();
                }
        }
        Sleep(100);
    } while (GetTickCount() - started < timeoutMs);
    return false;
}

// The process's handles, counted in the system's handle list: Wine's GetProcessHandleCount
// answers 0 for any process. 0 when the list cannot be read.
unsigned long handleCount(DWORD pid) {
    struct HandleEntry {
        ULONG ownerPid;
        BYTE objectType;
        BYTE flags;
        USHORT handle;
        PVOID object;
        ACCESS_MASK access;
    };
    using QuerySystem = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
    static const auto query = reinterpret_cast<QuerySystem>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    if (!query)
        return 0;
    std::vector<BYTE> buffer(1 << 20);
    ULONG needed = 0;
    constexpr ULONG kSystemHandleInformation = 16;
    constexpr LONG kInfoLengthMismatch = static_cast<LONG>(0xC0000004);
    LONG status;
    while ((status = query(kSystemHandleInformation, buffer.data(),
                           static_cast<ULONG>(buffer.size()), &needed)) == kInfoLengthMismatch &&
           buffer.size() < (64u << 20))
        buffer.resize(std::max<std::size_t>(buffer.size() * 2, needed));
    if (status != 0)
        return 0;
    const ULONG count = *reinterpret_cast<const ULONG*>(buffer.data());
    const auto* entries = reinterpret_cast<const HandleEntry*>(buffer.data() + sizeof(void*));
    const std::size_t room = (buffer.size() - sizeof(void*)) / sizeof(HandleEntry);
    unsigned long owned = 0;
    for (ULONG i = 0; i < count && i < room; ++i)
        owned += entries[i].ownerPid == pid;
    return owned;
}

BOOL CALLBACK countWindow(HWND, LPARAM data) {
    ++*reinterpret_cast<unsigned long*>(data);
    return TRUE;
}

// The process's windows, top-level and children: what can stand for its USER objects where
// GetGuiResources gives nothing (Wine's is a stub that answers 0).
unsigned long windowCount(DWORD pid) {
    unsigned long count = 0;
    for (HWND window : programWindows(pid)) {
        ++count;
        EnumChildWindows(window, countWindow, reinterpret_cast<LPARAM>(&count));
    }
    return count;
}

void stats(const Program& program) {
    DWORD handles = 0;
    if (!GetProcessHandleCount(program.process.get(), &handles) || handles == 0)
        handles = handleCount(program.pid);
    const DWORD gdi = GetGuiResources(program.process.get(), GR_GDIOBJECTS);
    const DWORD user = GetGuiResources(program.process.get(), GR_USEROBJECTS);
    PROCESS_MEMORY_COUNTERS_EX memory{};
    memory.cb = sizeof(memory);
    GetProcessMemoryInfo(program.process.get(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory),
                         sizeof(memory));
    // Wine leaves PrivateUsage at 0 for another process; its PagefileUsage is the same count.
    const SIZE_T privateBytes = memory.PrivateUsage ? memory.PrivateUsage : memory.PagefileUsage;
    answer("handles %lu gdi %lu user %lu windows %lu private %llu working %llu", handles, gdi, user,
           windowCount(program.pid), static_cast<unsigned long long>(privateBytes),
           static_cast<unsigned long long>(memory.WorkingSetSize));
}

// The modules of the program's process, to tell which one a thread started in.
struct ModuleRange {
    std::wstring name;
    uintptr_t begin;
    uintptr_t end;
};

std::vector<ModuleRange> moduleRanges(DWORD pid) {
    std::vector<ModuleRange> ranges;
    Handle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, pid));
    if (!snapshot.valid())
        return ranges;
    MODULEENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Module32FirstW(snapshot.get(), &entry); more;
         more = Module32NextW(snapshot.get(), &entry)) {
        const auto begin = reinterpret_cast<uintptr_t>(entry.modBaseAddr);
        ranges.push_back({entry.szModule, begin, begin + entry.modBaseSize});
    }
    return ranges;
}

double milliseconds(const FILETIME& time) {
    ULARGE_INTEGER value;
    value.LowPart = time.dwLowDateTime;
    value.HighPart = time.dwHighDateTime;
    return static_cast<double>(value.QuadPart) / 10000.0;
}

std::wstring moduleOf(const std::vector<ModuleRange>& modules, uintptr_t address) {
    for (const ModuleRange& module : modules)
        if (address >= module.begin && address < module.end)
            return module.name;
    return L"(outside any module)";
}

// Whose work a thread is doing: the program's or the testbed's when its instruction pointer,
// or else the nearest return address on its stack, is in that module (a thread waiting or in
// a system call is inside Wine's own DLLs on behalf of its caller); else the module of the
// instruction pointer.
std::wstring owner(const Program& program, const std::vector<ModuleRange>& modules,
                   const CONTEXT& context) {
    auto ours = [](const std::wstring& name) {
        return _wcsicmp(name.c_str(), kProgramFile) == 0 ||
               _wcsicmp(name.c_str(), L"testbed.dll") == 0;
    };
    const std::wstring current = moduleOf(modules, context.Rip);
    if (ours(current))
        return current;
    uint64_t stack[2048];
    SIZE_T read = 0;
    ReadProcessMemory(program.process.get(), reinterpret_cast<const void*>(context.Rsp), stack,
                      sizeof stack, &read);
    for (SIZE_T i = 0; i < read / sizeof stack[0]; ++i) {
        const std::wstring caller = moduleOf(modules, static_cast<uintptr_t>(stack[i]));
        if (ours(caller))
            return caller;
    }
    return current;
}

// Each look puts the CPU time a thread used since the previous look on whose work it is
// doing now.
void profile(const Program& program, DWORD durationMs) {
    const std::vector<ModuleRange> modules = moduleRanges(program.pid);
    std::map<std::wstring, double> spent;
    std::map<DWORD, double> seen;
    const DWORD started = GetTickCount();
    do {
        Handle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
        THREADENTRY32 entry{};
        entry.dwSize = sizeof(entry);
        for (BOOL more = snapshot.valid() && Thread32First(snapshot.get(), &entry); more;
             more = Thread32Next(snapshot.get(), &entry)) {
            if (entry.th32OwnerProcessID != program.pid)
                continue;
            Handle thread(
                OpenThread(THREAD_QUERY_INFORMATION | THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT,
                           FALSE, entry.th32ThreadID));
            FILETIME created, exited, kernel, user;
            if (!thread.valid() || !GetThreadTimes(thread.get(), &created, &exited, &kernel, &user))
                continue;
            const double now = milliseconds(kernel) + milliseconds(user);
            auto found = seen.find(entry.th32ThreadID);
            const double used = found == seen.end() ? 0.0 : now - found->second;
            seen[entry.th32ThreadID] = now;
            if (used <= 0.0 || SuspendThread(thread.get()) == static_cast<DWORD>(-1))
                continue;
            CONTEXT context{};
            context.ContextFlags = CONTEXT_CONTROL;
            const bool known = GetThreadContext(thread.get(), &context) != FALSE;
            ResumeThread(thread.get());
            spent[known ? owner(program, modules, context) : L"(unknown)"] += used;
        }
        Sleep(200);
    } while (GetTickCount() - started < durationMs);
    double program_ms = 0, testbed_ms = 0, other_ms = 0;
    std::vector<std::pair<double, std::wstring>> others;
    for (const auto& [name, ms] : spent) {
        if (_wcsicmp(name.c_str(), kProgramFile) == 0)
            program_ms += ms;
        else if (_wcsicmp(name.c_str(), L"testbed.dll") == 0)
            testbed_ms += ms;
        else {
            other_ms += ms;
            others.emplace_back(ms, name);
        }
    }
    std::sort(others.rbegin(), others.rend());
    std::string top;
    for (std::size_t i = 0; i < others.size() && i < 6; ++i)
        top += (i ? "," : "") + narrow(others[i].second) + ":" +
               std::to_string(static_cast<long>(others[i].first));
    answer("program %.0f testbed %.0f other %.0f top %s", program_ms, testbed_ms, other_ms,
           top.c_str());
}

void windows(const Program& program) {
    std::string line;
    for (HWND window : programWindows(program.pid)) {
        if (!line.empty())
            line += " ; ";
        char handle[32];
        std::snprintf(handle, sizeof handle, "%llx",
                      static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(window)));
        line +=
            std::string(handle) + " " + narrow(className(window)) + "|" + narrow(caption(window));
    }
    answer("%s", line.c_str());
    answer("end");
}

void cancelDialog(const Program& program, const std::wstring& title) {
    for (HWND window : programWindows(program.pid))
        if (className(window) == L"#32770" && caption(window) == title) {
            PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
            answer("ok");
            return;
        }
    answer("none");
}

void alive(const Program& program) {
    DWORD code = STILL_ACTIVE;
    if (!GetExitCodeProcess(program.process.get(), &code) || code == STILL_ACTIVE)
        answer("yes");
    else
        answer("no %lu", code);
}

// One command; false at the end.
bool run(Program& program, const std::string& line) {
    const std::size_t space = line.find(' ');
    const std::string verb = line.substr(0, space);
    const std::string argument = space == std::string::npos ? "" : line.substr(space + 1);
    if (verb == "quit")
        return false;
    if (verb == "tick") {
        answer("tick %lu", GetTickCount());
    } else if (verb == "attach") {
        if (attach(program, static_cast<DWORD>(std::strtoul(argument.c_str(), nullptr, 10))))
            answer("ok %lu %llx", program.pid,
                   static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(program.window)));
        else
            answer("none");
    } else if (!program.window) {
        answer("error not attached");
    } else if (verb == "command") {
        const DWORD tick = GetTickCount();
        PostMessageW(program.window, WM_COMMAND,
                     static_cast<WPARAM>(std::strtoul(argument.c_str(), nullptr, 10)), 0);
        answer("tick %lu", tick);
    } else if (verb == "key") {
        const auto key = static_cast<WPARAM>(std::strtoul(argument.c_str(), nullptr, 10));
        const DWORD tick = GetTickCount();
        PostMessageW(program.window, WM_KEYDOWN, key, 1);
        PostMessageW(program.window, WM_KEYUP, key, 0xC0000001);
        answer("tick %lu", tick);
    } else if (verb == "stats") {
        stats(program);
    } else if (verb == "profile") {
        profile(program, static_cast<DWORD>(std::strtoul(argument.c_str(), nullptr, 10)));
    } else if (verb == "windows") {
        windows(program);
    } else if (verb == "cancel") {
        cancelDialog(program, widen(argument));
    } else if (verb == "alive") {
        alive(program);
    } else {
        answer("error unknown command %s", verb.c_str());
    }
    return true;
}

} // namespace

int main() {
    Program program;
    char buffer[1024];
    while (std::fgets(buffer, sizeof buffer, stdin)) {
        std::string line(buffer);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
            line.pop_back();
        if (!run(program, line))
            break;
    }
    return 0;
}
