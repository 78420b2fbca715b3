#include "mpeg/audio_stretches.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <limits>
#include <mutex>
#include <system_error>
#include <thread>

#include "app/file_io.h"
#include "mpeg/frame_walk.h"
#include "mpeg/pcm_decoder.h"
#include "mpeg/source_scan.h"

namespace snip {

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
                          const std::function<bool()>& halt, std::vector<Stretch>* stretches, int* frameSamples,
                          int64_t* frames) {
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
  *frames = number;
  return *frameSamples > 0 ? PlanOutcome::Planned : PlanOutcome::NoFrames;
}

struct StretchResult {
  bool decoded = false;  // some samples came out
  bool readFailed = false;
  bool noDecoder = false;
  std::string message;
  std::atomic<int64_t> done{0};  // bytes of its own frames walked
};

constexpr size_t kBatchBytes = 16 * 1024;

// Hands a stretch's samples to its sink, never more than its frames hold.
class Delivery {
 public:
  Delivery(StretchSink* sink, const Stretch& stretch, int frameSamples)
      : sink_(sink),
        frameSamples_(frameSamples),
        left_(stretch.frames < 0 ? std::numeric_limits<int64_t>::max() : stretch.frames * frameSamples) {}
  void Samples(std::vector<int16_t>* pcm, int channels, StretchResult* result) {
    if (channels > 0 && !pcm->empty() && left_ > 0) {
      size_t count = std::min<size_t>(pcm->size() / static_cast<size_t>(channels),
                                      static_cast<size_t>(std::min<int64_t>(left_, INT32_MAX)));
      sink_->Samples(pcm->data(), count * static_cast<size_t>(channels), channels);
      left_ -= static_cast<int64_t>(count);
      result->decoded = result->decoded || count > 0;
    }
    pcm->clear();
  }
  void Lost(int64_t frames) {
    frames = std::min(frames, left_ / frameSamples_);
    if (frames <= 0) return;
    sink_->Lost(frames);
    left_ -= frames * frameSamples_;
  }

 private:
  StretchSink* sink_;
  int frameSamples_;
  int64_t left_;  // samples per channel the stretch may still give
};

// Decodes one stretch into its sink. between runs after each batch of
// frames; the decoding ends early when stop is set.
void DecodeStretch(const std::string& path, const Stretch& stretch, int frameSamples, double frameBytes,
                   StretchSink* sink, const std::atomic<bool>& stop, const std::function<void()>& between,
                   StretchResult* result) {
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
  Delivery delivery(sink, stretch, frameSamples);
  std::vector<int16_t> pcm;
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
      // What the frames before the damage give, then the lost frames.
      if (!batch.empty()) working = decoder->Decode(batch.data(), batch.size(), &pcm);
      batch.clear();
      delivery.Samples(&pcm, decoder->Channels(), result);
      delivery.Lost(lost);
      if (!working) break;
    }
    batch.insert(batch.end(), frame.data, frame.data + frame.size);
    if (batch.size() >= kBatchBytes) {
      working = decoder->Decode(batch.data(), batch.size(), &pcm);
      batch.clear();
      if (warm)
        pcm.clear();
      else
        delivery.Samples(&pcm, decoder->Channels(), result);
      result->done.store(std::max<int64_t>(0, walk.Position() - stretch.ownOffset));
      if (between) between();
      if (stop.load()) return;
      if (!working) break;
    }
  }
  // A decoder that failed for good ends its stretch there; what came out counts.
  if (working && !warm && !batch.empty()) decoder->Decode(batch.data(), batch.size(), &pcm);
  if (stretch.frames < 0) decoder->Decode(nullptr, 0, &pcm);  // what the decoder still holds
  if (!warm) delivery.Samples(&pcm, decoder->Channels(), result);
  sink->End();
  result->done.store(std::max<int64_t>(0, walk.Position() - stretch.ownOffset));
}

int StretchCount(int asked) {
  if (asked > 0) return std::min(asked, 64);
  unsigned processors = std::thread::hardware_concurrency();
  return static_cast<int>(std::clamp(processors, 1u, 4u));
}

}  // namespace

