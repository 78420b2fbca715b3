// The split run through the real Split page: start, the running state, halt,
// refusals and file errors, and the tracks written, compared with the engine
// run on the same job.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>

#include "app/file_io.h"
#include "app/property_list.h"
#include "mpeg/lame_tag.h"
#include "mpeg/source_scan.h"
#include "split/win/open_source.h"
#include "support/messages.h"
#include "support/mpeg_frames.h"
#include "resource_ids.h"
#include "split/split_engine.h"
#include "split/win/track_marks.h"
#include "tags/id3v2.h"
#include "support/win/gui_kit.h"

namespace {

using snip::test::kSplitCancelled;
using snip::test::kSplitCompleted;
using snip::test::kSplitFileError;

using namespace snip::gui;
using snip::test::TempDir;

using Files = std::map<std::string, std::vector<uint8_t>>;

constexpr int kFrameBytes = 417;        // 128 kbit/s, 44.1 kHz, no padding
constexpr int kBytesPerSecond = 16000;  // 160 bytes per hundredth

Files FilesIn(const std::string& dir) {
  Files files;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    files[entry.path().filename().string()] = snip::test::ReadBytes(entry.path().string());
  }
  return files;
}

// Holds the worker inside a file operation until opened, and counts the
// operations of one kind. The page's own look at the source before a run,
// on the interface thread (this one), passes.
class FileGate {
 public:
  explicit FileGate(snip::FileOp op) : op_(op) {
    snip::SetFileFaultHook([this, ui = GetCurrentThreadId()](snip::FileOp op, const std::string&, int64_t,
                                                             size_t n) -> int64_t {
      if (op != op_ || GetCurrentThreadId() == ui) return static_cast<int64_t>(n);
      ++reached_;
      std::unique_lock<std::mutex> lock(mutex_);
      opened_.wait_for(lock, std::chrono::seconds(30), [this] { return open_; });
      return static_cast<int64_t>(n);
    });
  }
  ~FileGate() {
    Open();
    snip::SetFileFaultHook(nullptr);
  }
  void Open() {
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = true;
    opened_.notify_all();
  }
  int Reached() const { return reached_; }

 private:
  snip::FileOp op_;
  std::mutex mutex_;
  std::condition_variable opened_;
  bool open_ = false;
  std::atomic<int> reached_{0};
};

// What the page showed at the moment a message box of the run was activated:
// the run's end must leave the page idle before its message, which the
// interface thread (this one) shows.
class PageAtBox {
 public:
  struct Seen {
    std::string caption, status;
    bool allEnabled = false;
  };
  explicit PageAtBox(HWND page) {
    page_ = page;
    seen_ = {};
  }
  ~PageAtBox() {
    if (hook_) UnhookWindowsHookEx(hook_);
  }
  bool Watch() {
    hook_ = SetWindowsHookExA(WH_CBT, Hook, nullptr, GetCurrentThreadId());
    return hook_ != nullptr;
  }
  static const std::vector<Seen>& Boxes() { return seen_; }

 private:
  static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE && Text(reinterpret_cast<HWND>(wParam)) == "MP3 Snipwise") {
      Seen seen{Text(page_, IDC_PAGE_ACTION), Text(page_, IDC_PAGE_STATUS), true};
      for (HWND child : snip::gui::Descendants(page_)) seen.allEnabled = seen.allEnabled && IsWindowEnabled(child);
      seen_.push_back(seen);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
  }
  static inline HWND page_ = nullptr;
  static inline std::vector<Seen> seen_;
  HHOOK hook_ = nullptr;
};

class SplitRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    page_ = app_.Split();
    sourcePath_ = sourceDir_.File("mix.mp3");
  }
  void TearDown() override { snip::SetFileFaultHook(nullptr); }

  // A 128 kbit/s source of `seconds` (rounded to frames) behind `junk`
  // bytes, ending in an ID3v1 tag.
  void WriteSource(int seconds, int junk = 0) {
    source_ = snip::test::MakeJunk(static_cast<size_t>(junk));
    snip::test::Append(source_, snip::test::MakeStream({}, seconds * kBytesPerSecond / kFrameBytes));
    snip::test::Append(source_, snip::test::MakeId3v1Tag("Evening"));
    snip::test::WriteBytes(sourcePath_, source_);
    firstFrame_ = junk;
  }
  // The source, and the page as a successful scan of it leaves it.
  void MakeSource(int seconds, int junk = 0) {
    WriteSource(seconds, junk);
    StoreScanValue(app_.List(), kPropBitRateBinary, "Bit Rate Binary", 9);
    StoreScanValue(app_.List(), kPropBitRate, "Bit Rate", 128);
    StoreScanValue(app_.List(), kPropFirstFrame, "First Frame", junk);
    SetText(page_, IDC_SPLIT_SOURCE, sourcePath_);
    SetText(page_, IDC_SPLIT_FOLDER, outDir_.Path());
  }

  void AddTimes(std::initializer_list<const char*> times) {
    for (const char* time : times) {
      SetText(page_, IDC_SPLIT_TIME, time);
      Click(page_, IDC_SPLIT_ADD_TIME);
    }
  }

  // Presses Create Tracks and waits for the run's one message box and for
  // the worker to be done with the page.
  CapturedBox Run() {
    PostClick(page_, IDC_SPLIT_ACTION);
    return WaitForEnd();
  }
  CapturedBox WaitForEnd() {
    EXPECT_TRUE(boxes_.WaitForCount(1, 30000));
    PumpFor(200);
    EXPECT_EQ(boxes_.Count(), 1u);
    auto all = boxes_.Boxes();
    return all.empty() ? CapturedBox{} : all[0];
  }

  void ExpectBox(const CapturedBox& box, const char* text, int icon) {
    EXPECT_EQ(box.caption, "MP3 Snipwise");
    EXPECT_EQ(box.text, text);
    EXPECT_EQ(box.icon, icon);
    EXPECT_EQ(box.owner, GetAncestor(page_, GA_ROOT));
  }

  void ExpectIdle() {
    EXPECT_EQ(Text(page_, IDC_SPLIT_ACTION), "Create Tracks");
    EXPECT_EQ(Text(page_, IDC_SPLIT_STATUS), "Status: Idle");
    for (HWND child : snip::gui::Descendants(page_)) EXPECT_TRUE(IsWindowEnabled(child)) << GetDlgCtrlID(child);
  }

  // The same job cut by the engine directly, in a folder of its own.
  Files Reference(std::vector<int32_t> offsets, const std::string& nameTemplate = "%file% - %track%",
                  bool equalSegments = false) {
    snip::SplitJob job;
    job.sourcePath = sourcePath_;
    job.folder = refDir_.Path();
    job.nameTemplate = nameTemplate;
    job.bitrate = 128;
    job.bitrateIndex = 9;
    job.firstFrame = firstFrame_;
    for (int32_t offset : offsets) job.marks.push_back({offset, "", ""});
    job.equalSegments = equalSegments;
    EXPECT_EQ(snip::RunSplit(job, {}), snip::SplitOutcome::Completed);
    return FilesIn(refDir_.Path());
  }

  // The tracks in order, less their appended tag, put together again give
  // the source's audio exactly.
  void ExpectTracksRebuildSource(const Files& tracks) {
    std::vector<uint8_t> joined;
    for (const auto& [name, bytes] : tracks) {
      ASSERT_GE(bytes.size(), 128u) << name;
      EXPECT_EQ(std::vector<uint8_t>(bytes.end() - 128, bytes.end()), snip::test::MakeId3v1Tag("Evening")) << name;
      joined.insert(joined.end(), bytes.begin(), bytes.end() - 128);
    }
    EXPECT_EQ(joined, std::vector<uint8_t>(source_.begin() + firstFrame_, source_.end() - 128));
  }

  // The watcher outlives the window: it asks the windows for their captions.
  MessageBoxWatcher boxes_;
  AppWindow app_;
  HWND page_ = nullptr;
  TempDir sourceDir_, outDir_, refDir_;
  std::string sourcePath_;
  std::vector<uint8_t> source_;
  int firstFrame_ = 0;
};

TEST_F(SplitRunTest, ChosenSourceAndFolderAreCutAtTheMarks) {
  WriteSource(6);
  FileDialogDriver open("Select An MP3 Source File", {WinPath(sourcePath_)});
  PostClick(page_, IDC_SPLIT_BROWSE);
  ASSERT_TRUE(open.WaitDone());
  ASSERT_TRUE(PumpUntil([&] { return Text(page_, IDC_SPLIT_SOURCE) == WinPath(sourcePath_); }));
  // The browser fills its tree after it shows; a deep folder picked too
  // early falls back to the desktop, so a few tries are allowed.
  std::string folder = WinPath(outDir_.Path());
  for (int attempt = 0; attempt < 4 && Text(page_, IDC_SPLIT_FOLDER) != folder; ++attempt) {
    FolderDialogDriver browse(folder.substr(0, folder.size() - 1));
    PostClick(page_, IDC_SPLIT_CHOOSE_FOLDER);
    ASSERT_TRUE(browse.WaitDone(20000));
    PumpFor(100);
  }
  ASSERT_EQ(Text(page_, IDC_SPLIT_FOLDER), folder);
  AddTimes({"000:02.00", "000:04.50"});
  ASSERT_EQ(ListLines(page_, IDC_SPLIT_LIST).size(), 3u);

  PageAtBox atBox(page_);
  PostClick(page_, IDC_SPLIT_ACTION);
  ASSERT_TRUE(atBox.Watch());
  ExpectBox(WaitForEnd(), kSplitCompleted, MB_ICONINFORMATION);
  ExpectIdle();
  ASSERT_EQ(PageAtBox::Boxes().size(), 1u);
  EXPECT_EQ(PageAtBox::Boxes()[0].caption, "Create Tracks");
  EXPECT_EQ(PageAtBox::Boxes()[0].status, "Status: Idle");
  EXPECT_TRUE(PageAtBox::Boxes()[0].allEnabled);
  Files tracks = FilesIn(outDir_.Path());
  ASSERT_EQ(tracks.size(), 3u);
  EXPECT_EQ(tracks, Reference({0, 200, 450}));
  ExpectTracksRebuildSource(tracks);
  // The first cut lies 2 s in, moved on to the next frame.
  size_t first = tracks.begin()->second.size() - 128;
  EXPECT_GE(first, 2u * kBytesPerSecond);
  EXPECT_LT(first, 2u * kBytesPerSecond + kFrameBytes);
}

