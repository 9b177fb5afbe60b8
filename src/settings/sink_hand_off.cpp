#include "settings/sink_hand_off.h"

#include <QSettings>

#include "settings/private_files.h"
#include "settings/settings_keys.h"

namespace tonvale::settings {

bool QSettingsSinkHandOff::WriteOutputPath(const QString& path) {
  QSettings store(QString::fromLatin1(handoff::kOrganisation),
                  QString::fromLatin1(handoff::kApplication));
  PrepareSettingsFile(store.fileName());
  store.setValue(handoff::kKey, path);
  store.sync();
  return store.status() == QSettings::NoError;
}

}  // namespace tonvale::settings
