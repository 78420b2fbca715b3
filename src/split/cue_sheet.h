// CUE sheets: reading track times, performers and titles, and writing them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace snip {

struct CueTrack {
  int32_t offset = 0;  // hundredths of a second
  std::string performer;
  std::string title;
};

struct CueSheet {
  std::string file;       // the FILE line's name, if any
  std::string title;      // the sheet's own TITLE (the album), if any
  std::string performer;  // the sheet's own PERFORMER, if any
  std::vector<CueTrack> tracks;
};

// A sheet's bytes as text in the program's form (see ProgramTextFromUtf8):
// UTF-8 with or without a byte-order mark, UTF-16 with one (either byte
// order), and otherwise, when the bytes are not valid UTF-8, Windows-1252.
std::string CueSheetText(std::string_view bytes);

// Parses a sheet, given as the file's bytes (read through CueSheetText). On failure returns false and sets errorLine
// (from 1) and message (the warning shown to the user, naming the line); errorLine is 0 when no line is at fault but
// the sheet holds no usable track.
bool ParseCueSheet(std::string_view bytes, CueSheet* sheet, int* errorLine, std::string* message);

// Writes a sheet naming sourceFile with one TRACK per entry.
std::string FormatCueSheet(const std::string& sourceFile, const std::vector<CueTrack>& tracks);

// Reads a CUE sheet file whole: false when it cannot be opened or read, is
// larger than any sheet (1 MiB), or grows while it is read.
bool ReadCueSheetFile(const std::string& path, std::string* text);
// The message for a sheet that ReadCueSheetFile could not read.
extern const char* const kCueUnreadableMessage;

}  // namespace snip
