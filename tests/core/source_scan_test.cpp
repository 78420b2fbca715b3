#include "mpeg/source_scan.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/property_list.h"
#include "mpeg/frame_header.h"
#include "support/mpeg_frames.h"
#include "support/mpeg_tools.h"

namespace {

using snip::ScanOutcome;
using snip::test::Append;
using snip::test::FrameShape;
using snip::test::MakeFrame;
using snip::test::MakeJunk;
using snip::test::MakeStream;
using Bytes = std::vector<uint8_t>;

struct Scanned {
  snip::ScanResult result;
  int64_t position = -1;  // the file position after the scan
};

Scanned ScanFile(const std::string& path) {
  Scanned out;
  snip::File file = snip::File::OpenRead(path);
  EXPECT_TRUE(file.IsOpen()) << path;
  if (!file.IsOpen()) return out;
  out.result = snip::SourceScan(file);
  out.position = file.Tell();
  return out;
}

Scanned Scan(const Bytes& bytes) {
  snip::test::TempDir dir;
  std::string path = dir.File("source.mp3");
  snip::test::WriteBytes(path, bytes);
  return ScanFile(path);
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto& part : parts) Append(out, part);
  return out;
}

// A frame whose payload carries a marker at a byte offset from its start.
Bytes FrameWithMarker(const FrameShape& shape, size_t at, const char* marker) {
  Bytes frame = MakeFrame(shape, 99);
  std::memcpy(frame.data() + at, marker, 4);
  return frame;
}

// An ID3v2.3 text frame (id, size, flags, encoding byte, text).
Bytes TextFrame(const char* id, const Bytes& text) {
  Bytes frame(id, id + 4);
  uint32_t size = static_cast<uint32_t>(text.size());
  for (int shift = 24; shift >= 0; shift -= 8) frame.push_back(static_cast<uint8_t>(size >> shift));
  frame.push_back(0);
  frame.push_back(0);
  Append(frame, text);
  return frame;
}

Bytes Utf16Text(const std::string& ascii) {
  Bytes text = {1, 0xFF, 0xFE};  // UTF-16 with a byte-order mark
  for (char c : ascii) {
    text.push_back(static_cast<uint8_t>(c));
    text.push_back(0);
  }
  return text;
}

void ExpectAccepted(const Scanned& s, int bitrate, int index, int64_t first) {
  ASSERT_EQ(s.result.outcome, ScanOutcome::Accepted);
  EXPECT_EQ(s.result.bitrate, bitrate);
  EXPECT_EQ(s.result.bitrateIndex, index);
  EXPECT_EQ(s.result.firstHeader, first);
  EXPECT_EQ(s.result.audioStart, first);
  EXPECT_FALSE(s.result.hasInfoFrame);
  EXPECT_FALSE(s.result.variableBitrate);
  EXPECT_EQ(s.position, first) << "the file is left at the first frame";
}

TEST(SourceScan, StreamAtTheStart) {
  ExpectAccepted(Scan(MakeStream(FrameShape{}, 10)), 128, 9, 0);
  // A stream of a single frame needs no follower.
  ExpectAccepted(Scan(MakeStream(FrameShape{}, 1)), 128, 9, 0);
}

TEST(SourceScan, HeadersAtWindowEdgesAreFoundOnce) {
  for (size_t offset : {1u, 996u, 997u, 999u, 1000u, 1001u, 1003u, 1004u, 1999u, 2000u, 5123u}) {
    SCOPED_TRACE(offset);
    ExpectAccepted(Scan(Concat({MakeJunk(offset), MakeStream(FrameShape{}, 4)})), 128, 9, static_cast<int64_t>(offset));
  }
}

TEST(SourceScan, BitrateFromTheRowOfTheVersion) {
  struct Case {
    int version, rateIndex, index, kbps;
  };
  for (const Case& c : {Case{3, 0, 9, 128}, Case{0, 0, 9, 80}, Case{2, 1, 9, 80}, Case{0, 2, 1, 8}, Case{3, 2, 1, 32},
                        Case{3, 1, 14, 320}, Case{2, 0, 14, 160}, Case{0, 1, 2, 16}}) {
    SCOPED_TRACE(testing::Message() << c.version << " " << c.rateIndex << " " << c.index);
    FrameShape shape;
    shape.versionBits = c.version;
    shape.sampleRateIndex = c.rateIndex;
    shape.bitrateIndex = c.index;
    ExpectAccepted(Scan(Concat({MakeJunk(50), MakeStream(shape, 3)})), c.kbps, c.index, 50);
  }
}

