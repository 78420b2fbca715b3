// The Join page under the real main window: adding and ordering files with
// the real dialogs and up-down control, and join runs with their status,
// busy controls, messages and output files.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdint>
#include <filesystem>
#include <iterator>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/file_io.h"
#include "join/join_engine.h"
#include "join/win/merge_page.h"
#include "mpeg/source_scan.h"
#include "split/split_engine.h"
#include "resource_ids.h"
#include "tags/id3v2.h"
#include "support/messages.h"
#include "support/mpeg_frames.h"
#include "support/win/gui_kit.h"

namespace {

using snip::test::kJoinCompleted;
using snip::test::kJoinFileError;
using snip::test::kJoinOverInput;

using snip::gui::AppWindow;
using snip::gui::CapturedBox;
using snip::gui::FileDialogDriver;
using snip::gui::MessageBoxWatcher;
using snip::gui::PumpFor;
using snip::gui::PumpUntil;
using snip::test::TempDir;
using Bytes = std::vector<uint8_t>;

const char kNeedInputs[] =
    "Please select a destination file and fill in the track list with two or more items for joining.";

const int kBusyControls[] = {IDC_MERGE_DESTINATION, IDC_MERGE_CHOOSE, IDC_MERGE_LIST, IDC_MERGE_SPIN,
                             IDC_MERGE_ADD,         IDC_MERGE_REMOVE, IDC_MERGE_CLEAR};

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

Bytes Audio(int bitrateIndex, int frames) {
  snip::test::FrameShape shape;
  shape.bitrateIndex = bitrateIndex;
  return snip::test::MakeStream(shape, frames);
}

Bytes Tagged(Bytes audio, const std::string& title) {
  snip::test::Append(audio, snip::test::MakeId3v1Tag(title));
  return audio;
}

Bytes Concat(const std::vector<Bytes>& parts) {
  Bytes all;
  for (const Bytes& part : parts) snip::test::Append(all, part);
  return all;
}

// Holds the first read of chosen inputs (or the creation of a chosen
// destination) on the run's thread until the test lets it go, so that the test can look at the page mid-run. Counts the
// destinations created too.
class RunGate {
 public:
  explicit RunGate(std::set<std::string> held) : held_(std::move(held)) {
    snip::SetFileFaultHook([this](snip::FileOp op, const std::string& path, int64_t, size_t n) -> int64_t {
      if (op == snip::FileOp::Create) ++creates_;
      if (op == snip::FileOp::Create || op == snip::FileOp::Read) Hold(path);
      return static_cast<int64_t>(n);
    });
  }
  ~RunGate() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      open_ = true;
    }
    wake_.notify_all();
    snip::SetFileFaultHook(nullptr);
  }
  // Pumps until the run waits at the first read of `name`.
  bool WaitHeld(const std::string& name) {
    return PumpUntil([&] {
      std::lock_guard<std::mutex> lock(mutex_);
      return EndsWith(waiting_, "\\" + name);
    });
  }
  void Release() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      waiting_.clear();
      ++released_;
    }
    wake_.notify_all();
  }
  int Creates() const { return creates_; }

 private:
  void Hold(const std::string& path) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (open_ || seen_.count(path) != 0) return;
    bool listed = false;
    for (const std::string& name : held_) listed = listed || EndsWith(path, "\\" + name);
    if (!listed) return;
    seen_.insert(path);
    waiting_ = path;
    int ticket = released_;
    wake_.wait_for(lock, std::chrono::seconds(20), [&] { return open_ || released_ != ticket; });
  }

  std::set<std::string> held_;
  std::set<std::string> seen_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::string waiting_;
  int released_ = 0;
  bool open_ = false;
  std::atomic<int> creates_{0};
};

// Answers the save dialog's own question about replacing an existing file
// (a box with the dialog's title and Yes and No), and keeps its text.
class OverwritePrompt {
 public:
  explicit OverwritePrompt(int answer) : answer_(answer) {
    thread_ = std::thread([this] {
      while (!stop_) {
        EnumWindows(
            [](HWND window, LPARAM self) {
              auto* prompt = reinterpret_cast<OverwritePrompt*>(self);
              DWORD pid = 0;
              GetWindowThreadProcessId(window, &pid);
              if (pid != GetCurrentProcessId() || !IsWindowVisible(window) || !GetDlgItem(window, IDYES) ||
                  snip::gui::Text(window) != "Select MP3 Destination File" || prompt->seen_) {
                return TRUE;
              }
              std::string text;
              for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
                char name[32] = {};
                GetClassNameA(child, name, sizeof(name));
                if (std::string(name) == "Static") text += snip::gui::Text(child);
              }
              {
                std::lock_guard<std::mutex> lock(prompt->mutex_);
                prompt->text_ = text;
              }
              prompt->seen_ = true;
              PostMessageA(window, WM_COMMAND, MAKEWPARAM(prompt->answer_, BN_CLICKED),
                           reinterpret_cast<LPARAM>(GetDlgItem(window, prompt->answer_)));
              return FALSE;
            },
            reinterpret_cast<LPARAM>(this));
        Sleep(20);
      }
    });
  }
  ~OverwritePrompt() {
    stop_ = true;
    thread_.join();
  }
  bool Seen() const { return seen_; }
  std::string TextShown() {
    std::lock_guard<std::mutex> lock(mutex_);
    return text_;
  }

 private:
  int answer_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> seen_{false};
  std::mutex mutex_;
  std::string text_;
  std::thread thread_;
};

class MergePageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    app_.SelectTab(1);
    page_ = app_.Merge();
    ASSERT_NE(page_, nullptr);
  }
  void TearDown() override { snip::SetFileFaultHook(nullptr); }

  std::string Write(const std::string& name, const Bytes& bytes) {
    std::string path = snip::gui::WinPath(dir_.File(name));
    snip::test::WriteBytes(path, bytes);
    return path;
  }
  void AddLine(const std::string& text) {
    SendDlgItemMessageA(page_, IDC_MERGE_LIST, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
  }
  std::vector<std::string> Lines() { return snip::gui::ListLines(page_, IDC_MERGE_LIST); }
  std::string Caption() { return snip::gui::Text(page_, IDC_MERGE_ACTION); }
  std::string Status() { return snip::gui::Text(page_, IDC_MERGE_STATUS); }
  bool WaitIdle() {
    return PumpUntil([&] { return Caption() == "Merge Tracks"; }, 20000);
  }
  // The page as it is between runs.
  void ExpectIdlePage() {
    EXPECT_EQ(Caption(), "Merge Tracks");
    EXPECT_EQ(Status(), "Status: Idle");
    for (int id : kBusyControls) EXPECT_TRUE(snip::gui::IsEnabled(page_, id)) << id;
  }
  // A message box of the page: its caption, text, icon and owner.
  void ExpectBox(const CapturedBox& box, const std::string& text, int icon) {
    EXPECT_EQ(box.caption, "MP3 Snipwise");
    EXPECT_EQ(box.text, text);
    EXPECT_EQ(box.icon, icon);
    EXPECT_TRUE(box.owner == page_ || box.owner == GetAncestor(page_, GA_ROOT)) << box.owner;
  }
  // Clicks an arrow of the up-down control as the mouse would.
  void ClickSpin(bool upper) {
    HWND spin = GetDlgItem(page_, IDC_MERGE_SPIN);
    RECT area;
    GetClientRect(spin, &area);
    LPARAM at = MAKELPARAM(area.right / 2, upper ? area.bottom / 4 : area.bottom * 3 / 4);
    SendMessageA(spin, WM_LBUTTONDOWN, MK_LBUTTON, at);
    SendMessageA(spin, WM_LBUTTONUP, 0, at);
    PumpFor(20);
  }

  AppWindow app_;
  HWND page_ = nullptr;
  TempDir dir_;
};

// ---- the list ------------------------------------------------------------------

TEST_F(MergePageTest, ListScrollsSidewaysForLongPaths) {
  EXPECT_EQ(SendDlgItemMessageA(page_, IDC_MERGE_LIST, LB_GETHORIZONTALEXTENT, 0, 0), 1000);
  ExpectIdlePage();
}

TEST_F(MergePageTest, AddsOneChosenFileAndTheSameFileTwice) {
  std::string a = Write("one.mp3", Audio(9, 3));
  for (int round = 1; round <= 2; ++round) {
    FileDialogDriver driver("Select MP3 Source File(s)", {a});
    snip::gui::PostClick(page_, IDC_MERGE_ADD);
    ASSERT_TRUE(driver.WaitDone());
    ASSERT_TRUE(PumpUntil([&] { return Lines().size() == static_cast<size_t>(round); }));
  }
  EXPECT_EQ(Lines(), (std::vector<std::string>{a, a}));
}

TEST_F(MergePageTest, AddsSeveralFilesInTheOrderChosenAfterTheLinesThere) {
  std::string a = Write("a.mp3", Audio(9, 2));
  std::string b = Write("b.mp3", Audio(9, 2));
  std::string c = Write("c.mp3", Audio(9, 2));
  AddLine("X:\\earlier.mp3");
  FileDialogDriver driver("Select MP3 Source File(s)",
                          {snip::gui::WinPath(dir_.Path()), "\"c.mp3\" \"a.mp3\" \"b.mp3\""});
  snip::gui::PostClick(page_, IDC_MERGE_ADD);
  ASSERT_TRUE(driver.WaitDone());
  ASSERT_TRUE(PumpUntil([&] { return Lines().size() == 4; }));
  EXPECT_EQ(Lines(), (std::vector<std::string>{"X:\\earlier.mp3", c, a, b}));
}

TEST_F(MergePageTest, CancelledAddChangesNothing) {
  AddLine("X:\\kept.mp3");
  MessageBoxWatcher boxes;
  FileDialogDriver driver("Select MP3 Source File(s)", {}, true);
  snip::gui::PostClick(page_, IDC_MERGE_ADD);
  ASSERT_TRUE(driver.WaitDone());
  PumpFor(200);
  EXPECT_EQ(Lines(), std::vector<std::string>{"X:\\kept.mp3"});
  EXPECT_EQ(boxes.Count(), 0u);
}