AudioDecode DecodeStretches(const std::string& path, int threads, const SinkMaker& makeSink,
                            const std::function<void(int64_t, int64_t)>& progress,
                            const std::function<bool()>& halt) {
  AudioDecode decode;
  File file = File::OpenRead(path);
  if (!file.IsOpen()) {
    decode.message = ScanMessage(ScanOutcome::Unusable);
    return decode;
  }
  ScanResult scan = SourceScan(file, ScanDepth::UntilVariable);
  if (scan.outcome != ScanOutcome::Accepted || scan.sampleRate <= 0) {
    decode.message = ScanMessage(scan.outcome == ScanOutcome::Accepted ? ScanOutcome::Unusable : scan.outcome);
    return decode;
  }
  if (!MakePcmDecoder(&decode.message)) {
    decode.outcome = DecodeOutcome::NoDecoder;
    return decode;
  }
  int64_t size = file.Size();
  uint8_t tag[128];
  if (size < 0 || !file.Seek(scan.audioStart)) {
    decode.outcome = DecodeOutcome::ReadFailed;
    decode.message = ScanMessage(ScanOutcome::Unusable);
    return decode;
  }
  // The audio runs to the ID3v1 tag, when there is one. Only its frames are
  // decoded: the summary frame before it is not audio, and the decoder never
  // sees it (so no gapless trimming moves the samples either).
  int64_t end = ReadId3v1Tag(file, tag) ? size - 128 : size;

  std::vector<Stretch> stretches;
  // A constant bitrate's frame size, for damaged stretches (0 for a variable one).
  const int frameSamplesOfScan = scan.sampleRate > 24000 ? 1152 : 576;
  const double frameBytes =
      scan.variableBitrate ? 0.0 : frameSamplesOfScan / 8.0 * scan.bitrate * 1000.0 / scan.sampleRate;
  decode.layout.sampleRate = scan.sampleRate;
  switch (PlanStretches(file, scan.audioStart, end, StretchCount(threads), frameBytes, halt, &stretches,
                        &decode.layout.frameSamples, &decode.layout.frames)) {
    case PlanOutcome::Planned:
      break;
    case PlanOutcome::Halted:
      decode.outcome = DecodeOutcome::Halted;
      return decode;
    case PlanOutcome::ReadFailed:
      decode.outcome = DecodeOutcome::ReadFailed;
      decode.message = ScanMessage(ScanOutcome::Unusable);
      return decode;
    case PlanOutcome::NoFrames:
      decode.message = ScanMessage(ScanOutcome::Unusable);
      return decode;
  }
  file.Close();

  const size_t count = stretches.size();
  for (const Stretch& stretch : stretches) {
    decode.sinks.push_back(makeSink(decode.layout, stretch.firstFrame, stretch.frames));
  }
  const int frameSamples = decode.layout.frameSamples;
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
  auto decodeOne = [&](size_t i, const std::function<void()>& onBatch) {
    DecodeStretch(path, stretches[i], frameSamples, frameBytes, decode.sinks[i].get(), stop, onBatch, &results[i]);
  };
  std::mutex mutex;
  std::condition_variable finished;
  size_t running = 0;
  std::vector<std::thread> workers;
  std::vector<size_t> here = {0};  // stretches decoded on this thread
  for (size_t i = 1; i < count; ++i) {
    {
      std::lock_guard<std::mutex> lock(mutex);
      ++running;
    }
    try {
      workers.emplace_back([&, i] {
        decodeOne(i, {});
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
    if (!stop.load()) decodeOne(i, between);
  }
  for (;;) {
    std::unique_lock<std::mutex> lock(mutex);
    if (finished.wait_for(lock, std::chrono::milliseconds(100), [&] { return running == 0; })) break;
    lock.unlock();
    between();
  }
  for (std::thread& worker : workers) worker.join();
  if (halted) {
    decode.outcome = DecodeOutcome::Halted;
    return decode;
  }

  bool decoded = false;
  for (StretchResult& result : results) {
    if (result.readFailed) {
      decode.outcome = DecodeOutcome::ReadFailed;
      decode.message = ScanMessage(ScanOutcome::Unusable);
      return decode;
    }
    if (result.noDecoder) {
      decode.outcome = DecodeOutcome::NoDecoder;
      decode.message = result.message;
      return decode;
    }
    decoded = decoded || result.decoded;
  }
  if (!decoded) {
    decode.message = ScanMessage(ScanOutcome::Unusable);
    return decode;
  }
  decode.outcome = DecodeOutcome::Found;
  return decode;
}

}  // namespace snip
