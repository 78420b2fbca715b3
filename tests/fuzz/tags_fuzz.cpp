// ID3v2 tags of any content: the reader never reads outside the bytes it is
// given (the sanitizers watch), and what it reads, written as a 2.3 tag and
// read again, comes back unchanged.
#include <string>

#include "fuzz_support.h"
#include "tags/id3v2.h"

namespace {

void Same(const snip::TagInfo& a, const snip::TagInfo& b) {
  FUZZ_CHECK(a.title == b.title, "title changed: " + a.title + " -> " + b.title);
  FUZZ_CHECK(a.artist == b.artist, "artist changed: " + a.artist + " -> " + b.artist);
  FUZZ_CHECK(a.album == b.album, "album changed");
  FUZZ_CHECK(a.albumArtist == b.albumArtist, "album artist changed");
  FUZZ_CHECK(a.year == b.year, "year changed: " + a.year + " -> " + b.year);
  FUZZ_CHECK(a.genre == b.genre, "genre changed");
  FUZZ_CHECK(a.track == b.track, "track changed");
  FUZZ_CHECK(a.pictures.size() == b.pictures.size(), "picture count changed");
  for (size_t i = 0; i < a.pictures.size(); ++i) {
    FUZZ_CHECK(a.pictures[i].mime == b.pictures[i].mime, "mime changed: " + a.pictures[i].mime);
    FUZZ_CHECK(a.pictures[i].type == b.pictures[i].type, "picture type changed");
    FUZZ_CHECK(a.pictures[i].description == b.pictures[i].description, "description changed");
    FUZZ_CHECK(a.pictures[i].data == b.pictures[i].data, "picture changed");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // An exact copy, so that a read past the end is a read past an allocation.
  std::vector<uint8_t> bytes(data, data + size);
  snip::TagInfo info;
  if (!snip::ReadId3v2(bytes.data(), bytes.size(), &info)) return 0;
  std::vector<uint8_t> written = snip::WriteId3v2(info);
  if (written.empty()) {
    FUZZ_CHECK(info.title.empty() && info.artist.empty() && info.pictures.empty(), "a tag with content wrote nothing");
    return 0;
  }
  FUZZ_CHECK(snip::Id3v2Size(written.data(), written.size()) == static_cast<int64_t>(written.size()),
             "the written tag states another size");
  snip::TagInfo again;
  FUZZ_CHECK(snip::ReadId3v2(written.data(), written.size(), &again), "the written tag was not read");
  Same(info, again);
  return 0;
}
