#pragma once
// The recorder's slow file work, off the thread that carries every station's audio: backup
// copies, purges, the low-space guard's deletions (jobs, one at a time in the order posted,
// on a thread of their own), and the flushing of the recordings being written to the disk
// every few seconds (on a second thread, so that a long copy never delays it). A job's result
// comes back on the thread that made the worker, as a queued call.

#include <QObject>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "platform/DurableFiles.h"

class FileWorker : public QObject, public DurableFiles {
 public:
  using Job = std::function<void()>;

  // Recordings are flushed every `syncEvery`.
  explicit FileWorker(std::chrono::milliseconds syncEvery = std::chrono::seconds(4));
  // Runs the jobs already posted and flushes the watched files a last time.
  ~FileWorker() override;
  FileWorker(const FileWorker&) = delete;
  FileWorker& operator=(const FileWorker&) = delete;

  // `job` runs on the worker after every job posted before it; then `done`, when given, runs
  // on the worker's own thread (the user-interface thread). Jobs must not touch what that
  // thread owns: they take copies and hand their results to `done`.
  void Post(Job job, Job done = {});
  // Waits until every job posted so far has run, then runs their `done`s here. Nothing else
  // is handled meanwhile (no click, no timer).
  void Drain();
  // Jobs waiting or running.
  size_t Pending();

  void FileCreated(const std::string& path) override;
  void FileClosed(const std::string& path) override;
  // Flushes of watched files so far, and the files watched now.
  uint64_t Syncs();
  size_t Watched();

 protected:
  bool event(QEvent* e) override;

 private:
  void JobLoop();
  void SyncLoop();
  void RunDone();

  std::mutex m_;
  std::condition_variable cv_;
  std::deque<std::pair<Job, Job>> jobs_;
  std::deque<Job> done_;
  bool busy_ = false;
  bool quit_ = false;
  bool wakePending_ = false;

  // The sync thread's share: files by path, with a descriptor of their own.
  struct SyncRequest {
    std::string path;
    int fd;  // >= 0: watch it from now; -1: the file was closed
  };
  const std::chrono::milliseconds syncEvery_;
  std::mutex sm_;
  std::condition_variable scv_;
  std::deque<SyncRequest> requests_;
  std::map<std::string, int> watched_;
  uint64_t syncs_ = 0;
  bool squit_ = false;

  std::thread jobThread_;
  std::thread syncThread_;
};
