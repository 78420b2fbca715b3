#include "app/win/dropped_files.h"

#include <shellapi.h>

#include <algorithm>

std::vector<std::string> TakeDroppedPaths(HDROP drop) {
  std::vector<std::string> paths;
  UINT count = DragQueryFileA(drop, 0xFFFFFFFF, nullptr, 0);
  for (UINT i = 0; i < count; ++i) {
    UINT length = DragQueryFileA(drop, i, nullptr, 0);
    if (length == 0) continue;
    std::string path(length + 1, '\0');
    UINT got = DragQueryFileA(drop, i, path.data(), length + 1);
    path.resize(got);
    if (!path.empty()) paths.push_back(path);
  }
  DragFinish(drop);
  return paths;
}

bool IsFolderPath(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsFilePath(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool HasExtension(const std::string& path, const char* ext) {
  size_t n = std::char_traits<char>::length(ext);
  if (path.size() < n) return false;
  return CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, path.c_str() + path.size() - n, static_cast<int>(n), ext,
                        static_cast<int>(n)) == CSTR_EQUAL;
}

std::vector<std::string> Mp3FilesIn(const std::string& folder) {
  std::string base = folder;
  if (!base.empty() && base.back() != '\\' && base.back() != '/') base += '\\';
  std::vector<std::string> names;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((base + "*.mp3").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return {};
  do {
    // The pattern also matches longer extensions through short names.
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && HasExtension(found.cFileName, ".mp3")) {
      names.push_back(found.cFileName);
    }
  } while (FindNextFileA(search, &found));
  FindClose(search);
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    return CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a.c_str(), -1, b.c_str(), -1) == CSTR_LESS_THAN;
  });
  for (std::string& name : names) name = base + name;
  return names;
}
