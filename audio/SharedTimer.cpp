#include "audio/SharedTimer.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

struct SharedTimerClient {
  int32_t Interval;
  void* Owner;
  SharedTimer::Callback Callback;
  int32_t SuspendCount;
  int32_t Elapsed;
  SharedTimerClient* Next;
};

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kTick = std::chrono::milliseconds(SharedTimer::kTickMs);

struct State {
  // Serialises the thread's start and stop (Register of the first, Unregister of the last).
  std::mutex life;
  // Guards the clients; the timer thread holds it while it serves them, and takes it again
  // when a callback suspends or resumes a client.
  std::recursive_mutex lock;
  SharedTimerClient* head = nullptr;
  int32_t count = 0;
  std::atomic<int> busy{0};
  std::atomic<uint64_t> dropped{0};
  std::atomic<uint64_t> started{0};

  std::thread thread;
  std::mutex stopLock;
  std::condition_variable stopCv;
  bool stop = false;

  ~State() { StopThread(); }

  bool StartThread() {
    {
      std::lock_guard<std::mutex> lk(stopLock);
      stop = false;
    }
    try {
      thread = std::thread([this] { Run(); });
    } catch (...) {
      return false;
    }
    ++started;
    return true;
  }

  void StopThread() {
    if (!thread.joinable()) return;
    {
      std::lock_guard<std::mutex> lk(stopLock);
      stop = true;
    }
    stopCv.notify_all();
    thread.join();
  }

  // Ticks on deadlines 25 ms apart; deadlines passed while a tick ran are dropped, not
  // made up in a burst.
  void Run() {
    auto next = Clock::now() + kTick;
    std::unique_lock<std::mutex> lk(stopLock);
    for (;;) {
      if (stopCv.wait_until(lk, next, [this] { return stop; })) return;
      lk.unlock();
      SharedTimer::Tick();
      lk.lock();
      next += kTick;
      const auto now = Clock::now();
      if (now >= next) {
        const auto missed = (now - next) / kTick + 1;
        dropped += static_cast<uint64_t>(missed);
        next += missed * kTick;
      }
    }
  }
};

State& S() {
  static State state;
  return state;
}

}  // namespace

SharedTimerClient* SharedTimer::Register(int32_t interval, Callback callback, void* owner) {
  State& s = S();
  std::lock_guard<std::mutex> life(s.life);
  {
    std::lock_guard<std::recursive_mutex> lk(s.lock);
    ++s.count;
  }
  if (s.count == 1 && !s.StartThread()) {
    std::lock_guard<std::recursive_mutex> lk(s.lock);
    s.count = 0;
    return nullptr;
  }
  auto* c =
      new SharedTimerClient{std::max(interval, kTickMs), owner, std::move(callback), 0, 0, nullptr};
  std::lock_guard<std::recursive_mutex> lk(s.lock);
  SharedTimerClient** p = &s.head;
  while (*p) p = &(*p)->Next;
  *p = c;
  return c;
}

void SharedTimer::Suspend(SharedTimerClient* client) {
  State& s = S();
  if (!client) return;
  std::lock_guard<std::recursive_mutex> lk(s.lock);
  if (s.count == 0) return;
  ++client->SuspendCount;
  client->Elapsed = 0;
}

void SharedTimer::Resume(SharedTimerClient* client) {
  State& s = S();
  if (!client) return;
  std::lock_guard<std::recursive_mutex> lk(s.lock);
  if (s.count == 0) return;
  if (client->SuspendCount > 0) --client->SuspendCount;
}

void SharedTimer::Unregister(SharedTimerClient* client) {
  State& s = S();
  if (!client) return;
  std::lock_guard<std::mutex> life(s.life);
  bool last = false;
  {
    std::lock_guard<std::recursive_mutex> lk(s.lock);
    if (s.count == 0) return;
    SharedTimerClient** p = &s.head;
    while (*p && *p != client) p = &(*p)->Next;
    if (!*p) return;  // not ours: nothing changes
    *p = client->Next;
    delete client;
    last = --s.count == 0;
  }
  // Outside the lock: the thread may be waiting for it in a tick.
  if (last) s.StopThread();
}

void SharedTimer::Tick() {
  State& s = S();
  if (s.busy.fetch_add(1) == 0) {
    std::lock_guard<std::recursive_mutex> lk(s.lock);
    for (SharedTimerClient* c = s.head; c; c = c->Next) {
      if (c->SuspendCount != 0) continue;
      c->Elapsed += kTickMs;
      if (c->Elapsed >= c->Interval) {
        if (c->Callback) c->Callback(c, c->Owner);
        c->Elapsed = 0;
      }
    }
  } else {
    ++s.dropped;
  }
  --s.busy;
}

bool SharedTimer::Running() {
  State& s = S();
  std::lock_guard<std::mutex> life(s.life);
  return s.thread.joinable();
}

uint64_t SharedTimer::ThreadsStarted() {
  return S().started;
}
uint64_t SharedTimer::DroppedTicks() {
  return S().dropped;
}

int32_t SharedTimer::ClientCount() {
  State& s = S();
  std::lock_guard<std::recursive_mutex> lk(s.lock);
  return s.count;
}

int32_t SharedTimer::IntervalOf(const SharedTimerClient* client) {
  return client ? client->Interval : 0;
}

int32_t SharedTimer::SuspendCountOf(const SharedTimerClient* client) {
  State& s = S();
  std::lock_guard<std::recursive_mutex> lk(s.lock);
  return client ? client->SuspendCount : 0;
}
