#include "platform/FileWorker.h"

#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEvent>
#include <vector>

#include "platform/DiskSpace.h"
#include "platform/FileOps.h"

namespace {
const QEvent::Type kDoneEvent = static_cast<QEvent::Type>(QEvent::registerEventType());
}  // namespace

FileWorker::FileWorker(std::chrono::milliseconds syncEvery) : syncEvery_(syncEvery) {
  jobThread_ = std::thread([this] { JobLoop(); });
  syncThread_ = std::thread([this] { SyncLoop(); });
}

FileWorker::~FileWorker() {
  {
    std::lock_guard<std::mutex> lk(m_);
    quit_ = true;
  }
  cv_.notify_all();
  jobThread_.join();
  {
    std::lock_guard<std::mutex> lk(sm_);
    squit_ = true;
  }
  scv_.notify_all();
  syncThread_.join();
}

void FileWorker::Post(Job job, Job done) {
  {
    std::lock_guard<std::mutex> lk(m_);
    jobs_.emplace_back(std::move(job), std::move(done));
  }
  cv_.notify_all();
}

size_t FileWorker::Pending() {
  std::lock_guard<std::mutex> lk(m_);
  return jobs_.size() + (busy_ ? 1 : 0);
}

void FileWorker::JobLoop() {
  std::unique_lock<std::mutex> lk(m_);
  for (;;) {
    cv_.wait(lk, [this] { return quit_ || !jobs_.empty(); });
    if (jobs_.empty()) break;  // quitting with nothing left
    auto [job, done] = std::move(jobs_.front());
    jobs_.pop_front();
    busy_ = true;
    lk.unlock();
    if (job) job();
    lk.lock();
    busy_ = false;
    if (done) {
      done_.push_back(std::move(done));
      if (!wakePending_) {
        wakePending_ = true;
        QCoreApplication::postEvent(this, new QEvent(kDoneEvent));
      }
    }
    cv_.notify_all();
  }
}

bool FileWorker::event(QEvent* e) {
  // Taken before the event is looked at: the worker made it under this lock, and Qt's own
  // hand-over is not one that race checkers see.
  std::unique_lock<std::mutex> lk(m_);
  if (e->type() != kDoneEvent) {
    lk.unlock();
    return QObject::event(e);
  }
  wakePending_ = false;
  lk.unlock();
  RunDone();
  return true;
}

void FileWorker::RunDone() {
  for (;;) {
    Job done;
    {
      std::lock_guard<std::mutex> lk(m_);
      if (done_.empty()) return;
      done = std::move(done_.front());
      done_.pop_front();
    }
    done();
  }
}

void FileWorker::Drain() {
  // A `done` may post more work: wait until both sides are empty.
  for (;;) {
    {
      std::unique_lock<std::mutex> lk(m_);
      cv_.wait(lk, [this] { return jobs_.empty() && !busy_; });
      if (done_.empty()) return;
    }
    RunDone();
  }
}

void FileWorker::FileCreated(const std::string& path) {
  // A descriptor of our own, opened now while the name is sure to be the file's: the file may
  // be renamed before the sync thread comes to it.
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return;
  {
    std::lock_guard<std::mutex> lk(sm_);
    requests_.push_back({path, fd});
  }
  scv_.notify_all();
}

void FileWorker::FileClosed(const std::string& path) {
  {
    std::lock_guard<std::mutex> lk(sm_);
    requests_.push_back({path, -1});
  }
  scv_.notify_all();
}

uint64_t FileWorker::Syncs() {
  std::lock_guard<std::mutex> lk(sm_);
  return syncs_;
}

size_t FileWorker::Watched() {
  std::lock_guard<std::mutex> lk(sm_);
  return watched_.size();
}

void FileWorker::SyncLoop() {
  using Clock = std::chrono::steady_clock;
  std::unique_lock<std::mutex> lk(sm_);
  Clock::time_point next = Clock::now() + syncEvery_;
  // Reused from round to round: a steady recording costs this thread no allocation.
  std::vector<int> fds;
  fds.reserve(16);  // two files a station at a rotation
  for (;;) {
    scv_.wait_until(lk, next, [this] { return squit_ || !requests_.empty(); });
    while (!requests_.empty()) {
      SyncRequest r = std::move(requests_.front());
      requests_.pop_front();
      lk.unlock();
      if (r.fd >= 0) {
        // The new name must survive a power cut too, or the recovery never sees the file.
        SyncFolder(FolderOf(r.path));
      }
      lk.lock();
      if (r.fd >= 0) {
        auto [it, added] = watched_.emplace(r.path, r.fd);
        if (!added) {  // a file of the same name, created again: the old one is closed
          close(it->second);
          it->second = r.fd;
        }
        continue;
      }
      auto it = watched_.find(r.path);
      if (it == watched_.end()) continue;
      const int fd = it->second;
      lk.unlock();
      fdatasync(fd);
      close(fd);
      lk.lock();
      // Off the list only once flushed: whoever sees it gone sees its last flush counted.
      // Only this thread changes the list, so `it` still stands.
      watched_.erase(it);
      ++syncs_;
    }
    if (Clock::now() >= next || squit_) {
      // Without the lock: a flush may take long on a slow disk, and the interface thread
      // must not wait for it to tell of a new file. Only this thread closes the descriptors.
      fds.clear();
      for (const auto& [path, fd] : watched_) fds.push_back(fd);
      lk.unlock();
      for (int fd : fds) fdatasync(fd);
      lk.lock();
      syncs_ += fds.size();
      next = Clock::now() + syncEvery_;
    }
    if (squit_ && requests_.empty()) break;
  }
  for (auto& [path, fd] : watched_) close(fd);
  watched_.clear();
}
