// Found by fuzzing the join: a read that failed while an input was examined
// for a leading length frame was taken as "no such frame", and the join
// reported success with that frame left in. Every failing read of a join must
// end it as a file error, wherever it falls.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/file_io.h"
#include "join/join_engine.h"
#include "support/mpeg_frames.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A stream whose first frame states the stream's length, as encoders write it.
Bytes StreamWithLengthFrame(const char* marker) {
  snip::test::FrameShape shape;
  Bytes frame = snip::test::MakeFrame(shape, 77);
  std::memcpy(frame.data() + 4 + 32, marker, 4);  // after the MPEG-1 stereo side information
  snip::test::Append(frame, snip::test::MakeStream(shape, 12));
  return frame;
}

class JoinReadFaults : public ::testing::Test {
 protected:
  void TearDown() override { snip::SetFileFaultHook(nullptr); }

  // Fails the k-th read of the run; returns false once the run has fewer reads.
  bool RunWithFailingRead(int k, snip::JoinOutcome* outcome) {
    int seen = 0;
    bool fired = false;
    snip::SetFileFaultHook([&](snip::FileOp op, const std::string&, int64_t, size_t n) -> int64_t {
      if (op != snip::FileOp::Read || seen++ != k) return static_cast<int64_t>(n);
      fired = true;
      return -1;
    });
    *outcome = snip::RunJoin(destination_, inputs_, {});
    snip::SetFileFaultHook(nullptr);
    return fired;
  }

  void AddInput(const Bytes& bytes) {
    inputs_.push_back(dir_.File("in" + std::to_string(inputs_.size()) + ".mp3"));
    snip::test::WriteBytes(inputs_.back(), bytes);
  }

  snip::test::TempDir dir_;
  std::vector<std::string> inputs_;
  std::string destination_ = dir_.File("joined.mp3");
};

TEST_F(JoinReadFaults, EveryFailingReadEndsAsAFileError) {
  Bytes tagged = snip::test::MakeStream({}, 10);
  snip::test::Append(tagged, snip::test::MakeId3v1Tag("One"));
  AddInput(tagged);
  Bytes info = StreamWithLengthFrame("Info");
  snip::test::Append(info, snip::test::MakeId3v1Tag("Two"));
  AddInput(info);
  AddInput(StreamWithLengthFrame("Xing"));

  int k = 0;
  for (;; ++k) {
    ASSERT_LT(k, 200);
    snip::JoinOutcome outcome;
    if (!RunWithFailingRead(k, &outcome)) {
      EXPECT_EQ(outcome, snip::JoinOutcome::Completed);
      break;
    }
    EXPECT_EQ(outcome, snip::JoinOutcome::FileError) << "read " << k << " failed unnoticed";
  }
  // Each input is read for its tag, its first frame and its copy.
  EXPECT_GE(k, 9);

  // Without faults the length frames are left out and the tag dropped.
  Bytes joined = snip::test::ReadBytes(destination_);
  Bytes expected(tagged.begin(), tagged.end() - 128);
  Bytes infoFrame = StreamWithLengthFrame("Info");
  size_t frameLength = snip::test::FrameLength({});
  expected.insert(expected.end(), infoFrame.begin() + static_cast<std::ptrdiff_t>(frameLength), infoFrame.end());
  Bytes xing = StreamWithLengthFrame("Xing");
  expected.insert(expected.end(), xing.begin() + static_cast<std::ptrdiff_t>(frameLength), xing.end());
  EXPECT_EQ(joined, expected);
}

}  // namespace
