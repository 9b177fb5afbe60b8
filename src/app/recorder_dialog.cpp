#include "app/recorder_dialog.h"

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
#include "controls/painted_label.h"
#include "controls/round_button.h"
#include "hotkeys/hotkey_edit.h"
#include "resources/dialog_builder.h"
#include "resources/resources.h"
#include "resources/templates.h"
#include "settings/output_file.h"
#include "settings/settings_keys.h"
#include "settings/temp_wav.h"

namespace tonvale::app {

namespace {

// What the window shows, for watching the program from outside (end-to-end tests, the
// start-up benchmark): the status line, the two lists and the first show. Off unless
// QT_LOGGING_RULES enables it.
Q_LOGGING_CATEGORY(lcStatus, "tonvale.status")

namespace opt = settings::option;
namespace ids = recorder::id;

constexpr int kHomepage = 1046;
constexpr int kAbout = 1047;
constexpr int kHelp = 1048;
constexpr int kBrowse = 1039;
constexpr int kLabelVolume = 1052;
constexpr int kLabelMax = 1053;
constexpr int kStartHotkeyField = 1058;
constexpr int kStopHotkeyField = 1059;
constexpr int kAboutCommand = 0x0010;

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
    case kBrowse:
    case kHomepage:
    case kAbout:
    case kHelp:
      return true;
    default:
      return false;
  }
}

bool IsPaintedLabel(int controlId) {
  return controlId == 1054 || controlId == kLabelMax || controlId == kLabelVolume ||
         controlId == 1040 || controlId == 1051;
}

}  // namespace

RecorderDialog::RecorderDialog(DialogServices services, QWidget* parent)
    : QDialog(parent),
      services_(std::move(services)),
      engine_({services_.media, services_.handOff, services_.boxes, services_.desktop}, *this) {
  setObjectName(QStringLiteral("RecorderDialog"));
  BuildControls();
  ConnectHandlers();
  hotkeys_.LoadHotKeys(services_.profile);
}

RecorderDialog::~RecorderDialog() {
  services_.hotkeys.SetHandler({});
  hotkeys_.UnregisterHotKeys(services_.hotkeys);
  engine_.TearDownCapture();
}

