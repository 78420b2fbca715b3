#include "tags/id3v1.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

namespace snip {

namespace {

// A fixed field: up to its first zero byte, trailing blanks dropped.
std::string Field(const uint8_t* bytes, size_t size) {
  size_t n = 0;
  while (n < size && bytes[n] != 0) ++n;
  while (n > 0 && bytes[n - 1] == ' ') --n;
  return Utf8FromLatin1(std::string_view(reinterpret_cast<const char*>(bytes), n));
}

void PutField(const std::string& utf8, uint8_t* field, size_t size) {
  std::string latin1 = Latin1FromUtf8(utf8);
  std::memcpy(field, latin1.data(), latin1.size() < size ? latin1.size() : size);
}

}  // namespace

bool ReadId3v1(const uint8_t tag[kId3v1Size], TagInfo* info) {
  if (std::memcmp(tag, "TAG", 3) != 0) return false;
  info->title = Field(tag + 3, 30);
  info->artist = Field(tag + 33, 30);
  info->album = Field(tag + 63, 30);
  info->year = Field(tag + 93, 4);
  // ID3v1.1: a zero before the last comment byte makes that byte the track.
  if (tag[125] == 0 && tag[126] != 0) info->track = std::to_string(tag[126]);
  int genre = tag[127];
  if (genre != 255) {
    const char* name = Id3v1GenreName(genre);
    if (*name) {
      info->genre = name;
    } else {
      char number[8];
      std::snprintf(number, sizeof number, "(%d)", genre);
      info->genre = number;
    }
  }
  return true;
}

void WriteId3v1(const TagInfo& info, int trackNumber, uint8_t tag[kId3v1Size]) {
  std::memset(tag, 0, kId3v1Size);
  std::memcpy(tag, "TAG", 3);
  PutField(info.title, tag + 3, 30);
  PutField(info.artist, tag + 33, 30);
  PutField(info.album, tag + 63, 30);
  PutField(info.year, tag + 93, 4);
  // The comment is left empty; its last two bytes are the ID3v1.1 track.
  if (trackNumber >= 1 && trackNumber <= 255) tag[126] = static_cast<uint8_t>(trackNumber);
  tag[127] = static_cast<uint8_t>(info.genre.empty() ? 255 : Id3v1GenreNumber(info.genre));
}

}  // namespace snip
