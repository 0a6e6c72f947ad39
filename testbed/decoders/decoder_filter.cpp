#include "decoder_filter.h"

#include "dshow/com_ptr.h"
#include "dshow/sample_bytes.h"
#include "stream_decoder.h"

#include <dvdmedia.h>
#include <mmreg.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

namespace korvane::testbed {

namespace {

// Room for the largest broadcast picture in every buffer, so a format change never needs
// a new allocator.
constexpr size_t kPictureBuffer = size_t(1920) * 1088 * 4;
// Larger pictures than this are refused (and counted as errors).
constexpr size_t kMaxPictureBytes = size_t(4096) * 2304 * 4;
// 8192 stereo sample frames: more than any decoded frame of these codecs holds.
constexpr long kAudioBuffer = 32768;
// Bounds of the input queue: a few seconds of stream at broadcast rates.
constexpr size_t kMaxQueuedItems = 200;
constexpr size_t kMaxQueuedBytes = size_t(32) << 20;

const DecoderInput kMpeg2VideoInputs[] = {{&MEDIASUBTYPE_MPEG2_VIDEO, AV_CODEC_ID_MPEG2VIDEO}};
const DecoderInput kH264Inputs[] = {{&kSubtypeH264, AV_CODEC_ID_H264}};
const DecoderInput kMpegAudioInputs[] = {{&MEDIASUBTYPE_MPEG2_AUDIO, AV_CODEC_ID_MP2},
                                         {&MEDIASUBTYPE_MPEG1AudioPayload, AV_CODEC_ID_MP2}};
// The AC-3 decoder reads E-AC-3 frames as well.
const DecoderInput kAc3Inputs[] = {{&MEDIASUBTYPE_DOLBY_AC3, AV_CODEC_ID_AC3},
                                   {&kSubtypeDolbyDigitalPlus, AV_CODEC_ID_EAC3}};

bool isVideoType(const CMediaType& mt) {
    if (mt.majortype != MEDIATYPE_Video || mt.subtype != MEDIASUBTYPE_RGB32 || !mt.pbFormat)
        return false;
    const BITMAPINFOHEADER* bmi = nullptr;
    if (mt.formattype == FORMAT_VideoInfo2 && mt.cbFormat >= sizeof(VIDEOINFOHEADER2))
        bmi = &reinterpret_cast<const VIDEOINFOHEADER2*>(mt.pbFormat)->bmiHeader;
    else if (mt.formattype == FORMAT_VideoInfo && mt.cbFormat >= sizeof(VIDEOINFOHEADER))
        bmi = &reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat)->bmiHeader;
    // Pictures are written bottom-up, 32 bits a pixel, without padding.
    return bmi && bmi->biBitCount == 32 && bmi->biCompression == BI_RGB && bmi->biWidth > 0 &&
           bmi->biHeight > 0 &&
           size_t(bmi->biWidth) * size_t(bmi->biHeight) * 4 <= kMaxPictureBytes;
}

bool isAudioType(const CMediaType& mt) {
    if (mt.majortype != MEDIATYPE_Audio || mt.subtype != MEDIASUBTYPE_PCM ||
        mt.formattype != FORMAT_WaveFormatEx || !mt.pbFormat || mt.cbFormat < sizeof(PCMWAVEFORMAT))
        return false;
    const auto* wfx = reinterpret_cast<const WAVEFORMATEX*>(mt.pbFormat);
    return wfx->wFormatTag == WAVE_FORMAT_PCM && wfx->nChannels == 2 && wfx->wBitsPerSample == 16;
}

} // namespace

const DecoderKind& decoderKind(DecoderId id) {
    static const DecoderKind kinds[] = {
        {&kClsidMpeg2VideoDecoder, kMpeg2VideoDecoderName, true, kMpeg2VideoInputs,
         Fault::VideoDecoderRefusesRenderer},
        {&kClsidH264VideoDecoder, kH264VideoDecoderName, true, kH264Inputs,
         Fault::VideoDecoderRefusesRenderer},
        {&kClsidMpegAudioDecoder, kMpegAudioDecoderName, false, kMpegAudioInputs,
         Fault::AudioDecoderRefusesRenderer},
        {&kClsidAc3AudioDecoder, kAc3AudioDecoderName, false, kAc3Inputs,
         Fault::Ac3DecoderRefusesRenderer},
    };
    return kinds[size_t(id)];
}

