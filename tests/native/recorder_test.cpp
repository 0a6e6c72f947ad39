#include "recorder_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <random>
#include <vector>

using namespace korvane;
using namespace korvane::recorder_test;

TEST(RecorderAlignment, MultiplexDropsOnlyNullPackets) {
    Bytes ts;
    append(ts, tsPacket(0));
    append(ts, tsPacket(0x100));
    append(ts, tsPacket(0x1FFF));
    Bytes out = recordWhole(RecorderSettings::multiplex(), ts);
    EXPECT_EQ(pidsOf(out), (std::vector<int>{0, 0x100}));
    EXPECT_TRUE(std::equal(out.begin(), out.end(), ts.begin()));
}

TEST(RecorderAlignment, CarriesAPacketCutByTheBufferEnd) {
    Bytes ts;
    for (int i = 0; i < 5; ++i)
        append(ts, tsPacket(0x200 + i, 0, static_cast<uint8_t>(i)));
    MemorySink sink;
    auto r = makeRecorder(RecorderSettings::multiplex(), sink);
    r->processBuffer(ts.data(), 188 * 3 + 100);
    EXPECT_EQ(sink.bytes.size(), 188u * 3);
    r->processBuffer(ts.data() + 188 * 3 + 100, 88);
    EXPECT_EQ(sink.bytes.size(), 188u * 4);
    r->processBuffer(ts.data() + 188 * 4, 188);
    EXPECT_EQ(sink.bytes, ts);
}

TEST(RecorderAlignment, BuffersShorterThanTheMissingPartKeepCarrying) {
    Bytes ts;
    for (int i = 0; i < 4; ++i)
        append(ts, tsPacket(0x300 + i, static_cast<uint8_t>(i), static_cast<uint8_t>(0x10 + i)));
    MemorySink sink;
    auto r = makeRecorder(RecorderSettings::multiplex(), sink);
    r->processBuffer(ts.data(), 150);      // carries 150
    r->processBuffer(ts.data() + 150, 10); // 160: still short
    r->processBuffer(ts.data() + 160, 27); // 187: one byte missing
    EXPECT_TRUE(sink.bytes.empty());
    r->processBuffer(ts.data() + 187, 1 + 188); // completes the first, then one whole packet
    r->processBuffer(ts.data() + 376, ts.size() - 376);
    EXPECT_EQ(sink.bytes, ts);
}

TEST(RecorderAlignment, EverySplitGivesTheSameOutputInEveryMode) {
    const Bytes ts = channelMultiplex(6, 3000);
    const RecorderSettings modes[] = {RecorderSettings::multiplex(),
                                      RecorderSettings::channelTs(0x555, 0x100, 0x101),
                                      RecorderSettings::channelPs(0x100, 0x101)};
    for (const auto& mode : modes) {
        Bytes whole = recordWhole(mode, ts);
        ASSERT_FALSE(whole.empty());
        for (uint32_t seed = 1; seed <= 20; ++seed) {
            std::size_t maxPiece = seed % 2 ? 7 : 600;
            EXPECT_EQ(recordSplit(mode, ts, seed, maxPiece), whole)
                << "mode " << static_cast<int>(mode.mode) << " seed " << seed;
        }
    }
}

TEST(RecorderAlignment, SyncLossDropsBytesUpToTheNextSyncByte) {
    Bytes garbageFirst = {0x12, 0x34};
    Bytes good;
    append(good, tsPacket(0x10));
    append(good, tsPacket(0x11));
    append(garbageFirst, good);
    EXPECT_EQ(recordWhole(RecorderSettings::multiplex(), garbageFirst), good);

    // A sync byte whose successor 188 bytes on is not one: that packet is skipped and the
    // search resumes at the next 0x47 after it (here the start of a good packet).
    Bytes broken = tsPacket(0x20, 0, 0x00);
    broken.resize(120);
    Bytes ts = broken;
    append(ts, tsPacket(0x21, 0, 0x00));
    append(ts, tsPacket(0x22, 0, 0x00));
    EXPECT_EQ(pidsOf(recordWhole(RecorderSettings::multiplex(), ts)),
              (std::vector<int>{0x21, 0x22}));
}

TEST(RecorderAlignment, NeverCompletesACarryThatDoesNotStartWithASyncByte) {
    // A lone short buffer of garbage must not become a packet once the next buffer arrives.
    Bytes garbage(100, 0x00);
    Bytes good = tsPacket(0x30);
    MemorySink sink;
    auto r = makeRecorder(RecorderSettings::multiplex(), sink);
    r->processBuffer(garbage.data(), garbage.size());
    r->processBuffer(good.data(), good.size());
    EXPECT_EQ(sink.bytes, good);
}

TEST(RecorderChannelTs, KeepsPatPmtVideoAndAudioOnly) {
    Bytes ts;
    for (int pid : {0, 0x100, 0x120, 0x130, 0x131, 0x12, 0x1FFF})
        append(ts, tsPacket(pid));
    Bytes out = recordWhole(RecorderSettings::channelTs(0x100, 0x120, 0x130), ts);
    EXPECT_EQ(pidsOf(out), (std::vector<int>{0, 0x100, 0x120, 0x130}));
}

