// Encoder output end to end: scan, split and join real lame files, then decode
// every result with mpg123 and compare what a player sees with what the cuts
// and joins promise. The tools exist only on the Linux side, so these tests
// skip under Windows and wherever mpg123 or the corpus is missing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/file_io.h"
#include "join/join_engine.h"
#include "mpeg/frame_header.h"
#include "mpeg/source_scan.h"
#include "split/split_engine.h"
#include "support/mpeg_frames.h"
#include "support/mpeg_tools.h"

namespace {

using Bytes = std::vector<uint8_t>;
using snip::test::Append;
using snip::test::ReadBytes;
using snip::test::TempDir;
using snip::test::WriteBytes;

#ifndef _WIN32

// ---------------------------------------------------------------------------
// The file's layout as the test reads it on its own: leading ID3v2 tags, an
// encoder's summary frame, the chain of audio frames, a trailing ID3v1 tag.
// The first frame is the first header from which whole frames run exactly to
// the end of the audio, which no false header inside a tag can do.

struct Layout {
  int64_t id3v2End = 0;     // first byte after the leading ID3v2 tags
  int64_t firstHeader = 0;  // the first frame, summary frame or audio
  bool summaryFrame = false;
  int64_t audioStart = 0;  // first audio frame
  int64_t audioEnd = 0;    // end of the last frame (start of an ID3v1 tag)
  bool hasId3v1 = false;
  std::vector<int64_t> frames;  // offset of every audio frame
  // Four bytes inside the audio that pass the plain header test with the
  // stream's bitrate index but start no frame: where an unconfirmed resync
  // would cut.
  std::vector<int64_t> falseHeaders;
  int versionBits = 0;
  int bitrateIndex = 0;
  int kbps = 0;
  int sampleRate = 0;
  int samplesPerFrame = 0;

  int64_t AudioSamples() const { return static_cast<int64_t>(frames.size()) * samplesPerFrame; }
  // Length of the audio in hundredths of a second, rounded down.
  int64_t Hundredths() const { return AudioSamples() * 100 / sampleRate; }
  // The first audio frame at or after a byte position (audioEnd if none).
  int64_t FrameAtOrAfter(int64_t position) const {
    auto it = std::lower_bound(frames.begin(), frames.end(), position);
    return it == frames.end() ? audioEnd : *it;
  }
  int64_t FrameIndex(int64_t offset) const {
    return std::lower_bound(frames.begin(), frames.end(), offset) - frames.begin();
  }
};

const int kKbps[2][15] = {{0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
                          {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}};
const int kRates[4][3] = {{11025, 12000, 8000}, {0, 0, 0}, {22050, 24000, 16000}, {44100, 48000, 32000}};

struct Header {
  int versionBits, bitrateIndex, sampleRate, kbps, length;
  bool mono, crc;
};

// A Layer III header with a computable length, read from scratch.
bool ReadHeader(const Bytes& b, int64_t at, Header* h) {
  if (at + 4 > static_cast<int64_t>(b.size())) return false;
  const uint8_t* p = b.data() + at;
  if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0) return false;
  h->versionBits = (p[1] >> 3) & 3;
  if (h->versionBits == 1 || ((p[1] >> 1) & 3) != 1) return false;
  h->bitrateIndex = p[2] >> 4;
  int rateIndex = (p[2] >> 2) & 3;
  if (h->bitrateIndex == 0 || h->bitrateIndex == 15 || rateIndex == 3) return false;
  h->sampleRate = kRates[h->versionBits][rateIndex];
  h->kbps = kKbps[h->versionBits == 3 ? 0 : 1][h->bitrateIndex];
  int factor = h->versionBits == 3 ? 144000 : 72000;
  h->length = factor * h->kbps / h->sampleRate + ((p[2] >> 1) & 1);
  h->mono = (p[3] >> 6) == 3;
  h->crc = (p[1] & 1) == 0;
  return true;
}

// The plain validity test of four bytes: frame sync, and no reserved
// version, layer, bitrate, sampling rate or emphasis.
bool PassesHeaderTest(const uint8_t* p) {
  return p[0] == 0xFF && (p[1] & 0xE0) == 0xE0 && ((p[1] >> 3) & 3) != 1 && ((p[1] >> 1) & 3) != 0 &&
         (p[2] >> 4) != 15 && ((p[2] >> 2) & 3) != 3 && (p[3] & 3) != 2;
}

// "Info" or "Xing" where encoders put it: after the header, CRC and side
// information of the frame at `at`.
bool IsSummaryFrame(const Bytes& b, int64_t at) {
  Header h;
  if (!ReadHeader(b, at, &h)) return false;
  int side = h.versionBits == 3 ? (h.mono ? 17 : 32) : (h.mono ? 9 : 17);
  int64_t marker = at + 4 + (h.crc ? 2 : 0) + side;
  if (marker + 4 > at + h.length) return false;
  return std::memcmp(b.data() + marker, "Info", 4) == 0 || std::memcmp(b.data() + marker, "Xing", 4) == 0;
}

// Whole frames from `at` reach `end` exactly; their offsets go to frames.
bool ChainReaches(const Bytes& b, int64_t at, int64_t end, std::vector<int64_t>* frames) {
  Header h;
  while (at < end) {
    if (!ReadHeader(b, at, &h)) return false;
    if (frames) frames->push_back(at);
    at += h.length;
  }
  return at == end;
}

::testing::AssertionResult ReadLayout(const Bytes& b, Layout* out) {
  Layout l;
  const int64_t size = static_cast<int64_t>(b.size());
  while (l.id3v2End + 10 <= size && std::memcmp(b.data() + l.id3v2End, "ID3", 3) == 0) {
    const uint8_t* t = b.data() + l.id3v2End;
    int64_t body = (int64_t{t[6]} << 21) | (int64_t{t[7]} << 14) | (int64_t{t[8]} << 7) | t[9];
    bool footer = t[3] >= 4 && (t[5] & 0x10) != 0;
    l.id3v2End += 10 + body + (footer ? 10 : 0);
  }
  l.hasId3v1 = size >= 128 && std::memcmp(b.data() + size - 128, "TAG", 3) == 0;
  l.audioEnd = l.hasId3v1 ? size - 128 : size;
  l.firstHeader = -1;
  for (int64_t p = l.id3v2End; p < l.audioEnd && l.firstHeader < 0; ++p) {
    if (b[p] == 0xFF && ChainReaches(b, p, l.audioEnd, nullptr)) l.firstHeader = p;
  }
  if (l.firstHeader < 0) return ::testing::AssertionFailure() << "no frame chain reaches the end of the audio";
  l.summaryFrame = IsSummaryFrame(b, l.firstHeader);
  Header h;
  ReadHeader(b, l.firstHeader, &h);
  l.audioStart = l.firstHeader + (l.summaryFrame ? h.length : 0);
  ChainReaches(b, l.audioStart, l.audioEnd, &l.frames);
  if (l.frames.empty()) return ::testing::AssertionFailure() << "no audio frames";
  ReadHeader(b, l.audioStart, &h);
  l.versionBits = h.versionBits;
  l.bitrateIndex = h.bitrateIndex;
  l.kbps = h.kbps;
  l.sampleRate = h.sampleRate;
  l.samplesPerFrame = h.versionBits == 3 ? 1152 : 576;
  for (int64_t f : l.frames) {
    Header each;
    ReadHeader(b, f, &each);
    if (each.bitrateIndex != l.bitrateIndex || each.sampleRate != l.sampleRate)
      return ::testing::AssertionFailure() << "frame at " << f << " changes bitrate or rate (not constant bitrate)";
  }
  for (int64_t p = l.audioStart, next = 0; p + 4 <= l.audioEnd; ++p) {
    if (next < static_cast<int64_t>(l.frames.size()) && p == l.frames[next]) {
      ++next;
      continue;
    }
    if (PassesHeaderTest(b.data() + p) && (b[p + 2] >> 4) == l.bitrateIndex) l.falseHeaders.push_back(p);
  }
  *out = l;
  return ::testing::AssertionSuccess();
}

// mpg123 as the player (shared support).
using snip::test::Decoded;
using snip::test::HaveTool;

Decoded Decode(const std::string& mp3, const TempDir& work, bool gapless = true) {
  return snip::test::Decode(mp3, work.Path(), gapless);
}

// ---------------------------------------------------------------------------

struct CorpusFile {
  const char* name;
  int kbps;
  int sampleRate;
};

// Every constant-bitrate file of the corpus: MPEG-1, MPEG-2 and MPEG-2.5 at
// low and high rates, and the tagged ones (ID3v2 with a picture holding
// false frame headers, UTF-16 text, a "Xing" title; ID3v1).
const CorpusFile kCbrFiles[] = {
    {"mpeg1-128", 128, 44100},     {"mpeg1-32-at-32k", 32, 32000},  {"mpeg1-320", 320, 48000},
    {"mpeg1-32", 32, 16000},       {"mpeg2-64", 64, 22050},         {"mpeg25-8", 8, 8000},
    {"mpeg25-16", 16, 8000},       {"mpeg25-16-at-11k", 16, 11025}, {"mpeg1-128-notag", 128, 44100},
    {"id3v2-picture", 128, 44100}, {"id3v2-utf16", 128, 44100},     {"xing-title", 128, 44100},
    {"id3v1", 128, 44100},         {"mpeg2-64-tagged", 64, 22050},
};

class RealFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    corpus_ = snip::test::CorpusDir();
    if (corpus_.empty()) GTEST_SKIP() << "no corpus (lame missing at build time)";
    if (!HaveTool("mpg123")) GTEST_SKIP() << "mpg123 is not installed";
  }

  std::string Path(const std::string& name) const { return corpus_ + name + ".mp3"; }

  snip::ScanResult Scan(const std::string& path) {
    snip::File file = snip::File::OpenRead(path);
    EXPECT_TRUE(file.IsOpen()) << path;
    if (!file.IsOpen()) return {};
    snip::ScanResult result = snip::SourceScan(file);
    if (result.outcome == snip::ScanOutcome::Accepted) {
      EXPECT_EQ(file.Tell(), result.audioStart) << "the scan leaves the file at the first audio frame";
    }
    return result;
  }

  snip::SplitJob Job(const std::string& source, const snip::ScanResult& scan, const std::vector<int32_t>& marks,
                     const TempDir& out) {
    snip::SplitJob job;
    job.sourcePath = source;
    job.folder = out.Path();
    job.nameTemplate = "%file% - %track%";
    job.bitrate = scan.bitrate;
    job.bitrateIndex = scan.bitrateIndex;
    job.firstFrame = scan.audioStart;
    for (int32_t m : marks) job.marks.push_back(snip::SplitMark{m, "", ""});
    return job;
  }

  std::string corpus_;
};

