#include "settings/profile_store.h"

#include <QDir>
#include <QSettings>

#include <limits>

#include "settings/private_files.h"
#include "settings/settings_keys.h"

namespace tonvale::settings {

QString option::DefaultOutputFile() {
  return QDir::homePath() + QStringLiteral("/sonarelrecorder.mp3");
}

namespace {

QString KeyPath(const QString& section, const QString& key) {
  return section + QLatin1Char('/') + key;
}

// The settings are the user's own: before a write, the folder becomes 0700 and the file 0600.
void SetPrivate(QSettings& store, const QString& key, const QVariant& value) {
  PrepareSettingsFile(store.fileName());
  store.setValue(key, value);
}

}  // namespace

QSettingsProfileStore::QSettingsProfileStore(QString application)
    : application_(std::move(application)) {}

int QSettingsProfileStore::GetProfileInt(const QString& section, const QString& key,
                                         int defaultValue) {
  QSettings store(QString::fromLatin1(kOrganisation), application_);
  const QVariant value = store.value(KeyPath(section, key));
  if (!value.isValid() || value.typeId() != QMetaType::QString) {
    return defaultValue;
  }
  // Only a plain decimal 32-bit number counts; anything else reads as the default.
  bool ok = false;
  const qlonglong number = value.toString().trimmed().toLongLong(&ok, 10);
  if (!ok || number < std::numeric_limits<qint32>::min() ||
      number > std::numeric_limits<qint32>::max()) {
    return defaultValue;
  }
  return static_cast<int>(number);
}

void QSettingsProfileStore::WriteProfileInt(const QString& section, const QString& key, int value) {
  QSettings store(QString::fromLatin1(kOrganisation), application_);
  SetPrivate(store, KeyPath(section, key), QString::number(value));
}

QString QSettingsProfileStore::GetProfileString(const QString& section, const QString& key,
                                                const QString& defaultValue) {
  QSettings store(QString::fromLatin1(kOrganisation), application_);
  const QVariant value = store.value(KeyPath(section, key));
  if (!value.isValid()) {
    return defaultValue;
  }
  // A value written as a list (a comma in a hand-edited file) is still the user's text.
  if (value.typeId() == QMetaType::QStringList) {
    return value.toStringList().join(QLatin1Char(','));
  }
  if (!value.canConvert<QString>()) {
    return defaultValue;
  }
  return value.toString();
}

void QSettingsProfileStore::WriteProfileString(const QString& section, const QString& key,
                                               const QString& value) {
  QSettings store(QString::fromLatin1(kOrganisation), application_);
  SetPrivate(store, KeyPath(section, key), value);
}

}  // namespace tonvale::settings
