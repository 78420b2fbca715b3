#include "app/win/pages.h"

INT_PTR CALLBACK AboutPageProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }
