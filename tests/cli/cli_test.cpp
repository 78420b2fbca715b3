// The command line tool run as a separate process: its tracks and joined
// files compared byte for byte with the engines' own output on the same
// inputs, and every refusal's exit status and message.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "app/file_io.h"
#include "cli/run_process.h"
#include "join/join_engine.h"
#include "mpeg/source_scan.h"
#include "split/cue_sheet.h"
#include "split/split_engine.h"
#include "support/messages.h"
#include "support/mpeg_frames.h"
#include "support/mpeg_tools.h"

namespace snip::test {
namespace {

using snip::test::kJoinCompleted;
using snip::test::kJoinFileError;
using snip::test::kJoinOverInput;
using snip::test::kSplitCancelled;
using snip::test::kSplitCompleted;
using snip::test::kSplitFileError;

using Bytes = std::vector<uint8_t>;

// The program's messages, as the window program shows them.
const std::string kNotLayer3 =
    "The MP3 you have selected to split cannot be used because it is not an MPEG Layer III file.";
const std::string kUnusable = "The file you chose was either invalid, corrupted, or could not be opened at this time.";
const std::string kNeedInputs = "Please choose a source file and a destination name before you continue.";
const std::string kInvalidName =
    "The destination name you gave contained invalid characters.  Please use another name.";
const std::string kEqualNeedsOffset =
    "If you are splitting all into equal segments, you must enter at least one offset. '0:00.00' is just a marker, "
    "not an offset.";
const std::string kNeedTrackField =
    "The destination name must contain %track% when more than one track is created.  Please change the name.";
const std::string kCueUnreadable = "The .CUE file you chose could not be read.  Please choose another file.";
const std::string kJoinNeedInputs =
    "Please select a destination file and fill in the track list with two or more items for joining.";

std::string Line(const std::string& message) { return message + "\n"; }

// The refusal of a file that is there already.
std::string TakenLine(const std::string& path) {
  std::string line = "\"";
  line.append(path);
  line.append("\" already exists.  Give --overwrite to replace it.\n");
  return line;
}

std::string BaseName(const std::string& path) {
  size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::vector<std::string> FilesIn(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// A constant-bitrate stream of the given length, after a little junk, with
// an ID3v1 tag when asked. frameOffsets receives the absolute frame offsets.
Bytes MakeSource(const FrameShape& shape, int frames, bool tagged, size_t junk = 0,
                 std::vector<int64_t>* frameOffsets = nullptr) {
  Bytes bytes = MakeJunk(junk);
  std::vector<int64_t> offsets;
  Append(bytes, MakeStream(shape, frames, &offsets));
  if (frameOffsets) {
    for (int64_t offset : offsets) frameOffsets->push_back(offset + static_cast<int64_t>(junk));
  }
  if (tagged) Append(bytes, MakeId3v1Tag("Night Set"));
  return bytes;
}

// A corpus file, named with the platform's separators as a user would.
std::string CorpusFile(const std::string& name) {
  std::string path = CorpusDir() + name;
#ifdef _WIN32
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
#endif
  return path;
}

// MPEG-1 Layer II frames at index 9 (160 kbit/s, 44.1 kHz: 522 bytes each),
// then Layer III frames: the first real frame decides, so Layer III is refused.
Bytes MakeLayer2First() {
  FrameShape layer2;
  layer2.layerBits = 2;
  Bytes bytes;
  for (int i = 0; i < 4; ++i) {
    auto header = MakeHeader(layer2);
    bytes.insert(bytes.end(), header.begin(), header.end());
    Append(bytes, MakeJunk(522 - 4, static_cast<uint32_t>(i + 7)));
  }
  Append(bytes, MakeStream(FrameShape{}, 20));
  return bytes;
}

std::string NotATime(const std::string& text) {
  return "\"" + text +
         "\" is not a time.  Please give times as minutes:seconds.hundredths, such as 4:05.50, or as "
         "hours:minutes:seconds.hundredths, such as 1:04:05.50.";
}

// 128 kbit/s MPEG-1 at 44.1 kHz: about 38 frames a second.
int FramesFor(double seconds) { return static_cast<int>(seconds * 44100.0 / 1152.0) + 1; }

// The tracks the engine makes from the same source and marks, in its own folder.
std::vector<std::string> EngineSplit(const std::string& source, const std::vector<SplitMark>& marks,
                                     const std::string& folder, const std::string& nameTemplate = "%file% - %track%",
                                     bool equalSegments = false, bool exact = false) {
  File file = File::OpenRead(source);
  ScanResult scan = SourceScan(file);
  EXPECT_EQ(scan.outcome, ScanOutcome::Accepted);
  file.Close();
  SplitJob job;
  job.sourcePath = source;
  job.folder = folder;
  job.nameTemplate = nameTemplate;
  job.bitrate = scan.bitrate;
  job.bitrateIndex = scan.bitrateIndex;
  job.firstFrame = scan.audioStart;
  job.variableBitrate = scan.variableBitrate;
  job.marks = marks;
  job.equalSegments = equalSegments;
  job.exact = exact;
  EXPECT_EQ(ValidateSplitJob(job), SplitRefusal::None);
  SplitSummary summary;
  EXPECT_EQ(RunSplit(job, SplitHooks{}, &summary), SplitOutcome::Completed);
  return summary.files;
}

std::vector<SplitMark> Marks(const std::vector<int32_t>& offsets) {
  std::vector<SplitMark> marks;
  for (int32_t offset : offsets) marks.push_back(SplitMark{offset, "", ""});
  return marks;
}

struct ListedTrack {
  std::string time;
  std::string path;
};

// The tool lists each written track as "time<TAB>path".
std::vector<ListedTrack> ListedTracks(const std::string& out) {
  std::vector<ListedTrack> tracks;
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    size_t tab = line.find('\t');
    if (tab == std::string::npos) {
      ADD_FAILURE() << "unexpected line: " << line;
      continue;
    }
    tracks.push_back({line.substr(0, tab), line.substr(tab + 1)});
  }
  return tracks;
}

// The tool's tracks have the engine's names and bytes, in the same order.
void ExpectSameTracks(const std::vector<ListedTrack>& listed, const std::vector<std::string>& engine) {
  ASSERT_EQ(listed.size(), engine.size());
  for (size_t i = 0; i < listed.size(); ++i) {
    EXPECT_EQ(BaseName(listed[i].path), BaseName(engine[i]));
    Bytes ours = ReadBytes(listed[i].path);
    EXPECT_FALSE(ours.empty()) << listed[i].path;
    EXPECT_TRUE(ours == ReadBytes(engine[i])) << "track " << i + 1 << " differs from the engine's";
  }
}

std::vector<std::string> Times(const std::vector<ListedTrack>& listed) {
  std::vector<std::string> times;
  for (const ListedTrack& track : listed) times.push_back(track.time);
  return times;
}

class CliTest : public ::testing::Test {
 protected:
  TempDir in_;
  TempDir out_;
  TempDir engine_;
};

// ---------------------------------------------------------------------------
// scan

TEST_F(CliTest, ScanReportsTheValuesOfAGeneratedSource) {
  std::string tagged = in_.File("tagged.mp3");
  WriteBytes(tagged, MakeSource(FrameShape{}, 40, true, 100));
  ProcessResult result = RunCli({"scan", tagged});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out, "Bit Rate: 128 kbps\nBit rate index: 9\nFirst frame: 100\nID3v1 tag: present\n");

  // MPEG-2.5 reads its bitrate from the other row of the table.
  FrameShape mpeg25;
  mpeg25.versionBits = 0;
  std::string plain = in_.File("plain.mp3");
  WriteBytes(plain, MakeSource(mpeg25, 40, false));
  result = RunCli({"scan", plain});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "Bit Rate: 80 kbps\nBit rate index: 9\nFirst frame: 0\nID3v1 tag: none\n");
}

TEST_F(CliTest, ScanAgreesWithTheEngineOnEncoderOutput) {
  std::string corpus = CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "no corpus";
  for (const char* name :
       {"mpeg1-128", "mpeg1-320", "mpeg2-64", "mpeg25-8", "mpeg1-128-notag", "id3v2-picture", "mpeg2-64-tagged"}) {
    SCOPED_TRACE(name);
    std::string path = CorpusFile(std::string(name) + ".mp3");
    if (!FileExists(path)) continue;
    File file = File::OpenRead(path);
    ScanResult scan = SourceScan(file);
    ASSERT_EQ(scan.outcome, ScanOutcome::Accepted);
    uint8_t tag[128] = {};
    bool tagged = ReadId3v1Tag(file, tag) && tag[0] != 0;
    std::string expected = "Bit Rate: " + std::to_string(scan.bitrate) +
                           " kbps\nBit rate index: " + std::to_string(scan.bitrateIndex) +
                           "\nFirst frame: " + std::to_string(scan.audioStart) + "\n";
    if (scan.hasInfoFrame) expected += "Info frame: " + std::to_string(scan.firstHeader) + "\n";
    if (scan.id3v2Size > 0) expected += "ID3v2 tag: " + std::to_string(scan.id3v2Size) + " bytes\n";
    expected += std::string("ID3v1 tag: ") + (tagged ? "present" : "none") + "\n";

    ProcessResult result = RunCli({"scan", path});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, expected);
  }
}

