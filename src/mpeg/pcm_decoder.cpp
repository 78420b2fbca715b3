#include "mpeg/pcm_decoder.h"

#ifndef _WIN32
#include <mpg123.h>
#else
// The platform's decoder on Windows is a system codec: this file's Windows
// branch talks to it, as the file type's does to the file system.
#include <windows.h>
#include <mmreg.h>
#include <msacm.h>

#include <algorithm>

#include "mpeg/frame_header.h"
#endif

namespace snip {

const char* const kNoDecoderMessage = "The MP3 decoder of this system could not be loaded, so no silences can be found.";

#ifndef _WIN32

namespace {

class Mpg123Decoder : public PcmDecoder {
 public:
  explicit Mpg123Decoder(mpg123_handle* handle) : handle_(handle) {}
  ~Mpg123Decoder() override { mpg123_delete(handle_); }

  bool Decode(const uint8_t* data, size_t n, std::vector<int16_t>* pcm) override {
    if (n > 0 && mpg123_feed(handle_, data, n) != MPG123_OK) return false;
    unsigned char out[32768];
    for (;;) {
      size_t done = 0;
      int status = mpg123_read(handle_, out, sizeof out, &done);
      const auto* samples = reinterpret_cast<const int16_t*>(out);
      pcm->insert(pcm->end(), samples, samples + done / sizeof(int16_t));
      if (status == MPG123_NEW_FORMAT) {
        long rate = 0;
        int encoding = 0;
        mpg123_getformat(handle_, &rate, &channels_, &encoding);
        rate_ = static_cast<int>(rate);
        continue;
      }
      if (status == MPG123_OK) continue;
      if (status == MPG123_NEED_MORE || status == MPG123_DONE) return true;
      // A damaged stretch: the decoder finds its way back by itself when fed on.
      if (status == MPG123_ERR && mpg123_errcode(handle_) != MPG123_OUT_OF_MEM) return true;
      return false;
    }
  }
  int Channels() const override { return channels_; }
  int SampleRate() const override { return rate_; }

