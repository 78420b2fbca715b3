// Runs the command line tool as a separate process, its standard output and
// standard error caught in files, its standard input empty.
#pragma once

#include <string>
#include <vector>

namespace snip::test {

struct ProcessResult {
  int status = -1;  // exit status; -1 when the process could not be run or did not exit
  std::string out;
  std::string err;
};

// The path of the built tool.
std::string CliPath();

// Runs the tool with args and waits for it. workDir, when given, is its
// current folder.
ProcessResult RunCli(const std::vector<std::string>& args, const std::string& workDir = {});

#ifndef _WIN32
// The same, started without waiting; Finish waits for it.
class RunningCli {
 public:
  explicit RunningCli(const std::vector<std::string>& args);
  ~RunningCli();
  RunningCli(const RunningCli&) = delete;
  RunningCli& operator=(const RunningCli&) = delete;
  void Signal(int signal);
  // True, with the result filled in, once the process has ended.
  bool Finished(ProcessResult* result);
  ProcessResult Finish();

 private:
  int pid_ = -1;
  std::string outPath_;
  std::string errPath_;
};
#endif

}  // namespace snip::test
