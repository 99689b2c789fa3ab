#pragma once
// Threads of the stages: created suspended, run Execute once resumed, with a priority of the
// platform's thread scale, and listed process-wide while they live.

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

enum TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

class TMMThreadEx {
 public:
  TMMThreadEx();  // created suspended
  virtual ~TMMThreadEx();
  TMMThreadEx(const TMMThreadEx&) = delete;
  TMMThreadEx& operator=(const TMMThreadEx&) = delete;

  void Resume();
  void Terminate() { terminated_ = true; }
  bool Terminated() const { return terminated_; }
  // Waits until Execute has returned (no-op for a thread never resumed).
  void WaitFor();
  bool Finished() const { return finished_; }
  bool IsCurrentThread() const { return thread_.get_id() == std::this_thread::get_id(); }

  TThreadPriority Priority() const { return priority_; }
  // Applies at once to a running thread.
  void SetPriority(TThreadPriority p);

 protected:
  virtual void Execute() = 0;

 private:
  void ApplyPriority();

  std::thread thread_;
  std::atomic<bool> terminated_{false};
  std::atomic<bool> finished_{false};
  std::atomic<TThreadPriority> priority_{tpNormal};
  std::atomic<int> tid_{0};
};

class TMMCustomWaveIn;

class TMMDSPThread : public TMMThreadEx {
 public:
  explicit TMMDSPThread(TMMCustomWaveIn* owner);
  ~TMMDSPThread() override;
  TMMCustomWaveIn* Owner() const { return owner_; }

  // Every live instance.
  static std::vector<TMMDSPThread*> Instances();

 private:
  TMMCustomWaveIn* const owner_;
};
