#pragma once
// Decodes a recording back to 16-bit PCM at 44100 Hz, frame by frame, with gapless trimming
// off: the decoder then gives 1152 samples per channel for every frame of the stream and
// trims nothing, so that lengths measure the stream itself (our streams carry no tag to trim
// by anyway).

#include <mpg123.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct DecodedMp3 {
  bool opened = false;
  bool clean = false;  // decoding ended at the end of the stream, not on an error
  std::string error;   // the decoder's words when it was not clean
  long rate = 0;
  int channels = 0;
  int64_t frames = 0;        // MPEG frames decoded
  std::vector<int16_t> pcm;  // interleaved
  int64_t Samples() const { return channels ? static_cast<int64_t>(pcm.size()) / channels : 0; }
  double Seconds() const { return rate ? static_cast<double>(Samples()) / rate : 0.0; }
};

// `eachFrame` sees the decoder's view of every frame (bit rate, mode, version ...).
inline DecodedMp3 DecodeMp3(const std::string& path,
                            const std::function<void(const mpg123_frameinfo&)>& eachFrame = {}) {
  DecodedMp3 d;
  int err = MPG123_OK;
  mpg123_handle* mh = mpg123_new(nullptr, &err);
  if (!mh) {
    d.error = "mpg123_new";
    return d;
  }
  mpg123_param(mh, MPG123_REMOVE_FLAGS, MPG123_GAPLESS, 0.0);
  mpg123_param(mh, MPG123_ADD_FLAGS, MPG123_QUIET, 0.0);
  mpg123_format_none(mh);
  mpg123_format(mh, 44100, MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
  if (mpg123_open(mh, path.c_str()) != MPG123_OK) {
    d.error = "open";
    mpg123_delete(mh);
    return d;
  }
  d.opened = true;
  int encoding = 0;
  for (;;) {
    off_t num = 0;
    unsigned char* audio = nullptr;
    size_t bytes = 0;
    const int r = mpg123_decode_frame(mh, &num, &audio, &bytes);
    if (r == MPG123_NEW_FORMAT) {
      mpg123_getformat(mh, &d.rate, &d.channels, &encoding);
      continue;
    }
    if (r == MPG123_DONE) {
      d.clean = true;
      break;
    }
    if (r != MPG123_OK) {
      d.error = mpg123_strerror(mh);
      break;
    }
    ++d.frames;
    if (eachFrame) {
      mpg123_frameinfo fi{};
      mpg123_info(mh, &fi);
      eachFrame(fi);
    }
    const auto* s = reinterpret_cast<const int16_t*>(audio);
    d.pcm.insert(d.pcm.end(), s, s + bytes / 2);
  }
  mpg123_close(mh);
  mpg123_delete(mh);
  return d;
}
