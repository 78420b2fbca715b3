// Files given to the program from outside: dropped from Explorer onto a
// page, or named on the command line when Explorer opens the program.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

// The paths of a drop, in the order given; the drop is released.
std::vector<std::string> TakeDroppedPaths(HDROP drop);

bool IsFolderPath(const std::string& path);
bool IsFilePath(const std::string& path);
// True when the path's name ends in ext (".mp3", ".cue"), in any case.
bool HasExtension(const std::string& path, const char* ext);
// The .mp3 files directly in a folder, sorted by name.
std::vector<std::string> Mp3FilesIn(const std::string& folder);

// What a page does with such files (the Split and Join pages).
void AcceptSplitFiles(HWND page, const std::vector<std::string>& paths);
void AcceptJoinFiles(HWND page, const std::vector<std::string>& paths);
