// The program's start-up, main window, tab switching, message loop and exit,
// run for real (RunProgram on a thread of its own, and snipwise.exe as a
// process), and every dialog template checked control by control.
#include <windows.h>
// windows.h first
#include <commctrl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <future>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/file_io.h"
#include "app/property_list.h"
#include "app/win/pages.h"
#include "support/mpeg_frames.h"
#include "resource_ids.h"

namespace {

using namespace std::chrono_literals;

constexpr const char* kMainCaption = "MP3 Snipwise v1.5";

std::string WindowText(HWND window) {
  char text[512] = {};
  GetWindowTextA(window, text, sizeof(text));
  return text;
}

std::string ClassOf(HWND window) {
  char name[128] = {};
  GetClassNameA(window, name, sizeof(name));
  return name;
}

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit = 10s) {
  auto end = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

struct FindMain {
  HWND found = nullptr;
};

BOOL CALLBACK FindMainWindow(HWND window, LPARAM param) {
  if (WindowText(window) == kMainCaption && ClassOf(window) == "#32770") {
    reinterpret_cast<FindMain*>(param)->found = window;
    return FALSE;
  }
  return TRUE;
}

// The program as start-up runs it: RunProgram with its message loop on a
// thread of its own. The test thread reaches its windows through sent and
// posted messages, as another thread of the process would.
class RunningProgram {
 public:
  RunningProgram() {
    std::packaged_task<int()> task([this] {
      threadId_ = GetCurrentThreadId();
      return RunProgram(GetModuleHandleA(nullptr));
    });
    result_ = task.get_future();
    thread_ = std::thread(std::move(task));
    WaitFor([this] {
      if (!threadId_) return false;
      FindMain find;
      EnumThreadWindows(threadId_, FindMainWindow, reinterpret_cast<LPARAM>(&find));
      main_ = find.found;
      return main_ && IsWindowVisible(main_);
    });
  }
  ~RunningProgram() {
    if (thread_.joinable()) {
      if (!exitCode_ && result_.wait_for(0s) != std::future_status::ready) {
        PostMessageA(main_, WM_CLOSE, 0, 0);
        if (result_.wait_for(5s) != std::future_status::ready) PostThreadMessageA(threadId_, WM_QUIT, 0, 0);
      }
      thread_.join();
    }
  }

  HWND Main() const { return main_; }
  DWORD ThreadId() const { return threadId_; }
  PropertyEntry* List() const { return reinterpret_cast<PropertyEntry*>(GetWindowLongPtrA(main_, GWLP_USERDATA)); }
  HWND Page(int32_t id) const { return static_cast<HWND>(FindProperty(List(), id)); }
  HWND Tabs() const { return GetDlgItem(main_, IDC_MAIN_TABS); }

  // The exit code once the loop has ended; -1000 when it does not end in time.
  int ExitCode(std::chrono::milliseconds limit = 10s) {
    if (!exitCode_) {
      if (result_.wait_for(limit) != std::future_status::ready) return -1000;
      exitCode_ = result_.get();
    }
    return *exitCode_;
  }

  // A click on the tab's item, as the mouse gives it.
  void ClickTab(int index) {
    RECT item = {};
    ASSERT_TRUE(SendMessageA(Tabs(), TCM_GETITEMRECT, index, reinterpret_cast<LPARAM>(&item)));
    LPARAM point = MAKELPARAM((item.left + item.right) / 2, (item.top + item.bottom) / 2);
    SendMessageA(Tabs(), WM_LBUTTONDOWN, MK_LBUTTON, point);
    SendMessageA(Tabs(), WM_LBUTTONUP, 0, point);
  }

  // Pages in tab order, each visible or not.
  std::vector<bool> Visibility() const {
    std::vector<bool> shown;
    for (int32_t id = kPropSplitWindow; id <= kPropAboutWindow; ++id) shown.push_back(IsWindowVisible(Page(id)) != 0);
    return shown;
  }

  HWND Focus() const {
    GUITHREADINFO info = {};
    info.cbSize = sizeof(info);
    GetGUIThreadInfo(threadId_, &info);
    return info.hwndFocus;
  }

  HWND Active() const {
    GUITHREADINFO info = {};
    info.cbSize = sizeof(info);
    GetGUIThreadInfo(threadId_, &info);
    return info.hwndActive;
  }

  // Lets posted messages reach the loop: waits until a message posted after
  // them has been handled.
  void Settle() {
    std::atomic<bool> seen{false};
    settleFlag = &seen;
    HHOOK hook = SetWindowsHookExA(WH_GETMESSAGE, SettleHook, nullptr, threadId_);
    PostMessageA(main_, settleMessage, 0, 0);
    WaitFor([&] { return seen.load(); }, 5s);
    UnhookWindowsHookEx(hook);
    settleFlag = nullptr;
  }

 private:
  static LRESULT CALLBACK SettleHook(int code, WPARAM wParam, LPARAM lParam) {
    auto* msg = reinterpret_cast<MSG*>(lParam);
    if (code == HC_ACTION && msg->message == settleMessage && settleFlag) *settleFlag = true;
    return CallNextHookEx(nullptr, code, wParam, lParam);
  }
  static inline std::atomic<bool>* settleFlag = nullptr;
  static inline const UINT settleMessage = RegisterWindowMessageA("SnipwiseTestSettle");

  std::atomic<DWORD> threadId_{0};
  HWND main_ = nullptr;
  std::future<int> result_;
  std::optional<int> exitCode_;
  std::thread thread_;
};

// ---------------------------------------------------------------------------
// Start-up

TEST(StartUp, SplitTabSelectedAndOnlySplitPageShown) {
  RunningProgram program;
  ASSERT_NE(program.Main(), nullptr);
  EXPECT_EQ(SendMessageA(program.Tabs(), TCM_GETCURSEL, 0, 0), 0);
  EXPECT_EQ(program.Visibility(), (std::vector<bool>{true, false, false, false}));
  EXPECT_EQ(CurrentPage, program.Page(kPropSplitWindow));

  const char* expected[] = {"Split", "Join", "Help", "About"};
  ASSERT_EQ(SendMessageA(program.Tabs(), TCM_GETITEMCOUNT, 0, 0), 4);
  for (int i = 0; i < 4; ++i) {
    char text[32] = {};
    TCITEMA item = {};
    item.mask = TCIF_TEXT;
    item.pszText = text;
    item.cchTextMax = sizeof(text);
    SendMessageA(program.Tabs(), TCM_GETITEMA, i, reinterpret_cast<LPARAM>(&item));
    EXPECT_STREQ(text, expected[i]);
  }
  EXPECT_EQ(WindowText(program.Main()), kMainCaption);
  EXPECT_EQ(program.ExitCode(0ms), -1000) << "the loop must still run";
}

TEST(StartUp, PropertyListHoldsRootAndThePagesInOrder) {
  RunningProgram program;
  PropertyEntry* list = program.List();
  ASSERT_NE(list, nullptr);
  std::vector<int32_t> ids;
  std::vector<std::string> names;
  for (PropertyEntry* entry = list; entry; entry = entry->next) {
    ids.push_back(entry->id);
    names.push_back(entry->name);
    if (entry != list) {
      EXPECT_EQ(entry->release, nullptr) << entry->name;
    }
  }
  EXPECT_EQ(ids, (std::vector<int32_t>{0, 4, 5, 6, 7}));
  EXPECT_EQ(names, (std::vector<std::string>{"", "Split Window", "Merge Window", "Help Window", "About Window"}));
  EXPECT_EQ(list->data, nullptr);

  // Each page: a child of the main window holding the list, at (25, 40) in
  // the client area, of its template's size, with its own controls.
  const struct {
    int32_t id;
    int width, height, control;
  } pages[] = {{4, 220, 280, IDC_SPLIT_SOURCE},
               {5, 223, 279, IDC_MERGE_SPIN},
               {6, 219, 277, IDC_HELP_TEXT},
               {7, 222, 278, IDC_ABOUT_LINK}};
  for (const auto& page : pages) {
    SCOPED_TRACE(page.id);
    HWND window = program.Page(page.id);
    ASSERT_TRUE(IsWindow(window));
    EXPECT_EQ(GetParent(window), program.Main());
    EXPECT_EQ(GetWindowLongPtrA(window, GWLP_USERDATA), reinterpret_cast<LONG_PTR>(list));
    RECT rect = {};
    GetWindowRect(window, &rect);
    MapWindowPoints(nullptr, program.Main(), reinterpret_cast<POINT*>(&rect), 2);
    EXPECT_EQ(rect.left, 25);
    EXPECT_EQ(rect.top, 40);
    RECT size = {0, 0, page.width, page.height};
    MapDialogRect(window, &size);
    EXPECT_EQ(rect.right - rect.left, size.right);
    EXPECT_EQ(rect.bottom - rect.top, size.bottom);
    EXPECT_NE(GetDlgItem(window, page.control), nullptr);
  }

  // Every page was brought to the top when it was placed: the last created
  // lies above the others, all of them above the tab control.
  std::vector<HWND> order;
  for (HWND child = GetWindow(program.Main(), GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    order.push_back(child);
  }
  EXPECT_EQ(order, (std::vector<HWND>{program.Page(7), program.Page(6), program.Page(5), program.Page(4),
                                      program.Tabs(), GetDlgItem(program.Main(), IDC_MAIN_QUIT)}));
}

TEST(StartUp, ProgramIconIsTheClassIcon) {
  RunningProgram program;
  HICON icon = reinterpret_cast<HICON>(GetClassLongPtrA(program.Main(), GCLP_HICON));
  EXPECT_NE(icon, nullptr);
  EXPECT_EQ(icon, LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_APP_ICON)));
}

