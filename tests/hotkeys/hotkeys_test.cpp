// The hotkey field, its key names, and the table its combinations go to.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QMetaEnum>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <tuple>

#include "fake_services.h"
#include "hotkeys/hotkey_edit.h"
#include "hotkeys/hotkey_table.h"

namespace tonvale::hotkeys {
namespace {

// A dialog with the field and a default button with a mnemonic, shown and active.
struct Window {
  QDialog dialog;
  HotkeyEdit* field = new HotkeyEdit(&dialog);
  QPushButton* record = new QPushButton(QStringLiteral("&Record"), &dialog);
  QSignalSpy clicks{record, &QPushButton::clicked};
  Window() {
    // The layout in use: a German "#" key, a French "&" key and the German Q key.
    field->SetKeyMapper([](std::uint32_t key) {
      return key == 51 ? 0xDCu : key == 10 ? 0x31u : key == 24 ? 0x51u : 0u;
    });
    record->setDefault(true);
    dialog.show();
    QApplication::setActiveWindow(&dialog);
    field->setFocus();
  }
  // Presses (+Name), releases (-Name), auto-repeats (=Name: a repeated release and press) and
  // releases the field does not see (~Name) of Qt::Key_Name, KP before a name for the keypad,
  // @code after it for its native key code, as X sends them: each with the modifiers held
  // before it, a press to the shortcuts (mnemonic, default button) first.
  void Send(const char* sequence) {
    Qt::KeyboardModifiers held;
    for (const QByteArray& token : QByteArray(sequence).split(' ')) {
      const bool keypad = token.mid(1).startsWith("KP"), repeat = token[0] == '=';
      const QList<QByteArray> name = token.mid(keypad ? 3 : 1).split('@');
      const auto key =
          Qt::Key(QMetaEnum::fromType<Qt::Key>().keyToValue(("Key_" + name[0]).constData()));
      const Qt::KeyboardModifiers mods = keypad ? Qt::KeypadModifier : Qt::NoModifier;
      const auto modifier = key == Qt::Key_Control ? Qt::ControlModifier
                            : key == Qt::Key_Alt   ? Qt::AltModifier
                            : key == Qt::Key_Shift ? Qt::ShiftModifier
                            : key == Qt::Key_AltGr ? Qt::GroupSwitchModifier
                                                   : Qt::NoModifier;
      for (const bool press : {false, true}) {
        if (token[0] == '~' || (!repeat && press != (token[0] == '+')))
          continue;
        QKeyEvent e(press ? QEvent::KeyPress : QEvent::KeyRelease, key, mods | held,
                    name.value(1).toUInt(), 0, 0, QString(), repeat);
        if (!press || !qt_sendShortcutOverrideEvent(field, 0, key, e.modifiers(), {}, repeat))
          QApplication::sendEvent(field, &e);
      }
      held = token[0] == '+' ? held | modifier : token[0] == '=' ? held : held & ~modifier;
    }
  }
};

// Every key, the dialog's own keys too, stays in the field and makes the combination.
TEST(HotkeyEdit, KeySequencesGiveCombinationAndNameNeverReachTheDialogAndNamesAreUnique) {
  // clang-format off
  const std::tuple<const char*, const char*, unsigned, unsigned, unsigned> cases[] = {
      // keys; the field's text, modifiers, virtual key and modifiers held
      {"+Control +Alt +R",                  "Ctrl + Alt + r",            3, 0x52, 3},
      {"+Control +R -R -Control +Alt +Control", "Ctrl + Alt + ",         3, 0,    3},
      {"+Control +R -R +S",                 "Ctrl + s",                  2, 0x53, 2},
      {"+Alt +Shift +Control +KP5",         "Shift + Ctrl + Alt + Num5", 7, 0x65, 7},
      {"+Control +R =Control",              "Ctrl + r",                  2, 0x52, 2},  // repeated
      {"+Control +R +CapsLock",             "Ctrl + r",                  2, 0x52, 2},  // no code
      {"+Control +R -R -Control +Up",       "Up",                        0, 0x26, 0},
      {"+Control +Alt +S -S -Alt -Control", "Ctrl + Alt + s",            3, 0x53, 0},
      // The mnemonic, and a shifted symbol: the key, not "!".
      {"+Alt +R", "Alt + r", 1, 0x52, 1}, {"+Shift +Exclam", "Shift + 1", 4, 0x31, 4},
      // Keys of the layout in use, AltGr as Ctrl + Alt, and modifiers released while the
      // keyboard was grabbed away (by the field's own hotkey).
      {"+Control +Alt +NumberSign@51", "Ctrl + Alt + ", 3, 0xDC, 3},
      {"+Control +Alt +Ampersand@10", "Ctrl + Alt + 1", 3, 0x31, 3},
      {"+AltGr +At@24", "Ctrl + Alt + q", 3, 0x51, 3},
      {"+Control +Alt ~Control ~Alt +F9", "F9", 0, 0x78, 0},
      // The ends of the ranges, and keys with a code but no name.
      {"+Z", "z", 0, 0x5A, 0}, {"+9", "9", 0, 0x39, 0}, {"+KP9", "Num9", 0, 0x69, 0},
      {"+F12", "F12", 0, 0x7B, 0}, {"+F24", "", 0, 0x87, 0}, {"+PageUp", "PageUp", 0, 0x21, 0},
      {"+KPHome", "Home", 0, 0x24, 0}, {"+KPAsterisk", "Num*", 0, 0x6A, 0},
      {"+KPComma", "Num.", 0, 0x6E, 0}, {"+KPSlash", "Num/", 0, 0x6F, 0},
      {"+Plus", "", 0, 0xBB, 0}, {"+Delete", "", 0, 0x2E, 0},
      // The dialog's own keys.
      {"+Tab", "", 0, 0x09, 0}, {"+Backtab", "", 0, 0x09, 0}, {"+Escape", "", 0, 0x1B, 0},
      {"+Return", "", 0, 0x0D, 0}, {"+KPEnter", "", 0, 0x0D, 0},
  };
  // clang-format on
  for (const auto& [keys, text, modifiers, vk, held] : cases) {
    SCOPED_TRACE(keys);
    Window w;
    w.Send(keys);
    EXPECT_EQ(std::tuple(w.field->text(), w.field->GetModifiers(), w.field->GetVirtualKey(),
                         w.field->fsHeld),
              std::tuple(QString::fromLatin1(text), modifiers, vk, held));
    // The focus stays, the dialog open, and neither the mnemonic nor the default button acts.
    EXPECT_TRUE(QApplication::focusWidget() == w.field && w.dialog.isVisible() && w.clicks.empty());
  }
  // The same key on the button does end the dialog, so the checks above can fail.
  Window w;
  w.record->setFocus();
  QTest::keyClick(w.record, Qt::Key_Escape);
  EXPECT_FALSE(w.dialog.isVisible());
  // Letters, digits, keypad digits and operators, F1-F12 and nine navigation keys have names.
  QStringList names;
  for (unsigned vk = 0; vk < 0x200; ++vk) names << KeyName(vk);
  names.removeAll(QString());
  EXPECT_EQ(names.size(), 26 + 10 + 10 + 5 + 12 + 9);
  EXPECT_EQ(names.removeDuplicates(), 0);
  EXPECT_EQ(CombinationName(0, 0), QLatin1String("None"));
}

// A field losing the focus re-registers both hotkeys and stores them (its speed data reset) only
// when both succeed, else a box tells. Defaults, a failing Start: tests/reliability, e2e.
TEST(HotkeyTable, FieldLosingFocusReregistersInOrderAndSavesOnlyOnSuccess) {
  const std::tuple<int, unsigned, unsigned, bool, const char*, const char*> cases[] = {
      // entry, its combination, whether it is taken; the calls, the values stored
      {1, 6, 116, true, "ua100|ua101|ra100 3 82|ra101 6 116", ""},
      {2, 1, 65, false, "", ""},  // no such entry
      {0, 2, 65, false, "ua100|ua101|ra100 2 65|ra101 3 83", "2 65 0 3 83 8"},
  };
  testing::FakeProfileStore store;
  store.values = {{QStringLiteral("HotKey/mHotKey[0].nSpeedData"), QStringLiteral("7")},
                  {QStringLiteral("HotKey/mHotKey[1].nSpeedData"), QStringLiteral("8")}};
  Window w;  // the field and its owner
  for (const auto& [entry, modifiers, vk, taken, registers, stored] : cases) {
    SCOPED_TRACE(registers);
    HotkeyTable table;
    table.LoadHotKeys(store);
    testing::FakeHotkeyRegistrar registrar;
    registrar.refuse.assign(taken, {modifiers, vk});  // held by another program
    testing::FakeMessageBoxes boxes;
    w.field->SetModifiers(modifiers);
    w.field->SetVirtualKey(vk);
    table.OnFieldKillFocus(entry, *w.field, registrar, boxes, &w.dialog, store);
    EXPECT_EQ(registrar.calls.join(u'|'), QLatin1String(registers));
    ASSERT_EQ(boxes.shown.size(), taken ? 1u : 0u);  // naming the entry, owned by the window
    EXPECT_TRUE(!taken || (boxes.shown[0].text.startsWith(QLatin1String("Stop Record hot key")) &&
                           boxes.shown[0].owned &&
                           boxes.shown[0].icon == platform::MessageBoxes::Icon::None));
    QStringList written;
    for (const QString& key : store.writes) written << store.values[key];
    EXPECT_EQ(written.join(u' '), QLatin1String(stored));
  }
}

}  // namespace
}  // namespace tonvale::hotkeys
