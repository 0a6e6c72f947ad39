#include "app/schedule_file.h"

#include <gtest/gtest.h>

#include <string>

using namespace korvane;

namespace {

ScheduledRecording typed() {
    ScheduledRecording s;
    s.id = 3;
    s.channel.name.assign("France 2");
    s.channel.onid = 8442;
    s.channel.tsid = 1;
    s.channel.sid = 257;
    s.channel.frequency = 586166;
    s.date = {2026, 12, 24, 0, 0, 0};
    s.startSecond = 20 * 3600 + 55 * 60;
    s.endSecond = 22 * 3600 + 40 * 60;
    return s;
}

const char kTypedLine[] =
    "\t<Enregistrement id=\"3\" chaine=\"France 2\" onid=\"8442\" tsid=\"1\" sid=\"257\" "
    "frequence=\"586166\" date=\"2026-12-24\" debut=\"20:55:00\" fin=\"22:40:00\" "
    "format=\"multiplex\" repetition=\"une_fois\" jours=\"\" origine=\"saisie\" titre=\"\" "
    "marge_avant=\"0\" marge_apres=\"0\" etat=\"en_attente\" dernier=\"\"/>\r\n";

std::string fileWith(const std::string& line) {
    return "<Programmation version=\"1\" verification=\"\">\r\n" + line + "</Programmation>\r\n";
}

// The typed schedule's line with one attribute's text replaced.
std::string lineWith(const std::string& from, const std::string& to) {
    std::string line = kTypedLine;
    const auto at = line.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return line.replace(at, from.size(), to);
}

} // namespace

TEST(ScheduleFile, WritesAndReadsBackEveryField) {
    ScheduleFile file;
    file.lastCheck = *fileTimeFromDateTime({2026, 12, 8, 6, 25, 0});
    file.schedules.push_back(typed());
    ScheduledRecording odd = typed();
    odd.id = 9;
    // The channel file's awkward bytes, and the quote that ends an attribute.
    odd.channel.name.assign(" <A&B> \"C\" 'd' \xE9t\xE9\x01\x7F ");
    odd.channel.onid = -1;
    odd.channel.sid = 0x7FFFFFFF;
    odd.date = {2027, 2, 28, 0, 0, 0};
    odd.startSecond = 86399;
    odd.endSecond = 0;
    odd.format = RecorderMode::ChannelPs;
    odd.repeat = ScheduleRepeat::Weekly;
    odd.weekdays = kMonday | kWednesday | kSunday;
    odd.origin = ScheduleOrigin::Guide;
    odd.title.assign(std::string(255, 'x'));
    odd.marginBefore = kMaxMargin;
    odd.marginAfter = 10;
    odd.state = ScheduleState::Missed;
    odd.lastHandled = *fileTimeFromDateTime({2026, 12, 7, 23, 59, 59});
    file.schedules.push_back(odd);

    const std::string text = formatScheduleFile(file);
    EXPECT_EQ(text.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
                         "<Programmation version=\"1\" verification=\"2026-12-08T06:25:00Z\">\r\n",
                         0),
              0u);
    EXPECT_NE(text.find(kTypedLine), std::string::npos);
    for (unsigned char c : text)
        EXPECT_LT(c, 0x80);
    ScheduleFile back;
    ASSERT_EQ(parseScheduleFile(text, back), ScheduleFileError::None);
    EXPECT_EQ(back, file);

    ScheduleFile empty;
    ASSERT_EQ(parseScheduleFile(formatScheduleFile({}), empty), ScheduleFileError::None);
    EXPECT_EQ(empty, ScheduleFile{});
}

// Hand edits an XML editor may make are read as the parser would.
TEST(ScheduleFile, ReadsWhatAnEditorWrites) {
    const struct {
        std::string text;
        const char* name;
    } cases[] = {
        {"\xEF\xBB\xBF<!-- a -->" + fileWith(kTypedLine) + "<!-- b -->", "France 2"},
        {fileWith(lineWith("chaine=\"France 2\"", "chaine = 'Fran\xC3\xA7"
                                                  "e'")),
         "Fran\xE7"
         "e"},
        {fileWith(lineWith("chaine=\"France 2\"", "chaine=\"&#233;&#xE001;&apos;\"")), "\xE9\x01'"},
        {fileWith(lineWith("chaine=\"France 2\"", "chaine=\"\xE2\x82\xAC\"")), "?"},
        {fileWith(lineWith("\"/>", "\"></Enregistrement >")), "France 2"},
    };
    for (const auto& c : cases) {
        ScheduleFile file;
        ASSERT_EQ(parseScheduleFile(c.text, file), ScheduleFileError::None) << c.text;
        ASSERT_EQ(file.schedules.size(), 1u);
        EXPECT_EQ(file.schedules[0].channel.name, c.name);
    }
}

