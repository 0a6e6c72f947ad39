// The program's whole start under Wine with the testbed: the configuration dialog of a first
// run, the scan of the demo city, the first channel playing; and each failure of the graph
// with its boxes in order and the exit code.
#include "demo_city_channels.h"
#include "program_runner.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

namespace korvane::testing {
namespace {

using Lines = std::vector<std::string>;
using Texts = std::vector<std::wstring>;

constexpr DWORD kFailedStart = static_cast<DWORD>(-1);

struct FirstRun {
    const wchar_t* tuner;
    const wchar_t* receiver;
};

TEST(ProgramFirstRun, ConfigurationThenTheScanThenTheFirstChannelPlays) {
    for (const FirstRun& c :
         {FirstRun{L"Korvane Testbed Tuner USB", nullptr},
          FirstRun{L"Korvane Testbed Tuner PCI", L"Korvane Testbed Receiver"}}) {
        SCOPED_TRACE(c.receiver ? "PCI tuner" : "USB tuner");
        ProgramRun run;
        ASSERT_TRUE(copyCityFile(run));
        TestbedSettings testbed(run, "testbed/muxes");
        ASSERT_TRUE(run.start());

        HWND dialog = run.waitForWindow(L"#32770", 60000, L"Configuration");
        ASSERT_NE(dialog, nullptr);
        const Texts tuners = comboItems(dialog, 1009);
        for (const wchar_t* tuner : {L"Korvane Testbed Tuner PCI", L"Korvane Testbed Tuner USB"})
            EXPECT_NE(std::find(tuners.begin(), tuners.end(), tuner), tuners.end()) << tuner;
        const Texts receivers = comboItems(dialog, 1010);
        EXPECT_NE(std::find(receivers.begin(), receivers.end(), L"Korvane Testbed Receiver"),
                  receivers.end());
        const struct {
            int id;
            const wchar_t* name;
        } decoders[] = {{1002, L"Korvane Testbed MPEG-2 Video Decoder"},
                        {1003, L"Korvane Testbed MPEG Audio Decoder"},
                        {1004, L"Korvane Testbed AC-3 Audio Decoder"}};
        for (const auto& decoder : decoders)
            EXPECT_TRUE(chooseInCombo(dialog, decoder.id, decoder.name)) << decoder.id;
        ASSERT_TRUE(chooseInCombo(dialog, 1009, c.tuner));
        if (c.receiver) {
            ASSERT_TRUE(chooseInCombo(dialog, 1010, c.receiver));
        }
        ASSERT_TRUE(chooseInCombo(dialog, 1001, L"Démoville"));
        pressOk(dialog);

        EXPECT_NE(run.waitForWindow(L"#32770", 30000, L"Scan des fréquences en cours"), nullptr);
        HWND window = run.waitForWindow(L"Korvane TV", 60000);
        ASSERT_NE(window, nullptr);
        // Playing: the first channel's multiplex tuned once more after the scan, then mapped.
        const auto played = [&] {
            Lines lines;
            for (const std::string& line : testbed.trace())
                if ((line.rfind("tune ", 0) == 0 || line.find("map ") != std::string::npos) &&
                    line.find(" data ") == std::string::npos &&
                    line.find(" epg ") == std::string::npos)
                    lines.push_back(line);
            auto last = std::find(lines.rbegin(), lines.rend(), "tune 562167");
            return last == lines.rend() ? Lines{} : Lines(std::prev(last.base()), lines.end());
        };
        for (int i = 0; i < 300 && played().size() < 4; ++i)
            Sleep(100);
        EXPECT_EQ(played(),
                  (Lines{"tune 562167", "map video 288 es", "map son 304 es", "map pmt 1061 psi"}));
        EXPECT_EQ(testbed.trace("tune").size(), 7u) << "six for the scan, one to play";
        // The renderer in renderless mode with the program's preferences, keyed on the
        // window's background, drawing pictures.
        for (int i = 0; i < 100 && testbed.trace("picture").empty(); ++i)
            Sleep(100);
        EXPECT_EQ(testbed.trace("render"), Lines{"render 4 prefs a"});
        EXPECT_EQ(testbed.trace("colorkey"), Lines{"colorkey 10000"});
        EXPECT_FALSE(testbed.trace("picture").empty());
        expectDemoCityChannels(readFile(run.folder() + L"\\chaines.xml"));
        EXPECT_EQ(run.waitForWindow(L"#32770", 500), nullptr) << "no box";

        PostMessageW(window, WM_CLOSE, 0, 0);
        EXPECT_EQ(run.waitForExit(30000), 0u);
        EXPECT_EQ(run.readConfig(L"Tuner TNT"), c.tuner);
        EXPECT_EQ(run.readConfig(L"Récepteur TNT"), c.receiver ? c.receiver : L"");
        EXPECT_EQ(run.readConfig(L"Ville"), L"Démoville");
        EXPECT_EQ(run.readConfig(L"Filtre vidéo"), L"Korvane Testbed MPEG-2 Video Decoder");
        EXPECT_EQ(run.readConfig(L"Index chaine courante"), L"0");
    }
}

TEST(ProgramGraphFailures, EachEndsTheStartWithItsBoxesInOrder) {
    struct Case {
        const wchar_t* faults;
        const wchar_t* tuner;
        const wchar_t* receiver;
        Texts boxes;
    };
    const Case cases[] = {
        {L"tuner-no-device-control",
         L"Korvane Testbed Tuner USB",
         L"",
         {L"IBDA_DeviceControl", L"Pas trouvé l'interface pour changer de fréquence"}},
        {L"tuner-no-topology",
         L"Korvane Testbed Tuner PCI",
         L"Korvane Testbed Receiver",
         {L"Pas trouvé l'interface pour changer de fréquence"}},
        {L"tuner-no-statistics-node",
         L"Korvane Testbed Tuner USB",
         L"",
         {L"Pas trouvé l'interface pour avoir la qualité du signal"}},
        {L"renderer-no-windowless-control",
         L"Korvane Testbed Tuner USB",
         L"",
         {L"Pas de VMR control !", L"Erreur lors du rendu du pin vidéo",
          L"Erreur lors de la création du graph"}},
        {L"audio-decoder-refuses-renderer",
         L"Korvane Testbed Tuner USB",
         L"",
         {L"connec Codec audio", L"Erreur lors du rendu du pin son",
          L"Erreur lors de la création du graph"}},
    };
    for (const Case& c : cases) {
        ProgramRun run;
        TestbedSettings testbed(run, "testbed-data", c.faults);
        run.writeConfig(L"Tuner TNT", c.tuner);
        run.writeConfig(L"Récepteur TNT", c.receiver);
        run.writeConfig(L"Filtre audio", L"Korvane Testbed MPEG Audio Decoder");
        ASSERT_TRUE(run.start());
        Texts boxes;
        while (HWND box = run.waitForWindow(L"#32770", 30000)) {
            boxes.push_back(messageText(box));
            pressOk(box);
            for (int i = 0; i < 50 && IsWindow(box); ++i)
                Sleep(20);
        }
        EXPECT_EQ(boxes, c.boxes) << c.faults;
        EXPECT_EQ(run.waitForExit(30000), kFailedStart) << c.faults;
        EXPECT_EQ(run.readConfig(L"Index chaine courante"), L"-1");
    }
}

} // namespace
} // namespace korvane::testing
