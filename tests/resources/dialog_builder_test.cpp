#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>

#include "resources/dialog_builder.h"

namespace {

namespace res = tonvale::resources;
using res::DialogUnits;

TEST(DialogUnits, ConvertToPixelsRoundingToNearest) {
  struct Case {
    DialogUnits units;
    int x, y, w, h;
    QRect pixels;
  };
  // The usual 8-point dialog font (6 x 13) and a larger one.
  const Case cases[] = {
      {{6, 13}, 7, 101, 152, 14, QRect(11, 164, 228, 23)},  // 10.5 -> 11, 164.1, 238.5 -> 239
      {{6, 13}, 0, 0, 244, 156, QRect(0, 0, 366, 254)},     // 253.5 -> 254
      {{6, 13}, 203, 101, 32, 14, QRect(305, 164, 48, 23)},
      {{7, 16}, 7, 37, 68, 16, QRect(12, 74, 119, 32)},  // 12.25, 131.25 -> 131
      {{8, 16}, 1, 1, 1, 1, QRect(2, 2, 2, 2)},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.units.ToPixels(c.x, c.y, c.w, c.h), c.pixels)
        << c.units.baseX << "x" << c.units.baseY << " " << c.x << "," << c.y;
  }
}

TEST(DialogUnits, ComeFromTheFontsAverageLetterWidthAndHeight) {
  const QFont font = res::DialogFont(*res::Template(102));
  const QFontMetrics fm(font);
  const DialogUnits u = DialogUnits::FromFont(font);
  const double average =
      fm.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) /
      52.0;
  EXPECT_LE(std::abs(u.baseX - average), 0.5);
  EXPECT_EQ(u.baseY, fm.height());
  // A dialog font close to the one the layout was drawn for.
  EXPECT_GE(u.baseX, 5);
  EXPECT_LE(u.baseX, 8);
  EXPECT_GE(u.baseY, 11);
  EXPECT_LE(u.baseY, 17);
}

TEST(BuildDialog, PlacesTheMainWindowsControlsAtTheirPixelRectangles) {
  QDialog dialog;
  const res::DialogTemplate& t = *res::Template(102);
  const auto controls = res::BuildDialog(&dialog, t);
  const DialogUnits u = DialogUnits::FromFont(dialog.font());

  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Tonvale"));
  EXPECT_EQ(dialog.minimumSize(), u.ToPixels(0, 0, 244, 156).size());
  EXPECT_EQ(dialog.maximumSize(), dialog.minimumSize());
  EXPECT_TRUE(dialog.windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_FALSE(dialog.windowFlags() & Qt::WindowMaximizeButtonHint);

  ASSERT_EQ(controls.size(), t.controls.size());
  for (const auto& [id, rect] : std::vector<std::pair<int, QRect>>{
           {1008, u.ToPixels(7, 101, 152, 14)},
           {1004, u.ToPixels(7, 37, 68, 16)},
           {1001, u.ToPixels(203, 101, 32, 14)},
           {1035, u.ToPixels(7, 146, 228, 10)},
           {1059, u.ToPixels(126, 60, 107, 14)},
       }) {
    ASSERT_TRUE(controls.count(id)) << id;
    EXPECT_EQ(controls.at(id)->geometry(), rect) << id;
  }
  // Combo boxes: the template height is the dropped-down one.
  QWidget* cards = controls.at(1009);
  EXPECT_EQ(cards->geometry().topLeft(), u.ToPixels(130, 20, 106, 49).topLeft());
  EXPECT_EQ(cards->width(), u.ToPixels(130, 20, 106, 49).width());
  EXPECT_EQ(cards->height(), cards->sizeHint().height());
  EXPECT_LT(cards->height(), u.ToPixelsY(49));
}

TEST(BuildDialog, MakesTheDefaultWidgetsNamedByIdWithTheirTexts) {
  QDialog dialog;
  const auto controls = res::BuildDialog(&dialog, *res::Template(102));
  for (const auto& [id, w] : controls) {
    EXPECT_EQ(w->objectName(), QString::number(id));
    EXPECT_EQ(w->property("controlId").toInt(), id);
    EXPECT_EQ(w->parentWidget(), &dialog);
    EXPECT_FALSE(w->isHidden()) << id;
  }
  EXPECT_EQ(qobject_cast<QPushButton*>(controls.at(1004))->text(), QStringLiteral("Record"));
  EXPECT_TRUE(qobject_cast<QLineEdit*>(controls.at(1008))->hasFrame());
  auto* status = qobject_cast<QLabel*>(controls.at(1035));
  ASSERT_NE(status, nullptr);
  EXPECT_EQ(status->text(), QStringLiteral("Status : Ready"));
  EXPECT_EQ(status->frameShadow(), QFrame::Sunken);
  EXPECT_FALSE(qobject_cast<QComboBox*>(controls.at(1011))->isEditable());
  EXPECT_EQ(qobject_cast<QSlider*>(controls.at(1038))->orientation(), Qt::Horizontal);
}

TEST(BuildDialog, TabOrderFollowsTheTemplate) {
  QDialog dialog;
  const res::DialogTemplate& t = *res::Template(102);
  const auto controls = res::BuildDialog(&dialog, t);
  for (size_t i = 1; i < t.controls.size(); ++i) {
    EXPECT_EQ(controls.at(t.controls[i - 1].id)->nextInFocusChain(), controls.at(t.controls[i].id))
        << t.controls[i - 1].id;
  }
}

// The texts of the visible controls fit their template widths in the chosen font.
TEST(BuildDialog, MainWindowTextsFitTheirControls) {
  QDialog dialog;
  const res::DialogTemplate& t = *res::Template(102);
  const auto controls = res::BuildDialog(&dialog, t);
  const QFontMetrics fm(dialog.font());
  for (int id : {1004, 1003, 1001, 1051, 1035, 1054, 1039, 1040, 1047, 1048, 1056, 1057}) {
    QWidget* w = controls.at(id);
    EXPECT_LE(fm.horizontalAdvance(QString::fromUtf8(t.control(id)->text)), w->width() - 4) << id;
  }
}

TEST(BuildDialog, FactoryChoosesTheClassAndUnnamedStaticsStayOutOfTheMap) {
  QDialog dialog;
  int asked = 0;
  const auto controls =
      res::BuildDialog(&dialog, *res::Template(144),
                       [&](const res::ControlTemplate& c, QWidget* parent) -> QWidget* {
                         ++asked;
                         if (c.id == 1)
                           return new QLabel(parent);  // any class will do
                         return nullptr;
                       });
  EXPECT_EQ(asked, 7);
  ASSERT_EQ(controls.size(), 2u);
  EXPECT_NE(qobject_cast<QLabel*>(controls.at(1)), nullptr);
  EXPECT_EQ(qobject_cast<QLabel*>(controls.at(1))->text(), QStringLiteral("OK"));
  EXPECT_NE(qobject_cast<QCheckBox*>(controls.at(1055)), nullptr);
  int wrapped = 0;
  for (QLabel* l : dialog.findChildren<QLabel*>(QStringLiteral("-1"))) {
    EXPECT_TRUE(l->wordWrap());
    ++wrapped;
  }
  EXPECT_EQ(wrapped, 5);
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("How to select an input device"));
  EXPECT_FALSE(dialog.windowFlags() & Qt::WindowMinimizeButtonHint);
}

}  // namespace
