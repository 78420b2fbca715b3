#include "split/cue_sheet.h"

#include "app/file_io.h"
#include "split/time_text.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace snip {

namespace {

constexpr int kFramesPerSecond = 75;

// Written for a track whose time falls between two frames, so that reading
// the sheet back gives the exact hundredths; other programs skip REM lines.
constexpr std::string_view kExactTimeRemark = "SNIPWISE_TIME";

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

// Splits off the first blank-separated word of s.
std::string_view TakeWord(std::string_view* s) {
  *s = Trim(*s);
  size_t end = 0;
  while (end < s->size() && !IsBlank((*s)[end])) ++end;
  std::string_view word = s->substr(0, end);
  *s = Trim(s->substr(end));
  return word;
}

bool SameWord(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

// A decimal number of 1 to maxDigits digits.
bool ReadNumber(std::string_view s, size_t maxDigits, uint32_t* value) {
  if (s.empty() || s.size() > maxDigits) return false;
  uint32_t v = 0;
  for (char c : s) {
    if (!IsDigit(c)) return false;
    v = v * 10 + static_cast<uint32_t>(c - '0');
  }
  *value = v;
  return true;
}

// A value that is either "quoted" (kept as written between the quotes) or
// bare (the rest of the line). False when a quote is left open or text
// follows the closing quote.
bool ReadValue(std::string_view rest, std::string* value) {
  rest = Trim(rest);
  if (!rest.empty() && rest.front() == '"') {
    size_t close = rest.rfind('"');
    if (close == 0 || !Trim(rest.substr(close + 1)).empty()) return false;
    *value = std::string(rest.substr(1, close - 1));
  } else {
    *value = std::string(rest);
  }
  return true;
}

// The FILE line's name: quoted, or bare with an optional type word after it.
bool ReadFileName(std::string_view rest, std::string* name) {
  rest = Trim(rest);
  if (rest.empty()) return false;
  if (rest.front() == '"') {
    size_t close = rest.find('"', 1);
    if (close == std::string_view::npos) return false;
    std::string_view after = rest.substr(close + 1);
    TakeWord(&after);  // the file type
    if (!after.empty()) return false;
    *name = std::string(rest.substr(1, close - 1));
    return true;
  }
  size_t lastBlank = rest.find_last_of(" \t");
  *name = std::string(lastBlank == std::string_view::npos ? rest : Trim(rest.substr(0, lastBlank)));
  return true;
}

enum class TimeRead { Ok, Invalid, TooLate };

// "mm:ss:ff" in CD frames (75 a second), to hundredths by truncation.
TimeRead ReadIndexTime(std::string_view s, int32_t* offset, int64_t* frames) {
  size_t first = s.find(':');
  if (first == std::string_view::npos) return TimeRead::Invalid;
  size_t second = s.find(':', first + 1);
  if (second == std::string_view::npos) return TimeRead::Invalid;
  std::string_view mm = s.substr(0, first);
  uint32_t minutes = 0, seconds = 0, frame = 0;
  if (mm.empty() || !ReadNumber(s.substr(first + 1, second - first - 1), 2, &seconds) ||
      !ReadNumber(s.substr(second + 1), 2, &frame) || seconds > 59 || frame >= kFramesPerSecond) {
    return TimeRead::Invalid;
  }
  while (mm.size() > 1 && mm.front() == '0') mm.remove_prefix(1);
  for (char c : mm) {
    if (!IsDigit(c)) return TimeRead::Invalid;
  }
  // The track list shows three digits of minutes: 999:59.99 is the last time.
  if (!ReadNumber(mm, 4, &minutes) || minutes > 999) return TimeRead::TooLate;
  *frames = (static_cast<int64_t>(minutes) * 60 + seconds) * kFramesPerSecond + frame;
  *offset = static_cast<int32_t>(minutes * 6000 + seconds * 100 + frame * 100 / kFramesPerSecond);
  return TimeRead::Ok;
}

// The frame a time in hundredths is written as: hundredths * 0.75 rounded
// half up. Reading that frame back by truncation gives the same hundredths
// whenever a frame can (75 of every 100 values); otherwise it is the frame
// that holds the time, one hundredth early.
int64_t FramesOf(int32_t offset) {
  int64_t seconds = offset / 100;
  int64_t hundredths = offset % 100;
  return seconds * kFramesPerSecond + (hundredths * kFramesPerSecond + 50) / 100;
}

void AppendUtf8(std::string* out, uint32_t code) {
  if (code < 0x80) {
    *out += static_cast<char>(code);
  } else if (code < 0x800) {
    *out += static_cast<char>(0xC0 | (code >> 6));
    *out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    *out += static_cast<char>(0xE0 | (code >> 12));
    *out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    *out += static_cast<char>(0xF0 | (code >> 18));
    *out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    *out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

constexpr uint32_t kReplacement = 0xFFFD;

// UTF-16 in the given byte order; a lone surrogate or an odd last byte
// becomes U+FFFD.
std::string Utf16ToUtf8(std::string_view bytes, bool bigEndian) {
  auto unit = [&](size_t i) -> uint32_t {
    uint32_t a = static_cast<unsigned char>(bytes[i]);
    uint32_t b = static_cast<unsigned char>(bytes[i + 1]);
    return bigEndian ? (a << 8 | b) : (b << 8 | a);
  };
  std::string out;
  size_t i = 0;
  for (; i + 1 < bytes.size(); i += 2) {
    uint32_t code = unit(i);
    if (code >= 0xD800 && code <= 0xDBFF && i + 3 < bytes.size()) {
      uint32_t low = unit(i + 2);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        AppendUtf8(&out, 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00));
        i += 2;
        continue;
      }
    }
    AppendUtf8(&out, code >= 0xD800 && code <= 0xDFFF ? kReplacement : code);
  }
  if (i < bytes.size()) AppendUtf8(&out, kReplacement);
  return out;
}

bool IsUtf8(std::string_view text) {
  size_t i = 0;
  while (i < text.size()) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    size_t more = 0;
    uint32_t code = 0, least = 0;
    if (c < 0x80) {
      ++i;
      continue;
    } else if (c >= 0xC2 && c <= 0xDF) {
      more = 1, code = c & 0x1F, least = 0x80;
    } else if (c >= 0xE0 && c <= 0xEF) {
      more = 2, code = c & 0x0F, least = 0x800;
    } else if (c >= 0xF0 && c <= 0xF4) {
      more = 3, code = c & 0x07, least = 0x10000;
    } else {
      return false;
    }
    if (i + more >= text.size()) return false;
    for (size_t k = 1; k <= more; ++k) {
      unsigned char next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      code = code << 6 | (next & 0x3F);
    }
    if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
    i += more + 1;
  }
  return true;
}

// Windows-1252: Latin-1 but for 0x80 to 0x9F; the five bytes it leaves free
// keep their Latin-1 meaning, as Windows reads them.
std::string Windows1252ToUtf8(std::string_view bytes) {
  static const uint16_t kHigh[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                     0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                     0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                     0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
  std::string out;
  for (char c : bytes) {
    unsigned char u = static_cast<unsigned char>(c);
    AppendUtf8(&out, u >= 0x80 && u < 0xA0 ? kHigh[u - 0x80] : u);
  }
  return out;
}

std::string LineMessage(const char* format, int line) {
  char text[160];
  std::snprintf(text, sizeof text, format, line);
  return text;
}

struct TrackState {
  bool open = false;
  bool audio = false;
  int line = 0;
  bool hasIndex = false;
  int32_t offset = 0;
  int64_t frames = 0;
  bool hasExact = false;
  int32_t exact = 0;
  CueTrack track;
};

// Values go between double quotes on one line: quotes become apostrophes and
// line breaks and other control characters blanks.
std::string Quoted(const std::string& value) {
  std::string out = "\"";
  for (char c : value) {
    if (c == '"') {
      out += '\'';
    } else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
      out += ' ';
    } else {
      out += c;
    }
  }
  out += '"';
  return out;
}

}  // namespace