struct StartFailure {
  DWORD thread;
  HWND box = nullptr;
};

BOOL CALLBACK FindMessageBox(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<StartFailure*>(param);
  if (ClassOf(window) == "#32770" && WindowText(window) == "MP3 Snipwise") {
    search->box = window;
    return FALSE;
  }
  return TRUE;
}

BOOL CALLBACK CollectTexts(HWND window, LPARAM param) {
  reinterpret_cast<std::string*>(param)->append(WindowText(window) + "|");
  return TRUE;
}

TEST(StartUp, WithoutItsWindowTemplateTheProgramSaysSoAndEndsWithOne) {
  // A module without the program's resources stands in for a broken one.
  std::atomic<DWORD> thread{0};
  std::packaged_task<int()> task([&] {
    thread = GetCurrentThreadId();
    return RunProgram(GetModuleHandleA("kernel32.dll"));
  });
  std::future<int> result = task.get_future();
  std::thread runner(std::move(task));
  StartFailure search{0};
  bool seen = WaitFor([&] {
    search.thread = thread;
    if (search.thread) EnumThreadWindows(search.thread, FindMessageBox, reinterpret_cast<LPARAM>(&search));
    return search.box != nullptr;
  });
  std::string texts;
  if (seen) {
    EnumChildWindows(search.box, CollectTexts, reinterpret_cast<LPARAM>(&texts));
    PostMessageA(search.box, WM_COMMAND, IDOK, 0);
  }
  bool ended = result.wait_for(10s) == std::future_status::ready;
  if (!ended) PostThreadMessageA(thread, WM_QUIT, 0, 0);
  runner.join();
  ASSERT_TRUE(seen) << "a message box captioned \"MP3 Snipwise\"";
  EXPECT_NE(texts.find("could not start"), std::string::npos) << texts;
  ASSERT_TRUE(ended);
  EXPECT_EQ(result.get(), 1);
}

// ---------------------------------------------------------------------------
// Tabs

TEST(Tabs, EachTabShowsItsPageAndHidesThePreviousOne) {
  RunningProgram program;
  const int sequence[] = {1, 2, 3, 0, 2, 2, 1, 3, 0};
  int previous = 0;
  for (int index : sequence) {
    SCOPED_TRACE(index);
    program.ClickTab(index);
    EXPECT_EQ(SendMessageA(program.Tabs(), TCM_GETCURSEL, 0, 0), index);
    std::vector<bool> expected(4, false);
    expected[index] = true;
    EXPECT_EQ(program.Visibility(), expected);
    HWND page = program.Page(kPropSplitWindow + index);
    EXPECT_EQ(CurrentPage, page);
    if (index == previous) continue;  // a click on the chosen tab leaves the focus on the tabs
    previous = index;
    // Without a window manager the X server may take activation away from
    // the window between two steps (another test's display starting, say);
    // the focus is then nobody's and says nothing about the tab change.
    HWND focus = nullptr;
    bool active = true;
    auto deadline = std::chrono::steady_clock::now() + 1s;
    do {
      focus = program.Focus();
      active = program.Active() != nullptr;
      if (focus == page || IsChild(page, focus) || !active) break;
      std::this_thread::sleep_for(20ms);
    } while (std::chrono::steady_clock::now() < deadline);
    if (!active) continue;
    EXPECT_TRUE(focus == page || IsChild(page, focus))
        << "the shown page has the keyboard focus, not " << ClassOf(focus) << " " << GetDlgCtrlID(focus);
  }
}

