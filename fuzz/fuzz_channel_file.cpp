#include "support/channel_file_reader.h"

#include <cstdlib>

using namespace korvane;

namespace {

// The six optional PID lines are written only for values above 0, so a negative value
// reads back as 0.
int32_t optional(int32_t pid) {
    return pid > 0 ? pid : 0;
}

bool sameStoredFields(const ChannelInfo& a, const ChannelInfo& b) {
    return a.name == b.name && a.group == b.group && a.frequency == b.frequency &&
           a.onid == b.onid && a.sid == b.sid && a.tsid == b.tsid && a.number == b.number &&
           a.pmtPid == b.pmtPid && a.pcrPid == b.pcrPid && optional(a.videoPid) == b.videoPid &&
           optional(a.videoMpeg4Pid) == b.videoMpeg4Pid && optional(a.audio1Pid) == b.audio1Pid &&
           optional(a.audio2Pid) == b.audio2Pid && optional(a.ac3Pid) == b.ac3Pid &&
           optional(a.ac3Pid2) == b.ac3Pid2 && a.subtitleStreams == b.subtitleStreams;
}

void expectRoundTrip(const ChannelRecords& records) {
    ChannelRecords back;
    if (!parseChannelFile(formatChannelFile(records), back, replaceWithQuestionMarks))
        std::abort();
    if (back.size() != records.size())
        std::abort();
    for (std::size_t i = 0; i < records.size(); ++i)
        if (!sameStoredFields(records[i], back[i]))
            std::abort();
}

} // namespace

// The input is read twice: as a channel file (whatever it yields must survive a write and a
// read back unchanged) and as raw names and providers (which must survive byte for byte).
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    ChannelRecords parsed;
    if (parseChannelFile(text, parsed, replaceWithQuestionMarks))
        expectRoundTrip(parsed);

    ChannelRecords raw;
    std::size_t pos = 0;
    while (pos < size && raw.size() < 64) {
        ChannelInfo c;
        std::size_t n = data[pos] % 64;
        ++pos;
        std::string_view chunk = text.substr(pos, n);
        pos += chunk.size();
        c.name.assign(chunk);
        c.group.assign(chunk.substr(chunk.size() / 2));
        c.frequency = static_cast<int32_t>(size * 1000003u);
        c.videoPid = static_cast<int32_t>(n) - 32;
        raw.push_back(c);
    }
    expectRoundTrip(raw);
    return 0;
}
