// The split over any source bytes and any marks. Input: a small header
// (flags, a planned file fault, bitrate, first frame, marks) and then the
// source's bytes. Whatever the input, every source byte from the first frame
// to the end of the audio lands in exactly one track, in order; each track
// carries the source's tag once; every cut lands on the first real frame of
// the source's bitrate at or after its point (and no track is empty); a file
// fault never ends as a success.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "app/file_io.h"
#include "fault_plan.h"
#include "fuzz_support.h"
#include "mpeg/frame_header.h"
#include "mpeg/source_scan.h"
#include "mpeg/lame_tag.h"
#include "split/split_engine.h"

namespace {

using snip::fuzz::FaultKind;

constexpr int kMostTracks = 200;  // a longer run is halted, and checked as far as it went
constexpr int64_t kTagSize = 128;

struct Setup {
  snip::SplitJob job;
  snip::fuzz::FaultPlan fault;
  std::vector<uint8_t> source;
};

Setup ReadSetup(const uint8_t* data, size_t size) {
  snip::fuzz::InputReader in(data, size);
  Setup s;
  uint8_t flags = in.Byte();
  s.fault.kind = static_cast<FaultKind>(in.Byte() % 4);
  s.fault.at = in.Byte();
  uint8_t rate = in.Byte();
  uint16_t firstFrame = in.U16();
  int marks = in.Byte() % 9;
  bool arbitraryMarks = (flags & 4) != 0;
  int32_t at = 0;
  for (int i = 0; i < marks; ++i) {
    uint16_t v = in.U16();
    snip::SplitMark mark;
    if (i == 0) {
      mark.offset = 0;
    } else if (arbitraryMarks) {
      mark.offset = static_cast<int16_t>(v) * 37;
    } else {
      at += v;
      mark.offset = at;
    }
    s.job.marks.push_back(mark);
  }
  s.source.assign(in.Rest(), in.Rest() + in.RestSize());

  s.job.equalSegments = (flags & 1) != 0;
  int versionBits = (rate >> 4) & 3;
  if (versionBits == 1) versionBits = 3;
  s.job.bitrateIndex = std::min(rate & 15, 14);
  s.job.bitrate = snip::BitrateKbps(versionBits, s.job.bitrateIndex);
  s.job.firstFrame = firstFrame % (s.source.size() + 1);
  if (flags & 2) s.job.firstFrame = -static_cast<int64_t>(firstFrame);  // below the start of the file
  return s;
}

// Takes bitrate and first frame from the scan, as the page does.
void UseScan(Setup* s, const std::string& path) {
  snip::File file = snip::File::OpenRead(path);
  snip::ScanResult r = snip::SourceScan(file);
  if (r.outcome != snip::ScanOutcome::Accepted) return;
  s->job.bitrate = r.bitrate;
  s->job.bitrateIndex = r.bitrateIndex;
  s->job.firstFrame = r.audioStart;
  s->job.variableBitrate = r.variableBitrate;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1 << 20) return 0;
  Setup s = ReadSetup(data, size);
  snip::fuzz::ClearScratch();
  const std::string folder = snip::fuzz::ScratchDir();
  const std::string sourcePath = folder + "source.mp3";
  snip::fuzz::WriteFileBytes(sourcePath, s.source.data(), s.source.size());
  if (size > 0 && (data[0] & 8)) UseScan(&s, sourcePath);
  if (size > 0 && (data[0] & 32)) s.job.variableBitrate = true;
  if (size > 0 && (data[0] & 64)) s.job.exact = true;

  snip::SplitJob& job = s.job;
  job.sourcePath = sourcePath;
  job.folder = (size > 0 && (data[0] & 16)) ? std::string() : folder;
  job.nameTemplate = "track %track%";
  if (snip::ValidateSplitJob(job) != snip::SplitRefusal::None) return 0;

