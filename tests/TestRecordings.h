#pragma once
// Recordings for the player's tests, made by the encoder stage: a minute of noise (so that any
// stretch of it can be told from any other), repeated to any length.

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "audio/MMBlade.h"

// A minute of programme made by the encoder stage: noise, so that any stretch of it can be
// told from any other.
inline std::string EncodedMinute(TMMBitrates rate) {
  static std::map<TMMBitrates, std::string> made;
  if (auto it = made.find(rate); it != made.end()) return it->second;
  const std::filesystem::path file =
      std::filesystem::path(TEST_DATA_DIR) / ("minute_" + std::to_string(getpid()) + "_" +
                                              std::to_string(static_cast<int>(rate)) + ".mp3");
  TMMDSPComponent source;
  TMMMP3Encoder enc;
  source.SetOutput(&enc);
  WAVEFORMATEX f{};
  BuildPCMFormat(&f, 16, 2, 44100);
  source.SetWaveFormat(&f);
  enc.SetBitrate(rate);
  enc.SetFileName(file.string());
  enc.Opened();
  enc.Started();
  std::mt19937 noise(7);
  std::vector<int16_t> pcm(4096);
  TMMChainBuffer b{};
  b.lpData = reinterpret_cast<char*>(pcm.data());
  b.dwBufferLength = b.dwBytesRecorded = static_cast<uint32_t>(pcm.size() * 2);
  for (long done = 0; done < 44100L * 60; done += 2048) {
    for (int16_t& s : pcm) s = static_cast<int16_t>(static_cast<int>(noise() % 16000) - 8000);
    enc.BufferReady(&b);
  }
  enc.Stopped();
  enc.Closed();
  std::ifstream in(file, std::ios::binary);
  made[rate] = std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::filesystem::remove(file);
  return made[rate];
}

// A recording of `minutes` minutes: the encoded minute again and again (bare CBR streams join).
inline void WriteRecording(const std::filesystem::path& path, int minutes,
                           TMMBitrates rate = br128) {
  const std::string minute = EncodedMinute(rate);
  std::ofstream out(path, std::ios::binary);
  for (int m = 0; m < minutes; ++m) out << minute;
}
