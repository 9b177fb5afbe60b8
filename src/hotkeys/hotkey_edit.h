#pragma once

// The hotkey field: a line edit that takes no typed text. While it has the focus it captures
// every key press as a hotkey combination (modifier set + Windows virtual-key code) and shows
// the combination's name. The numbers, not the text, are what the field hands on; the owner
// reads them when the field loses the focus (focusLost).

#include <QLineEdit>
#include <QString>
#include <cstdint>
#include <functional>

#include "platform/services.h"

namespace tonvale::hotkeys {

using platform::kModAlt;
using platform::kModCtrl;
using platform::kModShift;

// Generic virtual-key codes of the modifier keys, and AltGr's, which holds Ctrl and Alt.
inline constexpr unsigned kVkShift = 0x10;
inline constexpr unsigned kVkControl = 0x11;
inline constexpr unsigned kVkMenu = 0x12;
inline constexpr unsigned kVkAltGr = 0xA5;

// The Windows virtual-key code of a Qt key, 0 when the key has none. Qt::KeypadModifier
// selects the numeric keypad codes; Shift-produced symbols of a US layout map back to the key
// that produced them (Key_Exclam -> '1'), as a virtual-key code names the key, not the symbol.
unsigned VirtualKeyFromQt(int qtKey, Qt::KeyboardModifiers modifiers);

// The display name of a virtual-key code; empty for a code without a name.
QString KeyName(unsigned vk);

// The text shown for a combination: "Shift + ", "Ctrl + ", "Alt + " (in that order) followed
// by the key name, or "None" when both numbers are 0.
QString CombinationName(unsigned modifiers, unsigned vk);

class HotkeyEdit : public QLineEdit {
  Q_OBJECT

 public:
  explicit HotkeyEdit(QWidget* parent = nullptr);

  void SetModifiers(unsigned value) { fsModifiers = value; }
  void SetVirtualKey(unsigned value) { nVirtualKey = value; }
  unsigned GetModifiers() const { return fsModifiers; }
  unsigned GetVirtualKey() const { return nVirtualKey; }
  // Rebuilds the text from fsModifiers and nVirtualKey. Returns 1.
  int ShowKeyName();
  // Names a pressed key (other than a modifier or a keypad key) by its native key code
  // through the keyboard layout in use, as the hotkey registration does; where it gives 0,
  // the key's Qt code decides.
  void SetKeyMapper(std::function<unsigned(std::uint32_t nativeKey)> mapper) {
    keyMapper_ = std::move(mapper);
  }

  // The captured combination and the modifiers currently held, as far as the key events
  // reaching this field tell (a release that happens after the focus has gone is not seen).
  unsigned fsModifiers = 0;
  unsigned nVirtualKey = 0;
  unsigned fsHeld = 0;

 signals:
  // The field lost the keyboard focus (not counting a popup such as its context menu).
  void focusLost();

 protected:
  bool event(QEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void keyReleaseEvent(QKeyEvent* e) override;
  void focusInEvent(QFocusEvent* e) override;
  void focusOutEvent(QFocusEvent* e) override;

 private:
  std::function<unsigned(std::uint32_t)> keyMapper_;
  void KeyDown(unsigned vk);
  void KeyUp(unsigned vk);
};

}  // namespace tonvale::hotkeys
