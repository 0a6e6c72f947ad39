// Elementary streams made by ffmpeg (test pictures with the channel name drawn on them,
// tones) and cut into access units, cached on disk between runs.
#pragma once

#include "scenario.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace muxgen {

struct AccessUnit {
    size_t offset = 0;
    size_t size = 0;
};

struct Elementary {
    StreamKind kind = StreamKind::Data;
    std::vector<uint8_t> data;
    std::vector<AccessUnit> units;
    uint32_t period_90k = 0; // presentation time of one access unit
};

// Cutting of raw elementary-stream bytes into access units; false when nothing usable
// was found.
bool split_mpeg2_video(Elementary& es);
bool split_h264(Elementary& es);
bool split_mpeg_audio(Elementary& es);
bool split_ac3(Elementary& es);
// E-AC-3 (bsid 11 to 16): the frame size comes from its own field.
bool split_eac3(Elementary& es);

struct ElementaryRequest {
    StreamKind kind = StreamKind::Data;
    std::string label; // drawn on video pictures
    int tone_hz = 440; // audio
    int width = 352;
    int height = 288;
    std::string aspect; // display aspect ratio of video, "16:9"; empty for square samples
    int seconds = 2;
};

class ElementaryLibrary {
  public:
    explicit ElementaryLibrary(std::string cache_dir) : cache_dir_(std::move(cache_dir)) {}
    // The stream for a request, made by ffmpeg on first use; empty (with `error` set) when
    // ffmpeg fails or its output cannot be cut into access units.
    const Elementary* get(const ElementaryRequest& request, std::string& error);

  private:
    std::string cache_dir_;
    std::map<std::string, Elementary> loaded_;
};

} // namespace muxgen
