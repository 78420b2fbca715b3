#include "split/track_naming.h"

#include <cstring>
#include <string>
#include <string_view>

namespace snip {

namespace {

#ifdef _WIN32
constexpr char kFolderSeparator = '\\';
#else
constexpr char kFolderSeparator = '/';
#endif

// The source's name after its last folder separator, up to its first ".".
std::string_view BaseName(std::string_view path) {
  size_t slash = path.rfind(kFolderSeparator);
  std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  return name.substr(0, name.find('.'));
}

// Replaces the first occurrence of field in text, if any.
void ReplaceFirst(std::string* text, std::string_view field, std::string_view value) {
  size_t at = text->find(field);
  if (at != std::string::npos) text->replace(at, field.size(), value);
}

}  // namespace

bool IsValidNameTemplate(const char* text) {
  if (!text) return true;
  static const char kRefused[] = {'\\', '/', ':', '*', '?', '"', '<', '>', '|'};
  for (char c : kRefused) {
    if (std::strchr(text, c)) return false;
  }
  return true;
}

bool BuildTrackFileName(const char* sourcePath, const char* pathTemplate, const char* artist, const char* title, int n,
                        char* result) {
  if (!result) return false;
  result[0] = '\0';
  if (n < 0) return false;

  std::string name = pathTemplate ? pathTemplate : "";
  ReplaceFirst(&name, "%file%", BaseName(sourcePath ? sourcePath : ""));
  ReplaceFirst(&name, "%artist%", artist ? artist : "");
  ReplaceFirst(&name, "%title%", title ? title : "");

  size_t track = name.find("%track%");
  if (track != std::string::npos) {
    long long number = static_cast<long long>(n) + 1;
    std::string digits = std::to_string(number);
    size_t width = number <= 99 ? 2 : 3;  // 01 to 99, then 100, 101, ...
    if (digits.size() < width) digits.insert(0, width - digits.size(), '0');
    name.replace(track, std::strlen("%track%"), digits);
  }
  name += ".mp3";

  if (name.size() > kPathChars - 1) return false;
  std::memcpy(result, name.c_str(), name.size() + 1);
  return true;
}

}  // namespace snip
