// The join over any input files. Input: a small header (a planned file
// fault, the number of inputs and their lengths) and then the inputs' bytes.
// A completed join is exactly its inputs in order, each without its trailing
// ID3v1 tag and without a leading frame that only states that input's
// length; inputs are never changed; a file fault never ends as a success.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "app/file_io.h"
#include "fault_plan.h"
#include "fuzz_support.h"
#include "join/join_engine.h"
#include "mpeg/frame_header.h"
#include "mpeg/source_scan.h"

namespace {

using snip::fuzz::FaultKind;

constexpr size_t kTagSize = 128;

bool HoldsLengthMarker(const uint8_t* data, size_t n) {
  for (size_t i = 0; i + 4 <= n; ++i) {
    if (!std::memcmp(data + i, "Info", 4) || !std::memcmp(data + i, "Xing", 4) || !std::memcmp(data + i, "VBRI", 4)) {
      return true;
    }
  }
  return false;
}

// What one input contributes to a completed join.
std::vector<uint8_t> Contribution(const std::string& path, const std::vector<uint8_t>& bytes) {
  size_t stop = bytes.size();
  if (stop >= kTagSize && std::memcmp(bytes.data() + stop - kTagSize, "TAG", 3) == 0) stop -= kTagSize;
  std::vector<uint8_t> out(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(stop));

  snip::File file = snip::File::OpenRead(path);
  int64_t header = 0;
  int length = 0;
  bool info = false;
  if (snip::LocateFirstFrame(file, 0, &header, &length, &info) && info && length > 0 &&
      header + length <= static_cast<int64_t>(stop)) {
    const uint8_t* frame = bytes.data() + header;
    FUZZ_CHECK(snip::FrameHeaderTest(frame), "the left-out frame has no header");
    FUZZ_CHECK(HoldsLengthMarker(frame, static_cast<size_t>(length)), "the left-out frame states no length");
    out.erase(out.begin() + header, out.begin() + header + length);
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1 << 20) return 0;
  snip::fuzz::InputReader in(data, size);
  snip::fuzz::FaultPlan fault;
  fault.kind = static_cast<FaultKind>(in.Byte() % 4);
  fault.at = in.Byte();
  int count = 1 + in.Byte() % 4;
  std::vector<size_t> lengths;
  for (int i = 0; i + 1 < count; ++i) lengths.push_back(in.U16());

  snip::fuzz::ClearScratch();
  const std::string folder = snip::fuzz::ScratchDir();
  std::vector<std::string> inputs;
  std::vector<std::vector<uint8_t>> contents;
  for (int i = 0; i < count; ++i) {
    std::vector<uint8_t> bytes = i + 1 < count ? in.Bytes(lengths[i]) : in.Bytes(in.RestSize());
    inputs.push_back(folder + "input" + std::to_string(i) + ".mp3");
    snip::fuzz::WriteFileBytes(inputs.back(), bytes.data(), bytes.size());
    contents.push_back(std::move(bytes));
  }
  const std::string destination = folder + "joined.mp3";

  int lines = 0;
  snip::JoinHooks hooks;
  hooks.lineStarted = [&](int n) {
    FUZZ_CHECK(n == lines + 1, "lines not started in order");
    lines = n;
  };
  int64_t lastDone = 0;
  hooks.progress = [&](int64_t done, int64_t total) {
    FUZZ_CHECK(done >= lastDone && done <= total, "progress goes back or past its total");
    lastDone = done;
  };
  snip::JoinOutcome outcome;
  {
    snip::fuzz::FaultScope faults(&fault);
    outcome = snip::RunJoin(destination, inputs, hooks);
  }

  for (int i = 0; i < count; ++i) {
    FUZZ_CHECK(snip::fuzz::ReadFileBytes(inputs[i]) == contents[i], "input " + std::to_string(i + 1) + " changed");
  }
  FUZZ_CHECK(outcome != snip::JoinOutcome::DestinationIsInput, "a separate destination was taken for an input");
  FUZZ_CHECK(outcome != snip::JoinOutcome::Halted, "halted without being asked");
  if (fault.fired) {
    FUZZ_CHECK(outcome == snip::JoinOutcome::FileError,
               "a failed read or write did not end as a file error: " + snip::fuzz::Describe(fault));
    FUZZ_CHECK(snip::fuzz::ScratchFiles().size() == inputs.size(), "a failed join left a file behind");
    return 0;
  }

  bool shortInput = false;
  for (const auto& c : contents) shortInput = shortInput || c.size() < kTagSize;
  if (shortInput) {
    FUZZ_CHECK(outcome == snip::JoinOutcome::FileError, "an input shorter than a tag was joined");
    FUZZ_CHECK(snip::fuzz::ScratchFiles().size() == inputs.size(), "a refused join left a file behind");
    return 0;
  }
  FUZZ_CHECK(outcome == snip::JoinOutcome::Completed, "a join without faults did not complete");
  FUZZ_CHECK(lines == count, "not every line was started");
  std::vector<uint8_t> expected;
  for (int i = 0; i < count; ++i) {
    std::vector<uint8_t> part = Contribution(inputs[i], contents[i]);
    expected.insert(expected.end(), part.begin(), part.end());
  }
  FUZZ_CHECK(snip::fuzz::ReadFileBytes(destination) == expected, "the joined file is not its inputs in order");

  // The destination may never be one of the inputs.
  std::vector<std::string> withDestination = {inputs[0], destination};
  std::vector<uint8_t> before = snip::fuzz::ReadFileBytes(destination);
  FUZZ_CHECK(snip::RunJoin(destination, withDestination, snip::JoinHooks()) == snip::JoinOutcome::DestinationIsInput,
             "a destination that is an input was not refused");
  FUZZ_CHECK(snip::fuzz::ReadFileBytes(destination) == before, "a refused join changed its destination");
  return 0;
}