// Frames of another layer, of a given length, with payloads free of 0xFF.
Bytes LayerFrames(const FrameShape& shape, size_t length, int count) {
  Bytes out;
  for (int i = 0; i < count; ++i) {
    auto h = snip::test::MakeHeader(shape);
    Append(out, Bytes(h.begin(), h.end()));
    Append(out, MakeJunk(length - 4, static_cast<uint32_t>(i + 5)));
  }
  return out;
}

TEST(SourceScan, OtherLayersFirstAreRefused) {
  FrameShape layer2;  // Layer II, 32 kbit/s, 44.1 kHz: 104 bytes
  layer2.layerBits = 2;
  layer2.bitrateIndex = 1;
  EXPECT_EQ(Scan(Concat({LayerFrames(layer2, 104, 3), MakeStream(FrameShape{}, 3)})).result.outcome,
            ScanOutcome::NotLayer3);
  FrameShape layer1;  // Layer I, 32 kbit/s, 44.1 kHz: 32 bytes
  layer1.layerBits = 3;
  layer1.bitrateIndex = 1;
  EXPECT_EQ(Scan(Concat({MakeJunk(1200), LayerFrames(layer1, 32, 3)})).result.outcome, ScanOutcome::NotLayer3);
  FrameShape mpeg2Layer2;  // MPEG-2 Layer II, 8 kbit/s, 22.05 kHz: 52 bytes
  mpeg2Layer2.layerBits = 2;
  mpeg2Layer2.versionBits = 2;
  mpeg2Layer2.bitrateIndex = 1;
  EXPECT_EQ(Scan(LayerFrames(mpeg2Layer2, 52, 3)).result.outcome, ScanOutcome::NotLayer3);
  // A lone Layer II header that no frame follows does not decide.
  Bytes lone = MakeJunk(300);
  auto h = snip::test::MakeHeader(layer2);
  std::memcpy(lone.data() + 100, h.data(), 4);
  ExpectAccepted(Scan(Concat({lone, MakeStream(FrameShape{}, 3)})), 128, 9, 300);
}

TEST(SourceScan, FilesWithoutUsableFramesAreUnusable) {
  EXPECT_EQ(Scan({}).result.outcome, ScanOutcome::Unusable) << "empty";
  EXPECT_EQ(Scan({0xFF, 0xFB, 0x90}).result.outcome, ScanOutcome::Unusable) << "three bytes";
  EXPECT_EQ(Scan(MakeJunk(4321)).result.outcome, ScanOutcome::Unusable) << "junk";
  std::string text;
  while (text.size() < 3000) text += "The quick brown fox jumps over the lazy dog.\r\n";
  EXPECT_EQ(Scan(Bytes(text.begin(), text.end())).result.outcome, ScanOutcome::Unusable) << "text";
  Bytes ones(3000, 0xFF);
  EXPECT_EQ(Scan(ones).result.outcome, ScanOutcome::Unusable) << "all ones: no header passes";
  // A header whose frame runs past the end of the file.
  Bytes cut = MakeFrame(FrameShape{});
  cut.pop_back();
  EXPECT_EQ(Scan(cut).result.outcome, ScanOutcome::Unusable) << "truncated frame";
  // Free format: the frame length is unknown, so no cut can be computed.
  FrameShape freeFormat;
  freeFormat.bitrateIndex = 0;
  EXPECT_EQ(Scan(MakeStream(freeFormat, 5)).result.outcome, ScanOutcome::Unusable);
}

TEST(SourceScan, FalseHeadersBeforeTheStreamAreSkipped) {
  // A valid-looking MPEG-1 160 kbit/s header in junk, not followed by a frame.
  Bytes junk = MakeJunk(1500);
  const uint8_t falseHeader[4] = {0xFF, 0xFB, 0xA0, 0x00};
  std::memcpy(junk.data() + 998, falseHeader, 4);  // across two windows
  std::memcpy(junk.data() + 10, falseHeader, 4);
  ExpectAccepted(Scan(Concat({junk, MakeStream(FrameShape{}, 3)})), 128, 9, 1500);
}

