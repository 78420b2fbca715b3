#include "split/track_naming.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace {

using snip::BuildTrackFileName;
using snip::IsValidNameTemplate;

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

// The built name, or "failed" (then the result must be empty).
std::string Name(const std::string& source, const std::string& pathTemplate, const char* artist, const char* title,
                 int n) {
  char result[snip::kPathChars];
  std::memset(result, 'z', sizeof result);
  if (!BuildTrackFileName(source.c_str(), pathTemplate.c_str(), artist, title, n, result)) {
    EXPECT_EQ(result[0], '\0');
    return "failed";
  }
  EXPECT_LT(std::strlen(result), snip::kPathChars);
  return result;
}

const std::string kSource = P("C:\\Rips\\Night Set.live.mp3");
const std::string kOut = P("D:\\Out\\");

TEST(TrackNaming, WorkedExample) {
  EXPECT_EQ(Name(kSource, kOut + "%file% %track% %artist% - %title%", "Band", "Song", 2),
            P("D:\\Out\\Night Set 03 Band - Song.mp3"));
  EXPECT_EQ(Name(kSource, kOut + "%file% - %track%", "", "", 0), P("D:\\Out\\Night Set - 01.mp3"));
}

TEST(TrackNaming, BaseNameEndsAtTheFirstDotAfterTheLastSeparator) {
  const std::string t = kOut + "%file%";
  EXPECT_EQ(Name(P("C:\\Rips\\Night Set"), t, "", "", 0), P("D:\\Out\\Night Set.mp3"));
  EXPECT_EQ(Name("Night.Set.mp3", t, "", "", 0), P("D:\\Out\\Night.mp3"));
  EXPECT_EQ(Name("Night Set", t, "", "", 0), P("D:\\Out\\Night Set.mp3"));
  EXPECT_EQ(Name(P("C:\\My.Rips\\v1.2\\Set"), t, "", "", 0), P("D:\\Out\\Set.mp3"));
  EXPECT_EQ(Name(P("C:\\Rips\\.hidden.mp3"), t, "", "", 0), P("D:\\Out\\.mp3"));
  EXPECT_EQ(Name(P("C:\\Rips\\"), t, "", "", 0), P("D:\\Out\\.mp3"));
  EXPECT_EQ(Name("", t, "", "", 0), P("D:\\Out\\.mp3"));
  // Only this platform's separator divides folders.
  std::string other = std::string("C:") + kOther + "Rips" + kOther + "Night.mp3";
  EXPECT_EQ(Name(other, t, "", "", 0), P("D:\\Out\\") + "C:" + kOther + "Rips" + kOther + "Night.mp3");
}

TEST(TrackNaming, TrackNumbersHaveTwoDigitsUpTo99ThenThree) {
  const std::string t = kOut + "%track%";
  EXPECT_EQ(Name(kSource, t, "", "", 0), P("D:\\Out\\01.mp3"));
  EXPECT_EQ(Name(kSource, t, "", "", 8), P("D:\\Out\\09.mp3"));
  EXPECT_EQ(Name(kSource, t, "", "", 98), P("D:\\Out\\99.mp3"));
  EXPECT_EQ(Name(kSource, t, "", "", 99), P("D:\\Out\\100.mp3"));
  EXPECT_EQ(Name(kSource, t, "", "", 100), P("D:\\Out\\101.mp3"));
  EXPECT_EQ(Name(kSource, t, "", "", 999), P("D:\\Out\\1000.mp3"));
  EXPECT_EQ(Name(kSource, t, "", "", -1), "failed");
}

