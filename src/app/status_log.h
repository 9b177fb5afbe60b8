#pragma once

// What the window shows, for watching the program from outside (end-to-end tests, the
// start-up benchmark): the status line, the two lists, the message boxes and the first
// show ("tonvale.status"). Off unless QT_LOGGING_RULES enables it.

#include <QLoggingCategory>

namespace tonvale::app {
Q_DECLARE_LOGGING_CATEGORY(lcStatus)
}  // namespace tonvale::app