DecoderInputPin::DecoderInputPin(DecoderFilter* filter, CCritSec* lock, HRESULT* phr)
    : CBaseInputPin(L"Decoder input", filter, lock, phr, L"Entrée"), decoder_(filter) {}

HRESULT DecoderInputPin::CheckMediaType(const CMediaType* pmt) {
    const GUID& major = decoder_->Kind().video ? MEDIATYPE_Video : MEDIATYPE_Audio;
    if (pmt->majortype != major || decoder_->CodecFor(pmt->subtype) == AV_CODEC_ID_NONE)
        return S_FALSE;
    // As on a system without decoders of today's broadcasts.
    if ((pmt->subtype == kSubtypeH264 || pmt->subtype == kSubtypeDolbyDigitalPlus) &&
        faultActive(Fault::TodaysDecodersMissing))
        return S_FALSE;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE DecoderInputPin::Receive(IMediaSample* sample) {
    HRESULT hr = CBaseInputPin::Receive(sample);
    if (hr != S_OK)
        return hr;
    return decoder_->Queue(sample);
}

HRESULT STDMETHODCALLTYPE DecoderInputPin::EndOfStream() {
    HRESULT hr = CheckStreaming();
    if (hr == S_OK)
        decoder_->QueueEndOfStream();
    return hr == S_FALSE ? S_OK : hr;
}

HRESULT STDMETHODCALLTYPE DecoderInputPin::BeginFlush() {
    HRESULT hr = CBaseInputPin::BeginFlush();
    decoder_->BeginFlushing();
    return hr;
}

HRESULT STDMETHODCALLTYPE DecoderInputPin::EndFlush() {
    decoder_->EndFlushing();
    return CBaseInputPin::EndFlush();
}

DecoderOutputPin::DecoderOutputPin(DecoderFilter* filter, CCritSec* lock, HRESULT* phr)
    : CBaseOutputPin(L"Decoder output", filter, lock, phr, L"Sortie"), decoder_(filter) {}

HRESULT DecoderOutputPin::CheckMediaType(const CMediaType* pmt) {
    if (decoder_->RefusesRenderer())
        return S_FALSE;
    return (decoder_->Kind().video ? isVideoType(*pmt) : isAudioType(*pmt)) ? S_OK : S_FALSE;
}

HRESULT DecoderOutputPin::GetMediaType(int position, CMediaType* pmt) {
    if (position < 0)
        return E_INVALIDARG;
    if (decoder_->Kind().video && position < 2) {
        *pmt = decoder_->OutputType(position == 0 ? FORMAT_VideoInfo2 : FORMAT_VideoInfo);
        return S_OK;
    }
    if (!decoder_->Kind().video && position == 0) {
        *pmt = decoder_->OutputType(FORMAT_WaveFormatEx);
        return S_OK;
    }
    return VFW_S_NO_MORE_ITEMS;
}

HRESULT DecoderOutputPin::SetMediaType(const CMediaType* pmt) {
    std::lock_guard lock(typeLock_);
    m_mt = *pmt;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE DecoderOutputPin::ConnectionMediaType(AM_MEDIA_TYPE* pmt) {
    if (!pmt)
        return E_POINTER;
    std::lock_guard lock(typeLock_);
    if (!m_Connected) {
        std::memset(pmt, 0, sizeof(*pmt));
        return VFW_E_NOT_CONNECTED;
    }
    return CopyMediaType(pmt, &m_mt);
}

CMediaType DecoderOutputPin::ConnectionType() {
    std::lock_guard lock(typeLock_);
    return m_mt;
}

void DecoderOutputPin::ChangeConnectionType(const CMediaType& type) {
    std::lock_guard lock(typeLock_);
    m_mt = type;
}

HRESULT DecoderOutputPin::DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* request) {
    long need = kAudioBuffer;
    if (decoder_->Kind().video) {
        need = long(std::max<size_t>(kPictureBuffer, ConnectionType().lSampleSize));
        request->cBuffers = std::max(request->cBuffers, 3L);
    } else {
        request->cBuffers = std::max(request->cBuffers, 16L);
    }
    request->cbBuffer = std::max(request->cbBuffer, need);
    request->cbAlign = std::max(request->cbAlign, 1L);
    ALLOCATOR_PROPERTIES actual{};
    HRESULT hr = alloc->SetProperties(request, &actual);
    if (FAILED(hr))
        return hr;
    return actual.cbBuffer >= need && actual.cBuffers >= 1 ? S_OK : E_FAIL;
}

CUnknown* DecoderFilter::Create(const DecoderKind& kind, IUnknown* outer, HRESULT* phr) {
    return new DecoderFilter(kind, outer, phr);
}

DecoderFilter::DecoderFilter(const DecoderKind& kind, IUnknown* outer, HRESULT* phr)
    : CBaseFilter(L"Décodeur de test", outer, &lock_, *kind.clsid), kind_(kind),
      refuseRenderer_(faultActive(kind.refuseRenderer)),
      input_(std::make_unique<DecoderInputPin>(this, &lock_, phr)),
      output_(std::make_unique<DecoderOutputPin>(this, &lock_, phr)) {
    inputCodec_ = kind.inputs.front().codec;
}

DecoderFilter::~DecoderFilter() {
    {
        std::lock_guard lock(queueLock_);
        stopping_ = true;
    }
    stopWorker();
}

HRESULT STDMETHODCALLTYPE DecoderFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (riid == IID_ISpecifyPropertyPages)
        return GetInterface(static_cast<ISpecifyPropertyPages*>(this), ppv);
    if (riid == kIidStatisticsSource)
        return GetInterface(static_cast<IStatisticsSource*>(this), ppv);
    if (riid == kIidDecoderStatistics)
        return GetInterface(static_cast<IDecoderStatistics*>(this), ppv);
    return CBaseFilter::NonDelegatingQueryInterface(riid, ppv);
}

