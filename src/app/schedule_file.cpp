#include "app/schedule_file.h"

#include "common/byte_reader.h"

#include <array>
#include <cstdio>
#include <limits>

namespace korvane {

namespace {

constexpr std::size_t kTextLimit = 255;
// Longest value of a number or keyword field; names and titles are bounded by kTextLimit.
constexpr std::size_t kMaxPlainValue = 32;

constexpr std::string_view kRootElement = "Programmation";
constexpr std::string_view kScheduleElement = "Enregistrement";

constexpr std::array<std::string_view, 3> kFormatWords = {"multiplex", "chaine_ts", "chaine_ps"};
constexpr std::array<std::string_view, 3> kRepeatWords = {"une_fois", "chaque_jour",
                                                          "chaque_semaine"};
constexpr std::array<std::string_view, 2> kOriginWords = {"saisie", "guide"};
constexpr std::array<std::string_view, 6> kStateWords = {"en_attente", "en_cours", "fait",
                                                         "manque",     "ignore",   "echec"};

// The attributes of a schedule element, in the order they are written. Every one must be
// present exactly once.
enum Field : std::size_t {
    kId,
    kChannel,
    kOnid,
    kTsid,
    kSid,
    kFrequency,
    kDate,
    kStart,
    kEnd,
    kFormat,
    kRepeat,
    kDays,
    kOrigin,
    kTitle,
    kMarginBefore,
    kMarginAfter,
    kState,
    kLastHandled,
    kFieldCount
};
constexpr std::array<std::string_view, kFieldCount> kFieldNames = {
    "id",      "chaine", "onid",        "tsid",        "sid",        "frequence",
    "date",    "debut",  "fin",         "format",      "repetition", "jours",
    "origine", "titre",  "marge_avant", "marge_apres", "etat",       "dernier"};

std::string twoDigits(int v) {
    char text[8];
    std::snprintf(text, sizeof text, "%02d", v);
    return text;
}

std::string dateText(const DateTime& d) {
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", d.year, d.month, d.day);
    return text;
}

std::string clockText(int seconds) {
    return twoDigits(seconds / 3600) + ":" + twoDigits(seconds / 60 % 60) + ":" +
           twoDigits(seconds % 60);
}

// "YYYY-MM-DDTHH:MM:SSZ", or empty for 0 (never).
std::string utcText(FileTime t) {
    if (t == 0)
        return {};
    const auto d = dateTimeFromFileTime(t);
    if (!d)
        return {};
    return dateText(*d) + "T" + clockText(d->hour * 3600 + d->minute * 60 + d->second) + "Z";
}

std::string daysText(uint8_t weekdays) {
    std::string out;
    for (int i = 0; i < 7; ++i)
        if ((weekdays >> i) & 1)
            out += static_cast<char>('1' + i);
    return out;
}

// The channel file's escaping, plus the quote that closes an attribute value.
std::string escapeAttribute(std::string_view bytes) {
    std::string out;
    for (char c : escapeChannelText(bytes)) {
        if (c == '"')
            out += "&quot;";
        else
            out += c;
    }
    return out;
}

template <std::size_t N>
std::string_view word(const std::array<std::string_view, N>& words, std::size_t index) {
    return index < N ? words[index] : std::string_view("?");
}

void appendAttribute(std::string& out, Field field, std::string_view value) {
    out += ' ';
    out += kFieldNames[field];
    out += "=\"";
    out += value;
    out += '"';
}

// A bounds-checked walk over the file's bytes.
class Cursor {
  public:
    explicit Cursor(std::string_view bytes)
        : reader_(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()) {}

    std::optional<uint8_t> peek(std::size_t ahead = 0) const { return reader_.u8(pos_ + ahead); }
    bool atEnd() const { return !reader_.contains(pos_, 1); }
    void skip(std::size_t count) { pos_ += count; }

