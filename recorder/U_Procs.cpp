#include "recorder/U_Procs.h"

#include <dirent.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <fstream>
#include <sstream>
#include <utility>

#include "recorder/Notifier.h"

const QString kUnknownProcessName = QStringLiteral("< Unknown >");
const QString kSnapshotErrorText =
    QStringLiteral("Um erro ocorreu enquanto a tarefa estava sendo lida.");
const QString kPriorityErrorText =
    QStringLiteral("Um erro ocorreu durante o processo de troca de prioridade de processos");

std::string GetWindowsFamily() {
  return "XP";
}

// ---- Messages

namespace {

ProcsMessageHook& MessageHook() {
  // The program's one way of telling: never a box that waits where there is no screen.
  static ProcsMessageHook hook = [](const QString& text) { Notifier::Say(text.toStdString()); };
  return hook;
}

void ShowMessage(const QString& text) {
  if (MessageHook()) MessageHook()(text);
}

}  // namespace

ProcsMessageHook SetProcsMessageHook(ProcsMessageHook hook) {
  return std::exchange(MessageHook(), std::move(hook));
}

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

constexpr int kStrongestNice = -20;

bool RaiseToRealtime(int pid, SchedulerApi& api) {
  // Process 0 would mean the caller itself to the scheduling calls.
  if (pid <= 0) return false;
  const std::vector<int> tids = api.Threads(pid);
  if (tids.empty()) return false;
  // The main thread first: whether it is granted tells what the system allows the process.
  if (api.SetRealtime(pid)) {
    for (const int tid : tids)
      if (tid != pid) api.SetRealtime(tid);
    return true;
  }
  int current = 0;
  if (!api.GetNice(pid, current)) return false;
  int granted = current;
  for (int nice = kStrongestNice; nice < current; ++nice) {
    if (api.SetNice(pid, nice)) {
      granted = nice;
      break;
    }
  }
  // Refused, unless there was nothing stronger to give.
  if (granted == current && current > kStrongestNice) return false;
  for (const int tid : tids) {
    int own = 0;
    if (tid != pid && api.GetNice(tid, own) && own > granted) api.SetNice(tid, granted);
  }
  return true;
}

}  // namespace

SchedulerApi& LinuxScheduler() {
  static LinuxSchedulerApi api;
  return api;
}

bool SetProcessPriorityClass(procObject& entry, int priorityClass, SchedulerApi& api) {
  const bool ok =
      priorityClass == REALTIME_PRIORITY_CLASS && RaiseToRealtime(entry.Process.ProcessId, api);
  if (ok)
    entry.Process.BasePriority = priorityClass;
  else
    ShowMessage(kPriorityErrorText);
  return ok;
}

// ---- The list

ProcessList::ProcessList()
    : walk_([](const ProcessSink& add) { return WalkProcFs("/proc", add); }),
      api_(&LinuxScheduler()) {}

void ProcessList::SetSystem(ProcessWalk walk, SchedulerApi& api) {
  walk_ = std::move(walk);
  api_ = &api;
}

void ProcessList::Select(int index) {
  selected_ = index >= 0 && index < static_cast<int>(entries_.size()) ? index : -1;
}

procObject* ProcessList::SelectedObject() const {
  return selected_ < 0 ? nullptr : entries_[static_cast<size_t>(selected_)].Object.get();
}

void ProcessList::Refresh() {
  const int remembered = selected_;
  entries_.clear();
  selected_ = -1;
  const bool ok = walk_([this](const ProcessRecord& record) {
    entries_.push_back(
        {record.ExeFile.empty() ? kUnknownProcessName : QFile::decodeName(record.ExeFile.c_str()),
         std::make_unique<procObject>(procObject{record})});
  });
  if (!ok) ShowMessage(kSnapshotErrorText);
  if (!entries_.empty()) Select(remembered < 0 ? 0 : remembered);
}

void ProcessList::Search(const QString& prefix) {
  selected_ = -1;
  const size_t n = entries_.size();
  // From the second entry on, the first one last.
  for (size_t k = 1; k <= n; ++k) {
    const size_t i = k % n;
    if (entries_[i].Text.startsWith(prefix, Qt::CaseInsensitive)) {
      selected_ = static_cast<int>(i);
      return;
    }
  }
}

bool ProcessList::RaiseSelected() {
  procObject* entry = SelectedObject();
  if (!entry) return false;
  const bool ok = SetProcessPriorityClass(*entry, REALTIME_PRIORITY_CLASS, *api_);
  Refresh();
  return ok;
}

// ---- The window

TFrmPrioridade::TFrmPrioridade(QWidget* parent)
    : QDialog(parent), EdProcesso(new QLineEdit(this)), ListProcessos(new QListWidget(this)) {
  setWindowTitle(QStringLiteral("Processos"));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(EdProcesso);
  layout->addWidget(ListProcessos);
  resize(320, 400);
  connect(EdProcesso, &QLineEdit::textChanged, this, [this] { EdProcessoChange(); });
  connect(ListProcessos, &QListWidget::currentRowChanged, this, [this](int row) {
    if (!showing_) processes_.Select(row);
  });
}

void TFrmPrioridade::RefreshProcessList() {
  processes_.Refresh();
  ShowList();
}

void TFrmPrioridade::EdProcessoChange() {
  processes_.Search(EdProcesso->text());
  ShowSelection();
}

bool TFrmPrioridade::RaiseSelectedProcessPriority() {
  const bool ok = processes_.RaiseSelected();
  ShowList();
  return ok;
}

void TFrmPrioridade::ShowList() {
  showing_ = true;
  ListProcessos->clear();
  for (const ProcessList::Entry& entry : processes_.Entries()) ListProcessos->addItem(entry.Text);
  showing_ = false;
  ShowSelection();
}

void TFrmPrioridade::ShowSelection() {
  showing_ = true;
  ListProcessos->setCurrentRow(processes_.Selected());
  if (processes_.Selected() < 0) ListProcessos->clearSelection();
  showing_ = false;
}

// ---- Start-up

void RaiseRecorderPriority(ProcessList& list, const QString& exeName,
                           const std::function<void()>& tickOption) {
  if (GetWindowsFamily() == "98") return;
  if (tickOption) tickOption();
  list.Refresh();
  // An empty name would match whatever process comes first.
  if (!exeName.isEmpty()) list.Search(exeName);
  if (exeName.isEmpty() || !list.SelectedObject()) {
    ShowMessage(kPriorityErrorText);
    return;
  }
  list.RaiseSelected();
}

void RaiseRecorderPriority(const std::function<void()>& tickOption) {
  ProcessList list;
  RaiseRecorderPriority(list, QFile::decodeName(OwnExecutableName().c_str()), tickOption);
}
