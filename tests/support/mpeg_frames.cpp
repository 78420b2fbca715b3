#include "support/mpeg_frames.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

namespace snip::test {

namespace {

const int kBitrates[2][15] = {
    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
};
const int kRates[4][3] = {{11025, 12000, 8000}, {0, 0, 0}, {22050, 24000, 16000}, {44100, 48000, 32000}};

}  // namespace

std::array<uint8_t, 4> MakeHeader(const FrameShape& s) {
  std::array<uint8_t, 4> h{};
  h[0] = 0xFF;
  h[1] = static_cast<uint8_t>(0xE0 | (s.versionBits << 3) | (s.layerBits << 1) | 1);  // no CRC
  h[2] = static_cast<uint8_t>((s.bitrateIndex << 4) | (s.sampleRateIndex << 2) | (s.padding ? 2 : 0));
  h[3] = static_cast<uint8_t>(s.mono ? 0xC0 : 0x00);
  return h;
}

int FrameLength(const FrameShape& s) {
  if (s.bitrateIndex == 0) return 417;
  int kbps = kBitrates[s.versionBits == 3 ? 0 : 1][s.bitrateIndex];
  int rate = kRates[s.versionBits][s.sampleRateIndex];
  int factor = s.versionBits == 3 ? 144000 : 72000;
  return factor * kbps / rate + (s.padding ? 1 : 0);
}

std::vector<uint8_t> MakeFrame(const FrameShape& shape, uint32_t seed) {
  std::vector<uint8_t> frame(static_cast<size_t>(FrameLength(shape)));
  auto h = MakeHeader(shape);
  std::memcpy(frame.data(), h.data(), 4);
  std::mt19937 rng(seed * 2654435761u + 7);
  for (size_t i = 4; i < frame.size(); ++i) frame[i] = static_cast<uint8_t>(rng() % 0x7F);
  return frame;
}

std::vector<uint8_t> MakeStream(const FrameShape& shape, int frames, std::vector<int64_t>* offsets) {
  std::vector<uint8_t> out;
  for (int i = 0; i < frames; ++i) {
    if (offsets) offsets->push_back(static_cast<int64_t>(out.size()));
    Append(out, MakeFrame(shape, static_cast<uint32_t>(i)));
  }
  return out;
}

std::vector<uint8_t> MakeJunk(size_t n, uint32_t seed) {
  std::vector<uint8_t> out(n);
  std::mt19937 rng(seed);
  for (auto& b : out) b = static_cast<uint8_t>(rng() % 0x7F);
  return out;
}

std::vector<uint8_t> MakeId3v1Tag(const std::string& title) {
  std::vector<uint8_t> tag(128, 0);
  std::memcpy(tag.data(), "TAG", 3);
  std::memcpy(tag.data() + 3, title.data(), std::min<size_t>(30, title.size()));
  tag[127] = 12;
  return tag;
}

std::vector<uint8_t> MakeId3v2Tag(const std::vector<uint8_t>& body, size_t bodySize) {
  size_t size = std::max(body.size(), bodySize);
  std::vector<uint8_t> tag = {'I', 'D', '3', 3, 0, 0};
  for (int shift = 21; shift >= 0; shift -= 7) tag.push_back(static_cast<uint8_t>((size >> shift) & 0x7F));
  Append(tag, body);
  tag.resize(10 + size, 0);
  return tag;
}

void Append(std::vector<uint8_t>& to, const std::vector<uint8_t>& bytes) {
  to.insert(to.end(), bytes.begin(), bytes.end());
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::filesystem::path Utf8Path(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

bool FileExists(const std::string& path) { return std::filesystem::exists(Utf8Path(path)); }

std::vector<std::string> FilesUnder(const std::string& folder) {
  std::vector<std::string> files;
  std::filesystem::path root = Utf8Path(folder);
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    if (entry.is_directory()) continue;
    std::u8string name = entry.path().lexically_relative(root).generic_u8string();
    files.emplace_back(name.begin(), name.end());
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::string Utf16WithBom(const std::u16string& text, bool bigEndian) {
  std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
  for (char16_t unit : text) {
    char high = static_cast<char>(unit >> 8), low = static_cast<char>(unit & 0xFF);
    out += bigEndian ? high : low;
    out += bigEndian ? low : high;
  }
  return out;
}

TempDir::TempDir() {
  static std::atomic<int> counter{0};
  std::random_device rd;
  auto base = std::filesystem::temp_directory_path();
  for (;;) {
    auto candidate = base / ("snipwise-test-" + std::to_string(rd()) + "-" + std::to_string(counter++));
    std::error_code ec;
    if (std::filesystem::create_directory(candidate, ec)) {
      path_ = candidate.string();
      break;
    }
  }
#ifdef _WIN32
  path_ += '\\';
#else
  path_ += '/';
#endif
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string CorpusDir() {
#ifdef SNIPWISE_CORPUS_DIR
  std::string dir = SNIPWISE_CORPUS_DIR;
  if (std::filesystem::exists(dir + "/ready")) return dir + "/";
#endif
  return {};
}

}  // namespace snip::test
