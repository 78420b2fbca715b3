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
#include "split/exact_cut.h"
#include "split/track_naming.h"
#include "split/track_tags.h"

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

constexpr char kPathSeparator =
#ifdef _WIN32
    '\\';
#else
    '/';
#endif

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
    case SplitOutcome::NameTaken:
      return kFileErrorMessage;
  }
  return kFileErrorMessage;
}

namespace {

// Where a job's tracks begin and end in its source.
struct CutPlan {
  std::string folder;
  bool hasTag = false;
  uint8_t tag[kTagSize] = {};
  int64_t start = 0;
  int64_t audioEnd = 0;
  int64_t bph = 0;
  int64_t segment = 0;
  bool cutsKnown = false;
  const SplitJob* job = nullptr;

  // The cut after track k, counted in source bytes. Without a usable
  // bitrate (or segment length) no cut can be placed, so all the audio goes
  // into the first track rather than being lost.
  int64_t CutAfterTrack(size_t k) const {
    if (!cutsKnown) return audioEnd;
    if (job->equalSegments) return start + static_cast<int64_t>(k + 1) * segment * bph;
    if (k + 1 < job->marks.size()) return start + static_cast<int64_t>(job->marks[k + 1].offset) * bph;
    return audioEnd;
  }

  // The number of tracks a run makes: one more than the first track whose
  // cut lies at or past the end of the audio.
  size_t TrackCount() const {
    size_t k = 0;
    while (CutAfterTrack(k) < audioEnd) ++k;
    return k + 1;
  }

  bool TrackName(size_t k, std::string* name) const { return TrackFileName(*job, k, name); }
};

// Opens the job's source and plans its cuts. False on a file error.
bool PlanCuts(const SplitJob& job, File* source, CutPlan* plan) {
  if (job.sourcePath.empty() || job.sourcePath.size() >= kPathChars) return false;
  plan->job = &job;
  plan->folder = TrackFolder(job);
  *source = File::OpenRead(job.sourcePath);
  if (!source->IsOpen()) return false;
  if (!ReadId3v1Tag(*source, plan->tag)) plan->tag[0] = 0;
  plan->hasTag = plan->tag[0] != 0;
  int64_t size = source->Size();
  if (size < 0) return false;
  plan->audioEnd = plan->hasTag ? size - static_cast<int64_t>(kTagSize) : size;
  plan->start = std::max<int64_t>(job.firstFrame, 0);
  plan->audioEnd = std::max(plan->audioEnd, plan->start);
  plan->bph = BytesPerHundredth(job.bitrate);
  plan->segment = job.equalSegments && job.marks.size() >= 2 ? job.marks[1].offset : 0;
  plan->cutsKnown = plan->bph > 0 && (!job.equalSegments || plan->segment > 0);
  return true;
}

}  // namespace

std::string FolderWithSeparator(std::string folder) {
  if (!folder.empty() && !IsSeparator(folder.back())) folder += kPathSeparator;
  return folder;
}

std::string TrackFolder(const SplitJob& job) {
  if (!job.folder.empty()) return job.folder;
  size_t cut = job.sourcePath.size();
  while (cut > 0 && !IsSeparator(job.sourcePath[cut - 1])) --cut;
  return job.sourcePath.substr(0, cut);
}

bool TrackFileName(const SplitJob& job, size_t k, std::string* name) {
  const std::string folder = TrackFolder(job);
  const char* artist = k < job.marks.size() ? job.marks[k].artist.c_str() : "";
  const char* title = k < job.marks.size() ? job.marks[k].title.c_str() : "";
  char built[kPathChars] = {};
  if (!BuildTrackFileName(job.sourcePath.c_str(), folder.c_str(), job.nameTemplate.c_str(), artist, title,
                          static_cast<int>(k), built)) {
    return false;
  }
  if (!LiesDirectlyIn(built, folder)) return false;
  *name = built;
  return true;
}

bool PlannedTrackNames(const SplitJob& job, std::vector<std::string>* names) {
  names->clear();
  File source;
  CutPlan plan;
  if (!PlanCuts(job, &source, &plan)) return false;
  // Track k + 1 is made when the cut after track k lies inside the audio.
  for (size_t k = 0;; ++k) {
    std::string name;
    if (!plan.TrackName(k, &name)) return false;
    names->push_back(name);
    if (plan.CutAfterTrack(k) >= plan.audioEnd) return true;
  }
}

std::vector<std::string> ExistingTrackNames(const std::vector<std::string>& names) {
  std::vector<std::string> existing;
  for (const std::string& name : names) {
    if (KindOf(name) != PathKind::Missing) existing.push_back(name);
  }
  return existing;
}

SplitOutcome RunSplit(const SplitJob& job, const SplitHooks& hooks, SplitSummary* summary) {
  File source;
  CutPlan plan;
  if (!PlanCuts(job, &source, &plan)) return SplitOutcome::FileError;

  // Exact tracks run from the sample of one mark to the sample of the next.
  std::unique_ptr<ExactCutter> exact;
  auto markTime = [&](size_t k) -> int64_t {
    if (k == 0) return 0;
    return job.equalSegments ? static_cast<int64_t>(k) * plan.segment : job.marks[k].offset;
  };
  auto hasMark = [&](size_t k) {
    return k == 0 || (job.equalSegments ? plan.segment > 0 : k < job.marks.size());
  };
  size_t exactTracks = 0;
  if (job.exact) {
    ExactCutter counter(source, plan.start, plan.audioEnd);
    bool countFailed = false;
    if (job.tagTracks && counter.Open(&countFailed)) {
      ExactCutter::Result counted = ExactCutter::Result::Written;
      while (hasMark(exactTracks) &&
             (counted = counter.Seek(MarkSample(markTime(exactTracks), counter.SampleRate()))) ==
                 ExactCutter::Result::Written) {
        ++exactTracks;
      }
      countFailed = counted == ExactCutter::Result::ReadFailed;
    }
    if (countFailed) return SplitOutcome::FileError;
    // Without Layer III frames there is nothing to cut exactly: the audio
    // is cut as without the mode.
    exact = std::make_unique<ExactCutter>(source, plan.start, plan.audioEnd);
    bool readFailed = false;
    if (!exact->Open(&readFailed)) {
      if (readFailed) return SplitOutcome::FileError;
      exact.reset();
    }
  }
  // A variable-bitrate source is cut on frame starts by sample time; its
  // buffers are made only for such a source.
  std::vector<uint8_t> buffer(job.variableBitrate || exact ? 0 : kWindowSize);
  SourceWindow window(source, plan.start, plan.audioEnd, buffer);
  TrackCutter cutter(window, plan.start, plan.audioEnd, job.bitrateIndex, hooks);
  std::unique_ptr<FrameTimeCutter> frameCutter;
  if (job.variableBitrate && !exact) {
    frameCutter = std::make_unique<FrameTimeCutter>(source, plan.start, plan.audioEnd, hooks.progress);
  }
  auto cutTimeAfterTrack = [&](size_t k) -> int64_t {
    if (job.equalSegments) return plan.segment > 0 ? static_cast<int64_t>(k + 1) * plan.segment : INT64_MAX;
    if (k + 1 < job.marks.size()) return job.marks[k + 1].offset;
    return INT64_MAX;
  };
  // Tagged tracks are numbered "k/N": N is counted before the first track.
  TrackTags tags;
  size_t trackCount = 0;
  if (job.tagTracks) {
    tags = TrackTags(job, source, plan.hasTag ? plan.tag : nullptr);
    trackCount = exact                  ? exactTracks
                 : job.variableBitrate ? CountFrameTimeTracks(source, plan.start, plan.audioEnd, cutTimeAfterTrack)
                                       : plan.TrackCount();
  }
  if (!source.Seek(plan.start)) return SplitOutcome::FileError;

  for (size_t k = 0;; ++k) {
    if (hooks.haltRequested && hooks.haltRequested()) return SplitOutcome::Cancelled;
    int64_t from = 0, to = -1;
    if (exact) {
      if (!hasMark(k)) return SplitOutcome::Completed;
      from = MarkSample(markTime(k), exact->SampleRate());
      if (hasMark(k + 1)) {
        to = MarkSample(markTime(k + 1), exact->SampleRate());
      }
      // A mark past the end of the audio makes no track.
      ExactCutter::Result ready = exact->Seek(from);
      if (ready == ExactCutter::Result::PastEnd) return SplitOutcome::Completed;
      if (ready != ExactCutter::Result::Written) return SplitOutcome::FileError;
    }
    if (hooks.trackStarted) hooks.trackStarted(static_cast<int>(k + 1));

    // A track is made directly in the folder or not at all.
    std::string name;
    if (!plan.TrackName(k, &name)) return SplitOutcome::FileError;
    // Never write a track over the source it is cut from.
    if (SameFile(name, job.sourcePath)) return SplitOutcome::FileError;
    PathKind kind = KindOf(name);
    if (kind == PathKind::Folder || kind == PathKind::Special) return SplitOutcome::FileError;
    if (kind == PathKind::Regular && !job.replaceExisting) {
      if (summary) summary->takenName = name;
      return SplitOutcome::NameTaken;
    }
    // Until its commit the track is a temporary file; every return before
    // it removes that file.
    OutputFile track = OutputFile::Create(name);
    if (!track.IsOpen()) return SplitOutcome::FileError;

    // A tagged track's own ID3v2 tag comes first; whatever else goes before
    // the audio (a variable-bitrate track's Xing frame) follows it.
    if (job.tagTracks) {
      std::vector<uint8_t> lead = tags.Id3v2For(k, trackCount);
      if (!track.Stream().Write(lead.data(), lead.size())) return SplitOutcome::FileError;
    }
    CopyResult result;
    if (exact) {
      switch (exact->WriteTrack(track.Stream(), from, to, hooks.progress)) {
        case ExactCutter::Result::Written:
          result = CopyResult::Cut;
          break;
        case ExactCutter::Result::SourceEnded:
          result = CopyResult::SourceEnded;
          break;
        case ExactCutter::Result::ReadFailed:
          result = CopyResult::ReadFailed;
          break;
        default:
          result = CopyResult::WriteFailed;
          break;
      }
    } else if (frameCutter) {
      switch (frameCutter->CopyTrack(track.Stream(), cutTimeAfterTrack(k))) {
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
      result = cutter.CopyTrack(track.Stream(), plan.CutAfterTrack(k));
    }
    if (result == CopyResult::ReadFailed || result == CopyResult::WriteFailed) return SplitOutcome::FileError;
    uint8_t ownTag[kTagSize];
    const uint8_t* tail = plan.hasTag ? plan.tag : nullptr;
    if (job.tagTracks) {
      tags.Id3v1For(k, trackCount, ownTag);
      tail = ownTag;
    }
    if (tail && !track.Stream().Write(tail, kTagSize)) return SplitOutcome::FileError;
    if (hooks.mayCommit && !hooks.mayCommit()) return SplitOutcome::Cancelled;
    if (!track.Commit(job.replaceExisting)) {
      if (!job.replaceExisting && KindOf(name) != PathKind::Missing) {
        if (summary) summary->takenName = name;
        return SplitOutcome::NameTaken;
      }
      return SplitOutcome::FileError;
    }
    if (summary) summary->files.push_back(name);
    if (result == CopyResult::SourceEnded) return SplitOutcome::Completed;
  }
}

}  // namespace snip
