// Failing disks through the real pages: a read that fails, a write that
// fails or comes up short because the disk is full, a file or folder that
// vanishes while a run is under way. Whatever fails, the page returns to
// idle, the user is told, no input file changes and no success is reported.
// And quitting the real program while a split runs ends it without a crash.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/file_io.h"
#include "app/property_list.h"
#include "mpeg/source_scan.h"
#include "resource_ids.h"
#include "support/messages.h"
#include "support/mpeg_frames.h"
#include "support/win/gui_kit.h"

namespace {

using snip::test::kJoinCompleted;
using snip::test::kJoinFileError;
using snip::test::kSplitCompleted;
using snip::test::kSplitFileError;

using namespace snip::gui;
using snip::FileOp;
using snip::test::TempDir;
using Bytes = std::vector<uint8_t>;
using Files = std::map<std::string, Bytes>;


Files FilesIn(const std::string& dir) {
  Files files;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
    files[entry.path().filename().string()] = snip::test::ReadBytes(entry.path().string());
  }
  return files;
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// A 128 kbit/s stream of about `seconds`, ending in an ID3v1 tag.
Bytes TaggedStream(int seconds, const std::string& title) {
  Bytes bytes = snip::test::MakeStream({}, seconds * 16000 / 417);
  snip::test::Append(bytes, snip::test::MakeId3v1Tag(title));
  return bytes;
}

// The program's file operations as the test wants them to go. The answer
// function runs on the worker's thread; the log of what it was asked is kept.
class Disk {
 public:
  using Answer = std::function<int64_t(FileOp op, const std::string& path, int64_t position, size_t n)>;
  explicit Disk(Answer answer) : answer_(std::move(answer)) {
    snip::SetFileFaultHook([this](FileOp op, const std::string& path, int64_t position, size_t n) -> int64_t {
      int64_t allowed = answer_(op, path, position, n);
      if (allowed != static_cast<int64_t>(n)) ++faults_;
      return allowed;
    });
  }
  ~Disk() { snip::SetFileFaultHook(nullptr); }
  int Faults() const { return faults_; }

 private:
  Answer answer_;
  std::atomic<int> faults_{0};
};

// A disk that holds `room` more bytes: writes past that come up short.
Disk::Answer FullAfter(int64_t room) {
  auto left = std::make_shared<std::atomic<int64_t>>(room);
  return [left](FileOp op, const std::string&, int64_t, size_t n) -> int64_t {
    if (op != FileOp::Write) return static_cast<int64_t>(n);
    int64_t want = static_cast<int64_t>(n);
    int64_t had = left->load();
    int64_t allowed = want < had ? want : had;
    *left -= allowed;
    return allowed;
  };
}

// Fails the k-th operation of one kind (from 0), or makes it come up short,
// and tells what it hit.
struct NthFault {
  NthFault(FileOp o, int n, bool shorten) : op(o), k(n), shortWrite(shorten) {}
  FileOp op;
  int k;
  bool shortWrite;
  std::atomic<int> seen{0};
  std::atomic<bool> fired{false};
  std::string path;
  int64_t position = -1;
  size_t size = 0;

  Disk::Answer Answer() {
    return [this](FileOp o, const std::string& p, int64_t at, size_t n) -> int64_t {
      if (o != op || seen++ != k) return static_cast<int64_t>(n);
      fired = true;
      path = p;
      position = at;
      size = n;
      return shortWrite ? static_cast<int64_t>(n / 2) : -1;
    };
  }
};

class PageFaults : public ::testing::Test {
 protected:
  void TearDown() override { snip::SetFileFaultHook(nullptr); }

  // Presses the action button and waits for the run's one message.
  CapturedBox RunToItsMessage(HWND page) {
    size_t before = boxes_.Count();
    PostClick(page, IDC_PAGE_ACTION);
    EXPECT_TRUE(boxes_.WaitForCount(before + 1, 30000)) << "the run ended without a message";
    PumpFor(300);
    EXPECT_EQ(boxes_.Count(), before + 1) << "more than one message";
    auto all = boxes_.Boxes();
    return all.size() > before ? all[before] : CapturedBox{};
  }