TEST_F(CliTest, ScanRefusalsCarryTheScanMessages) {
  WriteBytes(in_.File("layer2.mp3"), MakeLayer2First());
  WriteBytes(in_.File("junk.mp3"), MakeJunk(5000));
  WriteBytes(in_.File("empty.mp3"), {});

  struct Case {
    std::string file;
    std::string message;
    std::string named;  // the line that names a file that did not open
  };
  std::vector<Case> cases = {{"layer2.mp3", kNotLayer3, ""},
                             {"junk.mp3", kUnusable, ""},
                             {"empty.mp3", kUnusable, ""},
                             {"missing.mp3", kUnusable, "cannot be opened."},
                             {"", kUnusable, "is not a file (a folder, pipe or device)."}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    std::string path = c.file.find_first_of("/\\") == std::string::npos ? in_.File(c.file) : c.file;
    ProcessResult result = RunCli({"scan", path});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, Line(c.message) + (c.named.empty() ? "" : Line("\"" + path + "\" " + c.named)));
    EXPECT_EQ(result.out, "");
  }
}

// ---------------------------------------------------------------------------
// split

TEST_F(CliTest, SplitMakesTheEnginesTracksFromTheTimesAsThePageListsThem) {
  std::string source = in_.File("Night Set.live.mp3");
  WriteBytes(source, MakeSource(FrameShape{}, FramesFor(20), true, 333));

  // Unsorted, a duplicate in another spelling, and no 0: the list gets the
  // 000:00.00 marker first and keeps each time once, in time order.
  ProcessResult result = RunCli(
      {"split", source, "--at", "0:12.5", "--at", "0:04", "0:12.05", "--at", "000:04.00", "--folder", out_.Path()});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.err, Line(kSplitCompleted));
  std::vector<ListedTrack> listed = ListedTracks(result.out);
  EXPECT_EQ(Times(listed), (std::vector<std::string>{"000:00.00", "000:04.00", "000:12.05"}));
  EXPECT_EQ(FilesIn(out_.Path()),
            (std::vector<std::string>{"Night Set - 01.mp3", "Night Set - 02.mp3", "Night Set - 03.mp3"}));
  ExpectSameTracks(listed, EngineSplit(source, Marks({0, 400, 1205}), engine_.Path()));
}

TEST_F(CliTest, SplitTracksHoldEveryAudioByteOnceAndTheTagEach) {
  std::string source = in_.File("rec.mp3");
  Bytes bytes = MakeSource(FrameShape{}, FramesFor(12), true, 50);
  WriteBytes(source, bytes);
  ProcessResult result = RunCli({"split", source, "--at", "0:03", "--at", "0:07.77", "--folder", out_.Path()});
  ASSERT_EQ(result.status, 0) << result.err;
  std::vector<ListedTrack> listed = ListedTracks(result.out);
  ASSERT_EQ(listed.size(), 3u);

  Bytes tag(bytes.end() - 128, bytes.end());
  Bytes audio;
  for (const ListedTrack& track : listed) {
    Bytes data = ReadBytes(track.path);
    ASSERT_GT(data.size(), 128u);
    EXPECT_TRUE(Bytes(data.end() - 128, data.end()) == tag) << track.path;
    audio.insert(audio.end(), data.begin(), data.end() - 128);
  }
  EXPECT_TRUE(audio == Bytes(bytes.begin() + 50, bytes.end() - 128));
  // Tracks after the first start on a frame header.
  for (size_t i = 1; i < listed.size(); ++i) {
    Bytes data = ReadBytes(listed[i].path);
    EXPECT_EQ(data[0], 0xFF);
  }
}

TEST_F(CliTest, SplitIntoEqualSegmentsMatchesTheEngine) {
  std::string source = in_.File("long.mp3");
  WriteBytes(source, MakeSource(FrameShape{}, FramesFor(10), true));
  ProcessResult result = RunCli({"split", source, "--at", "0:03", "--equal", "--folder", out_.Path()});
  EXPECT_EQ(result.status, 0) << result.err;
  std::vector<ListedTrack> listed = ListedTracks(result.out);
  // The segments go on past the one listed time until the source ends.
  EXPECT_EQ(Times(listed), (std::vector<std::string>{"000:00.00", "000:03.00", "000:06.00", "000:09.00"}));
  ExpectSameTracks(listed, EngineSplit(source, Marks({0, 300}), engine_.Path(), "%file% - %track%", true));
}

TEST_F(CliTest, SplitTakesTimesArtistsAndTitlesFromACueSheet) {
  std::string source = in_.File("set.mp3");
  WriteBytes(source, MakeSource(FrameShape{}, FramesFor(15), true));
  // 37 frames of 1/75 s are 49 hundredths (cut, not rounded); the first track
  // does not start at 0, so the marker is made first.
  std::string sheet = in_.File("set.cue");
  std::string text =
      "\xEF\xBB\xBFREM GENRE Electronic\r\n"
      "PERFORMER \"Various\"\r\n"
      "TITLE \"Night Set\"\r\n"
      "FILE \"set.mp3\" MP3\r\n"
      "  TRACK 01 AUDIO\r\n"
      "    TITLE \"Intro\"\r\n"
      "    PERFORMER \"DJ One\"\r\n"
      "    INDEX 01 00:02:00\r\n"
      "  TRACK 02 AUDIO\r\n"
      "    TITLE \"Second Song\"\r\n"
      "    INDEX 00 00:05:00\r\n"
      "    INDEX 01 00:05:37\r\n"
      "  TRACK 03 AUDIO\r\n"
      "    TITLE \"Last\"\r\n"
      "    PERFORMER \"DJ Two\"\r\n"
      "    INDEX 01 00:11:74\r\n";
  WriteBytes(sheet, Bytes(text.begin(), text.end()));
  ProcessResult result =
      RunCli({"split", source, "--cue", sheet, "--name", "%track% %artist% - %title%", "--folder", out_.Path()});
  EXPECT_EQ(result.status, 0) << result.err;
  std::vector<ListedTrack> listed = ListedTracks(result.out);
  EXPECT_EQ(Times(listed), (std::vector<std::string>{"000:00.00", "000:02.00", "000:05.49", "000:11.98"}));
  EXPECT_EQ(FilesIn(out_.Path()), (std::vector<std::string>{"01  - .mp3", "02 DJ One - Intro.mp3",
                                                            "03 Various - Second Song.mp3", "04 DJ Two - Last.mp3"}));
  std::vector<SplitMark> marks = {
      {0, "", ""}, {200, "DJ One", "Intro"}, {549, "Various", "Second Song"}, {1198, "DJ Two", "Last"}};
  ExpectSameTracks(listed, EngineSplit(source, marks, engine_.Path(), "%track% %artist% - %title%"));
}

