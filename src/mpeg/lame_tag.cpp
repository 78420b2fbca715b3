#include "mpeg/lame_tag.h"

#include <algorithm>
#include <cstring>

#include "mpeg/frame_header.h"

namespace snip {

namespace {

constexpr size_t kXingFieldsBytes = 120;  // id, flags, frames, bytes, table, quality
constexpr size_t kLameTagBytes = 36;
constexpr size_t kLameCrcAt = 34;  // the tag CRC's place inside the LAME tag
constexpr size_t kVbriAt = 36;     // "VBRI" sits 32 bytes after the header
constexpr size_t kMostTocPoints = 2048;

enum : uint32_t { kFlagFrames = 1, kFlagBytes = 2, kFlagToc = 4, kFlagQuality = 8 };

uint32_t Get32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}
uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
void Put32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}
void Put16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}

size_t XingAt(const uint8_t* h) { return 4 + ((h[1] & 0x01) == 0 ? 2 : 0) + Layer3SideInfoBytes(h); }

bool LooksLikeEncoder(const uint8_t* p) {
  return std::memcmp(p, "LAME", 4) == 0 || std::memcmp(p, "Lav", 3) == 0 || std::memcmp(p, "L3.99", 5) == 0 ||
         std::memcmp(p, "GOGO", 4) == 0;
}

// The summary frame's header for a stream whose frames have header src:
// Layer III, no CRC, no padding, no private bit, and the lowest bitrate whose
// frame holds the fields. Returns the frame's length, 0 when src is no Layer
// III header.
int SummaryHeader(const uint8_t* src, bool lameTag, uint8_t h[4]) {
  if (!FrameHeaderTest(src) || HeaderLayerBits(src) != 1) return 0;
  h[0] = 0xFF;
  h[1] = static_cast<uint8_t>((src[1] & 0x18) | 0xE3);
  h[3] = src[3];
  size_t need = XingAt(h) + kXingFieldsBytes + (lameTag ? kLameTagBytes : 0);
  for (int index = 1; index <= 14; ++index) {
    h[2] = static_cast<uint8_t>((index << 4) | (src[2] & 0x0C));
    int length = Layer3FrameLength(h);
    if (length > 0 && static_cast<size_t>(length) >= need) return length;
  }
  return 0;
}

}  // namespace

bool ReadSummaryFrame(const uint8_t* frame, size_t bytes, StreamSummary* summary) {
  *summary = StreamSummary{};
  if (bytes < 4 || !FrameHeaderTest(frame) || HeaderLayerBits(frame) != 1) return false;
  size_t length = static_cast<size_t>(Layer3FrameLength(frame));
  if (length == 0) return false;
  length = std::min(length, bytes);

  size_t at = XingAt(frame);
  if (at + 8 <= length && (std::memcmp(frame + at, "Xing", 4) == 0 || std::memcmp(frame + at, "Info", 4) == 0)) {
    StreamSummary s;
    s.kind = frame[at] == 'X' ? SummaryKind::Xing : SummaryKind::Info;
    s.frameLength = Layer3FrameLength(frame);
    uint32_t flags = Get32(frame + at + 4);
    size_t p = at + 8;
    if (flags & kFlagFrames) {
      if (p + 4 > length) return false;
      s.hasFrames = true;
      s.frames = Get32(frame + p);
      p += 4;
    }
    if (flags & kFlagBytes) {
      if (p + 4 > length) return false;
      s.hasBytes = true;
      s.bytes = Get32(frame + p);
      p += 4;
    }
    if (flags & kFlagToc) {
      if (p + 100 > length) return false;
      s.hasToc = true;
      std::memcpy(s.toc, frame + p, 100);
      p += 100;
    }
    if (flags & kFlagQuality) {
      if (p + 4 > length) return false;
      s.hasQuality = true;
      s.quality = Get32(frame + p);
      p += 4;
    }
    if (p + kLameTagBytes <= length) {
      const uint8_t* t = frame + p;
      uint16_t stored = Get16(t + kLameCrcAt);
      bool crcValid = Crc16(frame, p + kLameCrcAt) == stored;
      if (crcValid || LooksLikeEncoder(t)) {
        s.hasLameTag = true;
        s.tagCrcValid = crcValid;
        s.tagCrc = stored;
        for (size_t i = 0; i < 9; ++i) s.encoder[i] = (t[i] >= 0x20 && t[i] < 0x7F) ? static_cast<char>(t[i]) : '\0';
        s.tagRevision = t[9] >> 4;
        s.vbrMethod = t[9] & 0x0F;
        s.lowpass = t[10];
        s.encoderDelay = (t[21] << 4) | (t[22] >> 4);
        s.encoderPadding = ((t[22] & 0x0F) << 8) | t[23];
        s.musicLength = Get32(t + 28);
        s.musicCrc = Get16(t + 32);
      }
    }
    *summary = s;
    return true;
  }
  if (kVbriAt + 26 <= length && std::memcmp(frame + kVbriAt, "VBRI", 4) == 0) {
    const uint8_t* v = frame + kVbriAt;
    summary->kind = SummaryKind::Vbri;
    summary->frameLength = Layer3FrameLength(frame);
    summary->encoderDelay = Get16(v + 6);
    summary->hasQuality = true;
    summary->quality = Get16(v + 8);
    summary->hasBytes = true;
    summary->bytes = Get32(v + 10);
    summary->hasFrames = true;
    summary->frames = Get32(v + 14);
    return true;
  }
  return false;
}

