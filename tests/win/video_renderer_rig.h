#pragma once

// Test rig for the video renderer stand-in: the renderer set up exactly in the program's
// order, a source of RGB32 pictures of known content, a window whose pixels can be read
// back, and the program's video branch from the demultiplexer through a decoder.

#include "dshow_test_filters.h"
#include "testbed_support.h"

#include <bdaiface.h>
#include <dvdmedia.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace korvane::testing {

inline constexpr CLSID kClsidVmr7 = {
    0xb87beb7b, 0x8d29, 0x423f, {0xae, 0x4d, 0x65, 0x82, 0xc1, 0x01, 0x75, 0xac}};
inline constexpr CLSID kClsidAllocPresenter = {
    0x99d54f63, 0x1a69, 0x41ae, {0xaa, 0x4d, 0xc9, 0x76, 0xeb, 0x3f, 0x07, 0x13}};

// What the program gives the renderer.
inline constexpr DWORD_PTR kProgramUserId = 0x118218;
inline constexpr DWORD kProgramRenderingPrefs = 10;
inline constexpr DWORD kProgramMixingPrefs = 0x1011;
inline constexpr COLORREF kProgramColourKey = 0x00010000;

// The program's video branch steps, in order; `None` when every step succeeded.
enum class RendererStep {
    None,
    Create,
    FilterConfig,
    AllocatorNotify,
    PresenterPrefs,
    DeinterlaceCount,
    DeinterlaceGuid,
    SetDeinterlaceMode,
    WindowlessControl,
    AspectRatioControl,
};

struct RendererSetup {
    ComPtr<IBaseFilter> vmr;
    // Kept by the program for its whole run.
    ComPtr<IVMRSurfaceAllocatorNotify> notify;
    ComPtr<IVMRSurfaceAllocator> presenter;
    ComPtr<IVMRWindowlessControl> windowless;
    RendererStep failed = RendererStep::None;
    bool deinterlaceControlMissing = false; // the one failure the program goes on after
    DWORD deinterlaceModes = 0;
    GUID deinterlaceMode = GUID_NULL;
};

// Adds the renderer to the graph as "Mon VMR" and sets it up as the program does, with or
// without the renderer's deinterlacing; stops at the first step the program fails on.
RendererSetup setUpRendererLikeTheProgram(IFilterGraph2* graph, HWND window, bool deinterlace);

// A RGB32 picture of 4 x 2 blocks of the given colours (0x00RRGGBB, row by row from the
// top), bottom-up as the decoders deliver it.
struct TestPicture {
    LONG width = 0;
    LONG height = 0;
    std::vector<uint32_t> colours; // 8 blocks
    std::vector<uint8_t> pixels;

    uint32_t colourAt(LONG x, LONG y) const; // y from the top
};
TestPicture blockPicture(LONG width, LONG height, std::vector<uint32_t> colours);

// RGB32 with a VIDEOINFOHEADER2 (aspect X:Y), or with a VIDEOINFOHEADER when X and Y are 0.
CMediaType rgb32Type(LONG width, LONG height, DWORD aspectX, DWORD aspectY);

// A borderless, always-on-top window painted with the program's colour key, whose client
// pixels can be read back.
class KeyWindow {
  public:
    KeyWindow(int x, int y, int width, int height);
    ~KeyWindow();
    HWND handle() const { return window_; }
    // The client area's pixels as 0x00RRGGBB, row by row from the top.
    std::vector<uint32_t> grab() const;
    int width() const { return width_; }
    int height() const { return height_; }

  private:
    HWND window_ = nullptr;
    int width_;
    int height_;
};

// Handles the calling thread's window messages for about `ms` milliseconds.
void pumpMessages(DWORD ms);

// Writes 0x00RRGGBB pixels (rows from the top) as a PNG file through WIC.
bool savePng(const std::wstring& path, const std::vector<uint32_t>& pixels, int width, int height);

// Where the program's letter-box mode puts a picture of aspect X:Y inside `destination`.
RECT expectedLetterBox(const RECT& destination, DWORD aspectX, DWORD aspectY);

// Checks that the window shows `picture` scaled into `target` (at the centre of each block)
// and the colour key at points just outside it and in the window's corners.
void expectWindowShows(const std::vector<uint32_t>& pixels, int windowWidth, int windowHeight,
                       const TestPicture& picture, const RECT& target);

// The program's video branch below the renderer: the demultiplexer output "video" with the
// program's MPEG-2 type, the decoder of class `decoder` added as "Codec vidéo", connected to
// the output directly and to the renderer. Returns the output's PID map, or empty with
// *failure set to the failing call.
ComPtr<IMPEG2PIDMap> connectVideoBranch(IFilterGraph2* graph, IMpeg2Demultiplexer* demux,
                                        const CLSID& decoder, IBaseFilter* vmr, HRESULT* failure);

} // namespace korvane::testing
