#include "split/levels.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <memory>

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

namespace {

// A pair as it is measured: its peak, the sum of its samples' squares and
// how many samples (per channel) it has had.
struct PairSum {
  int peak = 0;
  double squares = 0;
  int64_t samples = 0;
  int channels = 1;
};

void StorePair(LevelPicture* picture, size_t index, const PairSum& pair) {
  if (index >= picture->Pairs() || pair.samples <= 0) return;
  double rms = std::sqrt(pair.squares / static_cast<double>(pair.samples * pair.channels));
  picture->peak[index] = static_cast<uint16_t>(std::min(pair.peak, 32767));
  picture->rms[index] = static_cast<uint16_t>(std::min<long>(32767, std::lround(rms)));
}

// Measures one stretch's pairs straight into the picture. A pair that
// straddles the start or the end of the stretch is kept aside, to be put
// together with its other part from the stretch beside.
class LevelSink : public StretchSink {
 public:
  LevelSink(LevelPicture* picture, int64_t firstSample, int frameSamples)
      : picture_(picture), at_(firstSample), frameSamples_(frameSamples) {
    startPair_ = static_cast<size_t>(firstSample / picture->pairSamples);
    straddlesStart_ = firstSample % picture->pairSamples != 0;
  }
  void Samples(const int16_t* pcm, size_t count, int channels) override {
    const size_t step = static_cast<size_t>(channels);
    current_.channels = channels;
    size_t frames = count / step;
    while (frames > 0) {
      // Up to the end of the pair under way at once.
      int64_t room = picture_->pairSamples - at_ % picture_->pairSamples;
      size_t n = static_cast<size_t>(std::min<int64_t>(room, static_cast<int64_t>(frames)));
      int peak = current_.peak;
      int64_t squares = 0;
      for (size_t i = 0; i < n * step; ++i) {
        int sample = pcm[i];
        peak = std::max(peak, std::abs(sample));
        squares += static_cast<int64_t>(sample) * sample;
      }
      current_.peak = peak;
      current_.squares += static_cast<double>(squares);
      current_.samples += static_cast<int64_t>(n) - 1;
      at_ += static_cast<int64_t>(n) - 1;
      Advance();
      pcm += n * step;
      frames -= n;
    }
  }
  void Lost(int64_t frames) override {
    // The level of the last pair goes on.
    for (int64_t i = 0; i < frames * frameSamples_; ++i) {
      current_.peak = std::max(current_.peak, last_.peak);
      current_.squares += last_.samples > 0 ? last_.squares / static_cast<double>(last_.samples) : 0.0;
      current_.channels = last_.channels;
      Advance();
    }
  }
  void End() override {
    if (current_.samples > 0) edges_[PairOf(at_ - 1)] = current_;
  }
  const std::map<size_t, PairSum>& Edges() const { return edges_; }

 private:
  size_t PairOf(int64_t sample) const { return static_cast<size_t>(sample / picture_->pairSamples); }
  void Advance() {
    ++current_.samples;
    ++at_;
    if (at_ % picture_->pairSamples != 0) return;
    size_t index = PairOf(at_ - 1);
    if (index == startPair_ && straddlesStart_) {
      edges_[index] = current_;
    } else {
      StorePair(picture_, index, current_);
    }
    last_ = current_;
    current_ = PairSum{0, 0, 0, current_.channels};
  }
  LevelPicture* picture_;
  int64_t at_;  // the next sample's place in the audio
  int frameSamples_;
  size_t startPair_;
  bool straddlesStart_;
  PairSum current_;
  PairSum last_;
  std::map<size_t, PairSum> edges_;  // pairs this stretch holds only a part of
};

}  // namespace

LevelSearch FindLevels(const std::string& path, const std::function<void(int64_t, int64_t)>& progress,
                       const std::function<bool()>& halt, int threads) {
  LevelSearch search;
  LevelPicture& picture = search.picture;
  AudioDecode decode = DecodeStretches(
      path, threads,
      [&](const AudioLayout& layout, int64_t firstFrame, int64_t) -> std::unique_ptr<StretchSink> {
        if (picture.sampleRate == 0) {
          // Room for the whole audio at once, made before any stretch starts.
          picture.sampleRate = layout.sampleRate;
          picture.pairSamples = std::max(1, (layout.sampleRate + 50) / 100);
          picture.samples = layout.frames * layout.frameSamples;
          size_t pairs = static_cast<size_t>((picture.samples + picture.pairSamples - 1) / picture.pairSamples);
          picture.peak.assign(pairs, 0);
          picture.rms.assign(pairs, 0);
        }
        return std::make_unique<LevelSink>(&picture, firstFrame * layout.frameSamples, layout.frameSamples);
      },
      progress, halt);
  search.outcome = decode.outcome;
  search.message = decode.message;
  if (decode.outcome != DecodeOutcome::Found) {
    search.picture = LevelPicture();
    return search;
  }
  // The pairs across the seams, from their parts.
  std::map<size_t, PairSum> edges;
  for (const auto& sink : decode.sinks) {
    for (const auto& [index, part] : static_cast<const LevelSink&>(*sink).Edges()) {
      PairSum& whole = edges[index];
      whole.peak = std::max(whole.peak, part.peak);
      whole.squares += part.squares;
      whole.samples += part.samples;
      whole.channels = part.channels;
    }
  }
  for (const auto& [index, whole] : edges) StorePair(&picture, index, whole);
  return search;
}

}  // namespace snip
