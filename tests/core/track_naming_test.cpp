#include "split/track_naming.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace {

using snip::BuildTrackFileName;
using snip::IsDeviceName;
using snip::IsValidNameTemplate;
using snip::LiesDirectlyIn;

#ifdef _WIN32
constexpr char kSep = '\\';
constexpr char kOther = '/';
#else
constexpr char kSep = '/';
constexpr char kOther = '\\';
#endif

// Writes paths with "\" and turns them into this platform's form.
std::string P(std::string path) {
  std::replace(path.begin(), path.end(), '\\', kSep);
  return path;
}

const std::string kSource = P("C:\\Rips\\Night Set.live.mp3");
const std::string kOut = P("D:\\Out\\");

// The built path, or "failed" (then the result must be empty). Every built
// path lies directly in the folder.
std::string Name(const std::string& source, const std::string& folder, const std::string& nameTemplate,
                 const char* artist, const char* title, int n) {
  char result[snip::kPathChars];
  std::memset(result, 'z', sizeof result);
  if (!BuildTrackFileName(source.c_str(), folder.c_str(), nameTemplate.c_str(), artist, title, n, result)) {
    EXPECT_EQ(result[0], '\0');
    return "failed";
  }
  EXPECT_LT(std::strlen(result), snip::kPathChars);
  EXPECT_TRUE(LiesDirectlyIn(result, folder)) << result;
  return result;
}

std::string Name(const std::string& nameTemplate, const char* artist, const char* title, int n = 0) {
  return Name(kSource, kOut, nameTemplate, artist, title, n);
}

TEST(TrackNaming, WorkedExample) {
  EXPECT_EQ(Name("%file% %track% %artist% - %title%", "Band", "Song", 2), P("D:\\Out\\Night Set 03 Band - Song.mp3"));
  EXPECT_EQ(Name("%file% - %track%", "", ""), P("D:\\Out\\Night Set - 01.mp3"));
}

TEST(TrackNaming, BaseNameEndsAtTheFirstDotAfterTheLastSeparator) {
  const std::string t = "%file%";
  EXPECT_EQ(Name(P("C:\\Rips\\Night Set"), kOut, t, "", "", 0), P("D:\\Out\\Night Set.mp3"));
  EXPECT_EQ(Name("Night.Set.mp3", kOut, t, "", "", 0), P("D:\\Out\\Night.mp3"));
  EXPECT_EQ(Name(P("C:\\My.Rips\\v1.2\\Set"), kOut, t, "", "", 0), P("D:\\Out\\Set.mp3"));
  EXPECT_EQ(Name(P("C:\\Rips\\.hidden.mp3"), kOut, t, "", "", 0), P("D:\\Out\\.mp3"));
  EXPECT_EQ(Name(P("C:\\Rips\\"), kOut, t, "", "", 0), P("D:\\Out\\.mp3"));
  EXPECT_EQ(Name("", kOut, t, "", "", 0), P("D:\\Out\\.mp3"));
  // The other platform's separator and a drive colon are name text.
  std::string other = std::string("C:") + kOther + "Rips" + kOther + "Night.mp3";
  EXPECT_EQ(Name(other, kOut, t, "", "", 0), P("D:\\Out\\C__Rips_Night.mp3"));
  EXPECT_EQ(Name(other, "", t, "", "", 0), "C__Rips_Night.mp3");
}

TEST(TrackNaming, TrackNumbersHaveTwoDigitsUpTo99ThenThree) {
  EXPECT_EQ(Name("%track%", "", "", 0), P("D:\\Out\\01.mp3"));
  EXPECT_EQ(Name("%track%", "", "", 98), P("D:\\Out\\99.mp3"));
  EXPECT_EQ(Name("%track%", "", "", 99), P("D:\\Out\\100.mp3"));
  EXPECT_EQ(Name("%track%", "", "", 999), P("D:\\Out\\1000.mp3"));
  EXPECT_EQ(Name("%track%", "", "", -1), "failed");
}

