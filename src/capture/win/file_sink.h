#pragma once

#include "capture/recorder.h"

#include <windows.h>

#include <string>

namespace korvane {

// A recording or screenshot file: a new file, created for writing and not shared. A file of
// the same name is never replaced (two recordings in one second, a clock set back): the next
// free name with " (2)", " (3)" ... before the extension is taken. Closed when the sink is
// destroyed.
class FileSink : public ByteSink {
  public:
    explicit FileSink(const wchar_t* path);
    ~FileSink() override;
    FileSink(const FileSink&) = delete;
    FileSink& operator=(const FileSink&) = delete;

    bool isOpen() const { return handle_ != INVALID_HANDLE_VALUE; }
    // The file created; empty when none could be.
    const std::wstring& path() const { return path_; }
    // False when the file is not open or the system took fewer bytes than given.
    bool write(const uint8_t* data, std::size_t size) override;
    // Closes the file; false when it was not open or the system reported an error.
    bool close() override;

  private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
    std::wstring path_;
};

} // namespace korvane
