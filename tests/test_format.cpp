// The PCM format record helpers: acceptance, construction, sizing, copying and the
// byte/time conversions every stage and display relies on.

#include <gtest/gtest.h>

#include <climits>
#include <cstring>

#include "audio/MMFormat.h"

namespace {

WAVEFORMATEX Pcm(int bits, int channels, int rate) {
  WAVEFORMATEX f;
  std::memset(&f, 0xA5, sizeof f);  // every field must be written, not left over
  BuildPCMFormat(&f, bits, channels, rate);
  return f;
}

// A compressed format carries format-specific bytes right behind the record.
#pragma pack(push, 1)
struct Mp3Format {
  WAVEFORMATEX wfx;
  uint8_t extra[12];
};
#pragma pack(pop)

Mp3Format MakeMp3() {
  Mp3Format m{};
  m.wfx.wFormatTag = WAVE_FORMAT_MPEGLAYER3;
  m.wfx.nChannels = 2;
  m.wfx.nSamplesPerSec = 44100;
  m.wfx.nAvgBytesPerSec = 16000;
  m.wfx.nBlockAlign = 1;
  m.wfx.cbSize = sizeof m.extra;
  for (size_t i = 0; i < sizeof m.extra; ++i) m.extra[i] = static_cast<uint8_t>(0x10 + i);
  return m;
}

TEST(PcmFormat, IsPCMFormatAcceptsOnlyTheSupportedRange) {
  struct Case {
    const char* name;
    uint16_t tag;
    int bits, channels, rate;
    bool accepted;
  };
  const Case cases[] = {
      {"16-bit stereo 44100", WAVE_FORMAT_PCM, 16, 2, 44100, true},
      {"8-bit mono 8000", WAVE_FORMAT_PCM, 8, 1, 8000, true},
      {"lowest rate 4000", WAVE_FORMAT_PCM, 16, 2, 4000, true},
      {"highest rate 100000", WAVE_FORMAT_PCM, 16, 2, 100000, true},
      {"rate 3999", WAVE_FORMAT_PCM, 16, 2, 3999, false},
      {"rate 100001", WAVE_FORMAT_PCM, 16, 2, 100001, false},
      {"24-bit samples", WAVE_FORMAT_PCM, 24, 2, 44100, false},
      {"12-bit samples", WAVE_FORMAT_PCM, 12, 1, 44100, false},
      {"three channels", WAVE_FORMAT_PCM, 16, 3, 44100, false},
      {"no channels", WAVE_FORMAT_PCM, 16, 0, 44100, false},
      {"MP3 tag", WAVE_FORMAT_MPEGLAYER3, 16, 2, 44100, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WAVEFORMATEX f = Pcm(c.bits, c.channels, c.rate);
    f.wFormatTag = c.tag;
    EXPECT_EQ(IsPCMFormat(&f), c.accepted);
  }
  EXPECT_FALSE(IsPCMFormat(nullptr));
}

TEST(PcmFormat, BuildPCMFormatDerivesFrameSizeAndByteRate) {
  struct Case {
    int bits, channels, rate;
    uint16_t blockAlign;
    uint32_t avgBytes;
  };
  const Case cases[] = {
      {16, 2, 44100, 4, 176400},
      {8, 1, 8000, 1, 8000},
      {16, 1, 22050, 2, 44100},
      {8, 2, 11025, 2, 22050},
      // The frame size divides the whole bit count, not the bits of one sample.
      {12, 2, 8000, 3, 24000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.bits << " bits, " << c.channels << " ch, " << c.rate);
    const WAVEFORMATEX f = Pcm(c.bits, c.channels, c.rate);
    EXPECT_EQ(f.wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(f.nChannels, c.channels);
    EXPECT_EQ(f.nSamplesPerSec, static_cast<uint32_t>(c.rate));
    EXPECT_EQ(f.wBitsPerSample, c.bits);
    EXPECT_EQ(f.nBlockAlign, c.blockAlign);
    EXPECT_EQ(f.nAvgBytesPerSec, c.avgBytes);
    EXPECT_EQ(f.cbSize, 0);
  }
}

TEST(PcmFormat, WaveFormatSizeIgnoresCbSizeOnlyForPcm) {
  struct Case {
    const char* name;
    uint16_t tag;
    uint16_t cbSize;
    int size;
  };
  const Case cases[] = {
      {"PCM", WAVE_FORMAT_PCM, 0, 18},
      {"PCM with a stray cbSize", WAVE_FORMAT_PCM, 22, 18},
      {"MP3 without extra bytes", WAVE_FORMAT_MPEGLAYER3, 0, 18},
      {"MP3 with 12 extra bytes", WAVE_FORMAT_MPEGLAYER3, 12, 30},
      {"other tag", 2, 32, 50},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WAVEFORMATEX f = Pcm(16, 2, 44100);
    f.wFormatTag = c.tag;
    f.cbSize = c.cbSize;
    EXPECT_EQ(WaveFormatSize(&f), c.size);
  }
  EXPECT_EQ(WaveFormatSize(nullptr), 0);
}

TEST(PcmFormat, CopyOfPcmIsSeparateAndClearsCbSize) {
  WAVEFORMATEX src = Pcm(16, 2, 44100);
  src.cbSize = 7;
  WAVEFORMATEX* copy = CopyWaveFormat(&src);
  ASSERT_NE(copy, nullptr);
  EXPECT_NE(copy, &src);
  EXPECT_EQ(copy->cbSize, 0);
  src.cbSize = 0;
  EXPECT_EQ(std::memcmp(copy, &src, sizeof src), 0);
  // The copy lives on independently of its source.
  src.nSamplesPerSec = 8000;
  EXPECT_EQ(copy->nSamplesPerSec, 44100u);
  FreeWaveFormat(copy);
}

TEST(PcmFormat, CopyOfCompressedFormatKeepsItsExtraBytes) {
  const Mp3Format src = MakeMp3();
  WAVEFORMATEX* copy = CopyWaveFormat(&src.wfx);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->cbSize, sizeof src.extra);
  EXPECT_EQ(std::memcmp(copy, &src, sizeof src), 0);
  FreeWaveFormat(copy);

  EXPECT_EQ(CopyWaveFormat(nullptr), nullptr);
}

TEST(PcmFormat, MulDivRoundRoundsTheRemainder) {
  struct Case {
    int32_t a, b, c, expected;
  };
  const Case cases[] = {
      {2, 3, 4, 2},  // 1.5: halves go up
      {5, 1, 4, 1},  // 1.25
      {7, 1, 4, 2},  // 1.75
      {10, 1, 5, 2},
      {0, 5, 3, 0},
      {1, 1, 3, 0},
      // The product needs more than 32 bits.
      {100000, 100000, 1000, 10000000},
      {INT32_MAX, 2, 4, 1073741824},
      // Negative results round the half away from zero, smaller fractions toward it.
      {-3, 1, 2, -2},
      {-5, 1, 4, -1},
      {-7, 1, 4, -2},
      {3, 1, -2, -2},
      {1, 1, -4, 0},
      {-3, -1, 2, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.a << " * " << c.b << " / " << c.c);
    EXPECT_EQ(MulDivRound(c.a, c.b, c.c), c.expected);
  }
}

TEST(PcmFormat, TimeConversionsRoundAndAlignToFrames) {
  const WAVEFORMATEX cd = Pcm(16, 2, 44100);
  const WAVEFORMATEX mono8 = Pcm(8, 1, 8000);
  // A byte rate that is not a whole number of frames per sample, so the byte count
  // from samples needs rounding up to a frame.
  WAVEFORMATEX odd = Pcm(16, 2, 44100);
  odd.nSamplesPerSec = 3;
  odd.nAvgBytesPerSec = 10;

  using Conv = int32_t (*)(const WAVEFORMATEX*, int32_t);
  struct Case {
    const char* name;
    const WAVEFORMATEX* f;
    Conv conv;
    int32_t n, expected;
  };
  const Case cases[] = {
      {"BytesToMs 4096", &cd, BytesToMs, 4096, 23},
      {"BytesToMs one second", &cd, BytesToMs, 176400, 1000},
      {"BytesToMs half ms rounds up", &cd, BytesToMs, 441, 3},
      {"MsToBytes 1", &cd, MsToBytes, 1, 176},
      {"MsToBytes 10", &cd, MsToBytes, 10, 1764},
      {"MsToBytes 2 rounds 353 up to a frame", &cd, MsToBytes, 2, 356},
      {"MsToBytes 3 rounds 529 up to a frame", &cd, MsToBytes, 3, 532},
      {"MsToBytes 0", &cd, MsToBytes, 0, 0},
      {"SamplesToBytes 1", &cd, SamplesToBytes, 1, 4},
      {"SamplesToBytes 1024", &cd, SamplesToBytes, 1024, 4096},
      {"BytesToSamples 4096", &cd, BytesToSamples, 4096, 1024},
      {"BytesToSamples 4097", &cd, BytesToSamples, 4097, 1024},
      {"BytesToSamples half frame rounds up", &cd, BytesToSamples, 2, 1},
      {"8-bit mono MsToBytes 1", &mono8, MsToBytes, 1, 8},
      {"8-bit mono BytesToMs", &mono8, BytesToMs, 8000, 1000},
      {"SamplesToBytes 3.33 rounds up to a frame", &odd, SamplesToBytes, 1, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.conv(c.f, c.n), c.expected);
  }
}

}  // namespace
