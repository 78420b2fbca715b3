// Split and join with --tags, judged by mutagen: every track carries its own
// ID3v2.3 and ID3v1.1 tags around exactly the audio of the plain split, and
// a tagged join keeps the first input's ID3v2 tag and no other.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/run_process.h"
#include "support/mpeg_frames.h"
#include "support/tag_tools.h"
#include "tags/id3v2.h"

namespace snip::test {
namespace {

using Bytes = std::vector<uint8_t>;

std::string Corpus(const std::string& name) {
  std::string path = CorpusDir() + name;
  return std::filesystem::exists(path) ? path : std::string();
}

int64_t LeadingTagSize(const Bytes& bytes) { return Id3v2Size(bytes.data(), bytes.size()); }

bool EndsWithId3v1(const Bytes& bytes) {
  return bytes.size() >= 128 && std::equal(bytes.end() - 128, bytes.end() - 125, "TAG");
}

// The audio of a tagged track: between its ID3v2 tag and its ID3v1 tag.
Bytes Between(const Bytes& track) {
  int64_t lead = LeadingTagSize(track);
  EXPECT_GT(lead, 0);
  EXPECT_TRUE(EndsWithId3v1(track));
  if (lead <= 0 || track.size() < static_cast<size_t>(lead) + 128) return {};
  return Bytes(track.begin() + lead, track.end() - 128);
}

// A plain track less the source's ID3v1 tag copy, when the source has one.
Bytes PlainAudio(const Bytes& track, bool sourceTagged) {
  return sourceTagged ? Bytes(track.begin(), track.end() - 128) : track;
}

class TagsCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveMutagen()) GTEST_SKIP() << "python3-mutagen is not installed";
  }
  TempDir in_;
  TempDir plain_;
  TempDir tagged_;
};

