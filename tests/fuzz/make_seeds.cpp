// Writes the seed inputs of every fuzz target: real frames made byte by byte,
// encoder output from the test corpus when one is given, CUE sheets in the
// shapes rippers write, names and times.
// Usage: make_seeds OUTPUT_DIR [CORPUS_DIR]
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "split/cue_sheet.h"
#include "tags/id3v2.h"
#include "support/mpeg_frames.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using snip::test::Append;
using snip::test::FrameShape;
using snip::test::MakeStream;

std::string outDir;

void Seed(const std::string& target, const std::string& name, const Bytes& bytes) {
  fs::create_directories(outDir + "/" + target);
  snip::test::WriteBytes(outDir + "/" + target + "/" + name, bytes);
}

Bytes FromText(const std::string& text) { return Bytes(text.begin(), text.end()); }

FrameShape Shape(int version, int bitrateIndex, int rateIndex = 0, bool mono = false) {
  FrameShape s;
  s.versionBits = version;
  s.bitrateIndex = bitrateIndex;
  s.sampleRateIndex = rateIndex;
  s.mono = mono;
  return s;
}

// A first frame that states the stream's length, as encoders write it.
Bytes LengthFrame(const FrameShape& shape, const char* marker) {
  Bytes frame = snip::test::MakeFrame(shape, 99);
  size_t sideInfo = shape.versionBits == 3 ? (shape.mono ? 17 : 32) : (shape.mono ? 9 : 17);
  std::memcpy(frame.data() + 4 + sideInfo, marker, 4);
  return frame;
}

// The streams every MPEG target starts from.
std::vector<std::pair<std::string, Bytes>> Streams(const std::string& corpus) {
  std::vector<std::pair<std::string, Bytes>> out;
  FrameShape m1 = Shape(3, 9);
  out.push_back({"mpeg1-128", MakeStream(m1, 24)});
  out.push_back({"mpeg2-64", MakeStream(Shape(2, 8), 24)});
  out.push_back({"mpeg25-8-mono", MakeStream(Shape(0, 1, 2, true), 12)});

  Bytes tagged = MakeStream(m1, 16);
  Append(tagged, snip::test::MakeId3v1Tag("Seed"));
  out.push_back({"tagged", tagged});

  Bytes id3 = snip::test::MakeId3v2Tag({0xFF, 0xFB, 0x90, 0x00, 'j', 'p', 'g'}, 300);
  Append(id3, snip::test::MakeJunk(37));
  Append(id3, MakeStream(m1, 12));
  out.push_back({"id3v2-junk", id3});

  Bytes info = LengthFrame(m1, "Info");
  Append(info, MakeStream(m1, 16));
  Append(info, snip::test::MakeId3v1Tag("Info"));
  out.push_back({"info-frame", info});

  Bytes xing = LengthFrame(m1, "Xing");
  Append(xing, MakeStream(m1, 8));
  out.push_back({"xing-frame", xing});

  Bytes layer2 = MakeStream(Shape(3, 9), 2);
  layer2[1] = static_cast<uint8_t>((layer2[1] & ~0x06) | (2 << 1));
  Append(layer2, MakeStream(m1, 6));
  out.push_back({"layer2-first", layer2});

  // Free format and a stream whose bitrate changes.
  out.push_back({"free-format", MakeStream(Shape(3, 0), 6)});
  Bytes mixed = MakeStream(m1, 8);
  Append(mixed, MakeStream(Shape(3, 11), 8));
  out.push_back({"mixed-bitrate", mixed});

  if (!corpus.empty()) {
    for (const auto& entry : fs::directory_iterator(corpus)) {
      if (entry.path().extension() != ".mp3") continue;
      Bytes bytes = snip::test::ReadBytes(entry.path().string());
      // The head (Info frame and first frames) and the tail (with any tag).
      Bytes head(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(std::min<size_t>(bytes.size(), 6000)));
      size_t tail = std::min<size_t>(bytes.size(), 3000);
      Append(head, Bytes(bytes.end() - static_cast<std::ptrdiff_t>(tail), bytes.end()));
      out.push_back({"lame-" + entry.path().stem().string(), head});
    }
  }
  return out;
}

void U16(Bytes& b, int v) {
  b.push_back(static_cast<uint8_t>(v & 0xFF));
  b.push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
}

// Split input: flags, fault kind, fault index, rate byte, first frame,
// marks, then the source.
Bytes SplitInput(int flags, int faultKind, int faultAt, const std::vector<int>& deltas, const Bytes& source) {
  Bytes b = {static_cast<uint8_t>(flags), static_cast<uint8_t>(faultKind), static_cast<uint8_t>(faultAt), 0x39};
  U16(b, 0);
  b.push_back(static_cast<uint8_t>(deltas.size() + 1));
  U16(b, 0);
  for (int d : deltas) U16(b, d);
  Append(b, source);
  return b;
}

// Join input: fault kind, fault index, number of inputs less one, the
// lengths of all inputs but the last, then the inputs.
Bytes JoinInput(int faultKind, int faultAt, const std::vector<Bytes>& inputs) {
  Bytes b = {static_cast<uint8_t>(faultKind), static_cast<uint8_t>(faultAt), static_cast<uint8_t>(inputs.size() - 1)};
  for (size_t i = 0; i + 1 < inputs.size(); ++i) U16(b, static_cast<int>(inputs[i].size()));
  for (const Bytes& input : inputs) Append(b, input);
  return b;
}