TEST(TrackNaming, OnlyTheFirstFieldOfEachKindIsReplaced) {
  EXPECT_EQ(Name("%track%-%track%", "", "", 4), P("D:\\Out\\05-%track%.mp3"));
  EXPECT_EQ(Name("%file%%file%", "", ""), P("D:\\Out\\Night Set%file%.mp3"));
  EXPECT_EQ(Name("%artist% %artist% %title% %title%", "A", "T"), P("D:\\Out\\A %artist% T %title%.mp3"));
  // Without %track% every track gets the same name; ".mp3" is always added.
  EXPECT_EQ(Name("%file%", "", "", 0), Name("%file%", "", "", 7));
  EXPECT_EQ(Name("%file% - %track%.mp3", "", ""), P("D:\\Out\\Night Set - 01.mp3.mp3"));
  EXPECT_EQ(Name("%artist%-%title%", nullptr, nullptr), P("D:\\Out\\-.mp3"));
}

TEST(TrackNaming, FieldsAreReplacedInTheTemplateAloneAndTheFolderKeepsItsText) {
  // The artist's %title% comes first, so it takes the title.
  EXPECT_EQ(Name("%artist% - %title%", "A %title%", "T"), P("D:\\Out\\A T - %title%.mp3"));
  EXPECT_EQ(Name("%title% %artist%", "A", "T %artist%"), P("D:\\Out\\T %artist% A.mp3"));
  EXPECT_EQ(Name(P("C:\\%artist%.mp3"), kOut, "%file% %artist%", "A", "", 0), P("D:\\Out\\A %artist%.mp3"));
  // A folder whose name holds fields is left as it is.
  const std::string folder = P("D:\\%track%\\%title%\\..\\x\\");
  EXPECT_EQ(Name(kSource, folder, "%file% %track% %title%", "", "T", 1), folder + "Night Set 02 T.mp3");
}

TEST(TrackNaming, ArtistsAndTitlesAreNeverAPath) {
  // Separators, parent steps and drive letters stay in the one file name.
  EXPECT_EQ(Name("%track% %title%", "", "x\\..\\..\\..\\victim", 1), P("D:\\Out\\02 x_.._.._.._victim.mp3"));
  EXPECT_EQ(Name("%title%", "", "../../etc/passwd"), P("D:\\Out\\.._.._etc_passwd.mp3"));
  EXPECT_EQ(Name("%title%", "", "..\\"), P("D:\\Out\\.._.mp3"));
  EXPECT_EQ(Name("%artist%%title%", "C:", "\\Windows\\x"), P("D:\\Out\\C__Windows_x.mp3"));
  EXPECT_EQ(Name("%track% - %artist% - %title%", "AC/DC", "What's the Frequency, Kenneth?"),
            P("D:\\Out\\01 - AC_DC - What's the Frequency, Kenneth_.mp3"));
  // Every character a Windows name cannot hold, controls included.
  EXPECT_EQ(Name("%title%", "", "a\\b/c:d*e?f\"g<h>i|j\x01k\tl\x1fm\x7fn"),
            P("D:\\Out\\a_b_c_d_e_f_g_h_i_j_k_l_m_n.mp3"));
  // Trailing dots and spaces of an artist or title are dropped; a name made
  // only of them is empty. Other text, UTF-8 included, is kept.
  EXPECT_EQ(Name("%artist% - %title%", "Band. . ", "Wait..."), P("D:\\Out\\Band - Wait.mp3"));
  EXPECT_EQ(Name("%track%%title%", "", ".."), P("D:\\Out\\01.mp3"));
  EXPECT_EQ(Name("%title%", "", "Caf\xC3\xA9 ...ok"), P("D:\\Out\\Caf\xC3\xA9 ...ok.mp3"));
}

