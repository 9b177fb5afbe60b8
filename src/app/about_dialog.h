#pragma once

// The About box: program name, maker, web address and support e-mail, with a rounded OK.

#include <QDialog>

namespace tonvale::controls {
class RoundButton;
}

namespace tonvale::app {

class AboutDialog : public QDialog {
  Q_OBJECT

 public:
  explicit AboutDialog(QWidget* parent = nullptr);

  controls::RoundButton* m_btnOK = nullptr;
};

}  // namespace tonvale::app
