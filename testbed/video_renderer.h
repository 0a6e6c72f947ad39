#pragma once

// Stand-in for the platform's first-generation Video Mixing Renderer (CLSID_VideoMixingRenderer)
// as a program drives it in renderless mode with the default allocator-presenter: it takes
// RGB32 pictures, keeps the latest, and draws each with GDI into the clipping window at the
// destination rectangle, letter-boxed to the picture's aspect ratio, when the graph clock
// reaches its time. Only the picture's own rectangle is drawn (and the bars of the
// destination rectangle unless the presenter is told not to draw the border): the rest of
// the window belongs to the program, which paints it with its colour key. With overlays and
// a key the program paints itself, the picture shows only where the key is, as an overlay's
// does, so that the program's texts over the picture stay visible.

#include "dshow/com_ptr.h"
#include "dshow/renderer.h"
#include "overlay_emulation.h"
#include "statistics_page.h"
#include "video_picture.h"
#include "vmr_link.h"

#include "dshow/platform.h"

namespace korvane::testbed {

inline constexpr CLSID kClsidVideoMixingRenderer = {
    0xb87beb7b, 0x8d29, 0x423f, {0xae, 0x4d, 0x65, 0x82, 0xc1, 0x01, 0x75, 0xac}};

// The one deinterlacing mode the stand-in reports: bob (the platform's "bob device").
inline constexpr GUID kDeinterlaceBob = {
    0x335aa36e, 0x7884, 0x43a4, {0x9c, 0x91, 0x7f, 0x87, 0xfa, 0xf3, 0xe3, 0x7e}};

// Presentation figures, as IQualProp reports them.
struct RenderStatistics {
    int drawn = 0;
    long long firstTick = 0; // performance-counter ticks of the first and last picture
    long long lastTick = 0;
    double intervalSum = 0; // between pictures, milliseconds
    double intervalSquares = 0;
    double offsetSum = 0; // drawing time minus the picture's time, milliseconds
    double offsetSquares = 0;
    int offsets = 0;

    void picture(long long tick, bool timed, double offsetMs);
    int framesDrawn() const { return drawn; }
    int averageFrameRate() const; // pictures per 100 seconds
    int jitter() const;           // standard deviation of the intervals, milliseconds
    int averageOffset() const;
    int offsetDeviation() const;
};

class VideoRenderer;

// The renderer's second input in mixing mode, "VMR Input1": the H.264 decoder's pictures.
class MixerInputPin : public CBaseInputPin {
  public:
    MixerInputPin(VideoRenderer* renderer, CCritSec* lock, HRESULT* phr);

    HRESULT CheckMediaType(const CMediaType* pmt) override;
    HRESULT SetMediaType(const CMediaType* pmt) override;
    HRESULT CompleteConnect(IPin* receivePin) override;
    HRESULT BreakConnect() override;
    HRESULT Active() override;
    HRESULT Inactive() override;
    HRESULT STDMETHODCALLTYPE BeginFlush() override;
    HRESULT STDMETHODCALLTYPE EndFlush() override;
    HRESULT STDMETHODCALLTYPE EndOfStream() override;
    HRESULT STDMETHODCALLTYPE Receive(IMediaSample* sample) override;

  private:
    VideoRenderer* renderer_;
    CAMEvent abort_{true}; // set while a waiting picture must give up
};

// In mixing mode with two streams (SetNumberOfStreams(2)) it has a second input pin and
// mixes as the platform's mixer does: each stream has its alpha and Z order, only streams
// with an alpha above 0 are drawn, the front one (smallest Z order) over the one behind.
class VideoRenderer : public CBaseRenderer,
                      public IVMRFilterConfig,
                      public IVMRSurfaceAllocatorNotify,
                      public IVMRMixerControl,
                      public IVMRDeinterlaceControl,
                      public IVMRWindowlessControl,
                      public IVMRAspectRatioControl,
                      public ISpecifyPropertyPages,
                      public IQualProp,
                      public IStatisticsSource,
                      public IRendererLink {
  public:
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* phr);
    ~VideoRenderer() override;

    DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    const wchar_t* InputPinName() const override { return L"VMR Input0"; }
    int GetPinCount() override;
    CBasePin* GetPin(int index) override;
    HRESULT STDMETHODCALLTYPE Stop() override;
    HRESULT STDMETHODCALLTYPE Pause() override;

    // CBaseRenderer
    HRESULT CheckMediaType(const CMediaType* pmt) override;
    HRESULT SetMediaType(const CMediaType* pmt) override;
    HRESULT CompleteConnect(IPin* peer) override;
    HRESULT BreakConnect() override;
    HRESULT Receive(IMediaSample* sample) override;
    HRESULT DoRenderSample(IMediaSample* sample) override;

    // IVMRFilterConfig
    HRESULT STDMETHODCALLTYPE SetImageCompositor(IVMRImageCompositor* compositor) override;
    HRESULT STDMETHODCALLTYPE SetNumberOfStreams(DWORD streams) override;
    HRESULT STDMETHODCALLTYPE GetNumberOfStreams(DWORD* streams) override;
    HRESULT STDMETHODCALLTYPE SetRenderingPrefs(DWORD prefs) override;
    HRESULT STDMETHODCALLTYPE GetRenderingPrefs(DWORD* prefs) override;
    HRESULT STDMETHODCALLTYPE SetRenderingMode(DWORD mode) override;
    HRESULT STDMETHODCALLTYPE GetRenderingMode(DWORD* mode) override;

    // IVMRSurfaceAllocatorNotify
    HRESULT STDMETHODCALLTYPE AdviseSurfaceAllocator(DWORD_PTR userId,
                                                     IVMRSurfaceAllocator* allocator) override;
    HRESULT STDMETHODCALLTYPE SetDDrawDevice(LPDIRECTDRAW7 device, HMONITOR monitor) override;
    HRESULT STDMETHODCALLTYPE ChangeDDrawDevice(LPDIRECTDRAW7 device, HMONITOR monitor) override;
    HRESULT STDMETHODCALLTYPE RestoreDDrawSurfaces() override;
    HRESULT STDMETHODCALLTYPE NotifyEvent(LONG code, LONG_PTR param1, LONG_PTR param2) override;
    // Also IVMRWindowlessControl's: one border colour.
    HRESULT STDMETHODCALLTYPE SetBorderColor(COLORREF colour) override;

    // IVMRMixerControl
    HRESULT STDMETHODCALLTYPE SetAlpha(DWORD stream, float alpha) override;
    HRESULT STDMETHODCALLTYPE GetAlpha(DWORD stream, float* alpha) override;
    HRESULT STDMETHODCALLTYPE SetZOrder(DWORD stream, DWORD z) override;
    HRESULT STDMETHODCALLTYPE GetZOrder(DWORD stream, DWORD* z) override;
    HRESULT STDMETHODCALLTYPE SetOutputRect(DWORD stream, const NORMALIZEDRECT* rect) override;
    HRESULT STDMETHODCALLTYPE GetOutputRect(DWORD stream, NORMALIZEDRECT* rect) override;
    HRESULT STDMETHODCALLTYPE SetBackgroundClr(COLORREF colour) override;
    HRESULT STDMETHODCALLTYPE GetBackgroundClr(COLORREF* colour) override;
    HRESULT STDMETHODCALLTYPE SetMixingPrefs(DWORD prefs) override;
    HRESULT STDMETHODCALLTYPE GetMixingPrefs(DWORD* prefs) override;

    // IVMRDeinterlaceControl
    HRESULT STDMETHODCALLTYPE GetNumberOfDeinterlaceModes(VMRVideoDesc* description, DWORD* count,
                                                          GUID* modes) override;
    HRESULT STDMETHODCALLTYPE GetDeinterlaceModeCaps(GUID* mode, VMRVideoDesc* description,
                                                     VMRDeinterlaceCaps* caps) override;
    HRESULT STDMETHODCALLTYPE GetDeinterlaceMode(DWORD stream, GUID* mode) override;
    HRESULT STDMETHODCALLTYPE SetDeinterlaceMode(DWORD stream, GUID* mode) override;
    HRESULT STDMETHODCALLTYPE GetDeinterlacePrefs(DWORD* prefs) override;
    HRESULT STDMETHODCALLTYPE SetDeinterlacePrefs(DWORD prefs) override;
    HRESULT STDMETHODCALLTYPE GetActualDeinterlaceMode(DWORD stream, GUID* mode) override;

