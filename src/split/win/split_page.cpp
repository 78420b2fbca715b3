#include "app/win/pages.h"

INT_PTR CALLBACK SplitPageProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }
