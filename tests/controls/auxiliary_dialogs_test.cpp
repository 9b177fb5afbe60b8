#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include "app/about_dialog.h"
#include "app/input_hint_dialog.h"
#include "controls/round_button.h"
#include "fake_services.h"
#include "resources/resources.h"

namespace tonvale::app {
namespace {

using namespace Qt::Literals::StringLiterals;

// The box is ticked at each opening, however the last one ended; OK (Enter, the default)
// stores it, any other way of closing stores nothing.
TEST(InputHintDialog, BoxIsTickedAtEachOpeningAndOnlyOkStoresIt) {
  struct Case {
    const char* name;
    bool clear;
    int key;  // 0: the window's close button
    int result;
    const char* stored;
  };
  const Case cases[] = {{"Escape", true, Qt::Key_Escape, QDialog::Rejected, nullptr},
                        {"close button", true, 0, QDialog::Rejected, nullptr},
                        {"OK ticked", false, Qt::Key_Return, QDialog::Accepted, "1"},
                        {"OK cleared", true, Qt::Key_Return, QDialog::Accepted, "0"}};
  testing::FakeProfileStore profile;
  InputHintDialog dialog(profile);
  auto* box = dialog.findChild<QCheckBox*>(u"1055"_s);
  EXPECT_EQ(qobject_cast<controls::RoundButton*>(dialog.findChild<QPushButton*>(u"1"_s)), nullptr);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    profile.writes.clear();
    dialog.open();
    EXPECT_TRUE(box->isChecked());
    if (c.clear)
      box->click();
    c.key ? QTest::keyClick(&dialog, Qt::Key(c.key)) : void(dialog.close());
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), c.result);
    EXPECT_EQ(profile.writes.size(), c.stored ? 1u : 0u);
    if (c.stored) {
      EXPECT_EQ(profile.values[u"Option/b_only_once"_s], QLatin1String(c.stored));
      EXPECT_EQ(dialog.m_bDontShowAgain, c.clear ? 0 : 1);
    }
  }
  InputHintDialog next(profile);
  next.open();
  EXPECT_TRUE(next.findChild<QCheckBox*>(u"1055"_s)->isChecked());
}

TEST(AboutDialog, OkIsAPaintedRoundButtonWithTheDefaultFaceThatEnterClicksBesideTheIcon) {
  const QPixmap face = resources::Bitmap(resources::kBitmapDefaultFace);
  auto& defaults = controls::RoundButtonDefaults::Instance();
  defaults.pFaceNormal = defaults.pFacePressed = &face;
  AboutDialog about;
  defaults.pFaceNormal = defaults.pFacePressed = nullptr;
  ASSERT_NE(about.m_btnOK, nullptr);
  EXPECT_EQ(about.m_btnOK->normalFace(), &face);
  EXPECT_EQ(about.m_btnOK->buttonType(), 1);  // a default push button: painted
  // Beside the text, the program's icon: a red dot.
  const QImage shot = about.grab().toImage();
  const QLabel* icon = nullptr;
  for (const QLabel* l : about.findChildren<QLabel*>()) icon = l->pixmap().isNull() ? icon : l;
  ASSERT_NE(icon, nullptr);
  EXPECT_GT(qRed(shot.pixel(icon->geometry().center())), 150);
  EXPECT_LT(qGreen(shot.pixel(icon->geometry().center())), 80);
  about.open();
  QTest::keyClick(&about, Qt::Key_Return);
  EXPECT_EQ(about.result(), QDialog::Accepted);
}

}  // namespace
}  // namespace tonvale::app
