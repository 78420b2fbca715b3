// A source's audio decoded in stretches side by side, one per processor: the
// frames are walked once to place the stretches, then every stretch is
// decoded on a thread of its own, starting a few frames before its own (the
// bit reservoir and the overlap of the frame before), and hands its samples
// to a sink of its own. The sinks hold the results, to be joined in order.
// Memory does not grow with the length of the audio beyond what the sinks
// keep.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace snip {

struct AudioLayout {
  int sampleRate = 0;
  int frameSamples = 0;  // samples per channel of a frame
  int64_t frames = 0;    // the audio's frames, those that damage took counted
};

// What one stretch gives, in order. A stretch's first frame and number of
// frames are given to the maker of its sink; the sink never gets more
// samples than its frames hold (the last stretch runs to the end).
class StretchSink {
 public:
  virtual ~StretchSink() = default;
  // Decoded samples, channels interleaved.
  virtual void Samples(const int16_t* pcm, size_t count, int channels) = 0;
  // Frames that damaged bytes took, at this point: their time passes all the
  // same (a constant-bitrate source is cut by bytes, so they keep their place).
  virtual void Lost(int64_t frames) = 0;
  // The stretch is over.
  virtual void End() {}
};

enum class DecodeOutcome { Found, Unusable, NoDecoder, ReadFailed, Halted };

struct AudioDecode {
  DecodeOutcome outcome = DecodeOutcome::Unusable;
  AudioLayout layout;
  std::vector<std::unique_ptr<StretchSink>> sinks;  // in the order of the stretches
  std::string message;                              // why, when not Found
};

// Makes the sink of the stretch that begins at firstFrame and holds frames
// frames (-1: to the end). Called on the calling thread, for every stretch,
// before any is decoded.
using SinkMaker =
    std::function<std::unique_ptr<StretchSink>(const AudioLayout& layout, int64_t firstFrame, int64_t frames)>;

// Scans and decodes the file at path in threads stretches at once (0: one per
// processor, at most 4). progress (may be empty) is told the bytes done and
// the total, and halt (may be empty) is asked every few hundred milliseconds
// at most; both are called only on the calling thread, and once halt answers
// true the threads are stopped and joined before the call returns. Found
// only when some samples came out.
AudioDecode DecodeStretches(const std::string& path, int threads, const SinkMaker& makeSink,
                            const std::function<void(int64_t, int64_t)>& progress = {},
                            const std::function<bool()>& halt = {});

}  // namespace snip
