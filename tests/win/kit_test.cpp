// The GUI test kit itself, against the real main window and real system
// dialogs under Wine: if these fail, every other GUI test is suspect.
#include "support/win/gui_kit.h"

#include <commdlg.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <thread>

#include "resource_ids.h"
#include "support/mpeg_frames.h"

using namespace snip::gui;

TEST(GuiKit, MainWindowFromTheProgramsResources) {
  AppWindow app;
  ASSERT_NE(app.Main(), nullptr);
  EXPECT_EQ(Text(app.Main()), "MP3 Snipwise v1.5");
  char cls[64] = {};
  GetClassNameA(GetDlgItem(app.Main(), IDC_MAIN_TABS), cls, sizeof(cls));
  EXPECT_STREQ(cls, "SysTabControl32");
  EXPECT_NE(app.Split(), nullptr);
  EXPECT_NE(app.Merge(), nullptr);
}

TEST(GuiKit, CapturesMessageBoxesOfAnyThread) {
  AppWindow app;
  MessageBoxWatcher watcher;
  int result = MessageBoxA(app.Main(), "From the interface thread.", "MP3 Snipwise", MB_OK | MB_ICONWARNING);
  EXPECT_EQ(result, IDOK);
  std::atomic<bool> finished{false};
  std::thread worker([&] {
    MessageBoxA(app.Split(), "From a worker.", "MP3 Snipwise", MB_OK | MB_ICONINFORMATION);
    finished = true;
  });
  ASSERT_TRUE(watcher.WaitForCount(2));
  // The worker's box hands activation back to this thread's window when it
  // closes, so this thread keeps pumping until the worker has finished.
  EXPECT_TRUE(PumpUntil([&] { return finished.load(); }));
  worker.join();
  auto boxes = watcher.Boxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].text, "From the interface thread.");
  EXPECT_EQ(boxes[0].icon, MB_ICONWARNING);
  EXPECT_EQ(boxes[0].owner, app.Main());
  EXPECT_EQ(boxes[0].buttons, std::vector<int>{IDOK});
  EXPECT_EQ(boxes[1].text, "From a worker.");
  EXPECT_EQ(boxes[1].icon, MB_ICONINFORMATION);
  EXPECT_EQ(boxes[1].owner, app.Main());  // a page's box is owned by its top-level window
}

TEST(GuiKit, AnswersBoxesWithTheChosenButton) {
  MessageBoxWatcher watcher(IDNO);
  EXPECT_EQ(MessageBoxA(nullptr, "Go on?", "MP3 Snipwise", MB_YESNO), IDNO);
  ASSERT_EQ(watcher.Count(), 1u);
  EXPECT_EQ(watcher.Boxes()[0].icon, 0);
}

TEST(GuiKit, DrivesTheOpenDialog) {
  snip::test::TempDir dir;
  std::string path = dir.File("chosen.mp3");
  snip::test::WriteBytes(path, {1, 2, 3});
  AppWindow app;
  char buffer[260] = {};
  OPENFILENAMEA ofn = {};
  ofn.lStructSize = sizeof(ofn);
  ofn.hwndOwner = app.Split();
  ofn.lpstrFilter = "MP3 Files (*.mp3)\0*.mp3\0";
  ofn.lpstrFile = buffer;
  ofn.nMaxFile = sizeof(buffer);
  ofn.lpstrTitle = "Pick One";
  ofn.Flags = OFN_FILEMUSTEXIST;
  {
    FileDialogDriver driver("Pick One", {path});
    ASSERT_TRUE(GetOpenFileNameA(&ofn));
    EXPECT_TRUE(driver.Seen());
  }
  EXPECT_STRCASEEQ(buffer, path.c_str());
  {
    FileDialogDriver driver("Pick One", {}, true);
    buffer[0] = 0;
    EXPECT_FALSE(GetOpenFileNameA(&ofn));
    EXPECT_TRUE(driver.Seen());
  }
}

TEST(GuiKit, DrivesTheFolderBrowser) {
  snip::test::TempDir dir;
  std::string folder = dir.Path().substr(0, dir.Path().size() - 1);
  AppWindow app;
  FolderDialogDriver driver(folder);
  BROWSEINFOA info = {};
  info.hwndOwner = app.Split();
  info.lpszTitle = "Choose";
  info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
  PIDLIST_ABSOLUTE item = SHBrowseForFolderA(&info);
  ASSERT_NE(item, nullptr);
  char path[MAX_PATH] = {};
  EXPECT_TRUE(SHGetPathFromIDListA(item, path));
  CoTaskMemFree(item);
  EXPECT_STRCASEEQ(path, folder.c_str());
}
