#pragma once

namespace korvane {

// How the decoders on streaming threads reach the main window: by posting, never sending.
class WindowNotifier {
  public:
    virtual ~WindowNotifier() = default;
    // kGuideUpdatedMessage: a guide event was stored for the channel being watched.
    virtual void postGuideUpdated() = 0;
    // kStreamsChangedMessage: the PIDs of the channel being watched changed and the channel file
    // was rewritten.
    virtual void postStreamsChanged() = 0;
    // kChannelNumbersChangedMessage: the network's NIT has a new version. A notifier without a
    // window to offer a new scan in ignores it.
    virtual void postChannelNumbersChanged() {}
};

} // namespace korvane