std::string CueSheetText(std::string_view bytes) {
  std::string utf8;
  if (bytes.substr(0, 2) == "\xFF\xFE") {
    utf8 = Utf16ToUtf8(bytes.substr(2), false);
  } else if (bytes.substr(0, 2) == "\xFE\xFF") {
    utf8 = Utf16ToUtf8(bytes.substr(2), true);
  } else {
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
    utf8 = IsUtf8(bytes) ? std::string(bytes) : Windows1252ToUtf8(bytes);
  }
  return ProgramTextFromUtf8(utf8);
}

bool ParseCueSheet(std::string_view bytes, CueSheet* sheet, int* errorLine, std::string* message) {
  int lineNumber = 0;
  std::string failure;  // why the last track was refused
  auto fail = [&](int line, std::string why) {
    if (errorLine) *errorLine = line;
    if (message) *message = std::move(why);
    return false;
  };
  if (!sheet) return fail(0, "The CUE sheet could not be read.");

  const std::string decoded = CueSheetText(bytes);
  std::string_view text = decoded;

  CueSheet result;
  std::string sheetPerformer;
  bool fileSeen = false;
  TrackState current;
  int lastTrackLine = 0;

  // Ends the open track: an audio track must have its INDEX 01, later than
  // the track before it.
  auto closeTrack = [&]() -> bool {
    if (!current.open || !current.audio) return true;
    if (!current.hasIndex) {
      failure =
          LineMessage("The CUE sheet could not be read: the track on line %d has no INDEX 01 time.", current.line);
      lastTrackLine = current.line;
      return false;
    }
    int32_t offset = current.offset;
    if (current.hasExact && FramesOf(current.exact) == current.frames) offset = current.exact;
    if (!result.tracks.empty() && offset <= result.tracks.back().offset) {
      failure = LineMessage(
          "The CUE sheet could not be read: the time of the track on line %d is not later than "
          "the track before it.",
          current.line);
      lastTrackLine = current.line;
      return false;
    }
    current.track.offset = offset;
    result.tracks.push_back(current.track);
    return true;
  };

  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = pos;
    while (end < text.size() && text[end] != '\n' && text[end] != '\r') ++end;
    std::string_view line = text.substr(pos, end - pos);
    // A line ends in CR LF, LF or CR alone.
    pos = end;
    if (pos < text.size() && text[pos] == '\r') ++pos;
    if (pos < text.size() && text[pos] == '\n') ++pos;
    ++lineNumber;

    const std::string invalid = LineMessage("The CUE sheet could not be read: line %d is not valid.", lineNumber);
    for (char c : line) {
      if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7f) return fail(lineNumber, invalid);
    }
    std::string_view rest = line;
    std::string_view keyword = TakeWord(&rest);
    if (keyword.empty()) continue;

    if (SameWord(keyword, "REM")) {
      std::string_view remark = rest;
      if (current.open && SameWord(TakeWord(&remark), kExactTimeRemark)) {
        int32_t exact = 0;
        std::string_view timeText = TakeWord(&remark);
        if (timeText.size() <= kTimeTextChars && remark.empty() &&
            ScanTimeText(std::string(timeText).c_str(), &exact)) {
          current.hasExact = true;
          current.exact = exact;
        }
      }
    } else if (SameWord(keyword, "TRACK")) {
      if (!closeTrack()) return fail(lastTrackLine, failure);
      uint32_t number = 0;
      std::string_view numberText = TakeWord(&rest);
      std::string_view type = TakeWord(&rest);
      if (!ReadNumber(numberText, 7, &number) || number == 0 || type.empty() || !rest.empty()) {
        return fail(lineNumber, invalid);
      }
      current = TrackState();
      current.open = true;
      current.audio = SameWord(type, "AUDIO");
      current.line = lineNumber;
      current.track.performer = sheetPerformer;
    } else if (SameWord(keyword, "INDEX")) {
      uint32_t number = 0;
      std::string_view numberText = TakeWord(&rest);
      std::string_view timeText = TakeWord(&rest);
      if (!current.open || !ReadNumber(numberText, 2, &number) || !rest.empty()) return fail(lineNumber, invalid);
      int32_t offset = 0;
      int64_t frames = 0;
      switch (ReadIndexTime(timeText, &offset, &frames)) {
        case TimeRead::Invalid:
          return fail(lineNumber, invalid);
        case TimeRead::TooLate:
          return fail(lineNumber, LineMessage("The CUE sheet could not be read: the time on line %d is past 999:59.99.",
                                              lineNumber));
        case TimeRead::Ok:
          break;
      }
      if (number == 1) {
        if (current.hasIndex) return fail(lineNumber, invalid);
        current.hasIndex = true;
        current.offset = offset;
        current.frames = frames;
      }
    } else if (SameWord(keyword, "PERFORMER") || SameWord(keyword, "TITLE")) {
      std::string value;
      if (!ReadValue(rest, &value)) return fail(lineNumber, invalid);
      bool performer = SameWord(keyword, "PERFORMER");
      if (!current.open) {
        (performer ? result.performer : result.title) = value;
        if (performer) sheetPerformer = value;
      } else if (performer) {
        current.track.performer = value;
      } else {
        current.track.title = value;
      }
    } else if (SameWord(keyword, "FILE")) {
      std::string name;
      if (!ReadFileName(rest, &name)) return fail(lineNumber, invalid);
      if (fileSeen) {
        return fail(lineNumber, LineMessage("The CUE sheet could not be read: line %d names a second audio file, and "
                                            "only one file can be split at a time.",
                                            lineNumber));
      }
      fileSeen = true;
      result.file = name;
    } else if (SameWord(keyword, "FLAGS") || SameWord(keyword, "ISRC") || SameWord(keyword, "CATALOG") ||
               SameWord(keyword, "SONGWRITER") || SameWord(keyword, "CDTEXTFILE") || SameWord(keyword, "PREGAP") ||
               SameWord(keyword, "POSTGAP") || SameWord(keyword, "COMPOSER") || SameWord(keyword, "ARRANGER") ||
               SameWord(keyword, "MESSAGE") || SameWord(keyword, "GENRE") || SameWord(keyword, "DISC_ID") ||
               SameWord(keyword, "UPC_EAN")) {
      // Disc and track details that do not bear on the cut times.
    } else {
      return fail(lineNumber, invalid);
    }
  }
  if (!closeTrack()) return fail(lastTrackLine, failure);
  if (result.tracks.empty()) return fail(0, "The CUE sheet holds no track with an INDEX 01 time.");
  *sheet = std::move(result);
  return true;
}

