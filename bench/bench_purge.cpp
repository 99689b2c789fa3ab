// Retention purge over a full default archive: 8 station folders x 30 days x 144 ten-minute
// segments = 34,560 finished recordings, plus the segment each station is writing (held).
// Times the purge with half, none and all of the archive old, the low-space guard on one full
// folder, and the half purge again on the user-interface thread while eight paced stations
// capture through the window route, checking that no sample is lost meanwhile.
// Plain timer program; the archive lives in a temporary folder under /tmp, removed at the end.
// The recordings hold 16 bytes each: the purge's cost is in the directory and inode work.

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "TestStages.h"
#include "audio/MMWavIn.h"
#include "common/WallClock.h"
#include "platform/FileOps.h"
#include "platform/LockedFile.h"
#include "platform/SimCapture.h"
#include "recorder/Retention.h"

namespace {

using steady = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kStations = 8;
constexpr int kDays = 30;
constexpr int kSegmentsPerDay = 144;
constexpr int kPerStation = kDays * kSegmentsPerDay;

double Seconds(steady::duration d) {
  return std::chrono::duration<double>(d).count();
}

std::string Stamp(WallTime t) {
  const LocalTime l = ToLocal(t);
  char s[16];
  std::snprintf(s, sizeof s, "%02d%02d%02d%02d%02d", l.day % 100, l.month % 100, l.year % 100,
                l.hour % 100, l.minute % 100);
  return s;
}

long MaxRssKiB() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

// One station's archive: segment k runs from now - 30 days + 10k minutes for ten minutes and
// was last modified when it ended, so the newest ended just now.
class Archive {
 public:
  Archive(std::string root, WallTime now) : root_(std::move(root)), now_(now) {}

  std::string Folder(int station) const {
    return JoinPath(root_, "Emissora" + std::to_string(station));
  }
  std::vector<std::string> Folders() const {
    std::vector<std::string> f;
    for (int s = 1; s <= kStations; ++s) f.push_back(Folder(s));
    return f;
  }

  void FillStation(int station) {
    const std::string folder = Folder(station);
    std::filesystem::create_directories(folder);
    const WallTime first = now_ - kDays * 24h;
    for (int k = 0; k < kPerStation; ++k) {
      const WallTime start = first + k * 10min;
      const WallTime end = start + 10min;
      const std::string path = JoinPath(folder, Stamp(start) + "a" + Stamp(end) + ".mp3");
      const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
      if (fd < 0) std::abort();
      if (write(fd, "\xFF\xFB\x90\x64 sixteen bytes", 16) != 16) std::abort();
      const auto ns =
          std::chrono::duration_cast<std::chrono::nanoseconds>(end.time_since_epoch()).count();
      timespec times[2] = {{static_cast<time_t>(ns / 1000000000), ns % 1000000000},
                           {static_cast<time_t>(ns / 1000000000), ns % 1000000000}};
      futimens(fd, times);
      close(fd);
    }
  }

  // Fills every station and opens each station's current segment, as a running recorder has.
  double Fill() {
    const auto t0 = steady::now();
    for (int s = 1; s <= kStations; ++s) FillStation(s);
    held_.clear();
    for (int s = 1; s <= kStations; ++s) {
      held_.push_back(std::make_unique<LockedFile>());
      if (!held_.back()->Create(JoinPath(Folder(s), Stamp(now_) + ".mp3"))) std::abort();
    }
    return Seconds(steady::now() - t0);
  }

  size_t Count() const {
    size_t n = 0;
    for (const std::string& f : Folders()) n += ListFolder(f, "*").size();
    return n;
  }

  void Clear() {
    held_.clear();
    std::filesystem::remove_all(root_);
  }

 private:
  std::string root_;
  WallTime now_;
  std::vector<std::unique_ptr<LockedFile>> held_;
};

struct Scenario {
  const char* what;
  const char* diasRec;
  size_t expectedLeft;  // of 34,560 recordings and 8 held segments
};

struct CaptureResult {
  uint64_t bytes = 0, rampErrors = 0, lost = 0;
  bool continuous = false;
};

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QCoreApplication app(argc, argv);
  const int repeats = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;

  char pattern[] = "/tmp/bench_purge.XXXXXX";
  if (!mkdtemp(pattern)) return 1;
  const WallTime now = WallNow();
  SetWallClock([now] { return now; });  // ages stay exact however long the run takes
  Archive archive(pattern, now);
  const size_t all = size_t{kStations} * kPerStation;
  std::printf(
      "archive: %d stations x %d days x %d segments = %zu recordings of 16 bytes, "
      "+ %d held segments, in %s\n",
      kStations, kDays, kSegmentsPerDay, all, kStations, pattern);

  // Writing the archive takes far longer than purging it, so a purge that deleted nothing
  // leaves it for the next run.
  const Scenario scenarios[] = {
      {"nothing old (DiasRec 31)", "31", all + kStations},
      {"half old (DiasRec 15)", "15", all / 2 + kStations},
      {"everything old (DiasRec 0)", "0", kStations},
  };
  bool full = false;
  double fill = 0;
  for (const Scenario& sc : scenarios) {
    std::vector<double> times;
    size_t left = 0;
    for (int r = 0; r < repeats; ++r) {
      if (!full) {
        archive.Clear();
        fill = archive.Fill();
      }
      const auto t0 = steady::now();
      PurgeOldRecordings(archive.Folders(), sc.diasRec);
      times.push_back(Seconds(steady::now() - t0));
      left = archive.Count();
      full = left == all + kStations;
    }
    std::sort(times.begin(), times.end());
    std::printf(
        "purge, %-28s: median %7.1f ms, min %7.1f ms over %d runs; %zu files left "
        "(expected %zu); last archive written in %.1f s\n",
        sc.what, 1e3 * times[times.size() / 2], 1e3 * times.front(), repeats, left, sc.expectedLeft,
        fill);
  }

