#include "fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>

namespace snip::fuzz {

namespace {

std::string* scratch = nullptr;

void RemoveScratch() {
  if (!scratch) return;
  std::error_code ec;
  std::filesystem::remove_all(*scratch, ec);
}

}  // namespace

void Fail(const char* file, int line, const std::string& what) {
  std::fprintf(stderr, "\n%s:%d: fuzz check failed: %s\n", file, line, what.c_str());
  std::fflush(stderr);
  std::abort();
}

const std::string& ScratchDir() {
  if (!scratch) {
    std::string base = std::filesystem::temp_directory_path().string() + "/snipwise-fuzz-XXXXXX";
    std::vector<char> name(base.begin(), base.end());
    name.push_back('\0');
    if (!mkdtemp(name.data())) Fail(__FILE__, __LINE__, "no scratch folder");
    scratch = new std::string(std::string(name.data()) + "/");
    std::atexit(RemoveScratch);
  }
  return *scratch;
}

void ClearScratch() {
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(ScratchDir(), ec)) {
    std::filesystem::remove_all(entry.path(), ec);
  }
}

std::vector<std::string> ScratchFiles() {
  std::vector<std::string> files;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(ScratchDir(), ec)) {
    files.push_back(entry.path().filename().string());
  }
  return files;
}

void WriteFileBytes(const std::string& path, const uint8_t* data, size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (size > 0) out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  out.close();
  if (!out) Fail(__FILE__, __LINE__, "cannot write " + path);
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) Fail(__FILE__, __LINE__, "cannot read " + path);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::vector<uint8_t> InputReader::Bytes(size_t n) {
  if (n > size_ - pos_) n = size_ - pos_;
  std::vector<uint8_t> out(data_ + pos_, data_ + pos_ + n);
  pos_ += n;
  return out;
}

std::string InputReader::Text() {
  std::string out;
  while (pos_ < size_) {
    char c = static_cast<char>(data_[pos_++]);
    if (c == '\0') break;
    out += c;
  }
  return out;
}

}  // namespace snip::fuzz
