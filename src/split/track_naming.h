// Output file names of tracks, formed from the destination template.
//
// The artist, the title and the source's base name are file-name text, never
// a path: each character a Windows file name cannot hold (\ / : * ? " < > |
// and the control characters) becomes "_", and trailing dots and spaces of
// the artist and title are dropped. A name that Windows keeps for a device
// (CON, PRN, AUX, NUL, COM1 to COM9, LPT1 to LPT9, with any extension, in any
// case) gets a "_" in front. The rule is the same on every platform, so a
// split gives the same names everywhere.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace snip {

constexpr size_t kPathChars = 260;  // path buffers, terminator included

// False when text holds \ / : * ? " < > |
bool IsValidNameTemplate(const char* text);

// A field's text as it goes into a file name: the refused characters above
// and control characters become "_"; with trimTrailing, trailing dots and
// spaces are dropped.
std::string FileNameText(std::string_view value, bool trimTrailing);

// True when name (a file name without folder) is one Windows keeps for a
// device: the part before its first dot, trailing spaces ignored, is CON,
// PRN, AUX, NUL, or COM or LPT followed by one digit.
bool IsDeviceName(std::string_view name);

// Fills result (260 characters) with the output path of track index n (0 for
// the first): the fields of nameTemplate are replaced, then the folder (empty,
// or ending in a separator) is put in front. %file% becomes the source's
// base name, %artist% and %title% the track's, %track% the number n + 1 (two
// digits up to 99, then three); ".mp3" is appended. Only the first field of
// each kind is replaced. Returns false, leaving result empty, when the path
// would need more than 259 characters.
bool BuildTrackFileName(const char* sourcePath, const char* folder, const char* nameTemplate, const char* artist,
                        const char* title, int n, char* result);

// True when path is folder followed directly by one file name: no folder
// separator (nor, on Windows, a drive colon) after the folder, and not "."
// or "..". A track is only ever created at such a path.
bool LiesDirectlyIn(std::string_view path, std::string_view folder);

}  // namespace snip
