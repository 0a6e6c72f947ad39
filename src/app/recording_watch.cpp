#include "app/recording_watch.h"

#include <algorithm>
#include <string>

namespace korvane {

bool recordingStarved(uint64_t now, uint64_t startTick, uint64_t lastDataTick) {
    const uint64_t since = std::max(startTick, lastDataTick);
    return now >= since && now - since >= kNoDataDelayMs;
}

namespace {

std::u16string ascii(const std::string& text) {
    return std::u16string(text.begin(), text.end());
}

std::u16string amountText(uint64_t bytes) {
    if (bytes < 100000)
        return ascii(std::to_string(bytes)) + u" octets";
    // Tenths of a megabyte, rounded to nearest, written with a decimal comma.
    const uint64_t tenths = (bytes + 50000) / 100000;
    return ascii(std::to_string(tenths / 10)) + u"," + ascii(std::to_string(tenths % 10)) + u" Mo";
}

} // namespace

std::u16string lostDataText(uint64_t lostBytes) {
    if (lostBytes == 0)
        return {};
    return u"Le disque n'a pas suivi le débit de l'enregistrement : " + amountText(lostBytes) +
           u" de données ont été perdues.";
}

} // namespace korvane
