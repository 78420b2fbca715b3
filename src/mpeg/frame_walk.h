// A forward walk over the frames of an MPEG audio stream: one pass over the
// file through one fixed buffer, whatever the file's size. Each step yields
// the next real frame with its position, size, sample count and the side
// information's main_data_begin; bytes between frames (junk, ID3v2 tags in
// the middle of the stream, frames of another format) are stepped over.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "app/file_io.h"

namespace snip {

struct WalkFrame {
  int64_t offset = 0;             // position in the file
  int size = 0;                   // bytes of the frame, header included
  int samples = 0;                // samples per channel the frame decodes to
  int mainDataBegin = 0;          // Layer III: bytes of main data in earlier frames; 0 for other layers
  int bitrateIndex = 0;           // 1..14
  int64_t skippedBefore = 0;      // bytes stepped over between the previous frame (or the start) and this one
  const uint8_t* data = nullptr;  // the frame's bytes, valid until the next call to Next
};

// Samples per channel in one frame of the given version and layer bits.
int FrameSamples(int versionBits, int layerBits);
// main_data_begin of a Layer III frame (header at b, at least 6 bytes, 8
// with a CRC); 0 for other layers.
int MainDataBegin(const uint8_t* b);

class FrameWalk {
 public:
  enum class Step { Frame, End, ReadError };

  // Walks [start, end) of the file; end is usually where a trailing ID3v1
  // tag begins. The file position is owned by the walk until it ends.
  FrameWalk(File& file, int64_t start, int64_t end, size_t bufferBytes = 64 * 1024);

  // The next frame. The first frame found fixes the stream's version, layer
  // and sampling rate; later frames must share them. A frame found after
  // bytes that are not frames counts only when its follower confirms it (or
  // it ends exactly at the end); a frame that directly follows the last one
  // needs no more. A frame cut short by the end is not a frame.
  Step Next(WalkFrame* frame);

  // Bytes walked so far (the end of the last frame, or where the search
  // stopped), for progress.
  int64_t Position() const { return pos_; }

 private:
  bool Fill(size_t want);  // makes want bytes from pos_ available if the data has them
  size_t Available() const { return static_cast<size_t>(readPos_ - pos_); }
  const uint8_t* At() const { return buffer_.data() + (pos_ - bufferStart_); }
  bool Matches(const uint8_t* h) const;

  File& file_;
  std::vector<uint8_t> buffer_;
  int64_t bufferStart_;  // file position of buffer_[0]
  int64_t readPos_;      // file position after the last byte held
  int64_t pos_;          // where the walk stands
  int64_t end_;
  bool fileEnded_ = false;
  bool seeked_ = false;
  bool inSync_ = false;         // pos_ is the end of a frame just yielded
  bool locked_ = false;         // the stream's format is known
  uint8_t format_[2] = {0, 0};  // version, layer and sampling rate of the stream
};

}  // namespace snip