    // IVMRWindowlessControl (the aspect-ratio pair is also IVMRAspectRatioControl's)
    HRESULT STDMETHODCALLTYPE GetNativeVideoSize(LONG* width, LONG* height, LONG* aspectX,
                                                 LONG* aspectY) override;
    HRESULT STDMETHODCALLTYPE GetMinIdealVideoSize(LONG* width, LONG* height) override;
    HRESULT STDMETHODCALLTYPE GetMaxIdealVideoSize(LONG* width, LONG* height) override;
    HRESULT STDMETHODCALLTYPE SetVideoPosition(const LPRECT source,
                                               const LPRECT destination) override;
    HRESULT STDMETHODCALLTYPE GetVideoPosition(LPRECT source, LPRECT destination) override;
    HRESULT STDMETHODCALLTYPE GetAspectRatioMode(DWORD* mode) override;
    HRESULT STDMETHODCALLTYPE SetAspectRatioMode(DWORD mode) override;
    HRESULT STDMETHODCALLTYPE SetVideoClippingWindow(HWND window) override;
    HRESULT STDMETHODCALLTYPE RepaintVideo(HWND window, HDC dc) override;
    HRESULT STDMETHODCALLTYPE DisplayModeChanged() override;
    HRESULT STDMETHODCALLTYPE GetCurrentImage(BYTE** bitmap) override;
    HRESULT STDMETHODCALLTYPE GetBorderColor(COLORREF* colour) override;
    HRESULT STDMETHODCALLTYPE SetColorKey(COLORREF colour) override;
    HRESULT STDMETHODCALLTYPE GetColorKey(COLORREF* colour) override;

    // ISpecifyPropertyPages
    HRESULT STDMETHODCALLTYPE GetPages(CAUUID* pages) override;

    // IQualProp
    HRESULT STDMETHODCALLTYPE get_FramesDroppedInRenderer(int* frames) override;
    HRESULT STDMETHODCALLTYPE get_FramesDrawn(int* frames) override;
    HRESULT STDMETHODCALLTYPE get_AvgFrameRate(int* rate) override;
    HRESULT STDMETHODCALLTYPE get_Jitter(int* jitter) override;
    HRESULT STDMETHODCALLTYPE get_AvgSyncOffset(int* offset) override;
    HRESULT STDMETHODCALLTYPE get_DevSyncOffset(int* deviation) override;

    // IStatisticsSource
    HRESULT STDMETHODCALLTYPE GetStatistics(LPWSTR* title, LPWSTR* lines) override;

    // IRendererLink
    void STDMETHODCALLTYPE PresenterPrefsSet(DWORD prefs) override;

  private:
    friend class MixerInputPin;
    static constexpr DWORD kInputs = 2;
    // One input's format and latest picture.
    struct MixedStream {
        PictureFormat format;
        bool formatKnown = false;
        Picture picture;
        bool pictureShown = false; // since the last start
        DWORD lastPictureTick = 0;
    };

    struct Faults {
        bool noFilterConfig = false;
        bool noAllocatorNotify = false;
        bool noDeinterlaceControl = false;
        bool deinterlaceCountFails = false;
        bool deinterlaceGuidFails = false;
        bool setDeinterlaceModeFails = false;
        bool noWindowlessControl = false;
        bool noAspectRatioControl = false;
    };
    VideoRenderer(IUnknown* outer, const Faults& faults);

