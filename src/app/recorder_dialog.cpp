#include "app/recorder_dialog.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLoggingCategory>
#include <QMenu>
#include <QPushButton>
#include <QSlider>
#include <QUrl>
#include <cstdio>

#include "app/about_dialog.h"
#include "app/input_hint_dialog.h"
#include "app/level_meter_feed.h"
#include "app/status_log.h"
#include "controls/level_meter.h"
#include "controls/painted_label.h"
#include "controls/round_button.h"
#include "hotkeys/hotkey_edit.h"
#include "resources/control_ids.h"
#include "resources/dialog_builder.h"
#include "resources/resources.h"
#include "resources/templates.h"
#include "settings/output_file.h"
#include "settings/settings_keys.h"
#include "settings/temp_wav.h"

namespace tonvale::app {

Q_LOGGING_CATEGORY(lcStatus, "tonvale.status")

namespace {

namespace opt = settings::option;
namespace ids = resources::ids;

constexpr int kAboutCommand = 0x0010;
const QString kKeepEveryRecordingItem = QStringLiteral("Keep every recording");
const QString kKeepBeforeRecordItem = QStringLiteral("Keep the last 5 seconds before Record");

const QString kHomepageUrl = QStringLiteral("https://velmora.example/tonvale");
const QString kAppCaption = QStringLiteral("Tonvale");
const QString kErrorCaption = QStringLiteral("Error");
const QString kNoSoundServer = QStringLiteral(
    "No sound server answered.\n\n"
    "Tonvale records through a sound server that speaks the PulseAudio protocol: PulseAudio, "
    "or PipeWire with pipewire-pulse. Start one, for example with\n\n"
    "    systemctl --user start pipewire-pulse\n\n"
    "or\n\n"
    "    pulseaudio --start\n\n"
    "and start Tonvale again (\"pactl info\" shows whether a server answers).\n\n"
    "This program will now exit.");

// The pending-events notification of the capture graph, with its instance value.
class GraphEvent : public QEvent {
 public:
  static QEvent::Type EventType() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
  }
  explicit GraphEvent(std::intptr_t instance) : QEvent(EventType()), instance_(instance) {}
  std::intptr_t instance() const { return instance_; }

 private:
  std::intptr_t instance_;
};

bool IsRoundButton(int controlId) {
  switch (controlId) {
    case ids::kPlay:
    case ids::kPause:
    case ids::kStop:
    case ids::kRecord:
    case ids::kBrowse:
    case ids::kHomepage:
    case ids::kAbout:
    case ids::kHelp:
      return true;
    default:
      return false;
  }
}

bool IsPaintedLabel(int controlId) {
  return controlId == ids::kRecordToLabel || controlId == ids::kMaxLabel ||
         controlId == ids::kVolumeLabel || controlId == ids::kSoundCardsLabel ||
         controlId == ids::kInputLinesLabel;
}

}  // namespace

RecorderDialog::RecorderDialog(DialogServices services, QWidget* parent)
    : QDialog(parent),
      m_services(std::move(services)),
      m_engine({m_services.media, m_services.handOff, m_services.boxes, m_services.desktop},
               *this) {
  setObjectName(QStringLiteral("RecorderDialog"));
  BuildControls();
  ConnectHandlers();
  m_hotkeys.LoadHotKeys(m_services.profile);
  if (m_services.levels != nullptr) {
    m_meterFeed = new LevelMeterFeed(this, m_meter, *m_services.levels,
                                     [this] { return m_engine.SelectedLinePin(); });
    for (int id : {ids::kSoundCards, ids::kInputLines})
      connect(combo(id), &QComboBox::currentIndexChanged, m_meterFeed,
              &LevelMeterFeed::LineChanged);
  }
}

RecorderDialog::~RecorderDialog() {
  delete m_meterFeed;  // it asks the engine for the line
  m_services.hotkeys.SetHandler({});
  m_services.hotkeys.SetFailureHandler({});
  m_services.hotkeys.SetTriggerHandler({});
  m_hotkeys.UnregisterHotKeys(m_services.hotkeys);
  m_engine.TearDownCapture();
}

