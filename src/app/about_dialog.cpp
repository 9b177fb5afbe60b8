#include "app/about_dialog.h"

#include "controls/round_button.h"
#include "resources/control_ids.h"
#include "resources/dialog_builder.h"

namespace tonvale::app {

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
  const resources::DialogTemplate& tmpl = *resources::Template(resources::kAboutTemplate);
  const auto controls = resources::BuildDialog(
      this, tmpl, [](const resources::ControlTemplate& c, QWidget* owner) -> QWidget* {
        if (c.id == resources::ids::kOk)
          return new controls::RoundButton(owner);
        return nullptr;
      });
  m_btnOK = qobject_cast<controls::RoundButton*>(controls.at(resources::ids::kOk));
  m_btnOK->Attach(tmpl.control(resources::ids::kOk)->style);
  m_btnOK->setDefault(true);
  connect(m_btnOK, &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace tonvale::app
