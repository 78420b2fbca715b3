#include "cli/commands.h"

#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <string>

#include "app/file_io.h"
#include "cli/progress.h"
#include "split/silences.h"
#include "split/track_list.h"
#include "join/join_engine.h"
#include "mpeg/frame_header.h"
#include "mpeg/source_scan.h"
#include "split/cue_sheet.h"
#include "split/split_engine.h"
#include "split/time_text.h"
#include "split/track_naming.h"

namespace snip::cli {

namespace {

volatile std::sig_atomic_t g_haltRequested = 0;
// Set while a split or join runs, which honours a halt request between
// tracks or files.
volatile std::sig_atomic_t g_runActive = 0;

extern "C" void OnInterrupt(int) {
  if (g_runActive && !g_haltRequested) {
    g_haltRequested = 1;
    std::signal(SIGINT, OnInterrupt);  // some systems reset the handler
    return;
  }
  // Nothing can honour a request, or this is the second Ctrl+C: end now,
  // leaving no unfinished file behind.
  RemoveUnfinishedOutputs();
  std::_Exit(kExitHalted);
}

bool HaltRequested() { return g_haltRequested != 0; }

// Marks a run as one that honours halt requests for as long as it exists.
struct ActiveRun {
  ActiveRun() { g_runActive = 1; }
  ~ActiveRun() { g_runActive = 0; }
};

// A refusal's second line, naming the file it is about.
void NameFile(const std::string& path, const char* what) { std::fprintf(stderr, "\"%s\" %s\n", path.c_str(), what); }

const char kNotAFile[] = "is not a file (a folder, pipe or device).";
const char kCannotOpen[] = "cannot be opened.";

// Names a file that could not be opened for reading, and why.
void NameUnopened(const std::string& path) {
  PathKind kind = KindOf(path);
  NameFile(path, kind == PathKind::Folder || kind == PathKind::Special ? kNotAFile : kCannotOpen);
}

int Refuse(const std::string& message, int status = kExitRefused) {
  std::fprintf(stderr, "%s\n", message.c_str());
  return status;
}

// Windows accepts '/' in paths, but the track names take the source's base
// name after its last backslash: written with backslashes, a path gives the
// names it gives on the page.
std::string NativePath(std::string path) {
#ifdef _WIN32
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
#endif
  return path;
}

bool EndsWithMp3(const std::string& path) {
  if (path.size() < 4) return false;
  std::string tail = path.substr(path.size() - 4);
  for (char& c : tail) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return tail == ".mp3";
}


std::string TimeText(int64_t offset) {
  char text[32];
  FormatTimeText(static_cast<int32_t>(offset), text, sizeof text);
  return text;
}

// Nominal start of track index n, for the listing of written tracks.
int64_t TrackStart(const SplitJob& job, size_t n) {
  if (job.equalSegments) return static_cast<int64_t>(n) * job.marks[1].offset;
  return n < job.marks.size() ? job.marks[n].offset : 0;
}

// Number of tracks a run can make at most, for checks made before it starts.
int64_t MostTracks(const SplitJob& job, int64_t sourceSize) {
  if (!job.equalSegments) return static_cast<int64_t>(job.marks.size());
  if (job.variableBitrate || job.exact) {
    // The length is not measured before the split (exact cuts go by time
    // whatever the bitrate): bound it by the lowest bitrate there is (8 kbit/s).
    int64_t mostSegmentBytes = static_cast<int64_t>(job.marks[1].offset) * BytesPerHundredth(8);
    if (mostSegmentBytes <= 0) return 1;
    return (sourceSize - job.firstFrame) / mostSegmentBytes + 2;
  }
  int64_t segmentBytes = static_cast<int64_t>(job.marks[1].offset) * BytesPerHundredth(job.bitrate);
  if (segmentBytes <= 0) return 1;
  return (sourceSize - job.firstFrame) / segmentBytes + 2;
}

// The name of a track that would land on the CUE sheet the marks came from,
// or empty. Track names always end in ".mp3", so only such a sheet can be hit.
std::string TrackOverCueSheet(const SplitJob& job, const std::string& cueSheet, int64_t sourceSize) {
  if (cueSheet.empty() || !EndsWithMp3(cueSheet)) return {};
  int64_t tracks = MostTracks(job, sourceSize);
  for (int64_t n = 0; n < tracks; ++n) {
    std::string name;
    if (TrackFileName(job, static_cast<size_t>(n), &name) && SameFile(name, cueSheet)) return name;
  }
  return {};
}

std::string TakenMessage(const std::string& path) {
  return "\"" + path + "\" already exists.  Give --overwrite to replace it.";
}

std::string TrackLabel(const char* verb, int number) {
  char label[48];
  std::snprintf(label, sizeof label, "%s... [%03d]", verb, number);
  return label;
}

}  // namespace

void InstallHaltHandler() { std::signal(SIGINT, OnInterrupt); }

int ScanCommand(const std::string& path) {
  File file = File::OpenRead(path);
  if (!file.IsOpen()) {
    Refuse(ScanMessage(ScanOutcome::Unusable));
    NameUnopened(path);
    return kExitRefused;
  }
  ScanResult scan = SourceScan(file);
  if (scan.outcome != ScanOutcome::Accepted) return Refuse(ScanMessage(scan.outcome));
  uint8_t tag[128] = {};
  bool tagged = ReadId3v1Tag(file, tag) != 0 && tag[0] != 0;

  std::printf("%s\n", BitRateText(scan.variableBitrate, scan.bitrate).c_str());
  if (!scan.variableBitrate) std::printf("Bit rate index: %d\n", static_cast<int>(scan.bitrateIndex));
  std::printf("First frame: %lld\n", static_cast<long long>(scan.audioStart));
  if (scan.hasInfoFrame) {
    std::printf("%s frame: %lld\n", scan.variableBitrate ? scan.summaryName : "Info",
                static_cast<long long>(scan.firstHeader));
  }
  if (scan.id3v2Size > 0) std::printf("ID3v2 tag: %lld bytes\n", static_cast<long long>(scan.id3v2Size));
  std::printf("ID3v1 tag: %s\n", tagged ? "present" : "none");
  if (scan.variableBitrate) {
    // The stream's own measure, which the constant-bitrate report leaves
    // to the bit rate.
    std::printf("Frames: %lld\n", static_cast<long long>(scan.frames));
    std::printf("Duration: %s (%lld samples at %d Hz)\n", TimeText(scan.DurationHundredths()).c_str(),
                static_cast<long long>(scan.samples), scan.sampleRate);
    if (scan.encoderDelay >= 0) std::printf("Encoder delay: %d samples\n", scan.encoderDelay);
    if (scan.encoderPadding >= 0) std::printf("Encoder padding: %d samples\n", scan.encoderPadding);
  }
  return kExitOk;
}

namespace {

// The cuts at the silences of a source, with the progress on a terminal and
// Ctrl+C honoured between reads. False, with the message shown, when none
// could be looked for.
bool SilenceCuts(const std::string& source, double thresholdDb, double minSeconds, std::vector<int32_t>* cuts,
                 int* status) {
  SilenceOptions options;
  options.thresholdDb = thresholdDb;
  options.minSeconds = minSeconds;
  ProgressBar bar = ProgressBar::ForStandardError();
  bar.SetLabel("Finding silences...");
  g_runActive = 1;
  SilenceSearch search = FindSilences(
      source, options, [&](int64_t done, int64_t total) { bar.Update(done, total); },
      [] { return g_haltRequested != 0; });
  g_runActive = 0;
  bar.Clear();
  switch (search.outcome) {
    case SilenceOutcome::Found:
      *cuts = search.cuts;
      return true;
    case SilenceOutcome::Halted:
      *status = kExitHalted;
      return false;
    default:
      *status = Refuse(search.message.empty() ? ScanMessage(ScanOutcome::Unusable) : search.message);
      if (!File::OpenRead(source).IsOpen()) NameUnopened(source);
      return false;
  }
}

}  // namespace

int SilencesCommand(const SilencesOptions& options) {
  std::vector<int32_t> cuts;
  int status = kExitOk;
  if (!SilenceCuts(options.source, options.thresholdDb, options.minSeconds, &cuts, &status)) return status;
  for (int32_t cut : cuts) std::printf("%s\n", TimeText(cut).c_str());
  return kExitOk;
}

int SplitCommand(const SplitOptions& options) {
  if (options.source.empty() || options.nameTemplate.empty()) return Refuse(kSplitNeedInputsMessage);

  // The source as the page examines a chosen file.
  File source = File::OpenRead(options.source);
  if (!source.IsOpen()) {
    Refuse(ScanMessage(ScanOutcome::Unusable));
    NameUnopened(options.source);
    return kExitRefused;
  }
  // Exact cuts walk the frames of every source: for them the first frame is
  // enough. A split on bytes needs to know that the bitrate never changes,
  // which takes a walk over every frame. The opening frames are walked
  // first (a variable bitrate mostly shows at once), the rest beside the
  // split, whose tracks take their names only once that walk has found no
  // change (else the split begins again, on frames).
  ScanResult scan = SourceScan(source, options.exact ? ScanDepth::FirstFrame : ScanDepth::Opening);
  if (scan.outcome != ScanOutcome::Accepted) return Refuse(ScanMessage(scan.outcome));
  int64_t sourceSize = source.Size();
  source.Close();
  std::future<ScanResult> walked;
  if (!options.exact && !scan.variableBitrate) {
    walked = std::async(std::launch::async, [path = options.source] {
      File file = File::OpenRead(path);
      return file.IsOpen() ? SourceScan(file, ScanDepth::UntilVariable) : ScanResult{};
    });
  }

  // The track list, through the same rules as times typed on the page.
  TrackList list;
  std::string album, albumArtist;
  if (!options.cueSheet.empty()) {
    std::string text;
    if (!ReadCueSheetFile(options.cueSheet, &text)) {
      Refuse(kCueUnreadableMessage);
      if (!File::OpenRead(options.cueSheet).IsOpen()) NameUnopened(options.cueSheet);
      return kExitRefused;
    }
    CueSheet sheet;
    int errorLine = 0;
    std::string message;
    if (!ParseCueSheet(text, &sheet, &errorLine, &message)) return Refuse(message);
    for (const CueTrack& track : sheet.tracks) list.Add(TimeText(track.offset), track.performer, track.title);
    album = sheet.title;
    albumArtist = sheet.performer;
  }
  if (options.silence) {
    std::vector<int32_t> cuts;
    int status = kExitOk;
    if (!SilenceCuts(options.source, options.thresholdDb, options.minSeconds, &cuts, &status)) return status;
    for (int32_t cut : cuts) list.Add(TimeText(cut));
  }
  for (const std::string& time : options.times) {
    if (list.Add(time) == AddResult::NotATime) {
      return Refuse(
          "\"" + time + "\" is not a time.  Please give times as minutes:seconds.hundredths, such as 4:05.50, or as "
          "hours:minutes:seconds.hundredths, such as 1:04:05.50.",
          kExitUsage);
    }
  }

  SplitJob job;
  // Builds the job for the scan and checks it; 0 when it may run.
  auto prepare = [&](const ScanResult& scan) -> int {
    job = SplitJob();
    job.sourcePath = NativePath(options.source);
    job.folder = FolderWithSeparator(NativePath(options.folder));
    job.nameTemplate = options.nameTemplate;
    job.bitrate = scan.bitrate;
    job.bitrateIndex = scan.bitrateIndex;
    job.firstFrame = scan.audioStart;
    job.variableBitrate = scan.variableBitrate;
    job.marks = list.Marks();
    job.equalSegments = options.equalSegments;
    job.replaceExisting = options.overwrite;
    job.tagTracks = options.tags;
    job.exact = options.exact;
    job.album = album;
    job.albumArtist = albumArtist;

    SplitRefusal refusal = ValidateSplitJob(job);
    if (refusal != SplitRefusal::None) return Refuse(SplitRefusalMessage(refusal));
    std::string clash = TrackOverCueSheet(job, options.cueSheet, sourceSize);
    if (!clash.empty()) {
      return Refuse("The track \"" + clash + "\" would be written over the CUE sheet.  Please change the name.");
    }
    // No file the run did not make is replaced without --overwrite, and none
    // that is not a file at all.
    std::vector<std::string> planned;
    if (!PlannedTrackNames(job, &planned)) return Refuse(SplitOutcomeMessage(SplitOutcome::FileError));
    for (const std::string& name : ExistingTrackNames(planned)) {
      if (KindOf(name) != PathKind::Regular) {
        Refuse(SplitOutcomeMessage(SplitOutcome::FileError));
        NameFile(name, kNotAFile);
        return kExitRefused;
      }
      if (!options.overwrite) return Refuse(TakenMessage(name));
    }
    return 0;
  };
  if (int refused = prepare(scan)) return refused;

  ProgressBar bar = ProgressBar::ForStandardError();
  SplitHooks hooks;
  hooks.haltRequested = HaltRequested;
  hooks.trackStarted = [&bar](int number) { bar.SetLabel(TrackLabel("Creating", number)); };
  hooks.progress = [&bar](int64_t done, int64_t total) { bar.Update(done, total); };
  ScanResult verdict;
  bool vetoed = false;
  if (walked.valid()) {
    hooks.mayCommit = [&] {
      if (walked.valid()) verdict = walked.get();
      vetoed = verdict.outcome != ScanOutcome::Accepted || verdict.variableBitrate;
      return !vetoed;
    };
  }
  SplitSummary summary;
  SplitOutcome outcome;
  {
    ActiveRun active;
    outcome = RunSplit(job, hooks, &summary);
  }
  if (vetoed) {
    // No track was named: the source is refused, or split on its frames.
    bar.Clear();
    if (verdict.outcome != ScanOutcome::Accepted) return Refuse(ScanMessage(verdict.outcome));
    if (int refused = prepare(verdict)) return refused;
    hooks.mayCommit = nullptr;
    summary = SplitSummary();
    ActiveRun active;
    outcome = RunSplit(job, hooks, &summary);
  }
  bar.Clear();

  for (size_t n = 0; n < summary.files.size(); ++n) {
    std::printf("%s\t%s\n", TimeText(TrackStart(job, n)).c_str(), summary.files[n].c_str());
  }
  std::fflush(stdout);
  if (outcome == SplitOutcome::NameTaken) {
    std::fprintf(stderr, "%s\n", TakenMessage(summary.takenName).c_str());
    return kExitRefused;
  }
  std::fprintf(stderr, "%s\n", SplitOutcomeMessage(outcome));
  // The source ran out before these marks: they start no track.
  if (outcome == SplitOutcome::Completed && !job.equalSegments) {
    for (size_t n = summary.files.size(); n < job.marks.size(); ++n) {
      std::fprintf(stderr, "No track for the mark %s: it lies past the end of the source.\n",
                   TimeText(job.marks[n].offset).c_str());
    }
  }
  switch (outcome) {
    case SplitOutcome::Completed:
      return kExitOk;
    case SplitOutcome::Cancelled:
      return kExitHalted;
    default:
      return kExitRefused;
  }
}

int JoinCommand(const JoinOptions& options) {
  if (options.destination.empty() || options.inputs.size() < 2) return Refuse(kJoinNeedInputsMessage);

  ProgressBar bar = ProgressBar::ForStandardError();
  JoinHooks hooks;
  hooks.haltRequested = HaltRequested;
  hooks.lineStarted = [&bar](int number) { bar.SetLabel(TrackLabel("Joining", number)); };
  hooks.progress = [&bar](int64_t done, int64_t total) { bar.Update(done, total); };
  JoinReport report;
  JoinOutcome outcome;
  {
    ActiveRun active;
    outcome = RunJoin(options.destination, options.inputs, hooks, options.overwrite, &report, options.tags || options.exact,
                      options.exact);
  }
  bar.Clear();

  if (outcome == JoinOutcome::DestinationExists) {
    std::fprintf(stderr, "%s\n", TakenMessage(options.destination).c_str());
    return kExitRefused;
  }
  // A halt is silent, as on the page; every other outcome has its message,
  // and the file it is about.
  if (const char* message = JoinOutcomeMessage(outcome)) std::fprintf(stderr, "%s\n", message);
  switch (report.problem) {
    case JoinProblem::CannotOpen:
      NameUnopened(report.file);
      break;
    case JoinProblem::NotAFile:
      NameFile(report.file, kNotAFile);
      break;
    case JoinProblem::TooShort:
      NameFile(report.file, "is shorter than 128 bytes.");
      break;
    case JoinProblem::IsDestination:
      NameFile(report.file, "is the destination.");
      break;
    case JoinProblem::ReadFailed:
      NameFile(report.file, "could not be read.");
      break;
    case JoinProblem::WriteFailed:
      NameFile(report.file, "could not be written.");
      break;
    case JoinProblem::Exists:
    case JoinProblem::None:
      break;
  }
  switch (outcome) {
    case JoinOutcome::Completed:
      return kExitOk;
    case JoinOutcome::Halted:
      return kExitHalted;
    default:
      return kExitRefused;
  }
}

}  // namespace snip::cli
