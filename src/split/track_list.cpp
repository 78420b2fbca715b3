#include "split/track_list.h"

#include <algorithm>

#include "split/time_text.h"

namespace snip {

MarkPlace PlaceMark(const std::vector<int32_t>& offsets, int32_t offset) {
  if (std::find(offsets.begin(), offsets.end(), offset) != offsets.end()) return MarkPlace::Duplicate;
  return offsets.empty() && offset != 0 ? MarkPlace::AddAfterZeroMarker : MarkPlace::Add;
}

AddResult TrackList::Add(const std::string& timeText, const std::string& artist, const std::string& title) {
  int32_t offset = 0;
  if (!ParseTimeArgument(timeText.c_str(), &offset)) return AddResult::NotATime;
  std::vector<int32_t> offsets;
  for (const SplitMark& mark : marks_) offsets.push_back(mark.offset);
  MarkPlace place = PlaceMark(offsets, offset);
  if (place == MarkPlace::Duplicate) return AddResult::Duplicate;
  if (place == MarkPlace::AddAfterZeroMarker) marks_.push_back(SplitMark{});
  SplitMark mark;
  mark.offset = offset;
  mark.artist = artist.substr(0, kTrackNameChars);
  mark.title = title.substr(0, kTrackNameChars);
  auto later = [offset](const SplitMark& other) { return other.offset > offset; };
  marks_.insert(std::find_if(marks_.begin(), marks_.end(), later), std::move(mark));
  return AddResult::Added;
}

}  // namespace snip
