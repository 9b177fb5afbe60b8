// The painted controls, rendered offscreen on a plain parent and read back pixel by pixel.

#include <gtest/gtest.h>

#include <QApplication>
#include <QBitmap>
#include <QPaintEvent>
#include <QPainter>
#include <functional>
#include <utility>

#include "controls/painted_label.h"
#include "controls/round_button.h"

namespace tonvale::controls {
namespace {

const QColor kParent(20, 180, 40), kInk(0, 0, 0), kLight(250, 250, 120), kDark(40, 40, 90);
const QColor kCaption(128, 128, 128), kFace(230, 230, 250), kPressedFace(250, 230, 200);
const auto kDrawn = [](QColor c) { return c != kParent; };

// The smallest rectangle of area holding every pixel whose colour is(...).
QRect Ink(const QImage& img, QRect area, const std::function<bool(QColor)>& is = kDrawn) {
  QRect ink;
  for (int y = area.top(); y <= area.bottom(); ++y)
    for (int x = area.left(); x <= area.right(); ++x)
      ink |= is(img.pixelColor(x, y)) ? QRect(x, y, 1, 1) : QRect();
  return ink;
}

// A plain background wherever a control paints nothing; text without smoothing is pure ink.
struct Parent : QWidget {
  QRegion painted;
  Parent() {
    setPalette(QPalette(kParent));
    setAutoFillBackground(true);
    resize(640, 120);
    QFont f = font();
    f.setStyleStrategy(QFont::NoAntialias);
    setFont(f);
  }
  void paintEvent(QPaintEvent* e) override { painted += e->region(); }
  QImage Grab(QWidget* c) { return grab().toImage().copy(c->geometry()); }  // as shown
};

TEST(Painting, RoundButtonEdgeFaceAndWholeCaptionFollowItsStateFaceAndStyle) {
  QPixmap face(640, 21), pressedFace(640, 21);  // wider than the button
  face.fill(kFace);
  pressedFace.fill(kPressedFace);
  // A button takes its look from the defaults when it is made (here a grey caption, black when
  // disabled: neither is the built-in colour); later changes do not reach it.
  const RoundButtonDefaults saved = std::exchange(
      RoundButtonDefaults::Instance(), {&pressedFace, &face, kLight, kDark, kInk, kCaption});
  Parent parent;
  auto* b = new RoundButton(QStringLiteral("Play"), &parent);
  b->setGeometry(10, 10, 620, 40);
  RoundButtonDefaults::Instance() = saved;
  const QFontMetrics fm(b->font());
  const QRect tight = fm.tightBoundingRect(b->text());
  const QPoint centred((620 - fm.horizontalAdvance(b->text())) / 2 + tight.left(),
                       (40 - fm.height()) / 2 + fm.ascent() + tight.top());
  QRect atRest;  // the caption's ink in the first state
  const std::tuple<bool, bool, const QPixmap*> states[] = {
      {false, true, &face}, {true, true, &face}, {false, false, &face}, {false, true, nullptr}};
  for (const auto& [down, enabled, normal] : states) {
    SCOPED_TRACE(::testing::Message() << down << enabled << normal);
    b->setDown(down);
    b->setEnabled(enabled);
    b->SetNormalFace(normal);
    // Pushed, the edge's colours swap and the caption moves as when disabled. The face is
    // unscaled from one pixel in, cut one before the right edge; the parent shows beyond it.
    const QColor shown = !normal ? kParent : down ? kPressedFace : kFace;
    const QColor expected[] = {down ? kDark : kLight, down ? kLight : kDark, shown, kParent};
    const QColor ink = enabled ? kCaption : kInk;
    const int probes[][3] = {{50, 0, 0},  {0, 20, 0},   {50, 39, 1}, {619, 20, 1},
                             {1, 10, 2},  {618, 10, 2}, {20, 1, 2},  {20, 21, 2},
                             {20, 22, 3}, {0, 0, 3},    {619, 1, 3}, {619, 39, 3}};
    const QImage img = parent.Grab(b);
    for (auto [x, y, i] : probes) EXPECT_EQ(img.pixelColor(x, y), expected[i]) << x << ',' << y;
    // Inside, nothing but the face, the parent and one centred caption in one colour.
    const QRect in = img.rect().adjusted(3, 3, -3, -3);
    EXPECT_EQ(Ink(img, in, [&](QColor c) { return c != shown && kDrawn(c) && c != ink; }), QRect());
    const QRect caption = Ink(img, in, [&](QColor c) { return c == ink; });
    atRest = atRest.isNull() ? caption : atRest;
    EXPECT_EQ(caption, QRect(centred + QPoint(1, 1) * (down || !enabled), atRest.size()));
  }
  // Only push buttons are painted, with the whole caption however long: its last letter shows.
  b->setText(QString(140, u' ') + u'X');
  for (const auto& [style, painted] :
       {std::pair{0x50010001u, true}, std::pair{0x2u, false}, std::pair{0x50010003u, false}}) {
    b->Attach(style);
    const auto is = [&](QColor c) { return painted ? c == kCaption : kDrawn(c); };
    EXPECT_EQ(Ink(parent.Grab(b), b->rect(), is).isEmpty(), !painted) << style;
  }
}

TEST(Painting, PaintedLabelAlignsWithinItsTopLeftClipShowsLinesAfterSetTextAndDisabledACopy) {
  Parent parent;
  const QFontMetrics fm(parent.font());
  // Centred wider than the label (clipped at (1, 1)), centre, right, none (left).
  const std::pair<std::uint32_t, int> cases[] = {
      {0x1u, 40}, {0x50020001u, 200}, {0x50020002u, 200}, {0x3u, 200}};
  auto* l = new PaintedLabel(&parent);
  for (const auto& [style, width] : cases) {
    l->setText(width == 40 ? QStringLiteral("WWWWWWWWWWWWWWWW") : QStringLiteral("Record To:"));
    l->setGeometry(40, 30, width, 80);
    l->Attach(style);
    const QRect tight = fm.tightBoundingRect(l->text());
    const int cx = fm.horizontalAdvance(l->text()), x[] = {2, (width - cx) / 2, width - cx - 2, 2};
    const QPoint at(std::max(1, x[style & 3] + tight.left()), fm.ascent() + tight.top());
    EXPECT_EQ(Ink(parent.Grab(l), l->rect()).topLeft(), at) << style;
  }
  // A template text shows its first line until SetText, then every line, each one row below
  // the last. SetText has the parent repaint around the label, so no old text stays behind.
  l->setText(QStringLiteral("Top\nBottom"));
  l->Attach(0);
  const int cy = fm.height();
  const auto line = [&](const QImage& i, int n) { return Ink(i, {0, n * (cy + 1), 200, cy}); };
  QImage img = parent.Grab(l);
  EXPECT_EQ(Ink(img, img.rect()), line(img, 0));
  EXPECT_NE(line(img, 0), QRect());
  parent.show();
  QApplication::processEvents();
  parent.painted = {};
  l->SetText(QStringLiteral("Hy\nHy\n\nHy"));
  for (int i = 0; i < 5; ++i) QApplication::processEvents();
  EXPECT_EQ(QRegion(37, 27, 206, 86).subtracted(parent.painted), QRegion());
  EXPECT_EQ(l->text(), QStringLiteral("Top\nBottom"));  // the widget's own text stays
  img = parent.Grab(l);
  for (int n = 1; n < 4; ++n)  // the third empty
    EXPECT_EQ(line(img, n), n == 2 ? QRect() : line(img, 0).translated(0, n * (cy + 1)));
  // Disabled, a black copy one pixel right and down.
  QPainter(&img).drawPixmap(
      1, 1, QBitmap::fromImage(img.createMaskFromColor(kInk.rgb(), Qt::MaskOutColor)));
  l->setEnabled(false);
  EXPECT_TRUE(parent.Grab(l) == img);
}

}  // namespace
}  // namespace tonvale::controls
