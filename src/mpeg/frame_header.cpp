#include "mpeg/frame_header.h"

namespace snip {

namespace {

// Layer III bitrates in kbit/s: MPEG-1, then MPEG-2 and MPEG-2.5.
const int kLayer3Bitrates[2][15] = {
    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
};
// Layer I and II bitrates, needed only to measure their frames.
const int kLayer1Bitrates[2][15] = {
    {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
};
const int kLayer2Bitrates1[15] = {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384};

// Indexed by version bits (0 MPEG-2.5, 1 reserved, 2 MPEG-2, 3 MPEG-1).
const int kSampleRates[4][3] = {{11025, 12000, 8000}, {0, 0, 0}, {22050, 24000, 16000}, {44100, 48000, 32000}};

}  // namespace

bool FrameHeaderTest(const uint8_t* b) {
  if (b[0] != 0xFF || (b[1] & 0xE0) != 0xE0) return false;
  if (HeaderVersionBits(b) == 1) return false;
  if (HeaderLayerBits(b) == 0) return false;
  if (HeaderBitrateIndex(b) == 15) return false;
  if (HeaderSampleRateIndex(b) == 3) return false;
  if ((b[3] & 0x03) == 0x02) return false;
  return true;
}

int HeaderVersionBits(const uint8_t* b) { return (b[1] >> 3) & 0x03; }
int HeaderLayerBits(const uint8_t* b) { return (b[1] >> 1) & 0x03; }
int HeaderBitrateIndex(const uint8_t* b) { return (b[2] >> 4) & 0x0F; }
int HeaderSampleRateIndex(const uint8_t* b) { return (b[2] >> 2) & 0x03; }
bool HeaderPadding(const uint8_t* b) { return (b[2] & 0x02) != 0; }
bool HeaderMono(const uint8_t* b) { return ((b[3] >> 6) & 0x03) == 0x03; }

size_t Layer3SideInfoBytes(const uint8_t* b) {
  if (HeaderVersionBits(b) == 3) return HeaderMono(b) ? 17 : 32;
  return HeaderMono(b) ? 9 : 17;
}

int BitrateKbps(int versionBits, int bitrateIndex) {
  if (bitrateIndex < 0 || bitrateIndex > 14 || versionBits < 0 || versionBits > 3 || versionBits == 1) return 0;
  return kLayer3Bitrates[versionBits == 3 ? 0 : 1][bitrateIndex];
}

int SampleRateHz(int versionBits, int sampleRateIndex) {
  if (versionBits < 0 || versionBits > 3 || sampleRateIndex < 0 || sampleRateIndex > 2) return 0;
  return kSampleRates[versionBits][sampleRateIndex];
}

int Layer3FrameLength(const uint8_t* b) {
  if (HeaderLayerBits(b) != 1) return 0;
  return HeaderFrameLength(b);
}

int HeaderFrameLength(const uint8_t* b) {
  if (!FrameHeaderTest(b)) return 0;
  int version = HeaderVersionBits(b);
  int index = HeaderBitrateIndex(b);
  int rate = SampleRateHz(version, HeaderSampleRateIndex(b));
  int pad = HeaderPadding(b) ? 1 : 0;
  bool mpeg1 = version == 3;
  if (index == 0 || rate == 0) return 0;
  switch (HeaderLayerBits(b)) {
    case 1:  // Layer III: 1152 samples (MPEG-1) or 576 per frame
      return (mpeg1 ? 144000 : 72000) * BitrateKbps(version, index) / rate + pad;
    case 2:  // Layer II: 1152 samples
      return 144000 * (mpeg1 ? kLayer2Bitrates1[index] : kLayer3Bitrates[1][index]) / rate + pad;
    case 3:  // Layer I: 384 samples in 4-byte slots
      return (12000 * kLayer1Bitrates[mpeg1 ? 0 : 1][index] / rate + pad) * 4;
    default:
      return 0;
  }
}

FrameCheck ConfirmFrame(const uint8_t* data, size_t available, bool endOfData, int bitrateIndex) {
  if (available < 4) return endOfData ? FrameCheck::No : FrameCheck::NeedMore;
  if (!FrameHeaderTest(data)) return FrameCheck::No;
  if (bitrateIndex >= 0 && HeaderBitrateIndex(data) != bitrateIndex) return FrameCheck::No;
  size_t length = static_cast<size_t>(HeaderFrameLength(data));
  if (length == 0) return FrameCheck::No;
  if (available >= length + 4) {
    const uint8_t* next = data + length;
    bool same = FrameHeaderTest(next) && HeaderVersionBits(next) == HeaderVersionBits(data) &&
                HeaderLayerBits(next) == HeaderLayerBits(data) &&
                HeaderSampleRateIndex(next) == HeaderSampleRateIndex(data);
    return same ? FrameCheck::Yes : FrameCheck::No;
  }
  if (endOfData) return available == length ? FrameCheck::Yes : FrameCheck::No;
  return FrameCheck::NeedMore;
}

int BytesPerHundredth(int bitrateKbps) { return bitrateKbps * 10 / 8; }

}  // namespace snip