TEST_F(CliTest, CueSheetNamesStayInTheFolderAndNeverBreakTheSplit) {
  // The destination lies two folders down, beside a file the titles aim at;
  // the folder's own path holds a field and a step back, which stay as they are.
  TempDir root;
  std::filesystem::create_directories(root.File("a/%track%"));
  std::filesystem::create_directories(root.File("a/b"));
  WriteBytes(root.File("victim.mp3"), Bytes{'k', 'e', 'e', 'p'});
  std::string source = in_.File("set.mp3");
  WriteBytes(source, MakeSource(FrameShape{}, FramesFor(10), true));
  std::u16string text =
      u"PERFORMER \"AC/DC\"\r\n"
      u"TRACK 01 AUDIO\r\n  TITLE \"x\\..\\..\\..\\victim\"\r\n  INDEX 01 00:00:00\r\n"
      u"TRACK 02 AUDIO\r\n  TITLE \"../../victim\"\r\n  INDEX 01 00:01:00\r\n"
      u"TRACK 03 AUDIO\r\n  TITLE \"C:\\victim\"\r\n  INDEX 01 00:02:00\r\n"
      u"TRACK 04 AUDIO\r\n  TITLE \"Nul.Points\"\r\n  INDEX 01 00:03:00\r\n"
      u"TRACK 05 AUDIO\r\n  TITLE \"What's the Frequency, Kenneth?\"\r\n  INDEX 01 00:04:00\r\n"
      u"TRACK 06 AUDIO\r\n  TITLE \"Caf\u00E9...\"\r\n  PERFORMER \"<*|:>\"\r\n  INDEX 01 00:05:00\r\n";
  std::string sheet = in_.File("set.cue");
  std::string bytes = Utf16WithBom(text);
  WriteBytes(sheet, Bytes(bytes.begin(), bytes.end()));
  std::string folder = root.File("a/%track%/../b");
#ifdef _WIN32
  for (char& c : folder) {
    if (c == '/') c = '\\';
  }
#endif
  ProcessResult result =
      RunCli({"split", source, "--cue", sheet, "--name", "%title% %track% - %artist%", "--folder", folder});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.err, Line(kSplitCompleted));
  EXPECT_EQ(ListedTracks(result.out).size(), 6u);
  EXPECT_EQ(FilesUnder(root.Path()),
            (std::vector<std::string>{
                "a/b/.._.._victim 02 - AC_DC.mp3", "a/b/C__victim 03 - AC_DC.mp3", "a/b/Caf\xC3\xA9 06 - _____.mp3",
                "a/b/What's the Frequency, Kenneth_ 05 - AC_DC.mp3", "a/b/_Nul.Points 04 - AC_DC.mp3",
                "a/b/x_.._.._.._victim 01 - AC_DC.mp3", "victim.mp3"}));
  EXPECT_TRUE(ReadBytes(root.File("victim.mp3")) == (Bytes{'k', 'e', 'e', 'p'}));
}

TEST_F(CliTest, SplitOfEncoderOutputMatchesTheEngine) {
  std::string corpus = CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "no corpus";
  for (const char* name : {"mpeg1-128", "mpeg2-64", "mpeg25-8", "mpeg1-128-notag"}) {
    SCOPED_TRACE(name);
    TempDir out, engine;
    std::string source = CorpusFile(std::string(name) + ".mp3");
    ProcessResult result =
        RunCli({"split", source, "--at", "0:05", "--at", "0:12.34", "--at", "0:19.99", "--folder", out.Path()});
    EXPECT_EQ(result.status, 0) << result.err;
    ExpectSameTracks(ListedTracks(result.out), EngineSplit(source, Marks({0, 500, 1234, 1999}), engine.Path()));
  }
}

// A VBR source: the scan reports its average bit rate, frames, length and
// the encoder's delay and padding; times in hours (h:mm:ss.hh) and minutes
// past 999 are read, and the tracks are the engine's, marks and equal
// segments alike.
TEST_F(CliTest, VariableBitrateSourcesAreScannedAndSplit) {
  std::string corpus = CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "no corpus";
  std::string source = CorpusFile("vbr-v2.mp3");
  File file = File::OpenRead(source);
  ScanResult scan = SourceScan(file);
  file.Close();
  ASSERT_TRUE(scan.variableBitrate);
  ProcessResult result = RunCli({"scan", source});
  EXPECT_EQ(result.status, 0);
  char duration[32];
  std::snprintf(duration, sizeof duration, "000:%02d.%02d", static_cast<int>(scan.DurationHundredths() / 100),
                static_cast<int>(scan.DurationHundredths() % 100));
  EXPECT_EQ(result.out, "Bit Rate: VBR, about " + std::to_string(scan.bitrate) + " kbps\nFirst frame: " +
                            std::to_string(scan.audioStart) + "\nXing frame: 0\nID3v1 tag: none\nFrames: " +
                            std::to_string(scan.frames) + "\nDuration: " + duration + " (" +
                            std::to_string(scan.samples) + " samples at 44100 Hz)\nEncoder delay: 576 samples\n" +
                            "Encoder padding: " + std::to_string(scan.encoderPadding) + " samples\n");

  TempDir engine, equalOut, equalEngine;
  result = RunCli({"split", source, "--at", "0:00:05.5", "--at", "0:12.34", "--at", "1000:00", "--folder", out_.Path()});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(Times(ListedTracks(result.out)), (std::vector<std::string>{"000:00.00", "000:05.05", "000:12.34"}));
  ExpectSameTracks(ListedTracks(result.out), EngineSplit(source, Marks({0, 505, 1234, 6000000}), engine.Path()));
  result = RunCli({"split", source, "--at", "0:06", "--equal", "--folder", equalOut.Path()});
  EXPECT_EQ(result.status, 0) << result.err;
  ExpectSameTracks(ListedTracks(result.out),
                   EngineSplit(source, Marks({0, 600}), equalEngine.Path(), "%file% - %track%", true));
}

