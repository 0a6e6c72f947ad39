#pragma once

#include <string>
#include <vector>

namespace korvane {

// One node of a parsed XML document as a DOM reader presents it. Elements carry their tag
// name; other nodes carry "#text", "#comment", "#cdata-section" or, for a processing
// instruction, its target. text is the node's text content: for an element the character
// data of all its descendants joined, with white space trimmed at both ends.
struct XmlNode {
    std::u16string name;
    std::u16string text;
    std::vector<XmlNode> children;
};

} // namespace korvane
