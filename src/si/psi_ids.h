#pragma once

// The numbers that name the tables of a DVB-T multiplex: the fixed PIDs they travel on, their
// table ids, the descriptor tags and stream types the program reads. The program, the test
// tools and the multiplex generator all name them from here.

#include <cstdint>

namespace korvane {

// Fixed PIDs.
inline constexpr uint16_t kPatPid = 0x0000;
inline constexpr uint16_t kNitPid = 0x0010;
inline constexpr uint16_t kSdtPid = 0x0011;
inline constexpr uint16_t kEitPid = 0x0012;

// Table ids.
inline constexpr uint8_t kPatTableId = 0x00;
inline constexpr uint8_t kPmtTableId = 0x02;
inline constexpr uint8_t kNitActualTableId = 0x40;
inline constexpr uint8_t kNitOtherTableId = 0x41;
inline constexpr uint8_t kSdtActualTableId = 0x42;
inline constexpr uint8_t kSdtOtherTableId = 0x46;
// Present/following events of this multiplex and of the others.
inline constexpr uint8_t kEitActualTableId = 0x4E;
inline constexpr uint8_t kEitOtherTableId = 0x4F;
// Schedule sections, this multiplex (0x50-0x5F) then the others (0x60-0x6F).
inline constexpr uint8_t kEitScheduleFirstTableId = 0x50;
inline constexpr uint8_t kEitScheduleLastTableId = 0x6F;
// A private section, as data services carry.
inline constexpr uint8_t kPrivateTableId = 0x80;

// Descriptor tags.
inline constexpr uint8_t kLanguageTag = 0x0A;
inline constexpr uint8_t kNetworkNameTag = 0x40;
inline constexpr uint8_t kServiceListTag = 0x41;
inline constexpr uint8_t kServiceTag = 0x48;
inline constexpr uint8_t kShortEventTag = 0x4D;
inline constexpr uint8_t kStreamIdentifierTag = 0x52;
inline constexpr uint8_t kSubtitlingTag = 0x59;
inline constexpr uint8_t kTerrestrialDeliveryTag = 0x5A;
inline constexpr uint8_t kPrivateDataSpecifierTag = 0x5F;
inline constexpr uint8_t kAc3Tag = 0x6A;
inline constexpr uint8_t kEnhancedAc3Tag = 0x7A;
// The extension descriptor: its first body byte names what it holds.
inline constexpr uint8_t kExtensionTag = 0x7F;
inline constexpr uint8_t kSupplementaryAudioExtension = 0x06;
// Private to the French networks, announced by their private data specifier.
inline constexpr uint8_t kLogicalChannelTag = 0x83;

// Stream types of a PMT entry.
inline constexpr uint8_t kMpeg1VideoStream = 0x01;
inline constexpr uint8_t kMpeg2VideoStream = 0x02;
inline constexpr uint8_t kMpeg1AudioStream = 0x03;
inline constexpr uint8_t kMpeg2AudioStream = 0x04;
inline constexpr uint8_t kPrivateSectionStream = 0x05;
// PES private data: AC-3 when an AC-3 descriptor says so, else subtitles or teletext.
inline constexpr uint8_t kPrivatePesStream = 0x06;
inline constexpr uint8_t kH264VideoStream = 0x1B;

} // namespace korvane
