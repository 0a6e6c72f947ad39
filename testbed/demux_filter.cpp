#include "demux_filter.h"

#include "allocator_size.h"
#include "dshow/com_ptr.h"
#include "dshow/enumerators.h"
#include "dshow/media_type.h"
#include "dshow/sample_bytes.h"
#include "testbed_settings.h"

#include <cstring>
#include <string>

namespace korvane::testbed {

namespace {

// A snapshot of one output's PID map.
class PidMapEnum : public CUnknown, public IEnumPIDMap {
  public:
    explicit PidMapEnum(std::vector<PID_MAP> entries)
        : CUnknown(L"PID map enumerator", nullptr), entries_(std::move(entries)) {}
    DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
        if (riid == __uuidof(IEnumPIDMap))
            return GetInterface(static_cast<IEnumPIDMap*>(this), ppv);
        return CUnknown::NonDelegatingQueryInterface(riid, ppv);
    }
    HRESULT STDMETHODCALLTYPE Next(ULONG request, PID_MAP* out, ULONG* received) override {
        if (!out)
            return E_POINTER;
        ULONG n = 0;
        while (n < request && position_ < entries_.size())
            out[n++] = entries_[position_++];
        if (received)
            *received = n;
        return n == request ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
        position_ = std::min(entries_.size(), position_ + count);
        return position_ < entries_.size() ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        position_ = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnumPIDMap** out) override {
        if (!out)
            return E_POINTER;
        auto* copy = new PidMapEnum(entries_);
        copy->position_ = position_;
        return copy->NonDelegatingQueryInterface(__uuidof(IEnumPIDMap),
                                                 reinterpret_cast<void**>(out));
    }

  private:
    std::vector<PID_MAP> entries_;
    size_t position_ = 0;
};

bool hasOptionalHeader(uint8_t streamId) {
    return streamId != 0xBC && streamId != 0xBE && streamId != 0xBF && streamId != 0xF0 &&
           streamId != 0xF1 && streamId != 0xFF && streamId != 0xF2 && streamId != 0xF8;
}

uint64_t readTimestamp(const uint8_t* b) {
    return (uint64_t(b[0] & 0x0E) << 29) | (uint64_t(b[1]) << 22) | (uint64_t(b[2] & 0xFE) << 14) |
           (uint64_t(b[3]) << 7) | (b[4] >> 1);
}

// The output's name for the trace file.
std::string narrow(const wchar_t* text) {
    int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1)
        return {};
    std::string out(size_t(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
    out.resize(size_t(n - 1));
    return out;
}

const char* contentName(MEDIA_SAMPLE_CONTENT content) {
    switch (content) {
    case MEDIA_MPEG2_PSI:
        return "psi";
    case MEDIA_ELEMENTARY_STREAM:
        return "es";
    case MEDIA_TRANSPORT_PACKET:
        return "packet";
    default:
        return "payload";
    }
}

REFERENCE_TIME now100ns() {
    LARGE_INTEGER f, c;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&c);
    return REFERENCE_TIME(double(c.QuadPart) * 1e7 / double(f.QuadPart));
}

} // namespace

DemuxInputPin::DemuxInputPin(DemuxFilter* filter, CCritSec* lock, HRESULT* phr)
    : CBaseInputPin(L"Demux input", filter, lock, phr, L"MPEG-2 Stream"), demux_(filter) {}

