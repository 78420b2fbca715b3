#include "support/win/gui_kit.h"

#include <commctrl.h>
#include <shlobj.h>

#include <chrono>
#include <cstring>

#include "app/property_list.h"
#include "app/win/pages.h"
#include "resource_ids.h"
#include "split/win/waveform_window.h"

namespace snip::gui {

namespace {

// Dialogs offered each message first, in the order of the program's loop.
std::vector<HWND> dialogOrder;

bool OurProcess(HWND window) {
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  return pid == GetCurrentProcessId();
}

std::string ClassOf(HWND window) {
  char name[64] = {};
  GetClassNameA(window, name, sizeof(name));
  return name;
}

std::vector<HWND> TopLevelDialogs() {
  std::vector<HWND> found;
  EnumWindows(
      [](HWND window, LPARAM param) -> BOOL {
        auto* out = reinterpret_cast<std::vector<HWND>*>(param);
        if (OurProcess(window) && IsWindowVisible(window) && ClassOf(window) == "#32770") out->push_back(window);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found;
}

void Sleep10() { Sleep(10); }  // polling step of the watcher threads

// The window's caption without sending it a message, so that a watcher
// thread never waits on a thread that is busy.
std::string Caption(HWND window) {
  wchar_t wide[256] = {};
  int n = InternalGetWindowText(window, wide, 256);
  char narrow[512] = {};
  WideCharToMultiByte(CP_UTF8, 0, wide, n, narrow, sizeof(narrow) - 1, nullptr, nullptr);
  return narrow;
}

// Ends a watcher thread while this thread keeps handling the messages that
// the watcher may be sending it.
void JoinPumping(std::thread& thread, const std::atomic<bool>& finished) {
  PumpUntil([&] { return finished.load(); }, 30000);
  thread.join();
}

bool WaitFor(const std::function<bool()>& condition, const std::atomic<bool>& stop, int timeoutMs) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!stop && std::chrono::steady_clock::now() < end) {
    if (condition()) return true;
    Sleep10();
  }
  return false;
}

int IconKind(HWND box) {
  struct Known {
    LPCSTR id;
    int kind;
  };
  const Known known[] = {{IDI_EXCLAMATION, MB_ICONWARNING},
                         {IDI_ASTERISK, MB_ICONINFORMATION},
                         {IDI_HAND, MB_ICONERROR},
                         {IDI_QUESTION, MB_ICONQUESTION}};
  for (HWND child : Descendants(box)) {
    if (ClassOf(child) != "Static") continue;
    if ((GetWindowLongPtrA(child, GWL_STYLE) & SS_TYPEMASK) != SS_ICON) continue;
    auto icon = reinterpret_cast<HICON>(SendMessageA(child, STM_GETICON, 0, 0));
    if (!icon || !IsWindowVisible(child)) return 0;
    for (const Known& k : known) {
      if (LoadIconA(nullptr, k.id) == icon) return k.kind;
    }
    return -1;  // an icon we do not know
  }
  return 0;
}

std::string BoxText(HWND box) {
  for (int id : {0xFFFF, 100}) {
    HWND item = GetDlgItem(box, id);
    if (item && ClassOf(item) == "Static") {
      std::string text = Text(item);
      if (!text.empty()) return text;
    }
  }
  for (HWND child : Descendants(box)) {
    if (ClassOf(child) != "Static") continue;
    if ((GetWindowLongPtrA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) continue;
    std::string text = Text(child);
    if (!text.empty()) return text;
  }
  return {};
}

}  // namespace

std::vector<HWND> Descendants(HWND parent) {
  std::vector<HWND> found;
  EnumChildWindows(
      parent,
      [](HWND window, LPARAM param) -> BOOL {
        reinterpret_cast<std::vector<HWND>*>(param)->push_back(window);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found;
}

// ---- pumping ---------------------------------------------------------------

void Pump() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) continue;
    // As the program's loop: the waveform window first, then the pages.
    bool taken = WaveformWindow() && IsDialogMessageA(WaveformWindow(), &msg);
    for (HWND dialog : dialogOrder) {
      if (taken) break;
      if (dialog && IsWindow(dialog) && IsDialogMessageA(dialog, &msg)) {
        taken = true;
        break;
      }
    }
    if (taken) continue;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

bool PumpUntil(const std::function<bool()>& condition, int timeoutMs) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    Pump();
    if (condition()) return true;
    if (std::chrono::steady_clock::now() >= end) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
}

void PumpFor(int ms) {
  PumpUntil([] { return false; }, ms);
}

// ---- the program's windows ---------------------------------------------------

AppWindow::AppWindow() {
  INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_TAB_CLASSES | ICC_UPDOWN_CLASS};
  InitCommonControlsEx(&controls);
  list_ = CreatePropertyList(nullptr, nullptr, kPropRoot, nullptr);
  main_ = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_MAIN_WINDOW), nullptr, MainWindowProc,
                             reinterpret_cast<LPARAM>(list_));
  if (main_) {
    SetWindowLongPtrA(main_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(list_));
    ShowWindow(main_, SW_SHOW);
    dialogOrder = {Split(), Merge(), main_};
  }
  Pump();
}

