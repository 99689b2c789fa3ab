// MP3 recording cost: bare LAME against our chain (simulated device -> TMMWaveIn -> TMMVolume
// -> TMMMP3Encoder) on the same minute of programme-like audio, at 64, 128 and 320 kbit/s;
// then eight chains, one after another and interleaved buffer by buffer on one thread, as
// the recorder runs them. Every measurement runs in a fresh child process of this program,
// so that its peak memory (ru_maxrss) is its own.
//
//   ./build/bench/bench_mp3 [--seconds 60] [--reps 3] [--dir /tmp]
//
// (a) bare LAME, fed from memory; (b) the chain, from a stepped simulated device playing a WAV
// of the audio; (s) the same device and wave input into a null sink, which is what the
// simulation itself costs (mostly the device reading its WAV at open), so (b - s) / a is the
// chain's own cost against LAME's. Times are the minimum over the repetitions; "cpu" is the
// process CPU time of the measured region, less disturbed by other load than the wall time.
// Peak memory includes the audio held in memory: the bare run's PCM, and each simulated
// device's own copy of the WAV; "rss+" is the growth of resident memory while the chains run.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <lame/lame.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QCoreApplication>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "audio/MMBlade.h"
#include "audio/MMVolume.h"
#include "audio/MMWavIn.h"
#include "platform/DiskSpace.h"
#include "platform/SimCapture.h"

namespace {

constexpr int kRate = 44100;
constexpr int kBuffer = 4096;  // bytes per capture buffer, as the recorder uses
constexpr int kChains = 8;

// Measurement -------------------------------------------------------------------------------

struct Clock {
  std::chrono::steady_clock::time_point wall;
  double cpu;
  static double Cpu() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
  }
  static Clock Now() { return {std::chrono::steady_clock::now(), Cpu()}; }
};

struct Span {
  double wall = 0, cpu = 0;
};

Span Since(const Clock& c) {
  return {std::chrono::duration<double>(std::chrono::steady_clock::now() - c.wall).count(),
          Clock::Cpu() - c.cpu};
}

long MaxRssKb() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return ru.ru_maxrss;
}

long CurrentRssKb() {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  return 0;
}

// Programme-like audio ------------------------------------------------------------------------

// A fixed-seed generator of its own, so the audio is the same on every machine and library.
struct XorShift {
  uint64_t s = 0x9E3779B97F4A7C15ull;
  double Uniform() {  // -1 … 1
    s ^= s << 13;
    s ^= s >> 7;
    s ^= s << 17;
    return static_cast<double>(s >> 11) * (2.0 / 9007199254740992.0) - 1.0;
  }
};

// A music bed of a few tones with slow amplitude modulation, speech-like bursts of band-limited
// noise with a syllable envelope, gated into phrases, and a low noise floor; the channels
// differ in mix and phase. 16-bit stereo, interleaved.
std::vector<int16_t> ProgrammeAudio(int seconds) {
  const int64_t n = static_cast<int64_t>(seconds) * kRate;
  std::vector<int16_t> pcm(static_cast<size_t>(2 * n));
  XorShift rng;
  const double tones[] = {220.0, 277.2, 329.6, 554.4, 1318.5};
  const double gains[] = {0.16, 0.10, 0.12, 0.06, 0.03};
  double lp1 = 0, lp2 = 0;  // two one-pole low-passes: their difference is a band-pass
  for (int64_t i = 0; i < n; ++i) {
    const double t = static_cast<double>(i) / kRate;
    double bedL = 0, bedR = 0;
    for (int k = 0; k < 5; ++k) {
      const double am = 0.6 + 0.4 * std::sin(2 * M_PI * (0.3 + 0.4 * k) * t + k);
      bedL += gains[k] * am * std::sin(2 * M_PI * tones[k] * t);
      bedR += gains[k] * am * std::sin(2 * M_PI * tones[k] * t + 0.3 * (k + 1));
    }
    const double white = rng.Uniform();
    lp1 += 0.35 * (white - lp1);
    lp2 += 0.04 * (white - lp2);
    const double voice = (lp1 - lp2) * 2.5;
    const bool phrase = std::fmod(t, 3.0) < 2.4;
    const double syllable =
        std::max(0.0, std::sin(2 * M_PI * 4.2 * t + std::sin(2 * M_PI * 0.7 * t)));
    const double speech = phrase ? voice * syllable * syllable : 0.0;
    const double floorNoise = 0.003 * rng.Uniform();
    const double l = 0.8 * bedL + 0.55 * speech + floorNoise;
    const double r = 0.8 * bedR + 0.45 * speech + floorNoise;
    pcm[static_cast<size_t>(2 * i)] =
        static_cast<int16_t>(std::lround(std::clamp(l, -1.0, 1.0) * 32767.0));
    pcm[static_cast<size_t>(2 * i + 1)] =
        static_cast<int16_t>(std::lround(std::clamp(r, -1.0, 1.0) * 32767.0));
  }
  return pcm;
}