// A drive's root already ends in a separator: the names follow it directly.
TEST_F(MergePageTest, FilesInADriveRootGetOneSeparator) {
  std::string stem = "C:\\snipwise-join-" + std::to_string(GetCurrentProcessId());
  std::string a = stem + "-a.mp3", b = stem + "-b.mp3";
  snip::test::WriteBytes(a, Audio(9, 2));
  snip::test::WriteBytes(b, Audio(9, 2));
  std::string nameA = a.substr(3), nameB = b.substr(3);
  {
    FileDialogDriver driver("Select MP3 Source File(s)", {"C:\\", "\"" + nameA + "\" \"" + nameB + "\""});
    snip::gui::PostClick(page_, IDC_MERGE_ADD);
    EXPECT_TRUE(driver.WaitDone());
    EXPECT_TRUE(PumpUntil([&] { return Lines().size() == 2; }));
  }
  {
    FileDialogDriver driver("Select MP3 Source File(s)", {b});
    snip::gui::PostClick(page_, IDC_MERGE_ADD);
    EXPECT_TRUE(driver.WaitDone());
    EXPECT_TRUE(PumpUntil([&] { return Lines().size() == 3; }));
  }
  DeleteFileA(a.c_str());
  DeleteFileA(b.c_str());
  EXPECT_EQ(Lines(), (std::vector<std::string>{a, b, b}));
}

// The common dialog cannot hand back a path past 259 characters here, so a
// stand-in takes its place; it also records how the dialog was asked.
struct FakeOpenDialog {
  static inline std::string answer;
  static inline WORD fileOffset = 0;
  static inline OPENFILENAMEA asked = {};
  static inline std::string filter;
  static BOOL WINAPI Show(LPOPENFILENAMEA dialog) {
    asked = *dialog;
    filter.assign(dialog->lpstrFilter, 25);
    if (answer.size() > dialog->nMaxFile) return FALSE;
    std::copy(answer.begin(), answer.end(), dialog->lpstrFile);
    dialog->nFileOffset = fileOffset;
    return TRUE;
  }
};

TEST_F(MergePageTest, AFileWhosePathIsTooLongIsNotAddedAndSaysSo) {
  std::string folder = "C:\\" + std::string(240, 'f');
  std::string fits = "a.mp3", over = std::string(20, 'b') + ".mp3";
  FakeOpenDialog::answer = folder + '\0' + fits + '\0' + over + '\0' + fits + '\0' + '\0';
  FakeOpenDialog::fileOffset = static_cast<WORD>(folder.size() + 1);
  JoinOpenDialog = FakeOpenDialog::Show;
  MessageBoxWatcher boxes;
  snip::gui::PostClick(page_, IDC_MERGE_ADD);
  bool shown = boxes.WaitForCount(1);
  JoinOpenDialog = GetOpenFileNameA;
  ASSERT_TRUE(shown);
  ExpectBox(boxes.Boxes()[0], kJoinPathTooLongMessage, MB_ICONWARNING);
  EXPECT_EQ(Lines(), (std::vector<std::string>{folder + "\\" + fits, folder + "\\" + fits}));

  // How the dialog was asked: multiple selection into a 64000-byte buffer,
  // the structure's size following the system's version.
  const OPENFILENAMEA& asked = FakeOpenDialog::asked;
  OSVERSIONINFOA version = {};
  version.dwOSVersionInfoSize = sizeof(version);
  GetVersionExA(&version);
  EXPECT_EQ(asked.lStructSize, version.dwMajorVersion == 5 ? sizeof(OPENFILENAMEA) : OPENFILENAME_SIZE_VERSION_400A);
  EXPECT_EQ(asked.hwndOwner, page_);
  EXPECT_EQ(asked.nMaxFile, 64000u);
  EXPECT_EQ(asked.Flags, static_cast<DWORD>(OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_ALLOWMULTISELECT));
  EXPECT_STREQ(asked.lpstrTitle, "Select MP3 Source File(s)");
  EXPECT_EQ(FakeOpenDialog::filter, std::string("MP3 Files (*.mp3)\0*.mp3\0\0", 25));
  EXPECT_EQ(asked.lpstrInitialDir, nullptr);
}