void RecorderDialog::BuildControls() {
  const resources::DialogTemplate* tmpl = resources::Template(resources::kMainTemplate);
  auto factory = [](const resources::ControlTemplate& c, QWidget* parent) -> QWidget* {
    if (c.id == ids::kStartHotkey || c.id == ids::kStopHotkey) {
      return new hotkeys::HotkeyEdit(parent);
    }
    if (IsRoundButton(c.id)) {
      return new controls::RoundButton(parent);
    }
    if (IsPaintedLabel(c.id)) {
      return new controls::PaintedLabel(parent);
    }
    return nullptr;
  };
  m_controls = resources::BuildDialog(this, *tmpl, factory);
  for (const auto& c : tmpl->controls) {
    QWidget* widget = control(c.id);
    if (auto* button = qobject_cast<controls::RoundButton*>(widget)) {
      button->Attach(c.style);
      // Enter ends the dialog; it never clicks a button.
      button->setAutoDefault(false);
      button->setDefault(false);
    } else if (auto* label = qobject_cast<controls::PaintedLabel*>(widget)) {
      label->Attach(c.style);
    }
  }
  m_editStartHotkey = qobject_cast<hotkeys::HotkeyEdit*>(control(ids::kStartHotkey));
  m_editStopHotkey = qobject_cast<hotkeys::HotkeyEdit*>(control(ids::kStopHotkey));
  m_editOutputFile = qobject_cast<QLineEdit*>(control(ids::kOutputFile));
  m_staticStatus = qobject_cast<QLabel*>(control(ids::kStatus));
  m_sliderVolume = qobject_cast<QSlider*>(control(ids::kVolume));
  m_recordTimer.setObjectName(QStringLiteral("1113"));
  // Fields are announced by their labels.
  m_editOutputFile->setAccessibleName(QStringLiteral("Record To"));
  m_editStartHotkey->setAccessibleName(QStringLiteral("Start Record hotkey"));
  m_editStopHotkey->setAccessibleName(QStringLiteral("Stop Record hotkey"));
  combo(ids::kSoundCards)->setAccessibleName(QStringLiteral("Sound card"));
  combo(ids::kInputLines)->setAccessibleName(QStringLiteral("Input line"));
  // The level meter, in the free stretch right of "Record To:" between the Stop row and the
  // output field; no control of the template moves.
  m_meter = new controls::LevelMeter(this);
  m_meter->setObjectName(QStringLiteral("levelMeter"));
  m_meter->setGeometry(resources::DialogUnits::FromFont(font()).ToPixels(64, 80, 171, 18));
}

void RecorderDialog::ConnectHandlers() {
  auto clicked = [this](int controlId, void (RecorderDialog::*handler)()) {
    if (auto* button = qobject_cast<QAbstractButton*>(control(controlId))) {
      connect(button, &QAbstractButton::clicked, this, handler);
    }
  };
  connect(combo(ids::kSoundCards), &QComboBox::activated, this, [this] {
    ScheduleListsLog();
    m_engine.OnSoundCardSelected();
  });
  connect(combo(ids::kInputLines), &QComboBox::activated, this, [this] {
    ScheduleListsLog();
    m_engine.OnInputLineSelected();
  });
  clicked(ids::kPlay, &RecorderDialog::OnPlay);
  clicked(ids::kPause, &RecorderDialog::OnPause);
  clicked(ids::kStop, &RecorderDialog::OnStop);
  clicked(ids::kRecord, &RecorderDialog::OnRecord);
  connect(m_sliderVolume, &QSlider::sliderReleased, this, [this] { m_engine.OnVolumeReleased(); });
  clicked(ids::kBrowse, &RecorderDialog::OnBrowse);
  clicked(ids::kHomepage, &RecorderDialog::OnHomepage);
  clicked(ids::kAbout, &RecorderDialog::OnAbout);
  connect(&m_recordTimer, &QTimer::timeout, this, [this] { m_engine.OnTimer(recorder::kTimerId); });
  clicked(ids::kHelp, &RecorderDialog::OnHelpButton);
  const std::pair<int, hotkeys::HotkeyEdit*> fields[] = {{0, m_editStartHotkey},
                                                         {1, m_editStopHotkey}};
  for (const auto& [entry, field] : fields) {
    connect(field, &hotkeys::HotkeyEdit::focusLost, this, [this, entry = entry, field = field] {
      m_hotkeys.OnFieldKillFocus(entry, *field, m_services.hotkeys, m_services.boxes, this,
                                 m_services.profile);
    });
    field->SetKeyMapper(
        [this](std::uint32_t key) { return m_services.hotkeys.VirtualKeyOfNativeKey(key); });
  }
  m_services.hotkeys.SetHandler([this](int id) { OnHotKey(id); });
  m_services.hotkeys.SetFailureHandler(
      [this](int id) { m_hotkeys.OnRegisterFailed(id, m_services.boxes, this); });
  m_services.hotkeys.SetTriggerHandler(
      [this](int id, unsigned modifiers, unsigned virtualKey, const QString& text) {
        OnHotKeyTrigger(id, modifiers, virtualKey, text);
      });
}

bool RecorderDialog::OnInitDialog() {
  // 1. The controls are bound (constructor); the output path is still empty.
  SetOutputFieldText(m_engine.outputFile());
  // 2. The About item of the window's menu.
  m_aboutItemText = resources::String(resources::kStringAboutItem);
  // 3. The window icon.
  setWindowIcon(resources::Icon(resources::kIconRecorder));
  // 4. The media framework initialises itself when the first graph is made.
  // 5. Remembered device positions.
  recorder::EngineSettings remembered;
  remembered.nSoundCaptureIndex =
      m_services.profile.GetProfileInt(opt::kSection, opt::kSoundCaptureIndex, opt::kIndexDefault);
  remembered.nCapturePinIndex =
      m_services.profile.GetProfileInt(opt::kSection, opt::kCapturePinIndex, opt::kIndexDefault);
  remembered.nSearchFlag =
      m_services.profile.GetProfileInt(opt::kSection, opt::kSearchFlag, opt::kIndexDefault);
  remembered.strSoundCaptureName =
      m_services.profile.GetProfileString(opt::kSection, opt::kSoundCaptureName, QString());
  // 6. The volume slider.
  m_sliderVolume->setRange(0, recorder::kSliderMax);
  m_sliderVolume->setValue(recorder::kSliderMax);
  // 7. The output path, shown in its field.
  remembered.strOutputFile = m_services.profile.GetProfileString(opt::kSection, opt::kOutputFile,
                                                                 opt::DefaultOutputFile());
  m_engine.Load(remembered);
  // 8. No input hint while the lists are filled.
  m_engine.SetOnlyOnce(1);
  // 9. The capture graph and the devices.
  m_engine.ResetGraphMembers();
  HRESULT hr = m_engine.CreateCaptureGraph();
  if (Succeeded(hr)) {
    hr = m_engine.EnumerateSoundCards();
  }
  if (Failed(hr)) {
    m_engine.TearDownCapture();
    m_bInitFailed = true;
    if (hr == RPC_E_SERVER_UNAVAILABLE) {
      ReportNoSoundServer();
    }
    PostQuit();
  }
  // 10.
  m_engine.SetOnlyOnce(
      m_services.profile.GetProfileInt(opt::kSection, opt::kOnlyOnce, opt::kOnlyOnceDefault));
  m_engine.SetKeepEveryTake(
      m_services.profile.GetProfileInt(opt::kSection, opt::kKeepEveryRecording, 0) == 1);
  m_engine.SetPreRoll(m_services.profile.GetProfileInt(opt::kSection, opt::kKeepBeforeRecord, 0) ==
                      1);
  // 11. The temporary WAV file, this copy's own in a folder of the user's own, with a killed
  // recording's remains repaired. Whatever was found in its place is told.
  m_tempWav = settings::TempWavClaim::Take(settings::TempFolder());
  m_engine.SetTempWavFile(m_tempWav.path());
  if (!m_bInitFailed && !m_tempWav.problems().isEmpty()) {
    m_services.boxes.Show(this, m_tempWav.problems().join(QStringLiteral("\n\n")), kErrorCaption,
                          platform::MessageBoxes::Icon::Stop);
  }
  // 12.
  control(ids::kHomepage)->hide();
  // 13, 14. The transport buttons' face.
  m_bmpTransportFace = resources::Bitmap(resources::kBitmapTransportFace);
  for (int controlId : {ids::kPause, ids::kRecord, ids::kStop}) {
    auto* button = qobject_cast<controls::RoundButton*>(control(controlId));
    button->SetPressedFace(&m_bmpTransportFace);
    button->SetNormalFace(&m_bmpTransportFace);
  }
  // 15. Controls that stay out of use.
  for (int controlId : {ids::kMaxLabel, ids::kVolume, ids::kPause, ids::kVolumeLabel}) {
    control(controlId)->hide();
  }
  // 16. The hotkey fields.
  const std::pair<hotkeys::HotkeyEdit*, int> fields[] = {{m_editStartHotkey, 0},
                                                         {m_editStopHotkey, 1}};
  for (const auto& [field, entry] : fields) {
    field->SetModifiers(m_hotkeys.mHotKey[entry].fsModifiers);
    field->SetVirtualKey(m_hotkeys.mHotKey[entry].nVirtualKey);
    field->ShowKeyName();
  }
  // 17.
  m_hotkeys.RegisterHotKeys(m_services.hotkeys, m_services.boxes, this);
  // 18. The focus goes to the first tab stop, the output path.
  m_editOutputFile->setFocus(Qt::OtherFocusReason);
  return true;
}

