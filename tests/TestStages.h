#pragma once
// Stages for the tests: a sink at the end of a chain that checks and counts what reaches it.

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "audio/MMDSPObj.h"

// Publishes only "Input", like the last stage of a station's chain; logs every notification
// and checks that 16-bit samples continue a counter ramp.
class SinkStage : public TMMDSPComponent {
 public:
  using TMMDSPComponent::TMMDSPComponent;
  bool PublishesOutput() const override { return false; }

  std::vector<std::string> log;
  std::vector<char> bytes;  // kept when keepBytes
  bool keepBytes = true;
  uint64_t total = 0;
  uint64_t buffers = 0;
  int32_t bufferSizeAtOpen = -1;
  // Ramp check: every 16-bit sample must be the previous one plus one.
  bool checkRamp = false;
  bool haveLast = false;
  uint16_t last = 0;
  uint64_t rampErrors = 0;
  uint8_t pendingLow = 0;
  bool havePendingLow = false;
  std::string throwOnOpen;    // raised from Opened when set
  std::string throwOnBuffer;  // raised from BufferReady when set

  void Opened() override {
    log.push_back("Opened");
    bufferSizeAtOpen = GetBufferSize();
    if (!throwOnOpen.empty()) throw EMMError(throwOnOpen);
    TMMDSPComponent::Opened();
  }
  void Closed() override {
    log.push_back("Closed");
    TMMDSPComponent::Closed();
  }
  void Started() override {
    log.push_back("Started");
    TMMDSPComponent::Started();
  }
  void Paused() override {
    log.push_back("Paused");
    TMMDSPComponent::Paused();
  }
  void Restarted() override {
    log.push_back("Restarted");
    TMMDSPComponent::Restarted();
  }
  void Stopped() override {
    if (IsStarted()) log.push_back("Stopped");
    TMMDSPComponent::Stopped();
  }
  void BufferReady(PWaveHdr b) override {
    if (!throwOnBuffer.empty()) throw EMMError(throwOnBuffer);
    ++buffers;
    total += b->dwBytesRecorded;
    if (keepBytes) bytes.insert(bytes.end(), b->lpData, b->lpData + b->dwBytesRecorded);
    if (checkRamp) CheckRamp(reinterpret_cast<const uint8_t*>(b->lpData), b->dwBytesRecorded);
    TMMDSPComponent::BufferReady(b);
  }

 private:
  void CheckRamp(const uint8_t* p, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i) {
      if (!havePendingLow) {
        pendingLow = p[i];
        havePendingLow = true;
        continue;
      }
      havePendingLow = false;
      const uint16_t v = static_cast<uint16_t>(pendingLow | (p[i] << 8));
      if (haveLast && v != static_cast<uint16_t>(last + 1)) ++rampErrors;
      last = v;
      haveLast = true;
    }
  }
};

// The bytes a ramp device produces from its start: 16-bit little-endian counter.
inline std::vector<char> RampBytes(uint64_t from, uint64_t count) {
  std::vector<char> v(count);
  for (uint64_t i = 0; i < count; ++i) {
    const uint64_t p = from + i;
    const uint16_t s = static_cast<uint16_t>(p / 2);
    v[i] = static_cast<char>((p & 1) ? s >> 8 : s & 0xFF);
  }
  return v;
}
