// A one-line progress bar on standard error, drawn only when standard error
// is a terminal; silent otherwise, so that scripts and logs see only the
// messages.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace snip::cli {

class ProgressBar {
 public:
  // Draws on stream when enabled; use ForStandardError() for the usual case.
  ProgressBar(std::FILE* stream, bool enabled);
  static ProgressBar ForStandardError();

  // The text in front of the bar, such as "Creating... [003]".
  void SetLabel(const std::string& label);
  void Update(int64_t done, int64_t total);
  // Takes the bar off the line so that a message can follow on a clean line.
  void Clear();
  bool Enabled() const { return enabled_; }

 private:
  void Draw();

  std::FILE* stream_;
  bool enabled_;
  std::string label_;
  int permille_ = -1;
  size_t drawnWidth_ = 0;
};

// Whether the stream is a terminal.
bool IsTerminal(std::FILE* stream);

}  // namespace snip::cli