int RecorderDialog::DoModal() {
  OnInitDialog();
  if (!m_bInitFailed) {
    exec();
  }
  // After a failed start the user has been told the program ends; the window never opens.
  return m_nExitStatus;
}

void RecorderDialog::ReportNoSoundServer() {
  std::fprintf(stderr, "%s: %s\n", qPrintable(QCoreApplication::applicationName()),
               qPrintable(kNoSoundServer));
  m_services.boxes.Show(this, kNoSoundServer, kAppCaption, platform::MessageBoxes::Icon::Stop);
  m_nExitStatus = 1;
}

QWidget* RecorderDialog::control(int controlId) const {
  const auto it = m_controls.find(controlId);
  return it == m_controls.end() ? nullptr : it->second;
}

QComboBox* RecorderDialog::combo(int controlId) const {
  return qobject_cast<QComboBox*>(control(controlId));
}

// ---------------------------------------------------------------------------------------
// Commands

void RecorderDialog::OnRecord() {
  // Without a temporary WAV of its own nothing records; the box says why again.
  if (!m_tempWav.claimed()) {
    m_services.boxes.Show(this, m_tempWav.problems().join(QStringLiteral("\n\n")), kErrorCaption,
                          platform::MessageBoxes::Icon::Stop);
    return;
  }
  const bool wasRecording = m_engine.recording();
  m_engine.OnRecord();
  if (!wasRecording && (m_engine.recording() || m_engine.starting())) {
    m_meter->ResetClip();
  }
}

void RecorderDialog::OnBrowse() {
  const QString initialDir = settings::BrowseInitialDir(m_engine.outputFile());
  QString chosen;
  if (!m_services.saveDialog.GetSaveFileName(this, settings::kBrowseTitle, initialDir, QString(),
                                             settings::kBrowseFilter, &chosen)) {
    return;
  }
  m_engine.SetOutputFile(settings::WithMp3Extension(chosen));
  m_services.profile.WriteProfileString(opt::kSection, opt::kOutputFile, m_engine.outputFile());
}

void RecorderDialog::OnAbout() {
  AboutDialog about(this);
  about.exec();
}

void RecorderDialog::OnHelpButton() {
  m_services.desktop.OpenUrl(
      QUrl::fromLocalFile(m_services.helpDir + QStringLiteral("/Introduction.html")).toString());
}

void RecorderDialog::OnHomepage() {
  m_services.desktop.OpenUrl(kHomepageUrl);
}

void RecorderDialog::OnSysCommand(int command) {
  if ((command & 0xFFF0) == kAboutCommand) {
    OnAbout();
  }
}

bool RecorderDialog::OnHotKey(int id) {
  // A press arrives in whatever event loop runs. While one of the program's boxes or dialogs
  // is open, the handler that opened it has not returned, so the hotkey waits for nobody and
  // does nothing.
  if (QWidget* modal = QApplication::activeModalWidget(); modal != nullptr && modal != this) {
    qCDebug(lcStatus) << "hotkey ignored: a box or dialog is open";
    return false;
  }
  const bool wasRecording = m_engine.recording();
  switch (hotkeys::CommandForHotKeyId(id)) {
    case hotkeys::HotkeyCommand::Record:
      OnRecord();
      break;
    case hotkeys::HotkeyCommand::Stop:
      OnStop();
      break;
    case hotkeys::HotkeyCommand::None:
      break;
  }
  AnnounceRecording(wasRecording);
  return true;
}

void RecorderDialog::AnnounceRecording(bool wasRecording) {
  if (m_services.notifications == nullptr) {
    return;
  }
  // The window is usually behind other programs. Told once the start has ended and what the
  // command posted has run: a start that failed has posted its stop.
  m_announceFrom = wasRecording;
  m_announcePending = true;
  QMetaObject::invokeMethod(this, &RecorderDialog::Announce, Qt::QueuedConnection);
}

void RecorderDialog::Announce() {
  if (!m_announcePending || m_engine.starting()) {
    return;
  }
  m_announcePending = false;
  if (m_engine.recording() != m_announceFrom) {
    m_services.notifications->Show(
        m_announceFrom ? QStringLiteral("Recording stopped") : QStringLiteral("Recording started"),
        m_engine.outputFile());
  }
}

