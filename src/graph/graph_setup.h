#pragma once

// What the graph's construction is given: the settings it reads, the window the pictures are
// clipped to, where its failures go and the objects the section filters borrow.

#include "channels/channel_list.h"
#include "channels/channel_saver.h"
#include "common/time_convert.h"
#include "dshow/platform.h"
#include "graph/graph_errors.h"
#include "si/notifier.h"

#include <string>

struct ISampleGrabber;

namespace korvane {

class SubtitleReceiver;

// What the construction reads from the configuration.
struct GraphSettings {
    // Decoders by friendly name; a name no decoder has leaves the choice to the platform.
    std::wstring videoDecoderName;
    std::wstring audioDecoderName;
    std::wstring ac3DecoderName;
    std::wstring h264DecoderName;
    std::wstring eac3DecoderName;
    bool strictSearch = true; // only decoders registered for the stream's exact type
    bool deinterlace = false;
};

// What the construction needs besides mediaGraph(): the settings, the window the pictures
// are clipped to, where its failures go (during the construction only), and the objects the
// section filters borrow for the whole run.
struct GraphSetup {
    GraphSettings settings;
    HWND videoWindow = nullptr;
    GraphErrorReporter& errors;
    ChannelList& channels;
    WindowNotifier& notifier;
    const TimeConverter& clock;
    ChannelFileSaver& saver;
    // Given the sample grabber once it is connected, while the graph is stopped; may be null.
    void (*grabberReady)(ISampleGrabber* grabber) = nullptr;
    // Takes the decoded subtitles for the whole run; without one the graph has no subtitle
    // branch.
    SubtitleReceiver* subtitles = nullptr;
};

enum class GraphStatus { Built, Failed };

} // namespace korvane
