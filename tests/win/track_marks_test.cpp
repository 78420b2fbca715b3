// The track timing list of the real Split page: typed times, the player's
// position, removing and clearing lines, and the TrackInfoDialog.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "resource_ids.h"
#include "split/win/track_marks.h"
#include "support/win/gui_kit.h"

namespace snip::gui {
namespace {

using Lines = std::vector<std::string>;

const char kNoPlayer[] = "Winamp is not currently running or could not be found.";

// ---- the TrackInfoDialog, driven from a thread of its own -------------------

HWND FindTrackInfoDialog() {
  HWND found = nullptr;
  EnumWindows(
      [](HWND window, LPARAM result) -> BOOL {
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        if (process == GetCurrentProcessId() && IsWindowVisible(window) && GetDlgItem(window, IDC_TRACK_ARTIST) &&
            GetDlgItem(window, IDC_TRACK_TITLE)) {
          *reinterpret_cast<HWND*>(result) = window;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found;
}

std::string RemoteText(HWND window) {
  char buffer[512] = {};
  DWORD_PTR ignored = 0;
  SendMessageTimeoutA(window, WM_GETTEXT, sizeof(buffer), reinterpret_cast<LPARAM>(buffer), SMTO_NORMAL, 5000,
                      &ignored);
  return buffer;
}

// Types text into an edit as keystrokes would, replacing what it holds, so
// that the edit's length limit applies.
void RemoteType(HWND edit, const std::string& text) {
  DWORD_PTR ignored = 0;
  SendMessageTimeoutA(edit, EM_SETSEL, 0, -1, SMTO_NORMAL, 5000, &ignored);
  SendMessageTimeoutA(edit, WM_CLEAR, 0, 0, SMTO_NORMAL, 5000, &ignored);
  for (char c : text) SendMessageTimeoutA(edit, WM_CHAR, static_cast<unsigned char>(c), 1, SMTO_NORMAL, 5000, &ignored);
}

enum class Close { Ok, Cancel, Escape, OkWithoutSelection };

class TrackInfoDriver {
 public:
  TrackInfoDriver(Close close, std::string artist = "", std::string title = "", bool type = false, int waitMs = 10000,
                  HWND list = nullptr)
      : close_(close), artist_(std::move(artist)), title_(std::move(title)), type_(type), waitMs_(waitMs), list_(list) {
    thread_ = std::thread([this] { Run(); });
  }
  ~TrackInfoDriver() {
    stop_ = true;
    thread_.join();
  }
  bool Seen() const { return seen_; }
  bool Done() const { return done_; }
  std::string shownArtist, shownTitle;
  LRESULT artistLimit = 0, titleLimit = 0;
  bool stayedOpen = false;  // OK without a selection left the dialog open

 private:
  void Run() {
    HWND dialog = nullptr;
    for (int waited = 0; waited < waitMs_ && !stop_ && !dialog; waited += 10) {
      dialog = FindTrackInfoDialog();
      if (!dialog) Sleep(10);
    }
    if (!dialog) {
      done_ = true;
      return;
    }
    HWND artist = GetDlgItem(dialog, IDC_TRACK_ARTIST);
    HWND title = GetDlgItem(dialog, IDC_TRACK_TITLE);
    shownArtist = RemoteText(artist);
    shownTitle = RemoteText(title);
    DWORD_PTR result = 0;
    SendMessageTimeoutA(artist, EM_GETLIMITTEXT, 0, 0, SMTO_NORMAL, 5000, &result);
    artistLimit = static_cast<LRESULT>(result);
    SendMessageTimeoutA(title, EM_GETLIMITTEXT, 0, 0, SMTO_NORMAL, 5000, &result);
    titleLimit = static_cast<LRESULT>(result);
    if (type_) {
      RemoteType(artist, artist_);
      RemoteType(title, title_);
    }
    seen_ = true;
    DWORD_PTR ignored = 0;
    switch (close_) {
      case Close::Ok:
        SendMessageTimeoutA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                            reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)), SMTO_NORMAL, 5000, &ignored);
        break;
      case Close::Cancel:
        SendMessageTimeoutA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                            reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDCANCEL)), SMTO_NORMAL, 5000, &ignored);
        break;
      case Close::Escape:
        PostMessageA(artist, WM_KEYDOWN, VK_ESCAPE, 1);
        PostMessageA(artist, WM_KEYUP, VK_ESCAPE, 0xC0000001);
        break;
      case Close::OkWithoutSelection: {
        SendMessageTimeoutA(list_, LB_SETCURSEL, static_cast<WPARAM>(-1), 0, SMTO_NORMAL, 5000, &ignored);
        SendMessageTimeoutA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0, SMTO_NORMAL, 5000, &ignored);
        Sleep(200);
        stayedOpen = IsWindowVisible(dialog) != 0;
        SendMessageTimeoutA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0, SMTO_NORMAL, 5000, &ignored);
        break;
      }
    }
    done_ = true;
  }

  Close close_;
  std::string artist_, title_;
  bool type_;
  int waitMs_;
  HWND list_;  // the list whose selection OkWithoutSelection clears
  std::atomic<bool> stop_{false}, seen_{false}, done_{false};
  std::thread thread_;
};

