// The run controller of the working pages (Split, Join): one worker thread
// per run, which never touches a window. The page reads its job from its
// controls on the interface thread and hands it to the worker inside the
// body; the worker asks for a halt through an atomic flag and reports its
// status and its end as posted messages, and the page shows every message
// box from the interface thread.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

// Posted to the page by its worker; the page's dialog procedure passes them
// to HandlePageRunMessage.
inline constexpr UINT WM_PAGE_RUN_STATUS = WM_APP + 40;
inline constexpr UINT WM_PAGE_RUN_END = WM_APP + 41;

// What a running worker may do.
class RunControl {
 public:
  virtual ~RunControl() = default;
  // True once the page asked the run to stop.
  virtual bool HaltRequested() const = 0;
  // Sets the page's status line (shown as soon as the interface thread
  // gets to it; a newer status replaces one not yet shown).
  virtual void SetStatus(const std::string& status) = 0;
};

// Runs on the interface thread once the run is over and the page idle again:
// shows the run's message, stores its results.
using RunFinish = std::function<void(HWND page)>;
// The worker's work: runs on its own thread and tells how the run ends.
using RunBody = std::function<RunFinish(RunControl& control)>;

// Starts a run of the page: the page busy but for its action button and
// status line, the button reading "Cancel". idleCaption is the button's
// caption when no run is on. False when no thread could be started (the page
// is then idle as before).
bool StartPageRun(HWND page, const char* idleCaption, RunBody body);
// True from the start of a run until its end has been handled, so that no
// second run can start in between.
bool PageRunActive(HWND page);
// Asks the page's run to stop: the button reads "Halting...".
void HaltPageRun(HWND page);
// Handles the worker's posted messages; true when the message was one.
bool HandlePageRunMessage(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
// Ends every run at the end of the program: asks each to stop and waits for
// its thread a while (the files they were writing are removed separately).
void EndPageRuns(DWORD waitMs);

// Disables every control of the page but the action button and the status
// line (busy), or enables them all again.
void SetPageBusy(HWND page, bool busy);

// Helpers the working pages share.
std::string WindowText(HWND window);
std::string ControlText(HWND page, int id);
void Warn(HWND page, const char* text);
void Inform(HWND page, const char* text);
// The size of the common dialogs' file structure on this system: the full
// one on Windows 2000 and XP (major version 5), the older form elsewhere.
DWORD OpenFileNameSize();
