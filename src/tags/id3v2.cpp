#include "tags/id3v2.h"

#include <cstring>
#include <string>
#include <string_view>

namespace snip {

namespace {

// The largest body a tag header can state: 28 bits.
constexpr size_t kMostBody = 0x0FFFFFFF;

uint32_t BigEndian(const uint8_t* p, size_t n) {
  uint32_t v = 0;
  for (size_t i = 0; i < n; ++i) v = v << 8 | p[i];
  return v;
}

// Four bytes of seven bits each; false when a byte has its top bit set.
bool Syncsafe(const uint8_t* p, uint32_t* value) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) {
    if (p[i] & 0x80) return false;
    v = v << 7 | p[i];
  }
  *value = v;
  return true;
}

// Undoes unsynchronisation: every 0xFF 0x00 becomes 0xFF.
std::vector<uint8_t> Resync(const uint8_t* data, size_t size) {
  std::vector<uint8_t> out;
  out.reserve(size);
  for (size_t i = 0; i < size; ++i) {
    out.push_back(data[i]);
    if (data[i] == 0xFF && i + 1 < size && data[i + 1] == 0x00) ++i;
  }
  return out;
}

struct Bytes {
  const uint8_t* data;
  size_t size;
};

// Where a string in the given encoding ends (at its terminator, or the end)
// and where the next one begins.
void StringEnd(Bytes b, int encoding, size_t* end, size_t* next) {
  bool wide = encoding == 1 || encoding == 2;
  if (!wide) {
    const void* zero = std::memchr(b.data, 0, b.size);
    *end = zero ? static_cast<size_t>(static_cast<const uint8_t*>(zero) - b.data) : b.size;
    *next = zero ? *end + 1 : b.size;
    return;
  }
  for (size_t i = 0; i + 1 < b.size; i += 2) {
    if (b.data[i] == 0 && b.data[i + 1] == 0) {
      *end = i;
      *next = i + 2;
      return;
    }
  }
  *end = b.size;
  *next = b.size;
}

std::string Decode(Bytes b, int encoding) {
  switch (encoding) {
    case 0:
      return Utf8FromLatin1(std::string_view(reinterpret_cast<const char*>(b.data), b.size));
    case 1: {
      // A byte-order mark leads; without one, little-endian as most writers use.
      bool bigEndian = false;
      if (b.size >= 2 && ((b.data[0] == 0xFE && b.data[1] == 0xFF) || (b.data[0] == 0xFF && b.data[1] == 0xFE))) {
        bigEndian = b.data[0] == 0xFE;
        b.data += 2;
        b.size -= 2;
      }
      return Utf8FromUtf16(b.data, b.size, bigEndian);
    }
    case 2:
      return Utf8FromUtf16(b.data, b.size, true);
    default:
      return CleanUtf8(std::string_view(reinterpret_cast<const char*>(b.data), b.size));
  }
}

// The first string of a text frame.
bool ReadText(Bytes b, std::string* text) {
  if (b.size < 1 || b.data[0] > 3) return false;
  int encoding = b.data[0];
  Bytes rest{b.data + 1, b.size - 1};
  size_t end = 0, next = 0;
  StringEnd(rest, encoding, &end, &next);
  *text = Decode(Bytes{rest.data, end}, encoding);
  return true;
}

// APIC (2.3, 2.4) or PIC (2.2).
bool ReadPicture(Bytes b, bool v22, TagPicture* picture) {
  if (b.size < 2 || b.data[0] > 3) return false;
  int encoding = b.data[0];
  size_t pos = 1;
  if (v22) {
    if (b.size < pos + 4) return false;
    std::string format;
    for (size_t i = 0; i < 3 && b.data[pos + i] != 0; ++i) {
      char c = static_cast<char>(b.data[pos + i]);
      format += c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    }
    picture->mime = format == "jpg" ? "image/jpeg" : "image/" + Utf8FromLatin1(format);
    pos += 3;
  } else {
    const void* zero = std::memchr(b.data + pos, 0, b.size - pos);
    if (!zero) return false;
    size_t end = static_cast<size_t>(static_cast<const uint8_t*>(zero) - b.data);
    picture->mime = Utf8FromLatin1(std::string_view(reinterpret_cast<const char*>(b.data + pos), end - pos));
    pos = end + 1;
  }
  if (pos >= b.size) return false;
  picture->type = b.data[pos++];
  size_t end = 0, next = 0;
  Bytes rest{b.data + pos, b.size - pos};
  StringEnd(rest, encoding, &end, &next);
  picture->description = Decode(Bytes{rest.data, end}, encoding);
  picture->data.assign(rest.data + next, rest.data + rest.size);
  return !picture->data.empty();
}

