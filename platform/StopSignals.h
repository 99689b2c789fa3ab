#pragma once
// The requests to end that the system sends a program (SIGTERM at shutdown or from a service
// manager, SIGINT, SIGHUP), turned into a call on the user-interface thread.

#include <QObject>
#include <functional>

class QSocketNotifier;

class StopSignals : public QObject {
 public:
  // From now on each request calls `onStop` from the event loop. One per process.
  explicit StopSignals(std::function<void()> onStop, QObject* parent = nullptr);
  ~StopSignals() override;

 private:
  std::function<void()> onStop_;
  QSocketNotifier* notifier_ = nullptr;
};
