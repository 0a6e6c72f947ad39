#include "common/win/private_profile.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

namespace korvane {
namespace {

// A fresh INI path in a folder of its own under the temporary directory.
class PrivateProfileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        folder_ = std::wstring(temp) + L"korvane-profile-" +
                  std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(counter_++);
        CreateDirectoryW(folder_.c_str(), nullptr);
        path_ = folder_ + L"\\test.ini";
        DeleteFileW(path_.c_str());
    }
    void TearDown() override {
        DeleteFileW(path_.c_str());
        RemoveDirectoryW(folder_.c_str());
    }
    void writeFile(const std::string& bytes) {
        HANDLE file = CreateFileW(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        DWORD written = 0;
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        CloseHandle(file);
    }
    static inline int counter_ = 0;
    std::wstring folder_;
    std::wstring path_;
};

TEST_F(PrivateProfileTest, AccentedKeysAndValuesReadBackAsWritten) {
    {
        PrivateProfile writer(path_);
        EXPECT_TRUE(writer.writeString(u"Config", u"Récepteur TNT", u"Récepteur é"));
        EXPECT_TRUE(writer.writeString(u"Config", u"Priorité", u"Supérieure"));
        EXPECT_TRUE(writer.writeString(u"Général", u"Offset", u"167"));
    }
    PrivateProfile reader(path_);
    EXPECT_EQ(reader.readString(u"Config", u"Récepteur TNT", u"", 256), u"Récepteur é");
    EXPECT_EQ(reader.readString(u"Config", u"Priorité", u"", 256), u"Supérieure");
    EXPECT_EQ(reader.readInt(u"Général", u"Offset", 0), 167);
    EXPECT_EQ(reader.readString(u"Config", u"Priorite", u"absent", 256), u"absent");
}

TEST_F(PrivateProfileTest, IntegersKeepTheirSignAndMissingKeysGiveTheFallback) {
    PrivateProfile profile(path_);
    profile.writeString(u"Config", u"Moins un", u"-1");
    profile.writeString(u"Config", u"Minimum", u"-2147483648");
    profile.writeString(u"Config", u"Texte", u"abc");
    profile.writeString(u"Config", u"Suffixe", u"42px");
    EXPECT_EQ(profile.readInt(u"Config", u"Moins un", 7), -1);
    EXPECT_EQ(profile.readInt(u"Config", u"Minimum", 7), static_cast<int>(0x80000000u));
    EXPECT_EQ(profile.readInt(u"Config", u"Texte", 7), 0);
    EXPECT_EQ(profile.readInt(u"Config", u"Suffixe", 7), 42);
    EXPECT_EQ(profile.readInt(u"Config", u"Absent", static_cast<int>(0x80000000u)),
              static_cast<int>(0x80000000u));
    EXPECT_EQ(profile.readInt(u"Autre", u"Moins un", 5), 5);
}

TEST_F(PrivateProfileTest, ReplacesInPlaceAndListsSectionsInFileOrder) {
    writeFile("[Zeta]\r\nb=1\r\na=2\r\n[Alpha]\r\nx=3\r\n");
    PrivateProfile profile(path_);
    EXPECT_TRUE(profile.writeString(u"zeta", u"B", u"9"));
    profile.writeString(u"Nouvelle", u"k", u"v");
    EXPECT_EQ(profile.readString(u"Zeta", u"b", u"", 16), u"9");
    EXPECT_EQ(profile.readString(u"ALPHA", u"X", u"", 16), u"3");
    auto names = profile.sectionNames();
    ASSERT_EQ(names.size(), 3u);
    EXPECT_EQ(names[0], u"Zeta");
    EXPECT_EQ(names[1], u"Alpha");
    EXPECT_EQ(names[2], u"Nouvelle");
}

TEST_F(PrivateProfileTest, LongValuesAreCutToTheCapacityAndManySectionsAllListed) {
    PrivateProfile profile(path_);
    std::u16string longValue(600, u'x');
    profile.writeString(u"S", u"k", longValue);
    EXPECT_EQ(profile.readString(u"S", u"k", u"", 256), std::u16string(255, u'x'));
    EXPECT_EQ(profile.readString(u"S", u"k", u"", 1), u"");
    EXPECT_EQ(profile.readString(u"S", u"k", u"", 0), u"");

    std::string text;
    for (int i = 0; i < 700; ++i)
        text += "[Ville numero " + std::to_string(i) + "]\r\nR1=21\r\n";
    writeFile(text);
    auto names = PrivateProfile(path_).sectionNames();
    ASSERT_EQ(names.size(), 700u);
    EXPECT_EQ(names.back(), u"Ville numero 699");
}

std::string readBytes(const std::wstring& path) {
    std::string bytes;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return bytes;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof(chunk), &got, nullptr) && got > 0)
        bytes.append(chunk, got);
    CloseHandle(file);
    return bytes;
}

