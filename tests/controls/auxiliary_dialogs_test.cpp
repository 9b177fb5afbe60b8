#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <tuple>
#include <vector>

#include "app/about_dialog.h"
#include "app/input_hint_dialog.h"
#include "controls/round_button.h"
#include "pixel_helpers.h"
#include "resources/resources.h"

namespace {

using tonvale::app::AboutDialog;
using tonvale::app::InputHintDialog;
using tonvale::controls::RoundButton;
using tonvale::controls::RoundButtonDefaults;
using namespace tonvale::testing;

class FakeProfile : public tonvale::platform::ProfileStore {
 public:
  std::vector<std::tuple<QString, QString, int>> intWrites;
  int GetProfileInt(const QString&, const QString&, int defaultValue) override {
    return defaultValue;
  }
  void WriteProfileInt(const QString& section, const QString& key, int value) override {
    intWrites.emplace_back(section, key, value);
  }
  QString GetProfileString(const QString&, const QString&, const QString& d) override { return d; }
  void WriteProfileString(const QString&, const QString&, const QString&) override {
    ++stringWrites;
  }
  int stringWrites = 0;
};

void PressEscape(QWidget* w) {
  QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QApplication::sendEvent(w, &press);
}

QCheckBox* Box(QDialog& d) {
  return d.findChild<QCheckBox*>(QStringLiteral("1055"));
}
QPushButton* Ok(QDialog& d) {
  return d.findChild<QPushButton*>(QStringLiteral("1"));
}

TEST(InputHintDialog, OkStoresTheBoxAndOtherClosesStoreNothing) {
  enum class Close { Ok, Escape, CloseButton };
  struct Case {
    const char* name;
    bool clearBox;
    Close close;
    QDialog::DialogCode result;
    std::vector<std::tuple<QString, QString, int>> writes;
  };
  const QString option = QStringLiteral("Option");
  const QString key = QStringLiteral("b_only_once");
  const Case cases[] = {
      {"OK ticked", false, Close::Ok, QDialog::Accepted, {{option, key, 1}}},
      {"OK cleared", true, Close::Ok, QDialog::Accepted, {{option, key, 0}}},
      {"Escape", true, Close::Escape, QDialog::Rejected, {}},
      {"close button", true, Close::CloseButton, QDialog::Rejected, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeProfile profile;
    InputHintDialog dialog(profile);
    EXPECT_EQ(dialog.m_bDontShowAgain, 1);
    dialog.open();
    ASSERT_TRUE(Box(dialog)->isChecked());
    if (c.clearBox)
      Box(dialog)->click();
    switch (c.close) {
      case Close::Ok:
        Ok(dialog)->click();
        break;
      case Close::Escape:
        PressEscape(&dialog);
        break;
      case Close::CloseButton:
        dialog.close();
        break;
    }
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), c.result);
    EXPECT_EQ(profile.intWrites, c.writes);
    EXPECT_EQ(profile.stringWrites, 0);
    if (c.close == Close::Ok) {
      EXPECT_EQ(dialog.m_bDontShowAgain, c.clearBox ? 0 : 1);
    }
  }
}

TEST(InputHintDialog, BoxIsTickedAtEveryOpening) {
  FakeProfile profile;
  InputHintDialog dialog(profile);
  for (int opening = 0; opening < 3; ++opening) {
    dialog.open();
    EXPECT_TRUE(Box(dialog)->isChecked()) << opening;
    Box(dialog)->setChecked(false);
    PressEscape(&dialog);
  }
  EXPECT_TRUE(profile.intWrites.empty());
  // A new dialog after a cleared OK starts ticked again.
  InputHintDialog first(profile);
  first.open();
  Box(first)->setChecked(false);
  Ok(first)->click();
  InputHintDialog second(profile);
  second.open();
  EXPECT_TRUE(Box(second)->isChecked());
  second.reject();
}

TEST(InputHintDialog, ShowsTheHintTextsAndAPlainOkButton) {
  FakeProfile profile;
  InputHintDialog dialog(profile);
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("How to select an input device"));
  EXPECT_EQ(qobject_cast<RoundButton*>(Ok(dialog)), nullptr);
  EXPECT_TRUE(Ok(dialog)->isDefault());
  int hints = 0;
  for (QLabel* l : dialog.findChildren<QLabel*>()) {
    if (l->text().contains(QStringLiteral("please"), Qt::CaseInsensitive))
      ++hints;
  }
  EXPECT_EQ(hints, 5);
}

class AboutDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = RoundButtonDefaults::Instance();
    RoundButtonDefaults::Instance().pFacePressed = &face_;
    RoundButtonDefaults::Instance().pFaceNormal = &face_;
  }
  void TearDown() override { RoundButtonDefaults::Instance() = saved_; }

  QPixmap face_ = tonvale::resources::Bitmap(145);
  RoundButtonDefaults saved_;
};

TEST_F(AboutDialogTest, OkIsARoundButtonWithTheDefaultFace) {
  AboutDialog about;
  ASSERT_NE(about.m_btnOK, nullptr);
  EXPECT_EQ(about.m_btnOK->text(), QStringLiteral("OK"));
  EXPECT_EQ(about.m_btnOK->buttonType(), 1);
  EXPECT_EQ(about.m_btnOK->normalFace(), &face_);

  const QImage shot = about.grab().toImage();
  const QImage faceImg = face_.toImage();
  const QRect r = about.m_btnOK->geometry();
  // Inside the edge, left of the caption, the face's own pixels; the edge light on top.
  for (int y = 2; y < std::min(r.height() - 2, faceImg.height()); ++y) {
    EXPECT_EQ(QColor(shot.pixel(r.x() + 4, r.y() + y)), QColor(faceImg.pixel(3, y - 1))) << y;
  }
  EXPECT_EQ(QColor(shot.pixel(r.center().x(), r.y())), QColor(255, 255, 255));
  EXPECT_EQ(QColor(shot.pixel(r.center().x(), r.bottom())), QColor(96, 96, 96));
}

TEST_F(AboutDialogTest, ShowsTheProgramMakerAddressesAndIcon) {
  AboutDialog about;
  EXPECT_EQ(about.windowTitle(), QStringLiteral("About Tonvale"));
  QStringList texts;
  const QLabel* icon = nullptr;
  for (QLabel* l : about.findChildren<QLabel*>()) {
    texts << l->text();
    if (!l->pixmap().isNull())
      icon = l;
  }
  EXPECT_TRUE(texts.contains(QStringLiteral("Tonvale")));
  EXPECT_TRUE(texts.contains(QStringLiteral("Email: support@velmora.example")));
  EXPECT_EQ(about.findChild<QLabel*>(QStringLiteral("1049"))->text(),
            QStringLiteral("https://velmora.example/tonvale"));
  ASSERT_NE(icon, nullptr);
  const QImage shot = about.grab().toImage();
  const QPoint centre = icon->geometry().center();
  EXPECT_GT(qRed(shot.pixel(centre)), 150);
  EXPECT_LT(qGreen(shot.pixel(centre)), 80);
}

TEST_F(AboutDialogTest, OkAcceptsAndEscapeRejects) {
  AboutDialog about;
  about.open();
  about.m_btnOK->click();
  EXPECT_EQ(about.result(), QDialog::Accepted);
  EXPECT_FALSE(about.isVisible());
  about.open();
  PressEscape(&about);
  EXPECT_EQ(about.result(), QDialog::Rejected);
}

}  // namespace
