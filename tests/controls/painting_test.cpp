// The painted controls, rendered offscreen on a plain parent and read back pixel by pixel.

#include <gtest/gtest.h>

#include <QApplication>
#include <QFontMetrics>
#include <QPaintEvent>
#include <QPixmap>
#include <functional>

#include "controls/painted_label.h"
#include "controls/round_button.h"

namespace tonvale::controls {
namespace {

using namespace Qt::Literals::StringLiterals;

const QColor kParent(20, 180, 40), kInk(0, 0, 0);
const QColor kLight(250, 250, 120), kDark(40, 40, 90), kGreyInk(128, 128, 128);
const QColor kFace(230, 230, 250), kPressedFace(250, 230, 200);

class Painting : public ::testing::Test {
 protected:
  // A parent whose plain background shows wherever a control paints nothing, noting what of
  // it is repainted. Its font is drawn without smoothing: text pixels carry the pen colour.
  struct Parent : QWidget {
    QRegion painted;
    Parent() {
      setPalette(QPalette(kParent));
      setAutoFillBackground(true);
      resize(700, 120);
      QFont f = font();
      f.setPointSize(10);
      f.setStyleStrategy(QFont::NoAntialias);
      setFont(f);
    }
    void paintEvent(QPaintEvent* e) override { painted += e->region(); }
  } parent_;
  QPixmap face_{116, 21}, pressedFace_{116, 21};

