#include "hotkeys/hotkey_edit.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <array>
#include <utility>

namespace tonvale::hotkeys {

namespace {

// Keys whose virtual-key code does not follow from a contiguous Qt range.
constexpr std::pair<int, unsigned> kKeyTable[] = {
    {Qt::Key_Backspace, 0x08},
    {Qt::Key_Tab, 0x09},
    {Qt::Key_Backtab, 0x09},  // Shift+Tab: the key is still Tab
    {Qt::Key_Clear, 0x0C},
    {Qt::Key_Return, 0x0D},
    {Qt::Key_Enter, 0x0D},
    {Qt::Key_Shift, kVkShift},
#ifdef Q_OS_MACOS
    {Qt::Key_Meta, kVkControl},  // Qt swaps Control and Meta on macOS
#else
    {Qt::Key_Control, kVkControl},
    {Qt::Key_Meta, 0x5B},
#endif
    {Qt::Key_Alt, kVkMenu},
    {Qt::Key_AltGr, kVkAltGr},
    {Qt::Key_Pause, 0x13},
    {Qt::Key_Escape, 0x1B},
    {Qt::Key_Space, 0x20},
    {Qt::Key_PageUp, 0x21},
    {Qt::Key_PageDown, 0x22},
    {Qt::Key_End, 0x23},
    {Qt::Key_Home, 0x24},
    {Qt::Key_Left, 0x25},
    {Qt::Key_Up, 0x26},
    {Qt::Key_Right, 0x27},
    {Qt::Key_Down, 0x28},
    {Qt::Key_Print, 0x2C},
    {Qt::Key_Insert, 0x2D},
    {Qt::Key_Delete, 0x2E},
    {Qt::Key_Super_L, 0x5B},
    {Qt::Key_Super_R, 0x5C},
    {Qt::Key_Menu, 0x5D},
    {Qt::Key_VolumeMute, 0xAD},
    {Qt::Key_VolumeDown, 0xAE},
    {Qt::Key_VolumeUp, 0xAF},
    {Qt::Key_MediaNext, 0xB0},
    {Qt::Key_MediaPrevious, 0xB1},
    {Qt::Key_MediaStop, 0xB2},
    {Qt::Key_MediaPlay, 0xB3},
    {Qt::Key_MediaTogglePlayPause, 0xB3},
    // Punctuation, unshifted and shifted (US layout), to the OEM key codes.
    {Qt::Key_Semicolon, 0xBA},
    {Qt::Key_Colon, 0xBA},
    {Qt::Key_Equal, 0xBB},
    {Qt::Key_Plus, 0xBB},
    {Qt::Key_Comma, 0xBC},
    {Qt::Key_Less, 0xBC},
    {Qt::Key_Minus, 0xBD},
    {Qt::Key_Underscore, 0xBD},
    {Qt::Key_Period, 0xBE},
    {Qt::Key_Greater, 0xBE},
    {Qt::Key_Slash, 0xBF},
    {Qt::Key_Question, 0xBF},
    {Qt::Key_QuoteLeft, 0xC0},
    {Qt::Key_AsciiTilde, 0xC0},
    {Qt::Key_BracketLeft, 0xDB},
    {Qt::Key_BraceLeft, 0xDB},
    {Qt::Key_Backslash, 0xDC},
    {Qt::Key_Bar, 0xDC},
    {Qt::Key_BracketRight, 0xDD},
    {Qt::Key_BraceRight, 0xDD},
    {Qt::Key_Apostrophe, 0xDE},
    {Qt::Key_QuoteDbl, 0xDE},
    // Shifted digits (US layout).
    {Qt::Key_ParenRight, 0x30},
    {Qt::Key_Exclam, 0x31},
    {Qt::Key_At, 0x32},
    {Qt::Key_NumberSign, 0x33},
    {Qt::Key_Dollar, 0x34},
    {Qt::Key_Percent, 0x35},
    {Qt::Key_AsciiCircum, 0x36},
    {Qt::Key_Ampersand, 0x37},
    {Qt::Key_Asterisk, 0x38},
    {Qt::Key_ParenLeft, 0x39},
};

unsigned KeypadVirtualKey(int qtKey) {
  if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9)
    return 0x60 + static_cast<unsigned>(qtKey - Qt::Key_0);
  switch (qtKey) {
    case Qt::Key_Asterisk:
      return 0x6A;
    case Qt::Key_Plus:
      return 0x6B;
    case Qt::Key_Minus:
      return 0x6D;
    case Qt::Key_Period:
    case Qt::Key_Comma:
      return 0x6E;
    case Qt::Key_Slash:
      return 0x6F;
    default:
      return 0;  // navigation keys of the keypad (Num Lock off) are the ordinary ones
  }
}

unsigned ModifierBit(unsigned vk) {
  switch (vk) {
    case kVkShift:
      return kModShift;
    case kVkControl:
      return kModCtrl;
    case kVkMenu:
      return kModAlt;
    case kVkAltGr:
      return kModCtrl | kModAlt;
    default:
      return 0;
  }
}

// The modifier bits of a key event's state.
unsigned HeldModifiers(Qt::KeyboardModifiers modifiers) {
  return (modifiers.testFlag(Qt::ShiftModifier) ? kModShift : 0) |
         (modifiers.testFlag(Qt::ControlModifier) ? kModCtrl : 0) |
         (modifiers.testFlag(Qt::AltModifier) ? kModAlt : 0) |
         (modifiers.testFlag(Qt::GroupSwitchModifier) ? kModCtrl | kModAlt : 0);
}

}  // namespace

