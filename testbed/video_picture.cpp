#include "video_picture.h"

#include <dvdmedia.h>

#include <cstring>
#include <numeric>

namespace korvane::testbed {

namespace {

// Larger pictures than any broadcast; keeps every size product far from overflowing.
constexpr LONG kMaxSide = 8192;

void reduce(DWORD x, DWORD y, DWORD* outX, DWORD* outY) {
    DWORD g = std::gcd(x, y);
    *outX = g ? x / g : 0;
    *outY = g ? y / g : 0;
}

} // namespace

bool parsePictureFormat(const AM_MEDIA_TYPE& type, PictureFormat* format) {
    if (type.majortype != MEDIATYPE_Video || type.subtype != MEDIASUBTYPE_RGB32 || !type.pbFormat)
        return false;
    const BITMAPINFOHEADER* bitmap = nullptr;
    RECT source{};
    DWORD aspectX = 0;
    DWORD aspectY = 0;
    if (type.formattype == FORMAT_VideoInfo2 && type.cbFormat >= sizeof(VIDEOINFOHEADER2)) {
        auto* info = reinterpret_cast<const VIDEOINFOHEADER2*>(type.pbFormat);
        bitmap = &info->bmiHeader;
        source = info->rcSource;
        aspectX = info->dwPictAspectRatioX;
        aspectY = info->dwPictAspectRatioY;
    } else if (type.formattype == FORMAT_VideoInfo && type.cbFormat >= sizeof(VIDEOINFOHEADER)) {
        auto* info = reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat);
        bitmap = &info->bmiHeader;
        source = info->rcSource;
    } else {
        return false;
    }
    if (bitmap->biBitCount != 32 || bitmap->biCompression != BI_RGB)
        return false;
    LONG width = bitmap->biWidth;
    LONG height = bitmap->biHeight < 0 ? -bitmap->biHeight : bitmap->biHeight;
    if (width <= 0 || width > kMaxSide || height <= 0 || height > kMaxSide)
        return false;
    // An empty source rectangle stands for the whole bitmap.
    if (source.left == 0 && source.top == 0 && source.right == 0 && source.bottom == 0)
        source = RECT{0, 0, width, height};
    if (source.left < 0 || source.top < 0 || source.right > width || source.bottom > height ||
        source.left >= source.right || source.top >= source.bottom)
        return false;

    PictureFormat f;
    f.width = source.right - source.left;
    f.height = source.bottom - source.top;
    f.left = source.left;
    f.top = source.top;
    f.bitmapWidth = width;
    f.bitmapHeight = height;
    f.bottomUp = bitmap->biHeight > 0;
    if (aspectX && aspectY)
        reduce(aspectX, aspectY, &f.aspectX, &f.aspectY);
    else
        reduce(DWORD(f.width), DWORD(f.height), &f.aspectX, &f.aspectY);
    f.sampleBytes = size_t(width) * 4 * size_t(height);
    *format = f;
    return true;
}

BITMAPINFOHEADER Picture::header() const {
    BITMAPINFOHEADER h{};
    h.biSize = sizeof(h);
    h.biWidth = width;
    h.biHeight = height;
    h.biPlanes = 1;
    h.biBitCount = 32;
    h.biCompression = BI_RGB;
    h.biSizeImage = DWORD(pixels.size());
    return h;
}

bool copyPicture(const PictureFormat& format, const BYTE* data, long length, Picture* picture) {
    if (!data || length < 0 || size_t(length) < format.sampleBytes)
        return false;
    size_t stride = size_t(format.bitmapWidth) * 4;
    size_t rowBytes = size_t(format.width) * 4;
    picture->width = format.width;
    picture->height = format.height;
    picture->aspectX = format.aspectX;
    picture->aspectY = format.aspectY;
    picture->pixels.resize(rowBytes * size_t(format.height));
    for (LONG row = 0; row < format.height; ++row) {
        // Output rows go bottom-up; `fromTop` counts the bitmap's rows from its top.
        LONG fromTop = format.top + (format.height - 1 - row);
        LONG memoryRow = format.bottomUp ? format.bitmapHeight - 1 - fromTop : fromTop;
        std::memcpy(picture->pixels.data() + size_t(row) * rowBytes,
                    data + size_t(memoryRow) * stride + size_t(format.left) * 4, rowBytes);
    }
    return true;
}

BYTE* packedBitmap(const Picture& picture) {
    BITMAPINFOHEADER header = picture.header();
    auto* block = static_cast<BYTE*>(CoTaskMemAlloc(sizeof(header) + picture.pixels.size()));
    if (!block)
        return nullptr;
    std::memcpy(block, &header, sizeof(header));
    if (!picture.pixels.empty())
        std::memcpy(block + sizeof(header), picture.pixels.data(), picture.pixels.size());
    return block;
}

RECT letterBox(const RECT& destination, DWORD aspectX, DWORD aspectY) {
    RECT r = destination;
    if (!aspectX || !aspectY)
        return r;
    long long w = (long long)r.right - r.left;
    long long h = (long long)r.bottom - r.top;
    long long x = aspectX;
    long long y = aspectY;
    if (x * h > y * w) {
        long long margin = (h - w * y / x) / 2;
        r.top = LONG(r.top + margin);
        r.bottom = LONG(r.bottom - margin);
    } else if (x * h < y * w) {
        long long margin = (w - h * x / y) / 2;
        r.left = LONG(r.left + margin);
        r.right = LONG(r.right - margin);
    }
    return r;
}

} // namespace korvane::testbed
