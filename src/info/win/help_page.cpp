// The Help page: the program's help text, shown read-only in a multi-line edit.
#include <string>

#include "app/win/pages.h"
#include "resource_ids.h"

namespace {

// The help text resource holds no terminating zero, so it is copied out with
// its exact size before it is handed to the edit control.
void ShowHelpText(HWND page) {
  HMODULE module = GetModuleHandleA(nullptr);
  HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(IDR_HELP_TEXT), "TEXT");
  if (!found) return;
  DWORD size = SizeofResource(module, found);
  HGLOBAL loaded = LoadResource(module, found);
  const char* bytes = loaded ? static_cast<const char*>(LockResource(loaded)) : nullptr;
  if (!bytes) return;
  std::string text(bytes, size);
  SetDlgItemTextA(page, IDC_HELP_TEXT, text.c_str());
}

// Removes any selection, leaving the caret where the selection began: the
// dialog manager selects the whole text when it focuses the edit, and
// collapsing that to its end would scroll the text to its last line.
void ClearSelection(HWND page) {
  DWORD start = 0;
  SendDlgItemMessageA(page, IDC_HELP_TEXT, EM_GETSEL, reinterpret_cast<WPARAM>(&start), 0);
  SendDlgItemMessageA(page, IDC_HELP_TEXT, EM_SETSEL, start, start);
}

}  // namespace

INT_PTR CALLBACK HelpPageProc(HWND page, UINT message, WPARAM, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      ShowHelpText(page);
      return TRUE;
    case WM_ACTIVATE:
      ClearSelection(page);
      return FALSE;
    case WM_SETFOCUS: {
      // The page is a child window and never sees WM_ACTIVATE; it is focused
      // when its tab is chosen. The dialog manager's own focus handling would
      // select the whole text, so the edit is focused here without that.
      HWND edit = GetDlgItem(page, IDC_HELP_TEXT);
      if (!edit) return FALSE;
      SetFocus(edit);
      ClearSelection(page);
      return TRUE;
    }
    default:
      return FALSE;
  }
}
