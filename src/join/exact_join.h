// The gapless join: the inputs' audio frames under one summary frame (Info
// or Xing with a LAME tag) that states the first input's encoder delay and
// the last input's padding, with no input's summary frame or ID3v2 tag after
// the start. Where an input begins with frames the one before it ended with,
// as exact tracks cut from one source do (their warm-up frames are the end
// of the track before, behind a silent frame that carries the reservoir),
// those frames and the silent frame are written once, so that the joined
// tracks decode to the source's samples again.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "app/file_io.h"

namespace snip {

enum class ExactJoinResult { Done, Halted, ReadFailed, WriteFailed, NoAudio };

struct ExactJoinHooks {
  std::function<bool()> haltRequested;             // asked before each input
  std::function<void(int lineNumber)> lineStarted;  // from 1
  std::function<void(int64_t done, int64_t total)> progress;
};

// Writes the join of inputs at output's current position: the first input's
// leading ID3v2 tag, the summary frame, the frames. No ID3v1 tag.
ExactJoinResult WriteExactJoin(const std::vector<std::string>& inputs, File& output, const ExactJoinHooks& hooks);

}  // namespace snip
