#include "cli/track_list.h"

#include <algorithm>

#include "split/time_text.h"

namespace snip::cli {

namespace {
// A line's artist and title hold at most this many characters.
constexpr size_t kNameChars = 100;
}  // namespace

AddResult TrackList::Add(const std::string& timeText, const std::string& artist, const std::string& title) {
  int32_t offset = 0;
  if (!ParseTimeArgument(timeText.c_str(), &offset)) return AddResult::NotATime;
  auto same = [offset](const SplitMark& mark) { return mark.offset == offset; };
  if (std::any_of(marks_.begin(), marks_.end(), same)) return AddResult::Duplicate;
  if (marks_.empty() && offset != 0) marks_.push_back(SplitMark{});
  SplitMark mark;
  mark.offset = offset;
  mark.artist = artist.substr(0, kNameChars);
  mark.title = title.substr(0, kNameChars);
  auto later = [offset](const SplitMark& other) { return other.offset > offset; };
  marks_.insert(std::find_if(marks_.begin(), marks_.end(), later), std::move(mark));
  return AddResult::Added;
}

}  // namespace snip::cli
