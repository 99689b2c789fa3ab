#include "recorder/U_Procs.h"

#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <utility>

#include "widgets/Notifier.h"

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

// ---- Scheduling

namespace {

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
