// The list of cut times as the Split page keeps it: the 000:00.00 marker
// first, then the marks in time order, no two at the same time.
#pragma once

#include <string>
#include <vector>

#include "split/split_engine.h"

namespace snip::cli {

enum class AddResult { Added, NotATime, Duplicate };

class TrackList {
 public:
  // Reads the time text strictly (ParseTimeArgument) and adds the mark.
  // A list that is empty gets the 000:00.00 marker first when the time is not 0.
  AddResult Add(const std::string& timeText, const std::string& artist = {}, const std::string& title = {});
  const std::vector<SplitMark>& Marks() const { return marks_; }

 private:
  std::vector<SplitMark> marks_;
};

}  // namespace snip::cli