// What the open dialog hands back, turned into the lines that are added.
TEST(ChosenJoinFilesTest, RebuildsFullPathsFromTheSelectionBuffer) {
  auto chosen = [](const std::string& buffer, size_t offset, int* tooLong) {
    std::string padded = buffer + std::string(8, '\0');
    return ChosenJoinFiles(padded.data(), padded.size(), offset, tooLong);
  };
  using Texts = std::vector<std::string>;
  int tooLong = -1;
  EXPECT_EQ(chosen(std::string("C:\\music\\a.mp3\0", 15), 9, &tooLong), Texts{"C:\\music\\a.mp3"});
  EXPECT_EQ(tooLong, 0);
  EXPECT_EQ(chosen(std::string("C:\\music\0b.mp3\0a.mp3\0\0", 23), 9, &tooLong),
            (Texts{"C:\\music\\b.mp3", "C:\\music\\a.mp3"}));
  EXPECT_EQ(chosen(std::string("Q:\\\0a.mp3\0b.mp3\0\0", 17), 4, &tooLong), (Texts{"Q:\\a.mp3", "Q:\\b.mp3"}));
  EXPECT_EQ(chosen(std::string("Q:\\a.mp3\0", 9), 3, &tooLong), Texts{"Q:\\a.mp3"});
  // An offset past the first string's end, or a buffer without any end,
  // gives nothing rather than reading past the buffer.
  EXPECT_TRUE(chosen(std::string("C:\\m\0a.mp3\0\0", 12), 9, &tooLong).empty());
  std::string unterminated(40, 'x');
  EXPECT_TRUE(ChosenJoinFiles(unterminated.data(), unterminated.size(), 5, &tooLong).empty());
}

TEST(ChosenJoinFilesTest, LeavesOutAndCountsPathsLongerThan259) {
  std::string folder = "C:\\" + std::string(246, 'f');  // 249 characters
  std::string fits = std::string(5, 'a') + ".mp3";      // 249 + 1 + 9 = 259
  std::string over = std::string(6, 'b') + ".mp3";      // 260
  std::string buffer = folder + '\0' + over + '\0' + fits + '\0' + over + '\0' + '\0';
  int tooLong = 0;
  std::vector<std::string> lines = ChosenJoinFiles(buffer.data(), buffer.size(), folder.size() + 1, &tooLong);
  EXPECT_EQ(lines, std::vector<std::string>{folder + "\\" + fits});
  EXPECT_EQ(tooLong, 2);
}

TEST_F(MergePageTest, UpDownMovesTheSelectedLineOnePlaceAndStopsAtBothEnds) {
  for (const char* line : {"A", "B", "C", "D"}) AddLine(line);
  using Texts = std::vector<std::string>;
  // No selection: nothing moves.
  ClickSpin(true);
  ClickSpin(false);
  EXPECT_EQ(Lines(), (Texts{"A", "B", "C", "D"}));

  snip::gui::ListSelect(page_, IDC_MERGE_LIST, 1);
  ClickSpin(false);  // lower arrow: down
  EXPECT_EQ(Lines(), (Texts{"A", "C", "B", "D"}));
  EXPECT_EQ(snip::gui::ListSelection(page_, IDC_MERGE_LIST), 2);
  ClickSpin(false);
  ClickSpin(false);  // already last: stays
  EXPECT_EQ(Lines(), (Texts{"A", "C", "D", "B"}));
  EXPECT_EQ(snip::gui::ListSelection(page_, IDC_MERGE_LIST), 3);

  ClickSpin(true);  // upper arrow: up
  EXPECT_EQ(Lines(), (Texts{"A", "C", "B", "D"}));
  EXPECT_EQ(snip::gui::ListSelection(page_, IDC_MERGE_LIST), 2);
  for (int i = 0; i < 4; ++i) ClickSpin(true);  // up to the top, then no further
  EXPECT_EQ(Lines(), (Texts{"B", "A", "C", "D"}));
  EXPECT_EQ(snip::gui::ListSelection(page_, IDC_MERGE_LIST), 0);
}

TEST(MoveJoinLineTest, OnlyTheSignOfTheDeltaCounts) {
  HWND list = CreateWindowA("LISTBOX", "", WS_CHILD, 0, 0, 100, 100, GetDesktopWindow(), nullptr, nullptr, nullptr);
  ASSERT_NE(list, nullptr);
  for (const char* line : {"A", "B", "C"}) SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line));
  auto lines = [&] {
    std::vector<std::string> all;
    for (int i = 0; i < 3; ++i) {
      char text[8] = {};
      SendMessageA(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(text));
      all.push_back(text);
    }
    return all;
  };
  SendMessageA(list, LB_SETCURSEL, 0, 0);
  MoveJoinLine(list, 57);
  EXPECT_EQ(lines(), (std::vector<std::string>{"B", "A", "C"}));
  MoveJoinLine(list, 0);
  EXPECT_EQ(lines(), (std::vector<std::string>{"B", "A", "C"}));
  MoveJoinLine(list, -1000);
  EXPECT_EQ(lines(), (std::vector<std::string>{"A", "B", "C"}));
  EXPECT_EQ(SendMessageA(list, LB_GETCURSEL, 0, 0), 0);
  DestroyWindow(list);
}

