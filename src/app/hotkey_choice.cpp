#include "app/hotkey_choice.h"

#include <QCheckBox>
#include <QDialog>
#include <QEvent>
#include <QLoggingCategory>
#include <QMessageBox>
#include <QTimer>
#include <QWidget>

#include "app/status_log.h"
#include "hotkeys/hotkey_table.h"
#include "platform/portal/hotkeys_portal.h"
#include "platform/x11/hotkeys_x11.h"
#include "settings/settings_keys.h"

namespace tonvale::app {

namespace {
Q_LOGGING_CATEGORY(lcHotkeyChoice, "tonvale.hotkeys")

namespace opt = settings::option;

const QString kCaption = QStringLiteral("Tonvale Hotkeys");
const QString kRemoteControl = QStringLiteral(
    "To start and stop recording from anywhere, bind keys to these commands in your desktop's "
    "keyboard settings:\n\n"
    "    sonarelrecorder --toggle\n"
    "    sonarelrecorder --record\n"
    "    sonarelrecorder --stop");
const QString kUnavailable = QStringLiteral(
    "Global hotkeys are not available on this desktop: it offers no GlobalShortcuts portal, "
    "and there is no X11 display to take keys from.\n\n");
const QString kXwaylandOnly = QStringLiteral(
    "This desktop offers no GlobalShortcuts portal, so the hotkeys are X11 key grabs through "
    "Xwayland. They fire only where the desktop passes keys to X11 programs, on many desktops "
    "only while a window of an X11 program has the focus.\n\n");

// Holds nothing: where no way to have global keys exists, the note says so instead of a
// failure box for each hotkey.
class NoHotkeys : public platform::HotkeyRegistrar {
 public:
  void SetHandler(std::function<void(int)>) override {}
  bool RegisterHotKey(int, unsigned, unsigned) override { return true; }
  void UnregisterHotKey(int) override {}
};

bool IsWaylandSession() {
  return qEnvironmentVariable("XDG_SESSION_TYPE") == QLatin1String("wayland") ||
         !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

// Shows the note once the window it watches has been shown, then goes.
class ShownNote : public QObject {
 public:
  ShownNote(QWidget* window, HotkeyWay way, platform::ProfileStore& profile)
      : QObject(window), window_(window), way_(way), profile_(profile) {
    window->installEventFilter(this);
  }

  bool eventFilter(QObject* watched, QEvent* e) override {
    if (watched == window_ && e->type() == QEvent::Show) {
      window_->removeEventFilter(this);
      QTimer::singleShot(0, this, [this] {
        Show();
        deleteLater();
      });
    }
    return false;
  }

 private:
  void Show() {
    const bool none = way_ == HotkeyWay::None;
    const QString text = (none ? kUnavailable : kXwaylandOnly) + kRemoteControl;
    qCDebug(lcStatus).noquote() << "box:" << kCaption << "|" << text.simplified();
    QMessageBox box(none ? QMessageBox::Warning : QMessageBox::Information, kCaption, text,
                    QMessageBox::Ok, window_);
    box.setTextFormat(Qt::PlainText);
    if (!none)
      box.setCheckBox(new QCheckBox(QStringLiteral("&Do not show this again"), &box));
    // The note goes with the window, however that ends.
    if (auto* dialog = qobject_cast<QDialog*>(window_))
      connect(dialog, &QDialog::finished, &box, &QMessageBox::reject);
    box.exec();
    if (!none && box.checkBox()->isChecked())
      profile_.WriteProfileInt(opt::kSection, opt::kXwaylandHotkeysNoteOff, 1);
  }

  QWidget* window_;
  HotkeyWay way_;
  platform::ProfileStore& profile_;
};

}  // namespace

HotkeyBackend ChooseHotkeyBackend() {
  if (!IsWaylandSession()) {
    qCDebug(lcHotkeyChoice) << "hotkeys: X11 key grabs (not a Wayland session)";
    return {HotkeyWay::X11, std::make_unique<platform::X11HotkeyRegistrar>()};
  }
  if (const unsigned version = platform::PortalHotkeyRegistrar::AvailableVersion()) {
    qCInfo(lcHotkeyChoice) << "hotkeys: the GlobalShortcuts portal, version" << version;
    using Shortcut = platform::PortalHotkeyRegistrar::Shortcut;
    std::vector<Shortcut> shortcuts = {
        {hotkeys::kStartRecordHotKeyId, QStringLiteral("start-record"),
         QStringLiteral("Start Record")},
        {hotkeys::kStopRecordHotKeyId, QStringLiteral("stop-record"),
         QStringLiteral("Stop Record")}};
    return {HotkeyWay::Portal,
            std::make_unique<platform::PortalHotkeyRegistrar>(std::move(shortcuts))};
  }
  auto x11 = std::make_unique<platform::X11HotkeyRegistrar>();
  if (x11->IsConnected()) {
    qCInfo(lcHotkeyChoice) << "hotkeys: X11 key grabs through Xwayland (Wayland, no portal)";
    return {HotkeyWay::XwaylandOnly, std::move(x11)};
  }
  qCInfo(lcHotkeyChoice) << "hotkeys: none (Wayland, no portal, no X display)";
  return {HotkeyWay::None, std::make_unique<NoHotkeys>()};
}

void NoteHotkeyWayWhenShown(QWidget* window, HotkeyWay way, platform::ProfileStore& profile) {
  if (way == HotkeyWay::X11 || way == HotkeyWay::Portal)
    return;
  if (way == HotkeyWay::XwaylandOnly &&
      profile.GetProfileInt(opt::kSection, opt::kXwaylandHotkeysNoteOff, 0) == 1)
    return;
  new ShownNote(window, way, profile);
}

}  // namespace tonvale::app
