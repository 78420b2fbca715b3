#include "mpeg/source_scan.h"

#include <cstring>

#include "app/property_list.h"
#include "mpeg/frame_header.h"

namespace snip {

namespace {

// The scan reads the file in windows of 1004 bytes whose first 1000 bytes are
// start positions; the next window starts 1000 bytes on, so the windows
// overlap by 4 and every start offset is tested exactly once.
constexpr size_t kWindowBytes = 1004;
constexpr size_t kWindowPositions = 1000;
// Longest frame of any layer (MPEG-2.5 Layer II, 160 kbit/s at 8 kHz, padded:
// 2881 bytes) and the four bytes of the header that follows it.
constexpr size_t kFrameBytes = 2896;

const char kVbrMessage[] =
    "The MP3 you have selected to split cannot be used because it is a VBR (variable bit rate) file.  Please only "
    "use MP3s with fixed bit rates.";
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

// Reads the frame at `position` (with the header after it) into frame and
// tells whether a real frame starts there. Data is taken to end at audioEnd.
FrameCheck ConfirmAt(File& file, int64_t position, int64_t audioEnd, uint8_t* frame, size_t* got) {
  *got = 0;
  if (position >= audioEnd) return FrameCheck::No;
  int64_t left = audioEnd - position;
  size_t want = left < static_cast<int64_t>(kFrameBytes) ? static_cast<size_t>(left) : kFrameBytes;
  int64_t read = ReadAt(file, position, frame, want);
  if (read < 0) return FrameCheck::NeedMore;  // a read failure: no answer
  *got = static_cast<size_t>(read);
  bool endOfData = position + read >= audioEnd;
  FrameCheck check = ConfirmFrame(frame, *got, endOfData);
  // The buffer holds any frame with its follower, so NeedMore only comes
  // from a short read.
  return check;
}

enum class Search { Found, FreeFormat, NotFound, ReadError };

// Looks for the first confirmed frame header from `start`, window by window.
// A free-format Layer III header right at `start` ends the search: its frame
// cannot be measured, so the file cannot be cut.
Search FindFirstFrame(File& file, int64_t start, int64_t audioEnd, int64_t* offset, uint8_t* frame,
                      size_t* frameBytes) {
  uint8_t window[kWindowBytes];
  for (int64_t windowStart = start;; windowStart += kWindowPositions) {
    int64_t got = ReadAt(file, windowStart, window, kWindowBytes);
    if (got < 0) return Search::ReadError;
    if (got < 4) return Search::NotFound;
    size_t positions = static_cast<size_t>(got) - 3;
    if (positions > kWindowPositions) positions = kWindowPositions;
    for (size_t p = 0; p < positions; ++p) {
      const uint8_t* h = window + p;
      if (!FrameHeaderTest(h)) continue;
      int64_t at = windowStart + static_cast<int64_t>(p);
      if (at == start && HeaderLayerBits(h) == 1 && HeaderBitrateIndex(h) == 0) return Search::FreeFormat;
      FrameCheck check = ConfirmAt(file, at, audioEnd, frame, frameBytes);
      if (check == FrameCheck::NeedMore) return Search::ReadError;
      if (check == FrameCheck::Yes) {
        *offset = at;
        return Search::Found;
      }
    }
    if (got < static_cast<int64_t>(kWindowBytes)) return Search::NotFound;
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

ScanResult SourceScan(File& file) {
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
  if (tag == FrameTag::Vbr) {
    result.outcome = ScanOutcome::Vbr;
    return result;
  }

  int64_t audio = first;
  const uint8_t* audioHeader = frame;
  uint8_t next[4];
  if (tag == FrameTag::Info) {
    // The encoder's summary frame holds no audio: the tracks start after it,
    // and the bitrate is that of the audio frames.
    audio = first + Layer3FrameLength(frame);
    if (audio + 4 > audioEnd || ReadAt(file, audio, next, sizeof next) != 4 || !FrameHeaderTest(next)) return result;
    audioHeader = next;
  }
  int index = HeaderBitrateIndex(audioHeader);
  if (index == 0) return result;  // free format: frame lengths unknown
  if (!file.Seek(audio)) return result;

  result.outcome = ScanOutcome::Accepted;
  result.bitrateIndex = index;
  result.bitrate = BitrateKbps(HeaderVersionBits(audioHeader), index);
  result.firstHeader = first;
  result.audioStart = audio;
  result.id3v2Size = start - begin;
  result.hasInfoFrame = tag == FrameTag::Info;
  return result;
}

int StoreScanResult(PropertyEntry* list, const ScanResult& result) {
  if (!StoreScanValue(list, kPropBitRateBinary, "Bit Rate Binary", result.bitrateIndex)) return 0;
  if (!StoreScanValue(list, kPropBitRate, "Bit Rate", result.bitrate)) return 0;
  if (!StoreScanValue(list, kPropFirstFrame, "First Frame", static_cast<int32_t>(result.audioStart))) return 0;
  return 1;
}

const char* ScanMessage(ScanOutcome outcome) {
  switch (outcome) {
    case ScanOutcome::Vbr:
      return kVbrMessage;
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