  void ExpectIdle(HWND page, const char* idleCaption) {
    EXPECT_EQ(Text(page, IDC_PAGE_ACTION), idleCaption);
    EXPECT_EQ(Text(page, IDC_PAGE_STATUS), "Status: Idle");
    for (HWND child : snip::gui::Descendants(page)) EXPECT_TRUE(IsWindowEnabled(child)) << "control " << GetDlgCtrlID(child);
  }

  void ExpectWarning(const CapturedBox& box, HWND page, const char* text) {
    EXPECT_EQ(box.caption, "MP3 Snipwise");
    EXPECT_EQ(box.text, text);
    EXPECT_EQ(box.icon, MB_ICONWARNING);
    EXPECT_EQ(box.owner, GetAncestor(page, GA_ROOT));
  }

  void ExpectNoSuccess(const char* successText) {
    for (const CapturedBox& box : boxes_.Boxes()) EXPECT_NE(box.text, successText);
  }

  // The watcher outlives the window: it asks the windows for their captions.
  MessageBoxWatcher boxes_;
  AppWindow app_;
};

// ---- the Split page --------------------------------------------------------

class SplitFaults : public PageFaults {
 protected:
  void SetUp() override {
    page_ = app_.Split();
    sourcePath_ = sourceDir_.File("evening.mp3");
    source_ = TaggedStream(6, "Evening");
    snip::test::WriteBytes(sourcePath_, source_);
    // The scan's values, as choosing the source leaves them.
    snip::File file = snip::File::OpenRead(sourcePath_);
    snip::ScanResult scan = snip::SourceScan(file);
    ASSERT_EQ(scan.outcome, snip::ScanOutcome::Accepted);
    ASSERT_EQ(snip::StoreScanResult(app_.List(), scan), 1);
    SetText(page_, IDC_SPLIT_SOURCE, sourcePath_);
    SetText(page_, IDC_SPLIT_FOLDER, outDir_.Path());
    for (const char* time : {"000:02.00", "000:04.00"}) {
      SetText(page_, IDC_SPLIT_TIME, time);
      Click(page_, IDC_SPLIT_ADD_TIME);
    }
    ASSERT_EQ(ListLines(page_, IDC_SPLIT_LIST).size(), 3u);
  }

  // The run ends with the file error and an idle page; the source is as it was.
  void ExpectFileError() {
    ExpectWarning(RunToItsMessage(page_), page_, kSplitFileError);
    ExpectIdle(page_, "Create Tracks");
    ExpectNoSuccess(kSplitCompleted);
    EXPECT_EQ(snip::test::ReadBytes(sourcePath_), source_);
    EXPECT_EQ(FilesIn(sourceDir_.Path()).size(), 1u) << "something was written beside the source";
    // Only finished tracks are left: each ends with the source's tag.
    const Bytes tag(source_.end() - 128, source_.end());
    for (const auto& [name, bytes] : FilesIn(outDir_.Path())) {
      EXPECT_TRUE(bytes.size() > 128 && Bytes(bytes.end() - 128, bytes.end()) == tag) << name << " is unfinished";
    }
  }

  bool IsSource(const std::string& path) const { return path == sourcePath_; }