CBasePin* DecoderFilter::GetPin(int index) {
    if (index == 0)
        return input_.get();
    if (index == 1)
        return output_.get();
    return nullptr;
}

HRESULT STDMETHODCALLTYPE DecoderFilter::Pause() {
    CAutoLock lock(&lock_);
    bool starting = m_State == State_Stopped;
    HRESULT hr = CBaseFilter::Pause();
    if (SUCCEEDED(hr) && starting)
        startWorker();
    return hr;
}

HRESULT STDMETHODCALLTYPE DecoderFilter::Stop() {
    CAutoLock lock(&lock_);
    {
        std::lock_guard queue(queueLock_);
        stopping_ = true;
    }
    queueChanged_.notify_all();
    // Decommitting the output's allocator releases a worker waiting for a buffer; the graph
    // stops the renderer downstream first, which releases one waiting in its Receive.
    HRESULT hr = CBaseFilter::Stop();
    stopWorker();
    return hr;
}

HRESULT STDMETHODCALLTYPE DecoderFilter::GetPages(CAUUID* pages) {
    return listStatisticsPage(pages);
}

HRESULT STDMETHODCALLTYPE DecoderFilter::GetStatistics(LPWSTR* title, LPWSTR* lines) {
    if (!title || !lines)
        return E_POINTER;
    DecoderStatistics s{};
    GetCounters(&s);
    std::wstring text = std::wstring(kind_.video ? L"Images décodées" : L"Trames décodées") +
                        L"\t" + std::to_wstring(s.delivered) + L"\nErreurs\t" +
                        std::to_wstring(s.errors) + L"\nÉchantillons perdus\t" +
                        std::to_wstring(s.dropped) + L"\nFormat\t" + s.format;
    *lines = nullptr;
    HRESULT hr = copyToTaskMemory(L"Décodeur", title);
    if (SUCCEEDED(hr))
        hr = copyToTaskMemory(text, lines);
    if (FAILED(hr)) {
        CoTaskMemFree(*title);
        *title = nullptr;
    }
    return hr;
}

