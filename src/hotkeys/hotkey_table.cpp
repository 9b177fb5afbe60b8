#include "hotkeys/hotkey_table.h"

#include <QLoggingCategory>

#include "hotkeys/hotkey_edit.h"
#include "hotkeys/hotkey_settings.h"

namespace tonvale::hotkeys {

namespace {
Q_LOGGING_CATEGORY(lcHotkeys, "tonvale.hotkeys")

const QString& EntryName(int entry) {
  static const QString kNames[HotkeyTable::kEntries] = {QStringLiteral("Start Record"),
                                                        QStringLiteral("Stop Record")};
  return kNames[entry];
}

constexpr int kIds[HotkeyTable::kEntries] = {kStartRecordHotKeyId, kStopRecordHotKeyId};
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
  const QString& section = settings::kSection;
  for (int i = 0; i < kEntries; ++i) {
    HotKeyEntry& e = mHotKey[i];
    e.szName = EntryName(i);
    e.fsModifiers = static_cast<unsigned>(
        store.GetProfileInt(section, settings::ModifiersKey(i), settings::kDefaultModifiers[i]));
    e.nVirtualKey = static_cast<unsigned>(
        store.GetProfileInt(section, settings::VirtualKeyKey(i), settings::kDefaultVirtualKey[i]));
    e.nSpeedData =
        store.GetProfileInt(section, settings::SpeedDataKey(i), settings::kDefaultSpeedData);
    e.nHotKeyId = kIds[i];
  }
  return 1;
}

int HotkeyTable::RegisterHotKeys(platform::HotkeyRegistrar& registrar,
                                 platform::MessageBoxes& boxes, QWidget* owner) {
  for (const HotKeyEntry& e : mHotKey) {
    if (registrar.RegisterHotKey(e.nHotKeyId, e.fsModifiers, e.nVirtualKey))
      continue;
    qCInfo(lcHotkeys) << "registering" << e.szName << "failed: modifiers" << e.fsModifiers << "key"
                      << e.nVirtualKey;
    const QString text =
        QStringLiteral("%1 hot key failed!. It may conflict with another hotkey. Try a new hotkey")
            .arg(e.szName);
    boxes.Show(owner, text, QStringLiteral("Error"), platform::MessageBoxes::Icon::None);
    return 0;
  }
  return 1;
}

int HotkeyTable::UnregisterHotKeys(platform::HotkeyRegistrar& registrar) {
  for (const int id : kIds) registrar.UnregisterHotKey(id);
  return 1;
}

int HotkeyTable::SaveHotKeys(platform::ProfileStore& store) {
  const QString& section = settings::kSection;
  for (int i = 0; i < kEntries; ++i) {
    const HotKeyEntry& e = mHotKey[i];
    store.WriteProfileInt(section, settings::ModifiersKey(i), static_cast<int>(e.fsModifiers));
    store.WriteProfileInt(section, settings::VirtualKeyKey(i), static_cast<int>(e.nVirtualKey));
    store.WriteProfileInt(section, settings::SpeedDataKey(i), e.nSpeedData);
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

}  // namespace tonvale::hotkeys
