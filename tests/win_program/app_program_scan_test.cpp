// The scan interrupted under Wine with the testbed: the program's window closed or the
// session ended at several moments of the scan, and Escape in the scan dialog, with and
// without keeping the channels found.
#include "program_runner.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

namespace korvane::testing {
namespace {

// A city of three demo multiplexes between three frequencies without signal, each of which
// holds the scan for the SDT's time-out: 586167, 786167, 474167, 794167, 522167, 802167 kHz.
void writeInterleavedCity(const ProgramRun& run) {
    const std::wstring text = L"\uFEFF[Général]\r\nOffset=167\r\n\r\n[Essai]\r\nR1=35\r\nR2=60\r\n"
                              L"R3=21\r\nR4=61\r\nR5=27\r\nR6=62\r\n";
    HANDLE file = CreateFileW((run.folder() + L"\\canaux.ini").c_str(), GENERIC_WRITE, 0, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)), &written,
              nullptr);
    CloseHandle(file);
    run.writeConfig(L"Tuner TNT", L"Korvane Testbed Tuner USB");
    run.writeConfig(L"Filtre vidéo", L"Korvane Testbed MPEG-2 Video Decoder");
    run.writeConfig(L"Filtre audio", L"Korvane Testbed MPEG Audio Decoder");
    run.writeConfig(L"Filtre AC3", L"Korvane Testbed AC-3 Audio Decoder");
    run.writeConfig(L"Ville", L"Essai");
}

bool waitForTunes(const TestbedSettings& testbed, std::size_t count, DWORD timeoutMs) {
    for (DWORD waited = 0; waited < timeoutMs; waited += 50) {
        if (testbed.trace("tune").size() >= count)
            return true;
        Sleep(50);
    }
    return false;
}

bool fileExists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

struct BoxSearch {
    DWORD process;
    HWND found;
};

BOOL CALLBACK findBox(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<BoxSearch*>(param);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    wchar_t kind[16] = {};
    GetClassNameW(window, kind, 16);
    wchar_t title[64] = {};
    GetWindowTextW(window, title, 64);
    if (process == search->process && IsWindowVisible(window) && std::wstring(kind) == L"#32770" &&
        std::wstring(title) != L"Scan des fréquences en cours") {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

// A dialog of the process other than the scan dialog (a message box), waiting up to
// timeoutMs.
HWND waitForBox(const ProgramRun& run, DWORD timeoutMs) {
    for (DWORD waited = 0;; waited += 50) {
        BoxSearch search{run.processId(), nullptr};
        EnumWindows(findBox, reinterpret_cast<LPARAM>(&search));
        if (search.found || waited >= timeoutMs)
            return search.found;
        Sleep(50);
    }
}

struct Interruption {
    const char* name;
    UINT message;
    WPARAM wParam;
    std::size_t tunes; // the moment: once the scan has tuned this many frequencies
};

TEST(ProgramScanInterrupted, ClosedOrSessionEndedTheProgramEndsAtOnceSavingNothing) {
    const Interruption cases[] = {
        {"closed on the first, live, frequency", WM_CLOSE, 0, 1},
        {"closed on a frequency without signal", WM_CLOSE, 0, 2},
        {"closed late in the scan", WM_CLOSE, 0, 5},
        {"session ended on the first frequency", WM_ENDSESSION, TRUE, 1},
        {"session ended on a frequency without signal", WM_ENDSESSION, TRUE, 4},
    };
    for (const Interruption& c : cases) {
        SCOPED_TRACE(c.name);
        ProgramRun run;
        writeInterleavedCity(run);
        TestbedSettings testbed(run, "testbed/muxes", L"", L"1");
        ASSERT_TRUE(run.start());
        ASSERT_NE(run.waitForWindow(L"#32770", 60000, L"Scan des fréquences en cours"), nullptr);
        HWND window = run.waitForWindow(L"Korvane TV", 10000);
        ASSERT_NE(window, nullptr);
        ASSERT_TRUE(waitForTunes(testbed, c.tunes, 60000));
        PostMessageW(window, c.message, c.wParam, 0);
        const DWORD exitCode = run.waitForExit(10000);
        EXPECT_EQ(exitCode, 0u);
        if (exitCode == STILL_ACTIVE) {
            HWND box = waitForBox(run, 0);
            ADD_FAILURE() << "still running" << (box ? ", a box is shown" : "");
            TerminateProcess(run.process(), 1);
        }
        EXPECT_FALSE(fileExists(run.folder() + L"\\chaines.xml")) << "nothing saved";
        // The message may come while the next frequency is being tuned, never later.
        EXPECT_LE(testbed.trace("tune").size(), c.tunes + 1) << "no frequency tuned after";
    }
}

TEST(ProgramScanCancelled, EscapeAsksWhetherToKeepTheChannelsFoundSoFar) {
    for (const bool keep : {false, true}) {
        SCOPED_TRACE(keep ? "kept" : "not kept");
        ProgramRun run;
        writeInterleavedCity(run);
        TestbedSettings testbed(run, "testbed/muxes");
        ASSERT_TRUE(run.start());
        HWND dialog = run.waitForWindow(L"#32770", 60000, L"Scan des fréquences en cours");
        ASSERT_NE(dialog, nullptr);
        // Two live frequencies read, the third without signal being read.
        ASSERT_TRUE(waitForTunes(testbed, 4, 60000));
        PostMessageW(dialog, WM_KEYDOWN, VK_ESCAPE, 0);
        HWND box = waitForBox(run, 10000);
        ASSERT_NE(box, nullptr) << "no question";
        const std::wstring question = messageText(box);
        EXPECT_EQ(question.rfind(L"Garder les ", 0), 0u) << question.size();
        EXPECT_NE(question.find(L" chaînes trouvées ?"), std::wstring::npos);
        const int count = _wtoi(question.c_str() + 11);
        EXPECT_GT(count, 0);
        clickButton(box, keep ? IDYES : IDNO);
        if (keep) {
            HWND window = run.waitForWindow(L"Korvane TV", 10000);
            ASSERT_NE(window, nullptr);
            for (int i = 0; i < 100 && !fileExists(run.folder() + L"\\chaines.xml"); ++i)
                Sleep(100);
            const std::string file = readFile(run.folder() + L"\\chaines.xml");
            EXPECT_NE(file.find("<Chaine>"), std::string::npos);
            EXPECT_EQ(file.find("Frequence>522167<"), std::string::npos)
                << "no channel of a frequency after the cancel";
            PostMessageW(window, WM_CLOSE, 0, 0);
        }
        EXPECT_EQ(run.waitForExit(30000), 0u);
        EXPECT_EQ(fileExists(run.folder() + L"\\chaines.xml"), keep);
        EXPECT_EQ(testbed.trace("tune 522167").size(), 0u) << "the scan stopped";
        if (run.waitForExit(0) == STILL_ACTIVE)
            TerminateProcess(run.process(), 1);
    }
}

} // namespace
} // namespace korvane::testing
