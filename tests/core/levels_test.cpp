// The waveform's levels: the corpus recording with pauses in known places,
// decoded in stretches side by side (seams in the music and in the pauses),
// gives the picture of a single pass, loud in the songs and near zero in
// the pauses, one pair per 10 ms.
#include <gtest/gtest.h>

#include <cstdlib>
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
      // The same to the last bit with libmpg123; the ACM codec rounds a
      // little differently after a fresh start, far below what is drawn.
      ASSERT_EQ(side.picture.Pairs(), picture.Pairs());
      int apart = 0;
      for (size_t i = 0; i < picture.Pairs(); ++i) {
        apart += std::abs(side.picture.peak[i] - picture.peak[i]) > 8 || std::abs(side.picture.rms[i] - picture.rms[i]) > 8;
      }
      EXPECT_EQ(apart, 0) << threads << " threads";
    }
  }
  snip::LevelSearch halted = snip::FindLevels(corpus + "pauses-cbr.mp3", {}, [] { return true; });
  EXPECT_EQ(halted.outcome, snip::DecodeOutcome::Halted);
}

}  // namespace
