#include "split/split_engine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "app/file_io.h"
#include "mpeg/frame_header.h"
#include "mpeg/source_scan.h"
#include "support/mpeg_frames.h"

namespace {

using snip::FileOp;
using snip::SplitHooks;
using snip::SplitJob;
using snip::SplitMark;
using snip::SplitOutcome;
using snip::SplitRefusal;
using snip::test::Append;
using snip::test::FileExists;
using snip::test::FrameShape;
using snip::test::MakeFrame;
using snip::test::MakeId3v1Tag;
using snip::test::MakeId3v2Tag;
using snip::test::MakeJunk;
using snip::test::ReadBytes;
using snip::test::TempDir;
using snip::test::WriteBytes;

using Bytes = std::vector<uint8_t>;

// A synthetic source whose frame positions are known exactly.
struct Source {
  Bytes bytes;
  std::vector<int64_t> frames;  // absolute offset of every real frame
  int64_t firstFrame = 0;
  int64_t audioEnd = 0;
  Bytes tag;  // empty when the source has none
};

// Frames of 128 kbit/s at 44.1 kHz padded the way encoders pad them
// (417 or 418 bytes), so that frame boundaries do not fall on a grid.
class SourceBuilder {
 public:
  explicit SourceBuilder(FrameShape shape = FrameShape()) : shape_(shape) {}

  SourceBuilder& Prefix(const Bytes& bytes) {
    Append(src_.bytes, bytes);
    src_.firstFrame = static_cast<int64_t>(src_.bytes.size());
    return *this;
  }
  SourceBuilder& Frames(int count) {
    const int64_t slot = 144000LL * 128;
    for (int i = 0; i < count; ++i) {
      FrameShape shape = shape_;
      if (padded_) {
        remainder_ += slot % 44100;
        shape.padding = remainder_ >= 44100;
        if (shape.padding) remainder_ -= 44100;
      }
      src_.frames.push_back(static_cast<int64_t>(src_.bytes.size()));
      Bytes& cached = cache_[shape.padding ? 1 : 0][seed_ % 61];
      if (cached.empty()) cached = MakeFrame(shape, seed_);
      size_t at = src_.bytes.size();
      Append(src_.bytes, cached);
      // Every frame differs: its number in the first data bytes (no 0xFF).
      for (uint32_t n = seed_++, i = 0; i < 3; ++i, n /= 127) src_.bytes[at + 4 + i] = static_cast<uint8_t>(n % 127);
    }
    return *this;
  }
  SourceBuilder& Unpadded() {
    padded_ = false;
    return *this;
  }
  // Bytes between frames that hold no header.
  SourceBuilder& Gap(size_t n) {
    Append(src_.bytes, MakeJunk(n, seed_++));
    return *this;
  }
  Source WithTag() {
    src_.audioEnd = static_cast<int64_t>(src_.bytes.size());
    src_.tag = MakeId3v1Tag("Source title");
    Append(src_.bytes, src_.tag);
    return src_;
  }
  Source WithoutTag() {
    src_.audioEnd = static_cast<int64_t>(src_.bytes.size());
    return src_;
  }

 private:
  FrameShape shape_;
  Source src_;
  bool padded_ = true;
  Bytes cache_[2][61];
  int64_t remainder_ = 0;
  uint32_t seed_ = 1;
};

// The tracks a split must produce, worked out from the frame list alone:
// track k runs from the first frame at or after cut k (the first track from
// the first frame) to the first frame at or after cut k + 1, and holds at
// least one frame; the track in which the audio runs out is the last. Every
// track gets the tag appended.
std::vector<Bytes> ExpectedTracks(const Source& s, const std::vector<int64_t>& cuts) {
  std::vector<int64_t> starts = {s.firstFrame};
  for (int64_t cut : cuts) {
    if (cut >= s.audioEnd) break;
    auto next = std::lower_bound(s.frames.begin(), s.frames.end(), cut);
    if (next != s.frames.end() && *next <= starts.back()) {
      next = std::upper_bound(s.frames.begin(), s.frames.end(), starts.back());
    }
    if (next == s.frames.end()) break;
    starts.push_back(*next);
  }
  starts.push_back(s.audioEnd);
  std::vector<Bytes> tracks;
  for (size_t k = 0; k + 1 < starts.size(); ++k) {
    Bytes t(s.bytes.begin() + starts[k], s.bytes.begin() + starts[k + 1]);
    Append(t, s.tag);
    tracks.push_back(t);
  }
  return tracks;
}

std::vector<SplitMark> Marks(const std::vector<int32_t>& offsets) {
  std::vector<SplitMark> marks;
  for (int32_t o : offsets) marks.push_back(SplitMark{o, "", ""});
  return marks;
}

std::string TrackPath(const TempDir& dir, int number) {
  char name[32];
  std::snprintf(name, sizeof name, number <= 99 ? "src - %02d.mp3" : "src - %03d.mp3", number);
  return dir.File(name);
}

class SplitEngine : public ::testing::Test {
 protected:
  void TearDown() override { snip::SetFileFaultHook(nullptr); }

