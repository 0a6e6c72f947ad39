#include "app/recording_watch.h"

#include <gtest/gtest.h>

namespace korvane {
namespace {

TEST(RecordingWatch, StarvedAfterFiveSecondsWithoutDataSinceTheStartOrTheLastBuffer) {
    struct Case {
        uint64_t now, start, lastData;
        bool starved;
    };
    const Case cases[] = {
        {4999, 0, 0, false},        // no data yet, but the recording is young
        {5000, 0, 0, true},         // no data at all for five seconds
        {20000, 10000, 3000, true}, // data before the start does not count
        {14999, 10000, 3000, false},
        {20000, 10000, 15001, false}, // data came back
        {20000, 10000, 15000, true},
        {1000, 10000, 0, false}, // a tick before the start: never starved
    };
    for (const Case& c : cases)
        EXPECT_EQ(recordingStarved(c.now, c.start, c.lastData), c.starved)
            << c.now << " " << c.start << " " << c.lastData;
}

TEST(RecordingWatch, LostDataIsToldInBytesOrMegabytes) {
    struct Case {
        uint64_t bytes;
        const char16_t* amount; // null: nothing to say
    };
    const Case cases[] = {
        {0, nullptr},           {99999, u"99999 octets"}, {100000, u"0,1 Mo"},
        {67108864, u"67,1 Mo"}, {1949999, u"1,9 Mo"},     {1950000, u"2,0 Mo"},
    };
    for (const Case& c : cases) {
        const std::u16string text = lostDataText(c.bytes);
        if (c.amount == nullptr) {
            EXPECT_TRUE(text.empty());
            continue;
        }
        EXPECT_NE(text.find(u" " + std::u16string(c.amount) + u" de données ont été perdues"),
                  std::u16string::npos)
            << c.bytes;
        EXPECT_EQ(text.rfind(u"Le disque n'a pas suivi", 0), 0u);
    }
}

} // namespace
} // namespace korvane
