#include "../tests/native/si_test_sections.h"
#include "si/eit.h"
#include "si/pmt.h"
#include "si/sdt.h"
#include "si/section_check.h"

#include <benchmark/benchmark.h>

using namespace korvane;
using namespace si_test;

namespace {

struct NullNotifier : WindowNotifier {
    void postGuideUpdated() override {}
    void postStreamsChanged() override {}
};

struct NullSaver : ChannelFileSaver {
    void saveChannels(const ChannelRecords& copy) override {
        benchmark::DoNotOptimize(copy.data());
    }
};

// A multiplex-sized list: the guide section's service is the last one searched.
void fillList(ChannelList& list) {
    for (int i = 0; i < 30; ++i)
        list.append(channel(0x100 + i));
    list.setCurrentIndex(29);
}

EitEvent event(uint8_t hour, const char* title) {
    EitEvent e;
    e.hour = hour;
    e.descriptors = shortEvent(title, "Une description de longueur ordinaire pour le guide.");
    return e;
}

} // namespace

static void BM_Crc32Mpeg2(benchmark::State& state) {
    Bytes data(static_cast<std::size_t>(state.range(0)));
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i * 131 + 7);
    for (auto _ : state)
        benchmark::DoNotOptimize(crc32Mpeg2(data.data(), data.size()));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_Crc32Mpeg2)->Arg(188)->Arg(1024)->Arg(4096)->Arg(65536);

// The same present/following section again: only the latest flags move.
static void BM_DecodeEitRepeated(benchmark::State& state) {
    ChannelList list;
    fillList(list);
    NullNotifier notifier;
    FixedOffsetTimeConverter clock(60);
    const Bytes section = eit(0x100 + 29, {event(0x20, "Journal"), event(0x21, "Film")});
    for (auto _ : state)
        decodeEit(list, notifier, clock, section.data(), section.size());
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_DecodeEitRepeated);

// Sections that bring a new event each time: descriptors decoded, texts formatted, stored.
static void BM_DecodeEitNewEvents(benchmark::State& state) {
    ChannelList list;
    fillList(list);
    NullNotifier notifier;
    FixedOffsetTimeConverter clock(60);
    const Bytes sections[3] = {eit(0x100 + 29, {event(0x20, "A"), event(0x21, "B")}),
                               eit(0x100 + 29, {event(0x21, "B"), event(0x22, "C")}),
                               eit(0x100 + 29, {event(0x22, "C"), event(0x20, "A")})};
    std::size_t i = 0;
    for (auto _ : state) {
        const Bytes& s = sections[i++ % 3];
        decodeEit(list, notifier, clock, s.data(), s.size());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_DecodeEitNewEvents);

static void BM_EitGateAndDecode(benchmark::State& state) {
    ChannelList list;
    fillList(list);
    NullNotifier notifier;
    FixedOffsetTimeConverter clock(60);
    const Bytes section = eit(0x100 + 29, {event(0x20, "Journal"), event(0x21, "Film")});
    for (auto _ : state)
        handleEitSample(list, notifier, clock, section.data(), section.size());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * section.size()));
}
BENCHMARK(BM_EitGateAndDecode);

static Bytes typicalPmt(unsigned pcr) {
    return pmt(0x101, pcr,
               {{0x02, 0x100, descriptor(0x52, {0x01})},
                {0x03, 0x101, descriptor(0x0A, {'f', 'r', 'a', 0})},
                {0x03, 0x102, descriptor(0x0A, {'q', 'a', 'd', 0})},
                {0x06, 0x103, descriptor(0x6A, {0x00})},
                {0x06, 0x104, descriptor(0x59, {'f', 'r', 'a', 0x10, 0, 1, 0, 1})}});
}

// The usual case: the watched channel's PMT repeats unchanged.
static void BM_DecodePmtUnchanged(benchmark::State& state) {
    ChannelList list;
    fillList(list);
    NullNotifier notifier;
    NullSaver saver;
    const Bytes section = typicalPmt(0x100);
    decodePmt(list, notifier, saver, section.data(), section.size());
    for (auto _ : state)
        decodePmt(list, notifier, saver, section.data(), section.size());
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_DecodePmtUnchanged);

// Every section changes the PIDs: store, copy of the 30 records for the saver, post.
static void BM_DecodePmtChanged(benchmark::State& state) {
    ChannelList list;
    fillList(list);
    NullNotifier notifier;
    NullSaver saver;
    const Bytes sections[2] = {typicalPmt(0x100), typicalPmt(0x1FF)};
    std::size_t i = 0;
    for (auto _ : state) {
        const Bytes& s = sections[i++ % 2];
        decodePmt(list, notifier, saver, s.data(), s.size());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_DecodePmtChanged);

// A multiplex of eight services appended to an emptied list.
static void BM_DecodeSdt(benchmark::State& state) {
    std::vector<SdtService> services;
    for (unsigned i = 0; i < 8; ++i)
        services.push_back({0x101 + i, serviceDescriptor("GR1", "Chaine " + std::to_string(i))});
    const Bytes section = sdt(4, 0x20FA, services);
    ChannelList list;
    for (auto _ : state) {
        list.clear();
        decodeSdt(list, section.data(), section.size(), 474167);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_DecodeSdt);
