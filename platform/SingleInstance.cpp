#include "platform/SingleInstance.h"

#include <QDir>
#include <QStandardPaths>

SingleInstance::SingleInstance(const std::string& title) {
  const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  lock_ = std::make_unique<QLockFile>(QDir(runtime.isEmpty() ? QDir::tempPath() : runtime)
                                          .filePath(QString::fromStdString(title) + ".lock"));
  lock_->setStaleLockTime(0);
  acquired_ = lock_->tryLock(0);
}