void RecorderDialog::OnHotKeyTrigger(int id, unsigned modifiers, unsigned virtualKey,
                                     const QString& text) {
  hotkeys::HotkeyEdit* field = id == hotkeys::kStartRecordHotKeyId  ? m_editStartHotkey
                               : id == hotkeys::kStopRecordHotKeyId ? m_editStopHotkey
                                                                    : nullptr;
  if (field == nullptr) {
    return;
  }
  // The desktop's trigger wins; one this program cannot hold is shown as the desktop wrote it.
  if (virtualKey != 0 || text.isEmpty()) {
    m_hotkeys.OnDesktopCombination(id, modifiers, virtualKey, m_services.profile);
    field->SetModifiers(modifiers);
    field->SetVirtualKey(virtualKey);
    field->ShowKeyName();
  } else {
    field->setText(text);
  }
  qCDebug(lcStatus).noquote() << "hotkey field" << field->objectName() << "shows" << field->text();
}

// ---------------------------------------------------------------------------------------
// Window events

bool RecorderDialog::event(QEvent* e) {
  if (e->type() == GraphEvent::EventType()) {
    m_engine.OnGraphEvent(static_cast<GraphEvent*>(e)->instance());
    if (m_announcePending) {
      QMetaObject::invokeMethod(this, &RecorderDialog::Announce, Qt::QueuedConnection);
    }
    return true;
  }
  return QDialog::event(e);
}

void RecorderDialog::RunCloseSequence() {
  m_engine.StopForClose();
  m_engine.TearDownCapture();
  m_engine.UpdateData();
  const recorder::EngineSettings kept = m_engine.Settings();
  m_services.profile.WriteProfileInt(opt::kSection, opt::kSoundCaptureIndex,
                                     kept.nSoundCaptureIndex);
  m_services.profile.WriteProfileInt(opt::kSection, opt::kCapturePinIndex, kept.nCapturePinIndex);
  m_services.profile.WriteProfileInt(opt::kSection, opt::kSearchFlag, kept.nSearchFlag);
  m_services.profile.WriteProfileString(opt::kSection, opt::kSoundCaptureName,
                                        kept.strSoundCaptureName);
  m_services.profile.WriteProfileString(opt::kSection, opt::kOutputFile, kept.strOutputFile);
  m_hotkeys.UnregisterHotKeys(m_services.hotkeys);
  m_hotkeys.SaveHotKeys(m_services.profile);
}

void RecorderDialog::closeEvent(QCloseEvent* e) {
  if (!m_bClosing && !m_bInitFailed) {
    m_bClosing = true;
    RunCloseSequence();
  }
  QDialog::closeEvent(e);
}

void RecorderDialog::keyPressEvent(QKeyEvent* e) {
  if (e->modifiers() == Qt::NoModifier || e->modifiers() == Qt::KeypadModifier) {
    switch (e->key()) {
      case Qt::Key_Return:
      case Qt::Key_Enter:
        // The OK command: the controls are read back, nothing is stored.
        m_engine.UpdateData();
        accept();
        return;
      case Qt::Key_Escape:
        reject();
        return;
      default:
        break;
    }
  }
  QDialog::keyPressEvent(e);
}

void RecorderDialog::contextMenuEvent(QContextMenuEvent* e) {
  if (m_aboutItemText.isEmpty()) {
    return;
  }
  QMenu menu(this);
  QAction* about = menu.addAction(m_aboutItemText);
  QAction* keepBefore = menu.addAction(kKeepBeforeRecordItem);
  keepBefore->setCheckable(true);
  keepBefore->setChecked(m_engine.preRoll());
  QAction* keepEvery = menu.addAction(kKeepEveryRecordingItem);
  keepEvery->setCheckable(true);
  keepEvery->setChecked(m_engine.keepEveryTake());
  QAction* chosen = menu.exec(e->globalPos());
  if (chosen == about) {
    OnSysCommand(kAboutCommand);
  } else if (chosen == keepEvery || chosen == keepBefore) {
    // Applied and saved at once.
    const bool on = chosen->isChecked();
    if (chosen == keepEvery) {
      m_engine.SetKeepEveryTake(on);
    } else {
      m_engine.SetPreRoll(on);
    }
    m_services.profile.WriteProfileInt(
        opt::kSection, chosen == keepEvery ? opt::kKeepEveryRecording : opt::kKeepBeforeRecord,
        on ? 1 : 0);
  }
}

