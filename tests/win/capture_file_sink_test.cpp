#include "capture/win/file_recorder.h"
#include "capture/win/file_sink.h"
#include "capture/win/recording_failure.h"
#include "capture/win/recording_paths.h"
#include "common/win/wide_text.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <memory>
#include <string>
#include <vector>
#include <windows.h>

using namespace korvane;

namespace {

std::wstring tempPath(const wchar_t* name) {
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    return std::wstring(folder) + name;
}

std::vector<uint8_t> readFile(const std::wstring& path) {
    std::vector<uint8_t> bytes;
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return bytes;
    uint8_t buffer[4096];
    DWORD got = 0;
    while (ReadFile(h, buffer, sizeof buffer, &got, nullptr) && got > 0)
        bytes.insert(bytes.end(), buffer, buffer + got);
    CloseHandle(h);
    return bytes;
}

std::vector<uint8_t> packet(int pid) {
    std::vector<uint8_t> p(188, 0x33);
    p[0] = 0x47;
    p[1] = static_cast<uint8_t>(pid >> 8);
    p[2] = static_cast<uint8_t>(pid);
    p[3] = 0x10;
    return p;
}

int stops = 0;
std::wstring shown;
void countStop() {
    ++stops;
}
void keepText(const wchar_t* text) {
    shown = text;
}

} // namespace

TEST(CaptureFileSink, NeverReplacesAFileAndHoldsItUnshared) {
    const std::wstring path = tempPath(L"korvane-sink-test.mpg");
    const std::wstring second = tempPath(L"korvane-sink-test (2).mpg");
    const std::wstring third = tempPath(L"korvane-sink-test (3).mpg");
    for (const std::wstring& p : {path, second, third})
        DeleteFileW(p.c_str());
    const uint8_t firstText[] = {'u', 'n'};
    {
        FileSink first(path.c_str());
        ASSERT_TRUE(first.isOpen());
        EXPECT_EQ(first.path(), path);
        EXPECT_TRUE(first.write(firstText, 2));
    }
    {
        // Two files in one second: the second takes the next free name, the first stays.
        FileSink sink(path.c_str());
        ASSERT_TRUE(sink.isOpen());
        EXPECT_EQ(sink.path(), second);
        HANDLE other = CreateFileW(second.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        EXPECT_EQ(other, INVALID_HANDLE_VALUE);
        if (other != INVALID_HANDLE_VALUE)
            CloseHandle(other);
        const uint8_t text[] = {'o', 'k'};
        EXPECT_TRUE(sink.write(text, 2));
        FileSink meanwhile(path.c_str());
        EXPECT_EQ(meanwhile.path(), third);
    }
    EXPECT_EQ(readFile(path), (std::vector<uint8_t>{'u', 'n'}));
    EXPECT_EQ(readFile(second), (std::vector<uint8_t>{'o', 'k'}));
    for (const std::wstring& p : {path, second, third})
        DeleteFileW(p.c_str());
}

TEST(CaptureFileSink, MissingFolderFailsToOpenAndEveryWriteFails) {
    FileSink sink(tempPath(L"korvane-no-such-folder\\x.mpg").c_str());
    EXPECT_FALSE(sink.isOpen());
    const uint8_t byte = 1;
    EXPECT_FALSE(sink.write(&byte, 1));
}

TEST(CaptureFileRecorder, WritesKeptPacketsAndPostsCreationFailures) {
    std::wstring path = tempPath(L"korvane-recorder-test.mpg");
    auto a = packet(0x100), null = packet(0x1FFF);
    std::vector<uint8_t> ts = a;
    ts.insert(ts.end(), null.begin(), null.end());
    {
        auto recorder =
            std::make_unique<FileRecorder>(path.c_str(), RecorderSettings::multiplex(), nullptr);
        EXPECT_TRUE(recorder->processBuffer(ts.data(), ts.size()));
    }
    EXPECT_EQ(readFile(path), a);
    DeleteFileW(path.c_str());

    HWND window =
        CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    {
        auto recorder =
            std::make_unique<FileRecorder>(tempPath(L"korvane-no-such-folder\\y.mpg").c_str(),
                                           RecorderSettings::multiplex(), window, 7);
        EXPECT_TRUE(recorder->failed());
        EXPECT_FALSE(recorder->processBuffer(ts.data(), ts.size()));
    }
    MSG msg{};
    ASSERT_TRUE(
        PeekMessageW(&msg, window, kRecordingFailedMessage, kRecordingFailedMessage, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 7u) << "the recording's generation";
    EXPECT_EQ(msg.lParam, static_cast<LPARAM>(RecordingFailure::CreateFailed));
    EXPECT_FALSE(
        PeekMessageW(&msg, window, kRecordingFailedMessage, kRecordingFailedMessage, PM_REMOVE));
    DestroyWindow(window);
}

TEST(CaptureFailureMessage, OnlyTheRunningRecordingsReportStopsItAndTellsTheUserInFrench) {
    const auto write = static_cast<LPARAM>(RecordingFailure::WriteFailed);
    const auto create = static_cast<LPARAM>(RecordingFailure::CreateFailed);
    struct Case {
        WPARAM generation;
        LPARAM failure;
        uint32_t running;
        const wchar_t* text; // null: dropped, nothing stopped
    } cases[] = {
        {3, write, 3, L"Erreur d'écriture"},
        {4, create, 4, L"Impossible de créer"},
        {3, write, 4, nullptr},  // a stopped recording's late report, the next one running
        {3, create, 0, nullptr}, // the same with none running
        {0, write, 0, nullptr},
    };
    for (const Case& c : cases) {
        stops = 0;
        shown.clear();
        handleRecordingFailed(c.generation, c.failure, c.running, countStop, keepText);
        EXPECT_EQ(stops, c.text ? 1 : 0) << c.generation << " while " << c.running << " runs";
        if (c.text)
            EXPECT_NE(shown.find(c.text), std::wstring::npos) << c.generation;
        else
            EXPECT_EQ(shown, L"") << c.generation;
    }
}

TEST(CaptureFailureMessage, AnsiWideningKeepsPlainNames) {
    EXPECT_EQ(widenAnsi("France 5"), u"France 5");
    EXPECT_EQ(widenAnsi(""), u"");
}

TEST(CaptureRecordingPaths, StayInTheFolderAndCarryTheLocalTime) {
    DateTime before = localTimeNow();
    auto path = channelRecordingPathNow(L"C:\\TV", "a\\..\\b:c");
    ASSERT_TRUE(path.has_value());
    EXPECT_EQ(path->rfind(L"C:\\TV\\a_.._b_c ", 0), 0u) << *path;
    EXPECT_EQ(path->substr(path->size() - 4), L".mpg");
    wchar_t dayMonth[16];
    swprintf(dayMonth, 16, L" %02i-%02i ", before.day, before.month);
    EXPECT_NE(path->find(dayMonth), std::wstring::npos) << *path;

    auto shot = screenshotPathNow(L"D:\\Images", "Arte");
    ASSERT_TRUE(shot.has_value());
    EXPECT_EQ(shot->rfind(L"D:\\Images\\Arte ", 0), 0u);
    EXPECT_EQ(shot->substr(shot->size() - 4), L".bmp");
    EXPECT_EQ(multiplexRecordingPathNow(L"E:")->rfind(L"E:\\Transport Stream ", 0), 0u);
    EXPECT_FALSE(multiplexRecordingPathNow(std::wstring(1020, L'x')).has_value());
}
