#include "subtitles/subtitle_decoder.h"

#include "common/byte_reader.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
#include <libavutil/mem.h>
#include <libavutil/opt.h>
}

namespace korvane {

namespace {

constexpr uint8_t kSyncByte = 0x0F;
constexpr uint8_t kDisplayDefinitionSegment = 0x14;
constexpr uint8_t kEndOfDisplaySetSegment = 0x80;
constexpr uint8_t kEndOfDataFieldMarker = 0xFF;
constexpr std::size_t kSegmentHeaderSize = 6;
constexpr uint8_t kPrivateStream1 = 0xBD;

struct CodecContextFree {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextFree>;

// One decoded display set, freed with everything the library allocated in it.
class DecodedSubtitle {
  public:
    DecodedSubtitle() { std::memset(&sub_, 0, sizeof(sub_)); }
    ~DecodedSubtitle() { avsubtitle_free(&sub_); }
    DecodedSubtitle(const DecodedSubtitle&) = delete;
    DecodedSubtitle& operator=(const DecodedSubtitle&) = delete;
    AVSubtitle* get() { return &sub_; }
    const AVSubtitle& operator*() const { return sub_; }

  private:
    AVSubtitle sub_;
};

// The library's own messages would go to a console the program does not have; what matters
// reaches the caller as pictures or their absence.
void silenceLibraryOnce() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_QUIET); });
}

// The decoder takes the pages it keeps from its extradata: composition page, then ancillary
// page, both 16 bits.
CodecContextPtr openDecoder(uint16_t compositionPage, uint16_t ancillaryPage) {
    silenceLibraryOnce();
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_DVB_SUBTITLE);
    if (!codec)
        return nullptr;
    CodecContextPtr context(avcodec_alloc_context3(codec));
    if (!context)
        return nullptr;
    auto* extradata = static_cast<uint8_t*>(av_mallocz(4 + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!extradata)
        return nullptr;
    extradata[0] = static_cast<uint8_t>(compositionPage >> 8);
    extradata[1] = static_cast<uint8_t>(compositionPage);
    extradata[2] = static_cast<uint8_t>(ancillaryPage >> 8);
    extradata[3] = static_cast<uint8_t>(ancillaryPage);
    context->extradata = extradata;
    context->extradata_size = 4;
    // Without a sub-stream the library ignores the extradata and shows every page.
    if (av_opt_set_int(context.get(), "dvb_substream", 0, AV_OPT_SEARCH_CHILDREN) < 0)
        return nullptr;
    if (avcodec_open2(context.get(), codec, nullptr) < 0)
        return nullptr;
    return context;
}

SubtitleRegion copyRegion(const AVSubtitleRect& rect) {
    SubtitleRegion region;
    if (rect.type != SUBTITLE_BITMAP || rect.w <= 0 || rect.h <= 0 || !rect.data[0] ||
        !rect.data[1] || rect.linesize[0] < rect.w || rect.nb_colors <= 0 || rect.nb_colors > 256)
        return region;
    region.x = rect.x;
    region.y = rect.y;
    region.width = rect.w;
    region.height = rect.h;
    const auto width = static_cast<std::size_t>(rect.w);
    region.pixels.resize(width * static_cast<std::size_t>(rect.h));
    for (int row = 0; row < rect.h; ++row)
        std::memcpy(region.pixels.data() + width * static_cast<std::size_t>(row),
                    rect.data[0] + static_cast<std::ptrdiff_t>(row) * rect.linesize[0], width);
    // The library's palette is native 32-bit words, alpha in the top byte. Every pixel indexes
    // it: a stray index past the region's depth shows as transparent.
    region.palette.resize(static_cast<std::size_t>(rect.nb_colors));
    std::memcpy(region.palette.data(), rect.data[1], region.palette.size() * sizeof(uint32_t));
    const uint8_t highest = *std::max_element(region.pixels.begin(), region.pixels.end());
    if (highest >= region.palette.size())
        region.palette.resize(std::size_t{highest} + 1, 0);
    return region;
}

// The PTS of a PES header's optional fields, when its flags say one is there and the header
// holds its five bytes.
std::optional<int64_t> presentationTime(const ByteReader& pes) {
    auto flags = pes.u8(7);
    auto headerLength = pes.u8(8);
    if (!flags || !(*flags & 0x80) || !headerLength || *headerLength < 5)
        return std::nullopt;
    auto high = pes.u8(9);
    auto middle = pes.u16(10);
    auto low = pes.u16(12);
    if (!high || !middle || !low)
        return std::nullopt;
    return (int64_t{(*high >> 1) & 0x07} << 30) | (int64_t{*middle >> 1} << 15) |
           int64_t{*low >> 1};
}

} // namespace

struct SubtitleDecoder::State {
    uint16_t compositionPage;
    uint16_t ancillaryPage;
    CodecContextPtr context;
    int displayWidth = 720;
    int displayHeight = 576;
    // One display set's segments with the end marker and the padding the library reads past.
    std::vector<uint8_t> packet;

    bool ownPage(uint16_t page) const { return page == compositionPage || page == ancillaryPage; }
    void decodeDisplaySet(ByteReader segments, int64_t pts, std::vector<SubtitlePicture>& out);
    void noteDisplayDefinition(ByteReader segment);
};