void RecorderDialog::BuildControls() {
  const resources::DialogTemplate* tmpl = resources::Template(resources::kMainTemplate);
  auto factory = [](const resources::ControlTemplate& c, QWidget* parent) -> QWidget* {
    if (c.id == kStartHotkeyField || c.id == kStopHotkeyField) {
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
  controls_ = resources::BuildDialog(this, *tmpl, factory);
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
  m_editStartHotkey = qobject_cast<hotkeys::HotkeyEdit*>(control(kStartHotkeyField));
  m_editStopHotkey = qobject_cast<hotkeys::HotkeyEdit*>(control(kStopHotkeyField));
  m_editOutputFile = qobject_cast<QLineEdit*>(control(ids::kOutputFile));
  m_staticStatus = qobject_cast<QLabel*>(control(ids::kStatus));
  m_sliderVolume = qobject_cast<QSlider*>(control(ids::kVolume));
  m_recordTimer.setObjectName(QStringLiteral("1113"));
}

void RecorderDialog::ConnectHandlers() {
  auto clicked = [this](int controlId, void (RecorderDialog::*handler)()) {
    if (auto* button = qobject_cast<QAbstractButton*>(control(controlId))) {
      connect(button, &QAbstractButton::clicked, this, handler);
    }
  };
  connect(combo(ids::kSoundCards), &QComboBox::activated, this, [this] {
    ScheduleListsLog();
    engine_.OnSoundCardSelected();
  });
  connect(combo(ids::kInputLines), &QComboBox::activated, this, [this] {
    ScheduleListsLog();
    engine_.OnInputLineSelected();
  });
  clicked(ids::kPlay, &RecorderDialog::OnPlay);
  clicked(ids::kPause, &RecorderDialog::OnPause);
  clicked(ids::kStop, &RecorderDialog::OnStop);
  clicked(ids::kRecord, &RecorderDialog::OnRecord);
  connect(m_sliderVolume, &QSlider::sliderReleased, this, [this] { engine_.OnVolumeReleased(); });
  clicked(kBrowse, &RecorderDialog::OnBrowse);
  clicked(kHomepage, &RecorderDialog::OnHomepage);
  clicked(kAbout, &RecorderDialog::OnAbout);
  connect(&m_recordTimer, &QTimer::timeout, this, [this] { engine_.OnTimer(recorder::kTimerId); });
  clicked(kHelp, &RecorderDialog::OnHelpButton);
  const std::pair<int, hotkeys::HotkeyEdit*> fields[] = {{0, m_editStartHotkey},
                                                         {1, m_editStopHotkey}};
  for (const auto& [entry, field] : fields) {
    connect(field, &hotkeys::HotkeyEdit::focusLost, this, [this, entry = entry, field = field] {
      hotkeys_.OnFieldKillFocus(entry, *field, services_.hotkeys, services_.boxes, this,
                                services_.profile);
    });
  }
  services_.hotkeys.SetHandler([this](int id) { OnHotKey(id); });
}

bool RecorderDialog::OnInitDialog() {
  // 1. The controls are bound (constructor); the output path is still empty.
  SetOutputFieldText(engine_.m_strOutputFile);
  // 2. The About item of the window's menu.
  m_aboutItemText = resources::String(resources::kStringAboutItem);
  // 3. The window icon.
  setWindowIcon(resources::Icon(resources::kIconRecorder));
  // 4. The media framework initialises itself when the first graph is made.
  // 5. Remembered device positions.
  engine_.nSoundCaptureIndex =
      services_.profile.GetProfileInt(opt::kSection, opt::kSoundCaptureIndex, opt::kIndexDefault);
  engine_.nCapturePinIndex =
      services_.profile.GetProfileInt(opt::kSection, opt::kCapturePinIndex, opt::kIndexDefault);
  engine_.nSearchFlag =
      services_.profile.GetProfileInt(opt::kSection, opt::kSearchFlag, opt::kIndexDefault);
  engine_.m_strSoundCaptureName =
      services_.profile.GetProfileString(opt::kSection, opt::kSoundCaptureName, QString());
  // 6. The volume slider.
  m_sliderVolume->setRange(0, recorder::kSliderMax);
  m_sliderVolume->setValue(recorder::kSliderMax);
  // 7. The output path.
  engine_.m_strOutputFile =
      services_.profile.GetProfileString(opt::kSection, opt::kOutputFile, opt::DefaultOutputFile());
  SetOutputFieldText(engine_.m_strOutputFile);
  // 8. No input hint while the lists are filled.
  engine_.m_bOnlyOnce = 1;
  // 9. The capture graph and the devices.
  engine_.ResetGraphMembers();
  HRESULT hr = engine_.CreateCaptureGraph();
  if (Succeeded(hr)) {
    hr = engine_.EnumerateSoundCards();
  }
  if (Failed(hr)) {
    engine_.TearDownCapture();
    initFailed_ = true;
    if (hr == RPC_E_SERVER_UNAVAILABLE) {
      ReportNoSoundServer();
    }
    PostQuit();
  }
  // 10.
  engine_.m_bOnlyOnce =
      services_.profile.GetProfileInt(opt::kSection, opt::kOnlyOnce, opt::kOnlyOnceDefault);
  // 11. The temporary WAV file, this copy's own in a folder of the user's own, with a killed
  // recording's remains repaired. Whatever was found in its place is told.
  tempWav_ = settings::TempWavClaim::Take(settings::TempFolder());
  engine_.m_szTempWavFile = tempWav_.path();
  if (!initFailed_ && !tempWav_.problems().isEmpty()) {
    services_.boxes.Show(this, tempWav_.problems().join(QStringLiteral("\n\n")), kErrorCaption,
                         platform::MessageBoxes::Icon::Stop);
  }
  // 12.
  control(kHomepage)->hide();
  // 13, 14. The transport buttons' face.
  m_bmpTransportFace = resources::Bitmap(resources::kBitmapTransportFace);
  for (int controlId : {ids::kPause, ids::kRecord, ids::kStop}) {
    auto* button = qobject_cast<controls::RoundButton*>(control(controlId));
    button->SetPressedFace(&m_bmpTransportFace);
    button->SetNormalFace(&m_bmpTransportFace);
  }
  // 15. Controls that stay out of use.
  for (int controlId : {kLabelMax, ids::kVolume, ids::kPause, kLabelVolume}) {
    control(controlId)->hide();
  }
  // 16. The hotkey fields.
  const std::pair<hotkeys::HotkeyEdit*, int> fields[] = {{m_editStartHotkey, 0},
                                                         {m_editStopHotkey, 1}};
  for (const auto& [field, entry] : fields) {
    field->SetModifiers(hotkeys_.mHotKey[entry].fsModifiers);
    field->SetVirtualKey(hotkeys_.mHotKey[entry].nVirtualKey);
    field->ShowKeyName();
  }
  // 17.
  hotkeys_.RegisterHotKeys(services_.hotkeys, services_.boxes, this);
  // 18. The focus goes to the first tab stop, the output path.
  m_editOutputFile->setFocus(Qt::OtherFocusReason);
  return true;
}

int RecorderDialog::DoModal() {
  OnInitDialog();
  if (!initFailed_) {
    exec();
  }
  // After a failed start the user has been told the program ends; the window never opens.
  return exitStatus_;
}

void RecorderDialog::ReportNoSoundServer() {
  std::fprintf(stderr, "%s: %s\n", qPrintable(QCoreApplication::applicationName()),
               qPrintable(kNoSoundServer));
  services_.boxes.Show(this, kNoSoundServer, kAppCaption, platform::MessageBoxes::Icon::Stop);
  exitStatus_ = 1;
}

QWidget* RecorderDialog::control(int controlId) const {
  const auto it = controls_.find(controlId);
  return it == controls_.end() ? nullptr : it->second;
}

QComboBox* RecorderDialog::combo(int controlId) const {
  return qobject_cast<QComboBox*>(control(controlId));
}

// ---------------------------------------------------------------------------------------
// Commands

void RecorderDialog::OnRecord() {
  // Without a temporary WAV of its own nothing records; the box says why again.
  if (!tempWav_.claimed()) {
    services_.boxes.Show(this, tempWav_.problems().join(QStringLiteral("\n\n")), kErrorCaption,
                         platform::MessageBoxes::Icon::Stop);
    return;
  }
  engine_.OnRecord();
}

void RecorderDialog::OnBrowse() {
  const QString initialDir = settings::BrowseInitialDir(engine_.m_strOutputFile);
  QString chosen;
  if (!services_.saveDialog.GetSaveFileName(this, settings::kBrowseTitle, initialDir, QString(),
                                            settings::kBrowseFilter, &chosen)) {
    return;
  }
  engine_.m_strOutputFile = settings::WithMp3Extension(chosen);
  services_.profile.WriteProfileString(opt::kSection, opt::kOutputFile, engine_.m_strOutputFile);
  SetOutputFieldText(engine_.m_strOutputFile);
}

void RecorderDialog::OnAbout() {
  AboutDialog about(this);
  about.exec();
}

void RecorderDialog::OnHelpButton() {
  services_.desktop.OpenUrl(
      QUrl::fromLocalFile(services_.helpDir + QStringLiteral("/Introduction.html")).toString());
}

void RecorderDialog::OnHomepage() {
  services_.desktop.OpenUrl(kHomepageUrl);
}

void RecorderDialog::OnSysCommand(int command) {
  if ((command & 0xFFF0) == kAboutCommand) {
    OnAbout();
  }
}

void RecorderDialog::OnHotKey(int id) {
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
}

// ---------------------------------------------------------------------------------------
// Window events

bool RecorderDialog::event(QEvent* e) {
  if (e->type() == GraphEvent::EventType()) {
    engine_.OnGraphEvent(static_cast<GraphEvent*>(e)->instance());
    return true;
  }
  return QDialog::event(e);
}

void RecorderDialog::RunCloseSequence() {
  engine_.StopForClose();
  engine_.TearDownCapture();
  services_.profile.WriteProfileInt(opt::kSection, opt::kSoundCaptureIndex,
                                    engine_.nSoundCaptureIndex);
  services_.profile.WriteProfileInt(opt::kSection, opt::kCapturePinIndex, engine_.nCapturePinIndex);
  services_.profile.WriteProfileInt(opt::kSection, opt::kSearchFlag, engine_.nSearchFlag);
  services_.profile.WriteProfileString(opt::kSection, opt::kSoundCaptureName,
                                       engine_.m_strSoundCaptureName);
  engine_.UpdateData();
  services_.profile.WriteProfileString(opt::kSection, opt::kOutputFile, engine_.m_strOutputFile);
  hotkeys_.UnregisterHotKeys(services_.hotkeys);
  hotkeys_.SaveHotKeys(services_.profile);
}

void RecorderDialog::closeEvent(QCloseEvent* e) {
  if (!closing_ && !initFailed_) {
    closing_ = true;
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
        engine_.UpdateData();
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
  if (menu.exec(e->globalPos()) == about) {
    OnSysCommand(kAboutCommand);
  }
}

void RecorderDialog::done(int result) {
  // However the dialog ends, a running recording finishes with complete files.
  engine_.TearDownCapture();
  QDialog::done(result);
}

// ---------------------------------------------------------------------------------------
// Controls

void RecorderDialog::SetStatusText(const QString& text) {
  m_staticStatus->setText(text);
  qCDebug(lcStatus).noquote() << "status:" << text;
}

void RecorderDialog::ScheduleListsLog() {
  if (listsLogPending_ || !lcStatus().isDebugEnabled()) {
    return;
  }
  // One line per burst of changes, once the handler that made them has returned.
  listsLogPending_ = true;
  QMetaObject::invokeMethod(
      this,
      [this] {
        listsLogPending_ = false;
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
  if (!shownOnce_) {
    shownOnce_ = true;
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
  InputHintDialog hint(services_.profile, this);
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
