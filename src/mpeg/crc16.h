// CRC-16 with the reversed polynomial 0xA001 (CRC-16/ARC), as the LAME tag
// uses it for the tag and for the music. The music CRC covers every byte of
// a track, so it runs at the speed of copying where the processor can
// multiply without carries, and eight bytes a step elsewhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace snip {

// The CRC of n bytes, continued from crc (0 to begin).
uint16_t Crc16(const uint8_t* data, size_t n, uint16_t crc = 0);

// The same CRC taken each way this processor can take it (eight bytes a
// step first), for checking that the ways agree.
std::vector<uint16_t> Crc16EveryWay(const uint8_t* data, size_t n, uint16_t crc = 0);

}  // namespace snip
