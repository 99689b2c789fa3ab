// The built recorder run as a child process, as an installation runs it: one instance per
// user, the signals that stop it in order, and minutes of recording from real-time inputs
// (null sinks of a private PulseAudio daemon, captured through ALSA's pulse plugin).

#include <alsa/asoundlib.h>
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "Mp3Decode.h"
#include "TestRecordings.h"
#include "platform/AlsaCapture.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr const char* kTitle = "Kravo Tralven Brindavoxel 2009";
constexpr const char* kSecondInstanceMessage =
    "O Sistema \"Kravo Tralven Brindavoxel 2009\" já está ativo";
constexpr int kRate = 44100;

// Files ------------------------------------------------------------------------------------------

std::string ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const fs::path& p, const std::string& text) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out << text;
}

std::vector<std::string> Names(const fs::path& folder) {
  std::vector<std::string> out;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(folder, ec)) out.push_back(e.path().filename());
  std::sort(out.begin(), out.end());
  return out;
}

bool IsFinishedName(const std::string& n) {
  static const std::regex re("[0-9]{10}a[0-9]{10}\\.mp3");
  return std::regex_match(n, re);
}

bool IsRunningName(const std::string& n) {
  static const std::regex re("[0-9]{10}\\.mp3");
  return std::regex_match(n, re);
}

std::vector<std::string> Matching(const fs::path& folder, bool (*pred)(const std::string&)) {
  std::vector<std::string> out;
  for (const auto& n : Names(folder))
    if (pred(n)) out.push_back(n);
  return out;
}

// A scratch folder under /tmp (short: PulseAudio's socket path must fit a sockaddr_un).
class TempDir {
 public:
  TempDir() {
    char tmpl[] = "/tmp/recprog-XXXXXX";
    path_ = mkdtemp(tmpl) ? fs::path(tmpl) : fs::path();
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  const fs::path& Path() const { return path_; }

 private:
  fs::path path_;
};

fs::path MakeDir(const fs::path& p, fs::perms perms = fs::perms::owner_all) {
  fs::create_directories(p);
  fs::permissions(p, perms);
  return p;
}

bool WaitFor(const std::function<bool()>& cond, std::chrono::milliseconds limit) {
  const auto end = Clock::now() + limit;
  while (!cond()) {
    if (Clock::now() > end) return false;
    std::this_thread::sleep_for(100ms);
  }
  return true;
}

// Processes --------------------------------------------------------------------------------------

using Env = std::map<std::string, std::string>;

// What every child starts from: no desktop session, no sound server of the user's, a UTF-8
// locale and this process's time zone (stamps are compared with local time here).
Env BaseEnv() {
  Env env;
  const char* path = std::getenv("PATH");
  env["PATH"] = path ? path : "/usr/local/bin:/usr/bin:/bin";
  env["LC_ALL"] = "C.UTF-8";
  if (const char* tz = std::getenv("TZ")) env["TZ"] = tz;
  return env;
}

// A child process with its output in a file; killed and reaped when the object goes.
class Child {
 public:
  // ownGroup: the child leads a process group of its own, so that killing it also ends what
  // it started (a shell loop and its players).
  // unprivileged: the child may not raise its scheduling at all (no real-time priority, no
  // nice below 0), and runs as "nobody" when the tests run as root.
  Child(const std::vector<std::string>& argv, const Env& env, const fs::path& output,
        bool ownGroup = false, bool unprivileged = false)
      : ownGroup_(ownGroup), output_(output) {
    std::vector<std::string> envText;
    for (const auto& [k, v] : env) envText.push_back(k + "=" + v);
    std::vector<char*> args, envp;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    for (const auto& e : envText) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    const int out = open(output.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    const int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
    pid_ = fork();
    if (pid_ == 0) {
      if (ownGroup) setpgid(0, 0);
      if (unprivileged) {
        const rlimit none{0, 0};
        if (setrlimit(RLIMIT_RTPRIO, &none) != 0 || setrlimit(RLIMIT_NICE, &none) != 0) _exit(126);
        if (geteuid() == 0 &&
            (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0))
          _exit(126);
      }
      dup2(in, 0);
      dup2(out, 1);
      dup2(out, 2);
      execve(args[0], args.data(), envp.data());
      _exit(127);
    }
    if (ownGroup && pid_ > 0) setpgid(pid_, pid_);
    close(out);
    close(in);
  }
  ~Child() { Kill(); }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  pid_t Pid() const { return pid_; }
  bool Started() const { return pid_ > 0; }

  bool Running() {
    Reap(false);
    return pid_ > 0 && !reaped_;
  }

  // True when the child ended within the limit.
  bool WaitExit(std::chrono::milliseconds limit) {
    return WaitFor([this] { return !Running(); }, limit);
  }

  int Status() const { return status_; }
  bool ExitedWith(int code) const {
    return reaped_ && WIFEXITED(status_) && WEXITSTATUS(status_) == code;
  }
  std::string Output() const { return ReadFile(output_); }

  void Signal(int sig) {
    if (pid_ > 0 && !reaped_) kill(ownGroup_ ? -pid_ : pid_, sig);
  }

  void Kill() {
    if (pid_ <= 0 || reaped_) return;
    Signal(SIGKILL);
    Reap(true);
  }

 private:
  void Reap(bool block) {
    if (pid_ <= 0 || reaped_) return;
    if (waitpid(pid_, &status_, block ? 0 : WNOHANG) == pid_) reaped_ = true;
  }

  pid_t pid_ = -1;
  bool ownGroup_;
  bool reaped_ = false;
  int status_ = 0;
  fs::path output_;
};

std::string Which(const std::string& program) {
  std::stringstream path(BaseEnv()["PATH"]);
  std::string dir;
  while (std::getline(path, dir, ':')) {
    const fs::path p = fs::path(dir) / program;
    if (access(p.c_str(), X_OK) == 0) return p;
  }
  return {};
}

// Real-time inputs -------------------------------------------------------------------------------

// A 16-bit stereo WAV of a sine, a whole number of cycles long so that it loops without a click.
void WriteToneWav(const fs::path& p, int hz, int seconds) {
  const uint32_t frames = static_cast<uint32_t>(kRate * seconds);
  const uint32_t dataBytes = frames * 4;
  std::string w;
  auto u32 = [&w](uint32_t v) {
    for (int i = 0; i < 4; ++i) w.push_back(static_cast<char>(v >> (8 * i)));
  };
  auto u16 = [&w](uint16_t v) {
    w.push_back(static_cast<char>(v));
    w.push_back(static_cast<char>(v >> 8));
  };
  w += "RIFF";
  u32(36 + dataBytes);
  w += "WAVEfmt ";
  u32(16);
  u16(1);
  u16(2);
  u32(kRate);
  u32(kRate * 4);
  u16(4);
  u16(16);
  w += "data";
  u32(dataBytes);
  for (uint32_t i = 0; i < frames; ++i) {
    const auto s = static_cast<int16_t>(
        std::lround(0.3 * 32767.0 * std::sin(2.0 * M_PI * hz * static_cast<double>(i) / kRate)));
    u16(static_cast<uint16_t>(s));
    u16(static_cast<uint16_t>(s));
  }
  WriteFile(p, w);
}

// A private PulseAudio daemon with null sinks st1..stN, each fed its own tone in a loop, and an
// asoundrc whose PCMs st1in..stNin capture the sinks' monitors at the real rate.
//
// The daemon runs as whoever runs the tests: --system=no keeps it a per-user daemon even for
// root (which only earns a warning), and HOME, XDG_RUNTIME_DIR and PULSE_RUNTIME_PATH point into
// the scratch folder, so it neither meets the user's own sound server nor leaves anything
// behind. The protocol socket accepts anonymous clients, so no cookie is needed.
class PulseSinks {
 public:
  PulseSinks(const fs::path& dir, const std::vector<int>& toneHz) : dir_(dir), toneHz_(toneHz) {
    home_ = MakeDir(dir / "pulse-home");
    run_ = MakeDir(dir / "pulse-run");
    socket_ = run_ / "native";
    std::string pa;
    std::string rc;
    for (size_t i = 0; i < toneHz.size(); ++i) {
      const std::string n = std::to_string(i + 1);
      pa += "load-module module-null-sink sink_name=st" + n + " rate=44100 channels=2\n";
      rc += "pcm.st" + n + "in {\n  type pulse\n  device \"st" + n +
            ".monitor\"\n  hint {\n    show on\n    description \"Station " + n +
            " input\"\n  }\n}\n";
    }
    // Loaded last: once the socket answers, every sink exists.
    pa += "load-module module-native-protocol-unix auth-anonymous=1 socket=" + socket_.string() +
          "\n";
    WriteFile(dir / "default.pa", pa);
    asoundrc_ = dir / "asoundrc";
    WriteFile(asoundrc_, rc);
    for (size_t i = 0; i < toneHz.size(); ++i)
      WriteToneWav(dir / ("tone" + std::to_string(i + 1) + ".wav"), toneHz[i], 20);
    clientEnv_ = BaseEnv();
    clientEnv_["HOME"] = home_;
    clientEnv_["PULSE_SERVER"] = Server();
    Start();
  }

