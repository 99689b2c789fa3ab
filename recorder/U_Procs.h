#pragma once
// Process priority: the recorder finds its own process in a list of the running processes,
// as a task list would, and raises it. On Linux the list comes from /proc, and the real-time
// class is the strongest scheduling the system grants (see SetProcessPriorityClass).

#include <QDialog>
#include <QString>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/Processes.h"

class QLineEdit;
class QListWidget;

// The only class the recorder asks for.
constexpr int REALTIME_PRIORITY_CLASS = 256;

// "XP" where the priority option is supported, which Linux always is.
std::string GetWindowsFamily();

// One entry of the process list.
struct procObject {
  ProcessRecord Process;
};

// Gives the entry's process the class; the real-time class is SCHED_RR at the lowest real-time
// priority, else the strongest nice value permitted. Every thread of the process is changed,
// as Linux schedules threads one by one. On success the class becomes the entry's base
// priority; on refusal the error message is shown and false returned.
bool SetProcessPriorityClass(procObject& entry, int priorityClass,
                             SchedulerApi& api = LinuxScheduler());

// Message boxes of this unit go through this hook, so that they can be captured without a
// display; the default tells them the program's way (Notifier). Returns the hook it replaces.
using ProcsMessageHook = std::function<void(const QString& text)>;
ProcsMessageHook SetProcsMessageHook(ProcsMessageHook hook);

extern const QString kUnknownProcessName;
extern const QString kSnapshotErrorText;
extern const QString kPriorityErrorText;

// The working store behind TFrmPrioridade: the entries in list order and the selection.
class ProcessList {
 public:
  struct Entry {
    QString Text;
    std::unique_ptr<procObject> Object;
  };

  ProcessList();
  // The process source and the scheduling calls; the real ones unless replaced.
  void SetSystem(ProcessWalk walk, SchedulerApi& api);

  const std::vector<Entry>& Entries() const { return entries_; }
  int Selected() const { return selected_; }
  // An index out of range selects nothing.
  void Select(int index);
  procObject* SelectedObject() const;

  void Refresh();
  void Search(const QString& prefix);
  // Nothing happens, and false is returned, when nothing is selected.
  bool RaiseSelected();

 private:
  std::vector<Entry> entries_;
  int selected_ = -1;
  ProcessWalk walk_;
  SchedulerApi* api_;
};

// Never shown: its list is the working store of the start-up raise and of the priority step.
class TFrmPrioridade : public QDialog {
 public:
  explicit TFrmPrioridade(QWidget* parent = nullptr);

  QLineEdit* EdProcesso;
  QListWidget* ListProcessos;

  ProcessList& Processes() { return processes_; }

  void RefreshProcessList();
  void EdProcessoChange();
  bool RaiseSelectedProcessPriority();

 private:
  void ShowList();
  void ShowSelection();

  ProcessList processes_;
  bool showing_ = false;
};

// What "Prioridade" = "S" does at start-up: ticks the option through tickOption, finds the
// first process whose name begins with the recorder's executable name and raises it. When no
// process matches, the refusal message is shown.
void RaiseRecorderPriority(const std::function<void()>& tickOption);
// The same over a given list and name.
void RaiseRecorderPriority(ProcessList& list, const QString& exeName,
                           const std::function<void()>& tickOption);