  SplitJob Job(const Source& s, const std::vector<int32_t>& offsets) {
    WriteBytes(dir.File("src.mp3"), s.bytes);
    SplitJob job;
    job.sourcePath = dir.File("src.mp3");
    job.nameTemplate = "%file% - %track%";
    job.bitrate = 128;
    job.bitrateIndex = 9;
    job.firstFrame = s.firstFrame;
    job.marks = Marks(offsets);
    return job;
  }

  static std::set<std::string> NamesIn(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
      names.insert(entry.path().filename().string());
    }
    return names;
  }

  // Runs the job and checks that exactly the expected tracks were written.
  void RunAndCompare(const SplitJob& job, const std::vector<Bytes>& expected) {
    snip::SplitSummary summary;
    std::vector<int> started;
    SplitHooks hooks;
    hooks.trackStarted = [&](int n) { started.push_back(n); };
    ASSERT_EQ(snip::RunSplit(job, hooks, &summary), SplitOutcome::Completed);
    ASSERT_EQ(summary.files.size(), expected.size());
    ASSERT_EQ(started.size(), expected.size());
    for (size_t k = 0; k < expected.size(); ++k) {
      SCOPED_TRACE("track " + std::to_string(k + 1));
      EXPECT_EQ(started[k], static_cast<int>(k + 1));
      EXPECT_EQ(summary.files[k], TrackPath(dir, static_cast<int>(k + 1)));
      Bytes got = ReadBytes(TrackPath(dir, static_cast<int>(k + 1)));
      ASSERT_EQ(got.size(), expected[k].size());
      EXPECT_TRUE(got == expected[k]);
    }
    EXPECT_FALSE(FileExists(TrackPath(dir, static_cast<int>(expected.size() + 1))));
  }

  TempDir dir;
};

TEST(SplitValidation, RefusalsInOrderWithTheirMessages) {
  SplitJob job;
  job.nameTemplate = "%file% - %track%";
  job.marks = Marks({0, 100});
  EXPECT_EQ(snip::ValidateSplitJob(job), SplitRefusal::None);

  for (const char* bad : {"a\\b", "a/b", "a:b", "a*b", "a?b", "a\"b", "a<b", "a>b", "a|b"}) {
    job.nameTemplate = std::string(bad) + " %track%";
    EXPECT_EQ(snip::ValidateSplitJob(job), SplitRefusal::InvalidTemplate) << bad;
  }
  // Invalid characters come first, then equal segments, then %track%.
  job.nameTemplate = "x:y";
  job.equalSegments = true;
  job.marks = Marks({0});
  EXPECT_EQ(snip::ValidateSplitJob(job), SplitRefusal::InvalidTemplate);
  job.nameTemplate = "plain";
  EXPECT_EQ(snip::ValidateSplitJob(job), SplitRefusal::EqualSegmentsNeedOffset);
  job.marks = Marks({0, 500});
  EXPECT_EQ(snip::ValidateSplitJob(job), SplitRefusal::NeedTrackField);

  // One track without %track% is fine; two are not; equal segments always
  // make several.
  job.equalSegments = false;
  job.marks = Marks({0});
  EXPECT_EQ(snip::ValidateSplitJob(job), SplitRefusal::None);
  job.marks.clear();
  EXPECT_EQ(snip::ValidateSplitJob(job), SplitRefusal::None);
  job.marks = Marks({0, 500});
  EXPECT_EQ(snip::ValidateSplitJob(job), SplitRefusal::NeedTrackField);
  job.nameTemplate = "%TRACK%";
  EXPECT_EQ(snip::ValidateSplitJob(job), SplitRefusal::NeedTrackField);
  job.nameTemplate = "%artist%%track%";
  EXPECT_EQ(snip::ValidateSplitJob(job), SplitRefusal::None);

  EXPECT_STREQ(snip::SplitRefusalMessage(SplitRefusal::InvalidTemplate),
               "The destination name you gave contained invalid characters.  Please use another name.");
  EXPECT_STREQ(snip::SplitRefusalMessage(SplitRefusal::EqualSegmentsNeedOffset),
               "If you are splitting all into equal segments, you must enter at least one offset. '0:00.00' is just a "
               "marker, not an offset.");
  EXPECT_STREQ(snip::SplitRefusalMessage(SplitRefusal::NeedTrackField),
               "The destination name must contain %track% when more than one track is created.  Please change the "
               "name.");
  EXPECT_STREQ(snip::SplitOutcomeMessage(SplitOutcome::Completed), "Track creation completed successfully.");
  EXPECT_STREQ(snip::SplitOutcomeMessage(SplitOutcome::Cancelled), "Track creation has been cancelled.");
  EXPECT_STREQ(snip::SplitOutcomeMessage(SplitOutcome::FileError),
               "There has been a file error while trying to create tracks.  Please try again.");
  EXPECT_STREQ(snip::kSplitNeedInputsMessage,
               "Please choose a source file and a destination name before you continue.");
}

