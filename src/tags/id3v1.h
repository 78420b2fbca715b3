// ID3v1 and ID3v1.1 tags: the last 128 bytes of a file, beginning "TAG".
#pragma once

#include <cstdint>

#include "tags/tag_info.h"

namespace snip {

constexpr size_t kId3v1Size = 128;

// Reads the fields of a tag (text as ISO-8859-1, trailing blanks and zeros
// dropped, the genre byte as its name, the ID3v1.1 track byte). False when
// the bytes do not begin with "TAG".
bool ReadId3v1(const uint8_t tag[kId3v1Size], TagInfo* info);

// An ID3v1.1 tag: title, artist and album cut to 30 bytes, year to 4, the
// track number (1 to 255, else none) in byte 126, the genre's number (255
// when it has none). Text that ISO-8859-1 lacks becomes '?'.
void WriteId3v1(const TagInfo& info, int trackNumber, uint8_t tag[kId3v1Size]);

}  // namespace snip
