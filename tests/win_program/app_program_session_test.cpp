#include "channels/channel_file.h"
#include "program_runner.h"
#include "res/resource.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

namespace korvane::testing {
namespace {

std::vector<std::wstring> copiedTexts;

// Stands in for the messenger's hidden window, in this test process.
LRESULT CALLBACK messengerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COPYDATA) {
        auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        if (data->dwData == 0x547 && data->cbData >= 2)
            copiedTexts.emplace_back(static_cast<const wchar_t*>(data->lpData),
                                     data->cbData / 2 - 1);
        return TRUE;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// Waits for the process to end while this thread answers the messages sent to its windows.
DWORD waitPumping(const ProgramRun& run, DWORD timeoutMs) {
    const DWORD started = GetTickCount();
    HANDLE process = run.process();
    while (GetTickCount() - started < timeoutMs) {
        DWORD wait = MsgWaitForMultipleObjects(1, &process, FALSE, 100, QS_ALLINPUT);
        if (wait == WAIT_OBJECT_0)
            break;
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&message);
    }
    return run.waitForExit(0);
}

void writeChannelFile(const ProgramRun& run, const ChannelRecords& records) {
    std::string bytes = formatChannelFile(records);
    HANDLE file = CreateFileW((run.folder() + L"\\chaines.xml").c_str(), GENERIC_WRITE, 0, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

// Two channels of the first test multiplex, and the testbed's USB tuner to play them.
void writeChannelFile(const ProgramRun& run) {
    ChannelRecords records(2);
    records[0].name.assign("France 2");
    records[0].number = 2;
    records[0].frequency = 474167;
    records[0].pmtPid = 0x200;
    records[0].audio1Pid = 0x230;
    records[1].name.assign("Arte");
    records[1].number = 7;
    records[1].frequency = 474167;
    // What the multiplex's PMT says, so that no PMT change remaps it.
    records[1].pmtPid = 0x100;
    records[1].pcrPid = 0x120;
    records[1].videoPid = 0x120;
    records[1].audio1Pid = 0x130;
    records[1].audio2Pid = 0x131;
    records[1].ac3Pid = 0x133;
    writeChannelFile(run, records);
    run.writeConfig(L"Tuner TNT", L"Korvane Testbed Tuner USB");
}

class ProgramSession : public ::testing::Test {
  protected:
    void SetUp() override { copiedTexts.clear(); }
    void TearDown() override {
        if (messenger_)
            DestroyWindow(messenger_);
    }
    void startMessenger() {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = messengerProc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"MsnMsgrUIManager";
        RegisterClassW(&windowClass);
        messenger_ = CreateWindowExW(0, L"MsnMsgrUIManager", nullptr, WS_OVERLAPPED, 0, 0, 10, 10,
                                     nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(messenger_, nullptr);
    }
    HWND messenger_ = nullptr;
};

TEST_F(ProgramSession, ChannelFileStartsTheLoopAndClosingSavesAndClearsTheMessenger) {
    ProgramRun run;
    TestbedSettings testbed(run, "testbed-data");
    writeChannelFile(run);
    run.writeConfig(L"Fenêtre toujours devant", L"Vrai");
    run.writeConfig(L"Envoie programme regardé à MSN", L"Vrai");
    // A name that matches no decoder: the platform chooses one.
    run.writeConfig(L"Filtre vidéo", L"Décodeur introuvable");
    run.writeConfig(L"Filtre audio", L"Korvane Testbed MPEG Audio Decoder");
    run.writeConfig(L"Filtre AC3", L"Korvane Testbed AC-3 Audio Decoder");
    run.writeConfig(L"Index chaine courante", L"1");
    startMessenger();
    ASSERT_TRUE(run.start());
    HWND window = run.waitForWindow(L"Korvane TV", 60000);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(run.waitForWindow(L"#32770", 3000), nullptr) << "no error box expected";
    EXPECT_NE(GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_TOPMOST, 0);
    // The stored channel is the one tuned and mapped.
    EXPECT_EQ(testbed.trace("tune"), std::vector<std::string>{"tune 474167"});
    EXPECT_EQ(testbed.trace("map son"), std::vector<std::string>{"map son 304 es"});
    EXPECT_EQ(testbed.trace("map pmt"), std::vector<std::string>{"map pmt 256 psi"});
    for (int i = 0; i < 100 && testbed.trace("picture").empty(); ++i)
        Sleep(100);
    EXPECT_FALSE(testbed.trace("picture").empty()) << "the video decoder was found all the same";

    PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(waitPumping(run, 30000), 0u);
    EXPECT_EQ(run.readConfig(L"Index chaine courante"), L"1");
    ASSERT_EQ(copiedTexts.size(), 1u);
    EXPECT_EQ(copiedTexts[0], L"\\0Music\\00\\0\\0\\0\\0\\0\\0");
    // The 21 keys of the settings and the three of the scheduled recordings.
    EXPECT_EQ(run.configLines().size(), 24u);
    EXPECT_EQ(run.readConfig(L"Fenêtre toujours devant"), L"Vrai");
    EXPECT_EQ(run.readConfig(L"Envoie programme regardé à MSN"), L"Vrai");
}

TEST_F(ProgramSession, QuitCommandEndsTheProgramWithoutTellingAMessengerWhenTheOptionIsOff) {
    ProgramRun run;
    TestbedSettings testbed(run, "testbed-data");
    writeChannelFile(run);
    run.writeConfig(L"Facteur de zoom", L"130");
    startMessenger();
    ASSERT_TRUE(run.start());
    HWND window = run.waitForWindow(L"Korvane TV", 60000);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(run.waitForWindow(L"#32770", 3000), nullptr);
    EXPECT_EQ(GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_TOPMOST, 0);

    PostMessageW(window, WM_COMMAND, IDM_QUIT, 0);
    EXPECT_EQ(waitPumping(run, 30000), 0u);
    EXPECT_TRUE(copiedTexts.empty());
    EXPECT_EQ(run.readConfig(L"Facteur de zoom"), L"130");
    EXPECT_EQ(run.readConfig(L"Priorité"), L"Supérieure");
}

} // namespace
} // namespace korvane::testing

namespace korvane::testing {
namespace {

TEST(ProgramChannelFile, AFileWithoutChannelsEndsTheStartWithItsOwnMessage) {
    ProgramRun run;
    TestbedSettings testbed(run, "testbed-data");
    writeChannelFile(run, ChannelRecords{});
    run.writeConfig(L"Tuner TNT", L"Korvane Testbed Tuner USB");
    ASSERT_TRUE(run.start());
    HWND errorBox = run.waitForWindow(L"#32770", 60000);
    ASSERT_NE(errorBox, nullptr);
    EXPECT_NE(childTexts(errorBox).find(L"Aucune chaine n'est dans le fichier"),
              std::wstring::npos);
    pressOk(errorBox);
    EXPECT_EQ(run.waitForExit(30000), static_cast<DWORD>(-1));
    EXPECT_EQ(run.readConfig(L"Index chaine courante"), L"-1");
}

TEST(ProgramChannelFile, AnUnreadableFileIsKeptAsideAndTheUserToldBeforeTheScan) {
    ProgramRun run;
    TestbedSettings testbed(run, "testbed-data");
    const std::string damaged = "<Chaines><Chaine><Nom>France 2</Nom>";
    HANDLE file = CreateFileW((run.folder() + L"\\chaines.xml").c_str(), GENERIC_WRITE, 0, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(file, damaged.data(), static_cast<DWORD>(damaged.size()), &written, nullptr);
    CloseHandle(file);
    run.writeConfig(L"Tuner TNT", L"Korvane Testbed Tuner USB");
    ASSERT_TRUE(run.start());
    HWND errorBox = run.waitForWindow(L"#32770", 60000);
    ASSERT_NE(errorBox, nullptr);
    EXPECT_NE(childTexts(errorBox).find(L"gardé sous le nom chaines.xml.illisible"),
              std::wstring::npos);
    EXPECT_EQ(readFile(run.folder() + L"\\chaines.xml.illisible"), damaged);
    EXPECT_EQ(GetFileAttributesW((run.folder() + L"\\chaines.xml").c_str()),
              INVALID_FILE_ATTRIBUTES);
}

} // namespace
} // namespace korvane::testing
