#include "support/channel_file_reader.h"

#include "support/xml_tree.h"

#include <optional>

namespace korvane {

bool parseChannelFile(std::string_view bytes, ChannelRecords& records, const WideToAnsi& toAnsi) {
    std::optional<XmlNode> root = parseXmlDocument(bytes);
    if (!root)
        return false;
    appendChannelRecords(*root, records, toAnsi);
    return true;
}

} // namespace korvane
