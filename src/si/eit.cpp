#include "si/eit.h"

#include "common/byte_reader.h"
#include "si/descriptor_loop.h"
#include "si/psi_ids.h"
#include "si/section_check.h"

#include <cstdio>
#include <optional>
#include <utility>

namespace korvane {

namespace {

constexpr std::size_t kFirstEvent = 14;
constexpr std::size_t kEventHeader = 12;
constexpr uint64_t kTicksPerSecond = 10'000'000;

// Two BCD digits; nothing when a nibble is above 9.
std::optional<int> bcd(uint8_t b) {
    if ((b >> 4) > 9 || (b & 0x0F) > 9)
        return std::nullopt;
    return (b >> 4) * 10 + (b & 0x0F);
}

void formatClock(const DateTime& t, FixedText<32>& out) {
    char text[32];
    std::snprintf(text, sizeof text, "%02i:%02i:%02i", t.hour, t.minute, t.second);
    out.assign(text);
}

// The event's start in UTC from the MJD and BCD bytes at e+2 .. e+6; nothing when they do
// not form a date and time (an undefined start has all bits set).
std::optional<FileTime> eventStart(const ByteReader& in, std::size_t e,
                                   const TimeConverter& clock) {
    const uint8_t* b = in.bytes(e + 2, 5);
    if (!b)
        return std::nullopt;
    auto hour = bcd(b[2]), minute = bcd(b[3]), second = bcd(b[4]);
    if (!hour || !minute || !second)
        return std::nullopt;
    const CalendarDate date = mjdToDate(static_cast<uint16_t>((b[0] << 8) | b[1]));
    DateTime utc{date.year, date.month, date.day, *hour, *minute, *second};
    return clock.utcToFileTime(utc);
}

// Duration in seconds from the BCD bytes at e+7 .. e+9.
std::optional<uint64_t> eventDuration(const ByteReader& in, std::size_t e) {
    const uint8_t* b = in.bytes(e + 7, 3);
    if (!b)
        return std::nullopt;
    auto hours = bcd(b[0]), minutes = bcd(b[1]), seconds = bcd(b[2]);
    if (!hours || !minutes || !seconds)
        return std::nullopt;
    return uint64_t(*hours) * 3600 + uint64_t(*minutes) * 60 + uint64_t(*seconds);
}

// Title and description of a short event descriptor, from its body on to the section's end:
// a name or text length running past the descriptor is trusted as far as the section's end;
// false when it runs past that.
bool readShortEvent(const ByteReader& body, EpgEvent& event) {
    auto nameLength = body.u8(3);
    if (!nameLength)
        return false;
    const uint8_t* name = body.bytes(4, *nameLength);
    auto textLength = body.u8(4 + std::size_t{*nameLength});
    if (!name || !textLength)
        return false;
    const uint8_t* text = body.bytes(5 + std::size_t{*nameLength}, *textLength);
    if (!text)
        return false;
    copyDvbText(name, *nameLength, event.title);
    copyDvbText(text, *textLength, event.description);
    return true;
}

// Walks an event's descriptor loop; false when a descriptor reaches past the section or a
// short event descriptor's texts run past the section.
bool readDescriptors(const ByteReader& section, std::size_t loop, std::size_t loopLength,
                     EpgEvent& event) {
    return walkDescriptors(section, loop, loopLength,
                           [&](uint8_t tag, const ByteReader&, const ByteReader& toSectionEnd) {
                               return tag != kShortEventTag || readShortEvent(toSectionEnd, event);
                           });
}

// Builds the slot value of a new event; nothing when its descriptors are malformed.
std::optional<EpgEvent> buildEvent(const ByteReader& in, std::size_t e, std::size_t loopLength,
                                   FileTime start, const DateTime& localStart,
                                   const TimeConverter& clock) {
    EpgEvent event;
    event.latest = 1;
    event.startTime = start;
    formatClock(localStart, event.startText);
    // An undefined duration leaves the end text empty rather than inventing an end.
    if (auto duration = eventDuration(in, e)) {
        const FileTime end = start + *duration * kTicksPerSecond;
        if (auto localEnd = clock.fileTimeToLocal(end)) {
            event.endTime = end;
            formatClock(*localEnd, event.endText);
        }
    }
    if (!readDescriptors(in, e + kEventHeader, loopLength, event))
        return std::nullopt;
    return event;
}

} // namespace

CalendarDate mjdToDate(uint16_t mjd) {
    const double m = mjd;
    const int y1 = static_cast<int>((m - 15078.2) / 365.25);
    const int yDays = static_cast<int>(y1 * 365.25);
    const int m1 = static_cast<int>((m - 14956.1 - yDays) / 30.6001);
    const int day = mjd - 14956 - yDays - static_cast<int>(m1 * 30.6001);
    const int k = (m1 == 14 || m1 == 15) ? 1 : 0;
    return CalendarDate{y1 + k + 1900, m1 - 1 - k * 12, day};
}

void copyDvbText(const uint8_t* source, std::size_t length, FixedText<256>& destination) {
    if (source && length > 0 && source[0] == 0x05) {
        ++source;
        --length;
    }
    destination.assign(source, source ? length : 0);
}

void storeEvent(ChannelInfo& channel, const EpgEvent& event) {
    EpgEvent& present = channel.present;
    EpgEvent& following = channel.following;
    if (present.empty()) {
        present = event;
        return;
    }
    if (following.empty()) {
        if (event.startTime > present.startTime) {
            following = event;
            present.latest = 0;
        } else {
            following = present;
            present = event;
            following.latest = 0;
        }
        return;
    }
    if (present.latest == 1) {
        following = event;
        present.latest = 0;
    } else {
        present = event;
        following.latest = 0;
    }
    if (present.startTime > following.startTime)
        std::swap(present, following);
}

std::optional<EitSection> parseEit(const uint8_t* section, std::size_t length,
                                   const TimeConverter& clock) {
    const ByteReader whole(section, length);
    auto service = whole.u16(3);
    if (!service || length < 4 || length - 4 <= kFirstEvent)
        return std::nullopt;
    EitSection eit;
    eit.sid = *service;
    const ByteReader in = whole.sub(0, length - 4);
    std::size_t e = kFirstEvent;
    while (e + kEventHeader <= in.size()) {
        const std::size_t loopLength = *in.length12(e + 10);
        if (!in.contains(e + kEventHeader, loopLength))
            break;
        auto start = eventStart(in, e, clock);
        auto localStart = start ? clock.fileTimeToLocal(*start) : std::nullopt;
        if (start && localStart)
            eit.events.push_back(
                EitEntry{*start, buildEvent(in, e, loopLength, *start, *localStart, clock)});
        e += kEventHeader + loopLength;
    }
    return eit;
}

int storeEitEvents(ChannelInfo& channel, const EitSection& eit) {
    int stored = 0;
    for (const EitEntry& event : eit.events) {
        if (event.start == channel.present.startTime) {
            channel.present.latest = 1;
            channel.following.latest = 0;
        } else if (event.start == channel.following.startTime) {
            channel.present.latest = 0;
            channel.following.latest = 1;
        } else {
            if (!event.slot)
                break;
            storeEvent(channel, *event.slot);
            ++stored;
        }
    }
    return stored;
}

int applyEit(ChannelList& list, const EitSection& eit) {
    auto access = list.lock();
    auto index = findChannelBySid(access.records(), eit.sid);
    if (!index)
        return 0;
    const bool watched =
        access.currentIndex() >= 0 && static_cast<std::size_t>(access.currentIndex()) == *index;
    const int stored = storeEitEvents(access.at(*index), eit);
    return watched ? stored : 0;
}

void decodeEit(ChannelList& list, WindowNotifier& notifier, const TimeConverter& clock,
               const uint8_t* section, std::size_t length) {
    auto eit = parseEit(section, length, clock);
    if (!eit)
        return;
    const int newEvents = applyEit(list, *eit);
    for (int i = 0; i < newEvents; ++i)
        notifier.postGuideUpdated();
}

bool handleEitSample(ChannelList& list, WindowNotifier& notifier, const TimeConverter& clock,
                     const uint8_t* section, std::size_t length) {
    if (!passesEitGate(section, length))
        return false;
    decodeEit(list, notifier, clock, section, length);
    return true;
}

} // namespace korvane