    bool startsWith(std::string_view text) const {
        const uint8_t* at = reader_.bytes(pos_, text.size());
        return at && std::string_view(reinterpret_cast<const char*>(at), text.size()) == text;
    }
    bool take(std::string_view text) {
        if (!startsWith(text))
            return false;
        pos_ += text.size();
        return true;
    }
    // Moves past the next occurrence of text; false (at the end) when there is none.
    bool skipPast(std::string_view text) {
        while (!atEnd()) {
            if (take(text))
                return true;
            ++pos_;
        }
        return false;
    }
    void skipSpace() {
        while (auto b = peek()) {
            if (*b != ' ' && *b != '\t' && *b != '\r' && *b != '\n')
                return;
            ++pos_;
        }
    }
    // White space and comments between elements.
    bool skipMisc() {
        for (;;) {
            skipSpace();
            if (!startsWith("<!--"))
                return true;
            skip(4);
            if (!skipPast("-->"))
                return false;
        }
    }
    std::string_view name() {
        const std::size_t start = pos_;
        while (auto b = peek()) {
            const bool letter = (*b >= 'A' && *b <= 'Z') || (*b >= 'a' && *b <= 'z') || *b == '_';
            const bool other =
                pos_ > start && ((*b >= '0' && *b <= '9') || *b == '-' || *b == '.' || *b == ':');
            if (!letter && !other)
                break;
            ++pos_;
        }
        const uint8_t* at = reader_.bytes(start, pos_ - start);
        return at ? std::string_view(reinterpret_cast<const char*>(at), pos_ - start)
                  : std::string_view();
    }

  private:
    ByteReader reader_;
    std::size_t pos_ = 0;
};

bool appendUtf16(std::u16string& out, uint32_t code) {
    if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF) || code == 0xFFFE ||
        code == 0xFFFF)
        return false;
    if (code < 0x10000) {
        out += static_cast<char16_t>(code);
    } else {
        code -= 0x10000;
        out += static_cast<char16_t>(0xD800 + (code >> 10));
        out += static_cast<char16_t>(0xDC00 + (code & 0x3FF));
    }
    return true;
}

// One UTF-8 character at the cursor; nothing for a malformed sequence.
std::optional<uint32_t> takeUtf8(Cursor& c) {
    const auto lead = c.peek();
    if (!lead)
        return std::nullopt;
    int extra = 0;
    uint32_t code = 0;
    uint32_t least = 0;
    if (*lead < 0x80) {
        code = *lead;
    } else if ((*lead & 0xE0) == 0xC0) {
        extra = 1, code = *lead & 0x1F, least = 0x80;
    } else if ((*lead & 0xF0) == 0xE0) {
        extra = 2, code = *lead & 0x0F, least = 0x800;
    } else if ((*lead & 0xF8) == 0xF0) {
        extra = 3, code = *lead & 0x07, least = 0x10000;
    } else {
        return std::nullopt;
    }
    for (int i = 1; i <= extra; ++i) {
        const auto b = c.peek(i);
        if (!b || (*b & 0xC0) != 0x80)
            return std::nullopt;
        code = (code << 6) | (*b & 0x3F);
    }
    if (code < least)
        return std::nullopt;
    c.skip(1 + extra);
    return code;
}

// A character or entity reference after "&", up to and including ";".
std::optional<uint32_t> takeReference(Cursor& c) {
    static constexpr std::pair<std::string_view, char> kNamed[] = {
        {"lt;", '<'}, {"gt;", '>'}, {"amp;", '&'}, {"quot;", '"'}, {"apos;", '\''}};
    for (const auto& [text, ch] : kNamed)
        if (c.take(text))
            return static_cast<uint32_t>(ch);
    if (!c.take("#"))
        return std::nullopt;
    const bool hex = c.take("x");
    uint32_t code = 0;
    int digits = 0;
    while (auto b = c.peek()) {
        int v;
        if (*b >= '0' && *b <= '9')
            v = *b - '0';
        else if (hex && *b >= 'a' && *b <= 'f')
            v = *b - 'a' + 10;
        else if (hex && *b >= 'A' && *b <= 'F')
            v = *b - 'A' + 10;
        else
            break;
        if (++digits > 8)
            return std::nullopt;
        code = code * (hex ? 16 : 10) + static_cast<uint32_t>(v);
        c.skip(1);
    }
    if (digits == 0 || !c.take(";"))
        return std::nullopt;
    return code;
}

struct Attribute {
    std::string_view name;
    std::u16string value;
    // The value went on past what any field holds; the rest was read but not kept.
    bool overlong = false;
};

// name="value" or name='value', the value's references resolved and its white space
// characters read as spaces, as an XML reader presents an attribute.
std::optional<Attribute> takeAttribute(Cursor& c) {
    Attribute a;
    a.name = c.name();
    if (a.name.empty())
        return std::nullopt;
    c.skipSpace();
    if (!c.take("="))
        return std::nullopt;
    c.skipSpace();
    const auto quote = c.peek();
    if (!quote || (*quote != '"' && *quote != '\''))
        return std::nullopt;
    c.skip(1);
    for (;;) {
        const auto b = c.peek();
        if (!b || *b == '<')
            return std::nullopt;
        if (*b == *quote) {
            c.skip(1);
            return a;
        }
        std::optional<uint32_t> code;
        if (*b == '&') {
            c.skip(1);
            code = takeReference(c);
        } else {
            code = takeUtf8(c);
            if (code && (*code == '\t' || *code == '\r' || *code == '\n'))
                code = ' ';
            else if (code && *code < 0x20)
                code = std::nullopt;
        }
        std::u16string unit;
        if (!code || !appendUtf16(unit, *code))
            return std::nullopt;
        if (a.value.size() + unit.size() > kTextLimit + 1)
            a.overlong = true;
        else
            a.value += unit;
    }
}

using Attributes = std::vector<Attribute>;

// The attributes up to the end of a start tag; selfClosing tells "/>" from ">".
std::optional<Attributes> takeAttributes(Cursor& c, bool& selfClosing) {
    Attributes out;
    for (;;) {
        const bool spaced =
            c.peek() == ' ' || c.peek() == '\t' || c.peek() == '\r' || c.peek() == '\n';
        c.skipSpace();
        if (c.take("/>")) {
            selfClosing = true;
            return out;
        }
        if (c.take(">")) {
            selfClosing = false;
            return out;
        }
        if (!spaced)
            return std::nullopt;
        auto a = takeAttribute(c);
        if (!a)
            return std::nullopt;
        for (const Attribute& seen : out)
            if (seen.name == a->name)
                return std::nullopt;
        out.push_back(std::move(*a));
    }
}

// The ASCII text of a plain value; nothing when it holds anything else or is too long.
std::optional<std::string> plainValue(const std::u16string& value) {
    if (value.size() > kMaxPlainValue)
        return std::nullopt;
    std::string out;
    for (char16_t u : value) {
        if (u >= 0x80)
            return std::nullopt;
        out += static_cast<char>(u);
    }
    return out;
}

bool allDigits(std::string_view text) {
    if (text.empty())
        return false;
    for (char ch : text)
        if (ch < '0' || ch > '9')
            return false;
    return true;
}

std::optional<int64_t> parseNumber(std::string_view text, int64_t low, int64_t high) {
    bool negative = !text.empty() && text[0] == '-';
    if (negative)
        text.remove_prefix(1);
    if (!allDigits(text) || text.size() > 12)
        return std::nullopt;
    int64_t v = 0;
    for (char ch : text)
        v = v * 10 + (ch - '0');
    if (negative)
        v = -v;
    if (v < low || v > high)
        return std::nullopt;
    return v;
}

std::optional<int> digitsAt(std::string_view text, std::size_t at, std::size_t count) {
    if (at + count > text.size() || !allDigits(text.substr(at, count)))
        return std::nullopt;
    int v = 0;
    for (char ch : text.substr(at, count))
        v = v * 10 + (ch - '0');
    return v;
}

