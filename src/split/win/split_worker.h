// The split run on the Split page: start or halt, the worker thread, and the
// busy switch that the Merge page uses too.
#pragma once

#include <windows.h>

// Create Tracks (1023) pressed: reads and checks the job, asks before
// replacing existing files, and starts a run; or asks the running one to
// halt.
void OnCreateTracks(HWND page);

// The worker thread; its parameter is the run OnCreateTracks prepared.
DWORD WINAPI SplitWorker(LPVOID run);
bool HaltRequested(HWND page);
void SetPageBusy(HWND page, bool busy);
