// Variable-bitrate sources end to end: lame's VBR and ABR files (MPEG-1 and
// MPEG-2) and a headerless stream whose bitrate changes (two constant-bitrate
// files joined) are scanned, split at marks and in equal segments, and judged
// by a frame list read without the program's code and by mpg123.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/file_io.h"
#include "join/join_engine.h"
#include "mpeg/lame_tag.h"
#include "mpeg/source_scan.h"
#include "split/split_engine.h"
#include "support/mpeg_frames.h"
#include "support/mpeg_tools.h"

namespace {

using Bytes = std::vector<uint8_t>;
using namespace snip::test;

snip::ScanResult ScanPath(const std::string& path) {
  snip::File file = snip::File::OpenRead(path);
  EXPECT_TRUE(file.IsOpen()) << path;
  return snip::SourceScan(file);
}

snip::SplitJob JobFor(const std::string& source, const snip::ScanResult& scan, const std::vector<int32_t>& marks,
                      const std::string& folder) {
  snip::SplitJob job;
  job.sourcePath = source;
  job.folder = folder;
  job.nameTemplate = "%track%";
  job.bitrate = scan.bitrate;
  job.bitrateIndex = scan.bitrateIndex;
  job.firstFrame = scan.audioStart;
  job.variableBitrate = scan.variableBitrate;
  for (int32_t m : marks) job.marks.push_back(snip::SplitMark{m, "", ""});
  return job;
}

// Checks every track against the source's frames: track k begins with a Xing
// frame of its own (frame and byte counts right), then exactly the source's
// frames from the first one starting at or after mark k, and ends with the
// source's ID3v1 tag when it has one; mpg123 decodes it without complaint to
// its span within one frame. The tracks' frames put together are the
// source's. cutTimes[k] is the start of track k in hundredths.
void ExpectExactTracks(const Bytes& src, const std::vector<std::string>& files, const std::vector<int64_t>& cutTimes,
                       const TempDir& work) {
  FrameList source;
  ASSERT_TRUE(ListFrames(src, &source));
  const int64_t rate = source.sampleRate;
  const int64_t spf = source.samplesPerFrame;
  const bool tagged = source.audioEnd < static_cast<int64_t>(src.size());
  // The first frame of each track, by sample time.
  std::vector<size_t> firsts;
  for (int64_t cut : cutTimes) {
    size_t i = 0;
    while (i < source.offsets.size() && static_cast<int64_t>(i) * spf * 100 < cut * rate) ++i;
    if (i < source.offsets.size()) firsts.push_back(i);
  }
  ASSERT_EQ(files.size(), firsts.size()) << "one track per mark inside the audio";
  Bytes rebuilt;
  for (size_t k = 0; k < files.size(); ++k) {
    SCOPED_TRACE(files[k]);
    Bytes track = ReadBytes(files[k]);
    size_t begin = firsts[k];
    size_t end = k + 1 < firsts.size() ? firsts[k + 1] : source.offsets.size();
    FrameList list;
    ASSERT_TRUE(ListFrames(track, &list));
    ASSERT_EQ(list.summaryAt, 0) << "the track begins with its Xing frame";
    ASSERT_EQ(list.offsets.size(), end - begin);
    snip::StreamSummary summary;
    ASSERT_TRUE(snip::ReadSummaryFrame(track.data(), track.size(), &summary));
    EXPECT_EQ(summary.kind, snip::SummaryKind::Xing);
    EXPECT_EQ(summary.frames, end - begin);
    EXPECT_EQ(summary.bytes, static_cast<uint32_t>(list.audioEnd));
    EXPECT_TRUE(summary.hasToc);
    int64_t firstByte = source.offsets[begin];
    int64_t lastByte = end < source.offsets.size() ? source.offsets[end] : source.audioEnd;
    Bytes frames(track.begin() + list.summarySize, track.begin() + list.audioEnd);
    EXPECT_TRUE(frames == Bytes(src.begin() + firstByte, src.begin() + lastByte)) << "the source's frames";
    EXPECT_EQ(list.audioEnd + (tagged ? 128 : 0), static_cast<int64_t>(track.size()));
    if (tagged) {
      EXPECT_TRUE(std::equal(track.end() - 128, track.end(), src.end() - 128));
    }
    rebuilt.insert(rebuilt.end(), frames.begin(), frames.end());

    if (HaveTool("mpg123")) {  // the player as judge
      Decoded d = Decode(files[k], work.Path());
      ASSERT_TRUE(d.ran);
      EXPECT_EQ(d.complaints, "");
      EXPECT_LE(std::llabs(d.samples - static_cast<int64_t>(end - begin) * spf), spf) << "decoded length";
      EXPECT_EQ(d.announcedFrames, static_cast<int64_t>(end - begin)) << "the player shows the track's length";
    }
  }
  EXPECT_TRUE(rebuilt == Bytes(src.begin() + source.offsets[0], src.begin() + source.audioEnd));
}

// lame -V2, -V6, --abr 160 and an MPEG-2 22.05 kHz VBR file, cut at marks
// (two of them a hundredth apart, one past the end) and in equal segments.
TEST(VbrSplit, EncoderFilesSplitOnFrameStartsByTime) {
  std::string corpus = CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "no corpus";
  for (const char* name : {"vbr-v2", "vbr-v6", "abr-160", "vbr-mpeg2"}) {
    SCOPED_TRACE(name);
    TempDir out;
    std::string path = corpus + name + ".mp3";
    Bytes src = ReadBytes(path);
    snip::ScanResult scan = ScanPath(path);
    ASSERT_EQ(scan.outcome, snip::ScanOutcome::Accepted);
    ASSERT_TRUE(scan.variableBitrate);

    std::vector<int32_t> marks = {0, 311, 700, 701, 1555, 99999};
    snip::SplitSummary summary;
    ASSERT_EQ(snip::RunSplit(JobFor(path, scan, marks, out.Path()), {}, &summary), snip::SplitOutcome::Completed);
    ExpectExactTracks(src, summary.files, {0, 311, 700, 701, 1555, 99999}, out);

    TempDir equal;
    snip::SplitJob job = JobFor(path, scan, {0, 600}, equal.Path());
    job.equalSegments = true;
    snip::SplitSummary segments;
    ASSERT_EQ(snip::RunSplit(job, {}, &segments), snip::SplitOutcome::Completed);
    ExpectExactTracks(src, segments.files, {0, 600, 1200, 1800, 2400}, equal);
  }
}

// Two constant-bitrate files joined (128 and 320 kbit/s, with tags) make a
// variable-bitrate stream without a Xing frame: it is scanned as VBR with
// its average bit rate and split into as many tracks as marks, on frames.
TEST(VbrSplit, JoinedFilesOfTwoBitratesAreVariableBitrate) {
  std::string corpus = CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "no corpus";
  TempDir out;
  std::string joined = out.File("joined.mp3");
  ASSERT_EQ(snip::RunJoin(joined, {corpus + "mpeg1-128.mp3", corpus + "id3v1.mp3"}, {}),
            snip::JoinOutcome::Completed);
  // 128 kbit/s then lame's VBR (MPEG-1 at 44.1 kHz both): the join leaves
  // out each input's Info/Xing frame.
  std::string mixed = out.File("mixed.mp3");
  ASSERT_EQ(snip::RunJoin(mixed, {corpus + "mpeg1-128.mp3", corpus + "vbr-v2.mp3"}, {}),
            snip::JoinOutcome::Completed);
  snip::ScanResult cbr = ScanPath(joined);
  ASSERT_EQ(cbr.outcome, snip::ScanOutcome::Accepted);
  EXPECT_FALSE(cbr.variableBitrate) << "two 128 kbit/s files stay constant bitrate";

  snip::ScanResult scan = ScanPath(mixed);
  ASSERT_EQ(scan.outcome, snip::ScanOutcome::Accepted);
  EXPECT_TRUE(scan.variableBitrate);
  EXPECT_FALSE(scan.hasInfoFrame);
  Bytes src = ReadBytes(mixed);
  FrameList list;
  ASSERT_TRUE(ListFrames(src, &list));
  EXPECT_EQ(scan.frames, static_cast<int64_t>(list.offsets.size()));
  int64_t bytes = list.audioEnd - list.offsets[0];
  EXPECT_EQ(scan.bitrate, (bytes * 8 * 44100 + scan.samples * 500) / (scan.samples * 1000));

  TempDir tracks;
  snip::SplitSummary summary;
  ASSERT_EQ(snip::RunSplit(JobFor(mixed, scan, {0, 1000, 1900, 2500, 3100}, tracks.Path()), {}, &summary),
            snip::SplitOutcome::Completed);
  ExpectExactTracks(src, summary.files, {0, 1000, 1900, 2500, 3100}, tracks);
}

}  // namespace
