#include "app/win/screenshot.h"

#include "app/screenshot_file.h"
#include "app/win/app_state.h"
#include "capture/win/file_sink.h"
#include "capture/win/recording_paths.h"
#include "common/dvb_text.h"
#include "common/win/wide_text.h"
#include "graph/media_graph.h"

#include <limits>

namespace korvane {

namespace {

// The renderer's image, freed with CoTaskMemFree whatever becomes of it.
struct RendererImage {
    BYTE* bytes = nullptr;
    ~RendererImage() {
        if (bytes)
            CoTaskMemFree(bytes);
    }
};

// How many bytes of a task-memory block may be read: its allocated size, or, when the
// allocator cannot tell, whatever its header says.
std::size_t readableBytes(void* block) {
    ComPtr<IMalloc> allocator;
    if (SUCCEEDED(CoGetMalloc(1, allocator.put())) && allocator) {
        const SIZE_T size = allocator->GetSize(block);
        if (size != static_cast<SIZE_T>(-1))
            return size;
    }
    return std::numeric_limits<std::size_t>::max();
}

void writeBitmapFile(const std::wstring& path, const BitmapFilePlan& plan, const BYTE* block) {
    bool written = false;
    std::wstring created;
    {
        FileSink file(path.c_str());
        if (!file.isOpen())
            return;
        created = file.path();
        written = file.write(plan.header.data(), plan.header.size()) &&
                  file.write(block, plan.blockBytes) && file.close();
    }
    // A file cut short (a full disk, a close that could not flush) would hold a header that
    // lies about its length. Only the file this call created goes: an earlier screenshot of
    // the same name stays.
    if (!written)
        DeleteFileW(created.c_str());
}

} // namespace

void takeScreenshot() {
    IVMRWindowlessControl* control = mediaGraph().windowlessControl.get();
    std::optional<ChannelInfo> channel = channelList().copyCurrent();
    if (!control || !channel)
        return;
    RendererImage image;
    if (FAILED(control->GetCurrentImage(&image.bytes)) || !image.bytes)
        return;
    const auto plan = planBitmapFile(ByteReader(image.bytes, readableBytes(image.bytes)));
    if (!plan)
        return;
    const auto path =
        screenshotPathNow(toWide(appConfig().screenshotFolder), shownDvbText(channel->name.view()));
    if (path)
        writeBitmapFile(*path, *plan, image.bytes);
}

} // namespace korvane
