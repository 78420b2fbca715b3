#include "app/file_io.h"

#include <atomic>
#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <utility>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace snip {

namespace {

std::mutex hookMutex;
FileFaultHook faultHook;
// Set once the program is ending: no output is begun, written or finished
// after it.
volatile std::sig_atomic_t outputsEnded = 0;
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
  // Blocks may be written on a thread of their own while the next ones are
  // read: the hook is asked by one thread at a time.
  static std::mutex askMutex;
  int64_t allowed;
  {
    std::lock_guard<std::mutex> lock(askMutex);
    allowed = hook(op, path, position, n);
  }
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
    watch_ = std::move(other.watch_);
    bytesRead_ = std::exchange(other.bytesRead_, 0);
    stopped_ = std::exchange(other.stopped_, false);
    output_ = std::exchange(other.output_, false);
  }
  return *this;
}

bool File::Watched() {
  if (!watch_ || stopped_) return !stopped_;
  if (!watch_(bytesRead_)) stopped_ = true;
  return !stopped_;
}

#ifdef _WIN32

File File::OpenRead(const std::string& path) {
  File file;
  if (Allowed(FileOp::OpenRead, path, 0, 0) < 0) return file;
  // A device or pipe is never opened: opening can connect to it, and a read
  // can wait on it for ever.
  if (KindOf(path) == PathKind::Special) return file;
  HANDLE h =
      CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return file;
  if (GetFileType(h) != FILE_TYPE_DISK) {
    CloseHandle(h);
    return file;
  }
  file.handle_ = h;
  file.path_ = path;
  return file;
}

File File::Create(const std::string& path) {
  File file;
  if (Allowed(FileOp::Create, path, 0, 0) < 0) return file;
  if (KindOf(path) == PathKind::Special) return file;
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
  if (!handle_ || !Watched()) return -1;
  if (n > 0x40000000) n = 0x40000000;
  int64_t allowed = Allowed(FileOp::Read, path_, hookInstalled.load() ? Tell() : 0, n);
  if (allowed < 0) return -1;
  DWORD got = 0;
  if (!ReadFile(static_cast<HANDLE>(handle_), buffer, static_cast<DWORD>(allowed), &got, nullptr)) return -1;
  bytesRead_ += got;
  return got;
}

bool File::Write(const void* buffer, size_t n) {
  if (!handle_ || (output_ && outputsEnded)) return false;
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


namespace {

// A name that Windows takes for a device in any folder: CON, NUL, COM1 ...,
// with or without an extension.
bool IsDeviceName(const std::string& path) {
  size_t start = path.find_last_of("\\/:");
  start = start == std::string::npos ? 0 : start + 1;
  std::string base;
  for (size_t i = start; i < path.size() && path[i] != '.'; ++i) {
    base += static_cast<char>(std::toupper(static_cast<unsigned char>(path[i])));
  }
  while (!base.empty() && base.back() == ' ') base.pop_back();
  if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL" || base == "CONIN$" || base == "CONOUT$") {
    return true;
  }
  return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) && base[3] >= '1' &&
         base[3] <= '9';
}

}  // namespace

PathKind KindOf(const std::string& path) {
  // The device namespace (\\.\pipe\..., \\.\COM1) and device names are never
  // files; "\\?\C:\..." is an ordinary long path.
  if (path.compare(0, 4, "\\\\.\\") == 0 || path.compare(0, 4, "//./") == 0) return PathKind::Special;
  if (path.compare(0, 4, "\\\\?\\") == 0 && !(path.size() > 6 && path[5] == ':')) return PathKind::Special;
  if (IsDeviceName(path)) return PathKind::Special;
  DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::Missing;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return PathKind::Folder;
  return PathKind::Regular;
}

namespace {

// Creates a new file that nobody else has open; a file of that name makes
// it fail. Shared for deletion, so that a control handler can remove it
// while it is written.
void* CreateNewFile(const std::string& path, bool* exists) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    *exists = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
    return nullptr;
  }
  return h;
}

bool RemoveFile(const char* path) { return DeleteFileA(path) != 0; }

// Gives `from` the name `to` in one step, replacing a file of that name when
// asked to.
bool RenameOver(const std::string& from, const std::string& to, bool replace) {
  return MoveFileExA(from.c_str(), to.c_str(), replace ? MOVEFILE_REPLACE_EXISTING : 0) != 0;
}

bool NamesEqual(std::string a, std::string b) {
  // Windows drops trailing dots and spaces from a name, and ignores case.
  while (!a.empty() && (a.back() == '.' || a.back() == ' ')) a.pop_back();
  while (!b.empty() && (b.back() == '.' || b.back() == ' ')) b.pop_back();
  return a.size() == b.size() && CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, a.data(), static_cast<int>(a.size()),
                                                b.data(), static_cast<int>(b.size())) == CSTR_EQUAL;
}

