#include "audio/MMBlade.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <exception>
#include <mutex>
#include <stdexcept>

#include "platform/DiskSpace.h"
#include "platform/FileOps.h"

namespace {

const char* const kLoadFailure =
    "Unable to load Blade Encoder DLL\n\rYou can download the BladeEncoder at:\n\r"
    "https://packages.debian.org/bookworm/libmp3lame0";

struct Binding {
  std::mutex m;
  BladeLoader loader;
  std::unique_ptr<BladeEncoderApi> library;
};

Binding& TheBinding() {
  static Binding b;
  return b;
}

bool Aligned16(const void* p) {
  return reinterpret_cast<uintptr_t>(p) % alignof(int16_t) == 0;
}

}  // namespace

BladeEncoderApi* BindBladeLibrary() {
  Binding& b = TheBinding();
  std::lock_guard<std::mutex> lk(b.m);
  if (!b.library) b.library = b.loader ? b.loader() : LoadLameEncoder();
  return b.library.get();
}

void SetBladeLoader(BladeLoader loader) {
  Binding& b = TheBinding();
  std::lock_guard<std::mutex> lk(b.m);
  b.library.reset();
  b.loader = std::move(loader);
}

MPEGLAYER3WAVEFORMAT BuildMp3WaveFormat(uint16_t channels, uint32_t rate, uint32_t kbps) {
  MPEGLAYER3WAVEFORMAT f{};
  // The frame length in bytes, a real number.
  const double frameBytes = kbps * 1000.0 * 144.0 / rate;
  f.wfx.wFormatTag = WAVE_FORMAT_MPEGLAYER3;
  f.wfx.nChannels = channels;
  f.wfx.nSamplesPerSec = rate;
  // Rounded half to even: the default rounding mode.
  f.wfx.nAvgBytesPerSec =
      static_cast<uint32_t>(std::nearbyint(rate * 100.0 / 1152.0 * frameBytes / 100.0));
  f.wfx.nBlockAlign = 1;
  f.wfx.wBitsPerSample = 0;
  f.wfx.cbSize = 12;
  f.wID = 1;
  f.fdwFlags = 2;
  f.nBlockSize = static_cast<uint16_t>(frameBytes);
  f.nFramesPerBlock = 1;
  f.nCodecDelay = 1393;
  return f;
}

TMMMP3Encoder::TMMMP3Encoder(TComponent* owner)
    : TMMDSPComponent(owner), wave_(std::make_unique<TMMWave>()) {}

TMMMP3Encoder::~TMMMP3Encoder() {
  Destroying();
  try {
    Closed();
  } catch (...) {
    // A flush that fails while the stage goes away has no one left to tell.
  }
  wave_.reset();
}

void TMMMP3Encoder::SetFileName(const std::string& v) {
  if (v == fileName_) return;
  if (streamOpen_) throw std::runtime_error("Change to property while device was open");
  fileName_ = v;
}

void TMMMP3Encoder::SetFileType(TMMFileType v) {
  if (v == fileType_) return;
  if (streamOpen_) throw std::runtime_error("Change to property while device was open");
  fileType_ = v;
}

void TMMMP3Encoder::Opened() {
  TMMDSPComponent::Opened();
  const WAVEFORMATEX* f = GetWaveFormat();
  if (streamOpen_ || !f || !GetInput() || fileName_.empty()) return;
  OpenStream();
}

void TMMMP3Encoder::OpenStream() {
  const WAVEFORMATEX* f = GetWaveFormat();
  library_ = BindBladeLibrary();
  if (!library_) throw std::runtime_error(kLoadFailure);

  // One or two channels: the encoder knows no other layout.
  const uint32_t rate = f->nSamplesPerSec;
  if (f->wFormatTag != WAVE_FORMAT_PCM || f->wBitsPerSample != 16 ||
      (rate != 48000 && rate != 44100 && rate != 32000) || f->nChannels < 1 || f->nChannels > 2)
    throw std::runtime_error("Unsupported Input Format");

  config_ = BE_CONFIG{};
  config_.dwConfig = BE_CONFIG_MP3;
  config_.dwSampleRate = rate;
  if (f->nChannels == 1)
    config_.byMode = BE_MP3_MODE_MONO;
  else
    config_.byMode = channelMode_ == cmDualChannel ? BE_MP3_MODE_DUALCHANNEL : BE_MP3_MODE_STEREO;
  config_.wBitrate = kBitrateTable[bitrate_];
  config_.bPrivate = privat_ ? -1 : 0;
  config_.bCRC = crc_ ? -1 : 0;
  config_.bCopyright = copyright_ ? -1 : 0;
  config_.bOriginal = original_ ? -1 : 0;

  // A file another recording holds is not ours to delete: Linux would let the name go while
  // the holder goes on writing into a file nobody can reach. Its creation then fails.
  DeleteUnlessHeld(fileName_);  // a failure shows at the creation

  bool created;
  errno = 0;
  if (fileType_ == ftRAW) {
    created = file_.Create(fileName_);
  } else {
    const MPEGLAYER3WAVEFORMAT mp3 = BuildMp3WaveFormat(f->nChannels, rate, config_.wBitrate);
    created = wave_->CreateFile(fileName_, &mp3.wfx);
  }
  // Which file, and why: a station folder that is missing or not writable is told apart
  // from a file another recording holds.
  if (!created) {
    const int e = errno;
    const std::string why = e == EWOULDBLOCK ? "held by another recording"
                            : e != 0         ? std::strerror(e)
                                             : "unknown reason";
    throw std::runtime_error("Unable to create file: " + fileName_ + " (" + why + ")");
  }

  uint32_t samples = 0, bufferSize = 0;
  HBE_STREAM stream = 0;
  // A library that asks for empty chunks or gives no room for output cannot be fed.
  if (library_->beInitStream(&config_, &samples, &bufferSize, &stream) != BE_ERR_SUCCESSFUL ||
      samples == 0 || bufferSize == 0) {
    file_.Close();
    wave_->CloseFile();
    throw std::runtime_error("Unable to initialize stream");
  }
  stream_ = stream;
  hasStream_ = true;
  chunkSamples_ = samples;
  chunkBytes_ = samples * 2;
  outputSize_ = bufferSize;
  output_ = std::make_unique<uint8_t[]>(outputSize_);
  chunk_ = std::make_unique<int16_t[]>(chunkSamples_);
  pendingBytes_ = 0;
  folder_ = FolderOf(fileName_);
  streamOpen_ = true;
  writeFailed_ = false;
  if (durable_) durable_->FileCreated(fileName_);
}

void TMMMP3Encoder::Started() {
  TMMDSPComponent::Started();
  if (streamOpen_ && !encoding_) {
    encoding_ = true;
    pendingBytes_ = 0;
  }
}

bool TMMMP3Encoder::WriteOutput(const uint8_t* data, uint32_t count) {
  DiskSpace space;
  const bool known = diskQuery_ ? diskQuery_(folder_, space) : QueryDiskSpace(folder_, space);
  if (!known || space.freeBytes < count + kWriteReserveBytes) return false;
  const bool ok = fileType_ == ftRAW ? file_.Write(data, count) : wave_->WriteData(data, count);
  if (ok) bytesWritten_ += count;
  return ok;
}

// Encodes and writes; a failed write closes the stage and clears ok.
void TMMMP3Encoder::Encode(const int16_t* pcm, uint32_t samples, bool& ok) {
  uint32_t written = 0;
  if (library_->beEncodeChunk(stream_, samples, pcm, output_.get(), &written) != BE_ERR_SUCCESSFUL)
    throw std::runtime_error("Unable to encode data");
  if (written > 0 && !WriteOutput(output_.get(), std::min(written, outputSize_))) {
    WriteFailure();
    ok = false;
  }
}

std::exception_ptr TMMMP3Encoder::EndEncoding() {
  if (!encoding_) return nullptr;
  encoding_ = false;
  bool ok = true;
  try {
    FlushStream(ok);
  } catch (...) {
    return std::current_exception();
  }
  return nullptr;
}

void TMMMP3Encoder::WriteFailure() {
  if (failing_) return;  // the flush below fails the same way
  failing_ = true;
  EndEncoding();  // an error of the flush changes nothing: the stream is given up anyway
  ReleaseStream();
  failing_ = false;
  writeFailed_ = true;
  if (OnWriteError) OnWriteError(this);
}

void TMMMP3Encoder::BufferReady(PWaveHdr Buffer) {
  if (encoding_ && GetInput() && !fileName_.empty() && Buffer && Buffer->lpData &&
      Buffer->dwBytesRecorded > 0) {
    const char* data = Buffer->lpData;
    uint32_t n = Buffer->dwBytesRecorded;
    uint32_t used = 0;
    bool ok = true;
    char* chunk = reinterpret_cast<char*>(chunk_.get());
    if (pendingBytes_ > 0) {
      const uint32_t c = std::min(chunkBytes_ - pendingBytes_, n);
      std::memcpy(chunk + pendingBytes_, data, c);
      pendingBytes_ += c;
      used += c;
      n -= c;
      if (pendingBytes_ >= chunkBytes_) {
        Encode(chunk_.get(), chunkSamples_, ok);
        if (ok) pendingBytes_ -= chunkBytes_;
      }
    }
    // Whole chunks straight from the buffer; only one that starts off a sample boundary
    // (never in a chain of whole frames) goes through the chunk buffer.
    while (ok && n >= chunkBytes_) {
      const char* p = data + used;
      if (Aligned16(p)) {
        Encode(reinterpret_cast<const int16_t*>(p), chunkSamples_, ok);
      } else {
        std::memcpy(chunk, p, chunkBytes_);
        Encode(chunk_.get(), chunkSamples_, ok);
      }
      used += chunkBytes_;
      n -= chunkBytes_;
    }
    if (ok && n > 0) {
      std::memcpy(chunk, data + used, n);
      pendingBytes_ = n;
    }
  }
  TMMDSPComponent::BufferReady(Buffer);
}

void TMMMP3Encoder::FlushStream(bool& ok) {
  if (pendingBytes_ > 0) {
    const uint32_t samples = pendingBytes_ / 2;
    pendingBytes_ = 0;  // consumed, whatever the encoder makes of it
    Encode(chunk_.get(), samples, ok);
    if (!ok) return;
  }
  uint32_t written = 0;
  if (library_->beDeinitStream(stream_, output_.get(), &written) != BE_ERR_SUCCESSFUL)
    throw std::runtime_error("Unable to deinitialize stream");
  if (written > 0 && !WriteOutput(output_.get(), std::min(written, outputSize_))) {
    WriteFailure();
    ok = false;
  }
}

void TMMMP3Encoder::Stopped() {
  if (streamOpen_ && encoding_) {
    encoding_ = false;
    bool ok = true;
    FlushStream(ok);
    if (!ok) return;
  }
  TMMDSPComponent::Stopped();
}

void TMMMP3Encoder::ReleaseStream() {
  const bool hadFile = file_.IsOpen() || wave_->IsOpen();
  file_.Close();
  wave_->CloseFile();
  if (hasStream_) {
    library_->beCloseStream(stream_);
    hasStream_ = false;
    stream_ = 0;
  }
  output_.reset();
  chunk_.reset();
  pendingBytes_ = 0;
  encoding_ = false;
  streamOpen_ = false;
  if (hadFile && durable_) durable_->FileClosed(fileName_);
}

void TMMMP3Encoder::Closed() {
  if (streamOpen_) {
    // The flush may raise; the file, the stream and the buffers are released all the same,
    // so that no file stays held and the next open starts clean.
    std::exception_ptr failure;
    try {
      Stopped();
    } catch (...) {
      failure = std::current_exception();
    }
    ReleaseStream();
    TMMDSPComponent::Closed();
    if (failure) std::rethrow_exception(failure);
    return;
  }
  TMMDSPComponent::Closed();
}

void TMMMP3Encoder::CloseFile() {
  if (!streamOpen_) return;
  const std::exception_ptr failure = EndEncoding();
  ReleaseStream();
  if (failure) std::rethrow_exception(failure);
}

void TMMMP3Encoder::OpenFile(const std::string& fileName) {
  CloseFile();
  fileName_ = fileName;
  writeFailed_ = false;
  if (!GetWaveFormat() || !GetInput() || fileName_.empty()) return;
  OpenStream();
  encoding_ = true;
}