// A source with a picture and a 2.4 tag, a CUE sheet with its own title and
// performer and tracks named in Latin-1, Cyrillic and CJK text.
TEST_F(TagsCliTest, CueNamedSplitGivesEveryTrackItsOwnTagsAroundThePlainSplitsAudio) {
  std::string corpus = Corpus("id3v2-picture.mp3");
  if (corpus.empty()) GTEST_SKIP() << "no corpus";
  std::string source = in_.File("Night Set.mp3");
  WriteBytes(source, ReadBytes(corpus));
  ASSERT_TRUE(RunPython(R"PY(
import sys
from mutagen.id3 import ID3, TALB, TDRC, TCON
t = ID3(sys.argv[1])
t.add(TALB(encoding=3, text=['Source album']))
t.add(TDRC(encoding=0, text=['2009-05-17']))
t.add(TCON(encoding=0, text=['Electronic']))
t.save(sys.argv[1], v2_version=4)
)PY",
                        {source}));
  JudgedTags sourceTags = ReadTagsWithMutagen(source);
  ASSERT_EQ(sourceTags.pictures.size(), 1u);
  const bool sourceHasV1 = EndsWithId3v1(ReadBytes(source));

  std::string sheet = in_.File("set.cue");
  std::string text =
      "PERFORMER \"Various\"\r\n"
      "TITLE \"Ночь в Токио — Live\"\r\n"
      "FILE \"Night Set.mp3\" MP3\r\n"
      "  TRACK 01 AUDIO\r\n    TITLE \"Café Noël, a title longer than thirty bytes\"\r\n"
      "    PERFORMER \"Ünal\"\r\n    INDEX 01 00:00:00\r\n"
      "  TRACK 02 AUDIO\r\n    TITLE \"Кино\"\r\n    PERFORMER \"Группа крови\"\r\n    INDEX 01 00:01:00\r\n"
      "  TRACK 03 AUDIO\r\n    TITLE \"東京の夜\"\r\n    INDEX 01 00:02:00\r\n";
  WriteBytes(sheet, Bytes(text.begin(), text.end()));

  ProcessResult plain = RunCli({"split", source, "--cue", sheet, "--folder", plain_.Path()});
  ASSERT_EQ(plain.status, 0) << plain.err;
  ProcessResult tagged = RunCli({"split", source, "--cue", sheet, "--folder", tagged_.Path(), "--tags"});
  ASSERT_EQ(tagged.status, 0) << tagged.err;

  struct Expected {
    const char* title;
    const char* artist;
    const char* v1Title;
    const char* v1Artist;
  } expected[] = {
      {"Café Noël, a title longer than thirty bytes", "Ünal", "Café Noël, a title longer than", "Ünal"},
      {"Кино", "Группа крови", "????", "?????? ?????"},
      {"東京の夜", "Various", "????", "Various"},
  };
  for (int k = 0; k < 3; ++k) {
    SCOPED_TRACE(k + 1);
    std::string name = "Night Set - 0" + std::to_string(k + 1) + ".mp3";
    std::string path = tagged_.File(name);
    JudgedTags tags = ReadTagsWithMutagen(path);
    ASSERT_TRUE(tags.ran);
    EXPECT_EQ(tags.version, 3);
    EXPECT_EQ(tags.text["TIT2"], expected[k].title);
    EXPECT_EQ(tags.text["TPE1"], expected[k].artist);
    EXPECT_EQ(tags.text["TRCK"], std::to_string(k + 1) + "/3");
    EXPECT_EQ(tags.text["TALB"], "Ночь в Токио — Live");
    EXPECT_EQ(tags.text["TPE2"], "Various");
    EXPECT_EQ(tags.text["TYER"], "2009");
    EXPECT_EQ(tags.text["TCON"], "Electronic");
    EXPECT_EQ(tags.encoding["TIT2"], k == 0 ? 0 : 1);
    ASSERT_EQ(tags.pictures.size(), 1u);
    EXPECT_EQ(tags.pictures[0].sha1, sourceTags.pictures[0].sha1);
    EXPECT_EQ(tags.pictures[0].mime, sourceTags.pictures[0].mime);
    // The track's own ID3v1.1 tag, not the source's.
    EXPECT_EQ(tags.v1["TIT2"], expected[k].v1Title);
    EXPECT_EQ(tags.v1["TPE1"], expected[k].v1Artist);
    EXPECT_EQ(tags.v1["TRCK"], std::to_string(k + 1));
    EXPECT_TRUE(Between(ReadBytes(path)) == PlainAudio(ReadBytes(plain_.File(name)), sourceHasV1))
        << "the audio differs from the plain split's";
  }
}

// Without an ID3v2 tag the source's ID3v1 tag gives what it has; unnamed
// lines give tracks without a title, by the source's artist.
TEST_F(TagsCliTest, SourceWithOnlyAnId3v1Tag) {
  std::string source = Corpus("id3v1.mp3");
  if (source.empty()) GTEST_SKIP() << "no corpus";
  ASSERT_EQ(LeadingTagSize(ReadBytes(source)), 0);
  ProcessResult plain = RunCli({"split", source, "--at", "0:01", "--folder", plain_.Path()});
  ASSERT_EQ(plain.status, 0) << plain.err;
  ProcessResult tagged = RunCli({"split", source, "--at", "0:01", "--folder", tagged_.Path(), "--tags"});
  ASSERT_EQ(tagged.status, 0) << tagged.err;
  for (int k = 0; k < 2; ++k) {
    SCOPED_TRACE(k + 1);
    std::string name = "id3v1 - 0" + std::to_string(k + 1) + ".mp3";
    JudgedTags tags = ReadTagsWithMutagen(tagged_.File(name));
    EXPECT_EQ(tags.version, 3);
    EXPECT_EQ(tags.text.count("TIT2"), 0u);
    EXPECT_EQ(tags.text["TPE1"], "Snipwise");
    EXPECT_EQ(tags.text["TRCK"], std::to_string(k + 1) + "/2");
    EXPECT_TRUE(tags.pictures.empty());
    EXPECT_EQ(tags.v1.count("TIT2"), 0u) << "the source's title was copied";
    EXPECT_EQ(tags.v1["TPE1"], "Snipwise");
    EXPECT_EQ(tags.v1["TRCK"], std::to_string(k + 1));
    EXPECT_TRUE(Between(ReadBytes(tagged_.File(name))) == PlainAudio(ReadBytes(plain_.File(name)), true));
  }
}

