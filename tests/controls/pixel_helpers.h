#pragma once

// Rendering widgets offscreen and reading their pixels.

#include <QColor>
#include <QImage>
#include <QRect>
#include <QWidget>
#include <functional>

namespace tonvale::testing {

// A plain parent whose background shows wherever a child paints nothing.
inline const QColor kParentColour(20, 180, 40);

inline void MakeBackdrop(QWidget* parent, QSize size) {
  QPalette pal = parent->palette();
  pal.setColor(QPalette::Window, kParentColour);
  parent->setPalette(pal);
  parent->setAutoFillBackground(true);
  parent->resize(size);
}

// The pixels of child as the parent shows them (child coordinates).
inline QImage GrabChild(QWidget* parent, QWidget* child) {
  return parent->grab().toImage().copy(child->geometry()).convertToFormat(QImage::Format_RGB32);
}

inline QColor At(const QImage& img, int x, int y) {
  return QColor(img.pixel(x, y));
}

// The smallest rectangle of area holding every pixel for which is(colour) holds.
inline QRect InkRect(const QImage& img, const QRect& area, const std::function<bool(QColor)>& is) {
  QRect ink;
  for (int y = area.top(); y <= area.bottom(); ++y) {
    for (int x = area.left(); x <= area.right(); ++x) {
      if (is(At(img, x, y)))
        ink |= QRect(x, y, 1, 1);
    }
  }
  return ink;
}

// A font drawn without smoothing, so text pixels carry exactly the pen colour.
inline QFont CrispFont(const QFont& base) {
  QFont f = base;
  f.setPointSize(10);
  f.setStyleStrategy(QFont::NoAntialias);
  return f;
}

}  // namespace tonvale::testing
