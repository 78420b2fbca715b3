#include "split/silences.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <limits>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "app/file_io.h"
#include "mpeg/frame_walk.h"
#include "mpeg/pcm_decoder.h"
#include "mpeg/source_scan.h"

namespace snip {

SilenceFinder::SilenceFinder(const SilenceOptions& options, int sampleRate, int blockSamples, int64_t firstSample)
    : thresholdRms_(std::pow(10.0, options.thresholdDb / 20.0)),
      minSamples_(static_cast<int64_t>(std::llround(options.minSeconds * sampleRate))),
      sampleRate_(sampleRate),
      blockSamples_(blockSamples),
      first_(firstSample),
      at_(firstSample) {}

void SilenceFinder::AddBlock(double rms) {
  if (rms < thresholdRms_) {
    if (runStart_ < 0) runStart_ = at_;
  } else if (runStart_ >= 0) {
    Keep(runStart_, at_);
    runStart_ = -1;
  }
  at_ += blockSamples_;
}

void SilenceFinder::Keep(int64_t from, int64_t to) {
  // A short run at the start may go on in the stretch before this one.
  if (to - from >= minSamples_ || from == first_) runs_.push_back({from, to});
}

void SilenceFinder::Append(const SilenceFinder& next) {
  size_t i = 0;
  bool nextOpensQuiet = !next.runs_.empty() && next.runs_[0].from == next.first_;
  if (runStart_ >= 0 && nextOpensQuiet) {
    Keep(runStart_, next.runs_[0].to);
    runStart_ = next.runStart_;
    i = 1;
  } else if (runStart_ >= 0 && next.runStart_ == next.first_) {
    // The next stretch is quiet throughout: the run goes on.
  } else {
    if (runStart_ >= 0) Keep(runStart_, at_);
    runStart_ = next.runStart_;
  }
  for (; i < next.runs_.size(); ++i) Keep(next.runs_[i].from, next.runs_[i].to);
  at_ = next.at_;
}

std::vector<int64_t> SilenceFinder::Finish() {
  // A run still under way touches the end (the run-out): no cut, nor for the
  // lead-in, nor within a second of either end.
  std::vector<int64_t> cuts;
  for (const Run& run : runs_) {
    if (run.from == 0 || run.to - run.from < minSamples_) continue;
    int64_t cut = (run.from + run.to) / 2;
    if (cut >= sampleRate_) cuts.push_back(cut);
  }
  while (!cuts.empty() && cuts.back() > at_ - sampleRate_) cuts.pop_back();
  runs_.clear();
  runStart_ = -1;
  return cuts;
}

namespace {

// One stretch of the audio, decoded on its own. Its own frames run from
// ownOffset to endOffset; decoding starts a few frames earlier, at
// warmOffset, so that the bit reservoir (main data up to 511 bytes back)
// and the overlap of the frame before are in place when its first frame
// comes; what those warm-up frames give is thrown away.
struct Stretch {
  int64_t warmOffset = 0;
  int64_t ownOffset = 0;
  int64_t endOffset = 0;
  int64_t firstFrame = 0;  // number of the stretch's first frame in the audio
  int64_t frames = -1;     // its frames; -1 for the last, which runs to the end
};

// The warm-up before a stretch: at least this many frames, and this many
// bytes (several bit reservoirs' worth).
constexpr int kWarmFrames = 4;
constexpr int64_t kWarmBytes = 4096;
constexpr int kRecentFrames = 256;  // the longest warm-up (the smallest frames are 24 bytes)

enum class PlanOutcome { Planned, NoFrames, ReadFailed, Halted };

// Frames lost where the walk stepped over damaged bytes. A constant-bitrate
// source is cut by bytes, so its damaged stretches keep their time: so many
// frames of the stream's size. (A variable-bitrate source is cut by its
// frames' samples: there only whole frames count.) frameBytes is 0 then.
int64_t LostFrames(int64_t skippedBytes, double frameBytes) {
  return frameBytes > 0 ? std::llround(static_cast<double>(skippedBytes) / frameBytes) : 0;
}

// Walks the audio's frames once and picks the first frame of each of count
// stretches of about equal bytes. A stretch begins only where the frames
// before it, back to its warm-up, follow one another without a gap, so that
// a walk started at the warm-up finds the same frames as this one.
PlanOutcome PlanStretches(File& file, int64_t start, int64_t end, int count, double frameBytes,
                          const std::function<bool()>& halt, std::vector<Stretch>* stretches, int* frameSamples) {
  stretches->assign(1, Stretch{start, start, end, 0, -1});
  int64_t recent[kRecentFrames];  // offsets of the last frames, by number modulo kRecentFrames
  int64_t number = 0;
  int64_t contiguous = 0;  // frames up to this one that follow one another
  FrameWalk walk(file, start, end);
  WalkFrame frame;
  for (;;) {
    if ((number & 1023) == 0 && halt && halt()) return PlanOutcome::Halted;
    FrameWalk::Step step = walk.Next(&frame);
    if (step == FrameWalk::Step::ReadError) return PlanOutcome::ReadFailed;
    if (step == FrameWalk::Step::End) break;
    if (number == 0)
      *frameSamples = frame.samples;
    else
      number += LostFrames(frame.skippedBefore, frameBytes);
    recent[number % kRecentFrames] = frame.offset;
    contiguous = frame.skippedBefore == 0 && number > 0 ? contiguous + 1 : 1;
    int k = static_cast<int>(stretches->size());
    if (k < count && frame.offset >= start + (end - start) / count * k && number > stretches->back().firstFrame) {
      int warm = 0;
      int64_t bytes = 0;
      while (warm + 1 < contiguous && warm + 1 < kRecentFrames && (warm < kWarmFrames || bytes < kWarmBytes)) {
        ++warm;
        bytes = frame.offset - recent[(number - warm) % kRecentFrames];
      }
      if (warm >= kWarmFrames && bytes >= kWarmBytes) {
        Stretch& before = stretches->back();
        before.endOffset = frame.offset;
        before.frames = number - before.firstFrame;
        stretches->push_back(Stretch{recent[(number - warm) % kRecentFrames], frame.offset, end, number, -1});
      }
    }
    ++number;
  }
  return *frameSamples > 0 ? PlanOutcome::Planned : PlanOutcome::NoFrames;
}

struct StretchResult {
  std::unique_ptr<SilenceFinder> finder;
  bool measured = false;  // at least one block
  bool readFailed = false;
  bool noDecoder = false;
  std::string message;
  std::atomic<int64_t> done{0};  // bytes of its own frames walked
};

constexpr size_t kBatchBytes = 16 * 1024;

// Decodes one stretch and measures its blocks (one a frame). between runs
// after each batch of frames; the decoding ends early when stop is set.
void DecodeStretch(const std::string& path, const Stretch& stretch, const SilenceOptions& options, int rate,
                   int frameSamples, double frameBytes, const std::atomic<bool>& stop, const std::function<void()>& between,
                   StretchResult* result) {
  result->finder = std::make_unique<SilenceFinder>(options, rate, frameSamples, stretch.firstFrame * frameSamples);
  File file = File::OpenRead(path);
  if (!file.IsOpen()) {
    result->readFailed = true;
    return;
  }
  std::unique_ptr<PcmDecoder> decoder = MakePcmDecoder(&result->message);
  if (!decoder) {
    result->noDecoder = true;
    return;
  }
  const bool last = stretch.frames < 0;
  int64_t blocksLeft = last ? std::numeric_limits<int64_t>::max() : stretch.frames;
  std::vector<int16_t> pcm;
  double level = 1.0;  // of the last block
  auto measure = [&](bool atEnd) {
    int channels = decoder->Channels();
    if (channels <= 0) return;
    const size_t step = static_cast<size_t>(frameSamples) * static_cast<size_t>(channels);
    size_t used = 0;
    while (blocksLeft > 0 && (pcm.size() - used >= step || (atEnd && pcm.size() > used))) {
      size_t n = std::min(step, pcm.size() - used);
      double sum = 0;
      for (size_t i = used; i < used + n; ++i) sum += static_cast<double>(pcm[i]) * pcm[i];
      level = std::sqrt(sum / static_cast<double>(step)) / 32768.0;
      result->finder->AddBlock(level);
      result->measured = true;
      used += n;
      --blocksLeft;
    }
    pcm.erase(pcm.begin(), pcm.begin() + static_cast<std::ptrdiff_t>(used));
  };

  FrameWalk walk(file, stretch.warmOffset, stretch.endOffset);
  WalkFrame frame;
  std::vector<uint8_t> batch;
  batch.reserve(kBatchBytes + 4096);
  bool warm = stretch.warmOffset < stretch.ownOffset;
  bool working = true;
  int64_t walked = 0;
  for (;;) {
    FrameWalk::Step step = walk.Next(&frame);
    if (step == FrameWalk::Step::ReadError) {
      result->readFailed = true;
      return;
    }
    if (step == FrameWalk::Step::End) break;
    if (warm && frame.offset >= stretch.ownOffset) {
      // Whatever the warm-up frames gave, and only that, is dropped: a
      // decoder whose output lags its input still lines up with the frames.
      working = decoder->Decode(batch.data(), batch.size(), &pcm);
      pcm.clear();
      batch.clear();
      warm = false;
      if (!working) break;
    }
    int64_t lost = warm || walked == 0 ? 0 : LostFrames(frame.skippedBefore, frameBytes);
    ++walked;
    if (lost > 0) {
      // What the frames before the damage give, then the lost frames at the
      // level of the last one (the music or the pause goes on).
      if (!batch.empty()) working = decoder->Decode(batch.data(), batch.size(), &pcm);
      batch.clear();
      measure(false);
      for (; lost > 0 && blocksLeft > 0; --lost, --blocksLeft) result->finder->AddBlock(level);
      if (!working) break;
    }
    batch.insert(batch.end(), frame.data, frame.data + frame.size);
    if (batch.size() >= kBatchBytes) {
      working = decoder->Decode(batch.data(), batch.size(), &pcm);
      batch.clear();
      if (warm)
        pcm.clear();
      else
        measure(false);
      result->done.store(std::max<int64_t>(0, walk.Position() - stretch.ownOffset));
      if (between) between();
      if (stop.load()) return;
      if (!working) break;
    }
  }
  // A decoder that failed for good ends its stretch there; what came out counts.
  if (working && !warm && !batch.empty()) decoder->Decode(batch.data(), batch.size(), &pcm);
  if (last) decoder->Decode(nullptr, 0, &pcm);  // what the decoder still holds
  if (!warm) measure(last);
  result->done.store(std::max<int64_t>(0, walk.Position() - stretch.ownOffset));
}

int StretchCount(int asked) {
  if (asked > 0) return std::min(asked, 64);
  unsigned processors = std::thread::hardware_concurrency();
  return static_cast<int>(std::clamp(processors, 1u, 4u));
}

}  // namespace

SilenceSearch FindSilences(const std::string& path, const SilenceOptions& options,
                           const std::function<void(int64_t, int64_t)>& progress,
                           const std::function<bool()>& halt) {
  SilenceSearch search;
  File file = File::OpenRead(path);
  if (!file.IsOpen()) {
    search.message = ScanMessage(ScanOutcome::Unusable);
    return search;
  }
  ScanResult scan = SourceScan(file, ScanDepth::UntilVariable);
  if (scan.outcome != ScanOutcome::Accepted || scan.sampleRate <= 0) {
    search.message = ScanMessage(scan.outcome == ScanOutcome::Accepted ? ScanOutcome::Unusable : scan.outcome);
    return search;
  }
  if (!MakePcmDecoder(&search.message)) {
    search.outcome = SilenceOutcome::NoDecoder;
    return search;
  }
  int64_t size = file.Size();
  uint8_t tag[128];
  if (size < 0 || !file.Seek(scan.audioStart)) {
    search.outcome = SilenceOutcome::ReadFailed;
    search.message = ScanMessage(ScanOutcome::Unusable);
    return search;
  }
  // The audio runs to the ID3v1 tag, when there is one. Only its frames are
  // decoded: the summary frame before it is not audio, and the decoder never
  // sees it (so no gapless trimming moves the samples either).
  int64_t end = ReadId3v1Tag(file, tag) ? size - 128 : size;

  std::vector<Stretch> stretches;
  int frameSamples = 0;
  // A constant bitrate's frame size, for damaged stretches (0 for a variable one).
  const int frameSamplesOfScan = scan.sampleRate > 24000 ? 1152 : 576;
  const double frameBytes =
      scan.variableBitrate ? 0.0 : frameSamplesOfScan / 8.0 * scan.bitrate * 1000.0 / scan.sampleRate;
  switch (PlanStretches(file, scan.audioStart, end, StretchCount(options.threads), frameBytes, halt, &stretches,
                        &frameSamples)) {
    case PlanOutcome::Planned:
      break;
    case PlanOutcome::Halted:
      search.outcome = SilenceOutcome::Halted;
      return search;
    case PlanOutcome::ReadFailed:
      search.outcome = SilenceOutcome::ReadFailed;
      search.message = ScanMessage(ScanOutcome::Unusable);
      return search;
    case PlanOutcome::NoFrames:
      search.message = ScanMessage(ScanOutcome::Unusable);
      return search;
  }
  file.Close();

  const size_t count = stretches.size();
  std::vector<StretchResult> results(count);
  std::atomic<bool> stop{false};
  bool halted = false;
  // Progress and halt, on this thread only.
  auto between = [&] {
    if (progress) {
      int64_t done = 0;
      for (const StretchResult& result : results) done += result.done.load();
      progress(std::min(done, end - scan.audioStart), end - scan.audioStart);
    }
    if (!halted && halt && halt()) {
      halted = true;
      stop.store(true);
    }
  };
  std::mutex mutex;
  std::condition_variable finished;
  size_t running = 0;
  std::vector<std::thread> threads;
  std::vector<size_t> here = {0};  // stretches decoded on this thread
  for (size_t i = 1; i < count; ++i) {
    {
      std::lock_guard<std::mutex> lock(mutex);
      ++running;
    }
    try {
      threads.emplace_back([&, i] {
        DecodeStretch(path, stretches[i], options, scan.sampleRate, frameSamples, frameBytes, stop, {}, &results[i]);
        std::lock_guard<std::mutex> lock(mutex);
        --running;
        finished.notify_one();
      });
    } catch (const std::system_error&) {
      // No thread to be had: this one decodes the stretch as well.
      std::lock_guard<std::mutex> lock(mutex);
      --running;
      here.push_back(i);
    }
  }
  for (size_t i : here) {
    if (!stop.load()) DecodeStretch(path, stretches[i], options, scan.sampleRate, frameSamples, frameBytes, stop, between, &results[i]);
  }
  for (;;) {
    std::unique_lock<std::mutex> lock(mutex);
    if (finished.wait_for(lock, std::chrono::milliseconds(100), [&] { return running == 0; })) break;
    lock.unlock();
    between();
  }
  for (std::thread& thread : threads) thread.join();
  if (halted) {
    search.outcome = SilenceOutcome::Halted;
    return search;
  }

  bool measured = false;
  for (StretchResult& result : results) {
    if (result.readFailed) {
      search.outcome = SilenceOutcome::ReadFailed;
      search.message = ScanMessage(ScanOutcome::Unusable);
      return search;
    }
    if (result.noDecoder) {
      search.outcome = SilenceOutcome::NoDecoder;
      search.message = result.message;
      return search;
    }
    measured = measured || result.measured;
  }
  if (!measured) {
    search.message = ScanMessage(ScanOutcome::Unusable);
    return search;
  }
  SilenceFinder& finder = *results[0].finder;
  for (size_t i = 1; i < count; ++i) finder.Append(*results[i].finder);
  const int rate = scan.sampleRate;
  for (int64_t cut : finder.Finish()) {
    search.cuts.push_back(static_cast<int32_t>((cut * 100 + rate / 2) / rate));
  }
  search.outcome = SilenceOutcome::Found;
  return search;
}

}  // namespace snip
