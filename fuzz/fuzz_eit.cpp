#include "si/eit.h"
#include "si/section_check.h"

#include <cstring>
#include <vector>

using namespace korvane;

namespace {

struct NullNotifier : WindowNotifier {
    void postGuideUpdated() override {}
    void postStreamsChanged() override {}
};

void checkSlots(const ChannelInfo& c) {
    if (c.present.empty() && !c.following.empty())
        __builtin_trap();
    if (!c.following.empty() && c.present.startTime >= c.following.startTime)
        __builtin_trap();
    for (const EpgEvent* e : {&c.present, &c.following})
        if (e->title.bytes.back() != 0 || e->description.bytes.back() != 0 ||
            e->startText.bytes.back() != 0 || e->endText.bytes.back() != 0)
            __builtin_trap();
}

} // namespace

// The input is fed as a section as it is, then again with a correct CRC appended so that
// it also passes the gate when its table_id is 0x4E or 0x4F.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ChannelList list;
    ChannelInfo watched;
    watched.sid = size >= 5 ? (data[3] << 8) | data[4] : 0;
    list.append(watched);
    list.append(watched);
    list.setCurrentIndex(0);
    NullNotifier notifier;
    FixedOffsetTimeConverter clock(size ? (data[0] % 5) * 60 - 120 : 0);

    if (auto parsed = parseEit(data, size, clock))
        for (const EitEntry& e : parsed->events)
            if (e.slot && e.slot->startTime != e.start)
                __builtin_trap();
    decodeEit(list, notifier, clock, data, size);
    std::vector<uint8_t> section(data, data + size);
    const uint32_t crc = crc32Mpeg2(section.data(), section.size());
    for (int shift = 24; shift >= 0; shift -= 8)
        section.push_back(static_cast<uint8_t>(crc >> shift));
    handleEitSample(list, notifier, clock, section.data(), section.size());
    decodeEit(list, notifier, clock, data, size);

    checkSlots(*list.copyAt(0));
    if (!list.copyAt(1)->present.empty())
        __builtin_trap();
    return 0;
}
