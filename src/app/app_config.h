#pragma once

#include "app/subtitle_choice.h"
#include "common/profile_store.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace korvane {

inline constexpr std::u16string_view kConfigSection = u"Config";
inline constexpr const wchar_t* kConfigFileName = L"config.ini";

// Capacities of the text settings, terminator included.
inline constexpr std::size_t kNameCapacity = 256;
inline constexpr std::size_t kFolderCapacity = 512;

// CW_USEDEFAULT: the system chooses the window position.
inline constexpr int kDefaultWindowPosition = static_cast<int>(0x80000000u);

// The settings of config.ini section "Config", for the whole run.
struct AppConfig {
    std::u16string tunerName;
    std::u16string receiverName;
    std::u16string videoDecoderName;
    std::u16string audioDecoderName;
    std::u16string ac3DecoderName;
    std::u16string city;
    int strictSearch = 1;
    int startChannelIndex = 0;
    std::u16string videoFolder;
    std::u16string screenshotFolder;
    bool sendNowPlaying = false;
    bool alwaysOnTop = false;
    bool preferAc3 = false;
    bool vmrDeinterlace = false;
    int windowLeft = kDefaultWindowPosition;
    int windowTop = kDefaultWindowPosition;
    int windowWidth = 800;
    int windowHeight = 600;
    bool fullWidth = false;
    int zoomPercent = 100;
    // Decoders of today's broadcasts, after the settings above: "Filtre vidéo H264" and
    // "Filtre audio E-AC3", empty when missing.
    std::u16string h264DecoderName;
    std::u16string eac3DecoderName;
    // "Sous-titres", after those: written once the user has chosen subtitles, so that the
    // file of one who never did keeps its lines.
    SubtitlePreference subtitles = SubtitlePreference::Off;
    bool subtitlesStored = false; // the file holds the key

    // A programme recorded from the guide starts marginBeforeMinutes early and ends
    // marginAfterMinutes late ("Marge avant", "Marge après", minutes, 0 ... kMaxMarginMinutes).
    int marginBeforeMinutes = 2;
    int marginAfterMinutes = 10;
    // "Réduire dans la zone de notification": a minimised window leaves the task bar for an
    // icon in the notification area.
    bool minimizeToTray = false;
};

// Margins read beyond this (or below 0) are brought back to it (or to 0): a negative margin
// would cut the programme, and a huge one would block the tuner for a day.
inline constexpr int kMaxMarginMinutes = 240;

// Process priority classes, with the platform's values.
inline constexpr uint32_t kHighPriorityClass = 0x80;
inline constexpr uint32_t kNormalPriorityClass = 0x20;
inline constexpr uint32_t kAboveNormalPriorityClass = 0x8000;
inline constexpr uint32_t kBelowNormalPriorityClass = 0x4000;

// One of the four priorities the menu offers: the word stored under "Priorité", the menu
// command and the process priority class.
struct Priority {
    std::u16string_view word;
    uint16_t command;
    uint32_t priorityClass;
};

// High, normal, below normal, then above normal: the one any other word or class stands for.
std::span<const Priority> priorities();

// The priority menu command a stored word stands for: "Haute", "Normale" and "Inférieure"
// compared in full and with case; any other text means above normal.
uint16_t priorityCommandForWord(std::u16string_view word);
// The class a priority command sets; above normal for anything that is not a priority command.
uint32_t priorityClassForCommand(uint16_t command);
// The word saved for a class; classes other than high, normal and below normal (idle, real
// time, or one set from outside) are saved as "Supérieure".
std::u16string_view priorityWordForClass(uint32_t priorityClass);
// The priority command whose menu item stands for a class, by the same rule.
uint16_t priorityCommandForClass(uint32_t priorityClass);

struct LoadedConfig {
    AppConfig config;
    // The command of the stored "Priorité" word.
    uint16_t priorityCommand = 0;
};

// Reads section "Config" key by key; missing keys give the defaults, the folders default to
// currentDirectory. Text is cut to the capacities above.
LoadedConfig readConfig(ProfileStore& store, std::u16string_view currentDirectory);

struct ScreenRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};

// What the save takes from the running program rather than from AppConfig.
struct SaveContext {
    int32_t currentIndex = -1;
    uint32_t priorityClass = kAboveNormalPriorityClass;
    // The main window's rectangle in screen coordinates; without one the stored geometry
    // fields are written back unchanged.
    std::optional<ScreenRect> windowRect;
};

// Writes every key of section "Config", one write per key, in the file's key order; the
// two decoder names of today's broadcasts follow, only when set, so that a file of a user
// who never chose them keeps its lines; the recording margins and the notification-area
// choice come last.
// False when any write failed (the settings stay in memory either way).
bool writeConfig(ProfileStore& store, const AppConfig& config, const SaveContext& context);

// "Vrai" only for exactly that text.
bool isTrueText(std::u16string_view text);
std::u16string_view booleanText(bool on);

} // namespace korvane