// The scan finds in real files what the test finds on its own: the first
// audio frame behind tags and the summary frame, and the bitrate.
TEST_F(RealFiles, ScanFindsTheFirstAudioFrameAndBitrate) {
  for (const CorpusFile& c : kCbrFiles) {
    SCOPED_TRACE(c.name);
    Bytes bytes = ReadBytes(Path(c.name));
    Layout l;
    ASSERT_TRUE(ReadLayout(bytes, &l));
    ASSERT_EQ(l.kbps, c.kbps) << "the corpus is not what this test expects";
    ASSERT_EQ(l.sampleRate, c.sampleRate) << "the corpus is not what this test expects";
    snip::ScanResult scan = Scan(Path(c.name));
    ASSERT_EQ(scan.outcome, snip::ScanOutcome::Accepted);
    EXPECT_EQ(scan.bitrate, l.kbps);
    EXPECT_EQ(scan.bitrateIndex, l.bitrateIndex);
    EXPECT_EQ(scan.id3v2Size, l.id3v2End);
    EXPECT_EQ(scan.firstHeader, l.firstHeader);
    EXPECT_EQ(scan.hasInfoFrame, l.summaryFrame);
    EXPECT_EQ(scan.audioStart, l.audioStart);
  }
}

// The checks below lean on mpg123 noticing broken streams and stale lengths;
// make sure it does, on the kind of damage a bad cut or join would do.
TEST_F(RealFiles, TheDecoderCheckSeesDamageAndStaleLengths) {
  TempDir work;
  Bytes plain = ReadBytes(Path("mpeg1-128-notag"));
  Layout l;
  ASSERT_TRUE(ReadLayout(plain, &l));
  Decoded whole = Decode(Path("mpeg1-128-notag"), work);
  ASSERT_TRUE(whole.ran);
  EXPECT_EQ(whole.complaints, "");
  EXPECT_EQ(whole.samples, l.AudioSamples());

  // A cut that misses a frame boundary leaves a broken frame behind.
  Bytes broken(plain.begin(), plain.begin() + l.frames[100] + 200);
  broken.insert(broken.end(), plain.begin() + l.frames[101] + 50, plain.end());
  WriteBytes(work.File("broken.mp3"), broken);
  Decoded d = Decode(work.File("broken.mp3"), work);
  ASSERT_TRUE(d.ran);
  EXPECT_NE(d.complaints, "");

  // Two files joined with their summary frames: the player believes the
  // first one.
  Bytes twice = ReadBytes(Path("mpeg1-128"));
  Append(twice, ReadBytes(Path("mpeg1-128")));
  WriteBytes(work.File("twice.mp3"), twice);
  Decoded alone = Decode(Path("mpeg1-128"), work);
  Decoded stale = Decode(work.File("twice.mp3"), work);
  ASSERT_TRUE(stale.ran);
  EXPECT_EQ(stale.announcedFrames, alone.announcedFrames);
  EXPECT_GT(alone.announcedFrames, 0);
}