unsigned VirtualKeyFromQt(int qtKey, Qt::KeyboardModifiers modifiers) {
  if (modifiers.testFlag(Qt::KeypadModifier)) {
    if (const unsigned vk = KeypadVirtualKey(qtKey))
      return vk;
  }
  if (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z)
    return static_cast<unsigned>(qtKey);  // 0x41..
  if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9)
    return static_cast<unsigned>(qtKey);  // 0x30..
  if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F24)
    return 0x70 + static_cast<unsigned>(qtKey - Qt::Key_F1);
  for (const auto& [key, vk] : kKeyTable) {
    if (key == qtKey)
      return vk;
  }
  return 0;
}

QString KeyName(unsigned vk) {
  switch (vk) {
    case 0x21:
      return QStringLiteral("PageUp");
    case 0x22:
      return QStringLiteral("PageDown");
    case 0x23:
      return QStringLiteral("End");
    case 0x24:
      return QStringLiteral("Home");
    case 0x25:
      return QStringLiteral("Left");
    case 0x26:
      return QStringLiteral("Up");
    case 0x27:
      return QStringLiteral("Right");
    case 0x28:
      return QStringLiteral("Down");
    case 0x2D:
      return QStringLiteral("Insert");
    case 0x6A:
      return QStringLiteral("Num*");
    case 0x6B:
      return QStringLiteral("Num+");
    case 0x6D:
      return QStringLiteral("Num-");
    case 0x6E:
      return QStringLiteral("Num.");
    case 0x6F:
      return QStringLiteral("Num/");
    default:
      break;
  }
  if (vk >= 0x30 && vk <= 0x39)
    return QString(QChar(static_cast<char16_t>(vk)));
  if (vk >= 0x41 && vk <= 0x5A)
    return QString(QChar(static_cast<char16_t>(vk - 0x41 + u'a')));
  if (vk >= 0x60 && vk <= 0x69)
    return QStringLiteral("Num") + QChar(static_cast<char16_t>(vk - 0x60 + u'0'));
  if (vk >= 0x70 && vk <= 0x7B)
    return QStringLiteral("F") + QString::number(vk - 0x70 + 1);
  return {};
}

QString CombinationName(unsigned modifiers, unsigned vk) {
  if (modifiers == 0 && vk == 0)
    return QStringLiteral("None");
  QString text;
  if (modifiers & kModShift)
    text += QStringLiteral("Shift + ");
  if (modifiers & kModCtrl)
    text += QStringLiteral("Ctrl + ");
  if (modifiers & kModAlt)
    text += QStringLiteral("Alt + ");
  text += KeyName(vk);
  return text;
}

HotkeyEdit::HotkeyEdit(QWidget* parent) : QLineEdit(parent) {
  // Key presses must arrive as key events, not be composed by an input method into text.
  setAttribute(Qt::WA_InputMethodEnabled, false);
}

int HotkeyEdit::ShowKeyName() {
  setText(CombinationName(fsModifiers, nVirtualKey));
  return 1;
}

bool HotkeyEdit::event(QEvent* e) {
  switch (e->type()) {
    case QEvent::ShortcutOverride:
      // Every key belongs to the field: no shortcut, mnemonic or default button may act.
      e->accept();
      return true;
    case QEvent::KeyPress:
      // Taken here, before QWidget::event moves the focus on Tab/Backtab.
      keyPressEvent(static_cast<QKeyEvent*>(e));
      return true;
    default:
      return QLineEdit::event(e);
  }
}

void HotkeyEdit::keyPressEvent(QKeyEvent* e) {
  // Consumed whatever the key, so nothing is typed and the dialog never sees Enter or Escape.
  e->accept();
  unsigned vk = VirtualKeyFromQt(e->key(), e->modifiers());
  if (ModifierBit(vk) == 0 && !e->modifiers().testFlag(Qt::KeypadModifier) && keyMapper_) {
    if (const unsigned mapped = keyMapper_(e->nativeScanCode()))
      vk = mapped;
  }
  if (vk == 0)
    return;
  // A modifier released where this field could not see it (the keyboard was grabbed away,
  // for one by this field's own hotkey) is no longer held.
  fsHeld &= HeldModifiers(e->modifiers()) | ModifierBit(vk);
  KeyDown(vk);
  ShowKeyName();
}

void HotkeyEdit::keyReleaseEvent(QKeyEvent* e) {
  if (e->isAutoRepeat()) {
    // The key is still down: a repeat's release must not drop a held modifier.
    QLineEdit::keyReleaseEvent(e);
    return;
  }
  const unsigned vk = VirtualKeyFromQt(e->key(), e->modifiers());
  KeyUp(vk);
  ShowKeyName();
  QLineEdit::keyReleaseEvent(e);
}

void HotkeyEdit::focusInEvent(QFocusEvent* e) {
  // Whatever was held when the field lost the focus was released elsewhere.
  fsHeld = 0;
  QLineEdit::focusInEvent(e);
}

void HotkeyEdit::focusOutEvent(QFocusEvent* e) {
  QLineEdit::focusOutEvent(e);
  if (e->reason() != Qt::PopupFocusReason)
    emit focusLost();
}

void HotkeyEdit::KeyDown(unsigned vk) {
  const unsigned bit = ModifierBit(vk);
  if (fsHeld == 0) {
    // Nothing held: a new combination begins.
    fsModifiers = bit;
    fsHeld = bit;
    nVirtualKey = bit ? 0 : vk;
  } else if (bit) {
    // A flag set: a repeated press of a held modifier must not change it.
    fsModifiers |= bit;
    fsHeld |= bit;
  } else {
    nVirtualKey = vk;
  }
}

void HotkeyEdit::KeyUp(unsigned vk) {
  fsHeld &= ~ModifierBit(vk);
}

}  // namespace tonvale::hotkeys
