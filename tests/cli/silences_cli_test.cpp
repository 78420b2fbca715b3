// Silences found by decoding: a recording made here with sox and lame, with
// pauses of known places (digital silence after a fade, hiss at -70 dBFS, a
// pause shorter than the minimum, silence at both ends), constant and
// variable bitrate. Every pause at least the minimum long gets exactly one
// cut inside it, and none falls in the music or in the lead-in and run-out.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "cli/run_process.h"
#include "support/mpeg_frames.h"
#include "support/mpeg_tools.h"

// The recording is made with sox and lame, which the Linux side has.
#ifndef _WIN32
namespace snip::test {
namespace {

// Seconds of the recording made below.
struct Span {
  double from, to;
};
const Span kSilences[] = {{5.5, 7.5}, {11.5, 14.0}};

bool Sox(const std::string& args) { return std::system(("sox " + args + " 2>/dev/null").c_str()) == 0; }

// Lead-in 1.5 s; a tone with a 1 s fade-out; 2 s of digital silence; pink
// noise faded in and out; 2.5 s of hiss at -70 dBFS; a square wave, a pause
// of 0.5 s and a tone; 2 s of silence to the end.
std::string MakeRecording(const TempDir& dir) {
  const std::string r = " -r 44100 -c 2 ";
  std::vector<std::pair<std::string, std::string>> parts = {
      {"lead", "trim 0 1.5"},
      {"song1", "synth 4 sine 440 fade 0.1 4 1.0"},
      {"pause1", "trim 0 2"},
      {"song2", "synth 4 pinknoise vol 0.3 fade 0.5 4 0.8"},
      {"hiss", "synth 2.5 whitenoise vol 0.00055"},
      {"song3", "synth 2 square 220 vol 0.3"},
      {"short", "trim 0 0.5"},
      {"song4", "synth 3 sine 660 vol 0.5"},
      {"end", "trim 0 2"},
  };
  std::string list;
  for (const auto& [name, effect] : parts) {
    std::string wav = dir.File(name + ".wav");
    if (!Sox("-n" + r + Quoted(wav) + " " + effect)) return {};
    list += " " + Quoted(wav);
  }
  std::string whole = dir.File("recording.wav");
  return Sox(list + " " + Quoted(whole)) ? whole : std::string();
}

std::vector<double> Seconds(const std::string& out) {
  std::vector<double> cuts;
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    int minutes = 0, seconds = 0, hundredths = 0;
    EXPECT_EQ(std::sscanf(line.c_str(), "%d:%d.%d", &minutes, &seconds, &hundredths), 3) << line;
    cuts.push_back(minutes * 60 + seconds + hundredths / 100.0);
  }
  return cuts;
}

TEST(SilencesCli, EachLongPauseGetsOneCutInsideItAndTheSplitCutsThere) {
  if (!HaveTool("sox") || !HaveTool("lame")) GTEST_SKIP() << "sox and lame make the recording";
  TempDir dir;
  std::string wav = MakeRecording(dir);
  ASSERT_FALSE(wav.empty());
  for (const char* mode : {"-b 128", "-V 2"}) {
    SCOPED_TRACE(mode);
    std::string mp3 = dir.File("recording.mp3");
    ASSERT_EQ(std::system(("lame --quiet " + std::string(mode) + " " + Quoted(wav) + " " + Quoted(mp3)).c_str()), 0);

    ProcessResult found = RunCli({"silences", mp3});
    ASSERT_EQ(found.status, 0) << found.err;
    std::vector<double> cuts = Seconds(found.out);
    ASSERT_EQ(cuts.size(), std::size(kSilences)) << found.out;
    for (size_t i = 0; i < cuts.size(); ++i) {
      EXPECT_GT(cuts[i], kSilences[i].from) << i;
      EXPECT_LT(cuts[i], kSilences[i].to) << i;
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

  std::string junk = dir.File("junk.mp3");
  WriteBytes(junk, MakeJunk(20000));
  ProcessResult refused = RunCli({"silences", junk});
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("invalid, corrupted"), std::string::npos) << refused.err;
}

}  // namespace
}  // namespace snip::test
#endif
