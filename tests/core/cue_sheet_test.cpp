#include "split/cue_sheet.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/mpeg_frames.h"

namespace {

using snip::CueSheet;
using snip::CueTrack;
using snip::FormatCueSheet;
using snip::ParseCueSheet;
using snip::test::Utf16WithBom;

CueTrack T(int32_t offset, std::string performer, std::string title) {
  CueTrack t;
  t.offset = offset;
  t.performer = std::move(performer);
  t.title = std::move(title);
  return t;
}

// Hundredths from minutes, seconds and hundredths.
constexpr int32_t H(int32_t m, int32_t s, int32_t h) { return m * 6000 + s * 100 + h; }

void ExpectTracks(const CueSheet& sheet, const std::vector<CueTrack>& expected) {
  ASSERT_EQ(sheet.tracks.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(sheet.tracks[i].offset, expected[i].offset) << "track " << i + 1;
    EXPECT_EQ(sheet.tracks[i].performer, expected[i].performer) << "track " << i + 1;
    EXPECT_EQ(sheet.tracks[i].title, expected[i].title) << "track " << i + 1;
  }
}

CueSheet Parsed(const std::string& text) {
  CueSheet sheet;
  int line = -1;
  std::string message;
  EXPECT_TRUE(ParseCueSheet(text, &sheet, &line, &message)) << message;
  return sheet;
}

struct Refusal {
  int line = -1;
  std::string message;
};

// Parses a sheet that must be refused; the sheet passed in stays as it was.
Refusal Refused(const std::string& text) {
  CueSheet sheet;
  sheet.file = "untouched";
  sheet.tracks.push_back(T(42, "p", "t"));
  Refusal r;
  EXPECT_FALSE(ParseCueSheet(text, &sheet, &r.line, &r.message)) << text;
  EXPECT_EQ(sheet.file, "untouched");
  EXPECT_EQ(sheet.tracks.size(), 1u);
  return r;
}

std::string NotValid(int line) {
  return "The CUE sheet could not be read: line " + std::to_string(line) + " is not valid.";
}

TEST(CueSheetRead, DiscRipperSheetWithByteOrderMarkAndCrLf) {
  const std::string text =
      "\xEF\xBB\xBF"
      "REM GENRE \"Progressive Rock\"\r\n"
      "REM DATE 1999\r\n"
      "REM DISCID 8A0B1C0D\r\n"
      "REM COMMENT \"ExactCopy v1.6\"\r\n"
      "CATALOG 0724384260828\r\n"
      "PERFORMER \"The Band\"\r\n"
      "TITLE \"Live at the Hall\"\r\n"
      "FILE \"Range.wav\" WAVE\r\n"
      "  TRACK 01 AUDIO\r\n"
      "    TITLE \"Opening\"\r\n"
      "    PERFORMER \"The Band\"\r\n"
      "    SONGWRITER \"Someone Else\"\r\n"
      "    ISRC GBAYE9900001\r\n"
      "    FLAGS DCP\r\n"
      "    INDEX 01 00:00:00\r\n"
      "  TRACK 02 AUDIO\r\n"
      "    TITLE \"Second Song\"\r\n"
      "    PERFORMER \"The Band feat. Guest\"\r\n"
      "    INDEX 00 04:10:30\r\n"
      "    INDEX 01 04:12:37\r\n"
      "  TRACK 03 AUDIO\r\n"
      "    TITLE \"Closing\"\r\n"
      "    FLAGS PRE\r\n"
      "    INDEX 00 09:58:74\r\n"
      "    INDEX 01 10:01:01\r\n"
      "    INDEX 02 11:00:00\r\n";
  CueSheet sheet = Parsed(text);
  EXPECT_EQ(sheet.file, "Range.wav");
  // Frames become hundredths by truncation: 37/75 s is 49 hundredths, 1/75 s is 1.
  ExpectTracks(sheet, {T(0, "The Band", "Opening"), T(H(4, 12, 49), "The Band feat. Guest", "Second Song"),
                       T(H(10, 1, 1), "The Band", "Closing")});
}

TEST(CueSheetRead, DjMixSheetWithLfAndLongMinutes) {
  const std::string text =
      "REM Recorded live\n"
      "PERFORMER \"DJ Someone\"\n"
      "TITLE \"Summer Mix 2023\"\n"
      "FILE \"Summer Mix 2023.mp3\" MP3\n"
      "\tTRACK 01 AUDIO\n"
      "\t\tTITLE \"Intro\"\n"
      "\t\tINDEX 01 00:00:00\n"
      "\tTRACK 02 AUDIO\n"
      "\t\tPERFORMER \"Artist Two\"\n"
      "\t\tTITLE \"Deep Track (Extended Mix)\"\n"
      "\t\tINDEX 01 03:25:74\n"
      "\n"
      "\tTRACK 03 AUDIO\n"
      "\t\tPERFORMER \"Artist Three\"\n"
      "\t\tTITLE \"Late Night\"\n"
      "\t\tINDEX 01 105:30:03\n"
      "\tTRACK 04 AUDIO\n"
      "\t\tPERFORMER \"Artist Four\"\n"
      "\t\tTITLE \"Sunrise\"\n"
      "\t\tINDEX 01 999:59:74\n";
  CueSheet sheet = Parsed(text);
  EXPECT_EQ(sheet.file, "Summer Mix 2023.mp3");
  ExpectTracks(sheet, {T(0, "DJ Someone", "Intro"), T(H(3, 25, 98), "Artist Two", "Deep Track (Extended Mix)"),
                       T(H(105, 30, 4), "Artist Three", "Late Night"), T(H(999, 59, 98), "Artist Four", "Sunrise")});
}

TEST(CueSheetRead, BareValuesLowerCaseKeywordsAndOtherLineEnds) {
  const std::string text =
      "performer Sheet Artist\r"
      "file mix.mp3 MP3\r"
      "track 1 audio\r"
      "title First One   \r"
      "index 01 0:05:00\r"
      "TRACK 2 AUDIO\r\n"
      "  PERFORMER   \"  spaced  \"  \n"
      "  TITLE \"\"\n"
      "  TITLE \"Say \"Hi\" again\"\n"
      "  INDEX 1 00:10:00";  // no line end on the last line
  CueSheet sheet = Parsed(text);
  EXPECT_EQ(sheet.file, "mix.mp3");
  ExpectTracks(sheet, {T(H(0, 5, 0), "Sheet Artist", "First One"), T(H(0, 10, 0), "  spaced  ", "Say \"Hi\" again")});
}

TEST(CueSheetRead, DataTracksAreSkippedAndOtherDetailsIgnored) {
  const std::string text =
      "CDTEXTFILE \"disc.cdt\"\n"
      "FILE \"disc.bin\" BINARY\n"
      "  TRACK 01 MODE1/2352\n"
      "    INDEX 01 00:00:00\n"
      "  TRACK 02 AUDIO\n"
      "    PREGAP 00:02:00\n"
      "    INDEX 01 12:00:00\n"
      "    POSTGAP 00:02:00\n"
      "  TRACK 03 MODE2/2352\n"
      "  TRACK 04 AUDIO\n"
      "    INDEX 01 15:00:00\n";
  CueSheet sheet = Parsed(text);
  ExpectTracks(sheet, {T(H(12, 0, 0), "", ""), T(H(15, 0, 0), "", "")});
  // A sheet without a FILE line is read too.
  sheet = Parsed("TRACK 01 AUDIO\nINDEX 01 01:00:00\n");
  EXPECT_EQ(sheet.file, "");
  ExpectTracks(sheet, {T(H(1, 0, 0), "", "")});
}

TEST(CueSheetRead, LinesThatCannotBeReadAreNamed) {
  const std::string head = "FILE \"a.mp3\" MP3\nTRACK 01 AUDIO\n";  // lines 1 and 2
  const char* bad[] = {
      "hello world",               // no keyword of a sheet
      "TITLE \"open quote",        // quote left open
      "PERFORMER \"A\" B",         // text after the closing quote
      "INDEX 01 12:60:00",         // 60 seconds
      "INDEX 01 12:00:75",         // frame 75
      "INDEX 01 12:00",            // two parts
      "INDEX 01 aa:00:00",         // not a number
      "INDEX 01 -1:00:00",         // signed
      "INDEX 01 1:2:3:4",          // four parts
      "INDEX 01 12:000:00",        // three digits of seconds
      "INDEX 01",                  // no time
      "INDEX 01 00:00:00 extra",   // more than a time
      "INDEX x1 00:00:00",         // index number
      "TRACK",                     // no number
      "TRACK 00 AUDIO",            // track 0
      "TRACK x AUDIO",             // not a number
      "TRACK 02",                  // no type
      "TRACK 02 AUDIO extra",      // more than a type
      "FILE",                      // no name
      "FILE \"b.mp3\" MP3 extra",  // more than a type
      "FILE \"b.mp3",              // quote left open
      "TITLE \"ctrl\x01\"",        // control character
  };
  for (const char* line : bad) {
    std::string text = head + "INDEX 01 00:00:00\n" + line + "\nTRACK 09 AUDIO\nINDEX 01 50:00:00\n";
    Refusal r = Refused(text);
    EXPECT_EQ(r.line, 4) << line;
    EXPECT_EQ(r.message, NotValid(4)) << line;
  }
  // Two INDEX 01 lines in one track; INDEX outside any track.
  EXPECT_EQ(Refused(head + "INDEX 01 00:00:00\nINDEX 01 00:01:00\n").message, NotValid(4));
  EXPECT_EQ(Refused("FILE a.mp3 MP3\nINDEX 01 00:00:00\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n").line, 2);
  // A file that is not a sheet at all.
  EXPECT_EQ(Refused(std::string("ID3\x03\0\0\0\0\0\x21\xff\xfb", 12)).message, NotValid(1));
}

TEST(CueSheetRead, NulBytesEndNoLineEarly) {
  std::string text = "TRACK 01 AUDIO\nINDEX 01 00:00:00\nTITLE \"a";
  text += '\0';
  text += "b\"\n";
  EXPECT_EQ(Refused(text).line, 3);
}

TEST(CueSheetRead, TimesPastTheListAreRefused) {
  Refusal r = Refused("TRACK 01 AUDIO\nINDEX 01 00:00:00\nTRACK 02 AUDIO\nINDEX 01 1000:00:00\n");
  EXPECT_EQ(r.line, 4);
  EXPECT_EQ(r.message, "The CUE sheet could not be read: the time on line 4 is past 999:59.99.");
  EXPECT_EQ(Refused("TRACK 01 AUDIO\nINDEX 01 123456789012:00:00\n").line, 2);
  // Leading zeros do not make a time late.
  ExpectTracks(Parsed("TRACK 01 AUDIO\nINDEX 01 000999:59:74\n"), {T(H(999, 59, 98), "", "")});
}

TEST(CueSheetRead, TracksNeedAnIndex01LaterThanTheTrackBefore) {
  Refusal r = Refused(
      "TRACK 01 AUDIO\nINDEX 01 00:00:00\nTRACK 02 AUDIO\nINDEX 00 01:00:00\nTRACK 03 AUDIO\n"
      "INDEX 01 02:00:00\n");
  EXPECT_EQ(r.line, 3);
  EXPECT_EQ(r.message, "The CUE sheet could not be read: the track on line 3 has no INDEX 01 time.");
  // The last track too.
  r = Refused("TRACK 01 AUDIO\nINDEX 01 00:00:00\nTRACK 02 AUDIO\nTITLE x\n");
  EXPECT_EQ(r.line, 3);
  EXPECT_EQ(r.message, "The CUE sheet could not be read: the track on line 3 has no INDEX 01 time.");

  r = Refused("TRACK 01 AUDIO\nINDEX 01 05:00:00\nTRACK 02 AUDIO\nINDEX 01 05:00:00\n");
  EXPECT_EQ(r.line, 3);
  EXPECT_EQ(r.message,
            "The CUE sheet could not be read: the time of the track on line 3 is not later than the track before it.");
  EXPECT_EQ(Refused("TRACK 01 AUDIO\nINDEX 01 05:00:00\n\nTRACK 02 AUDIO\nINDEX 01 04:59:74\n").line, 4);
  // Frames of one hundredth apart are still different times.
  ExpectTracks(Parsed("TRACK 01 AUDIO\nINDEX 01 00:00:02\nTRACK 02 AUDIO\nINDEX 01 00:00:03\n"),
               {T(2, "", ""), T(4, "", "")});
}

TEST(CueSheetRead, OnlyOneAudioFile) {
  Refusal r = Refused(
      "FILE \"one.wav\" WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nFILE \"two.wav\" WAVE\nTRACK 02 AUDIO\n"
      "INDEX 01 00:00:00\n");
  EXPECT_EQ(r.line, 4);
  EXPECT_EQ(r.message,
            "The CUE sheet could not be read: line 4 names a second audio file, and only one file can be split at a "
            "time.");
}

TEST(CueSheetRead, SheetsWithoutUsableTracks) {
  const std::string noTrack = "The CUE sheet holds no track with an INDEX 01 time.";
  for (const std::string& text : {std::string(), std::string("\xEF\xBB\xBF"), std::string("\r\n\n   \n"),
                                  std::string("REM only a remark\nPERFORMER \"x\"\nTITLE \"y\"\nFILE \"z.mp3\" MP3\n"),
                                  std::string("FILE \"disc.bin\" BINARY\nTRACK 01 MODE1/2352\nINDEX 01 00:00:00\n")}) {
    Refusal r = Refused(text);
    EXPECT_EQ(r.line, 0);
    EXPECT_EQ(r.message, noTrack);
  }
  EXPECT_FALSE(ParseCueSheet("TRACK 01 AUDIO\nINDEX 01 00:00:00\n", nullptr, nullptr, nullptr));
}

TEST(CueSheetRead, SheetsInEachEncodingGiveTheSameNames) {
  // The names as the program hands them to files: UTF-8 natively, the ANSI
  // code page on Windows (Windows-1252 in the test prefix).
#ifdef _WIN32
  const std::string cafe = "Caf\xE9", euro = "\x80 \x92";
#else
  const std::string cafe = "Caf\xC3\xA9", euro = "\xE2\x82\xAC \xE2\x80\x99";
#endif
  const std::vector<CueTrack> expected = {T(0, cafe, "Intro"), T(H(1, 0, 0), cafe, euro)};
  const std::string utf8 =
      "PERFORMER \"Caf\xC3\xA9\"\r\nTRACK 01 AUDIO\r\nTITLE Intro\r\nINDEX 01 00:00:00\r\n"
      "TRACK 02 AUDIO\r\nTITLE \"\xE2\x82\xAC \xE2\x80\x99\"\r\nINDEX 01 01:00:00\r\n";
  const std::u16string utf16 =
      u"PERFORMER \"Caf\u00E9\"\r\nTRACK 01 AUDIO\r\nTITLE Intro\r\nINDEX 01 00:00:00\r\n"
      u"TRACK 02 AUDIO\r\nTITLE \"\u20AC \u2019\"\r\nINDEX 01 01:00:00\r\n";
  const std::string ansi =
      "PERFORMER \"Caf\xE9\"\r\nTRACK 01 AUDIO\r\nTITLE Intro\r\nINDEX 01 00:00:00\r\n"
      "TRACK 02 AUDIO\r\nTITLE \"\x80 \x92\"\r\nINDEX 01 01:00:00\r\n";
  for (const std::string& text :
       {utf8, "\xEF\xBB\xBF" + utf8, Utf16WithBom(utf16, false), Utf16WithBom(utf16, true), ansi}) {
    ExpectTracks(Parsed(text), expected);
  }
#ifndef _WIN32
  // Characters past the first 65536 come through UTF-16's pairs; a lone
  // half of a pair is a replacement character.
  ExpectTracks(Parsed(Utf16WithBom(u"TRACK 01 AUDIO\nTITLE \U0001F600\xD800x\nINDEX 01 00:00:00\n", false)),
               {T(0, "", "\xF0\x9F\x98\x80\xEF\xBF\xBDx")});
  // One byte that is not UTF-8 makes the whole sheet Windows-1252.
  ExpectTracks(Parsed("TRACK 01 AUDIO\nTITLE \"\xC3\xA9\"\nPERFORMER \"\xE9\"\nINDEX 01 00:00:00\n"),
               {T(0, "\xC3\xA9", "\xC3\x83\xC2\xA9")});
#endif
  // A line that cannot be read is named alike in UTF-16.
  EXPECT_EQ(Refused(Utf16WithBom(u"TRACK 01 AUDIO\r\nINDEX 01 00:00:00\r\nBOGUS\r\n", true)).message, NotValid(3));
}

TEST(CueSheetWrite, WritesTheSourceTracksNamesAndTimesWithCrLf) {
  std::string text = FormatCueSheet("Night Set.mp3", {T(0, "", ""), T(H(4, 10, 49), "Band", "Song"),
                                                      T(H(120, 0, 0), "", "Only Title"), T(H(1, 0, 3), "Solo", "")});
  EXPECT_EQ(text,
            "FILE \"Night Set.mp3\" MP3\r\n"
            "  TRACK 01 AUDIO\r\n"
            "    INDEX 01 00:00:00\r\n"
            "  TRACK 02 AUDIO\r\n"
            "    TITLE \"Song\"\r\n"
            "    PERFORMER \"Band\"\r\n"
            "    INDEX 01 04:10:37\r\n"
            "  TRACK 03 AUDIO\r\n"
            "    TITLE \"Only Title\"\r\n"
            "    INDEX 01 120:00:00\r\n"
            "  TRACK 04 AUDIO\r\n"
            "    PERFORMER \"Solo\"\r\n"
            "    REM SNIPWISE_TIME 001:00.03\r\n"
            "    INDEX 01 01:00:02\r\n");
}

TEST(CueSheetWrite, QuotesAndLineBreaksCannotBreakTheSheet) {
  std::string text = FormatCueSheet("my \"best\".mp3", {T(0, "A \"B\"\r\nTITLE \"x\"", "line\nbreak\ttab")});
  CueSheet sheet = Parsed(text);
  EXPECT_EQ(sheet.file, "my 'best'.mp3");
  ExpectTracks(sheet, {T(0, "A 'B'  TITLE 'x'", "line break tab")});
}

TEST(CueSheetRoundTrip, EveryHundredthComesBack) {
  std::vector<CueTrack> tracks;
  for (int32_t h = 0; h < 100; ++h) tracks.push_back(T(H(0, 1 + h, h % 100), "", ""));
  for (int32_t h = 0; h < 100; ++h) tracks.push_back(T(H(998, 59, h), "", ""));
  tracks.push_back(T(H(999, 59, 99), "", ""));
  CueSheet sheet = Parsed(FormatCueSheet("a.mp3", tracks));
  ExpectTracks(sheet, tracks);
}

TEST(CueSheetRoundTrip, IndexLinesNameTheFrameThatHoldsTheTime) {
  // Read by any other program, each INDEX 01 is within one frame of the time.
  for (int32_t h = 0; h < 100; ++h) {
    std::string text = FormatCueSheet("a.mp3", {T(H(0, 7, h), "", "")});
    size_t at = text.find("INDEX 01 00:07:");
    ASSERT_NE(at, std::string::npos) << text;
    int frame = std::stoi(text.substr(at + 15, 2));
    EXPECT_LE(frame * 100 / 75, h);
    EXPECT_GE(frame * 100 / 75, h - 1);
    EXPECT_LT(frame, 75);
  }
}

TEST(CueSheetRoundTrip, AnEditedIndexOutweighsTheExactTime) {
  std::string text = FormatCueSheet("a.mp3", {T(H(1, 0, 3), "", "")});
  ExpectTracks(Parsed(text), {T(H(1, 0, 3), "", "")});
  size_t at = text.find("INDEX 01 01:00:02");
  ASSERT_NE(at, std::string::npos);
  text.replace(at, 17, "INDEX 01 02:00:02");
  ExpectTracks(Parsed(text), {T(H(2, 0, 2), "", "")});
  // A remark that does not read as a time is only a remark.
  ExpectTracks(Parsed("TRACK 01 AUDIO\nREM SNIPWISE_TIME soon\nINDEX 01 00:00:02\n"), {T(2, "", "")});
}

TEST(CueSheetRoundTrip, ListsComeBackWhole) {
  std::vector<CueTrack> tracks = {T(0, "", ""), T(H(3, 25, 98), "Artist Two", "Deep Track (Extended Mix)"),
                                  T(H(105, 30, 4), "  spaced  ", "Late: Night / Part 2"), T(H(200, 0, 1), "", "x")};
  for (int i = 0; i < 120; ++i) {
    std::string performer = std::to_string(i);
    performer.append(" P");
    tracks.push_back(T(H(300 + i, 0, 0), performer, ""));
  }
  CueSheet sheet = Parsed(FormatCueSheet("C:\\Rips\\Night Set.mp3", tracks));
  EXPECT_EQ(sheet.file, "C:\\Rips\\Night Set.mp3");
  ExpectTracks(sheet, tracks);
}

}  // namespace
