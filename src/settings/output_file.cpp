#include "settings/output_file.h"

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

}  // namespace tonvale::settings
