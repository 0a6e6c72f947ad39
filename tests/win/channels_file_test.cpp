#include "channels/win/channel_file_win.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
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
        path_ = std::wstring(base) + L"korvane-channels-" + std::to_wstring(GetCurrentProcessId()) +
                L"-" + std::to_wstring(++serial);
        CreateDirectoryW(path_.c_str(), nullptr);
    }
    ~TempFolder() {
        WIN32_FIND_DATAW found;
        HANDLE h = FindFirstFileW((path_ + L"\\*").c_str(), &found);
        if (h != INVALID_HANDLE_VALUE) {
            do {
                std::wstring name = found.cFileName;
                if (name == L"." || name == L"..")
                    continue;
                std::wstring full = path_ + L"\\" + name;
                SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
                if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                    RemoveDirectoryW(full.c_str());
                else
                    DeleteFileW(full.c_str());
            } while (FindNextFileW(h, &found));
            FindClose(h);
        }
        RemoveDirectoryW(path_.c_str());
    }
    std::wstring file(const wchar_t* name) const { return path_ + L"\\" + name; }
    const std::wstring& path() const { return path_; }

  private:
    std::wstring path_;
};

void writeBytes(const std::wstring& path, const std::string& bytes) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(h);
}

std::string readBytes(const std::wstring& path) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return "<missing>";
    std::string out;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(h, buffer, sizeof buffer, &got, nullptr) && got > 0)
        out.append(buffer, got);
    CloseHandle(h);
    return out;
}

bool exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

ChannelInfo channel(std::string_view name, std::string_view group, int32_t sid) {
    ChannelInfo c;
    c.name.assign(name);
    c.group.assign(group);
    c.frequency = 586167;
    c.onid = 0x20FA;
    c.tsid = 4;
    c.sid = sid;
    c.number = sid % 100;
    c.pmtPid = 0x100 + sid;
    c.pcrPid = 0x120;
    c.videoMpeg4Pid = 0x120;
    c.ac3Pid = 0x140;
    return c;
}

} // namespace

TEST(ChannelFileMsxml, AccentsMarkupSelectorsAndEdgeSpacesSurviveSaveAndLoad) {
    TempFolder dir;
    std::string everyByte;
    for (int b = 1; b < 256; ++b)
        everyByte += static_cast<char>(b);
    ChannelRecords in = {channel("Ch\xE9rie 25", "L'\xC9quipe & <co>", 1),
                         channel("\x05"
                                 "Arte",
                                 "\x0B"
                                 "  Multi  spaces  ",
                                 2),
                         channel(everyByte.substr(0, 255), everyByte.substr(100), 3),
                         channel(" ", "\t\r\n", 4), channel("", "", 5)};
    ASSERT_TRUE(saveChannelFileTo(dir.file(L"chaines.xml"), in));
    EXPECT_FALSE(exists(dir.file(L"chaines.xml.tmp")));
    EXPECT_EQ(readBytes(dir.file(L"chaines.xml")), formatChannelFile(in));

    ChannelList list;
    ASSERT_EQ(loadChannelFileFrom(dir.file(L"chaines.xml"), list), 0);
    ChannelRecords out = list.snapshot();
    ASSERT_EQ(out.size(), in.size());
    for (std::size_t i = 0; i < in.size(); ++i) {
        EXPECT_EQ(out[i].name.view(), in[i].name.view()) << i;
        EXPECT_EQ(out[i].group.view(), in[i].group.view()) << i;
        EXPECT_EQ(out[i].sid, in[i].sid);
        EXPECT_EQ(out[i].number, in[i].number);
        EXPECT_EQ(out[i].pmtPid, in[i].pmtPid);
        EXPECT_EQ(out[i].videoPid, 0);
        EXPECT_EQ(out[i].videoMpeg4Pid, 0x120);
        EXPECT_EQ(out[i].ac3Pid, 0x140);
    }
}

