#include "join/join_engine.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <vector>

#include "app/file_io.h"
#include "join/exact_join.h"
#include "mpeg/source_scan.h"

namespace snip {

const char* const kJoinNeedInputsMessage =
    "Please select a destination file and fill in the track list with two or more items for joining.";

namespace {

const char* const kCompletedMessage = "Track joining completed successfully.";
const char* const kFileErrorMessage = "There has been a file error while trying to join tracks.  Please try again.";
const char* const kDestinationIsInputMessage =
    "The destination file is also in the list of tracks to join.  Please choose another destination.";
const char* const kDestinationExistsMessage = "The destination file already exists.  Please choose another destination.";

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

// For a join that keeps one ID3v2 tag, the first input's: moves the span's
// start past the input's leading ID3v2 tags (unless keepLeading) and its
// stop before an ID3v2 tag appended with a footer. False on a read failure.
bool LeaveOutId3v2Tags(File& input, bool keepLeading, InputSpan* span) {
  uint8_t head[10];
  if (!keepLeading) {
    int64_t pos = 0;
    while (span->stop - pos >= 10) {
      if (!input.Seek(pos) || input.ReadFull(head, sizeof head) != 10) return false;
      int64_t tag = Id3v2TagSize(head, sizeof head);
      if (tag == 0) break;
      pos += tag;
    }
    span->start = std::min(pos, span->stop);
  }
  if (span->stop - span->start >= 20) {
    if (!input.Seek(span->stop - 10) || input.ReadFull(head, sizeof head) != 10) return false;
    if (std::memcmp(head, "3DI", 3) == 0) {
      head[0] = 'I', head[1] = 'D', head[2] = '3';
      int64_t tag = Id3v2TagSize(head, sizeof head);
      if (tag > 0 && tag <= span->stop - span->start) span->stop -= tag;
    }
  }
  if (span->skipFrom < span->start || span->skipTo > span->stop) span->skipFrom = span->skipTo = 0;
  return true;
}

// Copies [from, to) of input to output in large blocks. `written` is the
// output's length so far: every block ends on a multiple of the block size
// in the output, since writes that start inside a page cost the system far
// more than reads that do (each input ends at an odd offset, less its tag).
enum class CopyFailure { None, Read, Write };

CopyFailure CopyRange(File& input, File& output, int64_t from, int64_t to, std::vector<uint8_t>& buffer,
                      const std::function<void(int64_t)>& copied, int64_t& written) {
  if (from >= to) return CopyFailure::None;
  if (!input.Seek(from)) return CopyFailure::Read;
  const int64_t block = static_cast<int64_t>(buffer.size());
  for (int64_t pos = from; pos < to;) {
    size_t want = static_cast<size_t>(std::min<int64_t>(block - written % block, to - pos));
    int64_t got = input.ReadFull(buffer.data(), want);
    // The input was measured before the copy; coming up short means it
    // changed or could not be read.
    if (got <= 0) return CopyFailure::Read;
    if (!output.Write(buffer.data(), static_cast<size_t>(got))) return CopyFailure::Write;
    pos += got;
    written += got;
    copied(got);
  }
  return CopyFailure::None;
}

}  // namespace

JoinOutcome RunJoin(const std::string& destination, const std::vector<std::string>& inputs, const JoinHooks& hooks,
                    bool replaceExisting, JoinReport* report, bool oneId3v2Tag, bool exact) {
  auto fail = [report](JoinOutcome outcome, JoinProblem problem, const std::string& file) {
    if (report) {
      report->problem = problem;
      report->file = file;
    }
    return outcome;
  };

  // Everything is checked before a byte is written. An input that is the
  // destination would read the file being written (or, replaced, be lost).
  for (const std::string& input : inputs) {
    if (SamePlace(destination, input)) {
      return fail(JoinOutcome::DestinationIsInput, JoinProblem::IsDestination, input);
    }
  }
  PathKind destinationKind = KindOf(destination);
  if (destinationKind == PathKind::Folder || destinationKind == PathKind::Special) {
    return fail(JoinOutcome::FileError, JoinProblem::NotAFile, destination);
  }
  int64_t total = 0;
  for (const std::string& input : inputs) {
    PathKind kind = KindOf(input);
    if (kind == PathKind::Folder || kind == PathKind::Special) {
      return fail(JoinOutcome::FileError, JoinProblem::NotAFile, input);
    }
    File probe = File::OpenRead(input);
    if (!probe.IsOpen()) return fail(JoinOutcome::FileError, JoinProblem::CannotOpen, input);
    int64_t size = probe.Size();
    if (size < 0) return fail(JoinOutcome::FileError, JoinProblem::CannotOpen, input);
    if (size < kTagSize) return fail(JoinOutcome::FileError, JoinProblem::TooShort, input);
    total += size;
  }
  if (destinationKind == PathKind::Regular && !replaceExisting) {
    return fail(JoinOutcome::DestinationExists, JoinProblem::Exists, destination);
  }

  OutputFile output = OutputFile::Create(destination);
  if (!output.IsOpen()) return fail(JoinOutcome::FileError, JoinProblem::WriteFailed, destination);

  if (exact) {
    ExactJoinHooks exactHooks{hooks.haltRequested, hooks.lineStarted, hooks.progress};
    size_t line = 0;
    exactHooks.lineStarted = [&](int number) {
      line = static_cast<size_t>(number - 1);
      if (hooks.lineStarted) hooks.lineStarted(number);
    };
    switch (WriteExactJoin(inputs, output.Stream(), exactHooks)) {
      case ExactJoinResult::Done:
        break;
      case ExactJoinResult::Halted:
        return JoinOutcome::Halted;
      case ExactJoinResult::WriteFailed:
        return fail(JoinOutcome::FileError, JoinProblem::WriteFailed, destination);
      default:
        return fail(JoinOutcome::FileError, JoinProblem::ReadFailed, inputs[std::min(line, inputs.size() - 1)]);
    }
  } else {
  std::vector<uint8_t> buffer(kBlockSize);
  int64_t done = 0;
  int64_t written = 0;
  auto copied = [&](int64_t n) {
    done += n;
    if (hooks.progress) hooks.progress(done, std::max(total, done));
  };

  // Leaving early drops the output: its temporary file goes, the
  // destination stays as it was.
  for (size_t i = 0; i < inputs.size(); ++i) {
    if (hooks.haltRequested && hooks.haltRequested()) return JoinOutcome::Halted;
    if (hooks.lineStarted) hooks.lineStarted(static_cast<int>(i + 1));

    const int64_t lineBase = done;
    File input = File::OpenRead(inputs[i]);
    if (!input.IsOpen()) return fail(JoinOutcome::FileError, JoinProblem::CannotOpen, inputs[i]);
    InputSpan span;
    if (!MeasureInput(input, buffer, &span) || (oneId3v2Tag && !LeaveOutId3v2Tags(input, i == 0, &span))) {
      return fail(JoinOutcome::FileError, JoinProblem::ReadFailed, inputs[i]);
    }
    CopyFailure failure = CopyFailure::None;
    if (span.skipTo > span.skipFrom) {
      failure = CopyRange(input, output.Stream(), span.start, span.skipFrom, buffer, copied, written);
      if (failure == CopyFailure::None) {
        failure = CopyRange(input, output.Stream(), span.skipTo, span.stop, buffer, copied, written);
      }
    } else {
      failure = CopyRange(input, output.Stream(), span.start, span.stop, buffer, copied, written);
    }
    if (failure == CopyFailure::Read) return fail(JoinOutcome::FileError, JoinProblem::ReadFailed, inputs[i]);
    if (failure == CopyFailure::Write) return fail(JoinOutcome::FileError, JoinProblem::WriteFailed, destination);
    // Left-out bytes (tag, length frame) count as done too.
    done = lineBase + span.size;
    if (hooks.progress) hooks.progress(done, std::max(total, done));
  }
  }
  if (!output.Commit(replaceExisting)) {
    if (!replaceExisting && KindOf(destination) != PathKind::Missing) {
      return fail(JoinOutcome::DestinationExists, JoinProblem::Exists, destination);
    }
    return fail(JoinOutcome::FileError, JoinProblem::WriteFailed, destination);
  }
  return JoinOutcome::Completed;
}

const char* JoinOutcomeMessage(JoinOutcome outcome) {
  switch (outcome) {
    case JoinOutcome::Completed:
      return kCompletedMessage;
    case JoinOutcome::FileError:
      return kFileErrorMessage;
    case JoinOutcome::DestinationIsInput:
      return kDestinationIsInputMessage;
    case JoinOutcome::DestinationExists:
      return kDestinationExistsMessage;
    case JoinOutcome::Halted:
      break;
  }
  return nullptr;
}

}  // namespace snip
