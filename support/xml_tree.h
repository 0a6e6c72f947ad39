#pragma once

#include "channels/xml_node.h"

#include <optional>
#include <string_view>

namespace korvane {

// A small non-validating reader for the tests and the developer tools (the program reads
// XML with the platform's DOM parser). Accepts UTF-8 (with or without a byte-order mark)
// and an ISO-8859-1 / windows-1252 declaration; refuses anything that is not well-formed,
// document type declarations included, as the platform's DOM parser would. Text made only
// of white space between elements is dropped. Returns the document element.
std::optional<XmlNode> parseXmlDocument(std::string_view bytes);

} // namespace korvane
