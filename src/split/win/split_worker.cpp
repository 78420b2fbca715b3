// The split run: the Create Tracks handler on the interface thread, the
// worker thread that reads the page and runs the cut, and the busy switch of
// a working page.
#include "split/win/split_worker.h"

#include <cstring>

#include "resource_ids.h"

namespace {

constexpr const char* kIdleCaption = "Create Tracks";
constexpr const char* kHaltingCaption = "Halting...";
constexpr const char* kIdleStatus = "Status: Idle";

BOOL CALLBACK SetChildBusy(HWND child, LPARAM lParam) {
  if (lParam == 0) {
    EnableWindow(child, TRUE);
    return TRUE;
  }
  // The action button and the status line stay usable; a child is
  // recognised as one of them through its own parent, so a control with the
  // same id deeper down is still disabled.
  HWND parent = GetParent(child);
  if (child == GetDlgItem(parent, IDC_PAGE_ACTION) || child == GetDlgItem(parent, IDC_PAGE_STATUS)) return TRUE;
  EnableWindow(child, FALSE);
  return TRUE;
}

// The action button's caption, read as the page keeps it (up to 19 characters).
bool CaptionIs(HWND page, const char* caption) {
  char text[20] = {};
  GetDlgItemTextA(page, IDC_PAGE_ACTION, text, sizeof(text));
  return std::strcmp(text, caption) == 0;
}

}  // namespace

void SetPageBusy(HWND page, bool busy) { EnumChildWindows(page, SetChildBusy, busy ? 1 : 0); }

bool HaltRequested(HWND page) {
  if (!CaptionIs(page, kHaltingCaption)) return false;
  SetDlgItemTextA(page, IDC_PAGE_ACTION, kIdleCaption);
  SetDlgItemTextA(page, IDC_PAGE_STATUS, kIdleStatus);
  return true;
}
