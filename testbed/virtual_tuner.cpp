#include "virtual_tuner.h"

#include "allocator_size.h"
#include "dshow/com_ptr.h"
#include "si/ts_packet.h"
#include "testbed_settings.h"

#include <cwchar>

namespace korvane::testbed {

namespace {

constexpr long kChunk = 188 * 64;

double wallClockSeconds() {
    LARGE_INTEGER f, c;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&c);
    return double(c.QuadPart) / double(f.QuadPart);
}

// The last PCR of the packets in a chunk, 27 MHz units; the chunk may start or end in the
// middle of a packet, or hold garbage after a loss of synchronisation.
bool lastPcr(const uint8_t* data, size_t size, uint64_t& pcr) {
    bool found = false;
    size_t pos = 0;
    while (pos + kTsPacketSize <= size) {
        if (data[pos] != kTsSyncByte) {
            ++pos;
            continue;
        }
        auto packet = parseTsPacket(data + pos, kTsPacketSize);
        if (packet && packet->pcr) {
            pcr = *packet->pcr;
            found = true;
        }
        pos += packet ? kTsPacketSize : 1;
    }
    return found;
}

} // namespace

std::wstring testbedFolder() {
    std::wstring folder = testbedSetting(L"KORVANE_TESTBED_DIR", L"Dossier");
    if (folder.empty()) {
        HMODULE self = nullptr;
        GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                               GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           reinterpret_cast<LPCWSTR>(&testbedFolder), &self);
        wchar_t path[MAX_PATH] = {};
        DWORD n = GetModuleFileNameW(self, path, MAX_PATH);
        folder.assign(path, n);
        size_t slash = folder.find_last_of(L"\\/");
        folder =
            (slash == std::wstring::npos ? std::wstring() : folder.substr(0, slash)) + L"\\muxes";
    }
    return folder;
}

double testbedSpeed() {
    std::wstring text = testbedSetting(L"KORVANE_TESTBED_SPEED", L"Vitesse");
    double speed = text.empty() ? 1.0 : std::wcstod(text.c_str(), nullptr);
    return speed >= 0.01 && speed <= 1000 ? speed : 1.0;
}

AntennaPin::AntennaPin(VirtualTuner* filter, CCritSec* lock, HRESULT* phr)
    : CBaseInputPin(L"Antenna input", filter, lock, phr, L"Antenne") {}

HRESULT AntennaPin::CheckMediaType(const CMediaType* pmt) {
    return pmt->majortype == kTypeBdaAntenna ? S_OK : S_FALSE;
}

TransportStream::TransportStream(HRESULT* phr, VirtualTuner* filter, const GUID& subtype)
    : CSourceStream(L"Transport stream", phr, filter, L"MPEG-2 Transport"), tuner_(filter),
      subtype_(subtype) {}

TransportStream::~TransportStream() {
    if (file_)
        std::fclose(file_);
    if (signalLoss_)
        CloseHandle(signalLoss_);
}

// A test pulls the antenna by setting the manual-reset event kSignalLossEvent and plugs it
// back by resetting it. The event is looked for until a test has created it. Each look is a
// server call under Wine, so the answer is kept for a few buffers' time.
bool TransportStream::signalLost() {
    const ULONGLONG now = GetTickCount64();
    if (now - signalCheckedAt_ < 50)
        return lost_;
    signalCheckedAt_ = now;
    if (!signalLoss_) {
        const std::wstring name =
            std::wstring(kSignalLossEvent) + L"-" + std::to_wstring(GetCurrentProcessId());
        signalLoss_ = OpenEventW(SYNCHRONIZE, FALSE, name.c_str());
    }
    lost_ = signalLoss_ && WaitForSingleObject(signalLoss_, 0) == WAIT_OBJECT_0;
    return lost_;
}

HRESULT TransportStream::GetMediaType(CMediaType* pmt) {
    pmt->InitMediaType();
    pmt->SetType(&kTypeStream);
    pmt->SetSubtype(&subtype_);
    pmt->SetSampleSize(kChunk);
    return S_OK;
}

HRESULT TransportStream::CheckMediaType(const CMediaType* pmt) {
    return pmt->majortype == kTypeStream && pmt->subtype == subtype_ ? S_OK : S_FALSE;
}

HRESULT TransportStream::DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* request) {
    return requestBuffers(alloc, request, kChunk);
}

HRESULT TransportStream::OnThreadStartPlay() {
    referenced_ = false;
    return S_OK;
}

bool TransportStream::waitUntil(double wallSeconds) {
    for (;;) {
        DWORD request = 0;
        if (CheckRequest(&request))
            return false;
        double left = wallSeconds - wallClockSeconds();
        if (left <= 0)
            return true;
        Sleep(DWORD(std::min(left * 1000.0, 20.0)) + 1);
    }
}

