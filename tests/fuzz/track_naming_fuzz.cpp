// Track file names from any source path, template, artist and title: the
// result fits its 260 characters or is refused empty, always ends in ".mp3",
// and keeps whatever of the template is not a field.
#include <cstring>
#include <memory>
#include <string>

#include "fuzz_support.h"
#include "split/track_naming.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  snip::fuzz::InputReader in(data, size);
  int n = static_cast<int16_t>(in.U16());
  std::string source = in.Text();
  std::string pathTemplate = in.Text();
  std::string artist = in.Text();
  std::string title = in.Text();

  // Exactly 260 characters on the heap, so that one more is caught.
  std::unique_ptr<char[]> result(new char[snip::kPathChars]);
  std::memset(result.get(), 'x', snip::kPathChars);
  bool built =
      snip::BuildTrackFileName(source.c_str(), pathTemplate.c_str(), artist.c_str(), title.c_str(), n, result.get());
  const char* end = static_cast<const char*>(std::memchr(result.get(), '\0', snip::kPathChars));
  FUZZ_CHECK(end != nullptr, "result left unterminated");
  std::string name(result.get(), static_cast<size_t>(end - result.get()));
  // Each field is replaced at most once and the track number is shorter
  // than "%track%", so the name is never longer than all its parts together.
  size_t parts = pathTemplate.size() + source.size() + artist.size() + title.size() + 4;
  if (!built) {
    FUZZ_CHECK(name.empty(), "a refused name left text behind");
    FUZZ_CHECK(n < 0 || parts > snip::kPathChars - 1, "a name whose parts fit was refused");
    return 0;
  }
  FUZZ_CHECK(name.size() <= parts, "the name is longer than its parts");
  FUZZ_CHECK(n >= 0, "a negative track index was named");
  FUZZ_CHECK(name.size() <= snip::kPathChars - 1, "name longer than 259 characters");
  FUZZ_CHECK(name.size() >= 4 && name.compare(name.size() - 4, 4, ".mp3") == 0, "name does not end in .mp3");

  // A template without fields comes out as it is.
  if (pathTemplate.find('%') == std::string::npos) {
    FUZZ_CHECK(name == pathTemplate + ".mp3", "a template without fields was changed: " + name);
  }
  // The text before the template's first field is never touched.
  size_t firstField = pathTemplate.find('%');
  std::string head = pathTemplate.substr(0, firstField);
  FUZZ_CHECK(name.compare(0, head.size(), head) == 0, "the folder part was changed: " + name);

  return 0;
}