TEST(Tabs, ChangeWithoutSelectionKeepsThePageShown) {
  RunningProgram program;
  program.ClickTab(2);
  SendMessageA(program.Tabs(), TCM_SETCURSEL, static_cast<WPARAM>(-1), 0);
  NMHDR notice = {program.Tabs(), IDC_MAIN_TABS, static_cast<UINT>(TCN_SELCHANGE)};
  SendMessageA(program.Main(), WM_NOTIFY, IDC_MAIN_TABS, reinterpret_cast<LPARAM>(&notice));
  EXPECT_EQ(program.Visibility(), (std::vector<bool>{false, false, true, false}));
  EXPECT_EQ(CurrentPage, program.Page(kPropHelpWindow));
}

TEST(Tabs, OtherNotificationsChangeNothing) {
  RunningProgram program;
  SendMessageA(program.Tabs(), TCM_SETCURSEL, 3, 0);  // selects without notifying
  NMHDR notice = {program.Tabs(), IDC_MAIN_TABS, static_cast<UINT>(TCN_SELCHANGING)};
  SendMessageA(program.Main(), WM_NOTIFY, IDC_MAIN_TABS, reinterpret_cast<LPARAM>(&notice));
  notice.code = static_cast<UINT>(NM_CLICK);
  SendMessageA(program.Main(), WM_NOTIFY, IDC_MAIN_TABS, reinterpret_cast<LPARAM>(&notice));
  EXPECT_EQ(program.Visibility(), (std::vector<bool>{true, false, false, false}));
}

TEST(Tabs, PageContentsSurviveTabChanges) {
  RunningProgram program;
  HWND split = program.Page(kPropSplitWindow);
  HWND merge = program.Page(kPropMergeWindow);
  SetDlgItemTextA(split, IDC_SPLIT_TIME, "12:34.56");
  SetDlgItemTextA(split, IDC_SPLIT_TEMPLATE, "%track% - %title%");
  SendDlgItemMessageA(merge, IDC_MERGE_LIST, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>("C:\\one.mp3"));
  for (int index : {1, 2, 3, 0, 1}) program.ClickTab(index);
  char text[64] = {};
  GetDlgItemTextA(split, IDC_SPLIT_TIME, text, sizeof(text));
  EXPECT_STREQ(text, "12:34.56");
  GetDlgItemTextA(split, IDC_SPLIT_TEMPLATE, text, sizeof(text));
  EXPECT_STREQ(text, "%track% - %title%");
  EXPECT_EQ(SendDlgItemMessageA(merge, IDC_MERGE_LIST, LB_GETCOUNT, 0, 0), 1);
}

// ---------------------------------------------------------------------------
// Keys and closing