void TextSeeds() {
  const char* times[] = {"000:00.00", "999:59.99", "1:2.3", "  5:07", "12:60.00", "-1:00", "0:00.", "123:45.678"};
  int i = 0;
  for (const char* t : times) Seed("time_text", "time" + std::to_string(i++), FromText(t));

  struct Name {
    int n;
    const char* source;
    const char* folder;
    const char* nameTemplate;
    const char* artist;
    const char* title;
  } names[] = {
      {2, "/music/Night Set.live.mp3", "/out/", "%file% %track% %artist% - %title%", "Band", "Song"},
      {0, "C:\\Rips\\a.mp3", "D:\\Out\\", "%file% - %track%", "", ""},
      {99, "noext", "", "%track%%track%", "%title%", "x"},
      {0, "/a/b", "/very/long/folder/name/that/goes/on/", "%artist%%artist%",
       "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", "t"},
      // A title that completes a field the template left open.
      {29733, "", "/out/", "%track%title%", "", "%"},
      // Titles that try to leave the folder or name a device.
      {1, "/a/b.mp3", "/out/%track%/", "%track% %title%", "AC/DC", "x\\..\\../../victim"},
      {0, "/a/b.mp3", "/out/", "%title%", "", "Nul.Points"},
  };
  i = 0;
  for (const Name& n : names) {
    Bytes b;
    U16(b, n.n);
    for (const char* part : {n.source, n.folder, n.nameTemplate, n.artist, n.title}) {
      Append(b, FromText(part));
      b.push_back(0);
    }
    Seed("track_naming", "name" + std::to_string(i++), b);
  }

  const char* sheets[] = {
      ("REM GENRE Electronic\r\nREM DATE 2004\r\nPERFORMER \"DJ Someone\"\r\nTITLE \"Live Mix\"\r\n"
       "FILE \"mix.wav\" WAVE\r\n  TRACK 01 AUDIO\r\n    TITLE \"Intro\"\r\n    INDEX 01 00:00:00\r\n"
       "  TRACK 02 AUDIO\r\n    TITLE \"Second\"\r\n    PERFORMER \"Guest\"\r\n    INDEX 00 03:58:10\r\n"
       "    INDEX 01 04:01:37\r\n  TRACK 03 AUDIO\r\n    FLAGS DCP\r\n    ISRC ABCDE1234567\r\n"
       "    INDEX 01 125:00:74\r\n"),
      ("\xEF\xBB\xBF"
       "FILE mix.mp3 MP3\nTRACK 1 AUDIO\nTITLE bare title\nINDEX 01 0:10:00\nTRACK 2 AUDIO\nINDEX 01 1:00:00\n"),
      "FILE \"a.mp3\" MP3\n  TRACK 01 AUDIO\n    INDEX 01 00:00:01\n    REM SNIPWISE_TIME 000:00.01\n",
      "TRACK 01 AUDIO\nINDEX 01 99:99:99\n",
  };
  i = 0;
  for (const char* s : sheets) Seed("cue_sheet", "sheet" + std::to_string(i++), FromText(s));
  std::vector<snip::CueTrack> tracks = {{0, "A", "One"}, {1234, "", "Two \"quoted\""}, {599999, "B", ""}};
  Seed("cue_sheet", "written", FromText(snip::FormatCueSheet("source.mp3", tracks)));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: make_seeds OUTPUT_DIR [CORPUS_DIR]\n");
    return 2;
  }
  outDir = argv[1];
  std::string corpus = argc > 2 && fs::exists(std::string(argv[2]) + "/ready") ? argv[2] : "";

  TextSeeds();
  snip::TagInfo tag;
  tag.title = "Caf\xC3\xA9";
  tag.artist = "\xD0\x9A\xD0\xB8\xD0\xBD\xD0\xBE";
  tag.track = "3/12";
  tag.year = "2009";
  tag.pictures.push_back({"image/png", 3, "cover", Bytes{0x89, 'P', 'N', 'G', 0xFF, 0x00, 0xFF, 0xE0}});
  Seed("tags", "written", snip::WriteId3v2(tag));
  auto streams = Streams(corpus);
  for (const auto& [name, bytes] : streams) {
    Seed("source_scan", name, bytes);
    // Scan values, three cuts; equal segments; then faults of each kind.
    Seed("split_engine", name, SplitInput(8, 0, 0, {20, 7}, bytes));
    Seed("split_engine", name + "-equal", SplitInput(9, 0, 0, {9}, bytes));
  }
  const Bytes& plain = streams[0].second;
  const Bytes& tagged = streams[3].second;
  const Bytes& info = streams[5].second;
  Seed("split_engine", "fixed-values", SplitInput(0, 0, 0, {5, 5, 5}, plain));
  Seed("split_engine", "read-fails", SplitInput(8, 1, 2, {20}, tagged));
  Seed("split_engine", "write-fails", SplitInput(8, 2, 1, {20}, tagged));
  Seed("split_engine", "write-short", SplitInput(8, 3, 0, {20}, plain));

  Seed("join_engine", "two-plain", JoinInput(0, 0, {plain, plain}));
  Seed("join_engine", "tagged-and-info", JoinInput(0, 0, {tagged, info, streams[4].second}));
  Seed("join_engine", "tag-only", JoinInput(0, 0, {snip::test::MakeId3v1Tag("only"), plain}));
  Seed("join_engine", "read-fails", JoinInput(1, 3, {tagged, info}));
  Seed("join_engine", "write-fails", JoinInput(2, 1, {tagged, info}));
  Seed("join_engine", "write-short", JoinInput(3, 0, {info, tagged}));
  for (size_t i = 6; i < streams.size(); ++i) {
    Seed("join_engine", streams[i].first, JoinInput(0, 0, {streams[i].second, tagged}));
  }
  return 0;
}