  int started = 0;
  snip::SplitHooks hooks;
  hooks.haltRequested = [&] { return started >= kMostTracks; };
  hooks.trackStarted = [&](int n) {
    FUZZ_CHECK(n == started + 1, "tracks not numbered in order");
    started = n;
  };
  int64_t lastDone = 0;
  hooks.progress = [&](int64_t done, int64_t total) {
    FUZZ_CHECK(done >= lastDone && done <= total, "progress goes back or past its total");
    lastDone = done;
  };
  snip::SplitSummary summary;
  snip::SplitOutcome outcome;
  {
    snip::fuzz::FaultScope faults(&s.fault);
    outcome = snip::RunSplit(job, hooks, &summary);
  }

  const std::vector<uint8_t>& src = s.source;
  FUZZ_CHECK(snip::fuzz::ReadFileBytes(sourcePath) == src, "the source was changed");

  const int64_t size64 = static_cast<int64_t>(src.size());
  bool tagRead = !(s.fault.fired && s.fault.kind == FaultKind::ReadFails && s.fault.path == sourcePath &&
                   s.fault.position == size64 - kTagSize);
  if (s.fault.fired) {
    if (s.fault.kind == FaultKind::ReadFails && !tagRead) {
      // A tag that cannot be read counts as absent; the run goes on.
    } else {
      FUZZ_CHECK(outcome == snip::SplitOutcome::FileError,
                 "a failed read or write did not end as a file error: " + snip::fuzz::Describe(s.fault));
      FUZZ_CHECK(snip::fuzz::ScratchFiles().size() == summary.files.size() + 1,
                 "a failed split left more than its finished tracks");
      return 0;
    }
  }
  if (outcome == snip::SplitOutcome::FileError) {
    FUZZ_CHECK(false, "file error without a fault");
  }
  FUZZ_CHECK(outcome == snip::SplitOutcome::Completed || started >= kMostTracks, "halted without being asked");

  bool hasTag = tagRead && size64 >= kTagSize && std::memcmp(src.data() + src.size() - kTagSize, "TAG", 3) == 0;
  int64_t audioEnd = hasTag ? size64 - kTagSize : size64;
  int64_t start = std::max<int64_t>(job.firstFrame, 0);
  audioEnd = std::max(audioEnd, start);

  FUZZ_CHECK(static_cast<int>(summary.files.size()) == started || outcome == snip::SplitOutcome::Cancelled,
             "not every started track was written");
  FUZZ_CHECK(snip::fuzz::ScratchFiles().size() == summary.files.size() + 1, "files other than the tracks were made");

  if (job.exact) {
    // Exact tracks: each begins with a summary frame whose LAME tag is whole
    // and which counts the track's bytes before its ID3v1 tag.
    for (const std::string& file : summary.files) {
      std::vector<uint8_t> track = snip::fuzz::ReadFileBytes(file);
      if (hasTag && track.size() >= static_cast<size_t>(kTagSize)) track.resize(track.size() - kTagSize);
      snip::StreamSummary head;
      if (!snip::ReadSummaryFrame(track.data(), track.size(), &head)) continue;  // cut as without the mode
      FUZZ_CHECK(head.hasLameTag && head.tagCrcValid, "an exact track's LAME tag is broken");
      FUZZ_CHECK(head.bytes == track.size(), "an exact track's byte count is not its size");
    }
    return 0;
  }
  if (job.variableBitrate) {
    // Cut on frames by time: each track is a Xing frame that counts the
    // track's bytes, then frames taken from the source in order.
    int64_t taken = 0;
    for (size_t k = 0; k < summary.files.size(); ++k) {
      std::vector<uint8_t> track = snip::fuzz::ReadFileBytes(summary.files[k]);
      if (hasTag) {
        FUZZ_CHECK(track.size() >= static_cast<size_t>(kTagSize), "a VBR track lacks the tag");
        track.resize(track.size() - kTagSize);
      }
      if (track.empty()) {
        FUZZ_CHECK(k == 0 && summary.files.size() == 1, "an empty VBR track among others");
        continue;
      }
      snip::StreamSummary xing;
      FUZZ_CHECK(snip::ReadSummaryFrame(track.data(), track.size(), &xing) && xing.kind == snip::SummaryKind::Xing,
                 "a VBR track does not begin with its Xing frame");
      FUZZ_CHECK(xing.bytes == track.size(), "the Xing frame's byte count is not the track's");
      FUZZ_CHECK(xing.frames >= 1, "a VBR track holds no frame");
      taken += static_cast<int64_t>(track.size()) - xing.frameLength;
    }
    FUZZ_CHECK(taken <= audioEnd - start, "VBR tracks hold more than the audio");
    return 0;
  }