constexpr const char* kSeparators = "\\/";

}  // namespace

#else

File File::OpenRead(const std::string& path) {
  File file;
  if (Allowed(FileOp::OpenRead, path, 0, 0) < 0) return file;
  // Without O_NONBLOCK, opening a pipe waits for a writer for ever.
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return file;
  struct stat st;
  int flags = fcntl(fd, F_GETFL);
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    ::close(fd);
    return file;
  }
  file.fd_ = fd;
  file.path_ = path;
  return file;
}

File File::Create(const std::string& path) {
  File file;
  if (Allowed(FileOp::Create, path, 0, 0) < 0) return file;
  if (KindOf(path) == PathKind::Special) return file;
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC, 0644);
  if (fd < 0) return file;
  struct stat st;
  int flags = fcntl(fd, F_GETFL);
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    ::close(fd);
    return file;
  }
  file.fd_ = fd;
  file.path_ = path;
  return file;
}

bool File::IsOpen() const { return fd_ >= 0; }

int64_t File::Read(void* buffer, size_t n) {
  if (fd_ < 0 || !Watched()) return -1;
  int64_t allowed = Allowed(FileOp::Read, path_, hookInstalled.load() ? Tell() : 0, n);
  if (allowed < 0) return -1;
  for (;;) {
    ssize_t got = ::read(fd_, buffer, static_cast<size_t>(allowed));
    if (got >= 0) {
      bytesRead_ += got;
      return got;
    }
    if (errno != EINTR) return -1;
  }
}

bool File::Write(const void* buffer, size_t n) {
  if (fd_ < 0 || (output_ && outputsEnded)) return false;
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


PathKind KindOf(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return PathKind::Missing;
  if (S_ISREG(st.st_mode)) return PathKind::Regular;
  if (S_ISDIR(st.st_mode)) return PathKind::Folder;
  return PathKind::Special;
}

namespace {

void* CreateNewFile(const std::string& path, bool* exists) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) {
    *exists = errno == EEXIST;
    return nullptr;
  }
  return reinterpret_cast<void*>(static_cast<intptr_t>(fd) + 1);
}

bool RemoveFile(const char* path) { return ::unlink(path) == 0; }

bool RenameOver(const std::string& from, const std::string& to, bool replace) {
  if (replace) return ::rename(from.c_str(), to.c_str()) == 0;
#ifdef RENAME_NOREPLACE
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
#endif
  // A second name for the file fails when the name is taken; a file system
  // without such names gets a look before the rename.
  if (::link(from.c_str(), to.c_str()) == 0) {
    ::unlink(from.c_str());
    return true;
  }
  if (errno == EEXIST) return false;
  struct stat st;
  if (::lstat(to.c_str(), &st) == 0) return false;
  return ::rename(from.c_str(), to.c_str()) == 0;
}

bool NamesEqual(const std::string& a, const std::string& b) { return a == b; }

constexpr const char* kSeparators = "/";

}  // namespace

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


bool SamePlace(const std::string& a, const std::string& b) {
  if (SameFile(a, b)) return true;
  // Two files that both exist and are not one file are two places.
  if (KindOf(a) != PathKind::Missing && KindOf(b) != PathKind::Missing) return false;
  auto folderOf = [](const std::string& path) -> std::string {
    size_t cut = path.find_last_of(kSeparators);
    if (cut == std::string::npos) return std::string(".");
    return path.substr(0, cut == 0 ? 1 : cut + 1);
  };
  auto nameOf = [](const std::string& path) -> std::string {
    size_t cut = path.find_last_of(kSeparators);
    return cut == std::string::npos ? path : path.substr(cut + 1);
  };
  std::string folderA = folderOf(a), nameA = nameOf(a), folderB = folderOf(b), nameB = nameOf(b);
  return !nameA.empty() && NamesEqual(nameA, nameB) && SameFile(folderA, folderB);
}

// ---- outputs under a temporary name ------------------------------------------

