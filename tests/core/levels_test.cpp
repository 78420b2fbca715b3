// The waveform's levels: the corpus recording with pauses in known places,
// decoded in stretches side by side (seams in the music and in the pauses),
// gives the very picture of a single pass, loud in the songs and near zero in
// the pauses, one pair per 10 ms.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "split/levels.h"
#include "support/mpeg_frames.h"

namespace {

using namespace snip::test;

TEST(Levels, StretchesSideBySideGiveThePictureOfOnePass) {
  std::string corpus = CorpusDir();
  if (corpus.empty() || !std::filesystem::exists(corpus + "pauses-cbr.mp3")) GTEST_SKIP() << "no corpus";
  for (const char* name : {"pauses-cbr.mp3", "pauses-vbr.mp3"}) {
    SCOPED_TRACE(name);
    snip::LevelSearch one = snip::FindLevels(corpus + name, {}, {}, 1);
    ASSERT_EQ(one.outcome, snip::DecodeOutcome::Found) << one.message;
    const snip::LevelPicture& picture = one.picture;
    EXPECT_EQ(picture.pairSamples, picture.sampleRate / 100);
    EXPECT_NEAR(static_cast<double>(picture.Pairs()), 2150, 5);  // 21.5 s
    // Digital silence, hiss at -70 dBFS, then the songs.
    for (int32_t quiet : {650, 1300}) EXPECT_LT(picture.peak[picture.PairAt(quiet)], 50) << quiet;
    for (int32_t loud : {300, 1550, 1800}) EXPECT_GT(picture.rms[picture.PairAt(loud)], 1000) << loud;
    for (int threads : {2, 5}) {
      snip::LevelSearch side = snip::FindLevels(corpus + name, {}, {}, threads);
      ASSERT_EQ(side.outcome, snip::DecodeOutcome::Found);
      EXPECT_EQ(side.picture.peak, picture.peak) << threads;
      EXPECT_EQ(side.picture.rms, picture.rms) << threads;
    }
  }
  snip::LevelSearch halted = snip::FindLevels(corpus + "pauses-cbr.mp3", {}, [] { return true; });
  EXPECT_EQ(halted.outcome, snip::DecodeOutcome::Halted);
}

}  // namespace