void Put16(std::ofstream& o, uint16_t v) {
  o.write(reinterpret_cast<const char*>(&v), 2);
}
void Put32(std::ofstream& o, uint32_t v) {
  o.write(reinterpret_cast<const char*>(&v), 4);
}

void WriteWav(const std::string& path, const std::vector<int16_t>& pcm) {
  std::ofstream o(path, std::ios::binary | std::ios::trunc);
  const uint32_t data = static_cast<uint32_t>(pcm.size() * 2);
  o.write("RIFF", 4);
  Put32(o, 36 + data);
  o.write("WAVEfmt ", 8);
  Put32(o, 16);
  Put16(o, 1);
  Put16(o, 2);
  Put32(o, kRate);
  Put32(o, kRate * 4);
  Put16(o, 4);
  Put16(o, 16);
  o.write("data", 4);
  Put32(o, data);
  o.write(reinterpret_cast<const char*>(pcm.data()), data);
}

std::vector<char> ReadWavData(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return all.size() > 44 ? std::vector<char>(all.begin() + 44, all.end()) : std::vector<char>{};
}

// The measurements (each in a child process) -----------------------------------------------

struct Args {
  std::string what, wav, dir;
  int kbps = 128;
  int panning = 0;
};

TMMBitrates BitrateOf(int kbps) {
  for (int i = 0; i <= br320; ++i)
    if (kBitrateTable[i] == kbps) return static_cast<TMMBitrates>(i);
  return br128;
}

std::map<std::string, double> g_out;  // what a child reports, one "key=value" each

// (a) LAME through its own API, set up as our binding sets it up, fed 4096-byte buffers and
// writing every call's output to the file at once, as the encoder stage does.
void RunBareLame(const Args& a) {
  const std::vector<char> data = ReadWavData(a.wav);
  const int frames = kBuffer / 4;
  const int outSize = frames * 2 + frames * 2 / 4 + 7200;
  std::vector<unsigned char> out(static_cast<size_t>(outSize));
  const std::string file = a.dir + "/bare_" + std::to_string(a.kbps) + ".mp3";
  const long rss0 = CurrentRssKb();
  const Clock c = Clock::Now();
  lame_global_flags* gf = lame_init();
  lame_set_in_samplerate(gf, kRate);
  lame_set_out_samplerate(gf, kRate);
  lame_set_num_channels(gf, 2);
  lame_set_mode(gf, STEREO);
  lame_set_brate(gf, a.kbps);
  lame_set_VBR(gf, vbr_off);
  lame_set_bWriteVbrTag(gf, 0);
  lame_set_copyright(gf, 0);
  lame_set_original(gf, 0);
  lame_set_error_protection(gf, 0);
  lame_set_extension(gf, 0);
  if (lame_init_params(gf) < 0) std::exit(2);
  const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) std::exit(2);
  int64_t written = 0;
  const auto put = [&](int n) {
    if (n > 0 && ::write(fd, out.data(), static_cast<size_t>(n)) != n) std::exit(2);
    written += n;
  };
  for (size_t pos = 0; pos + kBuffer <= data.size(); pos += kBuffer) {
    auto* pcm = reinterpret_cast<short*>(const_cast<char*>(data.data() + pos));
    put(lame_encode_buffer_interleaved(gf, pcm, frames, out.data(), outSize));
  }
  put(lame_encode_flush(gf, out.data(), outSize));
  ::close(fd);
  lame_close(gf);
  const Span s = Since(c);
  g_out["wall"] = s.wall;
  g_out["cpu"] = s.cpu;
  g_out["bytes"] = static_cast<double>(written);
  g_out["rss_delta_kb"] = static_cast<double>(CurrentRssKb() - rss0);
}

// Stands in for the chain's encoder when only the device and the wave input are measured.
class NullSink : public TMMDSPComponent {
 public:
  using TMMDSPComponent::TMMDSPComponent;
  bool PublishesOutput() const override { return false; }
  uint64_t bytes = 0;
  void BufferReady(PWaveHdr b) override {
    bytes += b->dwBytesRecorded;
    benchmark::DoNotOptimize(b->lpData[0]);
    TMMDSPComponent::BufferReady(b);
  }
};

// One station: a wave input on simulated device `id`, then either volume and encoder or the
// null sink.
struct Chain {
  TMMWaveIn in;
  TMMVolume volume;
  TMMMP3Encoder encoder;
  NullSink sink;

  Chain(SimCaptureBackend& sim, int id, const Args& a, bool null) : in(nullptr, &sim) {
    in.SetDeviceID(id);
    in.SetBufferSize(kBuffer);
    in.SetMode(mStereo);
    in.SetBitLength(b16Bit);
    in.SetSampleRate(kRate);
    in.SetCallBackMode(cmCallback);
    if (null) {
      in.SetOutput(&sink);
      return;
    }
    volume.SetPanning(a.panning);
    encoder.SetBitrate(BitrateOf(a.kbps));
    encoder.SetFileName(a.dir + "/" + a.what + "_" + std::to_string(a.kbps) + "_" +
                        std::to_string(id) + ".mp3");
    in.SetOutput(&volume);
    volume.SetOutput(&encoder);
  }
};

// (b) and the null sink: `count` chains over the same audio, run one after another or
// interleaved buffer by buffer. The device's WAV is loaded when a chain opens, so opening is
// timed apart as well.
void RunChains(const Args& a, int count, bool interleaved, bool null) {
  const uint64_t total = std::filesystem::file_size(a.wav) - 44;
  const uint64_t steps = total / kBuffer;
  SimDeviceConfig dev;
  dev.signal = SimSignal::WavFile;
  dev.wavPath = a.wav;
  SimCaptureBackend sim(std::vector<SimDeviceConfig>(static_cast<size_t>(count), dev));
  std::vector<std::unique_ptr<Chain>> chains;
  for (int i = 0; i < count; ++i) chains.push_back(std::make_unique<Chain>(sim, i, a, null));

  const long rss0 = CurrentRssKb();
  long rssPeak = 0;
  double openWall = 0;
  const Clock c = Clock::Now();
  const auto run = [&](Chain& ch) {
    const Clock o = Clock::Now();
    ch.in.Start();
    openWall += Since(o).wall;
    return ch.in.Handle();
  };
  const auto finish = [&](Chain& ch) {
    ch.in.Stop();
    ch.in.Close();
  };
  // Resident memory sampled with every chain open and again before the stops, when the
  // encoders have worked through the whole stream.
  const auto sample = [&] { rssPeak = std::max(rssPeak, CurrentRssKb()); };
  if (interleaved) {
    std::vector<HWAVEIN> handles;
    for (auto& ch : chains) handles.push_back(run(*ch));
    sample();
    for (uint64_t s = 0; s < steps; ++s)
      for (HWAVEIN h : handles) sim.Step(h, kBuffer);
    sample();
    for (auto& ch : chains) finish(*ch);
  } else {
    for (auto& ch : chains) {
      const HWAVEIN h = run(*ch);
      for (uint64_t s = 0; s < steps; ++s) sim.Step(h, kBuffer);
      sample();
      finish(*ch);
    }
  }
  const Span s = Since(c);
  uint64_t delivered = 0;
  for (auto& ch : chains)
    delivered += null ? ch->sink.bytes : static_cast<uint64_t>(ch->in.BytesRecorded());
  g_out["wall"] = s.wall;
  g_out["cpu"] = s.cpu;
  g_out["open_wall"] = openWall;
  g_out["delivered"] = static_cast<double>(delivered);
  g_out["rss_delta_kb"] = static_cast<double>(rssPeak - rss0);
}

int Child(const Args& a) {
  int argc = 1;
  char name[] = "bench_mp3";
  char* argv[] = {name, nullptr};
  QCoreApplication app(argc, argv);
  if (a.what == "bare") {
    RunBareLame(a);
  } else {
    if (!BindBladeLibrary()) {
      std::fprintf(stderr, "libmp3lame.so.0 does not load\n");
      return 2;
    }
    // The free-space check before every write answered without a system call: its share.
    if (a.what == "chainnostat")
      SetDiskSpaceQuery([](const std::string&, DiskSpace& out) {
        out.freeBytes = out.totalBytes = 1ull << 40;
        return true;
      });
    const bool null = a.what.rfind("null", 0) == 0;
    const int count = a.what.find('8') != std::string::npos ? kChains : 1;
    const bool interleaved = a.what.find("inter") != std::string::npos;
    RunChains(a, count, interleaved, null);
  }
  g_out["maxrss_kb"] = static_cast<double>(MaxRssKb());
  for (const auto& [k, v] : g_out) std::printf("%s=%.6f\n", k.c_str(), v);
  return 0;
}

// The parent: runs the children and prints the tables ----------------------------------------

std::string g_self;

std::map<std::string, double> Spawn(const Args& a) {
  std::ostringstream cmd;
  cmd << '"' << g_self << "\" --child " << a.what << " --kbps " << a.kbps << " --panning "
      << a.panning << " --wav \"" << a.wav << "\" --dir \"" << a.dir << '"';
  std::map<std::string, double> r;
  FILE* p = popen(cmd.str().c_str(), "r");
  if (!p) return r;
  char line[256];
  while (std::fgets(line, sizeof line, p)) {
    const char* eq = std::strchr(line, '=');
    if (eq) r[std::string(line, static_cast<size_t>(eq - line))] = std::strtod(eq + 1, nullptr);
  }
  if (pclose(p) != 0) r.clear();
  return r;
}

struct Best {
  double wall = 1e30, cpu = 1e30, open = 1e30;
  double maxrss = 0, rssDelta = 0, bytes = 0;
  bool ok = true;
  void Add(const std::map<std::string, double>& r) {
    if (r.empty()) {
      ok = false;
      return;
    }
    wall = std::min(wall, r.at("wall"));
    cpu = std::min(cpu, r.at("cpu"));
    if (r.count("open_wall")) open = std::min(open, r.at("open_wall"));
    maxrss = std::max(maxrss, r.at("maxrss_kb"));
    rssDelta = std::max(rssDelta, r.at("rss_delta_kb"));
    if (r.count("bytes")) bytes = r.at("bytes");
    if (r.count("delivered")) bytes = r.at("delivered");
  }
};

bool SameFile(const std::string& x, const std::string& y) {
  std::ifstream a(x, std::ios::binary), b(y, std::ios::binary);
  std::vector<char> va((std::istreambuf_iterator<char>(a)), std::istreambuf_iterator<char>());
  std::vector<char> vb((std::istreambuf_iterator<char>(b)), std::istreambuf_iterator<char>());
  return !va.empty() && va == vb;
}

int Parent(int seconds, int reps, const std::string& base) {
  char tmpl[4096];
  std::snprintf(tmpl, sizeof tmpl, "%s/bench_mp3.XXXXXX", base.c_str());
  if (!mkdtemp(tmpl)) {
    std::perror("mkdtemp");
    return 1;
  }
  const std::string dir = tmpl;
  const std::string wav = dir + "/programme.wav";
  WriteWav(wav, ProgrammeAudio(seconds));
  const double audio = seconds;
  std::printf(
      "audio: %d s programme-like, 44100 Hz stereo 16-bit, %d-byte buffers; "
      "min of %d runs; cpu = process CPU time\n\n",
      seconds, kBuffer, reps);

  const int rates[] = {64, 128, 320};
  std::printf("One stream\n");
  std::printf("%5s | %-26s | %-26s | %-18s | %7s %7s | %8s | %9s %9s %9s | %s\n", "kbps",
              "(a) bare LAME wall/cpu s", "(b) chain wall/cpu s", "(s) null sink w/c s", "b/a",
              "b/a", "(b-s)/a", "maxrss a", "maxrss b", "maxrss s", "same bytes");
  std::printf("%5s | %-26s | %-26s | %-18s | %7s %7s | %8s | %9s %9s %9s |\n", "", "", "", "",
              "wall", "cpu", "cpu", "MiB", "MiB", "MiB");
  for (int kbps : rates) {
    Best ba, bb, bs;
    for (int r = 0; r < reps; ++r) {  // alternated, so that drift in load hits both alike
      ba.Add(Spawn({"bare", wav, dir, kbps, 0}));
      bb.Add(Spawn({"chain", wav, dir, kbps, 0}));
      bs.Add(Spawn({"null", wav, dir, kbps, 0}));
    }
    if (!ba.ok || !bb.ok || !bs.ok) {
      std::printf("%5d | a child failed\n", kbps);
      continue;
    }
    const bool same = SameFile(dir + "/bare_" + std::to_string(kbps) + ".mp3",
                               dir + "/chain_" + std::to_string(kbps) + "_0.mp3");
    std::printf(
        "%5d | %8.3f / %8.3f (%4.0fx) | %8.3f / %8.3f (%4.0fx) | %7.3f / %7.3f | %7.3f %7.3f | "
        "%8.3f | %9.1f %9.1f %9.1f | %s\n",
        kbps, ba.wall, ba.cpu, audio / ba.wall, bb.wall, bb.cpu, audio / bb.wall, bs.wall, bs.cpu,
        bb.wall / ba.wall, bb.cpu / ba.cpu, (bb.cpu - bs.cpu) / ba.cpu, ba.maxrss / 1024,
        bb.maxrss / 1024, bs.maxrss / 1024, same ? "yes" : "NO");
    std::printf(
        "      | chain open (incl. the device loading its WAV): %.3f s; null-sink open %.3f s\n",
        bb.open, bs.open);
  }

  {
    Best bp, bn;
    for (int r = 0; r < reps; ++r) {
      bp.Add(Spawn({"chainpan", wav, dir, 128, -16384}));
      bn.Add(Spawn({"chainnostat", wav, dir, 128, 0}));
    }
    if (bp.ok)
      std::printf(
          "  128 | chain with Panning -16384 (volume scaling every buffer): %.3f / %.3f s\n",
          bp.wall, bp.cpu);
    if (bn.ok)
      std::printf(
          "  128 | chain without the free-space query (statvfs) before each write: %.3f / %.3f s\n",
          bn.wall, bn.cpu);
  }

  std::printf("\nEight chains on one thread (x real time = %d x %d s / wall)\n", kChains, seconds);
  std::printf("%5s | %-30s | %-30s | %-18s | %10s %10s %10s | %12s %12s\n", "kbps",
              "one after another wall/cpu s", "interleaved wall/cpu s", "8 null sinks w/c s",
              "maxrss seq", "maxrss int", "maxrss nul", "rss+ int", "rss+ nul");
  for (int kbps : rates) {
    Best q, i, n;
    for (int r = 0; r < reps; ++r) {
      q.Add(Spawn({"seq8", wav, dir, kbps, 0}));
      i.Add(Spawn({"inter8", wav, dir, kbps, 0}));
      n.Add(Spawn({"nullinter8", wav, dir, kbps, 0}));
    }
    if (!q.ok || !i.ok || !n.ok) {
      std::printf("%5d | a child failed\n", kbps);
      continue;
    }
    std::printf(
        "%5d | %8.3f / %8.3f (%5.0fx) | %8.3f / %8.3f (%5.0fx) | %7.3f / %7.3f | %8.1fM %8.1fM "
        "%8.1fM | %10.1fM %10.1fM\n",
        kbps, q.wall, q.cpu, kChains * audio / q.wall, i.wall, i.cpu, kChains * audio / i.wall,
        n.wall, n.cpu, q.maxrss / 1024, i.maxrss / 1024, n.maxrss / 1024, i.rssDelta / 1024,
        n.rssDelta / 1024);
    std::printf(
        "      | 8 open encoders add %.1f MiB of RSS over 8 null-sink chains (%.2f MiB "
        "each); per-chain interleaved time %.3f s cpu\n",
        (i.rssDelta - n.rssDelta) / 1024, (i.rssDelta - n.rssDelta) / 1024 / kChains,
        i.cpu / kChains);
  }
  std::filesystem::remove_all(dir);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Args a;
  int seconds = 60, reps = 3;
  std::string base = "/tmp";
  bool child = false;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string k = argv[i], v = argv[i + 1];
    if (k == "--child") {
      child = true;
      a.what = v;
    } else if (k == "--kbps") {
      a.kbps = std::atoi(v.c_str());
    } else if (k == "--panning") {
      a.panning = std::atoi(v.c_str());
    } else if (k == "--wav") {
      a.wav = v;
    } else if (k == "--dir") {
      a.dir = v;
      base = v;
    } else if (k == "--seconds") {
      seconds = std::atoi(v.c_str());
    } else if (k == "--reps") {
      reps = std::atoi(v.c_str());
    }
  }
  if (child) return Child(a);
  g_self = std::filesystem::read_symlink("/proc/self/exe").string();
  return Parent(seconds, reps, base);
}