TEST(SourceScan, Id3v2TagIsSkipped) {
  FrameShape shape;
  shape.bitrateIndex = 5;  // 64 kbit/s
  // UTF-16 title whose byte-order mark reads as a Layer I header.
  Bytes tag = snip::test::MakeId3v2Tag(TextFrame("TIT2", Utf16Text("Title")), 200);
  ExpectAccepted(Scan(Concat({tag, MakeStream(shape, 4)})), 64, 5, static_cast<int64_t>(tag.size()));
  EXPECT_EQ(Scan(Concat({tag, MakeStream(shape, 4)})).result.id3v2Size, static_cast<int64_t>(tag.size()));

  // A picture holding two false headers one frame apart: a stream to the
  // confirmation, but inside the tag.
  Bytes picture = {0, 'i', 'm', 'a', 'g', 'e', '/', 'j', 'p', 'e', 'g', 0, 3, 0, 0xFF, 0xD8, 0xFF, 0xE0};
  Append(picture, MakeStream(FrameShape{}, 2));
  Append(picture, {0xFF, 0xD9});
  Bytes apic = TextFrame("APIC", picture);
  tag = snip::test::MakeId3v2Tag(apic);
  ExpectAccepted(Scan(Concat({tag, MakeStream(shape, 4)})), 64, 5, static_cast<int64_t>(tag.size()));

  // A "Xing" title is tag text, not a VBR header.
  tag = snip::test::MakeId3v2Tag(TextFrame("TIT2", Utf16Text("Xing over the hills")));
  ExpectAccepted(Scan(Concat({tag, MakeStream(shape, 4)})), 64, 5, static_cast<int64_t>(tag.size()));
}

TEST(SourceScan, Id3v2FooterAndRepeatedTags) {
  // Version 4 with the footer flag: ten more bytes after the body.
  Bytes tag = {'I', 'D', '3', 4, 0, 0x10, 0, 0, 1, 0};  // body 128
  Append(tag, MakeJunk(128));
  Append(tag, {'3', 'D', 'I', 4, 0, 0x10, 0, 0, 1, 0});
  Scanned s = Scan(Concat({tag, MakeStream(FrameShape{}, 3)}));
  ExpectAccepted(s, 128, 9, 148);
  EXPECT_EQ(s.result.id3v2Size, 148);
  // Two tags in a row.
  Bytes two = Concat({snip::test::MakeId3v2Tag(Utf16Text("One")), snip::test::MakeId3v2Tag(Utf16Text("Two"), 700)});
  ExpectAccepted(Scan(Concat({two, MakeStream(FrameShape{}, 3)})), 128, 9, static_cast<int64_t>(two.size()));
  // A tag that claims more bytes than the file holds leaves nothing to scan.
  Bytes huge = {'I', 'D', '3', 3, 0, 0, 0x7F, 0x7F, 0x7F, 0x7F};
  EXPECT_EQ(Scan(Concat({huge, MakeStream(FrameShape{}, 3)})).result.outcome, ScanOutcome::Unusable);
}

TEST(SourceScan, Id3v2TagSize) {
  Bytes head = {'I', 'D', '3', 3, 0, 0, 0, 0, 2, 1};
  EXPECT_EQ(snip::Id3v2TagSize(head.data(), head.size()), 10 + 257);
  head = {'I', 'D', '3', 4, 0, 0, 1, 0, 0, 0};
  EXPECT_EQ(snip::Id3v2TagSize(head.data(), head.size()), 10 + (1 << 21));
  head[5] = 0x10;
  EXPECT_EQ(snip::Id3v2TagSize(head.data(), head.size()), 20 + (1 << 21)) << "footer";
  head[3] = 3;
  EXPECT_EQ(snip::Id3v2TagSize(head.data(), head.size()), 10 + (1 << 21)) << "no footer before version 4";
  head[6] = 0x80;
  EXPECT_EQ(snip::Id3v2TagSize(head.data(), head.size()), 0) << "size bytes keep their top bit clear";
  head = {'I', 'D', '3', 0xFF, 0, 0, 0, 0, 2, 1};
  EXPECT_EQ(snip::Id3v2TagSize(head.data(), head.size()), 0);
  head = {'I', 'D', '4', 3, 0, 0, 0, 0, 2, 1};
  EXPECT_EQ(snip::Id3v2TagSize(head.data(), head.size()), 0);
  EXPECT_EQ(snip::Id3v2TagSize(head.data(), 9), 0);
}

