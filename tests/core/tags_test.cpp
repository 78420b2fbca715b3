// The tag reader and writer, judged by mutagen where a judge is needed: tags
// written here read back right elsewhere, tags written elsewhere (and by hand,
// for the forms no current writer makes) read right here, and damaged tags
// give what can be read.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/tag_tools.h"
#include "tags/id3v1.h"
#include "tags/id3v2.h"

namespace snip {
namespace {

using Bytes = std::vector<uint8_t>;
using test::HaveMutagen;
using test::JudgedTags;
using test::ReadTagsWithMutagen;
using test::RunPython;
using test::Sha1Hex;

std::string Scratch(const std::string& name) {
  auto dir = std::filesystem::temp_directory_path() / ("snip-tags-test-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
  std::filesystem::create_directories(dir);
  return (dir / name).string();
}

void WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                              static_cast<std::streamsize>(bytes.size()));
}

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Picture bytes with the pairs that unsynchronisation is about.
Bytes PictureBytes() {
  Bytes b = {0x89, 'P', 'N', 'G', 0xFF, 0x00, 0xFF, 0xE0, 0x00, 0xFF};
  for (int i = 0; i < 300; ++i) b.push_back(static_cast<uint8_t>(i * 7));
  return b;
}

TagInfo SampleTag() {
  TagInfo info;
  info.title = "Café Noël";                   // Latin-1
  info.artist = "Кино";                       // Cyrillic
  info.album = "東京の夜 — Live";             // CJK and a dash Latin-1 lacks
  info.albumArtist = "Ünal Ørsted";
  info.year = "2009";
  info.genre = "Rock";
  info.track = "3/12";
  TagPicture picture;
  picture.mime = "image/png";
  picture.type = 3;
  picture.description = "Обложка";
  picture.data = PictureBytes();
  info.pictures.push_back(picture);
  return info;
}

void ExpectSameTag(const TagInfo& a, const TagInfo& b) {
  EXPECT_EQ(a.title, b.title);
  EXPECT_EQ(a.artist, b.artist);
  EXPECT_EQ(a.album, b.album);
  EXPECT_EQ(a.albumArtist, b.albumArtist);
  EXPECT_EQ(a.year, b.year);
  EXPECT_EQ(a.genre, b.genre);
  EXPECT_EQ(a.track, b.track);
  ASSERT_EQ(a.pictures.size(), b.pictures.size());
  for (size_t i = 0; i < a.pictures.size(); ++i) {
    EXPECT_EQ(a.pictures[i].mime, b.pictures[i].mime);
    EXPECT_EQ(a.pictures[i].type, b.pictures[i].type);
    EXPECT_EQ(a.pictures[i].description, b.pictures[i].description);
    EXPECT_EQ(a.pictures[i].data, b.pictures[i].data);
  }
}

TEST(TagWriter, TagsReadBackByMutagenInLatin1WhereTheTextFitsElseUtf16) {
  const TagInfo info = SampleTag();
  Bytes tag = WriteId3v2(info);
  ASSERT_GT(tag.size(), 10u);
  ASSERT_EQ(Id3v2Size(tag.data(), tag.size()), static_cast<int64_t>(tag.size()));
  TagInfo again;
  ASSERT_TRUE(ReadId3v2(tag.data(), tag.size(), &again));
  ExpectSameTag(info, again);

  uint8_t v1[kId3v1Size];
  TagInfo longer = info;
  longer.title = "A title that runs well past thirty bytes";
  WriteId3v1(longer, 7, v1);
  Bytes file = tag;
  file.insert(file.end(), 417, 0x55);  // stands for the audio
  file.insert(file.end(), v1, v1 + kId3v1Size);
  const std::string path = Scratch("written.mp3");
  WriteFile(path, file);

  if (!HaveMutagen()) GTEST_SKIP() << "python3-mutagen is not installed";
  JudgedTags judged = ReadTagsWithMutagen(path);
  ASSERT_TRUE(judged.ran);
  EXPECT_EQ(judged.version, 3);
  EXPECT_EQ(judged.text["TIT2"], info.title);
  EXPECT_EQ(judged.text["TPE1"], info.artist);
  EXPECT_EQ(judged.text["TALB"], info.album);
  EXPECT_EQ(judged.text["TPE2"], info.albumArtist);
  EXPECT_EQ(judged.text["TYER"], "2009");
  EXPECT_EQ(judged.text["TCON"], "Rock");
  EXPECT_EQ(judged.text["TRCK"], "3/12");
  EXPECT_EQ(judged.encoding["TIT2"], 0);
  EXPECT_EQ(judged.encoding["TPE2"], 0);
  EXPECT_EQ(judged.encoding["TRCK"], 0);
  EXPECT_EQ(judged.encoding["TPE1"], 1);
  EXPECT_EQ(judged.encoding["TALB"], 1);
  ASSERT_EQ(judged.pictures.size(), 1u);
  EXPECT_EQ(judged.pictures[0].mime, "image/png");
  EXPECT_EQ(judged.pictures[0].type, 3);
  EXPECT_EQ(judged.pictures[0].description, "Обложка");
  EXPECT_EQ(judged.pictures[0].sha1, Sha1Hex(PictureBytes()));

  // The ID3v1.1 tag: 30 bytes of title, the track in its byte, text that
  // ISO-8859-1 lacks as '?'.
  EXPECT_EQ(judged.v1["TIT2"], "A title that runs well past th");
  EXPECT_EQ(judged.v1["TPE1"], "????");
  EXPECT_EQ(judged.v1["TRCK"], "7");
  EXPECT_EQ(judged.v1["TDRC"], "2009");
  EXPECT_EQ(judged.v1["TCON"], "17");  // Rock
}

TEST(TagReader, ReadsWhatMutagenWritesInVersions3And4AndEveryEncoding) {
  if (!HaveMutagen()) GTEST_SKIP() << "python3-mutagen is not installed";
  const std::string picture = Scratch("picture.bin");
  WriteFile(picture, PictureBytes());
  const char* script = R"PY(
import sys
from mutagen.id3 import ID3, TIT2, TPE1, TALB, TPE2, TDRC, TYER, TCON, TRCK, APIC
path, version, pic = sys.argv[1], int(sys.argv[2]), open(sys.argv[3], 'rb').read()
open(path, 'wb').write(b'\xff\xfb\x90\x00' + b'\x00' * 413)
t = ID3()
t.add(TIT2(encoding=1, text=['Café Noël']))
t.add(TPE1(encoding=3 if version == 4 else 1, text=['Кино']))
t.add(TALB(encoding=2 if version == 4 else 1, text=['東京の夜 — Live']))
t.add(TPE2(encoding=0, text=['Ünal Ørsted']))
t.add(TDRC(encoding=0, text=['2009-05-17']) if version == 4 else TYER(encoding=0, text=['2009']))
t.add(TCON(encoding=0, text=['Rock']))
t.add(TRCK(encoding=0, text=['3/12']))
t.add(APIC(encoding=3 if version == 4 else 1, mime='image/png', type=3, desc='Обложка', data=pic))
t.save(path, v2_version=version, padding=lambda info: 100)
)PY";
  for (int version : {3, 4}) {
    SCOPED_TRACE(version);
    const std::string path = Scratch("mutagen.mp3");
    ASSERT_TRUE(RunPython(script, {path, std::to_string(version), picture}));
    Bytes file = ReadFile(path);
    int64_t size = Id3v2Size(file.data(), file.size());
    ASSERT_GT(size, 10);
    TagInfo read;
    ASSERT_TRUE(ReadId3v2(file.data(), static_cast<size_t>(size), &read));
    ExpectSameTag(SampleTag(), read);
  }
}