HRESULT DemuxInputPin::CheckMediaType(const CMediaType* pmt) {
    return pmt->majortype == kTypeStream ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE DemuxInputPin::Receive(IMediaSample* sample) {
    HRESULT hr = CBaseInputPin::Receive(sample);
    if (hr != S_OK)
        return hr;
    std::span<const uint8_t> bytes = sampleBytes(sample);
    if (!bytes.empty())
        demux_->Process(bytes.data(), bytes.size());
    return S_OK;
}

HRESULT STDMETHODCALLTYPE DemuxInputPin::EndOfStream() {
    return S_OK;
}

HRESULT STDMETHODCALLTYPE DemuxInputPin::BeginFlush() {
    HRESULT hr = CBaseInputPin::BeginFlush();
    demux_->ResetStreams();
    return hr;
}

HRESULT STDMETHODCALLTYPE DemuxInputPin::EndFlush() {
    return CBaseInputPin::EndFlush();
}

DemuxOutputPin::DemuxOutputPin(DemuxFilter* filter, CCritSec* lock, HRESULT* phr,
                               const wchar_t* name, const AM_MEDIA_TYPE& type)
    : CBaseOutputPin(L"Demux output", filter, lock, phr, name), demux_(filter), type_(type) {}

HRESULT STDMETHODCALLTYPE DemuxOutputPin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (riid == __uuidof(IMPEG2PIDMap))
        return GetInterface(static_cast<IMPEG2PIDMap*>(this), ppv);
    return CBaseOutputPin::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT DemuxOutputPin::CheckMediaType(const CMediaType* pmt) {
    if (pmt->majortype != type_.majortype)
        return S_FALSE;
    if (pmt->subtype != GUID_NULL && type_.subtype != GUID_NULL && pmt->subtype != type_.subtype)
        return S_FALSE;
    return S_OK;
}

HRESULT DemuxOutputPin::GetMediaType(int position, CMediaType* pmt) {
    if (position < 0)
        return E_INVALIDARG;
    if (position > 0)
        return VFW_S_NO_MORE_ITEMS;
    *pmt = type_;
    return S_OK;
}

HRESULT DemuxOutputPin::DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* request) {
    // Sections are at most 4096 bytes; a PES payload of a low-rate test picture stays well
    // under a megabyte.
    const bool sections = type_.majortype == kTypeMpeg2Sections;
    return requestBuffers(alloc, request, sections ? 4096 : 1 << 20);
}

