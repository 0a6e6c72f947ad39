#pragma once

#include <cstddef>
#include <cstdint>

namespace korvane {

// CRC-32/MPEG-2: polynomial 0x04C11DB7, initial 0xFFFFFFFF, not reflected, no final XOR.
// A length of 0 gives the initial value.
uint32_t crc32Mpeg2(const uint8_t* data, std::size_t length);

// True when the last four bytes (big-endian) equal the CRC of the bytes before them.
// Fewer than four bytes never pass.
bool checkSectionCrc(const uint8_t* section, std::size_t length);

// The checks a section filter applies to one sample before decoding it: the table_id at
// byte 0 and the trailing CRC over the sample's whole length.
// The guide takes the present/following tables of every multiplex, the PMT filter the PMT.
bool passesEitGate(const uint8_t* section, std::size_t length);
bool passesPmtGate(const uint8_t* section, std::size_t length);

} // namespace korvane
