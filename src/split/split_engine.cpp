#include "split/split_engine.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "app/file_io.h"
#include "mpeg/frame_header.h"
#include "mpeg/source_scan.h"
#include "split/frame_cut.h"
#include "split/track_naming.h"

namespace snip {

const char* const kSplitNeedInputsMessage = "Please choose a source file and a destination name before you continue.";

namespace {

const char* const kInvalidTemplateMessage =
    "The destination name you gave contained invalid characters.  Please use another name.";
const char* const kEqualSegmentsMessage =
    "If you are splitting all into equal segments, you must enter at least one offset. '0:00.00' is just a marker, "
    "not an offset.";
const char* const kNeedTrackFieldMessage =
    "The destination name must contain %track% when more than one track is created.  Please change the name.";
const char* const kCompletedMessage = "Track creation completed successfully.";
const char* const kCancelledMessage = "Track creation has been cancelled.";
const char* const kFileErrorMessage = "There has been a file error while trying to create tracks.  Please try again.";

// One buffer serves the copy and the search for the next frame.
constexpr size_t kWindowSize = 256 * 1024;
constexpr size_t kHeaderSize = 4;
constexpr size_t kTagSize = 128;

bool IsSeparator(char c) {
#ifdef _WIN32
  return c == '\\' || c == '/';
#else
  return c == '/';
#endif
}

// A window that walks forward over the source's audio, [start, end). Bytes
// before the position handed to Refill may be dropped; the window never
// holds more than one buffer, whatever the size of the source.
class SourceWindow {
 public:
  SourceWindow(File& file, int64_t start, int64_t end, std::vector<uint8_t>& buffer)
      : file_(file), buffer_(buffer), windowStart_(start), readPos_(start), end_(end) {}

  // Bytes held from pos onwards (pos must lie inside the window or at its end).
  size_t Available(int64_t pos) const { return static_cast<size_t>(readPos_ - pos); }
  const uint8_t* At(int64_t pos) const { return buffer_.data() + (pos - windowStart_); }
  // No more bytes will come: the audio end was reached or the file ran out.
  bool AtEnd() const { return readPos_ >= end_ || fileEnded_; }
  bool Full(int64_t pos) const { return Available(pos) >= buffer_.size(); }

  // Keeps the bytes from pos on, moves them to the buffer's front and reads
  // behind them until the window holds `hold` bytes (at most a buffer).
  // False when the read fails.
  bool Refill(int64_t pos, size_t hold = SIZE_MAX) {
    size_t keep = Available(pos);
    if (keep > 0 && pos != windowStart_) std::memmove(buffer_.data(), At(pos), keep);
    windowStart_ = pos;
    if (AtEnd()) return true;
    size_t room = std::min(buffer_.size(), hold);
    if (keep >= room) return true;
    int64_t want = std::min<int64_t>(static_cast<int64_t>(room - keep), end_ - readPos_);
    if (want <= 0) return true;
    int64_t got = file_.ReadFull(buffer_.data() + keep, static_cast<size_t>(want));
    if (got < 0) return false;
    if (got < want) fileEnded_ = true;
    readPos_ += got;
    return true;
  }

 private:
  File& file_;
  std::vector<uint8_t>& buffer_;
  int64_t windowStart_;  // source position of buffer_[0]
  int64_t readPos_;      // source position of the next byte to read; the window ends here
  int64_t end_;
  bool fileEnded_ = false;
};

enum class CopyResult { Cut, SourceEnded, ReadFailed, WriteFailed };

class TrackCutter {
 public:
  TrackCutter(SourceWindow& window, int64_t start, int64_t end, int bitrateIndex, const SplitHooks& hooks)
      : window_(window), pos_(start), start_(start), end_(end), bitrateIndex_(bitrateIndex), hooks_(hooks) {}

  int64_t Position() const { return pos_; }

