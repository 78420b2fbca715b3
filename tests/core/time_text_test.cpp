#include "split/time_text.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>

namespace {

using snip::FormatTimeText;
using snip::PlayerPositionToTimeText;
using snip::ScanTimeText;

// The line text a typed time becomes, or "refused".
std::string Typed(const char* text) {
  int32_t offset = -1;
  if (!ScanTimeText(text, &offset)) return "refused";
  char out[snip::kTimeTextField];
  FormatTimeText(offset, out, sizeof out);
  return out;
}

std::string FromPlayer(int32_t ms) {
  char out[snip::kTimeTextField];
  std::memset(out, 'x', sizeof out);
  out[sizeof out - 1] = '\0';
  if (!PlayerPositionToTimeText(ms, out, sizeof out)) return "none";
  return out;
}

TEST(TimeText, ReadsMinutesSecondsAndOptionalHundredths) {
  EXPECT_EQ(Typed("4:00"), "004:00.00");
  EXPECT_EQ(Typed("1:05.5"), "001:05.05");  // one digit of hundredths is 5 hundredths
  EXPECT_EQ(Typed("1:5"), "001:05.00");
  EXPECT_EQ(Typed("0:00"), "000:00.00");
  EXPECT_EQ(Typed("999:59.99"), "999:59.99");
  EXPECT_EQ(Typed("12:34.56"), "012:34.56");
  EXPECT_EQ(Typed("007:08.09"), "007:08.09");
  int32_t offset = 0;
  ASSERT_TRUE(ScanTimeText("999:59.99", &offset));
  EXPECT_EQ(offset, 999 * 6000 + 59 * 100 + 99);
  ASSERT_TRUE(ScanTimeText("2:03.45", &offset));
  EXPECT_EQ(offset, 12345);
}

TEST(TimeText, RefusesWhatDoesNotScan) {
  for (const char* text : {"1:60", "90", "", "   ", ":30", "1.30", "1 :30", "abc", "1:", "1:x0", "1;30", "0:99"}) {
    EXPECT_EQ(Typed(text), "refused") << '"' << text << '"';
  }
}

TEST(TimeText, FieldWidthsAreLimited) {
  EXPECT_EQ(Typed("1000:00"), "refused");     // a fourth minute digit is where the colon must be
  EXPECT_EQ(Typed("1:234"), "001:23.00");     // seconds take two digits, the rest is ignored
  EXPECT_EQ(Typed("1:23.456"), "001:23.45");  // so do hundredths
  EXPECT_EQ(Typed("1:23.x"), "001:23.00");    // hundredths that do not scan stay 0
  EXPECT_EQ(Typed("1:23."), "001:23.00");
  EXPECT_EQ(Typed("5:07 and more"), "005:07.00");
}

TEST(TimeText, OnlyTheFirstNineCharactersCount) {
  EXPECT_EQ(Typed("999:59.99999"), "999:59.99");
  EXPECT_EQ(Typed("   1:02.34"), "001:02.03");  // white space counts toward the nine
  EXPECT_EQ(Typed("      1:02"), "001:00.00");
  EXPECT_EQ(Typed("       1:02"), "refused");   // the seconds are past the ninth character
  EXPECT_EQ(Typed("        1:02"), "refused");  // and so is the colon
  EXPECT_EQ(Typed(" 1: 2. 3"), "001:02.03");    // white space before each number is skipped
}

TEST(TimeText, SignsAreRefused) {
  for (const char* text : {"-1:00", "+1:00", "1:-5", "1:+5", "1:00.-1", "1:00.+1", "-0:00", "1:00-", " -1:00"}) {
    EXPECT_EQ(Typed(text), "refused") << text;
  }
  // A sign beyond the nine characters that count does not matter.
  EXPECT_EQ(Typed("001:00.00-"), "001:00.00");
}

TEST(TimeText, NeverReadsPastTheNinthCharacter) {
  // No terminator within reach: only nine characters may be looked at.
  char text[9];
  std::memcpy(text, "012:34.56", 9);
  int32_t offset = 0;
  ASSERT_TRUE(ScanTimeText(text, &offset));
  EXPECT_EQ(offset, 12 * 6000 + 34 * 100 + 56);
  EXPECT_FALSE(ScanTimeText(nullptr, &offset));
}

// For texts without signs the scan agrees with the C library's
// "%3u:%2u.%2u" on the first nine characters.
TEST(TimeText, AgreesWithTheLibraryScanOnUnsignedTexts) {
  std::mt19937 rng(20240611);
  const char alphabet[] = "0123456789::..  \tx";
  for (int round = 0; round < 20000; ++round) {
    std::string text;
    int length = static_cast<int>(rng() % 13);
    for (int i = 0; i < length; ++i) text += alphabet[rng() % (sizeof alphabet - 1)];
    std::string counted = text.substr(0, 9);
    unsigned m = 0, s = 0, h = 0;
    int fields = std::sscanf(counted.c_str(), "%3u:%2u.%2u", &m, &s, &h);
    bool expected = fields >= 2 && s <= 59;
    int32_t offset = -1;
    ASSERT_EQ(ScanTimeText(text.c_str(), &offset), expected) << '"' << text << '"';
    if (expected) {
      ASSERT_EQ(offset, static_cast<int32_t>(h + s * 100 + m * 6000)) << '"' << text << '"';
    }
  }
}

TEST(TimeText, FormatNeverOverrunsAndRoundTrips) {
  char small[6];
  std::memset(small, 'x', sizeof small);
  FormatTimeText(12345, small, sizeof small);
  EXPECT_STREQ(small, "002:0");
  for (int32_t offset : {0, 1, 99, 100, 5999, 6000, 123456, 5999999}) {
    char out[snip::kTimeTextField];
    FormatTimeText(offset, out, sizeof out);
    int32_t back = -1;
    ASSERT_TRUE(ScanTimeText(out, &back)) << out;
    EXPECT_EQ(back, offset);
  }
}

TEST(TimeText, PlayerPositionIsTruncatedToHundredthsExactly) {
  EXPECT_EQ(FromPlayer(1000), "000:01.00");
  EXPECT_EQ(FromPlayer(61000), "001:01.00");
  EXPECT_EQ(FromPlayer(1040), "000:01.04");
  EXPECT_EQ(FromPlayer(1049), "000:01.04");
  EXPECT_EQ(FromPlayer(123456), "002:03.45");
  EXPECT_EQ(FromPlayer(59999990), "999:59.99");
  EXPECT_EQ(FromPlayer(59999999), "999:59.99");
  EXPECT_EQ(FromPlayer(9), "000:00.00");
  EXPECT_EQ(FromPlayer(10), "000:00.01");
  // Every whole hundredth of the first minutes comes back as itself.
  for (int32_t h = 0; h < 3 * 6000; h += 7) {
    int32_t offset = -1;
    std::string text = FromPlayer(h * 10 + 9);
    ASSERT_TRUE(ScanTimeText(text.c_str(), &offset)) << text;
    ASSERT_EQ(offset, h);
  }
}

TEST(TimeText, PlayerPositionsOutOfRangeGiveNothing) {
  for (int32_t ms : {0, -1, -9}) EXPECT_EQ(FromPlayer(ms), "000:00.00") << ms;
  for (int32_t ms : {-10, -1000, INT32_MIN, 60000000, 60000001, INT32_MAX}) EXPECT_EQ(FromPlayer(ms), "none") << ms;
  char tiny[5];
  EXPECT_FALSE(PlayerPositionToTimeText(1000, tiny, sizeof tiny));
}

// Command line times: minutes past 999 and hours are read, every text that
// the normal form prints reads back as itself, and the count of hundredths
// never wraps.
TEST(TimeArgument, HoursAndLongMinutesReadExactly) {
  auto parse = [](const char* text) {
    int32_t offset = -1;
    return snip::ParseTimeArgument(text, &offset) ? offset : -1;
  };
  EXPECT_EQ(parse("17:04:05.50"), ((17 * 60 + 4) * 60 + 5) * 100 + 50);
  EXPECT_EQ(parse("0:00:05.5"), 505);
  EXPECT_EQ(parse("1:00:30"), 360000 + 3000);
  EXPECT_EQ(parse("1000:00"), 6000000);
  EXPECT_EQ(parse("4:5"), 24500);
  EXPECT_EQ(parse("357913:56.47"), INT32_MAX);
  EXPECT_EQ(parse("357913:56.48"), -1);
  EXPECT_EQ(parse("99999999999999:00"), -1);
  EXPECT_EQ(parse("1:00:60"), -1);
  EXPECT_EQ(parse("1:000:00"), -1);
  EXPECT_EQ(parse("1:00."), -1);
  EXPECT_EQ(parse(":05"), -1);
  EXPECT_EQ(parse("5"), -1);
  for (int32_t offset : {0, 1, 5999, 5999999, 6000000, 123456789}) {
    char text[32];
    snip::FormatTimeText(offset, text, sizeof text);
    EXPECT_EQ(parse(text), offset) << text;
  }
}

}  // namespace
