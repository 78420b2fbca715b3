#include "mpeg/pcm_decoder.h"

#ifndef _WIN32
#include <mpg123.h>
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
  // Every rate and channel count the stream may have, always as 16-bit.
  mpg123_param(handle, MPG123_FLAGS, MPG123_QUIET | MPG123_GAPLESS, 0);
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

// The system's ACM decoder is not wired in yet on Windows.
std::unique_ptr<PcmDecoder> MakePcmDecoder(std::string* error) {
  if (error) *error = kNoDecoderMessage;
  return nullptr;
}

#endif

}  // namespace snip
