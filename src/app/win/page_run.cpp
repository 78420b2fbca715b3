#include "app/win/page_run.h"

#include <commdlg.h>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

#include "app/win/pages.h"
#include "resource_ids.h"

namespace {

constexpr const char* kRunningCaption = "Cancel";
constexpr const char* kHaltingCaption = "Halting...";
constexpr const char* kIdleStatus = "Status: Idle";

// What the worker and the interface thread share: the page's window (only
// posted to), the halt flag and the latest status.
class SharedRun : public RunControl {
 public:
  explicit SharedRun(HWND page) : page_(page) {}
  bool HaltRequested() const override { return halt_.load(); }
  void SetStatus(const std::string& status) override {
    bool post;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      post = !statusWaiting_;
      status_ = status;
      statusWaiting_ = true;
    }
    if (post) PostMessageA(page_, WM_PAGE_RUN_STATUS, 0, 0);
  }
  std::string TakeStatus() {
    std::lock_guard<std::mutex> lock(mutex_);
    statusWaiting_ = false;
    return status_;
  }
  void Halt() { halt_.store(true); }

 private:
  HWND page_;
  std::atomic<bool> halt_{false};
  std::mutex mutex_;
  std::string status_;
  bool statusWaiting_ = false;
};

// A run as the interface thread keeps it.
struct PageRun {
  std::shared_ptr<SharedRun> shared;
  std::string idleCaption;
  HANDLE thread = nullptr;
};

// Runs by page; interface thread only.
std::map<HWND, PageRun> runs;

// The worker's start: the body and what it needs to report its end.
struct WorkerStart {
  HWND page;
  std::shared_ptr<SharedRun> shared;
  RunBody body;
};

DWORD WINAPI RunWorker(LPVOID parameter) {
  std::unique_ptr<WorkerStart> start(static_cast<WorkerStart*>(parameter));
  auto finish = std::make_unique<RunFinish>(start->body(*start->shared));
  // A page that is gone takes no message; its finish is dropped here.
  if (PostMessageA(start->page, WM_PAGE_RUN_END, 0, reinterpret_cast<LPARAM>(finish.get()))) finish.release();
  return 0;
}

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

}  // namespace

bool StartPageRun(HWND page, const char* idleCaption, RunBody body) {
  if (PageRunActive(page)) return false;
  auto shared = std::make_shared<SharedRun>(page);
  auto* start = new WorkerStart{page, shared, std::move(body)};
  SetPageBusy(page, true);
  SetDlgItemTextA(page, IDC_PAGE_ACTION, kRunningCaption);
  HANDLE thread = CreateThread(nullptr, 0, RunWorker, start, 0, nullptr);
  if (!thread) {
    delete start;
    SetDlgItemTextA(page, IDC_PAGE_ACTION, idleCaption);
    SetPageBusy(page, false);
    return false;
  }
  runs[page] = PageRun{shared, idleCaption, thread};
  return true;
}

bool PageRunActive(HWND page) { return runs.count(page) != 0; }

void HaltPageRun(HWND page) {
  auto it = runs.find(page);
  if (it == runs.end()) return;
  it->second.shared->Halt();
  SetDlgItemTextA(page, IDC_PAGE_ACTION, kHaltingCaption);
}

bool HandlePageRunMessage(HWND page, UINT message, WPARAM, LPARAM lParam) {
  if (message == WM_PAGE_RUN_STATUS) {
    auto it = runs.find(page);
    if (it != runs.end()) SetDlgItemTextA(page, IDC_PAGE_STATUS, it->second.shared->TakeStatus().c_str());
    return true;
  }
  if (message != WM_PAGE_RUN_END) return false;
  std::unique_ptr<RunFinish> finish(reinterpret_cast<RunFinish*>(lParam));
  auto it = runs.find(page);
  if (it != runs.end()) {
    // The worker has posted its last message; its thread is ending.
    WaitForSingleObject(it->second.thread, 2000);
    CloseHandle(it->second.thread);
    SetDlgItemTextA(page, IDC_PAGE_ACTION, it->second.idleCaption.c_str());
    runs.erase(it);
  }
  SetDlgItemTextA(page, IDC_PAGE_STATUS, kIdleStatus);
  SetPageBusy(page, false);
  if (finish && *finish) (*finish)(page);
  return true;
}

void EndPageRuns(DWORD waitMs) {
  DWORD until = GetTickCount() + waitMs;
  for (auto& [page, run] : runs) run.shared->Halt();
  for (auto& [page, run] : runs) {
    DWORD now = GetTickCount();
    WaitForSingleObject(run.thread, until > now ? until - now : 0);
    CloseHandle(run.thread);
  }
  runs.clear();
}

void SetPageBusy(HWND page, bool busy) { EnumChildWindows(page, SetChildBusy, busy ? 1 : 0); }

std::string WindowText(HWND window) {
  int length = GetWindowTextLengthA(window);
  if (length <= 0) return std::string();
  std::string text(static_cast<size_t>(length) + 1, '\0');
  int got = GetWindowTextA(window, text.data(), length + 1);
  text.resize(got > 0 ? static_cast<size_t>(got) : 0);
  return text;
}

std::string ControlText(HWND page, int id) { return WindowText(GetDlgItem(page, id)); }

void Warn(HWND page, const char* text) { MessageBoxA(page, text, kAppCaption, MB_OK | MB_ICONWARNING); }

void Inform(HWND page, const char* text) { MessageBoxA(page, text, kAppCaption, MB_OK | MB_ICONINFORMATION); }

DWORD OpenFileNameSize() {
  OSVERSIONINFOA version = {};
  version.dwOSVersionInfoSize = sizeof(version);
#ifdef _MSC_VER
#pragma warning(suppress : 4996)
#endif
  BOOL known = GetVersionExA(&version);
  if (known && version.dwMajorVersion == 5) return sizeof(OPENFILENAMEA);
  return OPENFILENAME_SIZE_VERSION_400A;
}
