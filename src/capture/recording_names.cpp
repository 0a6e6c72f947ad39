#include "capture/recording_names.h"

#include <cstdio>
#include <string>

namespace korvane {

namespace {

bool forbiddenInFileName(char16_t c) {
    switch (c) {
    case u'\\':
    case u'/':
    case u':':
    case u'?':
    case u'*':
    case u'"':
    case u'<':
    case u'>':
    case u'|':
        return true;
    default:
        return c < 0x20 || c == 0x7F;
    }
}

// " DD-MM hh-mm-ss" followed by the extension, as %02i would print each field.
std::u16string stampAndExtension(const DateTime& local, const char* extension) {
    char text[96];
    int n = std::snprintf(text, sizeof text, " %02i-%02i %02i-%02i-%02i.%s", local.day, local.month,
                          local.hour, local.minute, local.second, extension);
    std::u16string out;
    for (int i = 0; i < n && i < static_cast<int>(sizeof text) - 1; ++i)
        out.push_back(static_cast<char16_t>(static_cast<unsigned char>(text[i])));
    return out;
}

std::optional<std::u16string> joinPath(std::u16string_view folder, std::u16string_view name,
                                       const DateTime& local, const char* extension) {
    std::u16string path(folder);
    path.push_back(u'\\');
    path.append(name);
    path.append(stampAndExtension(local, extension));
    if (path.size() >= kMaxPathUnits)
        return std::nullopt;
    return path;
}

std::optional<std::u16string> channelPath(std::u16string_view folder, std::string_view channelName,
                                          const DateTime& local, WidenText widen,
                                          const char* extension) {
    std::u16string wide = widen != nullptr ? widen(channelName) : widenLatin1(channelName);
    return joinPath(folder, fileNameSafe(wide), local, extension);
}

} // namespace

std::u16string widenLatin1(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (char c : text)
        out.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
    return out;
}

std::u16string fileNameSafe(std::u16string_view name) {
    std::u16string out(name);
    for (char16_t& c : out) {
        if (forbiddenInFileName(c))
            c = u'_';
    }
    return out;
}

std::optional<std::u16string> numberedPath(std::u16string_view path, int n) {
    std::u16string out(path);
    if (n > 1) {
        const std::size_t folderEnd = path.find_last_of(u"\\/");
        std::size_t dot = path.rfind(u'.');
        if (dot == std::u16string_view::npos ||
            (folderEnd != std::u16string_view::npos && dot < folderEnd))
            dot = path.size();
        const std::string counter = " (" + std::to_string(n) + ")";
        out.insert(dot, std::u16string(counter.begin(), counter.end()));
    }
    if (out.size() >= kMaxPathUnits)
        return std::nullopt;
    return out;
}

std::optional<std::u16string> multiplexRecordingPath(std::u16string_view folder,
                                                     const DateTime& local) {
    return joinPath(folder, u"Transport Stream", local, "mpg");
}

std::optional<std::u16string> channelRecordingPath(std::u16string_view folder,
                                                   std::string_view channelName,
                                                   const DateTime& local, WidenText widen) {
    return channelPath(folder, channelName, local, widen, "mpg");
}

std::optional<std::u16string> screenshotPath(std::u16string_view folder,
                                             std::string_view channelName, const DateTime& local,
                                             WidenText widen) {
    return channelPath(folder, channelName, local, widen, "bmp");
}

} // namespace korvane
