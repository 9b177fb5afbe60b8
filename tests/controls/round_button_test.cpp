#include <gtest/gtest.h>

#include <QFontMetrics>
#include <QPixmap>

#include "controls/round_button.h"
#include "pixel_helpers.h"

namespace {

using tonvale::controls::RoundButton;
using tonvale::controls::RoundButtonDefaults;
using namespace tonvale::testing;

const QColor kWhite(255, 255, 255);
const QColor kDark(96, 96, 96);
const QColor kGrey(128, 128, 128);
const QColor kBlack(0, 0, 0);
const QColor kNormalFace(230, 230, 250);
const QColor kPressedFace(250, 230, 200);

QPixmap Solid(QSize size, QColor c) {
  QPixmap pm(size);
  pm.fill(c);
  return pm;
}

class RoundButtonPainting : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = RoundButtonDefaults::Instance();
    RoundButtonDefaults& d = RoundButtonDefaults::Instance();
    d = RoundButtonDefaults{};
    d.pFacePressed = &pressed_;
    d.pFaceNormal = &normal_;
    MakeBackdrop(&parent_, QSize(700, 120));
  }
  void TearDown() override { RoundButtonDefaults::Instance() = saved_; }

  RoundButton* Make(QSize size, const QString& text = {}) {
    auto* b = new RoundButton(text, &parent_);
    b->setFont(CrispFont(b->font()));
    b->setGeometry(QRect(QPoint(10, 10), size));
    return b;
  }

  // Where the caption's letters are, inside the edge.
  static QRect CaptionInk(const QImage& img, QColor face) {
    return InkRect(img, img.rect().adjusted(3, 3, -3, -3), [&](QColor c) { return c != face; });
  }

  QPixmap normal_ = Solid(QSize(116, 30), kNormalFace);
  QPixmap pressed_ = Solid(QSize(116, 30), kPressedFace);
  QWidget parent_;
  RoundButtonDefaults saved_;
};

TEST_F(RoundButtonPainting, EdgeIsLightTopLeftAndDarkBottomRightSwappedWhenPushed) {
  RoundButton* b = Make(QSize(80, 24));
  struct Case {
    bool down;
    QColor topLeft, bottomRight, face;
  };
  for (const Case& c :
       {Case{false, kWhite, kDark, kNormalFace}, Case{true, kDark, kWhite, kPressedFace}}) {
    SCOPED_TRACE(c.down);
    b->setDown(c.down);
    const QImage img = GrabChild(&parent_, b);
    EXPECT_EQ(At(img, 40, 0), c.topLeft);
    EXPECT_EQ(At(img, 0, 12), c.topLeft);
    EXPECT_EQ(At(img, 40, 23), c.bottomRight);
    EXPECT_EQ(At(img, 79, 12), c.bottomRight);
    // The corner pixels are outside the rounding.
    EXPECT_EQ(At(img, 0, 0), kParentColour);
    EXPECT_EQ(At(img, 79, 23), kParentColour);
    // The face fills the inside, from one pixel in to one pixel in.
    for (const QPoint& p : {QPoint(1, 12), QPoint(78, 12), QPoint(40, 1), QPoint(40, 22)})
      EXPECT_EQ(At(img, p.x(), p.y()), c.face) << p.x() << "," << p.y();
  }
}

TEST_F(RoundButtonPainting, CaptionIsCentredAndMovesOnePixelWhenPushedOrDisabled) {
  RoundButton* b = Make(QSize(90, 26), QStringLiteral("Record"));
  const QFontMetrics fm(b->font());
  const QRect tight = fm.tightBoundingRect(b->text());
  const int x = (90 - fm.horizontalAdvance(b->text())) / 2;
  const int y = (26 - fm.height()) / 2 + fm.ascent();

  const QImage rest = GrabChild(&parent_, b);
  const QRect inkRest = CaptionInk(rest, kNormalFace);
  ASSERT_FALSE(inkRest.isEmpty());
  EXPECT_EQ(InkRect(rest, inkRest, [](QColor c) { return c == kBlack; }), inkRest);
  EXPECT_EQ(inkRest.left(), x + tight.left());
  EXPECT_EQ(inkRest.top(), y + tight.top());

  b->setDown(true);
  const QImage pushed = GrabChild(&parent_, b);
  EXPECT_EQ(CaptionInk(pushed, kPressedFace), inkRest.translated(1, 1));
  b->setDown(false);

  b->setEnabled(false);
  const QImage disabled = GrabChild(&parent_, b);
  const QRect inkDisabled = CaptionInk(disabled, kNormalFace);
  EXPECT_EQ(inkDisabled, inkRest.translated(1, 1));
  // One grey copy only: nothing black anywhere.
  EXPECT_EQ(InkRect(disabled, disabled.rect(), [](QColor c) { return c == kBlack; }), QRect());
  EXPECT_EQ(InkRect(disabled, inkDisabled, [](QColor c) { return c == kGrey; }), inkDisabled);
  // Still its face and edge.
  EXPECT_EQ(At(disabled, 40, 0), kWhite);
  EXPECT_EQ(At(disabled, 1, 12), kNormalFace);
}

