#include "app/input_hint_dialog.h"

#include <QCheckBox>
#include <QPushButton>
#include <QShowEvent>

#include "resources/control_ids.h"
#include "resources/dialog_builder.h"
#include "settings/settings_keys.h"

namespace tonvale::app {

InputHintDialog::InputHintDialog(platform::ProfileStore& profile, QWidget* parent)
    : QDialog(parent), m_profile(profile) {
  const auto controls =
      resources::BuildDialog(this, *resources::Template(resources::kInputHintTemplate));
  m_checkDontShow = qobject_cast<QCheckBox*>(controls.at(resources::ids::kDontShowAgain));
  auto* ok = qobject_cast<QPushButton*>(controls.at(resources::ids::kOk));
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

void InputHintDialog::showEvent(QShowEvent* event) {
  // Each opening starts from the member, as a fresh dialog would.
  if (!event->spontaneous())
    m_checkDontShow->setChecked(m_bDontShowAgain != 0);
  QDialog::showEvent(event);
}

void InputHintDialog::accept() {
  m_bDontShowAgain = m_checkDontShow->isChecked() ? 1 : 0;
  m_profile.WriteProfileInt(settings::option::kSection, settings::option::kOnlyOnce,
                            m_bDontShowAgain);
  QDialog::accept();
}

}  // namespace tonvale::app
