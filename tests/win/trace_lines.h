#pragma once

#include <fstream>
#include <string>
#include <vector>

namespace korvane::testing {

// The lines of a testbed trace file without their time stamps, only those that begin with
// prefix.
inline std::vector<std::string> traceLines(const std::wstring& path,
                                           const std::string& prefix = "") {
    std::ifstream file(path.c_str());
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(file, line)) {
        const std::size_t space = line.find(' ');
        std::string text = space == std::string::npos ? line : line.substr(space + 1);
        if (text.compare(0, prefix.size(), prefix) == 0)
            lines.push_back(text);
    }
    return lines;
}

} // namespace korvane::testing