TEST(TrackNaming, DeviceNamesGetALeadingUnderscore) {
  EXPECT_EQ(Name("%title%", "", "Nul.Points"), P("D:\\Out\\_Nul.Points.mp3"));
  EXPECT_EQ(Name("%artist%", "Aux.Cable", ""), P("D:\\Out\\_Aux.Cable.mp3"));
  EXPECT_EQ(Name("%title%", "", "con"), P("D:\\Out\\_con.mp3"));
  EXPECT_EQ(Name("%title%%track%", "", "LPT", 8), P("D:\\Out\\LPT09.mp3"));
  for (const char* device :
       {"CON", "prn", "Aux", "nUl", "COM1", "com9", "LPT1", "lpt9", "NUL ", "nul .x.y", "COM\xB9", "LPT\xC2\xB3"}) {
    EXPECT_TRUE(IsDeviceName(std::string(device) + ".mp3")) << device;
  }
  for (const char* name : {"CONSOLE", "NULL", "COM10", "LPT", "COMA", "AU", "_NUL", " NUL", "01 NUL", ""}) {
    EXPECT_FALSE(IsDeviceName(std::string(name) + ".mp3")) << name;
  }
  // The template's own text is held to the same rule.
  EXPECT_EQ(Name("prn", "", ""), P("D:\\Out\\_prn.mp3"));
}

TEST(TrackNaming, TheLimitCountsThePathAsBuilt) {
  // D:\Out\ (7) + name + ".mp3" (4): 248 characters of name make 259.
  EXPECT_EQ(Name(std::string(248, 'n'), "", "").size(), 259u);
  EXPECT_EQ(Name(std::string(249, 'n'), "", ""), "failed");
  // The number counts, not "%track%": 246 + 2 makes 259, 246 + 3 is too long.
  EXPECT_EQ(Name(std::string(246, 'n') + "%track%", "", "", 98).size(), 259u);
  EXPECT_EQ(Name(std::string(246, 'n') + "%track%", "", "", 99), "failed");
  std::string longText(1000, 'a');
  EXPECT_EQ(Name("%artist%", longText.c_str(), ""), "failed");
  EXPECT_EQ(Name("%title%", "", longText.c_str()), "failed");
  EXPECT_EQ(Name(P("C:\\") + std::string(400, 's') + ".mp3", kOut, "%file%", "", "", 0), "failed");
  // Dropped trailing dots and the device name's "_" count as they end up.
  EXPECT_EQ(Name(std::string(244, 'n') + "%title%", "", "ab....").size(), 257u);
  EXPECT_EQ(Name(kSource, kOut, "%title%", "", "NUL", 0).size(), 7u + 1 + 3 + 4);
  EXPECT_EQ(Name(kSource, std::string(250, 'd') + kSep, "%title%", "", "NUL", 0).size(), 259u);
  EXPECT_EQ(Name(kSource, std::string(251, 'd') + kSep, "%title%", "", "NUL", 0), "failed");
}

TEST(TrackNaming, APathLiesDirectlyInItsFolderOrNot) {
  const std::string out = kOut;
  EXPECT_TRUE(LiesDirectlyIn(out + "a.mp3", out));
  EXPECT_TRUE(LiesDirectlyIn("a.mp3", ""));
  EXPECT_TRUE(LiesDirectlyIn(out + "..a.mp3", out));
  EXPECT_FALSE(LiesDirectlyIn(out, out));
  EXPECT_FALSE(LiesDirectlyIn(out + "..", out));
  EXPECT_FALSE(LiesDirectlyIn(out + ".", out));
  EXPECT_FALSE(LiesDirectlyIn(out + "x" + kSep + "a.mp3", out));
  EXPECT_FALSE(LiesDirectlyIn(out + "x/a.mp3", out));
  EXPECT_FALSE(LiesDirectlyIn(P("D:\\Other\\a.mp3"), out));
  EXPECT_FALSE(LiesDirectlyIn(P("D:\\Outer\\a.mp3"), P("D:\\Out")));
#ifdef _WIN32
  EXPECT_FALSE(LiesDirectlyIn(out + "C:a.mp3", out));
  EXPECT_FALSE(LiesDirectlyIn(out + "a.mp3:stream", out));
#endif
}

TEST(TrackNaming, TemplateCharacters) {
  for (const char* ok : {"%file% - %track%", "", "%artist% - %title% (live) [1] {x} 'a' & b.c", "tab\there"}) {
    EXPECT_TRUE(IsValidNameTemplate(ok)) << ok;
  }
  for (char c : std::string("\\/:*?\"<>|")) {
    std::string text = std::string("%file% ") + c + " %track%";
    EXPECT_FALSE(IsValidNameTemplate(text.c_str())) << c;
    EXPECT_FALSE(IsValidNameTemplate(std::string(1, c).c_str())) << c;
  }
}

}  // namespace
