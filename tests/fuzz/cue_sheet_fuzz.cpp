// CUE sheets of any content: the parser either refuses with a message that
// names a line of the sheet, or gives tracks in strictly increasing time
// order that survive being written out and read back unchanged.
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "split/cue_sheet.h"

namespace {

constexpr int32_t kLastTime = 999 * 6000 + 59 * 100 + 99;

int CountLines(std::string_view text) {
  int lines = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' || (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n'))) ++lines;
  }
  if (!text.empty() && text.back() != '\n' && text.back() != '\r') ++lines;
  return lines;
}

// What a value becomes between the quotes of a written sheet.
std::string AsWritten(const std::string& value) {
  std::string out;
  for (char c : value) {
    if (c == '"') {
      out += '\'';
    } else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
      out += ' ';
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  snip::CueSheet sheet;
  int errorLine = -1;
  std::string message;
  if (!snip::ParseCueSheet(text, &sheet, &errorLine, &message)) {
    FUZZ_CHECK(!message.empty(), "refused without a message");
    // Lines are counted in the sheet's text: a UTF-16 sheet's bytes break
    // lines elsewhere than its characters do.
    const int lines = CountLines(snip::CueSheetText(text));
    FUZZ_CHECK(errorLine >= 0 && errorLine <= lines,
               "refusal names line " + std::to_string(errorLine) + " of " + std::to_string(lines));
    if (errorLine > 0) {
      FUZZ_CHECK(message.find(std::to_string(errorLine)) != std::string::npos, "message does not name the line");
    }
    return 0;
  }

  FUZZ_CHECK(!sheet.tracks.empty(), "a sheet without tracks was accepted");
  for (size_t i = 0; i < sheet.tracks.size(); ++i) {
    int32_t offset = sheet.tracks[i].offset;
    FUZZ_CHECK(offset >= 0 && offset <= kLastTime, "track time out of range: " + std::to_string(offset));
    if (i > 0) FUZZ_CHECK(offset > sheet.tracks[i - 1].offset, "track times not increasing");
  }

  // Written out and read back, the list is the same.
  std::string written = snip::FormatCueSheet(sheet.file, sheet.tracks);
  snip::CueSheet again;
  int againLine = -1;
  std::string againMessage;
  FUZZ_CHECK(snip::ParseCueSheet(written, &again, &againLine, &againMessage),
             "a written sheet was refused: " + againMessage + "\n" + written);
  FUZZ_CHECK(again.tracks.size() == sheet.tracks.size(), "track count changed on the way back");
  FUZZ_CHECK(again.file == AsWritten(sheet.file), "file name changed on the way back: " + again.file);
  for (size_t i = 0; i < sheet.tracks.size(); ++i) {
    const snip::CueTrack& a = sheet.tracks[i];
    const snip::CueTrack& b = again.tracks[i];
    FUZZ_CHECK(b.offset == a.offset, "time of track " + std::to_string(i + 1) +
                                         " changed: " + std::to_string(a.offset) + " -> " + std::to_string(b.offset));
    FUZZ_CHECK(b.title == AsWritten(a.title), "title changed on the way back: " + b.title);
    FUZZ_CHECK(b.performer == AsWritten(a.performer), "performer changed on the way back: " + b.performer);
  }
  return 0;
}
