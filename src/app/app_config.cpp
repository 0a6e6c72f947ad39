#include "app/app_config.h"

#include "app/schedule.h"
#include "res/resource.h"

namespace korvane {

namespace {

constexpr std::u16string_view kTunerKey = u"Tuner TNT";
constexpr std::u16string_view kReceiverKey = u"Récepteur TNT";
constexpr std::u16string_view kVideoDecoderKey = u"Filtre vidéo";
constexpr std::u16string_view kAudioDecoderKey = u"Filtre audio";
constexpr std::u16string_view kAc3DecoderKey = u"Filtre AC3";
constexpr std::u16string_view kCityKey = u"Ville";
constexpr std::u16string_view kStrictSearchKey = u"Recherche stricte";
constexpr std::u16string_view kChannelIndexKey = u"Index chaine courante";
constexpr std::u16string_view kVideoFolderKey = u"Répertoire vidéo";
constexpr std::u16string_view kScreenshotFolderKey = u"Répertoire screenshots";
constexpr std::u16string_view kPriorityKey = u"Priorité";
constexpr std::u16string_view kNowPlayingKey = u"Envoie programme regardé à MSN";
constexpr std::u16string_view kAlwaysOnTopKey = u"Fenêtre toujours devant";
constexpr std::u16string_view kPreferAc3Key = u"Utilise AC3 quand dispo";
constexpr std::u16string_view kDeinterlaceKey = u"Utilise le désentrelacement du VMR";
constexpr std::u16string_view kLeftKey = u"Abscisse fenêtre";
constexpr std::u16string_view kTopKey = u"Ordonnée fenêtre";
constexpr std::u16string_view kWidthKey = u"Largeur fenêtre";
constexpr std::u16string_view kHeightKey = u"Hauteur fenêtre";
constexpr std::u16string_view kFullWidthKey = u"Utilise toute la largeur";
constexpr std::u16string_view kZoomKey = u"Facteur de zoom";
constexpr std::u16string_view kH264DecoderKey = u"Filtre vidéo H264";
constexpr std::u16string_view kEac3DecoderKey = u"Filtre audio E-AC3";
constexpr std::u16string_view kSubtitlesKey = u"Sous-titres";

constexpr std::u16string_view kMarginBeforeKey = u"Marge avant";
constexpr std::u16string_view kMarginAfterKey = u"Marge après";
constexpr std::u16string_view kMinimizeToTrayKey = u"Réduire dans la zone de notification";

// The settings keep their margins within what a schedule accepts.
static_assert(kMaxMarginMinutes == kMaxMargin);

constexpr Priority kPriorities[] = {
    {u"Haute", IDM_PRIORITY_HIGH, kHighPriorityClass},
    {u"Normale", IDM_PRIORITY_NORMAL, kNormalPriorityClass},
    {u"Inférieure", IDM_PRIORITY_BELOW_NORMAL, kBelowNormalPriorityClass},
    {u"Supérieure", IDM_PRIORITY_ABOVE_NORMAL, kAboveNormalPriorityClass},
};

constexpr const Priority& kFallbackPriority = kPriorities[3];

template <class Matches> const Priority& findPriority(Matches matches) {
    for (const Priority& priority : kPriorities)
        if (matches(priority))
            return priority;
    return kFallbackPriority;
}

std::u16string decimal(int64_t value) {
    bool negative = value < 0;
    uint64_t magnitude = negative ? uint64_t(0) - uint64_t(value) : uint64_t(value);
    std::u16string digits;
    do {
        digits.insert(digits.begin(), char16_t(u'0' + magnitude % 10));
        magnitude /= 10;
    } while (magnitude);
    if (negative)
        digits.insert(digits.begin(), u'-');
    return digits;
}

std::u16string readText(ProfileStore& store, std::u16string_view key, std::u16string_view fallback,
                        std::size_t capacity) {
    return store.readString(kConfigSection, key, fallback, capacity);
}

int readMargin(ProfileStore& store, std::u16string_view key, int fallback) {
    const int minutes = store.readInt(kConfigSection, key, fallback);
    return minutes < 0 ? 0 : minutes > kMaxMarginMinutes ? kMaxMarginMinutes : minutes;
}

bool readBoolean(ProfileStore& store, std::u16string_view key) {
    // Long enough to tell "Vrai" from "Vraiment".
    return isTrueText(store.readString(kConfigSection, key, u"", 16));
}

} // namespace

bool isTrueText(std::u16string_view text) {
    return text == u"Vrai";
}

std::u16string_view booleanText(bool on) {
    return on ? u"Vrai" : u"Faux";
}

std::span<const Priority> priorities() {
    return kPriorities;
}

uint16_t priorityCommandForWord(std::u16string_view word) {
    return findPriority([&](const Priority& p) { return p.word == word; }).command;
}

uint32_t priorityClassForCommand(uint16_t command) {
    return findPriority([&](const Priority& p) { return p.command == command; }).priorityClass;
}

uint16_t priorityCommandForClass(uint32_t priorityClass) {
    return findPriority([&](const Priority& p) { return p.priorityClass == priorityClass; })
        .command;
}

std::u16string_view priorityWordForClass(uint32_t priorityClass) {
    return findPriority([&](const Priority& p) { return p.priorityClass == priorityClass; }).word;
}

LoadedConfig readConfig(ProfileStore& store, std::u16string_view currentDirectory) {
    LoadedConfig loaded;
    AppConfig& c = loaded.config;
    c.tunerName = readText(store, kTunerKey, u"", kNameCapacity);
    c.receiverName = readText(store, kReceiverKey, u"", kNameCapacity);
    c.videoDecoderName = readText(store, kVideoDecoderKey, u"", kNameCapacity);
    c.audioDecoderName = readText(store, kAudioDecoderKey, u"", kNameCapacity);
    c.ac3DecoderName = readText(store, kAc3DecoderKey, u"", kNameCapacity);
    c.city = readText(store, kCityKey, u"", kNameCapacity);
    c.strictSearch = store.readInt(kConfigSection, kStrictSearchKey, 1);
    c.startChannelIndex = store.readInt(kConfigSection, kChannelIndexKey, 0);
    c.videoFolder = readText(store, kVideoFolderKey, currentDirectory, kFolderCapacity);
    c.screenshotFolder = readText(store, kScreenshotFolderKey, currentDirectory, kFolderCapacity);
    // Long enough to hold more than the longest word, so that a longer text never matches.
    loaded.priorityCommand = priorityCommandForWord(readText(store, kPriorityKey, u"", 64));
    c.sendNowPlaying = readBoolean(store, kNowPlayingKey);
    c.alwaysOnTop = readBoolean(store, kAlwaysOnTopKey);
    c.preferAc3 = readBoolean(store, kPreferAc3Key);
    c.vmrDeinterlace = readBoolean(store, kDeinterlaceKey);
    c.windowLeft = store.readInt(kConfigSection, kLeftKey, kDefaultWindowPosition);
    c.windowTop = store.readInt(kConfigSection, kTopKey, kDefaultWindowPosition);
    c.windowWidth = store.readInt(kConfigSection, kWidthKey, 800);
    c.windowHeight = store.readInt(kConfigSection, kHeightKey, 600);
    c.fullWidth = readBoolean(store, kFullWidthKey);
    c.zoomPercent = store.readInt(kConfigSection, kZoomKey, 100);
    c.h264DecoderName = readText(store, kH264DecoderKey, u"", kNameCapacity);
    c.eac3DecoderName = readText(store, kEac3DecoderKey, u"", kNameCapacity);
    const std::u16string subtitles = readText(store, kSubtitlesKey, u"", 64);
    c.subtitles = subtitlePreferenceFromWord(subtitles);
    c.subtitlesStored = !subtitles.empty();
    c.marginBeforeMinutes = readMargin(store, kMarginBeforeKey, c.marginBeforeMinutes);
    c.marginAfterMinutes = readMargin(store, kMarginAfterKey, c.marginAfterMinutes);
    c.minimizeToTray = readBoolean(store, kMinimizeToTrayKey);
    return loaded;
}

bool writeConfig(ProfileStore& store, const AppConfig& c, const SaveContext& context) {
    bool ok = true;
    auto put = [&](std::u16string_view key, std::u16string_view value) {
        ok = store.writeString(kConfigSection, key, value) && ok;
    };
    put(kTunerKey, c.tunerName);
    put(kReceiverKey, c.receiverName);
    put(kVideoDecoderKey, c.videoDecoderName);
    put(kAudioDecoderKey, c.audioDecoderName);
    put(kAc3DecoderKey, c.ac3DecoderName);
    put(kCityKey, c.city);
    put(kStrictSearchKey, c.strictSearch ? u"1" : u"0");
    put(kChannelIndexKey, decimal(context.currentIndex));
    put(kVideoFolderKey, c.videoFolder);
    put(kScreenshotFolderKey, c.screenshotFolder);
    put(kPriorityKey, priorityWordForClass(context.priorityClass));
    put(kNowPlayingKey, booleanText(c.sendNowPlaying));
    put(kAlwaysOnTopKey, booleanText(c.alwaysOnTop));
    put(kPreferAc3Key, booleanText(c.preferAc3));
    put(kFullWidthKey, booleanText(c.fullWidth));
    put(kDeinterlaceKey, booleanText(c.vmrDeinterlace));
    put(kZoomKey, decimal(c.zoomPercent));
    int64_t left = c.windowLeft;
    int64_t top = c.windowTop;
    int64_t width = c.windowWidth;
    int64_t height = c.windowHeight;
    if (const auto& rect = context.windowRect) {
        left = rect->left;
        top = rect->top;
        width = int64_t(rect->right) - rect->left;
        height = int64_t(rect->bottom) - rect->top;
    }
    put(kLeftKey, decimal(left));
    put(kTopKey, decimal(top));
    put(kWidthKey, decimal(width));
    put(kHeightKey, decimal(height));
    if (!c.h264DecoderName.empty())
        put(kH264DecoderKey, c.h264DecoderName);
    if (!c.eac3DecoderName.empty())
        put(kEac3DecoderKey, c.eac3DecoderName);
    if (c.subtitles != SubtitlePreference::Off || c.subtitlesStored)
        put(kSubtitlesKey, subtitlePreferenceWord(c.subtitles));
    put(kMarginBeforeKey, decimal(c.marginBeforeMinutes));
    put(kMarginAfterKey, decimal(c.marginAfterMinutes));
    put(kMinimizeToTrayKey, booleanText(c.minimizeToTray));
    return ok;
}

} // namespace korvane
