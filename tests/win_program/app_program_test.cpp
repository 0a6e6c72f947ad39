#include "program_runner.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

namespace korvane::testing {
namespace {

constexpr DWORD kStartTimeoutMs = 60000;
constexpr DWORD kExitTimeoutMs = 30000;
constexpr DWORD kFailedStart = static_cast<DWORD>(-1);

// Without a configured tuner, start-up stops at the configuration dialog over the main
// window; cancelling it ends the program after saving, since the tuner is still missing.
struct StartedProgram {
    HWND mainWindow = nullptr;
    HWND errorBox = nullptr; // the configuration dialog
};

StartedProgram startUntilErrorBox(ProgramRun& run) {
    StartedProgram started;
    if (!run.start()) {
        ADD_FAILURE() << "CreateProcess failed: " << GetLastError();
        return started;
    }
    started.errorBox = run.waitForWindow(L"#32770", kStartTimeoutMs);
    started.mainWindow = run.waitForWindow(L"Korvane TV", 1000);
    EXPECT_NE(started.errorBox, nullptr);
    EXPECT_NE(started.mainWindow, nullptr);
    return started;
}

DWORD finish(ProgramRun& run, const StartedProgram& started) {
    if (started.errorBox)
        pressCancel(started.errorBox);
    // A tuner that cannot be found ends the start without a message.
    return run.waitForExit(kExitTimeoutMs);
}

TEST(ProgramStart, FirstRunWithoutSettingsSavesEveryKeyWithItsDefault) {
    ProgramRun run;
    StartedProgram started = startUntilErrorBox(run);
    ASSERT_NE(started.errorBox, nullptr);
    // No tuner configured: the configuration dialog is the first thing shown.
    wchar_t caption[64] = {};
    GetWindowTextW(started.errorBox, caption, 64);
    EXPECT_STREQ(caption, L"Configuration");
    EXPECT_EQ(GetWindow(started.errorBox, GW_OWNER), started.mainWindow);

    wchar_t title[64] = {};
    GetWindowTextW(started.mainWindow, title, 64);
    EXPECT_STREQ(title, L"Korvane TV");
    const LONG style = GetWindowLongW(started.mainWindow, GWL_STYLE);
    const LONG expected = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN | WS_CLIPSIBLINGS;
    EXPECT_EQ(style & expected, expected);
    EXPECT_EQ(GetClassLongW(started.mainWindow, GCL_STYLE) & CS_DBLCLKS, UINT(CS_DBLCLKS));
    RECT r{};
    GetWindowRect(started.mainWindow, &r);
    EXPECT_EQ(r.right - r.left, 800);
    EXPECT_EQ(r.bottom - r.top, 600);
    HWND bar = GetDlgItem(started.mainWindow, 41234);
    ASSERT_NE(bar, nullptr);
    wchar_t barClass[64] = {};
    GetClassNameW(bar, barClass, 64);
    EXPECT_EQ(lstrcmpiW(barClass, L"msctls_statusbar32"), 0);
    EXPECT_EQ(GetPriorityClass(run.process()), DWORD(ABOVE_NORMAL_PRIORITY_CLASS));

    EXPECT_EQ(finish(run, started), kFailedStart);

    const std::wstring& dir = run.folder();
    const std::vector<std::wstring> expectedLines = {
        L"Tuner TNT=",
        L"Récepteur TNT=",
        L"Filtre vidéo=",
        L"Filtre audio=",
        L"Filtre AC3=",
        L"Ville=",
        L"Recherche stricte=1",
        L"Index chaine courante=-1",
        L"Répertoire vidéo=" + dir,
        L"Répertoire screenshots=" + dir,
        L"Priorité=Supérieure",
        L"Envoie programme regardé à MSN=Faux",
        L"Fenêtre toujours devant=Faux",
        L"Utilise AC3 quand dispo=Faux",
        L"Utilise toute la largeur=Faux",
        L"Utilise le désentrelacement du VMR=Faux",
        L"Facteur de zoom=100",
        L"Abscisse fenêtre=" + std::to_wstring(r.left),
        L"Ordonnée fenêtre=" + std::to_wstring(r.top),
        L"Largeur fenêtre=800",
        L"Hauteur fenêtre=600",
        // The scheduling settings, after the specified keys.
        L"Marge avant=2",
        L"Marge après=10",
        L"Réduire dans la zone de notification=Faux",
    };
    EXPECT_EQ(run.configLines(), expectedLines);
}

TEST(ProgramStart, SecondInstanceEndsAtOnceWithoutAnyWindow) {
    ProgramRun first;
    StartedProgram started = startUntilErrorBox(first);
    ASSERT_NE(started.errorBox, nullptr);

    ProgramRun second;
    ASSERT_TRUE(second.start());
    bool sawWindow = false;
    DWORD code = STILL_ACTIVE;
    for (int i = 0; i < 300 && code == STILL_ACTIVE; ++i) {
        sawWindow = sawWindow || second.hasWindow();
        code = second.waitForExit(100);
    }
    EXPECT_EQ(code, 0u);
    EXPECT_FALSE(sawWindow);
    EXPECT_EQ(GetFileAttributesW(second.configPath().c_str()), INVALID_FILE_ATTRIBUTES);

    EXPECT_EQ(first.waitForExit(0), DWORD(STILL_ACTIVE));
    EXPECT_TRUE(IsWindow(started.errorBox));
    EXPECT_EQ(finish(first, started), kFailedStart);
}

TEST(ProgramSettings, PriorityWordsAreReadWithCaseAndSavedFromTheProcess) {
    struct Case {
        const wchar_t* stored;
        DWORD priorityClass;
        const wchar_t* saved;
    };
    for (const Case& c : {Case{L"Normale", NORMAL_PRIORITY_CLASS, L"Normale"},
                          Case{L"normale", ABOVE_NORMAL_PRIORITY_CLASS, L"Supérieure"},
                          Case{L"Inférieure", BELOW_NORMAL_PRIORITY_CLASS, L"Inférieure"}}) {
        ProgramRun run;
        run.writeConfig(L"Priorité", c.stored);
        StartedProgram started = startUntilErrorBox(run);
        ASSERT_NE(started.errorBox, nullptr);
        EXPECT_EQ(GetPriorityClass(run.process()), c.priorityClass) << c.stored;
        EXPECT_EQ(finish(run, started), kFailedStart);
        EXPECT_EQ(run.readConfig(L"Priorité"), c.saved) << c.stored;
    }
}

TEST(ProgramSettings, PriorityChangedFromOutsideIsSavedAsAboveNormal) {
    ProgramRun run;
    run.writeConfig(L"Priorité", L"Haute");
    StartedProgram started = startUntilErrorBox(run);
    ASSERT_NE(started.errorBox, nullptr);
    EXPECT_EQ(GetPriorityClass(run.process()), DWORD(HIGH_PRIORITY_CLASS));
    ASSERT_TRUE(SetPriorityClass(run.process(), IDLE_PRIORITY_CLASS));
    EXPECT_EQ(finish(run, started), kFailedStart);
    EXPECT_EQ(run.readConfig(L"Priorité"), L"Supérieure");
}

TEST(ProgramSettings, OnlyExactVraiStaysOnAndAccentedTextSurvives) {
    ProgramRun run;
    run.writeConfig(L"Fenêtre toujours devant", L"vrai");
    run.writeConfig(L"Utilise AC3 quand dispo", L"Vrai");
    run.writeConfig(L"Récepteur TNT", L"Récepteur numérique é");
    run.writeConfig(L"Ville", L"Besançon");
    run.writeConfig(L"Index chaine courante", L"7");
    run.writeConfig(L"Facteur de zoom", L"0");
    run.writeConfig(L"Autre clé", L"gardée");
    StartedProgram started = startUntilErrorBox(run);
    ASSERT_NE(started.errorBox, nullptr);
    EXPECT_EQ(GetWindowLongW(started.mainWindow, GWL_EXSTYLE) & WS_EX_TOPMOST, 0);
    EXPECT_EQ(finish(run, started), kFailedStart);
    EXPECT_EQ(run.readConfig(L"Fenêtre toujours devant"), L"Faux");
    EXPECT_EQ(run.readConfig(L"Utilise AC3 quand dispo"), L"Vrai");
    EXPECT_EQ(run.readConfig(L"Récepteur TNT"), L"Récepteur numérique é");
    EXPECT_EQ(run.readConfig(L"Ville"), L"Besançon");
    EXPECT_EQ(run.readConfig(L"Facteur de zoom"), L"0");
    EXPECT_EQ(run.readConfig(L"Autre clé"), L"gardée");
    // No channel was selected: the saved index is the list's, not the one read.
    EXPECT_EQ(run.readConfig(L"Index chaine courante"), L"-1");
}

TEST(ProgramSettings, WindowGeometryIsRestoredAndSavedFromTheWindow) {
    ProgramRun run;
    run.writeConfig(L"Abscisse fenêtre", L"120");
    run.writeConfig(L"Ordonnée fenêtre", L"80");
    run.writeConfig(L"Largeur fenêtre", L"640");
    run.writeConfig(L"Hauteur fenêtre", L"480");
    StartedProgram started = startUntilErrorBox(run);
    ASSERT_NE(started.mainWindow, nullptr);
    RECT r{};
    GetWindowRect(started.mainWindow, &r);
    EXPECT_EQ(r.left, 120);
    EXPECT_EQ(r.top, 80);
    EXPECT_EQ(r.right - r.left, 640);
    EXPECT_EQ(r.bottom - r.top, 480);

    // Moved and resized while running: the save takes the window's rectangle.
    SetWindowPos(started.mainWindow, nullptr, 200, 150, 700, 500, SWP_NOZORDER | SWP_NOACTIVATE);
    EXPECT_EQ(finish(run, started), kFailedStart);
    EXPECT_EQ(run.readConfig(L"Abscisse fenêtre"), L"200");
    EXPECT_EQ(run.readConfig(L"Ordonnée fenêtre"), L"150");
    EXPECT_EQ(run.readConfig(L"Largeur fenêtre"), L"700");
    EXPECT_EQ(run.readConfig(L"Hauteur fenêtre"), L"500");
}

} // namespace
} // namespace korvane::testing
