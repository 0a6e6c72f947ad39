#include "support/channel_file_reader.h"

#include <benchmark/benchmark.h>

#include <string>

using namespace korvane;

namespace {

// A hundred channels with accented names, selector bytes and every optional PID.
ChannelRecords hundredChannels() {
    ChannelRecords records;
    for (int i = 0; i < 100; ++i) {
        ChannelInfo c;
        c.name.assign("\x0B"
                      "Cha\xEEne n\xB0 " +
                      std::to_string(i) + " & <HD>");
        c.group.assign("Op\xE9rateur " + std::to_string(i % 6));
        c.frequency = 474167 + 8000 * (i % 49);
        c.onid = 0x20FA;
        c.tsid = i % 6 + 1;
        c.sid = 0x100 + i;
        c.number = i + 1;
        c.pmtPid = 0x100 + i;
        c.pcrPid = c.videoPid = c.videoMpeg4Pid = 0x200 + i;
        c.audio1Pid = c.audio2Pid = c.ac3Pid = c.ac3Pid2 = 0x300 + i;
        records.push_back(c);
    }
    return records;
}

void saveHundredChannels(benchmark::State& state) {
    const ChannelRecords records = hundredChannels();
    std::size_t bytes = 0;
    for (auto _ : state) {
        std::string text = formatChannelFile(records);
        bytes += text.size();
        benchmark::DoNotOptimize(text);
    }
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK(saveHundredChannels);

void loadHundredChannels(benchmark::State& state) {
    const std::string text = formatChannelFile(hundredChannels());
    for (auto _ : state) {
        ChannelRecords records;
        bool ok = parseChannelFile(text, records, replaceWithQuestionMarks);
        benchmark::DoNotOptimize(ok);
        benchmark::DoNotOptimize(records);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(loadHundredChannels);

} // namespace
