#include "overlay_emulation.h"

#include <cstring>

namespace korvane::testbed {

namespace {

// No pixel read from a 32-bit bitmap has its top byte set.
constexpr uint32_t kNotPicture = 0xFFFFFFFF;

// A top-down 32-bit bitmap selected into a memory DC.
class Scratch {
  public:
    Scratch(HDC like, LONG width, LONG height) : dc_(CreateCompatibleDC(like)) {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(info.bmiHeader);
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        if (dc_)
            bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        if (bitmap_) {
            old_ = SelectObject(dc_, bitmap_);
            bits_ = static_cast<uint32_t*>(bits);
        }
    }
    ~Scratch() {
        if (old_)
            SelectObject(dc_, old_);
        if (bitmap_)
            DeleteObject(bitmap_);
        if (dc_)
            DeleteDC(dc_);
    }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;

    HDC dc() const { return dc_; }
    uint32_t* bits() const { return bits_; }

  private:
    HDC dc_;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ old_ = nullptr;
    uint32_t* bits_ = nullptr;
};

uint32_t pixelOf(COLORREF colour) {
    return (uint32_t(GetRValue(colour)) << 16) | (uint32_t(GetGValue(colour)) << 8) |
           GetBValue(colour);
}

// A hardware overlay never writes the window's pixels; this emulation reads them, composes
// and writes them back from the renderer's thread. Whatever the program painted between the
// read and the write-back (a subtitle shown or cleared, a text) is taken over as it is now,
// so that the write-back does not undo the program's painting.
void keepWhatWasPaintedMeanwhile(HDC dc, const RECT& visible, const std::vector<uint32_t>& read,
                                 Scratch& composed, uint32_t* drawn, LONG drawnWidth) {
    const LONG w = visible.right - visible.left;
    const LONG h = visible.bottom - visible.top;
    Scratch now(dc, w, h);
    if (!now.bits())
        return;
    BitBlt(now.dc(), 0, 0, w, h, dc, visible.left, visible.top, SRCCOPY);
    GdiFlush();
    for (LONG y = 0; y < h; ++y) {
        uint32_t* last = drawn + size_t(visible.top + y) * size_t(drawnWidth) + visible.left;
        for (LONG x = 0; x < w; ++x) {
            const size_t at = size_t(y) * size_t(w) + size_t(x);
            const uint32_t pixel = now.bits()[at] & 0x00FFFFFF;
            if (pixel != read[at]) {
                composed.bits()[at] = pixel;
                last[x] = kNotPicture; // the program painted here
            }
        }
    }
}

// Writes back only the pixels that show the picture, through a clip region of their runs:
// a pixel the program painted is never written, so a write-back that comes after the
// program's next paint cannot bring back what the program has just cleared.
void writePictureOnly(HDC dc, const RECT& visible, Scratch& composed, const uint32_t* drawn,
                      LONG drawnWidth) {
    const LONG w = visible.right - visible.left;
    const LONG h = visible.bottom - visible.top;
    std::vector<RECT> runs;
    for (LONG y = 0; y < h; ++y) {
        const uint32_t* last = drawn + size_t(visible.top + y) * size_t(drawnWidth) + visible.left;
        for (LONG x = 0; x < w;) {
            if (last[x] == kNotPicture) {
                ++x;
                continue;
            }
            const LONG start = x;
            while (x < w && last[x] != kNotPicture)
                ++x;
            runs.push_back(
                RECT{visible.left + start, visible.top + y, visible.left + x, visible.top + y + 1});
        }
    }
    if (runs.empty())
        return;
    std::vector<unsigned char> data(sizeof(RGNDATAHEADER) + runs.size() * sizeof(RECT));
    auto* header = reinterpret_cast<RGNDATAHEADER*>(data.data());
    header->dwSize = sizeof(RGNDATAHEADER);
    header->iType = RDH_RECTANGLES;
    header->nCount = DWORD(runs.size());
    header->nRgnSize = DWORD(runs.size() * sizeof(RECT));
    header->rcBound = visible;
    std::memcpy(data.data() + sizeof(RGNDATAHEADER), runs.data(), runs.size() * sizeof(RECT));
    HRGN region =
        ExtCreateRegion(nullptr, DWORD(data.size()), reinterpret_cast<const RGNDATA*>(data.data()));
    if (!region)
        return;
    // The clip region is in device coordinates: those of the client DC here.
    SelectClipRgn(dc, region);
    BitBlt(dc, visible.left, visible.top, w, h, composed.dc(), 0, 0, SRCCOPY);
    SelectClipRgn(dc, nullptr);
    DeleteObject(region);
}

} // namespace

void OverlayEmulation::reset() {
    drawn_.clear();
    width_ = height_ = 0;
}

void OverlayEmulation::draw(HWND window, HDC dc, const RECT& target, const RECT& source,
                            const Picture& picture, COLORREF key) {
    RECT client{};
    GetClientRect(window, &client);
    if (client.right != width_ || client.bottom != height_) {
        width_ = client.right;
        height_ = client.bottom;
        drawn_.assign(size_t(width_) * size_t(height_), kNotPicture);
    }
    RECT visible{};
    if (!IntersectRect(&visible, &target, &client))
        return;
    LONG w = visible.right - visible.left;
    LONG h = visible.bottom - visible.top;
    Scratch screen(dc, w, h);
    if (!screen.bits())
        return;
    BitBlt(screen.dc(), 0, 0, w, h, dc, visible.left, visible.top, SRCCOPY);
    GdiFlush();
    std::vector<uint32_t> read(screen.bits(), screen.bits() + size_t(w) * size_t(h));
    for (uint32_t& pixel : read)
        pixel &= 0x00FFFFFF;

    // Nearest-neighbour scaling, sampling the source at each target pixel's centre.
    long long targetWidth = target.right - target.left;
    long long targetHeight = target.bottom - target.top;
    long long sourceWidth = source.right - source.left;
    long long sourceHeight = source.bottom - source.top;
    std::vector<LONG> columns(size_t(w), 0);
    for (LONG x = 0; x < w; ++x) {
        long long fromTarget = visible.left + x - target.left;
        columns[size_t(x)] =
            source.left + LONG((2 * fromTarget + 1) * sourceWidth / (2 * targetWidth));
    }
    const auto* pixels = reinterpret_cast<const uint32_t*>(picture.pixels.data());
    uint32_t keyPixel = pixelOf(key);
    for (LONG y = 0; y < h; ++y) {
        long long fromTarget = visible.top + y - target.top;
        LONG sourceRow =
            source.top + LONG((2 * fromTarget + 1) * sourceHeight / (2 * targetHeight));
        // The picture's rows go bottom-up.
        const uint32_t* next =
            pixels + size_t(picture.height - 1 - sourceRow) * size_t(picture.width);
        uint32_t* shown = screen.bits() + size_t(y) * size_t(w);
        uint32_t* last = drawn_.data() + size_t(visible.top + y) * size_t(width_) + visible.left;
        for (LONG x = 0; x < w; ++x) {
            uint32_t pixel = shown[x] & 0x00FFFFFF;
            if (pixel == keyPixel || pixel == last[x]) {
                shown[x] = next[columns[size_t(x)]] & 0x00FFFFFF;
                last[x] = shown[x];
            } else {
                last[x] = kNotPicture; // the program painted here
            }
        }
    }
    keepWhatWasPaintedMeanwhile(dc, visible, read, screen, drawn_.data(), width_);
    writePictureOnly(dc, visible, screen, drawn_.data(), width_);
}

} // namespace korvane::testbed
