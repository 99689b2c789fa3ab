// The recorder program: one instance per user, started and left running.

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QSessionManager>
#include <QTimer>
#include <cstdio>

#include "platform/AlsaCapture.h"
#include "platform/AlsaMixer.h"
#include "platform/DeviceLayer.h"
#include "platform/MessageWindow.h"
#include "platform/SingleInstance.h"
#include "platform/StopSignals.h"
#include "recorder/FrmGravarWindow.h"
#include "recorder/U_Procs.h"
#include "widgets/Notifier.h"

namespace {

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
  SingleInstance instance(kApplicationTitle);
  if (!instance.Acquired()) {
    SayAndWait(QString("O Sistema \"%1\" já está ativo").arg(kApplicationTitle));
    return 0;
  }
  QApplication::setApplicationName(kApplicationTitle);
  QApplication::setApplicationDisplayName(kApplicationTitle);
  QApplication::setQuitOnLastWindowClosed(false);
  SetApplicationErrorHandler([](const std::string& text) { Notifier::Say(text); });

  // Stop requests are taken from here on, so that one arriving while the devices and the
  // window are being set up ends the program in order too. They are handled in the event
  // loop, where the window exists.
  TFrmGravarWindow* running = nullptr;
  bool stopAsked = false;  // before the window was there
  StopSignals stopSignals([&running, &stopAsked] {
    if (running)
      running->Terminate();
    else
      stopAsked = true;
  });

  const std::string ini =
      QDir(QCoreApplication::applicationDirPath()).filePath("cfg.ini").toStdString();
  // Device numbers and mixers answer from the real capture devices and their cards' mixers.
  BackendDeviceLayer devices(DefaultCaptureBackend(), DefaultMixerBackend());
  SetDeviceLayer(&devices);
  TFrmGravarWindow window(ini, &DefaultCaptureBackend());
  window.Session().RaiseOwnPriority = [] { RaiseRecorderPriority(nullptr); };
  TFrmPrioridade priority;  // never shown; holds the process list

  // Shutdown and service stops end the recording in order: names, copies, then quit.
  running = &window;
  QObject::connect(&app, &QGuiApplication::commitDataRequest, &app,
                   [&window](QSessionManager& manager) {
                     if (!window.QueryEndSession()) manager.cancel();
                   });

  window.FormCreate();
  window.show();
  if (stopAsked) QTimer::singleShot(0, &window, [&window] { window.Terminate(); });
  return app.exec();
}
