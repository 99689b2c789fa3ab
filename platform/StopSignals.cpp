#include "platform/StopSignals.h"

#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <csignal>

namespace {

int g_pipe[2] = {-1, -1};

void OnSignal(int) {
  const char c = 1;
  // Only async-signal-safe work here: the loop picks the request up.
  [[maybe_unused]] const ssize_t n = write(g_pipe[1], &c, 1);
}

}  // namespace

StopSignals::StopSignals(std::function<void()> onStop, QObject* parent)
    : QObject(parent), onStop_(std::move(onStop)) {
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_pipe) != 0) return;
  notifier_ = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
  QObject::connect(notifier_, &QSocketNotifier::activated, this, [this] {
    char c;
    [[maybe_unused]] const ssize_t n = read(g_pipe[0], &c, 1);
    if (onStop_) onStop_();
  });
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  for (int s : {SIGTERM, SIGINT, SIGHUP}) sigaction(s, &sa, nullptr);
}

StopSignals::~StopSignals() {
  struct sigaction sa {};
  sa.sa_handler = SIG_DFL;
  for (int s : {SIGTERM, SIGINT, SIGHUP}) sigaction(s, &sa, nullptr);
  delete notifier_;
  for (int& fd : g_pipe) {
    if (fd >= 0) close(fd);
    fd = -1;
  }
}