// "Exact cuts (gapless)" ticked: the page makes the engine's exact tracks,
// each opening with its own summary frame whose LAME tag holds the delay.
TEST_F(SplitRunTest, ExactCutsMakeTheEnginesExactTracks) {
  std::string corpus = snip::test::CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "no corpus";
  snip::test::WriteBytes(sourcePath_, snip::test::ReadBytes(corpus + "mpeg1-128.mp3"));
  snip::File file = snip::File::OpenRead(sourcePath_);
  snip::ScanResult scan = snip::SourceScan(file);
  file.Close();
  ASSERT_EQ(OpenSource(page_, sourcePath_.c_str()), 1);
  SetText(page_, IDC_SPLIT_FOLDER, outDir_.Path());
  AddTimes({"000:04.37", "000:09.50"});
  SetChecked(page_, IDC_SPLIT_EXACT, true);
  ExpectBox(Run(), kSplitCompleted, MB_ICONINFORMATION);
  ExpectIdle();
  Files tracks = FilesIn(outDir_.Path());
  ASSERT_EQ(tracks.size(), 3u);

  snip::SplitJob job;
  job.sourcePath = sourcePath_;
  job.folder = refDir_.Path();
  job.nameTemplate = "%file% - %track%";
  job.bitrate = scan.bitrate;
  job.bitrateIndex = scan.bitrateIndex;
  job.firstFrame = scan.audioStart;
  job.exact = true;
  for (int32_t offset : {0, 437, 950}) job.marks.push_back({offset, "", ""});
  ASSERT_EQ(snip::RunSplit(job, {}), snip::SplitOutcome::Completed);
  EXPECT_EQ(tracks, FilesIn(refDir_.Path()));
  for (const auto& [name, track] : tracks) {
    snip::StreamSummary summary;
    ASSERT_TRUE(snip::ReadSummaryFrame(track.data(), track.size(), &summary)) << name;
    EXPECT_TRUE(summary.hasLameTag && summary.tagCrcValid && summary.encoderDelay > 0) << name;
  }
}

// A VBR source chosen on the page: its status shows the average bit rate
// and the run makes the engine's tracks, each with a Xing frame of its own.
TEST_F(SplitRunTest, VariableBitrateSourceIsCutOnFramesByTime) {
  std::string corpus = snip::test::CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "no corpus";
  std::vector<uint8_t> bytes = snip::test::ReadBytes(corpus + "vbr-v2.mp3");
  snip::test::WriteBytes(sourcePath_, bytes);
  snip::File file = snip::File::OpenRead(sourcePath_);
  snip::ScanResult scan = snip::SourceScan(file);
  file.Close();
  ASSERT_TRUE(scan.variableBitrate);
  ASSERT_EQ(OpenSource(page_, sourcePath_.c_str()), 1);
  EXPECT_EQ(Text(page_, IDC_SPLIT_BITRATE), "Bit Rate: VBR, about " + std::to_string(scan.bitrate) + " kbps");
  // The longest such text, "about 320 kbps", is shown whole.
  HWND label = GetDlgItem(page_, IDC_SPLIT_BITRATE);
  HDC dc = GetDC(label);
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageA(label, WM_GETFONT, 0, 0)));
  const char widest[] = "Bit Rate: VBR, about 320 kbps";
  SIZE extent = {};
  GetTextExtentPoint32A(dc, widest, static_cast<int>(sizeof widest - 1), &extent);
  SelectObject(dc, old);
  ReleaseDC(label, dc);
  RECT client = {};
  GetClientRect(label, &client);
  EXPECT_LE(extent.cx, client.right - client.left);
  SetText(page_, IDC_SPLIT_FOLDER, outDir_.Path());
  AddTimes({"000:04.00", "000:09.50"});

  ExpectBox(Run(), kSplitCompleted, MB_ICONINFORMATION);
  ExpectIdle();
  Files tracks = FilesIn(outDir_.Path());
  ASSERT_EQ(tracks.size(), 3u);
  snip::SplitJob job;
  job.sourcePath = sourcePath_;
  job.folder = refDir_.Path();
  job.nameTemplate = "%file% - %track%";
  job.bitrate = scan.bitrate;
  job.bitrateIndex = scan.bitrateIndex;
  job.firstFrame = scan.audioStart;
  job.variableBitrate = true;
  for (int32_t offset : {0, 400, 950}) job.marks.push_back({offset, "", ""});
  ASSERT_EQ(snip::RunSplit(job, {}), snip::SplitOutcome::Completed);
  EXPECT_EQ(tracks, FilesIn(refDir_.Path()));
  for (const auto& [name, track] : tracks) {
    snip::StreamSummary summary;
    ASSERT_TRUE(snip::ReadSummaryFrame(track.data(), track.size(), &summary)) << name;
    EXPECT_EQ(summary.kind, snip::SummaryKind::Xing) << name;
    EXPECT_EQ(summary.bytes, track.size()) << name;
  }
}

TEST_F(SplitRunTest, EmptyFolderWritesNextToTheSourceAndNamesComeFromTheLines) {
  MakeSource(3, 700);
  SetText(page_, IDC_SPLIT_FOLDER, "");
  SetText(page_, IDC_SPLIT_TEMPLATE, "%track% %artist% - %title%");
  AddTimes({"000:01.00"});
  auto* mark = reinterpret_cast<TrackMark*>(ListItemData(page_, IDC_SPLIT_LIST, 1));
  ASSERT_NE(mark, nullptr);
  std::strcpy(mark->artist, "Ann");
  std::strcpy(mark->title, "Dusk");

  ExpectBox(Run(), kSplitCompleted, MB_ICONINFORMATION);
  Files tracks = FilesIn(sourceDir_.Path());
  tracks.erase("mix.mp3");
  ASSERT_EQ(tracks.size(), 2u);
  EXPECT_TRUE(tracks.count("01  - .mp3"));
  EXPECT_TRUE(tracks.count("02 Ann - Dusk.mp3"));
  ExpectTracksRebuildSource(tracks);
  EXPECT_EQ(snip::test::ReadBytes(sourcePath_), source_);
}

TEST_F(SplitRunTest, ImportedTitlesThatAimOutsideTheFolderSplitInsideIt) {
  // The destination lies two folders below a file the titles aim at.
  MakeSource(8);
  std::filesystem::create_directories(outDir_.File("a\\b"));
  snip::test::WriteBytes(outDir_.File("victim.mp3"), {'k', 'e', 'e', 'p'});
  SetText(page_, IDC_SPLIT_FOLDER, WinPath(outDir_.File("a\\b\\")));
  SetText(page_, IDC_SPLIT_TEMPLATE, "%title% %track% - %artist%");
  // UTF-8 without a byte-order mark.
  std::string sheet = sourceDir_.File("mix.cue");
  const std::string text =
      "PERFORMER \"AC/DC\"\n"
      "TRACK 01 AUDIO\n  TITLE \"x\\..\\..\\victim\"\n  INDEX 01 00:00:00\n"
      "TRACK 02 AUDIO\n  TITLE \"Aux.Cable\"\n  INDEX 01 00:02:00\n"
      "TRACK 03 AUDIO\n  TITLE \"Caf\xC3\xA9\"\n  INDEX 01 00:04:00\n"
      "TRACK 04 AUDIO\n  TITLE \"What's the Frequency, Kenneth?\"\n  INDEX 01 00:06:00\n";
  snip::test::WriteBytes(sheet, std::vector<uint8_t>(text.begin(), text.end()));
  FileDialogDriver import("Import Track Times From .CUE File", {WinPath(sheet)});
  PostClick(page_, IDC_SPLIT_CUE_IMPORT);
  ASSERT_TRUE(import.WaitDone(20000));
  ASSERT_TRUE(PumpUntil([&] { return ListLines(page_, IDC_SPLIT_LIST).size() == 4u; }));

  ExpectBox(Run(), kSplitCompleted, MB_ICONINFORMATION);
  EXPECT_EQ(
      snip::test::FilesUnder(outDir_.Path()),
      (std::vector<std::string>{"a/b/Caf\xC3\xA9 03 - AC_DC.mp3", "a/b/What's the Frequency, Kenneth_ 04 - AC_DC.mp3",
                                "a/b/_Aux.Cable 02 - AC_DC.mp3", "a/b/x_.._.._victim 01 - AC_DC.mp3", "victim.mp3"}));
  EXPECT_EQ(snip::test::ReadBytes(outDir_.File("victim.mp3")), (std::vector<uint8_t>{'k', 'e', 'e', 'p'}));
}

