#include <gtest/gtest.h>

#include <QApplication>
#include <QFontMetrics>
#include <QPaintEvent>

#include "controls/painted_label.h"
#include "pixel_helpers.h"

namespace {

using tonvale::controls::PaintedLabel;
using namespace tonvale::testing;

const QColor kBlack(0, 0, 0);

class PaintedLabelPainting : public ::testing::Test {
 protected:
  void SetUp() override { MakeBackdrop(&parent_, QSize(300, 120)); }

  PaintedLabel* Make(const QString& templateText, std::uint32_t style, QRect geometry) {
    auto* l = new PaintedLabel(&parent_);
    l->setFont(CrispFont(l->font()));
    l->setText(templateText);
    l->setGeometry(geometry);
    l->Attach(style);
    return l;
  }

  static QRect Ink(const QImage& img) {
    return InkRect(img, img.rect(), [](QColor c) { return c != kParentColour; });
  }
  static QRect InkRows(const QImage& img, int top, int bottom) {
    return InkRect(img, QRect(0, top, img.width(), bottom - top + 1),
                   [](QColor c) { return c != kParentColour; });
  }

  QWidget parent_;
};

TEST_F(PaintedLabelPainting, PlacesTheTextByAlignment) {
  const QString text = QStringLiteral("Record To:");
  const QRect geometry(10, 10, 200, 30);
  struct Case {
    std::uint32_t style;
    int x;  // where the text's origin is
  };
  PaintedLabel probe;
  probe.setFont(CrispFont(probe.font()));
  const QFontMetrics fm(probe.font());
  const int cx = fm.horizontalAdvance(text);
  const QRect tight = fm.tightBoundingRect(text);
  for (const Case& c : {Case{0x50020000u, 2}, Case{0x50020001u, (200 - cx) / 2},
                        Case{0x50020002u, 200 - cx - 2}, Case{0x3u, 2}}) {
    SCOPED_TRACE(c.style);
    PaintedLabel* l = Make(text, c.style, geometry);
    const QImage img = GrabChild(&parent_, l);
    const QRect ink = Ink(img);
    EXPECT_EQ(ink.left(), c.x + tight.left());
    EXPECT_EQ(ink.top(), std::max(1, fm.ascent() + tight.top()));
    EXPECT_EQ(InkRect(img, ink, [](QColor col) { return col == kBlack; }).isEmpty(), false);
    delete l;
  }
}

TEST_F(PaintedLabelPainting, SetTextPaintsEachLineOneRowBelowTheLast) {
  PaintedLabel* l = Make(QStringLiteral("Volume:"), 0, QRect(10, 10, 200, 80));
  const QFontMetrics fm(l->font());
  const int cy = fm.height();
  l->SetText(QStringLiteral("Hy\nHy\n\nHy"));
  EXPECT_EQ(l->lineCount(), 4);
  const QImage img = GrabChild(&parent_, l);
  const QRect first = InkRows(img, 0, cy - 1);
  const QRect second = InkRows(img, cy, 2 * cy);
  const QRect fourth = InkRows(img, 3 * (cy + 1), 79);
  ASSERT_FALSE(first.isEmpty());
  EXPECT_EQ(second, first.translated(0, cy + 1));
  // The empty third line still takes its place.
  EXPECT_TRUE(InkRows(img, 2 * (cy + 1) + first.top(), 2 * (cy + 1) + first.bottom()).isEmpty());
  EXPECT_EQ(fourth, first.translated(0, 3 * (cy + 1)));
}

TEST_F(PaintedLabelPainting, SetTextLeavesTheWidgetTextAlone) {
  PaintedLabel* l = Make(QStringLiteral("Max"), 0, QRect(10, 10, 100, 20));
  l->SetText(QStringLiteral("Min"));
  EXPECT_EQ(l->text(), QStringLiteral("Max"));
  EXPECT_EQ(l->paintedText(), QStringLiteral("Min"));
  EXPECT_EQ(l->lineCount(), 1);
}

TEST_F(PaintedLabelPainting, TemplateTextWithLineFeedsShowsItsFirstLineUntilSet) {
  PaintedLabel* l = Make(QStringLiteral("Top\nBottom"), 0, QRect(10, 10, 200, 60));
  const int cy = QFontMetrics(l->font()).height();
  EXPECT_EQ(l->lineCount(), 1);
  QImage img = GrabChild(&parent_, l);
  EXPECT_FALSE(InkRows(img, 0, cy - 1).isEmpty());
  EXPECT_TRUE(InkRows(img, cy, 59).isEmpty());
  l->SetText(l->paintedText());
  img = GrabChild(&parent_, l);
  EXPECT_FALSE(InkRows(img, cy, 59).isEmpty());
}

TEST_F(PaintedLabelPainting, DisabledLabelAddsAShadowOnePixelRightAndDown) {
  PaintedLabel* l = Make(QStringLiteral("Select a Sound Card"), 0, QRect(10, 10, 200, 30));
  const QImage enabled = GrabChild(&parent_, l);
  l->setEnabled(false);
  const QImage disabled = GrabChild(&parent_, l);
  const QRect ink = Ink(enabled);
  ASSERT_FALSE(ink.isEmpty());
  EXPECT_EQ(Ink(disabled), ink.adjusted(0, 0, 1, 1));
  // Every pixel of the text is still there, in place.
  int inPlace = 0;
  for (int y = ink.top(); y <= ink.bottom(); ++y) {
    for (int x = ink.left(); x <= ink.right(); ++x) {
      if (At(enabled, x, y) != kBlack)
        continue;
      EXPECT_EQ(At(disabled, x, y), kBlack);
      ++inPlace;
    }
  }
  EXPECT_GT(inPlace, 0);
}

TEST_F(PaintedLabelPainting, KeepsItsTopRowAndLeftColumnAndBackgroundClear) {
  // Centred and wider than the label, the text would reach column 0 without the clip.
  PaintedLabel* l = Make(QStringLiteral("WWWWWWWWWWWWWWWW"), 1, QRect(10, 10, 40, 20));
  const QImage img = GrabChild(&parent_, l);
  EXPECT_TRUE(
      InkRect(img, QRect(0, 0, 1, 20), [](QColor c) { return c != kParentColour; }).isEmpty());
  EXPECT_TRUE(
      InkRect(img, QRect(0, 0, 40, 1), [](QColor c) { return c != kParentColour; }).isEmpty());
  EXPECT_FALSE(
      InkRect(img, QRect(1, 0, 1, 20), [](QColor c) { return c != kParentColour; }).isEmpty());
  EXPECT_EQ(At(img, 39, 19), kParentColour);
}

// The parent repaints the area under the label (and a margin), so an old, longer text
// leaves nothing behind.
class PaintRecorder : public QObject {
 public:
  QRegion painted;
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Paint)
      painted += static_cast<QPaintEvent*>(e)->region();
    return false;
  }
};

TEST_F(PaintedLabelPainting, SetTextHasTheParentRepaintBeneathIt) {
  PaintedLabel* l = Make(QStringLiteral("Status"), 0, QRect(40, 30, 120, 20));
  parent_.show();
  for (int i = 0; i < 5; ++i) QApplication::processEvents();
  PaintRecorder recorder;
  parent_.installEventFilter(&recorder);
  l->SetText(QStringLiteral("Other"));
  for (int i = 0; i < 5; ++i) QApplication::processEvents();
  EXPECT_TRUE(QRegion(37, 27, 126, 26).subtracted(recorder.painted).isEmpty());
  parent_.hide();
}

}  // namespace