// 000:00.00, 001:00.00 and 002:30.00 at 128 kbit/s: 160 bytes a hundredth.
TEST_F(SplitEngine, ThreeMarksAt128WithTrailingTag) {
  Source s = SourceBuilder().Frames(7200).WithTag();
  SplitJob job = Job(s, {0, 6000, 15000});
  std::vector<Bytes> expected = ExpectedTracks(s, {960000, 2400000});
  ASSERT_EQ(expected.size(), 3u);
  // The first cut is exactly where a hundredth-by-hundredth copy lands:
  // 6000 x 160 bytes, then on to the next header.
  EXPECT_GE(expected[0].size(), 960000u + 128u);
  EXPECT_LT(expected[0].size(), 960000u + 418u + 128u);
  EXPECT_TRUE(std::equal(expected[0].begin(), expected[0].begin() + 960000, s.bytes.begin()));
  RunAndCompare(job, expected);

  // The source's tag is not audio: the last track carries it once.
  Bytes last = ReadBytes(TrackPath(dir, 3));
  int64_t thirdStart = *std::lower_bound(s.frames.begin(), s.frames.end(), 2400000);
  EXPECT_EQ(static_cast<int64_t>(last.size()), s.audioEnd - thirdStart + 128);
  EXPECT_NE(std::memcmp(last.data() + last.size() - 256, "TAG", 3), 0);
  EXPECT_EQ(std::memcmp(last.data() + last.size() - 128, "TAG", 3), 0);
}

TEST_F(SplitEngine, ManyCutsStayOnTheirAbsolutePoints) {
  Source s = SourceBuilder().Frames(9000).WithTag();  // about 235 s
  std::vector<int32_t> offsets = {0};
  std::vector<int64_t> cuts;
  for (int i = 1; i < 40; ++i) {
    offsets.push_back(i * 587 + (i % 3) * 13);  // 5.87 s apart, uneven
    cuts.push_back(s.firstFrame + static_cast<int64_t>(offsets.back()) * 160);
  }
  SplitJob job = Job(s, offsets);
  std::vector<Bytes> expected = ExpectedTracks(s, cuts);
  ASSERT_EQ(expected.size(), 40u);
  RunAndCompare(job, expected);

  // Every track begins within one frame of its mark, however many came before.
  int64_t begin = 0;
  for (size_t k = 0; k + 1 < expected.size(); ++k) {
    begin += static_cast<int64_t>(ReadBytes(TrackPath(dir, static_cast<int>(k + 1))).size()) - 128;
    EXPECT_GE(begin, cuts[k]);
    EXPECT_LT(begin - cuts[k], 418);
  }
}

TEST_F(SplitEngine, EqualSegmentsContinuePastTheList) {
  Source s = SourceBuilder().Prefix(MakeId3v2Tag(MakeJunk(300))).Frames(1300).WithTag();  // about 34 s
  SplitJob job = Job(s, {0, 237, 1500});
  job.equalSegments = true;
  std::vector<int64_t> cuts;
  for (int k = 1; k <= 20; ++k) cuts.push_back(s.firstFrame + k * 237LL * 160);
  std::vector<Bytes> expected = ExpectedTracks(s, cuts);
  ASSERT_EQ(expected.size(), 15u);
  RunAndCompare(job, expected);
  // Bytes before the first frame (here an ID3v2 tag) land in no track.
  Bytes first = ReadBytes(TrackPath(dir, 1));
  EXPECT_EQ(first[0], 0xFF);
}

