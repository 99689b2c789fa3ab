#pragma once
// A hidden message window: messages posted to it from any thread are handled one by one,
// in order, on the thread that created it (the user-interface thread), also while that
// thread pumps its queue inside a wait. Posting never allocates, so capture threads may post.

#include <QObject>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>

#include "platform/FixedRing.h"

struct WindowMessage {
  uint32_t msg;
  uintptr_t wParam;
  intptr_t lParam;
};

class MessageWindow : public QObject {
 public:
  // Returns false for a message it does not handle (it is then dropped).
  using Handler = std::function<bool(const WindowMessage&)>;
  explicit MessageWindow(Handler handler);
  ~MessageWindow() override;

  // Thread-safe. False only when the queue is full.
  bool Post(uint32_t msg, uintptr_t wParam, intptr_t lParam);
  size_t Pending();
  // Handles the messages waiting for this window now, on the calling thread (which must be
  // the window's). A wait for this window's messages pumps with it: nothing else runs then, no
  // click, no timer, no other window's message. Returns how many were handled.
  size_t Drain();
  // Drops the queued messages for which `drop` is true; the others keep their order.
  void Remove(const std::function<bool(const WindowMessage&)>& drop);
  // One message per turn of the event loop, the rest after whatever else is waiting: for a
  // window whose messages post themselves again, so that they never starve other events.
  void SetOneAtATime(bool value) { oneAtATime_ = value; }

 protected:
  bool event(QEvent* e) override;

 private:
  void EnsureWake();
  size_t HandleWaiting(bool justOne);

  Handler handler_;
  std::mutex m_;
  FixedRing<WindowMessage, 2048> queue_;
  std::atomic<bool> wakePending_{false};
  bool oneAtATime_ = false;
};

// The application's error handler: shows an error that escaped a message handler. The
// programs install a message box; until then the text goes to standard error.
void SetApplicationErrorHandler(std::function<void(const std::string&)> handler);
void ShowApplicationError(const std::string& text);
