// python3-mutagen as an outside judge of ID3 tags (the Linux side only).
#pragma once

#include <map>
#include <string>
#include <vector>

namespace snip::test {

struct JudgedPicture {
  std::string mime;
  int type = 0;
  std::string description;
  int encoding = -1;
  std::string sha1;  // of the picture's bytes
};

struct JudgedTags {
  bool ran = false;
  int version = 0;                          // ID3v2 minor version (3 or 4); 0 when there is no tag
  std::map<std::string, std::string> text;  // text frame id -> first value, UTF-8
  std::map<std::string, int> encoding;      // text frame id -> encoding byte
  std::vector<JudgedPicture> pictures;
  std::map<std::string, std::string> v1;  // the ID3v1 tag as mutagen reads it: frame id -> value
};

bool HaveMutagen();
// Reads path's leading ID3v2 tag and its trailing ID3v1 tag with mutagen.
JudgedTags ReadTagsWithMutagen(const std::string& path);
// Runs a Python script with mutagen at hand; sys.argv[1:] are args. True
// when it ends with status 0.
bool RunPython(const std::string& script, const std::vector<std::string>& args);
// SHA-1 of bytes, in hex, as Python's hashlib gives it.
std::string Sha1Hex(const std::vector<unsigned char>& bytes);

}  // namespace snip::test