TEST(Closing, EscapeClosesNothing) {
  RunningProgram program;
  HWND targets[] = {
      GetDlgItem(program.Page(kPropSplitWindow), IDC_SPLIT_TIME),
      GetDlgItem(program.Page(kPropMergeWindow), IDC_MERGE_LIST),
      GetDlgItem(program.Page(kPropHelpWindow), IDC_HELP_TEXT),
      GetDlgItem(program.Main(), IDC_MAIN_QUIT),
      program.Main(),
  };
  for (int index : {0, 1, 2, 0}) {
    program.ClickTab(index);
    for (HWND target : targets) {
      PostMessageA(target, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
      PostMessageA(target, WM_CHAR, VK_ESCAPE, 0x00010001);
      PostMessageA(target, WM_KEYUP, VK_ESCAPE, 0xC0010001);
    }
    program.Settle();
  }
  EXPECT_TRUE(IsWindowVisible(program.Main()));
  for (int32_t id = kPropSplitWindow; id <= kPropAboutWindow; ++id) EXPECT_TRUE(IsWindow(program.Page(id))) << id;
  EXPECT_EQ(program.Visibility(), (std::vector<bool>{true, false, false, false}));
  EXPECT_EQ(program.ExitCode(0ms), -1000) << "Escape must not end the loop";
}

TEST(Closing, EnterAndOtherCommandsCloseNothing) {
  RunningProgram program;
  PostMessageA(program.Main(), WM_COMMAND, IDOK, 0);
  PostMessageA(program.Main(), WM_COMMAND, IDCANCEL, 0);
  PostMessageA(program.Main(), WM_COMMAND, MAKEWPARAM(IDC_MAIN_TABS, 0), 0);
  program.Settle();
  EXPECT_TRUE(IsWindowVisible(program.Main()));
  EXPECT_EQ(program.ExitCode(0ms), -1000);
}

TEST(Closing, QuitButtonEndsTheLoopWithExitCodeZero) {
  RunningProgram program;
  HWND main = program.Main();
  HWND split = program.Page(kPropSplitWindow);
  PostMessageA(GetDlgItem(main, IDC_MAIN_QUIT), BM_CLICK, 0, 0);
  EXPECT_EQ(program.ExitCode(), 0);
  EXPECT_FALSE(IsWindow(main));
  EXPECT_FALSE(IsWindow(split));
}

TEST(Closing, QuitCommandWithAnyNotificationEndsTheLoop) {
  RunningProgram program;
  PostMessageA(program.Main(), WM_COMMAND, MAKEWPARAM(IDC_MAIN_QUIT, 7), 0);
  EXPECT_EQ(program.ExitCode(), 0);
}

TEST(Closing, CloseMessageEndsTheLoopWithExitCodeZero) {
  RunningProgram program;
  PostMessageA(program.Main(), WM_CLOSE, 0, 0);
  EXPECT_EQ(program.ExitCode(), 0);
}

TEST(Closing, CloseBoxEndsTheLoop) {
  RunningProgram program;
  PostMessageA(program.Main(), WM_SYSCOMMAND, SC_CLOSE, 0);
  EXPECT_EQ(program.ExitCode(), 0);
}

TEST(Closing, AltF4InAPageEndsTheLoop) {
  RunningProgram program;
  HWND edit = GetDlgItem(program.Page(kPropSplitWindow), IDC_SPLIT_TIME);
  PostMessageA(edit, WM_SYSKEYDOWN, VK_F4, 0x20000001);  // context code: Alt is down
  PostMessageA(edit, WM_SYSKEYUP, VK_F4, 0xE0000001);
  EXPECT_EQ(program.ExitCode(), 0);
}

std::mutex releasedMutex;
std::vector<int32_t> releasedIds;
void RecordingRelease(PropertyEntry*, void* data, int32_t id, const char*) {
  std::lock_guard<std::mutex> lock(releasedMutex);
  releasedIds.push_back(id);
  free(data);
}

const UINT kStoreValues = RegisterWindowMessageA("SnipwiseTestStoreValues");
LRESULT CALLBACK StoreValuesHook(int code, WPARAM wParam, LPARAM lParam) {
  auto* call = reinterpret_cast<CWPSTRUCT*>(lParam);
  if (code == HC_ACTION && call->message == kStoreValues) {
    auto* list = reinterpret_cast<PropertyEntry*>(GetWindowLongPtrA(call->hwnd, GWLP_USERDATA));
    const char* names[] = {"Bit Rate", "Bit Rate Binary", "First Frame"};
    for (int32_t id = 1; id <= 3; ++id) {
      void* value = calloc(1, sizeof(int32_t));
      AddProperty(list, value, RecordingRelease, id, names[id - 1]);
    }
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

TEST(Closing, FreeingTheListAtExitRunsTheScanValuesReleaseRoutines) {
  releasedIds.clear();
  RunningProgram program;
  // The values are stored on the program's own thread, as a source scan does.
  HHOOK hook = SetWindowsHookExA(WH_CALLWNDPROC, StoreValuesHook, nullptr, program.ThreadId());
  ASSERT_NE(hook, nullptr);
  SendMessageA(program.Main(), kStoreValues, 0, 0);
  UnhookWindowsHookEx(hook);
  std::vector<int32_t> ids;
  for (PropertyEntry* entry = program.List(); entry; entry = entry->next) ids.push_back(entry->id);
  ASSERT_EQ(ids, (std::vector<int32_t>{0, 4, 5, 6, 7, 1, 2, 3}));
  EXPECT_TRUE(releasedIds.empty());

  PostMessageA(program.Main(), WM_CLOSE, 0, 0);
  ASSERT_EQ(program.ExitCode(), 0);
  std::lock_guard<std::mutex> lock(releasedMutex);
  EXPECT_EQ(releasedIds, (std::vector<int32_t>{1, 2, 3}));
}

// ---------------------------------------------------------------------------
// The program itself, as a process

struct ProcessWindow {
  DWORD process;
  HWND found = nullptr;
};

BOOL CALLBACK FindProcessWindow(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<ProcessWindow*>(param);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner == search->process && WindowText(window) == kMainCaption && IsWindowVisible(window)) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

class ProgramProcess {
 public:
  explicit ProgramProcess(const std::string& arguments = "ignored arguments") {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string exe = path;
    exe = exe.substr(0, exe.find_last_of('\\') + 1) + "snipwise.exe";
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;  // the program shows its window whatever it is told
    std::string commandLine = "\"" + exe + "\" " + arguments;
    started_ = CreateProcessA(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                              &info_) != 0;
    if (!started_) return;
    ProcessWindow search{info_.dwProcessId};
    WaitFor([&] {
      EnumWindows(FindProcessWindow, reinterpret_cast<LPARAM>(&search));
      return search.found != nullptr;
    });
    main_ = search.found;
  }
  ~ProgramProcess() {
    if (!started_) return;
    if (WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(info_.hProcess, 99);
    CloseHandle(info_.hThread);
    CloseHandle(info_.hProcess);
  }
  bool Started() const { return started_; }
  HWND Main() const { return main_; }
  // The exit code, or -1000 when the process does not end in time.
  int ExitCode() {
    if (WaitForSingleObject(info_.hProcess, 10000) != WAIT_OBJECT_0) return -1000;
    DWORD code = 0;
    GetExitCodeProcess(info_.hProcess, &code);
    return static_cast<int>(code);
  }

 private:
  bool started_ = false;
  PROCESS_INFORMATION info_ = {};
  HWND main_ = nullptr;
};

TEST(Program, ShowsItsWindowAndEndsWithZeroOnQuit) {
  ProgramProcess program;
  ASSERT_TRUE(program.Started());
  ASSERT_NE(program.Main(), nullptr) << "the main window is shown even when told to hide";
  HWND tabs = GetDlgItem(program.Main(), IDC_MAIN_TABS);
  EXPECT_EQ(SendMessageA(tabs, TCM_GETITEMCOUNT, 0, 0), 4);
  EXPECT_EQ(SendMessageA(tabs, TCM_GETCURSEL, 0, 0), 0);
  PostMessageA(GetDlgItem(program.Main(), IDC_MAIN_QUIT), BM_CLICK, 0, 0);
  EXPECT_EQ(program.ExitCode(), 0);
}

TEST(Program, EndsWithZeroWhenClosed) {
  ProgramProcess program;
  ASSERT_NE(program.Main(), nullptr);
  PostMessageA(program.Main(), WM_CLOSE, 0, 0);
  EXPECT_EQ(program.ExitCode(), 0);
}

// Opened from Explorer: one file is the Split page's source, several fill
// the Join page's list.
TEST(Program, StartsWithTheFilesItIsGiven) {
  snip::test::TempDir dir;
  std::string one = dir.File("Night Set.mp3"), two = dir.File("two.mp3");
  snip::test::WriteBytes(one, snip::test::MakeStream({.bitrateIndex = 9}, 50));
  snip::test::WriteBytes(two, snip::test::MakeStream({.bitrateIndex = 9}, 50));
  auto child = [](HWND main, int id) {
    HWND found = nullptr;
    for (HWND page = GetWindow(main, GW_CHILD); page && !found; page = GetWindow(page, GW_HWNDNEXT)) {
      found = GetDlgItem(page, id);
    }
    return found;
  };
  {
    ProgramProcess program("\"" + one + "\"");
    ASSERT_NE(program.Main(), nullptr);
    HWND source = child(program.Main(), IDC_SPLIT_SOURCE);
    // Another process's control tells its text only when asked by message.
    auto text = [source] {
      char buffer[512] = {};
      SendMessageA(source, WM_GETTEXT, sizeof(buffer), reinterpret_cast<LPARAM>(buffer));
      return std::string(buffer);
    };
    EXPECT_TRUE(WaitFor([&] { return text() == one; })) << text();
    EXPECT_EQ(SendDlgItemMessageA(program.Main(), IDC_MAIN_TABS, TCM_GETCURSEL, 0, 0), 0);
    PostMessageA(program.Main(), WM_CLOSE, 0, 0);
    EXPECT_EQ(program.ExitCode(), 0);
  }
  {
    ProgramProcess program("\"" + two + "\" \"" + one + "\"");
    ASSERT_NE(program.Main(), nullptr);
    HWND list = child(program.Main(), IDC_MERGE_LIST);
    EXPECT_TRUE(WaitFor([&] { return SendMessageA(list, LB_GETCOUNT, 0, 0) == 2; }));
    EXPECT_EQ(SendDlgItemMessageA(program.Main(), IDC_MAIN_TABS, TCM_GETCURSEL, 0, 0), 1);
    EXPECT_TRUE(IsWindowVisible(GetParent(list)));
    PostMessageA(program.Main(), WM_CLOSE, 0, 0);
    EXPECT_EQ(program.ExitCode(), 0);
  }
}

// ---------------------------------------------------------------------------
// File names: the program's ANSI calls take UTF-8, so any name can be opened.

std::wstring Wide(const std::string& utf8) {
  int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.c_str(), -1, nullptr, 0);
  std::wstring wide(n > 0 ? n - 1 : 0, L'\0');
  if (n > 0) MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.c_str(), -1, wide.data(), n);
  return wide;
}

TEST(FileNames, AnsiCallsUseUtf8) { EXPECT_EQ(GetACP(), 65001u); }

TEST(FileNames, SourceWithNonAsciiNameOpens) {
  snip::test::TempDir dir;
  // Latin letters with accents, Greek, Japanese, an en dash, and a character
  // outside the basic plane.
  const std::string name =
      "Gr\xC3\xBC\xC3\x9F"
      "e \xCE\xB1\xCE\xB2 \xE6\x9D\xB1\xE4\xBA\xAC \xE2\x80\x93 \xF0\x9F\x8E\xB5.mp3";
  const std::string path = dir.File(name);
  std::vector<uint8_t> bytes = snip::test::MakeJunk(5000, 7);

  // Written through the Unicode call, so the name on disk is the real one.
  HANDLE created =
      CreateFileW(Wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(created, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  WriteFile(created, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(created);

  snip::File source = snip::File::OpenRead(path);
  ASSERT_TRUE(source.IsOpen());
  EXPECT_EQ(source.Size(), static_cast<int64_t>(bytes.size()));
  std::vector<uint8_t> read(bytes.size());
  EXPECT_EQ(source.ReadFull(read.data(), read.size()), static_cast<int64_t>(bytes.size()));
  EXPECT_EQ(read, bytes);
  source.Close();

  // And a file created through the ANSI call carries the same name.
  const std::string outName = dir.File("\xE6\x9D\xB1\xE4\xBA\xAC - 01.mp3");
  snip::File out = snip::File::Create(outName);
  ASSERT_TRUE(out.IsOpen());
  ASSERT_TRUE(out.Write("ID3", 3));
  ASSERT_TRUE(out.Close());
  WIN32_FIND_DATAW found = {};
  HANDLE search = FindFirstFileW(Wide(outName).c_str(), &found);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  FindClose(search);
  EXPECT_EQ(std::wstring(found.cFileName), Wide("\xE6\x9D\xB1\xE4\xBA\xAC - 01.mp3"));
}

// ---------------------------------------------------------------------------
// Dialog templates: every control at its place, with its kind and styles.

enum class Kind {
  Edit,
  ReadOnlyEdit,
  Button,
  DefaultButton,
  FlatButton,
  Group,
  Label,
  CheckBox,
  List,
  Tab,
  UpDown,
  Icon,
  CentredText,
  Link,
  MultiLineEdit
};

struct Expected {
  Kind kind;
  int id;
  const char* text;  // null: not compared
  int x, y, width, height;
  DWORD extraStyles = 0;  // further bits that must be set
};

INT_PTR CALLBACK PlainDialogProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

void CheckControl(HWND dialog, HWND control, const Expected& want) {
  std::string className = ClassOf(control);
  DWORD style = static_cast<DWORD>(GetWindowLongPtrA(control, GWL_STYLE));
  DWORD exStyle = static_cast<DWORD>(GetWindowLongPtrA(control, GWL_EXSTYLE));
  bool bordered = (style & WS_BORDER) || (exStyle & WS_EX_CLIENTEDGE);
  bool tabStop = (style & WS_TABSTOP) != 0;
  EXPECT_EQ(GetDlgCtrlID(control), want.id);
  if (want.text) {
    EXPECT_EQ(WindowText(control), want.text);
  }
  EXPECT_TRUE(style & WS_VISIBLE);
  if (want.kind != Kind::List) {
    EXPECT_EQ(style & want.extraStyles, want.extraStyles);
  }

  // The dialog manager converts the position and the size each on its own.
  RECT expected = {want.x, want.y, want.width, want.height};
  MapDialogRect(dialog, &expected);
  expected.right += expected.left;
  expected.bottom += expected.top;
  RECT actual = {};
  GetWindowRect(control, &actual);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&actual), 2);
  EXPECT_EQ(actual.left, expected.left);
  EXPECT_EQ(actual.top, expected.top);
  if (want.kind == Kind::UpDown) {
    // An up-down control may choose its own width (Wine's keeps a fixed
    // one): expect what the class makes of the template's size in pixels.
    HWND reference = CreateWindowExA(0, UPDOWN_CLASSA, "", WS_CHILD | UDS_ARROWKEYS, expected.left, expected.top,
                                     expected.right - expected.left, expected.bottom - expected.top, dialog,
                                     nullptr, nullptr, nullptr);
    ASSERT_NE(reference, nullptr);
    RECT made = {};
    GetWindowRect(reference, &made);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&made), 2);
    DestroyWindow(reference);
    EXPECT_EQ(actual.right, made.right);
    EXPECT_EQ(actual.bottom, made.bottom);
  } else if (want.kind != Kind::Icon) {  // an icon static takes the icon's size
    EXPECT_EQ(actual.right, expected.right);
    EXPECT_EQ(actual.bottom, expected.bottom);
  }

  DWORD buttonType = style & BS_TYPEMASK;
  switch (want.kind) {
    case Kind::Edit:
    case Kind::ReadOnlyEdit:
      EXPECT_STRCASEEQ(className.c_str(), "Edit");
      EXPECT_TRUE(tabStop && bordered);
      EXPECT_TRUE(style & ES_AUTOHSCROLL);
      EXPECT_FALSE(style & ES_MULTILINE);
      EXPECT_EQ((style & ES_READONLY) != 0, want.kind == Kind::ReadOnlyEdit);
      break;
    case Kind::MultiLineEdit:
      EXPECT_STRCASEEQ(className.c_str(), "Edit");
      EXPECT_TRUE(tabStop && bordered);
      EXPECT_EQ(style & (ES_MULTILINE | ES_READONLY | WS_VSCROLL), DWORD(ES_MULTILINE | ES_READONLY | WS_VSCROLL));
      EXPECT_FALSE(style & (ES_AUTOHSCROLL | WS_HSCROLL)) << "long lines wrap";
      break;
    case Kind::Button:
    case Kind::DefaultButton:
    case Kind::FlatButton:
      EXPECT_STRCASEEQ(className.c_str(), "Button");
      EXPECT_TRUE(tabStop);
      EXPECT_EQ(buttonType, DWORD(want.kind == Kind::DefaultButton ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON));
      EXPECT_EQ((style & BS_FLAT) != 0, want.kind == Kind::FlatButton);
      break;
    case Kind::CheckBox:
      EXPECT_STRCASEEQ(className.c_str(), "Button");
      EXPECT_TRUE(tabStop);
      EXPECT_EQ(buttonType, DWORD(BS_AUTOCHECKBOX));
      break;
    case Kind::Group:
      EXPECT_STRCASEEQ(className.c_str(), "Button");
      EXPECT_FALSE(tabStop);
      EXPECT_EQ(buttonType, DWORD(BS_GROUPBOX));
      break;
    case Kind::Label:
    case Kind::Link:
      EXPECT_STRCASEEQ(className.c_str(), "Static");
      EXPECT_FALSE(tabStop);
      EXPECT_TRUE((style & SS_TYPEMASK) == SS_LEFT || (style & SS_TYPEMASK) == SS_LEFTNOWORDWRAP);
      EXPECT_EQ((style & SS_NOTIFY) != 0, want.kind == Kind::Link);
      break;
    case Kind::CentredText:
      EXPECT_STRCASEEQ(className.c_str(), "Static");
      EXPECT_EQ(style & SS_TYPEMASK, DWORD(SS_CENTER));
      break;
    case Kind::Icon:
      EXPECT_STRCASEEQ(className.c_str(), "Static");
      EXPECT_EQ(style & SS_TYPEMASK, DWORD(SS_ICON));
      EXPECT_NE(SendMessageA(control, STM_GETICON, 0, 0), 0);
      break;
    case Kind::List:
      EXPECT_STRCASEEQ(className.c_str(), "ListBox");
      EXPECT_TRUE(tabStop && bordered);
      EXPECT_EQ(style & (LBS_NOTIFY | LBS_NOINTEGRALHEIGHT), DWORD(LBS_NOTIFY | LBS_NOINTEGRALHEIGHT));
      // The list shows its scroll bars once its lines need them.
      for (int i = 0; i < 60; ++i) SendMessageA(control, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>("line"));
      SendMessageA(control, LB_SETHORIZONTALEXTENT, 4000, 0);
      style = static_cast<DWORD>(GetWindowLongPtrA(control, GWL_STYLE));
      EXPECT_TRUE(style & WS_VSCROLL);
      EXPECT_EQ(style & want.extraStyles, want.extraStyles);
      SendMessageA(control, LB_RESETCONTENT, 0, 0);
      break;
    case Kind::Tab:
      EXPECT_STRCASEEQ(className.c_str(), WC_TABCONTROLA);
      EXPECT_FALSE(tabStop);
      break;
    case Kind::UpDown:
      EXPECT_STRCASEEQ(className.c_str(), UPDOWN_CLASSA);
      EXPECT_FALSE(tabStop);
      EXPECT_TRUE(style & UDS_ARROWKEYS);
      EXPECT_EQ(SendMessageA(control, UDM_GETBUDDY, 0, 0), 0);
      break;
  }
}

struct TemplateCase {
  int id;
  int width, height;
  bool page;
  std::vector<Expected> controls;
};

void CheckTemplate(const TemplateCase& tc) {
  HWND host = CreateWindowExA(0, "Static", "host", WS_POPUP, 0, 0, 800, 800, nullptr, nullptr, nullptr, nullptr);
  HWND dialog = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(tc.id), tc.page ? host : nullptr,
                                   PlainDialogProc, 0);
  ASSERT_NE(dialog, nullptr);
  DWORD style = static_cast<DWORD>(GetWindowLongPtrA(dialog, GWL_STYLE));
  EXPECT_FALSE(style & WS_VISIBLE) << "created hidden";

  RECT size = {0, 0, tc.width, tc.height};
  MapDialogRect(dialog, &size);
  RECT client = {};
  GetClientRect(dialog, &client);
  EXPECT_EQ(client.right, size.right);
  EXPECT_EQ(client.bottom, size.bottom);

  // The template's font.
  LOGFONTA font = {};
  GetObjectA(reinterpret_cast<HFONT>(SendMessageA(dialog, WM_GETFONT, 0, 0)), sizeof(font), &font);
  EXPECT_STREQ(font.lfFaceName, "MS Sans Serif");
  HDC screen = GetDC(nullptr);
  EXPECT_EQ(font.lfHeight, -MulDiv(8, GetDeviceCaps(screen, LOGPIXELSY), 72));
  ReleaseDC(nullptr, screen);

  if (tc.page) {
    EXPECT_TRUE(style & WS_CHILD);
    EXPECT_FALSE(style & (WS_CAPTION | WS_BORDER | WS_THICKFRAME | WS_POPUP));
  }

  size_t index = 0;
  for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT), ++index) {
    SCOPED_TRACE("control " + std::to_string(index) + " \"" + WindowText(child) + "\"");
    ASSERT_LT(index, tc.controls.size()) << "more controls than expected";
    CheckControl(dialog, child, tc.controls[index]);
  }
  EXPECT_EQ(index, tc.controls.size());
  DestroyWindow(dialog);
  DestroyWindow(host);
}