TEST_F(CliTest, SplitFolders) {
  std::string source = in_.File("a.b.mp3");
  WriteBytes(source, MakeSource(FrameShape{}, FramesFor(4), false));

  // A folder given without its closing separator gets one.
  std::string folder = out_.Path().substr(0, out_.Path().size() - 1);
  ProcessResult result = RunCli({"split", source, "--at", "0:02", "--folder", folder});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(FilesIn(out_.Path()), (std::vector<std::string>{"a - 01.mp3", "a - 02.mp3"}));

  // Without a folder the tracks go beside the source.
  result = RunCli({"split", source, "--at", "0:02", "--name", "%track%"});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_TRUE(FileExists(in_.File("01.mp3")));
  EXPECT_TRUE(FileExists(in_.File("02.mp3")));
  EXPECT_TRUE(ReadBytes(in_.File("02.mp3")) == ReadBytes(out_.File("a - 02.mp3")));

#ifdef _WIN32
  // Forward slashes in the paths name the same tracks as backslashes.
  TempDir slashed;
  std::string forward = source, folderForward = slashed.Path();
  for (std::string* path : {&forward, &folderForward}) {
    for (char& c : *path) {
      if (c == '\\') c = '/';
    }
  }
  result = RunCli({"split", forward, "--at", "0:02", "--folder", folderForward});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(FilesIn(slashed.Path()), (std::vector<std::string>{"a - 01.mp3", "a - 02.mp3"}));
#endif

  // Also when the source is named without any folder.
  TempDir work;
  WriteBytes(work.File("rec.mp3"), ReadBytes(source));
  result = RunCli({"split", "rec.mp3", "--at", "0:02"}, work.Path());
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(FilesIn(work.Path()), (std::vector<std::string>{"rec - 01.mp3", "rec - 02.mp3", "rec.mp3"}));
  EXPECT_TRUE(ReadBytes(work.File("rec - 01.mp3")) == ReadBytes(out_.File("a - 01.mp3")));
}

TEST_F(CliTest, SplitRefusalsLeaveNothingBehind) {
  std::string source = in_.File("src.mp3");
  WriteBytes(source, MakeSource(FrameShape{}, FramesFor(4), true));
  std::string layer2Source = in_.File("layer2.mp3");
  WriteBytes(layer2Source, MakeLayer2First());
  std::string badSheet = in_.File("bad.cue");
  std::string sheetText = "FILE \"src.mp3\" MP3\n  TRACK 01 AUDIO\n    INDEX 01 00:xx:00\n";
  WriteBytes(badSheet, Bytes(sheetText.begin(), sheetText.end()));
  std::string hugeSheet = in_.File("huge.cue");
  WriteBytes(hugeSheet, Bytes((1 << 20) + 1, ' '));
  CueSheet parsed;
  int badLine = 0;
  std::string sheetMessage;
  ASSERT_FALSE(ParseCueSheet(sheetText, &parsed, &badLine, &sheetMessage));
  EXPECT_EQ(badLine, 3);

  struct Case {
    std::vector<std::string> args;
    int status;
    std::string message;  // empty: only the status and silence on standard output count
  };
  const std::string& dir = out_.Path();
  std::vector<Case> cases = {
      {{"split", source, "--at", "1:00", "--name", "", "--folder", dir}, 1, kNeedInputs},
      {{"split", "", "--at", "1:00", "--folder", dir}, 1, kNeedInputs},
      {{"split", source, "--at", "0:01", "--name", "a/b %track%", "--folder", dir}, 1, kInvalidName},
      {{"split", source, "--at", "0:01", "--name", "a:b %track%", "--folder", dir}, 1, kInvalidName},
      {{"split", source, "--at", "0:00", "--equal", "--folder", dir}, 1, kEqualNeedsOffset},
      {{"split", source, "--at", "0:01", "--name", "%file%", "--folder", dir}, 1, kNeedTrackField},
      {{"split", source, "--at", "0:00", "--name", "%file%", "--equal", "--folder", dir}, 1, kEqualNeedsOffset},
      {{"split", layer2Source, "--at", "0:01", "--folder", dir}, 1, kNotLayer3},
      {{"split", in_.File("missing.mp3"), "--at", "0:01", "--folder", dir},
       1,
       kUnusable + "\n\"" + in_.File("missing.mp3") + "\" cannot be opened."},
      {{"split", source, "--cue", badSheet, "--folder", dir}, 1, sheetMessage},
      {{"split", source, "--cue", in_.File("missing.cue"), "--folder", dir},
       1,
       kCueUnreadable + "\n\"" + in_.File("missing.cue") + "\" cannot be opened."},
      {{"split", source, "--cue", hugeSheet, "--folder", dir}, 1, kCueUnreadable},
      {{"split", source, "--at", "1:60", "--folder", dir}, 2, NotATime("1:60")},
      // Times are read whole: a comma, trailing text, a third digit of
      // hundredths, four fields or a space are refused, not read in part.
      {{"split", source, "--at", "0:05,50", "--folder", dir}, 2, NotATime("0:05,50")},
      {{"split", source, "--at", "0:05junk", "--folder", dir}, 2, NotATime("0:05junk")},
      {{"split", source, "--at", "0:05.505", "--folder", dir}, 2, NotATime("0:05.505")},
      {{"split", source, "--at", "1:00:00:00", "--folder", dir}, 2, NotATime("1:00:00:00")},
      {{"split", source, "--at", "1:60:00", "--folder", dir}, 2, NotATime("1:60:00")},
      {{"split", source, "--at", " 0:05", "--folder", dir}, 2, NotATime(" 0:05")},
      {{"split", source, "--at", "600000:00", "--folder", dir}, 2, NotATime("600000:00")},
      {{"split", source, "--at", "-0:01", "--folder", dir}, 2, ""},
      {{"split", source, "--at", "0:01", "--at", "x", "--folder", dir}, 2, NotATime("x")},
      {{"split", source, "--folder", dir}, 2, ""},
      {{"split", source, "--at", "0:01", "--cue", badSheet, "--folder", dir}, 2, ""},
      {{"split", "--at", "0:01", "--folder", dir}, 2, ""},
      {{"split", source, "--at", "0:01", "--bogus"}, 2, ""},
  };
  for (const Case& c : cases) {
    std::string shown;
    for (const std::string& arg : c.args) shown += "[" + arg + "] ";
    SCOPED_TRACE(shown);
    ProcessResult result = RunCli(c.args);
    EXPECT_EQ(result.status, c.status);
    if (!c.message.empty()) {
      EXPECT_EQ(result.err, Line(c.message));
    }
    EXPECT_NE(result.err, "");
    EXPECT_EQ(result.out, "");
    EXPECT_TRUE(FilesIn(dir).empty());
  }
  EXPECT_EQ(FilesIn(in_.Path()), (std::vector<std::string>{"bad.cue", "huge.cue", "layer2.mp3", "src.mp3"}));
  EXPECT_NE(sheetMessage.find('3'), std::string::npos) << "the sheet's message names its line";
}

TEST_F(CliTest, SplitNeverWritesOverItsInputs) {
  std::string source = in_.File("src.mp3");
  Bytes bytes = MakeSource(FrameShape{}, FramesFor(3), true);
  WriteBytes(source, bytes);

  // The one track's name is the source's own: an existing file, and even
  // with --overwrite never replaced.
  ProcessResult result = RunCli({"split", source, "--at", "0:00", "--name", "src"});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, TakenLine(source));
  result = RunCli({"split", source, "--at", "0:00", "--name", "src", "--overwrite"});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, Line(kSplitFileError));
  EXPECT_TRUE(ReadBytes(source) == bytes);
  EXPECT_EQ(FilesIn(in_.Path()), std::vector<std::string>{"src.mp3"});

  // The CUE sheet the times come from would be the second track.
  std::string sheet = in_.File("x - 02.mp3");
  std::string text = "TRACK 01 AUDIO\nINDEX 01 00:00:00\nTRACK 02 AUDIO\nINDEX 01 00:01:00\n";
  WriteBytes(sheet, Bytes(text.begin(), text.end()));
  result = RunCli({"split", source, "--cue", sheet, "--name", "x - %track%"});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err,
            Line("The track \"" + sheet + "\" would be written over the CUE sheet.  Please change the name."));
  EXPECT_EQ(result.out, "");
  EXPECT_FALSE(FileExists(in_.File("x - 01.mp3")));
  EXPECT_TRUE(ReadBytes(sheet) == Bytes(text.begin(), text.end()));

  // The same sheet under another name is used as usual.
  std::string goodSheet = in_.File("x.cue");
  WriteBytes(goodSheet, Bytes(text.begin(), text.end()));
  result = RunCli({"split", source, "--cue", goodSheet, "--folder", out_.Path()});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(FilesIn(out_.Path()), (std::vector<std::string>{"src - 01.mp3", "src - 02.mp3"}));
}

