#include "controls/round_button.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPixmap>
#include <QRegion>
#include <algorithm>

namespace tonvale::controls {

RoundButtonDefaults& RoundButtonDefaults::Instance() {
  static RoundButtonDefaults defaults;
  return defaults;
}

RoundButton::RoundButton(QWidget* parent) : RoundButton(QString(), parent) {}

RoundButton::RoundButton(const QString& text, QWidget* parent) : QPushButton(text, parent) {
  const RoundButtonDefaults& d = RoundButtonDefaults::Instance();
  m_pFacePressed = d.pFacePressed;
  m_pFaceNormal = d.pFaceNormal;
  m_clrHighlight = d.clrHighlight;
  m_clrShadow = d.clrShadow;
  m_clrDisabledText = d.clrDisabledText;
  m_clrText = d.clrText;
}

void RoundButton::Attach(std::uint32_t style) {
  m_nButtonType = static_cast<int>(style & 0xFF);
}

void RoundButton::SetPressedFace(const QPixmap* face) {
  m_pFacePressed = face;
  update();
}

void RoundButton::SetNormalFace(const QPixmap* face) {
  m_pFaceNormal = face;
  update();
}

void RoundButton::paintEvent(QPaintEvent* /*event*/) {
  // Check boxes and other kinds attached here keep whatever the parent painted.
  if (m_nButtonType > 1)
    return;

  const int w = width();
  const int h = height();
  const int pushed = isDown() ? 1 : 0;
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing, false);

  // The face, unscaled, from its top-left corner, one pixel inside the button.
  const QPixmap* face = pushed ? m_pFacePressed : m_pFaceNormal;
  if (face && !face->isNull()) {
    const int fw = std::min(w - 2, face->width());
    const int fh = std::min(h - 2, face->height());
    if (fw > 0 && fh > 0)
      p.drawPixmap(1, 1, *face, 0, 0, fw, fh);
  }

  // The edge: the same rounded outline twice, each pass clipped to a three-pixel strip, the
  // top/left strip light and the bottom/right one dark at rest, swapped while pushed.
  const QRect outline(0, 0, w - 1, h - 1);
  const QRegion whole(0, 0, w, h);
  p.setBrush(Qt::NoBrush);
  p.setClipRegion(whole.subtracted(QRegion(3, 3, w - 3, h - 3)));
  p.setPen(QPen(pushed ? m_clrShadow : m_clrHighlight, 1));
  p.drawRoundedRect(outline, 3, 3);
  p.setClipRegion(whole.subtracted(QRegion(0, 0, w - 3, h - 3)));
  p.setPen(QPen(pushed ? m_clrHighlight : m_clrShadow, 1));
  p.drawRoundedRect(outline, 3, 3);
  p.setClipping(false);

  // The caption, centred on its extent; the whole text is drawn however long it is.
  const QString caption = text();
  const QFontMetrics fm(font());
  const int cx = fm.horizontalAdvance(caption);
  const int cy = fm.height();
  const int x = (w - cx) / 2;
  const int y = (h - cy) / 2;
  p.setFont(font());
  if (isEnabled()) {
    p.setPen(m_clrText);
    p.drawText(x + pushed, y + pushed + fm.ascent(), caption);
  } else {
    p.setPen(m_clrDisabledText);
    p.drawText(x + pushed + 1, y + pushed + 1 + fm.ascent(), caption);
  }
}

}  // namespace tonvale::controls
