#pragma once

// The process-wide references to the filter graph and to the filters, pins and interfaces
// the program drives. Each field is empty until the step of the graph's construction that
// fills it succeeds, and is released and emptied by the teardown; other parts of the program
// borrow these references and never keep their own.

#include "dshow/com_ptr.h"
#include "dshow/platform.h"
#include "graph/mpeg2_data.h"
#include "graph/video_streams.h"

#include <bdaiface.h>
#include <qedit.h>

namespace korvane {

class CSubtitleFilter;

struct MediaGraph {
    ComPtr<IFilterGraph2> graph;
    ComPtr<IMediaControl> mediaControl;
    ComPtr<IMediaEventEx> mediaEvent; // posts the graph's events to the main window
    ComPtr<IBaseFilter> tuner;
    ComPtr<IBaseFilter> receiver; // empty for a tuner that delivers the stream itself
    ComPtr<IBDA_DeviceControl> deviceControl;
    ComPtr<IBDA_FrequencyFilter> frequencyFilter;
    ComPtr<IBDA_SignalStatistics> signalStatistics;
    ComPtr<ISampleGrabber> grabber;
    ComPtr<IBaseFilter> demux;
    ComPtr<IBaseFilter> vmr;
    ComPtr<IVMRWindowlessControl> windowlessControl;
    ComPtr<IBaseFilter> videoCodec; // empty when no decoder of the configured name exists
    ComPtr<IBaseFilter> audioCodec;
    ComPtr<IBaseFilter> ac3Codec;
    ComPtr<IBaseFilter> audioRenderer;
    ComPtr<IBaseFilter> ac3Renderer;
    ComPtr<IMPEG2PIDMap> videoPidMap;
    ComPtr<IMPEG2PIDMap> audioPidMap;
    ComPtr<IMPEG2PIDMap> ac3PidMap;
    ComPtr<IMPEG2PIDMap> pmtPidMap;
    ComPtr<IMpeg2Data> sectionData;
    // The H.264 and E-AC-3 branches, all empty when their decoder could not be found or
    // connected. The H.264 decoder feeds vmr's second stream.
    ComPtr<IBaseFilter> h264Codec;
    ComPtr<IBaseFilter> eac3Codec;
    ComPtr<IBaseFilter> eac3Renderer;
    ComPtr<IMPEG2PIDMap> h264PidMap;
    ComPtr<IMPEG2PIDMap> eac3PidMap;
    // The "subtitles" output and its sink (subtitleFilter's own object), empty when the
    // branch could not be built.
    ComPtr<IBaseFilter> subtitleFilter;
    CSubtitleFilter* subtitles = nullptr;
    ComPtr<IMPEG2PIDMap> subtitlePidMap;
    // The renderer's stream on screen; the other one is hidden.
    VideoStream shownVideo = VideoStream::Mpeg2;
};

// The one graph of the process, used on the user-interface thread only.
MediaGraph& mediaGraph();

} // namespace korvane
