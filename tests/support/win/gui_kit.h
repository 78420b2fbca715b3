// Test kit for the real program under Wine: the main window and its pages
// from the program's own resources and dialog procedures, control access,
// message pumping, and watchers that record and answer message boxes and
// drive the common dialogs from a thread of their own.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct PropertyEntry;

namespace snip::gui {

// ---- pumping ---------------------------------------------------------------
// A test thread that owns windows must keep pumping while it waits for
// another thread (a worker, a box on another thread): Wine sends it messages
// across threads (activation, texts), and a plain join would deadlock.
void Pump();  // handles every message waiting for this thread
bool PumpUntil(const std::function<bool()>& condition, int timeoutMs = 10000);
void PumpFor(int ms);

// ---- the program's windows ---------------------------------------------------
// The real main window (template 101, its procedure, the four pages), made
// the way start-up makes it but without the message loop; shown. Frees the
// window and the list at destruction.
class AppWindow {
 public:
  AppWindow();
  ~AppWindow();
  HWND Main() const { return main_; }
  HWND Page(int pageId) const;  // 4 Split, 5 Merge, 6 Help, 7 About
  HWND Split() const { return Page(4); }
  HWND Merge() const { return Page(5); }
  PropertyEntry* List() const { return list_; }
  // Picks tab index through the tab control as a click would (sends TCN_SELCHANGE).
  void SelectTab(int index);

 private:
  PropertyEntry* list_ = nullptr;
  HWND main_ = nullptr;
};

// ---- controls ------------------------------------------------------------------
// Every window below parent, its children's children too.
std::vector<HWND> Descendants(HWND parent);
std::string Text(HWND window);
std::string Text(HWND dialog, int id);
void SetText(HWND dialog, int id, const std::string& text);
void Click(HWND dialog, int id);      // BM_CLICK on the control: returns when the handler has run
void PostClick(HWND dialog, int id);  // the same, queued (for handlers that open a modal dialog)
bool IsEnabled(HWND dialog, int id);
bool IsVisible(HWND window);
bool IsChecked(HWND dialog, int id);
void SetChecked(HWND dialog, int id, bool checked);
std::vector<std::string> ListLines(HWND dialog, int id);
int ListSelection(HWND dialog, int id);
void ListSelect(HWND dialog, int id, int index);
LPARAM ListItemData(HWND dialog, int id, int index);
// Sends a key press (down and up) to a control through the dialog manager
// of its page, as the program's message loop would.
void PressKey(HWND control, WPARAM key);

// ---- message boxes --------------------------------------------------------------
struct CapturedBox {
  std::string caption;
  std::string text;
  int icon = 0;  // MB_ICONWARNING, MB_ICONINFORMATION, MB_ICONERROR, MB_ICONQUESTION or 0
  HWND owner = nullptr;
  std::vector<int> buttons;  // ids of the push buttons shown (IDOK, IDCANCEL, ...)
};

// Watches for message boxes captioned "MP3 Snipwise" (from any thread of the
// process), records each and answers it with the given button id.
class MessageBoxWatcher {
 public:
  explicit MessageBoxWatcher(int answer = IDOK);
  ~MessageBoxWatcher();
  std::vector<CapturedBox> Boxes();
  size_t Count();
  // Pumps this thread's messages until n boxes were seen.
  bool WaitForCount(size_t n, int timeoutMs = 10000);
  void SetAnswer(int answer) { answer_ = answer; }

 private:
  void Run();
  std::atomic<bool> stop_{false};
  std::atomic<bool> finished_{false};
  std::atomic<int> answer_;
  std::mutex mutex_;
  std::vector<CapturedBox> boxes_;
  std::vector<HWND> answered_;
  std::thread thread_;
};

// Acts on the next dialog of this process captioned `title` (one the test
// thread opened and is inside): act runs on the driver's own thread, and
// may set its controls and post clicks to it.
class DialogDriver {
 public:
  DialogDriver(std::string title, std::function<void(HWND dialog)> act);
  ~DialogDriver();
  bool Seen() const { return seen_; }
  // True once the dialog was acted on and has closed (or was given up on).
  bool WaitDone(int timeoutMs = 15000);

 private:
  void Run();
  std::string title_;
  std::function<void(HWND)> act_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> finished_{false};
  std::atomic<bool> seen_{false};
  std::atomic<bool> done_{false};
  std::thread thread_;
};

// Answers the next common file dialog (open or save) whose title is `title`:
// types each entry of `names` into its file name field and presses OK (use
// several entries to change folder first, then pick files); with cancel set
// it presses Cancel instead.
class FileDialogDriver : public DialogDriver {
 public:
  FileDialogDriver(std::string title, std::vector<std::string> names, bool cancel = false);
};

// Answers the next folder browser: selects `path` and presses OK, or
// presses Cancel.
class FolderDialogDriver {
 public:
  explicit FolderDialogDriver(std::string path, bool cancel = false);
  ~FolderDialogDriver();
  bool Seen() const { return seen_; }
  bool WaitDone(int timeoutMs = 15000);

 private:
  void Run();
  std::string path_;
  bool cancel_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> finished_{false};
  std::atomic<bool> seen_{false};
  std::atomic<bool> done_{false};
  std::thread thread_;
};

// Path of a test file as Windows sees it (the tests' temporary folders are
// already Windows paths under Wine).
std::string WinPath(const std::string& path);

// Drops files on a window as Explorer does: a WM_DROPFILES posted with a
// DROPFILES block of wide, NUL-separated paths (UTF-8 given here).
void PostDrop(HWND target, const std::vector<std::string>& paths);

}  // namespace snip::gui