TEST_F(SplitRunTest, EmptyListMakesOneTrackAndEqualSegmentsGoPastTheList) {
  MakeSource(5);
  SetText(page_, IDC_SPLIT_TEMPLATE, "%file%");
  ExpectBox(Run(), kSplitCompleted, MB_ICONINFORMATION);
  Files one = FilesIn(outDir_.Path());
  ASSERT_EQ(one.size(), 1u);
  EXPECT_EQ(one, Reference({}, "%file%"));
  ExpectTracksRebuildSource(one);

  std::filesystem::remove_all(outDir_.Path());
  std::filesystem::remove_all(refDir_.Path());
  std::filesystem::create_directory(outDir_.Path());
  std::filesystem::create_directory(refDir_.Path());
  SetText(page_, IDC_SPLIT_TEMPLATE, "%file% - %track%");
  AddTimes({"000:02.00"});
  SetChecked(page_, IDC_SPLIT_EQUAL, true);
  PostClick(page_, IDC_SPLIT_ACTION);
  ASSERT_TRUE(boxes_.WaitForCount(2, 30000));
  EXPECT_EQ(boxes_.Boxes()[1].text, kSplitCompleted);
  Files segments = FilesIn(outDir_.Path());
  EXPECT_EQ(segments.size(), 3u);  // 2 s, 2 s and the rest of 5 s
  EXPECT_EQ(segments, Reference({0, 200}, "%file% - %track%", true));
  ExpectTracksRebuildSource(segments);
}

TEST_F(SplitRunTest, StatusNamesEachTrackAsItIsCreated) {
  MakeSource(4);
  AddTimes({"000:01.00", "000:02.00"});
  // The status is posted as each track begins: by the time the track's file
  // is made, the page shows it (or soon does).
  std::vector<std::string> statuses;
  snip::SetFileFaultHook([&](snip::FileOp op, const std::string&, int64_t, size_t n) -> int64_t {
    if (op != snip::FileOp::Create) return static_cast<int64_t>(n);
    char expected[40];
    std::snprintf(expected, sizeof(expected), "Status: Creating... [%03d]", static_cast<int>(statuses.size() + 1));
    std::string shown;
    for (int i = 0; i < 400 && (shown = Text(page_, IDC_SPLIT_STATUS)) != expected; ++i) Sleep(5);
    statuses.push_back(shown);
    return static_cast<int64_t>(n);
  });
  ExpectBox(Run(), kSplitCompleted, MB_ICONINFORMATION);
  EXPECT_EQ(statuses, (std::vector<std::string>{"Status: Creating... [001]", "Status: Creating... [002]",
                                                "Status: Creating... [003]"}));
  ExpectIdle();
}

TEST_F(SplitRunTest, RunningPageIsBusyAndAHaltFinishesTheTrackUnderWay) {
  MakeSource(6);
  AddTimes({"000:02.00", "000:04.00"});
  {
    FileGate gate(snip::FileOp::Write);
    PostClick(page_, IDC_SPLIT_ACTION);
    ASSERT_TRUE(PumpUntil([&] { return gate.Reached() > 0; }));
    PumpFor(100);
    EXPECT_EQ(Text(page_, IDC_SPLIT_ACTION), "Cancel");
    EXPECT_EQ(Text(page_, IDC_SPLIT_STATUS), "Status: Creating... [001]");
    for (HWND child : snip::gui::Descendants(page_)) {
      int id = GetDlgCtrlID(child);
      bool keep = id == IDC_PAGE_ACTION || id == IDC_PAGE_STATUS;
      EXPECT_EQ(IsWindowEnabled(child) != 0, keep) << id;
    }
    Click(page_, IDC_SPLIT_ACTION);
    EXPECT_EQ(Text(page_, IDC_SPLIT_ACTION), "Halting...");
    // While the halt is pending a press starts nothing.
    Click(page_, IDC_SPLIT_ACTION);
    EXPECT_EQ(Text(page_, IDC_SPLIT_ACTION), "Halting...");
    gate.Open();
    ExpectBox(WaitForEnd(), kSplitCancelled, MB_ICONWARNING);
  }
  ExpectIdle();
  Files tracks = FilesIn(outDir_.Path());
  ASSERT_EQ(tracks.size(), 1u);
  Files reference = Reference({0, 200, 400});
  EXPECT_EQ(tracks.begin()->first, reference.begin()->first);
  EXPECT_EQ(tracks.begin()->second, reference.begin()->second);
}