// Each CBR file cut at four marks spread over it and one just before a false
// header in the audio: every track starts on the first real frame at or after
// its cut, decodes cleanly to the length of its span, and the tracks put back
// together are the source's audio.
TEST_F(RealFiles, TracksDecodeCleanlyToTheirSpansAndRebuildTheSource) {
  int filesWithTraps = 0;
  for (const CorpusFile& c : kCbrFiles) {
    SCOPED_TRACE(c.name);
    TempDir work;
    const std::string source = Path(c.name);
    Bytes src = ReadBytes(source);
    Layout l;
    ASSERT_TRUE(ReadLayout(src, &l));
    snip::ScanResult scan = Scan(source);
    ASSERT_EQ(scan.outcome, snip::ScanOutcome::Accepted);

    const int64_t total = l.Hundredths();
    const int64_t bph = l.kbps * 10 / 8;
    std::vector<int32_t> marks = {0};
    for (int permille : {171, 409, 663, 871}) marks.push_back(static_cast<int32_t>(total * permille / 1000));
    // One more cut that lands just before a false header in the audio, so
    // that the track must run on past it to the real frame.
    int64_t trap = -1;
    for (int64_t f : l.falseHeaders) {
      const int64_t mark = (f - l.audioStart) / bph;
      const int64_t cut = l.audioStart + mark * bph;
      // Half a second from the other marks: a decoder needs a few frames.
      const bool apart = std::all_of(marks.begin(), marks.end(), [&](int32_t m) { return std::llabs(m - mark) >= 50; });
      if (apart && l.FrameAtOrAfter(cut) > f) {
        marks.push_back(static_cast<int32_t>(mark));
        trap = f;
        break;
      }
    }
    std::sort(marks.begin(), marks.end());
    if (trap >= 0) ++filesWithTraps;
    snip::SplitSummary summary;
    ASSERT_EQ(snip::RunSplit(Job(source, scan, marks, work), snip::SplitHooks(), &summary),
              snip::SplitOutcome::Completed);
    ASSERT_EQ(summary.files.size(), marks.size());

    const Bytes tag = l.hasId3v1 ? Bytes(src.end() - 128, src.end()) : Bytes();
    Bytes rebuilt;
    for (size_t k = 0; k < marks.size(); ++k) {
      SCOPED_TRACE("track " + std::to_string(k + 1));
      Bytes track = ReadBytes(summary.files[k]);
      ASSERT_GE(track.size(), tag.size() + 4);
      EXPECT_TRUE(std::equal(tag.begin(), tag.end(), track.end() - static_cast<int64_t>(tag.size())))
          << "the source's ID3v1 tag ends every track";
      track.resize(track.size() - tag.size());

      const int64_t begin = l.audioStart + static_cast<int64_t>(rebuilt.size());
      const int64_t cut = l.audioStart + marks[k] * bph;
      EXPECT_EQ(begin, l.FrameAtOrAfter(cut)) << "the track starts on the first real frame from its cut";
      if (k == 0) {
        EXPECT_FALSE(IsSummaryFrame(track, 0)) << "track 1 carries no summary frame";
      }
      const int64_t end = begin + static_cast<int64_t>(track.size());
      ASSERT_LE(end, l.audioEnd);
      const int64_t frames = l.FrameIndex(end) - l.FrameIndex(begin);
      Append(rebuilt, track);

      Decoded d = Decode(summary.files[k], work);
      ASSERT_TRUE(d.ran);
      EXPECT_EQ(d.complaints, "");
      EXPECT_EQ(d.sampleRate, l.sampleRate);
      EXPECT_EQ(d.samples, frames * l.samplesPerFrame) << "every frame of the track decodes";
      const int64_t spanEnd = k + 1 < marks.size() ? int64_t{marks[k + 1]} * l.sampleRate / 100 : l.AudioSamples();
      const int64_t span = spanEnd - int64_t{marks[k]} * l.sampleRate / 100;
      EXPECT_LE(std::llabs(d.samples - span), l.samplesPerFrame) << "decoded length within one frame of the span";
      EXPECT_LE(std::llabs(d.announcedFrames - frames), 1) << "the player shows the track's own length";
    }
    EXPECT_EQ(static_cast<int64_t>(rebuilt.size()), l.audioEnd - l.audioStart);
    EXPECT_TRUE(rebuilt == Bytes(src.begin() + l.audioStart, src.begin() + l.audioEnd))
        << "the tracks hold the source's audio frames, in order, and nothing else";
  }
  // Most files of the corpus hold false headers where a cut can reach them.
  EXPECT_GE(filesWithTraps, 10);
}


