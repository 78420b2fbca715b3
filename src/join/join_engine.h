// Joining MP3 files into one, each without its trailing ID3v1 tag.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace snip {

enum class JoinOutcome { Completed, Halted, FileError, DestinationIsInput };

struct JoinHooks {
  // Asked before each input; true ends the run, silently, as halted.
  std::function<bool()> haltRequested;
  // Told the number (from 1) of each input as its copy begins.
  std::function<void(int lineNumber)> lineStarted;
  std::function<void(int64_t done, int64_t total)> progress;
};

// Copies every input, in order, into destination. Refuses, before the
// destination is created, a destination that is one of the inputs.
JoinOutcome RunJoin(const std::string& destination, const std::vector<std::string>& inputs,
                    const JoinHooks& hooks);

// Message for an outcome; null for Halted, which is silent.
const char* JoinOutcomeMessage(JoinOutcome outcome);

extern const char* const kJoinNeedInputsMessage;

}  // namespace snip