TEST(TrackNaming, OnlyTheFirstFieldOfEachKindIsReplaced) {
  EXPECT_EQ(Name(kSource, kOut + "%track%-%track%", "", "", 4), P("D:\\Out\\05-%track%.mp3"));
  EXPECT_EQ(Name(kSource, kOut + "%file%%file%", "", "", 0), P("D:\\Out\\Night Set%file%.mp3"));
  EXPECT_EQ(Name(kSource, kOut + "%artist% %artist% %title% %title%", "A", "T", 0),
            P("D:\\Out\\A %artist% T %title%.mp3"));
  // Without %track% every track gets the same name; ".mp3" is always added.
  EXPECT_EQ(Name(kSource, kOut + "%file%", "", "", 0), Name(kSource, kOut + "%file%", "", "", 7));
  EXPECT_EQ(Name(kSource, kOut + "%file% - %track%.mp3", "", "", 0), P("D:\\Out\\Night Set - 01.mp3.mp3"));
  EXPECT_EQ(Name(kSource, kOut + "plain", "", "", 0), P("D:\\Out\\plain.mp3"));
}

TEST(TrackNaming, EachStepSearchesWhatTheStepBeforeProduced) {
  // The artist's %title% comes first, so it takes the title.
  EXPECT_EQ(Name(kSource, kOut + "%artist% - %title%", "A %title%", "T", 0), P("D:\\Out\\A T - %title%.mp3"));
  // A title holding %artist% stays as it is: the artist was replaced before.
  EXPECT_EQ(Name(kSource, kOut + "%title% %artist%", "A", "T %artist%", 0), P("D:\\Out\\T %artist% A.mp3"));
  // The file name's fields are replaced before the artist is put in.
  EXPECT_EQ(Name(P("C:\\%artist%.mp3"), kOut + "%file% %artist%", "A", "", 0), P("D:\\Out\\A %artist%.mp3"));
  // The folder is searched like the template.
  EXPECT_EQ(Name(kSource, P("D:\\%title%\\") + "%file% - %title%", "", "T", 0), P("D:\\T\\Night Set - %title%.mp3"));
  EXPECT_EQ(Name(kSource, P("D:\\%track%\\") + "%file% %track%", "", "", 1), P("D:\\02\\Night Set %track%.mp3"));
  // The artist and title are not checked here: the file creation refuses them.
  EXPECT_EQ(Name(kSource, kOut + "%artist%", "AC/DC: *", "", 0), P("D:\\Out\\AC/DC: *.mp3"));
}

TEST(TrackNaming, UnnamedAndMissingArtistAndTitleAreEmpty) {
  EXPECT_EQ(Name(kSource, kOut + "%artist%-%title%", nullptr, nullptr, 0), P("D:\\Out\\-.mp3"));
  EXPECT_EQ(Name(kSource, kOut + "%artist%-%title%", "", "", 0), P("D:\\Out\\-.mp3"));
}

TEST(TrackNaming, NamesLongerThan259CharactersAreRefused) {
  // D:\Out\ (7) + name + ".mp3" (4): 248 characters of name make 259.
  std::string name248(248, 'n');
  EXPECT_EQ(Name(kSource, kOut + name248, "", "", 0).size(), 259u);
  EXPECT_EQ(Name(kSource, kOut + name248 + "n", "", "", 0), "failed");
  // Fields that grow the name past the limit.
  EXPECT_EQ(Name(kSource, kOut + std::string(240, 'n') + "%track%", "", "", 0).size(), 253u);
  EXPECT_EQ(Name(kSource, kOut + std::string(246, 'n') + "%track%", "", "", 99), "failed");  // 260 with "100"
  std::string longArtist(1000, 'a');
  EXPECT_EQ(Name(kSource, kOut + "%artist%", longArtist.c_str(), "", 0), "failed");
  EXPECT_EQ(Name(kSource, kOut + "%title%", "", longArtist.c_str(), 0), "failed");
  std::string longSource = P("C:\\") + std::string(400, 's') + ".mp3";
  EXPECT_EQ(Name(longSource, kOut + "%file%", "", "", 0), "failed");
  // What counts is the finished name: on the way it is 263 characters long,
  // and the empty artist shortens it to 7 + 9 + 239 + 4 = 259.
  std::string grows = kOut + "%file%" + std::string(239, 'n') + "%artist%";
  EXPECT_EQ(Name(kSource, grows, "", "", 0).size(), 259u);
  EXPECT_EQ(Name(kSource, grows, "a", "", 0), "failed");
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
