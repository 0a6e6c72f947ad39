// config.ini as the program saves and loads it: a folder whose name the ANSI code page cannot
// hold survives a restart, and a file that cannot be written is told once.
#include "app/win/config_store.h"
#include "box_collector.h"
#include "process_state.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

namespace korvane::testing {
namespace {

using Texts = std::vector<std::wstring>;

const wchar_t* const kWriteFailed = L"Impossible d'écrire le fichier config.ini : les réglages "
                                    L"ne seront pas gardés après la fermeture du programme.";

// The program's working directory: a folder of the test's own under the temporary one,
// named as the test says.
class ConfigStoreTest : public ::testing::Test {
  protected:
    void enter(const std::wstring& name) {
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        GetCurrentDirectoryW(MAX_PATH, previous_);
        folder_ = std::wstring(temp) + name + L" " + std::to_wstring(GetCurrentProcessId());
        ASSERT_TRUE(CreateDirectoryW(folder_.c_str(), nullptr) ||
                    GetLastError() == ERROR_ALREADY_EXISTS);
        ASSERT_TRUE(SetCurrentDirectoryW(folder_.c_str()));
        resetProcessState();
    }
    void TearDown() override {
        SetCurrentDirectoryW(previous_);
        DeleteFileW(configFile().c_str());
        RemoveDirectoryW(folder_.c_str());
        resetProcessState();
    }
    std::wstring configFile() const { return folder_ + L"\\config.ini"; }

    std::wstring folder_;
    wchar_t previous_[MAX_PATH] = {};
};

// Run from a folder in Polish and Japanese: the default folders are the working directory,
// saved and read back whole after a "restart", with a video folder chosen in such a name too.
TEST_F(ConfigStoreTest, AFolderTheCodePageCannotHoldSurvivesARestart) {
    enter(L"Łódź ąę 東京");
    loadConfig();
    EXPECT_EQ(
        std::wstring(appConfig().screenshotFolder.begin(), appConfig().screenshotFolder.end()),
        folder_);
    appConfig().videoFolder = u"D:\\Vidéos\\Łódź ąę 東京";
    appConfig().city = u"Paris";
    saveConfig();

    resetProcessState();
    loadConfig();
    EXPECT_EQ(appConfig().videoFolder, u"D:\\Vidéos\\Łódź ąę 東京");
    EXPECT_EQ(
        std::wstring(appConfig().screenshotFolder.begin(), appConfig().screenshotFolder.end()),
        folder_);
    EXPECT_EQ(appConfig().city, u"Paris");
}

// A config.ini that cannot be written (held by another program without sharing; a read-only
// file behaves alike, though not for root under Wine): one box for a run of failed saves,
// another for the next run after a save has succeeded in between; the settings stay in
// memory all along.
TEST_F(ConfigStoreTest, AFailedWriteIsToldOnceUntilAWriteSucceeds) {
    enter(L"korvane-config");
    BoxCollector boxes;
    const struct {
        bool held;
        int saves;
    } runs[] = {{false, 1}, {true, 3}, {false, 1}, {true, 2}};
    for (const auto& run : runs) {
        HANDLE holder = INVALID_HANDLE_VALUE;
        if (run.held) {
            holder = CreateFileW(configFile().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
            ASSERT_NE(holder, INVALID_HANDLE_VALUE);
        }
        for (int i = 0; i < run.saves; ++i) {
            appConfig().zoomPercent = 100 + i;
            saveConfig();
        }
        if (holder != INVALID_HANDLE_VALUE)
            CloseHandle(holder);
    }
    const DWORD start = GetTickCount();
    while (boxes.seen().size() < 2 && GetTickCount() - start < 5000)
        Sleep(20);
    Sleep(200);
    EXPECT_EQ(boxes.seen(), (Texts{kWriteFailed, kWriteFailed}));
    EXPECT_EQ(appConfig().zoomPercent, 101);
}

} // namespace
} // namespace korvane::testing
