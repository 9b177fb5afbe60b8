#pragma once

// A push button painted with a bitmap face, a one-pixel rounded two-tone edge and a centred
// caption; pushed, the edge colours swap and the caption moves one pixel right and down.

#include <QColor>
#include <QPushButton>
#include <cstdint>

class QPixmap;

namespace tonvale::controls {

// The look every RoundButton starts with, copied by its constructor. The application fills
// it once at start-up, before any button exists. The faces are not owned and must outlive
// every button.
struct RoundButtonDefaults {
  const QPixmap* pFacePressed = nullptr;
  const QPixmap* pFaceNormal = nullptr;
  QColor clrHighlight{255, 255, 255};
  QColor clrShadow{96, 96, 96};
  QColor clrDisabledText{128, 128, 128};
  QColor clrText{0, 0, 0};

  // The process-wide record.
  static RoundButtonDefaults& Instance();
};

class RoundButton : public QPushButton {
  Q_OBJECT

 public:
  explicit RoundButton(QWidget* parent = nullptr);
  explicit RoundButton(const QString& text, QWidget* parent = nullptr);

  // Binds the button to its template control: keeps the low byte of its style. Anything but
  // a push button (0) or default push button (1) is never painted.
  void Attach(std::uint32_t style);

  // The face is not owned; the button repaints.
  void SetPressedFace(const QPixmap* face);
  void SetNormalFace(const QPixmap* face);

  int buttonType() const { return m_nButtonType; }
  const QPixmap* pressedFace() const { return m_pFacePressed; }
  const QPixmap* normalFace() const { return m_pFaceNormal; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  int m_nButtonType = 0;
  const QPixmap* m_pFacePressed;
  const QPixmap* m_pFaceNormal;
  QColor m_clrHighlight;
  QColor m_clrShadow;
  QColor m_clrDisabledText;
  QColor m_clrText;
};

}  // namespace tonvale::controls
