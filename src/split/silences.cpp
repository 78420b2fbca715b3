#include "split/silences.h"

#include <cmath>

#include "app/file_io.h"
#include "mpeg/pcm_decoder.h"
#include "mpeg/source_scan.h"

namespace snip {

SilenceFinder::SilenceFinder(const SilenceOptions& options, int sampleRate, int blockSamples)
    : thresholdRms_(std::pow(10.0, options.thresholdDb / 20.0)),
      minSamples_(static_cast<int64_t>(std::llround(options.minSeconds * sampleRate))),
      sampleRate_(sampleRate),
      blockSamples_(blockSamples) {}

void SilenceFinder::AddBlock(double rms) {
  if (rms < thresholdRms_) {
    if (runStart_ < 0) runStart_ = at_;
  } else if (runStart_ >= 0) {
    EndRun(false);
  }
  at_ += blockSamples_;
}

void SilenceFinder::EndRun(bool atEnd) {
  int64_t start = runStart_, end = at_;
  runStart_ = -1;
  if (start == 0 || atEnd || end - start < minSamples_) return;
  int64_t cut = (start + end) / 2;
  if (cut < sampleRate_) return;
  cuts_.push_back(cut);
}

std::vector<int64_t> SilenceFinder::Finish() {
  if (runStart_ >= 0) EndRun(true);
  // No cut within the last second.
  while (!cuts_.empty() && cuts_.back() > at_ - sampleRate_) cuts_.pop_back();
  return cuts_;
}

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
  if (scan.outcome != ScanOutcome::Accepted) {
    search.message = ScanMessage(scan.outcome);
    return search;
  }
  std::unique_ptr<PcmDecoder> decoder = MakePcmDecoder(&search.message);
  if (!decoder) {
    search.outcome = SilenceOutcome::NoDecoder;
    return search;
  }
  int64_t size = file.Size();
  if (size < 0 || !file.Seek(scan.audioStart)) {
    search.outcome = SilenceOutcome::ReadFailed;
    return search;
  }
  // The audio runs to the ID3v1 tag, when there is one.
  uint8_t tag[128];
  int64_t end = ReadId3v1Tag(file, tag) ? size - 128 : size;
  if (!file.Seek(scan.audioStart)) {
    search.outcome = SilenceOutcome::ReadFailed;
    return search;
  }

  std::vector<uint8_t> in(64 * 1024);
  std::vector<int16_t> pcm;
  std::unique_ptr<SilenceFinder> finder;
  size_t used = 0;  // samples of pcm already measured
  int64_t at = scan.audioStart;
  auto measure = [&](bool last) {
    int channels = decoder->Channels(), rate = decoder->SampleRate();
    if (channels <= 0 || rate <= 0) return;
    // One block per frame's worth of samples (1152 or 576 per channel).
    const int block = rate >= 32000 ? 1152 : 576;
    if (!finder) finder = std::make_unique<SilenceFinder>(options, rate, block);
    const size_t step = static_cast<size_t>(block) * channels;
    while (pcm.size() - used >= step || (last && pcm.size() > used)) {
      size_t n = std::min(step, pcm.size() - used);
      double sum = 0;
      for (size_t i = used; i < used + n; ++i) sum += static_cast<double>(pcm[i]) * pcm[i];
      finder->AddBlock(std::sqrt(sum / static_cast<double>(step)) / 32768.0);
      used += n;
    }
    pcm.erase(pcm.begin(), pcm.begin() + static_cast<std::ptrdiff_t>(used));
    used = 0;
  };
  while (at < end) {
    if (halt && halt()) {
      search.outcome = SilenceOutcome::Halted;
      return search;
    }
    size_t want = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(in.size()), end - at));
    int64_t got = file.ReadFull(in.data(), want);
    if (got <= 0) {
      search.outcome = SilenceOutcome::ReadFailed;
      search.message = ScanMessage(ScanOutcome::Unusable);
      return search;
    }
    at += got;
    if (!decoder->Decode(in.data(), static_cast<size_t>(got), &pcm)) break;
    measure(false);
    if (progress) progress(at - scan.audioStart, end - scan.audioStart);
  }
  measure(true);
  if (!finder) {
    search.message = ScanMessage(ScanOutcome::Unusable);
    return search;
  }
  int rate = decoder->SampleRate();
  for (int64_t cut : finder->Finish()) {
    search.cuts.push_back(static_cast<int32_t>((cut * 100 + rate / 2) / rate));
  }
  search.outcome = SilenceOutcome::Found;
  return search;
}

}  // namespace snip
