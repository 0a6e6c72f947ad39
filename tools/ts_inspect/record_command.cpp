#include "commands.h"

#include "capture/recorder.h"
#include "support/stdio_sink.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

using korvane::AudioCodec;
using korvane::RecorderMode;
using korvane::RecorderSettings;
using korvane::VideoCodec;

struct RecordOptions {
    RecorderMode mode = RecorderMode::Multiplex;
    bool modeGiven = false;
    long pmt = 0;
    long video = 0;
    long audio = 0;
    long pcr = 0;
    VideoCodec videoCodec = VideoCodec::Mpeg2;
    AudioCodec audioCodec = AudioCodec::Mpeg;
    std::size_t buffer = 188 * 256;
    bool randomSplits = false;
    uint32_t seed = 0;
    const char* input = nullptr;
    const char* output = nullptr;
};

struct StderrReporter : korvane::RecordingFailureReporter {
    void reportRecordingFailure(korvane::RecordingFailure failure) override {
        std::fputs(failure == korvane::RecordingFailure::CreateFailed
                       ? "ts-inspect record: cannot create the output file\n"
                       : "ts-inspect record: write to the output file failed\n",
                   stderr);
    }
};

bool parseNumber(const char* text, long max, long& value) {
    char* end = nullptr;
    long v = std::strtol(text, &end, 0);
    if (end == text || *end != '\0' || v < 0 || v > max)
        return false;
    value = v;
    return true;
}

bool parseMode(const char* text, RecorderMode& mode) {
    if (std::strcmp(text, "mux") == 0)
        mode = RecorderMode::Multiplex;
    else if (std::strcmp(text, "ts") == 0)
        mode = RecorderMode::ChannelTs;
    else if (std::strcmp(text, "ps") == 0)
        mode = RecorderMode::ChannelPs;
    else
        return false;
    return true;
}

bool parseVideoCodec(const char* text, VideoCodec& codec) {
    if (std::strcmp(text, "mpeg2") == 0)
        codec = VideoCodec::Mpeg2;
    else if (std::strcmp(text, "h264") == 0)
        codec = VideoCodec::H264;
    else
        return false;
    return true;
}

bool parseAudioCodec(const char* text, AudioCodec& codec) {
    if (std::strcmp(text, "mpeg") == 0)
        codec = AudioCodec::Mpeg;
    else if (std::strcmp(text, "ac3") == 0)
        codec = AudioCodec::Ac3;
    else if (std::strcmp(text, "eac3") == 0)
        codec = AudioCodec::Eac3;
    else
        return false;
    return true;
}

bool parseOptions(int argc, char** argv, RecordOptions& o) {
    for (int i = 0; i < argc; ++i) {
        const char* arg = argv[i];
        bool hasValue = i + 1 < argc;
        long value = 0;
        if (std::strcmp(arg, "--mode") == 0 && hasValue) {
            if (!parseMode(argv[++i], o.mode))
                return false;
            o.modeGiven = true;
        } else if (std::strcmp(arg, "--pmt") == 0 && hasValue) {
            if (!parseNumber(argv[++i], 0x1FFF, o.pmt))
                return false;
        } else if (std::strcmp(arg, "--video") == 0 && hasValue) {
            if (!parseNumber(argv[++i], 0x1FFF, o.video))
                return false;
        } else if (std::strcmp(arg, "--audio") == 0 && hasValue) {
            if (!parseNumber(argv[++i], 0x1FFF, o.audio))
                return false;
        } else if (std::strcmp(arg, "--pcr") == 0 && hasValue) {
            if (!parseNumber(argv[++i], 0x1FFF, o.pcr))
                return false;
        } else if (std::strcmp(arg, "--video-codec") == 0 && hasValue) {
            if (!parseVideoCodec(argv[++i], o.videoCodec))
                return false;
        } else if (std::strcmp(arg, "--audio-codec") == 0 && hasValue) {
            if (!parseAudioCodec(argv[++i], o.audioCodec))
                return false;
        } else if (std::strcmp(arg, "--buffer") == 0 && hasValue) {
            if (!parseNumber(argv[++i], 1L << 30, value) || value == 0)
                return false;
            o.buffer = static_cast<std::size_t>(value);
        } else if (std::strcmp(arg, "--random-splits") == 0 && hasValue) {
            if (!parseNumber(argv[++i], 0xFFFFFFFFL, value))
                return false;
            o.randomSplits = true;
            o.seed = static_cast<uint32_t>(value);
        } else if (arg[0] == '-' && arg[1] == '-') {
            return false;
        } else if (o.input == nullptr) {
            o.input = arg;
        } else if (o.output == nullptr) {
            o.output = arg;
        } else {
            return false;
        }
    }
    return o.modeGiven && o.input != nullptr && o.output != nullptr;
}

RecorderSettings settingsOf(const RecordOptions& o) {
    auto pid = [](long v) { return static_cast<int32_t>(v); };
    switch (o.mode) {
    case RecorderMode::ChannelTs:
        return RecorderSettings::channelTs(pid(o.pmt), pid(o.video), pid(o.audio));
    case RecorderMode::ChannelPs:
        return RecorderSettings::channelPs(pid(o.video), pid(o.audio), pid(o.pcr), o.videoCodec,
                                           o.audioCodec);
    case RecorderMode::Multiplex:
        break;
    }
    return RecorderSettings::multiplex();
}

} // namespace

// Feeds a transport stream file to the recorder in buffers, as the sample grabber would:
// all of --buffer bytes, or random sizes from 1 to twice that with --random-splits.
int runRecordCommand(int argc, char** argv) {
    RecordOptions o;
    if (!parseOptions(argc, argv, o)) {
        std::fputs("usage: ts-inspect record --mode mux|ts|ps [--pmt PID] [--video PID] "
                   "[--audio PID] [--pcr PID] [--video-codec mpeg2|h264] "
                   "[--audio-codec mpeg|ac3|eac3] [--buffer BYTES] [--random-splits SEED] "
                   "IN.ts OUT\n",
                   stderr);
        return 2;
    }
    std::FILE* in = std::fopen(o.input, "rb");
    if (in == nullptr) {
        std::fprintf(stderr, "ts-inspect record: cannot open %s\n", o.input);
        return 1;
    }
    korvane::StdioFileSink sink(o.output);
    StderrReporter reporter;
    auto recorder = std::make_unique<korvane::Recorder>(settingsOf(o),
                                                        sink.isOpen() ? &sink : nullptr, &reporter);
    std::mt19937 rng(o.seed);
    std::size_t largest = o.randomSplits ? 2 * o.buffer : o.buffer;
    std::vector<uint8_t> buffer(largest);
    uint64_t total = 0;
    uint64_t buffers = 0;
    bool ok = !recorder->failed();
    while (ok) {
        std::size_t want = o.randomSplits ? 1 + rng() % largest : o.buffer;
        std::size_t got = std::fread(buffer.data(), 1, want, in);
        if (got == 0)
            break;
        total += got;
        ++buffers;
        ok = recorder->processBuffer(buffer.data(), got);
    }
    bool readError = std::ferror(in) != 0;
    std::fclose(in);
    ok = recorder->finish() && ok;
    recorder.reset();
    if (sink.isOpen() && !sink.close()) {
        std::fputs("ts-inspect record: closing the output file failed\n", stderr);
        ok = false;
    }
    if (readError) {
        std::fprintf(stderr, "ts-inspect record: read error on %s\n", o.input);
        return 1;
    }
    std::printf("read %llu bytes in %llu buffers\n", static_cast<unsigned long long>(total),
                static_cast<unsigned long long>(buffers));
    return ok ? 0 : 1;
}
