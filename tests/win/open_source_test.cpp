// Choosing a source for the Split page: the scan through the real page,
// what the page shows, and the refusal boxes.
#include "split/win/open_source.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/property_list.h"
#include "mpeg/frame_header.h"
#include "mpeg/source_scan.h"
#include "resource_ids.h"
#include "support/mpeg_frames.h"
#include "support/win/gui_kit.h"

namespace {

using namespace snip::gui;
using snip::test::FrameShape;
using Bytes = std::vector<uint8_t>;

const char kNotLayer3[] = "The MP3 you have selected to split cannot be used because it is not an MPEG Layer III file.";
const char kUnusable[] = "The file you chose was either invalid, corrupted, or could not be opened at this time.";

struct Values {
  int32_t bitrate = -1, index = -1, first = -1;
  bool operator==(const Values&) const = default;
};

Values StoredValues(PropertyEntry* list) {
  Values v;
  ReadScanValue(list, kPropBitRate, &v.bitrate);
  ReadScanValue(list, kPropBitRateBinary, &v.index);
  ReadScanValue(list, kPropFirstFrame, &v.first);
  return v;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto& part : parts) snip::test::Append(out, part);
  return out;
}

class OpenSourceTest : public testing::Test {
 protected:
  std::string Write(const std::string& name, const Bytes& bytes) {
    std::string path = dir_.File(name);
    snip::test::WriteBytes(path, bytes);
    return path;
  }
  snip::test::TempDir dir_;
  AppWindow app_;
};

TEST_F(OpenSourceTest, AcceptedSourceIsShownAndStored) {
  MessageBoxWatcher watcher;
  HWND page = app_.Split();
  EXPECT_EQ(Text(page, IDC_SPLIT_BITRATE), "Bit Rate: No File Chosen");
  FrameShape shape;
  shape.bitrateIndex = 5;  // 64 kbit/s
  std::string path = Write("plain.mp3", Concat({snip::test::MakeJunk(123), snip::test::MakeStream(shape, 8)}));
  EXPECT_EQ(OpenSource(page, path.c_str()), 1);
  EXPECT_EQ(Text(page, IDC_SPLIT_SOURCE), path);
  EXPECT_EQ(Text(page, IDC_SPLIT_BITRATE), "Bit Rate: 64 kbps");
  EXPECT_EQ(StoredValues(app_.List()), (Values{64, 5, 123}));

  // A second source replaces all three values.
  FrameShape low;
  low.versionBits = 0;
  low.bitrateIndex = 9;  // MPEG-2.5: 80 kbit/s
  std::string second = Write("second.mp3", snip::test::MakeStream(low, 8));
  EXPECT_EQ(OpenSource(page, second.c_str()), 1);
  EXPECT_EQ(Text(page, IDC_SPLIT_SOURCE), second);
  EXPECT_EQ(Text(page, IDC_SPLIT_BITRATE), "Bit Rate: 80 kbps");
  EXPECT_EQ(StoredValues(app_.List()), (Values{80, 9, 0}));
  int scanEntries = 0;
  for (PropertyEntry* e = app_.List(); e; e = e->next) scanEntries += e->id >= 1 && e->id <= 3;
  EXPECT_EQ(scanEntries, 3);
  EXPECT_EQ(watcher.Count(), 0u);
}

TEST_F(OpenSourceTest, RefusalsShowTheirBoxAndChangeNothing) {
  HWND page = app_.Split();
  std::string good = Write("good.mp3", snip::test::MakeStream(FrameShape{}, 5));
  ASSERT_EQ(OpenSource(page, good.c_str()), 1);
  const Values before = StoredValues(app_.List());

  FrameShape layer2;  // Layer II, 32 kbit/s: 104 bytes, as long as Layer III's
  layer2.layerBits = 2;
  layer2.bitrateIndex = 1;
  struct Case {
    const char* name;
    Bytes bytes;
    const char* text;
    int icon;
  };
  std::vector<Case> cases = {
      {"layer2.mp2", snip::test::MakeStream(layer2, 4), kNotLayer3, MB_ICONWARNING},
      {"junk.mp3", snip::test::MakeJunk(5000), kUnusable, MB_ICONINFORMATION},
      {"empty.mp3", {}, kUnusable, MB_ICONINFORMATION},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MessageBoxWatcher watcher;
    std::string path = Write(c.name, c.bytes);
    EXPECT_EQ(OpenSource(page, path.c_str()), 0);
    ASSERT_EQ(watcher.Count(), 1u);
    CapturedBox box = watcher.Boxes()[0];
    EXPECT_EQ(box.caption, "MP3 Snipwise");
    EXPECT_EQ(box.text, c.text);
    EXPECT_EQ(box.icon, c.icon);
    EXPECT_EQ(box.owner, nullptr);
    EXPECT_EQ(box.buttons, std::vector<int>{IDOK});
    EXPECT_EQ(Text(page, IDC_SPLIT_SOURCE), good);
    EXPECT_EQ(Text(page, IDC_SPLIT_BITRATE), "Bit Rate: 128 kbps");
    EXPECT_EQ(StoredValues(app_.List()), before);
  }
}

