#pragma once

// Pictures as the renderer stand-in takes and keeps them: the RGB32 formats it accepts, the
// copy of a sample's visible area, the packed bitmap it hands out, and the letter-box
// arithmetic of its destination rectangle.

#include "dshow/platform.h"

#include <cstdint>
#include <vector>

namespace korvane::testbed {

// What the renderer needs to know of an accepted media type.
struct PictureFormat {
    LONG width = 0; // the visible picture (rcSource, else the whole bitmap)
    LONG height = 0;
    LONG left = 0; // of the visible picture within the bitmap, top-down
    LONG top = 0;
    LONG bitmapWidth = 0;
    LONG bitmapHeight = 0; // rows in a sample
    bool bottomUp = true;
    DWORD aspectX = 0; // picture aspect ratio, reduced (the pixel size when none is given)
    DWORD aspectY = 0;
    size_t sampleBytes = 0; // what a sample must hold at least
};

// Reads an RGB32 video type with a VIDEOINFOHEADER2 or VIDEOINFOHEADER block; false for
// any other type or for a block whose sizes do not hold together.
bool parsePictureFormat(const AM_MEDIA_TYPE& type, PictureFormat* format);

// The visible area of one sample, packed bottom-up 32-bit rows.
struct Picture {
    LONG width = 0;
    LONG height = 0;
    DWORD aspectX = 0;
    DWORD aspectY = 0;
    std::vector<uint8_t> pixels;

    bool empty() const { return pixels.empty(); }
    BITMAPINFOHEADER header() const;
};

// Copies the visible area of a sample's data; false when the data is shorter than the
// format needs.
bool copyPicture(const PictureFormat& format, const BYTE* data, long length, Picture* picture);

// One CoTaskMemAlloc'ed block: the BITMAPINFOHEADER (biSizeImage set) then the pixels, as
// IVMRWindowlessControl::GetCurrentImage hands it out; null when out of memory.
BYTE* packedBitmap(const Picture& picture);

// The part of `destination` the picture fills when it keeps its aspect ratio X:Y, centred,
// with the bars on the two sides that are too long. Ratios of 0 fill the whole rectangle.
RECT letterBox(const RECT& destination, DWORD aspectX, DWORD aspectY);

} // namespace korvane::testbed
