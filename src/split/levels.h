// The loudness of a recording over time, for its picture: the source is
// decoded once and every 10 ms of audio (a "pair") keeps the peak and the
// RMS level of its samples, all channels together, as 16-bit magnitudes
// (32767 is full scale). An hour takes 1.4 MB, a day 35 MB, so that the
// picture can be zoomed and scrolled without decoding again.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "mpeg/audio_stretches.h"

namespace snip {

struct LevelPicture {
  int sampleRate = 0;
  int pairSamples = 0;  // samples per channel of a pair (the last may hold fewer)
  std::vector<uint16_t> peak;
  std::vector<uint16_t> rms;
  int64_t samples = 0;  // samples per channel decoded

  size_t Pairs() const { return peak.size(); }
  // Hundredths of a second of the whole audio, and the pair a time falls in.
  int32_t DurationHundredths() const;
  size_t PairAt(int32_t hundredths) const;
  // The start of a pair in hundredths of a second.
  double PairHundredths(double pair) const;
};

struct LevelSearch {
  DecodeOutcome outcome = DecodeOutcome::Unusable;
  LevelPicture picture;
  std::string message;  // why, when there is no picture
};

// Decodes the file at path in threads stretches at once (0: one per
// processor), as DecodeStretches does; progress (may be empty) is told the
// bytes done and the total, halt (may be empty) is asked now and then, both
// on the calling thread. Frames that damage took keep the level before them.
LevelSearch FindLevels(const std::string& path, const std::function<void(int64_t, int64_t)>& progress = {},
                       const std::function<bool()>& halt = {}, int threads = 0);

}  // namespace snip
