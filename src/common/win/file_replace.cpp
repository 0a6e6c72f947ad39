#include "common/win/file_replace.h"

#include <windows.h>

#include <algorithm>

namespace korvane {

namespace {

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

bool writeAll(HANDLE file, std::string_view bytes) {
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

bool isMissing(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// Another program reading the file at that moment (a backup, an indexer, an editor; this
// program's own tests) holds it open without delete sharing, and the replace fails with a
// sharing error that is gone a moment later: such a failure is tried again for up to half
// a second before it counts.
bool replaceWithRetries(const std::wstring& from, const std::wstring& to) {
    for (int attempt = 0;; ++attempt) {
        if (MoveFileExW(from.c_str(), to.c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return true;
        const DWORD error = GetLastError();
        const bool transient = error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ||
                               error == ERROR_LOCK_VIOLATION;
        if (!transient || attempt >= 20)
            return false;
        Sleep(25);
    }
}

} // namespace

bool replaceFileContents(const std::wstring& path, std::string_view bytes) {
    const std::wstring temp = path + kReplaceTempSuffix;
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
    if (!replaceWithRetries(temp, path)) {
        DeleteFileW(temp.c_str());
        return false;
    }
    return true;
}

FileReadResult readWholeFile(const std::wstring& path, std::size_t maxBytes, std::string& bytes) {
    FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid())
        return isMissing(GetLastError()) ? FileReadResult::Missing : FileReadResult::Failed;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file.get(), &size) || size.QuadPart < 0)
        return FileReadResult::Failed;
    if (static_cast<unsigned long long>(size.QuadPart) > maxBytes)
        return FileReadResult::TooLarge;
    std::string out(static_cast<std::size_t>(size.QuadPart), '\0');
    std::size_t done = 0;
    while (done < out.size()) {
        DWORD got = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(out.size() - done, 1u << 20));
        if (!ReadFile(file.get(), out.data() + done, chunk, &got, nullptr))
            return FileReadResult::Failed;
        if (got == 0)
            break;
        done += got;
    }
    // A file that shrank while being read gives what it held; one that grew is read again
    // next time.
    out.resize(done);
    bytes = std::move(out);
    return FileReadResult::Read;
}

FileKeptAside keepFileAside(const std::wstring& path, const std::wstring& suffix) {
    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES && isMissing(GetLastError()))
        return FileKeptAside::Missing;
    const std::wstring kept = path + suffix;
    if (!MoveFileExW(path.c_str(), kept.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return FileKeptAside::NotKept;
    return FileKeptAside::Kept;
}

} // namespace korvane
