// Exact tracks judged by real decoders: every track, decoded gapless by
// mpg123 (and by ffmpeg), holds exactly the source decode's samples from its
// mark to the next, for constant and variable bitrate, MPEG-1, 2 and 2.5,
// mono and stereo, with and without the encoder's LAME tag; and each track's
// summary frame, read here without the program's reader, states its own
// frames, bytes and a valid tag CRC.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "app/file_io.h"
#include "mpeg/source_scan.h"
#include "join/exact_join.h"
#include "split/exact_cut.h"
#include "split/split_engine.h"
#include "support/mpeg_frames.h"
#include "support/mpeg_tools.h"

namespace snip::test {
namespace {

uint16_t Crc16Reference(const uint8_t* p, size_t n) {
  uint16_t crc = 0;
  for (size_t i = 0; i < n; ++i) {
    crc ^= p[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : crc >> 1;
  }
  return crc;
}

uint32_t Be32(const uint8_t* p) { return (uint32_t{p[0]} << 24) | (p[1] << 16) | (p[2] << 8) | p[3]; }

struct TrackSummary {
  bool found = false;
  bool xing = false;
  uint32_t frames = 0, bytes = 0;
  int delay = -1, padding = -1;
  bool crcValid = false;
  std::string encoder;
};

// The summary frame at the start of a track, read straight from the bytes.
TrackSummary ReadTrackSummary(const std::vector<uint8_t>& b) {
  TrackSummary s;
  if (b.size() < 200 || b[0] != 0xFF) return s;
  bool mpeg1 = (b[1] & 0x18) == 0x18;
  bool mono = (b[3] & 0xC0) == 0xC0;
  size_t at = 4 + ((b[1] & 1) ? 0 : 2) + (mpeg1 ? (mono ? 17 : 32) : (mono ? 9 : 17));
  if (std::memcmp(&b[at], "Xing", 4) != 0 && std::memcmp(&b[at], "Info", 4) != 0) return s;
  s.found = true;
  s.xing = b[at] == 'X';
  if (Be32(&b[at + 4]) != 15) return s;  // frames, bytes, table and quality
  s.frames = Be32(&b[at + 8]);
  s.bytes = Be32(&b[at + 12]);
  size_t lame = at + 120;
  s.encoder.assign(reinterpret_cast<const char*>(&b[lame]), 9);
  s.delay = (b[lame + 21] << 4) | (b[lame + 22] >> 4);
  s.padding = ((b[lame + 22] & 0x0F) << 8) | b[lame + 23];
  uint16_t stored = static_cast<uint16_t>((b[lame + 34] << 8) | b[lame + 35]);
  s.crcValid = stored == Crc16Reference(b.data(), lame + 34);
  return s;
}

int64_t AudioStartOf(File& file) {
  int64_t header = 0;
  int length = 0;
  bool summary = false;
  if (!LocateFirstFrame(file, 0, &header, &length, &summary)) return -1;
  return summary ? header + length : header;
}

class ExactCut : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveTool("mpg123") || !HaveTool("ffmpeg")) GTEST_SKIP() << "needs mpg123 and ffmpeg";
    if (CorpusDir().empty()) GTEST_SKIP() << "no corpus";
  }

  // Cuts the corpus file at the marks (hundredths) and checks every track
  // against the source's decode by each judge.
  void CutAndJudge(const std::string& name, const std::vector<int64_t>& marks) {
    SCOPED_TRACE(name);
    std::string path = CorpusDir() + name + ".mp3";
    ASSERT_TRUE(FileExists(path));
    File source = File::OpenRead(path);
    int64_t start = AudioStartOf(source);
    ASSERT_GE(start, 0);
    uint8_t tag[128];
    int64_t end = source.Size() - (ReadId3v1Tag(source, tag) && tag[0] ? 128 : 0);
    ExactCutter cutter(source, start, end);
    ASSERT_TRUE(cutter.Open());

    std::vector<std::string> tracks;
    for (size_t k = 0; k < marks.size(); ++k) {
      int64_t from = MarkSample(marks[k], cutter.SampleRate());
      int64_t to = k + 1 < marks.size() ? MarkSample(marks[k + 1], cutter.SampleRate()) : -1;
      tracks.push_back(dir_.File(name + "-" + std::to_string(k) + ".mp3"));
      File track = File::Create(tracks.back());
      ASSERT_EQ(cutter.Seek(from), ExactCutter::Result::Written) << "track " << k;
      ExactCutter::Result result = cutter.WriteTrack(track, from, to);
      ASSERT_EQ(result, k + 1 < marks.size() ? ExactCutter::Result::Written : ExactCutter::Result::SourceEnded);
      ASSERT_TRUE(track.Close());

      std::vector<uint8_t> bytes = ReadBytes(tracks.back());
      TrackSummary summary = ReadTrackSummary(bytes);
      FrameList frames;
      ASSERT_TRUE(summary.found && ListFrames(bytes, &frames)) << "track " << k;
      EXPECT_TRUE(summary.crcValid) << "track " << k;
      EXPECT_EQ(summary.frames, frames.offsets.size()) << "track " << k;
      EXPECT_EQ(summary.bytes, bytes.size()) << "track " << k;
      EXPECT_TRUE(summary.encoder.rfind("LAME", 0) == 0 || summary.encoder.rfind("Lav", 0) == 0);
      Decoded decoded = Decode(tracks.back(), dir_.Path());
      EXPECT_EQ(decoded.complaints, "") << "track " << k;
    }

    // The tracks joined back in order: the source's decode again.
    std::string joined = dir_.File(name + "-joined.mp3");
    {
      File out = File::Create(joined);
      ASSERT_EQ(WriteExactJoin(tracks, out, {}), ExactJoinResult::Done);
      ASSERT_TRUE(out.Close());
    }
    TrackSummary joinedSummary = ReadTrackSummary(ReadBytes(joined));
    EXPECT_TRUE(joinedSummary.found && joinedSummary.crcValid);

    for (const char* judge : {"mpg123", "ffmpeg"}) {
      SCOPED_TRACE(judge);
      std::vector<int16_t> whole = DecodePcm(path, judge);
      ASSERT_FALSE(whole.empty());
      std::vector<int16_t> again = DecodePcm(joined, judge);
      EXPECT_EQ(again.size(), whole.size()) << "joined";
      size_t differing = 0;
      for (size_t i = 0; i < std::min(again.size(), whole.size()); ++i) differing += std::abs(again[i] - whole[i]) > 1;
      EXPECT_EQ(differing, 0u) << "joined";
      const int channels = ChannelsOf(path);
      for (size_t k = 0; k < tracks.size(); ++k) {
        size_t from = static_cast<size_t>(MarkSample(marks[k], cutter.SampleRate())) * channels;
        size_t to = k + 1 < marks.size() ? static_cast<size_t>(MarkSample(marks[k + 1], cutter.SampleRate())) * channels
                                         : whole.size();
        // ffmpeg (5.1) forgets the rest of a track's start trim when the
        // packet that still holds it also carries the end trim, that is when
        // the whole track lies inside one frame; mpg123 judges those alone.
        if (std::string(judge) == "ffmpeg" && to - from < static_cast<size_t>(SamplesPerFrame(path) * channels)) continue;
        std::vector<int16_t> got = DecodePcm(tracks[k], judge);
        ASSERT_EQ(got.size(), to - from) << "track " << k << " sample count";
        int worst = 0;
        size_t where = 0;
        for (size_t i = 0; i < got.size(); ++i) {
          int diff = std::abs(got[i] - whole[from + i]);
          if (diff > worst) worst = diff, where = i;
        }
        EXPECT_LE(worst, 1) << "track " << k << " differs by " << worst << " at sample " << where / channels;
      }
    }
  }