// The platform's parser reads the audio and subtitle stream elements back as the portable
// reader does, languages with markup and edge spaces included, and a file without them as
// before.
TEST(ChannelFileMsxml, AudioAndSubtitleStreamsSurviveSaveAndLoad) {
    TempFolder dir;
    ChannelInfo hd = channel("\x05"
                             "France 2",
                             "R1", 6);
    hd.ac3Pid = 0;
    const auto stream = [](int32_t pid, const char* language, AudioKind kind) {
        AudioStream s{pid, AudioCodec::Eac3, {}, kind};
        std::copy(language, language + 3, s.language.begin());
        return s;
    };
    hd.audioStreams = {stream(0x141, "qad", AudioKind::AudioDescription),
                       stream(0x140, "fra", AudioKind::Main),
                       stream(0x142, " <&", AudioKind::Main)};
    // Subtitle streams, one whose language needs escaping.
    hd.subtitleStreams = {{0x150, {'f', 'r', 'a'}, 0x10, 1, 1},
                          {0x151, {'\x01', '>', ' '}, 0x20, 2, 0xFFFF}};
    ChannelInfo plain = channel("TF1", "R1", 7);
    plain.audioStreams = {{0x140, AudioCodec::Ac3, {'f', 'r', 'e'}, AudioKind::Main}};
    const ChannelRecords in = {hd, plain};
    ASSERT_TRUE(saveChannelFileTo(dir.file(L"chaines.xml"), in));
    ChannelList list;
    ASSERT_EQ(loadChannelFileFrom(dir.file(L"chaines.xml"), list), 0);
    const ChannelRecords out = list.snapshot();
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].audioStreams, hd.audioStreams);
    EXPECT_EQ(out[0].subtitleStreams, hd.subtitleStreams);
    EXPECT_EQ(out[0].name.view(), hd.name.view());
    EXPECT_TRUE(out[1].audioStreams.empty());
    EXPECT_TRUE(out[1].subtitleStreams.empty());
    EXPECT_EQ(out[1].ac3Pid, 0x140);
}

TEST(ChannelFileMsxml, RecordRulesApplyToWhatTheParserDelivers) {
    TempFolder dir;
    writeBytes(dir.file(L"chaines.xml"),
               "<Chaines>\r\n<!-- commentaire -->\r\n\t<Chaine>\r\n\t\t<Nom>France 2</Nom>\r\n"
               "\t\t<Nom>Autre</Nom>\r\n\t\t<nom>minuscule</nom>\r\n\t\t<Video>0</Video>\r\n"
               "\t\t<Video> 512</Video>\r\n\t\t<SID>  -3x</SID>\r\n"
               "\t\t<Frequence>99999999999</Frequence>\r\n\t</Chaine>\r\n</Chaines>\r\n");
    ChannelList list;
    ASSERT_EQ(loadChannelFileFrom(dir.file(L"chaines.xml"), list), 0);
    ChannelRecords out = list.snapshot();
    ASSERT_EQ(out.size(), 2u);
    EXPECT_TRUE(out[0].name.empty());
    EXPECT_EQ(out[0].sid, 0);
    EXPECT_EQ(out[1].name.view(), "France 2");
    EXPECT_EQ(out[1].videoPid, 512);
    EXPECT_EQ(out[1].sid, -3);
    EXPECT_EQ(out[1].frequency, 2147483647);
    EXPECT_EQ(out[1].number, 0);
}

TEST(ChannelFileMsxml, HandEditedUtf8TextReadsInTheAnsiCodePage) {
    TempFolder dir;
    writeBytes(dir.file(L"chaines.xml"),
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<Chaines><Chaine>"
               "<Nom>Ch\xC3\xA9rie 25</Nom><Groupe>\xE2\x82\xAC</Groupe></Chaine></Chaines>");
    ChannelList list;
    ASSERT_EQ(loadChannelFileFrom(dir.file(L"chaines.xml"), list), 0);
    auto c = list.copyAt(0);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->name.view(), "Ch\xE9rie 25");
    EXPECT_EQ(c->group.view(), wideToAnsiCodePage(u"\u20AC"));
    if (GetACP() == 1252) {
        EXPECT_EQ(c->group.view(), "\x80");
    }
}