AppWindow::~AppWindow() {
  dialogOrder.clear();
  if (main_ && IsWindow(main_)) DestroyWindow(main_);
  Pump();  // takes the quit message that the main window posts when destroyed
  FreePropertyList(list_);
}

HWND AppWindow::Page(int pageId) const { return static_cast<HWND>(FindProperty(list_, pageId)); }

void AppWindow::SelectTab(int index) {
  HWND tabs = GetDlgItem(main_, IDC_MAIN_TABS);
  SendMessageA(tabs, TCM_SETCURSEL, static_cast<WPARAM>(index), 0);
  NMHDR header = {};
  header.hwndFrom = tabs;
  header.idFrom = IDC_MAIN_TABS;
  header.code = TCN_SELCHANGE;
  SendMessageA(main_, WM_NOTIFY, IDC_MAIN_TABS, reinterpret_cast<LPARAM>(&header));
  Pump();
}

// ---- controls ------------------------------------------------------------------

std::string Text(HWND window) {
  int length = GetWindowTextLengthA(window);
  std::string text(static_cast<size_t>(length) + 1, '\0');
  int got = GetWindowTextA(window, text.data(), length + 1);
  text.resize(static_cast<size_t>(got > 0 ? got : 0));
  return text;
}

std::string Text(HWND dialog, int id) { return Text(GetDlgItem(dialog, id)); }

void SetText(HWND dialog, int id, const std::string& text) { SetDlgItemTextA(dialog, id, text.c_str()); }

void Click(HWND dialog, int id) {
  SendMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0);
  Pump();
}

void PostClick(HWND dialog, int id) { PostMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

bool IsEnabled(HWND dialog, int id) { return IsWindowEnabled(GetDlgItem(dialog, id)) != 0; }

bool IsVisible(HWND window) { return IsWindowVisible(window) != 0; }

bool IsChecked(HWND dialog, int id) { return IsDlgButtonChecked(dialog, id) == BST_CHECKED; }

void SetChecked(HWND dialog, int id, bool checked) {
  CheckDlgButton(dialog, id, checked ? BST_CHECKED : BST_UNCHECKED);
}

std::vector<std::string> ListLines(HWND dialog, int id) {
  HWND list = GetDlgItem(dialog, id);
  std::vector<std::string> lines;
  LRESULT count = SendMessageA(list, LB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    LRESULT length = SendMessageA(list, LB_GETTEXTLEN, static_cast<WPARAM>(i), 0);
    std::string line(static_cast<size_t>(length > 0 ? length : 0) + 1, '\0');
    SendMessageA(list, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(line.data()));
    line.resize(static_cast<size_t>(length > 0 ? length : 0));
    lines.push_back(line);
  }
  return lines;
}

int ListSelection(HWND dialog, int id) { return static_cast<int>(SendDlgItemMessageA(dialog, id, LB_GETCURSEL, 0, 0)); }

void ListSelect(HWND dialog, int id, int index) {
  SendDlgItemMessageA(dialog, id, LB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

LPARAM ListItemData(HWND dialog, int id, int index) {
  return SendDlgItemMessageA(dialog, id, LB_GETITEMDATA, static_cast<WPARAM>(index), 0);
}

void PressKey(HWND control, WPARAM key) {
  SetFocus(control);
  PostMessageA(control, WM_KEYDOWN, key, 1);
  PostMessageA(control, WM_KEYUP, key, static_cast<LPARAM>(0xC0000001u));
  Pump();
}

// ---- message boxes --------------------------------------------------------------

MessageBoxWatcher::MessageBoxWatcher(int answer) : answer_(answer) {
  thread_ = std::thread([this] {
    Run();
    finished_ = true;
  });
}

MessageBoxWatcher::~MessageBoxWatcher() {
  stop_ = true;
  JoinPumping(thread_, finished_);
}

void MessageBoxWatcher::Run() {
  while (!stop_) {
    for (HWND box : TopLevelDialogs()) {
      if (Caption(box) != kAppCaption) continue;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        bool seen = false;
        for (HWND done : answered_) seen = seen || done == box;
        if (seen) continue;
      }
      CapturedBox captured;
      captured.caption = Text(box);
      captured.text = BoxText(box);
      captured.icon = IconKind(box);
      captured.owner = GetWindow(box, GW_OWNER);
      for (HWND child : Descendants(box)) {
        if (ClassOf(child) == "Button" && IsWindowVisible(child)) captured.buttons.push_back(GetDlgCtrlID(child));
      }
      int answer = answer_;
      bool present = false;
      for (int id : captured.buttons) present = present || id == answer;
      if (!present && !captured.buttons.empty()) answer = captured.buttons.front();
      {
        std::lock_guard<std::mutex> lock(mutex_);
        boxes_.push_back(captured);
        answered_.push_back(box);
      }
      PostMessageA(box, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, answer)));
    }
    {
      // Forget boxes that have gone, so a reused handle counts as new.
      std::lock_guard<std::mutex> lock(mutex_);
      std::vector<HWND> alive;
      for (HWND done : answered_) {
        if (IsWindow(done)) alive.push_back(done);
      }
      answered_ = alive;
    }
    Sleep(15);
  }
}

std::vector<CapturedBox> MessageBoxWatcher::Boxes() {
  std::lock_guard<std::mutex> lock(mutex_);
  return boxes_;
}

size_t MessageBoxWatcher::Count() {
  std::lock_guard<std::mutex> lock(mutex_);
  return boxes_.size();
}

bool MessageBoxWatcher::WaitForCount(size_t n, int timeoutMs) {
  return PumpUntil([&] { return Count() >= n; }, timeoutMs);
}

// ---- common dialogs -------------------------------------------------------------

DialogDriver::DialogDriver(std::string title, std::function<void(HWND)> act)
    : title_(std::move(title)), act_(std::move(act)) {
  thread_ = std::thread([this] {
    Run();
    finished_ = true;
  });
}

DialogDriver::~DialogDriver() {
  stop_ = true;
  JoinPumping(thread_, finished_);
}

void DialogDriver::Run() {
  HWND dialog = nullptr;
  auto find = [&] {
    for (HWND candidate : TopLevelDialogs()) {
      if (Caption(candidate) == title_) {
        dialog = candidate;
        return true;
      }
    }
    return false;
  };
  if (!WaitFor(find, stop_, 20000)) return;
  seen_ = true;
  Sleep(100);  // let the dialog finish its own initialisation
  act_(dialog);
  WaitFor([&] { return !IsWindow(dialog) || !IsWindowVisible(dialog); }, stop_, 10000);
  done_ = true;
}

bool DialogDriver::WaitDone(int timeoutMs) {
  return PumpUntil([&] { return done_.load(); }, timeoutMs);
}

