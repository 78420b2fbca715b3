#include "app/file_io.h"

#include <atomic>
#include <mutex>
#include <utility>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace snip {

namespace {

std::mutex hookMutex;
FileFaultHook faultHook;
// Whether a hook is installed: without one, reads and writes skip asking
// the system for the file position, one call per block.
std::atomic<bool> hookInstalled{false};

// Asks the test hook, if any, how much of an operation may go through.
int64_t Allowed(FileOp op, const std::string& path, int64_t position, size_t n) {
  if (!hookInstalled.load()) return static_cast<int64_t>(n);
  FileFaultHook hook;
  {
    std::lock_guard<std::mutex> lock(hookMutex);
    hook = faultHook;
  }
  if (!hook) return static_cast<int64_t>(n);
  int64_t allowed = hook(op, path, position, n);
  if (allowed < 0) return -1;
  return allowed > static_cast<int64_t>(n) ? static_cast<int64_t>(n) : allowed;
}

}  // namespace

void SetFileFaultHook(FileFaultHook hook) {
  std::lock_guard<std::mutex> lock(hookMutex);
  hookInstalled.store(static_cast<bool>(hook));
  faultHook = std::move(hook);
}

File::~File() { Close(); }

File::File(File&& other) noexcept { *this = std::move(other); }

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
#ifdef _WIN32
    handle_ = std::exchange(other.handle_, nullptr);
#else
    fd_ = std::exchange(other.fd_, -1);
#endif
    path_ = std::move(other.path_);
  }
  return *this;
}

#ifdef _WIN32

File File::OpenRead(const std::string& path) {
  File file;
  if (Allowed(FileOp::OpenRead, path, 0, 0) < 0) return file;
  HANDLE h =
      CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    file.handle_ = h;
    file.path_ = path;
  }
  return file;
}

File File::Create(const std::string& path) {
  File file;
  if (Allowed(FileOp::Create, path, 0, 0) < 0) return file;
  HANDLE h =
      CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    file.handle_ = h;
    file.path_ = path;
  }
  return file;
}

bool File::IsOpen() const { return handle_ != nullptr; }

int64_t File::Read(void* buffer, size_t n) {
  if (!handle_) return -1;
  if (n > 0x40000000) n = 0x40000000;
  int64_t allowed = Allowed(FileOp::Read, path_, hookInstalled.load() ? Tell() : 0, n);
  if (allowed < 0) return -1;
  DWORD got = 0;
  if (!ReadFile(static_cast<HANDLE>(handle_), buffer, static_cast<DWORD>(allowed), &got, nullptr)) return -1;
  return got;
}

bool File::Write(const void* buffer, size_t n) {
  if (!handle_) return false;
  const char* bytes = static_cast<const char*>(buffer);
  int64_t allowed = Allowed(FileOp::Write, path_, hookInstalled.load() ? Tell() : 0, n);
  if (allowed < 0) return false;
  size_t todo = static_cast<size_t>(allowed);
  while (todo > 0) {
    DWORD chunk = todo > 0x40000000 ? 0x40000000 : static_cast<DWORD>(todo);
    DWORD written = 0;
    if (!WriteFile(static_cast<HANDLE>(handle_), bytes, chunk, &written, nullptr) || written == 0) return false;
    bytes += written;
    todo -= written;
  }
  return static_cast<size_t>(allowed) == n;
}

bool File::Seek(int64_t position) {
  if (!handle_ || position < 0) return false;
  LARGE_INTEGER to;
  to.QuadPart = position;
  return SetFilePointerEx(static_cast<HANDLE>(handle_), to, nullptr, FILE_BEGIN) != 0;
}

int64_t File::Tell() {
  if (!handle_) return -1;
  LARGE_INTEGER zero, now;
  zero.QuadPart = 0;
  if (!SetFilePointerEx(static_cast<HANDLE>(handle_), zero, &now, FILE_CURRENT)) return -1;
  return now.QuadPart;
}

int64_t File::Size() {
  if (!handle_) return -1;
  LARGE_INTEGER size;
  if (!GetFileSizeEx(static_cast<HANDLE>(handle_), &size)) return -1;
  return size.QuadPart;
}

