// The whole program used from outside as a person would, in an empty folder: the first start
// with its configuration dialog, worked through the dialog's own controls, the scan, the
// channel keys and the wheel, the AC-3 option and the audio-track keys, the three recordings,
// a screenshot, the guide, full screen, "Quitter" from the menu; then a second start of the
// same folder, with a recording scheduled in programmation.xml a few seconds after it. Keys and the
// wheel go through SendInput, so the program gets them as it gets the keyboard's and the mouse's:
// through its accelerators, its menu and its key handling.
//
// What the testbed's trace shows after each step is checked here, with the settings and the
// channel file. The recordings and the screenshot are listed in session.tsv, with what each
// should hold, for tests/e2e/user_session_test.py to check with ffprobe and against the
// multiplexes the tuner played.
//
// usage: user_session_driver.exe UNIX_FOLDER (an empty folder of the build tree)
#include "app/schedule_file.h"
#include "common/dvb_text.h"
#include "common/win/file_replace.h"
#include "common/win/time_convert_win.h"
#include "demo_city_channels.h"
#include "program_runner.h"
#include "res/resource.h"
#include "testbed_support.h"
#include "trace_lines.h"

#include <commctrl.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace korvane::testing {
namespace {

using Lines = std::vector<std::string>;

std::string sessionFolder; // the Unix path given on the command line

constexpr DWORD kStepTimeoutMs = 15000;

// Polls a condition every 20 ms until it holds or the time is up.
bool waitUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
    const DWORD started = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - started >= timeoutMs)
            return condition();
        Sleep(20);
    }
    return true;
}

// ---- The keyboard and the mouse

struct Key {
    WORD vk;
    WORD modifier = 0; // held while the key is pressed (VK_CONTROL for Ctrl+T)
};

INPUT keyEvent(WORD vk, bool up) {
    INPUT in{};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = vk;
    in.ki.wScan = static_cast<WORD>(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC));
    in.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    // The arrows of the cursor block, not those of the numeric keypad.
    if (vk == VK_UP || vk == VK_DOWN || vk == VK_LEFT || vk == VK_RIGHT)
        in.ki.dwFlags |= KEYEVENTF_EXTENDEDKEY;
    return in;
}

// The window in front, as after a click on it: keys go to the foreground window.
bool bringToFront(HWND window) {
    return waitUntil(
        [&] {
            if (GetForegroundWindow() == window)
                return true;
            SetForegroundWindow(window);
            return false;
        },
        5000);
}

// Presses the keys one after the other, into the window brought to the front.
void press(HWND window, std::initializer_list<Key> keys) {
    ASSERT_TRUE(bringToFront(window));
    std::vector<INPUT> events;
    for (const Key& key : keys) {
        if (key.modifier)
            events.push_back(keyEvent(key.modifier, false));
        events.push_back(keyEvent(key.vk, false));
        events.push_back(keyEvent(key.vk, true));
        if (key.modifier)
            events.push_back(keyEvent(key.modifier, true));
    }
    ASSERT_EQ(SendInput(static_cast<UINT>(events.size()), events.data(), sizeof(INPUT)),
              events.size());
}

