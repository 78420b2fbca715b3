// Finding the pauses between songs: the source is decoded and every frame's
// level measured; a silence is a run of frames that all stay below the
// threshold for at least the minimum length, and each gives one cut, in its
// middle. Silences that touch the start or the end of the recording (lead-in
// and run-out) give none, nor does a cut within a second of either end.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "mpeg/audio_stretches.h"

namespace snip {

struct SilenceOptions {
  double thresholdDb = -48.0;  // dBFS, RMS of a frame
  double minSeconds = 1.0;
  // Stretches of the audio decoded side by side: 0 for one per processor (at
  // most 4). The cuts are the same whatever the number.
  int threads = 0;
};

// What the command line and the Split page accept.
inline constexpr double kLowestThresholdDb = -120.0;
inline constexpr double kHighestThresholdDb = 0.0;
inline constexpr double kShortestSilence = 0.05;  // seconds
inline constexpr double kLongestSilence = 3600.0;

// The rule on a stream of levels, one per block of samples. A long recording
// is measured in consecutive stretches, each by its own finder, and the
// stretches are then joined in order (Append), so that a silence across a seam
// counts as one; each finder keeps only the quiet runs that can still matter,
// so its memory does not grow with the length of the audio.
class SilenceFinder {
 public:
  // firstSample: where the stretch begins in the recording (0 for the first).
  SilenceFinder(const SilenceOptions& options, int sampleRate, int blockSamples, int64_t firstSample = 0);
  // The next block's RMS level (full scale is 1.0).
  void AddBlock(double rms);
  // Joins the stretch that follows this one. A quiet run at the end of this
  // stretch and one at the start of the next make one run.
  void Append(const SilenceFinder& next);
  // Ends the stream; the cuts in samples from the start, and when spans is
  // given, the silence (first and end sample) each cut lies in.
  std::vector<int64_t> Finish(std::vector<std::pair<int64_t, int64_t>>* spans = nullptr);

 private:
  struct Run {
    int64_t from, to;  // samples
  };
  void Keep(int64_t from, int64_t to);
  double thresholdRms_;
  int64_t minSamples_;
  int sampleRate_;
  int blockSamples_;
  int64_t first_;          // first sample of the stretch
  int64_t at_;             // samples so far (from the start of the recording)
  int64_t runStart_ = -1;  // first sample of the quiet run under way, -1 when none
  std::vector<Run> runs_;  // ended runs at least the minimum long or starting at first_
};

using SilenceOutcome = DecodeOutcome;

struct SilenceSearch {
  SilenceOutcome outcome = SilenceOutcome::Unusable;
  std::vector<int32_t> cuts;  // hundredths of a second from the first audio frame
  std::vector<std::pair<int32_t, int32_t>> spans;  // the silence of each cut, in hundredths
  std::string message;        // why, when nothing was found
};

// Scans and decodes the file at path, in options.threads stretches at once
// on threads of its own. progress (may be empty) is told the bytes done and
// the total, and halt (may be empty) is asked every few hundred
// milliseconds at most; both are called only on the calling thread, and
// once halt answers true the threads are stopped and joined before the call
// returns. (A file fault hook, when one is installed, is asked from the
// decoding threads.)
SilenceSearch FindSilences(const std::string& path, const SilenceOptions& options,
                           const std::function<void(int64_t, int64_t)>& progress = {},
                           const std::function<bool()>& halt = {});

}  // namespace snip
