#include "platform/Processes.h"

#include <dirent.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <fstream>
#include <sstream>

// ---- Reading /proc

namespace {

bool ParsePid(const char* name, int& pid) {
  if (*name == '\0') return false;
  long value = 0;
  for (const char* p = name; *p; ++p) {
    if (*p < '0' || *p > '9') return false;
    value = value * 10 + (*p - '0');
    if (value > INT_MAX) return false;
  }
  pid = static_cast<int>(value);
  return pid > 0;
}

// Numeric entries of a folder in ascending order; false when the listing failed part way.
bool ListNumbers(const std::string& folder, std::vector<int>& numbers) {
  DIR* dir = opendir(folder.c_str());
  if (!dir) return false;
  bool ok = true;
  for (;;) {
    errno = 0;
    const dirent* e = readdir(dir);
    if (!e) {
      ok = errno == 0;
      break;
    }
    int n = 0;
    if (ParsePid(e->d_name, n)) numbers.push_back(n);
  }
  closedir(dir);
  std::sort(numbers.begin(), numbers.end());
  return ok;
}

std::string ExeBaseName(const std::string& processDir) {
  char target[PATH_MAX];
  const ssize_t n = readlink((processDir + "/exe").c_str(), target, sizeof target);
  if (n > 0) {
    std::string path(target, static_cast<size_t>(n));
    // A replaced or removed executable still names the process.
    const std::string deleted = " (deleted)";
    if (path.size() > deleted.size() && path.ends_with(deleted))
      path.resize(path.size() - deleted.size());
    const size_t slash = path.rfind('/');
    std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    if (!base.empty()) return base;
  }
  std::ifstream comm(processDir + "/comm");
  std::string name;
  std::getline(comm, name);
  return name;
}

int StatPriority(const std::string& processDir) {
  std::ifstream file(processDir + "/stat");
  std::string line;
  std::getline(file, line);
  // The command name in parentheses may hold blanks and parentheses itself.
  const size_t close = line.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream fields(line.substr(close + 1));
  std::string field;
  // Fields from 3 (state) on; the priority is field 18.
  for (int i = 3; i <= 18; ++i)
    if (!(fields >> field)) return 0;
  try {
    return std::stoi(field);
  } catch (const std::exception&) {
    return 0;
  }
}

bool ReadProcess(const std::string& procRoot, int pid, ProcessRecord& record) {
  const std::string dir = procRoot + "/" + std::to_string(pid);
  record.ProcessId = pid;
  record.ExeFile = ExeBaseName(dir);
  record.BasePriority = StatPriority(dir);
  struct stat st;
  return stat(dir.c_str(), &st) == 0;
}

}  // namespace

bool WalkProcFs(const std::string& procRoot, const ProcessSink& add) {
  std::vector<int> pids;
  const bool listed = ListNumbers(procRoot, pids);
  for (const int pid : pids) {
    ProcessRecord record;
    if (ReadProcess(procRoot, pid, record)) add(record);
  }
  return listed;
}

std::string OwnExecutableName() {
  ProcessRecord self;
  ReadProcess("/proc", getpid(), self);
  return self.ExeFile;
}

// ---- Scheduling

namespace {

class LinuxSchedulerApi final : public SchedulerApi {
 public:
  std::vector<int> Threads(int pid) override {
    std::vector<int> tids;
    ListNumbers("/proc/" + std::to_string(pid) + "/task", tids);
    return tids;
  }
  bool GetNice(int tid, int& nice) override {
    errno = 0;
    const int value = getpriority(PRIO_PROCESS, static_cast<id_t>(tid));
    if (value == -1 && errno != 0) return false;
    nice = value;
    return true;
  }
  bool SetRealtime(int tid) override {
    // A thread that already runs real-time keeps its own, perhaps higher, priority.
    const int policy = sched_getscheduler(tid);
    if (policy == SCHED_RR || policy == SCHED_FIFO) return true;
    // The lowest real-time priority: above every ordinary program, below the sound servers
    // that the recorder captures from.
    sched_param param{};
    param.sched_priority = sched_get_priority_min(SCHED_RR);
    return sched_setscheduler(tid, SCHED_RR, &param) == 0;
  }
  bool SetNice(int tid, int nice) override {
    return setpriority(PRIO_PROCESS, static_cast<id_t>(tid), nice) == 0;
  }
};

}  // namespace

SchedulerApi& LinuxScheduler() {
  static LinuxSchedulerApi api;
  return api;
}

int CurrentThreadId() {
  return static_cast<int>(syscall(SYS_gettid));
}

bool SetThreadNice(int tid, int nice) {
  return setpriority(PRIO_PROCESS, static_cast<id_t>(tid), nice) == 0;
}
