// The split run on the Split page: Create Tracks reads and checks the job,
// asks before replacing existing files and starts the run through the page
// run controller, or asks the running one to halt.
#pragma once

#include <windows.h>

void OnCreateTracks(HWND page);
