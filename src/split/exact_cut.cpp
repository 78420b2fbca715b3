#include "split/exact_cut.h"

#include <algorithm>
#include <cstring>

#include "app/write_behind.h"
#include "mpeg/frame_header.h"
#include "mpeg/source_scan.h"

namespace snip {

namespace {

constexpr int kDecoderDelay = 529;  // samples every decoder's output lags the encoder's input
constexpr int kMaxTagField = 4095;  // delay and padding are 12-bit fields
// Frames walked before a track's first frame, for the reservoir bytes it
// points back to (at most 511 bytes; the smallest frames hold 11 bytes of
// main data each).
constexpr int64_t kLookback = 48;
constexpr size_t kSeenFrames = 128;
constexpr size_t kReservoirBytes = 512;
constexpr size_t kFlushBytes = 256 * 1024;

bool HasCrc(const uint8_t* h) { return (h[1] & 0x01) == 0; }

size_t MainDataAt(const uint8_t* h) { return 4 + (HasCrc(h) ? 2 : 0) + Layer3SideInfoBytes(h); }

// Warm-up a decoder needs before a sample comes out as in an unbroken
// decode: the overlap of the previous granule and the synthesis filter's
// history, both inside one 1152-sample span.
int64_t WarmUpFrames(int samplesPerFrame) { return (1152 + samplesPerFrame - 1) / samplesPerFrame; }

}  // namespace

int64_t MarkSample(int64_t hundredths, int sampleRate) { return (hundredths * sampleRate + 50) / 100; }

ExactCutter::ExactCutter(File& source, int64_t audioStart, int64_t audioEnd)
    : source_(source), audioStart_(audioStart), audioEnd_(audioEnd) {}

ExactCutter::~ExactCutter() = default;

void ExactCutter::Restart(int64_t index, int64_t offset) {
  walk_ = std::make_unique<FrameWalk>(source_, offset, audioEnd_);
  nextIndex_ = index;
  ended_ = false;
  reservoir_.clear();
}

bool ExactCutter::Step(WalkFrame* frame, int64_t* index) {
  if (ended_) return false;
  FrameWalk::Step step = walk_->Next(frame);
  if (step != FrameWalk::Step::Frame) {
    if (step == FrameWalk::Step::ReadError) {
      readFailed_ = true;
    } else {
      ended_ = true;
      totalFrames_ = nextIndex_;
    }
    return false;
  }
  *index = nextIndex_++;
  if (seen_.size() < kSeenFrames) seen_.resize(kSeenFrames, Seen{-1, 0});
  seen_[static_cast<size_t>(*index) % kSeenFrames] = {*index, frame->offset};
  return true;
}

void ExactCutter::KeepMainData(const WalkFrame& frame) {
  size_t at = MainDataAt(frame.data);
  if (static_cast<size_t>(frame.size) <= at) return;
  reservoir_.insert(reservoir_.end(), frame.data + at, frame.data + frame.size);
  if (reservoir_.size() > kReservoirBytes) {
    reservoir_.erase(reservoir_.begin(), reservoir_.end() - static_cast<std::ptrdiff_t>(kReservoirBytes));
  }
}

bool ExactCutter::Open(bool* readFailed) {
  if (readFailed) *readFailed = false;
  // A summary frame directly before the audio states the encoder's delay and padding.
  int64_t header = 0;
  int length = 0;
  bool isSummary = false;
  bool failed = false;
  bool located = LocateFirstFrame(source_, 0, &header, &length, &isSummary, &failed);
  if (failed) {
    if (readFailed) *readFailed = true;
    return false;
  }
  if (located && isSummary && header + length == audioStart_) {
    std::vector<uint8_t> bytes(static_cast<size_t>(length));
    if (!source_.Seek(header) || source_.ReadFull(bytes.data(), bytes.size()) != length) {
      if (readFailed) *readFailed = true;
      return false;
    }
    ReadSummaryFrame(bytes.data(), bytes.size(), &sourceSummary_);
  }
  if (sourceSummary_.hasLameTag && sourceSummary_.encoderDelay >= 0) {
    delay_ = sourceSummary_.encoderDelay + kDecoderDelay;
    padding_ = sourceSummary_.encoderPadding;
  }

  Restart(0, audioStart_);
  WalkFrame first;
  int64_t index = 0;
  bool found = Step(&first, &index);
  if (!found) {
    if (readFailed) *readFailed = readFailed_;
    return false;
  }
  if (HeaderLayerBits(first.data) != 1) return false;
  std::memcpy(header_, first.data, 4);
  samplesPerFrame_ = first.samples;
  sampleRate_ = SampleRateHz(HeaderVersionBits(header_), HeaderSampleRateIndex(header_));
  seen_.clear();
  Restart(0, audioStart_);
  return samplesPerFrame_ > 0 && sampleRate_ > 0;
}

int64_t ExactCutter::EndRaw() const {
  int64_t all = totalFrames_ * samplesPerFrame_;
  if (delay_ == 0 || padding_ < 0) return all;
  return std::min(all, all - padding_ + kDecoderDelay);
}

std::vector<uint8_t> ExactCutter::SilentFrame(int mainDataBegin) const {
  // The stream's own header, without CRC or padding, at the stream's
  // bitrate when its frame holds the reservoir bytes, else the lowest that does.
  uint8_t h[4] = {header_[0], static_cast<uint8_t>(header_[1] | 0x01), static_cast<uint8_t>(header_[2] & 0xF0),
                  header_[3]};
  size_t side = MainDataAt(h);
  auto fits = [&](int index) {
    h[2] = static_cast<uint8_t>((index << 4) | (header_[2] & 0x0C));
    int length = Layer3FrameLength(h);
    return length > 0 && static_cast<size_t>(length) >= side + static_cast<size_t>(mainDataBegin);
  };
  if (!fits(HeaderBitrateIndex(header_))) {
    for (int index = 1; index <= 14 && !fits(index); ++index) {
    }
  }
  std::vector<uint8_t> frame(static_cast<size_t>(Layer3FrameLength(h)), 0);
  std::memcpy(frame.data(), h, 4);
  // Side information of zeros: no main data of its own, so silence. The
  // reservoir bytes close the frame, where the next frame looks for them.
  size_t have = std::min(reservoir_.size(), static_cast<size_t>(mainDataBegin));
  if (have > 0) std::memcpy(frame.data() + frame.size() - have, reservoir_.data() + reservoir_.size() - have, have);
  return frame;
}

ExactCutter::Result ExactCutter::Seek(int64_t from) {
  held_.clear();
  heldBytes_.clear();
  seekFrom_ = -1;
  const int64_t spf = samplesPerFrame_;
  const int64_t mark = from + delay_;
  const int64_t markFrame = mark / spf;
  firstIndex_ = std::max<int64_t>(0, markFrame - WarmUpFrames(samplesPerFrame_));
  const int64_t look = std::max<int64_t>(0, firstIndex_ - kLookback);

  if (nextIndex_ > look || ended_) {
    // Back to a frame already walked: the latest one at or before `look`.
    Seen restart = {0, audioStart_};
    for (const Seen& s : seen_) {
      if (s.index >= 0 && s.index <= look && s.index >= restart.index) restart = s;
    }
    Restart(restart.index, restart.offset);
  }
  WalkFrame frame;
  int64_t index = 0;
  while (Step(&frame, &index)) {
    if (index == firstIndex_) silentFrame_ = SilentFrame(MainDataBegin(frame.data));
    KeepMainData(frame);
    if (index < firstIndex_) continue;
    held_.push_back({index, HeaderBitrateIndex(frame.data), static_cast<size_t>(frame.size)});
    heldBytes_.insert(heldBytes_.end(), frame.data, frame.data + frame.size);
    if (index > markFrame) break;  // one frame past the mark's, to see whether the audio goes on
  }
  if (readFailed_) return Result::ReadFailed;
  if (held_.empty() || held_.back().index < markFrame || (ended_ && mark >= EndRaw())) return Result::PastEnd;
  seekFrom_ = from;
  return Result::Written;
}

ExactCutter::Result ExactCutter::WriteTrack(File& track, int64_t from, int64_t to,
                                            const std::function<void(int64_t, int64_t)>& progress) {
  if (seekFrom_ != from) {
    Result ready = Seek(from);
    if (ready != Result::Written) return ready;
  }
  seekFrom_ = -1;
  const int64_t spf = samplesPerFrame_;
  const int64_t mark = from + delay_;
  int64_t end = to >= 0 ? to + delay_ : INT64_MAX;
  const int64_t lastIndex = to >= 0 ? (end - 1) / spf : INT64_MAX;

  int64_t at = track.Tell();
  if (at < 0) return Result::WriteFailed;
  const int summaryLength = SummaryFrameLength(header_, true);
  std::vector<uint8_t>& out = out_;
  out.assign(static_cast<size_t>(summaryLength), 0);
  out.reserve(kFlushBytes + 4096);
  TocBuilder toc;
  uint16_t musicCrc = 0;
  int64_t bytes = summaryLength;
  int64_t samples = 0;
  uint32_t frames = 0;
  int64_t lastWritten = firstIndex_ - 1;
  const int firstBitrate = HeaderBitrateIndex(silentFrame_.data());
  bool vbr = false;
  bool writeFailed = false;
  // The blocks are written on a thread of their own; the music CRC runs
  // over each block as it is handed over (the summary frame's place at the
  // start of the first block is not music).
  size_t musicFrom = out.size();
  WriteBehind writer(track, &blocks_);
  auto write = [&] {
    musicCrc = Crc16(out.data() + musicFrom, out.size() - musicFrom, musicCrc);
    musicFrom = 0;
    return writer.Hand(out);
  };
  auto emit = [&](const uint8_t* data, size_t n) {
    toc.Add(bytes, samples);
    bytes += static_cast<int64_t>(n);
    samples += spf;
    ++frames;
    if (HeaderBitrateIndex(data) != firstBitrate) vbr = true;
    // Blocks end where the track file's blocks of kFlushBytes end.
    while (n > 0 && !writeFailed) {
      const size_t room = writer.Room(kFlushBytes);
      size_t take = out.size() < room ? std::min(n, room - out.size()) : 0;
      out.insert(out.end(), data, data + take);
      data += take;
      n -= take;
      if (out.size() >= room && !write()) writeFailed = true;
    }
  };

  emit(silentFrame_.data(), silentFrame_.size());
  size_t heldAt = 0;
  for (const Held& held : held_) {
    if (held.index > lastIndex) break;
    emit(heldBytes_.data() + heldAt, held.size);
    heldAt += held.size;
    lastWritten = held.index;
  }
  WalkFrame frame;
  int64_t index = 0;
  // The main data of the frames written here is not kept: a later track's
  // reservoir comes from the frames its Seek walks, at least kLookback of
  // them before its first frame (or every frame from the start).
  while (!writeFailed && lastWritten < lastIndex && Step(&frame, &index)) {
    emit(frame.data, static_cast<size_t>(frame.size));
    lastWritten = index;
    if (progress) progress(walk_->Position() - audioStart_, audioEnd_ - audioStart_);
  }
  if (readFailed_) return Result::ReadFailed;
  if (writeFailed || !write() || !writer.Drain()) return Result::WriteFailed;
  bool sourceEnded = ended_ && (to < 0 || end >= EndRaw());
  if (sourceEnded) end = std::min(end, EndRaw());

  // What a gapless decoder drops: everything before the mark (the silent
  // frame and the warm-up) and everything after the track's last sample.
  const int64_t rawMark = spf + (mark - firstIndex_ * spf);
  const int64_t rawEnd = spf + (std::max(end, mark) - firstIndex_ * spf);
  SummaryFrameFields fields;
  std::memcpy(fields.header, header_, 4);
  fields.vbr = vbr;
  fields.frames = frames;
  fields.bytes = static_cast<uint32_t>(bytes);
  toc.Finish(bytes, samples, fields.toc);
  fields.lameTag = true;
  TakeEncoder(sourceSummary_, &fields);
  fields.encoderDelay = static_cast<int>(std::clamp<int64_t>(rawMark - kDecoderDelay, 0, kMaxTagField));
  fields.encoderPadding = static_cast<int>(std::clamp<int64_t>(samples + kDecoderDelay - rawEnd, 0, kMaxTagField));
  fields.musicCrc = musicCrc;
  std::vector<uint8_t> summary = BuildSummaryFrame(fields);
  if (summary.size() != static_cast<size_t>(summaryLength)) return Result::WriteFailed;

  if (!track.Seek(at) || !track.Write(summary.data(), summary.size()) || !track.Seek(at + bytes)) {
    return Result::WriteFailed;
  }
  return sourceEnded ? Result::SourceEnded : Result::Written;
}

}  // namespace snip
