// The About page: name, version, icon and a link to the program's home page.
#pragma once

#include <windows.h>

// Address of the program's home page, shown by the link and opened on a click.
inline constexpr const char* kHomePageAddress = "https://snipwise.example/";

// Opens a document the way ShellExecuteA does. The About page opens its link
// through this pointer, so that tests can watch the call instead of starting
// a browser.
using LinkOpenerFn = HINSTANCE(WINAPI*)(HWND owner, LPCSTR verb, LPCSTR file, LPCSTR parameters, LPCSTR directory,
                                        INT showCommand);
extern LinkOpenerFn LinkOpener;