HRESULT STDMETHODCALLTYPE DecoderFilter::GetCounters(DecoderStatistics* out) {
    if (!out)
        return E_POINTER;
    *out = {};
    out->video = kind_.video;
    out->delivered = delivered_;
    out->errors = errors_;
    out->dropped = dropped_;
    std::wstring format = describeFormat();
    format.resize(std::min(format.size(), std::size(out->format) - 1));
    std::copy(format.begin(), format.end(), out->format);
    return S_OK;
}

std::wstring DecoderFilter::describeFormat() {
    std::lock_guard lock(formatLock_);
    const wchar_t* codec = L"?";
    switch (inputCodec_) {
    case AV_CODEC_ID_MPEG2VIDEO:
        codec = L"MPEG-2";
        break;
    case AV_CODEC_ID_H264:
        codec = L"H.264";
        break;
    case AV_CODEC_ID_MP2:
        codec = L"MPEG audio";
        break;
    case AV_CODEC_ID_AC3:
        codec = L"AC-3";
        break;
    case AV_CODEC_ID_EAC3:
        codec = L"E-AC-3";
        break;
    default:
        break;
    }
    wchar_t text[96];
    if (kind_.video)
        std::swprintf(text, 96, L"%ls, %d x %d, %d:%d, %.3g images/s", codec, picture_.width,
                      picture_.height, picture_.aspectX, picture_.aspectY,
                      1e7 / double(std::max<int64_t>(picture_.frameTime, 1)));
    else
        std::swprintf(text, 96, L"%ls, %d Hz, stéréo", codec, sampleRate_);
    return text;
}

AVCodecID DecoderFilter::CodecFor(const GUID& subtype) const {
    for (const DecoderInput& input : kind_.inputs) {
        if (*input.subtype == subtype)
            return input.codec;
    }
    return AV_CODEC_ID_NONE;
}

void DecoderFilter::NoteInputType(const CMediaType& type) {
    std::lock_guard lock(formatLock_);
    AVCodecID codec = CodecFor(type.subtype);
    if (codec != AV_CODEC_ID_NONE)
        inputCodec_ = codec;
    if (!type.pbFormat)
        return;
    // What the upstream filter announces is only a first guess; the stream decides.
    if (kind_.video &&
        (type.formattype == FORMAT_MPEG2Video || type.formattype == FORMAT_VideoInfo2) &&
        type.cbFormat >= sizeof(VIDEOINFOHEADER2)) {
        const auto* vih = reinterpret_cast<const VIDEOINFOHEADER2*>(type.pbFormat);
        if (vih->bmiHeader.biWidth > 0 && vih->bmiHeader.biHeight != 0 &&
            size_t(vih->bmiHeader.biWidth) * size_t(std::abs(vih->bmiHeader.biHeight)) * 4 <=
                kPictureBuffer) {
            picture_.width = vih->bmiHeader.biWidth;
            picture_.height = std::abs(vih->bmiHeader.biHeight);
        }
        if (vih->dwPictAspectRatioX > 0 && vih->dwPictAspectRatioY > 0) {
            picture_.aspectX = int(std::min<DWORD>(vih->dwPictAspectRatioX, 0xFFFF));
            picture_.aspectY = int(std::min<DWORD>(vih->dwPictAspectRatioY, 0xFFFF));
        }
        if (vih->AvgTimePerFrame > 0)
            picture_.frameTime = vih->AvgTimePerFrame;
    } else if (!kind_.video && type.formattype == FORMAT_WaveFormatEx &&
               type.cbFormat >= sizeof(PCMWAVEFORMAT)) {
        DWORD rate = reinterpret_cast<const WAVEFORMATEX*>(type.pbFormat)->nSamplesPerSec;
        if (rate >= 8000 && rate <= 192000)
            sampleRate_ = int(rate);
    }
}

CMediaType DecoderFilter::OutputType(const GUID& formatType) {
    CMediaType mt;
    std::lock_guard lock(formatLock_);
    if (!kind_.video) {
        WAVEFORMATEX wfx{};
        wfx.wFormatTag = WAVE_FORMAT_PCM;
        wfx.nChannels = 2;
        wfx.nSamplesPerSec = DWORD(sampleRate_);
        wfx.wBitsPerSample = 16;
        wfx.nBlockAlign = 4;
        wfx.nAvgBytesPerSec = DWORD(sampleRate_) * 4;
        mt.SetType(&MEDIATYPE_Audio);
        mt.SetSubtype(&MEDIASUBTYPE_PCM);
        mt.SetSampleSize(4);
        mt.SetFormatType(&FORMAT_WaveFormatEx);
        mt.SetFormat(reinterpret_cast<const BYTE*>(&wfx), sizeof(wfx));
        return mt;
    }
    const PictureFormat& f = picture_;
    BITMAPINFOHEADER bmi{};
    bmi.biSize = sizeof(BITMAPINFOHEADER);
    bmi.biWidth = f.width;
    bmi.biHeight = f.height;
    bmi.biPlanes = 1;
    bmi.biBitCount = 32;
    bmi.biCompression = BI_RGB;
    bmi.biSizeImage = DWORD(pictureBytes(f));
    const RECT whole = {0, 0, f.width, f.height};
    const DWORD bitRate = DWORD(std::min<int64_t>(
        int64_t(bmi.biSizeImage) * 8 * 10000000 / std::max<int64_t>(f.frameTime, 1), 0xFFFFFFFF));
    mt.SetType(&MEDIATYPE_Video);
    mt.SetSubtype(&MEDIASUBTYPE_RGB32);
    mt.SetSampleSize(bmi.biSizeImage);
    mt.SetTemporalCompression(FALSE);
    if (formatType == FORMAT_VideoInfo) {
        VIDEOINFOHEADER vih{};
        vih.rcSource = vih.rcTarget = whole;
        vih.dwBitRate = bitRate;
        vih.AvgTimePerFrame = f.frameTime;
        vih.bmiHeader = bmi;
        mt.SetFormatType(&FORMAT_VideoInfo);
        mt.SetFormat(reinterpret_cast<const BYTE*>(&vih), sizeof(vih));
    } else {
        VIDEOINFOHEADER2 vih{};
        vih.rcSource = vih.rcTarget = whole;
        vih.dwBitRate = bitRate;
        vih.AvgTimePerFrame = f.frameTime;
        vih.dwPictAspectRatioX = DWORD(f.aspectX);
        vih.dwPictAspectRatioY = DWORD(f.aspectY);
        vih.bmiHeader = bmi;
        mt.SetFormatType(&FORMAT_VideoInfo2);
        mt.SetFormat(reinterpret_cast<const BYTE*>(&vih), sizeof(vih));
    }
    return mt;
}

HRESULT DecoderFilter::Queue(IMediaSample* sample) {
    std::span<const uint8_t> bytes = sampleBytes(sample);
    if (bytes.empty())
        return S_OK;
    Item item;
    AM_MEDIA_TYPE* changed = nullptr;
    if (sample->GetMediaType(&changed) == S_OK && changed) {
        NoteInputType(CMediaType(*changed));
        DeleteMediaType(changed);
        item.discontinuity = true;
    }
    {
        std::lock_guard lock(formatLock_);
        item.codec = inputCodec_;
    }
    REFERENCE_TIME start = 0;
    REFERENCE_TIME stop = 0;
    HRESULT timed = sample->GetTime(&start, &stop);
    item.time = (timed == S_OK || timed == VFW_S_NO_STOP_TIME) ? start : kNoTime;
    item.discontinuity |= sample->IsDiscontinuity() == S_OK;
    item.bytes.assign(bytes.begin(), bytes.end());
    {
        std::lock_guard lock(queueLock_);
        if (stopping_ || flushing_)
            return S_OK;
        if (queue_.size() >= kMaxQueuedItems || queuedBytes_ + bytes.size() > kMaxQueuedBytes) {
            ++dropped_;
            gap_ = true;
            return S_OK;
        }
        item.discontinuity |= std::exchange(gap_, false);
        item.generation = generation_;
        queuedBytes_ += item.bytes.size();
        queue_.push_back(std::move(item));
    }
    queueChanged_.notify_one();
    return S_OK;
}

void DecoderFilter::QueueEndOfStream() {
    Item item;
    item.endOfStream = true;
    item.time = kNoTime;
    {
        std::lock_guard lock(formatLock_);
        item.codec = inputCodec_;
    }
    {
        std::lock_guard lock(queueLock_);
        if (stopping_ || flushing_)
            return;
        item.generation = generation_;
        queue_.push_back(std::move(item));
    }
    queueChanged_.notify_one();
}