    bool inputConnected();
    HRESULT setStreamFormat(DWORD input, const CMediaType* pmt);
    void clearStream(DWORD input);
    HRESULT receiveMixed(IMediaSample* sample, CAMEvent& abort);
    // A sample's new media type becomes the connection's; the renderer's lock held.
    void adoptMediaType(DWORD input, IMediaSample* sample);
    // The calls below want control_ held.
    void present(DWORD input, IMediaSample* sample, bool poster);
    // Chooses what is drawn from the streams' alpha and Z order.
    void compose();
    void remix();
    const Picture& blankPicture();
    const Picture& blend(const Picture& front, float alpha, const Picture* behind);
    const Picture& shownPicture() const { return *shown_; }
    // Where the current picture goes, and which part of it.
    RECT pictureTarget(RECT* source) const;
    DWORD effectivePrefs() const;
    // Draws the current picture as it is, with the border unless told not to; returns where
    // the picture went (empty when nothing was drawn).
    RECT draw(HDC dc);
    void drawIntoWindow();
    void traceRenderSettings();
    RECT sourceRect() const;
    HRESULT checkStream(DWORD stream) const;
    HRESULT statistic(int* value, int (RenderStatistics::*read)() const);
    // A copy of one setting, taken under control_.
    template <class T> HRESULT readLocked(T* out, const T& setting) {
        if (!out)
            return E_POINTER;
        CAutoLock control(&control_);
        *out = setting;
        return S_OK;
    }
    // The same for a setting of the mixer's, of one stream.
    template <class T> HRESULT readMixerSetting(DWORD stream, T* out, const T& setting) {
        if (!out)
            return E_POINTER;
        CAutoLock control(&control_);
        HRESULT hr = checkStream(stream);
        if (SUCCEEDED(hr))
            *out = setting;
        return hr;
    }

    const Faults faults_;
    // Guards everything below; taken after the filter's and the renderer's locks, and never
    // held while calling into the presenter.
    CCritSec control_;

    DWORD mode_ = VMRMode_Windowed;
    bool modeSet_ = false;
    DWORD renderPrefs_ = 0;
    DWORD streams_ = 0; // 0 until SetNumberOfStreams loads the mixer
    DWORD mixingPrefs_ =
        MixerPref_NoDecimation | MixerPref_BiLinearFiltering | MixerPref_RenderTargetRGB;
    float alpha_[kInputs] = {1.0f, 1.0f};
    DWORD zOrder_[kInputs] = {0, 1}; // the order the pins were made
    NORMALIZEDRECT outputRect_[kInputs] = {{0.0f, 0.0f, 1.0f, 1.0f}, {0.0f, 0.0f, 1.0f, 1.0f}};
    COLORREF background_ = RGB(0, 0, 0);
    GUID deinterlaceMode_ = GUID_NULL;
    bool deinterlaceModeSet_ = false;
    DWORD deinterlacePrefs_ = DeinterlacePref_NextBest;

    ComPtr<IVMRSurfaceAllocator> presenter_;
    ComPtr<IPresenterLink> presenterLink_; // set when the presenter is the testbed's
    DWORD_PTR userId_ = 0;
    DWORD presenterPrefs_ = 0;
    bool presenterPrefsKnown_ = false;
    bool renderTraced_ = false;

    HWND window_ = nullptr;
    RECT source_{};
    bool sourceSet_ = false;
    RECT destination_{};
    RECT drawnTarget_{}; // where the last picture went in window_
    OverlayEmulation overlay_;
    DWORD aspectMode_ = VMR_ARMODE_NONE;
    COLORREF border_ = RGB(0, 0, 0);
    COLORREF colourKey_ = RGB(16, 0, 16);

    MixedStream in_[kInputs];
    MixerInputPin* mixerPin_ = nullptr; // made by SetNumberOfStreams(2), owned
    // What is drawn: an input's picture, the blend of two, or the background.
    const Picture* shown_ = &in_[0].picture;
    DWORD shownInput_ = 0; // whose format the windowless control reports
    Picture blended_;
    Picture blank_;
    COLORREF blankColour_ = RGB(0, 0, 0);
    LONG lastWidth_ = 0;
    LONG lastHeight_ = 0;
    RenderStatistics statistics_;
};

} // namespace korvane::testbed
