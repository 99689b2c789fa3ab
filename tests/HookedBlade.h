#pragma once
// The real encoder library with a hook that runs whenever a stream is opened: a test makes
// something happen in the middle of a start or a rotation, where a click or a signal may come.

#include <functional>
#include <memory>
#include <utility>

#include "audio/MMBlade.h"
#include "platform/BladeEnc.h"

class HookedBlade : public BladeEncoderApi {
 public:
  HookedBlade(std::unique_ptr<BladeEncoderApi> real, std::function<void()>* hook)
      : real_(std::move(real)), hook_(hook) {}
  uint32_t beInitStream(const BE_CONFIG* config, uint32_t* samples, uint32_t* bufferSize,
                        HBE_STREAM* stream) override {
    if (*hook_) {
      const std::function<void()> once = std::exchange(*hook_, nullptr);
      once();
    }
    return real_->beInitStream(config, samples, bufferSize, stream);
  }
  uint32_t beEncodeChunk(HBE_STREAM stream, uint32_t samples, const int16_t* pcm, uint8_t* output,
                         uint32_t* written) override {
    return real_->beEncodeChunk(stream, samples, pcm, output, written);
  }
  uint32_t beDeinitStream(HBE_STREAM stream, uint8_t* output, uint32_t* written) override {
    return real_->beDeinitStream(stream, output, written);
  }
  uint32_t beCloseStream(HBE_STREAM stream) override { return real_->beCloseStream(stream); }
  void beVersion(BE_VERSION* version) override { real_->beVersion(version); }

 private:
  std::unique_ptr<BladeEncoderApi> real_;
  std::function<void()>* hook_;
};

// From now on every encoder stage of the process uses LAME through the hook: the next stream
// opened runs `*hook` once (and clears it). SetBladeLoader(nullptr) goes back to plain LAME.
inline void UseHookedLame(std::function<void()>* hook) {
  SetBladeLoader([hook]() -> std::unique_ptr<BladeEncoderApi> {
    auto real = LoadLameEncoder();
    if (!real) return nullptr;
    return std::make_unique<HookedBlade>(std::move(real), hook);
  });
}