std::string FormatCueSheet(const std::string& sourceFile, const std::vector<CueTrack>& tracks) {
  std::string out = "FILE " + Quoted(sourceFile) + " MP3\r\n";
  int number = 0;
  for (const CueTrack& track : tracks) {
    char line[64];
    std::snprintf(line, sizeof line, "  TRACK %02d AUDIO\r\n", ++number);
    out += line;
    if (!track.title.empty()) out += "    TITLE " + Quoted(track.title) + "\r\n";
    if (!track.performer.empty()) out += "    PERFORMER " + Quoted(track.performer) + "\r\n";
    int32_t offset = track.offset < 0 ? 0 : track.offset;
    int64_t frames = FramesOf(offset);
    int64_t back = frames % kFramesPerSecond * 100 / kFramesPerSecond;
    if (back != offset % 100) {
      char exact[kTimeTextField];
      FormatTimeText(offset, exact, sizeof exact);
      out += "    REM " + std::string(kExactTimeRemark) + " " + exact + "\r\n";
    }
    std::snprintf(line, sizeof line, "    INDEX 01 %02d:%02d:%02d\r\n",
                  static_cast<int>(frames / kFramesPerSecond / 60), static_cast<int>(frames / kFramesPerSecond % 60),
                  static_cast<int>(frames % kFramesPerSecond));
    out += line;
  }
  return out;
}

const char* const kCueUnreadableMessage = "The .CUE file you chose could not be read.  Please choose another file.";

bool ReadCueSheetFile(const std::string& path, std::string* text) {
  // A CUE sheet is text of a few kilobytes; anything past this is no sheet.
  constexpr int64_t kMostBytes = 1 << 20;
  File file = File::OpenRead(path);
  if (!file.IsOpen()) return false;
  int64_t size = file.Size();
  if (size < 0 || size > kMostBytes) return false;
  text->assign(static_cast<size_t>(size), '\0');
  if (file.ReadFull(text->data(), text->size()) != size) return false;
  char extra = 0;
  return file.Read(&extra, 1) == 0;  // the file must not have grown meanwhile
}

}  // namespace snip
