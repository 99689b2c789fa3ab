#include "widgets/Notifier.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>
#include <cstdio>

namespace Notifier {

std::function<void(const std::string&)>& Hook() {
  static std::function<void(const std::string&)> hook;
  return hook;
}

bool HasScreen() {
  if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return false;
  const QString platform = QGuiApplication::platformName();
  return platform != "offscreen" && platform != "minimal" && QGuiApplication::primaryScreen();
}

void Say(const std::string& text, QWidget* parent) {
  if (Hook()) {
    Hook()(text);
    return;
  }
  if (!HasScreen()) {
    std::fprintf(stderr, "%s\n", text.c_str());
    return;
  }
  // Modal for the user, not for the program: show() returns at once, and the box deletes
  // itself when answered.
  auto* box = new QMessageBox(QMessageBox::Information, QGuiApplication::applicationDisplayName(),
                              QString::fromStdString(text), QMessageBox::Ok, parent);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setWindowModality(Qt::ApplicationModal);
  box->show();
}

}  // namespace Notifier
