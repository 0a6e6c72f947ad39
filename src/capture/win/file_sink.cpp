#include "capture/win/file_sink.h"

#include "capture/recording_names.h"
#include "common/win/wide_text.h"

#include <optional>

namespace korvane {

namespace {

// Past this many files of one name, something else is wrong: give up as for any failure.
constexpr int kMaxNumberedFiles = 999;

} // namespace

FileSink::FileSink(const wchar_t* path) {
    const std::u16string wanted = toU16(path);
    for (int n = 1; n <= kMaxNumberedFiles; ++n) {
        const std::optional<std::u16string> candidate = numberedPath(wanted, n);
        if (!candidate)
            return;
        const std::wstring name = toWide(*candidate);
        handle_ = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle_ != INVALID_HANDLE_VALUE) {
            path_ = name;
            return;
        }
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
            return;
    }
}

FileSink::~FileSink() {
    close();
}

bool FileSink::close() {
    if (!isOpen())
        return false;
    const bool ok = CloseHandle(handle_) != 0;
    handle_ = INVALID_HANDLE_VALUE;
    return ok;
}

bool FileSink::write(const uint8_t* data, std::size_t size) {
    if (!isOpen())
        return false;
    while (size > 0) {
        DWORD chunk = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!WriteFile(handle_, data, chunk, &written, nullptr) || written == 0)
            return false;
        data += written;
        size -= written;
    }
    return true;
}

} // namespace korvane