TEST(Templates, MainWindow) {
  CheckTemplate({IDD_MAIN_WINDOW,
                 254,
                 343,
                 false,
                 {
                     {Kind::Tab, IDC_MAIN_TABS, nullptr, 7, 7, 240, 308},
                     {Kind::Button, IDC_MAIN_QUIT, "Quit", 95, 320, 62, 15},
                 }});
  HWND dialog =
      CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_MAIN_WINDOW), nullptr, PlainDialogProc, 0);
  ASSERT_NE(dialog, nullptr);
  DWORD style = static_cast<DWORD>(GetWindowLongPtrA(dialog, GWL_STYLE));
  DWORD need = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
  EXPECT_EQ(style & need, need);
  EXPECT_FALSE(style & (WS_MAXIMIZEBOX | WS_THICKFRAME | WS_VISIBLE));
  EXPECT_TRUE(GetWindowLongPtrA(dialog, GWL_EXSTYLE) & WS_EX_DLGMODALFRAME);
  EXPECT_EQ(WindowText(dialog), kMainCaption);
  // Centred on the screen.
  RECT window = {}, work = {};
  GetWindowRect(dialog, &window);
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
  EXPECT_NEAR((window.left + window.right) / 2, (work.left + work.right) / 2, 2);
  DestroyWindow(dialog);
}

