#include "join/join_engine.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <set>
#include <memory>
#include <string>
#include <vector>

#include "app/file_io.h"
#include "support/mpeg_frames.h"

namespace {

using snip::FileOp;
using snip::JoinHooks;
using snip::JoinOutcome;
using snip::JoinProblem;
using snip::test::Append;
using snip::test::FileExists;
using snip::test::FrameShape;
using snip::test::MakeFrame;
using snip::test::MakeId3v1Tag;
using snip::test::MakeId3v2Tag;
using snip::test::MakeJunk;
using snip::test::MakeStream;
using snip::test::ReadBytes;
using snip::test::TempDir;
using snip::test::WriteBytes;

using Bytes = std::vector<uint8_t>;

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) Append(out, p);
  return out;
}

Bytes Slice(const Bytes& b, size_t from, size_t to) { return Bytes(b.begin() + from, b.begin() + to); }

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// A frame that describes the file's length, as encoders put first: the
// marker sits after the side information of an MPEG-1 stereo frame.
Bytes LengthFrame(const char* marker) {
  Bytes frame = MakeFrame(FrameShape(), 500);
  std::memcpy(frame.data() + 36, marker, 4);
  return frame;
}

class JoinEngine : public ::testing::Test {
 protected:
  void TearDown() override { snip::SetFileFaultHook(nullptr); }

  std::string Put(const std::string& name, const Bytes& bytes) {
    WriteBytes(dir.File(name), bytes);
    return dir.File(name);
  }
  JoinOutcome Join(const std::vector<std::string>& inputs, const JoinHooks& hooks = JoinHooks()) {
    return snip::RunJoin(dir.File("out.mp3"), inputs, hooks);
  }
  Bytes Output() { return ReadBytes(dir.File("out.mp3")); }
  // The names in the folder: a temporary file left behind shows here.
  std::set<std::string> Names() {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
      names.insert(entry.path().filename().string());
    }
    return names;
  }

  TempDir dir;
};

TEST(JoinMessages, TextsAndSilentHalt) {
  EXPECT_STREQ(snip::JoinOutcomeMessage(JoinOutcome::Completed), "Track joining completed successfully.");
  EXPECT_STREQ(snip::JoinOutcomeMessage(JoinOutcome::FileError),
               "There has been a file error while trying to join tracks.  Please try again.");
  EXPECT_STREQ(snip::JoinOutcomeMessage(JoinOutcome::DestinationIsInput),
               "The destination file is also in the list of tracks to join.  Please choose another destination.");
  EXPECT_EQ(snip::JoinOutcomeMessage(JoinOutcome::Halted), nullptr);
  EXPECT_STREQ(snip::kJoinNeedInputsMessage,
               "Please select a destination file and fill in the track list with two or more items for joining.");
}

TEST_F(JoinEngine, UntaggedFilesAreConcatenatedExactly) {
  Bytes a = MakeJunk(5000, 1), b = MakeJunk(300, 2), c = MakeJunk(700000, 3);
  std::vector<int> lines;
  JoinHooks hooks;
  hooks.lineStarted = [&](int n) { lines.push_back(n); };
  ASSERT_EQ(Join({Put("a.mp3", a), Put("b.mp3", b), Put("c.mp3", c)}, hooks), JoinOutcome::Completed);
  EXPECT_TRUE(Output() == Cat({a, b, c}));
  EXPECT_EQ(lines, (std::vector<int>{1, 2, 3}));

  // Plain streams of frames (no length frame, no tags) are joined byte for byte.
  Bytes s1 = MakeStream(FrameShape(), 300), s2 = MakeStream(FrameShape(), 40);
  ASSERT_EQ(Join({Put("s1.mp3", s1), Put("s2.mp3", s2), Put("s1b.mp3", s1)}), JoinOutcome::Completed);
  EXPECT_TRUE(Output() == Cat({s1, s2, s1}));
}

TEST_F(JoinEngine, OnlyATrailingTagIsLeftOut) {
  Bytes audio = MakeStream(FrameShape(), 20);
  Bytes tag = MakeId3v1Tag("Song");
  Bytes tail = Cat({audio, tag});
  Bytes middle = Cat({audio, tag, audio});
  Bytes front = Cat({tag, audio});
  ASSERT_EQ(Join({Put("tail.mp3", tail), Put("middle.mp3", middle), Put("front.mp3", front)}), JoinOutcome::Completed);
  EXPECT_TRUE(Output() == Cat({audio, middle, front}));
}