namespace {

// The temporary files being written, for removal by a program that is being
// ended. A slot's path is written before it is marked in use and the mark is
// taken away before the path changes, so a signal handler never reads half
// a path.
constexpr int kUnfinishedSlots = 16;
constexpr size_t kUnfinishedPathBytes = 4096;
char unfinishedPaths[kUnfinishedSlots][kUnfinishedPathBytes];
volatile std::sig_atomic_t unfinishedUsed[kUnfinishedSlots];
std::mutex unfinishedMutex;
std::atomic<unsigned> tempCounter{0};

int ClaimUnfinished(const std::string& path) {
  if (path.size() >= kUnfinishedPathBytes) return -1;
  std::lock_guard<std::mutex> lock(unfinishedMutex);
  for (int i = 0; i < kUnfinishedSlots; ++i) {
    if (unfinishedUsed[i]) continue;
    std::memcpy(unfinishedPaths[i], path.c_str(), path.size() + 1);
    unfinishedUsed[i] = 1;
    return i;
  }
  return -1;
}

void ReleaseUnfinished(int slot) {
  if (slot < 0) return;
  std::lock_guard<std::mutex> lock(unfinishedMutex);
  unfinishedUsed[slot] = 0;
}

unsigned ProcessTag() {
#ifdef _WIN32
  return static_cast<unsigned>(GetCurrentProcessId());
#else
  return static_cast<unsigned>(::getpid());
#endif
}

}  // namespace

void RemoveUnfinishedOutputs() {
  outputsEnded = 1;
  for (int i = 0; i < kUnfinishedSlots; ++i) {
    if (unfinishedUsed[i]) RemoveFile(unfinishedPaths[i]);
  }
}

OutputFile::~OutputFile() { Abandon(); }

OutputFile::OutputFile(OutputFile&& other) noexcept { *this = std::move(other); }

OutputFile& OutputFile::operator=(OutputFile&& other) noexcept {
  if (this != &other) {
    Abandon();
    file_ = std::move(other.file_);
    temp_ = std::move(other.temp_);
    other.temp_.clear();
    slot_ = std::exchange(other.slot_, -1);
  }
  return *this;
}

OutputFile OutputFile::Create(const std::string& path) {
  OutputFile output;
  if (path.empty() || outputsEnded || Allowed(FileOp::Create, path, 0, 0) < 0) return output;
  PathKind kind = KindOf(path);
  if (kind == PathKind::Folder || kind == PathKind::Special) return output;
  size_t cut = path.find_last_of(kSeparators);
  std::string folder = cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
  // A short name, so that a real name that fits a path fits it as well.
  for (int attempt = 0; attempt < 100; ++attempt) {
    unsigned n = tempCounter.fetch_add(1) + ProcessTag() * 7919u;
    char name[24];
    std::snprintf(name, sizeof name, "~snip%06x.tmp", n & 0xFFFFFFu);
    std::string temp = folder + name;
    bool exists = false;
    void* handle = CreateNewFile(temp, &exists);
    if (!handle) {
      if (exists) continue;
      return output;
    }
#ifdef _WIN32
    output.file_.handle_ = handle;
#else
    output.file_.fd_ = static_cast<int>(reinterpret_cast<intptr_t>(handle) - 1);
#endif
    output.file_.path_ = path;
    output.file_.output_ = true;
    output.temp_ = temp;
    output.slot_ = ClaimUnfinished(temp);
    return output;
  }
  return output;
}

bool OutputFile::Commit(bool replace) {
  if (!file_.IsOpen()) return false;
  const std::string path = file_.Path();
  // Every byte written went to the end: the file is as long as the position.
  int64_t size = file_.Size();
  bool ok = size >= 0 && size == file_.Tell();
  ok = file_.Close() && ok;
  ok = ok && !outputsEnded && Allowed(FileOp::Commit, path, size, 0) >= 0;
  if (ok) {
    PathKind kind = KindOf(path);
    ok = kind == PathKind::Missing || (kind == PathKind::Regular && replace);
  }
  ok = ok && RenameOver(temp_, path, replace);
  if (!ok) RemoveFile(temp_.c_str());
  ReleaseUnfinished(slot_);
  slot_ = -1;
  temp_.clear();
  return ok;
}

void OutputFile::Abandon() {
  if (temp_.empty()) return;
  file_.Close();
  RemoveFile(temp_.c_str());
  ReleaseUnfinished(slot_);
  slot_ = -1;
  temp_.clear();
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

std::string Utf8FromProgramText(std::string_view text) {
  if (text.empty() || text.size() > 0x7fffffff / 2) return {};
  int size = static_cast<int>(text.size());
  int wide = MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0);
  if (wide <= 0) return {};
  std::wstring units(static_cast<size_t>(wide), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), size, units.data(), wide);
  int narrow = WideCharToMultiByte(CP_UTF8, 0, units.data(), wide, nullptr, 0, nullptr, nullptr);
  if (narrow <= 0) return {};
  std::string out(static_cast<size_t>(narrow), '\0');
  WideCharToMultiByte(CP_UTF8, 0, units.data(), wide, out.data(), narrow, nullptr, nullptr);
  return out;
}
#else
std::string ProgramTextFromUtf8(std::string_view utf8) { return std::string(utf8); }
std::string Utf8FromProgramText(std::string_view text) { return std::string(text); }
#endif

}  // namespace snip
