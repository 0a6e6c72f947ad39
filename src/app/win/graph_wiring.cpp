#include "app/win/graph_wiring.h"

#include "app/win/app_state.h"
#include "app/win/recording_commands.h"
#include "app/win/subtitle_display.h"
#include "channels/win/channel_file_win.h"
#include "common/pending_message.h"
#include "common/win/show_error.h"
#include "common/win/time_convert_win.h"
#include "common/win/wide_text.h"
#include "common/win/window_messages.h"
#include "graph/devices.h"

namespace korvane {

namespace {

// How the decoders on streaming threads reach the main window.
class MainWindowNotifier : public WindowNotifier {
  public:
    void postGuideUpdated() override {
        if (guideUpdate_.raise() && !post(kGuideUpdatedMessage))
            guideUpdate_.clear();
    }
    void postStreamsChanged() override { post(kStreamsChangedMessage); }
    void postChannelNumbersChanged() override { post(kChannelNumbersChangedMessage); }
    void guideUpdateReceived() { guideUpdate_.clear(); }

    static bool post(UINT message) {
        HWND window = appState().mainWindow;
        return window && PostMessageW(window, message, 0, 0);
    }

  private:
    PendingMessage guideUpdate_;
};

// What the section filters borrow; they outlive every graph.
MainWindowNotifier& windowNotifier() {
    static MainWindowNotifier notifier;
    return notifier;
}
const TimeConverter& systemClock() {
    static SystemTimeConverter clock;
    return clock;
}
} // namespace

ChannelFileSaver& channelFileSaver() {
    // The PMT decoder saves on a streaming thread: the window tells the user.
    static ChannelFileWriter writer(
        [] { MainWindowNotifier::post(kChannelFileWriteFailedMessage); });
    return writer;
}

void guideUpdateReceived() {
    windowNotifier().guideUpdateReceived();
}

void ErrorBoxReporter::report(const wchar_t* text) {
    showError(text);
}

bool selectDevices(const AppConfig& config, MediaGraph& graph) {
    return selectDevices(toWide(config.tunerName), toWide(config.receiverName), graph);
}

GraphSettings graphSettings(const AppConfig& config) {
    GraphSettings settings;
    settings.videoDecoderName = toWide(config.videoDecoderName);
    settings.audioDecoderName = toWide(config.audioDecoderName);
    settings.ac3DecoderName = toWide(config.ac3DecoderName);
    settings.h264DecoderName = toWide(config.h264DecoderName);
    settings.eac3DecoderName = toWide(config.eac3DecoderName);
    settings.strictSearch = config.strictSearch != 0;
    settings.deinterlace = config.vmrDeinterlace;
    return settings;
}

GraphSetup graphSetup(GraphErrorReporter& errors) {
    return GraphSetup{graphSettings(appConfig()),
                      appState().mainWindow,
                      errors,
                      channelList(),
                      windowNotifier(),
                      systemClock(),
                      channelFileSaver(),
                      &setRecordingGrabber,
                      &subtitleReceiver()};
}

GraphStatus buildSessionGraph() {
    ErrorBoxReporter errors;
    return buildGraph(graphSetup(errors));
}

void tearDownSessionGraph() {
    releaseRecordingGrabber();
    tearDownGraph();
}

} // namespace korvane
