// The player program: find a recording by station, day, hour and minute, and play on from
// there. Any number may run.

#include <QApplication>
#include <QDir>

#include "platform/AudioOutput.h"
#include "platform/MessageWindow.h"
#include "player/FrmPlayWindow.h"
#include "widgets/Notifier.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(kPlayerTitle);
  QApplication::setApplicationDisplayName(kPlayerTitle);
  SetApplicationErrorHandler([](const std::string& text) { Notifier::Say(text); });
  const std::string ini =
      QDir(QCoreApplication::applicationDirPath()).filePath("cfg.ini").toStdString();
  TFrmPlayWindow window(ini, MakeAlsaOutput("default"));
  window.FormCreate();
  window.show();
  return app.exec();
}