  ~PulseSinks() { Stop(); }

  // The sound server ends, as when it crashes or is restarted: every capture from it fails.
  void Stop() {
    feeders_.clear();
    if (daemon_) {
      daemon_->Signal(SIGTERM);
      if (!daemon_->WaitExit(10s)) daemon_->Kill();
    }
    daemon_.reset();
  }

  // Starts the daemon, its listeners and the tones; Error() tells what did not come up.
  void Start() {
    error_.clear();
    Env env = BaseEnv();
    env["HOME"] = home_;
    env["XDG_CONFIG_HOME"] = home_ / ".config";
    env["XDG_RUNTIME_DIR"] = run_;
    env["PULSE_RUNTIME_PATH"] = run_;
    env["PULSE_STATE_PATH"] = home_ / "state";
    const std::string pulseaudio = Which("pulseaudio");
    if (pulseaudio.empty()) {
      error_ = "pulseaudio is not installed (scripts/setup.sh installs it)";
      return;
    }
    daemon_ = std::make_unique<Child>(
        std::vector<std::string>{pulseaudio, "--daemonize=no", "--system=no", "--exit-idle-time=-1",
                                 "--realtime=no", "--high-priority=no", "--use-pid-file=no", "-n",
                                 "-F", (dir_ / "default.pa").string(), "--log-target=stderr"},
        env, dir_ / "pulseaudio.log");

    const std::string pactl = Which("pactl");
    const bool up =
        !pactl.empty() && WaitFor(
                              [&] {
                                if (!daemon_->Running()) return false;
                                Child info({pactl, "info"}, clientEnv_, dir_ / "pactl.log");
                                return info.WaitExit(10s) && info.ExitedWith(0);
                              },
                              30s);
    if (!up) {
      error_ = "the PulseAudio daemon did not come up:\n" + ReadFile(dir_ / "pulseaudio.log");
      return;
    }

    // A null sink with no low-latency listener renders up to two seconds ahead, and a capture
    // stream that connects just after such a block never receives it: a listener of its own on
    // every monitor keeps the sink rendering in small blocks, so that the recorder's streams
    // get every moment of the input from the moment they connect.
    const std::string parec = Which("parec");
    for (size_t i = 0; i < toneHz_.size(); ++i) {
      const std::string n = std::to_string(i + 1);
      feeders_.push_back(std::make_unique<Child>(
          std::vector<std::string>{
              "/bin/sh", "-c",
              "exec \"$0\" --device=st" + n + ".monitor --latency-msec=20 --raw >/dev/null", parec},
          clientEnv_, dir_ / ("parec" + n + ".log"), true));
    }

    // Until the listeners are connected the sinks still render in blocks of up to two
    // seconds, and a recorder started meanwhile hears its first audio late: wait for them.
    const auto count = [&](const std::string& what) {
      const fs::path out = dir_ / ("pactl-" + what + ".log");
      fs::remove(out);
      Child list({pactl, "list", "short", what}, clientEnv_, out);
      if (!list.WaitExit(10s)) return -1;
      const std::string text = ReadFile(out);
      return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
    };
    const int want = static_cast<int>(toneHz_.size());
    if (!WaitFor([&] { return count("source-outputs") >= want; }, 30s)) {
      error_ = "the sinks' listeners did not connect";
      return;
    }

    const std::string paplay = Which("paplay");
    for (size_t i = 0; i < toneHz_.size(); ++i) {
      const std::string n = std::to_string(i + 1);
      feeders_.push_back(std::make_unique<Child>(
          std::vector<std::string>{"/bin/sh", "-c",
                                   "while \"$0\" --device=st" + n + " \"$1\"; do :; done", paplay,
                                   (dir_ / ("tone" + n + ".wav")).string()},
          clientEnv_, dir_ / ("paplay" + n + ".log"), true));
    }
    if (!WaitFor([&] { return count("sink-inputs") >= want; }, 30s)) {
      error_ = "the tones did not start playing";
      return;
    }
    std::this_thread::sleep_for(1s);  // the sinks settle into small blocks
  }

  const std::string& Error() const { return error_; }
  std::string Server() const { return "unix:" + socket_.string(); }
  const fs::path& Asoundrc() const { return asoundrc_; }

 private:
  fs::path dir_;
  std::vector<int> toneHz_;
  fs::path home_, run_;
  fs::path socket_;
  fs::path asoundrc_;
  std::string error_;
  Env clientEnv_;
  std::unique_ptr<Child> daemon_;
  std::vector<std::unique_ptr<Child>> feeders_;
};

std::string AlsaConfigPath(const fs::path& asoundrc) {
  return "/usr/share/alsa/alsa.conf:" + asoundrc.string();
}

// The recorder's device number of an ALSA PCM under the given asoundrc: the position the
// recorder's own capture backend gives it (cards first, then the hinted PCMs), read here with
// ALSA's global configuration reloaded for that file.
int DeviceNumber(const fs::path& asoundrc, const std::string& pcm) {
  const char* old = std::getenv("ALSA_CONFIG_PATH");
  const std::string saved = old ? old : "";
  setenv("ALSA_CONFIG_PATH", AlsaConfigPath(asoundrc).c_str(), 1);
  snd_config_update_free_global();
  int found = -1;
  {
    AlsaCaptureBackend backend;
    const auto devices = backend.Devices();
    for (size_t i = 0; i < devices.size(); ++i)
      if (devices[i].pcm == pcm) found = static_cast<int>(i);
  }
  if (old)
    setenv("ALSA_CONFIG_PATH", saved.c_str(), 1);
  else
    unsetenv("ALSA_CONFIG_PATH");
  snd_config_update_free_global();
  return found;
}

// Installation -----------------------------------------------------------------------------------

struct Station {
  fs::path folder;
  int placa = 0;
  std::string copia = "N";
  fs::path backup;  // LocalCopia
};

struct General {
  std::string formato = "8";  // 128 kbit/s
  std::string autoGravar = "S";
  std::string tempoRec = "10";
  std::string prioridade = "N";
};

constexpr int kKbps[] = {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};

std::string CfgIni(const General& g, const std::vector<Station>& stations) {
  std::string s;
  auto line = [&s](const std::string& text) { s += text + "\r\n"; };
  line("[Gravacao]");
  line("Formato=" + g.formato);
  line("[Geral]");
  line("AutoGravar=" + g.autoGravar);
  line("MB Livres=200");
  line("DiasRec=30");
  line("TempoRec=" + g.tempoRec);
  line("Prioridade=" + g.prioridade);
  line("Emissoras=" + std::to_string(stations.size()));
  auto section = [&](const std::string& name, const std::function<std::string(const Station&)>& f) {
    line("[" + name + "]");
    for (size_t i = 0; i < stations.size(); ++i)
      line("R" + std::to_string(i + 1) + "=" + f(stations[i]));
  };
  section("Local", [](const Station& st) { return st.folder.string(); });
  section("Placa", [](const Station& st) { return std::to_string(st.placa); });
  section("Controle", [](const Station&) { return std::string("0"); });
  section("Canal", [](const Station&) { return std::string("2"); });
  section("Copia", [](const Station& st) { return st.copia; });
  section("LocalCopia", [](const Station& st) { return st.backup.string(); });
  section("Emissoras", [](const Station&) { return std::string(); });
  return s;
}

// A self-contained installation: a copy of the built program, with cfg.ini beside it when given.
fs::path Install(const fs::path& folder, const std::optional<std::string>& cfg) {
  fs::create_directories(folder);
  const fs::path program = folder / "recorder";
  fs::copy_file(RECORDER_PATH, program, fs::copy_options::overwrite_existing);
  fs::permissions(program, fs::perms::owner_all, fs::perm_options::add);
  if (cfg) WriteFile(folder / "cfg.ini", *cfg);
  return program;
}

// The environment of a recorder: offscreen, with a runtime folder (and so a single-instance
// lock) of the test's own, and ALSA reading the test's asoundrc.
Env RecorderEnv(const fs::path& dir, const fs::path& asoundrc, const std::string& pulseServer) {
  Env env = BaseEnv();
  env["QT_QPA_PLATFORM"] = "offscreen";
  env["HOME"] = MakeDir(dir / "home");
  env["XDG_RUNTIME_DIR"] = MakeDir(dir / "run");
  env["ALSA_CONFIG_PATH"] = AlsaConfigPath(asoundrc);
  if (!pulseServer.empty()) env["PULSE_SERVER"] = pulseServer;
  return env;
}

fs::path LockFile(const fs::path& dir) {
  return dir / "run" / (std::string(kTitle) + ".lock");
}

// The PID written in a QLockFile's first line, 0 when there is none.
pid_t LockHolder(const fs::path& lock) {
  std::istringstream in(ReadFile(lock));
  long pid = 0;
  in >> pid;
  return static_cast<pid_t>(pid);
}

// Stamps and recordings --------------------------------------------------------------------------

// "ddMMyyHHmm" as local time.
std::time_t StampTime(const std::string& stamp) {
  std::tm t{};
  t.tm_mday = std::stoi(stamp.substr(0, 2));
  t.tm_mon = std::stoi(stamp.substr(2, 2)) - 1;
  t.tm_year = 100 + std::stoi(stamp.substr(4, 2));
  t.tm_hour = std::stoi(stamp.substr(6, 2));
  t.tm_min = std::stoi(stamp.substr(8, 2));
  t.tm_isdst = -1;
  return std::mktime(&t);
}

// The time of a moment truncated to its minute, as a stamp holds it.
std::time_t MinuteOf(std::chrono::system_clock::time_point tp) {
  const std::time_t t = std::chrono::system_clock::to_time_t(tp);
  std::tm l{};
  localtime_r(&t, &l);
  l.tm_sec = 0;
  l.tm_isdst = -1;
  return std::mktime(&l);
}

struct Finished {
  std::string name;
  std::time_t start = 0, end = 0;
};

Finished ParseFinished(const std::string& name) {
  return {name, StampTime(name.substr(0, 10)), StampTime(name.substr(11, 10))};
}

// Walks the frame headers: every frame MPEG-1 layer III at 44100 Hz and the bit rate wanted,
// filling the file exactly. A file cut off inside a frame (not flushed and closed before its
// rename) fails here.
std::string FrameWalk(const std::string& bytes, int kbps) {
  static const int kBitrateTable[] = {0,   32,  40,  48,  56,  64,  80, 96,
                                      112, 128, 160, 192, 224, 256, 320};
  size_t pos = 0;
  size_t frames = 0;
  while (pos < bytes.size()) {
    if (bytes.size() - pos < 4) return "trailing bytes after frame " + std::to_string(frames);
    const auto* h = reinterpret_cast<const unsigned char*>(bytes.data() + pos);
    if (h[0] != 0xFF || (h[1] & 0xFE) != 0xFA)  // sync, MPEG-1, layer III (CRC bit free)
      return "no MPEG-1 layer III header at byte " + std::to_string(pos);
    const int bitrateIndex = h[2] >> 4;
    const int rateIndex = (h[2] >> 2) & 3;
    const int padding = (h[2] >> 1) & 1;
    if (bitrateIndex == 0 || bitrateIndex == 15 || kBitrateTable[bitrateIndex] != kbps)
      return "frame " + std::to_string(frames) + " has bit rate index " +
             std::to_string(bitrateIndex);
    if (rateIndex != 0) return "frame " + std::to_string(frames) + " is not 44100 Hz";
    pos += static_cast<size_t>(144 * kbps * 1000 / kRate + padding);
    ++frames;
  }
  if (pos != bytes.size()) return "last frame cut off";
  if (frames == 0) return "no frame at all";
  return {};
}

// Amplitude (0..1 of full scale) of one frequency in a block of the left channel.
double ToneAmplitude(const std::vector<int16_t>& pcm, size_t firstFrame, size_t frames, int hz) {
  const double w = 2.0 * M_PI * hz / kRate;
  const double k = 2.0 * std::cos(w);
  double s1 = 0.0, s2 = 0.0;
  for (size_t i = 0; i < frames; ++i) {
    const double s0 = pcm[2 * (firstFrame + i)] / 32768.0 + k * s1 - s2;
    s2 = s1;
    s1 = s0;
  }
  const double power = s1 * s1 + s2 * s2 - k * s1 * s2;
  return 2.0 * std::sqrt(std::max(power, 0.0)) / static_cast<double>(frames);
}

// Share of the 100 ms blocks in which the station's own tone is clearly there and the other
// station's is not: a station recording the wrong input, or silence, scores near 0.
double OwnToneShare(const DecodedMp3& d, int ownHz, int otherHz) {
  const size_t block = kRate / 10;  // the tones are whole multiples of 10 Hz
  const size_t frames = d.channels == 2 ? d.pcm.size() / 2 : 0;
  size_t blocks = 0, own = 0;
  for (size_t f = 0; f + block <= frames; f += block) {
    ++blocks;
    const double a = ToneAmplitude(d.pcm, f, block, ownHz);
    const double b = ToneAmplitude(d.pcm, f, block, otherHz);
    if (a > 0.1 && b < a / 10) ++own;
  }
  return blocks ? static_cast<double>(own) / static_cast<double>(blocks) : 0.0;
}

// A finished recording that decodes from its first byte to its last.
void ExpectPlayable(const fs::path& file, int kbps) {
  SCOPED_TRACE(file.string());
  EXPECT_EQ(FrameWalk(ReadFile(file), kbps), "");
  const DecodedMp3 d = DecodeMp3(file);
  ASSERT_TRUE(d.opened);
  EXPECT_TRUE(d.clean);
  EXPECT_EQ(d.rate, kRate);
  EXPECT_EQ(d.channels, 2);
  EXPECT_GT(d.pcm.size(), 0u);
}

// Fixtures ---------------------------------------------------------------------------------------

// A scratch folder and, when asked for, a private PulseAudio daemon with one null sink per
// station. Everything started is ended in teardown, the recorders first.
class ProgramTest : public ::testing::Test {
 protected:
  void StartSinks(const std::vector<int>& toneHz) {
    sinks_ = std::make_unique<PulseSinks>(dir_.Path() / "pulse", toneHz);
    ASSERT_EQ(sinks_->Error(), "");
  }

  // Stations recording from the sinks' monitors, one each, into folders of their own.
  std::vector<Station> SinkStations(size_t count) {
    std::vector<Station> out;
    for (size_t i = 0; i < count; ++i) {
      const std::string n = std::to_string(i + 1);
      Station st;
      st.folder = MakeDir(dir_.Path() / ("station" + n));
      st.placa = DeviceNumber(sinks_->Asoundrc(), "st" + n + "in");
      EXPECT_GE(st.placa, 0) << "st" << n << "in is not among the capture devices";
      out.push_back(st);
    }
    return out;
  }

  Child& Run(const fs::path& program, const std::string& outputName, bool unprivileged = false) {
    // Without sinks ALSA still reads a configuration of the test's own, an empty one.
    if (!sinks_ && !fs::exists(dir_.Path() / "asoundrc")) WriteFile(dir_.Path() / "asoundrc", "");
    Env env = RecorderEnv(dir_.Path(), sinks_ ? sinks_->Asoundrc() : dir_.Path() / "asoundrc",
                          sinks_ ? sinks_->Server() : std::string());
    // Whoever the recorder runs as reaches everything of the test.
    if (unprivileged)
      for (const auto& e : fs::recursive_directory_iterator(dir_.Path()))
        fs::permissions(e.path(), fs::perms::all, fs::perm_options::add);
    if (unprivileged) fs::permissions(dir_.Path(), fs::perms::all, fs::perm_options::add);
    children_.push_back(std::make_unique<Child>(std::vector<std::string>{program.string()}, env,
                                                dir_.Path() / outputName, false, unprivileged));
    EXPECT_TRUE(children_.back()->Started());
    return *children_.back();
  }

  // Waits until every station records into a file of its running name, with audio in it.
  bool WaitRecording(const std::vector<Station>& stations, std::chrono::milliseconds limit) {
    return WaitFor(
        [&] {
          for (const Station& st : stations) {
            const auto running = Matching(st.folder, IsRunningName);
            std::error_code ec;
            if (running.size() != 1 || fs::file_size(st.folder / running[0], ec) < 4096)
              return false;
          }
          return true;
        },
        limit);
  }

  void TearDown() override {
    children_.clear();
    sinks_.reset();
  }

  TempDir dir_;
  std::unique_ptr<PulseSinks> sinks_;
  std::vector<std::unique_ptr<Child>> children_;
};

// One instance per user --------------------------------------------------------------------------

using SingleInstance = ProgramTest;

TEST_F(SingleInstance, SecondCopyIsTurnedAwayAndTheFirstRecordsOn) {
  ASSERT_NO_FATAL_FAILURE(StartSinks({440}));
  const auto stations = SinkStations(1);
  const std::string cfg = CfgIni({}, stations);
  const fs::path first = Install(dir_.Path() / "install", cfg);
  Child& recorder = Run(first, "first.log");
  ASSERT_TRUE(WaitRecording(stations, 60s)) << recorder.Output();
  const auto running = Matching(stations[0].folder, IsRunningName);

  // A copy installed elsewhere, with no cfg.ini: it would write the defaults if it got so far.
  const fs::path other = Install(dir_.Path() / "other", std::nullopt);
  Child& second = Run(other, "second.log");
  ASSERT_TRUE(second.WaitExit(30s));
  EXPECT_TRUE(second.ExitedWith(0)) << second.Status();
  EXPECT_NE(second.Output().find(kSecondInstanceMessage), std::string::npos) << second.Output();
  EXPECT_EQ(Names(dir_.Path() / "other"), std::vector<std::string>{"recorder"});

  // The same installation started again: it must not reopen, rename or recreate the running
  // recording.
  Child& third = Run(first, "third.log");
  ASSERT_TRUE(third.WaitExit(30s));
  EXPECT_TRUE(third.ExitedWith(0)) << third.Status();
  EXPECT_NE(third.Output().find(kSecondInstanceMessage), std::string::npos) << third.Output();
  EXPECT_EQ(ReadFile(dir_.Path() / "install" / "cfg.ini"), cfg);
  EXPECT_EQ(Names(dir_.Path() / "install"), (std::vector<std::string>{"cfg.ini", "recorder"}));
  EXPECT_EQ(Names(stations[0].folder), running);

  // The first keeps recording into the same file.
  ASSERT_TRUE(recorder.Running()) << recorder.Output();
  const auto size = fs::file_size(stations[0].folder / running[0]);
  EXPECT_TRUE(WaitFor([&] { return fs::file_size(stations[0].folder / running[0]) > size; }, 30s));
  EXPECT_EQ(recorder.Output().find(kSecondInstanceMessage), std::string::npos);

  recorder.Signal(SIGTERM);
  ASSERT_TRUE(recorder.WaitExit(60s));
  EXPECT_TRUE(recorder.ExitedWith(0)) << recorder.Status();
}

TEST_F(SingleInstance, LockOfAKilledRecorderDoesNotBlockTheNextStart) {
  Station st;
  st.folder = MakeDir(dir_.Path() / "station1");
  General g;
  g.autoGravar = "N";  // nothing records: only the lock matters here
  const fs::path program = Install(dir_.Path() / "install", CfgIni(g, {st}));
  const fs::path lock = LockFile(dir_.Path());

  Child& crashed = Run(program, "crashed.log");
  ASSERT_TRUE(WaitFor([&] { return LockHolder(lock) == crashed.Pid(); }, 30s)) << crashed.Output();
  crashed.Kill();
  ASSERT_TRUE(fs::exists(lock));  // left behind, as after a crash or power cut

  Child& next = Run(program, "next.log");
  ASSERT_TRUE(WaitFor([&] { return LockHolder(lock) == next.Pid() || !next.Running(); }, 30s));
  EXPECT_TRUE(next.Running()) << next.Output();
  EXPECT_EQ(next.Output().find(kSecondInstanceMessage), std::string::npos) << next.Output();

  next.Signal(SIGTERM);
  ASSERT_TRUE(next.WaitExit(30s));
  EXPECT_TRUE(next.ExitedWith(0)) << next.Status();
  EXPECT_TRUE(Names(st.folder).empty());
}

// Signals end the recording in order -------------------------------------------------------------

class StopSignal : public ProgramTest, public ::testing::WithParamInterface<int> {};

// Two stations recording; station 1 keeps backup copies, station 2 has a backup folder but
// "Copia" "N". After the signal every running segment has its finished name, its start stamp
// unchanged, a complete stream, and station 1's copy beside it in the backup folder.
TEST_P(StopSignal, EveryRunningSegmentIsFinishedBeforeTheProgramEnds) {
  ASSERT_NO_FATAL_FAILURE(StartSinks({440, 1000}));
  auto stations = SinkStations(2);
  stations[0].copia = "S";
  stations[0].backup = MakeDir(dir_.Path() / "backup1");
  stations[1].copia = "N";
  stations[1].backup = MakeDir(dir_.Path() / "backup2");
  const General g;
  const fs::path program = Install(dir_.Path() / "install", CfgIni(g, stations));
  const auto before = std::chrono::system_clock::now();
  Child& recorder = Run(program, "recorder.log");
  ASSERT_TRUE(WaitRecording(stations, 60s)) << recorder.Output();
  std::vector<std::string> running;
  for (const Station& st : stations) running.push_back(Matching(st.folder, IsRunningName).at(0));

  recorder.Signal(GetParam());
  ASSERT_TRUE(recorder.WaitExit(60s)) << "still running after the signal";
  const auto after = std::chrono::system_clock::now();
  EXPECT_TRUE(recorder.ExitedWith(0)) << recorder.Status() << "\n" << recorder.Output();

  for (size_t i = 0; i < stations.size(); ++i) {
    SCOPED_TRACE("station " + std::to_string(i + 1));
    const auto names = Names(stations[i].folder);
    ASSERT_EQ(names.size(), 1u);
    ASSERT_TRUE(IsFinishedName(names[0])) << names[0];
    EXPECT_EQ(names[0].substr(0, 10), running[i].substr(0, 10));
    const Finished f = ParseFinished(names[0]);
    EXPECT_GE(f.start, MinuteOf(before));
    EXPECT_GE(f.end, f.start);
    EXPECT_LE(f.end, MinuteOf(after));
    ExpectPlayable(stations[i].folder / names[0], kKbps[8]);
  }
  EXPECT_EQ(Names(stations[0].backup), Names(stations[0].folder));
  for (const auto& n : Names(stations[0].backup))
    EXPECT_EQ(ReadFile(stations[0].backup / n), ReadFile(stations[0].folder / n)) << n;
  EXPECT_TRUE(Names(stations[1].backup).empty());
}

INSTANTIATE_TEST_SUITE_P(Signals, StopSignal, ::testing::Values(SIGTERM, SIGINT, SIGHUP),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return std::string(sigabbrev_np(info.param));
                         });

// A service started with "Prioridade" "S" by a user who may not raise the priority: the
// refusal is a line on standard error, not a box that would wait for ever before anything
// records, and every station records.
TEST_F(ProgramTest, OffscreenPriorityRefusalIsALineAndRecordingStarts) {
  ASSERT_NO_FATAL_FAILURE(StartSinks({440}));
  const auto stations = SinkStations(1);
  General g;
  g.prioridade = "S";
  const fs::path program = Install(dir_.Path() / "install", CfgIni(g, stations));
  Child& recorder = Run(program, "recorder.log", true);
  ASSERT_TRUE(WaitRecording(stations, 60s)) << recorder.Output();
  EXPECT_NE(recorder.Output().find(
                "Um erro ocorreu durante o processo de troca de prioridade de processos"),
            std::string::npos)
      << recorder.Output();
  recorder.Signal(SIGTERM);
  ASSERT_TRUE(recorder.WaitExit(60s));
  EXPECT_TRUE(recorder.ExitedWith(0)) << recorder.Status() << "\n" << recorder.Output();
  const auto names = Names(stations[0].folder);
  ASSERT_EQ(names.size(), 1u);
  EXPECT_TRUE(IsFinishedName(names[0])) << names[0];
  ExpectPlayable(stations[0].folder / names[0], kKbps[8]);
}

// The sound server a station records from ends and comes back, as a USB card pulled and
// plugged in again: the recorder tells once that the device failed, reopens it by itself, tells
// that it is back, and records on into the same segment; no station stops.
TEST_F(ProgramTest, DeviceLostAndBackOnTheRealPath) {
  ASSERT_NO_FATAL_FAILURE(StartSinks({440}));
  const auto stations = SinkStations(1);
  const fs::path program = Install(dir_.Path() / "install", CfgIni({}, stations));
  Child& recorder = Run(program, "recorder.log");
  ASSERT_TRUE(WaitRecording(stations, 60s)) << recorder.Output();
  const auto running = Matching(stations[0].folder, IsRunningName);
  std::this_thread::sleep_for(2s);

  sinks_->Stop();
  ASSERT_TRUE(
      WaitFor([&] { return recorder.Output().find("desconectado") != std::string::npos; }, 20s))
      << recorder.Output();
  std::this_thread::sleep_for(2s);
  sinks_->Start();
  ASSERT_EQ(sinks_->Error(), "");
  ASSERT_TRUE(WaitFor([&] { return recorder.Output().find("voltou") != std::string::npos; }, 20s))
      << recorder.Output();
  const auto size = fs::file_size(stations[0].folder / running.at(0));
  ASSERT_TRUE(WaitFor([&] { return fs::file_size(stations[0].folder / running[0]) > size + 16000; },
                      20s));  // a second of audio more in the same file

  recorder.Signal(SIGTERM);
  ASSERT_TRUE(recorder.WaitExit(60s));
  EXPECT_TRUE(recorder.ExitedWith(0)) << recorder.Status();
  const std::string out = recorder.Output();
  const auto occurrences = [&out](const std::string& what) {
    size_t n = 0;
    for (size_t at = out.find(what); at != std::string::npos; at = out.find(what, at + 1)) ++n;
    return n;
  };
  std::printf("%s", out.c_str());  // the reports, as the journal gets them
  EXPECT_EQ(occurrences("desconectado"), 1u) << out;
  EXPECT_EQ(occurrences("voltou"), 1u) << out;
  const auto names = Names(stations[0].folder);
  ASSERT_EQ(names.size(), 1u);
  EXPECT_EQ(names[0].substr(0, 10), running[0].substr(0, 10));
  ExpectPlayable(stations[0].folder / names[0], kKbps[8]);
}

// The built player on a real X server (Xvfb), clicked as a user would: "Play" with the calendar
// at today and the hour and minute at 00:00 plays today's 00:00 recording into ALSA's default
// device — here a file PCM that writes a WAV — and what reaches it is the recording's own
// audio from its start, sample for sample.
TEST_F(ProgramTest, PlayerPlaysTheChosenRecordingIntoTheOutput) {
  const std::string xvfb = Which("Xvfb"), xdotool = Which("xdotool");
  ASSERT_FALSE(xvfb.empty() || xdotool.empty()) << "Xvfb and xdotool (scripts/setup.sh)";
  const fs::path install = MakeDir(dir_.Path() / "player");
  const fs::path program = install / "player";
  fs::copy_file(PLAYER_PATH, program);
  const fs::path folder = MakeDir(dir_.Path() / "recordings");
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char day[8];
  std::strftime(day, sizeof day, "%d%m%y", &local);
  const std::string name = std::string(day) + "0000a" + day + "0001.mp3";
  WriteRecording(folder / name, 1);
  WriteFile(install / "cfg.ini",
            "[Geral]\r\nEmissoras=1\r\n[LocalPlay]\r\nR1=" + folder.string() + "\r\n");
  const fs::path tap = dir_.Path() / "tap.wav";
  WriteFile(dir_.Path() / "asoundrc",
            "pcm.!default {\n  type file\n  slave.pcm \"null\"\n  file \"" + tap.string() +
                "\"\n  format \"wav\"\n}\n");

  const std::string display = ":" + std::to_string(100 + getpid() % 800);
  Child server({xvfb, display, "-screen", "0", "800x640x24", "-nolisten", "tcp"}, BaseEnv(),
               dir_.Path() / "xvfb.log");
  Env env = BaseEnv();
  env["DISPLAY"] = display;
  env["QT_QPA_PLATFORM"] = "xcb";
  env["HOME"] = MakeDir(dir_.Path() / "home");
  env["XDG_RUNTIME_DIR"] = MakeDir(dir_.Path() / "run");
  env["ALSA_CONFIG_PATH"] = AlsaConfigPath(dir_.Path() / "asoundrc");
  std::unique_ptr<Child> player;
  std::string window;
  ASSERT_TRUE(WaitFor(
      [&] {
        if (!player)
          player = std::make_unique<Child>(std::vector<std::string>{program.string()}, env,
                                           dir_.Path() / "player.log");
        fs::remove(dir_.Path() / "xdo.log");
        Child find({xdotool, "search", "--onlyvisible", "--name", "Sorvantelique"}, env,
                   dir_.Path() / "xdo.log");
        if (!find.WaitExit(10s) || !find.ExitedWith(0)) return false;
        std::istringstream ids(ReadFile(dir_.Path() / "xdo.log"));
        return static_cast<bool>(ids >> window);
      },
      30s))
      << ReadFile(dir_.Path() / "player.log") << ReadFile(dir_.Path() / "xvfb.log");
  // "Play" sits at (16, 446), 112 x 36, in the window; clicked until the output opens (a
  // window just mapped may not take the first click yet).
  ASSERT_TRUE(WaitFor(
      [&] {
        Child click({xdotool, "mousemove", "--window", window, "72", "464", "click", "1"}, env,
                    dir_.Path() / "click.log");
        click.WaitExit(10s);
        return WaitFor([&] { return fs::exists(tap); }, 2s);
      },
      30s))
      << ReadFile(dir_.Path() / "player.log");
  const DecodedMp3 file = DecodeMp3((folder / name).string());
  ASSERT_TRUE(file.clean);
  const size_t want = file.pcm.size() * sizeof(int16_t);
  // The file PCM is not paced: the recording plays out at once.
  WaitFor([&] { return fs::exists(tap) && fs::file_size(tap) >= want + 44; }, 30s);
  player->Signal(SIGTERM);
  ASSERT_TRUE(player->WaitExit(10s));
  const std::string wav = ReadFile(tap);
  const size_t data = wav.find("data");
  ASSERT_NE(data, std::string::npos) << "no WAV written: " << ReadFile(dir_.Path() / "player.log");
  const std::string pcm = wav.substr(data + 8);
  std::printf("player: %zu bytes at the output for a recording of %zu decoded bytes\n", pcm.size(),
              want);
  ASSERT_GE(pcm.size(), want);
  EXPECT_EQ(std::memcmp(pcm.data(), file.pcm.data(), want), 0)
      << "the output is not the recording's own audio";
}

TEST_F(ProgramTest, TermWhileIdleEndsWithoutWritingAnything) {
  Station st;
  st.folder = MakeDir(dir_.Path() / "station1");
  General g;
  g.autoGravar = "N";
  const fs::path program = Install(dir_.Path() / "install", CfgIni(g, {st}));
  Child& recorder = Run(program, "recorder.log");
  ASSERT_TRUE(WaitFor([&] { return LockHolder(LockFile(dir_.Path())) == recorder.Pid(); }, 30s))
      << recorder.Output();
  recorder.Signal(SIGTERM);
  ASSERT_TRUE(recorder.WaitExit(30s));
  EXPECT_TRUE(recorder.ExitedWith(0)) << recorder.Status();
  EXPECT_TRUE(Names(st.folder).empty());
  EXPECT_FALSE(fs::exists(LockFile(dir_.Path())));  // released on the way out
}

// End to end: two minutes of real-time recording -------------------------------------------------

// Two stations, one-minute segments, started by the automatic start; stopped by SIGTERM a
// little after the second rotation. Each station holds exactly two finished recordings of about
// a minute and a shorter one, named in a chain of stamps, each a complete stream of its own
// station's input; station 1's backup folder holds the same files.
TEST_F(ProgramTest, EndToEndTwoStationsOneMinuteSegments) {
  const int toneHz[] = {440, 1000};
  ASSERT_NO_FATAL_FAILURE(StartSinks({toneHz[0], toneHz[1]}));
  auto stations = SinkStations(2);
  stations[0].copia = "S";
  stations[0].backup = MakeDir(dir_.Path() / "backup1");
  General g;
  g.tempoRec = "1";
  const fs::path program = Install(dir_.Path() / "install", CfgIni(g, stations));
  const auto before = std::chrono::system_clock::now();
  Child& recorder = Run(program, "recorder.log");

  // The recording begins when station 1's first file appears: looked for every 2 ms.
  const auto giveUp = Clock::now() + 60s;
  while (Matching(stations[0].folder, IsRunningName).empty() && Clock::now() < giveUp)
    std::this_thread::sleep_for(2ms);
  const auto began = Clock::now();

  // Two rotations (about 121 s), then about ten seconds into the third segment.
  const bool rotatedTwice = WaitFor(
      [&] {
        for (const Station& st : stations)
          if (Matching(st.folder, IsFinishedName).size() < 2) return false;
        return true;
      },
      300s);
  ASSERT_TRUE(rotatedTwice) << recorder.Output();
  ASSERT_TRUE(WaitRecording(stations, 30s));
  std::this_thread::sleep_for(10s);
  const auto ended = Clock::now();
  recorder.Signal(SIGTERM);
  ASSERT_TRUE(recorder.WaitExit(60s));
  const double wallSeconds = std::chrono::duration<double>(ended - began).count();
  const auto after = std::chrono::system_clock::now();
  EXPECT_TRUE(recorder.ExitedWith(0)) << recorder.Status() << "\n" << recorder.Output();

  const auto names = Names(stations[0].folder);
  EXPECT_EQ(Names(stations[1].folder), names);         // all stations rotate together
  std::map<std::string, std::vector<double>> seconds;  // per name, per station
  for (size_t i = 0; i < stations.size(); ++i) {
    SCOPED_TRACE("station " + std::to_string(i + 1));
    const auto here = Names(stations[i].folder);
    ASSERT_EQ(here.size(), 3u);
    std::vector<Finished> files;
    for (const auto& n : here) {
      ASSERT_TRUE(IsFinishedName(n)) << n;
      files.push_back(ParseFinished(n));
    }
    std::sort(files.begin(), files.end(),
              [](const Finished& a, const Finished& b) { return a.start < b.start; });
    double total = 0;
    EXPECT_GE(files.front().start, MinuteOf(before));
    EXPECT_LE(files.back().end, MinuteOf(after));
    for (size_t k = 0; k < files.size(); ++k) {
      SCOPED_TRACE(files[k].name);
      EXPECT_GE(files[k].end, files[k].start);
      if (k + 1 < files.size()) {
        // A full segment spans one minute boundary, or two when it began just before one.
        EXPECT_GE(files[k].end - files[k].start, 60);
        EXPECT_LE(files[k].end - files[k].start, 120);
        // The next segment starts when this one ends (the same minute, or the next when the
        // gap between stop and start crosses a minute boundary).
        EXPECT_GE(files[k + 1].start, files[k].end);
        EXPECT_LE(files[k + 1].start - files[k].end, 60);
      }
      const fs::path file = stations[i].folder / files[k].name;
      ExpectPlayable(file, kKbps[8]);
      const DecodedMp3 d = DecodeMp3(file);
      const double share = OwnToneShare(d, toneHz[i], toneHz[1 - i]);
      std::printf("station %zu: %s, %.2f s, own tone in %.0f %% of blocks\n", i + 1,
                  files[k].name.c_str(), d.Seconds(), 100 * share);
      seconds[files[k].name].push_back(d.Seconds());
      total += d.Seconds();
      if (k + 1 < files.size()) {
        // A full segment holds its whole minute: the capture runs through the rotations. The
        // encoder's delay and last frame's padding add at most 0.05 s. The first one's minute
        // is timed from the start button, a little before the devices deliver their first
        // audio (0.1 s seen under the sanitizers); the total below shows nothing is lost.
        EXPECT_GE(d.Seconds(), k == 0 ? 59.5 : 59.9);
        EXPECT_LT(d.Seconds(), 60.2);
      } else {
        EXPECT_GT(d.Seconds(), 0.0);
        EXPECT_LT(d.Seconds(), 50.0);
      }
      EXPECT_GT(share, 0.5);
    }
    // Nothing lost anywhere: the station's files together last as long as it recorded.
    std::printf("station %zu: %.3f s decoded in %zu files, %.3f s recorded by the clock\n", i + 1,
                total, files.size(), wallSeconds);
    EXPECT_NEAR(total, wallSeconds, 0.2);
  }
  // The stations start and stop together, so they hold the same stretch of time.
  for (const auto& [name, perStation] : seconds) {
    if (perStation.size() == 2) {
      EXPECT_NEAR(perStation[0], perStation[1], 1.0) << name;
    }
  }
  EXPECT_EQ(Names(stations[0].backup), names);
  for (const auto& n : Names(stations[0].backup))
    EXPECT_EQ(ReadFile(stations[0].backup / n), ReadFile(stations[0].folder / n)) << n;
}

}  // namespace
