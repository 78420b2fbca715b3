// The three commands of the command line tool. Each prints its results on
// standard output and its messages on standard error, and returns the exit
// status.
#pragma once

#include <string>
#include <vector>

namespace snip::cli {

enum ExitStatus : int {
  kExitOk = 0,
  kExitRefused = 1,  // a refusal or a failed run; the message says which
  kExitUsage = 2,    // the command line itself is wrong
  kExitHalted = 130  // stopped by an interrupt (Ctrl+C) between tracks or files
};

struct SplitOptions {
  std::string source;
  std::vector<std::string> times;  // --at, in the order given
  std::string cueSheet;            // --cue
  std::string folder;              // --folder; empty: the source's folder
  std::string nameTemplate = "%file% - %track%";
  bool equalSegments = false;
  bool overwrite = false;  // --overwrite: tracks may replace existing files
  bool tags = false;       // --tags: every track gets tags of its own
  bool exact = false;      // --exact: tracks cut on the very sample, gapless
  bool silence = false;    // --silence: cut in the middle of each silence found
  double thresholdDb = -48.0;
  double minSeconds = 1.0;
};

struct SilencesOptions {
  std::string source;
  double thresholdDb = -48.0;  // --threshold
  double minSeconds = 1.0;     // --min
};

struct JoinOptions {
  std::string destination;
  std::vector<std::string> inputs;
  bool overwrite = false;  // --overwrite: the destination may be replaced
  bool tags = false;       // --tags: only the first input's ID3v2 tag is kept
  bool exact = false;      // --exact: one gapless stream, shared frames of exact tracks once
};

int ScanCommand(const std::string& path);
// Prints the cut found in the middle of each silence, one mmm:ss.hh a line.
int SilencesCommand(const SilencesOptions& options);
int SplitCommand(const SplitOptions& options);
int JoinCommand(const JoinOptions& options);

// The first Ctrl+C asks a running split or join to stop before its next track
// or file; outside a run, or the second time, it ends the program at once,
// removing the file that was being written.
void InstallHaltHandler();

}  // namespace snip::cli