bool startsWithUtf16Mark(const std::string& bytes) {
    return bytes.size() >= 2 && uint8_t(bytes[0]) == 0xFF && uint8_t(bytes[1]) == 0xFE;
}

constexpr std::u16string_view kFarFolder = u"C:\\Users\\Łódź ąę 東京\\Vidéos";

// What the file's encoding becomes after one write of a value, from each starting point:
// a new file is UTF-16 from the start; an ANSI file stays byte for byte as long as what is
// written fits the code page, and is converted once, with every line it had, when not.
TEST_F(PrivateProfileTest, KeepsWhatItIsGivenWhateverTheCodePage) {
    struct Case {
        const char* name;
        const char* existing; // nullptr: no file
        std::u16string_view value;
        bool utf16After;
    };
    const Case cases[] = {
        {"new file, far folder", nullptr, kFarFolder, true},
        {"new file, plain value", nullptr, u"Vrai", true},
        {"ANSI file, ANSI value", "; r\xE9glages\r\n[Config]\r\nVille=Paris\r\n", u"Lyon", false},
        {"ANSI file, far folder", "; r\xE9glages\r\n[Config]\r\nVille=Paris\r\n", kFarFolder, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DeleteFileW(path_.c_str());
        if (c.existing)
            writeFile(c.existing);
        {
            PrivateProfile writer(path_);
            EXPECT_TRUE(writer.writeString(u"Config", u"Répertoire vidéo", c.value));
        }
        const std::string bytes = readBytes(path_);
        EXPECT_EQ(startsWithUtf16Mark(bytes), c.utf16After);
        PrivateProfile reader(path_);
        EXPECT_EQ(reader.readString(u"Config", u"Répertoire vidéo", u"", 512), c.value);
        if (c.existing) {
            // Nothing of the older file is lost, its comment included.
            EXPECT_EQ(reader.readString(u"Config", u"Ville", u"", 64), u"Paris");
            if (c.utf16After) {
                const std::u16string comment = u"; réglages\r\n[Config]\r\nVille=Paris\r\n";
                ASSERT_GE(bytes.size(), 2 + comment.size() * 2);
                EXPECT_EQ(bytes.compare(2, comment.size() * 2,
                                        reinterpret_cast<const char*>(comment.data()),
                                        comment.size() * 2),
                          0);
            }
        }
    }
}

TEST_F(PrivateProfileTest, AnAnsiFileWrittenWithAnsiValuesStaysByteIdentical) {
    const std::string original = "[Config]\r\nTuner TNT=Tuner\r\nPriorit\xE9=Normale\r\n";
    writeFile(original);
    PrivateProfile profile(path_);
    EXPECT_TRUE(profile.writeString(u"Config", u"Tuner TNT", u"Tuner"));
    EXPECT_TRUE(profile.writeString(u"Config", u"Priorité", u"Normale"));
    EXPECT_EQ(readBytes(path_), original);
}

TEST(CurrentDirectoryPath, AppendsTheNameToTheWorkingDirectory) {
    wchar_t expected[1024] = {};
    GetCurrentDirectoryW(1024, expected);
    EXPECT_EQ(currentDirectoryPath(L"config.ini"), std::wstring(expected) + L"\\config.ini");
    EXPECT_EQ(currentDirectory(), std::wstring(expected));
}

} // namespace
} // namespace korvane