// Offset of needle in hay at or after from; -1 when absent.
int64_t Find(const Bytes& hay, const Bytes& needle, int64_t from) {
  if (needle.empty()) return from;
  auto it = std::search(hay.begin() + from, hay.end(), needle.begin(), needle.end());
  return it == hay.end() ? -1 : it - hay.begin();
}

// Three tagged files joined: the result plays cleanly and shows the summed
// length; each input's ID3v2 tag and audio are there in order, its summary
// frame and ID3v1 tag are not.
TEST_F(RealFiles, JoinOfTaggedFilesShowsTheSummedLength) {
  TempDir work;
  const std::vector<std::string> names = {"xing-title", "id3v1", "id3v2-picture"};
  std::vector<std::string> inputs;
  int64_t sumFrames = 0, sumSamples = 0;
  double sumSeconds = 0;
  Layout l;
  std::vector<Bytes> files;
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    inputs.push_back(Path(name));
    files.push_back(ReadBytes(Path(name)));
    ASSERT_TRUE(ReadLayout(files.back(), &l));
    ASSERT_TRUE(l.summaryFrame) << "the inputs carry summary frames";
    Decoded d = Decode(Path(name), work, false);
    ASSERT_TRUE(d.ran);
    ASSERT_GT(d.announcedFrames, 0);
    sumFrames += d.announcedFrames;
    sumSeconds += d.announcedSeconds;
    sumSamples += d.samples;
  }
  const std::string joined = work.File("joined.mp3");
  ASSERT_EQ(snip::RunJoin(joined, inputs, snip::JoinHooks()), snip::JoinOutcome::Completed);

  const int inputsCount = static_cast<int>(names.size());
  const double frameSeconds = static_cast<double>(l.samplesPerFrame) / l.sampleRate;
  Decoded out = Decode(joined, work, false);
  ASSERT_TRUE(out.ran);
  EXPECT_EQ(out.complaints, "");
  // Without a summary frame mpg123 announces a length estimated from the
  // byte count and the first frame's size (the encoder's own 767-frame plain
  // stream is announced as 769 frames), so the announcement gets 1 % of slack
  // on top of one frame per input; a summary frame left in would announce the
  // first input's length alone. The decoded count below is exact.
  const double slack = 0.01;
  EXPECT_LE(std::llabs(out.announcedFrames - sumFrames), inputsCount + std::llround(sumFrames * slack))
      << "announced " << out.announcedFrames << " frames for " << sumFrames;
  EXPECT_LE(std::fabs(out.announcedSeconds - sumSeconds), inputsCount * frameSeconds + sumSeconds * slack)
      << "announced " << out.announcedSeconds << " s for " << sumSeconds << " s";
  EXPECT_LE(std::llabs(out.samples - sumSamples), int64_t{inputsCount} * l.samplesPerFrame)
      << "decoded " << out.samples << " samples for " << sumSamples;
  // A player that trims the encoders' delay and padding still plays it all.
  Decoded gapless = Decode(joined, work, true);
  ASSERT_TRUE(gapless.ran);
  EXPECT_EQ(gapless.complaints, "");
  EXPECT_GE(gapless.samples, sumSamples - int64_t{inputsCount} * 2 * l.samplesPerFrame);

  Bytes output = ReadBytes(joined);
  int64_t at = 0;
  for (size_t i = 0; i < files.size(); ++i) {
    SCOPED_TRACE(names[i]);
    const Bytes& in = files[i];
    ASSERT_TRUE(ReadLayout(in, &l));
    Bytes id3v2(in.begin(), in.begin() + l.id3v2End);
    Bytes summary(in.begin() + l.firstHeader, in.begin() + l.audioStart);
    Bytes audio(in.begin() + l.audioStart, in.begin() + l.audioEnd);
    int64_t tagAt = Find(output, id3v2, at);
    ASSERT_GE(tagAt, 0) << "the input's ID3v2 tag is kept";
    int64_t audioAt = Find(output, audio, tagAt + static_cast<int64_t>(id3v2.size()));
    ASSERT_GE(audioAt, 0) << "the input's audio frames follow, whole";
    EXPECT_EQ(Find(output, summary, 0), -1) << "the input's summary frame is left out";
    at = audioAt + static_cast<int64_t>(audio.size());
  }
  const int64_t size = static_cast<int64_t>(output.size());
  EXPECT_FALSE(size >= 128 && std::memcmp(output.data() + size - 128, "TAG", 3) == 0)
      << "the last input's ID3v1 tag is left out too";
}

