// The hotkey field on a real X display: key events as the X server and Qt's xcb backend
// deliver them, pressed through XTest.

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <QVBoxLayout>
#include <QWidget>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "hotkeys/hotkey_edit.h"
#include "private_server.h"

namespace tonvale::hotkeys {
namespace {

struct Case {
  const char* keys;  // xdotool key arguments, pressed one after the other
  QString text;
  unsigned modifiers, vk;
};

TEST(HotkeyEditOnX11, CapturesWhatTheKeyboardSends) {
  const std::vector<Case> cases = {
      {"ctrl+alt+r", QStringLiteral("Ctrl + Alt + r"), 3, 0x52},
      {"shift+1", QStringLiteral("Shift + 1"), 4, 0x31},
      {"ctrl+shift+F5", QStringLiteral("Shift + Ctrl + F5"), 6, 0x74},
      {"alt+KP_Add", QStringLiteral("Alt + Num+"), 1, 0x6B},
      {"x", QStringLiteral("x"), 0, 0x58},
      {"Tab", QString(), 0, 0x09},
      {"ctrl+alt+s Escape", QString(), 0, 0x1B},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.keys);
    QWidget window;
    auto* field = new HotkeyEdit(&window);
    auto* other = new QLineEdit(&window);
    auto* layout = new QVBoxLayout(&window);
    layout->addWidget(field);
    layout->addWidget(other);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    field->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return field->hasFocus(); }, 5000));

    std::vector<std::string> argv = {"xdotool", "key", "--delay", "20"};
    for (const QString& k : QString::fromLatin1(c.keys).split(u' '))
      argv.push_back(k.toStdString());
    ASSERT_EQ(testing::RunProgram(argv), 0);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return field->GetVirtualKey() == c.vk && field->fsHeld == 0; }, 5000));
    QTest::qWait(50);  // anything still queued from the presses arrives before the checks
    EXPECT_EQ(field->text(), c.text);
    EXPECT_EQ(field->GetModifiers(), c.modifiers);
    EXPECT_EQ(field->GetVirtualKey(), c.vk);
    EXPECT_TRUE(field->hasFocus());
    EXPECT_TRUE(other->text().isEmpty());
  }
}

}  // namespace
}  // namespace tonvale::hotkeys

int main(int argc, char** argv) {
  // The display must exist before the application connects to it.
  tonvale::testing::PrivateXvfb xvfb;
  if (!xvfb.started()) {
    std::fprintf(stderr, "Xvfb did not start\n");
    return 1;
  }
  qputenv("QT_QPA_PLATFORM", "xcb");
  int result = 0;
  {
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    result = RUN_ALL_TESTS();
  }
  return result;
}
