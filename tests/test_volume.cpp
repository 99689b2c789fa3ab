// The volume stage: gains from volume and panning, scaling of every PCM layout with clamping,
// the formats it refuses, and when it scales at all.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "TestStages.h"
#include "audio/MMVolume.h"
#include "audio/MMWavIn.h"
#include "platform/SimCapture.h"

namespace {

WAVEFORMATEX Pcm(int bits, int channels, int rate = 44100) {
  WAVEFORMATEX f{};
  BuildPCMFormat(&f, bits, channels, rate);
  return f;
}

// Samples as the buffer holds them: 16-bit little-endian signed, or 8-bit unsigned bytes.
std::vector<char> Encode(int bits, const std::vector<int>& samples) {
  std::vector<char> out;
  for (int s : samples) {
    out.push_back(static_cast<char>(s & 0xFF));
    if (bits == 16) out.push_back(static_cast<char>((s >> 8) & 0xFF));
  }
  return out;
}

// Bytes that must never change: they lie behind the recorded data.
constexpr char kGuard = 0x5A;
constexpr size_t kGuardBytes = 8;

// A buffer as a device hands it over: the data, then unused capacity.
struct Buffer {
  explicit Buffer(const std::vector<char>& bytes) : data(bytes) {
    data.insert(data.end(), kGuardBytes, kGuard);
    hdr.lpData = data.data();
    hdr.dwBufferLength = static_cast<uint32_t>(data.size());
    hdr.dwBytesRecorded = static_cast<uint32_t>(bytes.size());
  }
  std::vector<char> Recorded() const { return {data.begin(), data.end() - kGuardBytes}; }
  bool GuardIntact() const {
    for (size_t i = data.size() - kGuardBytes; i < data.size(); ++i)
      if (data[i] != kGuard) return false;
    return true;
  }
  std::vector<char> data;
  TMMChainBuffer hdr{};
};

// Source → Volume → Sink, with the format set at the source as a device would.
struct Chain {
  explicit Chain(const WAVEFORMATEX& f) {
    source.SetOutput(&volume);
    volume.SetOutput(&sink);
    source.SetWaveFormat(&f);
  }
  TMMDSPComponent source;
  TMMVolume volume;
  SinkStage sink;
};

TEST(VolumeTest, DefaultsAreUnity) {
  TMMVolume v;
  EXPECT_TRUE(v.Enabled());
  EXPECT_EQ(v.Volume(), 16384);
  EXPECT_EQ(v.Panning(), 0);
  EXPECT_EQ(v.LeftGain(), 16384);
  EXPECT_EQ(v.RightGain(), 16384);
  EXPECT_FALSE(v.FormatUsable());
}

TEST(VolumeTest, GainsAndScaling) {
  struct Case {
    const char* what;
    int bits, channels;
    int32_t volume, panning;
    bool enabled;
    int32_t storedVolume, storedPanning, leftGain, rightGain;
    std::vector<int> in, out;
    std::vector<char> tail;  // a partial frame behind the samples; must stay as it is
  };
  const Case cases[] = {
      {"unity, 16-bit stereo",
       16,
       2,
       16384,
       0,
       true,
       16384,
       0,
       16384,
       16384,
       {1000, -1000, 32767, -32768},
       {1000, -1000, 32767, -32768},
       {}},
      {"unity, 8-bit mono",
       8,
       1,
       16384,
       0,
       true,
       16384,
       0,
       16384,
       16384,
       {0, 127, 128, 255},
       {0, 127, 128, 255},
       {}},
      {"left only silences right",
       16,
       2,
       16384,
       -16384,
       true,
       16384,
       -16384,
       16384,
       0,
       {1000, 2000, -3000, -4000},
       {1000, 0, -3000, 0},
       {}},
      {"right only silences left",
       16,
       2,
       16384,
       16384,
       true,
       16384,
       16384,
       0,
       16384,
       {1000, 2000, -3000, -4000},
       {0, 2000, 0, -4000},
       {}},
      {"half right rounds towards minus infinity",
       16,
       2,
       16384,
       -8192,
       true,
       16384,
       -8192,
       16384,
       8192,
       {1001, 1001, -1001, -1001},
       {1001, 500, -1001, -501},
       {}},
      {"double volume clamps 16-bit",
       16,
       2,
       32768,
       0,
       true,
       32768,
       0,
       32768,
       32768,
       {20000, -20000, 100, -100},
       {32767, -32768, 200, -200},
       {}},
      {"double volume clamps 8-bit stereo",
       8,
       2,
       32768,
       0,
       true,
       32768,
       0,
       32768,
       32768,
       {250, 10, 138, 118},
       {255, 0, 148, 108},
       {}},
      {"double volume clamps 8-bit mono",
       8,
       1,
       32768,
       0,
       true,
       32768,
       0,
       32768,
       32768,
       {250, 10, 128},
       {255, 0, 128},
       {}},
      {"out-of-range settings are clamped",
       16,
       2,
       40000,
       -20000,
       true,
       32768,
       -16384,
       32768,
       0,
       {100, 100},
       {200, 0},
       {}},
      {"negative volume is silence", 8, 2, -5, 0, true, 0, 0, 0, 0, {250, 10}, {128, 128}, {}},
      {"mono uses the left gain: panning right halves it",
       16,
       1,
       16384,
       8192,
       true,
       16384,
       8192,
       8192,
       16384,
       {1000, -1001},
       {500, -501},
       {}},
      {"mono ignores a lowered right gain",
       16,
       1,
       16384,
       -8192,
       true,
       16384,
       -8192,
       16384,
       8192,
       {1000, -1001},
       {1000, -1001},
       {}},
      {"8-bit right channel halved",
       8,
       2,
       16384,
       -8192,
       true,
       16384,
       -8192,
       16384,
       8192,
       {228, 228, 28, 27},
       {228, 178, 28, 77},
       {}},
      {"disabled passes unchanged",
       16,
       2,
       0,
       16384,
       false,
       0,
       16384,
       0,
       0,
       {1000, -1000},
       {1000, -1000},
       {}},
      {"partial 16-bit stereo frame untouched",
       16,
       2,
       8192,
       0,
       true,
       8192,
       0,
       8192,
       8192,
       {10000, -10000},
       {5000, -5000},
       {0x10, 0x27, 0x7F}},
      {"partial 16-bit mono sample untouched",
       16,
       1,
       8192,
       0,
       true,
       8192,
       0,
       8192,
       8192,
       {10000},
       {5000},
       {0x10}},
      {"partial 8-bit stereo frame untouched",
       8,
       2,
       8192,
       0,
       true,
       8192,
       0,
       8192,
       8192,
       {228, 28},
       {178, 78},
       {static_cast<char>(228)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Chain chain(Pcm(c.bits, c.channels));
    TMMVolume& v = chain.volume;
    v.SetVolume(c.volume);
    v.SetPanning(c.panning);
    v.SetEnabled(c.enabled);
    EXPECT_EQ(v.Volume(), c.storedVolume);
    EXPECT_EQ(v.Panning(), c.storedPanning);
    EXPECT_EQ(v.LeftGain(), c.leftGain);
    EXPECT_EQ(v.RightGain(), c.rightGain);
    v.Opened();
    EXPECT_TRUE(v.FormatUsable());

    std::vector<char> in = Encode(c.bits, c.in);
    in.insert(in.end(), c.tail.begin(), c.tail.end());
    std::vector<char> expected = Encode(c.bits, c.out);
    expected.insert(expected.end(), c.tail.begin(), c.tail.end());
    Buffer b(in);
    v.BufferReady(&b.hdr);
    EXPECT_EQ(b.Recorded(), expected);
    EXPECT_TRUE(b.GuardIntact());
    // Scaled in place and handed on: the output sees the same buffer's new content.
    EXPECT_EQ(chain.sink.buffers, 1u);
    EXPECT_EQ(chain.sink.bytes, expected);
  }
}

// Settings take effect with the next buffer, also while the chain runs.
TEST(VolumeTest, ChangeBetweenBuffers) {
  Chain chain(Pcm(16, 2));
  chain.volume.Opened();
  chain.volume.SetPanning(-16384);
  Buffer first(Encode(16, {1000, 1000}));
  chain.volume.BufferReady(&first.hdr);
  EXPECT_EQ(first.Recorded(), Encode(16, {1000, 0}));
  chain.volume.SetPanning(16384);
  Buffer second(Encode(16, {1000, 1000}));
  chain.volume.BufferReady(&second.hdr);
  EXPECT_EQ(second.Recorded(), Encode(16, {0, 1000}));
  chain.volume.SetEnabled(false);
  Buffer third(Encode(16, {1000, 1000}));
  chain.volume.BufferReady(&third.hdr);
  EXPECT_EQ(third.Recorded(), Encode(16, {1000, 1000}));
}

TEST(VolumeTest, RefusesFormatsThatAreNotPcm) {
  WAVEFORMATEX bits24 = Pcm(16, 2);
  bits24.wBitsPerSample = 24;
  bits24.nBlockAlign = 6;
  WAVEFORMATEX mp3 = Pcm(16, 2);
  mp3.wFormatTag = WAVE_FORMAT_MPEGLAYER3;
  WAVEFORMATEX threeChannels = Pcm(16, 2);
  threeChannels.nChannels = 3;
  struct Case {
    const char* what;
    const WAVEFORMATEX* format;
  };
  for (const Case& c : {Case{"24 bits", &bits24}, Case{"MPEG layer 3", &mp3},
                        Case{"three channels", &threeChannels}}) {
    SCOPED_TRACE(c.what);
    const WAVEFORMATEX cd = Pcm(16, 2);
    Chain chain(cd);
    try {
      chain.source.SetWaveFormat(c.format);  // pushed down to the volume stage
      ADD_FAILURE() << "the push should fail";
    } catch (const EMMVolumeError& e) {
      EXPECT_EQ(std::string(e.what()), "Invalid WaveFormat");
    }
    // The refused format is not taken: the stage keeps what it had.
    ASSERT_NE(chain.volume.WaveFormat(), nullptr);
    EXPECT_EQ(chain.volume.WaveFormat()->wBitsPerSample, 16);
    EXPECT_EQ(chain.volume.WaveFormat()->wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(chain.volume.WaveFormat()->nChannels, 2);
    // No format at all is accepted and passed on.
    chain.source.SetWaveFormat(nullptr);
    EXPECT_EQ(chain.volume.WaveFormat(), nullptr);
    EXPECT_EQ(chain.sink.WaveFormat(), nullptr);
  }
}

TEST(VolumeTest, DesignerAcceptsAnyFormat) {
  WAVEFORMATEX bits24 = Pcm(16, 2);
  bits24.wBitsPerSample = 24;
  TMMVolume v;
  v.SetDesigning(true);
  EXPECT_NO_THROW(v.SetWaveFormat(&bits24));
  ASSERT_NE(v.WaveFormat(), nullptr);
  EXPECT_EQ(v.WaveFormat()->wBitsPerSample, 24);
}

// Scaling happens only between Opened and Closed of a chain that carries PCM.
TEST(VolumeTest, ScalesOnlyWhileOpen) {
  Chain chain(Pcm(16, 2));
  TMMVolume& v = chain.volume;
  v.SetPanning(-16384);
  const std::vector<char> samples = Encode(16, {1000, 1000});
  const std::vector<char> leftOnly = Encode(16, {1000, 0});

  Buffer beforeOpen(samples);
  v.BufferReady(&beforeOpen.hdr);
  EXPECT_EQ(beforeOpen.Recorded(), samples);

  v.Opened();
  EXPECT_TRUE(v.FormatUsable());
  Buffer whileOpen(samples);
  v.BufferReady(&whileOpen.hdr);
  EXPECT_EQ(whileOpen.Recorded(), leftOnly);

  v.Closed();
  EXPECT_FALSE(v.FormatUsable());
  Buffer afterClose(samples);
  v.BufferReady(&afterClose.hdr);
  EXPECT_EQ(afterClose.Recorded(), samples);
  EXPECT_EQ(chain.sink.buffers, 3u);  // passed on every time
}

TEST(VolumeTest, OpenedWithoutFormatDoesNotScale) {
  TMMVolume v;
  v.SetVolume(0);
  v.Opened();
  EXPECT_FALSE(v.FormatUsable());
  const std::vector<char> samples = Encode(16, {1000, 1000});
  Buffer b(samples);
  v.BufferReady(&b.hdr);
  EXPECT_EQ(b.Recorded(), samples);
}

// Fills a buffer when asked, as the head of a chain driven from its output end would.
class FillingSource : public TMMDSPComponent {
 public:
  using TMMDSPComponent::TMMDSPComponent;
  std::vector<char> fill;
  bool more = false;
  void BufferLoad(PWaveHdr b, bool& More) override {
    std::memcpy(b->lpData, fill.data(), fill.size());
    b->dwBytesRecorded = static_cast<uint32_t>(fill.size());
    More = more;
  }
};

TEST(VolumeTest, BufferLoadScalesWhatTheInputFilled) {
  FillingSource source;
  TMMVolume v;
  source.SetOutput(&v);
  const WAVEFORMATEX f = Pcm(16, 2);
  source.SetWaveFormat(&f);
  v.SetPanning(16384);
  v.Opened();
  source.fill = Encode(16, {1000, 2000, -3000, -4000});
  source.more = true;
  Buffer b(std::vector<char>(8, 0));
  b.hdr.dwBytesRecorded = 0;
  bool more = false;
  v.BufferLoad(&b.hdr, more);
  EXPECT_TRUE(more);
  EXPECT_EQ(b.hdr.dwBytesRecorded, 8u);
  EXPECT_EQ(b.Recorded(), Encode(16, {0, 2000, 0, -4000}));

  v.SetEnabled(false);
  Buffer unchanged(std::vector<char>(8, 0));
  v.BufferLoad(&unchanged.hdr, more);
  EXPECT_EQ(unchanged.Recorded(), source.fill);
}

// In a station's chain the wave input opens the stage, which then keeps only the left channel
// of what the device records.
TEST(VolumeTest, StationChainKeepsTheChosenChannel) {
  SimCaptureBackend sim(std::vector<SimDeviceConfig>(1));
  TMMWaveIn w(nullptr, &sim);
  TMMVolume v;
  SinkStage sink;
  w.SetBufferSize(4096);
  w.SetMode(mStereo);
  w.SetBitLength(b16Bit);
  w.SetSampleRate(44100);
  w.SetOutput(&v);
  v.SetOutput(&sink);
  v.SetPanning(-16384);
  w.Start();
  EXPECT_TRUE(v.FormatUsable());
  sim.Step(w.Handle(), 4096 * 2);
  for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
  w.Stop();
  w.Close();
  EXPECT_FALSE(v.FormatUsable());

  std::vector<char> expected = RampBytes(0, 4096 * 2);
  for (size_t i = 0; i + 4 <= expected.size(); i += 4) expected[i + 2] = expected[i + 3] = 0;
  EXPECT_EQ(sink.bytes, expected);
}

}  // namespace
