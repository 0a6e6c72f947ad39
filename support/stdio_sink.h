#pragma once

#include "capture/recorder.h"

#include <cstdio>

namespace korvane {

// A byte sink over a stdio file, unbuffered so that every write reaches the system at once
// (the recorder gathers small pieces itself). For tools and benchmarks.
class StdioFileSink : public ByteSink {
  public:
    explicit StdioFileSink(const char* path);
    ~StdioFileSink() override;
    StdioFileSink(const StdioFileSink&) = delete;
    StdioFileSink& operator=(const StdioFileSink&) = delete;

    bool isOpen() const { return file_ != nullptr; }
    bool write(const uint8_t* data, std::size_t size) override;
    // Closes the file; false when it was not open or the close reported an error.
    bool close() override;

  private:
    std::FILE* file_;
};

} // namespace korvane
