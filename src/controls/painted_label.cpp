#include "controls/painted_label.h"

#include <QFontMetrics>
#include <QPainter>

namespace tonvale::controls {

namespace {
// How far around the label the parent repaints, so nothing of an old text survives.
constexpr int kUnderneathMargin = 3;
}  // namespace

PaintedLabel::PaintedLabel(QWidget* parent) : QLabel(parent) {}

void PaintedLabel::Attach(std::uint32_t style) {
  m_dwStyle = style;
  m_szText = text();
}

void PaintedLabel::SetText(const QString& text) {
  m_szText = text;
  m_nLines = 1 + static_cast<int>(text.count(QLatin1Char('\n')));
  InvalidateUnderneath();
}

void PaintedLabel::InvalidateUnderneath() {
  QWidget* parent = parentWidget();
  if (!parent) {
    update();
    return;
  }
  // Repainting the parent there repaints this label over it too.
  parent->update(geometry().adjusted(-kUnderneathMargin, -kUnderneathMargin, kUnderneathMargin,
                                     kUnderneathMargin));
}

void PaintedLabel::paintEvent(QPaintEvent* /*event*/) {
  const int w = width();
  const int h = height();
  QPainter p(this);
  p.setClipRect(QRect(1, 1, w - 1, h - 1));
  p.setFont(font());
  const QFontMetrics fm(font());
  const QStringList lines = m_szText.split(QLatin1Char('\n'));

  int y = 0;
  for (int i = 0; i < m_nLines; ++i) {
    const QString line = i < lines.size() ? lines.at(i) : QString();
    const int cx = fm.horizontalAdvance(line);
    const int cy = fm.height();
    int x = 2;  // left, and also for 3, which is no text alignment
    switch (m_dwStyle & 3) {
      case 1:
        x = (w - cx) / 2;
        break;
      case 2:
        x = w - cx - 2;
        break;
      default:
        break;
    }
    if (!isEnabled()) {
      p.setPen(m_clrTextShadow);
      p.drawText(x + 1, y + 1 + fm.ascent(), line);
    }
    p.setPen(m_clrText);
    p.drawText(x, y + fm.ascent(), line);
    y += cy + 1;
  }
}

}  // namespace tonvale::controls
