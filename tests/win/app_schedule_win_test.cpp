#include "app/schedule_file.h"
#include "channels/win/channel_file_win.h"
#include "common/win/file_replace.h"
#include "common/win/time_convert_win.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

using namespace korvane;

namespace {

// A fresh folder in the temporary directory, removed with its files at the end.
class TempFolder {
  public:
    TempFolder() {
        wchar_t base[MAX_PATH];
        GetTempPathW(MAX_PATH, base);
        static int serial = 0;
        path_ = std::wstring(base) + L"korvane-schedule-" + std::to_wstring(GetCurrentProcessId()) +
                L"-" + std::to_wstring(++serial);
        CreateDirectoryW(path_.c_str(), nullptr);
    }
    ~TempFolder() {
        for (const wchar_t* name :
             {L"programmation.xml", L"programmation.xml.tmp", L"programmation.xml.illisible"})
            DeleteFileW(file(name).c_str());
        RemoveDirectoryW(path_.c_str());
    }
    std::wstring file(const wchar_t* name) const { return path_ + L"\\" + name; }

  private:
    std::wstring path_;
};

bool exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

} // namespace

// The store's round: write through the temporary copy, read back whole, and keep a damaged
// file aside (replacing an older one) so that a later save cannot lose it.
TEST(ScheduleFileOnDisk, WriteReadAndKeepAside) {
    TempFolder dir;
    const std::wstring path = dir.file(L"programmation.xml");
    std::string bytes;
    EXPECT_EQ(readWholeFile(path, kMaxScheduleFileBytes, bytes), FileReadResult::Missing);
    EXPECT_EQ(keepFileAside(path, L".illisible"), FileKeptAside::Missing);

    ScheduleFile file;
    ScheduledRecording s;
    s.id = 1;
    s.channel.name.assign("Fran\xE7"
                          "e 2");
    s.channel.frequency = 586166;
    s.date = {2026, 12, 24, 0, 0, 0};
    s.startSecond = 75600;
    s.endSecond = 3600;
    file.schedules.push_back(s);
    ASSERT_TRUE(replaceFileContents(path, formatScheduleFile(file)));
    EXPECT_FALSE(exists(path + kReplaceTempSuffix));
    ASSERT_EQ(readWholeFile(path, kMaxScheduleFileBytes, bytes), FileReadResult::Read);
    ScheduleFile back;
    ASSERT_EQ(parseScheduleFile(bytes, back, wideToAnsiCodePage), ScheduleFileError::None);
    EXPECT_EQ(back, file);
    EXPECT_EQ(readWholeFile(path, bytes.size() - 1, bytes), FileReadResult::TooLarge);

    ASSERT_TRUE(replaceFileContents(path + L".illisible", "older"));
    ASSERT_TRUE(replaceFileContents(path, "<Programmation"));
    EXPECT_EQ(keepFileAside(path, L".illisible"), FileKeptAside::Kept);
    EXPECT_FALSE(exists(path));
    ASSERT_EQ(readWholeFile(path + L".illisible", 100, bytes), FileReadResult::Read);
    EXPECT_EQ(bytes, "<Programmation");
    EXPECT_FALSE(replaceFileContents(dir.file(L"no-such-folder\\programmation.xml"), "x"));
}

// Typed local times under a real zone with daylight saving, as the platform knows it, give
// the same instants as the portable rules. Wine takes the zone from TZ: the build registers
// this test with TZ=Europe/Paris (cmake/windows.cmake); under any other zone it is skipped.
TEST(SystemTimeConverterZone, LocalTimesFollowTheZonesRules) {
    const char* tz = std::getenv("TZ");
    if (tz == nullptr || std::strcmp(tz, "Europe/Paris") != 0)
        GTEST_SKIP() << "runs with TZ=Europe/Paris";
    const SystemTimeConverter platform;
    const RuleTimeConverter rules = RuleTimeConverter::centralEuropean();
    const DateTime times[] = {
        {2026, 1, 15, 12, 0, 0},  {2026, 7, 15, 12, 0, 0},  {2026, 3, 29, 1, 59, 0},
        {2026, 3, 29, 2, 0, 0},   {2026, 3, 29, 2, 30, 0},  {2026, 3, 29, 3, 0, 0},
        {2026, 10, 25, 1, 59, 0}, {2026, 10, 25, 2, 30, 0}, {2026, 10, 25, 3, 0, 0},
        {2027, 3, 28, 2, 30, 0},  {2027, 10, 31, 2, 30, 0}, {2026, 12, 31, 23, 59, 59},
    };
    for (const DateTime& t : times) {
        SCOPED_TRACE(testing::Message() << t.year << "-" << t.month << "-" << t.day << " " << t.hour
                                        << ":" << t.minute);
        const auto expected = rules.localToUtc(t);
        ASSERT_TRUE(expected);
        EXPECT_EQ(platform.localToUtc(t), expected);
    }
}
