#pragma once

#include "channels/channel_list.h"
#include "common/fixed_text.h"
#include "common/time_convert.h"
#include "si/notifier.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace korvane {

struct CalendarDate {
    int year = 0;
    int month = 0;
    int day = 0;
};

// Modified Julian Date to year, month and day (the broadcast conversion formula; meaningful
// from 1900-03-01 to 2100-02-28, outside that range the result may not be a real date).
CalendarDate mjdToDate(uint16_t mjd);

// Copies a broadcast text without its leading 0x05 selector byte, NUL-terminated.
void copyDvbText(const uint8_t* source, std::size_t length, FixedText<256>& destination);

// Places a new guide event in the channel's present/following pair, keeping present the
// earlier of the two and displacing the slot that was not seen last.
void storeEvent(ChannelInfo& channel, const EpgEvent& event);

// One event of a present/following section whose start is a date and time.
struct EitEntry {
    FileTime start = 0;
    // The slot value with its local clock texts; nothing when the event's descriptors are
    // malformed, which only matters if the event is new to the channel's slots.
    std::optional<EpgEvent> slot;
};

// What a present/following EIT section says: the service and its events in section order.
// An event loop length running past the section ends the list there.
struct EitSection {
    int32_t sid = 0;
    std::vector<EitEntry> events;
};

// Nothing when the section is too short to hold an event.
std::optional<EitSection> parseEit(const uint8_t* section, std::size_t length,
                                   const TimeConverter& clock);

// Walks the events into the channel's slots: an event already held only marks which of the
// two was seen last; a new one is stored; a new one with malformed descriptors ends the walk.
// Returns how many new events were stored.
int storeEitEvents(ChannelInfo& channel, const EitSection& eit);

// Stores the events in the first channel whose sid matches, under the list's lock; returns
// how many new events were stored when that channel is the one being watched, else 0.
int applyEit(ChannelList& list, const EitSection& eit);

// Decodes one present/following EIT section that passed the gate and stores its new events
// in the first channel whose sid matches. Posts one guide update per new event when that
// channel is the one being watched.
void decodeEit(ChannelList& list, WindowNotifier& notifier, const TimeConverter& clock,
               const uint8_t* section, std::size_t length);

// Gate then decoder, as the guide filter runs them on each sample. True when decoded.
bool handleEitSample(ChannelList& list, WindowNotifier& notifier, const TimeConverter& clock,
                     const uint8_t* section, std::size_t length);

} // namespace korvane