TEST_F(CliTest, SplitIntoAMissingFolderIsAFileError) {
  std::string source = in_.File("src.mp3");
  WriteBytes(source, MakeSource(FrameShape{}, FramesFor(3), true));
  ProcessResult result = RunCli({"split", source, "--at", "0:01", "--folder", out_.File("no-such-folder")});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, Line(kSplitFileError));
  EXPECT_EQ(result.out, "");
}

TEST_F(CliTest, ExistingFilesAreReplacedOnlyWithOverwrite) {
  // Two recordings of one year: "%file%" stops at the first dot, so both
  // would make "2019 - 01.mp3" and "2019 - 02.mp3".
  std::string first = in_.File("2019.05.03 Live.mp3"), second = in_.File("2019.06.10 Live.mp3");
  WriteBytes(first, MakeSource(FrameShape{}, FramesFor(4), true));
  WriteBytes(second, MakeSource(FrameShape{}, FramesFor(6), false));
  ASSERT_EQ(RunCli({"split", first, "--at", "0:02", "--folder", out_.Path()}).status, 0);
  Bytes kept1 = ReadBytes(out_.File("2019 - 01.mp3")), kept2 = ReadBytes(out_.File("2019 - 02.mp3"));

  ProcessResult result = RunCli({"split", second, "--at", "0:02", "--folder", out_.Path()});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, TakenLine(out_.File("2019 - 01.mp3")));
  EXPECT_EQ(result.out, "");
  EXPECT_TRUE(ReadBytes(out_.File("2019 - 01.mp3")) == kept1);
  EXPECT_TRUE(ReadBytes(out_.File("2019 - 02.mp3")) == kept2);

  result = RunCli({"split", second, "--at", "0:02", "--folder", out_.Path(), "--overwrite"});
  EXPECT_EQ(result.status, 0) << result.err;
  ExpectSameTracks(ListedTracks(result.out), EngineSplit(second, Marks({0, 200}), engine_.Path()));
  EXPECT_EQ(FilesIn(out_.Path()), (std::vector<std::string>{"2019 - 01.mp3", "2019 - 02.mp3"}));

  // The join's destination in the same way; the inputs are checked first.
  std::string dest = out_.File("2019 - 01.mp3");
  Bytes before = ReadBytes(dest);
  result = RunCli({"join", dest, first, second});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, TakenLine(dest));
  EXPECT_TRUE(ReadBytes(dest) == before);
  result = RunCli({"join", "--overwrite", dest, first, second});
  EXPECT_EQ(result.status, 0) << result.err;
  ASSERT_EQ(RunJoin(engine_.File("j.mp3"), {first, second}, JoinHooks{}), JoinOutcome::Completed);
  EXPECT_TRUE(ReadBytes(dest) == ReadBytes(engine_.File("j.mp3")));
}

TEST_F(CliTest, MarksPastTheEndAreNamedAndTheRunStillSucceeds) {
  std::string source = in_.File("src.mp3");
  WriteBytes(source, MakeSource(FrameShape{}, FramesFor(5), true));
  ProcessResult result =
      RunCli({"split", source, "--at", "0:02", "--at", "0:09", "--at", "1:00", "--folder", out_.Path()});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, Line(kSplitCompleted) + Line("No track for the mark 000:09.00: it lies past the end of the source.") +
                            Line("No track for the mark 001:00.00: it lies past the end of the source."));
  EXPECT_EQ(FilesIn(out_.Path()), (std::vector<std::string>{"src - 01.mp3", "src - 02.mp3"}));
}

// ---------------------------------------------------------------------------
// join

TEST_F(CliTest, JoinMatchesTheEngineAndLeavesTrailingTagsOut) {
  Bytes a = MakeSource(FrameShape{}, 30, true, 10);
  Bytes b = MakeSource(FrameShape{}, 25, false);
  Bytes c = MakeStream(FrameShape{}, 10);
  Append(c, MakeId3v1Tag("middle"));  // a tag in the middle is audio to the join
  Append(c, MakeStream(FrameShape{}, 5));
  WriteBytes(in_.File("a.mp3"), a);
  WriteBytes(in_.File("b.mp3"), b);
  WriteBytes(in_.File("c.mp3"), c);
  std::vector<std::string> inputs = {in_.File("a.mp3"), in_.File("b.mp3"), in_.File("c.mp3"), in_.File("a.mp3")};

  std::vector<std::string> args = {"join", out_.File("all.mp3")};
  args.insert(args.end(), inputs.begin(), inputs.end());
  ProcessResult result = RunCli(args);
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.err, Line(kJoinCompleted));
  EXPECT_EQ(result.out, "");

  ASSERT_EQ(RunJoin(engine_.File("all.mp3"), inputs, JoinHooks{}), JoinOutcome::Completed);
  Bytes joined = ReadBytes(out_.File("all.mp3"));
  EXPECT_TRUE(joined == ReadBytes(engine_.File("all.mp3")));
  Bytes expected(a.begin(), a.end() - 128);
  Append(expected, b);
  Append(expected, c);
  expected.insert(expected.end(), a.begin(), a.end() - 128);
  EXPECT_TRUE(joined == expected);
}

TEST_F(CliTest, JoinOfEncoderOutputMatchesTheEngine) {
  std::string corpus = CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "no corpus";
  std::vector<std::string> inputs = {CorpusFile("mpeg1-128.mp3"), CorpusFile("mpeg1-128-notag.mp3"),
                                     CorpusFile("mpeg1-128.mp3")};
  ProcessResult result = RunCli({"join", out_.File("joined.mp3"), inputs[0], inputs[1], inputs[2]});
  EXPECT_EQ(result.status, 0) << result.err;
  ASSERT_EQ(RunJoin(engine_.File("joined.mp3"), inputs, JoinHooks{}), JoinOutcome::Completed);
  Bytes ours = ReadBytes(out_.File("joined.mp3"));
  EXPECT_GT(ours.size(), ReadBytes(inputs[1]).size());
  EXPECT_TRUE(ours == ReadBytes(engine_.File("joined.mp3")));
}

