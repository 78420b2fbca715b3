// The list of cut times as the Split page keeps it: the 000:00.00 marker
// first, then the marks in time order, no two at the same time. The page's
// list box and the command line both add marks by PlaceMark's rule.
#pragma once

#include <string>
#include <vector>

#include "split/split_engine.h"

namespace snip {

// Where a new mark goes in a list holding marks at the given offsets: not at
// all when one is at its time already; into an empty list, behind a
// 000:00.00 marker made first unless the mark itself is at 0.
enum class MarkPlace { Duplicate, Add, AddAfterZeroMarker };
MarkPlace PlaceMark(const std::vector<int32_t>& offsets, int32_t offset);

// A line's artist and title hold at most this many characters.
constexpr size_t kTrackNameChars = 100;

enum class AddResult { Added, NotATime, Duplicate };

class TrackList {
 public:
  // Reads the time text strictly (ParseTimeArgument) and adds the mark by
  // PlaceMark's rule, in time order.
  AddResult Add(const std::string& timeText, const std::string& artist = {}, const std::string& title = {});
  const std::vector<SplitMark>& Marks() const { return marks_; }

 private:
  std::vector<SplitMark> marks_;
};

}  // namespace snip