TEST(SourceScan, InfoFrameIsSkipped) {
  struct Case {
    int version, rateIndex;
    bool mono, crc;
    size_t at;
  };
  for (const Case& c : {Case{3, 0, false, false, 36}, Case{3, 0, true, false, 21}, Case{2, 0, false, false, 21},
                        Case{0, 2, true, false, 13}, Case{3, 1, false, true, 38}}) {
    SCOPED_TRACE(c.at);
    FrameShape info;
    info.versionBits = c.version;
    info.sampleRateIndex = c.rateIndex;
    info.mono = c.mono;
    info.bitrateIndex = 11;
    FrameShape audio = info;
    audio.bitrateIndex = 8;  // the bitrate comes from the audio frames
    Bytes first = FrameWithMarker(info, c.at, "Info");
    if (c.crc) first[1] &= 0xFE;
    Bytes tag = snip::test::MakeId3v2Tag(Utf16Text("Tagged"));
    Scanned s = Scan(Concat({tag, first, MakeStream(audio, 3)}));
    ASSERT_EQ(s.result.outcome, ScanOutcome::Accepted);
    EXPECT_TRUE(s.result.hasInfoFrame);
    EXPECT_EQ(s.result.firstHeader, static_cast<int64_t>(tag.size()));
    EXPECT_EQ(s.result.audioStart, static_cast<int64_t>(tag.size() + first.size()));
    EXPECT_EQ(s.position, s.result.audioStart);
    EXPECT_EQ(s.result.bitrateIndex, 8);
    EXPECT_EQ(s.result.bitrate, snip::BitrateKbps(c.version, 8));
  }
  // "Info" elsewhere in the frame is audio data.
  Scanned s = Scan(Concat({FrameWithMarker(FrameShape{}, 40, "Info"), MakeStream(FrameShape{}, 3)}));
  ExpectAccepted(s, 128, 9, 0);
  // An Info frame with no audio after it leaves nothing to cut.
  EXPECT_EQ(Scan(FrameWithMarker(FrameShape{}, 36, "Info")).result.outcome, ScanOutcome::Unusable);
}

// A summary frame that says "Xing" or "VBRI" makes a variable-bitrate source
// whose audio starts after it; "Xing" anywhere else is audio or junk.
TEST(SourceScan, XingAndVbriFramesMarkAVariableBitrateSource) {
  FrameShape mono;
  mono.mono = true;
  FrameShape half;
  half.versionBits = 2;
  struct Case {
    Bytes bytes;
    int64_t audioStart;
  };
  std::vector<Case> cases = {
      {Concat({FrameWithMarker(FrameShape{}, 36, "Xing"), MakeStream(FrameShape{}, 3)}), 417},
      {Concat({FrameWithMarker(mono, 21, "Xing"), MakeStream(mono, 3)}), 417},
      {Concat({FrameWithMarker(half, 21, "Xing"), MakeStream(half, 3)}), 261},
      {Concat({FrameWithMarker(FrameShape{}, 36, "VBRI"), MakeStream(FrameShape{}, 3)}), 417},
      {Concat({MakeJunk(700), FrameWithMarker(half, 36, "VBRI"), MakeStream(half, 3)}), 961},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.audioStart);
    Scanned s = Scan(c.bytes);
    ASSERT_EQ(s.result.outcome, ScanOutcome::Accepted);
    EXPECT_TRUE(s.result.variableBitrate);
    EXPECT_TRUE(s.result.hasInfoFrame);
    EXPECT_EQ(s.result.audioStart, c.audioStart);
    EXPECT_EQ(s.result.frames, 3);
    EXPECT_EQ(s.position, c.audioStart);
  }
  Bytes later = Concat({MakeStream(FrameShape{}, 2), FrameWithMarker(FrameShape{}, 36, "Xing")});
  ExpectAccepted(Scan(later), 128, 9, 0);
  Bytes junk = MakeJunk(300);
  std::memcpy(junk.data() + 20, "Xing", 4);
  ExpectAccepted(Scan(Concat({junk, MakeStream(FrameShape{}, 3)})), 128, 9, 300);
  ExpectAccepted(Scan(Concat({FrameWithMarker(FrameShape{}, 37, "Xing"), MakeStream(FrameShape{}, 3)})), 128, 9, 0);
}

