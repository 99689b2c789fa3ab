#include "platform/MessageWindow.h"

#include <QCoreApplication>
#include <QEvent>
#include <array>
#include <cstdio>
#include <exception>
#include <new>

namespace {

const QEvent::Type kWakeEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

// Wake events come from a fixed pool so that posting from a capture thread does not allocate.
class WakeEvent : public QEvent {
 public:
  WakeEvent() : QEvent(kWakeEvent) {}

  static void* operator new(size_t size) {
    {
      std::lock_guard<std::mutex> lk(PoolLock());
      for (auto& slot : Pool())
        if (!slot.used && size <= sizeof(slot.storage)) {
          slot.used = true;
          return slot.storage;
        }
    }
    return ::operator new(size);
  }
  static void operator delete(void* p) {
    {
      std::lock_guard<std::mutex> lk(PoolLock());
      for (auto& slot : Pool())
        if (static_cast<void*>(slot.storage) == p) {
          slot.used = false;
          return;
        }
    }
    ::operator delete(p);
  }

 private:
  struct Slot {
    alignas(std::max_align_t) unsigned char storage[64];
    bool used = false;
  };
  static std::array<Slot, 256>& Pool() {
    static std::array<Slot, 256> pool;
    return pool;
  }
  static std::mutex& PoolLock() {
    static std::mutex lock;
    return lock;
  }
};
static_assert(sizeof(WakeEvent) <= 64);

std::function<void(const std::string&)>& ErrorHandler() {
  static std::function<void(const std::string&)> handler;
  return handler;
}

}  // namespace

MessageWindow::MessageWindow(Handler handler) : handler_(std::move(handler)) {}

MessageWindow::~MessageWindow() = default;

bool MessageWindow::Post(uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  {
    std::lock_guard<std::mutex> lk(m_);
    if (!queue_.Push({msg, wParam, lParam})) return false;
  }
  EnsureWake();
  return true;
}

size_t MessageWindow::Pending() {
  std::lock_guard<std::mutex> lk(m_);
  return queue_.Size();
}

void MessageWindow::Remove(const std::function<bool(const WindowMessage&)>& drop) {
  std::lock_guard<std::mutex> lk(m_);
  const size_t n = queue_.Size();
  for (size_t i = 0; i < n; ++i) {
    WindowMessage m;
    queue_.Pop(m);
    if (!drop(m)) queue_.Push(m);
  }
}

void MessageWindow::EnsureWake() {
  if (!wakePending_.exchange(true)) QCoreApplication::postEvent(this, new WakeEvent);
}

bool MessageWindow::event(QEvent* e) {
  if (e->type() != kWakeEvent) return QObject::event(e);
  wakePending_ = false;
  HandleWaiting(oneAtATime_);
  return true;
}

size_t MessageWindow::Drain() {
  return HandleWaiting(false);
}

size_t MessageWindow::HandleWaiting(bool justOne) {
  size_t handled = 0;
  for (;;) {
    WindowMessage m;
    bool more = false;
    {
      std::lock_guard<std::mutex> lk(m_);
      if (!queue_.Pop(m)) break;
      more = !queue_.Empty();
    }
    // A handler may wait inside (a stop waiting for its buffers): the rest must still be
    // handled then.
    if (more) EnsureWake();
    ++handled;
    try {
      if (handler_) handler_(m);
    } catch (const std::exception& ex) {
      ShowApplicationError(ex.what());
    } catch (...) {
      ShowApplicationError("Unknown error");
    }
    if (justOne) break;
  }
  return handled;
}

void SetApplicationErrorHandler(std::function<void(const std::string&)> handler) {
  ErrorHandler() = std::move(handler);
}

void ShowApplicationError(const std::string& text) {
  if (ErrorHandler())
    ErrorHandler()(text);
  else
    std::fprintf(stderr, "%s\n", text.c_str());
}