TEST(Templates, SplitPage) {
  CheckTemplate({IDD_SPLIT_PAGE,
                 220,
                 280,
                 true,
                 {
                     {Kind::ReadOnlyEdit, IDC_SPLIT_SOURCE, "", 6, 20, 153, 12},
                     {Kind::Button, IDC_SPLIT_BROWSE, "Browse...", 164, 20, 47, 13},
                     {Kind::Edit, IDC_SPLIT_TEMPLATE, "", 13, 57, 113, 12},
                     {Kind::Button, IDC_SPLIT_FIELD_INFO, "Field Info", 131, 57, 74, 12},
                     {Kind::Button, IDC_SPLIT_CHOOSE_FOLDER, "Choose Destination Folder", 13, 74, 93, 12},
                     {Kind::ReadOnlyEdit, IDC_SPLIT_FOLDER, "", 111, 74, 94, 12},
                     {Kind::List, IDC_SPLIT_LIST, nullptr, 6, 124, 62, 106, LBS_SORT},
                     {Kind::Edit, IDC_SPLIT_TIME, "", 73, 124, 59, 12},
                     {Kind::DefaultButton, IDC_SPLIT_ADD_TIME, "Add Time", 136, 124, 40, 12},
                     {Kind::Button, IDC_SPLIT_GRAB_WINAMP, "Grab Winamp Position", 78, 152, 80, 12},
                     {Kind::Button, IDC_SPLIT_NAMING, "Track Naming", 6, 233, 62, 12},
                     {Kind::Button, IDC_SPLIT_REMOVE, "Remove Time", 6, 247, 62, 12},
                     {Kind::Button, IDC_SPLIT_CLEAR, "Clear List", 6, 260, 62, 12},
                     {Kind::Button, IDC_SPLIT_FIND_SILENCES, "Find Silences...", 146, 110, 64, 12},
                     {Kind::Button, IDC_SPLIT_WAVEFORM, "Waveform...", 96, 110, 46, 12},
                     {Kind::FlatButton, IDC_SPLIT_ACTION, "Create Tracks", 107, 227, 72, 18},
                     {Kind::Group, -1, "MP3 Input/Output", 0, 0, 219, 100},
                     {Kind::Label, -1, "Source File:", 6, 11, 38, 8},
                     {Kind::Label, -1, "Destination File:", 13, 47, 51, 8},
                     {Kind::Label, IDC_SPLIT_STATUS, "Status: Idle", 92, 261, 92, 8},
                     {Kind::Label, IDC_SPLIT_BITRATE, "Bit Rate: No File Chosen", 92, 251, 102, 8},
                     {Kind::Label, -1, "Track Timing:", 6, 114, 44, 8},
                     {Kind::CheckBox, IDC_SPLIT_EQUAL, "Split all into equal segments", 79, 165, 105, 9},
                     {Kind::CheckBox, IDC_SPLIT_EXACT, "Exact cuts (gapless)", 79, 175, 80, 9},
                     {Kind::CheckBox, IDC_SPLIT_TAGS, "Tag tracks", 161, 153, 47, 9},
                     {Kind::Button, IDC_SPLIT_CUE_IMPORT, "Import Track Times From .CUE File", 78, 186, 126, 12},
                     {Kind::Button, IDC_SPLIT_CUE_EXPORT, "Export Track Times To .CUE File", 78, 199, 126, 12},
                     {Kind::Group, -1, "Track Creation", 0, 104, 219, 176},
                     {Kind::Group, -1, "Ouput Tracks", 6, 36, 205, 57},
                     {Kind::Group, -1, "Options", 73, 140, 137, 75},
                     {Kind::Group, -1, "Status", 86, 217, 113, 55},
                 }});
}

