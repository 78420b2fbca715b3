#include "app/win/pages.h"

INT_PTR CALLBACK MergePageProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }
