#pragma once
// The MP3 encoder library's five operations, and the library that provides them over LAME.
// LAME is loaded by name at run time, so that a machine without it still records nothing
// rather than failing to start, and the encoder stage can say what is missing.

#include <cstdint>
#include <memory>
#include <string>

#pragma pack(push, 1)
// Handed to beInitStream; packed, 27 bytes as filled.
struct BE_CONFIG {
  uint32_t dwConfig;      // 0: MP3
  uint32_t dwSampleRate;  // 48000, 44100 or 32000
  uint8_t byMode;         // 0 stereo, 2 dual channel, 3 mono
  uint16_t wBitrate;      // kbit/s
  int32_t bPrivate;       // -1 true, 0 false
  int32_t bCRC;
  int32_t bCopyright;
  int32_t bOriginal;
};
#pragma pack(pop)
static_assert(sizeof(BE_CONFIG) == 27);

constexpr uint32_t BE_CONFIG_MP3 = 0;
constexpr uint8_t BE_MP3_MODE_STEREO = 0, BE_MP3_MODE_DUALCHANNEL = 2, BE_MP3_MODE_MONO = 3;
constexpr uint32_t BE_ERR_SUCCESSFUL = 0, BE_ERR_INVALID_FORMAT = 1,
                   BE_ERR_INVALID_FORMAT_PARAMETERS = 2, BE_ERR_NO_MORE_HANDLES = 3,
                   BE_ERR_INVALID_HANDLE = 4, BE_ERR_BUFFER_TOO_SMALL = 5;

using HBE_STREAM = uintptr_t;

struct BE_VERSION {
  uint8_t byDLLMajorVersion, byDLLMinorVersion;
  uint8_t byMajorVersion, byMinorVersion;
  std::string engine;  // the encoder engine's own version text
};

// The operations the encoder stage calls; each returns BE_ERR_SUCCESSFUL on success.
class BladeEncoderApi {
 public:
  virtual ~BladeEncoderApi() = default;
  // Fills the samples per chunk (all channels counted), the output buffer size and the handle.
  virtual uint32_t beInitStream(const BE_CONFIG* config, uint32_t* samples, uint32_t* bufferSize,
                                HBE_STREAM* stream) = 0;
  // Encodes `samples` 16-bit samples (at most one chunk) into `output`, at most the buffer size.
  virtual uint32_t beEncodeChunk(HBE_STREAM stream, uint32_t samples, const int16_t* pcm,
                                 uint8_t* output, uint32_t* written) = 0;
  // The stream's last bytes.
  virtual uint32_t beDeinitStream(HBE_STREAM stream, uint8_t* output, uint32_t* written) = 0;
  virtual uint32_t beCloseStream(HBE_STREAM stream) = 0;
  virtual void beVersion(BE_VERSION* version) = 0;
};

// Loads the LAME library by name and looks up every entry point the operations need; null
// when the library does not load or lacks one of them. The library stays loaded for as long
// as the returned object lives.
std::unique_ptr<BladeEncoderApi> LoadLameEncoder(const std::string& library = "libmp3lame.so.0");