bool File::Close() {
  if (!handle_) return true;
  bool ok = CloseHandle(static_cast<HANDLE>(handle_)) != 0;
  handle_ = nullptr;
  return ok;
}

bool SameFile(const std::string& a, const std::string& b) {
  auto identify = [](const std::string& path, BY_HANDLE_FILE_INFORMATION* info) {
    HANDLE h = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    bool ok = GetFileInformationByHandle(h, info) != 0;
    CloseHandle(h);
    return ok;
  };
  BY_HANDLE_FILE_INFORMATION ia, ib;
  if (!identify(a, &ia) || !identify(b, &ib)) return false;
  return ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber && ia.nFileIndexHigh == ib.nFileIndexHigh &&
         ia.nFileIndexLow == ib.nFileIndexLow;
}

#else

File File::OpenRead(const std::string& path) {
  File file;
  if (Allowed(FileOp::OpenRead, path, 0, 0) < 0) return file;
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    struct stat st;
    if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
      ::close(fd);
      return file;
    }
    file.fd_ = fd;
    file.path_ = path;
  }
  return file;
}

File File::Create(const std::string& path) {
  File file;
  if (Allowed(FileOp::Create, path, 0, 0) < 0) return file;
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd >= 0) {
    file.fd_ = fd;
    file.path_ = path;
  }
  return file;
}

bool File::IsOpen() const { return fd_ >= 0; }

int64_t File::Read(void* buffer, size_t n) {
  if (fd_ < 0) return -1;
  int64_t allowed = Allowed(FileOp::Read, path_, hookInstalled.load() ? Tell() : 0, n);
  if (allowed < 0) return -1;
  for (;;) {
    ssize_t got = ::read(fd_, buffer, static_cast<size_t>(allowed));
    if (got >= 0) return got;
    if (errno != EINTR) return -1;
  }
}

bool File::Write(const void* buffer, size_t n) {
  if (fd_ < 0) return false;
  const char* bytes = static_cast<const char*>(buffer);
  int64_t allowed = Allowed(FileOp::Write, path_, hookInstalled.load() ? Tell() : 0, n);
  if (allowed < 0) return false;
  size_t todo = static_cast<size_t>(allowed);
  while (todo > 0) {
    ssize_t written = ::write(fd_, bytes, todo);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes += written;
    todo -= static_cast<size_t>(written);
  }
  return static_cast<size_t>(allowed) == n;
}

bool File::Seek(int64_t position) {
  if (fd_ < 0 || position < 0) return false;
  return ::lseek(fd_, static_cast<off_t>(position), SEEK_SET) == static_cast<off_t>(position);
}

int64_t File::Tell() {
  if (fd_ < 0) return -1;
  return ::lseek(fd_, 0, SEEK_CUR);
}

int64_t File::Size() {
  if (fd_ < 0) return -1;
  struct stat st;
  if (fstat(fd_, &st) != 0) return -1;
  return st.st_size;
}

bool File::Close() {
  if (fd_ < 0) return true;
  bool ok = ::close(fd_) == 0;
  fd_ = -1;
  return ok;
}

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

#endif

int64_t File::ReadFull(void* buffer, size_t n) {
  size_t total = 0;
  char* bytes = static_cast<char*>(buffer);
  while (total < n) {
    int64_t got = Read(bytes + total, n - total);
    if (got < 0) return -1;
    if (got == 0) break;
    total += static_cast<size_t>(got);
  }
  return static_cast<int64_t>(total);
}

#ifdef _WIN32
std::string ProgramTextFromUtf8(std::string_view utf8) {
  if (utf8.empty() || utf8.size() > 0x7fffffff / 2) return {};
  int size = static_cast<int>(utf8.size());
  int wide = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
  if (wide <= 0) return {};
  std::wstring text(static_cast<size_t>(wide), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, text.data(), wide);
  int narrow = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), wide, nullptr, 0, "_", nullptr);
  if (narrow <= 0) return {};
  std::string out(static_cast<size_t>(narrow), '\0');
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), wide, out.data(), narrow, "_", nullptr);
  return out;
}
#else
std::string ProgramTextFromUtf8(std::string_view utf8) { return std::string(utf8); }
#endif

}  // namespace snip