TEST_F(SplitEngine, MarkPastTheEndEndsTheRunWithSuccess) {
  Source s = SourceBuilder().Frames(1000).WithTag();  // about 26 s
  SplitJob job = Job(s, {0, 1000, 200000, 300000});
  RunAndCompare(job, ExpectedTracks(s, {160000, 32000000, 48000000}));
  EXPECT_FALSE(FileExists(TrackPath(dir, 3)));
}

TEST_F(SplitEngine, SourceWithoutTagGetsNothingAppended) {
  Source s = SourceBuilder().Frames(800).WithoutTag();
  SplitJob job = Job(s, {0, 500, 1200});
  std::vector<Bytes> expected = ExpectedTracks(s, {80000, 192000});
  RunAndCompare(job, expected);
  Bytes all;
  for (int k = 1; k <= 3; ++k) Append(all, ReadBytes(TrackPath(dir, k)));
  EXPECT_TRUE(all == s.bytes);
}

TEST_F(SplitEngine, EmptyMarkListMakesOneTrackOfAllTheAudio) {
  Source s = SourceBuilder().Prefix(MakeId3v2Tag(MakeJunk(50), 2000)).Frames(300).WithTag();
  SplitJob job = Job(s, {});
  job.nameTemplate = "%file% - %track%";
  std::vector<Bytes> expected = ExpectedTracks(s, {});
  ASSERT_EQ(expected.size(), 1u);
  EXPECT_EQ(expected[0].size(), static_cast<size_t>(s.audioEnd - s.firstFrame + 128));
  RunAndCompare(job, expected);
}

TEST_F(SplitEngine, CutsInsideOneFrameStillGiveEveryTrackAFrame) {
  Source s = SourceBuilder().Frames(50).WithTag();
  // 0.01 s and 0.02 s both fall inside the first frame (417 bytes): the
  // second track is the next frame, never an empty file.
  SplitJob job = Job(s, {0, 1, 2});
  std::vector<Bytes> expected = ExpectedTracks(s, {160, 320});
  ASSERT_EQ(expected.size(), 3u);
  EXPECT_EQ(expected[1].size(), static_cast<size_t>(s.frames[2] - s.frames[1]) + 128u);
  RunAndCompare(job, expected);
}

TEST_F(SplitEngine, FalseHeaderInTheAudioIsNotACut) {
  Source s = SourceBuilder().Frames(200).WithTag();
  // A header with the right bitrate index inside frame 10's data, just after
  // the cut; nothing follows it at its frame length.
  int64_t cut = 260 * 160;  // 2.60 s
  int64_t frame = *(std::lower_bound(s.frames.begin(), s.frames.end(), cut) - 1);
  ASSERT_LT(frame + 20, cut);
  int64_t fake = cut + 10;
  ASSERT_LT(fake + 4, *std::lower_bound(s.frames.begin(), s.frames.end(), cut));
  const uint8_t header[4] = {0xFF, 0xFB, 0x90, 0x00};
  std::memcpy(s.bytes.data() + fake, header, 4);
  SplitJob job = Job(s, {0, 260});
  std::vector<Bytes> expected = ExpectedTracks(s, {cut});
  ASSERT_EQ(expected.size(), 2u);
  RunAndCompare(job, expected);
  Bytes second = ReadBytes(TrackPath(dir, 2));
  EXPECT_EQ(second[0], 0xFF);
  EXPECT_EQ(second[4], s.bytes[static_cast<size_t>(*std::lower_bound(s.frames.begin(), s.frames.end(), cut) + 4)]);
}

TEST_F(SplitEngine, OtherBitrateHeaderIsNotACut) {
  // A confirmed frame of another bitrate right after the cut is passed over.
  Source s;
  {
    SourceBuilder b;
    Source a = b.Unpadded().Frames(30).WithoutTag();
    s = a;
    FrameShape other;
    other.bitrateIndex = 11;  // 192 kbit/s
    for (int i = 0; i < 3; ++i) Append(s.bytes, MakeFrame(other, 90 + i));
    size_t resume = s.bytes.size();
    Source tail = SourceBuilder().Unpadded().Frames(20).WithoutTag();
    for (int64_t f : tail.frames) s.frames.push_back(f + static_cast<int64_t>(resume));
    Append(s.bytes, tail.bytes);
    s.tag = MakeId3v1Tag();
    s.audioEnd = static_cast<int64_t>(s.bytes.size());
    Append(s.bytes, s.tag);
  }
  int64_t cut = 29 * 417 + 100;  // inside the last 128 kbit/s frame before the others
  SplitJob job = Job(s, {0, static_cast<int32_t>(cut / 160)});
  RunAndCompare(job, ExpectedTracks(s, {cut / 160 * 160}));
  Bytes second = ReadBytes(TrackPath(dir, 2));
  EXPECT_EQ(second[2] >> 4, 9);
}

