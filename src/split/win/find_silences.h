// Find Silences on the Split page: a small dialog asks for the threshold and
// the shortest silence, then the page's worker decodes the source and a mark
// is added to the track list in the middle of every silence found.
#pragma once

#include <windows.h>

void OnFindSilences(HWND page);
INT_PTR CALLBACK FindSilencesDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
