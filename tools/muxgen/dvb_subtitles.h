// DVB subtitle streams: text drawn with a small built-in font, then coded as display sets
// (display definition, page and region composition, CLUT, object data, end of display set)
// in the PES data field of private stream 1.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace muxgen {

// Pixel codes of a rendered subtitle, the first entries of its CLUT.
enum SubtitleInk : uint8_t { kInkClear = 0, kInkText = 1, kInkOutline = 2, kInkHighlight = 3 };

struct SubtitleBitmap {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels; // one code per pixel, rows top first
};

// Draws text (UTF-8, lines separated by '\n') in capitals, each font dot scale x scale
// pixels, outlined; a line starting with '[' (a sound, for the hard of hearing) in the
// highlight colour. Characters the font lacks are drawn as '?'.
SubtitleBitmap render_subtitle_text(const std::string& text, int scale);

// Appends one line of an object's pixel data: a 2-bit or 4-bit pixel code string (runs
// coded with the shortest codes that fit) then the end of object line code.
void append_pixel_line(const uint8_t* codes, size_t count, int bits, std::vector<uint8_t>& out);

struct DisplaySet {
    uint16_t page = 1;
    int display_width = 720; // a display definition segment is written for other sizes
    int display_height = 576;
    uint8_t version = 0;                    // of the page, region, CLUT and object, modulo 16
    uint8_t timeout = 0;                    // seconds the page stays on without a new display set
    int bits = 2;                           // region depth and pixel code strings: 2 or 4
    const SubtitleBitmap* bitmap = nullptr; // none: a set that clears the page
    int x = 0;
    int y = 0;
};

// The PES data field of one display set: data identifier 0x20, subtitle stream 0, the
// segments, end of data 0xFF.
std::vector<uint8_t> build_display_set(const DisplaySet& set);

// What a stream shows: texts by language and subtitling type, as the demo's sets.
std::vector<std::string> subtitle_texts(const std::string& language, uint8_t subtitling_type);

} // namespace muxgen