HRESULT STDMETHODCALLTYPE DemuxOutputPin::MapPID(ULONG count, ULONG* pids,
                                                 MEDIA_SAMPLE_CONTENT content) {
    if (!pids && count)
        return E_POINTER;
    if (content > MEDIA_TRANSPORT_PAYLOAD)
        return E_INVALIDARG;
    for (ULONG i = 0; i < count; ++i) {
        if (pids[i] > 0x1FFF)
            return E_INVALIDARG;
    }
    const std::string name = narrow(Name());
    CAutoLock lock(demux_->MapLock());
    for (ULONG i = 0; i < count; ++i) {
        PidRoute route;
        route.content = content;
        routes_[uint16_t(pids[i])] = std::move(route);
        discontinuity_ = true;
        trace("map %s %lu %s", name.c_str(), pids[i], contentName(content));
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE DemuxOutputPin::UnmapPID(ULONG count, ULONG* pids) {
    if (!pids && count)
        return E_POINTER;
    const std::string name = narrow(Name());
    CAutoLock lock(demux_->MapLock());
    HRESULT hr = S_OK;
    for (ULONG i = 0; i < count; ++i) {
        trace("unmap %s %lu", name.c_str(), pids[i]);
        if (routes_.erase(uint16_t(pids[i])) == 0)
            hr = E_INVALIDARG;
    }
    return hr;
}

HRESULT STDMETHODCALLTYPE DemuxOutputPin::EnumPIDMap(IEnumPIDMap** out) {
    if (!out)
        return E_POINTER;
    std::vector<PID_MAP> entries;
    {
        CAutoLock lock(demux_->MapLock());
        for (const auto& [pid, route] : routes_)
            entries.push_back({pid, route.content});
    }
    auto* e = new PidMapEnum(std::move(entries));
    return e->NonDelegatingQueryInterface(__uuidof(IEnumPIDMap), reinterpret_cast<void**>(out));
}

CUnknown* DemuxFilter::CreateInstance(IUnknown* outer, HRESULT* phr) {
    return new DemuxFilter(outer, phr);
}

DemuxFilter::DemuxFilter(IUnknown* outer, HRESULT* phr)
    : CBaseFilter(L"Demultiplexeur de test", outer, &lock_, kClsidMpeg2Demultiplexer),
      input_(std::make_unique<DemuxInputPin>(this, &lock_, phr)) {}

DemuxFilter::~DemuxFilter() = default;

HRESULT STDMETHODCALLTYPE DemuxFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (riid == __uuidof(IMpeg2Demultiplexer))
        return GetInterface(static_cast<IMpeg2Demultiplexer*>(this), ppv);
    return CBaseFilter::NonDelegatingQueryInterface(riid, ppv);
}

int DemuxFilter::GetPinCount() {
    CAutoLock lock(&lock_);
    return 1 + int(outputs_.size());
}

CBasePin* DemuxFilter::GetPin(int index) {
    CAutoLock lock(&lock_);
    if (index == 0)
        return input_.get();
    if (index > 0 && size_t(index) <= outputs_.size())
        return outputs_[size_t(index) - 1].get();
    return nullptr;
}

HRESULT STDMETHODCALLTYPE DemuxFilter::Stop() {
    HRESULT hr = CBaseFilter::Stop();
    {
        CAutoLock map(&mapLock_);
        running_ = false;
        pausedStreamTime_ = 0;
    }
    ResetStreams();
    return hr;
}

// The source delivers while the graph is paused, before it runs: stream time then stands
// still (at 0 after a stop), so that what arrives first is stamped for the start of the
// run instead of for a time taken from the performance counter's origin.
HRESULT STDMETHODCALLTYPE DemuxFilter::Pause() {
    {
        CAutoLock map(&mapLock_);
        if (running_)
            pausedStreamTime_ = streamTimeNow();
        running_ = false;
    }
    return CBaseFilter::Pause();
}

HRESULT STDMETHODCALLTYPE DemuxFilter::Run(REFERENCE_TIME start) {
    // Stream time is the graph clock's time less `start`; it reaches 0 when the clock reaches
    // `start`, which may lie a little ahead of now. The clock is read under the filter's lock
    // before mapLock_ is taken, never inside it: the base Run holds the filter's lock when it
    // calls Pause, which takes mapLock_.
    REFERENCE_TIME ahead = 0;
    {
        CAutoLock state(&lock_);
        REFERENCE_TIME clockNow = 0;
        if (m_pClock && SUCCEEDED(m_pClock->GetTime(&clockNow)))
            ahead = start - clockNow;
    }
    {
        CAutoLock map(&mapLock_);
        runStart_ = now100ns() + ahead - pausedStreamTime_;
        running_ = true;
    }
    return CBaseFilter::Run(start);
}

REFERENCE_TIME DemuxFilter::streamTimeNow() const {
    return running_ ? now100ns() - runStart_ : pausedStreamTime_;
}

HRESULT STDMETHODCALLTYPE DemuxFilter::CreateOutputPin(AM_MEDIA_TYPE* type, LPWSTR name,
                                                       IPin** pin) {
    if (!type || !name || !pin)
        return E_POINTER;
    *pin = nullptr;
    CAutoLock lock(&lock_);
    for (const auto& out : outputs_) {
        if (wcscmp(out->Name(), name) == 0)
            return E_INVALIDARG;
    }
    HRESULT hr = S_OK;
    auto created = std::make_unique<DemuxOutputPin>(this, &lock_, &hr, name, *type);
    if (FAILED(hr))
        return hr;
    outputs_.push_back(std::move(created));
    IncrementPinVersion();
    *pin = outputs_.back().get();
    (*pin)->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE DemuxFilter::SetOutputPinMediaType(LPWSTR name, AM_MEDIA_TYPE* type) {
    if (!name || !type)
        return E_POINTER;
    CAutoLock lock(&lock_);
    for (const auto& out : outputs_) {
        if (wcscmp(out->Name(), name) == 0) {
            if (out->IsConnected())
                return VFW_E_ALREADY_CONNECTED;
            out->SetType(*type);
            out->IncrementTypeVersion();
            return S_OK;
        }
    }
    return E_INVALIDARG;
}

HRESULT STDMETHODCALLTYPE DemuxFilter::DeleteOutputPin(LPWSTR name) {
    if (!name)
        return E_POINTER;
    CAutoLock lock(&lock_);
    if (m_State != State_Stopped)
        return VFW_E_NOT_STOPPED;
    for (auto it = outputs_.begin(); it != outputs_.end(); ++it) {
        if (wcscmp((*it)->Name(), name) == 0) {
            if ((*it)->IsConnected())
                return VFW_E_ALREADY_CONNECTED;
            outputs_.erase(it);
            IncrementPinVersion();
            return S_OK;
        }
    }
    return E_INVALIDARG;
}

void DemuxFilter::notePcr(uint64_t pcr) {
    // A loop of the played file or a retune makes the clock jump: anchor again.
    if (!anchored_ || pcr < lastPcr_ || pcr - lastPcr_ > 27000000ULL) {
        anchored_ = true;
        anchorPcr_ = pcr;
        anchorTime_ = streamTimeNow();
        for (auto& out : outputs_)
            out->MarkDiscontinuity();
    }
    lastPcr_ = pcr;
}

void DemuxFilter::finishPes(DemuxOutputPin* pin, PidRoute& route, std::vector<Delivery>& out) {
    const std::vector<uint8_t>& pes = route.pes;
    if (pes.size() < 9 || pes[0] != 0 || pes[1] != 0 || pes[2] != 1)
        return;
    Delivery d;
    d.pin = pin;
    size_t offset = 6;
    if (hasOptionalHeader(pes[3])) {
        offset = 9 + size_t(pes[8]);
        if (offset > pes.size())
            return;
        if ((pes[7] & 0x80) && pes.size() >= 14 && anchored_) {
            int64_t pts27 = int64_t(readTimestamp(&pes[9])) * 300;
            int64_t diff = pts27 - int64_t(anchorPcr_);
            // 33-bit wrap of the time stamps.
            const int64_t span = (int64_t(1) << 33) * 300;
            if (diff > span / 2)
                diff -= span;
            else if (diff < -span / 2)
                diff += span;
            d.timed = true;
            d.start = anchorTime_ + diff * 10 / 27;
        }
    }
    size_t declared = (size_t(pes[4]) << 8) | pes[5];
    size_t end = declared ? std::min(pes.size(), declared + 6) : pes.size();
    if (end <= offset)
        return;
    d.bytes.assign(pes.begin() + long(offset), pes.begin() + long(end));
    d.discontinuity = pin->TakeDiscontinuity();
    out.push_back(std::move(d));
}

void DemuxFilter::route(const TsPacket& packet, std::vector<Delivery>& out) {
    if (packet.transportError)
        return;
    if (packet.pcr)
        notePcr(*packet.pcr);
    for (auto& pin : outputs_) {
        auto found = pin->Routes().find(packet.pid);
        if (found == pin->Routes().end())
            continue;
        PidRoute& route = found->second;
        DemuxOutputPin* target = pin.get();
        switch (route.content) {
        case MEDIA_MPEG2_PSI:
            route.sections.push(packet, [&](const uint8_t* section, size_t size) {
                if (!route.sectionTraced) {
                    route.sectionTraced = true;
                    trace("section %s %u %x", narrow(target->Name()).c_str(), unsigned(packet.pid),
                          unsigned(section[0]));
                }
                Delivery d;
                d.pin = target;
                d.bytes.assign(section, section + size);
                d.mediaTime = packet.pid;
                out.push_back(std::move(d));
            });
            break;
        case MEDIA_TRANSPORT_PACKET: {
            const uint8_t* end = packet.hasPayload ? packet.payload + packet.payloadSize
                                                   : packet.adaptation + packet.adaptationSize;
            if (!end)
                break;
            Delivery d;
            d.pin = target;
            d.bytes.assign(end - kTsPacketSize, end);
            out.push_back(std::move(d));
            break;
        }
        case MEDIA_TRANSPORT_PAYLOAD:
            if (packet.hasPayload && packet.payloadSize) {
                Delivery d;
                d.pin = target;
                d.bytes.assign(packet.payload, packet.payload + packet.payloadSize);
                out.push_back(std::move(d));
            }
            break;
        case MEDIA_ELEMENTARY_STREAM:
        default: {
            if (!packet.hasPayload)
                break;
            int cc = packet.continuityCounter;
            if (route.lastCounter >= 0 && cc == route.lastCounter)
                break; // a repeated packet
            bool lost = route.lastCounter >= 0 && cc != ((route.lastCounter + 1) & 0x0F);
            route.lastCounter = cc;
            if (lost || packet.scrambling) {
                route.pes.clear();
                route.pesBroken = true;
            }
            if (packet.payloadUnitStart) {
                if (!route.pesBroken)
                    finishPes(target, route, out);
                route.pes.assign(packet.payload, packet.payload + packet.payloadSize);
                route.pesBroken = false;
            } else if (!route.pesBroken) {
                route.pes.insert(route.pes.end(), packet.payload,
                                 packet.payload + packet.payloadSize);
            }
            // A PES of known length is complete without waiting for the next one.
            if (!route.pesBroken && route.pes.size() >= 6) {
                size_t declared = (size_t(route.pes[4]) << 8) | route.pes[5];
                if (declared && route.pes.size() >= declared + 6) {
                    finishPes(target, route, out);
                    route.pes.clear();
                    route.pesBroken = true;
                }
            }
            if (route.pes.size() > (8u << 20)) {
                route.pes.clear();
                route.pesBroken = true;
            }
            break;
        }
        }
    }
}

HRESULT DemuxFilter::Process(const uint8_t* data, size_t size) {
    CAutoLock receive(&receiveLock_);
    std::vector<Delivery> deliveries;
    {
        CAutoLock map(&mapLock_);
        if (resetPending_.exchange(false)) {
            splitter_.reset();
            anchored_ = false;
            for (auto& out : outputs_) {
                out->MarkDiscontinuity();
                for (auto& [pid, route] : out->Routes()) {
                    route.sections.reset();
                    route.pes.clear();
                    route.pesBroken = true;
                    route.lastCounter = -1;
                }
            }
        }
        splitter_.push(data, size, [&](const TsPacket& p) { route(p, deliveries); });
    }
    for (Delivery& d : deliveries) {
        if (!d.pin->IsConnected())
            continue;
        IMediaSample* raw = nullptr;
        if (FAILED(d.pin->GetDeliveryBuffer(&raw, nullptr, nullptr, 0)) || !raw)
            continue;
        ComPtr<IMediaSample> sample = ComPtr<IMediaSample>::adopt(raw);
        BYTE* buffer = nullptr;
        if (FAILED(sample->GetPointer(&buffer)) || d.bytes.size() > size_t(sample->GetSize()))
            continue;
        std::memcpy(buffer, d.bytes.data(), d.bytes.size());
        sample->SetActualDataLength(long(d.bytes.size()));
        if (d.timed) {
            REFERENCE_TIME start = d.start;
            REFERENCE_TIME stop = d.start + 1;
            sample->SetTime(&start, &stop);
        } else {
            sample->SetTime(nullptr, nullptr);
        }
        if (d.mediaTime >= 0) {
            LONGLONG at = d.mediaTime;
            LONGLONG after = d.mediaTime + 1;
            sample->SetMediaTime(&at, &after);
        }
        sample->SetSyncPoint(TRUE);
        sample->SetDiscontinuity(d.discontinuity ? TRUE : FALSE);
        d.pin->Deliver(sample.get());
    }
    return S_OK;
}

} // namespace korvane::testbed
