#include "channels/channel_file.h"

#include <algorithm>
#include <array>
#include <limits>

namespace korvane {

namespace {

constexpr std::size_t kTextLimit = 255;

void appendLine(std::string& out, int indent, std::string_view tag, std::string_view value) {
    out.append(static_cast<std::size_t>(indent), '\t');
    out += '<';
    out += tag;
    out += '>';
    out += value;
    out += "</";
    out += tag;
    out += ">\r\n";
}

void appendField(std::string& out, const ChannelFileField& field, const ChannelInfo& c) {
    if (field.text) {
        appendLine(out, 2, field.element, escapeChannelText((c.*field.text).view()));
        return;
    }
    const int32_t value = c.*field.number;
    if (!field.optional || value > 0)
        appendLine(out, 2, field.element, std::to_string(value));
}

void appendHexByte(std::string& out, uint8_t b) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    out += kDigits[b >> 4];
    out += kDigits[b & 0x0F];
}

// Element names are ASCII, so comparing code unit by code unit is exact.
bool isNamed(const XmlNode& node, std::string_view name) {
    return std::equal(node.name.begin(), node.name.end(), name.begin(), name.end(),
                      [](char16_t a, char b) { return a == static_cast<unsigned char>(b); });
}

const XmlNode* firstChildNamed(const XmlNode& node, std::string_view name) {
    for (const XmlNode& child : node.children)
        if (isNamed(child, name))
            return &child;
    return nullptr;
}

int32_t firstNonZero(const XmlNode& node, std::string_view name) {
    for (const XmlNode& child : node.children) {
        if (!isNamed(child, name))
            continue;
        int32_t v = parseChannelFileInt(child.text);
        if (v != 0)
            return v;
    }
    return 0;
}

constexpr std::string_view kCodecTokens[] = {"mpeg", "ac3", "eac3"};
constexpr std::string_view kKindTokens[] = {"principale", "description", "malentendants",
                                            "soustitres"};

// The token's index in tokens, matched code unit by code unit.
template <std::size_t N>
std::optional<std::size_t> tokenIndex(const std::string_view (&tokens)[N],
                                      std::u16string_view text) {
    for (std::size_t i = 0; i < N; ++i)
        if (std::equal(text.begin(), text.end(), tokens[i].begin(), tokens[i].end(),
                       [](char16_t a, char b) { return a == static_cast<unsigned char>(b); }))
            return i;
    return std::nullopt;
}

// The next space-separated word of text from pos on; pos moves past its space.
std::u16string_view nextWord(std::u16string_view text, std::size_t& pos) {
    const std::size_t start = pos;
    const std::size_t space = text.find(u' ', start);
    const std::size_t end = space == std::u16string_view::npos ? text.size() : space;
    pos = space == std::u16string_view::npos ? text.size() : space + 1;
    return text.substr(start, end - start);
}

// A decimal number of digits only, up to max.
std::optional<uint32_t> plainNumber(std::u16string_view word, uint32_t max) {
    if (word.empty() || word.size() > 10)
        return std::nullopt;
    uint64_t value = 0;
    for (char16_t c : word) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        value = value * 10 + static_cast<uint64_t>(c - u'0');
    }
    if (value > max)
        return std::nullopt;
    return static_cast<uint32_t>(value);
}

// The rest of an element's text from pos on as a language code: three bytes, or none.
std::array<char, 3> languageFrom(std::u16string_view text, std::size_t pos) {
    std::array<char, 3> code{};
    if (pos < text.size()) {
        const std::string language = channelTextFromWide(text.substr(pos), {});
        if (language.size() == 3)
            std::copy(language.begin(), language.end(), code.begin());
    }
    return code;
}

void appendLanguage(std::string& out, const std::array<char, 3>& language) {
    if (language != std::array<char, 3>{}) {
        out += ' ';
        out += escapeChannelText(std::string_view(language.data(), 3));
    }
}

bool isIntSpace(char16_t c) {
    return c == u' ' || (c >= u'\t' && c <= u'\r');
}

} // namespace

std::string escapeChannelText(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        auto b = static_cast<uint8_t>(bytes[i]);
        bool edge = i == 0 || i + 1 == bytes.size();
        if (b == '<') {
            out += "&lt;";
        } else if (b == '&') {
            out += "&amp;";
        } else if (b == '>') {
            out += "&gt;";
        } else if (b >= 0x80) {
            out += "&#x";
            appendHexByte(out, b);
            out += ';';
        } else if (b < 0x20 || (b == ' ' && edge)) {
            out += "&#xE0";
            appendHexByte(out, b);
            out += ';';
        } else {
            out += static_cast<char>(b);
        }
    }
    return out;
}

std::string formatAudioStream(const AudioStream& stream) {
    std::string out = std::to_string(stream.pid);
    out += ' ';
    out += kCodecTokens[static_cast<std::size_t>(stream.codec)];
    out += ' ';
    out += kKindTokens[static_cast<std::size_t>(stream.kind)];
    appendLanguage(out, stream.language);
    return out;
}

