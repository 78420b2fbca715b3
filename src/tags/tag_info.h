// What a track's tags say, in UTF-8, whichever tag it was read from or will
// be written to.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace snip {

struct TagPicture {
  std::string mime;         // "image/jpeg", "image/png", ...
  uint8_t type = 3;         // the picture's role (3: front cover)
  std::string description;  // UTF-8
  std::vector<uint8_t> data;
};

struct TagInfo {
  std::string title;
  std::string artist;
  std::string album;
  std::string albumArtist;
  std::string year;
  std::string genre;  // a name, or "(n)" for an ID3v1 genre number without one
  std::string track;  // as written: "3" or "3/12"
  std::vector<TagPicture> pictures;
};

// Text conversions between UTF-8 and the byte forms tags use. Invalid UTF-8
// bytes are read as Latin-1 characters; unpaired surrogates become U+FFFD.
std::string Utf8FromLatin1(std::string_view latin1);
// Valid UTF-8: each byte that does not begin a valid sequence is read as a
// Latin-1 character.
std::string CleanUtf8(std::string_view text);
// True when every character of utf8 is in ISO-8859-1.
bool FitsLatin1(std::string_view utf8);
// Characters outside ISO-8859-1 become '?'.
std::string Latin1FromUtf8(std::string_view utf8);
std::string Utf8FromUtf16(const uint8_t* data, size_t size, bool bigEndian);
// UTF-16 little-endian code units, no byte-order mark.
std::vector<uint8_t> Utf16LeFromUtf8(std::string_view utf8);

// The name of an ID3v1 genre number, or empty when the number has none.
const char* Id3v1GenreName(int number);
// The ID3v1 number of a genre text ("Rock", "(17)", "17", "(17)Rock"), or 255.
int Id3v1GenreNumber(std::string_view genre);

}  // namespace snip
