// The shared 25 ms timer: intervals, nested suspension, the thread's life, dropped overlapping
// ticks, and calls with missing or foreign clients. The timer's own thread ticks alongside the
// test, so the cases count "served ticks" with an observer client registered first (it runs
// first in every served tick, whoever calls Tick) and script changes from inside callbacks.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "audio/SharedTimer.h"

namespace {

using namespace std::chrono_literals;

// Keeps ticking by hand until `done`; the guard only stops a hang.
template <typename Done>
bool TickUntil(Done done) {
  const auto limit = std::chrono::steady_clock::now() + 5s;
  while (!done()) {
    if (std::chrono::steady_clock::now() > limit) return false;
    SharedTimer::Tick();
  }
  return true;
}

template <typename Done>
bool WaitUntil(Done done) {
  const auto limit = std::chrono::steady_clock::now() + 5s;
  while (!done()) {
    if (std::chrono::steady_clock::now() > limit) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

class SharedTimerTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(SharedTimer::ClientCount(), 0); }
  void TearDown() override {
    for (SharedTimerClient* c : clients) SharedTimer::Unregister(c);
    EXPECT_EQ(SharedTimer::ClientCount(), 0);
    EXPECT_FALSE(SharedTimer::Running());
  }

  SharedTimerClient* Add(int32_t interval, SharedTimer::Callback cb, void* owner = nullptr) {
    SharedTimerClient* c = SharedTimer::Register(interval, std::move(cb), owner);
    if (c) clients.push_back(c);
    return c;
  }
  void Remove(SharedTimerClient* c) {
    SharedTimer::Unregister(c);
    std::erase(clients, c);
  }

  // Counts served ticks and runs `script(served)` inside each, under the timer's lock.
  void AddObserver() {
    Add(10, [this](SharedTimerClient*, void*) {
      const int n = ++served;
      if (script) script(n);
    });
  }

  // A client that notes the served-tick number at each of its calls.
  SharedTimerClient* AddRecorder(int32_t interval) {
    return Add(
        interval,
        [this](SharedTimerClient*, void* owner) {
          EXPECT_EQ(owner, &calls);
          std::lock_guard<std::mutex> lk(m);
          calls.push_back(served.load());
        },
        &calls);
  }
  std::vector<int> Calls() {
    std::lock_guard<std::mutex> lk(m);
    return calls;
  }
  size_t CallCount() { return Calls().size(); }

  std::vector<SharedTimerClient*> clients;
  std::atomic<int> served{0};
  std::function<void(int)> script;  // set before AddObserver; read only on ticks
  std::mutex m;
  std::vector<int> calls;
};

TEST_F(SharedTimerTest, ShortIntervalIsRaisedAndServedEveryTick) {
  AddObserver();
  SharedTimerClient* c = AddRecorder(10);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(SharedTimer::IntervalOf(c), 25);
  SharedTimerClient* negative = Add(-5, nullptr);
  EXPECT_EQ(SharedTimer::IntervalOf(negative), 25);
  Remove(negative);

  // Direct ticks are all served unless one overlaps a tick of the timer's thread.
  const int before = served;
  const uint64_t droppedBefore = SharedTimer::DroppedTicks();
  for (int i = 0; i < 10; ++i) SharedTimer::Tick();
  const uint64_t dropped = SharedTimer::DroppedTicks() - droppedBefore;
  EXPECT_GE(static_cast<uint64_t>(served - before) + dropped, 10u);

  ASSERT_TRUE(TickUntil([&] { return CallCount() >= 12; }));
  const std::vector<int> v = Calls();
  for (size_t i = 1; i < v.size(); ++i) EXPECT_EQ(v[i] - v[i - 1], 1) << "call " << i;
}

TEST_F(SharedTimerTest, IntervalsServeEveryNthTick) {
  struct Case {
    int32_t interval;
    int every;
  };
  // 60 and 110 are not multiples of the tick: time is collected 25 ms at a time.
  const Case cases[] = {{25, 1}, {50, 2}, {60, 3}, {100, 4}, {110, 5}};
  AddObserver();
  for (const Case& k : cases) {
    SCOPED_TRACE(k.interval);
    {
      std::lock_guard<std::mutex> lk(m);
      calls.clear();
    }
    SharedTimerClient* c = AddRecorder(k.interval);
    EXPECT_EQ(SharedTimer::IntervalOf(c), k.interval);
    ASSERT_TRUE(TickUntil([&] { return CallCount() >= 4; }));
    Remove(c);
    const std::vector<int> v = Calls();
    for (size_t i = 1; i < v.size(); ++i) EXPECT_EQ(v[i] - v[i - 1], k.every) << "call " << i;
  }
}

// Suspended twice at 50 ms collected, resumed once (still silent), then again inside tick R:
// that tick already counts, so the next call is at R + 3. Without the reset to 0 at Suspend it
// would come at R + 1; without nesting, at the first Resume.
TEST_F(SharedTimerTest, NestedSuspendAndElapsedFromZero) {
  std::atomic<int> first{0};
  std::atomic<int> countAfterOneResume{-1};
  std::atomic<SharedTimerClient*> c{nullptr};
  script = [&](int n) {
    const int f = first;
    if (f == 0) return;
    if (n == f + 3) {
      SharedTimer::Suspend(c);
      SharedTimer::Suspend(c);
    } else if (n == f + 10) {
      SharedTimer::Resume(c);
      countAfterOneResume = SharedTimer::SuspendCountOf(c);
    } else if (n == f + 20) {
      SharedTimer::Resume(c);
    }
  };
  AddObserver();
  Add(100, [&](SharedTimerClient* me, void*) {
    if (first == 0) {
      c = me;
      first = served.load();
    }
    std::lock_guard<std::mutex> lk(m);
    calls.push_back(served.load());
  });
  ASSERT_TRUE(TickUntil([&] { return CallCount() >= 3; }));
  const int f = first;
  EXPECT_EQ(Calls(), (std::vector<int>{f, f + 23, f + 27}));
  EXPECT_EQ(countAfterOneResume, 1);
  EXPECT_EQ(SharedTimer::SuspendCountOf(c.load()), 0);
}

TEST_F(SharedTimerTest, ResumeNeverGoesBelowZero) {
  SharedTimerClient* c = Add(25, nullptr);
  SharedTimer::Resume(c);
  SharedTimer::Resume(c);
  EXPECT_EQ(SharedTimer::SuspendCountOf(c), 0);
  SharedTimer::Suspend(c);
  EXPECT_EQ(SharedTimer::SuspendCountOf(c), 1);  // one Suspend is enough to silence it again
}

TEST_F(SharedTimerTest, SuspendedClientIsNotServed) {
  AddObserver();
  SharedTimerClient* c = AddRecorder(25);
  SharedTimer::Suspend(c);
  const size_t n = CallCount();  // a tick may have run before the Suspend
  const int from = served;
  ASSERT_TRUE(TickUntil([&] { return served >= from + 20; }));
  EXPECT_EQ(CallCount(), n);
}

TEST_F(SharedTimerTest, ThreadLivesWhileAClientIsRegistered) {
  EXPECT_FALSE(SharedTimer::Running());
  const uint64_t started = SharedTimer::ThreadsStarted();
  std::atomic<int> a{0};
  SharedTimerClient* c1 = Add(25, [&](SharedTimerClient*, void*) { ++a; });
  EXPECT_TRUE(SharedTimer::Running());
  EXPECT_EQ(SharedTimer::ThreadsStarted(), started + 1);
  // The thread ticks on its own.
  EXPECT_TRUE(WaitUntil([&] { return a >= 2; }));

  SharedTimerClient* c2 = Add(25, nullptr);
  EXPECT_EQ(SharedTimer::ThreadsStarted(), started + 1);
  EXPECT_EQ(SharedTimer::ClientCount(), 2);
  Remove(c1);
  EXPECT_TRUE(SharedTimer::Running());
  Remove(c2);
  EXPECT_FALSE(SharedTimer::Running());
  EXPECT_EQ(SharedTimer::ClientCount(), 0);

  std::atomic<int> b{0};
  Add(25, [&](SharedTimerClient*, void*) { ++b; });
  EXPECT_TRUE(SharedTimer::Running());
  EXPECT_EQ(SharedTimer::ThreadsStarted(), started + 2);
  EXPECT_TRUE(WaitUntil([&] { return b >= 2; }));
}

// A tick that starts while another is inside a callback does nothing and does not wait.
TEST_F(SharedTimerTest, OverlappingTickIsDropped) {
  std::mutex gate;
  std::condition_variable cv;
  bool release = false;
  std::atomic<bool> blocking{true};
  std::atomic<int> entered{0};
  std::atomic<int> inside{0};
  std::atomic<int> maxInside{0};
  Add(25, [&](SharedTimerClient*, void*) {
    const int now = ++inside;
    if (now > maxInside) maxInside = now;
    ++entered;
    if (blocking) {
      std::unique_lock<std::mutex> lk(gate);
      cv.wait(lk, [&] { return release; });
      blocking = false;
    }
    --inside;
  });
  // Whichever tick comes first (this thread's or the timer's) stays inside the callback.
  std::thread first([] { SharedTimer::Tick(); });
  ASSERT_TRUE(WaitUntil([&] { return entered >= 1; }));

  const uint64_t dropped = SharedTimer::DroppedTicks();
  auto overlapping = std::async(std::launch::async, [] { SharedTimer::Tick(); });
  const bool returned = overlapping.wait_for(5s) == std::future_status::ready;
  EXPECT_TRUE(returned) << "the overlapping tick waited for the running one";
  EXPECT_GT(SharedTimer::DroppedTicks(), dropped);
  EXPECT_EQ(entered, 1);
  {
    std::lock_guard<std::mutex> lk(gate);
    release = true;
  }
  cv.notify_all();
  first.join();
  overlapping.wait();
  EXPECT_EQ(maxInside, 1);
  // Ticks are served again afterwards.
  const int after = entered;
  EXPECT_TRUE(TickUntil([&] { return entered > after; }));
}

// A callback suspends and resumes another client and itself, on direct ticks and on the
// timer's thread alike, without deadlock.
TEST_F(SharedTimerTest, CallbackMaySuspendAndResumeClients) {
  std::atomic<int> otherCalls{0};
  std::atomic<int> rounds{0};
  std::atomic<int> timerThreadRounds{0};
  const std::thread::id testThread = std::this_thread::get_id();
  std::atomic<SharedTimerClient*> other{nullptr};
  SharedTimerClient* self = Add(25, [&](SharedTimerClient* me, void*) {
    SharedTimer::Suspend(other);
    SharedTimer::Suspend(me);
    SharedTimer::Resume(me);
    SharedTimer::Resume(other);
    ++rounds;
    if (std::this_thread::get_id() != testThread) ++timerThreadRounds;
  });
  other = Add(25, [&](SharedTimerClient*, void*) { ++otherCalls; });
  ASSERT_TRUE(TickUntil([&] { return rounds >= 5 && otherCalls >= 3; }));
  EXPECT_TRUE(WaitUntil([&] { return timerThreadRounds >= 2; }));
  EXPECT_EQ(SharedTimer::SuspendCountOf(self), 0);
  EXPECT_EQ(SharedTimer::SuspendCountOf(other.load()), 0);
}

TEST_F(SharedTimerTest, MissingClientAndCallbackAreAccepted) {
  // Nothing registered: no thread starts.
  SharedTimer::Suspend(nullptr);
  SharedTimer::Resume(nullptr);
  SharedTimer::Unregister(nullptr);
  EXPECT_FALSE(SharedTimer::Running());

  SharedTimerClient* c = Add(25, nullptr);  // no callback
  ASSERT_NE(c, nullptr);
  for (int i = 0; i < 5; ++i) SharedTimer::Tick();
  SharedTimer::Suspend(nullptr);
  SharedTimer::Resume(nullptr);
  SharedTimer::Unregister(nullptr);
  EXPECT_EQ(SharedTimer::ClientCount(), 1);
  EXPECT_EQ(SharedTimer::SuspendCountOf(c), 0);
}

// A pointer the timer never handed out: it must not be touched, and nothing changes.
TEST_F(SharedTimerTest, ForeignClientChangesNothing) {
  alignas(std::max_align_t) unsigned char fake[256] = {};
  auto* foreign = reinterpret_cast<SharedTimerClient*>(fake);
  auto untouched = [&] {
    for (unsigned char b : fake)
      if (b != 0) return false;
    return true;
  };

  // No client registered: Suspend, Resume and Unregister do nothing.
  SharedTimer::Suspend(foreign);
  SharedTimer::Resume(foreign);
  SharedTimer::Unregister(foreign);
  EXPECT_TRUE(untouched());
  EXPECT_FALSE(SharedTimer::Running());
  EXPECT_EQ(SharedTimer::ClientCount(), 0);

  // With a client: unregistering one that is not in the list leaves the list as it was.
  AddObserver();
  SharedTimer::Unregister(foreign);
  EXPECT_TRUE(untouched());
  EXPECT_EQ(SharedTimer::ClientCount(), 1);
  EXPECT_TRUE(SharedTimer::Running());
  const int from = served;
  EXPECT_TRUE(TickUntil([&] { return served >= from + 3; }));
}

}  // namespace
