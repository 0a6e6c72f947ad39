#include "graph/section_filters.h"

#include "dshow/sample_bytes.h"
#include "graph/platform_guids.h"
#include "si/eit.h"
#include "si/pmt.h"
#include "si/psi_ids.h"

namespace korvane {

namespace {

HRESULT acceptSections(const CMediaType* pmt) {
    if (!pmt)
        return E_POINTER;
    return *pmt->Type() == kMediaTypeMpeg2Sections ? S_OK : E_FAIL;
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
    std::span<const uint8_t> bytes = sampleBytes(sample);
    if (!bytes.empty() && bytes[0] == kNitActualTableId) {
        if (nitWatch_.versionChanged(bytes.data(), bytes.size()))
            notifier_.postChannelNumbersChanged();
        return S_OK;
    }
    handleEitSample(channels_, notifier_, clock_, bytes.data(), bytes.size());
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
    std::span<const uint8_t> bytes = sampleBytes(sample);
    handlePmtSample(channels_, notifier_, saver_, bytes.data(), bytes.size());
    return S_OK;
}

} // namespace korvane
