#include "video_renderer.h"

#include "dshow/sample_bytes.h"
#include "testbed_settings.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <new>
#include <numeric>
#include <string>

namespace korvane::testbed {

namespace {

constexpr DWORD kMaxStreams = 16;    // the platform's limit
constexpr DWORD kPictureGapMs = 500; // a longer pause without pictures is traced again

bool validRenderingMode(DWORD mode) {
    return mode == VMRMode_Windowed || mode == VMRMode_Windowless || mode == VMRMode_Renderless;
}

bool validFilterRenderingPrefs(DWORD prefs) {
    return !(prefs & ~DWORD(RenderPrefs_Mask)) && !(prefs & RenderPrefs_Reserved);
}

bool oneOf(DWORD value, std::initializer_list<DWORD> allowed) {
    for (DWORD a : allowed) {
        if (value == a)
            return true;
    }
    return false;
}

// One decimation choice, one filter, one render target, and known dynamic flags only.
bool validMixingPrefs(DWORD prefs) {
    DWORD known = MixerPref_DecimateMask | MixerPref_FilteringMask | MixerPref_RenderTargetMask |
                  MixerPref_DynamicSwitchToBOB | MixerPref_DynamicDecimateBy2;
    if (prefs & ~known)
        return false;
    return oneOf(prefs & MixerPref_DecimateMask,
                 {MixerPref_NoDecimation, MixerPref_DecimateOutput, MixerPref_ARAdjustXorY}) &&
           oneOf(prefs & MixerPref_FilteringMask,
                 {MixerPref_BiLinearFiltering, MixerPref_PointFiltering}) &&
           oneOf(prefs & MixerPref_RenderTargetMask,
                 {MixerPref_RenderTargetRGB, MixerPref_RenderTargetYUV,
                  MixerPref_RenderTargetYUV420, MixerPref_RenderTargetYUV422,
                  MixerPref_RenderTargetYUV444});
}

bool validDescription(const VMRVideoDesc* description) {
    return description->dwSize == sizeof(VMRVideoDesc) && description->dwSampleWidth > 0 &&
           description->dwSampleHeight > 0;
}

long long performanceTicks() {
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

double performanceTicksToMs(long long ticks) {
    LARGE_INTEGER frequency{};
    QueryPerformanceFrequency(&frequency);
    return frequency.QuadPart ? double(ticks) * 1000.0 / double(frequency.QuadPart) : 0.0;
}

double deviation(double sum, double squares, int count) {
    if (count < 2)
        return 0;
    double mean = sum / count;
    double variance = squares / count - mean * mean;
    return variance > 0 ? std::sqrt(variance) : 0;
}

std::wstring formatText(const wchar_t* format, ...) {
    wchar_t text[128] = {};
    va_list args;
    va_start(args, format);
    std::vswprintf(text, 128, format, args);
    va_end(args);
    return text;
}

// The aspect ratio of part of a picture whose whole has X:Y over width x height.
void croppedAspect(const Picture& picture, const RECT& source, DWORD* x, DWORD* y) {
    long long cx = (long long)picture.aspectX * (source.right - source.left) * picture.height;
    long long cy = (long long)picture.aspectY * (source.bottom - source.top) * picture.width;
    long long g = std::gcd(cx, cy);
    if (g == 0) {
        *x = *y = 0;
        return;
    }
    cx /= g;
    cy /= g;
    while (cx > 0xFFFF || cy > 0xFFFF) {
        cx = (cx + 1) / 2;
        cy = (cy + 1) / 2;
    }
    *x = DWORD(cx);
    *y = DWORD(cy);
}

void fillBars(HDC dc, const RECT& outer, const RECT& inner, COLORREF colour) {
    HBRUSH brush = CreateSolidBrush(colour);
    if (!brush)
        return;
    RECT bars[4] = {{outer.left, outer.top, outer.right, inner.top},
                    {outer.left, inner.bottom, outer.right, outer.bottom},
                    {outer.left, inner.top, inner.left, inner.bottom},
                    {inner.right, inner.top, outer.right, inner.bottom}};
    for (const RECT& bar : bars) {
        if (bar.left < bar.right && bar.top < bar.bottom)
            FillRect(dc, &bar, brush);
    }
    DeleteObject(brush);
}

} // namespace

void RenderStatistics::picture(long long tick, bool timed, double offsetMs) {
    if (drawn > 0) {
        double interval = performanceTicksToMs(tick - lastTick);
        intervalSum += interval;
        intervalSquares += interval * interval;
    } else {
        firstTick = tick;
    }
    lastTick = tick;
    ++drawn;
    if (timed) {
        offsetSum += offsetMs;
        offsetSquares += offsetMs * offsetMs;
        ++offsets;
    }
}

int RenderStatistics::averageFrameRate() const {
    double elapsed = performanceTicksToMs(lastTick - firstTick);
    return drawn > 1 && elapsed > 0 ? int((drawn - 1) * 100000.0 / elapsed) : 0;
}

int RenderStatistics::jitter() const {
    return int(deviation(intervalSum, intervalSquares, drawn - 1));
}

int RenderStatistics::averageOffset() const {
    return offsets ? int(offsetSum / offsets) : 0;
}

int RenderStatistics::offsetDeviation() const {
    return int(deviation(offsetSum, offsetSquares, offsets));
}

CUnknown* VideoRenderer::CreateInstance(IUnknown* outer, HRESULT* phr) {
    if (faultActive(Fault::RendererNotCreatable)) {
        *phr = E_FAIL;
        return nullptr;
    }
    Faults faults;
    faults.noFilterConfig = faultActive(Fault::RendererNoFilterConfig);
    faults.noAllocatorNotify = faultActive(Fault::RendererNoAllocatorNotify);
    faults.noDeinterlaceControl = faultActive(Fault::RendererNoDeinterlaceControl);
    faults.deinterlaceCountFails = faultActive(Fault::DeinterlaceCountFails);
    faults.deinterlaceGuidFails = faultActive(Fault::DeinterlaceGuidFails);
    faults.setDeinterlaceModeFails = faultActive(Fault::SetDeinterlaceModeFails);
    faults.noWindowlessControl = faultActive(Fault::RendererNoWindowlessControl);
    faults.noAspectRatioControl = faultActive(Fault::RendererNoAspectRatioControl);
    return new (std::nothrow) VideoRenderer(outer, faults);
}

VideoRenderer::VideoRenderer(IUnknown* outer, const Faults& faults)
    : CBaseRenderer(kClsidVideoMixingRenderer, L"Video Mixing Renderer de test", outer, nullptr),
      faults_(faults) {}

VideoRenderer::~VideoRenderer() {
    if (presenterLink_)
        presenterLink_->DetachRenderer(this);
    delete mixerPin_;
}

// The filter's lock comes before control_ everywhere (Receive takes them in that order): the
// base count, which takes the filter's lock, is asked before control_ is held.
int VideoRenderer::GetPinCount() {
    const int basePins = CBaseRenderer::GetPinCount();
    CAutoLock control(&control_);
    return basePins + (mixerPin_ ? 1 : 0);
}

CBasePin* VideoRenderer::GetPin(int index) {
    if (index == 1) {
        CAutoLock control(&control_);
        return mixerPin_;
    }
    return CBaseRenderer::GetPin(index);
}

MixerInputPin::MixerInputPin(VideoRenderer* renderer, CCritSec* lock, HRESULT* phr)
    : CBaseInputPin(L"Entrée de mélange", renderer, lock, phr, L"VMR Input1"), renderer_(renderer) {
}

HRESULT MixerInputPin::CheckMediaType(const CMediaType* pmt) {
    return renderer_->CheckMediaType(pmt);
}

HRESULT MixerInputPin::SetMediaType(const CMediaType* pmt) {
    HRESULT hr = CBaseInputPin::SetMediaType(pmt);
    return SUCCEEDED(hr) ? renderer_->setStreamFormat(1, pmt) : hr;
}

HRESULT MixerInputPin::CompleteConnect(IPin* receivePin) {
    HRESULT hr = CBaseInputPin::CompleteConnect(receivePin);
    return SUCCEEDED(hr) ? renderer_->CompleteConnect(receivePin) : hr;
}

HRESULT MixerInputPin::BreakConnect() {
    renderer_->clearStream(1);
    return CBaseInputPin::BreakConnect();
}

HRESULT MixerInputPin::Active() {
    abort_.Reset();
    return CBaseInputPin::Active();
}

HRESULT MixerInputPin::Inactive() {
    abort_.Set();
    return CBaseInputPin::Inactive();
}

HRESULT STDMETHODCALLTYPE MixerInputPin::BeginFlush() {
    abort_.Set();
    return CBaseInputPin::BeginFlush();
}

HRESULT STDMETHODCALLTYPE MixerInputPin::EndFlush() {
    abort_.Reset();
    return CBaseInputPin::EndFlush();
}

// The stream never ends the filter's playback: the first stream's end does.
HRESULT STDMETHODCALLTYPE MixerInputPin::EndOfStream() {
    return CheckStreaming() == S_OK ? S_OK : VFW_E_WRONG_STATE;
}

HRESULT STDMETHODCALLTYPE MixerInputPin::Receive(IMediaSample* sample) {
    HRESULT hr = CBaseInputPin::Receive(sample);
    if (hr != S_OK)
        return hr;
    return renderer_->receiveMixed(sample, abort_);
}

HRESULT STDMETHODCALLTYPE VideoRenderer::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (riid == IID_IVMRFilterConfig && !faults_.noFilterConfig)
        return GetInterface(static_cast<IVMRFilterConfig*>(this), ppv);
    if (riid == IID_IVMRSurfaceAllocatorNotify && !faults_.noAllocatorNotify)
        return GetInterface(static_cast<IVMRSurfaceAllocatorNotify*>(this), ppv);
    if (riid == IID_IVMRMixerControl)
        return GetInterface(static_cast<IVMRMixerControl*>(this), ppv);
    if (riid == IID_IVMRDeinterlaceControl && !faults_.noDeinterlaceControl)
        return GetInterface(static_cast<IVMRDeinterlaceControl*>(this), ppv);
    if (riid == IID_IVMRWindowlessControl && !faults_.noWindowlessControl)
        return GetInterface(static_cast<IVMRWindowlessControl*>(this), ppv);
    if (riid == IID_IVMRAspectRatioControl && !faults_.noAspectRatioControl)
        return GetInterface(static_cast<IVMRAspectRatioControl*>(this), ppv);
    if (riid == IID_ISpecifyPropertyPages)
        return GetInterface(static_cast<ISpecifyPropertyPages*>(this), ppv);
    if (riid == IID_IQualProp)
        return GetInterface(static_cast<IQualProp*>(this), ppv);
    if (riid == kIidStatisticsSource)
        return GetInterface(static_cast<IStatisticsSource*>(this), ppv);
    if (riid == kIidRendererLink)
        return GetInterface(static_cast<IRendererLink*>(this), ppv);
    return CBaseRenderer::NonDelegatingQueryInterface(riid, ppv);
}

bool VideoRenderer::inputConnected() {
    CAutoLock lock(&m_InterfaceLock);
    return m_pInputPin && m_pInputPin->IsConnected();
}

HRESULT STDMETHODCALLTYPE VideoRenderer::Stop() {
    CAutoLock lock(&m_InterfaceLock);
    {
        CAutoLock control(&control_);
        for (MixedStream& input : in_)
            input.pictureShown = false;
    }
    return CBaseRenderer::Stop();
}

HRESULT STDMETHODCALLTYPE VideoRenderer::Pause() {
    CAutoLock lock(&m_InterfaceLock);
    if (m_State == State_Stopped) {
        CAutoLock control(&control_);
        statistics_ = RenderStatistics{};
    }
    return CBaseRenderer::Pause();
}

HRESULT VideoRenderer::CheckMediaType(const CMediaType* pmt) {
    PictureFormat format;
    return pmt && parsePictureFormat(*pmt, &format) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

// On connection, and when a sample brings a new format.
HRESULT VideoRenderer::SetMediaType(const CMediaType* pmt) {
    return setStreamFormat(0, pmt);
}

HRESULT VideoRenderer::setStreamFormat(DWORD input, const CMediaType* pmt) {
    PictureFormat format;
    if (!pmt || !parsePictureFormat(*pmt, &format))
        return VFW_E_TYPE_NOT_ACCEPTED;
    CAutoLock control(&control_);
    in_[input].format = format;
    in_[input].formatKnown = true;
    return S_OK;
}

HRESULT VideoRenderer::CompleteConnect(IPin*) {
    CAutoLock control(&control_);
    // Renderless mode draws through the presenter the program supplies.
    if (mode_ == VMRMode_Renderless && !presenter_)
        return VFW_E_VMR_NO_AP_SUPPLIED;
    return S_OK;
}

HRESULT VideoRenderer::BreakConnect() {
    clearStream(0);
    return S_OK;
}

void VideoRenderer::clearStream(DWORD input) {
    CAutoLock control(&control_);
    in_[input] = MixedStream{};
    compose();
}

// The first picture that arrives while paused is shown at once, as the platform's renderers
// show their first picture; it is shown again when its time comes after Run.
HRESULT VideoRenderer::Receive(IMediaSample* sample) {
    {
        CAutoLock lock(&m_InterfaceLock);
        bool poster = false;
        {
            CAutoLock control(&control_);
            poster = m_State == State_Paused && !in_[0].pictureShown;
        }
        if (poster) {
            CAutoLock sampleLock(&m_RendererLock);
            adoptMediaType(0, sample);
            CAutoLock control(&control_);
            present(0, sample, true);
        }
    }
    return CBaseRenderer::Receive(sample);
}

// Called with the filter's and the renderer's locks held.
HRESULT VideoRenderer::DoRenderSample(IMediaSample* sample) {
    adoptMediaType(0, sample);
    CAutoLock control(&control_);
    present(0, sample, false);
    return S_OK;
}

// The second stream's pictures, on its decoder's thread with the filter's lock not held: each
// is drawn when the graph clock reaches its time (at once without a clock or a time), and a
// picture that comes while paused is shown as the first one is.
HRESULT VideoRenderer::receiveMixed(IMediaSample* sample, CAMEvent& abort) {
    REFERENCE_TIME start = 0;
    REFERENCE_TIME end = 0;
    const bool timed = SUCCEEDED(sample->GetTime(&start, &end));
    for (;;) {
        FILTER_STATE state = State_Stopped;
        REFERENCE_TIME now = 0;
        bool clocked = false;
        {
            CAutoLock lock(&m_InterfaceLock);
            state = m_State;
            clocked = m_pClock && SUCCEEDED(StreamTime(now));
        }
        if (state == State_Stopped)
            return VFW_E_WRONG_STATE;
        if (state == State_Running && (!timed || !clocked || now >= start))
            break;
        if (state == State_Paused) {
            CAutoLock lock(&m_InterfaceLock);
            bool poster = false;
            {
                CAutoLock control(&control_);
                poster = !in_[1].pictureShown;
            }
            if (poster) {
                adoptMediaType(1, sample);
                CAutoLock control(&control_);
                present(1, sample, true);
            }
        }
        const DWORD waitMs = state == State_Running
                                 ? DWORD(std::min<REFERENCE_TIME>((start - now) / 10000 + 1, 100))
                                 : 20;
        if (abort.Wait(waitMs))
            return S_FALSE;
    }
    CAutoLock lock(&m_InterfaceLock);
    adoptMediaType(1, sample);
    CAutoLock control(&control_);
    present(1, sample, false);
    return S_OK;
}

void VideoRenderer::adoptMediaType(DWORD input, IMediaSample* sample) {
    AM_MEDIA_TYPE* changed = nullptr;
    if (sample->GetMediaType(&changed) != S_OK || !changed)
        return;
    CMediaType type(*changed);
    DeleteMediaType(changed);
    LONG oldWidth = 0;
    LONG oldHeight = 0;
    {
        CAutoLock control(&control_);
        oldWidth = in_[input].format.width;
        oldHeight = in_[input].format.height;
    }
    // What IPin::ConnectionMediaType answers from now on.
    CBasePin* pin = input == 0 ? static_cast<CBasePin*>(m_pInputPin) : mixerPin_;
    if (!pin || FAILED(pin->SetMediaType(&type)))
        return;
    CAutoLock control(&control_);
    const PictureFormat& format = in_[input].format;
    if (format.width != oldWidth || format.height != oldHeight)
        CBaseFilter::NotifyEvent(EC_VIDEO_SIZE_CHANGED, MAKELPARAM(format.width, format.height), 0);
}

void VideoRenderer::present(DWORD input, IMediaSample* sample, bool poster) {
    MixedStream& stream = in_[input];
    std::span<const uint8_t> bytes = sampleBytes(sample);
    if (!stream.formatKnown || bytes.empty() ||
        !copyPicture(stream.format, bytes.data(), long(bytes.size()), &stream.picture))
        return;
    // A hidden stream keeps its picture without drawing it.
    const Picture* before = shown_;
    compose();
    const bool visible = shown_ == &stream.picture || shown_ == &blended_ || shown_ != before;
    if (visible)
        drawIntoWindow();

    // The picture shown while paused is counted when it is drawn in its time.
    if (!poster && visible) {
        REFERENCE_TIME start = 0;
        REFERENCE_TIME end = 0;
        REFERENCE_TIME now = 0;
        bool timed = SUCCEEDED(sample->GetTime(&start, &end)) && SUCCEEDED(StreamTime(now));
        statistics_.picture(performanceTicks(), timed, timed ? double(now - start) / 10000.0 : 0.0);
    }

    DWORD tick = GetTickCount();
    if (!stream.pictureShown || tick - stream.lastPictureTick > kPictureGapMs)
        trace("picture %ldx%ld", stream.picture.width, stream.picture.height);
    // The decoders mark their first picture after a start, a flush or a stream mapped anew
    // (a zap on the same frequency leaves no gap in the pictures).
    if (sample->IsDiscontinuity() == S_OK)
        trace("restart %ldx%ld", stream.picture.width, stream.picture.height);
    stream.pictureShown = true;
    stream.lastPictureTick = tick;
}

// The streams that are drawn, front first: alpha above 0, ordered by Z order (a larger value
// is further away), then by input. Outside mixing mode the one input is drawn as it is.
void VideoRenderer::compose() {
    DWORD order[kInputs] = {0, 1};
    DWORD visible = 0;
    if (streams_ < 2) {
        shownInput_ = 0;
        shown_ = &in_[0].picture;
        return;
    }
    for (DWORD i = 0; i < kInputs; ++i)
        if (alpha_[i] > 0.0f)
            order[visible++] = i;
    if (visible == 2 && zOrder_[order[1]] < zOrder_[order[0]])
        std::swap(order[0], order[1]);
    if (visible == 0) {
        shown_ = &blankPicture();
    } else {
        const DWORD front = order[0];
        shownInput_ = front;
        const Picture& picture = in_[front].picture;
        if (picture.empty())
            // Until its first picture the stream shows the background, never what another
            // stream left.
            shown_ = &blankPicture();
        else if (alpha_[front] >= 1.0f)
            shown_ = &picture;
        else
            shown_ =
                &blend(picture, alpha_[front], visible == 2 ? &in_[order[1]].picture : nullptr);
    }
    if (!shown_->empty()) {
        lastWidth_ = shown_->width;
        lastHeight_ = shown_->height;
    }
}

// The background colour at the size of the last picture shown (nothing before the first).
const Picture& VideoRenderer::blankPicture() {
    if (lastWidth_ <= 0 || lastHeight_ <= 0) {
        blank_ = Picture{};
        return blank_;
    }
    if (blank_.width != lastWidth_ || blank_.height != lastHeight_ || blankColour_ != background_) {
        blank_.width = lastWidth_;
        blank_.height = lastHeight_;
        blank_.aspectX = DWORD(lastWidth_);
        blank_.aspectY = DWORD(lastHeight_);
        blank_.pixels.assign(size_t(lastWidth_) * size_t(lastHeight_) * 4, 0);
        for (size_t i = 0; i < blank_.pixels.size(); i += 4) {
            blank_.pixels[i] = GetBValue(background_);
            blank_.pixels[i + 1] = GetGValue(background_);
            blank_.pixels[i + 2] = GetRValue(background_);
        }
        blankColour_ = background_;
    }
    return blank_;
}

// The front picture at its alpha over the one behind it (of the same size), else over the
// background colour.
const Picture& VideoRenderer::blend(const Picture& front, float alpha, const Picture* behind) {
    blended_ = front;
    const bool under = behind && behind->width == front.width && behind->height == front.height &&
                       behind->pixels.size() == front.pixels.size();
    const uint8_t background[4] = {GetBValue(background_), GetGValue(background_),
                                   GetRValue(background_), 0};
    for (size_t i = 0; i < blended_.pixels.size(); ++i) {
        const float back = under ? behind->pixels[i] : background[i % 4];
        blended_.pixels[i] = uint8_t(front.pixels[i] * alpha + back * (1.0f - alpha) + 0.5f);
    }
    return blended_;
}

RECT VideoRenderer::sourceRect() const {
    RECT whole = {0, 0, shownPicture().width, shownPicture().height};
    if (!sourceSet_)
        return whole;
    RECT clipped{};
    return IntersectRect(&clipped, &source_, &whole) ? clipped : whole;
}

RECT VideoRenderer::pictureTarget(RECT* source) const {
    *source = sourceRect();
    DWORD aspectX = 0;
    DWORD aspectY = 0;
    croppedAspect(shownPicture(), *source, &aspectX, &aspectY);
    return aspectMode_ == VMR_ARMODE_LETTER_BOX ? letterBox(destination_, aspectX, aspectY)
                                                : destination_;
}

DWORD VideoRenderer::effectivePrefs() const {
    // Renderless mode presents through the presenter; windowless mode through the filter's
    // own presenter, configured on the filter.
    return presenterPrefsKnown_ ? presenterPrefs_ : renderPrefs_;
}

RECT VideoRenderer::draw(HDC dc) {
    if (shownPicture().empty() || IsRectEmpty(&destination_))
        return RECT{};
    RECT source{};
    RECT target = pictureTarget(&source);
    if (!(effectivePrefs() & RenderPrefs_DoNotRenderColorKeyAndBorder))
        fillBars(dc, destination_, target, border_);
    BITMAPINFO info{};
    info.bmiHeader = shownPicture().header();
    SetStretchBltMode(dc, COLORONCOLOR);
    // A bottom-up bitmap counts source rows from its bottom line.
    StretchDIBits(dc, target.left, target.top, target.right - target.left,
                  target.bottom - target.top, source.left, shownPicture().height - source.bottom,
                  source.right - source.left, source.bottom - source.top,
                  shownPicture().pixels.data(), &info, DIB_RGB_COLORS, SRCCOPY);
    return target;
}

void VideoRenderer::drawIntoWindow() {
    if (mode_ == VMRMode_Windowed || !window_ || shownPicture().empty() ||
        IsRectEmpty(&destination_))
        return;
    // Child windows (a status bar) keep their own pixels.
    HDC dc = GetDCEx(window_, nullptr, DCX_CACHE | DCX_CLIPCHILDREN | DCX_CLIPSIBLINGS);
    if (!dc)
        return;
    RECT target{};
    // An overlay whose colour key the program paints itself: the picture goes only where
    // the key is, under whatever else the program draws.
    DWORD prefs = effectivePrefs();
    if ((prefs & RenderPrefs_ForceOverlays) && (prefs & RenderPrefs_DoNotRenderColorKeyAndBorder)) {
        RECT source{};
        target = pictureTarget(&source);
        overlay_.draw(window_, dc, target, source, shownPicture(), colourKey_);
    } else {
        target = draw(dc);
    }
    ReleaseDC(window_, dc);
    // A smaller picture (another shape after a zap) hands the part it no longer covers back
    // to the window, which repaints it with its own background, as an overlay would uncover
    // the colour key the program painted there.
    if (!IsRectEmpty(&drawnTarget_) && !EqualRect(&drawnTarget_, &target)) {
        HRGN uncovered = CreateRectRgnIndirect(&drawnTarget_);
        HRGN covered = CreateRectRgnIndirect(&target);
        if (uncovered && covered &&
            CombineRgn(uncovered, uncovered, covered, RGN_DIFF) != NULLREGION)
            InvalidateRgn(window_, uncovered, TRUE);
        if (uncovered)
            DeleteObject(uncovered);
        if (covered)
            DeleteObject(covered);
    }
    drawnTarget_ = target;
}

void VideoRenderer::traceRenderSettings() {
    if (renderTraced_ || !modeSet_ || !presenterPrefsKnown_)
        return;
    renderTraced_ = true;
    trace("render %lu prefs %lx", static_cast<unsigned long>(mode_),
          static_cast<unsigned long>(presenterPrefs_));
}

HRESULT VideoRenderer::checkStream(DWORD stream) const {
    if (!streams_)
        return VFW_E_VMR_NOT_IN_MIXER_MODE;
    return stream < streams_ ? S_OK : E_INVALIDARG;
}

// IVMRFilterConfig

HRESULT STDMETHODCALLTYPE VideoRenderer::SetImageCompositor(IVMRImageCompositor*) {
    CAutoLock control(&control_);
    // The stand-in composes its one stream itself.
    return streams_ ? E_NOTIMPL : VFW_E_VMR_NOT_IN_MIXER_MODE;
}

HRESULT STDMETHODCALLTYPE VideoRenderer::SetNumberOfStreams(DWORD streams) {
    if (inputConnected())
        return VFW_E_WRONG_STATE;
    if (streams < 1 || streams > kMaxStreams)
        return E_INVALIDARG;
    // The stand-in mixes at most two streams (the MPEG-2 and the H.264 decoders').
    if (streams > kInputs)
        return E_NOTIMPL;
    CAutoLock lock(&m_InterfaceLock);
    CAutoLock control(&control_);
    if (streams_)
        return VFW_E_WRONG_STATE;
    if (streams > 1) {
        HRESULT hr = S_OK;
        mixerPin_ = new (std::nothrow) MixerInputPin(this, &m_InterfaceLock, &hr);
        if (!mixerPin_)
            return E_OUTOFMEMORY;
        if (FAILED(hr)) {
            delete mixerPin_;
            mixerPin_ = nullptr;
            return hr;
        }
    }
    streams_ = streams;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE VideoRenderer::GetNumberOfStreams(DWORD* streams) {
    if (!streams)
        return E_POINTER;
    CAutoLock control(&control_);
    *streams = streams_;
    return streams_ ? S_OK : VFW_E_VMR_NOT_IN_MIXER_MODE;
}

HRESULT STDMETHODCALLTYPE VideoRenderer::SetRenderingPrefs(DWORD prefs) {
    if (!validFilterRenderingPrefs(prefs))
        return E_INVALIDARG;
    CAutoLock control(&control_);
    renderPrefs_ = prefs;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE VideoRenderer::GetRenderingPrefs(DWORD* prefs) {
    return readLocked(prefs, renderPrefs_);
}

HRESULT STDMETHODCALLTYPE VideoRenderer::SetRenderingMode(DWORD mode) {
    if (!validRenderingMode(mode))
        return E_INVALIDARG;
    if (inputConnected())
        return VFW_E_WRONG_STATE;
    CAutoLock control(&control_);
    mode_ = mode;
    modeSet_ = true;
    traceRenderSettings();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE VideoRenderer::GetRenderingMode(DWORD* mode) {
    return readLocked(mode, mode_);
}

// IVMRSurfaceAllocatorNotify

HRESULT STDMETHODCALLTYPE VideoRenderer::AdviseSurfaceAllocator(DWORD_PTR userId,
                                                                IVMRSurfaceAllocator* allocator) {
    {
        CAutoLock control(&control_);
        if (mode_ != VMRMode_Renderless)
            return VFW_E_WRONG_STATE;
    }
    ComPtr<IVMRSurfaceAllocator> presenter(allocator);
    ComPtr<IPresenterLink> link;
    DWORD prefs = 0;
    bool prefsKnown = false;
    if (allocator && SUCCEEDED(allocator->QueryInterface(kIidPresenterLink, link.putVoid()))) {
        link->AttachRenderer(this);
        prefsKnown = link->GetPrefsIfSet(&prefs) == S_OK;
    }
    // The previous presenter goes after the lock is left, so that its release calls nothing
    // of ours under it.
    ComPtr<IVMRSurfaceAllocator> oldPresenter;
    ComPtr<IPresenterLink> oldLink;
    {
        CAutoLock control(&control_);
        oldPresenter = std::move(presenter_);
        oldLink = std::move(presenterLink_);
        presenter_ = std::move(presenter);
        presenterLink_ = std::move(link);
        userId_ = userId;
        presenterPrefs_ = prefs;
        presenterPrefsKnown_ = prefsKnown;
        traceRenderSettings();
    }
    if (oldLink && oldLink.get() != presenterLink_.get())
        oldLink->DetachRenderer(this);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE VideoRenderer::SetDDrawDevice(LPDIRECTDRAW7 device, HMONITOR monitor) {
    return device && monitor ? S_OK : E_POINTER;
}

HRESULT STDMETHODCALLTYPE VideoRenderer::ChangeDDrawDevice(LPDIRECTDRAW7 device, HMONITOR monitor) {
    return device && monitor ? S_OK : E_POINTER;
}

HRESULT STDMETHODCALLTYPE VideoRenderer::RestoreDDrawSurfaces() {
    CAutoLock control(&control_);
    drawIntoWindow();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE VideoRenderer::NotifyEvent(LONG code, LONG_PTR param1, LONG_PTR param2) {
    return CBaseFilter::NotifyEvent(code, param1, param2);
}

HRESULT STDMETHODCALLTYPE VideoRenderer::SetBorderColor(COLORREF colour) {
    CAutoLock control(&control_);
    border_ = colour;
    return S_OK;
}

// IVMRMixerControl

HRESULT STDMETHODCALLTYPE VideoRenderer::SetAlpha(DWORD stream, float alpha) {
    CAutoLock control(&control_);
    HRESULT hr = checkStream(stream);
    if (FAILED(hr))
        return hr;
    if (!(alpha >= 0.0f && alpha <= 1.0f))
        return E_INVALIDARG;
    alpha_[stream] = alpha;
    remix();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE VideoRenderer::GetAlpha(DWORD stream, float* alpha) {
    if (!alpha)
        return E_POINTER;
    CAutoLock control(&control_);
    HRESULT hr = checkStream(stream);
    if (SUCCEEDED(hr))
        *alpha = alpha_[stream];
    return hr;
}

// A change of what is visible shows at once, without waiting for the next picture.
void VideoRenderer::remix() {
    const Picture* before = shown_;
    compose();
    if (shown_ != before || shown_ == &blended_)
        drawIntoWindow();
}

HRESULT STDMETHODCALLTYPE VideoRenderer::SetZOrder(DWORD stream, DWORD z) {
    CAutoLock control(&control_);
    HRESULT hr = checkStream(stream);
    if (SUCCEEDED(hr)) {
        zOrder_[stream] = z;
        remix();
    }
    return hr;
}

HRESULT STDMETHODCALLTYPE VideoRenderer::GetZOrder(DWORD stream, DWORD* z) {
    if (!z)
        return E_POINTER;
    CAutoLock control(&control_);
    HRESULT hr = checkStream(stream);
    if (SUCCEEDED(hr))
        *z = zOrder_[stream];
    return hr;
}

HRESULT STDMETHODCALLTYPE VideoRenderer::SetOutputRect(DWORD stream, const NORMALIZEDRECT* rect) {
    if (!rect)
        return E_POINTER;
    CAutoLock control(&control_);
    HRESULT hr = checkStream(stream);
    if (FAILED(hr))
        return hr;
    if (!(rect->left < rect->right && rect->top < rect->bottom))
        return E_INVALIDARG;
    outputRect_[stream] = *rect;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE VideoRenderer::GetOutputRect(DWORD stream, NORMALIZEDRECT* rect) {
    if (!rect)
        return E_POINTER;
    CAutoLock control(&control_);
    HRESULT hr = checkStream(stream);
    if (SUCCEEDED(hr))
        *rect = outputRect_[stream];
    return hr;
}

HRESULT STDMETHODCALLTYPE VideoRenderer::SetBackgroundClr(COLORREF colour) {
    CAutoLock control(&control_);
    if (!streams_)
        return VFW_E_VMR_NOT_IN_MIXER_MODE;
    background_ = colour;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE VideoRenderer::GetBackgroundClr(COLORREF* colour) {
    return readMixerSetting(0, colour, background_);
}

HRESULT STDMETHODCALLTYPE VideoRenderer::SetMixingPrefs(DWORD prefs) {
    if (inputConnected())
        return VFW_E_WRONG_STATE;
    CAutoLock control(&control_);
    if (!streams_)
        return VFW_E_VMR_NOT_IN_MIXER_MODE;
    if (!validMixingPrefs(prefs))
        return E_INVALIDARG;
    mixingPrefs_ = prefs;
    trace("mixing %lx", static_cast<unsigned long>(prefs));
    return S_OK;
}

HRESULT STDMETHODCALLTYPE VideoRenderer::GetMixingPrefs(DWORD* prefs) {
    return readMixerSetting(0, prefs, mixingPrefs_);
}

// IVMRDeinterlaceControl

HRESULT STDMETHODCALLTYPE VideoRenderer::GetNumberOfDeinterlaceModes(VMRVideoDesc* description,
                                                                     DWORD* count, GUID* modes) {
    if (!description || !count)
        return E_POINTER;
    // Called without an array it counts the modes; with one it fetches them.
    if (!modes && faults_.deinterlaceCountFails)
        return E_FAIL;
    if (modes && faults_.deinterlaceGuidFails)
        return E_FAIL;
    if (!validDescription(description))
        return E_INVALIDARG;
    CAutoLock control(&control_);
    if (!streams_)
        return VFW_E_VMR_NOT_IN_MIXER_MODE;
    if (!modes) {
        *count = 1;
        return S_OK;
    }
    if (*count >= 1) {
        modes[0] = kDeinterlaceBob;
        *count = 1;
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE VideoRenderer::GetDeinterlaceModeCaps(GUID* mode,
                                                                VMRVideoDesc* description,
                                                                VMRDeinterlaceCaps* caps) {
    if (!mode || !description || !caps)
        return E_POINTER;
    if (!validDescription(description) || caps->dwSize != sizeof(VMRDeinterlaceCaps) ||
        *mode != kDeinterlaceBob)
        return E_INVALIDARG;
    CAutoLock control(&control_);
    if (!streams_)
        return VFW_E_VMR_NOT_IN_MIXER_MODE;
    caps->dwNumPreviousOutputFrames = 0;
    caps->dwNumForwardRefSamples = 0;
    caps->dwNumBackwardRefSamples = 0;
    caps->DeinterlaceTechnology = DeinterlaceTech_BOBVerticalStretch;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE VideoRenderer::GetDeinterlaceMode(DWORD stream, GUID* mode) {
    if (!mode)
        return E_POINTER;
    CAutoLock control(&control_);
    HRESULT hr = checkStream(stream);
    if (FAILED(hr))
        return hr;
    *mode = deinterlaceMode_;
    return deinterlaceModeSet_ ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE VideoRenderer::SetDeinterlaceMode(DWORD stream, GUID* mode) {
    if (!mode)
        return E_POINTER;
    if (faults_.setDeinterlaceModeFails)
        return E_FAIL;
    CAutoLock control(&control_);
    HRESULT hr = stream == 0xFFFFFFFF ? (streams_ ? S_OK : VFW_E_VMR_NOT_IN_MIXER_MODE)
                                      : checkStream(stream);
    if (FAILED(hr))
        return hr;
    // GUID_NULL turns deinterlacing off.
    if (*mode != kDeinterlaceBob && *mode != GUID_NULL)
        return E_INVALIDARG;
    deinterlaceMode_ = *mode;
    deinterlaceModeSet_ = true;
    wchar_t text[40] = {};
    StringFromGUID2(*mode, text, 40);
    char narrow[40] = {};
    WideCharToMultiByte(CP_ACP, 0, text, -1, narrow, sizeof(narrow), nullptr, nullptr);
    trace("deinterlace %s", narrow);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE VideoRenderer::GetDeinterlacePrefs(DWORD* prefs) {
    return readLocked(prefs, deinterlacePrefs_);
}

HRESULT STDMETHODCALLTYPE VideoRenderer::SetDeinterlacePrefs(DWORD prefs) {
    if (!oneOf(prefs, {DeinterlacePref_NextBest, DeinterlacePref_BOB, DeinterlacePref_Weave}))
        return E_INVALIDARG;
    CAutoLock control(&control_);
    deinterlacePrefs_ = prefs;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE VideoRenderer::GetActualDeinterlaceMode(DWORD stream, GUID* mode) {
    if (!mode)
        return E_POINTER;
    CAutoLock control(&control_);
    HRESULT hr = checkStream(stream);
    if (FAILED(hr))
        return hr;
    if (deinterlaceModeSet_)
        *mode = deinterlaceMode_;
    else
        *mode = deinterlacePrefs_ == DeinterlacePref_Weave ? GUID_NULL : kDeinterlaceBob;
    return S_OK;
}

// IVMRWindowlessControl

HRESULT STDMETHODCALLTYPE VideoRenderer::GetNativeVideoSize(LONG* width, LONG* height,
                                                            LONG* aspectX, LONG* aspectY) {
    if (!width && !height && !aspectX && !aspectY)
        return E_POINTER;
    CAutoLock control(&control_);
    if (width)
        *width = in_[shownInput_].format.width;
    if (height)
        *height = in_[shownInput_].format.height;
    if (aspectX)
        *aspectX = LONG(in_[shownInput_].format.aspectX);
    if (aspectY)
        *aspectY = LONG(in_[shownInput_].format.aspectY);
    return S_OK;
}

// GDI stretches as well in both directions: the native size is the ideal one.
HRESULT STDMETHODCALLTYPE VideoRenderer::GetMinIdealVideoSize(LONG* width, LONG* height) {
    return GetNativeVideoSize(width, height, nullptr, nullptr);
}

HRESULT STDMETHODCALLTYPE VideoRenderer::GetMaxIdealVideoSize(LONG* width, LONG* height) {
    return GetNativeVideoSize(width, height, nullptr, nullptr);
}

HRESULT STDMETHODCALLTYPE VideoRenderer::SetVideoPosition(const LPRECT source,
                                                          const LPRECT destination) {
    if (!source && !destination)
        return E_POINTER;
    if (source && (source->left < 0 || source->top < 0 || source->left >= source->right ||
                   source->top >= source->bottom))
        return E_INVALIDARG;
    if (destination &&
        (destination->left > destination->right || destination->top > destination->bottom))
        return E_INVALIDARG;
    CAutoLock control(&control_);
    if (mode_ == VMRMode_Windowed)
        return VFW_E_WRONG_STATE;
    if (source) {
        source_ = *source;
        sourceSet_ = true;
    }
    if (destination)
        destination_ = *destination;
    trace("position %ld %ld %ld %ld", destination_.left, destination_.top, destination_.right,
          destination_.bottom);
    drawIntoWindow();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE VideoRenderer::GetVideoPosition(LPRECT source, LPRECT destination) {
    if (!source && !destination)
        return E_POINTER;
    CAutoLock control(&control_);
    if (source)
        *source = sourceSet_
                      ? source_
                      : RECT{0, 0, in_[shownInput_].format.width, in_[shownInput_].format.height};
    if (destination)
        *destination = destination_;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE VideoRenderer::GetAspectRatioMode(DWORD* mode) {
    return readLocked(mode, aspectMode_);
}

HRESULT STDMETHODCALLTYPE VideoRenderer::SetAspectRatioMode(DWORD mode) {
    if (mode != VMR_ARMODE_NONE && mode != VMR_ARMODE_LETTER_BOX)
        return E_INVALIDARG;
    CAutoLock control(&control_);
    aspectMode_ = mode;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE VideoRenderer::SetVideoClippingWindow(HWND window) {
    if (!IsWindow(window))
        return E_INVALIDARG;
    CAutoLock control(&control_);
    if (mode_ == VMRMode_Windowed)
        return VFW_E_WRONG_STATE;
    if (window != window_) {
        drawnTarget_ = RECT{};
        overlay_.reset();
    }
    window_ = window;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE VideoRenderer::RepaintVideo(HWND, HDC dc) {
    if (!dc)
        return E_POINTER;
    CAutoLock control(&control_);
    if (mode_ == VMRMode_Windowed)
        return VFW_E_WRONG_STATE;
    draw(dc);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE VideoRenderer::DisplayModeChanged() {
    CAutoLock control(&control_);
    if (mode_ == VMRMode_Windowed)
        return VFW_E_WRONG_STATE;
    drawIntoWindow();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE VideoRenderer::GetCurrentImage(BYTE** bitmap) {
    if (!bitmap)
        return E_POINTER;
    *bitmap = nullptr;
    CAutoLock control(&control_);
    if (shownPicture().empty())
        return E_FAIL;
    *bitmap = packedBitmap(shownPicture());
    return *bitmap ? S_OK : E_OUTOFMEMORY;
}

HRESULT STDMETHODCALLTYPE VideoRenderer::GetBorderColor(COLORREF* colour) {
    return readLocked(colour, border_);
}

HRESULT STDMETHODCALLTYPE VideoRenderer::SetColorKey(COLORREF colour) {
    CAutoLock control(&control_);
    if (colour != colourKey_)
        overlay_.reset();
    colourKey_ = colour;
    trace("colorkey %lx", static_cast<unsigned long>(colour));
    return S_OK;
}

HRESULT STDMETHODCALLTYPE VideoRenderer::GetColorKey(COLORREF* colour) {
    return readLocked(colour, colourKey_);
}

// ISpecifyPropertyPages

HRESULT STDMETHODCALLTYPE VideoRenderer::GetPages(CAUUID* pages) {
    return listStatisticsPage(pages);
}

// IQualProp

HRESULT STDMETHODCALLTYPE VideoRenderer::get_FramesDroppedInRenderer(int* frames) {
    if (!frames)
        return E_POINTER;
    // Late pictures are drawn late, never dropped.
    *frames = 0;
    return S_OK;
}

HRESULT VideoRenderer::statistic(int* value, int (RenderStatistics::*read)() const) {
    if (!value)
        return E_POINTER;
    CAutoLock control(&control_);
    *value = (statistics_.*read)();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE VideoRenderer::get_FramesDrawn(int* frames) {
    return statistic(frames, &RenderStatistics::framesDrawn);
}

HRESULT STDMETHODCALLTYPE VideoRenderer::get_AvgFrameRate(int* rate) {
    return statistic(rate, &RenderStatistics::averageFrameRate);
}

HRESULT STDMETHODCALLTYPE VideoRenderer::get_Jitter(int* jitter) {
    return statistic(jitter, &RenderStatistics::jitter);
}

HRESULT STDMETHODCALLTYPE VideoRenderer::get_AvgSyncOffset(int* offset) {
    return statistic(offset, &RenderStatistics::averageOffset);
}

HRESULT STDMETHODCALLTYPE VideoRenderer::get_DevSyncOffset(int* deviation) {
    return statistic(deviation, &RenderStatistics::offsetDeviation);
}

// IStatisticsSource

HRESULT STDMETHODCALLTYPE VideoRenderer::GetStatistics(LPWSTR* title, LPWSTR* lines) {
    if (!title || !lines)
        return E_POINTER;
    *title = nullptr;
    *lines = nullptr;
    std::wstring text;
    {
        CAutoLock control(&control_);
        const wchar_t* mode = mode_ == VMRMode_Renderless   ? L"sans fenêtre, présentateur (4)"
                              : mode_ == VMRMode_Windowless ? L"sans fenêtre (2)"
                                                            : L"fenêtré (1)";
        text += formatText(L"Mode de rendu\t%ls\n", mode);
        if (in_[shownInput_].formatKnown) {
            text += formatText(L"Taille native\t%ld x %ld\n", in_[shownInput_].format.width,
                               in_[shownInput_].format.height);
            text += formatText(L"Rapport d'aspect\t%lu:%lu\n",
                               static_cast<unsigned long>(in_[shownInput_].format.aspectX),
                               static_cast<unsigned long>(in_[shownInput_].format.aspectY));
        } else {
            text += L"Taille native\taucune image\nRapport d'aspect\t-\n";
        }
        text += formatText(L"Images affichées\t%d\n", statistics_.drawn);
        int rate = statistics_.averageFrameRate();
        text += formatText(L"Cadence\t%d,%02d images/s\n", rate / 100, rate % 100);
        text += formatText(L"Position\t%ld, %ld - %ld, %ld", destination_.left, destination_.top,
                           destination_.right, destination_.bottom);
    }
    HRESULT hr = copyToTaskMemory(L"Rendu vidéo", title);
    if (SUCCEEDED(hr))
        hr = copyToTaskMemory(text, lines);
    if (FAILED(hr)) {
        CoTaskMemFree(*title);
        *title = nullptr;
    }
    return hr;
}

// IRendererLink

void STDMETHODCALLTYPE VideoRenderer::PresenterPrefsSet(DWORD prefs) {
    CAutoLock control(&control_);
    presenterPrefs_ = prefs;
    presenterPrefsKnown_ = true;
    traceRenderSettings();
}

} // namespace korvane::testbed