TEST(ChannelFileMsxml, MissingOrMalformedFilesLeaveTheListUnchanged) {
    TempFolder dir;
    ChannelList list;
    list.append(channel("Kept", "", 1));
    EXPECT_EQ(loadChannelFileFrom(dir.file(L"chaines.xml"), list), 1);
    writeBytes(dir.file(L"chaines.xml"), "<Chaines><Chaine><Nom>A & B</Nom></Chaine></Chaines>");
    EXPECT_EQ(loadChannelFileFrom(dir.file(L"chaines.xml"), list), 1);
    writeBytes(dir.file(L"chaines.xml"), "<Chaines><Chaine><Nom>A</Nom></Chaine>");
    EXPECT_EQ(loadChannelFileFrom(dir.file(L"chaines.xml"), list), 1);
    EXPECT_EQ(list.size(), 1u);
    writeBytes(dir.file(L"chaines.xml"), "<Chaines>\r\n</Chaines>\r\n");
    EXPECT_EQ(loadChannelFileFrom(dir.file(L"chaines.xml"), list), 0);
    EXPECT_EQ(list.size(), 1u);
}

TEST(ChannelFileMsxml, ADoctypeOrANestingDeeperThanAFieldIsRefusedWhole) {
    TempFolder dir;
    const std::string laughs =
        "<?xml version=\"1.0\"?>\r\n<!DOCTYPE Chaines [\r\n<!ENTITY a \"hahahahaha\">\r\n"
        "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">\r\n"
        "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">\r\n]>\r\n"
        "<Chaines><Chaine><Nom>&c;</Nom></Chaine></Chaines>\r\n";
    const std::string plainDoctype =
        "<!DOCTYPE Chaines>\r\n<Chaines><Chaine><Nom>A</Nom></Chaine></Chaines>\r\n";
    const std::string fieldInField = "<Chaines><Chaine><Nom>A<b>B</b></Nom></Chaine></Chaines>\r\n";
    std::string deep = "<Chaines><Chaine><Nom>";
    for (int i = 0; i < 2000; ++i)
        deep += "<x>";
    for (int i = 0; i < 2000; ++i)
        deep += "</x>";
    deep += "</Nom></Chaine></Chaines>\r\n";
    for (const std::string& bytes : {laughs, plainDoctype, fieldInField, deep}) {
        writeBytes(dir.file(L"chaines.xml"), bytes);
        ChannelList list;
        EXPECT_EQ(loadChannelFileFrom(dir.file(L"chaines.xml"), list), 1) << bytes.substr(0, 60);
        EXPECT_EQ(list.size(), 0u);
    }
    // Three levels, with a comment inside a field, are a channel file.
    writeBytes(dir.file(L"chaines.xml"),
               "<Chaines><Chaine><Nom>A<!-- c --></Nom></Chaine></Chaines>\r\n");
    ChannelList list;
    ASSERT_EQ(loadChannelFileFrom(dir.file(L"chaines.xml"), list), 0);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list.copyAt(0)->name.view(), "A");
}

TEST(ChannelFileUnreadable, IsRenamedOverAnOlderCopyAndAMissingFileIsLeftAlone) {
    TempFolder dir;
    const std::wstring path = dir.file(L"chaines.xml");
    const std::wstring kept = dir.file(L"chaines.xml.illisible");
    EXPECT_EQ(keepUnreadableChannelFileAt(path), UnreadableChannelFile::Missing);
    EXPECT_FALSE(exists(kept));

    writeBytes(kept, "older unreadable copy");
    writeBytes(path, "<Chaines><Chaine><Nom>A & B</Nom>");
    EXPECT_EQ(keepUnreadableChannelFileAt(path), UnreadableChannelFile::Kept);
    EXPECT_FALSE(exists(path));
    EXPECT_EQ(readBytes(kept), "<Chaines><Chaine><Nom>A & B</Nom>");

    // A folder where the copy would go cannot be replaced: the file stays where it is.
    DeleteFileW(kept.c_str());
    ASSERT_TRUE(CreateDirectoryW(kept.c_str(), nullptr));
    writeBytes(path, "x");
    EXPECT_EQ(keepUnreadableChannelFileAt(path), UnreadableChannelFile::NotKept);
    EXPECT_EQ(readBytes(path), "x");
}

