#pragma once
// A RIFF WAVE file being written: the format chunk, then a data chunk that grows with every
// write; closing fills in the chunk sizes. The file is held like any recording (LockedFile).

#include <cstdint>
#include <string>

#include "platform/LockedFile.h"
#include "platform/MMSystem.h"

class TMMWave {
 public:
  TMMWave() = default;
  ~TMMWave() { CloseFile(); }
  TMMWave(const TMMWave&) = delete;
  TMMWave& operator=(const TMMWave&) = delete;

  // Creates the file with the format (WaveFormatSize bytes of it); false on any error, with
  // nothing left open.
  bool CreateFile(const std::string& fileName, const WAVEFORMATEX* format);
  // Appends to the data chunk; true when every byte was written.
  bool WriteData(const void* data, uint32_t count);
  // Pads the data to an even length, writes the sizes and closes; nothing when not open.
  void CloseFile();

  bool IsOpen() const { return file_.IsOpen(); }
  uint32_t DataSize() const { return dataSize_; }

 private:
  LockedFile file_;
  long long dataSizeAt_ = 0;  // offset of the data chunk's size field
  uint32_t dataSize_ = 0;
};
