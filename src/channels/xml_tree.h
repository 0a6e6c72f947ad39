#pragma once

#include <optional>
#include <string>
#include <string_view>
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

// A small non-validating reader for the channel file and the developer tools. Accepts
// UTF-8 (with or without a byte-order mark) and an ISO-8859-1 / windows-1252 declaration;
// refuses anything that is not well-formed, document type declarations included, as the
// platform's DOM parser would. Text made only of white space between elements is dropped.
// Returns the document element.
std::optional<XmlNode> parseXmlDocument(std::string_view bytes);

} // namespace korvane
