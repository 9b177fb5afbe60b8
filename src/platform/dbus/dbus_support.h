#pragma once

// The session-bus backend's diagnostics.

#include <QLoggingCategory>

namespace tonvale::platform {

Q_DECLARE_LOGGING_CATEGORY(lcDBus)

}  // namespace tonvale::platform
