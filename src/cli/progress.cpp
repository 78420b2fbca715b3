#include "cli/progress.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <algorithm>

namespace snip::cli {

namespace {
constexpr int kBarCells = 30;
}

bool IsTerminal(std::FILE* stream) {
#ifdef _WIN32
  return _isatty(_fileno(stream)) != 0;
#else
  return isatty(fileno(stream)) != 0;
#endif
}

ProgressBar::ProgressBar(std::FILE* stream, bool enabled) : stream_(stream), enabled_(enabled) {}

ProgressBar ProgressBar::ForStandardError() { return ProgressBar(stderr, IsTerminal(stderr)); }

void ProgressBar::SetLabel(const std::string& label) {
  if (label == label_) return;
  label_ = label;
  if (permille_ < 0) permille_ = 0;
  Draw();
}

void ProgressBar::Update(int64_t done, int64_t total) {
  int permille = 0;
  if (total > 0) {
    done = std::clamp<int64_t>(done, 0, total);
    permille = static_cast<int>(done * 1000 / total);
  }
  // Redraw only when the shown value moves: a terminal is slow next to the copy.
  if (permille == permille_) return;
  permille_ = permille;
  Draw();
}

void ProgressBar::Draw() {
  if (!enabled_) return;
  int filled = permille_ * kBarCells / 1000;
  std::string line = "\r";
  line += label_;
  line += " [";
  line.append(static_cast<size_t>(filled), '#');
  line.append(static_cast<size_t>(kBarCells - filled), '.');
  char percent[16];
  std::snprintf(percent, sizeof percent, "] %3d%%", permille_ / 10);
  line += percent;
  size_t width = line.size() - 1;
  // A shorter line than the last one must wipe the rest of it.
  if (width < drawnWidth_) line.append(drawnWidth_ - width, ' ');
  drawnWidth_ = std::max(width, drawnWidth_);
  std::fputs(line.c_str(), stream_);
  std::fflush(stream_);
}

void ProgressBar::Clear() {
  if (!enabled_ || drawnWidth_ == 0) return;
  std::string blank(drawnWidth_ + 2, ' ');
  blank.front() = '\r';
  blank.back() = '\r';
  std::fputs(blank.c_str(), stream_);
  std::fflush(stream_);
  drawnWidth_ = 0;
  permille_ = -1;
  label_.clear();
}

}  // namespace snip::cli
