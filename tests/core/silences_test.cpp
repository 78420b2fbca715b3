// Silences found in stretches decoded side by side: the corpus recording with
// pauses, cut into more stretches than it has pauses, so that seams fall in
// the music and in the silences, gives the very cuts of a single pass, with
// the platform's decoder (libmpg123, or the ACM codec under Windows); and
// the encoder's summary frame before the audio changes nothing; a halt ends
// the search.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/file_io.h"
#include "mpeg/source_scan.h"
#include "split/silences.h"
#include "support/mpeg_frames.h"

namespace {

using namespace snip::test;

TEST(Silences, StretchesDecodedSideBySideGiveTheCutsOfOnePass) {
  std::string corpus = CorpusDir();
  if (corpus.empty() || !std::filesystem::exists(corpus + "pauses-cbr.mp3")) GTEST_SKIP() << "no corpus";
  for (const char* name : {"pauses-cbr.mp3", "pauses-vbr.mp3"}) {
    // The defaults, and a shorter minimum that takes the half-second pause too.
    for (double minSeconds : {1.0, 0.3}) {
      SCOPED_TRACE(std::string(name) + " min " + std::to_string(minSeconds));
      snip::SilenceOptions options;
      options.minSeconds = minSeconds;
      options.threads = 1;
      snip::SilenceSearch one = snip::FindSilences(corpus + name, options);
      ASSERT_EQ(one.outcome, snip::SilenceOutcome::Found) << one.message;
      EXPECT_EQ(one.cuts.size(), minSeconds < 0.5 ? 3u : 2u);
      for (int threads : {2, 3, 7, 16}) {
        options.threads = threads;
        snip::SilenceSearch side = snip::FindSilences(corpus + name, options);
        ASSERT_EQ(side.outcome, snip::SilenceOutcome::Found) << side.message;
        EXPECT_EQ(side.cuts, one.cuts) << threads << " threads";
      }
    }

    // The summary frame is not audio, and the encoder's delay is not trimmed:
    // the same audio frames without it give the same cuts.
    snip::File file = snip::File::OpenRead(corpus + name);
    snip::ScanResult scan = snip::SourceScan(file);
    ASSERT_TRUE(scan.hasInfoFrame);
    std::vector<uint8_t> bytes = ReadBytes(corpus + name);
    TempDir dir;
    WriteBytes(dir.File("bare.mp3"), std::vector<uint8_t>(bytes.begin() + scan.audioStart, bytes.end()));
    snip::SilenceOptions options;
    EXPECT_EQ(snip::FindSilences(dir.File("bare.mp3"), options).cuts, snip::FindSilences(corpus + name, options).cuts);

    // A halt, asked on this thread, stops every stretch.
    options.threads = 3;
    int asked = 0;
    snip::SilenceSearch halted = snip::FindSilences(corpus + name, options, {}, [&] { return ++asked > 1; });
    EXPECT_EQ(halted.outcome, snip::SilenceOutcome::Halted);
    EXPECT_TRUE(halted.cuts.empty());
  }
}

}  // namespace
