// The frame walk over built streams (junk, tags holding false frames, frames
// of another format, a cut-off last frame, a small buffer) and over lame's
// variable-bitrate files, judged by a frame list read without the program.
#include "mpeg/frame_walk.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/file_io.h"
#include "support/mpeg_frames.h"
#include "support/mpeg_tools.h"

namespace {

using Bytes = std::vector<uint8_t>;
using namespace snip::test;

struct Walked {
  std::vector<snip::WalkFrame> frames;
  snip::FrameWalk::Step last = snip::FrameWalk::Step::End;
  int64_t endPosition = 0;
};

Walked Walk(const std::string& path, int64_t start, int64_t end, size_t buffer = 256 * 1024) {
  Walked w;
  snip::File file = snip::File::OpenRead(path);
  EXPECT_TRUE(file.IsOpen());
  snip::FrameWalk walk(file, start, end, buffer);
  snip::WalkFrame f;
  while ((w.last = walk.Next(&f)) == snip::FrameWalk::Step::Frame) {
    f.data = nullptr;
    w.frames.push_back(f);
  }
  w.endPosition = walk.Position();
  return w;
}

// Junk before and between frames, bitrates that change from frame to frame,
// a tag in the middle whose body holds a chain of frames of the stream's own
// format, a frame of another sampling rate, and a last frame cut short: the
// walk yields exactly the real frames, with the bytes it stepped over.
TEST(FrameWalk, StepsOverJunkTagsForeignFramesAndACutOffEnd) {
  TempDir dir;
  Bytes file;
  std::vector<int64_t> expected;
  std::vector<int64_t> skipped;
  auto add = [&](const Bytes& frame, int64_t gap) {
    expected.push_back(static_cast<int64_t>(file.size()));
    skipped.push_back(gap);
    Append(file, frame);
  };
  Append(file, MakeJunk(300));
  int64_t gap = 300;
  for (int i = 0; i < 40; ++i) {
    FrameShape s;
    s.bitrateIndex = 1 + (i * 7) % 14;
    s.padding = i % 3 == 0;
    add(MakeFrame(s, static_cast<uint32_t>(i)), gap);
    gap = 0;
    if (i == 10) {
      Append(file, MakeJunk(77, 3));
      gap = 77;
    }
    if (i == 20) {
      // A tag larger than the small buffer below, holding real-looking frames.
      Bytes body = MakeStream(FrameShape{}, 30);
      Bytes tag = MakeId3v2Tag(body, 20000);
      Append(file, tag);
      gap = static_cast<int64_t>(tag.size());
    }
    if (i == 30) {
      FrameShape other;
      other.sampleRateIndex = 1;  // 48 kHz among 44.1 kHz frames
      Bytes foreign = MakeStream(other, 3);
      Append(file, foreign);
      gap = static_cast<int64_t>(foreign.size());
    }
  }
  Bytes last = MakeFrame(FrameShape{}, 99);
  last.resize(last.size() / 2);
  Append(file, last);
  WriteBytes(dir.File("a.mp3"), file);

  for (size_t buffer : {size_t{8192}, size_t{256 * 1024}}) {
    SCOPED_TRACE(buffer);
    Walked w = Walk(dir.File("a.mp3"), 0, static_cast<int64_t>(file.size()), buffer);
    EXPECT_EQ(w.last, snip::FrameWalk::Step::End);
    ASSERT_EQ(w.frames.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
      EXPECT_EQ(w.frames[i].offset, expected[i]) << i;
      EXPECT_EQ(w.frames[i].skippedBefore, skipped[i]) << i;
      EXPECT_EQ(w.frames[i].samples, 1152);
    }
    EXPECT_EQ(w.endPosition, static_cast<int64_t>(file.size()));
  }
  // The walk stops at the end it is given: the two last frames left out.
  Walked part = Walk(dir.File("a.mp3"), 0, expected[38] + 10);
  EXPECT_EQ(part.frames.size(), 38u);
}

TEST(FrameWalk, ReportsAFailingRead) {
  TempDir dir;
  Bytes file = MakeStream(FrameShape{}, 200);
  WriteBytes(dir.File("a.mp3"), file);
  snip::SetFileFaultHook([](snip::FileOp op, const std::string&, int64_t position, size_t n) -> int64_t {
    return op == snip::FileOp::Read && position > 40000 ? -1 : static_cast<int64_t>(n);
  });
  Walked w = Walk(dir.File("a.mp3"), 0, static_cast<int64_t>(file.size()), 8192);
  snip::SetFileFaultHook(nullptr);
  EXPECT_EQ(w.last, snip::FrameWalk::Step::ReadError);
  EXPECT_LT(w.frames.size(), 200u);
}

// lame's VBR and ABR files, MPEG-1 and MPEG-2, stereo and mono: the walk finds
// the frames the plain reader finds (the summary frame first), each frame's
// main_data_begin points no further back than the main data the frames
// before it hold, and the stream starts with an empty reservoir.
TEST(FrameWalk, WalksEncoderFilesFrameForFrame) {
  std::string corpus = CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "no corpus";
  for (const char* name : {"vbr-v2", "vbr-v6", "abr-160", "vbr-mono", "vbr-mpeg2", "vbr-mpeg2-mono"}) {
    SCOPED_TRACE(name);
    std::string path = corpus + name + ".mp3";
    Bytes bytes = ReadBytes(path);
    FrameList list;
    ASSERT_TRUE(ListFrames(bytes, &list));
    ASSERT_GE(list.summaryAt, 0);
    Walked w = Walk(path, 0, list.audioEnd);
    ASSERT_EQ(w.frames.size(), list.offsets.size() + 1);
    EXPECT_EQ(w.frames[0].offset, list.summaryAt);
    bool changes = false;
    int64_t reservoir = 0;
    for (size_t i = 0; i < list.offsets.size(); ++i) {
      const snip::WalkFrame& f = w.frames[i + 1];
      ASSERT_EQ(f.offset, list.offsets[i]);
      EXPECT_EQ(f.size, list.sizes[i]);
      EXPECT_EQ(f.samples, list.samplesPerFrame);
      changes |= f.bitrateIndex != w.frames[1].bitrateIndex;
      EXPECT_LE(f.mainDataBegin, reservoir) << "frame " << i;
      // What a frame leaves for the next: its bytes after header and side
      // information (a generous bound: at most 511 bytes count).
      const uint8_t* h = bytes.data() + f.offset;
      bool mpeg1 = ((h[1] >> 3) & 3) == 3;
      bool mono = (h[3] >> 6) == 3;
      int side = mpeg1 ? (mono ? 17 : 32) : (mono ? 9 : 17);
      reservoir = std::min<int64_t>(reservoir + f.size - 4 - side, mpeg1 ? 511 : 255);
    }
    EXPECT_EQ(w.frames[1].mainDataBegin, 0);
    EXPECT_TRUE(changes) << "the file is not variable bitrate";
  }
}

}  // namespace