// Turns the wheel over the window's middle: positive notches turn it away from the user.
void turnWheel(HWND window, int notches) {
    ASSERT_TRUE(bringToFront(window));
    RECT r{};
    GetWindowRect(window, &r);
    SetCursorPos((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    INPUT in{};
    in.type = INPUT_MOUSE;
    in.mi.dwFlags = MOUSEEVENTF_WHEEL;
    in.mi.mouseData = static_cast<DWORD>(notches * WHEEL_DELTA);
    ASSERT_EQ(SendInput(1, &in, sizeof(INPUT)), 1u);
}

// ---- What the testbed saw

class Trace {
  public:
    explicit Trace(std::wstring path) : path_(std::move(path)) {}

    // Tunes and the PID maps of the channel outputs, without the section reader's and the
    // guide's own requests.
    Lines channelLines() const {
        Lines kept;
        for (std::string& line : traceLines(path_)) {
            if (line.rfind("tune ", 0) == 0 || isChannelMap(line))
                kept.push_back(std::move(line));
        }
        return kept;
    }
    std::size_t mark() const { return channelLines().size(); }
    // The channel lines after mark, once there are at least count of them (or the time is up).
    Lines waitSince(std::size_t mark, std::size_t count, DWORD timeoutMs = kStepTimeoutMs) const {
        Lines since;
        waitUntil(
            [&] {
                const Lines all = channelLines();
                since.assign(all.begin() + static_cast<std::ptrdiff_t>(std::min(mark, all.size())),
                             all.end());
                return since.size() >= count;
            },
            timeoutMs);
        return since;
    }
    // The PID maps of today's outputs ("h264", "eac3") and the tunes after the mark-th line
    // of the whole trace, once there are count of them.
    Lines todaysMapsSince(std::size_t mark, std::size_t count) const {
        Lines since;
        waitUntil(
            [&] {
                since.clear();
                const Lines all = traceLines(path_);
                for (std::size_t i = mark; i < all.size(); ++i)
                    for (const char* prefix :
                         {"tune ", "map h264 ", "map eac3 ", "map video ", "map son ", "map ac3 "})
                        if (all[i].rfind(prefix, 0) == 0)
                            since.push_back(all[i]);
                return since.size() >= count;
            },
            kStepTimeoutMs);
        return since;
    }
    std::size_t size() const { return traceLines(path_).size(); }
    // Whether the renderer drew a picture of that size ("picture 720x576") after line mark.
    bool pictureSince(std::size_t mark, const std::string& picture) const {
        const Lines all = traceLines(path_);
        return std::find(all.begin() + static_cast<std::ptrdiff_t>(std::min(mark, all.size())),
                         all.end(), picture) != all.end();
    }
    // Whether the renderer drew a picture after the last line that begins with prefix.
    bool pictureAfterLast(const std::string& prefix) const {
        const Lines all = traceLines(path_);
        auto last = std::find_if(all.rbegin(), all.rend(), [&](const std::string& line) {
            return line.rfind(prefix, 0) == 0;
        });
        return std::any_of(all.rbegin(), last,
                           [](const std::string& line) { return line.rfind("picture ", 0) == 0; });
    }

  private:
    static bool isChannelMap(const std::string& line) {
        for (const char* output : {"video ", "son ", "ac3 ", "pmt "})
            for (const char* verb : {"map ", "unmap "})
                if (line.rfind(std::string(verb) + output, 0) == 0)
                    return true;
        return false;
    }
    std::wstring path_;
};

// ---- Files of the folder

std::set<std::wstring> filesMatching(const std::wstring& folder, const wchar_t* pattern) {
    std::set<std::wstring> names;
    WIN32_FIND_DATAW entry{};
    HANDLE find = FindFirstFileW((folder + L"\\" + pattern).c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE)
        return names;
    do
        names.insert(entry.cFileName);
    while (FindNextFileW(find, &entry));
    FindClose(find);
    return names;
}

// The program writes its recordings and screenshots without sharing: a file that opens
// without sharing is closed.
bool closedByProgram(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(file);
    return true;
}

// The one file matching pattern that appears after `before` was listed.
std::wstring waitForNewFile(const std::wstring& folder, const wchar_t* pattern,
                            const std::set<std::wstring>& before) {
    std::wstring found;
    waitUntil(
        [&] {
            for (const std::wstring& name : filesMatching(folder, pattern))
                if (!before.count(name))
                    found = name;
            return !found.empty();
        },
        kStepTimeoutMs);
    return found;
}

std::string utf8(const std::wstring& text) {
    const int size =
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size > 0 ? size : 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out.data(), size, nullptr, nullptr);
    out.resize(std::strlen(out.c_str()));
    return out;
}

// The channel's name as the program shows it (its 8-bit text in the system's code page).
// The name as the program shows it: without its character-table selector.
std::wstring shownName(const DemoChannel& channel) {
    const std::string_view name = korvane::shownDvbText(channel.name);
    wchar_t wide[128] = {};
    MultiByteToWideChar(CP_ACP, 0, name.data(), static_cast<int>(name.size()), wide, 127);
    return wide;
}

// The same without the character-table selector that today's channels put first.
std::wstring viewedName(const DemoChannel& channel) {
    const char* name = channel.name;
    if (*name == 0x05)
        ++name;
    wchar_t wide[128] = {};
    MultiByteToWideChar(28599, 0, name, -1, wide, 128); // ISO 8859-9, the 0x05 table
    return wide;
}

// The PID of the channel's picture, MPEG-2 or H.264.
int32_t picturePid(const DemoChannel& channel) {
    return channel.video ? channel.video : channel.h264;
}

// ---- The session

const DemoChannel& channel(const char* name) {
    for (const DemoChannel& c : kDemoCity)
        if (std::string(c.name) == name)
            return c;
    ADD_FAILURE() << "no channel " << name;
    return kDemoCity[0];
}

// One line of session.tsv, fields separated by tabs.
// The texts of the message boxes and dialogs the program shows, to say why a step did
// not happen.
std::string boxesShown(DWORD processId) {
    struct Found {
        DWORD processId;
        std::string texts;
    } found{processId, {}};
    EnumWindows(
        [](HWND window, LPARAM param) -> BOOL {
            auto& f = *reinterpret_cast<Found*>(param);
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            wchar_t name[64] = {};
            GetClassNameW(window, name, 64);
            if (owner != f.processId || !IsWindowVisible(window) ||
                std::wstring_view(name) != L"#32770")
                return TRUE;
            EnumChildWindows(
                window,
                [](HWND child, LPARAM texts) -> BOOL {
                    wchar_t text[512] = {};
                    if (GetWindowTextW(child, text, 512) > 0)
                        *reinterpret_cast<std::string*>(texts) += " [" + utf8(text) + "]";
                    return TRUE;
                },
                reinterpret_cast<LPARAM>(&f.texts));
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found.texts.empty() ? " none" : found.texts;
}

void listFile(FILE* list, std::initializer_list<std::string> fields) {
    std::string line;
    for (const std::string& field : fields)
        line += (line.empty() ? "" : "\t") + field;
    std::fprintf(list, "%s\n", line.c_str());
    std::fflush(list);
    std::printf("Made: %s\n", line.c_str());
}

// What the scan's dialog listed while it ran: it closes as soon as the scan ends, so the
// last frequency's names may come too late to be read.
struct ScanSeen {
    std::size_t listed = 0;
    std::set<std::wstring> names;
};

ScanSeen watchScan(HWND scan) {
    ScanSeen seen;
    while (IsWindow(scan)) {
        HWND names = GetDlgItem(scan, IDC_SCAN_NAMES);
        DWORD_PTR count = 0;
        if (SendMessageTimeoutW(names, LB_GETCOUNT, 0, 0, SMTO_ABORTIFHUNG, 500, &count) &&
            count != static_cast<DWORD_PTR>(LB_ERR)) {
            seen.listed = std::max(seen.listed, static_cast<std::size_t>(count));
            for (DWORD_PTR i = 0; i < count; ++i) {
                wchar_t text[256] = {};
                DWORD_PTR length = 0;
                if (SendMessageTimeoutW(names, LB_GETTEXT, i, reinterpret_cast<LPARAM>(text),
                                        SMTO_ABORTIFHUNG, 500, &length) &&
                    length > 0 && length < 256 && length == wcslen(text))
                    seen.names.insert(text);
            }
        }
        Sleep(20);
    }
    return seen;
}

struct Step {
    const char* what;
    std::function<void()> act;
    Lines expected; // the tunes and PID maps it implies, in order
};

// Keys, the wheel and the menu, from the first channel (TV Une) to Hexagone 2 with its AC-3
// track. The channels are numbered as the city's multiplexes announce them; "TV Une" (1) is
// first, "Six TV HD" (56) last.
std::vector<Step> channelSteps(HWND window) {
    return {
        {"Down: the next channel, Hexagone 2, on another frequency",
         [=] { press(window, {{VK_DOWN}}); },
         {"unmap video 288", "unmap son 304", "unmap pmt 1061", "tune 586167", "map video 288 es",
          "map son 304 es", "map pmt 1011 psi"}},
        {"Up: back to TV Une",
         [=] { press(window, {{VK_UP}}); },
         {"unmap video 288", "unmap son 304", "unmap pmt 1011", "tune 562167", "map video 288 es",
          "map son 304 es", "map pmt 1061 psi"}},
        {"5, 6: Six TV HD, whose H.264 picture is not mapped",
         [=] {
             press(window, {{'5'}, {'6'}});
         },
         {"unmap video 288", "unmap son 304", "unmap pmt 1061", "tune 538167", "map son 816 es",
          "map pmt 1053 psi"}},
        {"wheel towards the user: the next channel after the last is the first, TV Une",
         [=] { turnWheel(window, -1); },
         {"unmap son 816", "unmap pmt 1053", "tune 562167", "map video 288 es", "map son 304 es",
          "map pmt 1061 psi"}},
        {"\"Utilise l'AC3 par défaut\" from the Commandes menu, then Down: Hexagone 2 plays "
         "its AC-3 track",
         [=] {
             // The menu bar (F10), its third menu, its sixth item (the separator skipped).
             press(window, {{VK_F10},
                            {VK_RIGHT},
                            {VK_RIGHT},
                            {VK_DOWN},
                            {VK_DOWN},
                            {VK_DOWN},
                            {VK_DOWN},
                            {VK_DOWN},
                            {VK_DOWN},
                            {VK_RETURN},
                            {VK_DOWN}});
         },
         {"unmap video 288", "unmap son 304", "unmap pmt 1061", "tune 586167", "map video 288 es",
          "map ac3 307 es", "map pmt 1011 psi"}},
        {"Down: Hexagone 3 on the same frequency, without AC-3: its first track, no tune",
         [=] { press(window, {{VK_DOWN}}); },
         {"unmap video 288", "unmap ac3 307", "unmap pmt 1011", "map video 544 es",
          "map son 560 es", "map pmt 1012 psi"}},
        {"wheel away from the user: back to Hexagone 2 on the same frequency, its AC-3 track",
         [=] { turnWheel(window, 1); },
         {"unmap video 544", "unmap son 560", "unmap pmt 1012", "map video 288 es",
          "map ac3 307 es", "map pmt 1011 psi"}},
        {"Ctrl+2 (greyed while AC-3 plays: nothing), Ctrl+1: the first track",
         [=] {
             press(window, {{'2', VK_CONTROL}, {'1', VK_CONTROL}});
         },
         {"unmap ac3 307", "map son 304 es"}},
        {"Ctrl+2: the second track",
         [=] {
             press(window, {{'2', VK_CONTROL}});
         },
         {"unmap son 304", "map son 305 es"}},
        {"Ctrl+3 (greyed on the second track: nothing), Ctrl+1: the first track",
         [=] {
             press(window, {{'3', VK_CONTROL}, {'1', VK_CONTROL}});
         },
         {"unmap son 305", "map son 304 es"}},
        {"Ctrl+3: the AC-3 track",
         [=] {
             press(window, {{'3', VK_CONTROL}});
         },
         {"unmap son 304", "map ac3 307 es"}},
    };
}

class UserSession : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(sessionFolder.empty()) << "usage: user_session_driver UNIX_FOLDER";
        folder_ = windowsPath(sessionFolder);
        list_ = _wfopen((folder_ + L"\\session.tsv").c_str(), L"w");
        ASSERT_NE(list_, nullptr);
    }
    void TearDown() override {
        if (list_)
            std::fclose(list_);
    }

    // The testbed's tuner and decoders and the demo city, then OK, all through the dialog's
    // own controls.
    static void configure(HWND dialog) {
        const struct {
            int id;
            const wchar_t* item;
        } choices[] = {{IDC_TUNER, L"Korvane Testbed Tuner USB"},
                       {IDC_CITY, L"Démoville"},
                       {IDC_VIDEO_DECODER, L"Korvane Testbed MPEG-2 Video Decoder"},
                       {IDC_AUDIO_DECODER, L"Korvane Testbed MPEG Audio Decoder"},
                       {IDC_AC3_DECODER, L"Korvane Testbed AC-3 Audio Decoder"}};
        for (const auto& choice : choices)
            ASSERT_TRUE(chooseInCombo(dialog, choice.id, choice.item)) << utf8(choice.item);
        clickButton(dialog, IDOK);
    }

    // The names listed are those of the city's services, the radios and the data service too.
    static void expectCityNames(const ScanSeen& seen) {
        std::set<std::wstring> cityNames = {L"Radio Hexagone", L"Guide Infos", L"Radio Une"};
        for (const DemoChannel& c : kDemoCity) {
            cityNames.insert(shownName(c));
            cityNames.insert(viewedName(c)); // without the selector of today's channels
        }
        std::printf("The scan's list showed up to %zu names while it ran.\n", seen.listed);
        EXPECT_GE(seen.listed, 3u) << "the scan's list filled while it ran";
        for (const std::wstring& name : seen.names)
            EXPECT_TRUE(cityNames.count(name)) << "listed by the scan: " << utf8(name);
    }

    // Starts a recording with its key, lets it run about two seconds, stops it with
    // Ctrl+Enter; the file's name and how long it was open, from outside.
    std::pair<std::wstring, double> record(HWND window, WORD key) {
        const std::set<std::wstring> before = filesMatching(folder_, L"*.mpg");
        press(window, {{key, VK_CONTROL}});
        const std::wstring name = waitForNewFile(folder_, L"*.mpg", before);
        const DWORD started = GetTickCount();
        if (name.empty()) {
            ADD_FAILURE() << "no recording started";
            return {};
        }
        Sleep(2000); // the length of the recording, not a wait for the program
        press(window, {{VK_RETURN, VK_CONTROL}});
        EXPECT_TRUE(
            waitUntil([&] { return closedByProgram(folder_ + L"\\" + name); }, kStepTimeoutMs))
            << "the recording was not stopped";
        return {name, (GetTickCount() - started) / 1000.0};
    }

    // The three recordings of the channel playing its AC-3 track; what each must hold goes
    // to session.tsv.
    void recordThreeWays(HWND window, const DemoChannel& on) {
        const std::string frequency = std::to_string(on.frequency);
        const std::wstring prefix = shownName(on) + L" ";
        {
            SCOPED_TRACE("Ctrl+T, Ctrl+Enter: the channel as a transport stream");
            const auto [name, seconds] = record(window, 'T');
            EXPECT_EQ(name.rfind(prefix, 0), 0u) << utf8(name);
            listFile(list_,
                     {"channel-ts", utf8(name), frequency, std::to_string(on.pmt),
                      std::to_string(on.video), std::to_string(on.ac3), std::to_string(seconds)});
        }
        {
            SCOPED_TRACE("Ctrl+Space, Ctrl+Enter: the channel as a program stream");
            const auto [name, seconds] = record(window, VK_SPACE);
            EXPECT_EQ(name.rfind(prefix, 0), 0u) << utf8(name);
            listFile(list_, {"channel-ps", utf8(name), frequency, std::to_string(on.video),
                             std::to_string(on.ac3), "ac3", std::to_string(seconds)});
        }
        {
            SCOPED_TRACE("Ctrl+M, Ctrl+Enter: the whole multiplex");
            const auto [name, seconds] = record(window, 'M');
            EXPECT_EQ(name.rfind(L"Transport Stream ", 0), 0u) << utf8(name);
            listFile(list_, {"multiplex", utf8(name), frequency, std::to_string(seconds)});
        }
    }

    // Ctrl+X: a screenshot named after the channel, listed with the video PIDs of the other
    // channels of its multiplex, the pictures it must not be.
    void screenshot(HWND window, const DemoChannel& on) {
        const std::set<std::wstring> before = filesMatching(folder_, L"*.bmp");
        press(window, {{'X', VK_CONTROL}});
        const std::wstring name = waitForNewFile(folder_, L"*.bmp", before);
        ASSERT_FALSE(name.empty()) << "no screenshot written";
        EXPECT_TRUE(
            waitUntil([&] { return closedByProgram(folder_ + L"\\" + name); }, kStepTimeoutMs));
        EXPECT_EQ(name.rfind(viewedName(on) + L" ", 0), 0u) << utf8(name);
        std::string others;
        for (const DemoChannel& c : kDemoCity)
            if (c.frequency == on.frequency && picturePid(c) && picturePid(c) != picturePid(on))
                others += (others.empty() ? "" : ",") + std::to_string(picturePid(c));
        listFile(list_, {"screenshot", utf8(name), std::to_string(on.frequency),
                         std::to_string(picturePid(on)), others});
    }

    // Channels as broadcast today, from Hexagone 2 (MPEG-2, its AC-3 track) and back: to an
    // H.264 channel of its multiplex with E-AC-3 sound and back, then to an H.264 channel of
    // another multiplex (MPEG-1 Layer II sound) and back. Each channel's PIDs go to their
    // outputs, the H.264 pictures are drawn at their size, and each screenshot is the new
    // channel's picture, never the one before.
    void todaysChannels(HWND window, const Trace& trace) {
        struct Zap {
            const char* what;
            const char* typed; // digits of the channel's number
            const char* channel;
            Lines maps;
            const char* picture;
        };
        const Zap zaps[] = {
            {"7: Sept Arts, H.264 and its French E-AC-3 track, same multiplex",
             "7",
             "\x05Sept Arts",
             {"map h264 1824 es", "map eac3 1840 es"},
             "picture 720x576"},
            {"2: back to Hexagone 2, MPEG-2",
             "2",
             "Hexagone 2",
             {"map video 288 es", "map ac3 307 es"},
             "picture 352x288"},
            {"3, 0: the regional H.264 channel on another multiplex, MPEG-1 Layer II sound",
             "30",
             "\x05Hexagone 3 C\xF4te d'Azur",
             {"tune 562167", "map h264 1312 es", "map son 1328 es"},
             "picture 720x576"},
            {"2: Hexagone 2 again, across the two multiplexes",
             "2",
             "Hexagone 2",
             {"tune 586167", "map video 288 es", "map ac3 307 es"},
             "picture 352x288"},
        };
        for (const Zap& zap : zaps) {
            SCOPED_TRACE(zap.what);
            const std::size_t mark = trace.size();
            for (const char* digit = zap.typed; *digit; ++digit)
                press(window, {{WORD(*digit)}});
            EXPECT_EQ(trace.todaysMapsSince(mark, zap.maps.size()), zap.maps);
            EXPECT_TRUE(
                waitUntil([&] { return trace.pictureSince(mark, zap.picture); }, kStepTimeoutMs))
                << "no " << zap.picture;
            // A moment for the new channel's pictures to replace the last one.
            Sleep(1000);
            screenshot(window, channel(zap.channel));
            std::printf("Step done: %s.\n", zap.what);
        }
    }

    // G opens the guide, which lists programmes; Escape closes it.
    static void guide(const ProgramRun& run, HWND window) {
        press(window, {{'G'}});
        HWND guide = run.waitForWindow(L"#32770", kStepTimeoutMs, L"Guide des programmes");
        ASSERT_NE(guide, nullptr);
        HWND events = GetDlgItem(guide, IDC_GUIDE_LIST);
        EXPECT_TRUE(waitUntil([&] { return SendMessageW(events, LVM_GETITEMCOUNT, 0, 0) > 0; },
                              kStepTimeoutMs))
            << "the guide lists the programmes received";
        press(guide, {{VK_ESCAPE}});
        EXPECT_TRUE(waitUntil([&] { return !IsWindow(guide); }, kStepTimeoutMs));
    }

    // Space: the whole screen without a caption; Space again: the window as it was.
    static void fullScreenAndBack(HWND window) {
        RECT windowed{};
        GetWindowRect(window, &windowed);
        const RECT screen = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
        const auto rectIs = [&](const RECT& expected) {
            RECT now{};
            GetWindowRect(window, &now);
            return EqualRect(&now, &expected) != FALSE;
        };
        press(window, {{VK_SPACE}});
        EXPECT_TRUE(waitUntil([&] { return rectIs(screen); }, kStepTimeoutMs));
        EXPECT_EQ(GetWindowLongW(window, GWL_STYLE) & WS_CAPTION, 0) << "no caption";
        press(window, {{VK_SPACE}});
        EXPECT_TRUE(waitUntil([&] { return rectIs(windowed); }, kStepTimeoutMs));
        EXPECT_EQ(GetWindowLongW(window, GWL_STYLE) & WS_CAPTION, WS_CAPTION);
    }

    // The choices and the last channel are kept; the channel file holds the city.
    void expectSavedSession(const ProgramRun& run) const {
        EXPECT_EQ(run.readConfig(L"Tuner TNT"), L"Korvane Testbed Tuner USB");
        EXPECT_EQ(run.readConfig(L"Récepteur TNT"), L"");
        EXPECT_EQ(run.readConfig(L"Ville"), L"Démoville");
        EXPECT_EQ(run.readConfig(L"Filtre vidéo"), L"Korvane Testbed MPEG-2 Video Decoder");
        EXPECT_EQ(run.readConfig(L"Filtre audio"), L"Korvane Testbed MPEG Audio Decoder");
        EXPECT_EQ(run.readConfig(L"Filtre AC3"), L"Korvane Testbed AC-3 Audio Decoder");
        EXPECT_EQ(run.readConfig(L"Utilise AC3 quand dispo"), L"Vrai");
        EXPECT_EQ(run.readConfig(L"Index chaine courante"), L"1") << "Hexagone 2";
        expectDemoCityChannels(readFile(folder_ + L"\\chaines.xml"));
    }

    // programmation.xml with one channel TS recording of Hexagone 2 (the channel the second
    // start plays) from `ahead` seconds from now for `seconds`; the UTC start.
    FileTime scheduleHexagone2(int ahead, int seconds) const {
        ChannelRecords records;
        EXPECT_TRUE(parseChannelFile(readFile(folder_ + L"\\chaines.xml"), records,
                                     replaceWithQuestionMarks));
        const auto found = std::find_if(records.begin(), records.end(), [](const ChannelInfo& c) {
            return c.name.view() == channel("Hexagone 2").name;
        });
        EXPECT_NE(found, records.end());
        if (found == records.end())
            return 0;
        FILETIME now;
        GetSystemTimeAsFileTime(&now);
        const FileTime second = 10'000'000;
        const FileTime start =
            (((FileTime{now.dwHighDateTime} << 32 | now.dwLowDateTime) / second) + ahead) * second;
        const DateTime local = *SystemTimeConverter().fileTimeToLocal(start);
        ScheduleFile file;
        ScheduledRecording& scheduled = file.schedules.emplace_back();
        scheduled.id = 1;
        scheduled.channel = scheduledChannelOf(*found);
        scheduled.date = DateTime{local.year, local.month, local.day, 0, 0, 0};
        scheduled.startSecond = local.hour * 3600 + local.minute * 60 + local.second;
        scheduled.endSecond = (scheduled.startSecond + seconds) % 86400;
        scheduled.format = RecorderMode::ChannelTs;
        file.lastCheck = start - second * ahead;
        EXPECT_TRUE(
            replaceFileContents(folder_ + L"\\programmation.xml", formatScheduleFile(file)));
        return start;
    }

    // The scheduled recording: its file appears and is closed by the program when its time
    // is over, and goes to session.tsv with the length asked.
    void expectScheduledRecording(const ProgramRun& run, const std::set<std::wstring>& before,
                                  int seconds) {
        const DemoChannel& on = channel("Hexagone 2");
        std::wstring name;
        EXPECT_TRUE(waitUntil(
            [&] {
                for (const std::wstring& file : filesMatching(folder_, L"*.mpg"))
                    if (!before.count(file))
                        name = file;
                return !name.empty();
            },
            60000))
            << "no scheduled recording started; boxes shown:" << boxesShown(run.processId());
        if (name.empty())
            return;
        EXPECT_TRUE(waitUntil([&] { return closedByProgram(folder_ + L"\\" + name); },
                              (seconds + 15) * 1000))
            << "the scheduled recording did not stop";
        EXPECT_EQ(name.rfind(shownName(on) + L" ", 0), 0u) << utf8(name);
        listFile(list_,
                 {"scheduled-ts", utf8(name), std::to_string(on.frequency), std::to_string(on.pmt),
                  std::to_string(on.video), std::to_string(on.ac3), std::to_string(seconds)});
    }

    std::wstring folder_;
    FILE* list_ = nullptr;
};

TEST_F(UserSession, FirstStartConfiguresScansPlaysRecordsAndTheSecondStartResumes) {
    ProgramRun run(folder_);
    ASSERT_TRUE(copyCityFile(run)) << "canaux.ini is shipped beside the program";
    // Broadcast speed, so that a recording's length is the time it ran.
    TestbedSettings testbed(run, "testbed/muxes", L"", L"1");
    const Trace trace(folder_ + L"\\trace.txt");
    ASSERT_TRUE(run.start());

    HWND dialog = run.waitForWindow(L"#32770", 60000, L"Configuration");
    ASSERT_NE(dialog, nullptr) << "a first start asks for the configuration";
    ASSERT_NO_FATAL_FAILURE(configure(dialog));
    HWND scan = run.waitForWindow(L"#32770", 30000, L"Scan des fréquences en cours");
    ASSERT_NE(scan, nullptr);
    expectCityNames(watchScan(scan));

    // The first channel plays: the six frequencies of the city scanned, then the first
    // channel's tuned again and mapped, and its pictures drawn.
    HWND window = run.waitForWindow(L"Korvane TV", 30000);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(trace.waitSince(0, 10),
              (Lines{"tune 586167", "tune 474167", "tune 522167", "tune 498167", "tune 538167",
                     "tune 562167", "tune 562167", "map video 288 es", "map son 304 es",
                     "map pmt 1061 psi"}));
    EXPECT_TRUE(waitUntil([&] { return trace.pictureAfterLast("tune "); }, kStepTimeoutMs))
        << "no picture drawn";
    EXPECT_EQ(run.waitForWindow(L"#32770", 200), nullptr) << "no box after the start";

    for (const Step& step : channelSteps(window)) {
        SCOPED_TRACE(step.what);
        const std::size_t mark = trace.mark();
        step.act();
        EXPECT_EQ(trace.waitSince(mark, step.expected.size()), step.expected);
        std::printf("Step done: %s.\n", step.what);
    }
    const std::size_t afterSteps = trace.mark();
    const DemoChannel& hexagone2 = channel("Hexagone 2");
    recordThreeWays(window, hexagone2);
    screenshot(window, hexagone2);
    guide(run, window);
    fullScreenAndBack(window);
    EXPECT_EQ(trace.waitSince(afterSteps, 0, 0), Lines{})
        << "recording, the screenshot, the guide and full screen change no channel";
    {
        SCOPED_TRACE("today's channels");
        todaysChannels(window, trace);
    }

    // "Quitter": the Fichier menu's last item, reached upwards from its first.
    press(window, {{VK_F10}, {VK_DOWN}, {VK_UP}, {VK_RETURN}});
    EXPECT_EQ(run.waitForExit(30000), 0u);
    expectSavedSession(run);

    // The second start goes straight to Hexagone 2 with its AC-3 track, without a scan, and
    // records it at the time programmation.xml says, without tuning again.
    constexpr int kScheduledSeconds = 6;
    ASSERT_NE(scheduleHexagone2(20, kScheduledSeconds), 0u);
    const std::set<std::wstring> recordingsBefore = filesMatching(folder_, L"*.mpg");
    ProgramRun again(folder_);
    const std::size_t beforeSecond = trace.mark();
    ASSERT_TRUE(again.start());
    HWND second = again.waitForWindow(L"Korvane TV", 60000);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(trace.waitSince(beforeSecond, 4),
              (Lines{"tune 586167", "map video 288 es", "map ac3 307 es", "map pmt 1011 psi"}));
    EXPECT_TRUE(waitUntil([&] { return trace.pictureAfterLast("tune "); }, kStepTimeoutMs));
    EXPECT_EQ(again.waitForWindow(L"#32770", 200), nullptr) << "no dialog: no scan";
    expectScheduledRecording(again, recordingsBefore, kScheduledSeconds);
    std::printf("Step done: the scheduled recording.\n");
    PostMessageW(second, WM_CLOSE, 0, 0);
    EXPECT_EQ(again.waitForExit(30000), 0u);
    EXPECT_EQ(trace.waitSince(beforeSecond, 0, 0).size(), 4u) << "one tune, nothing else";
    EXPECT_EQ(again.readConfig(L"Index chaine courante"), L"1");
}

} // namespace
} // namespace korvane::testing

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (argc > 1)
        korvane::testing::sessionFolder = argv[1];
    return RUN_ALL_TESTS();
}
