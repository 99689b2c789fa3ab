#pragma once
// One process-wide periodic timer of 25 ms serving any number of clients, each with its own
// interval. The displays do their peak-hold and decay work on it, and a paused connector
// keeps its displays moving with it. Its thread exists only while a client is registered.

#include <cstdint>
#include <functional>

struct SharedTimerClient;

class SharedTimer {
 public:
  static constexpr int32_t kTickMs = 25;
  // Runs on the timer's thread with the timer's lock held; it may Suspend or Resume clients
  // but must not Unregister one.
  using Callback = std::function<void(SharedTimerClient* client, void* owner)>;

  // Null when the timer's thread cannot be started.
  static SharedTimerClient* Register(int32_t interval, Callback callback, void* owner);
  static void Suspend(SharedTimerClient* client);
  static void Resume(SharedTimerClient* client);
  static void Unregister(SharedTimerClient* client);

  // One tick, as the timer's thread runs it every 25 ms. A tick that starts while another
  // is still running is dropped.
  static void Tick();

  // For tests and figures: whether the thread runs, how many threads were started so far,
  // and ticks dropped (overlapping, or missed while a slow tick ran).
  static bool Running();
  static uint64_t ThreadsStarted();
  static uint64_t DroppedTicks();
  static int32_t ClientCount();
  // A client's settings as the timer holds them.
  static int32_t IntervalOf(const SharedTimerClient* client);
  static int32_t SuspendCountOf(const SharedTimerClient* client);
};