TEST_F(CliTest, JoinRefusalsAndFailures) {
  Bytes a = MakeSource(FrameShape{}, 20, true);
  Bytes b = MakeSource(FrameShape{}, 20, false);
  WriteBytes(in_.File("a.mp3"), a);
  WriteBytes(in_.File("b.mp3"), b);
  WriteBytes(in_.File("tiny.mp3"), MakeJunk(127));
  WriteBytes(in_.File("empty.mp3"), {});
  std::string dest = out_.File("out.mp3");
  const Bytes precious = MakeJunk(5000, 77);
  const char sep = in_.Path().back();

  // Every refusal and failure leaves an existing destination as it was.
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  auto named = [](const std::string& message, const std::string& file, const std::string& what) {
    return message + "\n\"" + file + "\" " + what;
  };
  std::vector<Case> cases = {
      {{"join"}, kJoinNeedInputs},
      {{"join", dest}, kJoinNeedInputs},
      {{"join", dest, in_.File("a.mp3")}, kJoinNeedInputs},
      {{"join", "", in_.File("a.mp3"), in_.File("b.mp3")}, kJoinNeedInputs},
      // The same file under another spelling of its path is still an input.
      {{"join", in_.File("b.mp3"), in_.File("a.mp3"), in_.Path() + "." + sep + "b.mp3"},
       named(kJoinOverInput, in_.Path() + "." + sep + "b.mp3", "is the destination.")},
      {{"join", in_.File("a.mp3"), in_.File("a.mp3"), in_.File("b.mp3")},
       named(kJoinOverInput, in_.File("a.mp3"), "is the destination.")},
      // A destination that does not exist yet is an input too.
      {{"join", "--overwrite", in_.File("new.mp3"), in_.File("a.mp3"), in_.Path() + "." + sep + "new.mp3"},
       named(kJoinOverInput, in_.Path() + "." + sep + "new.mp3", "is the destination.")},
      {{"join", "--overwrite", dest, in_.File("missing.mp3"), in_.File("a.mp3")},
       named(kJoinFileError, in_.File("missing.mp3"), "cannot be opened.")},
      {{"join", "--overwrite", dest, in_.File("a.mp3"), in_.File("missing.mp3")},
       named(kJoinFileError, in_.File("missing.mp3"), "cannot be opened.")},
      {{"join", "--overwrite", dest, in_.File("a.mp3"), in_.File("tiny.mp3")},
       named(kJoinFileError, in_.File("tiny.mp3"), "is shorter than 128 bytes.")},
      {{"join", "--overwrite", dest, in_.File("empty.mp3"), in_.File("a.mp3")},
       named(kJoinFileError, in_.File("empty.mp3"), "is shorter than 128 bytes.")},
      {{"join", "--overwrite", dest, in_.File("a.mp3"), in_.Path()},
       named(kJoinFileError, in_.Path(), "is not a file (a folder, pipe or device).")},
      {{"join", out_.File("no-such-folder") + sep + "out.mp3", in_.File("a.mp3"), in_.File("b.mp3")},
       named(kJoinFileError, out_.File("no-such-folder") + sep + "out.mp3", "could not be written.")},
  };
  for (const Case& c : cases) {
    std::string shown;
    for (const std::string& arg : c.args) shown += "[" + arg + "] ";
    SCOPED_TRACE(shown);
    WriteBytes(dest, precious);
    ProcessResult result = RunCli(c.args);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, Line(c.message));
    EXPECT_EQ(result.out, "");
    EXPECT_TRUE(ReadBytes(dest) == precious);
    EXPECT_EQ(FilesIn(out_.Path()), std::vector<std::string>{"out.mp3"});
    EXPECT_TRUE(ReadBytes(in_.File("a.mp3")) == a);
    EXPECT_TRUE(ReadBytes(in_.File("b.mp3")) == b);
    EXPECT_FALSE(FileExists(in_.File("new.mp3")));
  }
}

#ifndef _WIN32
// Runs the tool through the shell with its files limited to `limit` blocks
// of 512 bytes: a write past that fails as on a full disk.
ProcessResult RunCliOnAFullDisk(const std::vector<std::string>& args, int limit, const std::string& workDir) {
  std::string command = "trap '' XFSZ; ulimit -f " + std::to_string(limit) + "; exec '" + CliPath() + "'";
  for (const std::string& arg : args) command += " '" + arg + "'";
  command += " > out.txt 2> err.txt";
  std::string full = "cd '" + workDir + "' && sh -c \"" + command + "\"";
  int raw = std::system(full.c_str());
  ProcessResult result;
  result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  Bytes out = ReadBytes(workDir + "/out.txt"), err = ReadBytes(workDir + "/err.txt");
  result.out.assign(out.begin(), out.end());
  result.err.assign(err.begin(), err.end());
  std::filesystem::remove(workDir + "/out.txt");
  std::filesystem::remove(workDir + "/err.txt");
  return result;
}

TEST_F(CliTest, AFullDiskLeavesTheDestinationAsItWasAndOnlyCompleteTracks) {
  // 600 blocks: 300 KiB per file.
  Bytes a = MakeSource(FrameShape{}, 600, true);  // about 250 KB
  WriteBytes(in_.File("a.mp3"), a);
  std::string dest = out_.File("dest.mp3");
  const Bytes precious = MakeJunk(3000, 5);
  WriteBytes(dest, precious);
  ProcessResult result =
      RunCliOnAFullDisk({"join", "--overwrite", "dest.mp3", in_.File("a.mp3"), in_.File("a.mp3")}, 600, out_.Path());
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, Line(kJoinFileError) + Line("\"dest.mp3\" could not be written."));
  EXPECT_TRUE(ReadBytes(dest) == precious);
  EXPECT_EQ(FilesIn(out_.Path()), std::vector<std::string>{"dest.mp3"});

  // Track 1 (80 KB) fits, track 2 (about 545 KB) does not: track 1 is
  // listed and kept, nothing of track 2 is left.
  std::string source = in_.File("src.mp3");
  WriteBytes(source, MakeSource(FrameShape{}, 1500, true));
  std::vector<std::string> engine = EngineSplit(source, Marks({0, 500}), engine_.Path());
  std::filesystem::remove(dest);
  result = RunCliOnAFullDisk({"split", source, "--at", "0:05", "--folder", out_.Path()}, 600, out_.Path());
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, Line(kSplitFileError));
  std::vector<ListedTrack> listed = ListedTracks(result.out);
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_TRUE(ReadBytes(out_.File("src - 01.mp3")) == ReadBytes(engine[0]));
  EXPECT_EQ(FilesIn(out_.Path()), std::vector<std::string>{"src - 01.mp3"});

  // Exact tracks and the gapless join have their blocks written on a thread
  // of their own: the failure is reported all the same, and only complete
  // files are left.
  std::filesystem::remove(out_.File("src - 01.mp3"));
  result = RunCliOnAFullDisk({"split", source, "--exact", "--at", "0:05", "--folder", out_.Path()}, 600, out_.Path());
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, Line(kSplitFileError));
  EXPECT_EQ(ListedTracks(result.out).size(), 1u);
  EXPECT_EQ(FilesIn(out_.Path()), std::vector<std::string>{"src - 01.mp3"});
  std::filesystem::remove(out_.File("src - 01.mp3"));
  result = RunCliOnAFullDisk({"join", "--exact", "dest.mp3", source, source}, 600, out_.Path());
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, Line(kJoinFileError) + Line("\"dest.mp3\" could not be written."));
  EXPECT_TRUE(FilesIn(out_.Path()).empty());
}

TEST_F(CliTest, SpecialFilesAreRefusedAtOnce) {
  WriteBytes(in_.File("a.mp3"), MakeSource(FrameShape{}, 20, true));
  std::string pipe = in_.File("pipe.mp3");
  ASSERT_EQ(mkfifo(pipe.c_str(), 0644), 0);
  const std::string notAFile = "\"" + pipe + "\" is not a file (a folder, pipe or device).";
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const Case cases[] = {
      {{"scan", pipe}, kUnusable},
      {{"split", pipe, "--at", "0:01"}, kUnusable},
      {{"split", in_.File("a.mp3"), "--cue", pipe}, kCueUnreadable},
      {{"join", out_.File("j.mp3"), in_.File("a.mp3"), pipe}, kJoinFileError},
      {{"join", "--overwrite", pipe, in_.File("a.mp3"), in_.File("a.mp3")}, kJoinFileError},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args[1]);
    ProcessResult result = RunCli(c.args);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, Line(c.message) + Line(notAFile));
  }
  EXPECT_TRUE(FilesIn(out_.Path()).empty());
  EXPECT_EQ(FilesIn(in_.Path()), (std::vector<std::string>{"a.mp3", "pipe.mp3"}));
}

