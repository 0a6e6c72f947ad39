#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace korvane::testing {

// The program, started by CreateProcess in a fresh working directory of its own.
class ProgramRun {
  public:
    ProgramRun();
    // The program in a folder that already exists and stays after the run, so that its files
    // can be checked from outside and the next start can find them.
    explicit ProgramRun(std::wstring folder);
    ~ProgramRun();
    ProgramRun(const ProgramRun&) = delete;
    ProgramRun& operator=(const ProgramRun&) = delete;

    const std::wstring& folder() const { return folder_; }
    std::wstring configPath() const { return folder_ + L"\\config.ini"; }
    void writeConfig(const wchar_t* key, const wchar_t* value) const;
    std::wstring readConfig(const wchar_t* key) const;
    // "key=value" lines of section "Config" in file order, as the platform reads them.
    std::vector<std::wstring> configLines() const;

    bool start();
    DWORD processId() const { return info_.dwProcessId; }
    HANDLE process() const { return info_.hProcess; }

    // The first visible top-level window of the process with this class (and this caption,
    // when one is given), waiting up to timeoutMs.
    HWND waitForWindow(const wchar_t* className, DWORD timeoutMs,
                       const wchar_t* title = nullptr) const;
    // Any visible top-level window of the process right now.
    bool hasWindow() const;
    // The exit code, or STILL_ACTIVE after timeoutMs.
    DWORD waitForExit(DWORD timeoutMs) const;

  private:
    std::wstring folder_;
    bool keepFolder_ = false;
    PROCESS_INFORMATION info_{};
};

// The text of every child of a window (a message box's text is one of them).
std::wstring childTexts(HWND window);
// The message of a message box.
std::wstring messageText(HWND box);

// The testbed's settings for the programs started while it lives: the multiplex folder (a
// folder of the build tree), the speed (eight times faster than broadcast unless said), a
// trace file in the run's folder and the fault switches.
class TestbedSettings {
  public:
    TestbedSettings(const ProgramRun& run, const char* muxFolder, const wchar_t* faults = L"",
                    const wchar_t* speed = L"8");
    ~TestbedSettings();
    TestbedSettings(const TestbedSettings&) = delete;
    TestbedSettings& operator=(const TestbedSettings&) = delete;
    // The trace's lines without time stamps, those that begin with prefix.
    std::vector<std::string> trace(const std::string& prefix = "") const;

  private:
    std::wstring tracePath_;
};

// Copies the canaux.ini shipped beside the program into the run's folder.
bool copyCityFile(const ProgramRun& run);
// The whole file, or nothing when it cannot be read.
std::string readFile(const std::wstring& path);

// The items of a combo box of a dialog of another process.
std::vector<std::wstring> comboItems(HWND dialog, int id);
// Selects the item as the mouse would: the selection, then the notification the dialog gets
// from its box. False when the box has no such item.
bool chooseInCombo(HWND dialog, int id, const std::wstring& item);
// Clicks a button of a dialog of another process, through the button itself.
void clickButton(HWND dialog, int id);
// Presses OK, or Cancel, in a dialog box of another process.
void pressOk(HWND box);
void pressCancel(HWND box);

} // namespace korvane::testing
