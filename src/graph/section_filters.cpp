#include "graph/section_filters.h"

#include "graph/platform_guids.h"
#include "si/eit.h"
#include "si/pmt.h"

namespace korvane {

namespace {

HRESULT acceptSections(const CMediaType* pmt) {
    if (!pmt)
        return E_POINTER;
    return *pmt->Type() == kMediaTypeMpeg2Sections ? S_OK : E_FAIL;
}

// The sample's bytes and actual length; a sample without data gives an empty view.
struct SampleBytes {
    const uint8_t* data = nullptr;
    std::size_t length = 0;
};

SampleBytes sampleBytes(IMediaSample* sample) {
    SampleBytes bytes;
    BYTE* data = nullptr;
    if (!sample || FAILED(sample->GetPointer(&data)) || !data)
        return bytes;
    long length = sample->GetActualDataLength();
    // The actual length never exceeds the buffer it was written into.
    long size = sample->GetSize();
    if (length <= 0)
        return bytes;
    if (size >= 0 && length > size)
        length = size;
    bytes.data = data;
    bytes.length = static_cast<std::size_t>(length);
    return bytes;
}

} // namespace

CEPGFilter::CEPGFilter(REFCLSID clsid, HRESULT* phr, ChannelList& channels,
                       WindowNotifier& notifier, const TimeConverter& clock)
    : CBaseRenderer(clsid, L"Mon filtre EPG", nullptr, phr), channels_(channels),
      notifier_(notifier), clock_(clock) {}

CEPGFilter::~CEPGFilter() = default;

HRESULT CEPGFilter::CheckMediaType(const CMediaType* pmt) {
    return acceptSections(pmt);
}

HRESULT CEPGFilter::DoRenderSample(IMediaSample* sample) {
    SampleBytes bytes = sampleBytes(sample);
    handleEitSample(channels_, notifier_, clock_, bytes.data, bytes.length);
    return S_OK;
}

CPMTFilter::CPMTFilter(REFCLSID clsid, HRESULT* phr, ChannelList& channels,
                       WindowNotifier& notifier, ChannelFileSaver& saver)
    : CBaseRenderer(clsid, L"Mon filtre PMT", nullptr, phr), channels_(channels),
      notifier_(notifier), saver_(saver) {}

CPMTFilter::~CPMTFilter() = default;

HRESULT CPMTFilter::CheckMediaType(const CMediaType* pmt) {
    return acceptSections(pmt);
}

HRESULT CPMTFilter::DoRenderSample(IMediaSample* sample) {
    SampleBytes bytes = sampleBytes(sample);
    handlePmtSample(channels_, notifier_, saver_, bytes.data, bytes.length);
    return S_OK;
}

} // namespace korvane
