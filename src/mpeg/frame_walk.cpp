#include "mpeg/frame_walk.h"

#include <algorithm>
#include <cstring>

#include "mpeg/frame_header.h"
#include "mpeg/source_scan.h"

namespace snip {

namespace {

// The walk needs a whole frame of any layer and the header after it in the
// buffer at once (the longest frame is 2881 bytes).
constexpr size_t kLeastBuffer = 8192;
constexpr size_t kHeaderBytes = 4;
constexpr size_t kId3v2HeaderBytes = 10;

}  // namespace

int FrameSamples(int versionBits, int layerBits) {
  switch (layerBits) {
    case 3:
      return 384;
    case 2:
      return 1152;
    case 1:
      return versionBits == 3 ? 1152 : 576;
    default:
      return 0;
  }
}

int MainDataBegin(const uint8_t* b) {
  if (HeaderLayerBits(b) != 1) return 0;
  size_t at = (b[1] & 0x01) == 0 ? 6 : 4;  // after the CRC when there is one
  if (HeaderVersionBits(b) == 3) return (b[at] << 1) | (b[at + 1] >> 7);
  return b[at];
}

FrameWalk::FrameWalk(File& file, int64_t start, int64_t end, size_t bufferBytes)
    : file_(file),
      buffer_(std::max(bufferBytes, kLeastBuffer)),
      bufferStart_(start),
      readPos_(start),
      pos_(start),
      end_(std::max(start, end)) {}

bool FrameWalk::Matches(const uint8_t* h) const { return (h[1] & 0x1E) == format_[0] && (h[2] & 0x0C) == format_[1]; }

bool FrameWalk::Fill(size_t want) {
  if (pos_ > readPos_) {
    // A tag larger than the buffer was stepped over: read on from its end.
    bufferStart_ = readPos_ = pos_;
    seeked_ = false;
  }
  if (Available() >= want || fileEnded_ || readPos_ >= end_) return true;
  size_t keep = Available();
  if (pos_ != bufferStart_) {
    if (keep > 0) std::memmove(buffer_.data(), At(), keep);
    bufferStart_ = pos_;
  }
  if (!seeked_) {
    if (!file_.Seek(readPos_)) return false;
    seeked_ = true;
  }
  int64_t room = static_cast<int64_t>(buffer_.size() - keep);
  int64_t wanted = std::min(room, end_ - readPos_);
  int64_t got = file_.ReadFull(buffer_.data() + keep, static_cast<size_t>(wanted));
  if (got < 0) return false;
  if (got < wanted) fileEnded_ = true;
  readPos_ += got;
  return true;
}

FrameWalk::Step FrameWalk::Next(WalkFrame* frame) {
  int64_t skipped = 0;
  for (;;) {
    if (!Fill(kHeaderBytes)) return Step::ReadError;
    size_t avail = Available();
    if (avail < kHeaderBytes) {
      pos_ += static_cast<int64_t>(avail);
      return Step::End;
    }
    const uint8_t* h = At();
    if (h[0] == 'I' && h[1] == 'D' && h[2] == '3') {
      if (!Fill(kId3v2HeaderBytes)) return Step::ReadError;
      int64_t tag = Id3v2TagSize(At(), Available());
      if (tag > 0) {
        tag = std::min(tag, end_ - pos_);
        pos_ += tag;
        skipped += tag;
        inSync_ = false;
        continue;
      }
      avail = Available();
      h = At();
    }
    if (FrameHeaderTest(h) && (!locked_ || Matches(h))) {
      size_t length = static_cast<size_t>(HeaderFrameLength(h));
      if (length > 0) {
        size_t need = inSync_ ? length : length + kHeaderBytes;
        if (!Fill(need)) return Step::ReadError;
        avail = Available();
        h = At();
        bool real;
        if (inSync_)
          real = avail >= length;
        else
          real = ConfirmFrame(h, avail, avail < need) == FrameCheck::Yes;
        if (real) {
          if (!locked_) {
            format_[0] = h[1] & 0x1E;
            format_[1] = h[2] & 0x0C;
            locked_ = true;
          }
          frame->offset = pos_;
          frame->size = static_cast<int>(length);
          frame->samples = FrameSamples(HeaderVersionBits(h), HeaderLayerBits(h));
          frame->mainDataBegin = MainDataBegin(h);
          frame->bitrateIndex = HeaderBitrateIndex(h);
          frame->skippedBefore = skipped;
          frame->data = h;
          pos_ += static_cast<int64_t>(length);
          inSync_ = true;
          return Step::Frame;
        }
      }
    }
    // Not a frame here: step on to the next byte that could begin one.
    inSync_ = false;
    size_t step = 1;
    while (step + kHeaderBytes <= avail && h[step] != 0xFF && h[step] != 'I') ++step;
    pos_ += static_cast<int64_t>(step);
    skipped += static_cast<int64_t>(step);
  }
}

}  // namespace snip
