#include "app/app_config.h"
#include "common/repeated_failure.h"
#include "res/resource.h"
#include "support/memory_profile.h"

#include <gtest/gtest.h>

#include <optional>

#include <string>
#include <vector>

namespace korvane {
namespace {

const std::vector<std::u16string> kKeyOrder = {
    u"Tuner TNT",
    u"Récepteur TNT",
    u"Filtre vidéo",
    u"Filtre audio",
    u"Filtre AC3",
    u"Ville",
    u"Recherche stricte",
    u"Index chaine courante",
    u"Répertoire vidéo",
    u"Répertoire screenshots",
    u"Priorité",
    u"Envoie programme regardé à MSN",
    u"Fenêtre toujours devant",
    u"Utilise AC3 quand dispo",
    u"Utilise toute la largeur",
    u"Utilise le désentrelacement du VMR",
    u"Facteur de zoom",
    u"Abscisse fenêtre",
    u"Ordonnée fenêtre",
    u"Largeur fenêtre",
    u"Hauteur fenêtre",
};
// Written after every other key, the decoder names included.
const std::vector<std::u16string> kScheduleKeys = {
    u"Marge avant",
    u"Marge après",
    u"Réduire dans la zone de notification",
};

std::vector<std::u16string> keysWith(std::vector<std::u16string> keys,
                                     const std::vector<std::u16string>& more) {
    keys.insert(keys.end(), more.begin(), more.end());
    keys.insert(keys.end(), kScheduleKeys.begin(), kScheduleKeys.end());
    return keys;
}

std::u16string value(MemoryProfile& store, std::u16string_view key) {
    return store.readString(kConfigSection, key, u"<absent>", 1024);
}

LoadedConfig readWith(std::u16string_view key, std::u16string_view text) {
    MemoryProfile store;
    store.writeString(kConfigSection, key, text);
    return readConfig(store, u"C:\\tv");
}

TEST(ConfigRead, MissingFileGivesEveryDefault) {
    MemoryProfile store;
    LoadedConfig loaded = readConfig(store, u"C:\\Users\\tv");
    const AppConfig& c = loaded.config;
    EXPECT_TRUE(c.tunerName.empty());
    EXPECT_TRUE(c.receiverName.empty());
    EXPECT_TRUE(c.videoDecoderName.empty());
    EXPECT_TRUE(c.audioDecoderName.empty());
    EXPECT_TRUE(c.ac3DecoderName.empty());
    EXPECT_TRUE(c.city.empty());
    EXPECT_EQ(c.strictSearch, 1);
    EXPECT_EQ(c.startChannelIndex, 0);
    EXPECT_EQ(c.videoFolder, u"C:\\Users\\tv");
    EXPECT_EQ(c.screenshotFolder, u"C:\\Users\\tv");
    EXPECT_EQ(loaded.priorityCommand, IDM_PRIORITY_ABOVE_NORMAL);
    EXPECT_FALSE(c.sendNowPlaying || c.alwaysOnTop || c.preferAc3 || c.vmrDeinterlace ||
                 c.fullWidth);
    EXPECT_EQ(c.windowLeft, static_cast<int>(0x80000000u));
    EXPECT_EQ(c.windowTop, static_cast<int>(0x80000000u));
    EXPECT_EQ(c.windowWidth, 800);
    EXPECT_EQ(c.windowHeight, 600);
    EXPECT_EQ(c.zoomPercent, 100);
}

TEST(ConfigRead, PriorityWordsAreComparedInFullAndWithCase) {
    EXPECT_EQ(readWith(u"Priorité", u"Normale").priorityCommand, IDM_PRIORITY_NORMAL);
    EXPECT_EQ(readWith(u"Priorité", u"normale").priorityCommand, IDM_PRIORITY_ABOVE_NORMAL);
    EXPECT_EQ(readWith(u"Priorité", u"Haute").priorityCommand, IDM_PRIORITY_HIGH);
    EXPECT_EQ(readWith(u"Priorité", u"Hautement").priorityCommand, IDM_PRIORITY_ABOVE_NORMAL);
    EXPECT_EQ(readWith(u"Priorité", u"Inférieure").priorityCommand, IDM_PRIORITY_BELOW_NORMAL);
    EXPECT_EQ(readWith(u"Priorité", u"Inferieure").priorityCommand, IDM_PRIORITY_ABOVE_NORMAL);
    EXPECT_EQ(readWith(u"Priorité", u"Supérieure").priorityCommand, IDM_PRIORITY_ABOVE_NORMAL);
    EXPECT_EQ(readWith(u"Priorité", u"").priorityCommand, IDM_PRIORITY_ABOVE_NORMAL);
    // A long text that starts with a word is not that word.
    EXPECT_EQ(readWith(u"Priorité", u"Normale" + std::u16string(300, u'x')).priorityCommand,
              IDM_PRIORITY_ABOVE_NORMAL);
}

TEST(ConfigRead, OnlyExactVraiIsOn) {
    EXPECT_TRUE(readWith(u"Fenêtre toujours devant", u"Vrai").config.alwaysOnTop);
    for (std::u16string_view text : {u"vrai", u"VRAI", u"1", u"Vraiment", u"Faux", u""})
        EXPECT_FALSE(readWith(u"Fenêtre toujours devant", text).config.alwaysOnTop)
            << std::string(text.begin(), text.end());
    EXPECT_TRUE(readWith(u"Envoie programme regardé à MSN", u"Vrai").config.sendNowPlaying);
    EXPECT_TRUE(readWith(u"Utilise AC3 quand dispo", u"Vrai").config.preferAc3);
    EXPECT_TRUE(readWith(u"Utilise le désentrelacement du VMR", u"Vrai").config.vmrDeinterlace);
    EXPECT_TRUE(readWith(u"Utilise toute la largeur", u"Vrai").config.fullWidth);
}

TEST(ConfigRead, IntegersUseThePlatformReaderWithoutRangeChecks) {
    EXPECT_EQ(readWith(u"Facteur de zoom", u"abc").config.zoomPercent, 0);
    EXPECT_EQ(readWith(u"Facteur de zoom", u"500").config.zoomPercent, 500);
    EXPECT_EQ(readWith(u"Facteur de zoom", u"120%").config.zoomPercent, 120);
    EXPECT_EQ(readWith(u"Index chaine courante", u"-1").config.startChannelIndex, -1);
    EXPECT_EQ(readWith(u"Abscisse fenêtre", u"-2147483648").config.windowLeft,
              static_cast<int>(0x80000000u));
    EXPECT_EQ(readWith(u"Recherche stricte", u"0").config.strictSearch, 0);
}

TEST(ConfigRead, TextsAreCutToTheirCapacity) {
    MemoryProfile store;
    store.writeString(kConfigSection, u"Tuner TNT", std::u16string(400, u't'));
    store.writeString(kConfigSection, u"Répertoire vidéo", std::u16string(700, u'v'));
    LoadedConfig loaded = readConfig(store, std::u16string(900, u'd'));
    EXPECT_EQ(loaded.config.tunerName.size(), 255u);
    EXPECT_EQ(loaded.config.videoFolder.size(), 511u);
    EXPECT_EQ(loaded.config.screenshotFolder, std::u16string(511, u'd'));
}

TEST(ConfigWrite, NewFileHasEveryKeyInOrderWithTheirEncodings) {
    MemoryProfile store;
    AppConfig config = readConfig(store, u"C:\\tv").config;
    SaveContext context;
    context.currentIndex = -1;
    context.priorityClass = kAboveNormalPriorityClass;
    context.windowRect = ScreenRect{10, 20, 810, 620};
    EXPECT_TRUE(writeConfig(store, config, context));

    EXPECT_EQ(store.keys(kConfigSection), keysWith(kKeyOrder, {}));
    EXPECT_EQ(value(store, u"Index chaine courante"), u"-1");
    EXPECT_EQ(value(store, u"Priorité"), u"Supérieure");
    EXPECT_EQ(value(store, u"Recherche stricte"), u"1");
    EXPECT_EQ(value(store, u"Fenêtre toujours devant"), u"Faux");
    EXPECT_EQ(value(store, u"Répertoire vidéo"), u"C:\\tv");
    EXPECT_EQ(value(store, u"Facteur de zoom"), u"100");
    EXPECT_EQ(value(store, u"Abscisse fenêtre"), u"10");
    EXPECT_EQ(value(store, u"Ordonnée fenêtre"), u"20");
    EXPECT_EQ(value(store, u"Largeur fenêtre"), u"800");
    EXPECT_EQ(value(store, u"Hauteur fenêtre"), u"600");
}

TEST(ConfigWrite, ValuesRoundTripThroughTheFile) {
    AppConfig config;
    config.tunerName = u"Tuner é";
    config.receiverName = u"Récepteur";
    config.videoDecoderName = u"Décodeur vidéo";
    config.audioDecoderName = u"Audio";
    config.ac3DecoderName = u"AC3";
    config.city = u"Paris";
    config.strictSearch = 7;
    config.startChannelIndex = 99;
    config.videoFolder = u"D:\\TV";
    config.screenshotFolder = u"D:\\Images";
    config.sendNowPlaying = true;
    config.preferAc3 = true;
    config.fullWidth = true;
    config.zoomPercent = 150;
    SaveContext context;
    context.currentIndex = 4;
    context.priorityClass = kBelowNormalPriorityClass;
    context.windowRect = ScreenRect{-1920, -8, 0, 1072};

    MemoryProfile store;
    writeConfig(store, config, context);
    EXPECT_EQ(value(store, u"Recherche stricte"), u"1");
    MemoryProfile reread(store.text());
    LoadedConfig loaded = readConfig(reread, u"unused");
    const AppConfig& c = loaded.config;
    EXPECT_EQ(c.tunerName, config.tunerName);
    EXPECT_EQ(c.receiverName, config.receiverName);
    EXPECT_EQ(c.videoDecoderName, config.videoDecoderName);
    EXPECT_EQ(c.city, config.city);
    EXPECT_EQ(c.strictSearch, 1);
    // The saved index is the channel being watched, not the one read at start-up.
    EXPECT_EQ(c.startChannelIndex, 4);
    EXPECT_EQ(c.videoFolder, u"D:\\TV");
    EXPECT_EQ(c.screenshotFolder, u"D:\\Images");
    EXPECT_EQ(loaded.priorityCommand, IDM_PRIORITY_BELOW_NORMAL);
    EXPECT_TRUE(c.sendNowPlaying && c.preferAc3 && c.fullWidth);
    EXPECT_FALSE(c.alwaysOnTop || c.vmrDeinterlace);
    EXPECT_EQ(c.zoomPercent, 150);
    EXPECT_EQ(c.windowLeft, -1920);
    EXPECT_EQ(c.windowTop, -8);
    EXPECT_EQ(c.windowWidth, 1920);
    EXPECT_EQ(c.windowHeight, 1080);

    config.strictSearch = 0;
    writeConfig(store, config, context);
    EXPECT_EQ(value(store, u"Recherche stricte"), u"0");
}

// The decoders of today's broadcasts: their two keys follow the 21 others, and only when a
// name is set, so that a file whose user never chose one keeps exactly its lines.
TEST(ConfigWrite, TodaysDecoderKeysComeLastAndOnlyWhenSet) {
    struct Row {
        const char* what;
        std::u16string h264, eac3;
        std::vector<std::u16string> extraKeys;
    };
    const Row rows[] = {
        {"neither", u"", u"", {}},
        {"H.264 only", u"Décodeur H264", u"", {u"Filtre vidéo H264"}},
        {"E-AC-3 only", u"", u"DD+", {u"Filtre audio E-AC3"}},
        {"both", u"H", u"E", {u"Filtre vidéo H264", u"Filtre audio E-AC3"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        AppConfig config;
        config.h264DecoderName = row.h264;
        config.eac3DecoderName = row.eac3;
        MemoryProfile store;
        EXPECT_TRUE(writeConfig(store, config, SaveContext{}));
        EXPECT_EQ(store.keys(kConfigSection), keysWith(kKeyOrder, row.extraKeys));
        MemoryProfile reread(store.text());
        const AppConfig c = readConfig(reread, u"C:\\tv").config;
        EXPECT_EQ(c.h264DecoderName, row.h264);
        EXPECT_EQ(c.eac3DecoderName, row.eac3);
    }
    // Missing keys read as empty names; a long name is cut like the others.
    const std::u16string longName(300, u'x');
    EXPECT_EQ(readWith(u"Filtre vidéo H264", longName).config.h264DecoderName.size(), 255u);
    EXPECT_TRUE(readWith(u"Filtre vidéo", u"V").config.h264DecoderName.empty());
    EXPECT_EQ(readWith(u"Filtre audio E-AC3", u"E").config.eac3DecoderName, u"E");
}

// The subtitle preference: its key comes after the decoder names once a choice was made, and
// turning subtitles off later is written too rather than leaving the old choice in the file.
TEST(ConfigWrite, SubtitlePreferenceRoundTripsAfterTheOtherKeys) {
    struct Row {
        const char* what;
        SubtitlePreference preference;
        bool stored;
        std::optional<std::u16string> word; // none: no key written
    };
    const Row rows[] = {
        {"never chosen", SubtitlePreference::Off, false, std::nullopt},
        {"normal", SubtitlePreference::Normal, false, u"Normaux"},
        {"hard of hearing", SubtitlePreference::HardOfHearing, false, u"Sourds et malentendants"},
        {"turned off", SubtitlePreference::Off, true, u"Aucun"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        AppConfig config;
        config.subtitles = row.preference;
        config.subtitlesStored = row.stored;
        MemoryProfile store;
        EXPECT_TRUE(writeConfig(store, config, SaveContext{}));
        EXPECT_EQ(store.keys(kConfigSection),
                  keysWith(kKeyOrder, row.word ? std::vector<std::u16string>{u"Sous-titres"}
                                               : std::vector<std::u16string>{}));
        if (row.word)
            EXPECT_EQ(value(store, u"Sous-titres"), *row.word);
        MemoryProfile reread(store.text());
        const AppConfig c = readConfig(reread, u"C:\\tv").config;
        EXPECT_EQ(c.subtitles, row.preference);
        EXPECT_EQ(c.subtitlesStored, row.word.has_value());
    }
    // A word the program does not write reads as off.
    EXPECT_EQ(readWith(u"Sous-titres", u"normaux").config.subtitles, SubtitlePreference::Off);
}

TEST(ConfigRead, MarginsAndNotificationAreaChoice) {
    struct Row {
        std::u16string before, after, tray; // stored texts; "<absent>" leaves the key out
        int expectedBefore, expectedAfter;
        bool expectedTray;
        const char* written; // the three values written back, joined by '|'
    };
    const Row rows[] = {
        {u"<absent>", u"<absent>", u"<absent>", 2, 10, false, "2|10|Faux"},
        {u"0", u"0", u"Vrai", 0, 0, true, "0|0|Vrai"},
        {u"5", u"30", u"vrai", 5, 30, false, "5|30|Faux"},
        // Out of range: back to the nearest bound.
        {u"-3", u"100000", u"Faux", 0, 240, false, "0|240|Faux"},
        {u"240", u"241", u"", 240, 240, false, "240|240|Faux"},
        {u"abc", u"12 min", u"Vrai", 0, 12, true, "0|12|Vrai"},
    };
    for (const Row& row : rows) {
        MemoryProfile store;
        const std::u16string values[] = {row.before, row.after, row.tray};
        for (std::size_t i = 0; i < kScheduleKeys.size(); ++i)
            if (values[i] != u"<absent>")
                store.writeString(kConfigSection, kScheduleKeys[i], values[i]);
        const AppConfig c = readConfig(store, u"C:\\tv").config;
        SCOPED_TRACE(row.written);
        EXPECT_EQ(c.marginBeforeMinutes, row.expectedBefore);
        EXPECT_EQ(c.marginAfterMinutes, row.expectedAfter);
        EXPECT_EQ(c.minimizeToTray, row.expectedTray);
        MemoryProfile saved;
        writeConfig(saved, c, SaveContext{});
        std::u16string written;
        for (const std::u16string& key : kScheduleKeys)
            written += (written.empty() ? u"" : u"|") + value(saved, key);
        EXPECT_EQ(std::string(written.begin(), written.end()), row.written);
    }
}

TEST(ConfigWrite, ExistingLinesAreReplacedInPlaceAndOthersKept) {
    MemoryProfile store(u"[Autre]\r\na=1\r\n[Config]\r\nFacteur de zoom=90\r\nPerso=x\r\n");
    AppConfig config;
    config.zoomPercent = 130;
    writeConfig(store, config, SaveContext{});
    auto keys = store.keys(kConfigSection);
    ASSERT_GE(keys.size(), 2u);
    EXPECT_EQ(keys[0], u"Facteur de zoom");
    EXPECT_EQ(keys[1], u"Perso");
    EXPECT_EQ(value(store, u"Facteur de zoom"), u"130");
    EXPECT_EQ(store.readString(u"Autre", u"a", u"", 8), u"1");
    EXPECT_EQ(store.sectionNames().front(), u"Autre");
}

TEST(ConfigWrite, WithoutAWindowTheStoredGeometryIsKept) {
    AppConfig config;
    config.windowLeft = static_cast<int>(0x80000000u);
    config.windowTop = 2147483647;
    config.windowWidth = 1024;
    config.windowHeight = 768;
    MemoryProfile store;
    writeConfig(store, config, SaveContext{});
    EXPECT_EQ(value(store, u"Abscisse fenêtre"), u"-2147483648");
    EXPECT_EQ(value(store, u"Ordonnée fenêtre"), u"2147483647");
    EXPECT_EQ(value(store, u"Largeur fenêtre"), u"1024");
    EXPECT_EQ(value(store, u"Hauteur fenêtre"), u"768");
}

TEST(ConfigPriority, ClassesMapToWordsAndCommands) {
    EXPECT_EQ(priorityWordForClass(kHighPriorityClass), u"Haute");
    EXPECT_EQ(priorityWordForClass(kNormalPriorityClass), u"Normale");
    EXPECT_EQ(priorityWordForClass(kBelowNormalPriorityClass), u"Inférieure");
    EXPECT_EQ(priorityWordForClass(kAboveNormalPriorityClass), u"Supérieure");
    // Idle and real time, set from outside the program.
    EXPECT_EQ(priorityWordForClass(0x40), u"Supérieure");
    EXPECT_EQ(priorityWordForClass(0x100), u"Supérieure");
    EXPECT_EQ(priorityCommandForClass(0x40), IDM_PRIORITY_ABOVE_NORMAL);

    for (uint16_t command : {IDM_PRIORITY_HIGH, IDM_PRIORITY_NORMAL, IDM_PRIORITY_ABOVE_NORMAL,
                             IDM_PRIORITY_BELOW_NORMAL}) {
        uint32_t priorityClass = priorityClassForCommand(command);
        EXPECT_EQ(priorityCommandForClass(priorityClass), command);
        EXPECT_EQ(priorityCommandForWord(priorityWordForClass(priorityClass)), command);
    }
    EXPECT_EQ(priorityClassForCommand(IDM_PRIORITY_HIGH), 0x80u);
    EXPECT_EQ(priorityClassForCommand(IDM_PRIORITY_NORMAL), 0x20u);
    EXPECT_EQ(priorityClassForCommand(IDM_PRIORITY_ABOVE_NORMAL), 0x8000u);
    EXPECT_EQ(priorityClassForCommand(IDM_PRIORITY_BELOW_NORMAL), 0x4000u);
}

// A write that keeps failing is told once; a success arms the report again.
TEST(RepeatedFailure, ReportsTheFirstFailureOfEachRun) {
    const struct {
        const char* outcomes; // 'o' a success, 'x' a failure
        const char* reported; // '!' where the failure is to be told
    } cases[] = {
        {"ooo", "..."}, {"x", "!"}, {"xxxx", "!..."}, {"xxoxx", "!..!."}, {"oxoxox", ".!.!.!"},
    };
    for (const auto& c : cases) {
        RepeatedFailure failures;
        std::string got;
        for (const char* o = c.outcomes; *o; ++o)
            got += failures.mustReport(*o == 'o') ? '!' : '.';
        EXPECT_EQ(got, c.reported) << c.outcomes;
    }
}

} // namespace
} // namespace korvane
