#include "support/mpeg_tools.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "support/mpeg_frames.h"

namespace snip::test {

namespace {

const int kKbps[2][15] = {{0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
                          {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}};
const int kRates[4][3] = {{11025, 12000, 8000}, {0, 0, 0}, {22050, 24000, 16000}, {44100, 48000, 32000}};

uint32_t Le32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t{p[3]} << 24); }
uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

// Reads the WAV's header only: the sample data can be tens of megabytes.
bool ReadWav(const std::string& path, Decoded* d) {
  std::error_code error;
  const uintmax_t fileSize = std::filesystem::file_size(path, error);
  if (error) return false;
  std::vector<uint8_t> w(4096);
  std::ifstream in(path, std::ios::binary);
  in.read(reinterpret_cast<char*>(w.data()), static_cast<std::streamsize>(w.size()));
  w.resize(static_cast<size_t>(in.gcount()));
  if (w.size() < 12 || std::memcmp(w.data(), "RIFF", 4) != 0 || std::memcmp(w.data() + 8, "WAVE", 4) != 0) return false;
  int bits = 0;
  for (size_t at = 12; at + 8 <= w.size();) {
    uint32_t size = Le32(w.data() + at + 4);
    const uint8_t* body = w.data() + at + 8;
    if (std::memcmp(w.data() + at, "fmt ", 4) == 0 && size >= 16 && at + 8 + 16 <= w.size()) {
      d->channels = Le16(body + 2);
      d->sampleRate = static_cast<int>(Le32(body + 4));
      bits = Le16(body + 14);
    } else if (std::memcmp(w.data() + at, "data", 4) == 0) {
      if (d->channels <= 0 || bits <= 0) return false;
      // The header's size must agree with what is there.
      if (at + 8 + size != fileSize) return false;
      d->samples = size / (d->channels * (bits / 8));
      return true;
    }
    at += 8 + size + (size & 1);
  }
  return false;
}

bool IsComplaint(std::string line) {
  std::transform(line.begin(), line.end(), line.begin(), [](unsigned char c) { return std::tolower(c); });
  for (const char* word : {"warn", "error", "illegal", "resync", "skipped", "frankenstein", "big value"}) {
    if (line.find(word) != std::string::npos) return true;
  }
  return false;
}

// A Layer III header with a computable length: its length, else 0.
int HeaderLength(const std::vector<uint8_t>& b, int64_t at, int* rate = nullptr, int* spf = nullptr) {
  if (at + 4 > static_cast<int64_t>(b.size())) return 0;
  const uint8_t* p = b.data() + at;
  if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0) return 0;
  int version = (p[1] >> 3) & 3;
  if (version == 1 || ((p[1] >> 1) & 3) != 1) return 0;
  int index = p[2] >> 4;
  int rateIndex = (p[2] >> 2) & 3;
  if (index == 0 || index == 15 || rateIndex == 3) return 0;
  int hz = kRates[version][rateIndex];
  if (rate) *rate = hz;
  if (spf) *spf = version == 3 ? 1152 : 576;
  return (version == 3 ? 144000 : 72000) * kKbps[version == 3 ? 0 : 1][index] / hz + ((p[2] >> 1) & 1);
}

bool ChainReaches(const std::vector<uint8_t>& b, int64_t at, int64_t end) {
  while (at < end) {
    int length = HeaderLength(b, at);
    if (length == 0) return false;
    at += length;
  }
  return at == end;
}

}  // namespace

