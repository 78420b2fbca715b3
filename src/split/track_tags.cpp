#include "split/track_tags.h"

#include <algorithm>

#include "split/split_engine.h"
#include "tags/id3v2.h"

namespace snip {

namespace {

// Pictures are copied into every track; a tag larger than this is read
// only as far as this goes.
constexpr size_t kMostTagBytes = 16 * 1024 * 1024;

// Fills the fields the first left empty.
void FillFrom(TagInfo* info, const TagInfo& other) {
  for (auto field : {&TagInfo::title, &TagInfo::artist, &TagInfo::album, &TagInfo::albumArtist, &TagInfo::year,
                     &TagInfo::genre, &TagInfo::track}) {
    if ((info->*field).empty()) info->*field = other.*field;
  }
}

}  // namespace

TrackTags::TrackTags(const SplitJob& job, File& source, const uint8_t* id3v1) : job_(&job) {
  uint8_t header[kId3v2HeaderSize];
  if (source.Seek(0) && source.ReadFull(header, sizeof header) == static_cast<int64_t>(sizeof header)) {
    int64_t size = Id3v2Size(header, sizeof header);
    if (size > 0) {
      std::vector<uint8_t> tag(static_cast<size_t>(std::min<int64_t>(size, kMostTagBytes)));
      std::copy(header, header + sizeof header, tag.begin());
      int64_t got = source.ReadFull(tag.data() + sizeof header, tag.size() - sizeof header);
      if (got >= 0) {
        tag.resize(sizeof header + static_cast<size_t>(got));
        ReadId3v2(tag.data(), tag.size(), &source_);
      }
    }
  }
  if (id3v1) {
    TagInfo v1;
    if (ReadId3v1(id3v1, &v1)) FillFrom(&source_, v1);
  }
}

TagInfo TrackTags::ForTrack(size_t k, size_t count) const {
  TagInfo info;
  if (job_ && k < job_->marks.size()) {
    info.title = Utf8FromProgramText(job_->marks[k].title);
    info.artist = Utf8FromProgramText(job_->marks[k].artist);
  }
  // A line without an artist is taken to be by the recording's artist.
  if (info.artist.empty()) info.artist = source_.artist;
  info.track = std::to_string(k + 1) + "/" + std::to_string(std::max(count, k + 1));
  info.album = job_ && !job_->album.empty() ? Utf8FromProgramText(job_->album) : source_.album;
  info.albumArtist = job_ && !job_->albumArtist.empty() ? Utf8FromProgramText(job_->albumArtist) : source_.albumArtist;
  info.year = source_.year;
  info.genre = source_.genre;
  info.pictures = source_.pictures;
  return info;
}

std::vector<uint8_t> TrackTags::Id3v2For(size_t k, size_t count) const { return WriteId3v2(ForTrack(k, count)); }

void TrackTags::Id3v1For(size_t k, size_t count, uint8_t tag[kId3v1Size]) const {
  TagInfo info = ForTrack(k, count);
  info.pictures.clear();
  WriteId3v1(info, static_cast<int>(k + 1), tag);
}

}  // namespace snip
