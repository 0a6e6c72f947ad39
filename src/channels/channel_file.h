#pragma once

#include "channels/channel_list.h"
#include "channels/xml_node.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace korvane {

// Name of the channel file in the working directory, and the suffix of the copy written
// before it replaces the file, so that a cut-off write never leaves a truncated channel file.
inline constexpr const char* kChannelFileName = "chaines.xml";
inline constexpr const char* kChannelFileTempSuffix = ".tmp";
// Suffix under which a channel file that cannot be read is kept before a new scan.
inline constexpr const char* kChannelFileUnreadableSuffix = ".illisible";

// One element of a "<Chaine>" block: a text (name, provider) or a number of the record.
// Numbers marked optional are written only when above 0; the reader takes every field the
// same way whether it was written or not.
struct ChannelFileField {
    std::string_view element;
    FixedText<256> ChannelInfo::*text = nullptr;
    int32_t ChannelInfo::*number = nullptr;
    bool optional = false;
};

// The elements of a "<Chaine>" block in the order they are written.
inline constexpr ChannelFileField kChannelFileFields[] = {
    {"Nom", &ChannelInfo::name},
    {"Groupe", &ChannelInfo::group},
    {"Frequence", nullptr, &ChannelInfo::frequency},
    {"ONID", nullptr, &ChannelInfo::onid},
    {"TSID", nullptr, &ChannelInfo::tsid},
    {"SID", nullptr, &ChannelInfo::sid},
    {"Numero", nullptr, &ChannelInfo::number},
    {"PMT", nullptr, &ChannelInfo::pmtPid},
    {"PCR", nullptr, &ChannelInfo::pcrPid},
    {"Video", nullptr, &ChannelInfo::videoPid, true},
    {"Video_mpeg4", nullptr, &ChannelInfo::videoMpeg4Pid, true},
    {"Son1", nullptr, &ChannelInfo::audio1Pid, true},
    {"Son2", nullptr, &ChannelInfo::audio2Pid, true},
    {"Ac3", nullptr, &ChannelInfo::ac3Pid, true},
    {"Ac3_2", nullptr, &ChannelInfo::ac3Pid2, true},
};

// Element of one audio stream, written after the fields above for the channels whose
// streams the PID fields do not all carry, one per stream in the PMT's order. Its text is
// "PID codec kind" then, when the stream has one, a space and the escaped language code:
// "1234 eac3 principale fre".
inline constexpr std::string_view kAudioStreamElement = "Piste";

std::string formatAudioStream(const AudioStream& stream);
// Nothing when the text is not a stream this version writes.
std::optional<AudioStream> parseAudioStream(std::u16string_view text);

// Element of one DVB subtitle stream, written after the audio streams for every subtitle
// stream of the channel, in the PMT's order. Its text is "PID type composition ancillary"
// in decimal then, when the stream has one, a space and the escaped language code:
// "1234 16 1 1 fre". A channel without subtitle streams writes none.
inline constexpr std::string_view kSubtitleStreamElement = "SousTitre";

std::string formatSubtitleStream(const SubtitleStream& stream);
// Nothing when the text is not a stream this version writes.
std::optional<SubtitleStream> parseSubtitleStream(std::u16string_view text);

// Converts UTF-16 text that has no byte of its own in the channel text encoding to 8-bit
// text: the ANSI code page on Windows.
using WideToAnsi = std::function<std::string(std::u16string_view)>;

// The whole channel file: "<Chaines>", one "<Chaine>" block per record in list order,
// "</Chaines>", CR LF line ends, TAB indentation, optional PID lines only when above 0.
std::string formatChannelFile(const ChannelRecords& records);

// Text of a name or provider as written inside its element. The output is pure ASCII so
// that the file needs no encoding declaration: "<", "&" and ">" become entities, bytes
// 0x80-0xFF become "&#xNN;" (U+0080-U+00FF), and bytes below 0x20, as well as a space at
// either end (which the DOM reader would trim), become "&#xE0NN;" in a private-use block.
std::string escapeChannelText(std::string_view bytes);

// The reverse mapping of an element's text: U+0000-U+00FF and U+E000-U+E0FF give their
// single byte; anything else (a file edited by hand) goes through toAnsi. At most 255 bytes.
std::string channelTextFromWide(std::u16string_view text, const WideToAnsi& toAnsi);

// The reader's decimal rule: leading white space, an optional sign, digits up to the first
// non-digit, clamped to the signed 32-bit range; no digits gives 0.
int32_t parseChannelFileInt(std::u16string_view text);

// One record from a "Chaine" node, whatever its name: the first child named "Nom" or
// "Groupe" gives the text even when empty; for each integer field the first child of that
// name whose value is not 0 wins.
ChannelInfo channelFromNode(const XmlNode& node, const WideToAnsi& toAnsi);

// Appends one record per child node of the root element, in document order.
void appendChannelRecords(const XmlNode& root, ChannelRecords& records, const WideToAnsi& toAnsi);

// Stands in for the ANSI conversion where there is no code page: one '?' per character.
std::string replaceWithQuestionMarks(std::u16string_view text);

} // namespace korvane
