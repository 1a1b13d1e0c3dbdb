#include "mapview/run_directory.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace tavimo::mapview {
namespace {

QByteArray Contents(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace

std::string RunDirectory() {
  const QString own = QCoreApplication::applicationDirPath();
  if (QFileInfo(own).isWritable()) return QFile::encodeName(own).toStdString();
  // An installed program: its folder belongs to root, the page to the user.
  const QString data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
  if (data.isEmpty() || !QDir().mkpath(data)) return {};
  const QString share = QDir(own).absoluteFilePath(QStringLiteral("../share/tavimo"));
  for (const char* name : kPageFiles) {
    const QString from = share + "/" + QLatin1String(name);
    const QString to = data + "/" + QLatin1String(name);
    const QByteArray bytes = Contents(from);
    if (bytes.isEmpty() || Contents(to) == bytes) continue;
    QFile target(to);
    if (target.open(QIODevice::WriteOnly | QIODevice::Truncate)) target.write(bytes);
  }
  return QFile::encodeName(data).toStdString();
}

}  // namespace tavimo::mapview
