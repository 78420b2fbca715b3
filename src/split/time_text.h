// Cut times: the typed time text, its normal form and the player position.
#pragma once

#include <cstddef>
#include <cstdint>

namespace snip {

constexpr size_t kTimeTextChars = 9;    // characters of a typed time that count
constexpr size_t kTimeTextField = 22;   // the TrackMark's time text field with terminator

// Reads "mmm:ss.hh" the way the page does: at most the first 9 characters,
// minutes up to 3 digits, seconds up to 2 (at most 59), hundredths up to 2
// (optional, 0 when absent). Signs are refused. Returns false when refused.
bool ScanTimeText(const char* text, int32_t* offset);

// Reads a time given on the command line, strictly: "m:ss", "m:ss.hh" or
// "h:mm:ss.hh" (the hundredths optional everywhere), minutes of any number of
// digits in the first form, seconds and (with hours) minutes of one or two
// digits and below 60, hundredths of one or two digits read as a number, as
// the page reads them (4:05.5 is 4:05.05). Anything else in the text, signs
// and spaces included, refuses it, as does a time past the 32-bit count of
// hundredths.
bool ParseTimeArgument(const char* text, int32_t* offset);

// Writes offset (hundredths) as "%03u:%02u.%02u" into out (at least 10 chars).
void FormatTimeText(int32_t offset, char* out, size_t outSize);

// Converts a player position in milliseconds to a time text, truncating to
// hundredths. Replies from -9 to 0 give "000:00.00". Returns false (nothing
// to add) for replies below -9 and for 60000000 ms and more.
bool PlayerPositionToTimeText(int32_t ms, char* out, size_t outSize);

}  // namespace snip
