#pragma once

// The application object: sets the settings key, prepares the rounded buttons' default look,
// runs the main window modally and ends when it closes.

#include <QPixmap>
#include <QString>

namespace tonvale::app {

class RecorderApp {
 public:
  RecorderApp();
  ~RecorderApp();

  // Runs the program; returns its exit status when the main window has closed: 0, or 1 when
  // no sound server answered.
  int InitInstance();
  // The window starts a recording as soon as it is up (the command line's --record when no
  // copy ran). Called before InitInstance.
  void RecordWhenShown() { m_bRecordWhenShown = true; }

  // The settings' application name: the program file's base name.
  static QString ApplicationName();
  // Where the help pages are, beside the program.
  static QString HelpDir();

 private:
  void InitButtonDefaults();

  QPixmap m_bmpDefaultPressed;
  QPixmap m_bmpDefaultNormal;
  bool m_bRecordWhenShown = false;
};

}  // namespace tonvale::app