// A variable-bitrate track: its tag, then its own Xing frame, then its
// frames, the tag's "k/N" counting the tracks the cut makes.
TEST_F(TagsCliTest, VariableBitrateTracksHoldTheTagThenTheirXingFrame) {
  std::string source = Corpus("vbr.mp3");
  if (source.empty()) GTEST_SKIP() << "no corpus";
  const bool sourceHasV1 = EndsWithId3v1(ReadBytes(source));
  ProcessResult plain = RunCli({"split", source, "--at", "0:01", "--equal", "--folder", plain_.Path()});
  ASSERT_EQ(plain.status, 0) << plain.err;
  ProcessResult tagged = RunCli({"split", source, "--at", "0:01", "--equal", "--folder", tagged_.Path(), "--tags"});
  ASSERT_EQ(tagged.status, 0) << tagged.err;
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(tagged_.Path())) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  ASSERT_GE(names.size(), 2u);
  for (size_t k = 0; k < names.size(); ++k) {
    SCOPED_TRACE(names[k]);
    Bytes track = ReadBytes(tagged_.File(names[k]));
    Bytes audio = Between(track);
    EXPECT_TRUE(audio == PlainAudio(ReadBytes(plain_.File(names[k])), sourceHasV1));
    ASSERT_GT(audio.size(), 64u);
    EXPECT_NE(std::search(audio.begin(), audio.begin() + 64, std::begin("Xing"), std::end("Xing") - 1),
              audio.begin() + 64);
    JudgedTags tags = ReadTagsWithMutagen(tagged_.File(names[k]));
    EXPECT_EQ(tags.text["TRCK"], std::to_string(k + 1) + "/" + std::to_string(names.size()));
  }
}

// Each input's leading ID3v2 tag but the first's, picture and all, would
// otherwise sit inside the audio.
TEST_F(TagsCliTest, TaggedJoinKeepsOnlyTheFirstInputsId3v2Tag) {
  std::string first = Corpus("id3v2-picture.mp3"), second = Corpus("id3v2-utf16.mp3"), third = Corpus("mpeg1-128.mp3");
  if (first.empty() || second.empty() || third.empty()) GTEST_SKIP() << "no corpus";
  std::string plainJoin = plain_.File("joined.mp3"), taggedJoin = tagged_.File("joined.mp3");
  ASSERT_EQ(RunCli({"join", plainJoin, first, second, third}).status, 0);
  ProcessResult result = RunCli({"join", "--tags", taggedJoin, first, second, third});
  ASSERT_EQ(result.status, 0) << result.err;

  Bytes plain = ReadBytes(plainJoin), joined = ReadBytes(taggedJoin), firstBytes = ReadBytes(first);
  Bytes secondBytes = ReadBytes(second);
  int64_t firstTag = LeadingTagSize(firstBytes), secondTag = LeadingTagSize(secondBytes);
  ASSERT_GT(firstTag, 0);
  ASSERT_GT(secondTag, 0);
  EXPECT_TRUE(std::equal(firstBytes.begin(), firstBytes.begin() + firstTag, joined.begin()));
  // The plain join less the second input's tag.
  auto at = std::search(plain.begin() + firstTag, plain.end(), secondBytes.begin(), secondBytes.begin() + secondTag);
  ASSERT_NE(at, plain.end());
  plain.erase(at, at + secondTag);
  EXPECT_TRUE(joined == plain);
  for (size_t i = static_cast<size_t>(firstTag); i + 10 <= joined.size(); ++i) {
    ASSERT_EQ(Id3v2Size(joined.data() + i, 10), 0) << "an ID3v2 tag at " << i;
  }
  JudgedTags tags = ReadTagsWithMutagen(taggedJoin);
  EXPECT_EQ(tags.text["TIT2"], "Picture");
}

}  // namespace
}  // namespace snip::test
