#include "settings/output_file.h"

#include <QDir>
#include <QFileInfo>

namespace tonvale::settings {

QString BrowseInitialDir(const QString& storedPath) {
  const qsizetype slash = storedPath.lastIndexOf(QLatin1Char('/'));
  if (slash < 0) {
    return QStringLiteral(".");
  }
  return storedPath.left(slash);
}

QString WithMp3Extension(const QString& chosenPath) {
  const qsizetype nameStart = chosenPath.lastIndexOf(QLatin1Char('/')) + 1;
  const qsizetype dot = chosenPath.lastIndexOf(QLatin1Char('.'));
  const QString stem = dot >= nameStart ? chosenPath.left(dot) : chosenPath;
  return stem + QStringLiteral(".mp3");
}

QString TempFolder() {
  // A TMPDIR that names no folder makes QDir::tempPath() empty; the file must not land in /.
  const QString folder = QDir::tempPath();
  if (folder.isEmpty() || !QFileInfo(folder).isDir()) {
    return QStringLiteral("/tmp");
  }
  return folder;
}

}  // namespace tonvale::settings