bool IsFrameIdChar(uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

void TakeFrame(std::string_view id, Bytes content, bool v22, TagInfo* info) {
  struct TextField {
    const char* v22;
    const char* id;
    std::string TagInfo::*field;
  };
  static const TextField kFields[] = {
      {"TT2", "TIT2", &TagInfo::title},       {"TP1", "TPE1", &TagInfo::artist}, {"TAL", "TALB", &TagInfo::album},
      {"TP2", "TPE2", &TagInfo::albumArtist}, {"TYE", "TYER", &TagInfo::year},   {"TCO", "TCON", &TagInfo::genre},
      {"TRK", "TRCK", &TagInfo::track},       {"", "TDRC", &TagInfo::year},
  };
  for (const TextField& f : kFields) {
    if (id != (v22 ? f.v22 : f.id)) continue;
    std::string& field = info->*f.field;
    if (!field.empty()) return;  // the first frame of a kind counts
    std::string text;
    if (!ReadText(content, &text)) return;
    // A recording time ("2009-05-17T20:00") gives its year.
    if (id == "TDRC") text = CleanUtf8(text.substr(0, 4));
    field = text;
    return;
  }
  if (id == (v22 ? "PIC" : "APIC")) {
    TagPicture picture;
    if (ReadPicture(content, v22, &picture)) info->pictures.push_back(std::move(picture));
  }
}

void PutBigEndian(std::vector<uint8_t>* out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out->push_back(static_cast<uint8_t>(v >> shift));
}

// Text with its encoding byte in front: ISO-8859-1 when every character has
// a place there, else UTF-16 with a byte-order mark.
void PutEncoded(std::vector<uint8_t>* out, const std::string& text, bool terminate) {
  if (FitsLatin1(text)) {
    std::string latin1 = Latin1FromUtf8(text);
    out->insert(out->end(), latin1.begin(), latin1.end());
    if (terminate) out->push_back(0);
  } else {
    out->push_back(0xFF);
    out->push_back(0xFE);
    std::vector<uint8_t> units = Utf16LeFromUtf8(text);
    out->insert(out->end(), units.begin(), units.end());
    if (terminate) out->insert(out->end(), {0, 0});
  }
}

void PutFrame(std::vector<uint8_t>* out, const char* id, const std::vector<uint8_t>& content) {
  out->insert(out->end(), id, id + 4);
  PutBigEndian(out, static_cast<uint32_t>(content.size()));
  out->insert(out->end(), {0, 0});
  out->insert(out->end(), content.begin(), content.end());
}

void PutTextFrame(std::vector<uint8_t>* out, const char* id, const std::string& text) {
  if (text.empty()) return;
  std::vector<uint8_t> content;
  content.push_back(FitsLatin1(text) ? 0 : 1);
  PutEncoded(&content, text, false);
  PutFrame(out, id, content);
}

}  // namespace

int64_t Id3v2Size(const uint8_t* data, size_t size) {
  if (size < kId3v2HeaderSize || std::memcmp(data, "ID3", 3) != 0) return 0;
  if (data[3] == 0xFF || data[4] == 0xFF) return 0;
  uint32_t body = 0;
  if (!Syncsafe(data + 6, &body)) return 0;
  bool footer = data[3] >= 4 && (data[5] & 0x10) != 0;
  return static_cast<int64_t>(kId3v2HeaderSize) + body + (footer ? 10 : 0);
}

