#pragma once

// Stand-in for the platform's sections-and-tables filter: an input connected to a
// demultiplexer section output, and IMpeg2Data::GetSection, which maps the asked PID on
// that output, waits for the first section of the asked table and unmaps the PID again.

#include "dshow/base_filter.h"
#include "dshow/base_pin.h"
#include "testbed_guids.h"

#include <memory>
#include <vector>

namespace korvane::testbed {

class SectionReader;

class SectionReaderInputPin : public CBaseInputPin {
  public:
    SectionReaderInputPin(SectionReader* filter, CCritSec* lock, HRESULT* phr);
    HRESULT CheckMediaType(const CMediaType* pmt) override;
    HRESULT STDMETHODCALLTYPE Receive(IMediaSample* sample) override;
    HRESULT STDMETHODCALLTYPE EndOfStream() override { return S_OK; }

  private:
    SectionReader* reader_;
};

// One section handed to the caller; it owns a copy of the bytes.
class SectionList : public CUnknown, public ISectionList {
  public:
    SectionList(PID pid, std::vector<uint8_t> section);
    DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
    HRESULT STDMETHODCALLTYPE Initialize(MPEG_REQUEST_TYPE, IMpeg2Data*, PMPEG_CONTEXT, PID, TID,
                                         PMPEG2_FILTER, DWORD, HANDLE) override;
    HRESULT STDMETHODCALLTYPE InitializeWithRawSections(PMPEG_PACKET_LIST) override;
    HRESULT STDMETHODCALLTYPE CancelPendingRequest() override;
    HRESULT STDMETHODCALLTYPE GetNumberOfSections(WORD* count) override;
    HRESULT STDMETHODCALLTYPE GetSectionData(WORD number, DWORD* length,
                                             PSECTION* section) override;
    HRESULT STDMETHODCALLTYPE GetProgramIdentifier(PID* pid) override;
    HRESULT STDMETHODCALLTYPE GetTableIdentifier(TID* tid) override;

  private:
    PID pid_;
    std::vector<uint8_t> bytes_;
};

class SectionReader : public CBaseFilter, public IMpeg2Data {
  public:
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* phr);
    ~SectionReader() override;
    DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int index) override { return index == 0 ? input_.get() : nullptr; }

    // IMpeg2Data
    HRESULT STDMETHODCALLTYPE GetSection(PID pid, TID tid, PMPEG2_FILTER filter, DWORD timeoutMs,
                                         ISectionList** list) override;
    HRESULT STDMETHODCALLTYPE GetTable(PID pid, TID tid, PMPEG2_FILTER filter, DWORD timeoutMs,
                                       ISectionList** list) override;
    HRESULT STDMETHODCALLTYPE GetStreamOfSections(PID, TID, PMPEG2_FILTER, HANDLE,
                                                  IUnknown**) override;

    // Streaming thread: one section from the demultiplexer.
    void OnSection(LONGLONG pid, const uint8_t* data, size_t size);

  private:
    SectionReader(IUnknown* outer, HRESULT* phr);
    struct Request {
        PID pid;
        TID tid;
        bool matchExtension;
        WORD extension;
        HANDLE done;
        std::vector<uint8_t> section;
    };
    CCritSec lock_;
    CCritSec requestLock_; // guards requests_ and ownMaps_
    std::vector<Request*> requests_;
    std::vector<PID> ownMaps_; // PIDs this reader mapped for its requests
    std::unique_ptr<SectionReaderInputPin> input_;
};

} // namespace korvane::testbed
