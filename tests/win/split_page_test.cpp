// The real Split page: its start-up state, the source and folder choosers
// with the real common dialogs, the field help, Enter in the time edit, and
// CUE sheet import and export.
#include <windows.h>

#include <mmreg.h>
#include <mmsystem.h>
#include <msacm.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "app/file_io.h"
#include "app/win/page_run.h"
#include "split/time_text.h"
#include "split/win/open_source.h"
#include "resource_ids.h"
#include "split/win/track_marks.h"
#include "split/win/waveform_window.h"
#include "support/mpeg_frames.h"
#include "support/win/gui_kit.h"

namespace snip::gui {
namespace {

using Lines = std::vector<std::string>;
using test::TempDir;

const char kFieldInfo[] =
    "Possible fields that will be parsed are:\n\n%file%\t  Source file that is being split\n%track%\t  Current "
    "track number\n%artist%\t  Artist name\n%title%\t  Title of song\n\nThe '%artist%' and '%title%' fields are set "
    "when importing a .CUE file, or can be set manually by double clicking a track or selecting 'Track Naming'";
const char kOpenTitle[] = "Select An MP3 Source File";
const char kUnusableFile[] = "The file you chose was either invalid, corrupted, or could not be opened at this time.";
const char kImportTitle[] = "Import Track Times From .CUE File";
const char kExportTitle[] = "Export Track Times To .CUE File";
const char kCueUnreadable[] = "The .CUE file you chose could not be read.  Please choose another file.";
const char kNothingToExport[] = "There are no track times to export.  Please add a time first.";
const char kCueOverSource[] = "The .CUE file cannot be written over the source file.  Please choose another name.";
const char kCueWriteError[] = "There has been a file error while trying to export the track times.  Please try again.";

// A 128 kbit/s MPEG-1 Layer III file of the given number of frames.
std::string WriteSource(const TempDir& dir, const std::string& name, int frames = 100) {
  test::FrameShape shape;
  shape.bitrateIndex = 9;
  std::string path = dir.File(name);
  test::WriteBytes(path, test::MakeStream(shape, frames));
  return path;
}

void WriteText(const std::string& path, const std::string& text) {
  test::WriteBytes(path, std::vector<uint8_t>(text.begin(), text.end()));
}

std::string ReadText(const std::string& path) {
  std::vector<uint8_t> bytes = test::ReadBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

// Answers the save dialog's "replace the existing file?" question with Yes.
class ReplacePromptAnswerer {
 public:
  explicit ReplacePromptAnswerer(std::string title) : title_(std::move(title)) {
    thread_ = std::thread([this] { Run(); });
  }
  ~ReplacePromptAnswerer() {
    stop_ = true;
    thread_.join();
  }
  bool Answered() const { return answered_; }

 private:
  void Run() {
    while (!stop_ && !answered_) {
      struct Search {
        const std::string* title;
        HWND found;
      } search{&title_, nullptr};
      EnumWindows(
          [](HWND window, LPARAM data) -> BOOL {
            auto* s = reinterpret_cast<Search*>(data);
            DWORD process = 0;
            GetWindowThreadProcessId(window, &process);
            char caption[256] = {};
            GetWindowTextA(window, caption, sizeof(caption));
            if (process == GetCurrentProcessId() && IsWindowVisible(window) && *s->title == caption &&
                GetDlgItem(window, IDYES)) {
              s->found = window;
              return FALSE;
            }
            return TRUE;
          },
          reinterpret_cast<LPARAM>(&search));
      if (search.found) {
        PostMessageA(search.found, WM_COMMAND, MAKEWPARAM(IDYES, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(search.found, IDYES)));
        answered_ = true;
      } else {
        Sleep(20);
      }
    }
  }
  std::string title_;
  std::atomic<bool> stop_{false}, answered_{false};
  std::thread thread_;
};

class SplitPageTest : public ::testing::Test {
 protected:
  void SetUp() override { baseline_ = LiveTrackMarks(); }
  void TearDown() override {
    SetFileFaultHook(nullptr);
    SetTrackMarkAllocHook(nullptr);
  }

  HWND Page() const { return app_.Split(); }
  // Message boxes given the page as owner are owned by its top-level window.
  bool OwnedByPage(HWND owner) const { return owner && (owner == Page() || owner == GetAncestor(Page(), GA_ROOT)); }
  Lines Listed() const { return ListLines(Page(), IDC_SPLIT_LIST); }
  long Marks() const { return LiveTrackMarks() - baseline_; }
  const TrackMark* Mark(int index) const {
    return reinterpret_cast<const TrackMark*>(ListItemData(Page(), IDC_SPLIT_LIST, index));
  }
  void Add(const std::string& time) {
    SetText(Page(), IDC_SPLIT_TIME, time);
    Click(Page(), IDC_SPLIT_ADD_TIME);
  }
  // Names line index in the list directly, as the TrackInfoDialog would.
  void Name(int index, const char* artist, const char* title) {
    auto* mark = reinterpret_cast<TrackMark*>(ListItemData(Page(), IDC_SPLIT_LIST, index));
    ASSERT_NE(mark, nullptr);
    strcpy(mark->artist, artist);
    strcpy(mark->title, title);
  }
  // Presses a page button that opens a common dialog and lets the driver
  // answer it.
  template <typename Driver>
  void PressWithDialog(int id, Driver& driver) {
    PostClick(Page(), id);
    EXPECT_TRUE(driver.WaitDone(20000));
    PumpFor(100);
  }
  void ChooseSource(const std::string& path) {
    FileDialogDriver driver(kOpenTitle, {WinPath(path)});
    PressWithDialog(IDC_SPLIT_BROWSE, driver);
    EXPECT_TRUE(driver.Seen());
  }
  void Import(const std::string& path) {
    FileDialogDriver driver(kImportTitle, {WinPath(path)});
    PressWithDialog(IDC_SPLIT_CUE_IMPORT, driver);
    EXPECT_TRUE(driver.Seen());
  }
  void Export(const std::string& path) {
    FileDialogDriver driver(kExportTitle, {WinPath(path)});
    PressWithDialog(IDC_SPLIT_CUE_EXPORT, driver);
    EXPECT_TRUE(driver.Seen());
  }
  struct Line {
    std::string time, artist, title;
    bool operator==(const Line&) const = default;
    friend void PrintTo(const Line& line, std::ostream* out) {
      *out << "{" << line.time << ", \"" << line.artist << "\", \"" << line.title << "\"}";
    }
  };
  std::vector<Line> Contents() const {
    std::vector<Line> lines;
    Lines texts = Listed();
    for (int i = 0; i < static_cast<int>(texts.size()); ++i) {
      const TrackMark* mark = Mark(i);
      if (!mark) {
        ADD_FAILURE() << "line " << i << " has no mark";
        continue;
      }
      lines.push_back({texts[i], mark->artist, mark->title});
    }
    return lines;
  }

  AppWindow app_;
  TempDir dir_;
  long baseline_ = 0;
};

// ---- the page's own controls --------------------------------------------------

TEST_F(SplitPageTest, TemplateEditIsPresetAndTakesAtMost256Characters) {
  EXPECT_EQ(Text(Page(), IDC_SPLIT_TEMPLATE), "%file% - %track%");
  HWND edit = GetDlgItem(Page(), IDC_SPLIT_TEMPLATE);
  EXPECT_EQ(SendMessageA(edit, EM_GETLIMITTEXT, 0, 0), 256);
  SendMessageA(edit, EM_SETSEL, 0, -1);
  for (int i = 0; i < 300; ++i) SendMessageA(edit, WM_CHAR, 'a' + i % 26, 1);
  EXPECT_EQ(Text(edit).size(), 256u);
  EXPECT_EQ(Text(Page(), IDC_SPLIT_BITRATE), "Bit Rate: No File Chosen");
  EXPECT_EQ(Text(Page(), IDC_SPLIT_STATUS), "Status: Idle");
  EXPECT_EQ(Listed(), Lines{});
}

TEST_F(SplitPageTest, FieldInfoShowsTheFieldsWithoutIcon) {
  MessageBoxWatcher boxes;
  Click(Page(), IDC_SPLIT_FIELD_INFO);
  ASSERT_TRUE(boxes.WaitForCount(1));
  CapturedBox box = boxes.Boxes()[0];
  EXPECT_EQ(box.caption, "MP3 Snipwise");
  EXPECT_EQ(box.text, kFieldInfo);
  EXPECT_EQ(box.icon, 0);
  EXPECT_TRUE(OwnedByPage(box.owner));
  EXPECT_EQ(box.buttons, std::vector<int>{IDOK});
  EXPECT_EQ(Text(Page(), IDC_SPLIT_TEMPLATE), "%file% - %track%");
}

TEST_F(SplitPageTest, EnterInTheTimeEditAddsTheTime) {
  HWND edit = GetDlgItem(Page(), IDC_SPLIT_TIME);
  SetText(Page(), IDC_SPLIT_TIME, "2:30");
  SetFocus(edit);
  PressKey(edit, VK_RETURN);
  PumpFor(50);
  EXPECT_EQ(Listed(), (Lines{"000:00.00", "002:30.00"}));
  EXPECT_EQ(Text(edit), "");
  SetText(Page(), IDC_SPLIT_TIME, "1:75");
  PressKey(edit, VK_RETURN);
  PumpFor(50);
  EXPECT_EQ(Listed(), (Lines{"000:00.00", "002:30.00"}));
  EXPECT_EQ(Text(edit), "1:75");
  // Escape leaves the page as it is.
  PressKey(edit, VK_ESCAPE);
  PumpFor(50);
  EXPECT_TRUE(IsWindow(Page()));
  EXPECT_TRUE(IsVisible(Page()));
}

// ---- the source chooser ----------------------------------------------------------

TEST_F(SplitPageTest, ChosenSourceIsShownAndEmptiesTheList) {
  std::string source = WriteSource(dir_, "first.mp3");
  for (const char* t : {"1:00", "2:00"}) Add(t);
  ASSERT_EQ(Marks(), 3);
  ChooseSource(source);
  EXPECT_EQ(Text(Page(), IDC_SPLIT_SOURCE), WinPath(source));
  EXPECT_EQ(Text(Page(), IDC_SPLIT_BITRATE), "Bit Rate: 128 kbps");
  EXPECT_EQ(Listed(), Lines{});
  EXPECT_EQ(Marks(), 0);
}

TEST_F(SplitPageTest, EncoderOutputIsAccepted) {
  std::string corpus = test::CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "no encoder corpus";
  std::string source = WinPath(corpus + "mpeg1-320.mp3");
  for (char& c : source) c = c == '/' ? '\\' : c;  // as the dialog is typed into
  ChooseSource(source);
  EXPECT_EQ(Text(Page(), IDC_SPLIT_SOURCE), source);
  EXPECT_EQ(Text(Page(), IDC_SPLIT_BITRATE), "Bit Rate: 320 kbps");
}

TEST_F(SplitPageTest, RefusedSourceKeepsTheOldOneButEmptiesTheList) {
  std::string good = WriteSource(dir_, "good.mp3");
  std::string bad = dir_.File("bad.mp3");
  test::WriteBytes(bad, test::MakeJunk(5000));
  ChooseSource(good);
  Add("1:00");
  MessageBoxWatcher boxes;
  ChooseSource(bad);
  ASSERT_TRUE(boxes.WaitForCount(1));
  EXPECT_EQ(boxes.Boxes()[0].text, kUnusableFile);
  EXPECT_EQ(Text(Page(), IDC_SPLIT_SOURCE), WinPath(good));
  EXPECT_EQ(Text(Page(), IDC_SPLIT_BITRATE), "Bit Rate: 128 kbps");
  EXPECT_EQ(Listed(), Lines{});
  EXPECT_EQ(Marks(), 0);
}

TEST_F(SplitPageTest, CancelledSourceChooserChangesNothing) {
  std::string good = WriteSource(dir_, "good.mp3");
  ChooseSource(good);
  Add("1:00");
  MessageBoxWatcher boxes;
  FileDialogDriver driver(kOpenTitle, {}, true);
  PressWithDialog(IDC_SPLIT_BROWSE, driver);
  EXPECT_TRUE(driver.Seen());
  EXPECT_EQ(Text(Page(), IDC_SPLIT_SOURCE), WinPath(good));
  EXPECT_EQ(Text(Page(), IDC_SPLIT_BITRATE), "Bit Rate: 128 kbps");
  EXPECT_EQ(Listed(), (Lines{"000:00.00", "001:00.00"}));
  EXPECT_EQ(boxes.Count(), 0u);
}

TEST_F(SplitPageTest, CreateTracksStartsTheRun) {
  std::string source = WriteSource(dir_, "Night Set.mp3", 400);  // about 10.4 s
  ChooseSource(source);
  Add("0:05");
  SetText(Page(), IDC_SPLIT_FOLDER, WinPath(dir_.Path()));
  MessageBoxWatcher boxes;
  Click(Page(), IDC_SPLIT_ACTION);
  ASSERT_TRUE(boxes.WaitForCount(1, 30000));
  EXPECT_EQ(boxes.Boxes()[0].text, "Track creation completed successfully.");
  EXPECT_TRUE(test::FileExists(dir_.File("Night Set - 01.mp3")));
  EXPECT_TRUE(test::FileExists(dir_.File("Night Set - 02.mp3")));
  EXPECT_FALSE(test::FileExists(dir_.File("Night Set - 03.mp3")));
  EXPECT_EQ(Listed(), (Lines{"000:00.00", "000:05.00"}));
}

// ---- the folder chooser -------------------------------------------------------------

// Chooses path in the real folder browser. The browser fills its tree after
// it shows, and a selection made before a deep folder is in the tree falls
// back to the desktop: a few tries make the test independent of that timing.
void ChooseFolder(HWND page, const std::string& path, const std::string& expected) {
  for (int attempt = 0; attempt < 4; ++attempt) {
    FolderDialogDriver driver(path);
    PostClick(page, IDC_SPLIT_CHOOSE_FOLDER);
    EXPECT_TRUE(driver.WaitDone(20000));
    EXPECT_TRUE(driver.Seen());
    PumpFor(100);
    if (Text(page, IDC_SPLIT_FOLDER) == expected) return;
  }
}

TEST_F(SplitPageTest, ChosenFolderEndsInOneBackslash) {
  std::string folder = WinPath(dir_.Path());
  while (!folder.empty() && folder.back() == '\\') folder.pop_back();
  ChooseFolder(Page(), folder, folder + "\\");
  EXPECT_EQ(Text(Page(), IDC_SPLIT_FOLDER), folder + "\\");
  ChooseFolder(Page(), "C:\\", "C:\\");
  EXPECT_EQ(Text(Page(), IDC_SPLIT_FOLDER), "C:\\");
  {
    FolderDialogDriver driver("", true);
    PressWithDialog(IDC_SPLIT_CHOOSE_FOLDER, driver);
    EXPECT_TRUE(driver.Seen());
  }
  EXPECT_EQ(Text(Page(), IDC_SPLIT_FOLDER), "C:\\");
}

// ---- CUE sheets ---------------------------------------------------------------------

TEST_F(SplitPageTest, ImportReplacesTheListWithTheSheetsTracks) {
  Add("7:00");
  std::string sheet = dir_.File("mix.cue");
  WriteText(sheet,
            "\xEF\xBB\xBFREM GENRE Electronic\r\n"
            "PERFORMER \"Various\"\r\n"
            "TITLE \"The Mix\"\r\n"
            "FILE \"mix.mp3\" MP3\r\n"
            "  TRACK 01 AUDIO\r\n"
            "    TITLE \"Opening\"\r\n"
            "    PERFORMER \"First Band\"\r\n"
            "    INDEX 01 00:00:00\r\n"
            "  TRACK 02 AUDIO\r\n"
            "    TITLE \"Second Song\"\r\n"
            "    INDEX 00 03:13:00\r\n"
            "    INDEX 01 03:15:74\r\n"
            "  TRACK 03 AUDIO\r\n"
            "    TITLE Bare\r\n"
            "    PERFORMER Solo\r\n"
            "    INDEX 01 120:00:40\r\n");
  Import(sheet);
  EXPECT_EQ(Contents(), (std::vector<Line>{{"000:00.00", "First Band", "Opening"},
                                           {"003:15.98", "Various", "Second Song"},
                                           {"120:00.53", "Solo", "Bare"}}));
  EXPECT_EQ(Marks(), 3);
}

TEST_F(SplitPageTest, ImportMakesTheMarkerWhenTheFirstTrackStartsLater) {
  std::string sheet = dir_.File("late.cue");
  WriteText(sheet,
            "FILE \"late.mp3\" MP3\n"
            "TRACK 01 AUDIO\n"
            "  PERFORMER \"A\"\n"
            "  TITLE \"One\"\n"
            "  INDEX 01 00:30:00\n"
            "TRACK 02 AUDIO\n"
            "  PERFORMER \"B\"\n"
            "  TITLE \"Two\"\n"
            "  INDEX 01 01:00:00\n");
  Import(sheet);
  EXPECT_EQ(Contents(),
            (std::vector<Line>{{"000:00.00", "", ""}, {"000:30.00", "A", "One"}, {"001:00.00", "B", "Two"}}));
  EXPECT_EQ(Marks(), 3);
}

std::atomic<int> allocationsLeft{0};
bool CountedAllocation() { return allocationsLeft-- > 0; }

TEST_F(SplitPageTest, ImportWithoutMemoryLeavesTheList) {
  Add("1:00");
  std::string sheet = dir_.File("three.cue");
  WriteText(sheet,
            "FILE \"x.mp3\" MP3\nTRACK 01 AUDIO\n  INDEX 01 00:00:00\nTRACK 02 AUDIO\n  INDEX 01 01:00:00\n"
            "TRACK 03 AUDIO\n  INDEX 01 02:00:00\n");
  allocationsLeft = 2;
  SetTrackMarkAllocHook(CountedAllocation);
  Import(sheet);
  SetTrackMarkAllocHook(nullptr);
  EXPECT_EQ(Listed(), (Lines{"000:00.00", "001:00.00"}));
  EXPECT_EQ(Marks(), 2);
  Import(sheet);
  EXPECT_EQ(Listed(), (Lines{"000:00.00", "001:00.00", "002:00.00"}));
  EXPECT_EQ(Marks(), 3);
}

TEST_F(SplitPageTest, RefusedSheetLeavesTheList) {
  Add("1:00");
  Name(1, "Kept", "Line");
  const auto before = Contents();
  struct Case {
    const char* sheet;
    const char* lineNumber;
  };
  for (Case c : {Case{"FILE \"x.mp3\" MP3\nREM nothing here\n", nullptr},
                 Case{"FILE \"x.mp3\" MP3\nTRACK 01 AUDIO\n  INDEX 01 00:xx:00\n", "3"}}) {
    std::string sheet = dir_.File("bad.cue");
    WriteText(sheet, c.sheet);
    MessageBoxWatcher boxes;
    Import(sheet);
    ASSERT_TRUE(boxes.WaitForCount(1)) << c.sheet;
    CapturedBox box = boxes.Boxes()[0];
    EXPECT_EQ(box.caption, "MP3 Snipwise");
    EXPECT_EQ(box.icon, MB_ICONWARNING);
    EXPECT_TRUE(OwnedByPage(box.owner));
    EXPECT_FALSE(box.text.empty());
    if (c.lineNumber) {
      EXPECT_NE(box.text.find(c.lineNumber), std::string::npos) << box.text;
    }
    EXPECT_EQ(Contents(), before);
  }
  EXPECT_EQ(Marks(), 2);
}

TEST_F(SplitPageTest, OversizedSheetIsRefused) {
  Add("1:00");
  std::string sheet = dir_.File("huge.cue");
  std::string text = "FILE \"x.mp3\" MP3\nTRACK 01 AUDIO\n  INDEX 01 00:00:00\n";
  text += std::string(2 << 20, ' ');
  WriteText(sheet, text);
  MessageBoxWatcher boxes;
  Import(sheet);
  ASSERT_TRUE(boxes.WaitForCount(1));
  EXPECT_EQ(boxes.Boxes()[0].text, kCueUnreadable);
  EXPECT_EQ(boxes.Boxes()[0].icon, MB_ICONWARNING);
  EXPECT_EQ(Listed(), (Lines{"000:00.00", "001:00.00"}));
}

TEST_F(SplitPageTest, CancelledImportChangesNothing) {
  Add("1:00");
  FileDialogDriver driver(kImportTitle, {}, true);
  PressWithDialog(IDC_SPLIT_CUE_IMPORT, driver);
  EXPECT_TRUE(driver.Seen());
  EXPECT_EQ(Listed(), (Lines{"000:00.00", "001:00.00"}));
}

TEST_F(SplitPageTest, ExportThenImportGivesTheSameList) {
  std::string source = WriteSource(dir_, "Night Set.mp3");
  ASSERT_TRUE(OpenSource(Page(), WinPath(source).c_str()));
  for (const char* t : {"3:15.98", "10:00", "999:59.99", "0:00.01"}) Add(t);
  Name(0, "Opening Act", "Intro");
  Name(2, "Band", "Song (Live)");
  Name(4, "", "Only A Title");
  const auto before = Contents();
  ASSERT_EQ(before.size(), 5u);

  Export(dir_.File("times"));  // the default extension is added
  std::string written = dir_.File("times.cue");
  ASSERT_TRUE(test::FileExists(written));
  std::string text = ReadText(written);
  EXPECT_NE(text.find("Night Set.mp3"), std::string::npos) << text;
  EXPECT_EQ(text.find(WinPath(dir_.Path())), std::string::npos) << "the sheet names the file, not its folder";
  EXPECT_EQ(Contents(), before);

  Click(Page(), IDC_SPLIT_CLEAR);
  ASSERT_EQ(Marks(), 0);
  Import(written);
  EXPECT_EQ(Contents(), before);
}

TEST_F(SplitPageTest, ExportOfAnEmptyListIsRefused) {
  MessageBoxWatcher boxes;
  PostClick(Page(), IDC_SPLIT_CUE_EXPORT);
  ASSERT_TRUE(boxes.WaitForCount(1));
  CapturedBox box = boxes.Boxes()[0];
  EXPECT_EQ(box.text, kNothingToExport);
  EXPECT_EQ(box.icon, MB_ICONWARNING);
  EXPECT_TRUE(OwnedByPage(box.owner));
}

TEST_F(SplitPageTest, ExportNeverWritesOverTheSource) {
  std::string source = WriteSource(dir_, "source.mp3");
  ASSERT_TRUE(OpenSource(Page(), WinPath(source).c_str()));
  const std::vector<uint8_t> bytes = test::ReadBytes(source);
  Add("1:00");
  MessageBoxWatcher boxes;
  ReplacePromptAnswerer yes(kExportTitle);
  Export(source);
  ASSERT_TRUE(boxes.WaitForCount(1));
  EXPECT_EQ(boxes.Boxes()[0].text, kCueOverSource);
  EXPECT_EQ(boxes.Boxes()[0].icon, MB_ICONWARNING);
  EXPECT_EQ(test::ReadBytes(source), bytes);
}

TEST_F(SplitPageTest, FailedExportWriteIsReported) {
  Add("1:00");
  SetFileFaultHook([](FileOp op, const std::string&, int64_t, size_t n) -> int64_t {
    return op == FileOp::Write ? -1 : static_cast<int64_t>(n);
  });
  MessageBoxWatcher boxes;
  Export(dir_.File("fails.cue"));
  ASSERT_TRUE(boxes.WaitForCount(1));
  EXPECT_EQ(boxes.Boxes()[0].text, kCueWriteError);
  EXPECT_EQ(boxes.Boxes()[0].icon, MB_ICONWARNING);
  EXPECT_FALSE(test::FileExists(dir_.File("fails.cue")));
  SetFileFaultHook(nullptr);
  // A short write is a failure as well.
  SetFileFaultHook([](FileOp op, const std::string&, int64_t, size_t n) -> int64_t {
    return op == FileOp::Write && n > 1 ? static_cast<int64_t>(n / 2) : static_cast<int64_t>(n);
  });
  Export(dir_.File("short.cue"));
  ASSERT_TRUE(boxes.WaitForCount(2));
  EXPECT_EQ(boxes.Boxes()[1].text, kCueWriteError);
  EXPECT_FALSE(test::FileExists(dir_.File("short.cue")));
}

// ---- files dropped from Explorer ------------------------------------------------

TEST_F(SplitPageTest, DroppedSourceAndSheetAreTakenAsBrowseAndImportTakeThem) {
  std::string source = WriteSource(dir_, "set.mp3");
  std::string sheet = dir_.File("set.cue");
  WriteText(sheet,
            "FILE \"set.mp3\" MP3\r\n"
            "  TRACK 01 AUDIO\r\n    TITLE \"Intro\"\r\n    INDEX 01 00:00:00\r\n"
            "  TRACK 02 AUDIO\r\n    TITLE \"Drop\"\r\n    INDEX 01 01:30:00\r\n");
  Add("7:00");
  Add("8:00");
  ASSERT_EQ(Listed().size(), 3u);
  // The sheet comes first and a folder with them: the source still empties
  // the list before the sheet fills it, and the folder is left alone.
  PostDrop(Page(), {WinPath(sheet), WinPath(dir_.Path()), WinPath(source)});
  ASSERT_TRUE(PumpUntil([&] { return Text(Page(), IDC_SPLIT_SOURCE) == WinPath(source); }, 20000));
  EXPECT_EQ(Text(Page(), IDC_SPLIT_BITRATE), "Bit Rate: 128 kbps");
  EXPECT_EQ(Contents(), (std::vector<Line>{{"000:00.00", "", "Intro"}, {"001:30.00", "", "Drop"}}));

  // A file that is no MP3 is refused as Browse refuses it.
  std::string bad = dir_.File("notes.mp3");
  test::WriteBytes(bad, test::MakeJunk(5000));
  MessageBoxWatcher boxes;
  PostDrop(Page(), {WinPath(bad)});
  ASSERT_TRUE(boxes.WaitForCount(1));
  EXPECT_EQ(boxes.Boxes()[0].text, kUnusableFile);
  EXPECT_EQ(Text(Page(), IDC_SPLIT_SOURCE), WinPath(source));
}

// ---- finding the silences -------------------------------------------------------

// Seconds of a line of the list.
double LineSeconds(const std::string& line) {
  int minutes = 0, seconds = 0, hundredths = 0;
  EXPECT_EQ(std::sscanf(line.c_str(), "%d:%d.%d", &minutes, &seconds, &hundredths), 3) << line;
  return minutes * 60 + seconds + hundredths / 100.0;
}

// The system's MPEG Layer-3 codecs switched off while it lives, as on a
// system stripped of them.
class Mp3CodecsOff {
 public:
  Mp3CodecsOff() {
    acmDriverEnum(
        [](HACMDRIVERID id, DWORD_PTR self, DWORD) -> BOOL {
          HACMDRIVER driver = nullptr;
          if (acmDriverOpen(&driver, id, 0) != 0) return TRUE;
          ACMFORMATTAGDETAILSA details = {};
          details.cbStruct = sizeof(details);
          details.dwFormatTag = WAVE_FORMAT_MPEGLAYER3;
          bool decodes = acmFormatTagDetailsA(driver, &details, ACM_FORMATTAGDETAILSF_FORMATTAG) == 0;
          acmDriverClose(driver, 0);
          if (decodes && acmDriverPriority(id, 0, ACM_DRIVERPRIORITYF_DISABLE) == 0) {
            reinterpret_cast<Mp3CodecsOff*>(self)->off_.push_back(id);
          }
          return TRUE;
        },
        reinterpret_cast<DWORD_PTR>(this), 0);
  }
  ~Mp3CodecsOff() {
    for (HACMDRIVERID id : off_) acmDriverPriority(id, 0, ACM_DRIVERPRIORITYF_ENABLE);
  }
  size_t Count() const { return off_.size(); }

 private:
  std::vector<HACMDRIVERID> off_;
};

TEST_F(SplitPageTest, FindSilencesAddsAMarkInEachPause) {
  std::string corpus = test::CorpusDir();
  if (corpus.empty() || !test::FileExists(corpus + "pauses-cbr.mp3")) GTEST_SKIP() << "no corpus";
  MessageBoxWatcher boxes;
  Click(Page(), IDC_SPLIT_FIND_SILENCES);
  ASSERT_TRUE(boxes.WaitForCount(1));
  EXPECT_EQ(boxes.Boxes()[0].text, "Please choose a source file and a destination name before you continue.");

  std::string source = WinPath(corpus + "pauses-cbr.mp3");
  for (char& c : source) c = c == '/' ? '\\' : c;  // as the dialog is typed into
  ChooseSource(source);
  ASSERT_TRUE(PumpUntil([&] { return !PageRunActive(Page()) && !Text(Page(), IDC_SPLIT_SOURCE).empty(); }));
  Add("0:02");
  SetText(Page(), IDC_SPLIT_TIME, "0:09");  // typed, not added: it stays
  // Finds the silences with the given minimum length in the dialog, which
  // first refuses a length that is no number and stays open.
  auto find = [&](const std::string& minimum) {
    size_t before = boxes.Count();
    DialogDriver driver("Find Silences", [&](HWND dialog) {
      SetText(dialog, IDC_SILENCE_MIN, "1 s");
      PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
      for (int i = 0; i < 500 && boxes.Count() == before; ++i) Sleep(10);
      SetText(dialog, IDC_SILENCE_MIN, minimum);
      PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    });
    PostClick(Page(), IDC_SPLIT_FIND_SILENCES);
    EXPECT_TRUE(driver.WaitDone(20000));
    EXPECT_TRUE(PumpUntil([&] { return !PageRunActive(Page()); }, 60000));
    ASSERT_GT(boxes.Count(), before);
    EXPECT_EQ(boxes.Boxes()[before].text,
              "Please give the threshold in dBFS, from -120 to 0, and the minimum length in seconds, from 0.05 to "
              "3600.");
  };
  find("1.0");
  Lines lines = Listed();
  ASSERT_EQ(lines.size(), 4u) << ::testing::PrintToString(lines);
  EXPECT_EQ(lines[0], "000:00.00");
  EXPECT_EQ(lines[1], "000:02.00");
  EXPECT_GT(LineSeconds(lines[2]), 5.5);
  EXPECT_LT(LineSeconds(lines[2]), 7.5);
  EXPECT_GT(LineSeconds(lines[3]), 11.5);
  EXPECT_LT(LineSeconds(lines[3]), 14.0);
  EXPECT_EQ(Text(Page(), IDC_SPLIT_TIME), "0:09");
  EXPECT_EQ(boxes.Count(), 2u);

  // The same search again adds no line twice; one for pauses longer than
  // any says that it found none and leaves the list.
  find("1");
  EXPECT_EQ(Listed(), lines);
  find("3.5");
  EXPECT_EQ(Listed(), lines);
  ASSERT_EQ(boxes.Count(), 5u);
  EXPECT_EQ(boxes.Boxes()[4].text,
            "No silences were found.  A higher threshold or a shorter minimum length may find some.");
  EXPECT_EQ(boxes.Boxes()[4].icon, MB_ICONINFORMATION);

  // Without a codec the page says so and the list stays as it was.
  Mp3CodecsOff off;
  ASSERT_GT(off.Count(), 0u);
  find("1");
  EXPECT_EQ(Listed(), lines);
  ASSERT_EQ(boxes.Count(), 7u);
  EXPECT_EQ(boxes.Boxes()[6].text,
            "The MP3 decoder of this system could not be loaded, so no silences can be found.");
  EXPECT_EQ(boxes.Boxes()[6].icon, MB_ICONWARNING);
}

// ---- the waveform -----------------------------------------------------------------

// The waveform view as it draws itself, one pixel (0xRRGGBB) a cell.
struct Picture {
  int width = 0, height = 0;
  std::vector<uint32_t> pixels;
  uint32_t At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

Picture Draw(HWND view) {
  RECT area;
  GetClientRect(view, &area);
  Picture picture;
  picture.width = area.right;
  picture.height = area.bottom;
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = picture.width;
  info.bmiHeader.biHeight = -picture.height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HDC dc = CreateCompatibleDC(nullptr);
  HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(dc, bitmap);
  SendMessageA(view, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
  GdiFlush();
  const auto* cells = static_cast<const uint32_t*>(bits);
  picture.pixels.assign(cells, cells + static_cast<size_t>(picture.width) * picture.height);
  for (uint32_t& cell : picture.pixels) cell &= 0xFFFFFF;
  SelectObject(dc, old);
  DeleteObject(bitmap);
  DeleteDC(dc);
  return picture;
}

// Cells of column x of the wave (below the ruler) that are red (the mark
// lines), or else blue (the wave), the centre line left out.
int Cells(const Picture& picture, int x, bool red) {
  int top = WaveformRulerHeight(), centre = (top + picture.height) / 2, count = 0;
  for (int y = top; y < picture.height; ++y) {
    if (std::abs(y - centre) <= 1) continue;
    uint32_t cell = picture.At(x, y);
    int r = cell >> 16 & 0xFF, g = cell >> 8 & 0xFF, b = cell & 0xFF;
    if (red ? (r > 150 && g < 100 && b < 100) : (b > r + 60)) ++count;
  }
  return count;
}

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

TEST_F(SplitPageTest, WaveformShowsTheLoudnessAndTheMarksAndMovesThem) {
  std::string corpus = test::CorpusDir();
  if (corpus.empty() || !test::FileExists(corpus + "pauses-cbr.mp3")) GTEST_SKIP() << "no corpus";
  std::string source = WinPath(corpus + "pauses-cbr.mp3");
  for (char& c : source) c = c == '/' ? '\\' : c;  // as the dialog is typed into
  ChooseSource(source);
  ASSERT_TRUE(PumpUntil([&] { return !PageRunActive(Page()) && !Text(Page(), IDC_SPLIT_SOURCE).empty(); }));
  // The silences found first are shaded in the picture.
  {
    DialogDriver driver("Find Silences",
                        [](HWND dialog) { PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0); });
    PostClick(Page(), IDC_SPLIT_FIND_SILENCES);
    ASSERT_TRUE(driver.WaitDone(20000));
    ASSERT_TRUE(PumpUntil([&] { return !PageRunActive(Page()); }, 60000));
  }
  ASSERT_EQ(Listed().size(), 3u);
  Add("0:06.80");
  Click(Page(), IDC_SPLIT_WAVEFORM);
  HWND wave = WaveformWindow();
  ASSERT_NE(wave, nullptr);
  ASSERT_TRUE(PumpUntil([] { return WaveformReady(); }, 30000));
  HWND view = GetDlgItem(wave, IDC_WAVE_VIEW);
  int height = 0;
  {
    Picture picture = Draw(view);
    height = picture.height - WaveformRulerHeight();
    // Inside the pauses (digital silence, then hiss at -70 dBFS) the wave
    // keeps to the centre line; in the songs it does not.
    for (int32_t quiet : {600, 700, 1200, 1350}) EXPECT_LE(Cells(picture, WaveformColumnOf(quiet), false), 2) << quiet;
    for (int32_t loud : {300, 1000, 1550, 1800}) EXPECT_GE(Cells(picture, WaveformColumnOf(loud), false), 10) << loud;
    // The mark's line, and none where there is no mark.
    EXPECT_GE(Cells(picture, WaveformColumnOf(680), true), height / 2);
    EXPECT_EQ(Cells(picture, WaveformColumnOf(1000), true), 0);
    // Shade in the silences, none in the music.
    int below = WaveformRulerHeight() + 2;
    for (int32_t quiet : {600, 1300}) EXPECT_NE(picture.At(WaveformColumnOf(quiet), below), 0xFFFFFFu) << quiet;
    for (int32_t loud : {300, 1000}) EXPECT_EQ(picture.At(WaveformColumnOf(loud), below), 0xFFFFFFu) << loud;
  }

  // A click sets the cursor; Add Mark adds its time by the list's rules.
  int x = WaveformColumnOf(1500);
  SendMessageA(view, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, 40));
  SendMessageA(view, WM_LBUTTONUP, 0, MAKELPARAM(x, 40));
  char cursor[32] = {};
  FormatTimeText(WaveformTimeAt(x), cursor, sizeof(cursor));
  EXPECT_EQ(Text(wave, IDC_WAVE_CURSOR), std::string("Cursor: ") + cursor);
  EXPECT_NEAR(WaveformTimeAt(x), 1500, 10);
  Click(wave, IDC_WAVE_ADD_MARK);
  Click(wave, IDC_WAVE_ADD_MARK);  // the same time again: no second line
  EXPECT_EQ(Listed().size(), 5u);
  EXPECT_TRUE(Contains(Listed(), cursor));

  // Dragging a mark's line moves the mark.
  int from = WaveformColumnOf(680), to = WaveformColumnOf(720);
  SendMessageA(view, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(from, 40));
  SendMessageA(view, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(to, 40));
  SendMessageA(view, WM_LBUTTONUP, 0, MAKELPARAM(to, 40));
  char moved[32] = {};
  FormatTimeText(WaveformTimeAt(to), moved, sizeof(moved));
  EXPECT_TRUE(Contains(Listed(), moved));
  EXPECT_FALSE(Contains(Listed(), "000:06.80"));
  EXPECT_EQ(Listed().size(), 5u);
  EXPECT_GE(Cells(Draw(view), to, true), height / 2);

  // Zoomed in around the cursor, selecting a line of the list brings its
  // mark into view.
  x = WaveformColumnOf(300);
  SendMessageA(view, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, 40));
  SendMessageA(view, WM_LBUTTONUP, 0, MAKELPARAM(x, 40));
  for (int i = 0; i < 4; ++i) Click(wave, IDC_WAVE_ZOOM_IN);
  EXPECT_NEAR(WaveformColumnOf(300), x, 2);
  RECT area;
  GetClientRect(view, &area);
  EXPECT_FALSE(WaveformColumnOf(1500) >= 0 && WaveformColumnOf(1500) < area.right);
  Lines now = Listed();
  ListSelect(Page(), IDC_SPLIT_LIST, static_cast<int>(std::find(now.begin(), now.end(), cursor) - now.begin()));
  SendMessageA(Page(), WM_COMMAND, MAKEWPARAM(IDC_SPLIT_LIST, LBN_SELCHANGE),
               reinterpret_cast<LPARAM>(GetDlgItem(Page(), IDC_SPLIT_LIST)));
  EXPECT_GE(WaveformColumnOf(1500), 0);
  EXPECT_LT(WaveformColumnOf(1500), area.right);

  // The list emptied shows at once; Escape closes the window.
  Click(Page(), IDC_SPLIT_CLEAR);
  EXPECT_EQ(Cells(Draw(view), WaveformColumnOf(1500), true), 0);
  PressKey(view, VK_ESCAPE);
  PumpFor(50);
  EXPECT_EQ(WaveformWindow(), nullptr);
}

}  // namespace
}  // namespace snip::gui
