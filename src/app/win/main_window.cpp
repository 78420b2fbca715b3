// The main window: tab control, the four pages, the message loop.
#include "app/file_io.h"
#include "app/win/dropped_files.h"
#include "app/win/page_run.h"
#include "app/win/pages.h"

#include <commctrl.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "app/property_list.h"
#include "resource_ids.h"
#include "split/win/waveform_window.h"

HWND CurrentPage = nullptr;

namespace {

struct PageInfo {
  const char* tabText;
  int templateId;
  DLGPROC proc;
  int32_t pageId;
  const char* entryName;
};

const PageInfo kPages[] = {
    {"Split", IDD_SPLIT_PAGE, SplitPageProc, kPropSplitWindow, "Split Window"},
    {"Join", IDD_MERGE_PAGE, MergePageProc, kPropMergeWindow, "Merge Window"},
    {"Help", IDD_HELP_PAGE, HelpPageProc, kPropHelpWindow, "Help Window"},
    {"About", IDD_ABOUT_PAGE, AboutPageProc, kPropAboutWindow, "About Window"},
};

// Windows 8.1 and later tell a window of a per-monitor aware program that
// it moved to a display of another scale.
constexpr UINT kDpiChangedMessage = 0x02E0;  // WM_DPICHANGED

// The pages' place in the main window's client area: 25 x 40 pixels with
// the dialog font at 96 DPI, where a dialog unit is 1.5 pixels across and
// 1.625 down. Held in dialog units, so that it scales as the pages do.
constexpr int kPageLeft = 25;
constexpr int kPageTop = 40;

void PlacePage(HWND mainWindow, HWND page, UINT flags) {
  RECT units = {0, 0, 400, 800};  // 600 x 1300 pixels at 96 DPI
  MapDialogRect(mainWindow, &units);
  SetWindowPos(page, HWND_TOP, MulDiv(kPageLeft, units.right, 600), MulDiv(kPageTop, units.bottom, 1300), 0, 0,
               SWP_NOSIZE | flags);
}

PropertyEntry* ListOf(HWND window) {
  return reinterpret_cast<PropertyEntry*>(GetWindowLongPtrA(window, GWLP_USERDATA));
}

void ChangeTab(HWND mainWindow) {
  LRESULT index = SendDlgItemMessageA(mainWindow, IDC_MAIN_TABS, TCM_GETCURSEL, 0, 0);
  if (index < 0 || index > 3) return;
  ShowWindow(CurrentPage, SW_HIDE);
  CurrentPage = static_cast<HWND>(FindProperty(ListOf(mainWindow), kPropSplitWindow + static_cast<int32_t>(index)));
  ShowWindow(CurrentPage, SW_SHOW);
  SetFocus(CurrentPage);
}

// Files named on the command line, as Explorer passes them when it opens
// the program with them: one file is a source for the Split page, several
// go to the Join page's list. Without any the program starts as always.
void OpenGivenFiles(HWND mainWindow, HWND splitPage, HWND mergePage) {
  std::vector<std::string> paths;
  for (int i = 1; i < __argc; ++i) {
    if (__argv[i] && (IsFilePath(__argv[i]) || IsFolderPath(__argv[i]))) paths.push_back(__argv[i]);
  }
  if (paths.empty()) return;
  bool join = paths.size() > 1 || IsFolderPath(paths[0]);
  SendDlgItemMessageA(mainWindow, IDC_MAIN_TABS, TCM_SETCURSEL, join ? 1 : 0, 0);
  ChangeTab(mainWindow);
  if (join) {
    AcceptJoinFiles(mergePage, paths);
  } else {
    AcceptSplitFiles(splitPage, paths);
  }
}

}  // namespace

void InsertTabs(HWND tabControl) {
  for (int i = 0; i < 4; ++i) {
    TCITEMA item = {};
    item.mask = TCIF_TEXT;
    item.pszText = const_cast<char*>(kPages[i].tabText);
    SendMessageA(tabControl, TCM_INSERTITEMA, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item));
  }
}

void CreatePages(HWND mainWindow, PropertyEntry* list) {
  HINSTANCE module = GetModuleHandleA(nullptr);
  for (const PageInfo& page : kPages) {
    HWND window = CreateDialogParamA(module, MAKEINTRESOURCEA(page.templateId), mainWindow, page.proc,
                                     reinterpret_cast<LPARAM>(list));
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(list));
    PlacePage(mainWindow, window, 0);
    AddProperty(list, window, nullptr, page.pageId, page.entryName);
  }
}