TEST(Templates, MergePage) {
  CheckTemplate({IDD_MERGE_PAGE,
                 223,
                 279,
                 true,
                 {
                     {Kind::ReadOnlyEdit, IDC_MERGE_DESTINATION, "", 6, 22, 135, 12},
                     {Kind::Button, IDC_MERGE_CHOOSE, "Choose...", 146, 22, 67, 12},
                     {Kind::List, IDC_MERGE_LIST, nullptr, 6, 67, 193, 130, WS_HSCROLL},
                     {Kind::UpDown, IDC_MERGE_SPIN, nullptr, 202, 67, 11, 31},
                     {Kind::CheckBox, IDC_MERGE_TAGS, "Keep the first file's tag only", 95, 56, 118, 9},
                     {Kind::CheckBox, IDC_MERGE_EXACT, "Exact join (gapless)", 174, 229, 44, 18, BS_MULTILINE},
                     {Kind::DefaultButton, IDC_MERGE_ADD, "Add...", 6, 202, 70, 12},
                     {Kind::Button, IDC_MERGE_REMOVE, "Remove Track", 80, 202, 60, 12},
                     {Kind::Button, IDC_MERGE_CLEAR, "Clear List", 144, 201, 56, 12},
                     {Kind::FlatButton, IDC_MERGE_ACTION, "Merge Tracks", 66, 234, 74, 18},
                     {Kind::Label, -1, "Destination File:", 6, 11, 51, 8},
                     {Kind::Label, IDC_MERGE_STATUS, "Status: Idle", 43, 254, 83, 8},
                     {Kind::Label, -1, "Tracks to Join:", 6, 57, 48, 8},
                     {Kind::Group, -1, "MP3 Input/Output", 0, 0, 222, 43},
                     {Kind::Group, -1, "Track Creation", 0, 47, 222, 232},
                     {Kind::Group, -1, "Status", 37, 223, 134, 45},
                 }});
  HWND host = CreateWindowExA(0, "Static", "host", WS_POPUP, 0, 0, 800, 800, nullptr, nullptr, nullptr, nullptr);
  HWND page = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_MERGE_PAGE), host, PlainDialogProc, 0);
  EXPECT_FALSE(GetWindowLongPtrA(GetDlgItem(page, IDC_MERGE_LIST), GWL_STYLE) & LBS_SORT)
      << "the join list keeps its order";
  DestroyWindow(host);
}

