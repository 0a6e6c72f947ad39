#pragma once

#include "graph/graph_errors.h"

#include <string>
#include <vector>

namespace korvane::testing {

// Keeps the graph's failure messages, in the order they were reported.
class GraphErrorCollector : public GraphErrorReporter {
  public:
    void report(const wchar_t* text) override { seen_.emplace_back(text); }
    const std::vector<std::wstring>& seen() const { return seen_; }

  private:
    std::vector<std::wstring> seen_;
};

} // namespace korvane::testing
