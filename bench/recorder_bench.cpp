#include "capture/queued_sink.h"
#include "capture/recorder.h"
#include "support/stdio_sink.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

using korvane::Recorder;
using korvane::RecorderSettings;

namespace {

using Bytes = std::vector<uint8_t>;

constexpr int kChannels = 6;
constexpr int kVideoBase = 0x200;
constexpr int kAudioBase = 0x300;
constexpr int kPmtBase = 0x100;
constexpr std::size_t kBuffer = 188 * 256;

// Packets of one elementary stream: a PES every pesSize bytes, its first packet carrying a PCR
// when withPcr, the last one padded with adaptation-field stuffing.
struct PesSource {
    int pid;
    std::size_t pesSize;
    bool withPcr;
    uint8_t streamId;
    std::size_t done = 0;
    uint8_t cc = 0;
    uint64_t pcr = 0;

    void next(uint8_t* p) {
        std::memset(p, 0xFF, 188);
        bool start = done == 0;
        p[0] = 0x47;
        p[1] = static_cast<uint8_t>((start ? 0x40 : 0) | (pid >> 8));
        p[2] = static_cast<uint8_t>(pid);
        std::size_t adaptation = start && withPcr ? 8 : 0;
        std::size_t room = 184 - adaptation;
        std::size_t left = pesSize - done;
        if (left < room)
            adaptation = 184 - left;
        std::size_t offset = 4;
        if (adaptation > 0) {
            p[3] = static_cast<uint8_t>(0x30 | cc);
            p[4] = static_cast<uint8_t>(adaptation - 1);
            if (adaptation > 1)
                p[5] = 0;
            if (start && withPcr && adaptation >= 8) {
                p[5] = 0x10;
                uint64_t base = pcr;
                p[6] = static_cast<uint8_t>(base >> 25);
                p[7] = static_cast<uint8_t>(base >> 17);
                p[8] = static_cast<uint8_t>(base >> 9);
                p[9] = static_cast<uint8_t>(base >> 1);
                p[10] = static_cast<uint8_t>(((base & 1) << 7) | 0x7E);
                p[11] = 0;
                pcr += 3600;
            }
            offset = 4 + adaptation;
        } else {
            p[3] = static_cast<uint8_t>(0x10 | cc);
        }
        std::size_t take = std::min(188 - offset, left);
        for (std::size_t i = 0; i < take; ++i)
            p[offset + i] = static_cast<uint8_t>(done + i);
        if (start) {
            const uint8_t head[] = {0, 0, 1, streamId, 0, 0, 0x80, 0x80, 5};
            std::memcpy(p + offset, head, std::min(take, sizeof head));
        }
        done += take;
        if (done == pesSize)
            done = 0;
        cc = static_cast<uint8_t>((cc + 1) & 0x0F);
    }
};

// About 30 Mbit/s for 2 s: six channels of ~4.4 Mbit/s video and 192 kbit/s audio, their
// PAT/PMT, and null packets for the rest.
const Bytes& multiplex() {
    static const Bytes ts = [] {
        std::vector<PesSource> sources;
        std::vector<int> weights;
        for (int c = 0; c < kChannels; ++c) {
            sources.push_back({kVideoBase + c, 22000, true, 0xE0});
            weights.push_back(120);
            sources.push_back({kAudioBase + c, 1152, false, 0xC0});
            weights.push_back(5);
        }
        std::mt19937 rng(1);
        int total = 0;
        for (int w : weights)
            total += w;
        const std::size_t packets = 30'000'000 / 8 / 188 * 2;
        Bytes out(packets * 188);
        for (std::size_t i = 0; i < packets; ++i) {
            uint8_t* p = out.data() + i * 188;
            int pick = static_cast<int>(rng() % 800);
            if (pick >= total) {
                int pid = pick % 40 == 0 ? 0 : pick % 40 == 1 ? kPmtBase : 0x1FFF;
                std::memset(p, 0xFF, 188);
                p[0] = 0x47;
                p[1] = static_cast<uint8_t>(pid >> 8);
                p[2] = static_cast<uint8_t>(pid);
                p[3] = 0x10;
                continue;
            }
            for (std::size_t s = 0; s < sources.size(); ++s) {
                if (pick < weights[s]) {
                    sources[s].next(p);
                    break;
                }
                pick -= weights[s];
            }
        }
        return out;
    }();
    return ts;
}

// Keeps the last bytes written in a fixed area, as a copy into memory would.
struct MemorySink : korvane::ByteSink {
    Bytes area = Bytes(8 << 20);
    std::size_t pos = 0;
    bool write(const uint8_t* data, std::size_t size) override {
        if (pos + size > area.size())
            pos = 0;
        std::memcpy(area.data() + pos, data, size);
        pos += size;
        return true;
    }
};

const char* kTmpfsFile = "/dev/shm/korvane-recorder-bench.out";

RecorderSettings settingsFor(int mode) {
    if (mode == 1)
        return RecorderSettings::channelTs(kPmtBase, kVideoBase, kAudioBase);
    if (mode == 2)
        return RecorderSettings::channelPs(kVideoBase, kAudioBase);
    return RecorderSettings::multiplex();
}

void feed(korvane::ByteSink& sink, int mode, benchmark::State& state) {
    const Bytes& ts = multiplex();
    auto recorder = std::make_unique<Recorder>(settingsFor(mode), &sink, nullptr);
    for (std::size_t pos = 0; pos < ts.size(); pos += kBuffer)
        recorder->processBuffer(ts.data() + pos, std::min(kBuffer, ts.size() - pos));
    if (!recorder->finish())
        state.SkipWithError("the recorder's output failed");
}

void copyAll(korvane::ByteSink& sink, benchmark::State& state) {
    const Bytes& ts = multiplex();
    for (std::size_t pos = 0; pos < ts.size(); pos += kBuffer) {
        if (!sink.write(ts.data() + pos, std::min(kBuffer, ts.size() - pos)))
            state.SkipWithError("write failed");
    }
}

// mode: -1 plain copy, 0 multiplex, 1 channel TS, 2 channel PS.
void BM_RecordToMemory(benchmark::State& state) {
    int mode = static_cast<int>(state.range(0));
    MemorySink sink;
    for (auto _ : state) {
        if (mode < 0)
            copyAll(sink, state);
        else
            feed(sink, mode, state);
        benchmark::DoNotOptimize(sink.area.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * multiplex().size()));
}

void BM_RecordToTmpfsFile(benchmark::State& state) {
    int mode = static_cast<int>(state.range(0));
    for (auto _ : state) {
        korvane::StdioFileSink sink(kTmpfsFile);
        if (!sink.isOpen()) {
            state.SkipWithError("cannot create the file in /dev/shm");
            break;
        }
        if (mode < 0)
            copyAll(sink, state);
        else
            feed(sink, mode, state);
    }
    std::remove(kTmpfsFile);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * multiplex().size()));
}

// As the program records: the recorder's bytes reach the file from the queue's own thread.
void BM_RecordQueuedToTmpfsFile(benchmark::State& state) {
    int mode = static_cast<int>(state.range(0));
    for (auto _ : state) {
        auto file = std::make_unique<korvane::StdioFileSink>(kTmpfsFile);
        if (!file->isOpen()) {
            state.SkipWithError("cannot create the file in /dev/shm");
            break;
        }
        korvane::QueuedSink sink(std::move(file));
        if (mode < 0)
            copyAll(sink, state);
        else
            feed(sink, mode, state);
        const korvane::QueuedSinkEnd end = sink.finish(std::chrono::milliseconds(60000));
        if (end.failed || end.droppedBytes != 0)
            state.SkipWithError("the queued output failed or dropped bytes");
    }
    std::remove(kTmpfsFile);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * multiplex().size()));
}

void modes(benchmark::internal::Benchmark* b) {
    b->ArgName("mode")->Arg(-1)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
}

} // namespace

BENCHMARK(BM_RecordToMemory)->Apply(modes);
BENCHMARK(BM_RecordToTmpfsFile)->Apply(modes);
BENCHMARK(BM_RecordQueuedToTmpfsFile)->Apply(modes);
