#pragma once

// The recorder's diagnostics ("tonvale.recorder"): the chain, the devices it binds and the
// output file's claim. Never shown to the user.

#include <QLoggingCategory>

namespace tonvale::recorder {
Q_DECLARE_LOGGING_CATEGORY(lcRecorder)
}  // namespace tonvale::recorder