// Frames that change bitrate make a variable-bitrate source without any
// summary frame; the bit rate is the average over the audio, and junk or a
// tag in the middle does not count.
TEST(SourceScan, FramesOfChangingBitrateAreVariableBitrate) {
  Bytes bytes;
  int64_t audioBytes = 0;
  const int indexes[] = {9, 9, 14, 5, 9, 11};
  for (int i = 0; i < 60; ++i) {
    FrameShape shape;
    shape.bitrateIndex = indexes[i % 6];
    Bytes frame = MakeFrame(shape, static_cast<uint32_t>(i));
    audioBytes += static_cast<int64_t>(frame.size());
    Append(bytes, frame);
    if (i == 30) Append(bytes, snip::test::MakeId3v2Tag(Utf16Text("Mid-stream"), 500));
  }
  Append(bytes, snip::test::MakeId3v1Tag("Song"));
  Scanned s = Scan(bytes);
  ASSERT_EQ(s.result.outcome, ScanOutcome::Accepted);
  EXPECT_TRUE(s.result.variableBitrate);
  EXPECT_FALSE(s.result.hasInfoFrame);
  EXPECT_EQ(s.result.frames, 60);
  EXPECT_EQ(s.result.samples, 60 * 1152);
  EXPECT_EQ(s.result.audioBytes, audioBytes);
  // (128 * 3 + 320 + 64 + 192) / 6 = 160 kbit/s, less what the frame
  // lengths round away.
  double seconds = 60 * 1152 / 44100.0;
  EXPECT_EQ(s.result.bitrate, static_cast<int>(audioBytes * 8 / seconds / 1000 + 0.5));
  EXPECT_NEAR(s.result.bitrate, 160, 1);
  EXPECT_EQ(snip::BitRateText(true, s.result.bitrate), "Bit Rate: VBR, about " + std::to_string(s.result.bitrate) +
                                                           " kbps");
  EXPECT_EQ(snip::BitRateText(false, 128), "Bit Rate: 128 kbps");
}

// Inputs full of false headers (every third byte starts one) or of nothing
// are searched in one pass: no byte is read twice, however many candidates
// fail their confirmation.
TEST(SourceScan, HostileInputsAreReadOnce) {
  Bytes falseHeaders;
  while (falseHeaders.size() < 3000000) {
    for (uint8_t b : {0xFF, 0xFB, 0x92}) falseHeaders.push_back(b);
  }
  for (const Bytes& bytes : {falseHeaders, Bytes(3000000, 0)}) {
    int64_t read = 0;
    snip::SetFileFaultHook([&read](snip::FileOp op, const std::string&, int64_t, size_t n) {
      if (op == snip::FileOp::Read) read += static_cast<int64_t>(n);
      return static_cast<int64_t>(n);
    });
    Scanned s = Scan(bytes);
    snip::SetFileFaultHook(nullptr);
    EXPECT_EQ(s.result.outcome, ScanOutcome::Unusable);
    EXPECT_LT(read, static_cast<int64_t>(bytes.size()) * 11 / 10);
  }
}

TEST(SourceScan, TrailingId3v1Tag) {
  // One frame and a tag: the audio ends where the tag begins.
  Bytes tag = snip::test::MakeId3v1Tag("Song");
  ExpectAccepted(Scan(Concat({MakeFrame(FrameShape{}), tag})), 128, 9, 0);
  ExpectAccepted(Scan(Concat({MakeJunk(10), MakeStream(FrameShape{}, 5), tag})), 128, 9, 10);
}

