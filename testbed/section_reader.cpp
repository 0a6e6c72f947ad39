#include "section_reader.h"

#include "dshow/com_ptr.h"
#include "dshow/sample_bytes.h"

#include <algorithm>
#include <cstring>

namespace korvane::testbed {

namespace {

uint32_t crc32Mpeg2(const uint8_t* data, size_t size) {
    uint32_t crc = 0xFFFFFFFF;
    for (size_t i = 0; i < size; ++i) {
        crc ^= uint32_t(data[i]) << 24;
        for (int b = 0; b < 8; ++b)
            crc = (crc & 0x80000000) ? (crc << 1) ^ 0x04C11DB7 : crc << 1;
    }
    return crc;
}

// Sections with the long header carry a CRC; a section that fails it is dropped, as the
// platform's reader does.
bool sectionIsSound(const uint8_t* data, size_t size) {
    if (size < 3)
        return false;
    size_t declared = (size_t(data[1] & 0x0F) << 8) | data[2];
    if (declared + 3 != size)
        return false;
    if (!(data[1] & 0x80))
        return true;
    return size >= 12 && crc32Mpeg2(data, size) == 0;
}

} // namespace

SectionReaderInputPin::SectionReaderInputPin(SectionReader* filter, CCritSec* lock, HRESULT* phr)
    : CBaseInputPin(L"Section reader input", filter, lock, phr, L"In"), reader_(filter) {}

HRESULT SectionReaderInputPin::CheckMediaType(const CMediaType* pmt) {
    return pmt->majortype == kTypeMpeg2Sections ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE SectionReaderInputPin::Receive(IMediaSample* sample) {
    HRESULT hr = CBaseInputPin::Receive(sample);
    if (hr != S_OK)
        return hr;
    std::span<const uint8_t> bytes = sampleBytes(sample);
    if (bytes.empty())
        return S_OK;
    LONGLONG start = -1;
    LONGLONG stop = -1;
    if (sample->GetMediaTime(&start, &stop) != S_OK)
        start = -1;
    reader_->OnSection(start, bytes.data(), bytes.size());
    return S_OK;
}

SectionList::SectionList(PID pid, std::vector<uint8_t> section)
    : CUnknown(L"Section list", nullptr), pid_(pid), bytes_(std::move(section)) {}

HRESULT STDMETHODCALLTYPE SectionList::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (riid == kIidSectionList)
        return GetInterface(static_cast<ISectionList*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT STDMETHODCALLTYPE SectionList::Initialize(MPEG_REQUEST_TYPE, IMpeg2Data*, PMPEG_CONTEXT,
                                                  PID, TID, PMPEG2_FILTER, DWORD, HANDLE) {
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE SectionList::InitializeWithRawSections(PMPEG_PACKET_LIST) {
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE SectionList::CancelPendingRequest() {
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SectionList::GetNumberOfSections(WORD* count) {
    if (!count)
        return E_POINTER;
    *count = 1;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SectionList::GetSectionData(WORD number, DWORD* length,
                                                      PSECTION* section) {
    if (!length || !section)
        return E_POINTER;
    if (number != 0)
        return E_INVALIDARG;
    *length = DWORD(bytes_.size());
    *section = reinterpret_cast<PSECTION>(bytes_.data());
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SectionList::GetProgramIdentifier(PID* pid) {
    if (!pid)
        return E_POINTER;
    *pid = pid_;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SectionList::GetTableIdentifier(TID* tid) {
    if (!tid)
        return E_POINTER;
    *tid = bytes_[0];
    return S_OK;
}

CUnknown* SectionReader::CreateInstance(IUnknown* outer, HRESULT* phr) {
    return new SectionReader(outer, phr);
}

SectionReader::SectionReader(IUnknown* outer, HRESULT* phr)
    : CBaseFilter(L"Lecteur de sections de test", outer, &lock_, kClsidMpeg2Data),
      input_(std::make_unique<SectionReaderInputPin>(this, &lock_, phr)) {}

SectionReader::~SectionReader() = default;

HRESULT STDMETHODCALLTYPE SectionReader::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (riid == kIidMpeg2Data)
        return GetInterface(static_cast<IMpeg2Data*>(this), ppv);
    return CBaseFilter::NonDelegatingQueryInterface(riid, ppv);
}

void SectionReader::OnSection(LONGLONG pid, const uint8_t* data, size_t size) {
    if (!sectionIsSound(data, size))
        return;
    CAutoLock lock(&requestLock_);
    for (Request* r : requests_) {
        if (!r->section.empty() || r->tid != data[0])
            continue;
        if (pid >= 0 && pid != r->pid)
            continue; // a section still on its way from a PID asked for earlier
        if (r->matchExtension && (size < 5 || ((data[3] << 8) | data[4]) != r->extension))
            continue;
        r->section.assign(data, data + size);
        SetEvent(r->done);
    }
}

HRESULT STDMETHODCALLTYPE SectionReader::GetSection(PID pid, TID tid, PMPEG2_FILTER filter,
                                                    DWORD timeoutMs, ISectionList** list) {
    if (!list)
        return E_POINTER;
    *list = nullptr;
    if (pid > 0x1FFF)
        return E_INVALIDARG;
    ComPtr<IPin> upstream;
    {
        CAutoLock lock(&lock_);
        if (IPin* peer = input_->GetConnected())
            upstream = ComPtr<IPin>(peer);
    }
    if (!upstream)
        return VFW_E_NOT_CONNECTED;
    ComPtr<IMPEG2PIDMap> map = upstream.as<IMPEG2PIDMap>();
    if (!map)
        return E_NOINTERFACE;

    Request request{pid, tid, false, 0, CreateEventW(nullptr, TRUE, FALSE, nullptr), {}};
    if (!request.done)
        return E_OUTOFMEMORY;
    if (filter && filter->fSpecifyTableIdExtension) {
        request.matchExtension = true;
        request.extension = filter->TableIdExtension;
    }
    {
        CAutoLock lock(&requestLock_);
        requests_.push_back(&request);
    }
    // Requests on one PID (programs sharing a PMT PID) share its mapping: the first maps it
    // unless it was mapped already, the last to leave unmaps what the reader mapped.
    {
        CAutoLock lock(&requestLock_);
        if (std::find(ownMaps_.begin(), ownMaps_.end(), pid) == ownMaps_.end()) {
            ComPtr<IEnumPIDMap> entries;
            bool already = false;
            if (SUCCEEDED(map->EnumPIDMap(entries.put())) && entries) {
                PID_MAP entry;
                ULONG got = 0;
                while (entries->Next(1, &entry, &got) == S_OK && got == 1)
                    already |= entry.ulPID == pid;
            }
            ULONG p = pid;
            if (!already && SUCCEEDED(map->MapPID(1, &p, MEDIA_MPEG2_PSI)))
                ownMaps_.push_back(pid);
        }
    }
    WaitForSingleObject(request.done, timeoutMs);
    {
        CAutoLock lock(&requestLock_);
        std::erase(requests_, &request);
        bool stillWanted = false;
        for (Request* r : requests_)
            stillWanted |= r->pid == pid;
        auto own = std::find(ownMaps_.begin(), ownMaps_.end(), pid);
        if (!stillWanted && own != ownMaps_.end()) {
            ownMaps_.erase(own);
            ULONG p = pid;
            map->UnmapPID(1, &p);
        }
    }
    CloseHandle(request.done);
    if (request.section.empty())
        return HRESULT_FROM_WIN32(ERROR_TIMEOUT);
    auto* result = new SectionList(pid, std::move(request.section));
    return result->NonDelegatingQueryInterface(kIidSectionList, reinterpret_cast<void**>(list));
}

HRESULT STDMETHODCALLTYPE SectionReader::GetTable(PID pid, TID tid, PMPEG2_FILTER filter,
                                                  DWORD timeoutMs, ISectionList** list) {
    // Tables of the test multiplexes fit in one section.
    return GetSection(pid, tid, filter, timeoutMs, list);
}

HRESULT STDMETHODCALLTYPE SectionReader::GetStreamOfSections(PID, TID, PMPEG2_FILTER, HANDLE,
                                                             IUnknown**) {
    return E_NOTIMPL;
}

} // namespace korvane::testbed
