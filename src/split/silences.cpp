#include "split/silences.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "mpeg/audio_stretches.h"

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

std::vector<int64_t> SilenceFinder::Finish(std::vector<std::pair<int64_t, int64_t>>* spans) {
  // A run still under way touches the end (the run-out): no cut, nor for the
  // lead-in, nor within a second of either end.
  std::vector<int64_t> cuts;
  std::vector<std::pair<int64_t, int64_t>> found;
  for (const Run& run : runs_) {
    if (run.from == 0 || run.to - run.from < minSamples_) continue;
    int64_t cut = (run.from + run.to) / 2;
    if (cut < sampleRate_) continue;
    cuts.push_back(cut);
    found.emplace_back(run.from, run.to);
  }
  while (!cuts.empty() && cuts.back() > at_ - sampleRate_) {
    cuts.pop_back();
    found.pop_back();
  }
  if (spans) *spans = std::move(found);
  runs_.clear();
  runStart_ = -1;
  return cuts;
}

namespace {

// Measures a stretch's blocks (one a frame) for its finder. Frames that
// damage took count at the level of the last block: the music or the pause
// goes on.
class SilenceSink : public StretchSink {
 public:
  SilenceSink(const SilenceOptions& options, const AudioLayout& layout, int64_t firstFrame, bool last)
      : finder_(options, layout.sampleRate, layout.frameSamples, firstFrame * layout.frameSamples),
        frameSamples_(layout.frameSamples),
        last_(last) {}
  void Samples(const int16_t* pcm, size_t count, int channels) override {
    pending_.insert(pending_.end(), pcm, pcm + count);
    channels_ = channels;
    Measure(false);
  }
  void Lost(int64_t frames) override {
    for (; frames > 0; --frames) finder_.AddBlock(level_);
  }
  void End() override { Measure(last_); }
  SilenceFinder& Finder() { return finder_; }

 private:
  void Measure(bool atEnd) {
    if (channels_ <= 0) return;
    const size_t step = static_cast<size_t>(frameSamples_) * static_cast<size_t>(channels_);
    size_t used = 0;
    while (pending_.size() - used >= step || (atEnd && pending_.size() > used)) {
      size_t n = std::min(step, pending_.size() - used);
      double sum = 0;
      for (size_t i = used; i < used + n; ++i) sum += static_cast<double>(pending_[i]) * pending_[i];
      level_ = std::sqrt(sum / static_cast<double>(step)) / 32768.0;
      finder_.AddBlock(level_);
      used += n;
    }
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(used));
  }
  SilenceFinder finder_;
  int frameSamples_;
  bool last_;
  int channels_ = 0;
  double level_ = 1.0;  // of the last block
  std::vector<int16_t> pending_;
};

}  // namespace

SilenceSearch FindSilences(const std::string& path, const SilenceOptions& options,
                           const std::function<void(int64_t, int64_t)>& progress,
                           const std::function<bool()>& halt) {
  AudioDecode decode = DecodeStretches(
      path, options.threads,
      [&](const AudioLayout& layout, int64_t firstFrame, int64_t frames) -> std::unique_ptr<StretchSink> {
        return std::make_unique<SilenceSink>(options, layout, firstFrame, frames < 0);
      },
      progress, halt);
  SilenceSearch search;
  search.outcome = decode.outcome;
  search.message = decode.message;
  if (decode.outcome != DecodeOutcome::Found) return search;
  SilenceFinder& finder = static_cast<SilenceSink&>(*decode.sinks[0]).Finder();
  for (size_t i = 1; i < decode.sinks.size(); ++i) finder.Append(static_cast<SilenceSink&>(*decode.sinks[i]).Finder());
  const int rate = decode.layout.sampleRate;
  std::vector<std::pair<int64_t, int64_t>> spans;
  auto hundredths = [rate](int64_t sample) { return static_cast<int32_t>((sample * 100 + rate / 2) / rate); };
  for (int64_t cut : finder.Finish(&spans)) search.cuts.push_back(hundredths(cut));
  for (const auto& [from, to] : spans) search.spans.emplace_back(hundredths(from), hundredths(to));
  return search;
}

}  // namespace snip
