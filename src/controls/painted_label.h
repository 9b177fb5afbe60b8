#pragma once

// A caption that paints its own copy of the text, line by line, on a transparent
// background. SetText changes what is painted but not QLabel::text().

#include <QColor>
#include <QLabel>
#include <cstdint>

namespace tonvale::controls {

class PaintedLabel : public QLabel {
  Q_OBJECT

 public:
  explicit PaintedLabel(QWidget* parent = nullptr);

  // Binds the label to its template control: keeps the style (bits 0-1 are the alignment)
  // and takes the current text as the one to paint. The line count stays 1, so a text with
  // line feeds shows its first line until SetText.
  void Attach(std::uint32_t style);

  // Replaces the painted text and has the parent repaint the area beneath the label.
  void SetText(const QString& text);

  const QString& paintedText() const { return m_szText; }
  int lineCount() const { return m_nLines; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void InvalidateUnderneath();

  std::uint32_t m_dwStyle = 0;
  QString m_szText;
  QColor m_clrTextShadow{0, 0, 0};
  QColor m_clrText{0, 0, 0};
  int m_nLines = 1;
};

}  // namespace tonvale::controls