// The copy reads the source in large windows; a header lying across a
// window's edge must still be found, and a long stretch without any header
// must be copied whole. Windows of 64 KiB to 1 MiB are covered.
TEST_F(SplitEngine, HeaderAcrossAWindowEdgeDuringTheResync) {
  for (int64_t window : {65536, 131072, 262144, 524288, 1048576}) {
    for (int64_t straddle = 1; straddle <= 3; ++straddle) {
      SCOPED_TRACE("window " + std::to_string(window) + " straddle " + std::to_string(straddle));
      TempDir local;
      // Unpadded 417-byte frames, with a gap after the first that puts
      // frame m exactly at window - straddle.
      int64_t m = (window - straddle) / 417 - 1;
      int64_t gap = window - straddle - 417 * m;
      SourceBuilder b;
      b.Prefix(MakeId3v2Tag(MakeJunk(90))).Unpadded().Frames(1);
      Source s = b.Gap(static_cast<size_t>(gap)).Frames(static_cast<int>(m + 20)).WithTag();
      int64_t target = s.firstFrame + window - straddle;
      ASSERT_TRUE(std::binary_search(s.frames.begin(), s.frames.end(), target));
      // A cut 100 bytes before that header, on a hundredth.
      int32_t offset = static_cast<int32_t>((window - straddle - 100) / 160);
      int64_t cut = s.firstFrame + offset * 160LL;
      ASSERT_LT(*(std::lower_bound(s.frames.begin(), s.frames.end(), target) - 1), cut);

      WriteBytes(local.File("src.mp3"), s.bytes);
      SplitJob job = Job(s, {0, offset});
      job.sourcePath = local.File("src.mp3");
      std::vector<Bytes> expected = ExpectedTracks(s, {cut});
      ASSERT_EQ(expected.size(), 2u);
      ASSERT_EQ(snip::RunSplit(job, SplitHooks()), SplitOutcome::Completed);
      EXPECT_TRUE(ReadBytes(local.File("src - 01.mp3")) == expected[0]);
      EXPECT_TRUE(ReadBytes(local.File("src - 02.mp3")) == expected[1]);
    }
  }
}

TEST_F(SplitEngine, LongStretchWithoutHeadersGoesIntoTheTrack) {
  // The cut falls in the last frame before 1.5 MB without any header.
  Source s = SourceBuilder().Unpadded().Frames(20).Gap(1500000).Frames(30).WithTag();
  ASSERT_LT(s.frames[19], 50 * 160);
  SplitJob job = Job(s, {0, 50});
  RunAndCompare(job, ExpectedTracks(s, {50 * 160}));
  EXPECT_GT(ReadBytes(TrackPath(dir, 1)).size(), 1500000u);
}

TEST_F(SplitEngine, UnknownBitrateKeepsAllTheAudioInOneTrack) {
  Source s = SourceBuilder().Frames(100).WithTag();
  SplitJob job = Job(s, {0, 100, 200});
  job.bitrate = 0;
  job.bitrateIndex = 0;
  RunAndCompare(job, ExpectedTracks(s, {}));

  // Equal segments with no usable length end the same way, not in an
  // endless run of empty tracks.
  TempDir other;
  WriteBytes(other.File("src.mp3"), s.bytes);
  job.sourcePath = other.File("src.mp3");
  job.equalSegments = true;
  ASSERT_EQ(snip::RunSplit(job, SplitHooks()), SplitOutcome::Completed);
  EXPECT_TRUE(ReadBytes(other.File("src - 01.mp3")) == ExpectedTracks(s, {})[0]);
  EXPECT_FALSE(FileExists(other.File("src - 02.mp3")));
}