  // The low-space guard on one full folder: listing, sorting and one deletion per call.
  {
    archive.Clear();
    archive.FillStation(1);
    const std::string f = archive.Folder(1);
    constexpr int kCalls = 50;
    const auto t0 = steady::now();
    int deleted = 0;
    for (int i = 0; i < kCalls; ++i) deleted += DeleteOldestRecording(f).deleted ? 1 : 0;
    const double per = Seconds(steady::now() - t0) / kCalls;
    // Nothing deletable, yet a full folder: every name is listed, none is examined further.
    for (const FileEntry& e : ListFolder(f, "*.mp3"))
      RenameNoReplace(JoinPath(f, e.name), JoinPath(f, e.name.substr(0, 10) + ".mp3.old"));
    const auto t1 = steady::now();
    bool any = false;
    for (int i = 0; i < kCalls; ++i) any = DeleteOldestRecording(f).deleted || any;
    const double none = Seconds(steady::now() - t1) / kCalls;
    std::printf(
        "guard, folder of %d recordings: %.2f ms a call (%d deleted in %d calls); "
        "folder of %d other files: %.2f ms a call (deleted anything: %s)\n",
        kPerStation, 1e3 * per, deleted, kCalls, kPerStation - kCalls, 1e3 * none,
        any ? "yes" : "no");
  }

  // The half purge on the interface thread while all stations capture through the window route.
  archive.Clear();
  archive.Fill();
  std::vector<SimDeviceConfig> devices(kStations);
  for (int i = 0; i < kStations; ++i) {
    devices[i].name = "Ramp " + std::to_string(i + 1);
    devices[i].signal = SimSignal::Ramp;
    devices[i].paced = true;
  }
  SimCaptureBackend sim(devices);
  std::vector<std::unique_ptr<TMMWaveIn>> inputs;
  std::vector<std::unique_ptr<SinkStage>> sinks;
  for (int i = 0; i < kStations; ++i) {
    inputs.push_back(std::make_unique<TMMWaveIn>(nullptr, &sim));
    sinks.push_back(std::make_unique<SinkStage>());
    TMMWaveIn& w = *inputs.back();
    w.SetDeviceID(i);
    w.SetCallBackMode(cmWindow);
    w.SetBufferSize(4096);
    w.SetMode(mStereo);
    w.SetBitLength(b16Bit);
    w.SetSampleRate(44100);
    sinks.back()->keepBytes = false;
    sinks.back()->checkRamp = true;
    w.SetOutput(sinks.back().get());
  }
  for (auto& w : inputs) w->Start();
  auto pump = [](steady::duration d) {
    const auto end = steady::now() + d;
    while (steady::now() < end) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
  };
  const auto captureStart = steady::now();
  pump(3s);
  const auto p0 = steady::now();
  PurgeOldRecordings(archive.Folders(), "15");
  const double purge = Seconds(steady::now() - p0);
  pump(5s);
  const double captured = Seconds(steady::now() - captureStart);
  std::vector<CaptureResult> results(kStations);
  for (int i = 0; i < kStations; ++i) results[i].lost = sim.LostBytes(inputs[i]->Handle());
  for (auto& w : inputs) {
    w->Stop();
    w->Close();
  }
  const size_t left = archive.Count();
  uint64_t totalErrors = 0, totalLost = 0;
  bool allContinuous = true;
  std::printf(
      "purge during capture, half old: %.1f ms on the interface thread; %zu files left "
      "(expected %zu); %.1f s of capture in all\n",
      1e3 * purge, left, all / 2 + kStations, captured);
  for (int i = 0; i < kStations; ++i) {
    const SinkStage& s = *sinks[i];
    CaptureResult& r = results[i];
    r.bytes = s.total;
    r.rampErrors = s.rampErrors;
    r.continuous = s.total > 0 && s.last == static_cast<uint16_t>(s.total / 2 - 1);
    totalErrors += r.rampErrors;
    totalLost += r.lost;
    allContinuous = allContinuous && r.continuous;
    std::printf(
        "  station %d: %.2f s of audio in %llu buffers, ramp errors %llu, LostBytes %llu, "
        "continuous from the start: %s\n",
        i + 1, static_cast<double>(r.bytes) / 176400.0, static_cast<unsigned long long>(s.buffers),
        static_cast<unsigned long long>(r.rampErrors), static_cast<unsigned long long>(r.lost),
        r.continuous ? "yes" : "no");
  }
  std::printf("capture while purging: %s\n", totalErrors == 0 && totalLost == 0 && allContinuous
                                                 ? "no sample lost"
                                                 : "SAMPLES LOST");
  std::printf("peak resident memory: %ld KiB\n", MaxRssKiB());

  inputs.clear();
  archive.Clear();
  SetWallClock({});
  return 0;
}
