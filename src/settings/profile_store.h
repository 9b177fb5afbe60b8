#pragma once

#include <QString>

#include "platform/services.h"

namespace tonvale::settings {

// The per-user settings store on QSettings: organisation "Velmora", application = the
// program file's base name; an INI file under $XDG_CONFIG_HOME/Velmora/.
class QSettingsProfileStore : public platform::ProfileStore {
 public:
  explicit QSettingsProfileStore(QString application);

  int GetProfileInt(const QString& section, const QString& key, int defaultValue) override;
  void WriteProfileInt(const QString& section, const QString& key, int value) override;
  QString GetProfileString(const QString& section, const QString& key,
                           const QString& defaultValue) override;
  void WriteProfileString(const QString& section, const QString& key,
                          const QString& value) override;

  const QString& application() const { return application_; }

 private:
  QString application_;
};

}  // namespace tonvale::settings
