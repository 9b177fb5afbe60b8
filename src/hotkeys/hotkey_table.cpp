#include "hotkeys/hotkey_table.h"

#include <QLoggingCategory>

#include "hotkeys/hotkey_edit.h"
#include "settings/settings_keys.h"

namespace tonvale::hotkeys {

namespace keys = settings::hotkey;

namespace {
Q_LOGGING_CATEGORY(lcHotkeys, "tonvale.hotkeys")

const QString& EntryName(int entry) {
  static const QString kNames[HotkeyTable::kEntries] = {QStringLiteral("Start Record"),
                                                        QStringLiteral("Stop Record")};
  return kNames[entry];
}

constexpr int kIds[HotkeyTable::kEntries] = {kStartRecordHotKeyId, kStopRecordHotKeyId};

void ShowFailure(const HotKeyEntry& e, platform::MessageBoxes& boxes, QWidget* owner) {
  qCInfo(lcHotkeys) << "registering" << e.szName << "failed: modifiers" << e.fsModifiers << "key"
                    << e.nVirtualKey;
  const QString text =
      QStringLiteral("%1 hot key failed!. It may conflict with another hotkey. Try a new hotkey")
          .arg(e.szName);
  boxes.Show(owner, text, QStringLiteral("Error"), platform::MessageBoxes::Icon::None);
}
}  // namespace

HotkeyCommand CommandForHotKeyId(int id) {
  switch (id) {
    case kStartRecordHotKeyId:
      return HotkeyCommand::Record;
    case kStopRecordHotKeyId:
      return HotkeyCommand::Stop;
    default:
      return HotkeyCommand::None;
  }
}

int HotkeyTable::LoadHotKeys(platform::ProfileStore& store) {
  const QString& section = keys::kSection;
  for (int i = 0; i < kEntries; ++i) {
    HotKeyEntry& e = mHotKey[i];
    e.szName = EntryName(i);
    e.fsModifiers = static_cast<unsigned>(
        store.GetProfileInt(section, keys::ModifiersKey(i), keys::kDefaultModifiers[i]));
    e.nVirtualKey = static_cast<unsigned>(
        store.GetProfileInt(section, keys::VirtualKeyKey(i), keys::kDefaultVirtualKey[i]));
    e.nSpeedData = store.GetProfileInt(section, keys::SpeedDataKey(i), keys::kDefaultSpeedData);
    e.nHotKeyId = kIds[i];
  }
  return 1;
}

int HotkeyTable::RegisterHotKeys(platform::HotkeyRegistrar& registrar,
                                 platform::MessageBoxes& boxes, QWidget* owner) {
  for (const HotKeyEntry& e : mHotKey) {
    if (registrar.RegisterHotKey(e.nHotKeyId, e.fsModifiers, e.nVirtualKey))
      continue;
    ShowFailure(e, boxes, owner);
    return 0;
  }
  return 1;
}

int HotkeyTable::UnregisterHotKeys(platform::HotkeyRegistrar& registrar) {
  for (const int id : kIds) registrar.UnregisterHotKey(id);
  return 1;
}

int HotkeyTable::SaveHotKeys(platform::ProfileStore& store) {
  const QString& section = keys::kSection;
  for (int i = 0; i < kEntries; ++i) {
    const HotKeyEntry& e = mHotKey[i];
    store.WriteProfileInt(section, keys::ModifiersKey(i), static_cast<int>(e.fsModifiers));
    store.WriteProfileInt(section, keys::VirtualKeyKey(i), static_cast<int>(e.nVirtualKey));
    store.WriteProfileInt(section, keys::SpeedDataKey(i), e.nSpeedData);
  }
  return 1;
}

void HotkeyTable::OnFieldKillFocus(int entry, const HotkeyEdit& field,
                                   platform::HotkeyRegistrar& registrar,
                                   platform::MessageBoxes& boxes, QWidget* owner,
                                   platform::ProfileStore& store) {
  if (entry < 0 || entry >= kEntries)
    return;
  HotKeyEntry& e = mHotKey[entry];
  e.nSpeedData = 0;
  e.fsModifiers = field.GetModifiers();
  e.nVirtualKey = field.GetVirtualKey();
  UnregisterHotKeys(registrar);
  if (RegisterHotKeys(registrar, boxes, owner) == 1)
    SaveHotKeys(store);
}

void HotkeyTable::OnRegisterFailed(int id, platform::MessageBoxes& boxes, QWidget* owner) {
  for (const HotKeyEntry& e : mHotKey) {
    if (e.nHotKeyId == id)
      ShowFailure(e, boxes, owner);
  }
}

int HotkeyTable::OnDesktopCombination(int id, unsigned modifiers, unsigned virtualKey,
                                      platform::ProfileStore& store) {
  for (int i = 0; i < kEntries; ++i) {
    HotKeyEntry& e = mHotKey[i];
    if (e.nHotKeyId != id)
      continue;
    qCInfo(lcHotkeys) << e.szName << "is now modifiers" << modifiers << "key" << virtualKey
                      << "on the desktop";
    e.fsModifiers = modifiers;
    e.nVirtualKey = virtualKey;
    SaveHotKeys(store);
    return i;
  }
  return -1;
}

}  // namespace tonvale::hotkeys