TEST_F(MergePageTest, RemoveTrackSelectsTheLineThatFollowed) {
  for (const char* line : {"A", "B", "C"}) AddLine(line);
  using Texts = std::vector<std::string>;
  snip::gui::Click(page_, IDC_MERGE_REMOVE);  // nothing selected: nothing removed
  EXPECT_EQ(Lines(), (Texts{"A", "B", "C"}));

  snip::gui::ListSelect(page_, IDC_MERGE_LIST, 1);
  snip::gui::Click(page_, IDC_MERGE_REMOVE);
  EXPECT_EQ(Lines(), (Texts{"A", "C"}));
  EXPECT_EQ(snip::gui::ListSelection(page_, IDC_MERGE_LIST), 1);  // "C"

  snip::gui::Click(page_, IDC_MERGE_REMOVE);  // the last line: afterwards none is selected
  EXPECT_EQ(Lines(), Texts{"A"});
  EXPECT_EQ(snip::gui::ListSelection(page_, IDC_MERGE_LIST), -1);
  snip::gui::Click(page_, IDC_MERGE_REMOVE);
  EXPECT_EQ(Lines(), Texts{"A"});
}

TEST_F(MergePageTest, ClearListEmptiesIt) {
  for (const char* line : {"A", "B", "C"}) AddLine(line);
  snip::gui::ListSelect(page_, IDC_MERGE_LIST, 2);
  snip::gui::Click(page_, IDC_MERGE_CLEAR);
  EXPECT_TRUE(Lines().empty());
}

// ---- the destination -----------------------------------------------------------

TEST_F(MergePageTest, ChooseSetsTheDestinationWithoutTouchingTheFile) {
  std::string existing = Write("old.mp3", Audio(9, 2));
  {
    // An existing file is chosen only after the dialog's own question.
    OverwritePrompt prompt(IDYES);
    FileDialogDriver driver("Select MP3 Destination File", {existing});
    snip::gui::PostClick(page_, IDC_MERGE_CHOOSE);
    ASSERT_TRUE(driver.WaitDone());
    ASSERT_TRUE(PumpUntil([&] { return snip::gui::Text(page_, IDC_MERGE_DESTINATION) == existing; }));
    EXPECT_TRUE(prompt.Seen());
    EXPECT_NE(prompt.TextShown().find("replace"), std::string::npos) << prompt.TextShown();
  }
  EXPECT_EQ(snip::test::ReadBytes(existing), Audio(9, 2));
  {
    // A name without an extension is given ".mp3"; nothing is created.
    FileDialogDriver driver("Select MP3 Destination File", {snip::gui::WinPath(dir_.File("joined"))});
    snip::gui::PostClick(page_, IDC_MERGE_CHOOSE);
    ASSERT_TRUE(driver.WaitDone());
    ASSERT_TRUE(PumpUntil([&] { return EndsWith(snip::gui::Text(page_, IDC_MERGE_DESTINATION), "joined.mp3"); }));
  }
  EXPECT_EQ(snip::gui::Text(page_, IDC_MERGE_DESTINATION), snip::gui::WinPath(dir_.File("joined.mp3")));
  EXPECT_FALSE(snip::test::FileExists(dir_.File("joined.mp3")));
  {
    FileDialogDriver driver("Select MP3 Destination File", {}, true);
    snip::gui::PostClick(page_, IDC_MERGE_CHOOSE);
    ASSERT_TRUE(driver.WaitDone());
    PumpFor(200);
  }
  EXPECT_EQ(snip::gui::Text(page_, IDC_MERGE_DESTINATION), snip::gui::WinPath(dir_.File("joined.mp3")));
}

// ---- runs ------------------------------------------------------------------------

TEST_F(MergePageTest, NeedsADestinationAndTwoLines) {
  std::string a = Write("a.mp3", Audio(9, 2));
  std::string out = snip::gui::WinPath(dir_.File("out.mp3"));
  MessageBoxWatcher boxes;
  AddLine(a);
  AddLine(a);
  snip::gui::PostClick(page_, IDC_MERGE_ACTION);  // no destination
  ASSERT_TRUE(boxes.WaitForCount(1));

  snip::gui::SetText(page_, IDC_MERGE_DESTINATION, out);
  snip::gui::ListSelect(page_, IDC_MERGE_LIST, 1);
  snip::gui::Click(page_, IDC_MERGE_REMOVE);
  snip::gui::PostClick(page_, IDC_MERGE_ACTION);  // one line
  ASSERT_TRUE(boxes.WaitForCount(2));
  for (const CapturedBox& box : boxes.Boxes()) ExpectBox(box, kNeedInputs, MB_ICONWARNING);
  ExpectIdlePage();
  EXPECT_FALSE(snip::test::FileExists(out));

  AddLine(a);  // two lines and a destination: the run starts
  snip::gui::PostClick(page_, IDC_MERGE_ACTION);
  ASSERT_TRUE(boxes.WaitForCount(3));
  ExpectBox(boxes.Boxes()[2], kJoinCompleted, MB_ICONINFORMATION);
  EXPECT_EQ(snip::test::ReadBytes(out), Concat({Audio(9, 2), Audio(9, 2)}));
}