  static int SamplesPerFrame(const std::string& path) {
    FrameList frames;
    return ListFrames(ReadBytes(path), &frames) ? frames.samplesPerFrame : 0;
  }

  static int ChannelsOf(const std::string& path) {
    std::vector<uint8_t> b = ReadBytes(path);
    FrameList frames;
    if (!ListFrames(b, &frames)) return 0;
    return (b[static_cast<size_t>(frames.offsets[0]) + 3] & 0xC0) == 0xC0 ? 1 : 2;
  }

  TempDir dir_;
};

// Marks on frame edges and between them, and a track shorter than a frame
// (5.00 to 5.01 is 441 samples at 44.1 kHz).
const std::vector<int64_t> kMarks = {0, 37, 261, 500, 501, 1234, 1890};

TEST_F(ExactCut, ConstantBitrateWithAndWithoutTheEncodersTag) {
  CutAndJudge("mpeg1-128", kMarks);
  CutAndJudge("mpeg1-128-notag", kMarks);
  CutAndJudge("mpeg1-32-at-32k", kMarks);
}

TEST_F(ExactCut, VariableBitrateStereoAndMono) {
  CutAndJudge("vbr-v2", kMarks);
  CutAndJudge("vbr-mono", kMarks);
  CutAndJudge("abr-160", kMarks);
}

TEST_F(ExactCut, MpegTwoAndTwoPointFive) {
  CutAndJudge("mpeg2-64", kMarks);
  CutAndJudge("vbr-mpeg2-mono", kMarks);
  CutAndJudge("mpeg25-8", kMarks);
}

// Every read of the source that fails, wherever it falls in an exact run
// (the summary frame, the first frames, the cut itself), ends the run as a
// file error.
TEST_F(ExactCut, EveryFailedSourceReadIsAFileError) {
  std::string path = CorpusDir() + "mpeg1-128.mp3";
  ASSERT_TRUE(FileExists(path));
  SplitJob job;
  {
    File source = File::OpenRead(path);
    ScanResult scan = SourceScan(source);
    ASSERT_EQ(scan.outcome, ScanOutcome::Accepted);
    job.bitrate = scan.bitrate;
    job.bitrateIndex = scan.bitrateIndex;
    job.firstFrame = scan.audioStart;
  }
  job.sourcePath = path;
  job.folder = dir_.Path();
  job.nameTemplate = "%track%";
  job.marks = {{0, "", ""}, {261, "", ""}};
  job.exact = true;
  job.replaceExisting = true;
  int64_t failedAt = -1;
  auto run = [&](int failing, int* reads) {
    *reads = 0;
    SetFileFaultHook([&](FileOp op, const std::string& file, int64_t position, size_t n) -> int64_t {
      if (op == FileOp::Read && file == path && ++*reads == failing) {
        failedAt = position;
        return -1;
      }
      return static_cast<int64_t>(n);
    });
    SplitOutcome outcome = RunSplit(job, {}, nullptr);
    SetFileFaultHook(nullptr);
    return outcome;
  };
  // (Tagged tracks read the source's tags too, which count as absent when
  // they cannot be read; these tracks are plain.)
  int total = 0;
  ASSERT_EQ(run(0, &total), SplitOutcome::Completed);
  const int64_t id3v1At = static_cast<int64_t>(ReadBytes(path).size()) - 128;
  // The early reads one by one (tag, summary frame, first frames), then a
  // few spread over the rest.
  std::vector<int> failing;
  for (int k = 1; k <= std::min(total, 40); ++k) failing.push_back(k);
  for (int k = 1; k <= 4; ++k) failing.push_back(std::max(1, total * k / 4));
  for (int k : failing) {
    int reads = 0;
    SplitOutcome outcome = run(k, &reads);
    if (failedAt == id3v1At) continue;  // an unreadable ID3v1 tag counts as absent
    EXPECT_EQ(outcome, SplitOutcome::FileError) << "read " << k << " of " << total << ", at " << failedAt;
  }
}

}  // namespace
}  // namespace snip::test
