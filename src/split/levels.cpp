#include "split/levels.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "app/file_io.h"
#include "mpeg/pcm_decoder.h"
#include "mpeg/source_scan.h"

namespace snip {

int32_t LevelPicture::DurationHundredths() const {
  return sampleRate > 0 ? static_cast<int32_t>(samples * 100 / sampleRate) : 0;
}

size_t LevelPicture::PairAt(int32_t hundredths) const {
  if (sampleRate <= 0 || pairSamples <= 0 || peak.empty() || hundredths <= 0) return 0;
  int64_t sample = static_cast<int64_t>(hundredths) * sampleRate / 100;
  return static_cast<size_t>(std::min<int64_t>(sample / pairSamples, static_cast<int64_t>(peak.size()) - 1));
}

double LevelPicture::PairHundredths(double pair) const {
  return sampleRate > 0 ? pair * pairSamples * 100.0 / sampleRate : 0.0;
}

LevelMeter::LevelMeter(LevelPicture* picture, int sampleRate, int channels) : picture_(picture), channels_(channels) {
  picture_->sampleRate = sampleRate;
  picture_->pairSamples = std::max(1, (sampleRate + 50) / 100);
}

void LevelMeter::Add(const int16_t* pcm, size_t count) {
  const size_t channels = static_cast<size_t>(channels_);
  for (size_t i = 0; i + channels <= count; i += channels) {
    for (size_t c = 0; c < channels; ++c) {
      int sample = pcm[i + c];
      peak_ = std::max(peak_, std::abs(sample));
      sum_ += static_cast<double>(sample) * sample;
    }
    ++picture_->samples;
    if (++filled_ == picture_->pairSamples) EndPair();
  }
}

void LevelMeter::Finish() {
  if (filled_ > 0) EndPair();
}

void LevelMeter::EndPair() {
  double rms = std::sqrt(sum_ / static_cast<double>(filled_ * channels_));
  picture_->peak.push_back(static_cast<uint16_t>(std::min(peak_, 32767)));
  picture_->rms.push_back(static_cast<uint16_t>(std::min(32767.0, std::lround(rms) * 1.0)));
  filled_ = 0;
  peak_ = 0;
  sum_ = 0;
}

LevelSearch FindLevels(const std::string& path, const std::function<void(int64_t, int64_t)>& progress,
                       const std::function<bool()>& halt) {
  LevelSearch search;
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
  uint8_t tag[128];
  // The audio runs from its first frame (the summary frame is no audio) to
  // the ID3v1 tag, when there is one.
  int64_t end = size >= 0 && ReadId3v1Tag(file, tag) ? size - 128 : size;
  if (size < 0 || !file.Seek(scan.audioStart)) {
    search.outcome = SilenceOutcome::ReadFailed;
    search.message = ScanMessage(ScanOutcome::Unusable);
    return search;
  }
  // Room for an hour and a bit at once, so that the picture seldom moves.
  if (scan.bitrate > 0) {
    int64_t seconds = (end - scan.audioStart) / (static_cast<int64_t>(scan.bitrate) * 125) + 2;
    search.picture.peak.reserve(static_cast<size_t>(seconds * 100));
    search.picture.rms.reserve(static_cast<size_t>(seconds * 100));
  }

  std::vector<uint8_t> in(64 * 1024);
  std::vector<int16_t> pcm;
  std::unique_ptr<LevelMeter> meter;
  auto measure = [&] {
    if (!meter && decoder->Channels() > 0 && decoder->SampleRate() > 0) {
      meter = std::make_unique<LevelMeter>(&search.picture, decoder->SampleRate(), decoder->Channels());
    }
    if (meter) meter->Add(pcm.data(), pcm.size());
    pcm.clear();
  };
  for (int64_t at = scan.audioStart; at < end;) {
    if (halt && halt()) {
      search.outcome = SilenceOutcome::Halted;
      search.picture = LevelPicture();
      return search;
    }
    size_t want = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(in.size()), end - at));
    int64_t got = file.ReadFull(in.data(), want);
    if (got <= 0) {
      search.outcome = SilenceOutcome::ReadFailed;
      search.message = ScanMessage(ScanOutcome::Unusable);
      search.picture = LevelPicture();
      return search;
    }
    at += got;
    bool working = decoder->Decode(in.data(), static_cast<size_t>(got), &pcm);
    measure();
    if (progress) progress(at - scan.audioStart, end - scan.audioStart);
    if (!working) break;
  }
  decoder->Decode(nullptr, 0, &pcm);
  measure();
  if (!meter) {
    search.message = ScanMessage(ScanOutcome::Unusable);
    return search;
  }
  meter->Finish();
  search.picture.peak.shrink_to_fit();
  search.picture.rms.shrink_to_fit();
  search.outcome = SilenceOutcome::Found;
  return search;
}

}  // namespace snip
