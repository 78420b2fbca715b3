// The Join page: its list of files, the destination, and the join run.
#pragma once

#include <windows.h>

#include <commdlg.h>

#include <cstddef>
#include <string>
#include <vector>

// Longest full path the join list holds (a 260-byte buffer with its end).
inline constexpr size_t kJoinMaxPath = 259;

inline constexpr const char* kJoinPathTooLongMessage =
    "A file you chose has a path longer than 259 characters and was not added.";

// The open dialog that "Add..." shows; tests may put another in its place.
using JoinOpenDialogFn = BOOL(WINAPI*)(LPOPENFILENAMEA);
extern JoinOpenDialogFn JoinOpenDialog;

// "Add...": the multiple-selection open dialog; appends the chosen files.
void AddJoinFiles(HWND page);
// "Choose...": the save dialog; sets the destination edit.
void ChooseJoinDestination(HWND page);
// Moves the selected line of the list one place: up for a negative delta,
// down for a positive one.
void MoveJoinLine(HWND list, int delta);
// "Merge Tracks" / "Cancel": checks the inputs, then starts a run through
// the page run controller or asks the running one to halt.
void StartOrHaltJoin(HWND page);

// The full paths in the buffer that the multiple-selection open dialog
// filled: a folder and names, or one full path, as told by fileOffset (the
// offset of the first name). Paths longer than kJoinMaxPath are left out and
// counted in *tooLong.
std::vector<std::string> ChosenJoinFiles(const char* buffer, size_t bufferSize, size_t fileOffset, int* tooLong);
