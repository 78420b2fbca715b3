// Summary frames: lame's own read back (counts, table, delay and padding, tag
// CRC), and ours built for every frame format, read back and played by
// mpg123 with the delay and padding it states.
#include "mpeg/lame_tag.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/mpeg_frames.h"
#include "support/mpeg_tools.h"

namespace {

using Bytes = std::vector<uint8_t>;
using namespace snip::test;

struct Source {
  const char* name;
  bool vbr;
  int64_t inputSamples;  // what lame read (told mono, it reads the stereo input as twice the samples)
  size_t xingAt;         // header and side information
};

const Source kSources[] = {
    {"vbr-v2", true, 882000, 36},     {"vbr-v6", true, 882000, 36},    {"abr-160", true, 882000, 36},
    {"vbr-mono", true, 1764000, 21},  {"vbr-mpeg2", true, 441000, 21}, {"vbr-mpeg2-mono", true, 882000, 13},
    {"mpeg1-128", false, 882000, 36}, {"mpeg2-64", false, 441000, 21},
};

void Toc(const FrameList& list, int64_t first, int64_t totalBytes, uint8_t toc[100]) {
  snip::TocBuilder builder;
  for (size_t i = 0; i < list.offsets.size(); ++i) {
    builder.Add(list.offsets[i] - first, static_cast<int64_t>(i) * list.samplesPerFrame);
  }
  builder.Finish(totalBytes, static_cast<int64_t>(list.offsets.size()) * list.samplesPerFrame, toc);
}

TEST(LameTag, Crc16IsTheArcCrc) {
  const char* check = "123456789";
  EXPECT_EQ(snip::Crc16(reinterpret_cast<const uint8_t*>(check), 9), 0xBB3D);
  // Continued in pieces it gives the same.
  uint16_t crc = snip::Crc16(reinterpret_cast<const uint8_t*>(check), 4);
  EXPECT_EQ(snip::Crc16(reinterpret_cast<const uint8_t*>(check) + 4, 5, crc), 0xBB3D);
  // Long runs, in pieces of every length around the eight-byte step and the
  // 16- and 64-byte steps of the folding, agree with the CRC taken bit by bit.
  std::vector<uint8_t> bytes(1500);
  uint32_t seed = 12345;
  for (uint8_t& b : bytes) b = static_cast<uint8_t>((seed = seed * 1103515245u + 12345u) >> 16);
  uint16_t reference = 0;
  for (uint8_t b : bytes) {
    reference = static_cast<uint16_t>(reference ^ b);
    for (int bit = 0; bit < 8; ++bit) {
      reference = static_cast<uint16_t>((reference & 1) ? (reference >> 1) ^ 0xA001 : reference >> 1);
    }
  }
  for (size_t cut : {0, 1, 2, 3, 7, 8, 9, 15, 16, 17, 63, 64, 65, 100, 1423, 1436, 1437, 1499, 1500}) {
    uint16_t head = snip::Crc16(bytes.data(), cut);
    EXPECT_EQ(snip::Crc16(bytes.data() + cut, bytes.size() - cut, head), reference) << cut;
    for (uint16_t way : snip::Crc16EveryWay(bytes.data() + cut, bytes.size() - cut, head)) {
      EXPECT_EQ(way, reference) << cut;
    }
  }
}

// lame's summary frames read as the file is: frame and byte counts, a table
// that agrees with one built from the frames, the delay and padding that
// account for every sample, and a tag CRC over the frame's bytes.
TEST(LameTag, ReadsTheEncodersSummaryFrames) {
  std::string corpus = CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "no corpus";
  for (const Source& s : kSources) {
    SCOPED_TRACE(s.name);
    Bytes bytes = ReadBytes(corpus + s.name + ".mp3");
    FrameList list;
    ASSERT_TRUE(ListFrames(bytes, &list));
    ASSERT_EQ(list.summaryAt, 0);
    snip::StreamSummary summary;
    ASSERT_TRUE(snip::ReadSummaryFrame(bytes.data(), bytes.size(), &summary));
    EXPECT_EQ(summary.kind, s.vbr ? snip::SummaryKind::Xing : snip::SummaryKind::Info);
    EXPECT_EQ(summary.frameLength, list.summarySize);
    EXPECT_TRUE(summary.hasFrames && summary.hasBytes && summary.hasToc);
    EXPECT_EQ(summary.frames, list.offsets.size());
    EXPECT_EQ(summary.bytes, list.audioEnd);
    ASSERT_TRUE(summary.hasLameTag);
    EXPECT_TRUE(summary.tagCrcValid);
    EXPECT_EQ(std::string(summary.encoder, 4), "LAME");
    EXPECT_EQ(summary.frames * list.samplesPerFrame - summary.encoderDelay - summary.encoderPadding, s.inputSamples);
    uint8_t toc[100];
    Toc(list, 0, list.audioEnd, toc);
    // lame samples the frames coarsely for its table: near, not equal.
    for (int i = 0; i < 100; ++i) EXPECT_NEAR(toc[i], summary.toc[i], 3) << "entry " << i;
    // Not a summary frame: the first audio frame.
    snip::StreamSummary none;
    EXPECT_FALSE(snip::ReadSummaryFrame(bytes.data() + list.offsets[0], bytes.size() - list.offsets[0], &none));
    EXPECT_EQ(none.kind, snip::SummaryKind::None);
  }
}

// Our summary frame in front of lame's audio frames, for every format (the
// side information 32, 17 or 9 bytes): it reads back field for field with a
// good tag CRC, and mpg123 takes its counts and its delay and padding.
TEST(LameTag, BuildsFramesThatReadBackAndPlay) {
  std::string corpus = CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "no corpus";
  if (!HaveTool("mpg123")) GTEST_SKIP() << "mpg123 is not installed";
  TempDir work;
  for (const Source& s : kSources) {
    SCOPED_TRACE(s.name);
    Bytes bytes = ReadBytes(corpus + s.name + ".mp3");
    FrameList list;
    ASSERT_TRUE(ListFrames(bytes, &list));
    Bytes audio(bytes.begin() + list.offsets[0], bytes.begin() + list.audioEnd);

    snip::SummaryFrameFields fields;
    std::memcpy(fields.header, audio.data(), 4);
    fields.vbr = s.vbr;
    fields.lameTag = true;
    fields.encoder = "Snipwise1";
    fields.encoderDelay = 1105;
    fields.encoderPadding = 1500;
    fields.musicCrc = snip::Crc16(audio.data(), audio.size());
    const int length = snip::SummaryFrameLength(fields.header, true);
    ASSERT_GT(length, 0);
    fields.frames = static_cast<uint32_t>(list.offsets.size());
    fields.bytes = static_cast<uint32_t>(length + audio.size());
    Toc(list, list.offsets[0] - length, fields.bytes, fields.toc);
    Bytes frame = snip::BuildSummaryFrame(fields);
    ASSERT_EQ(frame.size(), static_cast<size_t>(length));
    EXPECT_EQ(std::memcmp(frame.data() + s.xingAt, s.vbr ? "Xing" : "Info", 4), 0);
    EXPECT_LT(snip::SummaryFrameLength(fields.header, false), length + 1);

    snip::StreamSummary back;
    ASSERT_TRUE(snip::ReadSummaryFrame(frame.data(), frame.size(), &back));
    EXPECT_TRUE(back.tagCrcValid);
    EXPECT_EQ(back.frames, fields.frames);
    EXPECT_EQ(back.bytes, fields.bytes);
    EXPECT_EQ(std::memcmp(back.toc, fields.toc, 100), 0);
    EXPECT_STREQ(back.encoder, "Snipwise1");
    EXPECT_EQ(back.encoderDelay, 1105);
    EXPECT_EQ(back.encoderPadding, 1500);
    EXPECT_EQ(back.musicLength, fields.bytes);
    EXPECT_EQ(back.musicCrc, fields.musicCrc);

    Bytes file = frame;
    Append(file, audio);
    std::string path = work.File(std::string(s.name) + ".mp3");
    WriteBytes(path, file);
    Decoded d = Decode(path, work.Path());
    ASSERT_TRUE(d.ran);
    EXPECT_EQ(d.complaints, "");
    EXPECT_EQ(d.announcedFrames, static_cast<int64_t>(list.offsets.size()));
    EXPECT_EQ(d.samples, static_cast<int64_t>(list.offsets.size()) * list.samplesPerFrame - 1105 - 1500);
  }
}

// The table keeps its precision over a long stream in a bounded record.
TEST(LameTag, TableOfALongStream) {
  snip::TocBuilder builder;
  const int64_t frames = 3000000;  // about 21 hours at 44.1 kHz
  int64_t offset = 0;
  std::vector<int64_t> at(frames);
  for (int64_t i = 0; i < frames; ++i) {
    at[i] = offset;
    builder.Add(offset, i * 1152);
    offset += 200 + (i * 7919) % 900;
  }
  uint8_t toc[100];
  builder.Finish(offset, frames * 1152, toc);
  for (int i = 0; i < 100; ++i) {
    int64_t exact = at[static_cast<size_t>(frames * i / 100)] * 256 / offset;
    EXPECT_NEAR(toc[i], exact, 1) << i;
  }
}

}  // namespace
