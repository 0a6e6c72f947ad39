#include "support/xml_tree.h"

#include <cstdint>

namespace korvane {

namespace {

// Deeper documents are refused rather than risking the stack.
constexpr int kMaxDepth = 256;

bool isXmlChar(char32_t c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
           (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

bool isSpace(char32_t c) {
    return c == 0x20 || c == 0x9 || c == 0xA || c == 0xD;
}

bool isNameStart(char32_t c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == ':' || c >= 0xC0;
}

bool isNameChar(char32_t c) {
    return isNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.' || c == 0xB7;
}

void appendUtf16(std::u16string& out, char32_t c) {
    if (c < 0x10000) {
        out.push_back(static_cast<char16_t>(c));
        return;
    }
    c -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
}

// Decodes UTF-8 strictly (no overlong forms, no surrogates); false on a bad sequence.
bool decodeUtf8(std::string_view in, std::u32string& out) {
    std::size_t i = 0;
    while (i < in.size()) {
        auto b0 = static_cast<uint8_t>(in[i]);
        if (b0 < 0x80) {
            out.push_back(b0);
            ++i;
            continue;
        }
        int extra;
        char32_t c;
        char32_t min;
        if ((b0 & 0xE0) == 0xC0) {
            extra = 1, c = b0 & 0x1F, min = 0x80;
        } else if ((b0 & 0xF0) == 0xE0) {
            extra = 2, c = b0 & 0x0F, min = 0x800;
        } else if ((b0 & 0xF8) == 0xF0) {
            extra = 3, c = b0 & 0x07, min = 0x10000;
        } else {
            return false;
        }
        if (in.size() - i <= static_cast<std::size_t>(extra))
            return false;
        for (int k = 1; k <= extra; ++k) {
            auto b = static_cast<uint8_t>(in[i + static_cast<std::size_t>(k)]);
            if ((b & 0xC0) != 0x80)
                return false;
            c = (c << 6) | (b & 0x3F);
        }
        if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            return false;
        out.push_back(c);
        i += static_cast<std::size_t>(extra) + 1;
    }
    return true;
}

std::u16string trimmed(const std::u16string& s) {
    std::size_t b = 0;
    std::size_t e = s.size();
    while (b < e && isSpace(s[b]))
        ++b;
    while (e > b && isSpace(s[e - 1]))
        --e;
    return s.substr(b, e - b);
}

class Parser {
  public:
    explicit Parser(std::u32string text) : s_(std::move(text)) {}

    std::optional<XmlNode> document() {
        if (!skipMisc())
            return std::nullopt;
        if (!at(U"<") || pos_ + 1 >= s_.size() || !isNameStart(s_[pos_ + 1]))
            return std::nullopt;
        XmlNode root;
        if (!element(root, 0))
            return std::nullopt;
        if (!skipMisc() || pos_ != s_.size())
            return std::nullopt;
        return root;
    }

    // Reads the declaration's encoding name, if any, without consuming anything.
    std::u32string declaredEncoding() const {
        if (!at(U"<?xml") || pos_ + 5 >= s_.size() || !isSpace(s_[pos_ + 5]))
            return {};
        std::size_t end = s_.find(U"?>", pos_);
        std::size_t key = s_.find(U"encoding", pos_);
        if (end == std::u32string::npos || key == std::u32string::npos || key > end)
            return {};
        std::size_t q = s_.find_first_of(U"\"'", key);
        if (q == std::u32string::npos || q > end)
            return {};
        std::size_t q2 = s_.find(s_[q], q + 1);
        if (q2 == std::u32string::npos || q2 > end)
            return {};
        return s_.substr(q + 1, q2 - q - 1);
    }

  private:
    bool at(std::u32string_view lit) const {
        return s_.size() - pos_ >= lit.size() && s_.compare(pos_, lit.size(), lit) == 0;
    }

    void skipSpace() {
        while (pos_ < s_.size() && isSpace(s_[pos_]))
            ++pos_;
    }

    // White space, comments and processing instructions outside the root element.
    bool skipMisc() {
        for (;;) {
            skipSpace();
            if (at(U"<!--")) {
                XmlNode ignored;
                if (!comment(ignored))
                    return false;
            } else if (at(U"<?")) {
                XmlNode ignored;
                if (!processingInstruction(ignored, true))
                    return false;
            } else {
                return true;
            }
        }
    }

    bool name(std::u16string& out) {
        if (pos_ >= s_.size() || !isNameStart(s_[pos_]))
            return false;
        while (pos_ < s_.size() && isNameChar(s_[pos_]))
            appendUtf16(out, s_[pos_++]);
        return true;
    }

    bool comment(XmlNode& node) {
        pos_ += 4;
        std::size_t end = s_.find(U"--", pos_);
        if (end == std::u32string::npos || end + 2 >= s_.size() || s_[end + 2] != U'>')
            return false;
        node.name = u"#comment";
        for (std::size_t i = pos_; i < end; ++i) {
            if (!isXmlChar(s_[i]))
                return false;
            appendUtf16(node.text, s_[i]);
        }
        pos_ = end + 3;
        return true;
    }

    // The declaration is a processing instruction named xml, allowed only at the very start.
    bool processingInstruction(XmlNode& node, bool declarationAllowed) {
        std::size_t start = pos_;
        pos_ += 2;
        std::u16string target;
        if (!name(target))
            return false;
        std::size_t end = s_.find(U"?>", pos_);
        if (end == std::u32string::npos)
            return false;
        bool isDeclaration = target == u"xml";
        if (isDeclaration && (start != 0 || !declarationAllowed))
            return false;
        if (target.size() == 3 && (target[0] | 0x20) == 'x' && (target[1] | 0x20) == 'm' &&
            (target[2] | 0x20) == 'l' && !isDeclaration)
            return false;
        if (pos_ < end && !isSpace(s_[pos_]))
            return false;
        skipSpace();
        node.name = target;
        for (std::size_t i = pos_; i < end; ++i) {
            if (!isXmlChar(s_[i]))
                return false;
            appendUtf16(node.text, s_[i]);
        }
        pos_ = end + 2;
        return true;
    }

    // A reference after '&': one of the five predefined entities or a character reference.
    bool reference(std::u16string& out) {
        ++pos_;
        std::size_t semi = s_.find(U';', pos_);
        if (semi == std::u32string::npos || semi - pos_ > 12)
            return false;
        std::u32string_view ref(s_.data() + pos_, semi - pos_);
        pos_ = semi + 1;
        if (ref == U"lt")
            return out.push_back(u'<'), true;
        if (ref == U"gt")
            return out.push_back(u'>'), true;
        if (ref == U"amp")
            return out.push_back(u'&'), true;
        if (ref == U"apos")
            return out.push_back(u'\''), true;
        if (ref == U"quot")
            return out.push_back(u'"'), true;
        if (ref.size() < 2 || ref[0] != U'#')
            return false;
        bool hex = ref[1] == U'x';
        std::size_t i = hex ? 2 : 1;
        if (i >= ref.size())
            return false;
        char32_t value = 0;
        for (; i < ref.size(); ++i) {
            char32_t c = ref[i];
            uint32_t digit;
            if (c >= U'0' && c <= U'9')
                digit = c - U'0';
            else if (hex && c >= U'a' && c <= U'f')
                digit = c - U'a' + 10;
            else if (hex && c >= U'A' && c <= U'F')
                digit = c - U'A' + 10;
            else
                return false;
            value = value * (hex ? 16 : 10) + digit;
            if (value > 0x10FFFF)
                return false;
        }
        if (!isXmlChar(value))
            return false;
        appendUtf16(out, value);
        return true;
    }

    bool attributes() {
        for (;;) {
            std::size_t before = pos_;
            skipSpace();
            if (at(U">") || at(U"/>"))
                return true;
            if (pos_ == before)
                return false;
            std::u16string attrName;
            if (!name(attrName))
                return false;
            skipSpace();
            if (!at(U"="))
                return false;
            ++pos_;
            skipSpace();
            if (pos_ >= s_.size() || (s_[pos_] != U'"' && s_[pos_] != U'\''))
                return false;
            char32_t quote = s_[pos_++];
            std::u16string value;
            for (;;) {
                if (pos_ >= s_.size() || s_[pos_] == U'<' || !isXmlChar(s_[pos_]))
                    return false;
                if (s_[pos_] == quote) {
                    ++pos_;
                    break;
                }
                if (s_[pos_] == U'&') {
                    if (!reference(value))
                        return false;
                } else {
                    ++pos_;
                }
            }
        }
    }

    void flushText(XmlNode& parent, std::u16string& text) {
        if (text.empty())
            return;
        std::u16string t = trimmed(text);
        if (!t.empty())
            parent.children.push_back(XmlNode{u"#text", t, {}});
        text.clear();
    }

    bool element(XmlNode& node, int depth) {
        if (depth > kMaxDepth)
            return false;
        ++pos_;
        if (!name(node.name))
            return false;
        if (!attributes())
            return false;
        if (at(U"/>")) {
            pos_ += 2;
            return true;
        }
        ++pos_;
        std::u16string text;
        std::u16string all;
        for (;;) {
            if (pos_ >= s_.size())
                return false;
            char32_t c = s_[pos_];
            if (c == U'<') {
                flushText(node, text);
                if (at(U"</")) {
                    pos_ += 2;
                    std::u16string closing;
                    if (!name(closing) || closing != node.name)
                        return false;
                    skipSpace();
                    if (!at(U">"))
                        return false;
                    ++pos_;
                    node.text = trimmed(all);
                    return true;
                }
                XmlNode child;
                if (at(U"<!--")) {
                    if (!comment(child))
                        return false;
                } else if (at(U"<![CDATA[")) {
                    pos_ += 9;
                    std::size_t end = s_.find(U"]]>", pos_);
                    if (end == std::u32string::npos)
                        return false;
                    child.name = u"#cdata-section";
                    for (std::size_t i = pos_; i < end; ++i) {
                        if (!isXmlChar(s_[i]))
                            return false;
                        appendUtf16(child.text, s_[i]);
                    }
                    all += child.text;
                    pos_ = end + 3;
                } else if (at(U"<?")) {
                    if (!processingInstruction(child, false))
                        return false;
                } else if (at(U"<!")) {
                    return false;
                } else {
                    if (!element(child, depth + 1))
                        return false;
                    all += child.text;
                }
                node.children.push_back(std::move(child));
                continue;
            }
            if (c == U'&') {
                std::u16string ref;
                if (!reference(ref))
                    return false;
                text += ref;
                all += ref;
                continue;
            }
            if (!isXmlChar(c))
                return false;
            if (c == U'\r') {
                // Line ends reach the application as a single LF.
                c = U'\n';
                if (pos_ + 1 < s_.size() && s_[pos_ + 1] == U'\n')
                    ++pos_;
            }
            appendUtf16(text, c);
            appendUtf16(all, c);
            ++pos_;
        }
    }

    std::u32string s_;
    std::size_t pos_ = 0;
};

bool equalsIgnoringCase(std::u32string_view a, std::u32string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char32_t x = a[i] >= U'A' && a[i] <= U'Z' ? a[i] + 32 : a[i];
        char32_t y = b[i] >= U'A' && b[i] <= U'Z' ? b[i] + 32 : b[i];
        if (x != y)
            return false;
    }
    return true;
}

} // namespace

std::optional<XmlNode> parseXmlDocument(std::string_view bytes) {
    if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF")
        bytes.remove_prefix(3);
    std::u32string text;
    text.reserve(bytes.size());
    bool utf8 = decodeUtf8(bytes, text);
    std::u32string encoding;
    if (utf8)
        encoding = Parser(text).declaredEncoding();
    else if (bytes.substr(0, 5) == "<?xml") {
        // A single-byte declaration is only found by reading the bytes as they are.
        std::u32string raw;
        for (char b : bytes)
            raw.push_back(static_cast<uint8_t>(b));
        encoding = Parser(raw).declaredEncoding();
    }
    if (equalsIgnoringCase(encoding, U"iso-8859-1") ||
        equalsIgnoringCase(encoding, U"windows-1252") || equalsIgnoringCase(encoding, U"latin1")) {
        text.clear();
        for (char b : bytes)
            text.push_back(static_cast<uint8_t>(b));
    } else if (!utf8 || (!encoding.empty() && !equalsIgnoringCase(encoding, U"utf-8") &&
                         !equalsIgnoringCase(encoding, U"us-ascii"))) {
        return std::nullopt;
    }
    return Parser(std::move(text)).document();
}

} // namespace korvane
