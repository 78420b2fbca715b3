// Cutting a variable-bitrate stream into tracks on frame starts, by sample
// time: a track ends before the first frame whose start time is at or after
// the cut. Each track begins with a "Xing" frame of its own (frame count,
// byte count, table of contents), so that players show its length and seek
// in it; bytes between frames (junk, tags in the stream) are left out.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "app/file_io.h"
#include "mpeg/frame_walk.h"

namespace snip {

class WriteBehind;

class FrameTimeCutter {
 public:
  enum class Result { Cut, SourceEnded, ReadFailed, WriteFailed };

  // Cuts the frames of [start, end) of source. progress, when set, is told
  // the bytes of the source consumed so far and the total.
  FrameTimeCutter(File& source, int64_t start, int64_t end, std::function<void(int64_t, int64_t)> progress);

  // Writes the next track into track (at its end; anything already written,
  // such as a tag, stays in front): its Xing frame,
  // then the frames from the current one on up to the first frame that
  // starts at or after cutHundredths (hundredths of a second from the first
  // frame). A track always holds at least the frame it starts with. The
  // track file is left positioned at its end. SourceEnded when the frames
  // ran out in this track.
  Result CopyTrack(File& track, int64_t cutHundredths);

 private:
  bool Advance();  // the next frame into pending_; false on a read failure
  bool Put(WriteBehind& writer, const uint8_t* data, size_t n);
  bool Flush(WriteBehind& writer);

  FrameWalk walk_;
  int64_t start_;
  int64_t end_;
  std::function<void(int64_t, int64_t)> progress_;
  bool primed_ = false;
  bool hasPending_ = false;
  WalkFrame pending_;
  int64_t samplesBefore_ = 0;  // samples of the frames before pending_
  int sampleRate_ = 0;
  std::vector<uint8_t> out_;  // the block being filled
  std::vector<std::vector<uint8_t>> blocks_;  // for the writer of each track
};

// The number of tracks FrameTimeCutter makes of the frames of [start, end)
// of source with the cut after track k at cutAfterTrack(k) hundredths: one
// pass over the frames. Moves the source's file position.
size_t CountFrameTimeTracks(File& source, int64_t start, int64_t end,
                            const std::function<int64_t(size_t)>& cutAfterTrack);

}  // namespace snip
