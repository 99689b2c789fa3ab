#pragma once
// A private PulseAudio daemon for the tests that need a real sound server: one null sink,
// reached through a socket of its own, with pactl against it.

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace pulse_test {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

inline std::string ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// A private PulseAudio daemon with one null sink, reached through a socket of its own; its
// home, runtime and state folders lie in a scratch folder, so it neither meets the user's own
// sound server nor leaves anything behind. Anonymous clients are accepted: no cookie needed.
class PulseDaemon {
 public:
  PulseDaemon() {
    char tmpl[] = "/tmp/mixtest-XXXXXX";  // short: the socket path must fit a sockaddr_un
    if (!mkdtemp(tmpl)) {
      error_ = "no scratch folder";
      return;
    }
    dir_ = tmpl;
    fs::create_directories(dir_ / "home");
    fs::create_directories(dir_ / "run");
    fs::permissions(dir_ / "run", fs::perms::owner_all);
    std::ofstream(dir_ / "default.pa")
        << "load-module module-null-sink sink_name=mixtest rate=44100 channels=2\n"
        << "load-module module-native-protocol-unix auth-anonymous=1 socket="
        << (dir_ / "run" / "native").string() << "\n";
    const std::string home = (dir_ / "home").string(), run = (dir_ / "run").string();
    // Everything the child needs is made before the fork: this process has threads.
    std::vector<std::string> env = {"HOME=" + home, "XDG_CONFIG_HOME=" + home + "/.config",
                                    "XDG_RUNTIME_DIR=" + run, "PULSE_RUNTIME_PATH=" + run,
                                    "PULSE_STATE_PATH=" + home + "/state"};
    if (const char* path = std::getenv("PATH")) env.push_back(std::string("PATH=") + path);
    std::vector<std::string> args = {"pulseaudio",
                                     "--daemonize=no",
                                     "--system=no",
                                     "--exit-idle-time=-1",
                                     "--realtime=no",
                                     "--high-priority=no",
                                     "--use-pid-file=no",
                                     "-n",
                                     "-F",
                                     (dir_ / "default.pa").string(),
                                     "--log-target=stderr"};
    std::vector<char*> argv, envp;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    const int log = open((dir_ / "pulseaudio.log").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    pid_ = fork();
    if (pid_ == 0) {
      dup2(log, 1);
      dup2(log, 2);
      execvpe(argv[0], argv.data(), envp.data());
      _exit(127);
    }
    close(log);
    const auto end = Clock::now() + 30s;
    while (Pactl("info").first != 0) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        break;
      }
      if (Clock::now() > end) break;
      std::this_thread::sleep_for(100ms);
    }
    if (Pactl("info").first != 0)
      error_ = "the PulseAudio daemon did not come up (is pulseaudio installed?):\n" +
               ReadFile(dir_ / "pulseaudio.log");
  }

  ~PulseDaemon() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      const auto end = Clock::now() + 10s;
      int status = 0;
      while (waitpid(pid_, &status, WNOHANG) != pid_) {
        if (Clock::now() > end) {
          kill(pid_, SIGKILL);
          waitpid(pid_, &status, 0);
          break;
        }
        std::this_thread::sleep_for(20ms);
      }
    }
    std::error_code ec;
    if (!dir_.empty()) fs::remove_all(dir_, ec);
  }

  std::string Server() const { return "unix:" + (dir_ / "run" / "native").string(); }
  const std::string& Error() const { return error_; }

  // Exit status and output of a pactl command against this daemon.
  std::pair<int, std::string> Pactl(const std::string& args) const {
    const std::string cmd = "HOME='" + (dir_ / "home").string() + "' PULSE_SERVER='" + Server() +
                            "' pactl " + args + " 2>&1";
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return {-1, {}};
    std::string out;
    char buf[512];
    while (size_t n = fread(buf, 1, sizeof buf, p)) out.append(buf, n);
    const int status = pclose(p);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
  }

 private:
  fs::path dir_;
  pid_t pid_ = -1;
  std::string error_;
};

// The first channel's raw volume in pactl's "Volume: front-left: 32768 /  50% / ..." line.
inline long PactlVolume(const std::string& text) {
  const auto at = text.find("front-left:");
  return at == std::string::npos ? -1 : std::strtol(text.c_str() + at + 11, nullptr, 10);
}

}  // namespace pulse_test

using pulse_test::PactlVolume;
using pulse_test::PulseDaemon;
