#include "mpeg/source_scan.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "app/property_list.h"
#include "mpeg/frame_header.h"
#include "mpeg/frame_walk.h"
#include "mpeg/lame_tag.h"

namespace snip {

namespace {

// Longest frame of any layer (MPEG-2.5 Layer II, 160 kbit/s at 8 kHz, padded:
// 2881 bytes) and the four bytes of the header that follows it.
constexpr size_t kFrameBytes = 2896;
// Audio an opening scan walks (see ScanDepth::Opening).
constexpr int64_t kOpeningBytes = 256 * 1024;

const char kNotLayer3Message[] =
    "The MP3 you have selected to split cannot be used because it is not an MPEG Layer III file.";
const char kUnusableMessage[] =
    "The file you chose was either invalid, corrupted, or could not be opened at this time.";

// Reads up to n bytes at an absolute position; -1 on failure.
int64_t ReadAt(File& file, int64_t position, uint8_t* buffer, size_t n) {
  if (!file.Seek(position)) return -1;
  return file.ReadFull(buffer, n);
}

// Where the audio of a file ends: before a trailing ID3v1 tag when there is
// one, else at the end of the file. -1 on a read failure.
int64_t AudioEnd(File& file, int64_t size) {
  if (size < 128) return size;
  uint8_t tag[3];
  if (ReadAt(file, size - 128, tag, 3) != 3) return -1;
  return std::memcmp(tag, "TAG", 3) == 0 ? size - 128 : size;
}

// Skips the ID3v2 tags that follow one another from `from`; -1 on a read
// failure.
int64_t SkipId3v2Tags(File& file, int64_t from, int64_t size) {
  int64_t position = from;
  while (size - position >= 10) {
    uint8_t head[10];
    if (ReadAt(file, position, head, sizeof head) != 10) return -1;
    int64_t tagSize = Id3v2TagSize(head, sizeof head);
    if (tagSize == 0) break;
    position += tagSize;
  }
  return position;
}

enum class Search { Found, FreeFormat, NotFound, ReadError };

// The search reads this much at a time; a candidate header is confirmed
// inside the bytes already read (its frame and the header after it), so
// that no input, however many false headers it holds, is read twice.
constexpr size_t kSearchBytes = 64 * 1024;

// Looks for the first confirmed frame header from `start`. A free-format
// Layer III header right at `start` ends the search: its frame cannot be
// measured, so the file cannot be cut. On success the frame (with the header
// after it, as far as the data goes) is copied into frame.
Search FindFirstFrame(File& file, int64_t start, int64_t audioEnd, int64_t* offset, uint8_t* frame,
                      size_t* frameBytes) {
  std::vector<uint8_t> buffer(kSearchBytes);
  for (int64_t pos = start;;) {
    int64_t want = std::min<int64_t>(static_cast<int64_t>(kSearchBytes), audioEnd - pos);
    // Bytes past the audio's end are read as far as the window reaches, so
    // that a free-format header at the very start is still told apart.
    if (want < 4) want = std::min<int64_t>(4, static_cast<int64_t>(kSearchBytes));
    int64_t got = ReadAt(file, pos, buffer.data(), static_cast<size_t>(want));
    if (got < 0) return Search::ReadError;
    if (got < 4) return Search::NotFound;
    const bool endOfData = got < want || pos + got >= audioEnd;
    const size_t n = static_cast<size_t>(got);
    const uint8_t* data = buffer.data();
    size_t p = 0;
    bool refill = false;
    for (; p + 4 <= n; ++p) {
      if (data[p] != 0xFF || !FrameHeaderTest(data + p)) continue;
      int64_t at = pos + static_cast<int64_t>(p);
      if (at == start && HeaderLayerBits(data + p) == 1 && HeaderBitrateIndex(data + p) == 0) {
        return Search::FreeFormat;
      }
      if (at >= audioEnd) return Search::NotFound;
      size_t rest = std::min<size_t>(n - p, static_cast<size_t>(audioEnd - at));
      bool restEnds = endOfData || static_cast<int64_t>(rest) == audioEnd - at;
      if (rest < kFrameBytes && !restEnds) {
        refill = true;  // read again from this candidate on
        break;
      }
      if (ConfirmFrame(data + p, rest, restEnds) == FrameCheck::Yes) {
        *frameBytes = std::min(rest, kFrameBytes);
        std::memcpy(frame, data + p, *frameBytes);
        *offset = at;
        return Search::Found;
      }
    }
    if (!refill) {
      if (endOfData) return Search::NotFound;
      p = n - 3;  // the last three bytes begin no complete header yet
    }
    pos += static_cast<int64_t>(p);
  }
}

bool HasMarker(const uint8_t* frame, size_t frameLength, size_t at, const char* marker) {
  return at + 4 <= frameLength && std::memcmp(frame + at, marker, 4) == 0;
}

// Offset in a Layer III frame of an encoder's "Xing"/"Info" header: after
// the frame header, the CRC if any, and the side information.
size_t XingOffset(const uint8_t* h) {
  size_t sideInfo;
  if (HeaderVersionBits(h) == 3)
    sideInfo = HeaderMono(h) ? 17 : 32;
  else
    sideInfo = HeaderMono(h) ? 9 : 17;
  bool crc = (h[1] & 0x01) == 0;
  return 4 + (crc ? 2 : 0) + sideInfo;
}

// "VBRI" headers sit 32 bytes after the frame header.
constexpr size_t kVbriOffset = 36;

enum class FrameTag { None, Info, Vbr };

FrameTag ReadFrameTag(const uint8_t* frame, size_t bytes) {
  if (HeaderLayerBits(frame) != 1) return FrameTag::None;
  size_t length = static_cast<size_t>(Layer3FrameLength(frame));
  if (length > bytes) length = bytes;
  size_t at = XingOffset(frame);
  if (HasMarker(frame, length, at, "Xing") || HasMarker(frame, length, kVbriOffset, "VBRI")) return FrameTag::Vbr;
  if (HasMarker(frame, length, at, "Info")) return FrameTag::Info;
  return FrameTag::None;
}

}  // namespace

ScanResult SourceScan(File& file, ScanDepth depth) {
  ScanResult result;
  result.outcome = ScanOutcome::Unusable;
  int64_t begin = file.Tell();
  int64_t size = file.Size();
  if (begin < 0 || size < 0) return result;
  int64_t audioEnd = AudioEnd(file, size);
  int64_t start = audioEnd < 0 ? -1 : SkipId3v2Tags(file, begin, size);
  if (start < 0) return result;

  uint8_t frame[kFrameBytes];
  size_t frameBytes = 0;
  int64_t first = 0;
  if (FindFirstFrame(file, start, audioEnd, &first, frame, &frameBytes) != Search::Found) return result;
  if (HeaderLayerBits(frame) != 1) {
    result.outcome = ScanOutcome::NotLayer3;
    return result;
  }
  FrameTag tag = ReadFrameTag(frame, frameBytes);

  int64_t audio = first;
  const uint8_t* audioHeader = frame;
  uint8_t next[4];
  if (tag != FrameTag::None) {
    // The encoder's summary frame holds no audio: the tracks start after it,
    // and the bitrate is that of the audio frames.
    audio = first + Layer3FrameLength(frame);
    if (audio + 4 > audioEnd || ReadAt(file, audio, next, sizeof next) != 4 || !FrameHeaderTest(next)) return result;
    audioHeader = next;
  }
  int index = HeaderBitrateIndex(audioHeader);
  if (index == 0) return result;  // free format: frame lengths unknown

  StreamSummary summary;
  if (tag != FrameTag::None && ReadSummaryFrame(frame, frameBytes, &summary)) {
    result.encoderDelay = summary.encoderDelay;
    result.encoderPadding = summary.encoderPadding;
  }

  // Every audio frame, once: the length of the audio and whether the
  // bitrate changes from frame to frame.
  bool changes = false;
  {
    const bool whole = depth == ScanDepth::Whole;
    const bool brief = depth == ScanDepth::FirstFrame || depth == ScanDepth::Opening;
    FrameWalk walk(file, audio, audioEnd, brief ? 16 * 1024 : 64 * 1024);
    WalkFrame f;
    FrameWalk::Step step;
    while ((step = walk.Next(&f)) == FrameWalk::Step::Frame) {
      if (HeaderLayerBits(f.data) != 1) continue;
      if (result.frames == 0) result.sampleRate = SampleRateHz(HeaderVersionBits(f.data), HeaderSampleRateIndex(f.data));
      changes |= f.bitrateIndex != index;
      ++result.frames;
      result.samples += f.samples;
      result.audioBytes += f.size;
      if (!whole && (changes || tag == FrameTag::Vbr || depth == ScanDepth::FirstFrame)) break;
      if (depth == ScanDepth::Opening && walk.Position() - audio >= kOpeningBytes) break;
    }
    if (step == FrameWalk::Step::ReadError) return result;
  }
  if (result.frames == 0) return result;
  if (!file.Seek(audio)) return result;

  result.variableBitrate = changes || tag == FrameTag::Vbr;
  result.outcome = ScanOutcome::Accepted;
  result.bitrateIndex = index;
  result.bitrate = BitrateKbps(HeaderVersionBits(audioHeader), index);
  if (result.variableBitrate && depth == ScanDepth::Whole && result.samples > 0) {
    // Average over the audio: bits per second, in kbit/s, rounded.
    int64_t bitsPerSecondTimes1000 = result.audioBytes * 8 * result.sampleRate;
    result.bitrate = static_cast<int32_t>((bitsPerSecondTimes1000 + result.samples * 500) / (result.samples * 1000));
  }
  result.firstHeader = first;
  result.audioStart = audio;
  result.id3v2Size = start - begin;
  result.hasInfoFrame = tag != FrameTag::None;
  if (result.hasInfoFrame) {
    size_t at = XingOffset(frame);
    result.summaryName = HasMarker(frame, frameBytes, at, "Xing")   ? "Xing"
                         : HasMarker(frame, frameBytes, at, "Info") ? "Info"
                                                                    : "VBRI";
  }
  return result;
}

int StoreScanResult(PropertyEntry* list, const ScanResult& result) {
  if (!StoreScanValue(list, kPropBitRateBinary, "Bit Rate Binary", result.bitrateIndex)) return 0;
  if (!StoreScanValue(list, kPropBitRate, "Bit Rate", result.bitrate)) return 0;
  if (!StoreScanValue(list, kPropFirstFrame, "First Frame", result.audioStart)) return 0;
  if (!StoreScanValue(list, kPropVariableBitRate, "Variable Bit Rate", result.variableBitrate ? 1 : 0)) return 0;
  return 1;
}

std::string BitRateText(bool variableBitrate, int kbps) {
  char text[64];
  if (variableBitrate)
    std::snprintf(text, sizeof text, "Bit Rate: VBR, about %d kbps", kbps);
  else
    std::snprintf(text, sizeof text, "Bit Rate: %d kbps", kbps);
  return text;
}

const char* ScanMessage(ScanOutcome outcome) {
  switch (outcome) {
    case ScanOutcome::NotLayer3:
      return kNotLayer3Message;
    case ScanOutcome::Unusable:
      return kUnusableMessage;
    case ScanOutcome::Accepted:
      break;
  }
  return "";
}

bool ScanMessageIsInformation(ScanOutcome outcome) { return outcome == ScanOutcome::Unusable; }

int ReadId3v1Tag(File& file, uint8_t tag[128]) {
  int64_t size = file.Size();
  if (size < 128) return 0;
  if (ReadAt(file, size - 128, tag, 128) != 128) return 0;
  if (std::memcmp(tag, "TAG", 3) != 0) tag[0] = 0;
  return 1;
}

int64_t Id3v2TagSize(const uint8_t* data, size_t n) {
  if (n < 10 || std::memcmp(data, "ID3", 3) != 0) return 0;
  if (data[3] == 0xFF || data[4] == 0xFF) return 0;
  int64_t body = 0;
  for (int i = 6; i < 10; ++i) {
    if (data[i] & 0x80) return 0;  // sizes are stored 7 bits a byte
    body = (body << 7) | data[i];
  }
  bool footer = data[3] >= 4 && (data[5] & 0x10) != 0;
  return 10 + body + (footer ? 10 : 0);
}

bool LocateFirstFrame(File& file, int64_t from, int64_t* headerOffset, int* frameLength, bool* isInfoFrame,
                      bool* readFailed) {
  bool failed = false;
  if (!readFailed) readFailed = &failed;
  *readFailed = false;
  int64_t size = file.Size();
  if (size < 0 || from < 0) {
    *readFailed = size < 0;
    return false;
  }
  int64_t audioEnd = AudioEnd(file, size);
  int64_t start = audioEnd < 0 ? -1 : SkipId3v2Tags(file, from, size);
  if (start < 0) {
    *readFailed = true;
    return false;
  }
  uint8_t frame[kFrameBytes];
  size_t frameBytes = 0;
  int64_t first = 0;
  Search search = FindFirstFrame(file, start, audioEnd, &first, frame, &frameBytes);
  if (search != Search::Found) {
    *readFailed = search == Search::ReadError;
    return false;
  }
  *headerOffset = first;
  *frameLength = HeaderFrameLength(frame);
  *isInfoFrame = ReadFrameTag(frame, frameBytes) != FrameTag::None;
  return true;
}

}  // namespace snip