TEST_F(SplitEngine, NamesUseFolderArtistAndTitle) {
  Source s = SourceBuilder().Frames(200).WithTag();
  SplitJob job = Job(s, {0, 200});
  TempDir out;
  job.folder = out.Path();
  job.nameTemplate = "%track% %artist% - %title%";
  job.marks[0].artist = "Band";
  job.marks[0].title = "Opening";
  job.marks[1].title = "Second";
  snip::SplitSummary summary;
  ASSERT_EQ(snip::RunSplit(job, SplitHooks(), &summary), SplitOutcome::Completed);
  std::vector<std::string> want = {out.File("01 Band - Opening.mp3"), out.File("02  - Second.mp3")};
  EXPECT_EQ(summary.files, want);
  std::vector<Bytes> expected = ExpectedTracks(s, {200 * 160});
  EXPECT_TRUE(ReadBytes(want[0]) == expected[0]);
  EXPECT_TRUE(ReadBytes(want[1]) == expected[1]);
  EXPECT_FALSE(FileExists(TrackPath(dir, 1)));
}

TEST_F(SplitEngine, HaltIsHonouredBeforeATrackOnly) {
  Source s = SourceBuilder().Frames(600).WithTag();
  SplitJob job = Job(s, {0, 500, 1000});
  std::vector<Bytes> expected = ExpectedTracks(s, {80000, 160000});

  // Asked during the first track: that track is finished, tag included.
  bool halt = false;
  int asked = 0;
  SplitHooks hooks;
  hooks.haltRequested = [&] {
    ++asked;
    return halt;
  };
  hooks.progress = [&](int64_t, int64_t) { halt = true; };
  snip::SplitSummary summary;
  EXPECT_EQ(snip::RunSplit(job, hooks, &summary), SplitOutcome::Cancelled);
  EXPECT_EQ(asked, 2);
  ASSERT_EQ(summary.files.size(), 1u);
  EXPECT_TRUE(ReadBytes(TrackPath(dir, 1)) == expected[0]);
  EXPECT_FALSE(FileExists(TrackPath(dir, 2)));

  // Asked before the first: nothing is made.
  TempDir other;
  WriteBytes(other.File("src.mp3"), s.bytes);
  job.sourcePath = other.File("src.mp3");
  hooks.haltRequested = [] { return true; };
  EXPECT_EQ(snip::RunSplit(job, hooks), SplitOutcome::Cancelled);
  EXPECT_FALSE(FileExists(other.File("src - 01.mp3")));
  EXPECT_TRUE(ReadBytes(other.File("src.mp3")) == s.bytes);
}

TEST_F(SplitEngine, ProgressRisesToTheWholeAudio) {
  Source s = SourceBuilder().Prefix(MakeJunk(1000)).Frames(2000).WithTag();
  SplitJob job = Job(s, {0, 4000, 9000});
  int64_t last = -1, total = -1;
  bool rising = true;
  SplitHooks hooks;
  hooks.progress = [&](int64_t done, int64_t all) {
    rising = rising && done > last && done <= all;
    last = done;
    total = all;
  };
  ASSERT_EQ(snip::RunSplit(job, hooks), SplitOutcome::Completed);
  EXPECT_TRUE(rising);
  EXPECT_EQ(total, s.audioEnd - s.firstFrame);
  EXPECT_EQ(last, total);
}

TEST_F(SplitEngine, TrackNamedLikeTheSourceIsRefused) {
  Source s = SourceBuilder().Frames(100).WithTag();
  SplitJob job = Job(s, {0});
  job.nameTemplate = "%file%";
  EXPECT_EQ(snip::RunSplit(job, SplitHooks()), SplitOutcome::FileError);
  EXPECT_TRUE(ReadBytes(job.sourcePath) == s.bytes);

  // The same file through another spelling of its folder.
#ifdef _WIN32
  job.folder = dir.Path() + ".\\";
#else
  job.folder = dir.Path() + "./";
#endif
  EXPECT_EQ(snip::RunSplit(job, SplitHooks()), SplitOutcome::FileError);
  EXPECT_TRUE(ReadBytes(job.sourcePath) == s.bytes);
}

TEST_F(SplitEngine, OverlongOutputPathMakesNoFile) {
  Source s = SourceBuilder().Frames(100).WithTag();
  SplitJob job = Job(s, {0, 100});
  job.folder = dir.Path();
  job.nameTemplate = std::string(260 - job.folder.size(), 'a') + "%track%";
  EXPECT_EQ(snip::RunSplit(job, SplitHooks()), SplitOutcome::FileError);
  // A template that fits, but whose built name does not.
  job.nameTemplate = "%artist% %track%";
  job.marks[0].artist = std::string(300, 'b');
  EXPECT_EQ(snip::RunSplit(job, SplitHooks()), SplitOutcome::FileError);
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) files += entry.is_regular_file() ? 1 : 0;
  EXPECT_EQ(files, 1);

  job.sourcePath = dir.File("missing.mp3");
  job.nameTemplate = "%file% - %track%";
  EXPECT_EQ(snip::RunSplit(job, SplitHooks()), SplitOutcome::FileError);
  EXPECT_FALSE(FileExists(dir.File("missing - 01.mp3")));
}

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