void TransportStream::reopen(const std::wstring& path) {
    if (file_)
        std::fclose(file_);
    file_ = path.empty() ? nullptr : _wfopen(path.c_str(), L"rb");
    referenced_ = false;
}

HRESULT TransportStream::FillBuffer(IMediaSample* sample) {
    BYTE* buffer = nullptr;
    if (FAILED(sample->GetPointer(&buffer)))
        return E_FAIL;
    sample->SetActualDataLength(0);
    sample->SetTime(nullptr, nullptr);
    {
        TuningState& t = tuner_->Tuning();
        CAutoLock lock(&t.lock);
        speed_ = t.speed;
        if (t.generation != generation_) {
            generation_ = t.generation;
            reopen(t.path);
            // Data of the previous frequency must not run into the new one.
            sample->SetDiscontinuity(TRUE);
        }
    }
    if (signalLost()) {
        // The broadcast goes on meanwhile: when the signal comes back, delivery is paced
        // from then on, not hurried to catch up.
        referenced_ = false;
        waitUntil(wallClockSeconds() + 0.02);
        return S_OK;
    }
    if (!file_) {
        // No signal: nothing to deliver; look again shortly.
        waitUntil(wallClockSeconds() + 0.02);
        return S_OK;
    }
    size_t got = std::fread(buffer, 1, size_t(std::min<long>(kChunk, sample->GetSize())), file_);
    if (got == 0) {
        // End of the recording: play it again from the start.
        std::rewind(file_);
        got = std::fread(buffer, 1, size_t(std::min<long>(kChunk, sample->GetSize())), file_);
        if (got == 0) {
            waitUntil(wallClockSeconds() + 0.02);
            return S_OK;
        }
    }
    sample->SetActualDataLength(long(got));
    uint64_t pcr = 0;
    if (lastPcr(buffer, got, pcr)) {
        // The file's clock paces delivery; a loop or a jump takes a new reference.
        if (!referenced_ || pcr < lastPcr_ || pcr - lastPcr_ > 27000000ULL * 2) {
            referenced_ = true;
            refPcr_ = pcr;
            refWall_ = wallClockSeconds();
        }
        lastPcr_ = pcr;
        double due = refWall_ + double(pcr - refPcr_) / 27e6 / speed_;
        waitUntil(due);
    }
    return S_OK;
}

TunerFaults TunerFaults::current() {
    TunerFaults faults;
    faults.noDeviceControl = faultActive(Fault::TunerNoDeviceControl);
    faults.noTopology = faultActive(Fault::TunerNoTopology);
    faults.noStatisticsNode = faultActive(Fault::TunerNoStatisticsNode);
    faults.frequencyOnTwoNodes = faultActive(Fault::TunerFrequencyOnTwoNodes);
    faults.statisticsFail = faultActive(Fault::TunerStatisticsFail);
    faults.runFails = faultActive(Fault::TunerRunFails);
    return faults;
}