// A display definition gives the display size (width and height minus one); the window, when
// there is one, the library has already added to the regions' positions.
void SubtitleDecoder::State::noteDisplayDefinition(ByteReader segment) {
    auto width = segment.u16(1);
    auto height = segment.u16(3);
    if (!width || !height)
        return;
    displayWidth = *width + 1;
    displayHeight = *height + 1;
}

void SubtitleDecoder::State::decodeDisplaySet(ByteReader segments, int64_t pts,
                                              std::vector<SubtitlePicture>& out) {
    if (!context || segments.size() == 0)
        return;
    // A display set alone would be as short as its end segment, which the library takes for
    // a broken packet: the data field's end marker follows it as in the stream.
    packet.assign(segments.data(), segments.data() + segments.size());
    packet.push_back(kEndOfDataFieldMarker);
    const int size = static_cast<int>(packet.size());
    packet.resize(packet.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);

    AVPacket avPacket{};
    avPacket.data = packet.data();
    avPacket.size = size;
    avPacket.pts = pts;
    avPacket.dts = AV_NOPTS_VALUE;
    DecodedSubtitle sub;
    int gotSubtitle = 0;
    if (avcodec_decode_subtitle2(context.get(), sub.get(), &gotSubtitle, &avPacket) < 0 ||
        !gotSubtitle)
        return;

    SubtitlePicture picture;
    picture.pts = pts;
    picture.timeoutMs = (*sub).end_display_time;
    picture.displayWidth = displayWidth;
    picture.displayHeight = displayHeight;
    for (unsigned i = 0; i < (*sub).num_rects; ++i) {
        if (!(*sub).rects[i])
            continue;
        SubtitleRegion region = copyRegion(*(*sub).rects[i]);
        if (!region.pixels.empty())
            picture.regions.push_back(std::move(region));
    }
    out.push_back(std::move(picture));
}

SubtitleDecoder::SubtitleDecoder(uint16_t compositionPage, uint16_t ancillaryPage)
    : state_(std::make_unique<State>()) {
    state_->compositionPage = compositionPage;
    state_->ancillaryPage = ancillaryPage;
    state_->context = openDecoder(compositionPage, ancillaryPage);
}

SubtitleDecoder::~SubtitleDecoder() = default;

std::vector<SubtitlePicture> SubtitleDecoder::decodePes(std::span<const uint8_t> pes) {
    ByteReader reader(pes.data(), pes.size());
    auto startCode = reader.u16(0);
    auto startCodeEnd = reader.u8(2);
    auto streamId = reader.u8(3);
    auto packetLength = reader.u16(4);
    auto headerLength = reader.u8(8);
    if (!startCode || *startCode != 0 || !startCodeEnd || *startCodeEnd != 1 || !streamId ||
        *streamId != kPrivateStream1 || !packetLength || !headerLength)
        return {};
    // A zero length leaves the packet's end to the transport; a longer one than what came is
    // a cut packet, of which the whole segments still count.
    if (*packetLength != 0)
        reader = reader.sub(0, std::size_t{6} + *packetLength);
    auto pts = presentationTime(reader);
    const std::size_t payloadStart = std::size_t{9} + *headerLength;
    if (!pts || payloadStart > reader.size())
        return {};
    return decodePayload(pes.subspan(payloadStart, reader.size() - payloadStart), *pts);
}

std::vector<SubtitlePicture> SubtitleDecoder::decodePayload(std::span<const uint8_t> payload,
                                                            int64_t pts) {
    std::vector<SubtitlePicture> pictures;
    try {
        ByteReader reader(payload.data(), payload.size());
        // data_identifier 0x20 and subtitle_stream_id 0, then the segments.
        auto dataIdentifier = reader.u8(0);
        auto streamId = reader.u8(1);
        if (!dataIdentifier || *dataIdentifier != 0x20 || !streamId || *streamId != 0)
            return pictures;
        // Each display set goes to the library on its own, so that a packet carrying two
        // gives both; a segment cut short ends the walk and what precedes it still counts.
        std::size_t setStart = 2;
        std::size_t offset = 2;
        while (reader.u8(offset) == kSyncByte && reader.contains(offset, kSegmentHeaderSize)) {
            const uint8_t type = *reader.u8(offset + 1);
            const uint16_t page = *reader.u16(offset + 2);
            const uint16_t length = *reader.u16(offset + 4);
            const std::size_t body = offset + kSegmentHeaderSize;
            if (!reader.contains(body, length))
                break;
            offset = body + length;
            if (!state_->ownPage(page))
                continue;
            if (type == kDisplayDefinitionSegment && length >= 5)
                state_->noteDisplayDefinition(reader.sub(body, length));
            if (type == kEndOfDisplaySetSegment) {
                state_->decodeDisplaySet(reader.sub(setStart, offset - setStart), pts, pictures);
                setStart = offset;
            }
        }
        if (offset > setStart)
            state_->decodeDisplaySet(reader.sub(setStart, offset - setStart), pts, pictures);
    } catch (const std::bad_alloc&) {
        pictures.clear();
    }
    return pictures;
}

void SubtitleDecoder::reset() {
    state_->context.reset();
    state_->context = openDecoder(state_->compositionPage, state_->ancillaryPage);
    state_->displayWidth = 720;
    state_->displayHeight = 576;
}

} // namespace korvane
