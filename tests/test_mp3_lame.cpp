// The recording path with the real LAME library: a stepped simulated device through
// TMMWaveIn -> TMMVolume -> TMMMP3Encoder into a bare MP3 file, decoded again with libmpg123.
//
// Lengths. LAME (3.100) puts 576 samples of encoder delay in front of the N captured samples
// per channel and, at the flush, pads with zeros so that the last granule can be decoded in
// full: at least 576 samples and up to the end of the frame, i.e. padding in 576 … 1727. So
// every stream decodes to D = 576 + N + padding samples per channel, a multiple of 1152, with
//   N + 1152 <= D <= N + 2303,
// which pins D to the single multiple of 1152 in that range: 1152 × (ceil(N / 1152) + 1).
// The decoder adds its own synthesis delay of 529 samples, so captured sample i reappears at
// decoded sample i + 576 + 529.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "Mp3Decode.h"
#include "audio/MMBlade.h"
#include "audio/MMVolume.h"
#include "audio/MMWavIn.h"
#include "platform/LockedFile.h"
#include "platform/SimCapture.h"

namespace {

constexpr int kRate = 44100;
constexpr int kFrame = 1152;        // samples per channel in an MPEG-1 layer III frame
constexpr int kEncoderDelay = 576;  // LAME's leading delay
constexpr int kMinPadding = 576;    // LAME's shortest end padding
constexpr int kMaxPadding = 576 + kFrame - 1;
constexpr int kDecoderDelay = 529;  // layer III synthesis delay of the decoder
constexpr double kToneHz = 997.0;   // not a divisor of the rate: a lost chunk shifts its phase
constexpr double kToneAmplitude = 0.5;

std::string DataFile(const std::string& suffix) {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string(info->test_suite_name()) + "_" + info->name() + "_" + suffix;
  for (char& c : name)
    if (c == '/') c = '_';
  return std::string(TEST_DATA_DIR) + "/" + name;
}

std::vector<unsigned char> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A station's chain on one stepped simulated tone device, delivering on the stepping thread.
struct Station {
  SimCaptureBackend sim;
  TMMWaveIn in;
  TMMVolume volume;
  TMMMP3Encoder encoder;

  Station(TMMMode mode, int32_t bufferSize, int32_t panning, TMMBitrates bitrate)
      : sim({ToneDevice()}), in(nullptr, &sim) {
    in.SetBufferSize(bufferSize);
    in.SetMode(mode);
    in.SetBitLength(b16Bit);
    in.SetSampleRate(kRate);
    in.SetCallBackMode(cmCallback);
    volume.SetPanning(panning);
    encoder.SetBitrate(bitrate);
    in.SetOutput(&volume);
    volume.SetOutput(&encoder);
  }

  static SimDeviceConfig ToneDevice() {
    SimDeviceConfig dev;
    dev.signal = SimSignal::Tone;
    dev.toneHz = kToneHz;
    dev.toneAmplitude = kToneAmplitude;
    return dev;
  }

  // Records `seconds` into `file` in steps of 100 ms, as a segment of the recorder does: open
  // and start, stop and close. Returns the samples per channel that reached the encoder (the
  // partly filled buffer at the stop is dropped by the wave input).
  int64_t Record(const std::string& file, int seconds) {
    encoder.SetFileName(file);
    in.Start();
    EXPECT_TRUE(encoder.StreamOpen());
    EXPECT_TRUE(IsFileInUse(file));
    const uint32_t step = kRate / 10 * (in.Mode() == mStereo ? 4 : 2);
    for (int i = 0; i < seconds * 10; ++i) {
      sim.Step(in.Handle(), step);
      // A step fills only the buffers queued; the rest waits in the device for the next pump.
      while (sim.Step(in.Handle(), 0) > 0) {
      }
    }
    in.Stop();
    const int64_t frames = in.BytesRecorded() / (in.Mode() == mStereo ? 4 : 2);
    in.Close();
    EXPECT_FALSE(encoder.StreamOpen());
    EXPECT_FALSE(IsFileInUse(file));
    return frames;
  }
};

// The tone as the simulated device produces it, sample i of a channel.
double ToneSample(int64_t i) {
  return static_cast<double>(std::lround(
      kToneAmplitude * std::sin(2.0 * M_PI * kToneHz * static_cast<double>(i) / kRate) * 32767.0));
}

// What the decoder reports and yields, with every frame checked by mpg123_info.
struct Expect {
  int kbps;
  int mode;  // MPG123_M_STEREO or MPG123_M_MONO
};

// Decoded, with the frames whose decoder view differs from the expectation counted.
struct Decoded : DecodedMp3 {
  int64_t framesOff = 0;
};

Decoded Decode(const std::string& path, const Expect& want) {
  Decoded d;
  static_cast<DecodedMp3&>(d) = DecodeMp3(path, [&](const mpg123_frameinfo& fi) {
    if (fi.version != MPG123_1_0 || fi.layer != 3 || fi.rate != kRate || fi.vbr != MPG123_CBR ||
        fi.bitrate != want.kbps || fi.mode != want.mode)
      ++d.framesOff;
  });
  return d;
}

// Walks the frame headers from the first byte: every frame must be MPEG-1 layer III at
// 44100 Hz, the bit rate and channel mode wanted, without CRC, and the frames must fill the
// file exactly (no junk, no tag, nothing cut off).
struct Scan {
  int64_t frames = 0;
  int64_t bad = 0;
  bool exact = false;
  bool infoTag = false;
};

Scan ScanFrames(const std::vector<unsigned char>& f, const Expect& want) {
  static const int kMpeg1L3[16] = {0,   32,  40,  48,  56,  64,  80,  96,
                                   112, 128, 160, 192, 224, 256, 320, 0};
  Scan s;
  size_t pos = 0;
  while (pos + 4 <= f.size()) {
    const unsigned char* h = &f[pos];
    if (h[0] != 0xFF || h[1] != 0xFB) break;  // sync, MPEG-1, layer III, no CRC
    const int kbps = kMpeg1L3[h[2] >> 4];
    const int rateIndex = (h[2] >> 2) & 3;
    const int padding = (h[2] >> 1) & 1;
    const int mode = h[3] >> 6;  // 0 stereo, 1 joint, 2 dual, 3 mono
    if (kbps == 0 || rateIndex != 0) break;
    if (kbps != want.kbps || mode != (want.mode == MPG123_M_MONO ? 3 : 0)) ++s.bad;
    if (s.frames == 0) {
      // A Xing/Info frame carries its tag right after the side information.
      const size_t at = pos + 4 + (mode == 3 ? 17 : 32);
      if (at + 4 <= f.size() &&
          (std::memcmp(&f[at], "Xing", 4) == 0 || std::memcmp(&f[at], "Info", 4) == 0))
        s.infoTag = true;
    }
    ++s.frames;
    pos += static_cast<size_t>(144 * kbps * 1000 / kRate + padding);
  }
  s.exact = pos == f.size();
  return s;
}

double ChannelRms(const Decoded& d, int channel, int64_t from, int64_t to) {
  double sum = 0;
  for (int64_t i = from; i < to; ++i) {
    const double v = d.pcm[static_cast<size_t>(i * d.channels + channel)];
    sum += v * v;
  }
  return to > from ? std::sqrt(sum / static_cast<double>(to - from)) : 0.0;
}

// The lag at which the decoded channel best matches the tone, searched over the start of the
// stream where the tone begins after silence (the tone alone repeats every 44100/997 samples).
int64_t BestLag(const Decoded& d, int channel) {
  int64_t best = -1;
  double bestErr = 0;
  for (int64_t lag = 0; lag <= 2 * kFrame; ++lag) {
    double err = 0;
    for (int64_t j = 0; j < 4 * kFrame; ++j) {
      const double ref = j >= lag ? ToneSample(j - lag) : 0.0;
      const double e = d.pcm[static_cast<size_t>(j * d.channels + channel)] - ref;
      err += e * e;
    }
    if (best < 0 || err < bestErr) {
      best = lag;
      bestErr = err;
    }
  }
  return best;
}

// The decoded channel against the tone at the full delay, over every captured sample but the
// first two frames: the least-squares gain and the signal-to-error ratio (dB) left after it.
// Below 256 kbit/s LAME's CBR settings scale the input by 0.95 for headroom, hence the fit.
struct ToneFit {
  double gain = 0;
  double snrDb = 0;
};

ToneFit FitTone(const Decoded& d, int channel, int64_t captured) {
  const auto at = [&](int64_t i) {
    return static_cast<double>(
        d.pcm[static_cast<size_t>((i + kEncoderDelay + kDecoderDelay) * d.channels + channel)]);
  };
  double rr = 0, dr = 0;
  for (int64_t i = 2 * kFrame; i < captured; ++i) {
    rr += ToneSample(i) * ToneSample(i);
    dr += at(i) * ToneSample(i);
  }
  ToneFit fit;
  fit.gain = rr > 0 ? dr / rr : 0;
  double sig = 0, err = 0;
  for (int64_t i = 2 * kFrame; i < captured; ++i) {
    const double ref = fit.gain * ToneSample(i);
    sig += ref * ref;
    err += (at(i) - ref) * (at(i) - ref);
  }
  fit.snrDb = 10.0 * std::log10(std::max(sig, 1e-9) / std::max(err, 1e-9));
  return fit;
}

// The tone must be there at full level (LAME's 0.95 at most taken off) and in phase
// throughout: a lost, repeated or misordered chunk shifts its phase from there on. A clean
// path gives 65 dB and more.
void ExpectTone(const Decoded& d, int channel, int64_t captured) {
  const ToneFit fit = FitTone(d, channel, captured);
  EXPECT_GT(fit.gain, 0.94) << "channel " << channel;
  EXPECT_LT(fit.gain, 1.01) << "channel " << channel;
  EXPECT_GT(fit.snrDb, 50.0) << "channel " << channel;
}

void ExpectLengthBounds(int64_t decoded, int64_t captured) {
  EXPECT_EQ(decoded % kFrame, 0) << "decoded " << decoded;
  EXPECT_GE(decoded, captured + kEncoderDelay + kMinPadding) << "captured " << captured;
  EXPECT_LE(decoded, captured + kEncoderDelay + kMaxPadding) << "captured " << captured;
}

class Mp3LameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetBladeLoader({});  // the real LAME binding, bound afresh
    if (!BindBladeLibrary()) GTEST_SKIP() << "libmp3lame.so.0 is not installed";
  }
};

struct StereoCase {
  const char* name;
  TMMBitrates bitrate;
  int kbps;
  int32_t bufferSize;
  int32_t panning;  // -16384 keeps the left channel, 16384 the right, 0 both
};

void PrintTo(const StereoCase& c, std::ostream* os) {
  *os << c.name;
}

class StereoRecording : public Mp3LameTest, public ::testing::WithParamInterface<StereoCase> {};

TEST_P(StereoRecording, DecodesAsCbrStreamOfTheCapturedTone) {
  const StereoCase& c = GetParam();
  Station st(mStereo, c.bufferSize, c.panning, c.bitrate);
  const std::string file = DataFile("rec.mp3");
  const int64_t captured = st.Record(file, 10);
  ASSERT_GT(captured, 10 * kRate - c.bufferSize / 4);

  const Expect want{c.kbps, MPG123_M_STEREO};
  const Scan scan = ScanFrames(ReadFile(file), want);
  EXPECT_TRUE(scan.exact) << "the file is not a plain run of layer III frames";
  EXPECT_EQ(scan.bad, 0) << "frames with another bit rate or mode";
  EXPECT_FALSE(scan.infoTag);

  const Decoded d = Decode(file, want);
  ASSERT_TRUE(d.opened);
  EXPECT_EQ(d.rate, kRate);
  ASSERT_EQ(d.channels, 2);
  EXPECT_EQ(d.framesOff, 0) << "frames not CBR " << c.kbps << " kbit/s plain stereo";
  EXPECT_EQ(d.frames, scan.frames) << "the decoder skipped a frame (an Info frame?)";
  EXPECT_EQ(d.Samples(), d.frames * kFrame);
  ExpectLengthBounds(d.Samples(), captured);
  ASSERT_GE(d.Samples(), captured + kEncoderDelay + kDecoderDelay);

  // After the first two frames; the captured region at the full delay is all tone.
  const int64_t from = 2 * kFrame, to = captured;
  const double toneRms = kToneAmplitude * 32767.0 / std::sqrt(2.0);
  const bool left = c.panning <= 0, right = c.panning >= 0;
  const int loud = left ? 0 : 1;
  EXPECT_EQ(BestLag(d, loud), kEncoderDelay + kDecoderDelay);
  for (int ch = 0; ch < 2; ++ch) {
    const bool carries = ch == 0 ? left : right;
    const double rms = ChannelRms(d, ch, from, to);
    if (carries) {
      EXPECT_GT(rms, 0.94 * toneRms) << "channel " << ch;
      ExpectTone(d, ch, captured);
    } else {
      EXPECT_LT(rms, 1.0) << "channel " << ch << " should be silent";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Lame, StereoRecording,
    ::testing::Values(StereoCase{"br64_left", br64, 64, 4096, -16384},
                      StereoCase{"br128_left", br128, 128, 4096, -16384},
                      StereoCase{"br320_left", br320, 320, 4096, -16384},
                      StereoCase{"br128_right", br128, 128, 4096, 16384},
                      // one chunk per buffer, and buffers smaller than a chunk
                      StereoCase{"br128_both_chunk_buffers", br128, 128, 4608, 0},
                      StereoCase{"br192_both_small_buffers", br192, 192, 1000, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Mp3LameTest, MonoInputGivesOneChannelStream) {
  Station st(mMono, 4096, 0, br64);
  const std::string file = DataFile("mono.mp3");
  const int64_t captured = st.Record(file, 10);
  EXPECT_EQ(st.encoder.EncoderConfig().byMode, BE_MP3_MODE_MONO);

  const Expect want{64, MPG123_M_MONO};
  const Scan scan = ScanFrames(ReadFile(file), want);
  EXPECT_TRUE(scan.exact);
  EXPECT_EQ(scan.bad, 0);
  EXPECT_FALSE(scan.infoTag);

  const Decoded d = Decode(file, want);
  ASSERT_TRUE(d.opened);
  EXPECT_EQ(d.rate, kRate);
  ASSERT_EQ(d.channels, 1);
  EXPECT_EQ(d.framesOff, 0);
  EXPECT_EQ(d.frames, scan.frames);
  ExpectLengthBounds(d.Samples(), captured);
  ASSERT_GE(d.Samples(), captured + kEncoderDelay + kDecoderDelay);
  EXPECT_EQ(BestLag(d, 0), kEncoderDelay + kDecoderDelay);
  ExpectTone(d, 0, captured);
}

// Segment rotation: the same station stops, closes and records into the next file. Bare CBR
// streams without a tag join byte-wise into one stream that decodes to both segments.
TEST_F(Mp3LameTest, ConsecutiveSegmentsConcatenateIntoOneStream) {
  Station st(mStereo, 4096, -16384, br128);
  const std::string first = DataFile("a.mp3"), second = DataFile("b.mp3");
  const std::string joined = DataFile("ab.mp3");
  const int64_t n1 = st.Record(first, 10);
  const int64_t n2 = st.Record(second, 7);
  ASSERT_GT(n1, 0);
  ASSERT_GT(n2, 0);

  const Expect want{128, MPG123_M_STEREO};
  std::vector<unsigned char> bytes = ReadFile(first);
  const std::vector<unsigned char> b = ReadFile(second);
  const Scan s1 = ScanFrames(bytes, want), s2 = ScanFrames(b, want);
  for (const Scan* s : {&s1, &s2}) {
    EXPECT_TRUE(s->exact);
    EXPECT_EQ(s->bad, 0);
    EXPECT_FALSE(s->infoTag) << "a tag frame would play as a glitch in the middle";
  }
  bytes.insert(bytes.end(), b.begin(), b.end());
  {
    std::ofstream out(joined, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
  }

  const Decoded d1 = Decode(first, want), d2 = Decode(second, want), d = Decode(joined, want);
  ASSERT_TRUE(d1.opened && d2.opened && d.opened);
  // Every frame of each file is audio, the first one too.
  EXPECT_EQ(d1.frames, s1.frames);
  EXPECT_EQ(d2.frames, s2.frames);
  ExpectLengthBounds(d1.Samples(), n1);
  ExpectLengthBounds(d2.Samples(), n2);
  EXPECT_EQ(d.framesOff, 0);
  EXPECT_EQ(d.frames, d1.frames + d2.frames);
  EXPECT_EQ(d.Samples(), d1.Samples() + d2.Samples());
  EXPECT_GE(d.Samples(), n1 + n2 + 2 * (kEncoderDelay + kMinPadding));
  EXPECT_LE(d.Samples(), n1 + n2 + 2 * (kEncoderDelay + kMaxPadding));
  // The second segment starts its tone afresh behind the first stream's end.
  ASSERT_EQ(d.channels, 2);
  EXPECT_LT(ChannelRms(d, 1, 0, d.Samples()), 1.0);
  Decoded tail;
  tail.channels = 2;
  tail.pcm.assign(d.pcm.begin() + static_cast<std::ptrdiff_t>(d1.pcm.size()), d.pcm.end());
  EXPECT_EQ(BestLag(tail, 0), kEncoderDelay + kDecoderDelay);
  ExpectTone(tail, 0, n2);
}

}  // namespace
