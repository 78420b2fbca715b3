// The encoder's summary frame at the head of a stream: a "Xing" (variable
// bitrate) or "Info" (constant bitrate) frame, often with a LAME tag, or a
// "VBRI" frame. It holds no audio; it tells a player the stream's frame and
// byte counts, where to seek (the table of contents) and how many samples the
// encoder added before and after the audio.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "mpeg/crc16.h"

namespace snip {

enum class SummaryKind { None, Xing, Info, Vbri };

struct StreamSummary {
  SummaryKind kind = SummaryKind::None;
  int frameLength = 0;  // bytes of the summary frame
  bool hasFrames = false;
  uint32_t frames = 0;  // audio frames after the summary frame
  bool hasBytes = false;
  uint32_t bytes = 0;  // bytes of the stream, the summary frame included
  bool hasToc = false;
  uint8_t toc[100] = {};  // Xing: the byte position (in 256ths of `bytes`) at each percent of the duration
  bool hasQuality = false;
  uint32_t quality = 0;

  bool hasLameTag = false;
  char encoder[10] = {};  // nine characters and a terminator, e.g. "LAME3.100"
  int tagRevision = 0;
  int vbrMethod = 0;
  int lowpass = 0;          // in hundreds of Hz
  int encoderDelay = -1;    // samples the encoder put before the audio; -1 when not stated
  int encoderPadding = -1;  // samples it put after the audio; -1 when not stated
  uint32_t musicLength = 0;
  uint16_t musicCrc = 0;
  uint16_t tagCrc = 0;
  bool tagCrcValid = false;  // the stored tag CRC matches the frame's bytes
};

// Reads the summary frame that starts at frame (bytes available); false (and
// kind None) when the frame is no summary frame. Needs no more than the frame.
bool ReadSummaryFrame(const uint8_t* frame, size_t bytes, StreamSummary* summary);

struct SummaryFrameFields {
  // Any audio frame header of the stream: the summary frame takes its
  // version, sampling rate, channel mode, copyright, original and emphasis.
  uint8_t header[4] = {0xFF, 0xFB, 0x90, 0x44};
  bool vbr = true;        // "Xing", else "Info"
  uint32_t frames = 0;    // audio frames after the summary frame
  uint32_t bytes = 0;     // the summary frame and the audio frames
  uint8_t toc[100] = {};  // see TocBuilder
  uint32_t quality = 0;

  // The LAME tag after the Xing fields, written only when asked for.
  bool lameTag = false;
  std::string encoder;  // at most 9 characters are kept
  int tagRevision = 0;
  int vbrMethod = 0;
  int lowpass = 0;
  int encoderDelay = 0;    // 0..4095
  int encoderPadding = 0;  // 0..4095
  uint16_t musicCrc = 0;   // Crc16 of the audio frames; the music length is `bytes`
};

// Length of the summary frame BuildSummaryFrame makes for this header: the
// shortest frame of the stream's format that holds the fields.
int SummaryFrameLength(const uint8_t header[4], bool lameTag);

// The summary frame: a header with no CRC, side information of zeros, the
// Xing fields with all four flags set, then (if asked) the LAME tag closed
// by its CRC over the frame's bytes before it. Empty when the header is no
// Layer III header.
std::vector<uint8_t> BuildSummaryFrame(const SummaryFrameFields& fields);

// Names the encoder of a summary frame after the stream it was cut from:
// that stream's string and settings when its LAME tag starts with "LAME",
// "Lavf" or "Lavc" (the only ones decoders take the delay and padding from),
// otherwise "LAME3.100", whose conventions the delay and padding follow.
void TakeEncoder(const StreamSummary& from, SummaryFrameFields* fields);

// The Xing table of contents of a stream, gathered while its frames go by in
// a bounded record (at most 2048 points, thinned by half when full), so that
// any stream length costs the same memory. Entry i is the position of the
// frame playing at i percent of the duration.
class TocBuilder {
 public:
  // A frame starting `offset` bytes from the stream's start (its summary
  // frame included) after `samplesBefore` samples of audio.
  void Add(int64_t offset, int64_t samplesBefore);
  void Finish(int64_t totalBytes, int64_t totalSamples, uint8_t toc[100]) const;

 private:
  std::vector<std::pair<int64_t, int64_t>> points_;  // (samples before, offset)
  int64_t stride_ = 1;
  int64_t seen_ = 0;
};

}  // namespace snip