  HWND page_ = nullptr;
  TempDir sourceDir_, outDir_;
  std::string sourcePath_;
  Bytes source_;
};

TEST_F(SplitFaults, EveryReadAndWriteThatFails) {
  struct Kind {
    const char* what;
    FileOp op;
    bool shortWrite;
  };
  for (const Kind& kind : {Kind{"read fails", FileOp::Read, false}, Kind{"write fails", FileOp::Write, false},
                           Kind{"write comes up short", FileOp::Write, true}}) {
    int k = 0;
    for (;; ++k) {
      SCOPED_TRACE(std::string(kind.what) + ", operation " + std::to_string(k));
      ASSERT_LT(k, 60) << "the run never got through";
      std::filesystem::remove_all(outDir_.Path());
      std::filesystem::create_directory(outDir_.Path());
      NthFault fault(kind.op, k, kind.shortWrite);
      Disk disk(fault.Answer());
      CapturedBox box = RunToItsMessage(page_);
      ExpectIdle(page_, "Create Tracks");
      EXPECT_EQ(snip::test::ReadBytes(sourcePath_), source_);
      if (!fault.fired) {
        EXPECT_EQ(box.text, kSplitCompleted);
        break;
      }
      // A tag that cannot be read counts as absent, as for a short file.
      bool tagRead = kind.op == FileOp::Read && fault.position == static_cast<int64_t>(source_.size()) - 128;
      if (!tagRead) ExpectWarning(box, page_, kSplitFileError);
    }
    EXPECT_GT(k, 1) << kind.what;
  }
}

TEST_F(SplitFaults, ReadThatFailsInTheMiddleOfATrack) {
  // From 20000 bytes on the source cannot be read any more (a failing sector).
  Disk disk([&](FileOp op, const std::string& path, int64_t position, size_t n) -> int64_t {
    if (op == FileOp::Read && IsSource(path) && position + static_cast<int64_t>(n) > 20000 &&
        position < static_cast<int64_t>(source_.size()) - 128) {
      return -1;
    }
    return static_cast<int64_t>(n);
  });
  ExpectFileError();
  EXPECT_GT(disk.Faults(), 0);
}

TEST_F(SplitFaults, ReadThatComesUpShortLeavesNoAudioOut) {
  // A read that delivers less than asked is not the end of the source: every
  // byte still reaches a track, or the run says it failed.
  Disk disk([&](FileOp op, const std::string& path, int64_t, size_t n) -> int64_t {
    if (op == FileOp::Read && IsSource(path) && n > 1000) return static_cast<int64_t>(n / 3);
    return static_cast<int64_t>(n);
  });
  CapturedBox box = RunToItsMessage(page_);
  ExpectIdle(page_, "Create Tracks");
  if (box.text == kSplitCompleted) {
    Bytes joined;
    for (const auto& [name, bytes] : FilesIn(outDir_.Path())) {
      ASSERT_GE(bytes.size(), 128u) << name;
      joined.insert(joined.end(), bytes.begin(), bytes.end() - 128);
    }
    EXPECT_EQ(joined, Bytes(source_.begin(), source_.end() - 128));
  } else {
    ExpectWarning(box, page_, kSplitFileError);
  }
  EXPECT_EQ(snip::test::ReadBytes(sourcePath_), source_);
}

TEST_F(SplitFaults, WriteThatFailsOrFillsTheDisk) {
  struct Case {
    const char* what;
    Disk::Answer answer;
  };
  const Case cases[] = {
      {"the first write of the first track fails",
       [](FileOp op, const std::string&, int64_t position, size_t n) -> int64_t {
         return op == FileOp::Write && position == 0 ? -1 : static_cast<int64_t>(n);
       }},
      {"the tag appended to the second track does not fit",
       [](FileOp op, const std::string& path, int64_t, size_t n) -> int64_t {
         return op == FileOp::Write && Contains(path, "02.mp3") && n == 128 ? 100 : static_cast<int64_t>(n);
       }},
      {"the disk fills up in the middle of the second track", FullAfter(50000)},
      {"the disk is full from the start", FullAfter(0)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove_all(outDir_.Path());
    std::filesystem::create_directory(outDir_.Path());
    Disk disk(c.answer);
    ExpectFileError();
    EXPECT_GT(disk.Faults(), 0);
  }
}

TEST_F(SplitFaults, OutputFolderThatVanishesDuringTheRun) {
  // The folder is taken away (a pulled stick) just as the second track is made.
  Disk disk([&](FileOp op, const std::string& path, int64_t, size_t n) -> int64_t {
    if (op == FileOp::Create && Contains(path, "02.mp3")) {
      std::error_code ec;
      std::filesystem::remove_all(outDir_.Path(), ec);
    }
    return static_cast<int64_t>(n);
  });
  ExpectFileError();
  EXPECT_FALSE(std::filesystem::exists(outDir_.Path()));
  std::filesystem::create_directory(outDir_.Path());
}

TEST_F(SplitFaults, SourceThatCannotBeOpenedAnyMore) {
  Disk disk([&](FileOp op, const std::string& path, int64_t, size_t n) -> int64_t {
    return op == FileOp::OpenRead && IsSource(path) ? -1 : static_cast<int64_t>(n);
  });
  ExpectFileError();
  EXPECT_TRUE(FilesIn(outDir_.Path()).empty());
}

TEST_F(SplitFaults, PageWorksAgainAfterAFault) {
  {
    Disk disk(FullAfter(1000));
    ExpectFileError();
  }
  std::filesystem::remove_all(outDir_.Path());
  std::filesystem::create_directory(outDir_.Path());
  CapturedBox box = RunToItsMessage(page_);
  EXPECT_EQ(box.text, kSplitCompleted);
  EXPECT_EQ(box.icon, MB_ICONINFORMATION);
  EXPECT_EQ(FilesIn(outDir_.Path()).size(), 3u);
}

// ---- the Join page ---------------------------------------------------------

class JoinFaults : public PageFaults {
 protected:
  void SetUp() override {
    page_ = app_.Merge();
    for (int i = 0; i < 3; ++i) {
      std::string path = inDir_.File("part" + std::to_string(i + 1) + ".mp3");
      snip::test::WriteBytes(path, TaggedStream(2 + i, "Part " + std::to_string(i + 1)));
      SendDlgItemMessageA(page_, IDC_MERGE_LIST, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(path.c_str()));
      inputs_.push_back(path);
    }
    destination_ = outDir_.File("joined.mp3");
    SetText(page_, IDC_MERGE_DESTINATION, destination_);
    before_ = FilesIn(inDir_.Path());
  }

  void ExpectFileError() {
    ExpectWarning(RunToItsMessage(page_), page_, kJoinFileError);
    ExpectIdle(page_, "Merge Tracks");
    ExpectNoSuccess(kJoinCompleted);
    // The destination folder holds nothing of the failed join.
    EXPECT_TRUE(FilesIn(outDir_.Path()).empty());
  }
  void ExpectInputsUnchanged() { EXPECT_EQ(FilesIn(inDir_.Path()), before_); }

  HWND page_ = nullptr;
  TempDir inDir_, outDir_;
  std::vector<std::string> inputs_;
  std::string destination_;
  Files before_;
};

TEST_F(JoinFaults, ReadThatFailsInTheSecondFile) {
  Disk disk([&](FileOp op, const std::string& path, int64_t position, size_t n) -> int64_t {
    return op == FileOp::Read && path == inputs_[1] && position >= 4000 ? -1 : static_cast<int64_t>(n);
  });
  ExpectFileError();
  ExpectInputsUnchanged();
  EXPECT_GT(disk.Faults(), 0);
}

TEST_F(JoinFaults, EveryReadAndWriteThatFails) {
  // Each file is examined before its copy (its tag, its first frame): a read
  // that fails there is a failed run as much as one during the copy.
  struct Kind {
    const char* what;
    FileOp op;
    bool shortWrite;
  };
  for (const Kind& kind : {Kind{"read fails", FileOp::Read, false}, Kind{"write fails", FileOp::Write, false},
                           Kind{"write comes up short", FileOp::Write, true}}) {
    int k = 0;
    for (;; ++k) {
      SCOPED_TRACE(std::string(kind.what) + ", operation " + std::to_string(k));
      ASSERT_LT(k, 80) << "the run never got through";
      NthFault fault(kind.op, k, kind.shortWrite);
      Disk disk(fault.Answer());
      CapturedBox box = RunToItsMessage(page_);
      ExpectIdle(page_, "Merge Tracks");
      ExpectInputsUnchanged();
      if (!fault.fired) {
        EXPECT_EQ(box.text, kJoinCompleted);
        break;
      }
      ExpectWarning(box, page_, kJoinFileError);
      EXPECT_NE(box.text, kJoinCompleted) << fault.size << " bytes at " << fault.position << " of " << fault.path;
    }
    EXPECT_GT(k, 1) << kind.what;
  }
}

TEST_F(JoinFaults, WriteThatFailsOrFillsTheDisk) {
  struct Case {
    const char* what;
    Disk::Answer answer;
  };
  const Case cases[] = {
      {"the first write fails",
       [](FileOp op, const std::string&, int64_t, size_t n) -> int64_t {
         return op == FileOp::Write ? -1 : static_cast<int64_t>(n);
       }},
      {"the disk fills up in the second file", FullAfter(40000)},
      {"the disk fills up with the last byte", FullAfter(1)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Disk disk(c.answer);
    ExpectFileError();
    ExpectInputsUnchanged();
    EXPECT_GT(disk.Faults(), 0);
  }
}

TEST_F(JoinFaults, FileThatVanishesDuringTheRun) {
  // The third file is deleted while the first is being copied.
  Disk disk([&](FileOp op, const std::string& path, int64_t, size_t n) -> int64_t {
    if (op == FileOp::Write) {
      std::error_code ec;
      std::filesystem::remove(inputs_[2], ec);
    }
    (void)path;
    return static_cast<int64_t>(n);
  });
  ExpectFileError();
  EXPECT_FALSE(std::filesystem::exists(inputs_[2]));
  before_.erase("part3.mp3");
  ExpectInputsUnchanged();
}

TEST_F(JoinFaults, DestinationThatCannotBeCreated) {
  Disk disk([&](FileOp op, const std::string& path, int64_t, size_t n) -> int64_t {
    return op == FileOp::Create && path == destination_ ? -1 : static_cast<int64_t>(n);
  });
  ExpectFileError();
  ExpectInputsUnchanged();
  EXPECT_FALSE(std::filesystem::exists(destination_));
}

// ---- quitting the real program while a split runs --------------------------

std::string ProgramPath() {
  char self[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  std::string path = self;
  return path.substr(0, path.find_last_of("\\/") + 1) + "snipwise.exe";
}

struct FoundWindow {
  DWORD pid;
  std::string caption;
  HWND window;
};

// A visible top-level window of another process with the given caption.
HWND FindProcessWindow(DWORD pid, const std::string& caption) {
  FoundWindow found{pid, caption, nullptr};
  EnumWindows(
      [](HWND window, LPARAM param) -> BOOL {
        auto* f = reinterpret_cast<FoundWindow*>(param);
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner != f->pid || !IsWindowVisible(window)) return TRUE;
        char text[256] = {};
        GetWindowTextA(window, text, sizeof text);
        if (f->caption != text) return TRUE;
        f->window = window;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found.window;
}

bool WaitFor(const std::function<bool()>& condition, int timeoutMs) {
  for (int waited = 0; waited < timeoutMs; waited += 20) {
    if (condition()) return true;
    Sleep(20);
  }
  return condition();
}

// The page of the main window that holds control `id`.
HWND PageWith(HWND main, int id) {
  struct Search {
    int id;
    HWND page;
  } search{id, nullptr};
  EnumChildWindows(
      main,
      [](HWND child, LPARAM param) -> BOOL {
        auto* s = reinterpret_cast<Search*>(param);
        if (GetParent(child) != GetAncestor(child, GA_ROOT) || !GetDlgItem(child, s->id)) return TRUE;
        s->page = child;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.page;
}

std::string RemoteText(HWND dialog, int id) {
  char text[256] = {};
  SendDlgItemMessageA(dialog, id, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
  return text;
}

void RemoteSetText(HWND window, const std::string& text) {
  SendMessageA(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

// The real program in a process of its own, driven through its windows.
class QuitWhileRunning : public ::testing::Test {
 protected:
  void TearDown() override {
    if (!process_.hProcess) return;
    if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(process_.hProcess, 99);
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
  }

  void Launch() {
    std::string program = ProgramPath();
    ASSERT_TRUE(std::filesystem::exists(program)) << program;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    std::string commandLine = "\"" + program + "\"";
    ASSERT_TRUE(CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &process_));
    ASSERT_TRUE(WaitFor(
        [&] { return (main_ = FindProcessWindow(process_.dwProcessId, "MP3 Snipwise v1.5")) != nullptr; }, 20000));
  }

  // Waits until the status reads "<prefix>nnn]" with nnn at least `count`.
  bool WaitForStatus(HWND page, const std::string& prefix, int count) {
    return WaitFor(
        [&] {
          std::string status = RemoteText(page, IDC_PAGE_STATUS);
          return status.compare(0, prefix.size(), prefix) == 0 && std::atoi(status.c_str() + prefix.size()) >= count;
        },
        20000);
  }

  // Closes the main window as its close box would and expects the program
  // to end at once with exit code 0 (a crash ends it with an exception code).
  void CloseAndExpectCleanEnd() {
    PostMessageA(main_, WM_CLOSE, 0, 0);
    ASSERT_EQ(WaitForSingleObject(process_.hProcess, 30000), WAIT_OBJECT_0) << "the program did not end";
    DWORD exitCode = 12345;
    ASSERT_TRUE(GetExitCodeProcess(process_.hProcess, &exitCode));
    EXPECT_EQ(exitCode, 0u) << "exit code " << std::hex << exitCode;
  }

  PROCESS_INFORMATION process_ = {};
  HWND main_ = nullptr;
};

TEST_F(QuitWhileRunning, ClosingTheWindowDuringASplitEndsTheProgramCleanly) {
  TempDir sourceDir, outDir;
  // Five minutes at 32 kbit/s, cut every hundredth: thousands of one-frame
  // tracks, so the run is still going when the window closes.
  snip::test::FrameShape shape;
  shape.bitrateIndex = 1;
  shape.sampleRateIndex = 2;  // 32 kHz: 144-byte frames
  Bytes source = snip::test::MakeStream(shape, 300 * 1000 / 36);
  snip::test::Append(source, snip::test::MakeId3v1Tag("Long"));
  std::string sourcePath = sourceDir.File("long.mp3");
  snip::test::WriteBytes(sourcePath, source);

  ASSERT_NO_FATAL_FAILURE(Launch());
  HWND split = PageWith(main_, IDC_SPLIT_BROWSE);
  ASSERT_NE(split, nullptr);

  // Choose the source through the program's own open dialog, so that its
  // scan runs.
  PostMessageA(GetDlgItem(split, IDC_SPLIT_BROWSE), BM_CLICK, 0, 0);
  HWND open = nullptr;
  ASSERT_TRUE(WaitFor(
      [&] { return (open = FindProcessWindow(process_.dwProcessId, "Select An MP3 Source File")) != nullptr; }, 20000));
  Sleep(300);
  HWND edit = nullptr;
  if (HWND combo = GetDlgItem(open, 1148)) {
    HWND inner = FindWindowExA(combo, nullptr, "ComboBox", nullptr);
    edit = FindWindowExA(inner ? inner : combo, nullptr, "Edit", nullptr);
  }
  if (!edit) edit = GetDlgItem(open, 1152);
  ASSERT_NE(edit, nullptr);
  RemoteSetText(edit, sourcePath);
  PostMessageA(open, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(open, IDOK)));
  ASSERT_TRUE(WaitFor([&] { return RemoteText(split, IDC_SPLIT_SOURCE) == sourcePath; }, 20000));

  RemoteSetText(GetDlgItem(split, IDC_SPLIT_FOLDER), outDir.Path());
  RemoteSetText(GetDlgItem(split, IDC_SPLIT_TIME), "000:00.01");
  SendMessageA(GetDlgItem(split, IDC_SPLIT_ADD_TIME), BM_CLICK, 0, 0);
  SendMessageA(GetDlgItem(split, IDC_SPLIT_EQUAL), BM_SETCHECK, BST_CHECKED, 0);
  ASSERT_EQ(SendDlgItemMessageA(split, IDC_SPLIT_LIST, LB_GETCOUNT, 0, 0), 2);

  PostMessageA(GetDlgItem(split, IDC_SPLIT_ACTION), BM_CLICK, 0, 0);
  ASSERT_TRUE(WaitForStatus(split, "Status: Creating... [", 5)) << RemoteText(split, IDC_PAGE_STATUS);
  EXPECT_EQ(RemoteText(split, IDC_SPLIT_ACTION), "Cancel");

  ASSERT_NO_FATAL_FAILURE(CloseAndExpectCleanEnd());
  EXPECT_EQ(snip::test::ReadBytes(sourcePath), source);
  // Only finished tracks are left, each with its tag.
  Files tracks = FilesIn(outDir.Path());
  EXPECT_GE(tracks.size(), 5u);
  EXPECT_LT(tracks.size(), 8000u) << "the run was over before the window closed";
  const Bytes tag(source.end() - 128, source.end());
  for (const auto& [name, bytes] : tracks) {
    EXPECT_TRUE(bytes.size() > 128 && Bytes(bytes.end() - 128, bytes.end()) == tag) << name << " is unfinished";
  }
}

TEST_F(QuitWhileRunning, ClosingTheWindowDuringALargeJoinEndsPromptlyAndLeavesNothing) {
  TempDir inDir, outDir;
  // 256 MB of audio: the window closes while its first copy is under way.
  Bytes audio = snip::test::MakeStream({}, (1 << 20) / 417);
  std::string bigPath = inDir.File("big.mp3");
  {
    std::ofstream big(bigPath, std::ios::binary);
    for (int i = 0; i < 256; ++i) big.write(reinterpret_cast<const char*>(audio.data()), audio.size());
    Bytes tag = snip::test::MakeId3v1Tag("Big");
    big.write(reinterpret_cast<const char*>(tag.data()), tag.size());
    ASSERT_TRUE(big.good());
  }

  ASSERT_NO_FATAL_FAILURE(Launch());
  HWND merge = PageWith(main_, IDC_MERGE_CHOOSE);
  ASSERT_NE(merge, nullptr);
  HWND list = GetDlgItem(merge, IDC_MERGE_LIST);
  for (int i = 0; i < 2; ++i) SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(bigPath.c_str()));
  std::string destination = outDir.File("joined.mp3");
  RemoteSetText(GetDlgItem(merge, IDC_MERGE_DESTINATION), destination);

  PostMessageA(GetDlgItem(merge, IDC_MERGE_ACTION), BM_CLICK, 0, 0);
  ASSERT_TRUE(WaitForStatus(merge, "Status: Joining... [", 1)) << RemoteText(merge, IDC_PAGE_STATUS);
  EXPECT_EQ(RemoteText(merge, IDC_MERGE_ACTION), "Cancel");

  DWORD closed = GetTickCount();
  ASSERT_NO_FATAL_FAILURE(CloseAndExpectCleanEnd());
  EXPECT_LT(GetTickCount() - closed, 2000u) << "the program waited for the copy";
  // The unfinished join leaves nothing: no destination, no part of one.
  EXPECT_TRUE(FilesIn(outDir.Path()).empty());
  std::error_code ec;
  EXPECT_EQ(std::filesystem::file_size(bigPath, ec), 256u * audio.size() + 128);
}

}  // namespace
