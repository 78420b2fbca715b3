// bench/run's stand-in for the Waveform window: builds the levels of the
// file it is given as the window does (all processors) and prints how many
// pairs and how long the audio is.
#include <cstdio>

#include "split/levels.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: snipwise_levels FILE\n");
    return 2;
  }
  snip::LevelSearch search = snip::FindLevels(argv[1]);
  if (search.outcome != snip::DecodeOutcome::Found) {
    std::fprintf(stderr, "%s\n", search.message.c_str());
    return 1;
  }
  std::printf("%zu pairs, %d hundredths\n", search.picture.Pairs(), search.picture.DurationHundredths());
  return 0;
}
