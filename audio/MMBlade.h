#pragma once
// The MP3 encoder stage: the last stage of a chain. It gathers the 16-bit PCM reaching it
// into the chunks the encoder library takes, has them encoded and writes the MP3 data to its
// file, a bare MP3 stream or a RIFF WAVE file.

#include <exception>
#include <functional>
#include <memory>
#include <string>

#include "audio/MMDSPObj.h"
#include "audio/MMWave.h"
#include "platform/BladeEnc.h"
#include "platform/DiskSpace.h"
#include "platform/DurableFiles.h"
#include "platform/LockedFile.h"

enum TMMChannelMode { cmStereo, cmDualChannel, cmMono };
enum TMMBitrates {
  br32,
  br40,
  br48,
  br56,
  br64,
  br80,
  br96,
  br112,
  br128,
  br160,
  br192,
  br224,
  br256,
  br320
};
enum TMMFileType { ftWAV, ftRAW };

// kbit/s by the ordinal of TMMBitrates.
constexpr uint16_t kBitrateTable[] = {32,  40,  48,  56,  64,  80,  96,
                                      112, 128, 160, 192, 224, 256, 320};

// The encoder library shared by every encoder stage of the process: bound at the first open
// that needs it and kept until the program ends; a failed load is tried again next time.
// Returns null when the library cannot be loaded.
BladeEncoderApi* BindBladeLibrary();
// Tests replace the loader (an empty function restores LAME) and drop the bound library.
using BladeLoader = std::function<std::unique_ptr<BladeEncoderApi>()>;
void SetBladeLoader(BladeLoader loader);

// The MPEG layer-3 format of an ftWAV file, with its 12 extra bytes.
#pragma pack(push, 1)
struct MPEGLAYER3WAVEFORMAT {
  WAVEFORMATEX wfx;
  uint16_t wID;
  uint32_t fdwFlags;
  uint16_t nBlockSize;
  uint16_t nFramesPerBlock;
  uint16_t nCodecDelay;
};
#pragma pack(pop)
static_assert(sizeof(MPEGLAYER3WAVEFORMAT) == 30);
MPEGLAYER3WAVEFORMAT BuildMp3WaveFormat(uint16_t channels, uint32_t rate, uint32_t kbps);

// Free space a write of `count` bytes needs beside it.
constexpr uint64_t kWriteReserveBytes = 10240;

class TMMMP3Encoder : public TMMDSPComponent {
 public:
  explicit TMMMP3Encoder(TComponent* owner = nullptr);
  ~TMMMP3Encoder() override;

  bool PublishesOutput() const override { return false; }

  TMMChannelMode ChannelMode() const { return channelMode_; }
  void SetChannelMode(TMMChannelMode v) { channelMode_ = v; }
  TMMBitrates Bitrate() const { return bitrate_; }
  void SetBitrate(TMMBitrates v) { bitrate_ = v; }
  bool Copyright() const { return copyright_; }
  void SetCopyright(bool v) { copyright_ = v; }
  bool Privat() const { return privat_; }
  void SetPrivat(bool v) { privat_ = v; }
  bool CRC() const { return crc_; }
  void SetCRC(bool v) { crc_ = v; }
  bool Original() const { return original_; }
  void SetOriginal(bool v) { original_ = v; }
  const std::string& FileName() const { return fileName_; }
  void SetFileName(const std::string& v);
  TMMFileType FileType() const { return fileType_; }
  void SetFileType(TMMFileType v);

  bool StreamOpen() const { return streamOpen_; }
  bool Encoding() const { return encoding_; }
  uint32_t ChunkSamples() const { return chunkSamples_; }
  uint32_t ChunkBytes() const { return chunkBytes_; }
  uint32_t PendingBytes() const { return pendingBytes_; }
  // The configuration the last Opened handed to the library.
  const BE_CONFIG& EncoderConfig() const { return config_; }

  void Opened() override;
  void Started() override;
  void Stopped() override;
  void Closed() override;
  void BufferReady(PWaveHdr Buffer) override;

  // A new file without stopping the chain, between two buffers: CloseFile flushes the stream
  // into the current file and closes it; OpenFile opens a new stream in `fileName`, which
  // encodes from the next buffer on. Together they lose and repeat no sample. OpenFile raises
  // the errors of Opened and leaves the stage without a file when it does.
  void CloseFile();
  void OpenFile(const std::string& fileName);

  // True from a failed write (disk full, write error) until the next file is opened: the
  // stage has closed its file and ignores buffers. OnWriteError tells of it once, after the
  // file is closed.
  bool WriteFailed() const { return writeFailed_; }
  TNotifyEvent OnWriteError;
  // MP3 bytes written to files since the stage was made.
  uint64_t BytesWritten() const { return bytesWritten_; }
  // Told of every file the stage creates and closes; none by default.
  void SetDurableFiles(DurableFiles* files) { durable_ = files; }
  // The free-space query before each write; empty: the process's (QueryDiskSpace).
  void SetDiskSpaceQuery(DiskSpaceQuery query) { diskQuery_ = std::move(query); }

 private:
  // Binds the library, checks the format, creates the file and opens the stream.
  void OpenStream();
  // Encodes the pending bytes and ends the stream into the file; ok is cleared when a write
  // failed (the stage has then closed itself).
  void FlushStream(bool& ok);
  // Flushes a stream that is encoding into the file; an error comes back instead of being
  // raised, as the callers release the stream either way.
  std::exception_ptr EndEncoding();
  // A write failed: flush what can be, close everything, tell.
  void WriteFailure();
  void Encode(const int16_t* pcm, uint32_t samples, bool& ok);
  bool WriteOutput(const uint8_t* data, uint32_t count);
  // Closes output, stream and buffers; safe to run when some are already released.
  void ReleaseStream();

  TMMChannelMode channelMode_ = cmStereo;
  TMMBitrates bitrate_ = br128;
  bool copyright_ = false;
  bool privat_ = false;
  bool crc_ = false;
  bool original_ = false;
  std::string fileName_;
  TMMFileType fileType_ = ftRAW;

  bool streamOpen_ = false;
  bool encoding_ = false;
  BladeEncoderApi* library_ = nullptr;
  BE_CONFIG config_{};
  LockedFile file_;
  std::unique_ptr<TMMWave> wave_;
  std::string folder_;
  HBE_STREAM stream_ = 0;
  bool hasStream_ = false;
  uint32_t chunkSamples_ = 0;
  uint32_t chunkBytes_ = 0;
  uint32_t outputSize_ = 0;
  std::unique_ptr<uint8_t[]> output_;
  std::unique_ptr<int16_t[]> chunk_;
  uint32_t pendingBytes_ = 0;
  bool writeFailed_ = false;
  bool failing_ = false;
  uint64_t bytesWritten_ = 0;
  DurableFiles* durable_ = nullptr;
  DiskSpaceQuery diskQuery_;
};
