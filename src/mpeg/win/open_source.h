// Examines a chosen source for the Split page and shows the outcome.
#pragma once

#include <windows.h>

// Opens path, scans it (showing the refusal message when refused) and, on
// success, stores the values in the page's property list and shows the path
// in edit 1000 and the bitrate in static 1010. Nonzero on success.
int OpenSource(HWND page, const char* path);
