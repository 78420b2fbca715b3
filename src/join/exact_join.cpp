#include "join/exact_join.h"

#include <algorithm>
#include <cstring>
#include <deque>

#include "app/write_behind.h"
#include "mpeg/frame_header.h"
#include "mpeg/frame_walk.h"
#include "mpeg/lame_tag.h"
#include "mpeg/source_scan.h"

namespace snip {

namespace {

constexpr size_t kFlushBytes = 256 * 1024;
constexpr size_t kKeptFrames = 8;  // an exact track's warm-up is at most 3 frames
constexpr int64_t kTagSize = 128;

// A frame whose side information is all zeros: it decodes to silence and
// uses no main data (what an exact track starts with).
bool IsSilentFrame(const uint8_t* frame, int size) {
  size_t at = 4 + ((frame[1] & 0x01) == 0 ? 2 : 0);
  size_t side = Layer3SideInfoBytes(frame);
  if (static_cast<size_t>(size) < at + side) return false;
  for (size_t i = at; i < at + side; ++i) {
    if (frame[i] != 0) return false;
  }
  return true;
}

struct InputAudio {
  int64_t tagStart = 0, tagSize = 0;  // a leading ID3v2 tag
  int64_t start = 0, end = 0;         // the audio frames, after a summary frame and before an ID3v1 tag
  StreamSummary summary;
};

bool Examine(File& input, InputAudio* audio, bool* readFailed) {
  uint8_t id3v1[kTagSize];
  int64_t size = input.Size();
  if (size < 0) return false;
  audio->end = ReadId3v1Tag(input, id3v1) && id3v1[0] != 0 ? size - kTagSize : size;
  int64_t header = 0;
  int length = 0;
  bool isSummary = false;
  if (!LocateFirstFrame(input, 0, &header, &length, &isSummary, readFailed)) return false;
  uint8_t head[10] = {};
  if (input.Seek(0) && input.ReadFull(head, sizeof head) == static_cast<int64_t>(sizeof head)) {
    audio->tagSize = std::min<int64_t>(Id3v2TagSize(head, sizeof head), header);
  }
  audio->start = header;
  if (isSummary) {
    std::vector<uint8_t> bytes(static_cast<size_t>(length));
    if (!input.Seek(header) || input.ReadFull(bytes.data(), bytes.size()) != length) {
      *readFailed = true;
      return false;
    }
    ReadSummaryFrame(bytes.data(), bytes.size(), &audio->summary);
    audio->start = header + length;
  }
  return true;
}

}  // namespace

ExactJoinResult WriteExactJoin(const std::vector<std::string>& inputs, File& output, const ExactJoinHooks& hooks) {
  int64_t at = output.Tell();
  if (at < 0) return ExactJoinResult::WriteFailed;

  // Bytes go out in blocks, written on a thread of their own. The latest
  // frames written (keptSizes, the last keptBytes of out) stay in out after
  // a block is handed over, for comparing with the head of the next input;
  // musicFrom is where the bytes the music CRC has not yet taken begin.
  std::vector<uint8_t> out;
  out.reserve(kFlushBytes + 4096);
  std::deque<size_t> keptSizes;
  size_t keptBytes = 0;
  size_t musicFrom = 0;
  uint16_t musicCrc = 0;
  bool writeFailed = false;
  WriteBehind writer(output);
  std::vector<uint8_t> latest;
  // A block that keeps the latest frames ends where the file's blocks of
  // kFlushBytes end.
  auto flush = [&](bool keepLatest) {
    musicCrc = Crc16(out.data() + musicFrom, out.size() - musicFrom, musicCrc);
    size_t n = keepLatest ? std::min(writer.Room(kFlushBytes), out.size() - keptBytes) : out.size();
    latest.assign(out.begin() + static_cast<std::ptrdiff_t>(n), out.end());
    out.resize(n);
    if (!writer.Hand(out)) writeFailed = true;
    out.insert(out.end(), latest.begin(), latest.end());
    musicFrom = out.size();
  };

  uint8_t header[4] = {};
  int summaryLength = 0;
  int64_t summaryAt = 0;
  int64_t bytes = 0;  // from the summary frame on
  int64_t samples = 0;
  uint32_t frames = 0;
  int firstBitrate = -1;
  bool vbr = false;
  TocBuilder toc;
  StreamSummary first, last;

  auto emit = [&](const uint8_t* data, size_t n, int spf) {
    toc.Add(bytes, samples);
    bytes += static_cast<int64_t>(n);
    samples += spf;
    ++frames;
    int bitrate = HeaderBitrateIndex(data);
    if (firstBitrate < 0) firstBitrate = bitrate;
    if (bitrate != firstBitrate) vbr = true;
    out.insert(out.end(), data, data + n);
    keptSizes.push_back(n);
    keptBytes += n;
    if (keptSizes.size() > kKeptFrames) {
      keptBytes -= keptSizes.front();
      keptSizes.pop_front();
    }
    if (out.size() >= writer.Room(kFlushBytes) + keptBytes) flush(true);
  };
  // Whether the frames frames[1..len] are the last len frames written.
  auto repeatsLatest = [&](const std::vector<std::vector<uint8_t>>& frames, size_t len) {
    size_t at = out.size();
    for (size_t k = 0; k < len; ++k) at -= keptSizes[keptSizes.size() - 1 - k];
    for (size_t k = 0; k < len; ++k) {
      const std::vector<uint8_t>& f = frames[1 + k];
      size_t size = keptSizes[keptSizes.size() - len + k];
      if (f.size() != size || std::memcmp(f.data(), out.data() + at, size) != 0) return false;
      at += size;
    }
    return true;
  };

  int64_t total = 0;
  std::vector<InputAudio> audio(inputs.size());
  for (size_t i = 0; i < inputs.size(); ++i) {
    File input = File::OpenRead(inputs[i]);
    bool readFailed = false;
    if (!input.IsOpen() || !Examine(input, &audio[i], &readFailed)) {
      return readFailed || !input.IsOpen() ? ExactJoinResult::ReadFailed : ExactJoinResult::NoAudio;
    }
    total += audio[i].end - audio[i].start;
  }

  int64_t done = 0;
  for (size_t i = 0; i < inputs.size(); ++i) {
    if (hooks.haltRequested && hooks.haltRequested()) return ExactJoinResult::Halted;
    if (hooks.lineStarted) hooks.lineStarted(static_cast<int>(i + 1));
    File input = File::OpenRead(inputs[i]);
    if (!input.IsOpen()) return ExactJoinResult::ReadFailed;
    const InputAudio& a = audio[i];
    if (i == 0) {
      first = a.summary;
      // The first input's ID3v2 tag stays at the start.
      if (a.tagSize > 0) {
        std::vector<uint8_t> tag(static_cast<size_t>(a.tagSize));
        if (!input.Seek(0) || input.ReadFull(tag.data(), tag.size()) != a.tagSize) return ExactJoinResult::ReadFailed;
        out.insert(out.end(), tag.begin(), tag.end());
        musicFrom = out.size();
      }
    }
    if (i + 1 == inputs.size()) last = a.summary;

    FrameWalk walk(input, a.start, a.end);
    WalkFrame frame;
    // An input after the first that starts with a silent frame may be an
    // exact track: its head is held until it is known how many of its frames
    // repeat the end of what was written.
    std::vector<std::vector<uint8_t>> head;
    bool holding = i > 0;
    auto releaseHead = [&] {
      size_t skip = 0;
      if (!head.empty() && IsSilentFrame(head[0].data(), static_cast<int>(head[0].size()))) {
        size_t most = std::min(head.size() - 1, keptSizes.size());
        for (size_t len = most; len > 0 && skip == 0; --len) {
          if (repeatsLatest(head, len)) skip = 1 + len;
        }
      }
      for (size_t h = skip; h < head.size(); ++h) {
        emit(head[h].data(), head[h].size(), FrameSamples(HeaderVersionBits(head[h].data()), 1));
      }
      head.clear();
      holding = false;
    };
    for (;;) {
      FrameWalk::Step step = walk.Next(&frame);
      if (step == FrameWalk::Step::ReadError) return ExactJoinResult::ReadFailed;
      if (step == FrameWalk::Step::End) break;
      if (HeaderLayerBits(frame.data) != 1) continue;
      if (summaryLength == 0) {
        std::memcpy(header, frame.data, 4);
        summaryLength = SummaryFrameLength(header, true);
        flush(false);
        if (!writer.Drain()) return ExactJoinResult::WriteFailed;
        summaryAt = output.Tell();
        out.assign(static_cast<size_t>(summaryLength), 0);
        musicFrom = out.size();
        bytes = summaryLength;
      }
      if (holding) {
        head.emplace_back(frame.data, frame.data + frame.size);
        if (head.size() > kKeptFrames) releaseHead();
      } else {
        emit(frame.data, static_cast<size_t>(frame.size), frame.samples);
      }
      if (hooks.progress) hooks.progress(done + walk.Position() - a.start, total);
      if (writeFailed) return ExactJoinResult::WriteFailed;
    }
    if (holding) releaseHead();
    done += a.end - a.start;
  }
  if (summaryLength == 0) return ExactJoinResult::NoAudio;
  flush(false);
  if (writeFailed || !writer.Drain()) return ExactJoinResult::WriteFailed;

  SummaryFrameFields fields;
  std::memcpy(fields.header, header, 4);
  fields.vbr = vbr;
  fields.frames = frames;
  fields.bytes = static_cast<uint32_t>(bytes);
  toc.Finish(bytes, samples, fields.toc);
  fields.lameTag = true;
  TakeEncoder(first, &fields);
  fields.encoderDelay = first.hasLameTag && first.encoderDelay >= 0 ? first.encoderDelay : 0;
  fields.encoderPadding = last.hasLameTag && last.encoderPadding >= 0 ? last.encoderPadding : 0;
  fields.musicCrc = musicCrc;
  std::vector<uint8_t> summary = BuildSummaryFrame(fields);
  if (summary.size() != static_cast<size_t>(summaryLength)) return ExactJoinResult::WriteFailed;
  if (!output.Seek(summaryAt) || !output.Write(summary.data(), summary.size()) || !output.Seek(summaryAt + bytes)) {
    return ExactJoinResult::WriteFailed;
  }
  return ExactJoinResult::Done;
}

}  // namespace snip
