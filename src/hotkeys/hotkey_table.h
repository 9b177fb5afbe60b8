#pragma once

// The two system-wide hotkeys ("Start Record", "Stop Record"): their table, persistence in
// the "HotKey" settings section and registration through the platform's registrar.
// All calls on the UI thread.

#include <QString>

#include "platform/services.h"

class QWidget;

namespace tonvale::hotkeys {

class HotkeyEdit;

inline constexpr int kStartRecordHotKeyId = 0xA100;
inline constexpr int kStopRecordHotKeyId = 0xA101;

struct HotKeyEntry {
  QString szName;
  unsigned fsModifiers = 0;  // 1 Alt, 2 Ctrl, 4 Shift
  unsigned nVirtualKey = 0;  // 0: no key
  int nHotKeyId = 0;
  int nSpeedData = 0;  // reserved; kept with the entry and stored
};

// What a hotkey id asks the recorder to do.
enum class HotkeyCommand { None, Record, Stop };
HotkeyCommand CommandForHotKeyId(int id);

class HotkeyTable {
 public:
  static constexpr int kEntries = 2;

  // Fills both entries from the "HotKey" section; each value falls back to its own default.
  // Returns 1.
  int LoadHotKeys(platform::ProfileStore& store);
  // Registers entry 0 then entry 1 and stops at the first failure, which it reports in a
  // message box owned by owner. An entry registered before the failure stays registered.
  // Returns 1 when both are registered, else 0.
  int RegisterHotKeys(platform::HotkeyRegistrar& registrar, platform::MessageBoxes& boxes,
                      QWidget* owner);
  // Releases both ids, ignoring whether they were registered. Returns 1.
  int UnregisterHotKeys(platform::HotkeyRegistrar& registrar);
  // Writes the six "HotKey" values, entry 0 then 1. Returns 1.
  int SaveHotKeys(platform::ProfileStore& store);

  // The field of an entry lost the focus: take its combination, re-register both hotkeys and
  // store the group only when that succeeded. An entry outside 0..1 is ignored.
  void OnFieldKillFocus(int entry, const HotkeyEdit& field, platform::HotkeyRegistrar& registrar,
                        platform::MessageBoxes& boxes, QWidget* owner,
                        platform::ProfileStore& store);

  // The registrar reported a refusal after RegisterHotKeys (the desktop decides later): the
  // same box as a refusal at once. An unknown id is ignored.
  void OnRegisterFailed(int id, platform::MessageBoxes& boxes, QWidget* owner);
  // The desktop put this combination on an id: the entry takes it and the group is stored.
  // Returns the entry, or -1 for an unknown id.
  int OnDesktopCombination(int id, unsigned modifiers, unsigned virtualKey,
                           platform::ProfileStore& store);

  HotKeyEntry mHotKey[kEntries];
};

}  // namespace tonvale::hotkeys
