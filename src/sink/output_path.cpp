#include "sink/output_path.h"

#include <QSettings>
#include <QString>
#include <QVariant>

#include "platform/sink_contract.h"

namespace tonvale::sink {

std::string ReadHandOffPath() {
  // A new object each time: QSettings caches per object, and the program writes the value
  // from another process just before it starts the recording.
  QSettings settings(QSettings::NativeFormat, QSettings::UserScope,
                     QString::fromLatin1(platform::kHandOffOrganisation),
                     QString::fromLatin1(platform::kHandOffApplication));
  return settings.value(QString::fromLatin1(platform::kHandOffKey)).toString().toStdString();
}

}  // namespace tonvale::sink
