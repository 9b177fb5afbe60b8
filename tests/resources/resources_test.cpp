// The windows' templates, the builder that makes widgets of them, and the pictures.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QDialog>
#include <QFontMetrics>
#include <QImage>
#include <QLabel>
#include <set>

#include "resources/control_ids.h"
#include "resources/dialog_builder.h"
#include "resources/resources.h"

namespace tonvale::resources {
namespace {

using enum ControlClass;

// What the program's code addresses, by template and class.
TEST(DialogTemplates, EveryAddressedControlExistsOnceWithItsClassInsideItsWindow) {
  using namespace ids;
  const std::map<int, std::map<ControlClass, std::vector<int>>> used = {
      {kAboutTemplate, {{Button, {kOk}}, {Static, {kAboutHomepage}}}},
      {kMainTemplate,
       {{Button, {kPlay, kPause, kStop, kRecord, kBrowse, kHomepage, kAbout, kHelp}},
        {Edit, {kOutputFile, kStartHotkey, kStopHotkey}},
        {ComboBox, {kSoundCards, kInputLines}},
        {Static,
         {kStatus, kInputLinesLabel, kSoundCardsLabel, kVolumeLabel, kMaxLabel, kRecordToLabel}},
        {Trackbar, {kVolume}}}},
      {kInputHintTemplate, {{Button, {kOk, kDontShowAgain}}}},
  };
  for (const auto& [templateId, classes] : used) {
    SCOPED_TRACE(templateId);
    const DialogTemplate* t = Template(templateId);
    ASSERT_NE(t, nullptr);
    std::set<int> seen;
    for (const ControlTemplate& c : t->controls) {
      EXPECT_TRUE(c.id == kStaticId || seen.insert(c.id).second) << c.id << " twice";
      EXPECT_TRUE(c.x + c.w <= t->width && c.y + c.h <= t->height) << c.id;
    }
    for (const auto& [kind, controls] : classes)
      for (int id : controls)
        EXPECT_EQ(t->control(id) ? int(t->control(id)->kind) : -1, int(kind)) << id;
  }
  // A painted label reads its alignment from its style (a button its low byte: below).
  EXPECT_EQ(Template(kMainTemplate)->control(kRecordToLabel)->style & 3, style::SS_LEFT);
}

// Dialog units are x * baseX / 4 and y * baseY / 8 pixels, each edge rounded: 10.5 -> 11,
// 240 - 11 = 229 (not 229.5), 253.5 -> 254, 131.25 -> 131. The About box's OK: tests/app.
TEST(BuildDialog, PlacesEveryControlAtItsTemplateRectangleInDialogUnitsInTabOrderWithItsText) {
  EXPECT_EQ((DialogUnits{6, 13}.ToPixels(7, 101, 153, 14)), QRect(11, 164, 229, 23));
  EXPECT_EQ((DialogUnits{6, 13}.ToPixels(0, 0, 244, 156)), QRect(0, 0, 366, 254));
  EXPECT_EQ((DialogUnits{7, 16}.ToPixels(7, 37, 68, 16)), QRect(12, 74, 119, 32));
  QDialog dialog;
  const DialogTemplate& t = *Template(kMainTemplate);
  const auto controls = BuildDialog(&dialog, t);
  const QFontMetrics fm(dialog.font());
  const DialogUnits u = DialogUnits::FromFont(dialog.font());
  const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
  EXPECT_LE(std::abs(u.baseX - fm.horizontalAdvance(letters) / 52.0), 0.5);  // the average
  EXPECT_EQ(std::tuple(dialog.font().pointSize(), u.baseY, dialog.windowTitle().toStdString()),
            std::tuple(t.fontPoints, fm.height(), std::string(t.title)));
  EXPECT_EQ(dialog.maximumSize(), dialog.minimumSize());
  EXPECT_EQ(dialog.minimumSize(), u.ToPixels(0, 0, t.width, t.height).size());
  EXPECT_TRUE(dialog.windowFlags() & Qt::WindowMinimizeButtonHint);
  const std::set<int> hidden = {ids::kPause, ids::kHomepage, ids::kVolumeLabel, ids::kMaxLabel};
  QWidget* previous = nullptr;
  for (const ControlTemplate& c : t.controls) {
    SCOPED_TRACE(c.id);
    QWidget* w = controls.at(c.id);
    EXPECT_EQ(w->property("controlId").toInt(), c.id);
    // A combo box's template height is its dropped-down list's.
    QRect rect = u.ToPixels(c.x, c.y, c.w, c.h);
    rect.setHeight(c.kind == ComboBox ? w->sizeHint().height() : rect.height());
    EXPECT_EQ(w->geometry(), rect);
    const QString text = w->property("text").toString();  // a slider has none
    EXPECT_EQ(text, c.kind == Trackbar ? QString() : QString::fromUtf8(c.text));
    EXPECT_TRUE(hidden.count(c.id) || fm.horizontalAdvance(text) <= w->width()) << "text fits";
    EXPECT_TRUE(c.kind != Button || (c.style & 0xFF) == 0) << "a push button: painted";
    EXPECT_TRUE(!previous || previous->nextInFocusChain() == w) << "tab order";
    previous = w;
  }
  EXPECT_EQ(qobject_cast<QLabel*>(controls.at(ids::kStatus))->frameShadow(), QFrame::Sunken);
  EXPECT_FALSE(qobject_cast<QComboBox*>(controls.at(ids::kInputLines))->isEditable());
  // The input hint: its text in unnamed statics that wrap, outside the map; no minimize button.
  QDialog hint;
  EXPECT_EQ(BuildDialog(&hint, *Template(kInputHintTemplate)).size(), 2u);
  const auto unnamed = hint.findChildren<QLabel*>(QStringLiteral("-1"));
  EXPECT_EQ(unnamed.size(), Template(kInputHintTemplate)->controls.size() - 2);
  for (const QLabel* l : unnamed) EXPECT_TRUE(l->wordWrap());
  EXPECT_FALSE(hint.windowFlags() & Qt::WindowMinimizeButtonHint);
}

// The buttons' faces: a grey frame with rounded corners around an opaque gradient that darkens
// downwards; the icon: a red dot on a transparent ground, in every size; no unknown id.
TEST(Pictures, FacesIconAndStringsAreWhatTheControlsExpect) {
  for (const auto& [id, height, frame, bottom] : {std::tuple{kBitmapDefaultFace, 21, 153, 220},
                                                  std::tuple{kBitmapTransportFace, 30, 160, 224}}) {
    SCOPED_TRACE(id);
    const QImage img = Bitmap(id).toImage();
    ASSERT_EQ(img.size(), QSize(116, height));
    const auto grey = [&](int x, int y) { return qGray(img.pixel(x, y)); };
    EXPECT_EQ(std::tuple(grey(58, 0), grey(0, height / 2), grey(58, height - 2)),
              std::tuple(frame, frame, bottom));
    EXPECT_NE(grey(0, 0), frame);
    for (int y = 2; y < height - 1; ++y) EXPECT_LE(grey(58, y), grey(58, y - 1));
    EXPECT_FALSE(img.hasAlphaChannel());
  }
  for (int size : {16, 24, 32, 48, 64, 128, 256}) {
    const QImage img(IconFile(kIconRecorder, size));
    ASSERT_EQ(img.size(), QSize(size, size));
    EXPECT_TRUE(qRed(img.pixel(size / 2, size / 2)) > 150 && qAlpha(img.pixel(0, 0)) == 0) << size;
  }
  EXPECT_TRUE(Template(101) == nullptr && Bitmap(147).isNull() && Icon(104).isNull());
  EXPECT_EQ(String(kStringAboutItem), QStringLiteral("&About Tonvale"));
}

}  // namespace
}  // namespace tonvale::resources
