#include "support/stdio_sink.h"

namespace korvane {

StdioFileSink::StdioFileSink(const char* path) : file_(std::fopen(path, "wb")) {
    if (file_ != nullptr)
        std::setvbuf(file_, nullptr, _IONBF, 0);
}

StdioFileSink::~StdioFileSink() {
    close();
}

bool StdioFileSink::write(const uint8_t* data, std::size_t size) {
    return file_ != nullptr && std::fwrite(data, 1, size, file_) == size;
}

bool StdioFileSink::close() {
    if (file_ == nullptr)
        return false;
    bool ok = std::fclose(file_) == 0;
    file_ = nullptr;
    return ok;
}

} // namespace korvane
