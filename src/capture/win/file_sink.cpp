#include "capture/win/file_sink.h"

namespace korvane {

FileSink::FileSink(const wchar_t* path)
    : handle_(CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                          nullptr)) {}

FileSink::~FileSink() {
    if (isOpen())
        CloseHandle(handle_);
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