TEST(SourceScan, ReadFailureIsUnusable) {
  snip::SetFileFaultHook([](snip::FileOp op, const std::string&, int64_t, size_t n) {
    return op == snip::FileOp::Read ? -1 : static_cast<int64_t>(n);
  });
  Scanned s = Scan(MakeStream(FrameShape{}, 5));
  snip::SetFileFaultHook(nullptr);
  EXPECT_EQ(s.result.outcome, ScanOutcome::Unusable);
}

TEST(SourceScan, Messages) {
  EXPECT_STREQ(snip::ScanMessage(ScanOutcome::NotLayer3),
               "The MP3 you have selected to split cannot be used because it is not an MPEG Layer III file.");
  EXPECT_STREQ(snip::ScanMessage(ScanOutcome::Unusable),
               "The file you chose was either invalid, corrupted, or could not be opened at this time.");
  EXPECT_TRUE(snip::ScanMessageIsInformation(ScanOutcome::Unusable));
  EXPECT_FALSE(snip::ScanMessageIsInformation(ScanOutcome::NotLayer3));
}

// Release routine that counts each freed block by id.
std::vector<int32_t> freedIds;
void CountingRelease(PropertyEntry* entry, void* data, int32_t id, const char* name) {
  freedIds.push_back(id);
  ReleaseScanValue(entry, data, id, name);
}

std::vector<int32_t> Ids(PropertyEntry* list) {
  std::vector<int32_t> ids;
  for (PropertyEntry* e = list; e; e = e->next) ids.push_back(e->id);
  return ids;
}

TEST(SourceScan, StoredValuesReplaceOlderOnes) {
  PropertyEntry* list = CreatePropertyList(nullptr, nullptr, 0, nullptr);
  ASSERT_NE(list, nullptr);
  ASSERT_EQ(AddProperty(list, nullptr, nullptr, kPropSplitWindow, "Split Window"), 1);
  Scanned first = Scan(Concat({MakeJunk(77), MakeStream(FrameShape{}, 3)}));
  ASSERT_EQ(snip::StoreScanResult(list, first.result), 1);
  EXPECT_EQ(Ids(list), (std::vector<int32_t>{0, 4, 2, 1, 3, 8}));
  EXPECT_STREQ(list->next->next->name, "Bit Rate Binary");
  EXPECT_STREQ(list->next->next->next->name, "Bit Rate");
  EXPECT_STREQ(list->next->next->next->next->name, "First Frame");
  int32_t value = 0;
  ASSERT_TRUE(ReadScanValue(list, kPropBitRate, &value));
  EXPECT_EQ(value, 128);
  ASSERT_TRUE(ReadScanValue(list, kPropBitRateBinary, &value));
  EXPECT_EQ(value, 9);
  ASSERT_TRUE(ReadScanValue(list, kPropFirstFrame, &value));
  EXPECT_EQ(value, 77);

  // Watch the first scan's blocks go.
  for (PropertyEntry* e = list; e; e = e->next)
    if (e->release) e->release = CountingRelease;
  freedIds.clear();
  FrameShape shape;
  shape.versionBits = 0;
  shape.sampleRateIndex = 2;
  shape.bitrateIndex = 1;
  Bytes info = FrameWithMarker(shape, 21, "Info");
  Scanned second = Scan(Concat({info, MakeStream(shape, 3)}));
  ASSERT_EQ(snip::StoreScanResult(list, second.result), 1);
  EXPECT_EQ(freedIds, (std::vector<int32_t>{2, 1, 3, 8}));
  EXPECT_EQ(Ids(list), (std::vector<int32_t>{0, 4, 2, 1, 3, 8}));
  ASSERT_TRUE(ReadScanValue(list, kPropBitRate, &value));
  EXPECT_EQ(value, 8);
  ASSERT_TRUE(ReadScanValue(list, kPropBitRateBinary, &value));
  EXPECT_EQ(value, 1);
  ASSERT_TRUE(ReadScanValue(list, kPropFirstFrame, &value));
  EXPECT_EQ(value, static_cast<int32_t>(info.size())) << "the frame after the Info frame";
  FreePropertyList(list);
  EXPECT_EQ(freedIds.size(), 4u) << "the new blocks use the list's own release routine";
}

