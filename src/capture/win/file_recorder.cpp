#include "capture/win/file_recorder.h"

namespace korvane {

namespace {

std::unique_ptr<ByteSink> openFile(const wchar_t* path) {
    auto file = std::make_unique<FileSink>(path);
    if (!file->isOpen())
        return nullptr;
    return file;
}

RecordingSinkMaker& sinkMaker() {
    static RecordingSinkMaker maker = openFile;
    return maker;
}

std::unique_ptr<QueuedSink> queueFor(std::unique_ptr<ByteSink> destination) {
    if (!destination)
        return nullptr;
    return std::make_unique<QueuedSink>(std::move(destination));
}

} // namespace

void setRecordingSinkMaker(RecordingSinkMaker maker) {
    sinkMaker() = maker != nullptr ? maker : openFile;
}

std::unique_ptr<ByteSink> openRecordingSink(const wchar_t* path) {
    return sinkMaker()(path);
}

FileRecorder::FileRecorder(const wchar_t* path, const RecorderSettings& settings, HWND notifyWindow,
                           uint32_t generation)
    : queue_(queueFor(openRecordingSink(path))), reporter_(notifyWindow, generation),
      recorder_(settings, queue_.get(), &reporter_) {}

RecordingEnd FileRecorder::close() {
    if (closed_)
        return end_;
    closed_ = true;
    // A failure already reported (during the recording) is not reported again.
    const bool failedBefore = recorder_.failed();
    const bool finished = recorder_.finish();
    if (!queue_) {
        end_.failedAtEnd = false;
        return end_;
    }
    // The wait keeps answering the messages other threads and programs send to this thread's
    // windows, so that the window does not look hung meanwhile.
    queue_->end();
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(kDrainWait.count());
    while (!queue_->waitClosed(std::chrono::milliseconds(20)) && GetTickCount64() < deadline) {
        MSG message;
        PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
    const QueuedSinkEnd drained = queue_->finish(std::chrono::milliseconds(0));
    end_.lostBytes = drained.droppedBytes;
    end_.failedAtEnd = !failedBefore && (!finished || drained.failed);
    return end_;
}

} // namespace korvane
