// Silences found by decoding (libmpg123 on Linux, the system's ACM codec
// under Windows): the corpus recording with pauses in known places (digital
// silence after a fade, hiss at -70 dBFS, a pause shorter than the minimum,
// silence at both ends), constant and variable bitrate. Every pause at least
// the minimum long gets exactly one cut inside it, and none falls in the
// music or in the lead-in and run-out; both back ends meet the same spans.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "cli/run_process.h"
#include "support/mpeg_frames.h"

namespace snip::test {
namespace {

// Seconds of the pauses of the corpus recording that are at least 1 s long.
struct Span {
  double from, to;
};
const Span kPauses[] = {{5.5, 7.5}, {11.5, 14.0}};

std::vector<double> Seconds(const std::string& out) {
  std::vector<double> cuts;
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    int minutes = 0, seconds = 0, hundredths = 0;
    EXPECT_EQ(std::sscanf(line.c_str(), "%d:%d.%d", &minutes, &seconds, &hundredths), 3) << line;
    cuts.push_back(minutes * 60 + seconds + hundredths / 100.0);
  }
  return cuts;
}

TEST(SilencesCli, EachLongPauseGetsOneCutInsideItAndTheSplitCutsThere) {
  std::string corpus = CorpusDir();
  if (corpus.empty() || !std::filesystem::exists(corpus + "pauses-cbr.mp3")) GTEST_SKIP() << "no corpus";
  for (const char* name : {"pauses-cbr.mp3", "pauses-vbr.mp3"}) {
    SCOPED_TRACE(name);
    std::string mp3 = corpus + name;
    ProcessResult found = RunCli({"silences", mp3});
    ASSERT_EQ(found.status, 0) << found.err;
    std::vector<double> cuts = Seconds(found.out);
    ASSERT_EQ(cuts.size(), std::size(kPauses)) << found.out;
    for (size_t i = 0; i < cuts.size(); ++i) {
      EXPECT_GT(cuts[i], kPauses[i].from) << i;
      EXPECT_LT(cuts[i], kPauses[i].to) << i;
    }

    // The hiss is silence only under a threshold above it; no pause, fades and
    // all, lasts 3.5 s.
    ProcessResult strict = RunCli({"silences", mp3, "--threshold", "-80"});
    EXPECT_EQ(Seconds(strict.out).size(), 1u) << strict.out;
    ProcessResult longer = RunCli({"silences", mp3, "--min", "3.5"});
    EXPECT_EQ(longer.status, 0);
    EXPECT_EQ(longer.out, "");

    // The split cuts at the same places, here with exact cuts.
    TempDir out;
    ProcessResult split = RunCli({"split", mp3, "--silence", "--exact", "--folder", out.Path(), "--name", "t %track%"});
    ASSERT_EQ(split.status, 0) << split.err;
    size_t tracks = 0;
    for (const auto& entry : std::filesystem::directory_iterator(out.Path())) tracks += entry.is_regular_file();
    EXPECT_EQ(tracks, cuts.size() + 1);
  }

  TempDir dir;
  std::string junk = dir.File("junk.mp3");
  WriteBytes(junk, MakeJunk(20000));
  ProcessResult refused = RunCli({"silences", junk});
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("invalid, corrupted"), std::string::npos) << refused.err;
}

TEST(SilencesCli, DamagedFramesInTheMusicLeaveTheCutsWhereTheyWere) {
  std::string corpus = CorpusDir();
  if (corpus.empty() || !std::filesystem::exists(corpus + "pauses-cbr.mp3")) GTEST_SKIP() << "no corpus";
  std::string clean = corpus + "pauses-cbr.mp3";
  // 128 kbit/s: 16000 bytes a second after the 417-byte summary frame. Junk
  // over a few frames, headers and all, in each piece of music after the
  // first pause.
  std::vector<uint8_t> bytes = ReadBytes(clean);
  for (double at : {9.0, 10.5, 15.0, 18.0}) {
    size_t offset = 417 + static_cast<size_t>(at * 16000);
    ASSERT_LT(offset + 1500, bytes.size());
    std::vector<uint8_t> junk = MakeJunk(1500, static_cast<uint32_t>(at * 10));
    std::copy(junk.begin(), junk.end(), bytes.begin() + static_cast<std::ptrdiff_t>(offset));
  }
  TempDir dir;
  std::string damaged = dir.File("damaged.mp3");
  WriteBytes(damaged, bytes);

  for (const char* minSeconds : {"1", "0.3"}) {
    SCOPED_TRACE(minSeconds);
    ProcessResult want = RunCli({"silences", clean, "--min", minSeconds});
    ProcessResult got = RunCli({"silences", damaged, "--min", minSeconds});
    ASSERT_EQ(got.status, 0) << got.err;
    std::vector<double> wanted = Seconds(want.out), found = Seconds(got.out);
    ASSERT_EQ(found.size(), wanted.size()) << got.out;
    // Within a frame (1152 samples, 0.026 s).
    for (size_t i = 0; i < found.size(); ++i) EXPECT_NEAR(found[i], wanted[i], 0.035) << i;
  }
}

}  // namespace
}  // namespace snip::test
