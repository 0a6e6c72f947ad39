#pragma once

#include "channels/channel_file.h"
#include "channels/channel_list.h"
#include "channels/channel_saver.h"
#include "common/repeated_failure.h"

#include <string>
#include <utility>

namespace korvane {

// The element tree of an XML file as the platform's DOM parser (MSXML) reads it: the root
// element with its child nodes and their children (the depth the record rules look at).
// False when the document cannot be created or the file is missing or not well-formed,
// declares a document type, or nests elements below a record's fields.
bool loadXmlTreeWithMsxml(const std::wstring& path, XmlNode& root);

// UTF-16 text to the ANSI code page, as the reader stores characters it has no byte for.
std::string wideToAnsiCodePage(std::u16string_view text);

// Appends one record per entry of the file to the list; 0 when the file was parsed (also
// without entries), 1 when it was not (the list is then unchanged).
int loadChannelFileFrom(const std::wstring& path, ChannelList& list);
// "chaines.xml" in the current directory.
int loadChannelFile(ChannelList& list);

// What became of a channel file that could not be loaded.
enum class UnreadableChannelFile { Missing, Kept, NotKept };
// A file at path that could not be loaded is moved to "<path>.illisible" (an older copy
// there is replaced), so that the new scan's file does not overwrite it. A missing file is
// left alone.
UnreadableChannelFile keepUnreadableChannelFileAt(const std::wstring& path);
// "chaines.xml" in the current directory.
UnreadableChannelFile keepUnreadableChannelFile();

// Writes the records to path through "<path>.tmp", flushed and then moved over the file,
// so that a cut-off write leaves the old file or the new one. False when nothing could be
// written; the previous file is then untouched.
bool saveChannelFileTo(const std::wstring& path, const ChannelRecords& records);
// "chaines.xml" in the current directory; failures are silent.
void saveChannelFile(const ChannelRecords& records);
void saveChannelFile(ChannelList& list);

// The channel file writer behind the PMT decoder and the scan. A save that fails calls
// reportFailure (when given) on the saving thread, once for a run of failures: not again
// until a save has succeeded.
class ChannelFileWriter : public ChannelFileSaver {
  public:
    explicit ChannelFileWriter(void (*reportFailure)() = nullptr,
                               std::wstring path = L"chaines.xml")
        : reportFailure_(reportFailure), path_(std::move(path)) {}
    void saveChannels(const ChannelRecords& copy) override {
        const bool saved = saveChannelFileTo(path_, copy);
        if (failures_.mustReport(saved) && reportFailure_)
            reportFailure_();
    }

  private:
    void (*reportFailure_)();
    std::wstring path_;
    RepeatedFailure failures_;
};

} // namespace korvane