 private:
  mpg123_handle* handle_;
  int channels_ = 0;
  int rate_ = 0;
};

}  // namespace

std::unique_ptr<PcmDecoder> MakePcmDecoder(std::string* error) {
  static const bool ready = mpg123_init() == MPG123_OK;
  mpg123_handle* handle = ready ? mpg123_new(nullptr, nullptr) : nullptr;
  if (!handle) {
    if (error) *error = kNoDecoderMessage;
    return nullptr;
  }
  // Samples count from the first frame handed over: no gapless trimming.
  mpg123_param(handle, MPG123_FLAGS, MPG123_QUIET, 0);
  // Every rate and channel count the stream may have, always as 16-bit.
  mpg123_format_none(handle);
  const long* rates = nullptr;
  size_t count = 0;
  mpg123_rates(&rates, &count);
  for (size_t i = 0; i < count; ++i) mpg123_format(handle, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
  if (mpg123_open_feed(handle) != MPG123_OK) {
    mpg123_delete(handle);
    if (error) *error = kNoDecoderMessage;
    return nullptr;
  }
  return std::make_unique<Mpg123Decoder>(handle);
}

#else

namespace {

// The system's MPEG Layer-3 codec through the Audio Compression Manager. The
// stream is opened on the format of the first frame header that comes in.
class AcmDecoder : public PcmDecoder {
 public:
  ~AcmDecoder() override {
    if (stream_) acmStreamClose(stream_, 0);
  }

  bool Decode(const uint8_t* data, size_t n, std::vector<int16_t>* pcm) override {
    pending_.insert(pending_.end(), data, data + n);
    if (!stream_ && !Open()) return !failed_;
    const bool last = n == 0;
    while (!pending_.empty()) {
      DWORD want = 0;
      DWORD source = static_cast<DWORD>(std::min<size_t>(pending_.size(), 16 * 1024));
      // Room for every frame the bytes can hold, at the lowest bitrate: the
      // codec's own estimate goes by the first frame's bitrate, and a
      // variable-bitrate stream's quiet frames are far smaller.
      DWORD room = (source / leastFrameBytes_ + 2) * static_cast<DWORD>(frameSamples_ * channels_ * 2);
      if (acmStreamSize(stream_, source, &want, ACM_STREAMSIZEF_SOURCE) != 0 || want < room) want = room;
      out_.resize(want);
      ACMSTREAMHEADER header = {};
      header.cbStruct = sizeof header;
      header.pbSrc = pending_.data();
      header.cbSrcLength = source;
      header.pbDst = out_.data();
      header.cbDstLength = want;
      if (acmStreamPrepareHeader(stream_, &header, 0) != 0) return false;
      MMRESULT result = acmStreamConvert(stream_, &header, last ? ACM_STREAMCONVERTF_END : ACM_STREAMCONVERTF_BLOCKALIGN);
      acmStreamUnprepareHeader(stream_, &header, 0);
      if (result != 0) return false;
      const auto* samples = reinterpret_cast<const int16_t*>(out_.data());
      pcm->insert(pcm->end(), samples, samples + header.cbDstLengthUsed / sizeof(int16_t));
      pending_.erase(pending_.begin(), pending_.begin() + header.cbSrcLengthUsed);
      // The codec keeps what does not make a whole frame for the next call.
      if (header.cbSrcLengthUsed == 0) break;
    }
    return true;
  }
  int Channels() const override { return channels_; }
  int SampleRate() const override { return rate_; }

 private:
  bool Open() {
    // The first Layer III header whose frame is followed by another.
    for (size_t at = 0; at + 4 <= pending_.size(); ++at) {
      const uint8_t* h = pending_.data() + at;
      if (!FrameHeaderTest(h) || HeaderLayerBits(h) != 1 || HeaderBitrateIndex(h) == 0) continue;
      size_t length = static_cast<size_t>(HeaderFrameLength(h));
      if (at + length + 4 > pending_.size()) return false;  // more bytes first
      if (!FrameHeaderTest(h + length)) continue;
      int rate = SampleRateHz(HeaderVersionBits(h), HeaderSampleRateIndex(h));
      int channels = HeaderMono(h) ? 1 : 2;
      MPEGLAYER3WAVEFORMAT in = {};
      in.wfx.wFormatTag = WAVE_FORMAT_MPEGLAYER3;
      in.wfx.nChannels = static_cast<WORD>(channels);
      in.wfx.nSamplesPerSec = static_cast<DWORD>(rate);
      in.wfx.nAvgBytesPerSec = static_cast<DWORD>(BitrateKbps(HeaderVersionBits(h), HeaderBitrateIndex(h)) * 125);
      in.wfx.nBlockAlign = 1;
      in.wfx.cbSize = MPEGLAYER3_WFX_EXTRA_BYTES;
      in.wID = MPEGLAYER3_ID_MPEG;
      in.fdwFlags = MPEGLAYER3_FLAG_PADDING_OFF;
      in.nBlockSize = static_cast<WORD>(length);
      in.nFramesPerBlock = 1;
      WAVEFORMATEX out = {};
      out.wFormatTag = WAVE_FORMAT_PCM;
      out.nChannels = static_cast<WORD>(channels);
      out.nSamplesPerSec = static_cast<DWORD>(rate);
      out.wBitsPerSample = 16;
      out.nBlockAlign = static_cast<WORD>(channels * 2);
      out.nAvgBytesPerSec = static_cast<DWORD>(rate * channels * 2);
      if (acmStreamOpen(&stream_, nullptr, &in.wfx, &out, nullptr, 0, 0, 0) != 0) {
        stream_ = nullptr;
        failed_ = true;
        return false;
      }
      channels_ = channels;
      rate_ = rate;
      const bool mpeg1 = HeaderVersionBits(h) == 3;
      frameSamples_ = mpeg1 ? 1152 : 576;
      leastFrameBytes_ = static_cast<DWORD>(frameSamples_ / 8 * (mpeg1 ? 32000 : 8000) / rate);
      pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(at));
      return true;
    }
    return false;
  }

  HACMSTREAM stream_ = nullptr;
  bool failed_ = false;
  std::vector<uint8_t> pending_;
  std::vector<uint8_t> out_;
  int channels_ = 0;
  int rate_ = 0;
  int frameSamples_ = 1152;
  DWORD leastFrameBytes_ = 1;
};

}  // namespace

std::unique_ptr<PcmDecoder> MakePcmDecoder(std::string* error) {
  // Whether the system has a codec for the format at all.
  MPEGLAYER3WAVEFORMAT probe = {};
  probe.wfx.wFormatTag = WAVE_FORMAT_MPEGLAYER3;
  probe.wfx.nChannels = 2;
  probe.wfx.nSamplesPerSec = 44100;
  probe.wfx.nAvgBytesPerSec = 16000;
  probe.wfx.nBlockAlign = 1;
  probe.wfx.cbSize = MPEGLAYER3_WFX_EXTRA_BYTES;
  probe.wID = MPEGLAYER3_ID_MPEG;
  probe.fdwFlags = MPEGLAYER3_FLAG_PADDING_OFF;
  probe.nBlockSize = 417;
  probe.nFramesPerBlock = 1;
  WAVEFORMATEX pcm = {};
  pcm.wFormatTag = WAVE_FORMAT_PCM;
  pcm.nChannels = 2;
  pcm.nSamplesPerSec = 44100;
  pcm.wBitsPerSample = 16;
  pcm.nBlockAlign = 4;
  pcm.nAvgBytesPerSec = 44100 * 4;
  if (acmStreamOpen(nullptr, nullptr, &probe.wfx, &pcm, nullptr, 0, 0, ACM_STREAMOPENF_QUERY) != 0) {
    if (error) *error = kNoDecoderMessage;
    return nullptr;
  }
  return std::make_unique<AcmDecoder>();
}

#endif

}  // namespace snip
