// Typed cut times: any text is either refused or read as a time that the
// track list can show, and what the list shows reads back as the same time.
// Also the player position, for any reply of the player.
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "split/time_text.h"

namespace {

constexpr int32_t kLastTime = 999 * 6000 + 59 * 100 + 99;

void CheckTypedText(const uint8_t* data, size_t size) {
  // Exactly the bytes given, without a terminator once there are as many as
  // count: the scan must stop after the characters that count.
  size_t n = size < snip::kTimeTextChars ? size : snip::kTimeTextChars;
  std::vector<char> text(data, data + n);
  if (n < snip::kTimeTextChars) text.push_back('\0');

  int32_t offset = -12345;
  if (!snip::ScanTimeText(text.data(), &offset)) return;
  FUZZ_CHECK(offset >= 0 && offset <= kLastTime, "time out of range: " + std::to_string(offset));

  for (size_t i = 0; i < n && text[i] != '\0'; ++i) {
    FUZZ_CHECK(text[i] != '-' && text[i] != '+', "a signed time was accepted");
  }

  char shown[snip::kTimeTextField];
  std::memset(shown, 'x', sizeof shown);
  snip::FormatTimeText(offset, shown, sizeof shown);
  FUZZ_CHECK(std::strlen(shown) == 9, std::string("shown time is not 9 characters: ") + shown);
  int32_t again = -1;
  FUZZ_CHECK(snip::ScanTimeText(shown, &again), std::string("shown time refused: ") + shown);
  FUZZ_CHECK(again == offset, std::string("shown time reads back differently: ") + shown);
}

void CheckPlayerPosition(const uint8_t* data, size_t size) {
  if (size < 4) return;
  int32_t ms = 0;
  std::memcpy(&ms, data, 4);
  char out[snip::kTimeTextField];
  std::memset(out, 'x', sizeof out);
  bool added = snip::PlayerPositionToTimeText(ms, out, sizeof out);
  FUZZ_CHECK(added == (ms >= -9 && ms < 60000000), "player reply " + std::to_string(ms) + " handled wrongly");
  if (!added) return;
  int32_t offset = -1;
  FUZZ_CHECK(snip::ScanTimeText(out, &offset), std::string("player time refused: ") + out);
  FUZZ_CHECK(offset == (ms <= 0 ? 0 : ms / 10), std::string("player time is not the reply: ") + out);

  // Too small a buffer is filled to its size and no further.
  char small[4];
  std::memset(small, 'x', sizeof small);
  snip::FormatTimeText(ms, small, sizeof small);
  FUZZ_CHECK(std::memchr(small, '\0', sizeof small) != nullptr, "short buffer left unterminated");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CheckTypedText(data, size);
  CheckPlayerPosition(data, size);
  return 0;
}