INT_PTR CALLBACK MainWindowProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      auto* list = reinterpret_cast<PropertyEntry*>(lParam);
      InsertTabs(GetDlgItem(dialog, IDC_MAIN_TABS));
      CreatePages(dialog, list);
      CurrentPage = static_cast<HWND>(FindProperty(list, kPropSplitWindow));
      ShowWindow(CurrentPage, SW_SHOW);
      return TRUE;
    }
    case WM_NOTIFY:
      if (reinterpret_cast<NMHDR*>(lParam)->code == TCN_SELCHANGE) ChangeTab(dialog);
      return FALSE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDC_MAIN_QUIT) DestroyWindow(dialog);
      return FALSE;
    case WM_CLOSE:
      DestroyWindow(dialog);
      return FALSE;
    case kDpiChangedMessage: {
      // Moved to a display of another scale: the dialog manager scales the
      // dialogs and their fonts; the window takes the size Windows suggests
      // and the pages their places for the new scale.
      const auto* suggested = reinterpret_cast<const RECT*>(lParam);
      SetWindowPos(dialog, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                   suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
      if (auto* list = ListOf(dialog)) {
        for (const PageInfo& page : kPages) {
          PlacePage(dialog, static_cast<HWND>(FindProperty(list, page.pageId)), SWP_NOZORDER | SWP_NOACTIVATE);
        }
      }
      return TRUE;
    }
    case WM_DESTROY:
      PostQuitMessage(0);
      return FALSE;
    default:
      return FALSE;
  }
}

int RunProgram(HINSTANCE instance) {
  INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_TAB_CLASSES | ICC_UPDOWN_CLASS};
  InitCommonControlsEx(&controls);

  PropertyEntry* list = CreatePropertyList(nullptr, nullptr, kPropRoot, nullptr);
  HWND mainWindow = list ? CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_MAIN_WINDOW), nullptr, MainWindowProc,
                                              reinterpret_cast<LPARAM>(list))
                         : nullptr;
  if (!mainWindow) {
    MessageBoxA(nullptr, "MP3 Snipwise could not start: there is not enough memory or a resource is missing.",
                kAppCaption, MB_OK | MB_ICONWARNING);
    FreePropertyList(list);
    return 1;
  }
  SetWindowLongPtrA(mainWindow, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(list));
  HWND splitPage = static_cast<HWND>(FindProperty(list, kPropSplitWindow));
  HWND mergePage = static_cast<HWND>(FindProperty(list, kPropMergeWindow));
  HICON icon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_APP_ICON));
  SetClassLongPtrA(mainWindow, GCLP_HICON, reinterpret_cast<LONG_PTR>(icon));
  // The caption's small icon at the size of this display's scale (the icon
  // holds 16, 32, 48 and 256 pixel images; the nearest is scaled down).
  HICON smallIcon = static_cast<HICON>(LoadImageA(instance, MAKEINTRESOURCEA(IDI_APP_ICON), IMAGE_ICON,
                                                  GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
  if (smallIcon) SendMessageA(mainWindow, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon));
  ShowWindow(mainWindow, SW_SHOW);
  OpenGivenFiles(mainWindow, splitPage, mergePage);

  MSG msg = {};
  BOOL got;
  while ((got = GetMessageA(&msg, nullptr, 0, 0)) > 0) {
    if (HWND wave = WaveformWindow(); wave && IsDialogMessageA(wave, &msg)) continue;
    if (IsDialogMessageA(splitPage, &msg)) continue;
    if (IsDialogMessageA(mergePage, &msg)) continue;
    if (IsDialogMessageA(mainWindow, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  // The program ends with a run still going: the file it was writing goes
  // (and its next write fails, so that its worker stops at once), every
  // finished one stays, and the worker gets a moment to end.
  snip::RemoveUnfinishedOutputs();
  EndPageRuns(1500);
  DestroyIcon(icon);
  if (smallIcon) DestroyIcon(smallIcon);
  FreePropertyList(list);
  // A failing GetMessageA (-1) ends the loop too, rather than spinning on it.
  return got == 0 ? static_cast<int>(msg.wParam) : 1;
}
