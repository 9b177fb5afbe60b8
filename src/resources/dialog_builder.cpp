#include "resources/dialog_builder.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <algorithm>
#include <cmath>

#include "resources/resources.h"

namespace tonvale::resources {

namespace {

// Nearest integer of a * b / c, halves away from zero.
int MulDivRound(int a, int b, int c) {
  if (c == 0)
    return 0;
  const long long n = static_cast<long long>(a) * b;
  const long long half = c / 2;
  const long long r = n >= 0 ? (n + half) / c : -((-n + half) / c);
  return static_cast<int>(r);
}

constexpr int kIconStaticSize = 32;

QString Text(const ControlTemplate& c) {
  return QString::fromUtf8(c.text);
}

void ApplyText(QWidget* w, const ControlTemplate& c) {
  if (c.kind == ControlClass::Static && (c.style & style::SS_TYPEMASK) == style::SS_ICON)
    return;
  if (auto* button = qobject_cast<QAbstractButton*>(w)) {
    button->setText(Text(c));
  } else if (auto* edit = qobject_cast<QLineEdit*>(w)) {
    edit->setText(Text(c));
  } else if (auto* label = qobject_cast<QLabel*>(w)) {
    label->setText(Text(c));
  }
}

Qt::Alignment StaticAlignment(std::uint32_t s) {
  switch (s & 3) {
    case style::SS_CENTER:
      return Qt::AlignHCenter | Qt::AlignTop;
    case style::SS_RIGHT:
      return Qt::AlignRight | Qt::AlignTop;
    default:
      return Qt::AlignLeft | Qt::AlignTop;
  }
}

}  // namespace

DialogUnits DialogUnits::FromFont(const QFont& font) {
  const QFontMetrics fm(font);
  const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
  DialogUnits u;
  u.baseX = (fm.horizontalAdvance(letters) / 26 + 1) / 2;
  u.baseY = fm.height();
  return u;
}

int DialogUnits::ToPixelsX(int units) const {
  return MulDivRound(units, baseX, 4);
}
int DialogUnits::ToPixelsY(int units) const {
  return MulDivRound(units, baseY, 8);
}

QRect DialogUnits::ToPixels(int x, int y, int w, int h) const {
  const int left = ToPixelsX(x);
  const int top = ToPixelsY(y);
  // Both edges are converted, as the window system does, so adjacent controls stay adjacent.
  return QRect(left, top, ToPixelsX(x + w) - left, ToPixelsY(y + h) - top);
}

QFont DialogFont(const DialogTemplate& dialog) {
  const QString family = QString::fromUtf8(dialog.fontFamily);
  if (QFontDatabase::hasFamily(family))
    return QFont(family, dialog.fontPoints);
  QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
  font.setPointSize(std::clamp(dialog.fontPoints, 8, 9));
  return font;
}

QWidget* CreateDefaultControl(const ControlTemplate& c, QWidget* parent) {
  switch (c.kind) {
    case ControlClass::Button: {
      if ((c.style & style::BS_TYPEMASK) == style::BS_AUTOCHECKBOX)
        return new QCheckBox(parent);
      auto* button = new QPushButton(parent);
      if ((c.style & style::BS_TYPEMASK) == style::BS_DEFPUSHBUTTON)
        button->setDefault(true);
      return button;
    }
    case ControlClass::Edit: {
      auto* edit = new QLineEdit(parent);
      edit->setFrame((c.style & style::WS_BORDER) != 0);
      return edit;
    }
    case ControlClass::Static: {
      auto* label = new QLabel(parent);
      if ((c.style & style::SS_TYPEMASK) == style::SS_ICON) {
        label->setPixmap(Icon(c.image).pixmap(kIconStaticSize, kIconStaticSize));
        return label;
      }
      label->setTextFormat(Qt::PlainText);
      label->setWordWrap(true);
      label->setAlignment(StaticAlignment(c.style));
      if (c.style & style::SS_SUNKEN)
        label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
      return label;
    }
    case ControlClass::ComboBox: {
      auto* combo = new QComboBox(parent);
      combo->setEditable(false);
      return combo;
    }
    case ControlClass::Trackbar:
      return new QSlider(Qt::Horizontal, parent);
  }
  return nullptr;
}

std::map<int, QWidget*> BuildDialog(QDialog* dialog, const DialogTemplate& tmpl,
                                    const ControlFactory& factory) {
  std::map<int, QWidget*> controls;
  const QFont font = DialogFont(tmpl);
  dialog->setFont(font);
  const DialogUnits units = DialogUnits::FromFont(font);

  Qt::WindowFlags flags =
      Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::MSWindowsFixedSizeDialogHint;
  if (tmpl.hasSystemMenu())
    flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
  if (tmpl.hasMinimizeBox())
    flags |= Qt::WindowMinimizeButtonHint;
  dialog->setWindowFlags(flags);
  dialog->setWindowTitle(QString::fromUtf8(tmpl.title));
  dialog->setSizeGripEnabled(false);
  dialog->setFixedSize(units.ToPixels(0, 0, tmpl.width, tmpl.height).size());

  QWidget* previous = nullptr;
  for (const ControlTemplate& c : tmpl.controls) {
    QWidget* w = factory ? factory(c, dialog) : nullptr;
    if (!w)
      w = CreateDefaultControl(c, dialog);
    if (w->parentWidget() != dialog)
      w->setParent(dialog);
    w->setObjectName(QString::number(c.id));
    w->setProperty("controlId", c.id);
    ApplyText(w, c);

    QRect r = units.ToPixels(c.x, c.y, c.w, c.h);
    if (c.kind == ControlClass::ComboBox) {
      // The template gives the height with the list dropped down; closed it has its own.
      r.setHeight(w->sizeHint().height());
    } else if (c.kind == ControlClass::Static && (c.style & style::SS_TYPEMASK) == style::SS_ICON) {
      r.setSize(QSize(kIconStaticSize, kIconStaticSize));
    }
    w->setGeometry(r);

    if (previous)
      QWidget::setTabOrder(previous, w);
    previous = w;
    if (c.id != kStaticId)
      controls.emplace(c.id, w);
  }
  return controls;
}

}  // namespace tonvale::resources
