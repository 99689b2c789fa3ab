#include "audio/MMThread.h"

#include <algorithm>

#include "platform/Processes.h"

namespace {
std::mutex& ListLock() {
  static std::mutex lock;
  return lock;
}
std::vector<TMMDSPThread*>& List() {
  static std::vector<TMMDSPThread*> list;
  return list;
}

// Linux nice values for the platform priorities; raising is refused without privilege, and
// a refused priority leaves the thread running as it is.
int NiceFor(TThreadPriority p) {
  switch (p) {
    case tpIdle:
      return 19;
    case tpLowest:
      return 10;
    case tpLower:
      return 5;
    case tpNormal:
      return 0;
    case tpHigher:
      return -5;
    case tpHighest:
      return -10;
    case tpTimeCritical:
      return -19;
  }
  return 0;
}
}  // namespace

TMMThreadEx::TMMThreadEx() = default;

TMMThreadEx::~TMMThreadEx() {
  if (thread_.joinable()) {
    if (IsCurrentThread())
      thread_.detach();
    else
      thread_.join();
  }
}

void TMMThreadEx::Resume() {
  if (thread_.joinable() || finished_) return;
  thread_ = std::thread([this] {
    tid_ = CurrentThreadId();
    ApplyPriority();
    Execute();
    finished_ = true;
  });
}

void TMMThreadEx::WaitFor() {
  if (thread_.joinable() && !IsCurrentThread()) thread_.join();
}

void TMMThreadEx::SetPriority(TThreadPriority p) {
  priority_ = p;
  ApplyPriority();
}

void TMMThreadEx::ApplyPriority() {
  const int tid = tid_;
  if (tid != 0) SetThreadNice(tid, NiceFor(priority_));
}

TMMDSPThread::TMMDSPThread(TMMCustomWaveIn* owner) : owner_(owner) {
  std::lock_guard<std::mutex> lk(ListLock());
  List().push_back(this);
}

TMMDSPThread::~TMMDSPThread() {
  std::lock_guard<std::mutex> lk(ListLock());
  List().erase(std::remove(List().begin(), List().end(), this), List().end());
}

std::vector<TMMDSPThread*> TMMDSPThread::Instances() {
  std::lock_guard<std::mutex> lk(ListLock());
  return List();
}
