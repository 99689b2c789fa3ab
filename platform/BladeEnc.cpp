#include "platform/BladeEnc.h"

#include <dlfcn.h>
#include <lame/lame.h>

#include <algorithm>

namespace {

// A LAME frame holds 1152 samples per channel.
constexpr uint32_t kFrameSamples = 1152;
// LAME's own worst case for one call: 1.25 × samples + 7200, which also covers the flush.
constexpr uint32_t OutputBytes(uint32_t samples) {
  return samples + samples / 4 + 7200;
}

struct LameStream {
  lame_global_flags* gf;
  int channels;
  uint32_t bufferSize;
};

class LameEncoder : public BladeEncoderApi {
 public:
  explicit LameEncoder(void* handle) : handle_(handle) {}
  ~LameEncoder() override { dlclose(handle_); }

  bool Bind() {
    return Sym(init_, "lame_init") && Sym(close_, "lame_close") &&
           Sym(setInRate_, "lame_set_in_samplerate") &&
           Sym(setOutRate_, "lame_set_out_samplerate") &&
           Sym(setChannels_, "lame_set_num_channels") && Sym(setMode_, "lame_set_mode") &&
           Sym(setBrate_, "lame_set_brate") && Sym(setVbr_, "lame_set_VBR") &&
           Sym(setVbrTag_, "lame_set_bWriteVbrTag") && Sym(setCopyright_, "lame_set_copyright") &&
           Sym(setOriginal_, "lame_set_original") &&
           Sym(setProtection_, "lame_set_error_protection") &&
           Sym(setExtension_, "lame_set_extension") && Sym(initParams_, "lame_init_params") &&
           Sym(encodeInterleaved_, "lame_encode_buffer_interleaved") &&
           Sym(encodeMono_, "lame_encode_buffer") && Sym(flush_, "lame_encode_flush") &&
           Sym(version_, "get_lame_version");
  }

  uint32_t beInitStream(const BE_CONFIG* config, uint32_t* samples, uint32_t* bufferSize,
                        HBE_STREAM* stream) override {
    if (!config || !samples || !bufferSize || !stream) return BE_ERR_INVALID_FORMAT_PARAMETERS;
    if (config->dwConfig != BE_CONFIG_MP3) return BE_ERR_INVALID_FORMAT;
    lame_global_flags* gf = init_();
    if (!gf) return BE_ERR_NO_MORE_HANDLES;
    const int channels = config->byMode == BE_MP3_MODE_MONO ? 1 : 2;
    const int rate = static_cast<int>(config->dwSampleRate);
    // Same rate out as in: LAME would otherwise resample low bit rates to MPEG-2 rates.
    // No VBR/Info tag: a recording is a plain run of CBR frames that concatenate cleanly.
    const bool ok = setInRate_(gf, rate) == 0 && setOutRate_(gf, rate) == 0 &&
                    setChannels_(gf, channels) == 0 &&
                    setMode_(gf, static_cast<MPEG_mode>(config->byMode)) == 0 &&
                    setBrate_(gf, config->wBitrate) == 0 && setVbr_(gf, vbr_off) == 0 &&
                    setVbrTag_(gf, 0) == 0 && setCopyright_(gf, config->bCopyright ? 1 : 0) == 0 &&
                    setOriginal_(gf, config->bOriginal ? 1 : 0) == 0 &&
                    setProtection_(gf, config->bCRC ? 1 : 0) == 0 &&
                    setExtension_(gf, config->bPrivate ? 1 : 0) == 0 && initParams_(gf) >= 0;
    if (!ok) {
      close_(gf);
      return BE_ERR_INVALID_FORMAT_PARAMETERS;
    }
    const uint32_t chunk = kFrameSamples * static_cast<uint32_t>(channels);
    auto* s = new LameStream{gf, channels, OutputBytes(chunk)};
    *samples = chunk;
    *bufferSize = s->bufferSize;
    *stream = reinterpret_cast<HBE_STREAM>(s);
    return BE_ERR_SUCCESSFUL;
  }

