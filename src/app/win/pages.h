// Dialog procedures of the main window and its pages, and the program's
// start-up.
#pragma once

#include <windows.h>

struct PropertyEntry;

// Caption of every message box of the program.
inline constexpr const char* kAppCaption = "MP3 Snipwise";

INT_PTR CALLBACK MainWindowProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK SplitPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK MergePageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK HelpPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK AboutPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);

// The page now shown; user-interface thread only.
extern HWND CurrentPage;

void InsertTabs(HWND tabControl);
void CreatePages(HWND mainWindow, PropertyEntry* list);

// Start-up, message loop and clean-up; returns the exit code.
int RunProgram(HINSTANCE instance);
