#include "channels/win/channel_file_win.h"

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

class FileHandle {
  public:
    explicit FileHandle(HANDLE h) : h_(h) {}
    ~FileHandle() { close(); }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    HANDLE get() const { return h_; }
    bool valid() const { return h_ != INVALID_HANDLE_VALUE; }
    bool close() {
        if (!valid())
            return true;
        BOOL ok = CloseHandle(h_);
        h_ = INVALID_HANDLE_VALUE;
        return ok != FALSE;
    }

  private:
    HANDLE h_;
};

bool writeAll(HANDLE file, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const DWORD chunk =
            static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 20));
        DWORD written = 0;
        if (!WriteFile(file, bytes.data() + done, chunk, &written, nullptr) || written == 0)
            return false;
        done += written;
    }
    return true;
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
    const std::string bytes = formatChannelFile(records);
    const std::wstring temp = path + asciiToWide(kChannelFileTempSuffix);
    std::lock_guard guard(saveMutex());
    {
        FileHandle file(CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.valid())
            return false;
        const bool written = writeAll(file.get(), bytes) && FlushFileBuffers(file.get());
        if (!file.close() || !written) {
            DeleteFileW(temp.c_str());
            return false;
        }
    }
    if (!MoveFileExW(temp.c_str(), path.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileW(temp.c_str());
        return false;
    }
    return true;
}

void saveChannelFile(const ChannelRecords& records) {
    saveChannelFileTo(asciiToWide(kChannelFileName), records);
}

void saveChannelFile(ChannelList& list) {
    saveChannelFile(list.snapshot());
}

} // namespace korvane
