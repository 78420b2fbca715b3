// The Join page: the list of files to join, the destination, and the join
// run, which copies on a thread of its own and reports on the page.
#include "join/win/merge_page.h"

#include <commctrl.h>

#include <cstdio>
#include <cstring>

#include "app/win/dropped_files.h"
#include "app/win/page_run.h"
#include "app/win/pages.h"
#include "join/join_engine.h"
#include "resource_ids.h"

namespace {

constexpr char kIdleCaption[] = "Merge Tracks";
constexpr char kFilter[] = "MP3 Files (*.mp3)\0*.mp3\0";
constexpr DWORD kOpenBufferSize = 64000;

std::string ListLine(HWND list, int index) {
  LRESULT length = SendMessageA(list, LB_GETTEXTLEN, static_cast<WPARAM>(index), 0);
  if (length == LB_ERR) return std::string();
  std::string text(static_cast<size_t>(length) + 1, '\0');
  LRESULT got = SendMessageA(list, LB_GETTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
  text.resize(got == LB_ERR ? 0 : static_cast<size_t>(got));
  return text;
}

int LineCount(HWND list) {
  LRESULT count = SendMessageA(list, LB_GETCOUNT, 0, 0);
  return count == LB_ERR ? 0 : static_cast<int>(count);
}

void RemoveSelectedLine(HWND page) {
  HWND list = GetDlgItem(page, IDC_MERGE_LIST);
  LRESULT selected = SendMessageA(list, LB_GETCURSEL, 0, 0);
  if (selected != LB_ERR) SendMessageA(list, LB_DELETESTRING, static_cast<WPARAM>(selected), 0);
  // The line after the removed one takes its place; past the end nothing is
  // selected.
  SendMessageA(list, LB_SETCURSEL, static_cast<WPARAM>(selected), 0);
}

}  // namespace

JoinOpenDialogFn JoinOpenDialog = GetOpenFileNameA;

std::vector<std::string> ChosenJoinFiles(const char* buffer, size_t bufferSize, size_t fileOffset, int* tooLong) {
  std::vector<std::string> paths;
  int skipped = 0;
  const char* firstEnd = static_cast<const char*>(std::memchr(buffer, '\0', bufferSize));
  if (firstEnd != nullptr && fileOffset >= 2 && fileOffset < bufferSize) {
    std::string first(buffer, firstEnd);
    // With several files the first string is their folder and the names
    // follow it; with one file it is that file's full path.
    if (fileOffset <= first.size() + 1) {
      std::string folder = first.substr(0, fileOffset - 1);
      // A folder that already ends in a separator (a drive's root) gets none
      // added.
      if (first[fileOffset - 2] != '\\') folder += '\\';
      size_t at = fileOffset;
      while (at < bufferSize && buffer[at] != '\0') {
        const char* nameEnd = static_cast<const char*>(std::memchr(buffer + at, '\0', bufferSize - at));
        if (nameEnd == nullptr) break;
        std::string path = folder + std::string(buffer + at, nameEnd);
        if (path.size() > kJoinMaxPath) {
          ++skipped;
        } else {
          paths.push_back(path);
        }
        at = static_cast<size_t>(nameEnd - buffer) + 1;
      }
    }
  }
  if (tooLong != nullptr) *tooLong = skipped;
  return paths;
}

void AddJoinFiles(HWND page) {
  std::vector<char> buffer(kOpenBufferSize, '\0');
  OPENFILENAMEA dialog = {};
  dialog.lStructSize = OpenFileNameSize();
  dialog.hwndOwner = page;
  dialog.lpstrFilter = kFilter;
  dialog.nFilterIndex = 0;
  dialog.lpstrFile = buffer.data();
  dialog.nMaxFile = kOpenBufferSize;
  dialog.lpstrTitle = "Select MP3 Source File(s)";
  dialog.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_ALLOWMULTISELECT;
  if (!JoinOpenDialog(&dialog)) return;

  int tooLong = 0;
  std::vector<std::string> paths = ChosenJoinFiles(buffer.data(), buffer.size(), dialog.nFileOffset, &tooLong);
  HWND list = GetDlgItem(page, IDC_MERGE_LIST);
  for (const std::string& path : paths) SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(path.c_str()));
  if (tooLong > 0) Warn(page, kJoinPathTooLongMessage);
}

// Files from outside (dropped, or named when the program starts), in the
// order given, by the rules of Add: a folder gives its .mp3 files sorted by
// name, paths over the limit are left out with the same warning.
void AcceptJoinFiles(HWND page, const std::vector<std::string>& paths) {
  if (PageRunActive(page)) return;
  std::vector<std::string> files;
  for (const std::string& path : paths) {
    if (IsFolderPath(path)) {
      for (const std::string& file : Mp3FilesIn(path)) files.push_back(file);
    } else if (IsFilePath(path)) {
      files.push_back(path);
    }
  }
  int tooLong = 0;
  HWND list = GetDlgItem(page, IDC_MERGE_LIST);
  for (const std::string& file : files) {
    if (file.size() > kJoinMaxPath) {
      ++tooLong;
      continue;
    }
    SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(file.c_str()));
  }
  if (tooLong > 0) Warn(page, kJoinPathTooLongMessage);
}

