// Finding the pauses between songs: the source is decoded and every frame's
// level measured; a silence is a run of frames that all stay below the
// threshold for at least the minimum length, and each gives one cut, in its
// middle. Silences that touch the start or the end of the recording (lead-in
// and run-out) give none, nor does a cut within a second of either end.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace snip {

struct SilenceOptions {
  double thresholdDb = -48.0;  // dBFS, RMS of a frame
  double minSeconds = 1.0;
};

// What the command line and the Split page accept.
inline constexpr double kLowestThresholdDb = -120.0;
inline constexpr double kHighestThresholdDb = 0.0;
inline constexpr double kShortestSilence = 0.05;  // seconds
inline constexpr double kLongestSilence = 3600.0;

// The rule on a stream of levels, one per block of samples.
class SilenceFinder {
 public:
  SilenceFinder(const SilenceOptions& options, int sampleRate, int blockSamples);
  // The next block's RMS level (full scale is 1.0).
  void AddBlock(double rms);
  // Ends the stream; the cuts in samples from the start.
  std::vector<int64_t> Finish();

 private:
  void EndRun(bool atEnd);
  double thresholdRms_;
  int64_t minSamples_;
  int sampleRate_;
  int blockSamples_;
  int64_t at_ = 0;         // samples so far
  int64_t runStart_ = -1;  // first sample of the quiet run under way, -1 when none
  std::vector<int64_t> cuts_;
};

enum class SilenceOutcome { Found, Unusable, NoDecoder, ReadFailed, Halted };

struct SilenceSearch {
  SilenceOutcome outcome = SilenceOutcome::Unusable;
  std::vector<int32_t> cuts;  // hundredths of a second from the first audio frame
  std::string message;        // why, when nothing was found
};

// Scans and decodes the file at path. progress (may be empty) is told the
// bytes done and the total; halt (may be empty) is asked between reads.
SilenceSearch FindSilences(const std::string& path, const SilenceOptions& options,
                           const std::function<void(int64_t, int64_t)>& progress = {},
                           const std::function<bool()>& halt = {});

}  // namespace snip
