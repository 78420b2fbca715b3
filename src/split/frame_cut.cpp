#include "split/frame_cut.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "app/write_behind.h"
#include "mpeg/frame_header.h"
#include "mpeg/lame_tag.h"

namespace snip {

namespace {

// Track files are written in blocks of this size, each ending on a multiple
// of it in the file.
constexpr size_t kBlockSize = 256 * 1024;

}  // namespace

FrameTimeCutter::FrameTimeCutter(File& source, int64_t start, int64_t end,
                                 std::function<void(int64_t, int64_t)> progress)
    : walk_(source, start, end), start_(start), end_(end), progress_(std::move(progress)) {
  out_.reserve(kBlockSize);
}

bool FrameTimeCutter::Advance() {
  // Only Layer III frames are audio here; anything else is stepped over.
  FrameWalk::Step step;
  do {
    step = walk_.Next(&pending_);
  } while (step == FrameWalk::Step::Frame && HeaderLayerBits(pending_.data) != 1);
  hasPending_ = step == FrameWalk::Step::Frame;
  if (hasPending_ && sampleRate_ == 0) {
    sampleRate_ = SampleRateHz(HeaderVersionBits(pending_.data), HeaderSampleRateIndex(pending_.data));
  }
  return step != FrameWalk::Step::ReadError;
}

bool FrameTimeCutter::Flush(WriteBehind& writer) {
  if (out_.empty()) return true;
  if (!writer.Hand(out_)) return false;
  if (progress_) progress_(walk_.Position() - start_, end_ - start_);
  return true;
}

bool FrameTimeCutter::Put(WriteBehind& writer, const uint8_t* data, size_t n) {
  while (n > 0) {
    const size_t room = writer.Room(kBlockSize);
    size_t take = out_.size() < room ? std::min(n, room - out_.size()) : 0;
    out_.insert(out_.end(), data, data + take);
    data += take;
    n -= take;
    if (out_.size() >= room && !Flush(writer)) return false;
  }
  return true;
}

FrameTimeCutter::Result FrameTimeCutter::CopyTrack(File& track, int64_t cutHundredths) {
  if (!primed_) {
    primed_ = true;
    if (!Advance()) return Result::ReadFailed;
  }
  if (!hasPending_) return Result::SourceEnded;
  // The Xing frame goes behind whatever the track holds already.
  const int64_t base = track.Tell();
  if (base < 0) return Result::WriteFailed;

  // The Xing frame takes the format of the track's first frame; its place is
  // held by zeros until the track's frames are counted.
  SummaryFrameFields fields;
  std::memcpy(fields.header, pending_.data, 4);
  const int summaryLength = SummaryFrameLength(fields.header, false);
  if (summaryLength <= 0) return Result::ReadFailed;
  std::vector<uint8_t> summary(static_cast<size_t>(summaryLength), 0);
  WriteBehind writer(track, &blocks_);
  if (!Put(writer, summary.data(), summary.size())) return Result::WriteFailed;

  TocBuilder toc;
  int64_t bytes = summaryLength;
  int64_t samples = 0;
  uint32_t frames = 0;
  const int64_t cutSamples = cutHundredths >= INT64_MAX / 1000000 ? INT64_MAX : cutHundredths * sampleRate_;
  for (bool first = true; hasPending_; first = false) {
    if (!first && samplesBefore_ * 100 >= cutSamples) break;
    toc.Add(bytes, samples);
    if (!Put(writer, pending_.data, static_cast<size_t>(pending_.size))) return Result::WriteFailed;
    bytes += pending_.size;
    samples += pending_.samples;
    ++frames;
    samplesBefore_ += pending_.samples;
    if (!Advance()) return Result::ReadFailed;
  }
  if (!Flush(writer) || !writer.Drain()) return Result::WriteFailed;

  fields.vbr = true;
  fields.frames = frames;
  fields.bytes = static_cast<uint32_t>(std::min<int64_t>(bytes, UINT32_MAX));
  toc.Finish(bytes, samples, fields.toc);
  summary = BuildSummaryFrame(fields);
  if (summary.size() != static_cast<size_t>(summaryLength)) return Result::WriteFailed;
  if (!track.Seek(base) || !track.Write(summary.data(), summary.size()) || !track.Seek(base + bytes)) {
    return Result::WriteFailed;
  }
  return hasPending_ ? Result::Cut : Result::SourceEnded;
}

size_t CountFrameTimeTracks(File& source, int64_t start, int64_t end,
                            const std::function<int64_t(size_t)>& cutAfterTrack) {
  FrameWalk walk(source, start, end);
  WalkFrame frame;
  size_t tracks = 0;
  int sampleRate = 0;
  int64_t samplesBefore = 0;
  // The same rule as CopyTrack: a track ends before the first later frame
  // that starts at or after its cut.
  while (walk.Next(&frame) == FrameWalk::Step::Frame) {
    if (HeaderLayerBits(frame.data) != 1) continue;  // stepped over as in Advance
    if (sampleRate == 0) sampleRate = SampleRateHz(HeaderVersionBits(frame.data), HeaderSampleRateIndex(frame.data));
    if (tracks == 0) {
      tracks = 1;
    } else {
      int64_t cut = cutAfterTrack(tracks - 1);
      int64_t cutSamples = cut >= INT64_MAX / 1000000 ? INT64_MAX : cut * sampleRate;
      if (samplesBefore * 100 >= cutSamples) ++tracks;
    }
    samplesBefore += frame.samples;
  }
  return tracks == 0 ? 1 : tracks;
}

}  // namespace snip
