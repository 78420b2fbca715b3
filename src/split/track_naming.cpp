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

constexpr char kRefused[] = "\\/:*?\"<>|";

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

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool SameLetters(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Upper(a[i]) != Upper(b[i])) return false;
  }
  return true;
}

}  // namespace

bool IsValidNameTemplate(const char* text) {
  if (!text) return true;
  for (const char* c = kRefused; *c; ++c) {
    if (std::strchr(text, *c)) return false;
  }
  return true;
}

std::string FileNameText(std::string_view value, bool trimTrailing) {
  std::string text(value);
  for (char& c : text) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7f || std::strchr(kRefused, c)) c = '_';
  }
  if (trimTrailing) {
    while (!text.empty() && (text.back() == '.' || text.back() == ' ')) text.pop_back();
  }
  return text;
}

bool IsDeviceName(std::string_view name) {
  std::string_view stem = name.substr(0, name.find('.'));
  while (!stem.empty() && stem.back() == ' ') stem.remove_suffix(1);
  if (stem.size() < 3) return false;
  std::string_view word = stem.substr(0, 3);
  std::string_view rest = stem.substr(3);
  if (rest.empty()) {
    return SameLetters(word, "CON") || SameLetters(word, "PRN") || SameLetters(word, "AUX") || SameLetters(word, "NUL");
  }
  if (!SameLetters(word, "COM") && !SameLetters(word, "LPT")) return false;
  // A digit, or a superscript 1, 2 or 3 (one byte in the ANSI code page, two
  // in UTF-8), which Windows takes for the digit.
  if (rest.size() == 1) return (rest[0] >= '0' && rest[0] <= '9') || rest == "\xB9" || rest == "\xB2" || rest == "\xB3";
  return rest == "\xC2\xB9" || rest == "\xC2\xB2" || rest == "\xC2\xB3";
}

bool BuildTrackFileName(const char* sourcePath, const char* folder, const char* nameTemplate, const char* artist,
                        const char* title, int n, char* result) {
  if (!result) return false;
  result[0] = '\0';
  if (n < 0) return false;

  // The fields are replaced in the template alone: a folder whose name holds
  // a field keeps it.
  std::string name = nameTemplate ? nameTemplate : "";
  ReplaceFirst(&name, "%file%", FileNameText(BaseName(sourcePath ? sourcePath : ""), false));
  ReplaceFirst(&name, "%artist%", FileNameText(artist ? artist : "", true));
  ReplaceFirst(&name, "%title%", FileNameText(title ? title : "", true));

  size_t track = name.find("%track%");
  if (track != std::string::npos) {
    long long number = static_cast<long long>(n) + 1;
    std::string digits = std::to_string(number);
    size_t width = number <= 99 ? 2 : 3;  // 01 to 99, then 100, 101, ...
    if (digits.size() < width) digits.insert(0, width - digits.size(), '0');
    name.replace(track, std::strlen("%track%"), digits);
  }
  name += ".mp3";
  if (IsDeviceName(name)) name.insert(0, 1, '_');

  std::string path = folder ? folder : "";
  path += name;
  if (path.size() > kPathChars - 1) return false;
  std::memcpy(result, path.c_str(), path.size() + 1);
  return true;
}

bool LiesDirectlyIn(std::string_view path, std::string_view folder) {
  if (path.size() <= folder.size() || path.substr(0, folder.size()) != folder) return false;
  if (!folder.empty() && folder.back() != kFolderSeparator && folder.back() != '/') return false;
  std::string_view name = path.substr(folder.size());
  if (name == "." || name == "..") return false;
#ifdef _WIN32
  return name.find_first_of("\\/:") == std::string_view::npos;
#else
  return name.find('/') == std::string_view::npos;
#endif
}

}  // namespace snip
