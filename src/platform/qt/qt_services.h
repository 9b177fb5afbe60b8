#pragma once

// The Qt adapters of the desktop services: message boxes, the desktop's "open" handler and
// the save-file dialog.

#include "platform/services.h"

namespace tonvale::platform {

class QtMessageBoxes : public MessageBoxes {
 public:
  void Show(QWidget* owner, const QString& text, const QString& caption, Icon icon) override;
  void Beep() override;
};

// Opens files and addresses with the desktop's handler (xdg-open through QDesktopServices).
// A path goes as a file URL, so no shell ever sees it.
class QtDesktop : public Desktop {
 public:
  bool OpenFile(const QString& path) override;
  bool OpenUrl(const QString& url) override;
};

class QtSaveFileDialog : public SaveFileDialog {
 public:
  bool GetSaveFileName(QWidget* owner, const QString& title, const QString& initialDir,
                       const QString& initialName, const QString& filter, QString* chosen) override;
};

}  // namespace tonvale::platform