TEST_F(SplitRunTest, SecondPressBeforeTheWorkerRunsOnlyAsksForAHalt) {
  MakeSource(3);
  AddTimes({"000:01.00"});
  FileGate gate(snip::FileOp::OpenRead);
  PostClick(page_, IDC_SPLIT_ACTION);
  PostClick(page_, IDC_SPLIT_ACTION);
  ASSERT_TRUE(PumpUntil([&] { return gate.Reached() > 0; }));
  PumpFor(300);
  EXPECT_EQ(Text(page_, IDC_SPLIT_ACTION), "Halting...");
  gate.Open();
  ExpectBox(WaitForEnd(), kSplitCancelled, MB_ICONWARNING);
  PumpFor(300);
  EXPECT_EQ(boxes_.Count(), 1u);
  EXPECT_EQ(gate.Reached(), 1);
  EXPECT_TRUE(FilesIn(outDir_.Path()).empty());
  ExpectIdle();
}

TEST_F(SplitRunTest, RefusalsLeaveThePageIdleAndWriteNothing) {
  struct Case {
    const char* templateText;
    std::initializer_list<const char*> times;
    bool equal;
    const char* message;
  };
  const Case cases[] = {
      {"", {}, false, "Please choose a source file and a destination name before you continue."},
      {"%file% | %track%",
       {},
       false,
       "The destination name you gave contained invalid characters.  Please use another name."},
      {"%file% - %track%",
       {"000:00.00"},
       true,
       "If you are splitting all into equal segments, you must enter at least one offset. '0:00.00' is just a "
       "marker, not an offset."},
      {"%file%",
       {"000:01.00"},
       false,
       "The destination name must contain %track% when more than one track is created.  Please change the name."},
  };
  MakeSource(2);
  size_t seen = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    Click(page_, IDC_SPLIT_CLEAR);
    SetText(page_, IDC_SPLIT_TEMPLATE, c.templateText);
    AddTimes(c.times);
    SetChecked(page_, IDC_SPLIT_EQUAL, c.equal);
    PostClick(page_, IDC_SPLIT_ACTION);
    ASSERT_TRUE(boxes_.WaitForCount(++seen, 30000));
    PumpFor(100);
    ExpectBox(boxes_.Boxes().back(), c.message, MB_ICONWARNING);
    ExpectIdle();
  }
  EXPECT_EQ(boxes_.Count(), seen);
  EXPECT_TRUE(FilesIn(outDir_.Path()).empty());

  // An empty source edit is refused the same way.
  SetText(page_, IDC_SPLIT_TEMPLATE, "%file% - %track%");
  SetText(page_, IDC_SPLIT_SOURCE, "");
  PostClick(page_, IDC_SPLIT_ACTION);
  ASSERT_TRUE(boxes_.WaitForCount(++seen, 30000));
  EXPECT_EQ(boxes_.Boxes().back().text, cases[0].message);
  ExpectIdle();
}

TEST_F(SplitRunTest, FailedWritesEndWithTheFileErrorAndKeepEarlierTracks) {
  MakeSource(4);
  AddTimes({"000:01.00", "000:02.00"});
  Files reference = Reference({0, 100, 200});
  for (bool shortWrite : {false, true}) {
    SCOPED_TRACE(shortWrite ? "short write" : "failed write");
    std::filesystem::remove_all(outDir_.Path());
    std::filesystem::create_directory(outDir_.Path());
    snip::SetFileFaultHook([&](snip::FileOp op, const std::string& path, int64_t, size_t n) -> int64_t {
      if (op != snip::FileOp::Write || path.find("02.mp3") == std::string::npos) return static_cast<int64_t>(n);
      return shortWrite ? static_cast<int64_t>(n / 2) : -1;
    });
    size_t before = boxes_.Count();
    PostClick(page_, IDC_SPLIT_ACTION);
    ASSERT_TRUE(boxes_.WaitForCount(before + 1, 30000));
    PumpFor(200);
    ExpectBox(boxes_.Boxes().back(), kSplitFileError, MB_ICONWARNING);
    ExpectIdle();
    snip::SetFileFaultHook(nullptr);
    Files tracks = FilesIn(outDir_.Path());
    ASSERT_TRUE(tracks.count("mix - 01.mp3"));
    EXPECT_EQ(tracks["mix - 01.mp3"], reference["mix - 01.mp3"]);
    EXPECT_EQ(tracks.size(), 1u) << "something of the unfinished track is left";
  }
  EXPECT_EQ(boxes_.Count(), 2u);
}

