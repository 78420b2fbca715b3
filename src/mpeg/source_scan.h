// Examination of a chosen source: the first real frame header, the bitrate
// (constant, or variable with its average), the length of the audio, and the
// ID3v1 tag.
#pragma once

#include <cstdint>
#include <string>

#include "app/file_io.h"

struct PropertyEntry;

namespace snip {

enum class ScanOutcome { Accepted, NotLayer3, Unusable };

struct ScanResult {
  ScanOutcome outcome = ScanOutcome::Unusable;
  int32_t bitrate = 0;        // kbit/s
  int32_t bitrateIndex = 0;   // 0..14
  int64_t firstHeader = 0;    // offset of the first frame header
  int64_t audioStart = 0;     // first audio frame: after a leading Info frame, else firstHeader
  int64_t id3v2Size = 0;      // bytes of a leading ID3v2 tag (0 when none)
  bool hasInfoFrame = false;  // the first frame is the encoder's summary frame (see summaryName)

  // The audio frames from audioStart to the audio's end, walked one by one.
  // A stream is variable bitrate when its frames change bitrate or its
  // summary frame says so ("Xing", "VBRI"); bitrate is then the average over
  // the audio, rounded, and bitrateIndex that of the first audio frame.
  bool variableBitrate = false;
  const char* summaryName = "";  // "Info", "Xing" or "VBRI" when hasInfoFrame
  int64_t frames = 0;            // audio frames
  int64_t samples = 0;           // samples per channel the audio frames decode to
  int64_t audioBytes = 0;        // bytes of the audio frames
  int sampleRate = 0;            // Hz
  int encoderDelay = -1;         // samples, as the summary frame states them; -1 when it does not
  int encoderPadding = -1;

  // Length of the audio in hundredths of a second, rounded down.
  int64_t DurationHundredths() const { return sampleRate > 0 ? samples * 100 / sampleRate : 0; }
};

// How far the scan walks the audio frames: all of them (the page, `snipwise
// scan`), only until the stream is known to be of a variable bitrate (a
// split, which walks the frames itself), or only the first (a split with
// exact cuts, which cuts by sample time whatever the bitrate). Short of the
// whole, a variable-bitrate result's frames, samples and audioBytes cover
// only the frames walked, and bitrate is the first audio frame's; after the
// first frame alone, variableBitrate says only what the summary frame says.
// Opening walks the frames of the audio's first 256 KiB (or until the
// bitrate changes): a split on bytes begins after them, while a walk over
// the rest runs beside it.
enum class ScanDepth { Whole, UntilVariable, Opening, FirstFrame };

// Scans from the file's current position (the start of the file). On
// acceptance the file position is left at audioStart.
ScanResult SourceScan(File& file, ScanDepth depth = ScanDepth::Whole);

// Stores an accepted scan's values in the list, in the order "Bit Rate
// Binary", "Bit Rate", "First Frame" (audioStart), "Variable Bit Rate" (1 or
// 0), each replacing an older entry. 1 on success, 0 when a value could not
// be stored.
int StoreScanResult(PropertyEntry* list, const ScanResult& result);

// The bit rate as the Split page shows it: "Bit Rate: 128 kbps", or "Bit
// Rate: VBR, about 190 kbps" for a variable-bitrate source.
std::string BitRateText(bool variableBitrate, int kbps);

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