void RecorderDialog::done(int result) {
  // However the dialog ends, a running recording finishes with complete files.
  m_engine.TearDownCapture();
  QDialog::done(result);
}

// ---------------------------------------------------------------------------------------
// Controls

void RecorderDialog::SetStatusText(const QString& text) {
  m_staticStatus->setText(text);
  qCDebug(lcStatus).noquote() << "status:" << text;
}

void RecorderDialog::ScheduleListsLog() {
  if (m_bListsLogPending || !lcStatus().isDebugEnabled()) {
    return;
  }
  // One line per burst of changes, once the handler that made them has returned.
  m_bListsLogPending = true;
  QMetaObject::invokeMethod(
      this,
      [this] {
        m_bListsLogPending = false;
        LogLists();
      },
      Qt::QueuedConnection);
}

void RecorderDialog::LogLists() const {
  auto describe = [this](int controlId) {
    const QComboBox* box = combo(controlId);
    QStringList items;
    for (int i = 0; i < box->count(); ++i) {
      items << box->itemText(i);
    }
    return QStringLiteral("%1/%2 [%3]")
        .arg(box->currentIndex())
        .arg(box->count())
        .arg(items.join(QLatin1Char('|')));
  };
  qCDebug(lcStatus).noquote() << QStringLiteral("lists: cards=%1 lines=%2")
                                     .arg(describe(ids::kSoundCards), describe(ids::kInputLines));
}

void RecorderDialog::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  if (!m_bShownOnce) {
    m_bShownOnce = true;
    qCDebug(lcStatus).noquote() << "status:" << m_staticStatus->text();
    LogLists();
    qCDebug(lcStatus) << "shown";
  }
}

void RecorderDialog::EnableControl(int controlId, bool enable) {
  if (QWidget* widget = control(controlId)) {
    widget->setEnabled(enable);
  }
}

QString RecorderDialog::OutputFieldText() const {
  return m_editOutputFile->text();
}

void RecorderDialog::SetOutputFieldText(const QString& text) {
  m_editOutputFile->setText(text);
}

int RecorderDialog::ComboAddString(int controlId, const QString& text) {
  QComboBox* box = combo(controlId);
  const int selected = box->currentIndex();
  box->addItem(text);
  // Adding never selects: a drop-down list starts without a selection.
  box->setCurrentIndex(selected);
  ScheduleListsLog();
  return box->count() - 1;
}

int RecorderDialog::ComboCount(int controlId) const {
  return combo(controlId)->count();
}

int RecorderDialog::ComboGetCurSel(int controlId) const {
  return combo(controlId)->currentIndex();
}

void RecorderDialog::ComboSetCurSel(int controlId, int index) {
  QComboBox* box = combo(controlId);
  box->setCurrentIndex(index >= 0 && index < box->count() ? index : -1);
  ScheduleListsLog();
}

void RecorderDialog::ComboResetContent(int controlId) {
  combo(controlId)->clear();
  ScheduleListsLog();
}

int RecorderDialog::SliderPos() const {
  return m_sliderVolume->value();
}

void RecorderDialog::SetSliderPos(int pos) {
  m_sliderVolume->setValue(pos);
}

void RecorderDialog::SetTimer(int /*timerId*/, int periodMs) {
  m_recordTimer.start(periodMs);
}

void RecorderDialog::KillTimer(int /*timerId*/) {
  m_recordTimer.stop();
}

void RecorderDialog::PostStopCommand() {
  QMetaObject::invokeMethod(this, &RecorderDialog::OnStop, Qt::QueuedConnection);
}

void RecorderDialog::PostQuit() {
  QMetaObject::invokeMethod(
      this, [this] { done(QDialog::Rejected); }, Qt::QueuedConnection);
}

bool RecorderDialog::RunInputHint(int* dontShowAgain) {
  InputHintDialog hint(m_services.profile, this);
  if (hint.exec() != QDialog::Accepted) {
    return false;
  }
  *dontShowAgain = hint.m_bDontShowAgain;
  return true;
}

platform::MediaEvent::NotifyFn RecorderDialog::GraphNotifier() {
  // Called on any thread: only posting is safe there. The graph stops calling before the
  // window releases it, so the window outlives every call.
  return [this](std::intptr_t instance) {
    QCoreApplication::postEvent(this, new GraphEvent(instance));
  };
}

}  // namespace tonvale::app
