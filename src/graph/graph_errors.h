#pragma once

namespace korvane {

// Where the graph's construction reports its failures, one message at a time and in the
// order they happen; the shell shows each in an error box.
class GraphErrorReporter {
  public:
    virtual ~GraphErrorReporter() = default;
    virtual void report(const wchar_t* text) = 0;
};

} // namespace korvane