TEST_F(RoundButtonPainting, FaceIsShownUnscaledFromItsTopLeftCorner) {
  RoundButton* b = Make(QSize(150, 40));
  const QPixmap small = Solid(QSize(116, 21), kNormalFace);
  b->SetNormalFace(&small);
  const QImage img = GrabChild(&parent_, b);
  EXPECT_EQ(At(img, 116, 10), kNormalFace);  // last face column (1 + 115)
  EXPECT_EQ(At(img, 117, 10), kParentColour);
  EXPECT_EQ(At(img, 20, 21), kNormalFace);  // last face row
  EXPECT_EQ(At(img, 20, 22), kParentColour);
  EXPECT_EQ(At(img, 75, 39), kDark);
}

TEST_F(RoundButtonPainting, EmptyFaceLeavesTheParentVisibleButKeepsEdgeAndCaption) {
  RoundButton* b = Make(QSize(80, 24), QStringLiteral("Play"));
  const QPixmap empty;
  b->SetNormalFace(&empty);
  QImage img = GrabChild(&parent_, b);
  EXPECT_EQ(At(img, 2, 12), kParentColour);
  EXPECT_EQ(At(img, 40, 0), kWhite);
  EXPECT_EQ(At(img, 40, 23), kDark);
  EXPECT_FALSE(CaptionInk(img, kParentColour).isEmpty());

  b->SetNormalFace(nullptr);
  img = GrabChild(&parent_, b);
  EXPECT_EQ(At(img, 2, 12), kParentColour);
  EXPECT_EQ(At(img, 0, 12), kWhite);
}

TEST_F(RoundButtonPainting, OnlyPushButtonStylesArePainted) {
  struct Case {
    std::uint32_t style;
    bool painted;
  };
  for (const Case& c : {Case{0x50010000u, true}, Case{0x50010001u, true}, Case{0x3u, false},
                        Case{0x2u, false}, Case{0x50010003u, false}}) {
    SCOPED_TRACE(c.style);
    RoundButton* b = Make(QSize(80, 24), QStringLiteral("About"));
    b->Attach(c.style);
    const QImage img = GrabChild(&parent_, b);
    const QRect foreign = InkRect(img, img.rect(), [](QColor col) { return col != kParentColour; });
    EXPECT_EQ(foreign.isEmpty(), !c.painted);
    delete b;
  }
}

TEST_F(RoundButtonPainting, TakesItsLookFromTheDefaultsWhenConstructed) {
  RoundButtonDefaults::Instance().clrHighlight = QColor(200, 0, 0);
  RoundButtonDefaults::Instance().clrShadow = QColor(0, 0, 200);
  RoundButton* b = Make(QSize(80, 24));
  RoundButtonDefaults::Instance().clrHighlight = kWhite;  // later changes do not reach it
  const QImage img = GrabChild(&parent_, b);
  EXPECT_EQ(At(img, 40, 0), QColor(200, 0, 0));
  EXPECT_EQ(At(img, 40, 23), QColor(0, 0, 200));
  EXPECT_EQ(b->normalFace(), &normal_);
  EXPECT_EQ(b->pressedFace(), &pressed_);
}

// A long caption is drawn whole: nothing is cut after a fixed number of characters.
TEST_F(RoundButtonPainting, LongCaptionIsNotCut) {
  RoundButton* b = Make(QSize(680, 24), QString(140, QLatin1Char(' ')) + QStringLiteral("X"));
  const QImage img = GrabChild(&parent_, b);
  EXPECT_FALSE(CaptionInk(img, kNormalFace).isEmpty());
}

}  // namespace