TEST_F(OpenSourceTest, FileThatCannotBeOpenedIsSilent) {
  MessageBoxWatcher watcher;
  HWND page = app_.Split();
  std::string missing = dir_.File("missing.mp3");
  EXPECT_EQ(OpenSource(page, missing.c_str()), 0);
  EXPECT_EQ(OpenSource(page, dir_.Path().c_str()), 0) << "a folder";
  EXPECT_EQ(watcher.Count(), 0u);
  EXPECT_EQ(Text(page, IDC_SPLIT_SOURCE), "");
  EXPECT_EQ(Text(page, IDC_SPLIT_BITRATE), "Bit Rate: No File Chosen");
  EXPECT_EQ(StoredValues(app_.List()), Values{});
}

TEST_F(OpenSourceTest, NonAsciiFileName) {
  // The program declares UTF-8 as its code page, so narrow paths are UTF-8.
  ASSERT_EQ(GetACP(), 65001u);
  MessageBoxWatcher watcher;
  HWND page = app_.Split();
  // "Überfahrt – 東京.mp3"
  std::string path = dir_.File(
      "\xC3\x9C"
      "berfahrt \xE2\x80\x93 \xE6\x9D\xB1\xE4\xBA\xAC.mp3");
  Bytes bytes = snip::test::MakeStream(FrameShape{}, 4);
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
  CloseHandle(h);
  // The name on disk is the intended one, not its bytes read as another code page.
  std::wstring wide = std::wstring(L"\u00DCberfahrt \u2013 \u6771\u4EAC.mp3");
  int n = MultiByteToWideChar(CP_UTF8, 0, dir_.Path().c_str(), -1, nullptr, 0);
  std::wstring wideDir(static_cast<size_t>(n - 1), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, dir_.Path().c_str(), -1, wideDir.data(), n);
  EXPECT_NE(GetFileAttributesW((wideDir + wide).c_str()), INVALID_FILE_ATTRIBUTES);

  EXPECT_EQ(OpenSource(page, path.c_str()), 1);
  EXPECT_EQ(Text(page, IDC_SPLIT_SOURCE), path);
  EXPECT_EQ(Text(page, IDC_SPLIT_BITRATE), "Bit Rate: 128 kbps");
  EXPECT_EQ(watcher.Count(), 0u);
}

TEST_F(OpenSourceTest, TaggedEncoderOutput) {
  std::string corpus = snip::test::CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "no corpus";
  MessageBoxWatcher watcher;
  HWND page = app_.Split();
  std::string path = corpus + "mpeg2-64-tagged.mp3";
  Bytes bytes = snip::test::ReadBytes(path);
  ASSERT_GT(bytes.size(), 10u);
  EXPECT_EQ(OpenSource(page, path.c_str()), 1);
  EXPECT_EQ(Text(page, IDC_SPLIT_BITRATE), "Bit Rate: 64 kbps");
  // First Frame is the first audio frame: after the tag and the Info frame.
  int64_t tag = snip::Id3v2TagSize(bytes.data(), bytes.size());
  ASSERT_GT(tag, 0);
  EXPECT_EQ(StoredValues(app_.List()).first, tag + snip::Layer3FrameLength(bytes.data() + tag));
  int32_t variable = -1;
  EXPECT_TRUE(ReadScanValue(app_.List(), kPropVariableBitRate, &variable));
  EXPECT_EQ(variable, 0);

  // A VBR file is taken, with its average bit rate.
  std::string vbr = corpus + "vbr.mp3";
  snip::File file = snip::File::OpenRead(vbr);
  snip::ScanResult scan = snip::SourceScan(file);
  file.Close();
  ASSERT_TRUE(scan.variableBitrate);
  EXPECT_EQ(OpenSource(page, vbr.c_str()), 1);
  EXPECT_EQ(watcher.Count(), 0u);
  EXPECT_EQ(Text(page, IDC_SPLIT_SOURCE), vbr);
  EXPECT_EQ(Text(page, IDC_SPLIT_BITRATE), "Bit Rate: VBR, about " + std::to_string(scan.bitrate) + " kbps");
  EXPECT_TRUE(ReadScanValue(app_.List(), kPropVariableBitRate, &variable));
  EXPECT_EQ(variable, 1);
  EXPECT_EQ(StoredValues(app_.List()).first, scan.audioStart);
}

}  // namespace