TEST_F(SplitRunTest, MissingSourceIsAFileError) {
  MakeSource(2);
  AddTimes({"000:01.00"});
  std::filesystem::remove(sourcePath_);
  PageAtBox atBox(page_);
  PostClick(page_, IDC_SPLIT_ACTION);
  ASSERT_TRUE(atBox.Watch());
  ExpectBox(WaitForEnd(), kSplitFileError, MB_ICONWARNING);
  ExpectIdle();
  ASSERT_EQ(PageAtBox::Boxes().size(), 1u);
  EXPECT_EQ(PageAtBox::Boxes()[0].caption, "Create Tracks");
  EXPECT_EQ(PageAtBox::Boxes()[0].status, "Status: Idle");
  EXPECT_TRUE(PageAtBox::Boxes()[0].allEnabled);
  EXPECT_TRUE(FilesIn(outDir_.Path()).empty());
}

TEST_F(SplitRunTest, ExistingFilesAreReplacedOnlyAfterAYes) {
  MakeSource(4);
  AddTimes({"000:02.00"});
  const std::vector<uint8_t> old1 = {'o', 'n', 'e'}, old2 = {'t', 'w', 'o'};
  snip::test::WriteBytes(outDir_.File("mix - 01.mp3"), old1);
  snip::test::WriteBytes(outDir_.File("mix - 02.mp3"), old2);
  snip::test::WriteBytes(outDir_.File("other.mp3"), old1);
  const Files before = FilesIn(outDir_.Path());

  // No: nothing starts and nothing changes.
  boxes_.SetAnswer(IDNO);
  PostClick(page_, IDC_SPLIT_ACTION);
  ASSERT_TRUE(boxes_.WaitForCount(1, 30000));
  PumpFor(500);
  ASSERT_EQ(boxes_.Count(), 1u);
  CapturedBox question = boxes_.Boxes()[0];
  ExpectBox(question, "2 files in the destination folder would be replaced. Replace them?", MB_ICONWARNING);
  EXPECT_EQ(question.buttons, (std::vector<int>{IDYES, IDNO}));
  ExpectIdle();
  EXPECT_EQ(FilesIn(outDir_.Path()), before);

  // Yes: the run replaces them, and only them.
  boxes_.SetAnswer(IDYES);
  PostClick(page_, IDC_SPLIT_ACTION);
  ASSERT_TRUE(boxes_.WaitForCount(3, 30000));
  PumpFor(200);
  EXPECT_EQ(boxes_.Boxes()[1].text, question.text);
  ExpectBox(boxes_.Boxes()[2], kSplitCompleted, MB_ICONINFORMATION);
  ExpectIdle();
  Files after = FilesIn(outDir_.Path());
  Files reference = Reference({0, 200});
  EXPECT_EQ(after.size(), 3u);
  EXPECT_EQ(after["mix - 01.mp3"], reference["mix - 01.mp3"]);
  EXPECT_EQ(after["mix - 02.mp3"], reference["mix - 02.mp3"]);
  EXPECT_EQ(after["other.mp3"], old1);
}

TEST_F(SplitRunTest, ASlowScanLeavesTheWindowWorkingAndCancelStopsIt) {
  // A source read at under 1 MB a second: its scan takes many seconds.
  snip::test::WriteBytes(sourcePath_, snip::test::MakeJunk(8 << 20, 5));
  snip::SetFileFaultHook([ui = GetCurrentThreadId()](snip::FileOp op, const std::string&, int64_t, size_t n) {
    if (op == snip::FileOp::Read && GetCurrentThreadId() != ui) Sleep(static_cast<DWORD>(5 + n / 1024));
    return static_cast<int64_t>(n);
  });
  FileDialogDriver open("Select An MP3 Source File", {WinPath(sourcePath_)});
  PostClick(page_, IDC_SPLIT_BROWSE);
  ASSERT_TRUE(open.WaitDone());
  ASSERT_TRUE(PumpUntil([&] { return Text(page_, IDC_SPLIT_STATUS).rfind("Status: Examining... [", 0) == 0; }));
  std::string first = Text(page_, IDC_SPLIT_STATUS);
  EXPECT_TRUE(PumpUntil([&] { return Text(page_, IDC_SPLIT_STATUS) != first; })) << "the status never moved";
  EXPECT_EQ(Text(page_, IDC_SPLIT_ACTION), "Cancel");
  EXPECT_FALSE(IsEnabled(page_, IDC_SPLIT_BROWSE));
  Click(page_, IDC_SPLIT_ACTION);
  EXPECT_EQ(Text(page_, IDC_SPLIT_ACTION), "Halting...");
  ASSERT_TRUE(PumpUntil([&] { return Text(page_, IDC_SPLIT_ACTION) == "Create Tracks"; }, 3000));
  ExpectIdle();
  PumpFor(300);
  EXPECT_EQ(boxes_.Count(), 0u);
  EXPECT_EQ(Text(page_, IDC_SPLIT_SOURCE), "") << "a cancelled scan chooses nothing";
}

