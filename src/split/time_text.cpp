#include "split/time_text.h"

#include <cstdio>

namespace snip {

namespace {

bool IsScanSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reads an unsigned decimal field of at most maxDigits digits at text[*pos],
// after skipping white space, never reading at or past end.
bool ReadField(const char* text, size_t end, size_t* pos, size_t maxDigits, uint32_t* value) {
  size_t i = *pos;
  while (i < end && IsScanSpace(text[i])) ++i;
  size_t digits = 0;
  uint32_t v = 0;
  while (i < end && digits < maxDigits && IsDigit(text[i])) {
    v = v * 10 + static_cast<uint32_t>(text[i] - '0');
    ++i;
    ++digits;
  }
  if (digits == 0) return false;
  *pos = i;
  *value = v;
  return true;
}

}  // namespace

bool ScanTimeText(const char* text, int32_t* offset) {
  if (!text || !offset) return false;
  size_t end = 0;
  while (end < kTimeTextChars && text[end] != '\0') ++end;
  // A sign would give a negative or wrapped value: any sign among the
  // characters that count refuses the text.
  for (size_t i = 0; i < end; ++i) {
    if (text[i] == '+' || text[i] == '-') return false;
  }
  size_t pos = 0;
  uint32_t minutes = 0, seconds = 0, hundredths = 0;
  if (!ReadField(text, end, &pos, 3, &minutes)) return false;
  if (pos >= end || text[pos] != ':') return false;
  ++pos;
  if (!ReadField(text, end, &pos, 2, &seconds)) return false;
  if (seconds > 59) return false;
  if (pos < end && text[pos] == '.') {
    ++pos;
    if (!ReadField(text, end, &pos, 2, &hundredths)) hundredths = 0;
  }
  *offset = static_cast<int32_t>(hundredths + seconds * 100 + minutes * 6000);
  return true;
}

bool ParseTimeArgument(const char* text, int32_t* offset) {
  if (!text || !offset) return false;
  // Up to three numbers separated by colons, then an optional fraction.
  uint64_t fields[3] = {};
  size_t digits[3] = {};
  size_t count = 0;
  const char* p = text;
  for (;;) {
    if (count == 3) return false;
    size_t n = 0;
    uint64_t v = 0;
    while (IsDigit(*p)) {
      if (v > 100000000000ull) return false;  // far past any time that fits
      v = v * 10 + static_cast<uint64_t>(*p - '0');
      ++p;
      ++n;
    }
    if (n == 0) return false;
    fields[count] = v;
    digits[count] = n;
    ++count;
    if (*p != ':') break;
    ++p;
  }
  if (count < 2) return false;
  uint64_t hundredths = 0;
  if (*p == '.') {
    ++p;
    size_t n = 0;
    while (IsDigit(*p) && n < 3) {
      hundredths = hundredths * 10 + static_cast<uint64_t>(*p - '0');
      ++p;
      ++n;
    }
    if (n == 0 || n > 2) return false;
  }
  if (*p != '\0') return false;
  uint64_t seconds = fields[count - 1];
  if (digits[count - 1] > 2 || seconds > 59) return false;
  uint64_t minutes = fields[count - 2];
  uint64_t hours = 0;
  if (count == 3) {
    if (digits[1] > 2 || minutes > 59) return false;
    hours = fields[0];
  }
  uint64_t total = ((hours * 60 + minutes) * 60 + seconds) * 100 + hundredths;
  if (total > static_cast<uint64_t>(INT32_MAX)) return false;
  *offset = static_cast<int32_t>(total);
  return true;
}

void FormatTimeText(int32_t offset, char* out, size_t outSize) {
  if (!out || outSize == 0) return;
  uint32_t value = offset < 0 ? 0u : static_cast<uint32_t>(offset);
  std::snprintf(out, outSize, "%03u:%02u.%02u", value / 6000, value / 100 % 60, value % 100);
}

bool PlayerPositionToTimeText(int32_t ms, char* out, size_t outSize) {
  if (!out || outSize < kTimeTextChars + 1) return false;
  if (ms < -9 || ms >= 60000000) return false;
  FormatTimeText(ms <= 0 ? 0 : ms / 10, out, outSize);
  return true;
}

}  // namespace snip