int SummaryFrameLength(const uint8_t header[4], bool lameTag) {
  uint8_t h[4];
  return SummaryHeader(header, lameTag, h);
}

std::vector<uint8_t> BuildSummaryFrame(const SummaryFrameFields& fields) {
  uint8_t h[4];
  int length = SummaryHeader(fields.header, fields.lameTag, h);
  if (length == 0) return {};

  std::vector<uint8_t> frame(static_cast<size_t>(length), 0);
  std::memcpy(frame.data(), h, 4);
  uint8_t* x = frame.data() + XingAt(h);
  std::memcpy(x, fields.vbr ? "Xing" : "Info", 4);
  Put32(x + 4, kFlagFrames | kFlagBytes | kFlagToc | kFlagQuality);
  Put32(x + 8, fields.frames);
  Put32(x + 12, fields.bytes);
  std::memcpy(x + 16, fields.toc, 100);
  Put32(x + 116, fields.quality);
  if (fields.lameTag) {
    uint8_t* t = x + kXingFieldsBytes;
    std::memset(t, ' ', 9);
    std::memcpy(t, fields.encoder.data(), std::min<size_t>(fields.encoder.size(), 9));
    t[9] = static_cast<uint8_t>(((fields.tagRevision & 0x0F) << 4) | (fields.vbrMethod & 0x0F));
    t[10] = static_cast<uint8_t>(std::clamp(fields.lowpass, 0, 255));
    int delay = std::clamp(fields.encoderDelay, 0, 4095);
    int padding = std::clamp(fields.encoderPadding, 0, 4095);
    t[21] = static_cast<uint8_t>(delay >> 4);
    t[22] = static_cast<uint8_t>(((delay & 0x0F) << 4) | (padding >> 8));
    t[23] = static_cast<uint8_t>(padding & 0xFF);
    Put32(t + 28, fields.bytes);
    Put16(t + 32, fields.musicCrc);
    size_t crcAt = static_cast<size_t>(t - frame.data()) + kLameCrcAt;
    Put16(t + kLameCrcAt, Crc16(frame.data(), crcAt));
  }
  return frame;
}

void TocBuilder::Add(int64_t offset, int64_t samplesBefore) {
  if (seen_++ % stride_ != 0) return;
  if (points_.size() == kMostTocPoints) {
    // Keep every other point and from now on take half as many.
    size_t kept = 0;
    for (size_t i = 0; i < points_.size(); i += 2) points_[kept++] = points_[i];
    points_.resize(kept);
    stride_ *= 2;
    if ((seen_ - 1) % stride_ != 0) return;
  }
  points_.emplace_back(samplesBefore, offset);
}

void TocBuilder::Finish(int64_t totalBytes, int64_t totalSamples, uint8_t toc[100]) const {
  size_t at = 0;
  for (int i = 0; i < 100; ++i) {
    int64_t target = totalSamples * i / 100;
    while (at + 1 < points_.size() && points_[at + 1].first <= target) ++at;
    int64_t offset = points_.empty() ? 0 : points_[at].second;
    int64_t value = totalBytes > 0 ? offset * 256 / totalBytes : 0;
    toc[i] = static_cast<uint8_t>(std::clamp<int64_t>(value, 0, 255));
  }
}

void TakeEncoder(const StreamSummary& from, SummaryFrameFields* fields) {
  auto known = [](const char* encoder) {
    return std::strncmp(encoder, "LAME", 4) == 0 || std::strncmp(encoder, "Lavf", 4) == 0 ||
           std::strncmp(encoder, "Lavc", 4) == 0;
  };
  if (from.hasLameTag && known(from.encoder)) {
    fields->encoder = from.encoder;
    fields->tagRevision = from.tagRevision;
    fields->vbrMethod = from.vbrMethod;
    fields->lowpass = from.lowpass;
  } else {
    fields->encoder = "LAME3.100";
  }
  if (from.hasQuality) fields->quality = from.quality;
}

}  // namespace snip
