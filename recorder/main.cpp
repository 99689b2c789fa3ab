// The recorder program: one instance per user, started and left running.

#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QLockFile>
#include <QMessageBox>
#include <QSessionManager>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <csignal>
#include <cstdio>

#include "platform/AlsaCapture.h"
#include "platform/MessageWindow.h"
#include "recorder/FrmGravarWindow.h"
#include "recorder/Notifier.h"
#include "recorder/U_Procs.h"

namespace {

int g_signalPipe[2] = {-1, -1};

void OnSignal(int) {
  const char c = 1;
  // Only async-signal-safe work here: the loop picks the request up.
  [[maybe_unused]] const ssize_t n = write(g_signalPipe[1], &c, 1);
}

// Before the program runs there is nothing to hold up: the box may wait for its click.
void SayAndWait(const QString& text) {
  if (Notifier::HasScreen())
    QMessageBox::information(nullptr, kApplicationTitle, text);
  else
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);

  // A second recorder would fight the first for the devices and the files.
  const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  QLockFile instance(QDir(runtime.isEmpty() ? QDir::tempPath() : runtime)
                         .filePath(QString(kApplicationTitle) + ".lock"));
  instance.setStaleLockTime(0);
  if (!instance.tryLock(0)) {
    SayAndWait(QString("O Sistema \"%1\" já está ativo").arg(kApplicationTitle));
    return 0;
  }
  QApplication::setApplicationName(kApplicationTitle);
  QApplication::setApplicationDisplayName(kApplicationTitle);
  QApplication::setQuitOnLastWindowClosed(false);
  SetApplicationErrorHandler([](const std::string& text) { Notifier::Say(text); });

  const std::string ini =
      QDir(QCoreApplication::applicationDirPath()).filePath("cfg.ini").toStdString();
  TFrmGravarWindow window(ini, &DefaultCaptureBackend());
  window.Session().RaiseOwnPriority = [] { RaiseRecorderPriority(nullptr); };
  TFrmPrioridade priority;  // never shown; holds the process list

  // Shutdown and service stops end the recording in order: names, copies, then quit.
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) == 0) {
    auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [&window] {
      char c;
      [[maybe_unused]] const ssize_t n = read(g_signalPipe[0], &c, 1);
      window.Terminate();
    });
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int s : {SIGTERM, SIGINT, SIGHUP}) sigaction(s, &sa, nullptr);
  }
  QObject::connect(&app, &QGuiApplication::commitDataRequest, &app,
                   [&window](QSessionManager& manager) {
                     if (!window.QueryEndSession()) manager.cancel();
                   });

  window.FormCreate();
  window.show();
  return app.exec();
}
