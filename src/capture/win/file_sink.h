#pragma once

#include "capture/recorder.h"

#include <windows.h>

namespace korvane {

// A recording file: created for writing, not shared, replacing any file of that name.
// Closed when the sink is destroyed.
class FileSink : public ByteSink {
  public:
    explicit FileSink(const wchar_t* path);
    ~FileSink() override;
    FileSink(const FileSink&) = delete;
    FileSink& operator=(const FileSink&) = delete;

    bool isOpen() const { return handle_ != INVALID_HANDLE_VALUE; }
    // False when the file is not open or the system took fewer bytes than given.
    bool write(const uint8_t* data, std::size_t size) override;

  private:
    HANDLE handle_;
};

} // namespace korvane