TEST_F(JoinEngine, BoundarySizes) {
  // 10240 bytes and a tag: exactly the 10240 bytes.
  Bytes body = MakeJunk(10240, 4);
  Bytes tagged = Cat({body, MakeId3v1Tag()});
  // A file that is only a tag contributes nothing; 128 bytes that are not a
  // tag are copied whole.
  Bytes onlyTag = MakeId3v1Tag("Alone");
  Bytes plain128 = MakeJunk(128, 5);
  // A block-sized and a just-larger tagged file.
  Bytes big = MakeJunk(256 * 1024, 6), bigger = MakeJunk(256 * 1024 + 1, 7);
  ASSERT_EQ(Join({Put("t.mp3", tagged), Put("o.mp3", onlyTag), Put("p.mp3", plain128),
                  Put("big.mp3", Cat({big, MakeId3v1Tag()})), Put("bigger.mp3", Cat({bigger, MakeId3v1Tag()}))}),
            JoinOutcome::Completed);
  EXPECT_TRUE(Output() == Cat({body, plain128, big, bigger}));
}

TEST_F(JoinEngine, LengthFrameOfEachInputIsLeftOut) {
  Bytes audio1 = MakeStream(FrameShape(), 30), audio2 = MakeStream(FrameShape(), 25);
  Bytes id3 = MakeId3v2Tag(MakeJunk(200, 8));
  Bytes tag = MakeId3v1Tag();
  std::string a = Put("a.mp3", Cat({id3, LengthFrame("Info"), audio1, tag}));
  std::string b = Put("b.mp3", Cat({LengthFrame("Xing"), audio2}));
  std::string c = Put("c.mp3", Cat({LengthFrame("Info"), audio1}));
  std::string d = Put("d.mp3", audio2);
  ASSERT_EQ(Join({a, b, c, d}), JoinOutcome::Completed);
  // ID3v2 tags stay; the frames that state one input's length do not.
  EXPECT_TRUE(Output() == Cat({id3, audio1, audio2, audio1, audio2}));
}

TEST_F(JoinEngine, VbriFrameIsLeftOutToo) {
  Bytes audio = MakeStream(FrameShape(), 30);
  Bytes withVbri = Cat({LengthFrame("VBRI"), audio});
  ASSERT_EQ(Join({Put("a.mp3", withVbri), Put("b.mp3", audio)}), JoinOutcome::Completed);
  EXPECT_TRUE(Output() == Cat({audio, audio}));
}

TEST_F(JoinEngine, EveryInputIsCheckedBeforeTheDestinationIsTouched) {
  Bytes a = MakeJunk(4000, 9), precious = MakeJunk(2500, 8);
  std::string pa = Put("a.mp3", a);
  Put("short.mp3", MakeJunk(127, 11));
  Put("empty.mp3", {});
  std::filesystem::create_directory(dir.File("folder.mp3"));
  struct Case {
    std::vector<std::string> inputs;
    JoinOutcome outcome;
    JoinProblem problem;
    std::string file;
  };
  const Case cases[] = {
      {{pa, dir.File("gone.mp3")}, JoinOutcome::FileError, JoinProblem::CannotOpen, dir.File("gone.mp3")},
      {{dir.File("gone.mp3"), pa}, JoinOutcome::FileError, JoinProblem::CannotOpen, dir.File("gone.mp3")},
      {{pa, dir.File("short.mp3"), pa}, JoinOutcome::FileError, JoinProblem::TooShort, dir.File("short.mp3")},
      {{pa, dir.File("empty.mp3")}, JoinOutcome::FileError, JoinProblem::TooShort, dir.File("empty.mp3")},
      {{pa, dir.File("folder.mp3")}, JoinOutcome::FileError, JoinProblem::NotAFile, dir.File("folder.mp3")},
  };
  for (bool existed : {true, false}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.file + (existed ? ", destination existed" : ", no destination"));
      std::filesystem::remove(dir.File("out.mp3"));
      if (existed) Put("out.mp3", precious);
      auto before = Names();
      int started = 0;
      JoinHooks hooks;
      hooks.lineStarted = [&](int) { ++started; };
      snip::JoinReport report;
      EXPECT_EQ(snip::RunJoin(dir.File("out.mp3"), c.inputs, hooks, true, &report), c.outcome);
      EXPECT_EQ(report.problem, c.problem);
      EXPECT_EQ(report.file, c.file);
      EXPECT_EQ(started, 0);
      EXPECT_EQ(Names(), before);
      if (existed) {
        EXPECT_TRUE(Output() == precious);
      }
    }
  }
}

TEST_F(JoinEngine, DestinationThatCannotBeCreated) {
  std::string a = Put("a.mp3", MakeJunk(1000, 12));
  EXPECT_EQ(snip::RunJoin(dir.File("no-such-folder") + "/out.mp3", {a, a}, JoinHooks()), JoinOutcome::FileError);
  EXPECT_FALSE(FileExists(dir.File("no-such-folder")));
}

