// Examination of a chosen source: VBR refusal, the first real frame header,
// the bitrate, and the ID3v1 tag.
#pragma once

#include <cstdint>

#include "app/file_io.h"

struct PropertyEntry;

namespace snip {

enum class ScanOutcome { Accepted, Vbr, NotLayer3, Unusable };

struct ScanResult {
  ScanOutcome outcome = ScanOutcome::Unusable;
  int32_t bitrate = 0;        // kbit/s
  int32_t bitrateIndex = 0;   // 0..14
  int64_t firstHeader = 0;    // offset of the first frame header
  int64_t audioStart = 0;     // first audio frame: after a leading Info frame, else firstHeader
  int64_t id3v2Size = 0;      // bytes of a leading ID3v2 tag (0 when none)
  bool hasInfoFrame = false;  // the first frame is an "Info"/"Xing"-style frame
};

// Scans from the file's current position (the start of the file). On
// acceptance the file position is left at audioStart.
ScanResult SourceScan(File& file);

// Stores an accepted scan's values in the list, in the order "Bit Rate
// Binary", "Bit Rate", "First Frame" (audioStart), each replacing an older
// entry. 1 on success, 0 when a value could not be stored.
int StoreScanResult(PropertyEntry* list, const ScanResult& result);

// The message shown for a refused scan (caption "MP3 Snipwise").
const char* ScanMessage(ScanOutcome outcome);
// True when the refusal carries the information icon rather than the warning.
bool ScanMessageIsInformation(ScanOutcome outcome);

// Fills tag with the file's last 128 bytes when they begin with "TAG";
// otherwise tag[0] is 0. Fails (returns 0) when the file is shorter than 128
// bytes or cannot be read. Moves the file position.
int ReadId3v1Tag(File& file, uint8_t tag[128]);

// Size of an ID3v2 tag whose 10-byte header is at the start of data (header,
// body and footer), or 0 when data does not start with a valid one.
int64_t Id3v2TagSize(const uint8_t* data, size_t n);

// Offset of the confirmed first frame header at or after `from` (skipping a
// leading ID3v2 tag at `from`) and whether that frame is an "Info"/"Xing"/
// "VBRI" frame; returns false when no header is found or a read fails, and
// then tells, through readFailed when given, whether a read failed. Used by
// the join.
bool LocateFirstFrame(File& file, int64_t from, int64_t* headerOffset, int* frameLength, bool* isInfoFrame,
                      bool* readFailed = nullptr);

}  // namespace snip
