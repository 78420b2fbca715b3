// How the split and the join hand their bytes to the system: every write
// but a few per file begins on a page boundary of the file it goes to, so
// that a long track or a joined file costs about what a plain copy costs.
// The bytes themselves are checked against the source too.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "app/file_io.h"
#include "join/join_engine.h"
#include "split/split_engine.h"
#include "support/mpeg_frames.h"

namespace {

using snip::FileOp;
using snip::test::Append;
using snip::test::FrameShape;
using snip::test::MakeId3v1Tag;
using snip::test::MakeStream;
using snip::test::ReadBytes;
using snip::test::TempDir;
using snip::test::WriteBytes;
using Bytes = std::vector<uint8_t>;

constexpr int64_t kPage = 4096;

// Records the position and size of every write, file by file.
class WriteLog {
 public:
  WriteLog() {
    snip::SetFileFaultHook([this](FileOp op, const std::string& path, int64_t position, size_t n) -> int64_t {
      if (op == FileOp::Write) {
        std::lock_guard<std::mutex> lock(mutex_);
        writes_[path].push_back({position, n});
      }
      return static_cast<int64_t>(n);
    });
  }
  ~WriteLog() { snip::SetFileFaultHook(nullptr); }

  // Writes to path that begin inside a page.
  int OffPage(const std::string& path) const {
    int count = 0;
    for (const Write& w : writes_.at(path)) count += w.position % kPage != 0;
    return count;
  }
  size_t Writes(const std::string& path) const { return writes_.at(path).size(); }
  // The writes must also follow one another with no gap or overlap.
  bool Contiguous(const std::string& path) const {
    int64_t next = 0;
    for (const Write& w : writes_.at(path)) {
      if (w.position != next) return false;
      next += static_cast<int64_t>(w.n);
    }
    return true;
  }

 private:
  struct Write {
    int64_t position;
    size_t n;
  };
  mutable std::mutex mutex_;
  std::map<std::string, std::vector<Write>> writes_;
};

// 128 kbit/s MPEG-1 frames, 417 bytes each without padding, so that cuts
// and frame starts fall at odd places in the source.
FrameShape Mpeg1At128() {
  FrameShape shape;
  shape.bitrateIndex = 9;
  return shape;
}

TEST(CopyBlocks, LongTracksAreWrittenOnPageBoundaries) {
  TempDir dir;
  std::vector<int64_t> frames;
  Bytes source = MakeStream(Mpeg1At128(), 13000, &frames);  // about 5.4 MB, 5.7 minutes
  const int64_t audioEnd = static_cast<int64_t>(source.size());
  Bytes tag = MakeId3v1Tag("Long source");
  Append(source, tag);
  WriteBytes(dir.File("long.mp3"), source);

  snip::SplitJob job;
  job.sourcePath = dir.File("long.mp3");
  job.nameTemplate = "%file% %track%";
  job.bitrate = 128;
  job.bitrateIndex = 9;
  job.firstFrame = 0;
  // Cuts every 1:08.67 or so: tracks of about 1.1 MB, each after the first
  // starting at a frame in the middle of a page.
  for (int32_t offset : {0, 6867, 13734, 20601, 27468}) job.marks.push_back({offset, "", ""});

  snip::SplitSummary summary;
  {
    WriteLog log;
    ASSERT_EQ(snip::RunSplit(job, snip::SplitHooks(), &summary), snip::SplitOutcome::Completed);
    ASSERT_EQ(summary.files.size(), 5u);
    for (const std::string& file : summary.files) {
      SCOPED_TRACE(file);
      EXPECT_TRUE(log.Contiguous(file));
      EXPECT_GT(log.Writes(file), 4u);
      // At most: the short write that brings the track onto a block after
      // what the track before left in the window, the stretch up to the
      // next frame, and the tag.
      EXPECT_LE(log.OffPage(file), 3);
    }
  }

  // Every track is a stretch of the source that starts on a frame, followed
  // by the tag; together they are the whole audio.
  Bytes audio;
  int64_t at = 0;
  for (const std::string& file : summary.files) {
    SCOPED_TRACE(file);
    Bytes track = ReadBytes(file);
    ASSERT_GT(track.size(), tag.size());
    EXPECT_TRUE(Bytes(track.end() - 128, track.end()) == tag);
    EXPECT_TRUE(std::binary_search(frames.begin(), frames.end(), at));
    track.resize(track.size() - 128);
    at += static_cast<int64_t>(track.size());
    Append(audio, track);
  }
  EXPECT_EQ(at, audioEnd);
  EXPECT_TRUE(audio == Bytes(source.begin(), source.begin() + audioEnd));
}

TEST(CopyBlocks, JoinedFileIsWrittenOnPageBoundaries) {
  TempDir dir;
  std::vector<std::string> inputs;
  Bytes expected;
  // Inputs of odd lengths, some tagged: after the first, each would begin
  // inside a page of the joined file.
  const int frameCounts[] = {2100, 1733, 2999, 1201, 2500};
  for (int i = 0; i < 5; ++i) {
    Bytes input = MakeStream(Mpeg1At128(), frameCounts[i]);
    Append(expected, input);
    if (i % 2 == 0) Append(input, MakeId3v1Tag("Input " + std::to_string(i)));
    inputs.push_back(dir.File("in" + std::to_string(i) + ".mp3"));
    WriteBytes(inputs.back(), input);
  }
  const std::string joined = dir.File("joined.mp3");
  {
    WriteLog log;
    ASSERT_EQ(snip::RunJoin(joined, inputs, snip::JoinHooks()), snip::JoinOutcome::Completed);
    EXPECT_TRUE(log.Contiguous(joined));
    EXPECT_GT(log.Writes(joined), 12u);
    // At most one per input: its first write, where the one before ended.
    EXPECT_LE(log.OffPage(joined), 4);
  }
  EXPECT_TRUE(ReadBytes(joined) == expected);
}

}  // namespace