// Temporary files of unfinished outputs left in a folder.
std::vector<std::string> Leftovers(const std::string& folder) {
  std::vector<std::string> left;
  for (const std::string& name : FilesIn(folder)) {
    if (name.find(".tmp") != std::string::npos) left.push_back(name);
  }
  return left;
}

// Starts a split at 1:00 and 2:00 and sends it Ctrl+C once `finished`
// tracks are done and the next one is being written; with `twice` a second
// Ctrl+C follows a moment later. False when the run ended before it was
// caught (the caller tries again).
bool InterruptedSplit(const std::string& source, const std::string& folder, size_t finished, bool twice,
                      ProcessResult* result) {
  std::filesystem::remove_all(folder);
  std::filesystem::create_directory(folder);
  RunningCli cli({"split", source, "--at", "1:00", "--at", "2:00", "--folder", folder});
  for (int polls = 0; polls < 200000; ++polls) {
    std::vector<std::string> all = FilesIn(folder), left = Leftovers(folder);
    if (!left.empty() && all.size() - left.size() == finished) {
      cli.Signal(SIGINT);
      if (twice) {
        usleep(2000);
        cli.Signal(SIGINT);
      }
      *result = cli.Finish();
      return true;
    }
    if (cli.Finished(result)) return false;
    usleep(50);
  }
  ADD_FAILURE() << "the run did not end";
  return false;
}

// Tracks 1 and 2 of a minute each, track 3 of about 28 MB.
class CliInterrupt : public CliTest {
 protected:
  void SetUp() override {
    source_ = in_.File("src.mp3");
    WriteBytes(source_, MakeSource(FrameShape{}, FramesFor(1800), true));
    engine = EngineSplit(source_, Marks({0, 6000, 12000}), engine_.Path());
    ASSERT_EQ(engine.size(), 3u);
  }
  std::string source_;
  std::vector<std::string> engine;
};

TEST_F(CliInterrupt, FirstStopsASplitBeforeTheNextTrack) {
  ProcessResult result;
  int tries = 0;
  while (!InterruptedSplit(source_, out_.Path(), 0, false, &result)) ASSERT_LT(++tries, 5) << "never caught";
  EXPECT_EQ(result.status, 130);
  EXPECT_EQ(result.err, Line(kSplitCancelled));
  // The track under way is finished first; track 3 is never begun.
  std::vector<ListedTrack> listed = ListedTracks(result.out);
  ASSERT_GE(listed.size(), 1u);
  ASSERT_LT(listed.size(), 3u);
  for (size_t i = 0; i < listed.size(); ++i) EXPECT_TRUE(ReadBytes(listed[i].path) == ReadBytes(engine[i])) << i;
  EXPECT_EQ(FilesIn(out_.Path()).size(), listed.size());
}

TEST_F(CliInterrupt, SecondEndsTheProgramAndRemovesTheUnfinishedTrack) {
  ProcessResult result;
  int tries = 0;
  while (!InterruptedSplit(source_, out_.Path(), 2, true, &result)) ASSERT_LT(++tries, 5) << "never caught";
  EXPECT_EQ(result.status, 130);
  EXPECT_EQ(result.err.find(kSplitCompleted), std::string::npos);
  EXPECT_EQ(FilesIn(out_.Path()), (std::vector<std::string>{"src - 01.mp3", "src - 02.mp3"}));
  for (size_t i = 0; i < 2; ++i) EXPECT_TRUE(ReadBytes(out_.File(BaseName(engine[i]))) == ReadBytes(engine[i])) << i;
}

TEST_F(CliTest, InterruptStopsAJoinSilentlyAndLeavesTheDestination) {
  Bytes a = MakeSource(FrameShape{}, FramesFor(120), true);
  WriteBytes(in_.File("a.mp3"), a);
  std::string dest = out_.File("dest.mp3");
  const Bytes precious = MakeJunk(4000, 3);
  WriteBytes(dest, precious);
  std::vector<std::string> args = {"join", "--overwrite", dest};
  for (int i = 0; i < 40; ++i) args.push_back(in_.File("a.mp3"));
  RunningCli cli(args);
  ProcessResult result;
  bool sent = false;
  for (int waited = 0; waited < 3000000 && !sent && !cli.Finished(&result); waited += 100) {
    if (!Leftovers(out_.Path()).empty()) {
      cli.Signal(SIGINT);
      sent = true;
    }
    usleep(100);
  }
  ASSERT_TRUE(sent) << "the join ended before it was caught";
  result = cli.Finish();
  EXPECT_EQ(result.status, 130);
  EXPECT_EQ(result.err, "");
  EXPECT_TRUE(ReadBytes(dest) == precious);
  EXPECT_EQ(FilesIn(out_.Path()), std::vector<std::string>{"dest.mp3"});
}

TEST_F(CliTest, ProgressBarOnlyOnATerminal) {
  if (std::system("command -v script >/dev/null 2>&1") != 0) GTEST_SKIP() << "no script(1) to make a terminal";
  std::string source = in_.File("src.mp3");
  WriteBytes(source, MakeSource(FrameShape{}, FramesFor(6), true));
  std::string log = out_.File("terminal.log");
  std::string command = "script -qfec '" + CliPath() + " split " + source + " --at 0:03 --folder " + out_.Path() +
                        "' /dev/null > " + log + " 2>&1 < /dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0);
  Bytes shown = ReadBytes(log);
  std::string screen(shown.begin(), shown.end());
  EXPECT_NE(screen.find("\rCreating... [001] ["), std::string::npos) << screen;
  EXPECT_NE(screen.find("\rCreating... [002] ["), std::string::npos) << screen;
  EXPECT_NE(screen.find(kSplitCompleted), std::string::npos);

  // Standard error in a file: the message alone.
  ProcessResult result = RunCli({"split", source, "--at", "0:03", "--folder", out_.Path(), "--overwrite"});
  EXPECT_EQ(result.err, Line(kSplitCompleted));
}
#endif

// ---------------------------------------------------------------------------
// the command line itself

