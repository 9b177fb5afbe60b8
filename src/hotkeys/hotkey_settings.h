#pragma once

// The "HotKey" section of the settings store: value names and defaults, in one place.

#include <QString>

namespace tonvale::hotkeys::settings {

inline const QString kSection = QStringLiteral("HotKey");

// Value names for an entry number (0 or 1).
inline QString ModifiersKey(int entry) {
  return QStringLiteral("mHotKey[%1].fsModifiers").arg(entry);
}
inline QString VirtualKeyKey(int entry) {
  return QStringLiteral("mHotKey[%1].nVirtualKey").arg(entry);
}
inline QString SpeedDataKey(int entry) {
  return QStringLiteral("mHotKey[%1].nSpeedData").arg(entry);
}

// Defaults: Start Record Ctrl+Alt+R, Stop Record Ctrl+Alt+S.
inline constexpr int kDefaultModifiers[2] = {3, 3};
inline constexpr int kDefaultVirtualKey[2] = {82, 83};
inline constexpr int kDefaultSpeedData = 0;

}  // namespace tonvale::hotkeys::settings
