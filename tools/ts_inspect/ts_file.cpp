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
        if (size < 5 || !korvane::checkSectionCrc(section, size))
            return;
        const auto extension = static_cast<uint16_t>((section[3] << 8) | section[4]);
        first_.try_emplace({pid, section[0]}, section, section + size);
        firstOfExtension_.try_emplace({pid, section[0], extension}, section, section + size);
    });
}

std::optional<korvane::Section>
FileSectionReader::getSection(const korvane::SectionRequest& request) {
    if (request.extension) {
        auto it = firstOfExtension_.find({request.pid, request.tableId, *request.extension});
        if (it != firstOfExtension_.end())
            return it->second;
        return std::nullopt;
    }
    auto it = first_.find({request.pid, request.tableId});
    if (it != first_.end())
        return it->second;
    return std::nullopt;
}
