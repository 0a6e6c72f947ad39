#include "channels/win/channel_file_win.h"

#include "common/win/file_replace.h"

#include <windows.h>

#include <algorithm>
#include <mutex>
#include <string_view>

namespace korvane {

namespace {

// The PMT decoder and the scan never save at the same moment, but a lock keeps two writers
// from sharing the temporary file should they ever do.
std::mutex& saveMutex() {
    static std::mutex m;
    return m;
}

// The channel file's names are ASCII: each byte is its own UTF-16 unit.
std::wstring asciiToWide(std::string_view text) {
    return std::wstring(text.begin(), text.end());
}

} // namespace

std::string wideToAnsiCodePage(std::u16string_view text) {
    if (text.empty())
        return {};
    const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
    const int units = static_cast<int>(text.size());
    const int bytes = WideCharToMultiByte(CP_ACP, 0, wide, units, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0)
        return std::string(text.size(), '?');
    std::string out(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide, units, out.data(), bytes, nullptr, nullptr);
    return out;
}

int loadChannelFileFrom(const std::wstring& path, ChannelList& list) {
    XmlNode root;
    if (!loadXmlTreeWithMsxml(path, root))
        return 1;
    ChannelRecords records;
    appendChannelRecords(root, records, wideToAnsiCodePage);
    for (const ChannelInfo& c : records)
        list.append(c);
    return 0;
}

int loadChannelFile(ChannelList& list) {
    return loadChannelFileFrom(asciiToWide(kChannelFileName), list);
}

UnreadableChannelFile keepUnreadableChannelFileAt(const std::wstring& path) {
    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            return UnreadableChannelFile::Missing;
    }
    const std::wstring kept = path + asciiToWide(kChannelFileUnreadableSuffix);
    if (!MoveFileExW(path.c_str(), kept.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return UnreadableChannelFile::NotKept;
    return UnreadableChannelFile::Kept;
}

UnreadableChannelFile keepUnreadableChannelFile() {
    return keepUnreadableChannelFileAt(asciiToWide(kChannelFileName));
}

bool saveChannelFileTo(const std::wstring& path, const ChannelRecords& records) {
    std::lock_guard guard(saveMutex());
    return replaceFileContents(path, formatChannelFile(records));
}

void saveChannelFile(const ChannelRecords& records) {
    saveChannelFileTo(asciiToWide(kChannelFileName), records);
}

void saveChannelFile(ChannelList& list) {
    saveChannelFile(list.snapshot());
}

} // namespace korvane
