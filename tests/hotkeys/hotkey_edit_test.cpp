#include "hotkeys/hotkey_edit.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QMap>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>
#include <vector>

namespace tonvale::hotkeys {
namespace {

using namespace Qt::Literals::StringLiterals;

// Presses (+Name) and releases (-Name) keys in the field; "KP" before a name marks the keypad.
// Events carry no held modifiers: QTest would press those keys again first.
void Send(QWidget* w, const QString& sequence) {
  static const QMap<QString, Qt::Key> kKeys = {
      {u"Ctrl"_s, Qt::Key_Control},  {u"Alt"_s, Qt::Key_Alt},       {u"Shift"_s, Qt::Key_Shift},
      {u"R"_s, Qt::Key_R},           {u"S"_s, Qt::Key_S},           {u"5"_s, Qt::Key_5},
      {u"F5"_s, Qt::Key_F5},         {u"Delete"_s, Qt::Key_Delete}, {u"!"_s, Qt::Key_Exclam},
      {u"Caps"_s, Qt::Key_CapsLock}, {u"Up"_s, Qt::Key_Up}};
  for (QString token : sequence.split(u' ')) {
    const bool press = token.front() == u'+';
    const bool keypad = token.mid(1).startsWith(u"KP"_s);
    token.remove(0, keypad ? 3 : 1);
    ASSERT_TRUE(kKeys.contains(token)) << token.toStdString();
    const Qt::KeyboardModifiers modifiers = keypad ? Qt::KeypadModifier : Qt::NoModifier;
    if (press) {
      QTest::keyPress(w, kKeys[token], modifiers);
    } else {
      QTest::keyRelease(w, kKeys[token], modifiers);
    }
  }
}

// A window with the field and a second focusable control, shown and active.
struct Window {
  QDialog dialog;
  HotkeyEdit* field = new HotkeyEdit(&dialog);
  QPushButton* record = new QPushButton(QStringLiteral("&Record"), &dialog);
  int clicks = 0;