void ChooseJoinDestination(HWND page) {
  char path[kJoinMaxPath + 1] = {};
  OPENFILENAMEA dialog = {};
  dialog.lStructSize = OpenFileNameSize();
  dialog.hwndOwner = page;
  dialog.lpstrFilter = kFilter;
  dialog.lpstrFile = path;
  dialog.nMaxFile = sizeof(path);
  dialog.lpstrTitle = "Select MP3 Destination File";
  dialog.lpstrDefExt = "mp3";
  // An existing file is replaced only when the user says so here.
  dialog.Flags = OFN_EXPLORER | OFN_PATHMUSTEXIST | OFN_OVERWRITEPROMPT;
  if (GetSaveFileNameA(&dialog)) SetDlgItemTextA(page, IDC_MERGE_DESTINATION, path);
}

void MoveJoinLine(HWND list, int delta) {
  LRESULT selected = SendMessageA(list, LB_GETCURSEL, 0, 0);
  if (selected == LB_ERR || delta == 0) return;
  int from = static_cast<int>(selected);
  int to = delta < 0 ? from - 1 : from + 1;
  if (to < 0 || to >= LineCount(list)) return;
  std::string text = ListLine(list, from);
  SendMessageA(list, LB_DELETESTRING, static_cast<WPARAM>(from), 0);
  SendMessageA(list, LB_INSERTSTRING, static_cast<WPARAM>(to), reinterpret_cast<LPARAM>(text.c_str()));
  SendMessageA(list, LB_SETCURSEL, static_cast<WPARAM>(to), 0);
}

void StartOrHaltJoin(HWND page) {
  if (GetWindowTextLengthA(GetDlgItem(page, IDC_MERGE_DESTINATION)) == 0 ||
      LineCount(GetDlgItem(page, IDC_MERGE_LIST)) < 2) {
    Warn(page, snip::kJoinNeedInputsMessage);
    return;
  }
  if (PageRunActive(page)) {
    HaltPageRun(page);
    return;
  }
  // The job is read here; the worker never looks at the page. The save
  // dialog asked before an existing destination was chosen.
  std::string destination = ControlText(page, IDC_MERGE_DESTINATION);
  HWND list = GetDlgItem(page, IDC_MERGE_LIST);
  std::vector<std::string> inputs;
  int count = LineCount(list);
  for (int i = 0; i < count; ++i) inputs.push_back(ListLine(list, i));

  bool oneTag = IsDlgButtonChecked(page, IDC_MERGE_TAGS) == BST_CHECKED;
  bool exact = IsDlgButtonChecked(page, IDC_MERGE_EXACT) == BST_CHECKED;

  bool started = StartPageRun(page, kIdleCaption, [destination, inputs, oneTag, exact](RunControl& control) -> RunFinish {
    snip::JoinHooks hooks;
    hooks.haltRequested = [&control] { return control.HaltRequested(); };
    hooks.lineStarted = [&control](int lineNumber) {
      char status[52];
      std::snprintf(status, sizeof(status), "Status: Joining... [%03d]", lineNumber);
      control.SetStatus(status);
    };
    snip::JoinOutcome outcome = snip::RunJoin(destination, inputs, hooks, true, nullptr, oneTag || exact, exact);
    return [outcome](HWND page) {
      const char* message = snip::JoinOutcomeMessage(outcome);
      if (outcome == snip::JoinOutcome::Completed) {
        Inform(page, message);
      } else if (message != nullptr) {
        Warn(page, message);  // a halt ends silently
      }
    };
  });
  if (!started) Warn(page, snip::JoinOutcomeMessage(snip::JoinOutcome::FileError));
}

INT_PTR CALLBACK MergePageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
  if (HandlePageRunMessage(page, message, wParam, lParam)) return TRUE;
  switch (message) {
    case WM_INITDIALOG:
      SendDlgItemMessageA(page, IDC_MERGE_LIST, LB_SETHORIZONTALEXTENT, 1000, 0);
      DragAcceptFiles(page, TRUE);
      return TRUE;
    case WM_DROPFILES:
      AcceptJoinFiles(page, TakeDroppedPaths(reinterpret_cast<HDROP>(wParam)));
      return TRUE;
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDC_MERGE_CHOOSE:
          ChooseJoinDestination(page);
          break;
        case IDC_MERGE_ADD:
          AddJoinFiles(page);
          break;
        case IDC_MERGE_ACTION:
          StartOrHaltJoin(page);
          break;
        case IDC_MERGE_REMOVE:
          RemoveSelectedLine(page);
          break;
        case IDC_MERGE_CLEAR:
          SendDlgItemMessageA(page, IDC_MERGE_LIST, LB_RESETCONTENT, 0, 0);
          break;
        default:
          break;
      }
      return FALSE;
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lParam);
      if (wParam == IDC_MERGE_SPIN && header != nullptr && header->code == UDN_DELTAPOS) {
        MoveJoinLine(GetDlgItem(page, IDC_MERGE_LIST), reinterpret_cast<const NMUPDOWN*>(lParam)->iDelta);
      }
      return FALSE;
    }
    default:
      return FALSE;
  }
}
