// Outside tools as judges (mpg123 decodes; the Linux side only) and a frame
// list read from a file's bytes without the program's own code.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace snip::test {

// The text quoted for the shell.
std::string Quoted(const std::string& s);
// Whether `name --version` runs.
bool HaveTool(const char* name);

struct Decoded {
  bool ran = false;
  std::string complaints;  // lines about lost sync, skipped bytes or doubtful lengths
  int channels = 0;
  int sampleRate = 0;
  int64_t samples = -1;          // per channel, counted in the WAV
  int64_t announcedFrames = -1;  // the length mpg123 shows before it plays
  double announcedSeconds = -1;
};

// Decodes mp3 with mpg123 to a WAV in the folder workDir (ending in a
// separator). gapless=false keeps the encoder's delay and padding.
Decoded Decode(const std::string& mp3, const std::string& workDir, bool gapless = true);

// The 16-bit samples (channels interleaved) a decoder makes of mp3, gapless:
// tool "mpg123" or "ffmpeg". Empty when the tool fails.
std::vector<int16_t> DecodePcm(const std::string& mp3, const std::string& tool);

// The frames of an MPEG audio file as a simple reader sees them: leading
// ID3v2 tags skipped, the first header from which whole frames run exactly
// to the end of the audio (before an ID3v1 tag), an encoder's summary frame
// ("Xing"/"Info") set apart from the audio frames.
struct FrameList {
  int64_t summaryAt = -1;  // offset of the summary frame, -1 when none
  int summarySize = 0;
  std::vector<int64_t> offsets;  // audio frames
  std::vector<int> sizes;
  std::vector<int> bitrateIndexes;
  int sampleRate = 0;
  int samplesPerFrame = 0;
  int64_t audioEnd = 0;
};
bool ListFrames(const std::vector<uint8_t>& bytes, FrameList* list);

}  // namespace snip::test
