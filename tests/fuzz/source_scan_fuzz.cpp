// The source scan over any file: it always ends, and an accepted file has a
// real Layer III frame where the scan says, with the values the split needs
// (constant or variable bitrate), the file position left at the first audio
// frame.
#include <cstring>
#include <string>
#include <vector>

#include "app/file_io.h"
#include "app/property_list.h"
#include "fuzz_support.h"
#include "mpeg/frame_header.h"
#include "mpeg/source_scan.h"

namespace {

void CheckTag(const std::string& path, const uint8_t* data, size_t size) {
  snip::File file = snip::File::OpenRead(path);
  uint8_t tag[128];
  std::memset(tag, 0xAA, sizeof tag);
  int got = snip::ReadId3v1Tag(file, tag);
  if (size < 128) {
    FUZZ_CHECK(got == 0, "a file shorter than a tag gave a tag");
    return;
  }
  FUZZ_CHECK(got != 0, "the tag of a readable file could not be read");
  bool tagged = std::memcmp(data + size - 128, "TAG", 3) == 0;
  if (tagged) {
    FUZZ_CHECK(std::memcmp(tag, data + size - 128, 128) == 0, "the tag is not the file's last 128 bytes");
  } else {
    FUZZ_CHECK(tag[0] == 0, "an untagged file gave a tag");
  }
}

void CheckAccepted(snip::File& file, const snip::ScanResult& r, const uint8_t* data, size_t size) {
  const int64_t n = static_cast<int64_t>(size);
  int64_t audioEnd = n >= 128 && std::memcmp(data + size - 128, "TAG", 3) == 0 ? n - 128 : n;
  FUZZ_CHECK(r.firstHeader >= 0 && r.firstHeader + 4 <= audioEnd, "first header outside the audio");
  FUZZ_CHECK(r.audioStart >= r.firstHeader && r.audioStart + 4 <= audioEnd, "first audio frame outside the audio");
  FUZZ_CHECK(r.id3v2Size >= 0 && r.id3v2Size <= r.firstHeader, "the first frame lies inside the ID3v2 tag");
  FUZZ_CHECK(file.Tell() == r.audioStart, "file position not left at the first audio frame");

  const uint8_t* first = data + r.firstHeader;
  FUZZ_CHECK(snip::FrameHeaderTest(first), "first header fails the header test");
  FUZZ_CHECK(snip::HeaderLayerBits(first) == 1, "first header is not Layer III");
  size_t left = static_cast<size_t>(audioEnd - r.firstHeader);
  FUZZ_CHECK(snip::ConfirmFrame(first, left, true) == snip::FrameCheck::Yes, "first header is not a real frame");
  if (r.hasInfoFrame) {
    FUZZ_CHECK(r.audioStart == r.firstHeader + snip::Layer3FrameLength(first),
               "audio does not start right after the Info frame");
  } else {
    FUZZ_CHECK(r.audioStart == r.firstHeader, "audio start moved without an Info frame");
  }

  const uint8_t* audio = data + r.audioStart;
  FUZZ_CHECK(snip::FrameHeaderTest(audio), "first audio header fails the header test");
  FUZZ_CHECK(r.bitrateIndex >= 1 && r.bitrateIndex <= 14, "bitrate index " + std::to_string(r.bitrateIndex));
  FUZZ_CHECK(r.bitrateIndex == snip::HeaderBitrateIndex(audio), "bitrate index is not the header's");
  FUZZ_CHECK(r.frames >= 1 && r.samples % r.frames == 0 && r.audioBytes >= 4 * r.frames, "frame counts do not agree");
  FUZZ_CHECK(r.audioBytes <= audioEnd - r.audioStart, "more audio bytes than the file holds");
  if (r.variableBitrate) {
    // The average of frames whose bitrates all lie in the table's row.
    FUZZ_CHECK(r.bitrate >= 8 && r.bitrate <= 320, "average bitrate " + std::to_string(r.bitrate));
  } else {
    FUZZ_CHECK(r.bitrate == snip::BitrateKbps(snip::HeaderVersionBits(audio), r.bitrateIndex),
               "bitrate does not match the table");
    FUZZ_CHECK(snip::BytesPerHundredth(r.bitrate) > 0, "an accepted file gives no bytes per hundredth");
  }

  // The join's own search finds the same first frame.
  int64_t header = -1;
  int length = 0;
  bool info = false;
  FUZZ_CHECK(snip::LocateFirstFrame(file, 0, &header, &length, &info), "the join finds no frame in an accepted file");
  FUZZ_CHECK(header == r.firstHeader, "the join finds another first frame");
  FUZZ_CHECK(info == r.hasInfoFrame, "the join reads the Info frame differently");

  // The values go into the property list and replace older ones.
  PropertyEntry* list = CreatePropertyList(nullptr, nullptr, kPropRoot, nullptr);
  FUZZ_CHECK(snip::StoreScanResult(list, r) == 1, "scan values could not be stored");
  FUZZ_CHECK(snip::StoreScanResult(list, r) == 1, "scan values could not be stored twice");
  int32_t index = -1, bitrate = -1, firstFrame = -1;
  FUZZ_CHECK(ReadScanValue(list, kPropBitRateBinary, &index) && index == r.bitrateIndex, "stored index differs");
  FUZZ_CHECK(ReadScanValue(list, kPropBitRate, &bitrate) && bitrate == r.bitrate, "stored bitrate differs");
  FUZZ_CHECK(ReadScanValue(list, kPropFirstFrame, &firstFrame) && firstFrame == r.audioStart,
             "stored first frame differs");
  FreePropertyList(list);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = snip::fuzz::ScratchDir() + "source.mp3";
  snip::fuzz::WriteFileBytes(path, data, size);

  snip::File file = snip::File::OpenRead(path);
  FUZZ_CHECK(file.IsOpen(), "cannot open the input");
  snip::ScanResult r = snip::SourceScan(file);
  if (r.outcome == snip::ScanOutcome::Accepted) {
    CheckAccepted(file, r, data, size);
  } else {
    const char* message = snip::ScanMessage(r.outcome);
    FUZZ_CHECK(message != nullptr && message[0] != '\0', "a refusal has no message");
  }

  int64_t tagSize = snip::Id3v2TagSize(data, size);
  FUZZ_CHECK(tagSize == 0 || tagSize >= 10, "an ID3v2 tag smaller than its header");
  CheckTag(path, data, size);
  return 0;
}
