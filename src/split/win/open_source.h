// Examines a chosen source for the Split page and shows the outcome.
#pragma once

#include <windows.h>

// Opens path, scans it (showing the refusal message when refused) and, on
// success, stores the values in the page's property list and shows the path
// in edit 1000 and the bitrate in static 1010. Nonzero on success.
int OpenSource(HWND page, const char* path);

namespace snip {
struct ScanResult;
}

// The two halves of OpenSource for a scan on a worker thread: ShowSourceScan
// (interface thread) shows the outcome of a scan of path that had the file
// open (opened false: it could not be opened, which is not told).
int ShowSourceScan(HWND page, const char* path, bool opened, const snip::ScanResult& result);
