#include "ts_file.h"

#include "si/section_check.h"

#include <fstream>
#include <iterator>

std::optional<std::string> readWholeFile(const char* path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        return std::nullopt;
    return bytes;
}

FileSectionReader::FileSectionReader(const std::string& stream) {
    forEachSection(stream, {}, [this](uint16_t pid, const uint8_t* section, std::size_t size) {
        auto key = std::make_pair(pid, section[0]);
        if (first_.count(key) == 0 && korvane::checkSectionCrc(section, size))
            first_.emplace(key, std::vector<uint8_t>(section, section + size));
    });
}

std::optional<std::vector<uint8_t>> FileSectionReader::getSection(uint16_t pid, uint8_t tableId,
                                                                  int) {
    auto it = first_.find({pid, tableId});
    if (it == first_.end())
        return std::nullopt;
    return it->second;
}
