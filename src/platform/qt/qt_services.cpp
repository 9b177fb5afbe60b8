#include "platform/qt/qt_services.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QUrl>

namespace tonvale::platform {

void QtMessageBoxes::Show(QWidget* owner, const QString& text, const QString& caption, Icon icon) {
  QMessageBox::Icon qtIcon = QMessageBox::NoIcon;
  switch (icon) {
    case Icon::Stop:
      qtIcon = QMessageBox::Critical;
      break;
    case Icon::Exclamation:
      qtIcon = QMessageBox::Warning;
      break;
    case Icon::Information:
      qtIcon = QMessageBox::Information;
      break;
    case Icon::None:
      break;
  }
  QMessageBox box(qtIcon, caption, text, QMessageBox::Ok, owner);
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

void QtMessageBoxes::Beep() {
  QApplication::beep();
}

bool QtDesktop::OpenFile(const QString& path) {
  return QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()));
}

bool QtDesktop::OpenUrl(const QString& url) {
  return QDesktopServices::openUrl(QUrl(url, QUrl::StrictMode));
}

bool QtSaveFileDialog::GetSaveFileName(QWidget* owner, const QString& title,
                                       const QString& initialDir, const QString& initialName,
                                       const QString& filter, QString* chosen) {
  QFileDialog dialog(owner, title, initialDir, filter);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
  if (!initialName.isEmpty()) {
    dialog.selectFile(initialName);
  }
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
    return false;
  }
  *chosen = dialog.selectedFiles().constFirst();
  return true;
}

}  // namespace tonvale::platform