  Window() {
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(field);
    layout->addWidget(record);
    record->setDefault(true);
    QObject::connect(record, &QPushButton::clicked, &dialog, [this] { ++clicks; });
    dialog.show();
    QApplication::setActiveWindow(&dialog);
    field->setFocus();
  }
};

TEST(HotkeyEdit, KeySequencesGiveCombinationAndName) {
  struct Case {
    const char* keys;
    QString text;
    unsigned modifiers, vk, held;
  };
  // clang-format off
  const std::vector<Case> cases = {
      {"+Ctrl +Alt +R",                 u"Ctrl + Alt + r"_s, 3, 0x52, 3},
      {"+Alt +Ctrl",                    u"Ctrl + Alt + "_s,  3, 0,    3},
      {"+Ctrl +R -R +S",                u"Ctrl + s"_s,       2, 0x53, 2},
      {"+Ctrl -Ctrl +R",                u"r"_s,              0, 0x52, 0},
      {"+F5",                           u"F5"_s,             0, 0x74, 0},
      {"+Delete",                       u""_s,               0, 0x2E, 0},
      {"+Shift",                        u"Shift + "_s,       4, 0,    4},
      {"+Alt +Shift +Ctrl +KP5",        u"Shift + Ctrl + Alt + Num5"_s, 7, 0x65, 7},
      {"+Ctrl +Ctrl +Ctrl +R",          u"Ctrl + r"_s,       2, 0x52, 2},  // auto-repeat
      {"+Shift +!",                     u"Shift + 1"_s,      4, 0x31, 4},
      {"+Ctrl +Caps",                   u"Ctrl + "_s,        2, 0,    2},  // unmapped key
      {"+Ctrl +R -R -Ctrl +Up",         u"Up"_s,             0, 0x26, 0},
      {"+Ctrl +Alt +S -S -Alt -Ctrl",   u"Ctrl + Alt + s"_s, 3, 0x53, 0},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.keys);
    Window w;
    w.field->SetModifiers(3);
    w.field->SetVirtualKey(0x52);
    w.field->ShowKeyName();
    Send(w.field, QString::fromLatin1(c.keys));
    EXPECT_EQ(w.field->text(), c.text);
    EXPECT_EQ(w.field->GetModifiers(), c.modifiers);
    EXPECT_EQ(w.field->GetVirtualKey(), c.vk);
    EXPECT_EQ(w.field->fsHeld, c.held);
    EXPECT_EQ(QApplication::focusWidget(), w.field);
    EXPECT_EQ(w.clicks, 0);  // neither the "&Record" mnemonic nor the default button acted
  }
}

TEST(HotkeyEdit, DialogKeysStayInTheField) {
  const std::vector<std::pair<Qt::Key, unsigned>> cases = {
      {Qt::Key_Tab, 0x09},    {Qt::Key_Backtab, 0x09}, {Qt::Key_Escape, 0x1B},
      {Qt::Key_Return, 0x0D}, {Qt::Key_Enter, 0x0D},
  };
  for (const auto& [key, vk] : cases) {
    SCOPED_TRACE(static_cast<int>(key));
    Window w;
    QSignalSpy finished(&w.dialog, &QDialog::finished);
    QTest::keyClick(w.field, key);
    EXPECT_EQ(w.field->GetVirtualKey(), vk);
    EXPECT_EQ(w.field->text(), QString());  // none of these keys has a name
    EXPECT_EQ(QApplication::focusWidget(), w.field);
    EXPECT_TRUE(w.dialog.isVisible());
    EXPECT_EQ(finished.count(), 0);
    EXPECT_EQ(w.clicks, 0);
  }
  // The control: the same keys on the button do end the dialog, so the checks above can fail.
  Window w;
  w.record->setFocus();
  QTest::keyClick(w.record, Qt::Key_Escape);
  EXPECT_FALSE(w.dialog.isVisible());
}

TEST(HotkeyEdit, ModifierHeldOverFocusChangeExtendsTheOldCombination) {
  Window w;
  QSignalSpy lost(w.field, &HotkeyEdit::focusLost);
  QTest::keyPress(w.field, Qt::Key_Control);
  w.record->setFocus();  // Ctrl's release goes to the button
  QTest::keyRelease(w.record, Qt::Key_Control);
  EXPECT_EQ(lost.count(), 1);
  w.field->setFocus();
  QTest::keyPress(w.field, Qt::Key_R);
  EXPECT_EQ(w.field->text(), QStringLiteral("Ctrl + r"));
  EXPECT_EQ(w.field->GetModifiers(), 2u);
  EXPECT_EQ(w.field->fsHeld, 2u);
}

TEST(KeyNames, NameTableHas72Entries) {
  int named = 0;
  for (unsigned vk = 0; vk < 0x200; ++vk) named += KeyName(vk).isEmpty() ? 0 : 1;
  EXPECT_EQ(named, 72);
  const std::vector<std::pair<unsigned, const char*>> cases = {
      {0x21, "PageUp"}, {0x2D, "Insert"}, {0x30, "0"},    {0x5A, "z"},
      {0x69, "Num9"},   {0x6A, "Num*"},   {0x6E, "Num."}, {0x6F, "Num/"},
      {0x7B, "F12"},    {0x6C, ""},       {0x7C, ""},     {0x5B, ""},
  };
  for (const auto& [vk, name] : cases) EXPECT_EQ(KeyName(vk), QLatin1String(name)) << vk;
  EXPECT_EQ(CombinationName(0, 0), QStringLiteral("None"));
}

TEST(KeyNames, QtKeysMapToVirtualKeys) {
  constexpr auto K = Qt::KeypadModifier;
  struct Case {
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    unsigned vk;
  };
  const std::vector<Case> cases = {
      {Qt::Key_Z, Qt::ShiftModifier, 0x5A},
      {Qt::Key_0, K, 0x60},
      {Qt::Key_9, K, 0x69},
      {Qt::Key_Plus, K, 0x6B},
      {Qt::Key_Slash, K, 0x6F},
      {Qt::Key_Enter, K, 0x0D},
      {Qt::Key_Home, K, 0x24},
      {Qt::Key_F24, {}, 0x87},
      {Qt::Key_Backtab, {}, 0x09},
      {Qt::Key_Plus, {}, 0xBB},
      {Qt::Key_Asterisk, {}, 0x38},
      {Qt::Key_AltGr, {}, 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(VirtualKeyFromQt(c.key, c.modifiers), c.vk) << static_cast<int>(c.key);
}

}  // namespace
}  // namespace tonvale::hotkeys