FileDialogDriver::FileDialogDriver(std::string title, std::vector<std::string> names, bool cancel)
    : DialogDriver(std::move(title), [names = std::move(names), cancel](HWND dialog) {
        if (cancel) {
          PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                       reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDCANCEL)));
          return;
        }
        for (const std::string& name : names) {
          if (!IsWindow(dialog)) break;
          HWND edit = nullptr;
          if (HWND combo = GetDlgItem(dialog, 1148)) {
            HWND inner = FindWindowExA(combo, nullptr, "ComboBox", nullptr);
            edit = FindWindowExA(inner ? inner : combo, nullptr, "Edit", nullptr);
          }
          if (!edit) edit = GetDlgItem(dialog, 1152);
          SendMessageA(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(name.c_str()));
          PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                       reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
          Sleep(300);
        }
      }) {}

FolderDialogDriver::FolderDialogDriver(std::string path, bool cancel) : path_(std::move(path)), cancel_(cancel) {
  thread_ = std::thread([this] {
    Run();
    finished_ = true;
  });
}

FolderDialogDriver::~FolderDialogDriver() {
  stop_ = true;
  JoinPumping(thread_, finished_);
}

void FolderDialogDriver::Run() {
  HWND dialog = nullptr;
  auto find = [&] {
    for (HWND candidate : TopLevelDialogs()) {
      for (HWND child : Descendants(candidate)) {
        if (ClassOf(child) == "SysTreeView32") {
          dialog = candidate;
          return true;
        }
      }
    }
    return false;
  };
  if (!WaitFor(find, stop_, 20000)) return;
  seen_ = true;
  // The tree fills itself after the dialog shows, slowly on a busy machine:
  // wait until its item count has settled.
  HWND tree = nullptr;
  for (HWND child : Descendants(dialog)) {
    if (ClassOf(child) == "SysTreeView32") tree = child;
  }
  LRESULT lastCount = -1;
  int stableFor = 0;
  WaitFor(
      [&] {
        LRESULT count = SendMessageA(tree, TVM_GETCOUNT, 0, 0);
        stableFor = (count > 0 && count == lastCount) ? stableFor + 1 : 0;
        lastCount = count;
        return stableFor >= 20;
      },
      stop_, 10000);
  if (cancel_) {
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDCANCEL)));
  } else {
    wchar_t wide[MAX_PATH] = {};
    MultiByteToWideChar(CP_ACP, 0, path_.c_str(), -1, wide, MAX_PATH);
    std::string leaf = path_.substr(path_.find_last_of('\\') + 1);
    // The browser fills its tree lazily; ask again until the folder is the
    // selected item.
    WaitFor(
        [&] {
          SendMessageW(dialog, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(wide));
          Sleep(100);
          auto item = reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
          char text[MAX_PATH] = {};
          TVITEMA info = {};
          info.mask = TVIF_TEXT;
          info.hItem = item;
          info.pszText = text;
          info.cchTextMax = MAX_PATH;
          return item && SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&info)) &&
                 lstrcmpiA(text, leaf.c_str()) == 0;
        },
        stop_, 10000);
    Sleep(100);
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
  }
  WaitFor([&] { return !IsWindow(dialog) || !IsWindowVisible(dialog); }, stop_, 10000);
  done_ = true;
}

bool FolderDialogDriver::WaitDone(int timeoutMs) {
  return PumpUntil([&] { return done_.load(); }, timeoutMs);
}

std::string WinPath(const std::string& path) { return path; }

void PostDrop(HWND target, const std::vector<std::string>& paths) {
  std::wstring list;
  for (const std::string& path : paths) {
    int n = MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, nullptr, 0);
    std::wstring wide(n > 0 ? n : 1, L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, wide.data(), n);
    list += wide;  // with its terminator
  }
  list += L'\0';
  size_t bytes = sizeof(DROPFILES) + list.size() * sizeof(wchar_t);
  HGLOBAL block = GlobalAlloc(GHND, bytes);
  auto* drop = static_cast<DROPFILES*>(GlobalLock(block));
  drop->pFiles = sizeof(DROPFILES);
  drop->fWide = TRUE;
  std::memcpy(reinterpret_cast<char*>(drop) + sizeof(DROPFILES), list.data(), list.size() * sizeof(wchar_t));
  GlobalUnlock(block);
  PostMessageW(target, WM_DROPFILES, reinterpret_cast<WPARAM>(block), 0);
}

}  // namespace snip::gui
