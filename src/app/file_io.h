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

  // Read access, shared for reading, existing regular files only (a pipe,
  // device or folder is refused without waiting on it).
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

  // Lets the reader follow and stop its own reads: before each read the
  // watch is told the bytes read so far, and answering false makes that
  // read and every later one fail.
  using ReadWatch = std::function<bool(int64_t bytesRead)>;
  void Watch(ReadWatch watch) { watch_ = std::move(watch); }

 private:
  friend class OutputFile;
  bool Watched();
  ReadWatch watch_;
  int64_t bytesRead_ = 0;
  bool stopped_ = false;
  bool output_ = false;  // an OutputFile's: no writes once outputs have ended
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

// True when both paths name one place in the file system: one existing file,
// or, when a path names nothing yet, the same name in the same folder,
// whatever the spelling of the folder.
bool SamePlace(const std::string& a, const std::string& b);

// What a path names, looked at without opening it for reading (which blocks
// on a pipe). Special covers pipes, devices and sockets.
enum class PathKind { Missing, Regular, Folder, Special };
PathKind KindOf(const std::string& path);

// A file that is written under a temporary name in the folder of its real
// name and takes the real name only on Commit, so that the real name holds
// either its old contents or the complete new ones. Dropped without a
// commit, or when the commit fails, the temporary file is removed.
class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  OutputFile(OutputFile&& other) noexcept;
  OutputFile& operator=(OutputFile&& other) noexcept;

  // Creates the temporary file for path. Closed (IsOpen false) on failure,
  // and when path names a folder or a special file.
  static OutputFile Create(const std::string& path);

  bool IsOpen() const { return file_.IsOpen(); }
  // The file to write to; its Path() is the real name.
  File& Stream() { return file_; }
  const std::string& Path() const { return file_.Path(); }

  // Closes the file and gives it its real name: replacing a regular file of
  // that name when `replace` is set, failing when the name is taken
  // otherwise. False when any step fails; the temporary file is then gone
  // and the real name untouched.
  bool Commit(bool replace);
  // Closes and removes the temporary file.
  void Abandon();

 private:
  File file_;
  std::string temp_;
  int slot_ = -1;  // place in the list of unfinished outputs
};

// Removes every temporary file of an output that is still being written,
// and lets no output begin or take its name after it: for a program that
// ends at once, whatever its threads are doing. Safe to call from a signal
// handler or a console control handler.
void RemoveUnfinishedOutputs();

// UTF-8 text in the form the program hands to file names and windows: as it
// is natively; on Windows in the ANSI code page, where a character that the
// code page lacks becomes "_" (never a look-alike such as "/" for a slash).
std::string ProgramTextFromUtf8(std::string_view utf8);
// The program's text as UTF-8: as it is natively; on Windows read in the
// ANSI code page.
std::string Utf8FromProgramText(std::string_view text);

// Fault injection for tests. The hook sees every open, read and write before
// it happens and answers -1 to make it fail, or the number of bytes to let
// through (at most n; fewer makes a short write or read). Opens ignore all
// answers but -1. An empty hook (the default) lets everything through.
// An OutputFile's creation is a Create with the real name; its Commit asks
// the hook with Commit (and the real name) before it renames.
enum class FileOp { OpenRead, Create, Read, Write, Commit };
using FileFaultHook = std::function<int64_t(FileOp op, const std::string& path, int64_t position, size_t n)>;
void SetFileFaultHook(FileFaultHook hook);

}  // namespace snip
