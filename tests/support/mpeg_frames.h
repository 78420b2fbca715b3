// Test material: MPEG audio frames written byte by byte, tags, temporary
// folders and file helpers, so that tests can state byte positions exactly.
#pragma once

#include <array>
#include <filesystem>
#include <cstdint>
#include <string>
#include <vector>

namespace snip::test {

struct FrameShape {
  int versionBits = 3;  // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
  int layerBits = 1;    // 1 Layer III, 2 Layer II, 3 Layer I
  int bitrateIndex = 9;
  int sampleRateIndex = 0;
  bool padding = false;
  bool mono = false;
};

std::array<uint8_t, 4> MakeHeader(const FrameShape& shape);
// Layer III length of the frame (bitrate, sampling rate, padding); for
// bitrate index 0 a fixed 417 bytes.
int FrameLength(const FrameShape& shape);
// One frame: the header and a payload that holds no byte 0xFF, so that no
// false header appears inside it. seed varies the payload.
std::vector<uint8_t> MakeFrame(const FrameShape& shape, uint32_t seed = 0);
// frames consecutive frames; their offsets are appended to offsets if given.
std::vector<uint8_t> MakeStream(const FrameShape& shape, int frames, std::vector<int64_t>* offsets = nullptr);
// Bytes that never pass the header test (no 0xFF), for junk and gaps.
std::vector<uint8_t> MakeJunk(size_t n, uint32_t seed = 1);
// A 128-byte ID3v1 tag with the given title.
std::vector<uint8_t> MakeId3v1Tag(const std::string& title = "Title");
// An ID3v2.3 tag whose body is the given bytes (padded to bodySize if larger).
std::vector<uint8_t> MakeId3v2Tag(const std::vector<uint8_t>& body, size_t bodySize = 0);

void Append(std::vector<uint8_t>& to, const std::vector<uint8_t>& bytes);
void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> ReadBytes(const std::string& path);
bool FileExists(const std::string& path);
// A path from UTF-8 text, the same on every platform (a plain std::string
// would be read in the C library's narrow encoding on Windows).
std::filesystem::path Utf8Path(const std::string& utf8);
// Every file under folder, with "/" between folders, in UTF-8, sorted.
std::vector<std::string> FilesUnder(const std::string& folder);
// Text in UTF-16 with its byte-order mark, as some programs save CUE sheets.
std::string Utf16WithBom(const std::u16string& text, bool bigEndian = false);

// A fresh folder removed with its contents at destruction. Path() ends in
// the platform's separator.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + name; }

 private:
  std::string path_;
};

// Folder of encoder output made at build time (lame), ending in a separator;
// empty when the corpus was not made.
std::string CorpusDir();

}  // namespace snip::test