  uint32_t beEncodeChunk(HBE_STREAM stream, uint32_t samples, const int16_t* pcm, uint8_t* output,
                         uint32_t* written) override {
    auto* s = reinterpret_cast<LameStream*>(stream);
    if (!s || !output || !written || (samples > 0 && !pcm)) return BE_ERR_INVALID_HANDLE;
    *written = 0;
    const int frames = static_cast<int>(samples / static_cast<uint32_t>(s->channels));
    if (frames == 0) return BE_ERR_SUCCESSFUL;
    // LAME takes non-const buffers but does not write them.
    short* in = const_cast<short*>(pcm);
    const int size = static_cast<int>(s->bufferSize);
    const int n = s->channels == 2 ? encodeInterleaved_(s->gf, in, frames, output, size)
                                   : encodeMono_(s->gf, in, in, frames, output, size);
    if (n < 0) return n == -1 ? BE_ERR_BUFFER_TOO_SMALL : BE_ERR_INVALID_FORMAT_PARAMETERS;
    *written = static_cast<uint32_t>(n);
    return BE_ERR_SUCCESSFUL;
  }

  uint32_t beDeinitStream(HBE_STREAM stream, uint8_t* output, uint32_t* written) override {
    auto* s = reinterpret_cast<LameStream*>(stream);
    if (!s || !output || !written) return BE_ERR_INVALID_HANDLE;
    const int n = flush_(s->gf, output, static_cast<int>(s->bufferSize));
    *written = n > 0 ? static_cast<uint32_t>(n) : 0;
    return n < 0 ? BE_ERR_BUFFER_TOO_SMALL : BE_ERR_SUCCESSFUL;
  }

  uint32_t beCloseStream(HBE_STREAM stream) override {
    auto* s = reinterpret_cast<LameStream*>(stream);
    if (!s) return BE_ERR_INVALID_HANDLE;
    close_(s->gf);
    delete s;
    return BE_ERR_SUCCESSFUL;
  }

  void beVersion(BE_VERSION* v) override {
    if (!v) return;
    *v = BE_VERSION{1, 0, 1, 0, version_() ? version_() : ""};
  }

 private:
  template <typename F>
  bool Sym(F*& fn, const char* name) {
    fn = reinterpret_cast<F*>(dlsym(handle_, name));
    return fn != nullptr;
  }

  void* handle_;
  decltype(lame_init)* init_ = nullptr;
  decltype(lame_close)* close_ = nullptr;
  decltype(lame_set_in_samplerate)* setInRate_ = nullptr;
  decltype(lame_set_out_samplerate)* setOutRate_ = nullptr;
  decltype(lame_set_num_channels)* setChannels_ = nullptr;
  decltype(lame_set_mode)* setMode_ = nullptr;
  decltype(lame_set_brate)* setBrate_ = nullptr;
  decltype(lame_set_VBR)* setVbr_ = nullptr;
  decltype(lame_set_bWriteVbrTag)* setVbrTag_ = nullptr;
  decltype(lame_set_copyright)* setCopyright_ = nullptr;
  decltype(lame_set_original)* setOriginal_ = nullptr;
  decltype(lame_set_error_protection)* setProtection_ = nullptr;
  decltype(lame_set_extension)* setExtension_ = nullptr;
  decltype(lame_init_params)* initParams_ = nullptr;
  decltype(lame_encode_buffer_interleaved)* encodeInterleaved_ = nullptr;
  decltype(lame_encode_buffer)* encodeMono_ = nullptr;
  decltype(lame_encode_flush)* flush_ = nullptr;
  decltype(get_lame_version)* version_ = nullptr;
};

}  // namespace

std::unique_ptr<BladeEncoderApi> LoadLameEncoder(const std::string& library) {
  void* handle = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) return nullptr;
  auto encoder = std::make_unique<LameEncoder>(handle);
  if (!encoder->Bind()) return nullptr;
  return encoder;
}
