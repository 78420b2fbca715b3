// The split run on the Split page: start or halt, the worker thread, and the
// busy switch that the Merge page uses too.
#pragma once

#include <windows.h>

// Create Tracks (1023) pressed: validates the two edits and starts a run, or
// asks the running one to halt.
void OnCreateTracks(HWND page);

DWORD WINAPI SplitWorker(LPVOID page);
bool HaltRequested(HWND page);
void SetPageBusy(HWND page, bool busy);
