// The Split page's track timing list: one TrackMark per line of list box
// 1007, owned by the line as its item data. The list is sorted by time text,
// which is time order since every line has the same width; its first line is
// the "000:00.00" marker whenever it is not empty.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

struct TrackMark {
  char artist[101];   // artist of the track that begins here; empty until named
  char title[101];    // title of that track
  char timeText[22];  // raw text on arrival; "%03u:%02u.%02u" once added
  int32_t offset;     // hundredths of a second from the start of the source
};

// A zero-filled mark from the heap, or null when memory is out.
TrackMark* NewTrackMark();
// Releases a mark made by NewTrackMark (null is fine).
void FreeTrackMark(TrackMark* mark);
// Marks made and not yet released.
long LiveTrackMarks();
// For tests: asked before each allocation; false makes it fail. Null: never fails.
using TrackMarkAllocHook = bool (*)();
void SetTrackMarkAllocHook(TrackMarkAllocHook hook);

// Scans mark->timeText and adds the mark as a line of the page's list,
// creating the "000:00.00" marker first when the list is empty and the time
// is not 0. Takes ownership of mark in every case: on refusal (text that does
// not scan, a duplicate time, a line the list cannot take) it is released and
// the list, edit 1009 and the focus stay as they were. On success edit 1009
// is emptied and given the focus.
bool AddTrackMark(HWND page, TrackMark* mark);
// The same without touching edit 1009 or the focus (marks that were not
// typed).
bool InsertTrackMark(HWND page, TrackMark* mark);
// Moves the mark of line index (not the "000:00.00" marker) to offset by the
// rules of a typed time, keeping its artist and title, and selects its line.
// False, with the list as it was, when the time is taken or not after 0.
bool MoveTrackMark(HWND page, int index, int32_t offset);

// Add Time (1005): the first 9 characters of edit 1009 as a new mark.
bool AddTimeFromEdit(HWND page);
// Grab Winamp Position (1019): asks the player for its play position and adds
// it; warns when no player window exists.
bool GrabWinampPosition(HWND page);
// Remove Time (1026): removes the selected line; the marker only when it is
// the last line. Selects the line that took the removed line's place.
void RemoveSelectedTime(HWND page);
// Clear List (1027): releases every line's mark and empties the list.
void ClearTrackMarks(HWND page);

// The own TITLE and PERFORMER of the CUE sheet the list was imported from:
// the album and album artist of tagged tracks. Kept with the list until it
// is cleared.
void SetListAlbum(HWND page, const std::string& title, const std::string& performer);
void ReadListAlbum(HWND page, std::string* title, std::string* performer);

// The mark of a line of the page's list, or null.
TrackMark* TrackMarkAt(HWND page, int index);

// Opens the TrackInfoDialog (template 119) for the selected line; with no
// selection nothing happens.
void OpenTrackInfo(HWND page);
INT_PTR CALLBACK TrackInfoDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