// File names in several scripts (Latin with accents, Greek, Cyrillic, Hebrew,
// Chinese and Japanese, a character beyond 16 bits) in every place the
// command line takes a path: the source, the sheet, the folder, the template,
// the join's destination and inputs.
TEST_F(CliTest, FileNamesInAnyScript) {
  auto path = Utf8Path;
  auto text = [](const std::filesystem::path& p) {
    std::u8string u8 = p.u8string();
    return std::string(u8.begin(), u8.end());
  };
  std::filesystem::path dir = path(in_.Path()) / path("\xC3\x9Cn\xC3\xAF c\xC3\xB8" "d\xC3\xA9 \xCE\x95\xCE\xBB\xCE\xBB\xCE\xAC\xCE\xB4\xCE\xB1");
  std::filesystem::path folder = path(out_.Path()) / path("\xD0\xB2\xD1\x8B\xD1\x85\xD0\xBE\xD0\xB4 \xE5\x87\xBA\xE5\x8A\x9B");
  std::filesystem::create_directories(dir);
  std::filesystem::create_directories(folder);
  std::string source = text(dir / path("\xE6\x97\xA5\xE6\x9C\xAC \xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D \xF0\x9F\x8E\xB5.mp3"));
  WriteBytes(source, MakeSource(FrameShape{}, FramesFor(8), true));
  std::string sheet = text(dir / path("\xD0\xBB\xD0\xB8\xD1\x81\xD1\x82.cue"));
  std::string cue =
      "TRACK 01 AUDIO\n  TITLE \"\xD0\x9F\xD1\x80\xD0\xB5\xD0\xBB\xD1\x8E\xD0\xB4\xD0\xB8\xD1\x8F\"\n  INDEX 01 00:00:00\n"
      "TRACK 02 AUDIO\n  TITLE \"\xE5\xA4\x9C\xE6\x9B\xB2\"\n  INDEX 01 00:04:00\n";
  WriteBytes(sheet, Bytes(cue.begin(), cue.end()));

  ProcessResult scan = RunCli({"scan", source});
  EXPECT_EQ(scan.status, 0) << scan.err;

  ProcessResult split = RunCli({"split", source, "--cue", sheet, "--folder", text(folder), "--name",
                                "%track% \xE2\x80\x93 %title% \xE2\x99\xAA"});
  EXPECT_EQ(split.status, 0) << split.err;
  const std::string first = "01 \xE2\x80\x93 \xD0\x9F\xD1\x80\xD0\xB5\xD0\xBB\xD1\x8E\xD0\xB4\xD0\xB8\xD1\x8F \xE2\x99\xAA.mp3";
  const std::string second = "02 \xE2\x80\x93 \xE5\xA4\x9C\xE6\x9B\xB2 \xE2\x99\xAA.mp3";
  EXPECT_EQ(FilesUnder(text(folder)), (std::vector<std::string>{first, second}));
  EXPECT_NE(split.out.find(second), std::string::npos) << "the listing names the tracks as they are: " << split.out;

  std::string joined = text(folder / path("\xE5\x85\xA8\xE9\x83\xA8 \xE2\x9C\x93.mp3"));
  ProcessResult join = RunCli({"join", joined, text(folder / path(first)), text(folder / path(second))});
  EXPECT_EQ(join.status, 0) << join.err;
  EXPECT_GT(ReadBytes(joined).size(), 0u);
}

// Exact cuts from the command line: every track is the source decode's
// samples from its mark to the next, and the tracks joined with --exact give
// the whole decode back (mpg123 judges).
TEST_F(CliTest, ExactSplitAndJoinGiveBackTheSourcesSamples) {
  if (!HaveTool("mpg123") || CorpusDir().empty()) GTEST_SKIP() << "needs mpg123 and the corpus";
  std::string source = CorpusFile("vbr-v2.mp3");
  std::vector<int16_t> whole = DecodePcm(source, "mpg123");
  ASSERT_FALSE(whole.empty());
  ProcessResult split = RunCli(
      {"split", source, "--exact", "--at", "0:03.21", "--at", "0:07", "--at", "0:12.50", "--folder", out_.Path()});
  ASSERT_EQ(split.status, 0) << split.err;
  std::vector<ListedTrack> tracks = ListedTracks(split.out);
  ASSERT_EQ(tracks.size(), 4u);
  const size_t starts[] = {0, 321 * 441, 700 * 441, 1250 * 441, whole.size() / 2};  // 44.1 kHz stereo
  std::vector<std::string> inputs;
  for (size_t k = 0; k < tracks.size(); ++k) {
    std::vector<int16_t> got = DecodePcm(tracks[k].path, "mpg123");
    std::vector<int16_t> want(whole.begin() + static_cast<std::ptrdiff_t>(starts[k] * 2),
                              whole.begin() + static_cast<std::ptrdiff_t>(starts[k + 1] * 2));
    EXPECT_TRUE(got == want) << "track " << k + 1 << ": " << got.size() << " values for " << want.size();
    inputs.push_back(tracks[k].path);
  }
  std::vector<std::string> args = {"join", "--exact", engine_.File("again.mp3")};
  args.insert(args.end(), inputs.begin(), inputs.end());
  ProcessResult join = RunCli(args);
  ASSERT_EQ(join.status, 0) << join.err;
  EXPECT_TRUE(DecodePcm(engine_.File("again.mp3"), "mpg123") == whole);
}

// Exact cuts go by time whatever the bitrate, so the command line scans no
// further than the first frame for them: a stream whose bitrate changes
// only late is still cut to the bytes the page cuts after its whole scan.
// The command line learns that the bitrate changes only after the split has
// begun (it walks the frames beside it): plain and exact cuts alike are the
// page's, and nothing of the split that was begun on bytes is left.
TEST_F(CliTest, CutsOfAStreamThatChangesBitrateLateAreThePages) {
  FrameShape high;
  high.bitrateIndex = 14;
  // The change comes after the frames the command line walks first.
  Bytes bytes = MakeStream(FrameShape{}, 800);
  Append(bytes, MakeStream(high, 300));
  Append(bytes, MakeId3v1Tag("Night Set"));
  std::string source = in_.File("late.mp3");
  WriteBytes(source, bytes);
  ProcessResult split =
      RunCli({"split", source, "--exact", "--at", "0:03.21", "--at", "0:10", "--folder", out_.Path()});
  ASSERT_EQ(split.status, 0) << split.err;
  ExpectSameTracks(ListedTracks(split.out),
                   EngineSplit(source, Marks({0, 321, 1000}), engine_.Path(), "%file% - %track%", false, true));

  TempDir plain, engine;
  split = RunCli({"split", source, "--at", "0:03.21", "--at", "0:10", "--folder", plain.Path()});
  ASSERT_EQ(split.status, 0) << split.err;
  auto tracks = ListedTracks(split.out);
  ExpectSameTracks(tracks, EngineSplit(source, Marks({0, 321, 1000}), engine.Path()));
  EXPECT_EQ(FilesIn(plain.Path()).size(), tracks.size());
}

TEST_F(CliTest, HelpAndWrongCommandLines) {
  ProcessResult help = RunCli({"--help"});
  EXPECT_EQ(help.status, 0);
  for (const char* word : {"scan", "split", "join"}) EXPECT_NE(help.out.find(word), std::string::npos) << word;

  ProcessResult splitHelp = RunCli({"split", "--help"});
  EXPECT_EQ(splitHelp.status, 0);
  for (const char* word : {"--at", "--cue", "--folder", "--name", "--equal", "%file% - %track%"}) {
    EXPECT_NE(splitHelp.out.find(word), std::string::npos) << word;
  }
  EXPECT_EQ(RunCli({"join", "--help"}).status, 0);

  // The help's example of how a time is read is what a split does.
  EXPECT_NE(help.out.find("4:05.5 is 4:05.05"), std::string::npos);
  std::string source = in_.File("five.mp3");
  WriteBytes(source, MakeSource(FrameShape{}, FramesFor(8), true));
  ProcessResult split = RunCli({"split", source, "--at", "0:05.5", "--folder", out_.Path()});
  EXPECT_EQ(Times(ListedTracks(split.out)), (std::vector<std::string>{"000:00.00", "000:05.05"}));

  for (std::vector<std::string> args : std::vector<std::vector<std::string>>{
           {}, {"cut", "a.mp3"}, {"scan"}, {"scan", "a.mp3", "b.mp3"}, {"--nothing"}}) {
    ProcessResult result = RunCli(args);
    EXPECT_EQ(result.status, 2);
    EXPECT_NE(result.err, "");
  }
}

}  // namespace
}  // namespace snip::test