// ---- a stand-in for the player: a window of its class answering the
// position query with a chosen reply ------------------------------------------

std::atomic<int32_t> playerReply{0};
std::atomic<int> playerQueries{0};
std::atomic<WPARAM> playerWParam{99};

LRESULT CALLBACK PlayerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_USER && lParam == 105) {
    ++playerQueries;
    playerWParam = wParam;
    return static_cast<LRESULT>(playerReply.load());
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

class FakePlayer {
 public:
  FakePlayer() {
    static bool registered = [] {
      WNDCLASSA windowClass = {};
      windowClass.lpfnWndProc = PlayerProc;
      windowClass.hInstance = GetModuleHandleA(nullptr);
      windowClass.lpszClassName = "Winamp v1.x";
      return RegisterClassA(&windowClass) != 0;
    }();
    EXPECT_TRUE(registered);
    window_ = CreateWindowA("Winamp v1.x", "Player", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                            GetModuleHandleA(nullptr), nullptr);
    EXPECT_NE(window_, nullptr);
    playerQueries = 0;
  }
  ~FakePlayer() { DestroyWindow(window_); }

 private:
  HWND window_ = nullptr;
};

// ---- allocation failures ------------------------------------------------------

std::atomic<int> allocationsLeft{0};
bool CountedAllocation() { return allocationsLeft-- > 0; }

class TrackMarksTest : public ::testing::Test {
 protected:
  void SetUp() override { baseline_ = LiveTrackMarks(); }
  void TearDown() override { SetTrackMarkAllocHook(nullptr); }

  HWND Page() const { return app_.Split(); }
  // Message boxes given the page as owner are owned by its top-level window.
  bool OwnedByPage(HWND owner) const { return owner && (owner == Page() || owner == GetAncestor(Page(), GA_ROOT)); }
  HWND List() const { return GetDlgItem(Page(), IDC_SPLIT_LIST); }
  Lines Listed() const { return ListLines(Page(), IDC_SPLIT_LIST); }
  long Marks() const { return LiveTrackMarks() - baseline_; }

  // Types a time into edit 1009 and presses Add Time.
  void Add(const std::string& time) {
    SetText(Page(), IDC_SPLIT_TIME, time);
    Click(Page(), IDC_SPLIT_ADD_TIME);
  }
  const TrackMark* Mark(int index) const {
    return reinterpret_cast<const TrackMark*>(ListItemData(Page(), IDC_SPLIT_LIST, index));
  }
  // Every line's text must be its mark's formatted time.
  void ExpectLinesMatchMarks() const {
    Lines lines = Listed();
    for (int i = 0; i < static_cast<int>(lines.size()); ++i) {
      const TrackMark* mark = Mark(i);
      ASSERT_NE(mark, nullptr) << lines[i];
      EXPECT_EQ(lines[i], mark->timeText);
      char expected[16];
      snprintf(expected, sizeof(expected), "%03d:%02d.%02d", mark->offset / 6000, mark->offset / 100 % 60,
               mark->offset % 100);
      EXPECT_EQ(lines[i], expected);
    }
  }
  // Opens the TrackInfoDialog with the given command and waits until it is
  // gone again.
  void RunTrackInfo(TrackInfoDriver& driver) {
    PostClick(Page(), IDC_SPLIT_NAMING);
    EXPECT_TRUE(PumpUntil([&] { return driver.Done(); }));
    EXPECT_TRUE(PumpUntil([] { return FindTrackInfoDialog() == nullptr; }));
  }

  AppWindow app_;
  long baseline_ = 0;
};

TEST_F(TrackMarksTest, TimesAreSortedBehindTheMarker) {
  Add("4:00");
  EXPECT_EQ(Listed(), (Lines{"000:00.00", "004:00.00"}));
  EXPECT_EQ(Text(Page(), IDC_SPLIT_TIME), "");
  EXPECT_EQ(GetFocus(), GetDlgItem(Page(), IDC_SPLIT_TIME));
  Add("10:00");
  Add("1:05.5");
  Add("1:5");
  Add("999:59.99");
  Add("0:00.01");
  EXPECT_EQ(Listed(),
            (Lines{"000:00.00", "000:00.01", "001:05.00", "001:05.05", "004:00.00", "010:00.00", "999:59.99"}));
  ExpectLinesMatchMarks();
  EXPECT_EQ(Mark(3)->offset, 6505);
  EXPECT_EQ(Mark(6)->offset, 5999999);
  EXPECT_EQ(Marks(), 7);
}

TEST_F(TrackMarksTest, ZeroOnAnEmptyListIsTheMarkerAlone) {
  Add("0:00");
  EXPECT_EQ(Listed(), (Lines{"000:00.00"}));
  EXPECT_EQ(Mark(0)->offset, 0);
  Add("0:00.00");
  EXPECT_EQ(Listed(), (Lines{"000:00.00"}));
  EXPECT_EQ(Text(Page(), IDC_SPLIT_TIME), "0:00.00");
  EXPECT_EQ(Marks(), 1);
}

TEST_F(TrackMarksTest, RefusedTextsChangeNothing) {
  Add("2:00");
  const Lines before = Listed();
  for (const char* text : {"2:00.00", "2:0", "1:60", "90", "", "abc", ":30", "1:", "+1:00", "-1:00", "1:-5", "1:+5",
                           "1:05.-1", "1000:00.00", " -0:10"}) {
    SetFocus(GetDlgItem(Page(), IDC_SPLIT_ADD_TIME));
    Add(text);
    EXPECT_EQ(Listed(), before) << text;
    EXPECT_EQ(Text(Page(), IDC_SPLIT_TIME), text) << text;
    EXPECT_NE(GetFocus(), GetDlgItem(Page(), IDC_SPLIT_TIME)) << text;
  }
  EXPECT_EQ(Marks(), 2);
}

TEST_F(TrackMarksTest, OnlyTheFirstNineCharactersCount) {
  Add("999:59.991234");
  Add("12:34.567");
  Add("1:02.03garbage");
  EXPECT_EQ(Listed(), (Lines{"000:00.00", "001:02.03", "012:34.56", "999:59.99"}));
  // A long text whose first nine characters do not scan is refused whole.
  std::string longText(300, '9');
  Add(longText);
  EXPECT_EQ(Listed().size(), 4u);
  EXPECT_EQ(Text(Page(), IDC_SPLIT_TIME), longText);
  ExpectLinesMatchMarks();
}

TEST_F(TrackMarksTest, MarkerIsRemovableOnlyLast) {
  Add("4:00");
  ListSelect(Page(), IDC_SPLIT_LIST, 0);
  Click(Page(), IDC_SPLIT_REMOVE);
  EXPECT_EQ(Listed(), (Lines{"000:00.00", "004:00.00"}));
  ListSelect(Page(), IDC_SPLIT_LIST, 1);
  Click(Page(), IDC_SPLIT_REMOVE);
  EXPECT_EQ(Listed(), (Lines{"000:00.00"}));
  EXPECT_EQ(ListSelection(Page(), IDC_SPLIT_LIST), -1);
  EXPECT_EQ(Marks(), 1);
  ListSelect(Page(), IDC_SPLIT_LIST, 0);
  Click(Page(), IDC_SPLIT_REMOVE);
  EXPECT_EQ(Listed(), Lines{});
  EXPECT_EQ(Marks(), 0);
  // A new time after that makes a new marker.
  Add("0:30");
  EXPECT_EQ(Listed(), (Lines{"000:00.00", "000:30.00"}));
}

TEST_F(TrackMarksTest, RemoveSelectsTheFollowingLine) {
  for (const char* t : {"1:00", "2:00", "3:00"}) Add(t);
  ListSelect(Page(), IDC_SPLIT_LIST, 1);
  Click(Page(), IDC_SPLIT_REMOVE);
  EXPECT_EQ(Listed(), (Lines{"000:00.00", "002:00.00", "003:00.00"}));
  EXPECT_EQ(ListSelection(Page(), IDC_SPLIT_LIST), 1);
  Click(Page(), IDC_SPLIT_REMOVE);
  EXPECT_EQ(ListSelection(Page(), IDC_SPLIT_LIST), 1);
  Click(Page(), IDC_SPLIT_REMOVE);  // the last line went: no selection is left
  EXPECT_EQ(Listed(), (Lines{"000:00.00"}));
  EXPECT_EQ(ListSelection(Page(), IDC_SPLIT_LIST), -1);
  Click(Page(), IDC_SPLIT_REMOVE);  // nothing selected: nothing happens
  EXPECT_EQ(Listed(), (Lines{"000:00.00"}));
  EXPECT_EQ(Marks(), 1);
  ExpectLinesMatchMarks();
}

TEST_F(TrackMarksTest, ClearListReleasesEveryMark) {
  for (const char* t : {"1:00", "2:00", "3:00", "0:30.5"}) Add(t);
  EXPECT_EQ(Marks(), 5);
  Click(Page(), IDC_SPLIT_CLEAR);
  EXPECT_EQ(Listed(), Lines{});
  EXPECT_EQ(Marks(), 0);
  Click(Page(), IDC_SPLIT_CLEAR);  // an empty list stays empty
  EXPECT_EQ(Marks(), 0);
  Add("5:00");
  EXPECT_EQ(Listed(), (Lines{"000:00.00", "005:00.00"}));
}

TEST_F(TrackMarksTest, MarkThatCannotBeAllocatedIsNotAdded) {
  Add("1:00");
  SetTrackMarkAllocHook(CountedAllocation);
  allocationsLeft = 0;
  Add("2:00");
  EXPECT_EQ(Listed(), (Lines{"000:00.00", "001:00.00"}));
  EXPECT_EQ(Text(Page(), IDC_SPLIT_TIME), "2:00");
  Click(Page(), IDC_SPLIT_CLEAR);
  // The time itself is allocated but its marker is not: nothing is left behind.
  allocationsLeft = 1;
  Add("3:00");
  EXPECT_EQ(Listed(), Lines{});
  EXPECT_EQ(Text(Page(), IDC_SPLIT_TIME), "3:00");
  EXPECT_EQ(Marks(), 0);
  allocationsLeft = 2;
  Add("3:00");
  EXPECT_EQ(Listed(), (Lines{"000:00.00", "003:00.00"}));
  EXPECT_EQ(Marks(), 2);
}

TEST_F(TrackMarksTest, TrackInfoOkStoresTheTexts) {
  Add("1:00");
  ListSelect(Page(), IDC_SPLIT_LIST, 1);
  {
    TrackInfoDriver driver(Close::Ok, "Band", "Song", true);
    RunTrackInfo(driver);
    EXPECT_TRUE(driver.Seen());
    EXPECT_EQ(driver.shownArtist, "");
    EXPECT_EQ(driver.shownTitle, "");
    EXPECT_EQ(driver.artistLimit, 100);
    EXPECT_EQ(driver.titleLimit, 100);
  }
  EXPECT_STREQ(Mark(1)->artist, "Band");
  EXPECT_STREQ(Mark(1)->title, "Song");
  EXPECT_STREQ(Mark(0)->artist, "");
  // Opened again, the dialog shows what the line holds.
  TrackInfoDriver again(Close::Cancel);
  RunTrackInfo(again);
  EXPECT_EQ(again.shownArtist, "Band");
  EXPECT_EQ(again.shownTitle, "Song");
}

TEST_F(TrackMarksTest, TrackInfoKeepsHundredCharacters) {
  Add("1:00");
  ListSelect(Page(), IDC_SPLIT_LIST, 0);
  std::string artist(100, 'a'), title(99, 't');
  artist[0] = 'A';
  title += "XYZ";  // 102 typed: the edit takes the first 100
  TrackInfoDriver driver(Close::Ok, artist, title, true);
  RunTrackInfo(driver);
  EXPECT_EQ(std::string(Mark(0)->artist), artist);
  EXPECT_EQ(std::string(Mark(0)->title), title.substr(0, 100));
  EXPECT_EQ(Mark(0)->offset, 0);
  EXPECT_STREQ(Mark(0)->timeText, "000:00.00");
}

TEST_F(TrackMarksTest, TrackInfoCancelAndEscapeChangeNothing) {
  Add("1:00");
  ListSelect(Page(), IDC_SPLIT_LIST, 1);
  {
    TrackInfoDriver driver(Close::Ok, "Old Artist", "Old Title", true);
    RunTrackInfo(driver);
  }
  for (Close close : {Close::Cancel, Close::Escape}) {
    ListSelect(Page(), IDC_SPLIT_LIST, 1);
    TrackInfoDriver driver(close, "New Artist", "New Title", true);
    RunTrackInfo(driver);
    EXPECT_TRUE(driver.Seen());
    EXPECT_STREQ(Mark(1)->artist, "Old Artist");
    EXPECT_STREQ(Mark(1)->title, "Old Title");
  }
}

TEST_F(TrackMarksTest, TrackInfoOkWithoutSelectionStaysOpen) {
  Add("1:00");
  ListSelect(Page(), IDC_SPLIT_LIST, 1);
  TrackInfoDriver driver(Close::OkWithoutSelection, "X", "Y", true, 10000, List());
  RunTrackInfo(driver);
  EXPECT_TRUE(driver.stayedOpen);
  EXPECT_STREQ(Mark(1)->artist, "");
  EXPECT_STREQ(Mark(0)->artist, "");
}

TEST_F(TrackMarksTest, NamingNeedsASelectedLine) {
  Add("1:00");
  ListSelect(Page(), IDC_SPLIT_LIST, -1);
  // Should a dialog open anyway, the guard closes it so that the test ends.
  TrackInfoDriver guard(Close::Cancel, "", "", false, 1500);
  PostClick(Page(), IDC_SPLIT_NAMING);
  PostMessageA(Page(), WM_COMMAND, MAKEWPARAM(IDC_SPLIT_LIST, LBN_DBLCLK), reinterpret_cast<LPARAM>(List()));
  // A single click on a line selects it and opens nothing.
  RECT line = {};
  SendMessageA(List(), LB_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&line));
  LPARAM at = MAKELPARAM(line.left + 3, line.top + 2);
  PostMessageA(List(), WM_LBUTTONDOWN, MK_LBUTTON, at);
  PostMessageA(List(), WM_LBUTTONUP, 0, at);
  EXPECT_TRUE(PumpUntil([&] { return guard.Done(); }));
  EXPECT_FALSE(guard.Seen());
  EXPECT_EQ(ListSelection(Page(), IDC_SPLIT_LIST), 1);
  EXPECT_EQ(Listed(), (Lines{"000:00.00", "001:00.00"}));
}