TEST_F(JoinEngine, DestinationAmongTheInputsIsRefusedBeforeItIsTouched) {
  Bytes a = MakeJunk(3000, 13), b = MakeJunk(3000, 14);
  std::string pa = Put("a.mp3", a), pb = Put("b.mp3", b);
  EXPECT_EQ(snip::RunJoin(pb, {pa, pb}, JoinHooks()), JoinOutcome::DestinationIsInput);
  EXPECT_TRUE(ReadBytes(pb) == b);

  // The same file spelt differently.
#ifdef _WIN32
  std::string other = dir.Path() + ".\\b.mp3";
#else
  std::string other = dir.Path() + "./b.mp3";
#endif
  int opened = 0;
  snip::SetFileFaultHook([&](FileOp op, const std::string&, int64_t, size_t n) -> int64_t {
    if (op == FileOp::Create) ++opened;
    return static_cast<int64_t>(n);
  });
  EXPECT_EQ(snip::RunJoin(other, {pa, pb}, JoinHooks()), JoinOutcome::DestinationIsInput);
  // A destination that does not exist yet, named again among the inputs
  // (the join would read what it writes).
#ifdef _WIN32
  std::string later = dir.Path() + ".\\NEW.mp3";
#else
  std::string later = dir.Path() + "./new.mp3";
#endif
  EXPECT_EQ(snip::RunJoin(dir.File("new.mp3"), {pa, later}, JoinHooks()), JoinOutcome::DestinationIsInput);
  EXPECT_EQ(opened, 0);
  EXPECT_FALSE(FileExists(dir.File("new.mp3")));
  EXPECT_TRUE(ReadBytes(pb) == b);
  EXPECT_TRUE(ReadBytes(pa) == a);
}

TEST_F(JoinEngine, HaltBeforeALineIsSilentAndKeepsWhatWasJoined) {
  std::vector<std::string> inputs;
  std::vector<Bytes> parts;
  for (int i = 0; i < 5; ++i) {
    parts.push_back(MakeJunk(1000 + 100 * i, 20 + i));
    inputs.push_back(Put("in" + std::to_string(i) + ".mp3", parts.back()));
  }
  // Asked for while the third line is copied: the third is finished, and
  // the destination is left as it was.
  const Bytes precious = MakeJunk(700, 19);
  Put("out.mp3", precious);
  bool halt = false;
  int asked = 0;
  JoinHooks hooks;
  hooks.haltRequested = [&] {
    ++asked;
    return halt;
  };
  hooks.lineStarted = [&](int n) { halt = n == 3; };
  auto before = Names();
  EXPECT_EQ(Join(inputs, hooks), JoinOutcome::Halted);
  EXPECT_EQ(asked, 4);
  EXPECT_TRUE(Output() == precious);
  EXPECT_EQ(Names(), before);

  // Asked for during the last line: the run completes.
  halt = false;
  hooks.lineStarted = [&](int n) { halt = n == 5; };
  EXPECT_EQ(Join(inputs, hooks), JoinOutcome::Completed);
  EXPECT_TRUE(Output() == Cat({parts[0], parts[1], parts[2], parts[3], parts[4]}));
}

TEST_F(JoinEngine, FailuresLeaveTheDestinationAsItWas) {
  Bytes a = MakeJunk(600000, 30), b = MakeJunk(9000, 31), precious = MakeJunk(1000, 32);
  std::string pa = Put("a.mp3", a), pb = Put("b.mp3", Cat({b, MakeId3v1Tag()}));

  struct Case {
    const char* what;
    snip::FileFaultHook hook;
    JoinProblem problem;
  };
  auto room = std::make_shared<int64_t>(0);
  std::vector<Case> cases = {
      {"read of a fails midway",
       [](FileOp op, const std::string& path, int64_t position, size_t n) -> int64_t {
         return op == FileOp::Read && EndsWith(path, "a.mp3") && position >= 262144 && n > 65536
                    ? -1
                    : static_cast<int64_t>(n);
       },
       JoinProblem::ReadFailed},
      {"tag test read of b fails",
       [](FileOp op, const std::string& path, int64_t, size_t n) -> int64_t {
         return op == FileOp::Read && EndsWith(path, "b.mp3") && n == 128 ? -1 : static_cast<int64_t>(n);
       },
       JoinProblem::ReadFailed},
      {"write fails",
       [](FileOp op, const std::string& path, int64_t position, size_t n) -> int64_t {
         return op == FileOp::Write && EndsWith(path, "out.mp3") && position > 0 ? -1 : static_cast<int64_t>(n);
       },
       JoinProblem::WriteFailed},
      {"the disk fills up",
       [room](FileOp op, const std::string&, int64_t, size_t n) -> int64_t {
         if (op != FileOp::Write) return static_cast<int64_t>(n);
         int64_t allowed = std::min<int64_t>(*room, static_cast<int64_t>(n));
         *room -= allowed;
         return allowed;
       },
       JoinProblem::WriteFailed},
      {"the finished file cannot take its name",
       [](FileOp op, const std::string&, int64_t, size_t n) -> int64_t {
         return op == FileOp::Commit ? -1 : static_cast<int64_t>(n);
       },
       JoinProblem::WriteFailed},
      {"input cannot be opened for its copy",
       [opens = std::make_shared<int>(0)](FileOp op, const std::string& path, int64_t, size_t n) -> int64_t {
         // The first open of b is its check, the second its copy.
         return op == FileOp::OpenRead && EndsWith(path, "b.mp3") && ++*opens == 2 ? -1 : static_cast<int64_t>(n);
       },
       JoinProblem::CannotOpen},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Put("out.mp3", precious);
    *room = 700000;
    auto before = Names();
    snip::JoinReport report;
    snip::SetFileFaultHook(c.hook);
    EXPECT_EQ(snip::RunJoin(dir.File("out.mp3"), {pa, pb, pa}, JoinHooks(), true, &report), JoinOutcome::FileError);
    snip::SetFileFaultHook(nullptr);
    EXPECT_EQ(report.problem, c.problem);
    EXPECT_TRUE(Output() == precious);
    EXPECT_EQ(Names(), before);
  }
  // Without the faults the same join replaces the file.
  ASSERT_EQ(snip::RunJoin(dir.File("out.mp3"), {pa, pb, pa}, JoinHooks()), JoinOutcome::Completed);
  EXPECT_TRUE(Output() == Cat({a, b, a}));
}

