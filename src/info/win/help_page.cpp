#include "app/win/pages.h"

INT_PTR CALLBACK HelpPageProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }
