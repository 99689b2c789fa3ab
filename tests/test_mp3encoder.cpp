// The MP3 encoder stage against a recording stand-in for the encoder library: chunking of the
// PCM stream, the flush at stop, the order of library calls, the configuration record, the
// output file (bare stream or RIFF WAVE), every failure, and a disk that fills up.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QCoreApplication>
#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "TestStages.h"
#include "audio/MMBlade.h"
#include "audio/MMWavIn.h"
#include "platform/DiskSpace.h"
#include "platform/LockedFile.h"
#include "platform/SimCapture.h"

namespace {

constexpr HBE_STREAM kStream = 0x5EED;

// What the library was asked and what it answered.
struct BladeRecord {
  // Behaviour.
  uint32_t chunkSamples = 2304;
  uint32_t bufferSize = 8000;
  uint32_t initResult = BE_ERR_SUCCESSFUL;
  uint32_t encodeResult = BE_ERR_SUCCESSFUL;
  uint32_t deinitResult = BE_ERR_SUCCESSFUL;
  uint32_t deinitBytes = 101;
  // Record.
  std::vector<std::string> calls;  // "init", "encode <samples>", "deinit", "close"
  std::vector<std::array<uint8_t, sizeof(BE_CONFIG)>> configs;
  std::vector<const int16_t*> pcmPointers;
  std::vector<char> pcm;  // every sample byte handed over for encoding, in order
  std::vector<std::vector<uint8_t>> outputs;  // every block of MP3 bytes handed back, in order
  int wrongHandles = 0;
  uint32_t lastWritten = 0;

  std::vector<uint8_t> Produced() const {
    std::vector<uint8_t> all;
    for (const auto& o : outputs) all.insert(all.end(), o.begin(), o.end());
    return all;
  }
  int Count(const std::string& call) const {
    return static_cast<int>(std::count(calls.begin(), calls.end(), call));
  }
};

// Hands back distinct bytes for every call, so that the file shows which output went where.
class FakeBlade : public BladeEncoderApi {
 public:
  explicit FakeBlade(BladeRecord& r) : r_(r) {}

  uint32_t beInitStream(const BE_CONFIG* config, uint32_t* samples, uint32_t* bufferSize,
                        HBE_STREAM* stream) override {
    r_.calls.push_back("init");
    std::array<uint8_t, sizeof(BE_CONFIG)> bytes{};
    std::memcpy(bytes.data(), config, sizeof(BE_CONFIG));
    r_.configs.push_back(bytes);
    if (r_.initResult != BE_ERR_SUCCESSFUL) return r_.initResult;
    *samples = r_.chunkSamples;
    *bufferSize = r_.bufferSize;
    *stream = kStream;
    return BE_ERR_SUCCESSFUL;
  }
  uint32_t beEncodeChunk(HBE_STREAM stream, uint32_t samples, const int16_t* pcm, uint8_t* output,
                         uint32_t* written) override {
    r_.calls.push_back("encode " + std::to_string(samples));
    if (stream != kStream) ++r_.wrongHandles;
    r_.pcmPointers.push_back(pcm);
    const char* bytes = reinterpret_cast<const char*>(pcm);
    r_.pcm.insert(r_.pcm.end(), bytes, bytes + samples * 2);
    if (r_.encodeResult != BE_ERR_SUCCESSFUL) return r_.encodeResult;
    return Produce(std::min(samples / 4 + 1, r_.bufferSize), output, written);
  }
  uint32_t beDeinitStream(HBE_STREAM stream, uint8_t* output, uint32_t* written) override {
    r_.calls.push_back("deinit");
    if (stream != kStream) ++r_.wrongHandles;
    if (r_.deinitResult != BE_ERR_SUCCESSFUL) return r_.deinitResult;
    return Produce(r_.deinitBytes, output, written);
  }
  uint32_t beCloseStream(HBE_STREAM stream) override {
    r_.calls.push_back("close");
    if (stream != kStream) ++r_.wrongHandles;
    return BE_ERR_SUCCESSFUL;
  }
  void beVersion(BE_VERSION* v) override {
    r_.calls.push_back("version");
    *v = BE_VERSION{1, 0, 1, 0, "fake"};
  }

 private:
  uint32_t Produce(uint32_t n, uint8_t* output, uint32_t* written) {
    std::vector<uint8_t> out(n);
    for (uint32_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(r_.outputs.size() * 37 + i);
    std::memcpy(output, out.data(), n);
    *written = n;
    r_.lastWritten = n;
    r_.outputs.push_back(std::move(out));
    return BE_ERR_SUCCESSFUL;
  }
  BladeRecord& r_;
};

// Input bytes that differ from their neighbours, so that a lost or repeated chunk shows.
std::vector<char> Pattern(uint64_t from, uint32_t count) {
  std::vector<char> v(count);
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t x = static_cast<uint32_t>(from + i) * 2654435761u;
    v[i] = static_cast<char>((x ^ (x >> 16)) & 0xFF);
  }
  return v;
}

template <typename T = char>
std::vector<T> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return std::vector<T>(bytes.begin(), bytes.end());
}

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

template <typename Fn>
std::string ErrorOf(Fn&& fn) {
  try {
    fn();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "";
}

// A buffer as the chain hands it over.
struct Buffer {
  explicit Buffer(std::vector<char> bytes) : data(std::move(bytes)) {
    hdr.lpData = data.data();
    hdr.dwBufferLength = static_cast<uint32_t>(data.size());
    hdr.dwBytesRecorded = static_cast<uint32_t>(data.size());
  }
  bool Holds(const void* p) const {
    const char* c = static_cast<const char*>(p);
    return c >= data.data() && c < data.data() + data.size();
  }
  std::vector<char> data;
  TMMChainBuffer hdr{};
};

const std::string kLoadFailurePrefix =
    "Unable to load Blade Encoder DLL\n\rYou can download the BladeEncoder at:\n\r";

class Mp3EncoderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = std::string(TEST_DATA_DIR) + "/mp3enc-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    dir = tmpl;
    SetBladeLoader([this]() -> std::unique_ptr<BladeEncoderApi> {
      ++loads;
      if (failLoads > 0) {
        --failLoads;
        return nullptr;
      }
      return std::make_unique<FakeBlade>(rec);
    });
    NewEncoder();
  }
  void TearDown() override {
    // The stages go before the library they use.
    w.reset();
    enc.reset();
    SetBladeLoader(nullptr);
    SetDiskSpaceQuery({});
    std::filesystem::remove_all(dir);
  }

  std::string Path(const std::string& name) const { return dir + "/" + name; }

  // A fresh encoder with default properties, fed 16-bit stereo at 44100 Hz by `source`.
  void NewEncoder() {
    enc = std::make_unique<TMMMP3Encoder>();
    source.SetOutput(enc.get());
    SetFormat(16, 2, 44100);
    enc->SetFileName(Path("rec.mp3"));
  }
  void SetFormat(int bits, int channels, int rate) {
    WAVEFORMATEX f{};
    BuildPCMFormat(&f, bits, channels, rate);
    source.SetWaveFormat(&f);
  }
  void OpenAndStart() {
    enc->Opened();
    enc->Started();
  }
  void Feed(const std::vector<char>& bytes) {
    Buffer b(bytes);
    enc->BufferReady(&b.hdr);
  }

  // The station chain: a wave input over a stepped device, recording 4096-byte buffers of
  // 44100 Hz 16-bit stereo, feeds the encoder.
  void MakeWaveIn() {
    sim = std::make_unique<SimCaptureBackend>(std::vector<SimDeviceConfig>(1));
    w = std::make_unique<TMMWaveIn>(nullptr, sim.get());
    w->SetBufferSize(4096);
    w->SetMode(mStereo);
    w->SetBitLength(b16Bit);
    w->SetSampleRate(44100);
    w->SetOutput(enc.get());
    w->OnError = [this](TComponent*) { ++waveInErrors; };
  }
  // The device captures n bytes and the returned buffers go down the chain.
  void Step(uint32_t n) {
    size_t moved = sim->Step(w->Handle(), n);
    Pump();
    while (moved > 0) {
      moved = sim->Step(w->Handle(), 0);
      Pump();
    }
  }
  void Pump() {
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
  }

  std::string dir;
  BladeRecord rec;
  int loads = 0;
  int failLoads = 0;
  TMMDSPComponent source;
  std::unique_ptr<TMMMP3Encoder> enc;
  std::unique_ptr<SimCaptureBackend> sim;
  std::unique_ptr<TMMWaveIn> w;
  int waveInErrors = 0;
};

// Chunking ------------------------------------------------------------------------------------

// Full chunks are encoded straight from the buffer that holds them; only a chunk that spans
// two buffers goes through the stage's own chunk buffer. Every byte is encoded once, in order.
TEST_F(Mp3EncoderTest, ChunksTakeEveryByteOnceInOrder) {
  struct Case {
    const char* what;
    std::vector<uint32_t> sizes;
    int rounds;
    std::vector<uint32_t> firstPending;
  };
  const Case cases[] = {
      {"4096-byte buffers", {4096}, 45, {4096, 3584, 3072, 2560}},
      {"buffers of exactly one chunk", {4608}, 3, {0, 0, 0}},
      {"buffers of two and a half chunks", {11520}, 4, {2304, 0, 2304, 0}},
      {"mixed sizes", {1000, 8, 4600, 9216, 4, 13824, 2}, 3, {1000, 1008, 1000, 1000, 1004, 1004}},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    rec = BladeRecord{};
    const std::string file = Path("chunks" + std::to_string(n++) + ".mp3");
    enc->SetFileName(file);
    OpenAndStart();
    ASSERT_TRUE(enc->StreamOpen());
    EXPECT_EQ(enc->ChunkSamples(), 2304u);
    EXPECT_EQ(enc->ChunkBytes(), 4608u);

    std::vector<char> input;
    std::vector<uint32_t> pending;
    for (int r = 0; r < c.rounds; ++r) {
      for (uint32_t size : c.sizes) {
        Buffer b(Pattern(input.size(), size));
        input.insert(input.end(), b.data.begin(), b.data.end());
        // Where each chunk of this buffer must be encoded from: the buffer itself at an offset,
        // or (null) the stage's chunk buffer for the one that completes the pending bytes.
        std::vector<const char*> from;
        uint32_t used = 0;
        const uint32_t before = enc->PendingBytes();
        if (before > 0) {
          used = std::min(4608 - before, size);
          if (before + used == 4608) from.push_back(nullptr);
        }
        for (; size - used >= 4608; used += 4608) from.push_back(b.data.data() + used);
        const size_t calls = rec.pcmPointers.size();

        enc->BufferReady(&b.hdr);

        ASSERT_EQ(rec.pcmPointers.size() - calls, from.size());
        for (size_t k = 0; k < from.size(); ++k) {
          const void* p = rec.pcmPointers[calls + k];
          if (from[k])
            EXPECT_EQ(p, from[k]) << "chunk " << k << " was copied";
          else
            EXPECT_FALSE(b.Holds(p));
        }
        EXPECT_EQ(enc->PendingBytes(), input.size() % 4608);
        pending.push_back(enc->PendingBytes());
      }
    }
    pending.resize(c.firstPending.size());
    EXPECT_EQ(pending, c.firstPending);
    EXPECT_EQ(rec.Count("encode 2304"), static_cast<int>(input.size() / 4608));

    enc->Stopped();
    enc->Closed();
    EXPECT_EQ(rec.pcm, input);
    EXPECT_EQ(ReadFile<uint8_t>(file), rec.Produced());
    EXPECT_EQ(rec.wrongHandles, 0);
  }
}

TEST_F(Mp3EncoderTest, StopFlushesThePendingSamples) {
  struct Case {
    const char* what;
    uint32_t recorded;
    std::vector<std::string> calls;
  };
  const Case cases[] = {
      {"3000 bytes pending", 4608 + 3000, {"init", "encode 2304", "encode 1500", "deinit"}},
      {"nothing pending", 4608, {"init", "encode 2304", "deinit"}},
      {"nothing recorded", 0, {"init", "deinit"}},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    rec = BladeRecord{};
    const std::string file = Path("stop" + std::to_string(n++) + ".mp3");
    enc->SetFileName(file);
    enc->Opened();
    Feed(Pattern(0, 4608));  // before Started: not encoded
    enc->Started();
    EXPECT_TRUE(enc->Encoding());
    const std::vector<char> input = Pattern(1, c.recorded);
    if (!input.empty()) Feed(input);

    enc->Stopped();
    EXPECT_EQ(rec.calls, c.calls);
    EXPECT_EQ(rec.pcm, input);
    EXPECT_EQ(enc->PendingBytes(), 0u);
    EXPECT_FALSE(enc->Encoding());
    EXPECT_TRUE(enc->StreamOpen());
    EXPECT_TRUE(IsFileInUse(file));

    enc->Closed();
    EXPECT_EQ(rec.calls.back(), "close");
    EXPECT_EQ(rec.Count("close"), 1);
    EXPECT_EQ(rec.Count("deinit"), 1);  // the close does not flush a second time
    EXPECT_EQ(ReadFile<uint8_t>(file), rec.Produced());
  }
}

// Segment rotation in the station's chain: stop and close, a new file name, open and start.
TEST_F(Mp3EncoderTest, LibraryCallsPerSegment) {
  MakeWaveIn();
  const std::vector<std::string> perSegment = {"init",        "encode 2304", "encode 2304",
                                               "encode 1536", "deinit",      "close"};
  for (const std::string name : {"seg1.mp3", "seg2.mp3"}) {
    SCOPED_TRACE(name);
    rec = BladeRecord{};
    enc->SetFileName(Path(name));
    w->Open();
    EXPECT_EQ(rec.calls, std::vector<std::string>{"init"});
    EXPECT_TRUE(IsFileInUse(Path(name)));
    w->Start();
    Step(4096 * 3);
    w->Stop();
    w->Close();
    EXPECT_EQ(rec.calls, perSegment);
    EXPECT_EQ(rec.pcm, RampBytes(0, 4096 * 3));
    EXPECT_FALSE(IsFileInUse(Path(name)));
    EXPECT_EQ(ReadFile<uint8_t>(Path(name)), rec.Produced());
  }
  EXPECT_EQ(waveInErrors, 0);
  EXPECT_EQ(loads, 1);  // bound once, kept for the process
}

// The configuration record -------------------------------------------------------------------

std::vector<uint8_t> ConfigBytes(uint32_t rate, uint8_t mode, uint16_t kbps, bool privat, bool crc,
                                 bool copyright, bool original) {
  std::vector<uint8_t> b;
  auto put = [&](uint32_t v, int width) {
    for (int i = 0; i < width; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
  };
  put(0, 4);
  put(rate, 4);
  put(mode, 1);
  put(kbps, 2);
  for (bool flag : {privat, crc, copyright, original}) put(flag ? 0xFFFFFFFFu : 0u, 4);
  return b;
}

TEST_F(Mp3EncoderTest, EncoderConfigRecord) {
  struct Case {
    const char* what;
    int channels;
    int rate;
    TMMChannelMode channelMode;
    std::optional<TMMBitrates> bitrate;
    bool privat, crc, copyright, original;
    uint8_t mode;
    uint16_t kbps;
  };
  const Case cases[] = {
      {"stereo defaults", 2, 44100, cmStereo, std::nullopt, false, false, false, false, 0, 128},
      {"mono input", 1, 44100, cmStereo, std::nullopt, false, false, false, false, 3, 128},
      {"mono input, dual channel", 1, 48000, cmDualChannel, br64, false, false, false, false, 3,
       64},
      {"mono input, mono mode", 1, 32000, cmMono, br32, false, false, false, false, 3, 32},
      {"stereo input, mono mode", 2, 44100, cmMono, br128, false, false, false, false, 0, 128},
      {"dual channel", 2, 48000, cmDualChannel, br160, false, false, false, false, 2, 160},
      {"highest bit rate", 2, 32000, cmStereo, br320, false, false, false, false, 0, 320},
      {"private", 2, 44100, cmStereo, br40, true, false, false, false, 0, 40},
      {"CRC", 2, 44100, cmStereo, br256, false, true, false, false, 0, 256},
      {"copyright", 2, 44100, cmStereo, br112, false, false, true, false, 0, 112},
      {"original", 2, 44100, cmStereo, br224, false, false, false, true, 0, 224},
      {"every flag", 2, 44100, cmStereo, br192, true, true, true, true, 0, 192},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    rec = BladeRecord{};
    NewEncoder();
    SetFormat(16, c.channels, c.rate);
    enc->SetChannelMode(c.channelMode);
    if (c.bitrate) enc->SetBitrate(*c.bitrate);
    enc->SetPrivat(c.privat);
    enc->SetCRC(c.crc);
    enc->SetCopyright(c.copyright);
    enc->SetOriginal(c.original);
    enc->Opened();
    ASSERT_EQ(rec.configs.size(), 1u);
    const auto& got = rec.configs[0];
    EXPECT_EQ(std::vector<uint8_t>(got.begin(), got.end()),
              ConfigBytes(c.rate, c.mode, c.kbps, c.privat, c.crc, c.copyright, c.original));
    enc->Closed();
  }
}

// Opening ------------------------------------------------------------------------------------

TEST_F(Mp3EncoderTest, UnsupportedInputFailsTheWaveInputOpen) {
  struct Case {
    const char* what;
    TMMBits bits;
    int rate;
  };
  MakeWaveIn();
  for (const Case& c : {Case{"8-bit", b8Bit, 44100}, Case{"22050 Hz", b16Bit, 22050}}) {
    SCOPED_TRACE(c.what);
    w->SetBitLength(c.bits);
    w->SetSampleRate(c.rate);
    WriteFile(Path("rec.mp3"), "last recording");
    EXPECT_EQ(ErrorOf([&] { w->Open(); }), "Unsupported Input Format");
    EXPECT_EQ(w->DeviceState(), dsClosed);
    EXPECT_EQ(sim->HandleOf(0), 0u);
    EXPECT_FALSE(enc->StreamOpen());
    EXPECT_TRUE(rec.calls.empty());
    // Refused before the file is touched.
    const std::vector<char> kept = ReadFile(Path("rec.mp3"));
    EXPECT_EQ(std::string(kept.begin(), kept.end()), "last recording");
  }
}

// Without input, file name or format the stage stays idle and ignores every buffer; the
// library is not even loaded.
TEST_F(Mp3EncoderTest, NothingToRecordLeavesTheStageIdle) {
  struct Case {
    const char* what;
    std::function<void()> setup;
  };
  const Case cases[] = {
      {"no input",
       [this] {
         WAVEFORMATEX f{};
         BuildPCMFormat(&f, 16, 2, 44100);
         enc->SetInput(nullptr);
         enc->SetWaveFormat(&f);
       }},
      {"no file name", [this] { enc->SetFileName(""); }},
      {"no format", [this] { source.SetWaveFormat(nullptr); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    NewEncoder();
    c.setup();
    OpenAndStart();
    Feed(Pattern(0, 4608 * 2));
    enc->Stopped();
    enc->Closed();
    EXPECT_FALSE(enc->StreamOpen());
    EXPECT_TRUE(rec.calls.empty());
    EXPECT_EQ(loads, 0);
    EXPECT_FALSE(std::filesystem::exists(Path("rec.mp3")));
  }
}

TEST_F(Mp3EncoderTest, ExistingFileIsReplacedAtOpened) {
  WriteFile(Path("rec.mp3"), std::string(5000, 'x'));
  enc->Opened();
  EXPECT_EQ(std::filesystem::file_size(Path("rec.mp3")), 0u);
  enc->Started();
  Feed(Pattern(0, 4608));
  enc->Stopped();
  enc->Closed();
  EXPECT_EQ(ReadFile<uint8_t>(Path("rec.mp3")), rec.Produced());
}

// A file another recording holds must survive: deleting it from under its writer would lose
// that recording.
TEST_F(Mp3EncoderTest, FileThatCannotBeCreated) {
  struct Case {
    const char* what;
    TMMFileType type;
    bool held;
    std::string name;
  };
  const Case cases[] = {
      {"folder missing", ftRAW, false, "missing/rec.mp3"},
      {"folder missing, wave file", ftWAV, false, "missing/rec.wav"},
      {"held by another recording", ftRAW, true, "held.mp3"},
      {"held by another recording, wave file", ftWAV, true, "held.wav"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    rec = BladeRecord{};
    NewEncoder();
    enc->SetFileType(c.type);
    enc->SetFileName(Path(c.name));
    LockedFile holder;
    if (c.held) {
      ASSERT_TRUE(holder.Create(Path(c.name)));
      ASSERT_TRUE(holder.Write("recording", 9));
    }
    // Which file, and why.
    EXPECT_EQ(ErrorOf([&] { enc->Opened(); }),
              "Unable to create file: " + Path(c.name) + " (" +
                  (c.held ? "held by another recording" : "No such file or directory") + ")");
    EXPECT_FALSE(enc->StreamOpen());
    EXPECT_TRUE(rec.calls.empty());  // no stream for a file that is not there
    if (c.held) {
      EXPECT_TRUE(IsFileInUse(Path(c.name)));
      const std::vector<char> kept = ReadFile(Path(c.name));
      EXPECT_EQ(std::string(kept.begin(), kept.end()), "recording");
    }
    enc->Closed();
  }
}

TEST_F(Mp3EncoderTest, LibraryThatDoesNotLoadIsTriedAgain) {
  failLoads = 1;
  const std::string error = ErrorOf([&] { enc->Opened(); });
  EXPECT_EQ(error.rfind(kLoadFailurePrefix, 0), 0u) << error;
  EXPECT_GT(error.size(), kLoadFailurePrefix.size());  // followed by where to get it
  EXPECT_EQ(loads, 1);
  EXPECT_FALSE(enc->StreamOpen());
  EXPECT_FALSE(std::filesystem::exists(Path("rec.mp3")));
  enc->Closed();

  EXPECT_EQ(ErrorOf([&] { enc->Opened(); }), "");
  EXPECT_EQ(loads, 2);
  EXPECT_TRUE(enc->StreamOpen());
  enc->Closed();

  // Once loaded it stays, for every stage of the process.
  TMMMP3Encoder second;
  source.SetOutput(&second);
  SetFormat(16, 2, 44100);
  second.SetFileName(Path("second.mp3"));
  second.Opened();
  EXPECT_TRUE(second.StreamOpen());
  second.Closed();
  EXPECT_EQ(loads, 2);
}

TEST_F(Mp3EncoderTest, FileNameAndTypeFixedWhileTheStreamIsOpen) {
  struct Case {
    const char* what;
    std::function<void(TMMMP3Encoder&)> change, same;
    std::function<bool(const TMMMP3Encoder&)> changed;
  };
  const std::string other = Path("other.mp3");
  const Case cases[] = {
      {"FileName", [&](TMMMP3Encoder& e) { e.SetFileName(other); },
       [&](TMMMP3Encoder& e) { e.SetFileName(Path("rec.mp3")); },
       [&](const TMMMP3Encoder& e) { return e.FileName() == other; }},
      {"FileType", [](TMMMP3Encoder& e) { e.SetFileType(ftWAV); },
       [](TMMMP3Encoder& e) { e.SetFileType(ftRAW); },
       [](const TMMMP3Encoder& e) { return e.FileType() == ftWAV; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    NewEncoder();
    enc->Opened();
    ASSERT_TRUE(enc->StreamOpen());
    EXPECT_EQ(ErrorOf([&] { c.change(*enc); }), "Change to property while device was open");
    EXPECT_FALSE(c.changed(*enc));
    EXPECT_EQ(ErrorOf([&] { c.same(*enc); }), "");  // the value it has is no change
    EXPECT_TRUE(enc->StreamOpen());
    enc->Closed();
    EXPECT_EQ(ErrorOf([&] { c.change(*enc); }), "");
    EXPECT_TRUE(c.changed(*enc));
  }
}

TEST_F(Mp3EncoderTest, StreamThatDoesNotInitializeClosesTheFile) {
  for (TMMFileType type : {ftRAW, ftWAV}) {
    SCOPED_TRACE(type == ftRAW ? "raw" : "wav");
    rec = BladeRecord{};
    NewEncoder();
    enc->SetFileType(type);
    rec.initResult = BE_ERR_INVALID_FORMAT;
    EXPECT_EQ(ErrorOf([&] { enc->Opened(); }), "Unable to initialize stream");
    EXPECT_FALSE(enc->StreamOpen());
    EXPECT_FALSE(IsFileInUse(Path("rec.mp3")));
    EXPECT_EQ(rec.calls, std::vector<std::string>{"init"});  // no stream to close
    enc->Closed();
    EXPECT_EQ(rec.calls, std::vector<std::string>{"init"});

    rec.initResult = BE_ERR_SUCCESSFUL;
    enc->Opened();
    EXPECT_TRUE(enc->StreamOpen());
    enc->Closed();
  }
}

TEST_F(Mp3EncoderTest, LibraryFailuresWhileEncoding) {
  struct Case {
    const char* what;
    std::function<void()> act;
    std::string message;
  };
  const Case cases[] = {
      {"a whole chunk",
       [this] {
         rec.encodeResult = BE_ERR_INVALID_HANDLE;
         Feed(Pattern(0, 4608));
       },
       "Unable to encode data"},
      {"a chunk spanning two buffers",
       [this] {
         Feed(Pattern(0, 3000));
         rec.encodeResult = BE_ERR_INVALID_HANDLE;
         Feed(Pattern(3000, 3000));
       },
       "Unable to encode data"},
      {"the pending samples at stop",
       [this] {
         Feed(Pattern(0, 3000));
         rec.encodeResult = BE_ERR_INVALID_HANDLE;
         enc->Stopped();
       },
       "Unable to encode data"},
      {"the end of the stream",
       [this] {
         rec.deinitResult = BE_ERR_INVALID_HANDLE;
         enc->Stopped();
       },
       "Unable to deinitialize stream"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    rec = BladeRecord{};
    NewEncoder();
    OpenAndStart();
    EXPECT_EQ(ErrorOf([&] { c.act(); }), c.message);
    // However the flush at close fares, the file and the stream are let go.
    ErrorOf([&] { enc->Closed(); });
    EXPECT_FALSE(enc->StreamOpen());
    EXPECT_FALSE(IsFileInUse(Path("rec.mp3")));
    EXPECT_EQ(rec.Count("close"), 1);
  }
}

// The output file ----------------------------------------------------------------------------

TEST_F(Mp3EncoderTest, FileIsHeldWhileTheStreamIsOpen) {
  for (TMMFileType type : {ftRAW, ftWAV}) {
    SCOPED_TRACE(type == ftRAW ? "raw" : "wav");
    NewEncoder();
    enc->SetFileType(type);
    EXPECT_FALSE(IsFileInUse(Path("rec.mp3")));
    OpenAndStart();
    EXPECT_TRUE(IsFileInUse(Path("rec.mp3")));
    LockedFile other;
    EXPECT_FALSE(other.Create(Path("rec.mp3")));
    Feed(Pattern(0, 4608));
    enc->Stopped();
    EXPECT_TRUE(IsFileInUse(Path("rec.mp3")));  // until Closed
    enc->Closed();
    EXPECT_FALSE(IsFileInUse(Path("rec.mp3")));
  }
}

uint16_t U16(const std::vector<uint8_t>& b, size_t at) {
  return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}
uint32_t U32(const std::vector<uint8_t>& b, size_t at) {
  return U16(b, at) | (static_cast<uint32_t>(U16(b, at + 2)) << 16);
}

TEST_F(Mp3EncoderTest, WaveFileLayout) {
  struct Case {
    const char* what;
    int channels;
    int rate;
    TMMBitrates bitrate;
    uint32_t avgBytes;
    uint16_t blockSize;
  };
  const Case cases[] = {
      {"44100 Hz stereo, 128 kbit/s", 2, 44100, br128, 16000, 417},
      {"48000 Hz mono, 320 kbit/s", 1, 48000, br320, 40000, 960},
      {"32000 Hz stereo, 64 kbit/s", 2, 32000, br64, 8000, 288},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    rec = BladeRecord{};
    NewEncoder();
    SetFormat(16, c.channels, c.rate);
    enc->SetFileType(ftWAV);
    enc->SetBitrate(c.bitrate);
    OpenAndStart();
    Feed(Pattern(0, 4608 * 2 + 3000));
    enc->Stopped();
    enc->Closed();
    const std::vector<uint8_t> produced = rec.Produced();
    ASSERT_EQ(produced.size() % 2, 1u);  // an odd data chunk: the file needs a pad byte

    const std::vector<uint8_t> file = ReadFile<uint8_t>(Path("rec.mp3"));
    ASSERT_GE(file.size(), 12u);
    EXPECT_EQ(std::string(file.begin(), file.begin() + 4), "RIFF");
    EXPECT_EQ(U32(file, 4), file.size() - 8);
    EXPECT_EQ(std::string(file.begin() + 8, file.begin() + 12), "WAVE");
    std::optional<size_t> fmt, data;
    uint32_t fmtSize = 0, dataSize = 0;
    for (size_t at = 12; at + 8 <= file.size();) {
      const std::string id(file.begin() + at, file.begin() + at + 4);
      const uint32_t size = U32(file, at + 4);
      if (id == "fmt ") fmt = at + 8, fmtSize = size;
      if (id == "data") data = at + 8, dataSize = size;
      at += 8 + size + (size % 2);
    }
    ASSERT_TRUE(fmt && data);
    EXPECT_EQ(fmtSize, 30u);
    const size_t f = *fmt;
    EXPECT_EQ(U16(file, f + 0), 0x55);
    EXPECT_EQ(U16(file, f + 2), c.channels);
    EXPECT_EQ(U32(file, f + 4), static_cast<uint32_t>(c.rate));
    EXPECT_EQ(U32(file, f + 8), c.avgBytes);
    EXPECT_EQ(U16(file, f + 12), 1);   // nBlockAlign
    EXPECT_EQ(U16(file, f + 14), 0);   // wBitsPerSample
    EXPECT_EQ(U16(file, f + 16), 12);  // cbSize
    EXPECT_EQ(U16(file, f + 18), 1);
    EXPECT_EQ(U32(file, f + 20), 2u);
    EXPECT_EQ(U16(file, f + 24), c.blockSize);
    EXPECT_EQ(U16(file, f + 26), 1);
    EXPECT_EQ(U16(file, f + 28), 1393);
    EXPECT_EQ(dataSize, produced.size());
    ASSERT_LE(*data + dataSize, file.size());
    EXPECT_EQ(std::vector<uint8_t>(file.begin() + *data, file.begin() + *data + dataSize),
              produced);
  }
}

// A full disk ---------------------------------------------------------------------------------

// A write needs its own size plus 10240 bytes free on the file's volume.
TEST_F(Mp3EncoderTest, WriteNeedsItsSizePlusReserve) {
  struct Case {
    const char* what;
    bool answers;
    int64_t spare;  // free bytes beyond count + 10240
    bool written;
  };
  const Case cases[] = {
      {"exactly enough", true, 0, true},
      {"one byte short", true, -1, false},
      {"query fails", false, 1 << 30, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    rec = BladeRecord{};
    std::vector<std::string> folders;
    SetDiskSpaceQuery([&](const std::string& folder, DiskSpace& out) {
      folders.push_back(folder);
      out.freeBytes = static_cast<uint64_t>(rec.lastWritten + 10240 + c.spare);
      out.totalBytes = uint64_t{1} << 40;
      return c.answers;
    });
    NewEncoder();
    OpenAndStart();
    Feed(Pattern(0, 4608));
    ASSERT_FALSE(folders.empty());
    EXPECT_EQ(folders[0], dir);
    EXPECT_EQ(enc->StreamOpen(), c.written);
    EXPECT_EQ(IsFileInUse(Path("rec.mp3")), c.written);
    if (c.written) {
      enc->Stopped();
      enc->Closed();
      EXPECT_EQ(ReadFile<uint8_t>(Path("rec.mp3")), rec.Produced());
    } else {
      EXPECT_TRUE(ReadFile(Path("rec.mp3")).empty());
    }
    SetDiskSpaceQuery({});
  }
}

// A disk that is full from the start: the stage closes its file at the first write and the
// station's chain goes on recording into nothing, without an error, until it is opened again.
TEST_F(Mp3EncoderTest, FullDiskClosesTheFileWhileTheChainRuns) {
  SetDiskSpaceQuery([](const std::string&, DiskSpace& out) {
    out.freeBytes = 5000;
    out.totalBytes = uint64_t{1} << 40;
    return true;
  });
  MakeWaveIn();
  w->Start();
  Step(4096 * 2);  // completes the first chunk
  EXPECT_GE(rec.Count("encode 2304"), 1);
  EXPECT_EQ(rec.calls.back(), "close");
  EXPECT_FALSE(enc->StreamOpen());
  EXPECT_FALSE(IsFileInUse(Path("rec.mp3")));
  EXPECT_TRUE(ReadFile(Path("rec.mp3")).empty());

  const std::vector<std::string> callsAtClose = rec.calls;
  Step(4096 * 5);
  EXPECT_EQ(rec.calls, callsAtClose);  // later buffers are ignored
  EXPECT_EQ(w->DeviceState(), dsOpen | dsStarted);
  EXPECT_EQ(w->BytesRecorded(), 4096 * 7);
  EXPECT_EQ(waveInErrors, 0);
  EXPECT_EQ(ErrorOf([&] { w->Stop(); }), "");
  EXPECT_EQ(ErrorOf([&] { w->Close(); }), "");
  EXPECT_EQ(rec.calls, callsAtClose);

  // Space again: the next segment records normally.
  SetDiskSpaceQuery({});
  rec = BladeRecord{};
  w->Start();
  Step(4096 * 2);
  w->Stop();
  w->Close();
  EXPECT_EQ(rec.Count("close"), 1);
  EXPECT_EQ(ReadFile<uint8_t>(Path("rec.mp3")), rec.Produced());
}

// The disk fills up in the middle of a segment: the file keeps what was written before.
TEST_F(Mp3EncoderTest, DiskFillsUpDuringTheSegment) {
  int writes = 0;
  SetDiskSpaceQuery([&](const std::string&, DiskSpace& out) {
    out.freeBytes = ++writes <= 3 ? uint64_t{1} << 30 : 100;
    out.totalBytes = uint64_t{1} << 40;
    return true;
  });
  MakeWaveIn();
  w->Start();
  // Chunks complete at the 2nd, 3rd, 4th and 5th buffer; the fourth write fails.
  Step(4096 * 4);
  EXPECT_TRUE(enc->StreamOpen());
  Step(4096);
  EXPECT_FALSE(enc->StreamOpen());
  EXPECT_FALSE(IsFileInUse(Path("rec.mp3")));
  EXPECT_EQ(rec.Count("close"), 1);

  ASSERT_GE(rec.outputs.size(), 3u);
  std::vector<uint8_t> firstThree;
  for (int i = 0; i < 3; ++i)
    firstThree.insert(firstThree.end(), rec.outputs[i].begin(), rec.outputs[i].end());
  EXPECT_EQ(ReadFile<uint8_t>(Path("rec.mp3")), firstThree);

  const std::vector<std::string> callsAtClose = rec.calls;
  Step(4096 * 4);
  EXPECT_EQ(rec.calls, callsAtClose);
  EXPECT_EQ(w->DeviceState(), dsOpen | dsStarted);
  EXPECT_EQ(waveInErrors, 0);
  w->Stop();
  w->Close();
  EXPECT_EQ(rec.Count("close"), 1);  // nothing released twice
  EXPECT_EQ(ReadFile<uint8_t>(Path("rec.mp3")), firstThree);
}

// The recorded file's lock --------------------------------------------------------------------

TEST_F(Mp3EncoderTest, LockedFileKeepsOthersOut) {
  const std::string path = Path("held.mp3");
  EXPECT_FALSE(IsFileInUse(path));  // missing
  LockedFile held;
  ASSERT_TRUE(held.Create(path));
  ASSERT_TRUE(held.Write("abc", 3));
  EXPECT_TRUE(IsFileInUse(path));

  LockedFile second;
  EXPECT_FALSE(second.Create(path));
  EXPECT_FALSE(second.IsOpen());
  EXPECT_TRUE(IsFileInUse(path));
  held.Close();
  const std::vector<char> kept = ReadFile(path);
  EXPECT_EQ(std::string(kept.begin(), kept.end()), "abc");  // not emptied by the refused Create

  EXPECT_FALSE(IsFileInUse(path));   // exists, nobody holds it
  EXPECT_TRUE(second.Create(path));  // replaces it now
  EXPECT_TRUE(ReadFile(path).empty());
}

}  // namespace