bool ReadId3v2(const uint8_t* data, size_t size, TagInfo* info) {
  if (Id3v2Size(data, size) == 0) return false;
  const int major = data[3];
  if (major < 2 || major > 4) return false;
  const uint8_t flags = data[5];
  uint32_t declared = 0;
  Syncsafe(data + 6, &declared);
  size_t bodySize = size - kId3v2HeaderSize < declared ? size - kId3v2HeaderSize : declared;
  const uint8_t* bodyStart = data + kId3v2HeaderSize;
  const bool tagUnsync = (flags & 0x80) != 0;

  // Before 2.4 unsynchronisation covers the whole body, extended header
  // included; in 2.4 it is undone frame by frame.
  std::vector<uint8_t> resynced;
  Bytes body{bodyStart, bodySize};
  if (major < 4 && tagUnsync) {
    resynced = Resync(bodyStart, bodySize);
    body = Bytes{resynced.data(), resynced.size()};
  }

  size_t pos = 0;
  if (flags & 0x40) {
    // 2.2 used this flag for a compression that was never defined.
    if (major == 2) return true;
    if (body.size < 4) return true;
    uint32_t extended = 0;
    if (major == 3) {
      pos = 4 + static_cast<size_t>(BigEndian(body.data, 4));
    } else {
      if (!Syncsafe(body.data, &extended)) extended = BigEndian(body.data, 4);
      pos = extended;
    }
    if (pos > body.size) return true;
  }

  const bool v22 = major == 2;
  const size_t headerSize = v22 ? 6 : 10;
  const size_t idSize = v22 ? 3 : 4;
  while (body.size - pos >= headerSize) {
    const uint8_t* header = body.data + pos;
    bool validId = true;
    for (size_t i = 0; i < idSize; ++i) validId = validId && IsFrameIdChar(header[i]);
    if (!validId) break;  // padding, or the tag is damaged from here on
    std::string_view id(reinterpret_cast<const char*>(header), idSize);
    uint32_t frameSize = 0;
    if (v22) {
      frameSize = BigEndian(header + 3, 3);
    } else if (major == 3) {
      frameSize = BigEndian(header + 4, 4);
    } else if (!Syncsafe(header + 4, &frameSize)) {
      // Some writers put plain sizes into 2.4 tags.
      frameSize = BigEndian(header + 4, 4);
    }
    const uint8_t format = v22 ? 0 : header[9];
    pos += headerSize;
    if (frameSize > body.size - pos) break;  // a frame cut short is left out
    Bytes content{body.data + pos, frameSize};
    pos += frameSize;

    std::vector<uint8_t> frameResynced;
    if (major == 3) {
      if (format & 0xC0) continue;  // compressed or encrypted
      if (format & 0x20) {          // grouping identity
        if (content.size < 1) continue;
        content = Bytes{content.data + 1, content.size - 1};
      }
    } else if (major == 4) {
      if (format & 0x0C) continue;  // compressed or encrypted
      size_t skip = ((format & 0x40) ? 1 : 0) + ((format & 0x01) ? 4 : 0);
      if (content.size < skip) continue;
      content = Bytes{content.data + skip, content.size - skip};
      if (tagUnsync || (format & 0x02)) {
        frameResynced = Resync(content.data, content.size);
        content = Bytes{frameResynced.data(), frameResynced.size()};
      }
    }
    TakeFrame(id, content, v22, info);
  }
  return true;
}

std::vector<uint8_t> WriteId3v2(const TagInfo& info) {
  std::vector<uint8_t> frames;
  PutTextFrame(&frames, "TIT2", info.title);
  PutTextFrame(&frames, "TPE1", info.artist);
  PutTextFrame(&frames, "TRCK", info.track);
  PutTextFrame(&frames, "TALB", info.album);
  PutTextFrame(&frames, "TPE2", info.albumArtist);
  PutTextFrame(&frames, "TYER", info.year);
  PutTextFrame(&frames, "TCON", info.genre);
  for (const TagPicture& picture : info.pictures) {
    std::vector<uint8_t> content;
    content.push_back(FitsLatin1(picture.description) ? 0 : 1);
    std::string mime = Latin1FromUtf8(picture.mime);
    content.insert(content.end(), mime.begin(), mime.end());
    content.push_back(0);
    content.push_back(picture.type);
    PutEncoded(&content, picture.description, true);
    content.insert(content.end(), picture.data.begin(), picture.data.end());
    if (frames.size() + 10 + content.size() > kMostBody) continue;
    PutFrame(&frames, "APIC", content);
  }
  if (frames.empty()) return {};

  std::vector<uint8_t> tag = {'I', 'D', '3', 3, 0, 0};
  uint32_t size = static_cast<uint32_t>(frames.size());
  for (int shift = 21; shift >= 0; shift -= 7) tag.push_back(static_cast<uint8_t>((size >> shift) & 0x7F));
  tag.insert(tag.end(), frames.begin(), frames.end());
  return tag;
}

}  // namespace snip
