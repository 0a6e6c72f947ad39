#include "overlay_emulation.h"

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
    BitBlt(dc, visible.left, visible.top, w, h, screen.dc(), 0, 0, SRCCOPY);
}

} // namespace korvane::testbed
