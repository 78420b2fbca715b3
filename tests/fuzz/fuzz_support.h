// Helpers shared by the fuzz targets: a scratch folder per process, whole-file
// reads and writes, and a check that stops the run with a message so that
// libFuzzer keeps the input that broke a rule.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace snip::fuzz {

// Prints what broke and aborts; libFuzzer then saves the input as a crash.
[[noreturn]] void Fail(const char* file, int line, const std::string& what);

#define FUZZ_CHECK(condition, what)                                   \
  do {                                                                \
    if (!(condition)) ::snip::fuzz::Fail(__FILE__, __LINE__, (what)); \
  } while (0)

// A folder of this process, made on first use and removed at exit. Ends in '/'.
const std::string& ScratchDir();
// Removes every file in the scratch folder.
void ClearScratch();
std::vector<std::string> ScratchFiles();

void WriteFileBytes(const std::string& path, const uint8_t* data, size_t size);
std::vector<uint8_t> ReadFileBytes(const std::string& path);

// Reads little-endian values from the front of fuzz input, giving zeros once
// the input runs out, so that short inputs still make sense.
class InputReader {
 public:
  InputReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  uint16_t U16() {
    uint16_t lo = Byte();
    return static_cast<uint16_t>(lo | (Byte() << 8));
  }
  uint32_t U32() {
    uint32_t lo = U16();
    return lo | (static_cast<uint32_t>(U16()) << 16);
  }
  // The next n bytes (fewer when the input ends).
  std::vector<uint8_t> Bytes(size_t n);
  // Text up to the next zero byte (which is consumed) or the end.
  std::string Text();
  const uint8_t* Rest() const { return data_ + pos_; }
  size_t RestSize() const { return size_ - pos_; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

}  // namespace snip::fuzz
