#include "mpeg/frame_header.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "support/mpeg_frames.h"

namespace {

using snip::FrameCheck;
using snip::test::FrameShape;
using snip::test::MakeHeader;
using snip::test::MakeStream;

std::vector<uint8_t> Bytes(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3) { return {b0, b1, b2, b3}; }

TEST(FrameHeaderTest, RefusesSyncAndEveryReservedField) {
  // MPEG-1 Layer III 128 kbit/s 44.1 kHz, no CRC: passes.
  EXPECT_TRUE(snip::FrameHeaderTest(Bytes(0xFF, 0xFB, 0x90, 0x64).data()));
  EXPECT_FALSE(snip::FrameHeaderTest(Bytes(0xFE, 0xFB, 0x90, 0x64).data())) << "sync, first byte";
  EXPECT_FALSE(snip::FrameHeaderTest(Bytes(0xFF, 0xDB, 0x90, 0x64).data())) << "sync, 11th bit";
  EXPECT_FALSE(snip::FrameHeaderTest(Bytes(0xFF, 0xEB, 0x90, 0x64).data())) << "version 01";
  EXPECT_FALSE(snip::FrameHeaderTest(Bytes(0xFF, 0xF9, 0x90, 0x64).data())) << "layer 00";
  EXPECT_FALSE(snip::FrameHeaderTest(Bytes(0xFF, 0xFB, 0xF0, 0x64).data())) << "bitrate index 15";
  EXPECT_FALSE(snip::FrameHeaderTest(Bytes(0xFF, 0xFB, 0x9C, 0x64).data())) << "sampling-rate index 3";
  EXPECT_FALSE(snip::FrameHeaderTest(Bytes(0xFF, 0xFB, 0x90, 0x66).data())) << "emphasis 10";
}

TEST(FrameHeaderTest, PassesWhatTheFieldsAllow) {
  EXPECT_TRUE(snip::FrameHeaderTest(Bytes(0xFF, 0xFB, 0x00, 0x64).data())) << "bitrate index 0";
  EXPECT_TRUE(snip::FrameHeaderTest(Bytes(0xFF, 0xFB, 0xE0, 0x64).data())) << "bitrate index 14";
  EXPECT_TRUE(snip::FrameHeaderTest(Bytes(0xFF, 0xFD, 0x90, 0x64).data())) << "Layer II";
  EXPECT_TRUE(snip::FrameHeaderTest(Bytes(0xFF, 0xFF, 0x90, 0x64).data())) << "Layer I";
  EXPECT_TRUE(snip::FrameHeaderTest(Bytes(0xFF, 0xFA, 0x90, 0x64).data())) << "CRC present";
  EXPECT_TRUE(snip::FrameHeaderTest(Bytes(0xFF, 0xF3, 0x90, 0x64).data())) << "MPEG-2";
  EXPECT_TRUE(snip::FrameHeaderTest(Bytes(0xFF, 0xE3, 0x90, 0x64).data())) << "MPEG-2.5";
  EXPECT_TRUE(snip::FrameHeaderTest(Bytes(0xFF, 0xFB, 0x93, 0xFD).data())) << "padding, private, flags, emphasis 01";
  EXPECT_TRUE(snip::FrameHeaderTest(Bytes(0xFF, 0xFB, 0x90, 0x67).data())) << "emphasis 11";
  // The byte-order mark of UTF-16 text (FF FE) is a Layer I header to the test.
  EXPECT_TRUE(snip::FrameHeaderTest(Bytes(0xFF, 0xFE, 0x54, 0x00).data()));
}

TEST(FrameHeaderTest, FieldAccessorsReadTheirBits) {
  FrameShape shape;
  shape.versionBits = 0;
  shape.layerBits = 2;
  shape.bitrateIndex = 13;
  shape.sampleRateIndex = 2;
  shape.padding = true;
  shape.mono = true;
  auto h = MakeHeader(shape);
  EXPECT_EQ(snip::HeaderVersionBits(h.data()), 0);
  EXPECT_EQ(snip::HeaderLayerBits(h.data()), 2);
  EXPECT_EQ(snip::HeaderBitrateIndex(h.data()), 13);
  EXPECT_EQ(snip::HeaderSampleRateIndex(h.data()), 2);
  EXPECT_TRUE(snip::HeaderPadding(h.data()));
  EXPECT_TRUE(snip::HeaderMono(h.data()));
  shape = FrameShape{};
  h = MakeHeader(shape);
  EXPECT_EQ(snip::HeaderVersionBits(h.data()), 3);
  EXPECT_EQ(snip::HeaderLayerBits(h.data()), 1);
  EXPECT_FALSE(snip::HeaderPadding(h.data()));
  EXPECT_FALSE(snip::HeaderMono(h.data()));
  // Joint stereo and dual channel are not mono.
  EXPECT_FALSE(snip::HeaderMono(Bytes(0xFF, 0xFB, 0x90, 0x40).data()));
  EXPECT_FALSE(snip::HeaderMono(Bytes(0xFF, 0xFB, 0x90, 0x80).data()));
}

TEST(FrameHeaderTest, BitrateRows) {
  EXPECT_EQ(snip::BitrateKbps(3, 9), 128);
  EXPECT_EQ(snip::BitrateKbps(0, 9), 80);
  EXPECT_EQ(snip::BitrateKbps(2, 9), 80);
  EXPECT_EQ(snip::BitrateKbps(3, 1), 32);
  EXPECT_EQ(snip::BitrateKbps(3, 14), 320);
  EXPECT_EQ(snip::BitrateKbps(2, 1), 8);
  EXPECT_EQ(snip::BitrateKbps(0, 14), 160);
  EXPECT_EQ(snip::BitrateKbps(3, 0), 0);
  EXPECT_EQ(snip::BitrateKbps(0, 0), 0);
  EXPECT_EQ(snip::BitrateKbps(3, 15), 0);
  EXPECT_EQ(snip::BitrateKbps(3, -1), 0);
  EXPECT_EQ(snip::BitrateKbps(1, 9), 0) << "reserved version";
  EXPECT_EQ(snip::SampleRateHz(3, 0), 44100);
  EXPECT_EQ(snip::SampleRateHz(2, 1), 24000);
  EXPECT_EQ(snip::SampleRateHz(0, 2), 8000);
  EXPECT_EQ(snip::SampleRateHz(3, 3), 0);
  EXPECT_EQ(snip::SampleRateHz(1, 0), 0);
}

TEST(FrameHeaderTest, Layer3FrameLengthForEveryVersionRateAndBitrate) {
  // Known lengths of encoder output.
  EXPECT_EQ(snip::Layer3FrameLength(Bytes(0xFF, 0xFB, 0x90, 0x64).data()), 417);
  EXPECT_EQ(snip::Layer3FrameLength(Bytes(0xFF, 0xFB, 0x92, 0x64).data()), 418);
  EXPECT_EQ(snip::Layer3FrameLength(Bytes(0xFF, 0xFB, 0xE4, 0x64).data()), 960);  // 320 kbit/s, 48 kHz
  EXPECT_EQ(snip::Layer3FrameLength(Bytes(0xFF, 0xF3, 0x80, 0x64).data()), 208);  // MPEG-2 64 kbit/s 22.05 kHz
  EXPECT_EQ(snip::Layer3FrameLength(Bytes(0xFF, 0xE3, 0x18, 0x64).data()), 72);   // MPEG-2.5 8 kbit/s 8 kHz
  EXPECT_EQ(snip::Layer3FrameLength(Bytes(0xFF, 0xE3, 0x20, 0x64).data()), 104);  // MPEG-2.5 16 kbit/s 11.025 kHz
  // Against the test writer's own arithmetic for every combination.
  for (int version : {3, 2, 0}) {
    for (int rate = 0; rate < 3; ++rate) {
      for (int index = 1; index < 15; ++index) {
        for (bool padding : {false, true}) {
          FrameShape shape;
          shape.versionBits = version;
          shape.sampleRateIndex = rate;
          shape.bitrateIndex = index;
          shape.padding = padding;
          auto h = MakeHeader(shape);
          EXPECT_EQ(snip::Layer3FrameLength(h.data()), snip::test::FrameLength(shape))
              << version << " " << rate << " " << index << " " << padding;
          EXPECT_EQ(snip::HeaderFrameLength(h.data()), snip::test::FrameLength(shape));
        }
      }
    }
  }
}

TEST(FrameHeaderTest, FrameLengthsThatCannotBeComputedOrAreOtherLayers) {
  EXPECT_EQ(snip::Layer3FrameLength(Bytes(0xFF, 0xFB, 0x00, 0x64).data()), 0) << "free format";
  EXPECT_EQ(snip::Layer3FrameLength(Bytes(0xFF, 0xFB, 0x9C, 0x64).data()), 0) << "reserved rate";
  EXPECT_EQ(snip::Layer3FrameLength(Bytes(0x00, 0xFB, 0x90, 0x64).data()), 0) << "no sync";
  EXPECT_EQ(snip::Layer3FrameLength(Bytes(0xFF, 0xFD, 0x90, 0x64).data()), 0) << "Layer II";
  // Layer II and I by their own tables.
  EXPECT_EQ(snip::HeaderFrameLength(Bytes(0xFF, 0xFD, 0x90, 0x64).data()), 522);   // II, 160 kbit/s, 44.1 kHz
  EXPECT_EQ(snip::HeaderFrameLength(Bytes(0xFF, 0xFD, 0x80, 0x64).data()), 417);   // II, 128 kbit/s, 44.1 kHz
  EXPECT_EQ(snip::HeaderFrameLength(Bytes(0xFF, 0xFD, 0xE4, 0x64).data()), 1152);  // II, 384 kbit/s, 48 kHz
  EXPECT_EQ(snip::HeaderFrameLength(Bytes(0xFF, 0xF5, 0xE8, 0x64).data()), 1440);  // MPEG-2 II, 160 kbit/s, 16 kHz
  EXPECT_EQ(snip::HeaderFrameLength(Bytes(0xFF, 0xFF, 0xC4, 0x64).data()), 384);   // I, 384 kbit/s, 48 kHz
  EXPECT_EQ(snip::HeaderFrameLength(Bytes(0xFF, 0xFF, 0x12, 0x64).data()), 36);    // I, 32 kbit/s, 44.1 kHz, padded
}

TEST(FrameHeaderTest, ConfirmFrameNeedsAMatchingFollower) {
  FrameShape shape;  // MPEG-1 128 kbit/s, 417 bytes
  auto stream = MakeStream(shape, 2);
  EXPECT_EQ(snip::ConfirmFrame(stream.data(), stream.size(), false), FrameCheck::Yes);
  EXPECT_EQ(snip::ConfirmFrame(stream.data(), 421, false), FrameCheck::Yes) << "the follower's header suffices";
  EXPECT_EQ(snip::ConfirmFrame(stream.data(), 420, false), FrameCheck::NeedMore);
  EXPECT_EQ(snip::ConfirmFrame(stream.data(), 2, false), FrameCheck::NeedMore);
  EXPECT_EQ(snip::ConfirmFrame(stream.data(), 2, true), FrameCheck::No);
  // The last frame of the data needs no follower, but must be whole.
  EXPECT_EQ(snip::ConfirmFrame(stream.data(), 417, true), FrameCheck::Yes);
  EXPECT_EQ(snip::ConfirmFrame(stream.data(), 416, true), FrameCheck::No);
  EXPECT_EQ(snip::ConfirmFrame(stream.data(), 419, true), FrameCheck::No) << "a partial follower";
  EXPECT_EQ(snip::ConfirmFrame(stream.data(), 417, false), FrameCheck::NeedMore);
  // The bitrate index filter applies to the candidate.
  EXPECT_EQ(snip::ConfirmFrame(stream.data(), stream.size(), false, 9), FrameCheck::Yes);
  EXPECT_EQ(snip::ConfirmFrame(stream.data(), stream.size(), false, 10), FrameCheck::No);
  // A candidate off by one byte is refused.
  EXPECT_EQ(snip::ConfirmFrame(stream.data() + 1, stream.size() - 1, false), FrameCheck::No);
}

TEST(FrameHeaderTest, ConfirmFrameRefusesFollowersOfAnotherStream) {
  FrameShape shape;
  auto check = [&](FrameShape follower) {
    auto bytes = snip::test::MakeFrame(shape);
    snip::test::Append(bytes, snip::test::MakeFrame(follower, 1));
    return snip::ConfirmFrame(bytes.data(), bytes.size(), true);
  };
  FrameShape other = shape;
  other.bitrateIndex = 11;
  EXPECT_EQ(check(other), FrameCheck::Yes) << "another bitrate is still the same stream";
  other = shape;
  other.padding = true;
  EXPECT_EQ(check(other), FrameCheck::Yes);
  other = shape;
  other.sampleRateIndex = 1;
  EXPECT_EQ(check(other), FrameCheck::No);
  other = shape;
  other.versionBits = 2;
  EXPECT_EQ(check(other), FrameCheck::No);
  other = shape;
  other.layerBits = 2;
  EXPECT_EQ(check(other), FrameCheck::No);
  // A follower that fails the test.
  auto bytes = snip::test::MakeFrame(shape);
  snip::test::Append(bytes, {0xFF, 0xFB, 0xF0, 0x00});
  EXPECT_EQ(snip::ConfirmFrame(bytes.data(), bytes.size(), true), FrameCheck::No);
  // Free format cannot be measured, so never confirmed.
  std::vector<uint8_t> freeFormat(2000, 0);
  std::memcpy(freeFormat.data(), Bytes(0xFF, 0xFB, 0x00, 0x64).data(), 4);
  EXPECT_EQ(snip::ConfirmFrame(freeFormat.data(), freeFormat.size(), true), FrameCheck::No);
}

TEST(FrameHeaderTest, ConfirmFrameMeasuresMpeg2AndMpeg25AndOtherLayers) {
  for (int version : {2, 0}) {
    FrameShape shape;
    shape.versionBits = version;
    shape.bitrateIndex = 1;
    shape.sampleRateIndex = 2;
    auto stream = MakeStream(shape, 2);
    EXPECT_EQ(snip::ConfirmFrame(stream.data(), stream.size(), true), FrameCheck::Yes);
    EXPECT_EQ(snip::ConfirmFrame(stream.data() + 1, stream.size() - 1, true), FrameCheck::No);
    auto single = MakeStream(shape, 1);
    EXPECT_EQ(snip::ConfirmFrame(single.data(), single.size(), true), FrameCheck::Yes);
    EXPECT_EQ(snip::ConfirmFrame(single.data(), single.size() - 1, true), FrameCheck::No);
  }
  // Layer II frames: 417 bytes at 128 kbit/s, 44.1 kHz; a follower at the
  // Layer III length of that header (112 kbit/s, 365 bytes) does not count.
  std::vector<uint8_t> layer2(417, 0x11);
  std::memcpy(layer2.data(), Bytes(0xFF, 0xFD, 0x80, 0x64).data(), 4);
  snip::test::Append(layer2, Bytes(0xFF, 0xFD, 0x80, 0x64));
  EXPECT_EQ(snip::ConfirmFrame(layer2.data(), layer2.size(), false), FrameCheck::Yes);
  std::memcpy(layer2.data() + 365, Bytes(0xFF, 0xFD, 0x80, 0x64).data(), 4);
  EXPECT_EQ(snip::ConfirmFrame(layer2.data(), 370, true), FrameCheck::No);
  // Layer I: 4-byte slots, 32 bytes at 32 kbit/s, 44.1 kHz.
  std::vector<uint8_t> layer1(32, 0x22);
  std::memcpy(layer1.data(), Bytes(0xFF, 0xFF, 0x10, 0x64).data(), 4);
  snip::test::Append(layer1, Bytes(0xFF, 0xFF, 0x10, 0x64));
  EXPECT_EQ(snip::ConfirmFrame(layer1.data(), layer1.size(), false), FrameCheck::Yes);
}

TEST(FrameHeaderTest, BytesPerHundredth) {
  EXPECT_EQ(snip::BytesPerHundredth(128), 160);
  EXPECT_EQ(snip::BytesPerHundredth(320), 400);
  EXPECT_EQ(snip::BytesPerHundredth(8), 10);
  EXPECT_EQ(snip::BytesPerHundredth(56), 70);
  EXPECT_EQ(snip::BytesPerHundredth(0), 0);
}

}  // namespace