std::string Quoted(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

bool HaveTool(const char* name) {
#ifdef _WIN32
  (void)name;
  return false;
#else
  // GNU style first, then ffmpeg's single dash.
  std::string tool(name);
  return std::system((tool + " --version >/dev/null 2>&1 || " + tool + " -version >/dev/null 2>&1").c_str()) == 0;
#endif
}

Decoded Decode(const std::string& mp3, const std::string& workDir, bool gapless) {
  Decoded d;
  static int serial = 0;
  std::string stem = workDir + "decoded-" + std::to_string(++serial);
  std::string command = std::string("mpg123 -v ") + (gapless ? "" : "--no-gapless ") + "-w " + Quoted(stem + ".wav") +
                        " " + Quoted(mp3) + " >/dev/null 2>" + Quoted(stem + ".err");
  if (std::system(command.c_str()) != 0) return d;
  d.ran = ReadWav(stem + ".wav", &d);
  std::vector<uint8_t> err = ReadBytes(stem + ".err");
  std::string line;
  auto endLine = [&] {
    if (line.rfind("> ", 0) == 0 && d.announcedFrames < 0) {
      long long done = 0, left = 0;
      int m1 = 0, s1 = 0, h1 = 0, m2 = 0, s2 = 0, h2 = 0;
      if (std::sscanf(line.c_str(), "> %lld+%lld %d:%d.%d+%d:%d.%d", &done, &left, &m1, &s1, &h1, &m2, &s2, &h2) == 8) {
        d.announcedFrames = done + left;
        d.announcedSeconds = (m1 + m2) * 60 + s1 + s2 + (h1 + h2) / 100.0;
      }
    } else if (IsComplaint(line)) {
      d.complaints += line + "\n";
    }
    line.clear();
  };
  for (uint8_t c : err) {
    if (c == '\r' || c == '\n')
      endLine();
    else
      line += static_cast<char>(c);
  }
  endLine();
  std::remove((stem + ".wav").c_str());
  return d;
}

std::vector<int16_t> DecodePcm(const std::string& mp3, const std::string& tool) {
  std::string command = tool == "ffmpeg" ? "ffmpeg -v error -i " + Quoted(mp3) + " -f s16le -acodec pcm_s16le -"
                                         : "mpg123 -q -s " + Quoted(mp3);
  std::vector<int16_t> pcm;
#ifdef _WIN32
  return pcm;  // the judges run on the Linux side only
#else
  FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r");
  if (!pipe) return pcm;
  int16_t block[4096];
  size_t got = 0;
  while ((got = std::fread(block, sizeof(int16_t), 4096, pipe)) > 0) pcm.insert(pcm.end(), block, block + got);
  if (pclose(pipe) != 0) pcm.clear();
  return pcm;
#endif
}

bool ListFrames(const std::vector<uint8_t>& b, FrameList* list) {
  FrameList l;
  const int64_t size = static_cast<int64_t>(b.size());
  int64_t at = 0;
  while (at + 10 <= size && std::memcmp(b.data() + at, "ID3", 3) == 0) {
    const uint8_t* t = b.data() + at;
    int64_t body = (int64_t{t[6]} << 21) | (int64_t{t[7]} << 14) | (int64_t{t[8]} << 7) | t[9];
    at += 10 + body + (t[3] >= 4 && (t[5] & 0x10) ? 10 : 0);
  }
  l.audioEnd = size >= 128 && std::memcmp(b.data() + size - 128, "TAG", 3) == 0 ? size - 128 : size;
  while (at < l.audioEnd && !(b[at] == 0xFF && ChainReaches(b, at, l.audioEnd))) ++at;
  if (at >= l.audioEnd) return false;
  // The summary frame: "Xing"/"Info" after the header and side information.
  const uint8_t* p = b.data() + at;
  int version = (p[1] >> 3) & 3;
  bool mono = (p[3] >> 6) == 3;
  int64_t marker = at + 4 + ((p[1] & 1) == 0 ? 2 : 0) + (version == 3 ? (mono ? 17 : 32) : (mono ? 9 : 17));
  int first = HeaderLength(b, at, &l.sampleRate, &l.samplesPerFrame);
  if (marker + 4 <= at + first &&
      (std::memcmp(b.data() + marker, "Xing", 4) == 0 || std::memcmp(b.data() + marker, "Info", 4) == 0)) {
    l.summaryAt = at;
    l.summarySize = first;
    at += first;
  }
  while (at < l.audioEnd) {
    int length = HeaderLength(b, at);
    l.offsets.push_back(at);
    l.sizes.push_back(length);
    l.bitrateIndexes.push_back(b[at + 2] >> 4);
    at += length;
  }
  *list = l;
  return true;
}

}  // namespace snip::test
