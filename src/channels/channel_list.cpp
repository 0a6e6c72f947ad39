#include "channels/channel_list.h"

#include <utility>

namespace korvane {

bool isFurtherAudioStream(const ChannelInfo& c, const AudioStream& stream) {
    return stream.pid != c.audio1Pid && stream.pid != c.audio2Pid && stream.pid != c.ac3Pid &&
           stream.pid != c.ac3Pid2;
}

std::vector<AudioStream> keptAudioStreams(const ChannelInfo& channel) {
    for (const AudioStream& stream : channel.audioStreams)
        if (isFurtherAudioStream(channel, stream))
            return channel.audioStreams;
    return {};
}

void sortChannelsByNumber(ChannelRecords& records) {
    // The exchanges are made on small (number, index) pairs, giving the very order the
    // exchange of whole records gives; each record then moves once into its place.
    struct Key {
        int32_t number;
        std::size_t index;
    };
    const std::size_t n = records.size();
    std::vector<Key> keys(n);
    for (std::size_t i = 0; i < n; ++i)
        keys[i] = {records[i].number, i};
    for (std::size_t i = 0; i + 1 < n; ++i)
        for (std::size_t j = i + 1; j < n; ++j)
            if (keys[j].number < keys[i].number)
                std::swap(keys[i], keys[j]);
    ChannelRecords sorted;
    sorted.reserve(n);
    for (const Key& key : keys)
        sorted.push_back(std::move(records[key.index]));
    records.swap(sorted);
}

void eraseChannelAt(ChannelRecords& records, std::size_t index) {
    if (index < records.size())
        records.erase(records.begin() + static_cast<std::ptrdiff_t>(index));
}

std::optional<std::size_t> findChannelByNumber(const ChannelRecords& records, int32_t number) {
    for (std::size_t i = 0; i < records.size(); ++i)
        if (records[i].number == number)
            return i;
    return std::nullopt;
}

std::optional<std::size_t> findChannelByName(const ChannelRecords& records, std::string_view name) {
    for (std::size_t i = 0; i < records.size(); ++i)
        if (records[i].name == name)
            return i;
    return std::nullopt;
}

std::optional<std::size_t> findChannelBySid(const ChannelRecords& records, int32_t sid) {
    for (std::size_t i = 0; i < records.size(); ++i)
        if (records[i].sid == sid)
            return i;
    return std::nullopt;
}

ChannelInfo* ChannelList::Access::current() {
    const int32_t i = list_->currentIndex_;
    if (i < 0 || static_cast<std::size_t>(i) >= list_->records_.size())
        return nullptr;
    return &list_->records_[static_cast<std::size_t>(i)];
}

std::size_t ChannelList::size() const {
    std::lock_guard guard(mutex_);
    return records_.size();
}

int32_t ChannelList::currentIndex() const {
    std::lock_guard guard(mutex_);
    return currentIndex_;
}

void ChannelList::setCurrentIndex(int32_t index) {
    std::lock_guard guard(mutex_);
    currentIndex_ = index;
}

void ChannelList::append(const ChannelInfo& record) {
    std::lock_guard guard(mutex_);
    records_.push_back(record);
}

void ChannelList::eraseAt(std::size_t index) {
    std::lock_guard guard(mutex_);
    eraseChannelAt(records_, index);
}

void ChannelList::sortByNumber() {
    std::lock_guard guard(mutex_);
    sortChannelsByNumber(records_);
}

void ChannelList::clear() {
    std::lock_guard guard(mutex_);
    records_.clear();
    currentIndex_ = -1;
}

std::optional<ChannelInfo> ChannelList::copyAt(std::size_t index) const {
    std::lock_guard guard(mutex_);
    if (index >= records_.size())
        return std::nullopt;
    return records_[index];
}

std::optional<ChannelInfo> ChannelList::copyCurrent() const {
    std::lock_guard guard(mutex_);
    if (currentIndex_ < 0 || static_cast<std::size_t>(currentIndex_) >= records_.size())
        return std::nullopt;
    return records_[static_cast<std::size_t>(currentIndex_)];
}

ChannelRecords ChannelList::snapshot() const {
    std::lock_guard guard(mutex_);
    return records_;
}

} // namespace korvane
