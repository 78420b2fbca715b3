// MPEG audio frame headers: the validity test and the fields the program uses.
#pragma once

#include <cstddef>
#include <cstdint>

namespace snip {

// Four bytes b0..b3, b0 the most significant, pass when the frame sync is
// all ones and no field holds a reserved value (version 01, layer 00,
// bitrate index 15, sampling-rate index 3, emphasis 10).
bool FrameHeaderTest(const uint8_t* b);

int HeaderVersionBits(const uint8_t* b);   // 3 = MPEG-1, 2 = MPEG-2, 0 = MPEG-2.5
int HeaderLayerBits(const uint8_t* b);     // 1 = Layer III, 2 = Layer II, 3 = Layer I
int HeaderBitrateIndex(const uint8_t* b);  // 0..15
int HeaderSampleRateIndex(const uint8_t* b);
bool HeaderPadding(const uint8_t* b);
bool HeaderMono(const uint8_t* b);

// Layer III bitrate in kbit/s for a version and index (0 for index 0 or out of range).
int BitrateKbps(int versionBits, int bitrateIndex);
// Sampling rate in Hz, 0 when reserved.
int SampleRateHz(int versionBits, int sampleRateIndex);
// Byte length of the Layer III frame this header starts; 0 when it cannot be
// computed (free format, reserved fields, not Layer III).
int Layer3FrameLength(const uint8_t* b);
// Byte length of the frame this header starts, for any layer (Layer I and II
// by their own bitrate tables); 0 when it cannot be computed.
int HeaderFrameLength(const uint8_t* b);
// Whether a real frame starts at data[0]: the header passes the test (and,
// when bitrateIndex >= 0, has that bitrate index) and the header that follows
// at the computed frame length (HeaderFrameLength) passes too with the same version,
// layer and sampling rate. A frame whose end is exactly the end of the data
// needs no follower when endOfData is set; when the follower lies beyond
// `available` bytes and the data goes on, the answer is NeedMore.
enum class FrameCheck { No, Yes, NeedMore };
FrameCheck ConfirmFrame(const uint8_t* data, size_t available, bool endOfData, int bitrateIndex = -1);

// Bytes of Layer III side information after the header (and its CRC):
// 32 for MPEG-1 stereo, 17 for MPEG-1 mono and MPEG-2/2.5 stereo, 9 for
// MPEG-2/2.5 mono.
size_t Layer3SideInfoBytes(const uint8_t* b);

// Bytes of audio per hundredth of a second: bitrate * 10 / 8.
int BytesPerHundredth(int bitrateKbps);

}  // namespace snip