TEST(Id3v1Tag, PresentAbsentAndShortFiles) {
  snip::test::TempDir dir;
  Bytes tag = snip::test::MakeId3v1Tag("A title");
  uint8_t buffer[128];
  auto read = [&](const Bytes& bytes) {
    std::string path = dir.File("tag.mp3");
    snip::test::WriteBytes(path, bytes);
    snip::File file = snip::File::OpenRead(path);
    std::memset(buffer, 0x55, sizeof buffer);
    return snip::ReadId3v1Tag(file, buffer);
  };
  EXPECT_EQ(read(Concat({MakeStream(FrameShape{}, 3), tag})), 1);
  EXPECT_EQ(Bytes(buffer, buffer + 128), tag);
  EXPECT_EQ(read(tag), 1) << "a file that is only a tag";
  EXPECT_EQ(Bytes(buffer, buffer + 128), tag);
  EXPECT_EQ(read(MakeStream(FrameShape{}, 3)), 1);
  EXPECT_EQ(buffer[0], 0) << "no tag";
  Bytes tagged = Concat({MakeJunk(10), tag});
  tagged.pop_back();
  EXPECT_EQ(read(tagged), 1);
  EXPECT_EQ(buffer[0], 0) << "TAG not at 128 bytes from the end";
  EXPECT_EQ(read(Bytes(tag.begin(), tag.end() - 1)), 0) << "127 bytes";
  EXPECT_EQ(read({}), 0) << "empty";
}

// Encoder output. lame starts a file with an Info frame (not audio) unless
// told not to or the frame is too small to hold it.
TEST(SourceScanCorpus, EncoderOutputIsAcceptedWithItsBitrate) {
  std::string dir = snip::test::CorpusDir();
  if (dir.empty()) GTEST_SKIP() << "no corpus";
  struct Case {
    const char* name;
    int kbps;
    bool info;
  };
  for (const Case& c : {Case{"mpeg1-128", 128, true}, Case{"mpeg1-32", 32, false}, Case{"mpeg1-320", 320, true},
                        Case{"mpeg2-64", 64, true}, Case{"mpeg25-8", 8, false}, Case{"mpeg25-16", 16, false},
                        Case{"mpeg1-128-notag", 128, false}, Case{"id3v1", 128, true}}) {
    SCOPED_TRACE(c.name);
    Bytes bytes = snip::test::ReadBytes(dir + c.name + ".mp3");
    Scanned s = ScanFile(dir + c.name + ".mp3");
    ASSERT_EQ(s.result.outcome, ScanOutcome::Accepted);
    EXPECT_EQ(s.result.bitrate, c.kbps);
    EXPECT_EQ(s.result.hasInfoFrame, c.info);
    EXPECT_EQ(s.result.firstHeader, 0);
    ASSERT_LT(s.result.audioStart + 4, static_cast<int64_t>(bytes.size()));
    const uint8_t* audio = bytes.data() + s.result.audioStart;
    EXPECT_EQ(snip::HeaderBitrateIndex(audio), s.result.bitrateIndex);
    EXPECT_EQ(snip::BitrateKbps(snip::HeaderVersionBits(audio), s.result.bitrateIndex), c.kbps);
    if (c.info) {
      EXPECT_EQ(s.result.audioStart, snip::Layer3FrameLength(bytes.data()));
    }
  }
}

TEST(SourceScanCorpus, TaggedEncoderOutputStartsAfterItsTag) {
  std::string dir = snip::test::CorpusDir();
  if (dir.empty()) GTEST_SKIP() << "no corpus";
  for (const char* name : {"id3v2-picture", "id3v2-utf16", "xing-title", "mpeg2-64-tagged"}) {
    SCOPED_TRACE(name);
    Bytes bytes = snip::test::ReadBytes(dir + name + ".mp3");
    ASSERT_GT(bytes.size(), 10u);
    int64_t tagSize = snip::Id3v2TagSize(bytes.data(), bytes.size());
    ASSERT_GT(tagSize, 0);
    Scanned s = ScanFile(dir + name + ".mp3");
    ASSERT_EQ(s.result.outcome, ScanOutcome::Accepted);
    EXPECT_EQ(s.result.bitrate, std::string(name) == "mpeg2-64-tagged" ? 64 : 128);
    EXPECT_EQ(s.result.id3v2Size, tagSize);
    EXPECT_EQ(s.result.firstHeader, tagSize);
    EXPECT_TRUE(s.result.hasInfoFrame);
    EXPECT_EQ(s.result.audioStart, tagSize + snip::Layer3FrameLength(bytes.data() + tagSize));
  }
}

