// Process priority: the process list read from /proc, the name search, the priority change
// and its refusals, and the start-up raise. Only the test process itself is ever really
// changed, and it is put back.

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QFile>
#include <QStringList>
#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "recorder/U_Procs.h"

namespace {

namespace fs = std::filesystem;

// Collects the message boxes of the unit.
class MessageCapture {
 public:
  MessageCapture()
      : previous_(SetProcsMessageHook([this](const QString& text) { texts.append(text); })) {}
  ~MessageCapture() { SetProcsMessageHook(previous_); }
  QStringList texts;

 private:
  ProcsMessageHook previous_;
};

// A scheduler with given processes, threads and permissions.
class FakeScheduler : public SchedulerApi {
 public:
  struct Thread {
    int nice = 0;
    bool realtime = false;
  };
  std::map<int, std::vector<int>> processes;  // pid -> tids
  std::map<int, Thread> threads;
  bool realtimeAllowed = false;
  int niceFloor = 0;                // lowest nice value granted
  bool everyProcessExists = false;  // each as one thread at nice 0
  std::vector<int> threadQueries;

  void AddProcess(int pid, const std::vector<std::pair<int, int>>& tidNice) {
    for (const auto& [tid, nice] : tidNice) {
      processes[pid].push_back(tid);
      threads[tid].nice = nice;
    }
  }
  std::vector<int> Threads(int pid) override {
    threadQueries.push_back(pid);
    if (everyProcessExists && pid > 0 && !processes.contains(pid)) AddProcess(pid, {{pid, 0}});
    auto it = processes.find(pid);
    return it == processes.end() ? std::vector<int>{} : it->second;
  }
  bool GetNice(int tid, int& nice) override {
    auto it = threads.find(tid);
    if (it == threads.end()) return false;
    nice = it->second.nice;
    return true;
  }
  bool SetRealtime(int tid) override {
    if (!realtimeAllowed || !threads.contains(tid)) return false;
    threads[tid].realtime = true;
    return true;
  }
  bool SetNice(int tid, int nice) override {
    auto it = threads.find(tid);
    if (it == threads.end() || (nice < niceFloor && nice < it->second.nice)) return false;
    it->second.nice = nice;
    return true;
  }
};

ProcessWalk WalkOf(std::vector<ProcessRecord> records, bool ok = true) {
  return [records = std::move(records), ok](const ProcessSink& add) {
    for (const ProcessRecord& r : records) add(r);
    return ok;
  };
}

std::vector<ProcessRecord> Named(const std::vector<std::string>& names) {
  std::vector<ProcessRecord> records;
  int pid = 1;
  for (const std::string& name : names) records.push_back({pid++ * 10, 20, name});
  return records;
}

QStringList Texts(const ProcessList& list) {
  QStringList texts;
  for (const ProcessList::Entry& e : list.Entries()) texts.append(e.Text);
  return texts;
}

// ---- Reading /proc

TEST(ProcessSnapshot, WindowsFamilyIsTheOneThatSupportsTheOption) {
  EXPECT_EQ(GetWindowsFamily(), "XP");
}

TEST(ProcessSnapshot, ReadsAProcTreeInProcessOrderWithExecutableOrCommandNames) {
  QTemporaryDir root;
  ASSERT_TRUE(root.isValid());
  const fs::path proc = root.path().toStdString();
  struct FakeProcess {
    const char* pid;
    const char* exe;  // link target, nullptr for none (another user's process, kernel thread)
    const char* comm;
    const char* stat;
  };
  const FakeProcess tree[] = {
      {"100", nullptr, "\n", "100 () S 1 100 100 0 -1 0 0 0 0 0 0 0 0 0 25 5 1"},
      {"42", nullptr, "kworker/0:1\n", "42 (kworker/0:1) I 2 0 0 0 -1 0 0 0 0 0 0 0 0 0 0 -20 1"},
      {"9", "/usr/bin/bash", "renamed\n", "9 (renamed) S 1 9 9 0 -1 0 0 0 0 0 0 0 0 0 20 0 1"},
      {"1", "/usr/lib/systemd/systemd", "systemd\n",
       "1 (systemd) S 0 1 1 0 -1 0 0 0 0 0 0 0 0 0 20 0 1"},
      // A replaced executable, and a command name with blanks and parentheses.
      {"7", "/opt/logger/recorder (deleted)", "we) ird\n",
       "7 (we) ird) S 1 7 7 0 -1 0 0 0 0 0 0 0 0 0 -2 0 1"},
  };
  for (const FakeProcess& p : tree) {
    fs::create_directory(proc / p.pid);
    if (p.exe) fs::create_symlink(p.exe, proc / p.pid / "exe");
    std::ofstream(proc / p.pid / "comm") << p.comm;
    std::ofstream(proc / p.pid / "stat") << p.stat << "\n";
  }
  // Not processes.
  fs::create_directory(proc / "sys");
  fs::create_directory(proc / "12ab");
  fs::create_directory_symlink(proc / "1", proc / "self");

  ProcessList list;
  FakeScheduler none;
  list.SetSystem([&](const ProcessSink& add) { return WalkProcFs(proc.string(), add); }, none);
  MessageCapture messages;
  list.Refresh();

  EXPECT_EQ(Texts(list),
            QStringList({"systemd", "recorder", "bash", "kworker/0:1", "< Unknown >"}));
  std::vector<std::pair<int, int>> pidPriority;
  for (const ProcessList::Entry& e : list.Entries())
    pidPriority.emplace_back(e.Object->Process.ProcessId, e.Object->Process.BasePriority);
  EXPECT_EQ(pidPriority,
            (std::vector<std::pair<int, int>>{{1, 20}, {7, -2}, {9, 20}, {42, 0}, {100, 25}}));
  EXPECT_EQ(list.Entries()[4].Object->Process.ExeFile, "");
  EXPECT_EQ(list.Selected(), 0);
  EXPECT_TRUE(messages.texts.isEmpty());
}

TEST(ProcessSnapshot, ListsTheTestProcessByItsExecutableName) {
  EXPECT_EQ(OwnExecutableName(), "test_priority");
  ProcessList list;
  list.Refresh();
  int found = 0;
  for (const ProcessList::Entry& e : list.Entries()) {
    if (e.Object->Process.ProcessId != getpid()) continue;
    ++found;
    EXPECT_EQ(e.Text, "test_priority");
  }
  EXPECT_EQ(found, 1);
}

TEST(ProcessSnapshot, AFailedWalkKeepsWhatWasReadAndShowsItsMessage) {
  struct Case {
    const char* what;
    ProcessWalk walk;
    QStringList expected;
    int selected;
  };
  const Case cases[] = {
      {"no /proc",
       [](const ProcessSink& add) { return WalkProcFs("/nonexistent/proc", add); },
       {},
       -1},
      {"failed part way", WalkOf(Named({"init", "sshd"}), false), {"init", "sshd"}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ProcessList list;
    FakeScheduler none;
    list.SetSystem(c.walk, none);
    MessageCapture messages;
    list.Refresh();
    EXPECT_EQ(Texts(list), c.expected);
    EXPECT_EQ(list.Selected(), c.selected);
    EXPECT_EQ(messages.texts, QStringList{"Um erro ocorreu enquanto a tarefa estava sendo lida."});
  }
}

TEST(ProcessSnapshot, RefreshSelectsTheRememberedPositionAgain) {
  struct Case {
    int before;  // selection before the refresh
    size_t count;
    int after;
  };
  const Case cases[] = {
      {-1, 3, 0},  // nothing selected: the first entry
      {2, 3, 2},
      {2, 2, -1},  // the position is gone
      {-1, 0, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.before);
    ProcessList list;
    FakeScheduler none;
    list.SetSystem(WalkOf(Named({"a", "b", "c"})), none);
    list.Refresh();
    list.Select(c.before);
    std::vector<ProcessRecord> next = Named({"a", "b", "c"});
    next.resize(c.count);
    list.SetSystem(WalkOf(next), none);
    list.Refresh();
    EXPECT_EQ(list.Selected(), c.after);
  }
}

// ---- The search

TEST(ProcessSearch, StartsAfterTheFirstEntryIgnoresCaseAndWraps) {
  const std::vector<std::string> names = {"recorder", "bash", "recorder-helper", "RECORDER", ""};
  struct Case {
    std::vector<std::string> names;
    const char* text;
    int expected;
  };
  const Case cases[] = {
      {names, "recorder", 2},  // a longer name after the first entry comes first
      {names, "Recorder-", 2},
      {names, "bAsH", 1},
      {names, "< unknown", 4},
      {names, "recorder.", -1},
      {names, "", 1},                          // every entry begins with nothing
      {{"alpha", "beta", "gamma"}, "alp", 0},  // the first entry is searched last
      {{"alpha", "beta", "gamma"}, "gam", 2},
      {{"alpha"}, "ALPHA", 0},
      {{}, "alpha", -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    ProcessList list;
    FakeScheduler none;
    list.SetSystem(WalkOf(Named(c.names)), none);
    list.Refresh();
    list.Select(static_cast<int>(c.names.size()) - 1);  // a stale selection must not survive
    list.Search(c.text);
    EXPECT_EQ(list.Selected(), c.expected);
  }
}

// ---- The priority change

TEST(PriorityChange, GrantsTheStrongestSchedulingAllowedOrShowsTheRefusal) {
  struct Case {
    const char* what;
    int pid;
    int priorityClass;
    bool realtimeAllowed;
    int niceFloor;
    int mainNice;
    bool ok;
    bool realtime;
    std::vector<int> nices;  // of threads 500, 501, 502 afterwards
  };
  const Case cases[] = {
      {"real-time granted", 500, 256, true, 0, 0, true, true, {0, 0, -10}},
      {"strongest nice granted", 500, 256, false, -5, 0, true, false, {-5, -5, -10}},
      {"nice already strongest", 500, 256, false, -20, -20, true, false, {-20, -20, -20}},
      {"nothing granted", 500, 256, false, 0, 0, false, false, {0, 0, -10}},
      {"no such process", 777, 256, true, -20, 0, false, false, {0, 0, -10}},
      {"process 0", 0, 256, true, -20, 0, false, false, {0, 0, -10}},
      {"another class", 500, 128, true, -20, 0, false, false, {0, 0, -10}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeScheduler sched;
    sched.realtimeAllowed = c.realtimeAllowed;
    sched.niceFloor = c.niceFloor;
    sched.AddProcess(500, {{500, c.mainNice}, {501, 0}, {502, -10}});
    procObject entry{{c.pid, 8, "recorder"}};
    MessageCapture messages;

    EXPECT_EQ(SetProcessPriorityClass(entry, c.priorityClass, sched), c.ok);

    EXPECT_EQ(entry.Process.BasePriority, c.ok ? 256 : 8);
    EXPECT_EQ(messages.texts,
              c.ok ? QStringList{}
                   : QStringList{"Um erro ocorreu durante o processo de troca de prioridade de "
                                 "processos"});
    for (const int tid : {500, 501, 502}) EXPECT_EQ(sched.threads[tid].realtime, c.realtime);
    EXPECT_EQ((std::vector<int>{sched.threads[500].nice, sched.threads[501].nice,
                                sched.threads[502].nice}),
              c.nices);
    // Process 0 would be the caller itself.
    EXPECT_FALSE(std::count(sched.threadQueries.begin(), sched.threadQueries.end(), 0));
  }
}

TEST(PriorityChange, AProcessThatDoesNotExistIsRefused) {
  std::ifstream pidMax("/proc/sys/kernel/pid_max");
  int missing = 0;
  ASSERT_TRUE(pidMax >> missing);  // process numbers stay below it
  procObject entry{{missing, 8, "ghost"}};
  MessageCapture messages;
  EXPECT_FALSE(SetProcessPriorityClass(entry, REALTIME_PRIORITY_CLASS));
  EXPECT_EQ(messages.texts, QStringList{kPriorityErrorText});
  EXPECT_EQ(entry.Process.BasePriority, 8);
}

// What an unprivileged copy of the test process gets under given limits.
struct ChildOutcome {
  bool ok = false;
  int nice = 0;
  int policy = -1;
  int messages = -1;
  bool limitsSet = false;
};

ChildOutcome RaiseUnprivileged(rlim_t rtprio, rlim_t niceLimit) {
  int fds[2];
  if (pipe(fds) != 0) return {};
  const pid_t child = fork();
  if (child == 0) {
    close(fds[0]);
    const rlimit rt{rtprio, rtprio};
    const rlimit nl{niceLimit, niceLimit};
    ChildOutcome out;
    // Limits first: once the user is dropped they can no longer be raised. Raising a hard
    // limit takes a capability that a container may lack.
    out.limitsSet = setrlimit(RLIMIT_RTPRIO, &rt) == 0 && setrlimit(RLIMIT_NICE, &nl) == 0;
    if (!out.limitsSet) _exit(write(fds[1], &out, sizeof out) == sizeof out ? 0 : 1);
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(1);
    out.messages = 0;
    SetProcsMessageHook([&](const QString& text) {
      if (text == kPriorityErrorText) ++out.messages;
    });
    procObject entry{{getpid(), 0, "test_priority"}};
    out.ok = SetProcessPriorityClass(entry, REALTIME_PRIORITY_CLASS);
    out.nice = getpriority(PRIO_PROCESS, 0);
    out.policy = sched_getscheduler(0);
    const bool written = write(fds[1], &out, sizeof out) == sizeof out;
    _exit(written ? 0 : 1);
  }
  close(fds[1]);
  ChildOutcome out;
  if (child < 0 || read(fds[0], &out, sizeof out) != sizeof out) out = {};
  close(fds[0]);
  if (child > 0) waitpid(child, nullptr, 0);
  return out;
}

TEST(PriorityChange, AnUnprivilegedProcessGetsWhatItsLimitsAllow) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to drop to another user";
  const int startNice = getpriority(PRIO_PROCESS, 0);
  struct Case {
    const char* what;
    rlim_t rtprio;
    rlim_t niceLimit;  // the nice floor is 20 minus this
    bool ok;
    int policy;
    int nice;
  };
  const Case cases[] = {
      {"real-time allowed", 1, 0, true, SCHED_RR, startNice},
      {"nice down to -5 allowed", 0, 25, true, SCHED_OTHER, std::min(startNice, -5)},
      {"nothing allowed", 0, 0, false, SCHED_OTHER, startNice},
  };
  std::string unsupported;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const ChildOutcome out = RaiseUnprivileged(c.rtprio, c.niceLimit);
    if (!out.limitsSet) {
      unsupported += std::string(" ") + c.what + ";";
      continue;
    }
    ASSERT_NE(out.messages, -1) << "the child did not report";
    EXPECT_EQ(out.ok, c.ok);
    EXPECT_EQ(out.policy, c.policy);
    EXPECT_EQ(out.nice, c.nice);
    EXPECT_EQ(out.messages, c.ok ? 0 : 1);
  }
  if (!unsupported.empty()) GTEST_SKIP() << "limits could not be set for:" << unsupported;
}

// Puts every thread of the test process back as it was.
class SchedulingRestorer {
 public:
  struct Saved {
    int policy;
    sched_param param;
    int nice;
  };
  SchedulingRestorer() {
    for (const auto& task : fs::directory_iterator("/proc/self/task")) {
      const int tid = std::stoi(task.path().filename().string());
      Saved s{sched_getscheduler(tid), {}, getpriority(PRIO_PROCESS, static_cast<id_t>(tid))};
      sched_getparam(tid, &s.param);
      saved[tid] = s;
    }
  }
  ~SchedulingRestorer() {
    for (const auto& [tid, s] : saved) {
      sched_setscheduler(tid, s.policy, &s.param);
      setpriority(PRIO_PROCESS, static_cast<id_t>(tid), s.nice);
    }
  }
  std::map<int, Saved> saved;
};

TEST(PriorityChange, RaisesTheTestProcessAsFarAsTheSystemGrants) {
  SchedulingRestorer restore;
  const int originalNice = restore.saved.at(getpid()).nice;
  procObject entry{{getpid(), 20, "test_priority"}};
  MessageCapture messages;

  const bool ok = SetProcessPriorityClass(entry, REALTIME_PRIORITY_CLASS);

  const int policy = sched_getscheduler(getpid());
  const int nice = getpriority(PRIO_PROCESS, 0);
  if (ok) {
    EXPECT_EQ(entry.Process.BasePriority, REALTIME_PRIORITY_CLASS);
    EXPECT_TRUE(messages.texts.isEmpty());
    if (policy == SCHED_RR) {
      RecordProperty("granted", "SCHED_RR");
      sched_param param{};
      sched_getparam(getpid(), &param);
      EXPECT_EQ(param.sched_priority, sched_get_priority_min(SCHED_RR));
      for (const auto& [tid, s] : restore.saved) EXPECT_EQ(sched_getscheduler(tid), SCHED_RR);
    } else {
      RecordProperty("granted", "nice");
      EXPECT_TRUE(nice < originalNice || nice == -20);
    }
  } else {
    RecordProperty("granted", "none");
    EXPECT_EQ(messages.texts, QStringList{kPriorityErrorText});
    EXPECT_EQ(policy, restore.saved.at(getpid()).policy);
    EXPECT_EQ(nice, originalNice);
  }
}

// ---- Raising the selected process and the start-up raise

TEST(PriorityRaise, RaisesTheSelectedEntryThenRefreshes) {
  FakeScheduler sched;
  sched.realtimeAllowed = true;
  sched.AddProcess(20, {{20, 0}});
  int walks = 0;
  const ProcessWalk walk = WalkOf(Named({"init", "recorder", "bash"}));
  ProcessList list;
  list.SetSystem(
      [&](const ProcessSink& add) {
        ++walks;
        return walk(add);
      },
      sched);
  list.Refresh();
  list.Search("rec");

  MessageCapture messages;
  EXPECT_TRUE(list.RaiseSelected());
  EXPECT_TRUE(sched.threads[20].realtime);
  EXPECT_EQ(walks, 2);
  EXPECT_EQ(list.Selected(), 1);
  EXPECT_TRUE(messages.texts.isEmpty());

  list.Search("nothing");
  EXPECT_FALSE(list.RaiseSelected());
  EXPECT_EQ(walks, 2);
  EXPECT_TRUE(messages.texts.isEmpty());
}

TEST(PriorityRaise, StartUpRaisesTheFirstProcessFoundByTheRecorderName) {
  struct Case {
    const char* what;
    std::vector<std::string> names;  // pids 10, 20, 30, ...
    const char* exeName;
    std::set<int> raised;
  };
  const Case cases[] = {
      {"own process", {"systemd", "bash", "recorder"}, "recorder", {30}},
      // A program whose name begins with the recorder's and that comes first wins.
      {"earlier namesake", {"systemd", "recorder-x", "recorder"}, "recorder", {20}},
      {"no match", {"systemd", "bash"}, "recorder", {}},
      {"no name of its own", {"systemd", "bash"}, "", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeScheduler sched;
    sched.realtimeAllowed = true;
    for (int pid = 10; pid <= 10 * static_cast<int>(c.names.size()); pid += 10)
      sched.AddProcess(pid, {{pid, 0}});
    std::vector<std::string> events;
    ProcessList list;
    const ProcessWalk walk = WalkOf(Named(c.names));
    list.SetSystem(
        [&](const ProcessSink& add) {
          events.push_back("walk");
          return walk(add);
        },
        sched);
    MessageCapture messages;

    RaiseRecorderPriority(list, c.exeName, [&] { events.push_back("tick"); });

    std::set<int> raised;
    for (const auto& [tid, t] : sched.threads)
      if (t.realtime) raised.insert(tid);
    EXPECT_EQ(raised, c.raised);
    EXPECT_FALSE(events.empty());
    EXPECT_EQ(events.front(), "tick");
    const bool refusedShown = messages.texts == QStringList{kPriorityErrorText};
    EXPECT_EQ(refusedShown, c.raised.empty());
  }
}

TEST(PriorityRaise, StartUpFindsTheTestProcessInTheRealList) {
  FakeScheduler sched;  // nothing real is changed
  sched.realtimeAllowed = true;
  sched.everyProcessExists = true;
  ProcessList list;
  list.SetSystem([](const ProcessSink& add) { return WalkProcFs("/proc", add); }, sched);
  MessageCapture messages;
  bool ticked = false;

  RaiseRecorderPriority(list, QFile::decodeName(OwnExecutableName().c_str()),
                        [&] { ticked = true; });

  EXPECT_TRUE(ticked);
  EXPECT_TRUE(messages.texts.isEmpty());
  std::vector<int> raised;
  for (const auto& [tid, t] : sched.threads)
    if (t.realtime) raised.push_back(tid);
  ASSERT_EQ(raised.size(), 1u);
  if (raised[0] == getpid()) return;
  // Another run of this program may come first, as the search finds the first namesake.
  std::ifstream comm("/proc/" + std::to_string(raised[0]) + "/comm");
  std::string name;
  if (std::getline(comm, name)) {
    EXPECT_TRUE(name.starts_with("test_priority")) << name;
  }
}

}  // namespace
