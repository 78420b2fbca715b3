// Cutting a source into tracks: a constant-bitrate one by bytes per
// hundredth, a variable-bitrate one on frame starts by sample time. Portable: the window layer
// reads the page's controls into a SplitJob and runs it on its worker thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace snip {

struct SplitMark {
  int32_t offset = 0;  // hundredths of a second from the first audio frame
  std::string artist;
  std::string title;
};

struct SplitJob {
  std::string sourcePath;
  std::string folder;        // output folder ending in a separator; empty: the source's folder
  std::string nameTemplate;  // the destination name template
  int32_t bitrate = 0;       // kbit/s, from the scan
  int32_t bitrateIndex = 0;  // from the scan
  int64_t firstFrame = 0;    // first audio frame, from the scan
  bool variableBitrate = false;  // from the scan: cut on frame starts by sample time
  std::vector<SplitMark> marks;  // the track list in order; marks[0] is the 000:00.00 marker
  bool equalSegments = false;
  // Whether a track may take the name of a file that is there already.
  bool replaceExisting = false;
  // Tag tracks: each track begins with an ID3v2 tag of its own and ends
  // with its own ID3v1 tag instead of the source's (see track_tags.h).
  bool tagTracks = false;
  std::string album;        // a CUE sheet's own TITLE, for tagged tracks
  std::string albumArtist;  // a CUE sheet's own PERFORMER
  // Exact cuts: each track decodes, gapless, to exactly the source's samples
  // from its mark to the next (see exact_cut.h), for any bitrate.
  bool exact = false;
};

enum class SplitRefusal { None, InvalidTemplate, EqualSegmentsNeedOffset, NeedTrackField };
// Checks a job before anything is opened or written, in the order: template
// characters, equal segments with fewer than 2 marks, %track% missing when
// more than one track would be made.
SplitRefusal ValidateSplitJob(const SplitJob& job);
const char* SplitRefusalMessage(SplitRefusal refusal);

// NameTaken: a track's name belongs to an existing file and the job does not
// replace files; the page reports it as a file error.
enum class SplitOutcome { Completed, Cancelled, FileError, NameTaken };
const char* SplitOutcomeMessage(SplitOutcome outcome);

struct SplitHooks {
  // Asked before each track; true ends the run as cancelled.
  std::function<bool()> haltRequested;
  // Told the number (from 1) of each track as it begins.
  std::function<void(int trackNumber)> trackStarted;
  // Bytes of the source consumed so far, of the total to cut.
  std::function<void(int64_t done, int64_t total)> progress;
  // When set, asked before each complete track takes its name; false ends
  // the run as cancelled, without that track.
  std::function<bool()> mayCommit;
};

struct SplitSummary {
  std::vector<std::string> files;  // tracks written, in order
  std::string takenName;           // with NameTaken: the existing file
};

// Runs a validated job: opens the source, cuts every track, appends the
// source's ID3v1 tag to each. Each track is written under a temporary name
// and takes its own only when it is complete: after a halt or an error the
// folder holds the finished tracks and nothing of the unfinished one.
SplitOutcome RunSplit(const SplitJob& job, const SplitHooks& hooks, SplitSummary* summary = nullptr);

// The names of the tracks a run of the job would write, in order, as far as
// they are known before the cut (a mark that lies past the end of the audio
// makes no track). False when the source cannot be read or a name not built.
bool PlannedTrackNames(const SplitJob& job, std::vector<std::string>* names);

// The planned names that already name a file or folder.
std::vector<std::string> ExistingTrackNames(const std::vector<std::string>& names);

// A folder as a job holds it: empty, or ending in a separator (one is added).
std::string FolderWithSeparator(std::string folder);

// The folder a job's tracks are made in: the job's own, or else the source's
// (its path up to the last separator).
std::string TrackFolder(const SplitJob& job);

// The name of track k (from 0) of the job: the template filled in with the
// mark's artist and title, in the track folder. False when it cannot be built
// or would not lie directly in that folder.
bool TrackFileName(const SplitJob& job, size_t k, std::string* name);

extern const char* const kSplitNeedInputsMessage;

}  // namespace snip