std::optional<AudioStream> parseAudioStream(std::u16string_view text) {
    std::size_t pos = 0;
    const std::u16string_view pid = nextWord(text, pos);
    const std::u16string_view codec = nextWord(text, pos);
    const std::u16string_view kind = nextWord(text, pos);
    const auto codecIndex = tokenIndex(kCodecTokens, codec);
    const auto kindIndex = tokenIndex(kKindTokens, kind);
    AudioStream stream;
    stream.pid =
        pid.empty() || pid.front() == u'+' || pid.front() == u'-' ? 0 : parseChannelFileInt(pid);
    if (stream.pid <= 0 || stream.pid > 0x1FFF || !codecIndex || !kindIndex)
        return std::nullopt;
    stream.codec = static_cast<AudioCodec>(*codecIndex);
    stream.kind = static_cast<AudioKind>(*kindIndex);
    stream.language = languageFrom(text, pos);
    return stream;
}

std::string formatSubtitleStream(const SubtitleStream& stream) {
    std::string out = std::to_string(stream.pid);
    for (unsigned value : {unsigned{stream.type}, unsigned{stream.compositionPage},
                           unsigned{stream.ancillaryPage}}) {
        out += ' ';
        out += std::to_string(value);
    }
    appendLanguage(out, stream.language);
    return out;
}

std::optional<SubtitleStream> parseSubtitleStream(std::u16string_view text) {
    std::size_t pos = 0;
    const auto pid = plainNumber(nextWord(text, pos), 0x1FFF);
    const auto type = plainNumber(nextWord(text, pos), 0xFF);
    const auto composition = plainNumber(nextWord(text, pos), 0xFFFF);
    const auto ancillary = plainNumber(nextWord(text, pos), 0xFFFF);
    if (!pid || *pid == 0 || !type || !composition || !ancillary)
        return std::nullopt;
    SubtitleStream stream;
    stream.pid = static_cast<int32_t>(*pid);
    stream.type = static_cast<uint8_t>(*type);
    stream.compositionPage = static_cast<uint16_t>(*composition);
    stream.ancillaryPage = static_cast<uint16_t>(*ancillary);
    stream.language = languageFrom(text, pos);
    return stream;
}

std::string formatChannelFile(const ChannelRecords& records) {
    std::string out = "<Chaines>\r\n";
    for (const ChannelInfo& c : records) {
        out += "\t<Chaine>\r\n";
        for (const ChannelFileField& field : kChannelFileFields)
            appendField(out, field, c);
        for (const AudioStream& stream : keptAudioStreams(c))
            appendLine(out, 2, kAudioStreamElement, formatAudioStream(stream));
        for (const SubtitleStream& stream : c.subtitleStreams)
            appendLine(out, 2, kSubtitleStreamElement, formatSubtitleStream(stream));
        out += "\t</Chaine>\r\n";
    }
    out += "</Chaines>\r\n";
    return out;
}

std::string channelTextFromWide(std::u16string_view text, const WideToAnsi& toAnsi) {
    std::string out;
    std::size_t i = 0;
    while (i < text.size() && out.size() < kTextLimit) {
        char16_t u = text[i];
        if (u <= 0xFF) {
            out += static_cast<char>(u);
            ++i;
        } else if (u >= 0xE000 && u <= 0xE0FF) {
            out += static_cast<char>(u - 0xE000);
            ++i;
        } else {
            std::size_t j = i;
            while (j < text.size() && text[j] > 0xFF && (text[j] < 0xE000 || text[j] > 0xE0FF))
                ++j;
            out += toAnsi ? toAnsi(text.substr(i, j - i))
                          : replaceWithQuestionMarks(text.substr(i, j - i));
            i = j;
        }
    }
    if (out.size() > kTextLimit)
        out.resize(kTextLimit);
    return out;
}

std::string replaceWithQuestionMarks(std::u16string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        bool pair = text[i] >= 0xD800 && text[i] <= 0xDBFF && i + 1 < text.size() &&
                    text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF;
        if (pair)
            ++i;
        out += '?';
    }
    return out;
}

int32_t parseChannelFileInt(std::u16string_view text) {
    std::size_t i = 0;
    while (i < text.size() && isIntSpace(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
    constexpr int64_t kMin = std::numeric_limits<int32_t>::min();
    int64_t value = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        value = value * 10 + (text[i] - u'0');
        if (value > kMax + 1)
            value = kMax + 1;
    }
    if (negative)
        value = -value;
    if (value > kMax)
        return static_cast<int32_t>(kMax);
    if (value < kMin)
        return static_cast<int32_t>(kMin);
    return static_cast<int32_t>(value);
}

ChannelInfo channelFromNode(const XmlNode& node, const WideToAnsi& toAnsi) {
    ChannelInfo c;
    for (const ChannelFileField& field : kChannelFileFields) {
        if (!field.text)
            c.*field.number = firstNonZero(node, field.element);
        else if (const XmlNode* child = firstChildNamed(node, field.element))
            (c.*field.text).assign(channelTextFromWide(child->text, toAnsi));
    }
    for (const XmlNode& child : node.children) {
        if (isNamed(child, kAudioStreamElement)) {
            if (auto stream = parseAudioStream(child.text))
                c.audioStreams.push_back(*stream);
        } else if (isNamed(child, kSubtitleStreamElement)) {
            if (auto stream = parseSubtitleStream(child.text))
                c.subtitleStreams.push_back(*stream);
        }
    }
    return c;
}

void appendChannelRecords(const XmlNode& root, ChannelRecords& records, const WideToAnsi& toAnsi) {
    for (const XmlNode& child : root.children)
        records.push_back(channelFromNode(child, toAnsi));
}

} // namespace korvane
