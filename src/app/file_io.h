// The one way the program touches files: a small handle type with 64-bit
// positions. On Windows it uses CreateFileA with the program's access and
// sharing rules; elsewhere it uses POSIX calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace snip {

class File {
 public:
  File() = default;
  ~File();
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;

  // Read access, shared for reading, existing files only.
  static File OpenRead(const std::string& path);
  // Write access, shared for reading, always created anew (an existing file
  // is emptied), normal attributes.
  static File Create(const std::string& path);

  bool IsOpen() const;
  const std::string& Path() const { return path_; }

  // Reads up to n bytes. Returns the number read (0 at the end), -1 on error.
  int64_t Read(void* buffer, size_t n);
  // Reads until n bytes or the end. Returns the number read, -1 on error.
  int64_t ReadFull(void* buffer, size_t n);
  // Writes all n bytes. False when the write fails or comes up short.
  bool Write(const void* buffer, size_t n);
  // Moves to an absolute position. False on failure.
  bool Seek(int64_t position);
  // Current position, -1 on error.
  int64_t Tell();
  // Size of the file in bytes, -1 on error.
  int64_t Size();
  // Closes the handle; false when closing reported an error.
  bool Close();

 private:
#ifdef _WIN32
  void* handle_ = nullptr;  // HANDLE; null when closed
#else
  int fd_ = -1;
#endif
  std::string path_;
};

// True when both paths name one existing file (the same file, not only the
// same text).
bool SameFile(const std::string& a, const std::string& b);

// UTF-8 text in the form the program hands to file names and windows: as it
// is natively; on Windows in the ANSI code page, where a character that the
// code page lacks becomes "_" (never a look-alike such as "/" for a slash).
std::string ProgramTextFromUtf8(std::string_view utf8);

// Fault injection for tests. The hook sees every open, read and write before
// it happens and answers -1 to make it fail, or the number of bytes to let
// through (at most n; fewer makes a short write or read). Opens ignore all
// answers but -1. An empty hook (the default) lets everything through.
enum class FileOp { OpenRead, Create, Read, Write };
using FileFaultHook = std::function<int64_t(FileOp op, const std::string& path, int64_t position, size_t n)>;
void SetFileFaultHook(FileFaultHook hook);

}  // namespace snip
