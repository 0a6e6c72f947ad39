#pragma once

#include "channels/channel_list.h"
#include "channels/channel_saver.h"
#include "common/time_convert.h"
#include "dshow/renderer.h"
#include "si/nit_version.h"
#include "si/notifier.h"

namespace korvane {

// The sink of the demultiplexer's "epg" output: every sample is one section; present and
// following EIT sections (0x4E, 0x4F) with a sound CRC go to the guide decoder, the network's
// NIT (0x40) to the watch of its version, which tells the window once when it changes;
// everything else is dropped. Runs on the delivering streaming thread; the borrowed objects must
// outlive the filter (they are process-wide).
class CEPGFilter : public CBaseRenderer {
  public:
    CEPGFilter(REFCLSID clsid, HRESULT* phr, ChannelList& channels, WindowNotifier& notifier,
               const TimeConverter& clock);
    ~CEPGFilter() override;

    HRESULT DoRenderSample(IMediaSample* sample) override;
    // Any section type: major type MEDIATYPE_MPEG2_SECTIONS, whatever the subtype and format.
    HRESULT CheckMediaType(const CMediaType* pmt) override;

  private:
    ChannelList& channels_;
    WindowNotifier& notifier_;
    const TimeConverter& clock_;
    NitVersionWatch nitWatch_;
};

// The sink of the "pmt" output: PMT sections (0x02) with a sound CRC go to the PMT decoder,
// which may rewrite the channel file through the saver; everything else is dropped.
class CPMTFilter : public CBaseRenderer {
  public:
    CPMTFilter(REFCLSID clsid, HRESULT* phr, ChannelList& channels, WindowNotifier& notifier,
               ChannelFileSaver& saver);
    ~CPMTFilter() override;

    HRESULT DoRenderSample(IMediaSample* sample) override;
    HRESULT CheckMediaType(const CMediaType* pmt) override;

  private:
    ChannelList& channels_;
    WindowNotifier& notifier_;
    ChannelFileSaver& saver_;
};

} // namespace korvane
