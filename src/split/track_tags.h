// The tags of the tracks of a split made with "Tag tracks": each track
// begins with an ID3v2.3 tag of its own and ends with an ID3v1.1 tag of its
// own, both made from the track's line (artist, title), its number among
// the tracks, and what the source's tags and a CUE sheet say of the whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/file_io.h"
#include "tags/id3v1.h"
#include "tags/tag_info.h"

namespace snip {

struct SplitJob;

class TrackTags {
 public:
  TrackTags() = default;
  // Reads the source's leading ID3v2 tag (the first 16 MiB of a larger
  // one) and takes its ID3v1 tag (null when it has none). What a damaged
  // tag still holds is used; a read failure leaves the source's part empty.
  // Moves the source's file position.
  TrackTags(const SplitJob& job, File& source, const uint8_t* id3v1);

  // The ID3v2 tag that begins track index k (from 0) of count tracks.
  std::vector<uint8_t> Id3v2For(size_t k, size_t count) const;
  // The ID3v1 tag that ends it.
  void Id3v1For(size_t k, size_t count, uint8_t tag[kId3v1Size]) const;

  // What the source's tags say (for tests and the scan).
  const TagInfo& Source() const { return source_; }

 private:
  TagInfo ForTrack(size_t k, size_t count) const;

  const SplitJob* job_ = nullptr;
  TagInfo source_;
};

}  // namespace snip
