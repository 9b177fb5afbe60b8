#pragma once

// Builds a dialog's widgets from a template (templates.h): the dialog-unit layout becomes
// pixels through the dialog font, exactly as the templates were designed against.

#include <QFont>
#include <QRect>
#include <functional>
#include <map>

#include "resources/templates.h"

class QDialog;
class QWidget;

namespace tonvale::resources {

// Dialog units of one font: a horizontal unit is a quarter of the average character width,
// a vertical unit an eighth of the character height. Pixels are rounded to nearest.
struct DialogUnits {
  int baseX = 0;  // average width of "A".."Z" "a".."z", rounded
  int baseY = 0;  // font height (ascent + descent)

  static DialogUnits FromFont(const QFont& font);
  int ToPixelsX(int units) const;
  int ToPixelsY(int units) const;
  QRect ToPixels(int x, int y, int w, int h) const;
};

// The template's font when the machine has it, else the desktop's UI font at the
// template's point size (8 or 9 pt), so the layout keeps its proportions.
QFont DialogFont(const DialogTemplate& dialog);

// Makes the widget for one control, as a child of parent; returns nullptr to let the
// builder make its default widget.
using ControlFactory = std::function<QWidget*(const ControlTemplate& control, QWidget* parent)>;

// The default widget of a control: QPushButton / QCheckBox (auto check box), QLineEdit,
// QLabel (word-wrapped text, sunken frame, icon picture), QComboBox (drop-down list),
// QSlider (horizontal).
QWidget* CreateDefaultControl(const ControlTemplate& control, QWidget* parent);

// Creates every control of the template as a child of dialog, in template order (which is
// also the tab order), at its pixel rectangle and with its text; names each by its id
// (objectName "1008", property "controlId"); sets the dialog's font, title and fixed size.
// Hides nothing. Controls with kStaticId get no entry in the returned map. Attach custom
// controls after this returns: their texts are in place by then.
std::map<int, QWidget*> BuildDialog(QDialog* dialog, const DialogTemplate& tmpl,
                                    const ControlFactory& factory = {});

}  // namespace tonvale::resources
