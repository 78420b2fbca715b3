// Exact tracks: each one decodes, in a gapless decoder, to precisely the
// samples of the source's own decode between two marks.
//
// A Layer III frame may take part of its data from the bytes of the frames
// before it (the bit reservoir), and its first samples need the frame before
// it to come out right. So a track starts a little early: one frame that
// decodes to silence and carries, at its end, the reservoir bytes the first
// real frame points back to, then enough frames of warm-up before the mark.
// It ends with the frame that holds its last sample. The track's own summary
// frame (Info for constant bitrate, Xing otherwise) states in its LAME tag how
// many samples a decoder drops at the start (the encoder delay) and at the
// end (the padding), so that what is heard starts and ends on the very sample.
//
// The decoders' convention: the audio starts encoderDelay + 529 samples into
// a stream's raw decode. A source without a LAME tag is taken to be all its
// frames' samples (no delay, no padding), as decoders play it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "app/file_io.h"
#include "mpeg/frame_walk.h"
#include "mpeg/lame_tag.h"

namespace snip {

// Sample of the source's decoded audio a mark in hundredths of a second
// stands for: round(hundredths * rate / 100).
int64_t MarkSample(int64_t hundredths, int sampleRate);

class ExactCutter {
 public:
  // The audio of the source lies in [audioStart, audioEnd) (after a leading
  // summary frame, before a trailing ID3v1 tag).
  ExactCutter(File& source, int64_t audioStart, int64_t audioEnd);
  ~ExactCutter();

  // Reads the stream's format from its first frame and the encoder's delay
  // and padding from a summary frame that ends where the audio starts. False
  // when there is no Layer III audio or a read fails (readFailed tells which).
  bool Open(bool* readFailed = nullptr);
  int SampleRate() const { return sampleRate_; }

  enum class Result { Written, SourceEnded, PastEnd, ReadFailed, WriteFailed };

  // Walks up to the track that starts at sample `from`; PastEnd when the
  // source's audio ends at or before it (then no track should be made).
  Result Seek(int64_t from);
  // Writes that track, up to sample `to` (exclusive; negative: to the end of
  // the source), at the track file's current position: the summary frame,
  // the silent reservoir frame and the audio frames. SourceEnded when the
  // source's audio ended within the track (it is the last one).
  Result WriteTrack(File& track, int64_t from, int64_t to,
                    const std::function<void(int64_t done, int64_t total)>& progress = {});

 private:
  struct Seen {
    int64_t index;
    int64_t offset;
  };
  void Restart(int64_t index, int64_t offset);
  // The next frame of the walk, its index in *index; false at the end (or on
  // a read error: readFailed_).
  bool Step(WalkFrame* frame, int64_t* index);
  void KeepMainData(const WalkFrame& frame);
  std::vector<uint8_t> SilentFrame(int mainDataBegin) const;
  int64_t EndRaw() const;  // raw sample after the source's last decoded one; needs ended_

  File& source_;
  int64_t audioStart_;
  int64_t audioEnd_;
  std::unique_ptr<FrameWalk> walk_;
  int64_t nextIndex_ = 0;  // index of the frame the walk yields next
  bool ended_ = false;     // the walk reached the end of the audio
  bool readFailed_ = false;
  int64_t totalFrames_ = 0;  // once ended_

  std::vector<Seen> seen_;          // where the latest frames began, to start a track before the last one ended
  std::vector<uint8_t> reservoir_;  // the latest main-data bytes, oldest first
  // Seek's frames, from the first one a track holds to one past the mark's.
  struct Held {
    int64_t index;
    int bitrateIndex;
    size_t size;
  };
  std::vector<Held> held_;
  std::vector<uint8_t> heldBytes_;
  std::vector<uint8_t> out_;                  // the block of a track being filled
  std::vector<std::vector<uint8_t>> blocks_;  // for the writer of each track
  std::vector<uint8_t> silentFrame_;  // the track's first frame, carrying the reservoir
  int64_t seekFrom_ = -1;             // the sample Seek prepared for
  int64_t firstIndex_ = 0;            // the first real frame of the prepared track

  uint8_t header_[4] = {};  // the stream's first audio frame header
  int samplesPerFrame_ = 0;
  int sampleRate_ = 0;
  int64_t delay_ = 0;   // raw samples before the source's decoded audio (encoder delay + 529, or 0)
  int64_t padding_ = -1;  // the source's padding, -1 when not stated
  StreamSummary sourceSummary_{};
};

}  // namespace snip