TEST(RecorderChannelTs, UnknownPmtPidStillRecordsATransportStream) {
    Bytes ts;
    uint8_t cc = 0;
    append(ts, tsPacket(0));
    append(ts, packetizePes(0x120, pesOf(0xE0, 400), cc, pcrBytes(1, 0)));
    append(ts, tsPacket(0x130));
    append(ts, tsPacket(0x140));
    auto settings = RecorderSettings::channelTs(0, 0x120, 0x130);
    MemorySink sink;
    {
        auto r = makeRecorder(settings, sink);
        EXPECT_EQ(r->mode(), RecorderMode::ChannelTs);
        r->processBuffer(ts.data(), ts.size());
    }
    EXPECT_EQ(pidsOf(sink.bytes), (std::vector<int>{0, 0x120, 0x120, 0x120, 0x130}));
    EXPECT_EQ(sink.bytes.size() % 188, 0u);
}

TEST(RecorderWrites, ContiguousKeptPacketsLeaveInOneWrite) {
    Bytes ts;
    for (int i = 0; i < 100; ++i)
        append(ts, tsPacket(0x100 + (i % 3)));
    MemorySink sink;
    auto r = makeRecorder(RecorderSettings::multiplex(), sink);
    r->processBuffer(ts.data(), ts.size());
    EXPECT_EQ(sink.writes, (std::vector<std::size_t>{ts.size()}));
}

TEST(RecorderWrites, ScatteredPacketsAreGatheredAndNothingIsHeldBack) {
    Bytes ts;
    for (int i = 0; i < 300; ++i)
        append(ts, tsPacket(i % 4 == 0 ? 0x120 : 0x777));
    MemorySink sink;
    auto r = makeRecorder(RecorderSettings::channelTs(0x100, 0x120, 0x130), sink);
    r->processBuffer(ts.data(), ts.size() - 50); // the last packet is cut and carried
    EXPECT_EQ(sink.writes.size(), 1u);
    EXPECT_EQ(sink.bytes.size(), 75u * 188);
    r->processBuffer(ts.data() + ts.size() - 50, 50);
    EXPECT_EQ(sink.bytes.size(), 75u * 188);
}

TEST(RecorderWrites, LargeBuffersStayInOrderAcrossStagingFlushes) {
    // Runs of various lengths, some gathered and some written directly.
    Bytes ts;
    std::mt19937 rng(7);
    int serial = 0;
    for (int i = 0; i < 3000; ++i) {
        bool keep = rng() % 5 != 0;
        append(ts, tsPacket(keep ? 0x100 : 0x1FFF, 0, static_cast<uint8_t>(serial++)));
    }
    Bytes expected;
    for (std::size_t i = 0; i < ts.size(); i += 188)
        if (ts[i + 2] != 0xFF)
            expected.insert(expected.end(), ts.begin() + static_cast<long>(i),
                            ts.begin() + static_cast<long>(i + 188));
    EXPECT_EQ(recordWhole(RecorderSettings::multiplex(), ts), expected);
}

TEST(RecorderFailures, FileThatCouldNotBeCreatedIsReportedOnce) {
    CountingReporter reporter;
    Bytes ts = tsPacket(0x100);
    {
        Recorder r(RecorderSettings::multiplex(), nullptr, &reporter);
        EXPECT_TRUE(r.failed());
        EXPECT_FALSE(r.processBuffer(ts.data(), ts.size()));
        EXPECT_FALSE(r.finish());
    }
    EXPECT_EQ(reporter.failures, (std::vector<RecordingFailure>{RecordingFailure::CreateFailed}));
}

TEST(RecorderFailures, WriteFailureIsReportedOnceAndStopsWriting) {
    MemorySink sink;
    sink.acceptedWrites = 1;
    CountingReporter reporter;
    Bytes ts = tsPacket(0x100);
    auto r = makeRecorder(RecorderSettings::multiplex(), sink, &reporter);
    EXPECT_TRUE(r->processBuffer(ts.data(), ts.size()));
    EXPECT_FALSE(r->processBuffer(ts.data(), ts.size()));
    EXPECT_FALSE(r->processBuffer(ts.data(), ts.size()));
    EXPECT_TRUE(r->failed());
    EXPECT_EQ(sink.bytes.size(), 188u);
    EXPECT_EQ(reporter.failures, (std::vector<RecordingFailure>{RecordingFailure::WriteFailed}));
}

TEST(RecorderFailures, WriteFailureWhileFinishingIsNotSuccess) {
    MemorySink sink;
    CountingReporter reporter;
    uint8_t cc = 0;
    Bytes ts = packetizePes(0x100, pesOf(0xE0, 1000), cc, pcrBytes(5, 0));
    auto r = makeRecorder(RecorderSettings::channelPs(0x100, 0x101), sink, &reporter);
    EXPECT_TRUE(r->processBuffer(ts.data(), ts.size()));
    sink.acceptedWrites = sink.writes.size();
    EXPECT_FALSE(r->finish());
    EXPECT_EQ(reporter.failures.size(), 1u);
}