TEST_F(TrackMarksTest, DoubleClickOnALineOpensTrackInfo) {
  Add("1:00");
  RECT line = {};
  SendMessageA(List(), LB_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&line));
  LPARAM at = MAKELPARAM(line.left + 3, line.top + 2);
  TrackInfoDriver driver(Close::Ok, "Dbl", "Click", true);
  PostMessageA(List(), WM_LBUTTONDOWN, MK_LBUTTON, at);
  PostMessageA(List(), WM_LBUTTONUP, 0, at);
  PostMessageA(List(), WM_LBUTTONDBLCLK, MK_LBUTTON, at);
  PostMessageA(List(), WM_LBUTTONUP, 0, at);
  EXPECT_TRUE(PumpUntil([&] { return driver.Done(); }));
  EXPECT_TRUE(PumpUntil([] { return FindTrackInfoDialog() == nullptr; }));
  EXPECT_TRUE(driver.Seen());
  EXPECT_STREQ(Mark(1)->artist, "Dbl");
  EXPECT_STREQ(Mark(1)->title, "Click");
}

TEST_F(TrackMarksTest, PlayerPositionIsAddedExactly) {
  FakePlayer player;
  MessageBoxWatcher boxes;
  struct Case {
    int32_t ms;
    const char* line;
  };
  for (Case c : {Case{61000, "001:01.00"}, Case{1040, "000:01.04"}, Case{123456, "002:03.45"},
                 Case{59999990, "999:59.99"}, Case{1000, "000:01.00"}, Case{1009, "000:01.00"}}) {
    playerReply = c.ms;
    Click(Page(), IDC_SPLIT_GRAB_WINAMP);
    bool listed = false;
    for (const std::string& line : Listed()) listed = listed || line == c.line;
    EXPECT_TRUE(listed) << c.ms;
  }
  // 1009 ms is 1000 ms again: a duplicate, refused silently.
  EXPECT_EQ(Listed(), (Lines{"000:00.00", "000:01.00", "000:01.04", "001:01.00", "002:03.45", "999:59.99"}));
  EXPECT_EQ(playerQueries.load(), 6);
  EXPECT_EQ(playerWParam.load(), 0u);
  EXPECT_EQ(boxes.Count(), 0u);
  ExpectLinesMatchMarks();
  EXPECT_EQ(Marks(), 6);
}

