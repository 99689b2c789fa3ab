#pragma once
// The running processes and their scheduling, as /proc and the scheduler calls show and change
// them; and the thread ids and priorities the stages' threads use.

#include <functional>
#include <string>
#include <vector>

// The fields of one process that the list uses.
struct ProcessRecord {
  int ProcessId = 0;
  // The scheduling priority /proc reports (field 18 of stat), or the class once raised.
  int BasePriority = 0;
  std::string ExeFile;  // may be empty
};

// Receives each record of a walk.
using ProcessSink = std::function<void(const ProcessRecord&)>;
// One walk over the running processes; false when the walk failed, after handing over the
// records read so far.
using ProcessWalk = std::function<bool(const ProcessSink&)>;

// Walks a /proc tree in process-number order. The name is the base name of the executable
// (exe link), else the kernel's command name (comm), which is all that another user's process
// or a kernel thread shows; a process that ends during the walk is left out.
bool WalkProcFs(const std::string& procRoot, const ProcessSink& add);
// The executable name of this process, as the walk lists it.
std::string OwnExecutableName();

// The scheduling calls that a priority change makes, replaceable for tests.
class SchedulerApi {
 public:
  virtual ~SchedulerApi() = default;
  // Thread ids of the process, empty when there is no such process.
  virtual std::vector<int> Threads(int pid) = 0;
  // False when the thread is gone.
  virtual bool GetNice(int tid, int& nice) = 0;
  virtual bool SetRealtime(int tid) = 0;
  virtual bool SetNice(int tid, int nice) = 0;
};
SchedulerApi& LinuxScheduler();

// The kernel's id of the calling thread.
int CurrentThreadId();
// Sets a thread's nice value; false when refused.
bool SetThreadNice(int tid, int nice);