// "Tag tracks" gives the engine's tagged tracks for the page's job: the
// lines' titles, the imported sheet's own title and performer as album and
// album artist, the source's picture. A cleared list forgets the sheet.
TEST_F(SplitRunTest, TagTracksMakesTheEnginesTaggedTracksWithTheSheetsAlbum) {
  MakeSource(4);
  snip::TagInfo sourceTag;
  sourceTag.artist = "Band";
  sourceTag.year = "2001";
  sourceTag.pictures.push_back({"image/png", 3, "", {0x89, 'P', 'N', 'G', 0xFF, 0x00, 0xFF, 0xE0}});
  std::vector<uint8_t> lead = snip::WriteId3v2(sourceTag);
  source_.insert(source_.begin(), lead.begin(), lead.end());
  snip::test::WriteBytes(sourcePath_, source_);
  firstFrame_ = static_cast<int>(lead.size());
  StoreScanValue(app_.List(), kPropFirstFrame, "First Frame", firstFrame_);

  std::string sheet = sourceDir_.File("mix.cue");
  const std::string text =
      "PERFORMER \"Various\"\nTITLE \"Caf\xC3\xA9 Nights\"\n"
      "TRACK 01 AUDIO\n  TITLE \"Dusk\"\n  PERFORMER \"Ann\"\n  INDEX 01 00:00:00\n"
      "TRACK 02 AUDIO\n  TITLE \"Dawn\"\n  INDEX 01 00:02:00\n";
  snip::test::WriteBytes(sheet, std::vector<uint8_t>(text.begin(), text.end()));
  FileDialogDriver import("Import Track Times From .CUE File", {WinPath(sheet)});
  PostClick(page_, IDC_SPLIT_CUE_IMPORT);
  ASSERT_TRUE(import.WaitDone(20000));
  ASSERT_TRUE(PumpUntil([&] { return ListLines(page_, IDC_SPLIT_LIST).size() == 2u; }));
  SetChecked(page_, IDC_SPLIT_TAGS, true);
  ExpectBox(Run(), kSplitCompleted, MB_ICONINFORMATION);
  Files tracks = FilesIn(outDir_.Path());

  snip::SplitJob job;
  job.sourcePath = sourcePath_;
  job.folder = refDir_.Path();
  job.nameTemplate = "%file% - %track%";
  job.bitrate = 128;
  job.bitrateIndex = 9;
  job.firstFrame = firstFrame_;
  job.marks = {{0, "Ann", "Dusk"}, {200, "Various", "Dawn"}};
  job.tagTracks = true;
  job.album = snip::ProgramTextFromUtf8("Caf\xC3\xA9 Nights");
  job.albumArtist = "Various";
  ASSERT_EQ(snip::RunSplit(job, {}), snip::SplitOutcome::Completed);
  EXPECT_EQ(tracks, FilesIn(refDir_.Path()));
  ASSERT_EQ(tracks.size(), 2u);
  int k = 0;
  for (const auto& [name, bytes] : tracks) {
    SCOPED_TRACE(name);
    snip::TagInfo tag;
    ASSERT_TRUE(snip::ReadId3v2(bytes.data(), bytes.size(), &tag));
    EXPECT_EQ(tag.title, k == 0 ? "Dusk" : "Dawn");
    EXPECT_EQ(tag.track, std::to_string(++k) + "/2");
    EXPECT_EQ(tag.album, snip::Utf8FromProgramText(job.album));
    EXPECT_EQ(tag.albumArtist, "Various");
    EXPECT_EQ(tag.year, "2001");
    ASSERT_EQ(tag.pictures.size(), 1u);
    EXPECT_EQ(tag.pictures[0].data, sourceTag.pictures[0].data);
  }

  // Typed times after Clear List: no album any more.
  Click(page_, IDC_SPLIT_CLEAR);
  AddTimes({"000:02.00"});
  std::filesystem::remove_all(outDir_.Path());
  std::filesystem::create_directory(outDir_.Path());
  PostClick(page_, IDC_SPLIT_ACTION);
  ASSERT_TRUE(boxes_.WaitForCount(2, 30000));
  PumpFor(200);
  ExpectBox(boxes_.Boxes()[1], kSplitCompleted, MB_ICONINFORMATION);
  tracks = FilesIn(outDir_.Path());
  ASSERT_EQ(tracks.size(), 2u);
  snip::TagInfo tag;
  ASSERT_TRUE(snip::ReadId3v2(tracks.begin()->second.data(), tracks.begin()->second.size(), &tag));
  EXPECT_EQ(tag.album, "");
  EXPECT_EQ(tag.artist, "Band");
}

}  // namespace
