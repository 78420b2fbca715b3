// MPEG audio frames in, 16-bit PCM out, through the platform's own decoder
// (libmpg123 on Linux, the system's MPEG Layer-3 ACM codec on Windows). Portable interface.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace snip {

class PcmDecoder {
 public:
  virtual ~PcmDecoder() = default;
  // Hands over the next bytes of the stream and appends the samples decoded
  // so far to pcm (channels interleaved). Damaged frames are stepped over.
  // The samples of every whole frame handed over come out before the call
  // returns, but for a lag the decoder always has (the same number of
  // samples wherever it starts). No bytes (n == 0) ends the stream: what the
  // decoder still holds comes out. False when the decoder fails for good.
  // One decoder is used by one thread at a time; several may run at once.
  virtual bool Decode(const uint8_t* data, size_t n, std::vector<int16_t>* pcm) = 0;
  // The stream's format, known once samples have come out (0 before).
  virtual int Channels() const = 0;
  virtual int SampleRate() const = 0;
};

// The platform's decoder; null, with the reason in *error, when it cannot be
// loaded.
std::unique_ptr<PcmDecoder> MakePcmDecoder(std::string* error);

extern const char* const kNoDecoderMessage;

}  // namespace snip
