#include "hotkeys/hotkey_edit.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QMetaEnum>
#include <QPushButton>
#include <QTest>
#include <cstring>
#include <tuple>

namespace tonvale::hotkeys {
namespace {

using namespace Qt::Literals::StringLiterals;

// A dialog with the field and a default button with a mnemonic, shown and active.
struct Window {
  QDialog dialog;
  HotkeyEdit* field = new HotkeyEdit(&dialog);
  QPushButton* record = new QPushButton(u"&Record"_s, &dialog);
  int clicks = 0, lost = 0;
  Window() {
    record->setDefault(true);
    QObject::connect(record, &QPushButton::clicked, [this] { ++clicks; });
    QObject::connect(field, &HotkeyEdit::focusLost, [this] { ++lost; });
    dialog.show();
    QApplication::setActiveWindow(&dialog);
    field->setFocus();
  }
  // To the focused widget: presses (+Name), releases (-Name) and auto-repeats (=Name: a
  // release and a press flagged as repeated) Qt::Key_Name, "KP" before a name marks the
  // keypad; "~" moves the focus between the field and the button. A key pressed carries the
  // modifiers held, as from a keyboard (QTest presses them again first).
  void Send(const char* sequence) {
    Qt::KeyboardModifiers held;
    for (const QByteArray& token : QByteArray(sequence).split(' ')) {
      QWidget* to = QApplication::focusWidget();
      if (token == "~") {
        (to == field ? static_cast<QWidget*>(record) : field)->setFocus();
        continue;
      }
      const bool keypad = token.mid(1).startsWith("KP");
      bool ok = false;
      const auto key = static_cast<Qt::Key>(QMetaEnum::fromType<Qt::Key>().keyToValue(
          ("Key_" + token.mid(keypad ? 3 : 1)).constData(), &ok));
      ASSERT_TRUE(ok) << token.constData();
      const auto modifier = key == Qt::Key_Control ? Qt::ControlModifier
                            : key == Qt::Key_Alt   ? Qt::AltModifier
                            : key == Qt::Key_Shift ? Qt::ShiftModifier
                                                   : Qt::NoModifier;
      const Qt::KeyboardModifiers mods = keypad ? Qt::KeypadModifier : Qt::NoModifier;
      if (token[0] == '=') {
        for (const auto type : {QEvent::KeyRelease, QEvent::KeyPress}) {
          QKeyEvent repeated(type, key, mods, QString(), true);
          QApplication::sendEvent(to, &repeated);
        }
      } else if (token[0] == '+') {
        QTest::keyPress(to, key, modifier ? mods : mods | held);
        held |= modifier;
      } else {
        QTest::keyRelease(to, key, mods);
        held &= ~modifier;
      }
    }
  }
};

// Every key, the dialog's own keys too, stays in the field and makes the combination.
TEST(HotkeyEdit, KeySequencesGiveCombinationAndNameAndNeverReachTheDialog) {
  // clang-format off
  const std::tuple<const char*, QString, unsigned, unsigned, unsigned> cases[] = {
      // keys, then the field's text, modifiers, virtual key and modifiers held
      {"+Control +Alt +R",                u"Ctrl + Alt + r"_s, 3, 0x52, 3},
      {"+Alt +Control",                   u"Ctrl + Alt + "_s,  3, 0,    3},
      {"+Control +R -R +S",               u"Ctrl + s"_s,       2, 0x53, 2},
      {"+Control -Control +R",            u"r"_s,              0, 0x52, 0},
      {"+Alt +Shift +Control +KP5",       u"Shift + Ctrl + Alt + Num5"_s, 7, 0x65, 7},
      {"+Control +Control +Control +R",   u"Ctrl + r"_s,       2, 0x52, 2},  // auto-repeat
      {"+Control +R =Control",            u"Ctrl + r"_s,       2, 0x52, 2},
      {"+Alt +R",                         u"Alt + r"_s,        1, 0x52, 1},  // the mnemonic
      {"+Shift +Z",                       u"Shift + z"_s,      4, 0x5A, 4},
      {"+Shift +Exclam",                  u"Shift + 1"_s,      4, 0x31, 4},  // the key, not "!"
      {"+Control +CapsLock",              u"Ctrl + "_s,        2, 0,    2},  // a key without a code
      {"+Control +R -R -Control +Up",     u"Up"_s,             0, 0x26, 0},
      {"+Control +Alt +S -S -Alt -Control", u"Ctrl + Alt + s"_s, 3, 0x53, 0},
      // A release the field does not see: the modifier still counts as held.
      {"+Control ~ -Control ~ +R",        u"Ctrl + r"_s,       2, 0x52, 2},
      // Names and codes at the ends of the ranges, and keys with a code but no name.
      {"+9", u"9"_s, 0, 0x39, 0},          {"+KP9", u"Num9"_s, 0, 0x69, 0},
      {"+F12", u"F12"_s, 0, 0x7B, 0},      {"+F24", u""_s, 0, 0x87, 0},
      {"+PageUp", u"PageUp"_s, 0, 0x21, 0},
      {"+KPHome", u"Home"_s, 0, 0x24, 0},  {"+KPAsterisk", u"Num*"_s, 0, 0x6A, 0},
      {"+KPComma", u"Num."_s, 0, 0x6E, 0}, {"+KPSlash", u"Num/"_s, 0, 0x6F, 0},
      {"+Plus", u""_s, 0, 0xBB, 0},        {"+Delete", u""_s, 0, 0x2E, 0},
      // The dialog's own keys.
      {"+Tab", u""_s, 0, 0x09, 0}, {"+Backtab", u""_s, 0, 0x09, 0}, {"+Escape", u""_s, 0, 0x1B, 0},
      {"+Return", u""_s, 0, 0x0D, 0}, {"+KPEnter", u""_s, 0, 0x0D, 0},
  };
  // clang-format on
  for (const auto& [keys, text, modifiers, vk, held] : cases) {
    SCOPED_TRACE(keys);
    Window w;
    w.field->SetModifiers(3);
    w.field->SetVirtualKey(0x52);
    w.field->ShowKeyName();
    w.Send(keys);
    EXPECT_EQ(std::tuple(w.field->text(), w.field->GetModifiers(), w.field->GetVirtualKey(),
                         w.field->fsHeld),
              std::tuple(text, modifiers, vk, held));
    EXPECT_EQ(w.lost, std::strchr(keys, '~') ? 1 : 0);
    // Neither the focus moved, nor the dialog ended, nor the "&Record" mnemonic or the
    // default button acted.
    EXPECT_TRUE(QApplication::focusWidget() == w.field && w.dialog.isVisible() && w.clicks == 0);
  }
  // The same key on the button does end the dialog, so the checks above can fail.
  Window w;
  w.record->setFocus();
  QTest::keyClick(w.record, Qt::Key_Escape);
  EXPECT_FALSE(w.dialog.isVisible());
}

// Named are the letters, digits, keypad digits and operators, F1-F12 and the nine navigation
// keys, each with a name of its own.
TEST(KeyNames, EachNamedCodeHasANameOfItsOwn) {
  QStringList names;
  for (unsigned vk = 0; vk < 0x200; ++vk) names << KeyName(vk);
  names.removeAll(QString());
  EXPECT_EQ(names.size(), 26 + 10 + 10 + 5 + 12 + 9);
  EXPECT_EQ(names.removeDuplicates(), 0);
  EXPECT_EQ(CombinationName(0, 0), u"None"_s);
}

}  // namespace
}  // namespace tonvale::hotkeys
