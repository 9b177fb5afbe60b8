#pragma once

#include <QString>

#include "platform/services.h"

namespace tonvale::settings {

// The hand-off value read by the sink, on QSettings where the sink's contract puts it
// (platform/sink_contract.h); a file of the user's own, like the settings.
class QSettingsSinkHandOff : public platform::SinkHandOff {
 public:
  bool WriteOutputPath(const QString& path) override;
};

}  // namespace tonvale::settings