std::optional<DateTime> parseDate(std::string_view text) {
    if (text.size() != 10 || text[4] != '-' || text[7] != '-')
        return std::nullopt;
    const auto y = digitsAt(text, 0, 4), m = digitsAt(text, 5, 2), d = digitsAt(text, 8, 2);
    if (!y || !m || !d)
        return std::nullopt;
    DateTime out{*y, *m, *d, 0, 0, 0};
    if (!isValidDateTime(out))
        return std::nullopt;
    return out;
}

std::optional<int> parseClock(std::string_view text) {
    if (text.size() != 8 || text[2] != ':' || text[5] != ':')
        return std::nullopt;
    const auto h = digitsAt(text, 0, 2), m = digitsAt(text, 3, 2), s = digitsAt(text, 6, 2);
    if (!h || !m || !s || *h > 23 || *m > 59 || *s > 59)
        return std::nullopt;
    return *h * 3600 + *m * 60 + *s;
}

std::optional<FileTime> parseUtc(std::string_view text) {
    if (text.empty())
        return FileTime{0};
    if (text.size() != 20 || text[10] != 'T' || text[19] != 'Z')
        return std::nullopt;
    const auto date = parseDate(text.substr(0, 10));
    const auto clock = parseClock(text.substr(11, 8));
    if (!date || !clock)
        return std::nullopt;
    DateTime t = *date;
    t.hour = *clock / 3600;
    t.minute = *clock / 60 % 60;
    t.second = *clock % 60;
    return fileTimeFromDateTime(t);
}

std::optional<uint8_t> parseDays(std::string_view text) {
    uint8_t days = 0;
    for (char ch : text) {
        if (ch < '1' || ch > '7')
            return std::nullopt;
        const uint8_t bit = static_cast<uint8_t>(1 << (ch - '1'));
        if (days & bit)
            return std::nullopt;
        days |= bit;
    }
    return days;
}

template <std::size_t N>
std::optional<std::size_t> parseWord(const std::array<std::string_view, N>& words,
                                     std::string_view text) {
    for (std::size_t i = 0; i < N; ++i)
        if (words[i] == text)
            return i;
    return std::nullopt;
}

// A name or title to 8-bit text, refusing what would not fit or would end the text early.
ScheduleFileError textField(const std::u16string& value, const WideToAnsi& toAnsi,
                            FixedText<256>& out) {
    if (value.size() > kTextLimit)
        return ScheduleFileError::TooLong;
    std::size_t converted = 0;
    const WideToAnsi counting = [&](std::u16string_view text) {
        std::string bytes = toAnsi ? toAnsi(text) : replaceWithQuestionMarks(text);
        converted += bytes.size();
        return bytes;
    };
    std::size_t single = 0;
    for (char16_t u : value)
        single += u <= 0xFF || (u >= 0xE000 && u <= 0xE0FF);
    const std::string bytes = channelTextFromWide(value, counting);
    if (single + converted > kTextLimit)
        return ScheduleFileError::TooLong;
    if (bytes.find('\0') != std::string::npos)
        return ScheduleFileError::BadField;
    out.assign(bytes);
    return ScheduleFileError::None;
}