TEST(ChannelFileSave, ReplacesTheFileWholeAndOverwritesAStaleTemporaryFile) {
    TempFolder dir;
    const std::wstring path = dir.file(L"chaines.xml");
    writeBytes(path, std::string(10000, 'x'));
    writeBytes(dir.file(L"chaines.xml.tmp"), "stale half-written copy");
    ChannelRecords one = {channel("TF1", "G", 1)};
    ASSERT_TRUE(saveChannelFileTo(path, one));
    EXPECT_EQ(readBytes(path), formatChannelFile(one));
    EXPECT_FALSE(exists(dir.file(L"chaines.xml.tmp")));
    ASSERT_TRUE(saveChannelFileTo(path, {}));
    EXPECT_EQ(readBytes(path), "<Chaines>\r\n</Chaines>\r\n");
}

TEST(ChannelFileSave, AFailedWriteLeavesTheOldFileAndReportsNothing) {
    TempFolder dir;
    const std::wstring path = dir.file(L"chaines.xml");
    ChannelRecords old = {channel("Old", "G", 1)};
    ASSERT_TRUE(saveChannelFileTo(path, old));
    // The temporary file cannot be created where a folder of that name stands.
    ASSERT_TRUE(CreateDirectoryW(dir.file(L"chaines.xml.tmp").c_str(), nullptr));
    EXPECT_FALSE(saveChannelFileTo(path, {channel("New", "G", 2)}));
    EXPECT_EQ(readBytes(path), formatChannelFile(old));
    RemoveDirectoryW(dir.file(L"chaines.xml.tmp").c_str());
    EXPECT_FALSE(saveChannelFileTo(dir.file(L"no-such-folder\\chaines.xml"), old));
}

int writerReports = 0;

// The writer behind the PMT decoder reports a run of failed saves once: a folder that went
// away, a read-only file (a folder where its temporary copy goes), each reported again only
// after a save has succeeded in between.
TEST(ChannelFileSave, TheWriterReportsARunOfFailuresOnce) {
    TempFolder dir;
    const std::wstring folder = dir.file(L"liste");
    ChannelFileWriter writer([] { ++writerReports; }, folder + L"\\chaines.xml");
    const std::wstring blocker = folder + L"\\chaines.xml.tmp";
    const struct {
        const char* what;
        bool folderThere;
        bool blocked;
        int saves;
        int reports;
    } steps[] = {
        {"folder gone", false, false, 3, 1},          {"folder back", true, false, 2, 1},
        {"temporary copy blocked", true, true, 2, 2}, {"unblocked", true, false, 1, 2},
        {"folder gone again", false, false, 1, 3},
    };
    for (const auto& step : steps) {
        RemoveDirectoryW(blocker.c_str());
        DeleteFileW((folder + L"\\chaines.xml").c_str());
        RemoveDirectoryW(folder.c_str());
        if (step.folderThere) {
            ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr)) << step.what;
        }
        if (step.blocked) {
            ASSERT_TRUE(CreateDirectoryW(blocker.c_str(), nullptr)) << step.what;
        }
        for (int i = 0; i < step.saves; ++i)
            writer.saveChannels({channel("M6", "G", 6)});
        EXPECT_EQ(writerReports, step.reports) << step.what;
    }
    DeleteFileW((folder + L"\\chaines.xml").c_str());
    RemoveDirectoryW(folder.c_str());
}

TEST(ChannelFileSave, WorkingDirectoryEntryPointsAndTheSaverInterface) {
    TempFolder dir;
    wchar_t previous[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryW(dir.path().c_str()));
    ChannelList list;
    EXPECT_EQ(loadChannelFile(list), 1);
    ChannelFileWriter writer;
    ChannelFileSaver& saver = writer;
    saver.saveChannels({channel("M6", "G", 6), channel("W9", "G", 9)});
    EXPECT_EQ(loadChannelFile(list), 0);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list.copyAt(1)->name.view(), "W9");
    saveChannelFile(list);
    EXPECT_EQ(readBytes(dir.file(L"chaines.xml")), formatChannelFile(list.snapshot()));
    SetCurrentDirectoryW(previous);
}