TEST_F(MergePageTest, RunShowsEachLineAndKeepsThePageBusyUntilItCompletes) {
  Bytes one = Audio(9, 5), two = Audio(10, 4), three = Audio(11, 3);
  std::string a = Write("a.mp3", Tagged(one, "first"));
  std::string b = Write("b.mp3", two);
  std::string c = Write("c.mp3", Tagged(three, "third"));
  std::string out = snip::gui::WinPath(dir_.File("out.mp3"));
  for (const std::string& line : {a, b, c}) AddLine(line);
  snip::gui::SetText(page_, IDC_MERGE_DESTINATION, out);

  MessageBoxWatcher boxes;
  {
    RunGate gate({"a.mp3", "b.mp3", "c.mp3"});
    snip::gui::PostClick(page_, IDC_MERGE_ACTION);
    const char* names[] = {"a.mp3", "b.mp3", "c.mp3"};
    for (int i = 0; i < 3; ++i) {
      ASSERT_TRUE(gate.WaitHeld(names[i])) << names[i];
      char status[40];
      std::snprintf(status, sizeof(status), "Status: Joining... [%03d]", i + 1);
      // The worker posts its status: it shows once the page has had it.
      PumpUntil([&] { return Status() == status; }, 2000);
      EXPECT_EQ(Status(), status);
      EXPECT_EQ(Caption(), "Cancel");
      for (int id : kBusyControls) EXPECT_FALSE(snip::gui::IsEnabled(page_, id)) << id;
      EXPECT_TRUE(snip::gui::IsEnabled(page_, IDC_MERGE_ACTION));
      EXPECT_TRUE(snip::gui::IsEnabled(page_, IDC_MERGE_STATUS));
      gate.Release();
    }
    ASSERT_TRUE(boxes.WaitForCount(1));
    EXPECT_EQ(gate.Creates(), 1);
  }
  ExpectBox(boxes.Boxes()[0], kJoinCompleted, MB_ICONINFORMATION);
  ASSERT_TRUE(WaitIdle());
  ExpectIdlePage();
  // Each trailing tag is left out.
  EXPECT_EQ(snip::test::ReadBytes(out), Concat({one, two, three}));
  EXPECT_EQ(Lines(), (std::vector<std::string>{a, b, c}));
}

// With "Keep the first file's tag only" the first file's ID3v2 tag opens
// the joined file and the later files' tags are left out, as join --tags
// does; without it every tag stays where it was.
TEST_F(MergePageTest, KeepTheFirstFilesTagOnlyLeavesTheOtherId3v2TagsOut) {
  snip::TagInfo first, second;
  first.title = "One";
  second.title = "Two";
  second.pictures.push_back({"image/png", 3, "", {1, 2, 3}});
  Bytes tag1 = snip::WriteId3v2(first), tag2 = snip::WriteId3v2(second);
  Bytes one = Audio(9, 5), two = Audio(10, 4);
  std::string a = Write("a.mp3", Concat({tag1, Tagged(one, "first")}));
  std::string b = Write("b.mp3", Concat({tag2, two}));
  std::string out = snip::gui::WinPath(dir_.File("out.mp3"));
  AddLine(a);
  AddLine(b);
  snip::gui::SetText(page_, IDC_MERGE_DESTINATION, out);

  MessageBoxWatcher boxes;
  snip::gui::SetChecked(page_, IDC_MERGE_TAGS, true);
  snip::gui::PostClick(page_, IDC_MERGE_ACTION);
  ASSERT_TRUE(boxes.WaitForCount(1, 20000));
  ASSERT_TRUE(WaitIdle());
  ExpectBox(boxes.Boxes()[0], kJoinCompleted, MB_ICONINFORMATION);
  EXPECT_EQ(snip::test::ReadBytes(out), Concat({tag1, one, two}));
  std::string engine = snip::gui::WinPath(dir_.File("engine.mp3"));
  ASSERT_EQ(snip::RunJoin(engine, {a, b}, {}, true, nullptr, true), snip::JoinOutcome::Completed);
  EXPECT_EQ(snip::test::ReadBytes(out), snip::test::ReadBytes(engine));

  snip::gui::SetChecked(page_, IDC_MERGE_TAGS, false);
  snip::gui::PostClick(page_, IDC_MERGE_ACTION);
  ASSERT_TRUE(boxes.WaitForCount(2, 20000));
  ASSERT_TRUE(WaitIdle());
  EXPECT_EQ(snip::test::ReadBytes(out), Concat({tag1, one, tag2, two}));
}

