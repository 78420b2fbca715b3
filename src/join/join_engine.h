// Joining MP3 files into one, each without its trailing ID3v1 tag.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace snip {

enum class JoinOutcome { Completed, Halted, FileError, DestinationIsInput, DestinationExists };

// Why a join could not begin or go on, for a caller that names the file.
enum class JoinProblem {
  None,
  CannotOpen,      // an input that cannot be opened (missing, unreadable)
  NotAFile,        // an input or the destination that is a folder, pipe or device
  TooShort,        // an input shorter than an ID3v1 tag (128 bytes)
  IsDestination,   // an input that is the destination, under any spelling
  Exists,          // the destination exists and replacing it was not allowed
  ReadFailed,      // an input that could not be read while it was copied
  WriteFailed,     // the destination could not be written or take its name
};

struct JoinReport {
  JoinProblem problem = JoinProblem::None;
  std::string file;  // the input or destination the problem is about
};

struct JoinHooks {
  // Asked before each input; true ends the run, silently, as halted.
  std::function<bool()> haltRequested;
  // Told the number (from 1) of each input as its copy begins.
  std::function<void(int lineNumber)> lineStarted;
  std::function<void(int64_t done, int64_t total)> progress;
};

// Copies every input, in order, into destination. Every input is checked
// before anything is written: each must open, be a regular file of at least
// 128 bytes and not be the destination. The joined file is written under a
// temporary name and takes the destination's name only when it is complete:
// a run that is refused, fails or is halted leaves the destination exactly
// as it was. An existing destination is replaced only with replaceExisting.
// With oneId3v2Tag the joined file keeps the first input's leading ID3v2
// tag and no other: later inputs' leading tags and any input's appended tag
// are left out.
// With exact the join is gapless (see exact_join.h): one summary frame for
// the whole, the first input's ID3v2 tag only, and the frames exact tracks
// of one source share written once.
JoinOutcome RunJoin(const std::string& destination, const std::vector<std::string>& inputs,
                    const JoinHooks& hooks, bool replaceExisting = true, JoinReport* report = nullptr,
                    bool oneId3v2Tag = false, bool exact = false);

// Message for an outcome; null for Halted, which is silent.
const char* JoinOutcomeMessage(JoinOutcome outcome);

extern const char* const kJoinNeedInputsMessage;

}  // namespace snip
