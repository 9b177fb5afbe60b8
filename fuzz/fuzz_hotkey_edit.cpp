// Feeds the hotkey field arbitrary sequences of key presses, releases, auto-repeats and focus
// changes. After every event the field must hold a combination of known modifier bits whose
// name is what it shows.

#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <cstdint>
#include <cstdlib>

#include "hotkeys/hotkey_edit.h"

namespace {

using tonvale::hotkeys::CombinationName;
using tonvale::hotkeys::HotkeyEdit;

// Keys worth hitting often; any other Qt key code is reached through the raw form.
constexpr int kKeys[] = {
    Qt::Key_Shift,  Qt::Key_Control,  Qt::Key_Alt,      Qt::Key_Meta,    Qt::Key_AltGr,
    Qt::Key_A,      Qt::Key_R,        Qt::Key_S,        Qt::Key_0,       Qt::Key_9,
    Qt::Key_F1,     Qt::Key_F12,      Qt::Key_F35,      Qt::Key_Tab,     Qt::Key_Backtab,
    Qt::Key_Return, Qt::Key_Enter,    Qt::Key_Escape,   Qt::Key_Space,   Qt::Key_Exclam,
    Qt::Key_Plus,   Qt::Key_Minus,    Qt::Key_Asterisk, Qt::Key_Home,    Qt::Key_Delete,
    Qt::Key_Left,   Qt::Key_CapsLock, Qt::Key_NumLock,  Qt::Key_unknown, Qt::Key_Adiaeresis,
    Qt::Key_Print,  Qt::Key_Pause,    Qt::Key_Menu,     Qt::Key_Clear,   0,
};

void Check(const HotkeyEdit& field) {
  if ((field.fsModifiers & ~7u) != 0 || (field.fsHeld & ~7u) != 0 ||
      (field.fsHeld & ~field.fsModifiers) != 0)
    std::abort();
  if (field.text() != CombinationName(field.fsModifiers, field.nVirtualKey) &&
      !field.text().isEmpty())
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static int argc = 3;
  static char name[] = "fuzz_hotkey_edit", opt[] = "-platform", plat[] = "offscreen";
  static char* argv[] = {name, opt, plat, nullptr};
  // Never destroyed: at exit Qt's own globals are gone before a static application would be.
  static auto* app = new QApplication(argc, argv);
  (void)app;
  HotkeyEdit field;
  field.show();
  field.setFocus();
  for (std::size_t i = 0; i + 3 <= size; i += 3) {
    const std::uint8_t op = data[i];
    const int key = op & 0x40 ? static_cast<int>(data[i + 1]) << 16 | data[i + 2]
                              : kKeys[data[i + 1] % std::size(kKeys)];
    const auto modifiers =
        Qt::KeyboardModifiers::fromInt(static_cast<int>(data[i + 2] & 0x3f) << 25);
    switch (op & 3) {
      case 0: {
        QKeyEvent e(QEvent::KeyPress, key, modifiers, QString(), op & 4);
        QApplication::sendEvent(&field, &e);
        break;
      }
      case 1: {
        QKeyEvent e(QEvent::KeyRelease, key, modifiers, QString(), op & 4);
        QApplication::sendEvent(&field, &e);
        break;
      }
      case 2: {
        QFocusEvent e(QEvent::FocusOut, op & 4 ? Qt::PopupFocusReason : Qt::TabFocusReason);
        QApplication::sendEvent(&field, &e);
        break;
      }
      default: {
        QKeyEvent e(QEvent::ShortcutOverride, key, modifiers);
        QApplication::sendEvent(&field, &e);
        break;
      }
    }
    Check(field);
  }
  return 0;
}