// "Exact join (gapless)" ticked: exact tracks of one source are joined as
// the engine joins them, under one summary frame, their shared frames once.
TEST_F(MergePageTest, ExactJoinMakesTheEnginesGaplessJoin) {
  std::string corpus = snip::test::CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "no corpus";
  std::string source = Write("set.mp3", snip::test::ReadBytes(corpus + "mpeg1-128.mp3"));
  snip::File file = snip::File::OpenRead(source);
  snip::ScanResult scan = snip::SourceScan(file);
  file.Close();
  snip::SplitJob job;
  job.sourcePath = source;
  job.folder = snip::gui::WinPath(dir_.Path());
  job.nameTemplate = "%file% - %track%";
  job.firstFrame = scan.audioStart;
  job.exact = true;
  job.marks = {{0, "", ""}, {512, "", ""}};
  snip::SplitSummary split;
  ASSERT_EQ(snip::RunSplit(job, {}, &split), snip::SplitOutcome::Completed);
  ASSERT_EQ(split.files.size(), 2u);
  for (const std::string& track : split.files) AddLine(track);
  std::string out = snip::gui::WinPath(dir_.File("out.mp3"));
  snip::gui::SetText(page_, IDC_MERGE_DESTINATION, out);

  MessageBoxWatcher boxes;
  snip::gui::SetChecked(page_, IDC_MERGE_EXACT, true);
  snip::gui::PostClick(page_, IDC_MERGE_ACTION);
  ASSERT_TRUE(boxes.WaitForCount(1, 20000));
  ASSERT_TRUE(WaitIdle());
  ExpectBox(boxes.Boxes()[0], kJoinCompleted, MB_ICONINFORMATION);
  std::string engine = snip::gui::WinPath(dir_.File("engine.mp3"));
  ASSERT_EQ(snip::RunJoin(engine, split.files, {}, true, nullptr, true, true), snip::JoinOutcome::Completed);
  Bytes joined = snip::test::ReadBytes(out);
  EXPECT_EQ(joined, snip::test::ReadBytes(engine));
  // Shorter than the two tracks put together: the shared frames are written once.
  EXPECT_LT(joined.size() + 2 * 128,
            snip::test::ReadBytes(split.files[0]).size() + snip::test::ReadBytes(split.files[1]).size());
}

TEST_F(MergePageTest, HaltDuringTheThirdOfFiveLinesSaysNothingAndKeepsTheDestination) {
  std::vector<Bytes> parts;
  for (int i = 0; i < 5; ++i) {
    parts.push_back(Audio(9 + i, 3 + i));
    AddLine(Write("part" + std::to_string(i + 1) + ".mp3", parts.back()));
  }
  // The destination exists: a halted join leaves it as it was.
  std::string out = Write("out.mp3", Audio(12, 9));
  snip::gui::SetText(page_, IDC_MERGE_DESTINATION, out);

  MessageBoxWatcher boxes;
  {
    RunGate gate({"part3.mp3"});
    snip::gui::PostClick(page_, IDC_MERGE_ACTION);
    ASSERT_TRUE(gate.WaitHeld("part3.mp3"));
    PumpUntil([&] { return Status() == "Status: Joining... [003]"; }, 2000);
    EXPECT_EQ(Status(), "Status: Joining... [003]");
    snip::gui::Click(page_, IDC_MERGE_ACTION);
    EXPECT_EQ(Caption(), "Halting...");
    gate.Release();
    ASSERT_TRUE(WaitIdle());
  }
  PumpFor(300);
  EXPECT_EQ(boxes.Count(), 0u);
  ExpectIdlePage();
  EXPECT_EQ(snip::test::ReadBytes(out), Audio(12, 9));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.Path()), {}), 6) << "a file was left behind";
}

TEST_F(MergePageTest, ASecondPressBeforeTheRunShowsCancelStartsNoSecondRun) {
  std::string a = Write("a.mp3", Audio(9, 3));
  std::string b = Write("b.mp3", Audio(10, 3));
  std::string out = snip::gui::WinPath(dir_.File("out.mp3"));
  AddLine(a);
  AddLine(b);
  snip::gui::SetText(page_, IDC_MERGE_DESTINATION, out);

  MessageBoxWatcher boxes;
  RunGate gate({"out.mp3"});
  snip::gui::PostClick(page_, IDC_MERGE_ACTION);
  snip::gui::PostClick(page_, IDC_MERGE_ACTION);
  ASSERT_TRUE(gate.WaitHeld("out.mp3"));  // the run is about to create its destination
  PumpFor(300);
  EXPECT_EQ(Caption(), "Halting...");  // the second press asked that one run to halt
  EXPECT_EQ(gate.Creates(), 1);
  gate.Release();
  ASSERT_TRUE(WaitIdle());
  PumpFor(300);
  EXPECT_EQ(gate.Creates(), 1);
  EXPECT_EQ(boxes.Count(), 0u);
  ExpectIdlePage();
  EXPECT_FALSE(snip::test::FileExists(out));
}

TEST_F(MergePageTest, DestinationAmongTheLinesIsRefusedBeforeItIsEmptied) {
  Bytes first = Audio(9, 4), second = Audio(10, 3);
  std::string a = Write("a.mp3", first);
  std::string b = Write("b.mp3", second);
  AddLine(a);
  AddLine(b);
  // The same file under another spelling of its path.
  snip::gui::SetText(page_, IDC_MERGE_DESTINATION, snip::gui::WinPath(dir_.Path()) + ".\\B.MP3");

  MessageBoxWatcher boxes;
  snip::gui::PostClick(page_, IDC_MERGE_ACTION);
  ASSERT_TRUE(boxes.WaitForCount(1));
  ExpectBox(boxes.Boxes()[0], kJoinOverInput, MB_ICONWARNING);
  ASSERT_TRUE(WaitIdle());
  ExpectIdlePage();
  EXPECT_EQ(snip::test::ReadBytes(a), first);
  EXPECT_EQ(snip::test::ReadBytes(b), second);
}

