#include "si/eit.h"
#include "si/pmt.h"
#include "si/section_check.h"
#include "si_test_sections.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace korvane;
using namespace si_test;

namespace {

uint32_t bitwiseCrc(const Bytes& data) {
    uint32_t crc = 0xFFFFFFFF;
    for (uint8_t byte : data)
        for (int bit = 7; bit >= 0; --bit) {
            const bool top = ((crc >> 31) ^ (byte >> bit)) & 1;
            crc = (crc << 1) ^ (top ? 0x04C11DB7u : 0);
        }
    return crc;
}

} // namespace

TEST(SectionCrc, KnownValuesAndResidue) {
    const char* check = "123456789";
    EXPECT_EQ(crc32Mpeg2(reinterpret_cast<const uint8_t*>(check), 9), 0x0376E6E7u);
    EXPECT_EQ(crc32Mpeg2(nullptr, 0), 0xFFFFFFFFu);
    EXPECT_EQ(crc32Mpeg2(reinterpret_cast<const uint8_t*>(check), 0), 0xFFFFFFFFu);

    const Bytes section = pat(4, {{0, 0x10}, {0x101, 0x100}});
    EXPECT_EQ(crc32Mpeg2(section.data(), section.size()), 0u);
    EXPECT_TRUE(checkSectionCrc(section.data(), section.size()));
}

TEST(SectionCrc, TableMatchesBitwiseDefinitionOnEveryByteValue) {
    Bytes data;
    for (int i = 0; i < 512; ++i)
        data.push_back(static_cast<uint8_t>(i * 37 + (i >> 3)));
    for (std::size_t n : {1u, 2u, 3u, 7u, 64u, 255u, 512u}) {
        Bytes part(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(n));
        EXPECT_EQ(crc32Mpeg2(part.data(), n), bitwiseCrc(part)) << n;
    }
}

TEST(SectionCrc, EveryFlippedBitFailsTheCheck) {
    const Bytes good = pmt(0x101, 0x100, {{0x02, 0x100, {}}, {0x03, 0x101, {}}});
    for (std::size_t i = 0; i < good.size(); ++i)
        for (int bit = 0; bit < 8; ++bit) {
            Bytes bad = good;
            bad[i] ^= static_cast<uint8_t>(1 << bit);
            EXPECT_FALSE(checkSectionCrc(bad.data(), bad.size())) << i << ":" << bit;
            EXPECT_FALSE(passesPmtGate(bad.data(), bad.size()));
        }
}

TEST(SectionGate, TableIdentifiersAndLengths) {
    const Bytes present = eit(1, {});
    EXPECT_TRUE(passesEitGate(present.data(), present.size()));
    EXPECT_FALSE(passesPmtGate(present.data(), present.size()));
    EXPECT_TRUE(passesEitGate(eit(1, {}, 0x4F).data(), present.size()));
    const Bytes schedule = eit(1, {}, 0x50);
    EXPECT_TRUE(checkSectionCrc(schedule.data(), schedule.size()));
    EXPECT_FALSE(passesEitGate(schedule.data(), schedule.size()));

    const Bytes map = pmt(1, 0x100, {});
    EXPECT_TRUE(passesPmtGate(map.data(), map.size()));
    EXPECT_FALSE(passesEitGate(map.data(), map.size()));

    // Bytes after the CRC: the sample's last four bytes are compared, not the section's.
    Bytes padded = map;
    padded.push_back(0xFF);
    EXPECT_FALSE(passesPmtGate(padded.data(), padded.size()));

    // Shorter than a CRC, including four bytes whose value equals the empty-input CRC.
    const uint8_t tiny[4] = {0x02, 0xFF, 0xFF, 0xFF};
    for (std::size_t n = 0; n < 4; ++n)
        EXPECT_FALSE(passesPmtGate(tiny, n));
    const uint8_t allOnes[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_TRUE(checkSectionCrc(allOnes, 4));
    EXPECT_FALSE(passesEitGate(allOnes, 4));
    EXPECT_FALSE(passesPmtGate(nullptr, 16));
}

TEST(SectionGate, DroppedSamplesReachNoDecoder) {
    ChannelList list;
    list.append(channel(0x101));
    list.setCurrentIndex(0);
    CountingNotifier notifier;
    RecordingSaver saver;
    FixedOffsetTimeConverter clock;

    EitEvent event;
    event.descriptors = shortEvent("Journal", "Infos");
    Bytes guide = eit(0x101, {event});
    guide[20] ^= 0x01;
    EXPECT_FALSE(handleEitSample(list, notifier, clock, guide.data(), guide.size()));
    Bytes schedule = eit(0x101, {event}, 0x50);
    EXPECT_FALSE(handleEitSample(list, notifier, clock, schedule.data(), schedule.size()));
    EXPECT_TRUE(list.copyAt(0)->present.empty());

    Bytes streams = pmt(0x101, 0x100, {{0x02, 0x100, {}}});
    streams[14] ^= 0x80;
    EXPECT_FALSE(handlePmtSample(list, notifier, saver, streams.data(), streams.size()));
    EXPECT_EQ(list.copyAt(0)->videoPid, 0);
    EXPECT_TRUE(saver.saves.empty());
    EXPECT_EQ(notifier.guideUpdates + notifier.streamChanges, 0);

    // The next good samples are handled normally.
    guide = eit(0x101, {event});
    EXPECT_TRUE(handleEitSample(list, notifier, clock, guide.data(), guide.size()));
    streams = pmt(0x101, 0x100, {{0x02, 0x100, {}}});
    EXPECT_TRUE(handlePmtSample(list, notifier, saver, streams.data(), streams.size()));
    EXPECT_EQ(list.copyAt(0)->present.title, "Journal");
    EXPECT_EQ(list.copyAt(0)->videoPid, 0x100);
}