void DecoderFilter::BeginFlushing() {
    {
        std::lock_guard lock(queueLock_);
        flushing_ = true;
        queue_.clear();
        queuedBytes_ = 0;
        gap_ = false;
        ++generation_;
    }
    queueChanged_.notify_all();
    if (output_->IsConnected())
        output_->DeliverBeginFlush();
}

void DecoderFilter::EndFlushing() {
    // The item the worker holds may still be delivering into the flushing renderer.
    { std::lock_guard busy(busy_); }
    {
        std::lock_guard lock(queueLock_);
        flushing_ = false;
    }
    if (output_->IsConnected())
        output_->DeliverEndFlush();
    queueChanged_.notify_all();
}

void DecoderFilter::startWorker() {
    stopWorker();
    {
        std::lock_guard lock(queueLock_);
        queue_.clear();
        queuedBytes_ = 0;
        stopping_ = false;
        flushing_ = false;
        gap_ = false;
    }
    worker_ = std::thread(&DecoderFilter::work, this);
}

void DecoderFilter::stopWorker() {
    queueChanged_.notify_all();
    if (worker_.joinable())
        worker_.join();
}

void DecoderFilter::work() {
    // Every libavcodec object lives and dies on this thread.
    std::unique_ptr<StreamDecoder> decoder;
    AVCodecID codec = AV_CODEC_ID_NONE;
    unsigned seen = generation_;
    discontinuity_ = true;
    attachType_ = true;
    nextAudioTime_ = kNoTime;
    if (!kind_.video)
        cueRenderer();
    for (;;) {
        Item item;
        {
            std::unique_lock lock(queueLock_);
            queueChanged_.wait(lock, [&] { return stopping_ || (!queue_.empty() && !flushing_); });
            if (stopping_)
                break;
            item = std::move(queue_.front());
            queue_.pop_front();
            queuedBytes_ -= item.bytes.size();
        }
        std::lock_guard busy(busy_);
        if (item.generation != generation_)
            continue;
        if (item.generation != seen) {
            // Flushed: nothing of the stream before goes on.
            seen = item.generation;
            item.discontinuity = true;
        }
        process(item, decoder, codec);
    }
}

void DecoderFilter::process(Item& item, std::unique_ptr<StreamDecoder>& decoder, AVCodecID& codec) {
    if (!decoder || item.codec != codec) {
        decoder = std::make_unique<StreamDecoder>(item.codec);
        codec = item.codec;
        decoderErrors_ = 0;
        item.discontinuity = true;
        if (!decoder->ready())
            ++errors_;
    }
    if (!decoder->ready())
        return;
    if (item.discontinuity) {
        decoder->reset();
        discontinuity_ = true;
        attachType_ = true;
        nextAudioTime_ = kNoTime;
    }
    StreamDecoder& d = *decoder;
    auto sink = [&](const AVFrame& frame, int64_t time, const AVCodecContext& context) {
        if (item.generation != generation_)
            return;
        if (kind_.video)
            deliverPicture(frame, time, context, d.mpeg2AspectCode(), item.generation);
        else
            deliverAudio(frame, time, item.generation);
    };
    if (item.endOfStream) {
        d.drain(sink);
        if (output_->IsConnected())
            output_->DeliverEndOfStream();
    } else {
        d.push(item.bytes.data(), item.bytes.size(), item.time, sink);
    }
    errors_ += d.errors() - decoderErrors_;
    decoderErrors_ = d.errors();
}

bool DecoderFilter::followFormat(const CMediaType& wanted, CMediaType& attach) {
    CMediaType current = output_->ConnectionType();
    if (current == wanted) {
        if (std::exchange(attachType_, false))
            attach = wanted;
        return true;
    }
    if (refused_.IsValid() && refused_ == wanted)
        return false;
    IPin* peer = output_->Peer();
    if (!peer || peer->QueryAccept(&wanted) != S_OK) {
        refused_ = wanted;
        ++errors_;
        return false;
    }
    refused_.InitMediaType();
    output_->ChangeConnectionType(wanted);
    attach = wanted;
    attachType_ = false;
    return true;
}

