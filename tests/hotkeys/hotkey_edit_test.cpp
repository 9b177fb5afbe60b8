#include "hotkeys/hotkey_edit.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>
#include <vector>

namespace tonvale::hotkeys {
namespace {

struct Key {
  bool press;
  Qt::Key key;
  Qt::KeyboardModifiers modifiers = Qt::NoModifier;
};
Key Down(Qt::Key k, Qt::KeyboardModifiers m = Qt::NoModifier) {
  return {true, k, m};
}
Key Up(Qt::Key k, Qt::KeyboardModifiers m = Qt::NoModifier) {
  return {false, k, m};
}

void Send(QWidget* w, const std::vector<Key>& keys) {
  for (const Key& k : keys) {
    if (k.press) {
      QTest::keyPress(w, k.key, k.modifiers);
    } else {
      QTest::keyRelease(w, k.key, k.modifiers);
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
  constexpr auto C = Qt::ControlModifier;
  constexpr auto A = Qt::AltModifier;
  constexpr auto S = Qt::ShiftModifier;
  constexpr auto K = Qt::KeypadModifier;
  struct Case {
    const char* name;
    std::vector<Key> keys;
    QString text;
    unsigned modifiers, vk, held;
  };
  const std::vector<Case> cases = {
      {"ctrl alt r",
       {Down(Qt::Key_Control, C), Down(Qt::Key_Alt, C | A), Down(Qt::Key_R, C | A)},
       QStringLiteral("Ctrl + Alt + r"),
       3,
       0x52,
       3},
      {"alt then ctrl",
       {Down(Qt::Key_Alt, A), Down(Qt::Key_Control, C | A)},
       QStringLiteral("Ctrl + Alt + "),
       3,
       0,
       3},
      {"ctrl r up s",
       {Down(Qt::Key_Control, C), Down(Qt::Key_R, C), Up(Qt::Key_R, C), Down(Qt::Key_S, C)},
       QStringLiteral("Ctrl + s"),
       2,
       0x53,
       2},
      {"ctrl released then r",
       {Down(Qt::Key_Control, C), Up(Qt::Key_Control), Down(Qt::Key_R)},
       QStringLiteral("r"),
       0,
       0x52,
       0},
      {"f5 alone", {Down(Qt::Key_F5)}, QStringLiteral("F5"), 0, 0x74, 0},
      {"delete has no name", {Down(Qt::Key_Delete)}, QString(), 0, 0x2E, 0},
      {"shift alone", {Down(Qt::Key_Shift, S)}, QStringLiteral("Shift + "), 4, 0, 4},
      {"shift ctrl alt keypad 5 in fixed order",
       {Down(Qt::Key_Alt, A), Down(Qt::Key_Shift, A | S), Down(Qt::Key_Control, A | S | C),
        Down(Qt::Key_5, A | S | C | K)},
       QStringLiteral("Shift + Ctrl + Alt + Num5"),
       7,
       0x65,
       7},
      {"repeated ctrl press stays ctrl",
       {Down(Qt::Key_Control, C), Down(Qt::Key_Control, C), Down(Qt::Key_Control, C),
        Down(Qt::Key_R, C)},
       QStringLiteral("Ctrl + r"),
       2,
       0x52,
       2},
      {"shifted digit is the digit key",
       {Down(Qt::Key_Shift, S), Down(Qt::Key_Exclam, S)},
       QStringLiteral("Shift + 1"),
       4,
       0x31,
       4},
      {"escape is captured",
       {Down(Qt::Key_Control, C), Down(Qt::Key_Escape, C)},
       QStringLiteral("Ctrl + "),
       2,
       0x1B,
       2},
      {"unmapped key is ignored",
       {Down(Qt::Key_Control, C), Down(Qt::Key_CapsLock, C)},
       QStringLiteral("Ctrl + "),
       2,
       0,
       2},
      {"bare key replaces the combination",
       {Down(Qt::Key_Control, C), Down(Qt::Key_R, C), Up(Qt::Key_R, C), Up(Qt::Key_Control),
        Down(Qt::Key_Up)},
       QStringLiteral("Up"),
       0,
       0x26,
       0},
      {"release of all modifiers keeps the combination",
       {Down(Qt::Key_Control, C), Down(Qt::Key_Alt, C | A), Down(Qt::Key_S, C | A),
        Up(Qt::Key_S, C | A), Up(Qt::Key_Alt, C), Up(Qt::Key_Control)},
       QStringLiteral("Ctrl + Alt + s"),
       3,
       0x53,
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Window w;
    w.field->SetModifiers(3);
    w.field->SetVirtualKey(0x52);
    w.field->ShowKeyName();
    Send(w.field, c.keys);
    EXPECT_EQ(w.field->text(), c.text);
    EXPECT_EQ(w.field->GetModifiers(), c.modifiers);
    EXPECT_EQ(w.field->GetVirtualKey(), c.vk);
    EXPECT_EQ(w.field->fsHeld, c.held);
    EXPECT_EQ(QApplication::focusWidget(), w.field);
    EXPECT_EQ(w.clicks, 0);  // neither a mnemonic nor the default button acted
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
  QTest::keyPress(w.field, Qt::Key_Control, Qt::ControlModifier);
  w.record->setFocus();  // Ctrl's release goes to the button
  QTest::keyRelease(w.record, Qt::Key_Control);
  EXPECT_EQ(lost.count(), 1);
  w.field->setFocus();
  QTest::keyPress(w.field, Qt::Key_R);
  EXPECT_EQ(w.field->text(), QStringLiteral("Ctrl + r"));
  EXPECT_EQ(w.field->GetModifiers(), 2u);
  EXPECT_EQ(w.field->fsHeld, 2u);
}

TEST(HotkeyEdit, PastedTextChangesOnlyTheDisplay) {
  Window w;
  w.field->SetModifiers(2);
  w.field->SetVirtualKey(0x53);
  w.field->ShowKeyName();
  QApplication::clipboard()->setText(QStringLiteral("pasted"));
  w.field->paste();
  EXPECT_TRUE(w.field->text().contains(QStringLiteral("pasted")));
  EXPECT_EQ(w.field->GetModifiers(), 2u);
  EXPECT_EQ(w.field->GetVirtualKey(), 0x53u);
  QTest::keyClick(w.field, Qt::Key_F5);
  EXPECT_EQ(w.field->text(), QStringLiteral("F5"));
}

TEST(KeyNames, NameTableHas72EntriesWithTheseNames) {
  int named = 0;
  for (unsigned vk = 0; vk < 0x200; ++vk) named += KeyName(vk).isEmpty() ? 0 : 1;
  EXPECT_EQ(named, 72);
  const std::vector<std::pair<unsigned, const char*>> cases = {
      {0x21, "PageUp"}, {0x22, "PageDown"}, {0x23, "End"},  {0x24, "Home"},   {0x25, "Left"},
      {0x26, "Up"},     {0x27, "Right"},    {0x28, "Down"}, {0x2D, "Insert"}, {0x30, "0"},
      {0x39, "9"},      {0x41, "a"},        {0x5A, "z"},    {0x60, "Num0"},   {0x69, "Num9"},
      {0x6A, "Num*"},   {0x6B, "Num+"},     {0x6D, "Num-"}, {0x6E, "Num."},   {0x6F, "Num/"},
      {0x70, "F1"},     {0x7B, "F12"},      {0x2E, ""},     {0x6C, ""},       {0x7C, ""},
      {0x20, ""},       {0x09, ""},         {0x5B, ""},     {0x40, ""},       {0x3A, ""},
  };
  for (const auto& [vk, name] : cases) EXPECT_EQ(KeyName(vk), QLatin1String(name)) << vk;
  EXPECT_EQ(CombinationName(0, 0), QStringLiteral("None"));
  EXPECT_EQ(CombinationName(7, 0x2E), QStringLiteral("Shift + Ctrl + Alt + "));
  EXPECT_EQ(CombinationName(0, 0x2E), QString());
}

TEST(KeyNames, QtKeysMapToVirtualKeys) {
  constexpr auto K = Qt::KeypadModifier;
  struct Case {
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    unsigned vk;
  };
  const std::vector<Case> cases = {
      {Qt::Key_A, {}, 0x41},        {Qt::Key_Z, Qt::ShiftModifier, 0x5A},
      {Qt::Key_0, {}, 0x30},        {Qt::Key_9, {}, 0x39},
      {Qt::Key_0, K, 0x60},         {Qt::Key_9, K, 0x69},
      {Qt::Key_Asterisk, K, 0x6A},  {Qt::Key_Plus, K, 0x6B},
      {Qt::Key_Minus, K, 0x6D},     {Qt::Key_Period, K, 0x6E},
      {Qt::Key_Slash, K, 0x6F},     {Qt::Key_Enter, K, 0x0D},
      {Qt::Key_Home, K, 0x24},      {Qt::Key_F1, {}, 0x70},
      {Qt::Key_F12, {}, 0x7B},      {Qt::Key_F24, {}, 0x87},
      {Qt::Key_Left, {}, 0x25},     {Qt::Key_Down, {}, 0x28},
      {Qt::Key_PageUp, {}, 0x21},   {Qt::Key_PageDown, {}, 0x22},
      {Qt::Key_End, {}, 0x23},      {Qt::Key_Insert, {}, 0x2D},
      {Qt::Key_Delete, {}, 0x2E},   {Qt::Key_Tab, {}, 0x09},
      {Qt::Key_Return, {}, 0x0D},   {Qt::Key_Escape, {}, 0x1B},
      {Qt::Key_Space, {}, 0x20},    {Qt::Key_Backspace, {}, 0x08},
      {Qt::Key_Pause, {}, 0x13},    {Qt::Key_Shift, {}, 0x10},
      {Qt::Key_Control, {}, 0x11},  {Qt::Key_Alt, {}, 0x12},
      {Qt::Key_Asterisk, {}, 0x38}, {Qt::Key_Plus, {}, 0xBB},
      {Qt::Key_CapsLock, {}, 0},    {Qt::Key_unknown, {}, 0},
      {Qt::Key_AltGr, {}, 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(VirtualKeyFromQt(c.key, c.modifiers), c.vk) << static_cast<int>(c.key);
}

}  // namespace
}  // namespace tonvale::hotkeys