ScheduleFileError scheduleFromAttributes(const Attributes& attributes, const WideToAnsi& toAnsi,
                                         ScheduledRecording& s) {
    std::array<const std::u16string*, kFieldCount> values{};
    for (const Attribute& a : attributes) {
        const auto field = parseWord(kFieldNames, a.name);
        if (!field)
            return ScheduleFileError::BadField;
        if (a.overlong)
            return ScheduleFileError::TooLong;
        values[*field] = &a.value;
    }
    for (const auto* v : values)
        if (!v)
            return ScheduleFileError::BadField;

    if (auto e = textField(*values[kChannel], toAnsi, s.channel.name); e != ScheduleFileError::None)
        return e;
    if (auto e = textField(*values[kTitle], toAnsi, s.title); e != ScheduleFileError::None)
        return e;

    std::array<std::string, kFieldCount> plain;
    for (std::size_t f = 0; f < kFieldCount; ++f) {
        if (f == kChannel || f == kTitle)
            continue;
        auto text = plainValue(*values[f]);
        if (!text)
            return ScheduleFileError::BadField;
        plain[f] = std::move(*text);
    }
    constexpr int64_t kInt32Min = std::numeric_limits<int32_t>::min();
    constexpr int64_t kInt32Max = std::numeric_limits<int32_t>::max();
    const auto id = parseNumber(plain[kId], 1, std::numeric_limits<uint32_t>::max());
    const auto onid = parseNumber(plain[kOnid], kInt32Min, kInt32Max);
    const auto tsid = parseNumber(plain[kTsid], kInt32Min, kInt32Max);
    const auto sid = parseNumber(plain[kSid], kInt32Min, kInt32Max);
    const auto frequency = parseNumber(plain[kFrequency], kInt32Min, kInt32Max);
    const auto before = parseNumber(plain[kMarginBefore], 0, kMaxMargin);
    const auto after = parseNumber(plain[kMarginAfter], 0, kMaxMargin);
    const auto date = parseDate(plain[kDate]);
    const auto start = parseClock(plain[kStart]);
    const auto end = parseClock(plain[kEnd]);
    const auto format = parseWord(kFormatWords, plain[kFormat]);
    const auto repeat = parseWord(kRepeatWords, plain[kRepeat]);
    const auto days = parseDays(plain[kDays]);
    const auto origin = parseWord(kOriginWords, plain[kOrigin]);
    const auto state = parseWord(kStateWords, plain[kState]);
    const auto lastHandled = parseUtc(plain[kLastHandled]);
    if (!id || !onid || !tsid || !sid || !frequency || !before || !after || !date || !start ||
        !end || !format || !repeat || !days || !origin || !state || !lastHandled)
        return ScheduleFileError::BadField;

    s.id = static_cast<uint32_t>(*id);
    s.channel.onid = static_cast<int32_t>(*onid);
    s.channel.tsid = static_cast<int32_t>(*tsid);
    s.channel.sid = static_cast<int32_t>(*sid);
    s.channel.frequency = static_cast<int32_t>(*frequency);
    s.date = *date;
    s.startSecond = *start;
    s.endSecond = *end;
    s.format = static_cast<RecorderMode>(*format);
    s.repeat = static_cast<ScheduleRepeat>(*repeat);
    s.weekdays = *days;
    s.origin = static_cast<ScheduleOrigin>(*origin);
    s.marginBefore = static_cast<int>(*before);
    s.marginAfter = static_cast<int>(*after);
    s.state = static_cast<ScheduleState>(*state);
    s.lastHandled = *lastHandled;
    return checkSchedule(s) == ScheduleProblem::None ? ScheduleFileError::None
                                                     : ScheduleFileError::BadSchedule;
}

ScheduleFileError readRootAttributes(const Attributes& attributes, FileTime& lastCheck) {
    const std::u16string* version = nullptr;
    const std::u16string* check = nullptr;
    for (const Attribute& a : attributes) {
        if (a.name == "version")
            version = &a.value;
        else if (a.name == "verification")
            check = &a.value;
        else
            return ScheduleFileError::BadField;
    }
    const auto versionText = version ? plainValue(*version) : std::nullopt;
    if (!versionText || parseNumber(*versionText, kScheduleFileVersion, kScheduleFileVersion) !=
                            kScheduleFileVersion)
        return ScheduleFileError::UnknownVersion;
    const auto checkText = check ? plainValue(*check) : std::nullopt;
    const auto checkTime = checkText ? parseUtc(*checkText) : std::nullopt;
    if (!checkTime)
        return ScheduleFileError::BadField;
    lastCheck = *checkTime;
    return ScheduleFileError::None;
}

// "</name" then optional white space and ">".
bool takeEndTag(Cursor& c, std::string_view name) {
    if (!c.take("</") || !c.take(name))
        return false;
    c.skipSpace();
    return c.take(">");
}