ComPtr<IMediaSample> DecoderFilter::nextBuffer(const CMediaType& wanted, CMediaType& attach,
                                               BYTE** data) {
    if (!followFormat(wanted, attach))
        return {};
    IMediaSample* raw = nullptr;
    if (FAILED(output_->GetDeliveryBuffer(&raw, nullptr, nullptr, 0)) || !raw)
        return {};
    ComPtr<IMediaSample> sample = ComPtr<IMediaSample>::adopt(raw);
    if (FAILED(sample->GetPointer(data)) || !*data)
        return {};
    return sample;
}

HRESULT DecoderFilter::deliver(IMediaSample* sample, int64_t start, int64_t stop,
                               const CMediaType& attach, unsigned generation) {
    if (generation != generation_)
        return S_FALSE;
    if (start != kNoTime) {
        REFERENCE_TIME times[2] = {start, stop};
        sample->SetTime(&times[0], &times[1]);
    } else {
        sample->SetTime(nullptr, nullptr);
    }
    if (attach.IsValid())
        sample->SetMediaType(const_cast<CMediaType*>(&attach));
    sample->SetSyncPoint(TRUE);
    sample->SetDiscontinuity(std::exchange(discontinuity_, false) ? TRUE : FALSE);
    return output_->Deliver(sample);
}

void DecoderFilter::deliverPicture(const AVFrame& frame, int64_t time,
                                   const AVCodecContext& context, int mpeg2Aspect,
                                   unsigned generation) {
    if (!output_->IsConnected())
        return;
    PictureFormat format = pictureFormatOf(frame, context, mpeg2Aspect);
    size_t bytes = pictureBytes(format);
    if (bytes == 0 || bytes > kMaxPictureBytes) {
        ++errors_;
        return;
    }
    {
        std::lock_guard lock(formatLock_);
        picture_ = format;
    }
    CMediaType attach;
    BYTE* data = nullptr;
    ComPtr<IMediaSample> sample =
        nextBuffer(OutputType(output_->ConnectionType().formattype), attach, &data);
    if (!sample)
        return;
    if (size_t(sample->GetSize()) < bytes ||
        !convertPicture(frame, data, size_t(format.width) * 4)) {
        ++errors_;
        return;
    }
    sample->SetActualDataLength(long(bytes));
    if (deliver(sample.get(), time, time + format.frameTime, attach, generation) == S_OK)
        ++delivered_;
}

void DecoderFilter::cueRenderer() {
    if (!output_->IsConnected())
        return;
    CMediaType attach;
    BYTE* data = nullptr;
    ComPtr<IMediaSample> sample = nextBuffer(OutputType(FORMAT_WaveFormatEx), attach, &data);
    if (!sample)
        return;
    long bytes = std::min(sample->GetSize(), long(sampleRate_ / 100) * 4);
    std::memset(data, 0, size_t(bytes));
    sample->SetActualDataLength(bytes);
    deliver(sample.get(), kNoTime, kNoTime, attach, generation_);
}

void DecoderFilter::deliverAudio(const AVFrame& frame, int64_t time, unsigned generation) {
    if (!output_->IsConnected() || frame.sample_rate <= 0)
        return;
    {
        std::lock_guard lock(formatLock_);
        sampleRate_ = frame.sample_rate;
    }
    CMediaType attach;
    BYTE* data = nullptr;
    ComPtr<IMediaSample> sample = nextBuffer(OutputType(FORMAT_WaveFormatEx), attach, &data);
    if (!sample)
        return;
    size_t count =
        convertAudio(frame, reinterpret_cast<int16_t*>(data), size_t(sample->GetSize()) / 4);
    if (count == 0)
        return;
    sample->SetActualDataLength(long(count * 4));
    // Frames the stream gave no time follow the one before.
    if (time == kNoTime)
        time = nextAudioTime_;
    int64_t stop = kNoTime;
    if (time != kNoTime) {
        stop = time + int64_t(count) * 10000000 / frame.sample_rate;
        nextAudioTime_ = stop;
    }
    if (deliver(sample.get(), time, stop, attach, generation) == S_OK)
        ++delivered_;
}

} // namespace korvane::testbed