  // Where each cut is to lie.
  const int64_t bph = snip::BytesPerHundredth(job.bitrate);
  const int64_t segment = job.equalSegments ? job.marks[1].offset : 0;
  const bool cutsKnown = bph > 0 && (!job.equalSegments || segment > 0);
  auto target = [&](size_t k) -> int64_t {
    if (!cutsKnown) return audioEnd;
    if (job.equalSegments) return start + static_cast<int64_t>(k + 1) * segment * bph;
    if (k + 1 < job.marks.size()) return start + static_cast<int64_t>(job.marks[k + 1].offset) * bph;
    return audioEnd;
  };
  auto isFrame = [&](int64_t at) {
    return at < audioEnd && snip::ConfirmFrame(src.data() + at, static_cast<size_t>(audioEnd - at), true,
                                               job.bitrateIndex) == snip::FrameCheck::Yes;
  };

  int64_t pos = start;
  for (size_t k = 0; k < summary.files.size(); ++k) {
    std::vector<uint8_t> track = snip::fuzz::ReadFileBytes(summary.files[k]);
    if (hasTag) {
      FUZZ_CHECK(
          track.size() >= static_cast<size_t>(kTagSize) &&
              std::memcmp(track.data() + track.size() - kTagSize, src.data() + src.size() - kTagSize, kTagSize) == 0,
          "track " + std::to_string(k + 1) + " does not end in the source's tag");
      track.resize(track.size() - kTagSize);
    }
    int64_t n = static_cast<int64_t>(track.size());
    FUZZ_CHECK(pos + n <= audioEnd, "track " + std::to_string(k + 1) + " runs past the audio");
    FUZZ_CHECK(std::equal(track.begin(), track.end(), src.begin() + pos),
               "track " + std::to_string(k + 1) + " is not the next span of the source");
    FUZZ_CHECK(n > 0 || pos == audioEnd, "track " + std::to_string(k + 1) + " holds no audio");
    if (k > 0) FUZZ_CHECK(isFrame(pos), "track " + std::to_string(k + 1) + " does not start on a frame");
    int64_t next = pos + n;
    bool last = k + 1 == summary.files.size();
    if (!last || next < audioEnd) {
      // The cut: the first frame at or after the track's point; a track
      // whose point lies at or before its start keeps at least its first
      // frame, so the search then begins one byte in.
      int64_t point = std::min(target(k), audioEnd);
      int64_t from = point > pos ? point : pos + 1;
      FUZZ_CHECK(next >= from, "track " + std::to_string(k + 1) + " was cut before its point");
      for (int64_t p = from; p < next; ++p) {
        FUZZ_CHECK(!isFrame(p), "track " + std::to_string(k + 1) + " passed a frame where it should be cut");
      }
      if (!last) FUZZ_CHECK(isFrame(next), "cut not on a frame");
    }
    pos = next;
  }
  if (outcome == snip::SplitOutcome::Completed) {
    FUZZ_CHECK(!summary.files.empty(), "a completed run made no track");
    FUZZ_CHECK(pos == audioEnd, "the tracks stop short of the end of the audio");
  }
  return 0;
}
