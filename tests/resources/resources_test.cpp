// The windows' templates, the builder that makes widgets of them, and the pictures.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFile>
#include <QFontMetrics>
#include <QImage>
#include <QLabel>
#include <QtEndian>
#include <set>

#include "resources/control_ids.h"
#include "resources/dialog_builder.h"
#include "resources/resources.h"

namespace tonvale::resources {
namespace {

using enum ControlClass;

TEST(DialogTemplates, EveryAddressedControlExistsOnceWithItsClassInsideItsWindow) {
  // What the program's code addresses, by template.
  const std::map<int, std::map<int, ControlClass>> used = {
      {kAboutTemplate, {{ids::kOk, Button}, {ids::kAboutHomepage, Static}}},
      {kMainTemplate, {{ids::kPlay, Button},
                       {ids::kPause, Button},
                       {ids::kStop, Button},
                       {ids::kRecord, Button},
                       {ids::kOutputFile, Edit},
                       {ids::kSoundCards, ComboBox},
                       {ids::kInputLines, ComboBox},
                       {ids::kStatus, Static},
                       {ids::kVolume, Trackbar},
                       {ids::kBrowse, Button},
                       {ids::kHomepage, Button},
                       {ids::kAbout, Button},
                       {ids::kHelp, Button},
                       {ids::kInputLinesLabel, Static},
                       {ids::kSoundCardsLabel, Static},
                       {ids::kVolumeLabel, Static},
                       {ids::kMaxLabel, Static},
                       {ids::kRecordToLabel, Static},
                       {ids::kStartHotkey, Edit},
                       {ids::kStopHotkey, Edit}}},
      {kInputHintTemplate, {{ids::kOk, Button}, {ids::kDontShowAgain, Button}}},
  };
  for (const auto& [templateId, controls] : used) {
    SCOPED_TRACE(templateId);
    const DialogTemplate* t = Template(templateId);
    ASSERT_NE(t, nullptr);
    std::set<int> seen;
    for (const ControlTemplate& c : t->controls) {
      EXPECT_TRUE(c.id == kStaticId || seen.insert(c.id).second) << c.id << " twice";
      EXPECT_LE(c.x + c.w, t->width) << c.id;
      EXPECT_LE(c.y + c.h, t->height) << c.id;
    }
    for (const auto& [id, kind] : controls) {
      ASSERT_NE(t->control(id), nullptr) << id;
      EXPECT_EQ(t->control(id)->kind, kind) << id;
    }
  }
  EXPECT_EQ(Template(101), nullptr);
  // The painted controls read these bits: a button its low byte, a label its alignment.
  const DialogTemplate& main = *Template(kMainTemplate);
  for (int id : {ids::kPlay, ids::kPause, ids::kStop, ids::kRecord, ids::kBrowse, ids::kAbout}) {
    EXPECT_EQ(main.control(id)->style & 0xFF, 0u) << id;
  }
  EXPECT_EQ(main.control(ids::kRecordToLabel)->style & 3, style::SS_LEFT);
  EXPECT_EQ(Template(kAboutTemplate)->control(ids::kOk)->style & 0xFF, style::BS_DEFPUSHBUTTON);
  EXPECT_EQ(Template(kInputHintTemplate)->control(ids::kDontShowAgain)->style & 0xF,
            style::BS_AUTOCHECKBOX);
}

TEST(DialogUnits, RoundToTheNearestPixelAndComeFromTheFont) {
  // x * baseX / 4 and y * baseY / 8: 10.5 -> 11, 238.5 -> 239, 253.5 -> 254, 131.25 -> 131.
  EXPECT_EQ((DialogUnits{6, 13}.ToPixels(7, 101, 152, 14)), QRect(11, 164, 228, 23));
  EXPECT_EQ((DialogUnits{6, 13}.ToPixels(0, 0, 244, 156)), QRect(0, 0, 366, 254));
  EXPECT_EQ((DialogUnits{7, 16}.ToPixels(7, 37, 68, 16)), QRect(12, 74, 119, 32));

  const QFont font = DialogFont(*Template(kMainTemplate));
  const QFontMetrics fm(font);
  const DialogUnits u = DialogUnits::FromFont(font);
  const double average =
      fm.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) /
      52.0;
  EXPECT_LE(std::abs(u.baseX - average), 0.5);
  EXPECT_EQ(u.baseY, fm.height());
}

TEST(BuildDialog, PlacesEveryControlAtItsTemplateRectangleInTabOrderWithItsText) {
  QDialog dialog;
  const DialogTemplate& t = *Template(kMainTemplate);
  const auto controls = BuildDialog(&dialog, t);
  const DialogUnits u = DialogUnits::FromFont(dialog.font());
  EXPECT_EQ(dialog.windowTitle(), QString::fromUtf8(t.title));
  EXPECT_EQ(dialog.minimumSize(), u.ToPixels(0, 0, t.width, t.height).size());
  EXPECT_EQ(dialog.maximumSize(), dialog.minimumSize());
  EXPECT_TRUE(dialog.windowFlags() & Qt::WindowMinimizeButtonHint);
  ASSERT_EQ(controls.size(), t.controls.size());
  const QFontMetrics fm(dialog.font());
  QWidget* previous = nullptr;
  for (const ControlTemplate& c : t.controls) {
    SCOPED_TRACE(c.id);
    QWidget* w = controls.at(c.id);
    EXPECT_EQ(w->property("controlId").toInt(), c.id);
    const QRect rect = u.ToPixels(c.x, c.y, c.w, c.h);
    if (c.kind == ComboBox) {
      // The template's height is the dropped-down list's.
      EXPECT_EQ(w->geometry().topLeft(), rect.topLeft());
      EXPECT_EQ(w->height(), w->sizeHint().height());
    } else {
      EXPECT_EQ(w->geometry(), rect);
    }
    const bool hiddenAtStart = c.id == ids::kPause || c.id == ids::kHomepage ||
                               c.id == ids::kVolumeLabel || c.id == ids::kMaxLabel;
    if ((c.kind == Button || c.kind == Static) && !hiddenAtStart) {
      EXPECT_LE(fm.horizontalAdvance(QString::fromUtf8(c.text)), w->width()) << "text fits";
    }
    if (previous != nullptr) {
      EXPECT_EQ(previous->nextInFocusChain(), w) << "tab order";
    }
    previous = w;
  }
  EXPECT_EQ(qobject_cast<QLabel*>(controls.at(ids::kStatus))->frameShadow(), QFrame::Sunken);
  EXPECT_FALSE(qobject_cast<QComboBox*>(controls.at(ids::kInputLines))->isEditable());
}

TEST(BuildDialog, AFactoryChoosesTheClassAndUnnamedStaticsWrapOutsideTheMap) {
  QDialog dialog;
  const DialogTemplate& t = *Template(kInputHintTemplate);
  const auto controls = BuildDialog(&dialog, t, [](const ControlTemplate& c, QWidget* parent) {
    return c.id == ids::kOk ? new QLabel(parent) : nullptr;
  });
  ASSERT_EQ(controls.size(), 2u);
  EXPECT_EQ(qobject_cast<QLabel*>(controls.at(ids::kOk))->text(), QStringLiteral("OK"));
  EXPECT_NE(qobject_cast<QCheckBox*>(controls.at(ids::kDontShowAgain)), nullptr);
  const auto unnamed = dialog.findChildren<QLabel*>(QStringLiteral("-1"));
  EXPECT_EQ(unnamed.size(), t.controls.size() - 2);
  for (const QLabel* l : unnamed) EXPECT_TRUE(l->wordWrap());
  EXPECT_FALSE(dialog.windowFlags() & Qt::WindowMinimizeButtonHint);
}

TEST(Pictures, FacesIconAndStringsAreWhatTheControlsExpect) {
  struct Face {
    int id, height, frame, bottom;
  };
  for (const Face& f :
       {Face{kBitmapDefaultFace, 21, 153, 220}, Face{kBitmapTransportFace, 30, 160, 224}}) {
    SCOPED_TRACE(f.id);
    const QImage img = Bitmap(f.id).toImage();
    ASSERT_EQ(img.size(), QSize(116, f.height));
    const auto grey = [&](int x, int y) { return qGray(img.pixel(x, y)); };
    // A grey frame with rounded corners around a gradient that darkens downwards.
    EXPECT_EQ(grey(58, 0), f.frame);
    EXPECT_EQ(grey(0, f.height / 2), f.frame);
    EXPECT_NE(grey(0, 0), f.frame);
    EXPECT_EQ(grey(58, f.height - 2), f.bottom);
    for (int y = 2; y < f.height - 1; ++y) EXPECT_LE(grey(58, y), grey(58, y - 1));
    QFile file(QStringLiteral(":/tonvale/images/bitmap%1.bmp").arg(f.id));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(qFromLittleEndian<quint16>(file.read(30).constData() + 28), 24) << "bits per pixel";
  }
  for (int size : {16, 24, 32, 48, 64, 128, 256}) {
    const QImage img(IconFile(kIconRecorder, size));
    ASSERT_EQ(img.size(), QSize(size, size));
    EXPECT_GT(qRed(img.pixel(size / 2, size / 2)), 150) << "a red dot";
    EXPECT_EQ(qAlpha(img.pixel(0, 0)), 0) << "a transparent corner";
  }
  EXPECT_TRUE(Bitmap(147).isNull());
  EXPECT_TRUE(Icon(104).isNull());
  EXPECT_EQ(String(kStringAboutItem), QStringLiteral("&About Tonvale"));
}

}  // namespace
}  // namespace tonvale::resources