  // Copies from the current position to target (nothing when the position
  // already lies past it), then on to the next confirmed frame with the
  // source's bitrate index, which becomes the next track's first byte. A
  // target at or past the end copies the rest of the audio.
  CopyResult CopyTrack(File& track, int64_t target) {
    const int64_t trackStart = pos_;
    int64_t copyEnd = std::min(target, end_);
    while (pos_ < copyEnd) {
      if (window_.Available(pos_) == 0) {
        // Whatever the previous track left in the window makes the track's
        // first write short; the read after it is cut so that every later
        // write begins on a multiple of the window size in the track file
        // (a write that starts inside a page costs far more than a read).
        size_t intoBlock = static_cast<size_t>((pos_ - trackStart) % static_cast<int64_t>(kWindowSize));
        if (!window_.Refill(pos_, kWindowSize - intoBlock)) return CopyResult::ReadFailed;
        if (window_.Available(pos_) == 0) return CopyResult::SourceEnded;
      }
      size_t n = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(window_.Available(pos_)), copyEnd - pos_));
      if (!Emit(track, n)) return CopyResult::WriteFailed;
    }
    if (target >= end_) return CopyResult::SourceEnded;
    // A track always holds at least the frame it starts with: when two cuts
    // fall inside one frame, the later track begins at the next frame
    // instead of being left empty.
    if (pos_ == trackStart) {
      if (window_.Available(pos_) == 0) {
        if (!window_.Refill(pos_)) return CopyResult::ReadFailed;
        if (window_.Available(pos_) == 0) return CopyResult::SourceEnded;
      }
      if (!Emit(track, 1)) return CopyResult::WriteFailed;
    }
    return Resync(track);
  }

 private:
  bool Emit(File& track, size_t n) {
    if (n == 0) return true;
    if (!track.Write(window_.At(pos_), n)) return false;
    pos_ += static_cast<int64_t>(n);
    if (hooks_.progress) hooks_.progress(pos_ - start_, end_ - start_);
    return true;
  }

  CopyResult Resync(File& track) {
    for (;;) {
      if (window_.Available(pos_) < kHeaderSize && !window_.AtEnd()) {
        if (!window_.Refill(pos_)) return CopyResult::ReadFailed;
      }
      size_t avail = window_.Available(pos_);
      if (avail == 0) return CopyResult::SourceEnded;
      const uint8_t* data = window_.At(pos_);
      bool atEnd = window_.AtEnd();
      size_t i = 0;
      bool needMore = false;
      for (; i < avail; ++i) {
        if (data[i] != 0xFF) continue;
        size_t rest = avail - i;
        if (rest < kHeaderSize && !atEnd) {
          needMore = true;
          break;
        }
        FrameCheck check = ConfirmFrame(data + i, rest, atEnd, bitrateIndex_);
        if (check == FrameCheck::Yes) {
          if (!Emit(track, i)) return CopyResult::WriteFailed;
          return CopyResult::Cut;
        }
        // A full window always holds a whole frame and its follower.
        if (check == FrameCheck::NeedMore && !atEnd && !(i == 0 && window_.Full(pos_))) {
          needMore = true;
          break;
        }
      }
      if (!Emit(track, i)) return CopyResult::WriteFailed;
      if (!needMore && atEnd) return CopyResult::SourceEnded;
      if (!window_.Refill(pos_)) return CopyResult::ReadFailed;
    }
  }

  SourceWindow& window_;
  int64_t pos_;
  int64_t start_;
  int64_t end_;
  int bitrateIndex_;
  const SplitHooks& hooks_;
};

}  // namespace

SplitRefusal ValidateSplitJob(const SplitJob& job) {
  if (!IsValidNameTemplate(job.nameTemplate.c_str())) return SplitRefusal::InvalidTemplate;
  if (job.equalSegments && job.marks.size() < 2) return SplitRefusal::EqualSegmentsNeedOffset;
  bool manyTracks = job.marks.size() > 1 || job.equalSegments;
  if (manyTracks && job.nameTemplate.find("%track%") == std::string::npos) return SplitRefusal::NeedTrackField;
  return SplitRefusal::None;
}

const char* SplitRefusalMessage(SplitRefusal refusal) {
  switch (refusal) {
    case SplitRefusal::InvalidTemplate:
      return kInvalidTemplateMessage;
    case SplitRefusal::EqualSegmentsNeedOffset:
      return kEqualSegmentsMessage;
    case SplitRefusal::NeedTrackField:
      return kNeedTrackFieldMessage;
    case SplitRefusal::None:
      break;
  }
  return nullptr;
}

const char* SplitOutcomeMessage(SplitOutcome outcome) {
  switch (outcome) {
    case SplitOutcome::Completed:
      return kCompletedMessage;
    case SplitOutcome::Cancelled:
      return kCancelledMessage;
    case SplitOutcome::FileError:
      return kFileErrorMessage;
  }
  return kFileErrorMessage;
}