void PutSyncsafe(Bytes* b, uint32_t v) {
  for (int shift = 21; shift >= 0; shift -= 7) b->push_back(static_cast<uint8_t>((v >> shift) & 0x7F));
}
void PutBig(Bytes* b, uint32_t v, int n) {
  for (int shift = 8 * (n - 1); shift >= 0; shift -= 8) b->push_back(static_cast<uint8_t>(v >> shift));
}
Bytes Unsync(const Bytes& in) {
  Bytes out;
  for (size_t i = 0; i < in.size(); ++i) {
    out.push_back(in[i]);
    if (in[i] == 0xFF && (i + 1 == in.size() || in[i + 1] == 0x00 || in[i + 1] >= 0xE0)) out.push_back(0x00);
  }
  return out;
}
Bytes Text(int encoding, const std::string& latin1) {
  Bytes b(latin1.size() + 1);
  b[0] = static_cast<uint8_t>(encoding);
  std::copy(latin1.begin(), latin1.end(), b.begin() + 1);
  return b;
}
Bytes Tag(int major, uint8_t flags, const Bytes& body, bool footer = false) {
  Bytes t = {'I', 'D', '3', static_cast<uint8_t>(major), 0, flags};
  PutSyncsafe(&t, static_cast<uint32_t>(body.size()));
  t.insert(t.end(), body.begin(), body.end());
  if (footer) {
    Bytes f = {'3', 'D', 'I', static_cast<uint8_t>(major), 0, flags};
    PutSyncsafe(&f, static_cast<uint32_t>(body.size()));
    t.insert(t.end(), f.begin(), f.end());
  }
  return t;
}

