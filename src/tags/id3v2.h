// ID3v2 tags: reading versions 2.2, 2.3 and 2.4, writing version 2.3.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "tags/tag_info.h"

namespace snip {

constexpr size_t kId3v2HeaderSize = 10;

// The whole size of the tag whose header starts data (header, body and a
// 2.4 footer), or 0 when data does not start with an ID3v2 header.
int64_t Id3v2Size(const uint8_t* data, size_t size);

// Reads the text frames (title, artist, album, album artist, year, genre,
// track) and the pictures of the tag at the start of data. The data may stop
// short of the tag's end, and the tag may be damaged: whatever whole frames
// can be read are used, the rest is skipped. False when data does not start
// with an ID3v2 header of a version this reads.
bool ReadId3v2(const uint8_t* data, size_t size, TagInfo* info);

// An ID3v2.3 tag holding the non-empty fields of info (TIT2, TPE1, TRCK,
// TALB, TPE2, TYER, TCON) and its pictures (APIC): text in ISO-8859-1 when
// it fits, else UTF-16 with a byte-order mark. No padding, no
// unsynchronisation. Pictures that would take the tag past the largest size
// a tag can state are left out. Empty when info has nothing to write.
std::vector<uint8_t> WriteId3v2(const TagInfo& info);

}  // namespace snip
