// Track file names from any source path, folder, template, artist and title:
// the result fits its 260 characters or is refused empty, always ends in
// ".mp3", keeps whatever of the template is not a field and, for a template
// the page accepts, lies directly in the folder under a name that is no
// device's.
#include <cstring>
#include <memory>
#include <string>

#include "fuzz_support.h"
#include "split/track_naming.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  snip::fuzz::InputReader in(data, size);
  int n = static_cast<int16_t>(in.U16());
  std::string source = in.Text();
  std::string folder = in.Text();
  std::string nameTemplate = in.Text();
  std::string artist = in.Text();
  std::string title = in.Text();
  // A chosen folder always ends in its separator.
  if (!folder.empty() && folder.back() != '/') folder += '/';

  // Exactly 260 characters on the heap, so that one more is caught.
  std::unique_ptr<char[]> result(new char[snip::kPathChars]);
  std::memset(result.get(), 'x', snip::kPathChars);
  bool built = snip::BuildTrackFileName(source.c_str(), folder.c_str(), nameTemplate.c_str(), artist.c_str(),
                                        title.c_str(), n, result.get());
  const char* end = static_cast<const char*>(std::memchr(result.get(), '\0', snip::kPathChars));
  FUZZ_CHECK(end != nullptr, "result left unterminated");
  std::string path(result.get(), static_cast<size_t>(end - result.get()));
  // Each field is replaced at most once and the track number is shorter
  // than "%track%", so the path is never longer than all its parts together
  // (and the "_" before a device name).
  size_t parts = folder.size() + nameTemplate.size() + source.size() + artist.size() + title.size() + 4 + 1;
  if (!built) {
    FUZZ_CHECK(path.empty(), "a refused name left text behind");
    FUZZ_CHECK(n < 0 || parts > snip::kPathChars - 1, "a name whose parts fit was refused");
    return 0;
  }
  FUZZ_CHECK(path.size() <= parts, "the name is longer than its parts");
  FUZZ_CHECK(n >= 0, "a negative track index was named");
  FUZZ_CHECK(path.size() <= snip::kPathChars - 1, "name longer than 259 characters");
  FUZZ_CHECK(path.size() >= 4 && path.compare(path.size() - 4, 4, ".mp3") == 0, "name does not end in .mp3");

  // The folder is put in front as it is, fields and all.
  FUZZ_CHECK(path.compare(0, folder.size(), folder) == 0, "the folder was changed: " + path);
  std::string name = path.substr(folder.size());
  // A template without fields comes out as it is, with a "_" in front when
  // it names a device; the text before its first field is never touched.
  if (nameTemplate.find('%') == std::string::npos) {
    std::string expected = nameTemplate + ".mp3";
    if (snip::IsDeviceName(expected)) expected.insert(0, 1, '_');
    FUZZ_CHECK(name == expected, "a template without fields was changed: " + path);
  }
  std::string head = nameTemplate.substr(0, nameTemplate.find('%'));
  bool devicePrefix = name[0] == '_' && snip::IsDeviceName(name.substr(1));
  FUZZ_CHECK(name.compare(0, head.size(), head) == 0 || (devicePrefix && name.compare(1, head.size(), head) == 0),
             "the template's text was changed: " + path);

  // Whatever the artist, title and source hold, a name from an accepted
  // template is one file name directly in the folder, and no device.
  if (snip::IsValidNameTemplate(nameTemplate.c_str())) {
    FUZZ_CHECK(snip::LiesDirectlyIn(path, folder), "the track would leave its folder: " + path);
    FUZZ_CHECK(name.find_first_of("\\/:*?\"<>|") == std::string::npos, "a refused character in the name: " + path);
    FUZZ_CHECK(!snip::IsDeviceName(path.substr(folder.size())), "a device name: " + path);
  }
  return 0;
}