TEST_F(JoinEngine, ExistingDestinationIsReplacedOnlyWhenAllowed) {
  Bytes a = MakeJunk(3000, 50), precious = MakeJunk(900, 51);
  std::string pa = Put("a.mp3", a);
  Put("out.mp3", precious);
  snip::JoinReport report;
  EXPECT_EQ(snip::RunJoin(dir.File("out.mp3"), {pa, pa}, JoinHooks(), false, &report), JoinOutcome::DestinationExists);
  EXPECT_EQ(report.problem, JoinProblem::Exists);
  EXPECT_TRUE(Output() == precious);
  EXPECT_EQ(snip::RunJoin(dir.File("out.mp3"), {pa, pa}, JoinHooks(), true), JoinOutcome::Completed);
  EXPECT_TRUE(Output() == Cat({a, a}));
}

TEST_F(JoinEngine, ProgressReachesTheTotal) {
  Bytes a = MakeJunk(400000, 40), b = MakeJunk(5000, 41);
  std::string pa = Put("a.mp3", Cat({a, MakeId3v1Tag()})), pb = Put("b.mp3", b);
  int64_t last = -1, total = -1;
  bool rising = true;
  JoinHooks hooks;
  hooks.progress = [&](int64_t done, int64_t all) {
    rising = rising && done >= last && done <= all;
    last = done;
    total = all;
  };
  ASSERT_EQ(Join({pa, pb}, hooks), JoinOutcome::Completed);
  EXPECT_TRUE(rising);
  EXPECT_EQ(total, 400000 + 128 + 5000);
  EXPECT_EQ(last, total);
}

// Encoder output with its length frame: the joined file holds each input's
// audio frames, and its first frame is audio.
TEST_F(JoinEngine, EncoderOutputJoinsWithoutLengthFrames) {
  std::string corpus = snip::test::CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "no corpus";
  Bytes with = ReadBytes(corpus + "mpeg1-128.mp3");
  Bytes without = ReadBytes(corpus + "mpeg1-128-notag.mp3");
  ASSERT_GT(with.size(), without.size());
  ASSERT_EQ(with[0], 0xFF);
  FrameShape first;
  first.bitrateIndex = with[2] >> 4;
  first.sampleRateIndex = (with[2] >> 2) & 3;
  first.padding = (with[2] >> 1) & 1;
  size_t infoLength = static_cast<size_t>(snip::test::FrameLength(first));
  bool tagged = std::memcmp(with.data() + with.size() - 128, "TAG", 3) == 0;
  Bytes audio = Slice(with, infoLength, with.size() - (tagged ? 128 : 0));
  ASSERT_EQ(Join({Put("a.mp3", with), Put("b.mp3", with)}), JoinOutcome::Completed);
  EXPECT_TRUE(Output() == Cat({audio, audio}));

  // Without a length frame the files are joined whole.
  bool plainTagged = std::memcmp(without.data() + without.size() - 128, "TAG", 3) == 0;
  Bytes plainAudio = Slice(without, 0, without.size() - (plainTagged ? 128 : 0));
  ASSERT_EQ(Join({Put("c.mp3", without), Put("d.mp3", without)}), JoinOutcome::Completed);
  EXPECT_TRUE(Output() == Cat({plainAudio, plainAudio}));
}

}  // namespace
