#include "app/recorder_app.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>

#include "app/hotkey_choice.h"
#include "app/recorder_dialog.h"
#include "app/remote_commands.h"
#include "app/status_log.h"
#include "controls/round_button.h"
#include "platform/dbus/dbus_notifications.h"
#include "platform/dbus/dbus_remote_control.h"
#include "platform/gst/media_factory_gst.h"
#include "platform/pulse/pulse_devices.h"
#include "platform/pulse/pulse_level_monitor.h"
#include "platform/qt/qt_services.h"
#include "resources/resources.h"
#include "settings/profile_store.h"
#include "settings/sink_hand_off.h"

#ifndef TONVALE_DATA_RELDIR
#define TONVALE_DATA_RELDIR "../share/tonvale"
#endif

namespace tonvale::app {

namespace {

// Notes every message box in the diagnostics before showing it, so the program can be
// followed from outside; the box itself is unchanged.
class LoggedMessageBoxes : public platform::MessageBoxes {
 public:
  explicit LoggedMessageBoxes(platform::MessageBoxes& boxes) : boxes_(boxes) {}
  void Show(QWidget* owner, const QString& text, const QString& caption, Icon icon) override {
    qCDebug(lcStatus).noquote() << "box:" << caption << "|" << text.simplified();
    boxes_.Show(owner, text, caption, icon);
  }
  void Beep() override { boxes_.Beep(); }

 private:
  platform::MessageBoxes& boxes_;
};

}  // namespace

RecorderApp::RecorderApp() = default;

RecorderApp::~RecorderApp() {
  auto& defaults = controls::RoundButtonDefaults::Instance();
  defaults.pFacePressed = nullptr;
  defaults.pFaceNormal = nullptr;
}

QString RecorderApp::ApplicationName() {
  return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
}

QString RecorderApp::HelpDir() {
  return QDir::cleanPath(QCoreApplication::applicationDirPath() + QLatin1Char('/') +
                         QStringLiteral(TONVALE_DATA_RELDIR) + QStringLiteral("/help"));
}

void RecorderApp::InitButtonDefaults() {
  m_bmpDefaultPressed = resources::Bitmap(resources::kBitmapDefaultFace);
  m_bmpDefaultNormal = resources::Bitmap(resources::kBitmapDefaultFace);
  auto& defaults = controls::RoundButtonDefaults::Instance();
  defaults.pFacePressed = &m_bmpDefaultPressed;
  defaults.pFaceNormal = &m_bmpDefaultNormal;
  defaults.clrHighlight = QColor(255, 255, 255);
  defaults.clrShadow = QColor(96, 96, 96);
  defaults.clrDisabledText = QColor(128, 128, 128);
  defaults.clrText = QColor(0, 0, 0);
}

int RecorderApp::InitInstance() {
  settings::QSettingsProfileStore profile(ApplicationName());
  InitButtonDefaults();

  settings::QSettingsSinkHandOff handOff;
  platform::QtMessageBoxes qtBoxes;
  LoggedMessageBoxes boxes(qtBoxes);
  platform::QtDesktop desktop;
  platform::QtSaveFileDialog saveDialog;
  HotkeyBackend hotkeys = ChooseHotkeyBackend();
  platform::GstMediaFactory media(platform::GstMediaFactory::DefaultPluginDir(),
                                  &platform::CreatePulseDeviceEnumerator);

  platform::DBusNotifications notifications(QStringLiteral("Tonvale"), QStringLiteral("tonvale"),
                                            QStringLiteral("com.velmora.tonvale"));

  platform::PulseLevelMonitor levels;

  RecorderDialog dialog({media, profile, handOff, boxes, desktop, *hotkeys.registrar, saveDialog,
                         HelpDir(), &notifications, &levels});
  NoteHotkeyWayWhenShown(&dialog, hotkeys.way, profile);
  platform::DBusRemoteControl remote;
  RemoteCommands remoteCommands(dialog, remote);
  if (m_bRecordWhenShown) {
    remoteCommands.RecordWhenShown();
  }
  return dialog.DoModal();
}

}  // namespace tonvale::app
