#include "channels/channel_file.h"

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

void appendNumber(std::string& out, std::string_view tag, int32_t value) {
    appendLine(out, 2, tag, std::to_string(value));
}

void appendPositive(std::string& out, std::string_view tag, int32_t value) {
    if (value > 0)
        appendNumber(out, tag, value);
}

void appendHexByte(std::string& out, uint8_t b) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    out += kDigits[b >> 4];
    out += kDigits[b & 0x0F];
}

const XmlNode* firstChildNamed(const XmlNode& node, std::u16string_view name) {
    for (const XmlNode& child : node.children)
        if (child.name == name)
            return &child;
    return nullptr;
}

int32_t firstNonZero(const XmlNode& node, std::u16string_view name) {
    for (const XmlNode& child : node.children) {
        if (child.name != name)
            continue;
        int32_t v = parseChannelFileInt(child.text);
        if (v != 0)
            return v;
    }
    return 0;
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

std::string formatChannelFile(const ChannelRecords& records) {
    std::string out = "<Chaines>\r\n";
    for (const ChannelInfo& c : records) {
        out += "\t<Chaine>\r\n";
        appendLine(out, 2, "Nom", escapeChannelText(c.name.view()));
        appendLine(out, 2, "Groupe", escapeChannelText(c.group.view()));
        appendNumber(out, "Frequence", c.frequency);
        appendNumber(out, "ONID", c.onid);
        appendNumber(out, "TSID", c.tsid);
        appendNumber(out, "SID", c.sid);
        appendNumber(out, "Numero", c.number);
        appendNumber(out, "PMT", c.pmtPid);
        appendNumber(out, "PCR", c.pcrPid);
        appendPositive(out, "Video", c.videoPid);
        appendPositive(out, "Video_mpeg4", c.videoMpeg4Pid);
        appendPositive(out, "Son1", c.audio1Pid);
        appendPositive(out, "Son2", c.audio2Pid);
        appendPositive(out, "Ac3", c.ac3Pid);
        appendPositive(out, "Ac3_2", c.ac3Pid2);
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
    if (const XmlNode* nom = firstChildNamed(node, u"Nom"))
        c.name.assign(channelTextFromWide(nom->text, toAnsi));
    if (const XmlNode* groupe = firstChildNamed(node, u"Groupe"))
        c.group.assign(channelTextFromWide(groupe->text, toAnsi));
    c.frequency = firstNonZero(node, u"Frequence");
    c.onid = firstNonZero(node, u"ONID");
    c.tsid = firstNonZero(node, u"TSID");
    c.sid = firstNonZero(node, u"SID");
    c.number = firstNonZero(node, u"Numero");
    c.pmtPid = firstNonZero(node, u"PMT");
    c.pcrPid = firstNonZero(node, u"PCR");
    c.videoPid = firstNonZero(node, u"Video");
    c.videoMpeg4Pid = firstNonZero(node, u"Video_mpeg4");
    c.audio1Pid = firstNonZero(node, u"Son1");
    c.audio2Pid = firstNonZero(node, u"Son2");
    c.ac3Pid = firstNonZero(node, u"Ac3");
    c.ac3Pid2 = firstNonZero(node, u"Ac3_2");
    return c;
}

void appendChannelRecords(const XmlNode& root, ChannelRecords& records, const WideToAnsi& toAnsi) {
    for (const XmlNode& child : root.children)
        records.push_back(channelFromNode(child, toAnsi));
}

} // namespace korvane
