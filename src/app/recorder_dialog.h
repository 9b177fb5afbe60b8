#pragma once

// The main window: one modal dialog built from template 102 that owns the recording engine,
// the hotkey table and every control, initialises them in a fixed order and writes the
// settings when it is closed.

#include <QDialog>
#include <QPixmap>
#include <QTimer>
#include <map>

#include "hotkeys/hotkey_table.h"
#include "platform/services.h"
#include "recorder/recorder_controls.h"
#include "recorder/recorder_engine.h"
#include "settings/temp_wav.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QSlider;

namespace tonvale::controls {
class LevelMeter;
class PaintedLabel;
class RoundButton;
}  // namespace tonvale::controls
namespace tonvale::hotkeys {
class HotkeyEdit;
}

namespace tonvale::platform {
class LevelMonitor;
}

namespace tonvale::app {

class LevelMeterFeed;

// Everything the main window needs from the platform; the program wires the real adapters,
// tests wire fakes.
struct DialogServices {
  platform::MediaFactory& media;
  platform::ProfileStore& profile;
  platform::SinkHandOff& handOff;
  platform::MessageBoxes& boxes;
  platform::Desktop& desktop;
  platform::HotkeyRegistrar& hotkeys;
  platform::SaveFileDialog& saveDialog;
  // The folder that holds Introduction.html.
  QString helpDir;
  // Where recordings that hotkeys and remote commands start or stop are announced; none in
  // tests.
  platform::Notifications* notifications = nullptr;
  // The input line's level meter reads the line through it; none: the meter stays empty.
  platform::LevelMonitor* levels = nullptr;
};

// The graph's "events are pending" notification, queued to the window.
inline constexpr int kGraphEventMessage = 0x8001;

class RecorderDialog : public QDialog, public recorder::RecorderControls {
  Q_OBJECT

 public:
  // Builds the window from its template and loads the hotkey table.
  explicit RecorderDialog(DialogServices services, QWidget* parent = nullptr);
  ~RecorderDialog() override;

  // Initialises the window; true. A failed start (no graph, no capture device) queues the
  // end of the dialog and writes nothing.
  bool OnInitDialog();
  // Initialises and runs the window modally; returns the program's exit status: 0, or 1
  // when no sound server answered.
  int DoModal();

  // Commands.
  void OnRecord();
  void OnPause() { m_engine.OnPause(); }
  void OnStop() { m_engine.OnStop(); }
  void OnPlay() { m_engine.OnPlay(); }
  void OnBrowse();
  void OnAbout();
  void OnHelpButton();
  void OnHomepage();
  // The context menu's commands (the About item is 0x0010).
  void OnSysCommand(int command);
  // Remote commands come here too. False when the command was not run because one of the
  // program's boxes or dialogs is open.
  bool OnHotKey(int id);
  // The desktop reports another trigger on a hotkey: its field shows it.
  void OnHotKeyTrigger(int id, unsigned modifiers, unsigned virtualKey, const QString& text);

  recorder::RecorderEngine& engine() { return m_engine; }
  hotkeys::HotkeyTable& hotkeyTable() { return m_hotkeys; }
  QWidget* control(int controlId) const;
  controls::LevelMeter* levelMeter() const { return m_meter; }
  LevelMeterFeed* levelMeterFeed() const { return m_meterFeed; }
  bool initFailed() const { return m_bInitFailed; }

  // RecorderControls.
  QWidget* owner() override { return this; }
  void SetStatusText(const QString& text) override;
  void EnableControl(int controlId, bool enable) override;
  QString OutputFieldText() const override;
  void SetOutputFieldText(const QString& text) override;
  int ComboAddString(int controlId, const QString& text) override;
  int ComboCount(int controlId) const override;
  int ComboGetCurSel(int controlId) const override;
  void ComboSetCurSel(int controlId, int index) override;
  void ComboResetContent(int controlId) override;
  int SliderPos() const override;
  void SetSliderPos(int pos) override;
  void SetTimer(int timerId, int periodMs) override;
  void KillTimer(int timerId) override;
  void PostStopCommand() override;
  void PostQuit() override;
  bool RunInputHint(int* dontShowAgain) override;
  platform::MediaEvent::NotifyFn GraphNotifier() override;

  void done(int result) override;

 protected:
  bool event(QEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void contextMenuEvent(QContextMenuEvent* e) override;
  void showEvent(QShowEvent* e) override;

 private:
  void BuildControls();
  void ConnectHandlers();
  void RunCloseSequence();
  void ReportNoSoundServer();
  void AnnounceRecording(bool wasRecording);
  void Announce();
  QComboBox* combo(int controlId) const;
  void ScheduleListsLog();
  void LogLists() const;

  DialogServices m_services;
  // Declared before the engine, so the claim outlives a recording the engine finishes.
  settings::TempWavClaim m_tempWav;
  recorder::RecorderEngine m_engine;
  hotkeys::HotkeyTable m_hotkeys;
  std::map<int, QWidget*> m_controls;
  controls::LevelMeter* m_meter = nullptr;
  LevelMeterFeed* m_meterFeed = nullptr;  // a child of the window

  hotkeys::HotkeyEdit* m_editStartHotkey = nullptr;  // 1058
  hotkeys::HotkeyEdit* m_editStopHotkey = nullptr;   // 1059
  QLineEdit* m_editOutputFile = nullptr;             // 1008
  QLabel* m_staticStatus = nullptr;                  // 1035
  QSlider* m_sliderVolume = nullptr;                 // 1038
  QPixmap m_bmpTransportFace;
  QTimer m_recordTimer;  // timer 1113
  QString m_aboutItemText;
  bool m_bInitFailed = false;
  int m_nExitStatus = 0;
  bool m_bClosing = false;
  bool m_bShownOnce = false;
  bool m_bListsLogPending = false;
  // A start or stop by hotkey or remote command waits to be announced.
  bool m_announcePending = false;
  bool m_announceFrom = false;
};

}  // namespace tonvale::app