// The forms current writers no longer make: 2.2 frames, a 2.3 tag
// unsynchronised as a whole with an extended header, a 2.4 tag with
// syncsafe frame sizes, frames unsynchronised one by one with a data length
// indicator, an extended header and a footer.
TEST(TagReader, ReadsVersion22UnsynchronisationExtendedHeadersAndFooters) {
  const std::string longTitle(200, 'x');  // a size where syncsafe and plain differ
  Bytes pic = PictureBytes();

  Bytes v22;
  for (auto [id, text] : {std::pair{"TT2", longTitle}, {"TP1", std::string("Band")}, {"TCO", std::string("(17)")}}) {
    Bytes content = Text(0, text);
    v22.insert(v22.end(), id, id + 3);
    PutBig(&v22, static_cast<uint32_t>(content.size()), 3);
    v22.insert(v22.end(), content.begin(), content.end());
  }
  Bytes picFrame = {0, 'P', 'N', 'G', 3, 'c', 0};
  picFrame.insert(picFrame.end(), pic.begin(), pic.end());
  v22.insert(v22.end(), {'P', 'I', 'C'});
  PutBig(&v22, static_cast<uint32_t>(picFrame.size()), 3);
  v22.insert(v22.end(), picFrame.begin(), picFrame.end());
  v22.insert(v22.end(), 20, 0);  // padding

  Bytes v23 = {0, 0, 0, 6, 0, 0, 0, 0, 0, 0};  // extended header
  Bytes apic = {0, 'i', 'm', 'a', 'g', 'e', '/', 'p', 'n', 'g', 0, 3, 'c', 0};
  apic.insert(apic.end(), pic.begin(), pic.end());
  for (auto [id, content] : {std::pair{"TIT2", Text(0, longTitle)}, {"TPE1", Text(0, "Band")}, {"APIC", apic}}) {
    v23.insert(v23.end(), id, id + 4);
    PutBig(&v23, static_cast<uint32_t>(content.size()), 4);
    v23.insert(v23.end(), {0, 0});
    v23.insert(v23.end(), content.begin(), content.end());
  }

  Bytes v24 = {0, 0, 0, 6, 1, 0};  // extended header, its size syncsafe and counting itself
  for (auto [id, content] : {std::pair{"TIT2", Text(3, longTitle)}, {"TPE1", Text(0, "Band")}, {"APIC", apic}}) {
    Bytes stored = Unsync(content);
    v24.insert(v24.end(), id, id + 4);
    PutSyncsafe(&v24, static_cast<uint32_t>(stored.size() + 4));
    v24.insert(v24.end(), {0, 0x03});  // unsynchronised, data length indicator
    PutSyncsafe(&v24, static_cast<uint32_t>(content.size()));
    v24.insert(v24.end(), stored.begin(), stored.end());
  }

  struct Case {
    const char* name;
    Bytes tag;
  } cases[] = {
      {"2.2", Tag(2, 0, v22)},
      {"2.3 unsynchronised", Tag(3, 0xC0, Unsync(v23))},
      {"2.4 with footer", Tag(4, 0x50, v24, true)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(Id3v2Size(c.tag.data(), c.tag.size()), static_cast<int64_t>(c.tag.size()));
    TagInfo info;
    ASSERT_TRUE(ReadId3v2(c.tag.data(), c.tag.size(), &info));
    EXPECT_EQ(info.title, longTitle);
    EXPECT_EQ(info.artist, "Band");
    ASSERT_EQ(info.pictures.size(), 1u);
    EXPECT_EQ(info.pictures[0].mime, "image/png");
    EXPECT_EQ(info.pictures[0].description, "c");
    EXPECT_EQ(info.pictures[0].data, pic);
  }
}

// A tag cut short anywhere, or with a frame that claims more than there is,
// gives the frames before the damage and nothing made up.
TEST(TagReader, DamagedTagsGiveTheFramesBeforeTheDamage) {
  const TagInfo full = SampleTag();
  const Bytes tag = WriteId3v2(full);
  for (size_t n = 0; n <= tag.size(); ++n) {
    Bytes cut(tag.begin(), tag.begin() + static_cast<std::ptrdiff_t>(n));  // exact size: ASan sees any overrun
    TagInfo info;
    bool read = ReadId3v2(cut.data(), cut.size(), &info);
    EXPECT_EQ(read, n >= 10) << n;
    for (auto field : {&TagInfo::title, &TagInfo::artist, &TagInfo::album, &TagInfo::albumArtist, &TagInfo::year,
                       &TagInfo::genre, &TagInfo::track}) {
      EXPECT_TRUE((info.*field).empty() || info.*field == full.*field) << n;
    }
    EXPECT_TRUE(info.pictures.empty() || info.pictures[0].data == full.pictures[0].data) << n;
    if (n == tag.size()) ExpectSameTag(full, info);
  }
  // TPE1 (the second frame) claims to run far past the tag's end.
  Bytes broken = tag;
  size_t tpe1 = 10 + 10 + (broken[17] | broken[16] << 8);
  ASSERT_EQ(std::memcmp(broken.data() + tpe1, "TPE1", 4), 0);
  broken[tpe1 + 4] = 0x7F;
  TagInfo info;
  ASSERT_TRUE(ReadId3v2(broken.data(), broken.size(), &info));
  EXPECT_EQ(info.title, full.title);
  EXPECT_TRUE(info.artist.empty());
  EXPECT_TRUE(info.pictures.empty());
}

TEST(Id3v1, ReadsTheFieldsTheTrackByteAndTheGenre) {
  uint8_t tag[kId3v1Size] = {};
  std::memcpy(tag, "TAG", 3);
  std::memcpy(tag + 3, "Caf\xE9  ", 6);
  std::memcpy(tag + 33, "Band", 4);
  std::memcpy(tag + 63, "Album", 5);
  std::memcpy(tag + 93, "1999", 4);
  tag[126] = 4;
  tag[127] = 17;
  TagInfo info;
  ASSERT_TRUE(ReadId3v1(tag, &info));
  EXPECT_EQ(info.title, "Café");
  EXPECT_EQ(info.artist, "Band");
  EXPECT_EQ(info.album, "Album");
  EXPECT_EQ(info.year, "1999");
  EXPECT_EQ(info.track, "4");
  EXPECT_EQ(info.genre, "Rock");
  uint8_t again[kId3v1Size];
  WriteId3v1(info, 4, again);
  tag[7] = tag[8] = 0;  // trailing blanks are not written back
  EXPECT_EQ(std::memcmp(tag, again, kId3v1Size), 0);
  tag[0] = 'X';
  EXPECT_FALSE(ReadId3v1(tag, &info));
}

}  // namespace
}  // namespace snip