// Every failure ends the run with the page idle and one warning; the
// destination is left as it was.
TEST_F(MergePageTest, FileErrorsEndTheRunWithAWarning) {
  Bytes first = Audio(9, 4);
  std::string a = Write("a.mp3", first);
  std::string b = Write("b.mp3", Audio(10, 3));
  std::string tiny = Write("tiny.mp3", Bytes(127, 0x20));
  const Bytes precious = Audio(12, 7);
  std::string out = Write("out.mp3", precious);
  snip::gui::SetText(page_, IDC_MERGE_DESTINATION, out);
  MessageBoxWatcher boxes;
  size_t seen = 0;
  auto run = [&](const std::vector<std::string>& lines, const Bytes& expected, const char* what) {
    SCOPED_TRACE(what);
    snip::gui::Click(page_, IDC_MERGE_CLEAR);
    for (const std::string& line : lines) AddLine(line);
    snip::gui::PostClick(page_, IDC_MERGE_ACTION);
    ASSERT_TRUE(boxes.WaitForCount(++seen));
    ExpectBox(boxes.Boxes()[seen - 1], kJoinFileError, MB_ICONWARNING);
    ASSERT_TRUE(WaitIdle());
    ExpectIdlePage();
    EXPECT_EQ(snip::test::ReadBytes(out), expected);
  };

  run({a, snip::gui::WinPath(dir_.File("vanished.mp3")), b}, precious, "missing line");
  run({a, tiny, b}, precious, "line shorter than 128 bytes");
  run({a, snip::gui::WinPath(dir_.Path())}, precious, "line that is a folder");

  snip::SetFileFaultHook([&](snip::FileOp op, const std::string& path, int64_t, size_t n) -> int64_t {
    return op == snip::FileOp::Read && EndsWith(path, "\\b.mp3") ? -1 : static_cast<int64_t>(n);
  });
  run({a, b}, precious, "read failure");
  snip::SetFileFaultHook([&](snip::FileOp op, const std::string&, int64_t position, size_t n) -> int64_t {
    return op == snip::FileOp::Write && position >= static_cast<int64_t>(first.size()) ? -1 : static_cast<int64_t>(n);
  });
  run({a, b}, precious, "write failure");
  snip::SetFileFaultHook(nullptr);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.Path()), {}), 4) << "a file was left behind";

  snip::gui::SetText(page_, IDC_MERGE_DESTINATION, snip::gui::WinPath(dir_.File("no such folder\\out.mp3")));
  snip::gui::Click(page_, IDC_MERGE_CLEAR);
  AddLine(a);
  AddLine(b);
  snip::gui::PostClick(page_, IDC_MERGE_ACTION);
  ASSERT_TRUE(boxes.WaitForCount(++seen));
  ExpectBox(boxes.Boxes()[seen - 1], kJoinFileError, MB_ICONWARNING);
  ASSERT_TRUE(WaitIdle());
  ExpectIdlePage();
}

}  // namespace

// ---- files dropped from Explorer ------------------------------------------------

TEST_F(MergePageTest, DroppedFilesAndFoldersAreAddedInOrderButNotDuringARun) {
  std::string a = Write("a.mp3", Audio(9, 2));
  std::string folder = snip::gui::WinPath(dir_.File("live"));
  CreateDirectoryA(folder.c_str(), nullptr);
  Write("live\\z.mp3", Audio(9, 2));
  Write("live\\B.MP3", Audio(9, 2));
  Write("live\\notes.txt", Bytes{'x'});
  AddLine(a);
  snip::gui::PostDrop(page_, {folder, a});
  ASSERT_TRUE(PumpUntil([&] { return Lines().size() == 4; }, 5000)) << Lines().size();
  EXPECT_EQ(Lines(), (std::vector<std::string>{a, folder + "\\B.MP3", folder + "\\z.mp3", a}));

  // While a join runs the page takes nothing.
  std::string out = snip::gui::WinPath(dir_.File("out.mp3"));
  snip::gui::SetText(page_, IDC_MERGE_DESTINATION, out);
  MessageBoxWatcher boxes;
  {
    RunGate gate({"B.MP3"});
    snip::gui::PostClick(page_, IDC_MERGE_ACTION);
    ASSERT_TRUE(gate.WaitHeld("B.MP3"));
    snip::gui::PostDrop(page_, {a});
    PumpFor(300);
    EXPECT_EQ(Lines().size(), 4u);
    gate.Release();
  }
  ASSERT_TRUE(boxes.WaitForCount(1));
  EXPECT_EQ(boxes.Boxes()[0].text, kJoinCompleted);
}
