#include "cli/run_process.h"

#include <cstdio>
#include <fstream>
#include <iterator>

#include "support/mpeg_frames.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace snip::test {

namespace {

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// A folder for the caught output that outlives every run of one test program.
const TempDir& OutputDir() {
  static TempDir dir;
  return dir;
}

std::string NextOutputName() {
  static int counter = 0;
  return OutputDir().File("run" + std::to_string(counter++));
}

// The tool writes text: on Windows its lines end in CR LF.
std::string TextLines(std::string text) {
#ifdef _WIN32
  std::string lines;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    lines += text[i];
  }
  return lines;
#else
  return text;
#endif
}

#ifdef _WIN32
// One argument quoted so that the C runtime of the child reads it back as is.
std::string Quote(const std::string& arg) {
  std::string quoted = "\"";
  size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') backslashes = backslashes * 2 + 1;
    quoted.append(backslashes, '\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, '\\');
  quoted += '"';
  return quoted;
}

HANDLE InheritableFile(const std::string& path, bool write) {
  SECURITY_ATTRIBUTES security = {sizeof(security), nullptr, TRUE};
  return CreateFileA(path.c_str(), write ? GENERIC_WRITE : GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &security,
                     write ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}
#else
pid_t Spawn(const std::vector<std::string>& args, const std::string& workDir, const std::string& outPath,
            const std::string& errPath) {
  std::vector<std::string> all = {CliPath()};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& arg : all) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    int in = open("/dev/null", O_RDONLY);
    int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0) _exit(127);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    if (!workDir.empty() && chdir(workDir.c_str()) != 0) _exit(127);
    execv(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

int WaitFor(pid_t pid) {
  int raw = 0;
  if (pid < 0 || waitpid(pid, &raw, 0) != pid) return -1;
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}
#endif

}  // namespace

std::string CliPath() {
  std::string path = SNIPWISE_CLI;
#ifdef _WIN32
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
#endif
  return path;
}

ProcessResult RunCli(const std::vector<std::string>& args, const std::string& workDir) {
  std::string base = NextOutputName();
  std::string outPath = base + ".out", errPath = base + ".err";
  ProcessResult result;
#ifdef _WIN32
  std::string commandLine = Quote(CliPath());
  for (const std::string& arg : args) {
    commandLine += ' ';
    commandLine += Quote(arg);
  }
  HANDLE in = InheritableFile("NUL", false);
  HANDLE out = InheritableFile(outPath, true);
  HANDLE err = InheritableFile(errPath, true);
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = in;
  startup.hStdOutput = out;
  startup.hStdError = err;
  PROCESS_INFORMATION process = {};
  if (CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                     workDir.empty() ? nullptr : workDir.c_str(), &startup, &process)) {
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    if (GetExitCodeProcess(process.hProcess, &code)) result.status = static_cast<int>(code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  CloseHandle(in);
  CloseHandle(out);
  CloseHandle(err);
#else
  result.status = WaitFor(Spawn(args, workDir, outPath, errPath));
#endif
  result.out = TextLines(Slurp(outPath));
  result.err = TextLines(Slurp(errPath));
  return result;
}

#ifndef _WIN32
RunningCli::RunningCli(const std::vector<std::string>& args) {
  std::string base = NextOutputName();
  outPath_ = base + ".out";
  errPath_ = base + ".err";
  pid_ = Spawn(args, {}, outPath_, errPath_);
}

RunningCli::~RunningCli() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    WaitFor(pid_);
  }
}

void RunningCli::Signal(int signal) {
  if (pid_ > 0) kill(pid_, signal);
}

bool RunningCli::Finished(ProcessResult* result) {
  int raw = 0;
  if (pid_ <= 0 || waitpid(pid_, &raw, WNOHANG) != pid_) return false;
  pid_ = -1;
  result->status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  result->out = Slurp(outPath_);
  result->err = Slurp(errPath_);
  return true;
}

ProcessResult RunningCli::Finish() {
  ProcessResult result;
  result.status = WaitFor(pid_);
  pid_ = -1;
  result.out = Slurp(outPath_);
  result.err = Slurp(errPath_);
  return result;
}
#endif

}  // namespace snip::test