  void SetUp() override {
    face_.fill(kFace);
    pressedFace_.fill(kPressedFace);
  }
  template <class Control>
  Control* Make(QRect geometry, const QString& text) {
    auto* c = new Control(&parent_);
    c->setText(text);
    c->setGeometry(geometry);
    return c;
  }
  // The control's pixels as the parent shows them.
  QImage Grab(QWidget* control) {
    const QImage shot = parent_.grab().toImage();
    return shot.copy(control->geometry()).convertToFormat(QImage::Format_RGB32);
  }
  // The smallest rectangle of area holding every pixel whose colour is(...).
  static QRect Ink(const QImage& img, QRect area, const std::function<bool(QColor)>& is) {
    QRect ink;
    for (int i = 0; i < area.width() * area.height(); ++i) {
      const QPoint p = area.topLeft() + QPoint(i % area.width(), i / area.width());
      ink |= is(img.pixelColor(p)) ? QRect(p, QSize(1, 1)) : QRect();
    }
    return ink;
  }
  static bool Drawn(QColor c) { return c != kParent; }
};

TEST_F(Painting, RoundButtonEdgeFaceAndCaptionFollowItsStateAndFace) {
  // A button takes its look from the defaults when it is made; later changes do not reach it.
  RoundButtonDefaults& defaults = RoundButtonDefaults::Instance();
  const RoundButtonDefaults saved = defaults;
  defaults = {&pressedFace_, &face_, kLight, kDark, kGreyInk, kInk};
  auto* b = Make<RoundButton>(QRect(10, 10, 100, 40), u"Play"_s);
  defaults = saved;
  const QFontMetrics fm(b->font());
  const QRect tight = fm.tightBoundingRect(b->text());
  const QPoint centred((100 - fm.horizontalAdvance(b->text())) / 2 + tight.left(),
                       (40 - fm.height()) / 2 + fm.ascent() + tight.top());
  const QPixmap empty;
  struct State {
    const char* name;
    bool down, enabled;
    const QPixmap* face;
    QColor topLeft, bottomRight, shown, ink;
    int shift;  // of the caption, right and down
  };
  const State states[] = {{"at rest", false, true, &face_, kLight, kDark, kFace, kInk, 0},
                          {"pushed", true, true, &face_, kDark, kLight, kPressedFace, kInk, 1},
                          {"disabled", false, false, &face_, kLight, kDark, kFace, kGreyInk, 1},
                          {"empty face", false, true, &empty, kLight, kDark, kParent, kInk, 0},
                          {"no face", false, true, nullptr, kLight, kDark, kParent, kInk, 0}};
  QRect atRest;
  for (const State& s : states) {
    SCOPED_TRACE(s.name);
    b->setDown(s.down);
    b->setEnabled(s.enabled);
    if (s.face != &face_)
      b->SetNormalFace(s.face);
    const QImage img = Grab(b);
    for (QPoint p : {QPoint(50, 0), QPoint(0, 20)}) EXPECT_EQ(img.pixelColor(p), s.topLeft);
    for (QPoint p : {QPoint(50, 39), QPoint(99, 20)}) EXPECT_EQ(img.pixelColor(p), s.bottomRight);
    // The face is shown unscaled from one pixel in, cut one pixel before the right edge; the
    // parent shows beyond it and outside the rounded corners.
    for (QPoint p : {QPoint(1, 10), QPoint(98, 10), QPoint(20, 1), QPoint(20, 21)})
      EXPECT_EQ(img.pixelColor(p), s.shown);
    for (QPoint p : {QPoint(20, 22), QPoint(0, 0), QPoint(99, 1), QPoint(99, 39)})
      EXPECT_EQ(img.pixelColor(p), kParent);
    // Inside, nothing but the face, the parent and one caption in one colour.
    const QRect inside = img.rect().adjusted(3, 3, -3, -3);
    const auto other = [&](QColor c) { return c != s.shown && c != kParent && c != s.ink; };
    EXPECT_EQ(Ink(img, inside, other), QRect());
    const QRect ink = Ink(img, inside, [&](QColor c) { return c == s.ink; });
    atRest = s.shift ? atRest : ink;
    EXPECT_EQ(ink, atRest.translated(s.shift, s.shift));
    EXPECT_EQ(ink.topLeft(), centred + QPoint(s.shift, s.shift));
  }
}

TEST_F(Painting, OnlyPushButtonStylesArePaintedWithTheWholeCaption) {
  for (auto [style, painted] : {std::pair{0x50010000u, true}, std::pair{0x50010001u, true},
                                std::pair{0x2u, false}, std::pair{0x50010003u, false}}) {
    SCOPED_TRACE(style);
    // However long, the caption is drawn whole: its last letter is there.
    auto* b = Make<RoundButton>(QRect(10, 10, 680, 24), QString(140, u' ') + u"X"_s);
    b->Attach(style);
    const QImage img = Grab(b);
    EXPECT_EQ(Ink(img, img.rect(), Drawn).isEmpty(), !painted);
    EXPECT_EQ(Ink(img, img.rect(), [](QColor c) { return c == kInk; }).isEmpty(), !painted);
    delete b;
  }
}

TEST_F(Painting, PaintedLabelPlacesItsTextByAlignmentInsideItsTopLeftClip) {
  const QString text = u"Record To:"_s, wide = u"WWWWWWWWWWWWWWWW"_s;  // wider than 40
  const std::tuple<std::uint32_t, QString, int> cases[] = {{0x50020000u, text, 200},
                                                           {0x50020001u, text, 200},
                                                           {0x50020002u, text, 200},
                                                           {0x3u, text, 200},
                                                           {0x1u, wide, 40}};
  for (const auto& [style, shown, width] : cases) {
    SCOPED_TRACE(style);
    auto* l = Make<PaintedLabel>(QRect(10, 10, width, 30), shown);
    l->Attach(style);
    const QFontMetrics fm(l->font());
    const int cx = fm.horizontalAdvance(shown);
    const int x[] = {2, (width - cx) / 2, width - cx - 2, 2};  // left, centre, right, left
    const QImage img = Grab(l);
    const QRect ink = Ink(img, img.rect(), Drawn);
    EXPECT_EQ(ink.left(), std::max(1, x[style & 3] + fm.tightBoundingRect(shown).left()));
    EXPECT_EQ(ink.top(), std::max(1, fm.ascent() + fm.tightBoundingRect(shown).top()));
    // Black text on a transparent background.
    EXPECT_EQ(Ink(img, img.rect(), [](QColor c) { return c != kParent && c != kInk; }), QRect());
    delete l;
  }
}

TEST_F(Painting, PaintedLabelShowsTheFirstTemplateLineUntilSetTextThenEveryLineAndDisabledACopy) {
  auto* l = Make<PaintedLabel>(QRect(40, 30, 200, 80), u"Top\nBottom"_s);
  l->Attach(0);
  const int cy = QFontMetrics(l->font()).height();
  const auto rows = [&](const QImage& img, int top, int bottom) {
    return Ink(img, QRect(0, top, 200, bottom - top + 1), Drawn);
  };
  QImage img = Grab(l);
  EXPECT_NE(rows(img, 0, cy - 1), QRect());
  EXPECT_EQ(rows(img, cy, 79), QRect());
  // SetText has the parent repaint beneath the label and a margin, so an old, longer text
  // leaves nothing behind; the widget's own text stays.
  parent_.show();
  QApplication::processEvents();
  parent_.painted = {};
  l->SetText(u"Hy\nHy\n\nHy"_s);
  for (int i = 0; i < 5; ++i) QApplication::processEvents();
  EXPECT_EQ(QRegion(37, 27, 206, 86).subtracted(parent_.painted), QRegion());
  EXPECT_EQ(l->text(), u"Top\nBottom"_s);
  img = Grab(l);
  const QRect first = rows(img, 0, cy - 1);
  for (int line = 1; line < 4; ++line) {  // each line one row below the last; the third empty
    const QRect expected = first.translated(0, line * (cy + 1));
    EXPECT_EQ(rows(img, expected.top(), expected.bottom()), line == 2 ? QRect() : expected);
  }
  parent_.hide();
  // Disabled, it adds a copy one pixel right and down.
  for (int y = img.height() - 2; y >= 0; --y) {
    for (int x = img.width() - 2; x >= 0; --x) {
      if (img.pixelColor(x, y) == kInk)
        img.setPixelColor(x + 1, y + 1, kInk);
    }
  }
  l->setEnabled(false);
  EXPECT_TRUE(Grab(l) == img);
}

}  // namespace
}  // namespace tonvale::controls