// A plain stream (no tags, no summary frame) is cut and joined exactly as the
// cut-and-copy rules say: one cut copies the mark's bytes and runs on to the
// next header of the stream's bitrate; a join is the plain concatenation.
TEST_F(RealFiles, PlainStreamSplitsAndJoinsByteForByte) {
  TempDir work;
  const std::string source = Path("mpeg1-128-notag");
  Bytes src = ReadBytes(source);
  Layout l;
  ASSERT_TRUE(ReadLayout(src, &l));
  ASSERT_EQ(l.id3v2End, 0);
  ASSERT_FALSE(l.summaryFrame);
  ASSERT_FALSE(l.hasId3v1);
  snip::ScanResult scan = Scan(source);
  ASSERT_EQ(scan.outcome, snip::ScanOutcome::Accepted);
  ASSERT_EQ(scan.audioStart, 0);

  // The cut: the mark's bytes, then on to the first position that passes the
  // header test with the stream's bitrate index.
  const int32_t mark = 1037;
  const int64_t cut = int64_t{mark} * (l.kbps * 10 / 8);
  int64_t next = cut;
  while (next + 4 <= l.audioEnd &&
         !(snip::FrameHeaderTest(src.data() + next) && snip::HeaderBitrateIndex(src.data() + next) == l.bitrateIndex))
    ++next;
  ASSERT_EQ(next, l.FrameAtOrAfter(cut)) << "that position is a real frame here";

  snip::SplitSummary one;
  ASSERT_EQ(snip::RunSplit(Job(source, scan, {0, mark}, work), snip::SplitHooks(), &one),
            snip::SplitOutcome::Completed);
  ASSERT_EQ(one.files.size(), 2u);
  EXPECT_TRUE(ReadBytes(one.files[0]) == Bytes(src.begin(), src.begin() + next));
  EXPECT_TRUE(ReadBytes(one.files[1]) == Bytes(src.begin() + next, src.end()));

  // Joining the tracks gives the source back.
  ASSERT_EQ(snip::RunJoin(work.File("back.mp3"), one.files, snip::JoinHooks()), snip::JoinOutcome::Completed);
  EXPECT_TRUE(ReadBytes(work.File("back.mp3")) == src);

  // Many cuts, then a join of every track: the source again.
  TempDir many;
  snip::SplitSummary tracks;
  ASSERT_EQ(snip::RunSplit(Job(source, scan, {0, 111, 499, 527, 1234, 1700}, many), snip::SplitHooks(), &tracks),
            snip::SplitOutcome::Completed);
  ASSERT_EQ(tracks.files.size(), 6u);
  ASSERT_EQ(snip::RunJoin(work.File("again.mp3"), tracks.files, snip::JoinHooks()), snip::JoinOutcome::Completed);
  EXPECT_TRUE(ReadBytes(work.File("again.mp3")) == src);

  // Plain files of any origin are joined as they are: the encoder's stream
  // and one written frame by frame.
  snip::test::FrameShape shape;
  shape.versionBits = l.versionBits;
  shape.bitrateIndex = l.bitrateIndex;
  Bytes written = snip::test::MakeStream(shape, 40);
  WriteBytes(work.File("written.mp3"), written);
  ASSERT_EQ(snip::RunJoin(work.File("both.mp3"), {source, work.File("written.mp3")}, snip::JoinHooks()),
            snip::JoinOutcome::Completed);
  Bytes both = src;
  Append(both, written);
  EXPECT_TRUE(ReadBytes(work.File("both.mp3")) == both);
}

#else  // _WIN32

TEST(RealFiles, NeedsTheLinuxDecoder) { GTEST_SKIP() << "mpg123 and lame run on the Linux side only"; }

#endif

}  // namespace