// A damaged file is refused whole, and what the caller held stays as it was.
TEST(ScheduleFile, RefusesDamagedFiles) {
    using E = ScheduleFileError;
    const std::string good = formatScheduleFile({{typed()}, 0});
    const struct {
        std::string text;
        ScheduleFileError error;
    } cases[] = {
        {"", E::NotXml},
        {"<Chaines></Chaines>", E::NotXml},
        {good + "<Programmation/>", E::NotXml},
        {"<Programmation version=\"2\" verification=\"\"/>", E::UnknownVersion},
        {"<Programmation verification=\"\"/>", E::UnknownVersion},
        {"<Programmation version=\"1\"/>", E::BadField},
        {"<Programmation version=\"1\" verification=\"2026-12-08\"/>", E::BadField},
        {"<Programmation version=\"1\" version=\"1\" verification=\"\"/>", E::NotXml},
        {fileWith(lineWith("id=\"3\"", "id=\"3x\"")), E::BadField},
        {fileWith(lineWith("id=\"3\"", "id=\"0\"")), E::BadField},
        {fileWith(lineWith("id=\"3\"", "id=\"4294967296\"")), E::BadField},
        {fileWith(lineWith("onid=\"8442\"", "onid=\"2147483648\"")), E::BadField},
        {fileWith(lineWith("onid=\"8442\"", "onid=\"\"")), E::BadField},
        {fileWith(lineWith("frequence=\"586166\"", "frequence=\"-586166\"")), E::BadSchedule},
        {fileWith(lineWith("2026-12-24", "2026-02-30")), E::BadField},
        {fileWith(lineWith("20:55:00", "24:00:00")), E::BadField},
        {fileWith(lineWith("20:55:00", "20:55")), E::BadField},
        {fileWith(lineWith("jours=\"\"", "jours=\"8\"")), E::BadField},
        {fileWith(lineWith("jours=\"\"", "jours=\"11\"")), E::BadField},
        {fileWith(lineWith("une_fois", "chaque_semaine")), E::BadSchedule},
        {fileWith(lineWith("marge_avant=\"0\"", "marge_avant=\"241\"")), E::BadField},
        {fileWith(lineWith("marge_avant=\"0\"", "marge_avant=\"-1\"")), E::BadField},
        {fileWith(lineWith("etat=\"en_attente\"", "etat=\"perdu\"")), E::BadField},
        {fileWith(lineWith("dernier=\"\"", "dernier=\"2026-12-24T25:00:00Z\"")), E::BadField},
        {fileWith(lineWith(" titre=\"\"", "")), E::BadField},
        {fileWith(lineWith("titre=\"\"", "titre=\"\" note=\"\"")), E::BadField},
        {fileWith(lineWith("chaine=\"France 2\"", "chaine=\"" + std::string(256, 'a') + "\"")),
         E::TooLong},
        {fileWith(lineWith("titre=\"\"", "titre=\"" + std::string(100000, '&') + "\"")), E::NotXml},
        {fileWith(lineWith("titre=\"\"", "titre=\"" + std::string(300, 'a') + "\"")), E::TooLong},
        {fileWith(lineWith("chaine=\"France 2\"", "chaine=\"&#xE000;\"")), E::BadField},
        {fileWith(lineWith("chaine=\"France 2\"", "chaine=\"&eacute;\"")), E::NotXml},
        {fileWith(lineWith("chaine=\"France 2\"", "chaine=\"&#0;\"")), E::NotXml},
        {fileWith(lineWith("chaine=\"France 2\"", "chaine=\"\xC3(\"")), E::NotXml},
        {fileWith(lineWith("chaine=\"France 2\"", "chaine=\"a<b\"")), E::NotXml},
        {fileWith(lineWith("chaine=\"France 2\"", "chaine=\"a\x01\"")), E::NotXml},
        {fileWith(std::string(kTypedLine) + kTypedLine), E::DuplicateId},
        {fileWith(lineWith("\"/>", "\">x</Enregistrement>")), E::NotXml},
        {fileWith(lineWith("<Enregistrement", "<Chaine")), E::NotXml},
        {std::string(kMaxScheduleFileBytes + 1, ' '), E::TooLarge},
    };
    for (const auto& c : cases) {
        ScheduleFile held{{typed(), typed()}, 42};
        const ScheduleFile before = held;
        EXPECT_EQ(parseScheduleFile(c.text, held), c.error) << c.text.substr(0, 300);
        EXPECT_EQ(held, before);
    }

    // Cut anywhere before its last element closes, a file is refused, never read short.
    ScheduledRecording second = typed();
    second.id = 4;
    const std::string two = formatScheduleFile({{typed(), second}, 0});
    const std::size_t whole = two.rfind('>') + 1;
    for (std::size_t n = 0; n < whole; ++n) {
        ScheduleFile out;
        EXPECT_NE(parseScheduleFile(two.substr(0, n), out), ScheduleFileError::None) << n;
    }

    ScheduleFile many;
    for (uint32_t id = 1; id <= kMaxSchedules + 1; ++id) {
        ScheduledRecording s = typed();
        s.id = id;
        many.schedules.push_back(s);
    }
    ScheduleFile out;
    EXPECT_EQ(parseScheduleFile(formatScheduleFile(many), out), E::TooLarge);
    many.schedules.pop_back();
    EXPECT_EQ(parseScheduleFile(formatScheduleFile(many), out), E::None);
}
