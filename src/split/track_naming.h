// Output file names of tracks, formed from the destination template.
#pragma once

#include <cstddef>

namespace snip {

constexpr size_t kPathChars = 260;  // path buffers, terminator included

// False when text holds \ / : * ? " < > |
bool IsValidNameTemplate(const char* text);

// Fills result (260 characters) with the output path of track index n (0 for
// the first): pathTemplate is the output folder followed by the template;
// %file% becomes the source's base name, %artist% and %title% the track's,
// %track% the number n + 1 (two digits up to 99, then three); ".mp3" is
// appended. Only the first field of each kind is replaced. Returns false,
// leaving result empty, when the name would need more than 259 characters.
bool BuildTrackFileName(const char* sourcePath, const char* pathTemplate, const char* artist,
                        const char* title, int n, char* result);

}  // namespace snip