TEST_F(SplitEngine, WriteFailuresAreFileErrors) {
  Source s = SourceBuilder().Frames(1500).WithTag();
  std::vector<Bytes> expected = ExpectedTracks(s, {80000, 400000});

  struct Case {
    const char* what;
    snip::FileFaultHook hook;
  };
  std::vector<Case> cases = {
      {"failed audio write in track 2",
       [](FileOp op, const std::string& path, int64_t position, size_t) -> int64_t {
         return op == FileOp::Write && EndsWith(path, "02.mp3") && position == 0 ? -1 : 1 << 30;
       }},
      {"short audio write in track 2",
       [](FileOp op, const std::string& path, int64_t, size_t n) -> int64_t {
         return op == FileOp::Write && EndsWith(path, "02.mp3") && n > 128 ? static_cast<int64_t>(n) - 1 : 1 << 30;
       }},
      {"failed tag append in track 2",
       [](FileOp op, const std::string& path, int64_t, size_t n) -> int64_t {
         return op == FileOp::Write && EndsWith(path, "02.mp3") && n == 128 ? -1 : 1 << 30;
       }},
      {"track 2 cannot be created",
       [](FileOp op, const std::string& path, int64_t, size_t) -> int64_t {
         return op == FileOp::Create && EndsWith(path, "02.mp3") ? -1 : 1 << 30;
       }},
      {"finished track 2 cannot take its name",
       [](FileOp op, const std::string& path, int64_t, size_t) -> int64_t {
         return op == FileOp::Commit && EndsWith(path, "02.mp3") ? -1 : 1 << 30;
       }},
      {"failed read of the source in track 2",
       [](FileOp op, const std::string& path, int64_t position, size_t n) -> int64_t {
         bool tagRead = n == 128;
         return op == FileOp::Read && EndsWith(path, "src.mp3") && position > 100000 && !tagRead ? -1 : 1 << 30;
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir local;
    WriteBytes(local.File("src.mp3"), s.bytes);
    SplitJob job = Job(s, {0, 500, 2500});
    job.sourcePath = local.File("src.mp3");
    snip::SetFileFaultHook(c.hook);
    snip::SplitSummary summary;
    EXPECT_EQ(snip::RunSplit(job, SplitHooks(), &summary), SplitOutcome::FileError);
    snip::SetFileFaultHook(nullptr);
    ASSERT_EQ(summary.files.size(), 1u);
    EXPECT_TRUE(ReadBytes(local.File("src - 01.mp3")) == expected[0]);
    // Nothing of the unfinished track is left, under any name.
    EXPECT_EQ(NamesIn(local.Path()), (std::set<std::string>{"src - 01.mp3", "src.mp3"}));
    EXPECT_TRUE(ReadBytes(local.File("src.mp3")) == s.bytes);
  }
}

TEST_F(SplitEngine, ExistingFilesAreReplacedOnlyWhenTheJobSaysSo) {
  Source s = SourceBuilder().Frames(1500).WithTag();
  std::vector<Bytes> expected = ExpectedTracks(s, {80000, 400000});
  SplitJob job = Job(s, {0, 500, 2500});
  std::vector<std::string> planned;
  ASSERT_TRUE(snip::PlannedTrackNames(job, &planned));
  EXPECT_EQ(planned, (std::vector<std::string>{TrackPath(dir, 1), TrackPath(dir, 2), TrackPath(dir, 3)}));
  // A mark past the end of the audio plans no track.
  SplitJob longer = job;
  longer.marks = Marks({0, 500, 90000});
  ASSERT_TRUE(snip::PlannedTrackNames(longer, &planned));
  EXPECT_EQ(planned.size(), 2u);

  const Bytes old = MakeJunk(300, 4);
  WriteBytes(TrackPath(dir, 2), old);
  EXPECT_EQ(snip::ExistingTrackNames({TrackPath(dir, 1), TrackPath(dir, 2)}), std::vector<std::string>{TrackPath(dir, 2)});
  snip::SplitSummary summary;
  EXPECT_EQ(snip::RunSplit(job, SplitHooks(), &summary), SplitOutcome::NameTaken);
  EXPECT_EQ(summary.takenName, TrackPath(dir, 2));
  EXPECT_EQ(summary.files.size(), 1u);
  EXPECT_TRUE(ReadBytes(TrackPath(dir, 2)) == old);
  EXPECT_FALSE(FileExists(TrackPath(dir, 3)));

  job.replaceExisting = true;
  RunAndCompare(job, expected);
}

TEST_F(SplitEngine, SourceThatCannotBeOpenedIsAFileError) {
  Source s = SourceBuilder().Frames(100).WithTag();
  SplitJob job = Job(s, {0, 100});
  snip::SetFileFaultHook([](FileOp op, const std::string&, int64_t, size_t n) -> int64_t {
    return op == FileOp::OpenRead ? -1 : static_cast<int64_t>(n);
  });
  EXPECT_EQ(snip::RunSplit(job, SplitHooks()), SplitOutcome::FileError);
  snip::SetFileFaultHook(nullptr);
  EXPECT_FALSE(FileExists(TrackPath(dir, 1)));
}

// Reads that come in small pieces give the same tracks.
TEST_F(SplitEngine, ShortReadsGiveTheSameTracks) {
  Source s = SourceBuilder().Frames(1200).WithTag();
  SplitJob job = Job(s, {0, 700, 1900});
  snip::SetFileFaultHook([](FileOp op, const std::string&, int64_t position, size_t n) -> int64_t {
    if (op != FileOp::Read) return static_cast<int64_t>(n);
    return std::min<int64_t>(static_cast<int64_t>(n), 1 + position % 997);
  });
  RunAndCompare(job, ExpectedTracks(s, {112000, 304000}));
}

// Every encoder layout of the corpus, through the scan as the program runs
// it: the tracks hold the audio from the first audio frame to the tag, each
// starts on a frame of the source's bitrate within one frame of its mark.
TEST_F(SplitEngine, EveryCorpusLayoutSplitsOnFrames) {
  std::string corpus = snip::test::CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "no corpus";
  for (const char* name : {"mpeg1-32", "mpeg1-128", "mpeg1-320", "mpeg2-64", "mpeg25-8", "mpeg25-16"}) {
    SCOPED_TRACE(name);
    Bytes src = ReadBytes(corpus + name + ".mp3");
    snip::File file = snip::File::OpenRead(corpus + name + ".mp3");
    snip::ScanResult scan = snip::SourceScan(file);
    ASSERT_EQ(scan.outcome, snip::ScanOutcome::Accepted);
    bool tagged = std::memcmp(src.data() + src.size() - 128, "TAG", 3) == 0;
    int64_t audioEnd = static_cast<int64_t>(src.size()) - (tagged ? 128 : 0);

    TempDir local;
    WriteBytes(local.File("src.mp3"), src);
    SplitJob job;
    job.sourcePath = local.File("src.mp3");
    job.nameTemplate = "%file% - %track%";
    job.bitrate = scan.bitrate;
    job.bitrateIndex = scan.bitrateIndex;
    job.firstFrame = scan.audioStart;
    job.marks = Marks({0, 250, 777, 1201, 1650});
    snip::SplitSummary summary;
    ASSERT_EQ(snip::RunSplit(job, SplitHooks(), &summary), SplitOutcome::Completed);
    ASSERT_EQ(summary.files.size(), 5u);
    const int64_t bph = scan.bitrate * 10 / 8;
    const int64_t maxFrame = snip::Layer3FrameLength(src.data() + scan.audioStart) + 1;
    ASSERT_GT(maxFrame, 1);
    Bytes joined;
    for (size_t k = 0; k < summary.files.size(); ++k) {
      Bytes t = ReadBytes(summary.files[k]);
      if (tagged) t.resize(t.size() - 128);
      ASSERT_GT(t.size(), 4u);
      EXPECT_EQ(t[0], 0xFF);
      EXPECT_EQ(t[2] >> 4, scan.bitrateIndex);
      if (k > 0) {
        int64_t begin = scan.audioStart + static_cast<int64_t>(joined.size());
        int64_t cut = scan.audioStart + job.marks[k].offset * bph;
        EXPECT_GE(begin, cut);
        EXPECT_LE(begin - cut, maxFrame);
      }
      Append(joined, t);
    }
    EXPECT_TRUE(joined == Bytes(src.begin() + scan.audioStart, src.begin() + audioEnd));
  }
}

}  // namespace
