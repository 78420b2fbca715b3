#include "join/join_engine.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <vector>

#include "app/file_io.h"
#include "mpeg/source_scan.h"

namespace snip {

const char* const kJoinNeedInputsMessage =
    "Please select a destination file and fill in the track list with two or more items for joining.";

namespace {

const char* const kCompletedMessage = "Track joining completed successfully.";
const char* const kFileErrorMessage = "There has been a file error while trying to join tracks.  Please try again.";
const char* const kDestinationIsInputMessage =
    "The destination file is also in the list of tracks to join.  Please choose another destination.";

constexpr size_t kBlockSize = 256 * 1024;
constexpr int64_t kTagSize = 128;

// The part of one input that goes into the joined file: [start, stop) less
// a leading frame that only describes the input's own length.
struct InputSpan {
  int64_t size = 0;
  int64_t start = 0;
  int64_t stop = 0;
  int64_t skipFrom = 0;  // [skipFrom, skipTo) is left out
  int64_t skipTo = 0;
};

// Works out which bytes of an input to copy. False on a file error (a file
// shorter than a tag, or a failed read).
bool MeasureInput(File& input, std::vector<uint8_t>& buffer, InputSpan* span) {
  int64_t size = input.Size();
  if (size < kTagSize) return false;
  span->size = size;
  if (!input.Seek(size - kTagSize)) return false;
  if (input.ReadFull(buffer.data(), kTagSize) != kTagSize) return false;
  span->stop = std::memcmp(buffer.data(), "TAG", 3) == 0 ? size - kTagSize : size;
  if (span->stop == 0) return true;

  // A leading "Info"/"Xing"/"VBRI" frame states the length of this input
  // alone; in the joined file it would make players show the wrong length.
  int64_t header = 0;
  int frameLength = 0;
  bool isInfo = false;
  bool readFailed = false;
  bool found = LocateFirstFrame(input, 0, &header, &frameLength, &isInfo, &readFailed);
  if (readFailed) return false;
  if (found && isInfo && frameLength > 0 && header + frameLength <= span->stop) {
    span->skipFrom = header;
    span->skipTo = header + frameLength;
  }
  return true;
}

// Copies [from, to) of input to output in large blocks. `written` is the
// output's length so far: every block ends on a multiple of the block size
// in the output, since writes that start inside a page cost the system far
// more than reads that do (each input ends at an odd offset, less its tag).
bool CopyRange(File& input, File& output, int64_t from, int64_t to, std::vector<uint8_t>& buffer,
               const std::function<void(int64_t)>& copied, int64_t& written) {
  if (from >= to) return true;
  if (!input.Seek(from)) return false;
  const int64_t block = static_cast<int64_t>(buffer.size());
  for (int64_t pos = from; pos < to;) {
    size_t want = static_cast<size_t>(std::min<int64_t>(block - written % block, to - pos));
    int64_t got = input.ReadFull(buffer.data(), want);
    // The input was measured before the copy; coming up short means it
    // changed or could not be read.
    if (got <= 0) return false;
    if (!output.Write(buffer.data(), static_cast<size_t>(got))) return false;
    pos += got;
    written += got;
    copied(got);
  }
  return true;
}

}  // namespace

JoinOutcome RunJoin(const std::string& destination, const std::vector<std::string>& inputs, const JoinHooks& hooks) {
  // Creating the destination empties it: never when it is one of the inputs.
  for (const std::string& input : inputs) {
    if (SameFile(destination, input)) return JoinOutcome::DestinationIsInput;
  }

  int64_t total = 0;
  for (const std::string& input : inputs) {
    File probe = File::OpenRead(input);
    int64_t size = probe.IsOpen() ? probe.Size() : -1;
    if (size > 0) total += size;
  }

  File output = File::Create(destination);
  if (!output.IsOpen()) return JoinOutcome::FileError;

  std::vector<uint8_t> buffer(kBlockSize);
  int64_t done = 0;
  int64_t written = 0;
  auto copied = [&](int64_t n) {
    done += n;
    if (hooks.progress) hooks.progress(done, std::max(total, done));
  };

  for (size_t i = 0; i < inputs.size(); ++i) {
    if (hooks.haltRequested && hooks.haltRequested()) {
      return output.Close() ? JoinOutcome::Halted : JoinOutcome::FileError;
    }
    if (hooks.lineStarted) hooks.lineStarted(static_cast<int>(i + 1));

    const int64_t lineBase = done;
    File input = File::OpenRead(inputs[i]);
    if (!input.IsOpen()) return JoinOutcome::FileError;
    InputSpan span;
    if (!MeasureInput(input, buffer, &span)) return JoinOutcome::FileError;
    bool ok;
    if (span.skipTo > span.skipFrom) {
      ok = CopyRange(input, output, span.start, span.skipFrom, buffer, copied, written) &&
           CopyRange(input, output, span.skipTo, span.stop, buffer, copied, written);
    } else {
      ok = CopyRange(input, output, span.start, span.stop, buffer, copied, written);
    }
    if (!ok) return JoinOutcome::FileError;
    // Left-out bytes (tag, length frame) count as done too.
    done = lineBase + span.size;
    if (hooks.progress) hooks.progress(done, std::max(total, done));
  }
  return output.Close() ? JoinOutcome::Completed : JoinOutcome::FileError;
}

const char* JoinOutcomeMessage(JoinOutcome outcome) {
  switch (outcome) {
    case JoinOutcome::Completed:
      return kCompletedMessage;
    case JoinOutcome::FileError:
      return kFileErrorMessage;
    case JoinOutcome::DestinationIsInput:
      return kDestinationIsInputMessage;
    case JoinOutcome::Halted:
      break;
  }
  return nullptr;
}

}  // namespace snip