TEST_F(TrackMarksTest, PlayerRepliesOutOfRangeAddNothing) {
  FakePlayer player;
  MessageBoxWatcher boxes;
  for (int32_t ms : {60000000, 60000010, INT32_MAX, -10, -1000, INT32_MIN}) {
    playerReply = ms;
    Click(Page(), IDC_SPLIT_GRAB_WINAMP);
    EXPECT_EQ(Listed(), Lines{}) << ms;
  }
  for (int32_t ms : {-9, -1, 0}) {
    Click(Page(), IDC_SPLIT_CLEAR);
    playerReply = ms;
    Click(Page(), IDC_SPLIT_GRAB_WINAMP);
    EXPECT_EQ(Listed(), (Lines{"000:00.00"})) << ms;
  }
  PumpFor(100);
  EXPECT_EQ(boxes.Count(), 0u);
  EXPECT_EQ(Marks(), 1);
}

TEST_F(TrackMarksTest, NoPlayerGivesTheWarning) {
  ASSERT_EQ(FindWindowA("Winamp v1.x", nullptr), nullptr);
  Add("1:00");
  MessageBoxWatcher boxes;
  Click(Page(), IDC_SPLIT_GRAB_WINAMP);
  ASSERT_TRUE(boxes.WaitForCount(1));
  CapturedBox box = boxes.Boxes()[0];
  EXPECT_EQ(box.caption, "MP3 Snipwise");
  EXPECT_EQ(box.text, kNoPlayer);
  EXPECT_EQ(box.icon, MB_ICONWARNING);
  EXPECT_TRUE(OwnedByPage(box.owner));
  EXPECT_EQ(box.buttons, std::vector<int>{IDOK});
  EXPECT_EQ(Listed(), (Lines{"000:00.00", "001:00.00"}));
  EXPECT_EQ(Marks(), 2);
}

}  // namespace
}  // namespace snip::gui