SplitOutcome RunSplit(const SplitJob& job, const SplitHooks& hooks, SplitSummary* summary) {
  if (job.sourcePath.empty() || job.sourcePath.size() >= kPathChars) return SplitOutcome::FileError;

  std::string folder = job.folder;
  if (folder.empty()) {
    size_t cut = job.sourcePath.size();
    while (cut > 0 && !IsSeparator(job.sourcePath[cut - 1])) --cut;
    folder = job.sourcePath.substr(0, cut);
  }

  File source = File::OpenRead(job.sourcePath);
  if (!source.IsOpen()) return SplitOutcome::FileError;

  uint8_t tag[kTagSize] = {};
  if (!ReadId3v1Tag(source, tag)) tag[0] = 0;
  bool hasTag = tag[0] != 0;
  int64_t size = source.Size();
  if (size < 0) return SplitOutcome::FileError;
  int64_t audioEnd = hasTag ? size - static_cast<int64_t>(kTagSize) : size;
  int64_t start = std::max<int64_t>(job.firstFrame, 0);
  audioEnd = std::max(audioEnd, start);
  if (!source.Seek(start)) return SplitOutcome::FileError;

  // Where each cut lies, counted from the first frame. Without a usable
  // bitrate (or segment length) no cut can be placed, so all the audio goes
  // into the first track rather than being lost.
  const int64_t bph = BytesPerHundredth(job.bitrate);
  const int64_t segment = job.equalSegments && job.marks.size() >= 2 ? job.marks[1].offset : 0;
  const bool cutsKnown = bph > 0 && (!job.equalSegments || segment > 0);
  auto cutAfterTrack = [&](size_t k) -> int64_t {
    if (!cutsKnown) return audioEnd;
    if (job.equalSegments) return start + static_cast<int64_t>(k + 1) * segment * bph;
    if (k + 1 < job.marks.size()) return start + static_cast<int64_t>(job.marks[k + 1].offset) * bph;
    return audioEnd;
  };

  // A variable-bitrate source is cut on frame starts by sample time; its
  // buffers are made only for such a source.
  std::vector<uint8_t> buffer(job.variableBitrate ? 0 : kWindowSize);
  SourceWindow window(source, start, audioEnd, buffer);
  TrackCutter cutter(window, start, audioEnd, job.bitrateIndex, hooks);
  std::unique_ptr<FrameTimeCutter> frameCutter;
  if (job.variableBitrate) frameCutter = std::make_unique<FrameTimeCutter>(source, start, audioEnd, hooks.progress);
  auto cutTimeAfterTrack = [&](size_t k) -> int64_t {
    if (job.equalSegments) return segment > 0 ? static_cast<int64_t>(k + 1) * segment : INT64_MAX;
    if (k + 1 < job.marks.size()) return job.marks[k + 1].offset;
    return INT64_MAX;
  };

  for (size_t k = 0;; ++k) {
    if (hooks.haltRequested && hooks.haltRequested()) return SplitOutcome::Cancelled;
    if (hooks.trackStarted) hooks.trackStarted(static_cast<int>(k + 1));

    const char* artist = k < job.marks.size() ? job.marks[k].artist.c_str() : "";
    const char* title = k < job.marks.size() ? job.marks[k].title.c_str() : "";
    char name[kPathChars] = {};
    if (!BuildTrackFileName(job.sourcePath.c_str(), folder.c_str(), job.nameTemplate.c_str(), artist, title,
                            static_cast<int>(k), name)) {
      return SplitOutcome::FileError;
    }
    // A track is made directly in the folder or not at all.
    if (!LiesDirectlyIn(name, folder)) return SplitOutcome::FileError;
    // Never write a track over the source it is cut from.
    if (SameFile(name, job.sourcePath)) return SplitOutcome::FileError;
    File track = File::Create(name);
    if (!track.IsOpen()) return SplitOutcome::FileError;

    CopyResult result;
    if (frameCutter) {
      switch (frameCutter->CopyTrack(track, cutTimeAfterTrack(k))) {
        case FrameTimeCutter::Result::Cut:
          result = CopyResult::Cut;
          break;
        case FrameTimeCutter::Result::SourceEnded:
          result = CopyResult::SourceEnded;
          break;
        case FrameTimeCutter::Result::ReadFailed:
          result = CopyResult::ReadFailed;
          break;
        default:
          result = CopyResult::WriteFailed;
          break;
      }
    } else {
      result = cutter.CopyTrack(track, cutAfterTrack(k));
    }
    if (result == CopyResult::ReadFailed || result == CopyResult::WriteFailed) return SplitOutcome::FileError;
    if (hasTag && !track.Write(tag, kTagSize)) return SplitOutcome::FileError;
    if (!track.Close()) return SplitOutcome::FileError;
    if (summary) summary->files.push_back(name);
    if (result == CopyResult::SourceEnded) return SplitOutcome::Completed;
  }
}

}  // namespace snip