// lame's VBR and ABR files: variable bitrate, the audio after the Xing
// frame, the frame count and the encoder delay the LAME tag states.
TEST(SourceScanCorpus, VbrEncoderOutputIsAccepted) {
  std::string dir = snip::test::CorpusDir();
  if (dir.empty()) GTEST_SKIP() << "no corpus";
  for (const char* name : {"vbr", "vbr-v2", "abr-160", "vbr-mpeg2"}) {
    SCOPED_TRACE(name);
    Bytes bytes = snip::test::ReadBytes(dir + name + ".mp3");
    snip::test::FrameList list;
    ASSERT_TRUE(snip::test::ListFrames(bytes, &list));
    Scanned s = ScanFile(dir + name + ".mp3");
    ASSERT_EQ(s.result.outcome, ScanOutcome::Accepted);
    EXPECT_TRUE(s.result.variableBitrate);
    EXPECT_STREQ(s.result.summaryName, "Xing");
    EXPECT_EQ(s.result.firstHeader, list.summaryAt);
    ASSERT_FALSE(list.offsets.empty());
    EXPECT_EQ(s.result.audioStart, list.offsets[0]);
    EXPECT_EQ(s.result.frames, static_cast<int64_t>(list.offsets.size()));
    EXPECT_EQ(s.result.sampleRate, list.sampleRate);
    EXPECT_EQ(s.result.encoderDelay, 576);  // lame's own delay, stated in its tag
    EXPECT_GE(s.result.encoderPadding, 0);
    // 20 s of signal: frames times samples per frame cover it, with the
    // delay and padding.
    EXPECT_EQ(s.result.samples - s.result.encoderDelay - s.result.encoderPadding, 20 * list.sampleRate);
  }
}

TEST(LocateFirstFrame, FindsTheFirstFrameAndTellsInfoFrames) {
  snip::test::TempDir dir;
  auto locate = [&](const Bytes& bytes, int64_t from, int64_t* offset, int* length, bool* info) {
    std::string path = dir.File("in.mp3");
    snip::test::WriteBytes(path, bytes);
    snip::File file = snip::File::OpenRead(path);
    return snip::LocateFirstFrame(file, from, offset, length, info);
  };
  int64_t offset = -1;
  int length = 0;
  bool info = true;
  Bytes tag = snip::test::MakeId3v2Tag(Utf16Text("Title"), 300);
  Bytes plain = Concat({tag, MakeStream(FrameShape{}, 3)});
  ASSERT_TRUE(locate(plain, 0, &offset, &length, &info));
  EXPECT_EQ(offset, static_cast<int64_t>(tag.size()));
  EXPECT_EQ(length, 417);
  EXPECT_FALSE(info);

  FrameShape shape;
  shape.versionBits = 2;
  shape.bitrateIndex = 8;
  for (const char* marker : {"Info", "Xing"}) {
    Bytes withInfo = Concat({MakeJunk(40), tag, FrameWithMarker(shape, 21, marker), MakeStream(shape, 2)});
    ASSERT_TRUE(locate(withInfo, 40, &offset, &length, &info)) << marker;
    EXPECT_EQ(offset, static_cast<int64_t>(40 + tag.size()));
    EXPECT_EQ(length, 208);
    EXPECT_TRUE(info) << marker;
  }
  Bytes vbri = Concat({FrameWithMarker(shape, 36, "VBRI"), MakeStream(shape, 2)});
  ASSERT_TRUE(locate(vbri, 0, &offset, &length, &info));
  EXPECT_TRUE(info);
  EXPECT_FALSE(locate(MakeJunk(3000), 0, &offset, &length, &info));
  EXPECT_FALSE(locate({}, 0, &offset, &length, &info));
}

}  // namespace
