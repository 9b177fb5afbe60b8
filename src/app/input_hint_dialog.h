#pragma once

// Explains which input line to pick. OK stores whether it should open again; any other way
// of closing stores nothing.

#include <QDialog>

#include "platform/services.h"

class QCheckBox;
class QPushButton;

namespace tonvale::app {

class InputHintDialog : public QDialog {
  Q_OBJECT

 public:
  explicit InputHintDialog(platform::ProfileStore& profile, QWidget* parent = nullptr);

  // OK: takes the box into m_bDontShowAgain and writes it to "Option"/"b_only_once".
  void accept() override;

  // State of the "Do not show" box: 1 ticked, 0 clear. The box shows it when the dialog
  // opens and holds the user's choice after OK.
  int m_bDontShowAgain = 1;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  platform::ProfileStore& m_profile;
  QCheckBox* m_checkDontShow = nullptr;
};

}  // namespace tonvale::app