TEST(Templates, HelpPage) {
  CheckTemplate({IDD_HELP_PAGE,
                 219,
                 277,
                 true,
                 {
                     {Kind::Group, -1, "Help Documentation", 0, 0, 219, 276},
                     {Kind::MultiLineEdit, IDC_HELP_TEXT, nullptr, 5, 9, 207, 260},
                 }});
}

TEST(Templates, AboutPage) {
  CheckTemplate({IDD_ABOUT_PAGE,
                 222,
                 278,
                 true,
                 {
                     {Kind::Group, -1, "About MP3 Snipwise", 0, 0, 222, 278},
                     {Kind::Icon, -1, nullptr, 100, 58, 20, 20},
                     {Kind::CentredText, -1, "MP3 Snipwise v1.5\nBuild Version 1.50", 56, 87, 109, 17},
                     {Kind::Link, IDC_ABOUT_LINK, nullptr, 65, 176, 92, 10},
                 }});
}

TEST(Templates, TrackInfoDialog) {
  CheckTemplate({IDD_TRACK_INFO,
                 180,
                 81,
                 false,
                 {
                     {Kind::Group, -1, "Track Info", 7, 7, 166, 49},
                     {Kind::Label, -1, "Artist:", 15, 20, 18, 8},
                     {Kind::Edit, IDC_TRACK_ARTIST, "", 36, 18, 130, 14},
                     {Kind::Label, -1, "Title:", 15, 36, 16, 8},
                     {Kind::Edit, IDC_TRACK_TITLE, "", 36, 35, 130, 14},
                     {Kind::DefaultButton, IDOK, "OK", 36, 60, 50, 14},
                     {Kind::Button, IDCANCEL, "Cancel", 93, 60, 50, 14},
                 }});
  HWND dialog =
      CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_TRACK_INFO), nullptr, PlainDialogProc, 0);
  ASSERT_NE(dialog, nullptr);
  DWORD style = static_cast<DWORD>(GetWindowLongPtrA(dialog, GWL_STYLE));
  EXPECT_TRUE(style & WS_POPUP);
  EXPECT_TRUE(style & WS_BORDER);
  EXPECT_NE(style & WS_CAPTION, DWORD(WS_CAPTION)) << "no title bar";
  RECT window = {}, work = {};
  GetWindowRect(dialog, &window);
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
  EXPECT_NEAR((window.top + window.bottom) / 2, (work.top + work.bottom) / 2, 2) << "centred";
  DestroyWindow(dialog);
}

// The bytes of a resource of this program.
std::string ResourceBytes(LPCSTR name, LPCSTR type) {
  HMODULE module = GetModuleHandleA(nullptr);
  HRSRC found = FindResourceA(module, name, type);
  if (!found) return {};
  const char* bytes = static_cast<const char*>(LockResource(LoadResource(module, found)));
  return bytes ? std::string(bytes, SizeofResource(module, found)) : std::string();
}

std::string Utf16(const std::string& ascii) {
  std::string wide;
  for (char c : ascii) wide += std::string{c, '\0'};
  return wide;
}

TEST(Resources, VersionIsOnePointFive) {
  std::string version = ResourceBytes(MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(16));  // RT_VERSION
  ASSERT_FALSE(version.empty());
  const uint32_t signature = 0xFEEF04BD;
  size_t at = version.find(std::string(reinterpret_cast<const char*>(&signature), 4));
  ASSERT_NE(at, std::string::npos);
  VS_FIXEDFILEINFO fixed = {};
  ASSERT_LE(at + sizeof(fixed), version.size());
  memcpy(&fixed, version.data() + at, sizeof(fixed));
  EXPECT_EQ(fixed.dwFileVersionMS, DWORD(MAKELONG(5, 1)));
  EXPECT_EQ(fixed.dwFileVersionLS, 0u);
  EXPECT_EQ(fixed.dwProductVersionMS, DWORD(MAKELONG(5, 1)));
  EXPECT_NE(version.find(Utf16("ProductName")), std::string::npos);
  EXPECT_NE(version.find(Utf16("MP3 Snipwise")), std::string::npos);
  EXPECT_NE(version.find(Utf16("1.5.0.0")), std::string::npos);
}

TEST(Resources, IconHasFourSizes) {
  // The icon group: a 6-byte header, then 14 bytes for each image.
  std::string group = ResourceBytes(MAKEINTRESOURCEA(IDI_APP_ICON), MAKEINTRESOURCEA(14));  // RT_GROUP_ICON
  ASSERT_GE(group.size(), 6u);
  size_t count = static_cast<uint8_t>(group[4]) | static_cast<uint8_t>(group[5]) << 8;
  ASSERT_EQ(group.size(), 6 + 14 * count);
  std::vector<int> sizes;
  for (size_t i = 0; i < count; ++i) sizes.push_back(static_cast<uint8_t>(group[6 + 14 * i]));
  EXPECT_EQ(sizes, (std::vector<int>{16, 32, 48, 0}));  // 0: 256 pixels
  HICON icon = LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_APP_ICON));
  EXPECT_NE(icon, nullptr);
}

TEST(Resources, ManifestAsksForCommonControlsSixUtf8AndPerMonitorScaling) {
  std::string manifest = ResourceBytes(MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));  // RT_MANIFEST
  EXPECT_NE(manifest.find("Microsoft.Windows.Common-Controls"), std::string::npos);
  EXPECT_NE(manifest.find("version=\"6.0.0.0\""), std::string::npos);
  EXPECT_NE(manifest.find(">UTF-8</activeCodePage>"), std::string::npos);
  EXPECT_NE(manifest.find(">PerMonitorV2, PerMonitor</dpiAwareness>"), std::string::npos);
  EXPECT_NE(manifest.find(">true/pm</dpiAware>"), std::string::npos);
}

}  // namespace