ScheduleFileError parseDocument(Cursor& c, ScheduleFile& file, const WideToAnsi& toAnsi) {
    c.take("\xEF\xBB\xBF");
    c.skipSpace();
    if (c.take("<?xml") && !c.skipPast("?>"))
        return ScheduleFileError::NotXml;
    if (!c.skipMisc() || !c.take("<") || c.name() != kRootElement)
        return ScheduleFileError::NotXml;
    bool selfClosing = false;
    const auto rootAttributes = takeAttributes(c, selfClosing);
    if (!rootAttributes)
        return ScheduleFileError::NotXml;
    if (auto e = readRootAttributes(*rootAttributes, file.lastCheck); e != ScheduleFileError::None)
        return e;
    while (!selfClosing) {
        if (!c.skipMisc())
            return ScheduleFileError::NotXml;
        if (takeEndTag(c, kRootElement))
            break;
        if (!c.take("<") || c.name() != kScheduleElement)
            return ScheduleFileError::NotXml;
        bool empty = false;
        const auto attributes = takeAttributes(c, empty);
        if (!attributes)
            return ScheduleFileError::NotXml;
        if (!empty) {
            c.skipSpace();
            if (!takeEndTag(c, kScheduleElement))
                return ScheduleFileError::NotXml;
        }
        if (file.schedules.size() >= kMaxSchedules)
            return ScheduleFileError::TooLarge;
        ScheduledRecording s;
        if (auto e = scheduleFromAttributes(*attributes, toAnsi, s); e != ScheduleFileError::None)
            return e;
        for (const auto& seen : file.schedules)
            if (seen.id == s.id)
                return ScheduleFileError::DuplicateId;
        file.schedules.push_back(s);
    }
    if (!c.skipMisc() || !c.atEnd())
        return ScheduleFileError::NotXml;
    return ScheduleFileError::None;
}

} // namespace

std::string formatScheduleFile(const ScheduleFile& file) {
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<";
    out += kRootElement;
    out += " version=\"" + std::to_string(kScheduleFileVersion) + "\" verification=\"" +
           utcText(file.lastCheck) + "\">\r\n";
    for (const ScheduledRecording& s : file.schedules) {
        out += "\t<";
        out += kScheduleElement;
        appendAttribute(out, kId, std::to_string(s.id));
        appendAttribute(out, kChannel, escapeAttribute(s.channel.name.view()));
        appendAttribute(out, kOnid, std::to_string(s.channel.onid));
        appendAttribute(out, kTsid, std::to_string(s.channel.tsid));
        appendAttribute(out, kSid, std::to_string(s.channel.sid));
        appendAttribute(out, kFrequency, std::to_string(s.channel.frequency));
        appendAttribute(out, kDate, dateText(s.date));
        appendAttribute(out, kStart, clockText(s.startSecond));
        appendAttribute(out, kEnd, clockText(s.endSecond));
        appendAttribute(out, kFormat, word(kFormatWords, static_cast<std::size_t>(s.format)));
        appendAttribute(out, kRepeat, word(kRepeatWords, static_cast<std::size_t>(s.repeat)));
        appendAttribute(out, kDays, daysText(s.weekdays));
        appendAttribute(out, kOrigin, word(kOriginWords, static_cast<std::size_t>(s.origin)));
        appendAttribute(out, kTitle, escapeAttribute(s.title.view()));
        appendAttribute(out, kMarginBefore, std::to_string(s.marginBefore));
        appendAttribute(out, kMarginAfter, std::to_string(s.marginAfter));
        appendAttribute(out, kState, word(kStateWords, static_cast<std::size_t>(s.state)));
        appendAttribute(out, kLastHandled, utcText(s.lastHandled));
        out += "/>\r\n";
    }
    out += "</";
    out += kRootElement;
    out += ">\r\n";
    return out;
}

ScheduleFileError parseScheduleFile(std::string_view bytes, ScheduleFile& out,
                                    const WideToAnsi& toAnsi) {
    if (bytes.size() > kMaxScheduleFileBytes)
        return ScheduleFileError::TooLarge;
    Cursor cursor(bytes);
    ScheduleFile file;
    const ScheduleFileError e = parseDocument(cursor, file, toAnsi);
    if (e == ScheduleFileError::None)
        out = std::move(file);
    return e;
}

} // namespace korvane