HRESULT STDMETHODCALLTYPE DemodulatorNode::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (riid == __uuidof(IBDA_FrequencyFilter))
        return GetInterface(static_cast<IBDA_FrequencyFilter*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT DemodulatorNode::answer(ULONG* out, ULONG value) {
    if (!out)
        return E_POINTER;
    *out = value;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE DemodulatorNode::put_Frequency(ULONG frequency) {
    InterlockedExchange(&frequency_, LONG(frequency));
    return S_OK;
}

HRESULT STDMETHODCALLTYPE DemodulatorNode::get_Frequency(ULONG* frequency) {
    return answer(frequency, ULONG(InterlockedCompareExchange(&frequency_, 0, 0)));
}

HRESULT STDMETHODCALLTYPE DemodulatorNode::get_Polarity(Polarisation* p) {
    if (!p)
        return E_POINTER;
    *p = BDA_POLARISATION_NOT_SET;
    return S_OK;
}

CUnknown* VirtualTuner::CreateUsb(IUnknown* outer, HRESULT* phr) {
    return new VirtualTuner(outer, phr, kClsidUsbTuner, kSubtypeBdaTransport);
}

CUnknown* VirtualTuner::CreateCard(IUnknown* outer, HRESULT* phr) {
    return new VirtualTuner(outer, phr, kClsidCardTuner, kSubtypeMpeg2Transport);
}

VirtualTuner::VirtualTuner(IUnknown* outer, HRESULT* phr, REFCLSID clsid, const GUID& subtype)
    : CSource(L"Tuner virtuel", outer, clsid, phr), faults_(TunerFaults::current()),
      antenna_(std::make_unique<AntennaPin>(this, &m_cStateLock, phr)) {
    // The stream registers itself with the filter, which deletes it.
    new TransportStream(phr, this, subtype);
}

VirtualTuner::~VirtualTuner() = default;

HRESULT STDMETHODCALLTYPE VirtualTuner::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (riid == __uuidof(IBDA_Topology) && !faults_.noTopology)
        return GetInterface(static_cast<IBDA_Topology*>(this), ppv);
    if (riid == __uuidof(IBDA_DeviceControl) && !faults_.noDeviceControl)
        return GetInterface(static_cast<IBDA_DeviceControl*>(this), ppv);
    if (riid == __uuidof(IBDA_FrequencyFilter))
        return GetInterface(static_cast<IBDA_FrequencyFilter*>(this), ppv);
    if (riid == __uuidof(IBDA_SignalStatistics))
        return GetInterface(static_cast<IBDA_SignalStatistics*>(this), ppv);
    return CSource::NonDelegatingQueryInterface(riid, ppv);
}

CBasePin* VirtualTuner::GetPin(int index) {
    if (index == 0)
        return antenna_.get();
    return index == 1 ? CSource::GetPin(0) : nullptr;
}

HRESULT STDMETHODCALLTYPE VirtualTuner::Pause() {
    if (faults_.runFails)
        return E_FAIL;
    return CSource::Pause();
}

HRESULT STDMETHODCALLTYPE VirtualTuner::Run(REFERENCE_TIME start) {
    if (faults_.runFails)
        return E_FAIL;
    return CSource::Run(start);
}

// Node 0 is the RF tuner (frequency and signal), node 1 the demodulator (signal only). The
// fault switches take the signal away from both, or list the frequency on the demodulator
// too.
ULONG VirtualTuner::nodeTypeCount() const {
    return faults_.noStatisticsNode && !faults_.frequencyOnTwoNodes ? 1 : 2;
}

std::vector<GUID> VirtualTuner::nodeInterfaces(ULONG nodeType) const {
    std::vector<GUID> list;
    if (nodeType == 0) {
        list.push_back(__uuidof(IBDA_FrequencyFilter));
        if (!faults_.noStatisticsNode)
            list.push_back(__uuidof(IBDA_SignalStatistics));
    } else if (nodeType == 1 && nodeType < nodeTypeCount()) {
        if (faults_.frequencyOnTwoNodes)
            list.push_back(__uuidof(IBDA_FrequencyFilter));
        else
            list.push_back(__uuidof(IBDA_SignalStatistics));
    }
    return list;
}

HRESULT STDMETHODCALLTYPE VirtualTuner::GetNodeTypes(ULONG* count, ULONG max, ULONG types[]) {
    if (!count || (max && !types))
        return E_POINTER;
    const ULONG total = nodeTypeCount();
    *count = std::min<ULONG>(total, max);
    for (ULONG i = 0; i < *count; ++i)
        types[i] = i;
    return max >= total ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE VirtualTuner::GetNodeDescriptors(ULONG* count, ULONG,
                                                           BDANODE_DESCRIPTOR[]) {
    if (!count)
        return E_POINTER;
    *count = 0;
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE VirtualTuner::GetNodeInterfaces(ULONG nodeType, ULONG* count, ULONG max,
                                                          GUID interfaces[]) {
    if (!count || (max && !interfaces))
        return E_POINTER;
    std::vector<GUID> list = nodeInterfaces(nodeType);
    if (list.empty())
        return E_INVALIDARG;
    *count = std::min<ULONG>(ULONG(list.size()), max);
    for (ULONG i = 0; i < *count; ++i)
        interfaces[i] = list[i];
    return max >= list.size() ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE VirtualTuner::GetPinTypes(ULONG* count, ULONG max, ULONG types[]) {
    if (!count || (max && !types))
        return E_POINTER;
    *count = std::min<ULONG>(2, max);
    for (ULONG i = 0; i < *count; ++i)
        types[i] = i;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE VirtualTuner::GetTemplateConnections(ULONG* count, ULONG max,
                                                               BDA_TEMPLATE_CONNECTION conns[]) {
    if (!count || (max && !conns))
        return E_POINTER;
    *count = 0;
    if (max >= 1) {
        conns[0] = {0, 0, 1, 0};
        *count = 1;
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE VirtualTuner::GetControlNode(ULONG inputPin, ULONG outputPin,
                                                       ULONG nodeType, IUnknown** node) {
    if (!node)
        return E_POINTER;
    *node = nullptr;
    if (inputPin != 0 || outputPin != 1 || nodeType >= nodeTypeCount())
        return E_INVALIDARG;
    if (nodeType == 1 && faults_.frequencyOnTwoNodes)
        return (new DemodulatorNode)
            ->NonDelegatingQueryInterface(IID_IUnknown, reinterpret_cast<void**>(node));
    *node = static_cast<IBDA_Topology*>(this);
    (*node)->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE VirtualTuner::StartChanges() {
    CAutoLock lock(&tuning_.lock);
    changing_ = true;
    tuning_.pendingFrequency = tuning_.frequency;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE VirtualTuner::CheckChanges() {
    CAutoLock lock(&tuning_.lock);
    return tuning_.pendingFrequency != 0 ? S_OK : E_FAIL;
}

HRESULT STDMETHODCALLTYPE VirtualTuner::CommitChanges() {
    std::wstring folder = testbedFolder();
    double speed = testbedSpeed();
    CAutoLock lock(&tuning_.lock);
    tuning_.speed = speed;
    changing_ = false;
    tuning_.frequency = tuning_.pendingFrequency;
    ULONG khz = ULONG(uint64_t(tuning_.frequency) * tuning_.multiplier / 1000);
    std::wstring path = folder + L"\\" + std::to_wstring(khz) + L".ts";
    tuning_.signal = khz != 0 && GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
    tuning_.path = tuning_.signal ? path : std::wstring();
    ++tuning_.generation;
    trace("tune %lu", static_cast<unsigned long>(khz));
    return S_OK;
}

HRESULT STDMETHODCALLTYPE VirtualTuner::GetChangeState(ULONG* state) {
    if (!state)
        return E_POINTER;
    CAutoLock lock(&tuning_.lock);
    *state = changing_ ? BDA_CHANGES_PENDING : BDA_CHANGES_COMPLETE;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE VirtualTuner::get_Autotune(ULONG* v) {
    if (!v)
        return E_POINTER;
    *v = 0;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE VirtualTuner::put_Frequency(ULONG frequency) {
    CAutoLock lock(&tuning_.lock);
    tuning_.pendingFrequency = frequency;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE VirtualTuner::get_Frequency(ULONG* frequency) {
    if (!frequency)
        return E_POINTER;
    CAutoLock lock(&tuning_.lock);
    *frequency = tuning_.frequency;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE VirtualTuner::get_Polarity(Polarisation* p) {
    if (!p)
        return E_POINTER;
    *p = BDA_POLARISATION_NOT_SET;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE VirtualTuner::get_Range(ULONG* v) {
    if (!v)
        return E_POINTER;
    *v = 0;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE VirtualTuner::put_Bandwidth(ULONG mhz) {
    if (mhz != 6 && mhz != 7 && mhz != 8)
        return E_INVALIDARG;
    CAutoLock lock(&tuning_.lock);
    tuning_.bandwidth = mhz;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE VirtualTuner::get_Bandwidth(ULONG* mhz) {
    if (!mhz)
        return E_POINTER;
    CAutoLock lock(&tuning_.lock);
    *mhz = tuning_.bandwidth;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE VirtualTuner::put_FrequencyMultiplier(ULONG m) {
    if (m == 0)
        return E_INVALIDARG;
    CAutoLock lock(&tuning_.lock);
    tuning_.multiplier = m;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE VirtualTuner::get_FrequencyMultiplier(ULONG* m) {
    if (!m)
        return E_POINTER;
    CAutoLock lock(&tuning_.lock);
    *m = tuning_.multiplier;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE VirtualTuner::get_SignalStrength(LONG* strength) {
    if (!strength)
        return E_POINTER;
    if (faults_.statisticsFail)
        return E_FAIL;
    CAutoLock lock(&tuning_.lock);
    *strength = tuning_.signal ? 80 : 0;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE VirtualTuner::get_SignalQuality(LONG* quality) {
    if (!quality)
        return E_POINTER;
    if (faults_.statisticsFail)
        return E_FAIL;
    CAutoLock lock(&tuning_.lock);
    *quality = tuning_.signal ? 95 : 0;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE VirtualTuner::get_SignalPresent(BOOLEAN* present) {
    if (!present)
        return E_POINTER;
    CAutoLock lock(&tuning_.lock);
    *present = tuning_.signal;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE VirtualTuner::get_SignalLocked(BOOLEAN* locked) {
    if (!locked)
        return E_POINTER;
    CAutoLock lock(&tuning_.lock);
    *locked = tuning_.signal;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE VirtualTuner::get_SampleTime(LONG* ms) {
    if (!ms)
        return E_POINTER;
    *ms = 100;
    return S_OK;
}

} // namespace korvane::testbed
