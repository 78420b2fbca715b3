#include "tags/tag_info.h"

#include <cctype>

namespace snip {

namespace {

constexpr uint32_t kReplacement = 0xFFFD;

void AppendUtf8(std::string* out, uint32_t code) {
  if (code < 0x80) {
    *out += static_cast<char>(code);
  } else if (code < 0x800) {
    *out += static_cast<char>(0xC0 | (code >> 6));
    *out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    *out += static_cast<char>(0xE0 | (code >> 12));
    *out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    *out += static_cast<char>(0xF0 | (code >> 18));
    *out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    *out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// The character at utf8[*i], moving *i past it. A byte that does not begin a
// valid sequence is taken as a Latin-1 character on its own.
uint32_t NextCode(std::string_view utf8, size_t* i) {
  unsigned char c = static_cast<unsigned char>(utf8[*i]);
  size_t more = 0;
  uint32_t code = 0, least = 0;
  if (c < 0x80) {
    ++*i;
    return c;
  } else if (c >= 0xC2 && c <= 0xDF) {
    more = 1, code = c & 0x1F, least = 0x80;
  } else if (c >= 0xE0 && c <= 0xEF) {
    more = 2, code = c & 0x0F, least = 0x800;
  } else if (c >= 0xF0 && c <= 0xF4) {
    more = 3, code = c & 0x07, least = 0x10000;
  } else {
    ++*i;
    return c;
  }
  if (*i + more >= utf8.size()) {
    ++*i;
    return c;
  }
  for (size_t k = 1; k <= more; ++k) {
    unsigned char next = static_cast<unsigned char>(utf8[*i + k]);
    if ((next & 0xC0) != 0x80) {
      ++*i;
      return c;
    }
    code = code << 6 | (next & 0x3F);
  }
  if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
    ++*i;
    return c;
  }
  *i += more + 1;
  return code;
}

const char* const kGenres[] = {
    "Blues",        "Classic Rock",      "Country",          "Dance",        "Disco",         "Funk",
    "Grunge",       "Hip-Hop",           "Jazz",             "Metal",        "New Age",       "Oldies",
    "Other",        "Pop",               "R&B",              "Rap",          "Reggae",        "Rock",
    "Techno",       "Industrial",        "Alternative",      "Ska",          "Death Metal",   "Pranks",
    "Soundtrack",   "Euro-Techno",       "Ambient",          "Trip-Hop",     "Vocal",         "Jazz+Funk",
    "Fusion",       "Trance",            "Classical",        "Instrumental", "Acid",          "House",
    "Game",         "Sound Clip",        "Gospel",           "Noise",        "AlternRock",    "Bass",
    "Soul",         "Punk",              "Space",            "Meditative",   "Instrumental Pop", "Instrumental Rock",
    "Ethnic",       "Gothic",            "Darkwave",         "Techno-Industrial", "Electronic", "Pop-Folk",
    "Eurodance",    "Dream",             "Southern Rock",    "Comedy",       "Cult",          "Gangsta",
    "Top 40",       "Christian Rap",     "Pop/Funk",         "Jungle",       "Native American", "Cabaret",
    "New Wave",     "Psychadelic",       "Rave",             "Showtunes",    "Trailer",       "Lo-Fi",
    "Tribal",       "Acid Punk",         "Acid Jazz",        "Polka",        "Retro",         "Musical",
    "Rock & Roll",  "Hard Rock",
};
constexpr int kGenreCount = static_cast<int>(sizeof(kGenres) / sizeof(kGenres[0]));

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

// A number of 1 to 3 digits, or -1.
int SmallNumber(std::string_view digits) {
  if (digits.empty() || digits.size() > 3) return -1;
  int n = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return -1;
    n = n * 10 + (c - '0');
  }
  return n;
}

}  // namespace

std::string Utf8FromLatin1(std::string_view latin1) {
  std::string out;
  out.reserve(latin1.size());
  for (char c : latin1) AppendUtf8(&out, static_cast<unsigned char>(c));
  return out;
}

std::string CleanUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) AppendUtf8(&out, NextCode(text, &i));
  return out;
}

bool FitsLatin1(std::string_view utf8) {
  for (size_t i = 0; i < utf8.size();) {
    if (NextCode(utf8, &i) > 0xFF) return false;
  }
  return true;
}

std::string Latin1FromUtf8(std::string_view utf8) {
  std::string out;
  for (size_t i = 0; i < utf8.size();) {
    uint32_t code = NextCode(utf8, &i);
    out += code > 0xFF ? '?' : static_cast<char>(code);
  }
  return out;
}

std::string Utf8FromUtf16(const uint8_t* data, size_t size, bool bigEndian) {
  auto unit = [&](size_t i) -> uint32_t {
    return bigEndian ? (uint32_t{data[i]} << 8 | data[i + 1]) : (uint32_t{data[i + 1]} << 8 | data[i]);
  };
  std::string out;
  for (size_t i = 0; i + 1 < size; i += 2) {
    uint32_t code = unit(i);
    if (code >= 0xD800 && code <= 0xDBFF && i + 3 < size) {
      uint32_t low = unit(i + 2);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        AppendUtf8(&out, 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00));
        i += 2;
        continue;
      }
    }
    AppendUtf8(&out, code >= 0xD800 && code <= 0xDFFF ? kReplacement : code);
  }
  return out;
}

std::vector<uint8_t> Utf16LeFromUtf8(std::string_view utf8) {
  std::vector<uint8_t> out;
  auto put = [&out](uint32_t unit) {
    out.push_back(static_cast<uint8_t>(unit & 0xFF));
    out.push_back(static_cast<uint8_t>(unit >> 8));
  };
  for (size_t i = 0; i < utf8.size();) {
    uint32_t code = NextCode(utf8, &i);
    if (code >= 0x10000) {
      code -= 0x10000;
      put(0xD800 + (code >> 10));
      put(0xDC00 + (code & 0x3FF));
    } else {
      put(code);
    }
  }
  return out;
}

const char* Id3v1GenreName(int number) { return number >= 0 && number < kGenreCount ? kGenres[number] : ""; }

int Id3v1GenreNumber(std::string_view genre) {
  if (genre.size() >= 3 && genre.front() == '(') {
    size_t close = genre.find(')');
    if (close != std::string_view::npos) {
      int n = SmallNumber(genre.substr(1, close - 1));
      if (n >= 0 && n <= 255) return n;
    }
  }
  int n = SmallNumber(genre);
  if (n >= 0 && n <= 255) return n;
  for (int i = 0; i < kGenreCount; ++i) {
    if (SameName(genre, kGenres[i])) return i;
  }
  return 255;
}

}  // namespace snip
