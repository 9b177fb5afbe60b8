#include "recorder/recorder_engine.h"

#include "recorder/recorder_log.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QRegularExpression>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace tonvale::recorder {

Q_LOGGING_CATEGORY(lcRecorder, "tonvale.recorder")

using platform::PinDirection;

namespace {

const QString kAppCaption = QStringLiteral("Tonvale");
const QString kErrorCaption = QStringLiteral("Error");
// Used by the File Writer when no temporary WAV path is set.
const QString kFallbackWavFile = QDir::homePath() + QStringLiteral("/sonarelrecorder.mp3");

// One formatted line to the debugging output; never shown to the user.
void DebugTrace(const char* format, HRESULT hr) {
  qCDebug(lcRecorder, format, static_cast<unsigned>(hr));
}

}  // namespace

QString UsedTimeText(int usedSeconds) {
  const int hours = usedSeconds / 3600;
  const int minutes = (usedSeconds % 3600) / 60;
  const int seconds = usedSeconds % 60;
  return QString::asprintf("%02d:%02d:%02d", hours, minutes, seconds);
}

QString RecordingStatusText(int usedSeconds) {
  return QStringLiteral("Status : Recording audio - Used Time: ") + UsedTimeText(usedSeconds);
}

QString PausedStatusText(int usedSeconds) {
  return QStringLiteral("Status : Paused audio recording - Used Time: ") +
         UsedTimeText(usedSeconds);
}

bool FileExists(const QString& path) {
  if (path.isEmpty()) {
    return false;
  }
  QFileInfo info(path);
  if (!info.isFile()) {
    return false;
  }
  QFile file(path);
  return file.open(QIODevice::ReadOnly);
}

double LevelFromSliderPos(int pos) {
  return pos * 0.005;
}

int SliderPosFromLevel(double level) {
  return static_cast<int>(level * kSliderMax);
}

RecorderEngine::RecorderEngine(EngineServices services, RecorderControls& controls)
    : services_(services), controls_(controls) {}

RecorderEngine::~RecorderEngine() {
  // The window may be gone already: release the graph without touching any control.
  if (m_bRecording == 1 && m_pMC) {
    m_pMC->StopWhenReady();
  }
  m_soundCardMonikers.clear();
  RemoveSinkAndWriter();
  ReleaseCaptureGraph();
}

void RecorderEngine::Load(const EngineSettings& settings) {
  nSoundCaptureIndex = settings.nSoundCaptureIndex;
  nCapturePinIndex = settings.nCapturePinIndex;
  nSearchFlag = settings.nSearchFlag;
  m_strSoundCaptureName = settings.strSoundCaptureName;
  SetOutputFile(settings.strOutputFile);
}

EngineSettings RecorderEngine::Settings() const {
  return {nSoundCaptureIndex, nCapturePinIndex, nSearchFlag, m_strSoundCaptureName,
          m_strOutputFile};
}

void RecorderEngine::SetOutputFile(const QString& path) {
  m_strOutputFile = path;
  controls_.SetOutputFieldText(m_strOutputFile);
}

QString RecorderEngine::TempWavPath() const {
  return m_szTempWavFile.isEmpty() ? kFallbackWavFile : m_szTempWavFile;
}

void RecorderEngine::UpdateData() {
  m_strOutputFile = controls_.OutputFieldText();
}

// ---------------------------------------------------------------------------------------
// Commands

namespace {

// What an entry that is not a writable regular file of the user's is, for a box.
QString KindOf(const struct stat& st) {
  if (S_ISDIR(st.st_mode)) {
    return QStringLiteral("it is a folder");
  }
  if (S_ISLNK(st.st_mode)) {
    return QStringLiteral("it is a symbolic link");
  }
  if (!S_ISREG(st.st_mode)) {
    return QStringLiteral("it is not a regular file");
  }
  if (st.st_uid != ::geteuid()) {
    return QStringLiteral("it belongs to another user");
  }
  return {};
}

// Why `path` cannot be written as the user's own regular file; empty when it can. An
// existing file is opened without truncating, following no final link and without waiting
// (a FIFO); a new one is created for the test and removed again, so no entry is left.
QString WriteProblem(const QString& path, bool keepNewFile, mode_t mode) {
  const QByteArray native = QFile::encodeName(path);
  struct stat st {};
  const bool exists = ::lstat(native.constData(), &st) == 0;
  if (exists && !KindOf(st).isEmpty()) {
    return KindOf(st);
  }
  const int flags =
      O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | (exists ? 0 : O_CREAT | O_EXCL);
  const int fd = ::open(native.constData(), flags, mode);
  if (fd < 0) {
    return QString::fromLocal8Bit(std::strerror(errno));
  }
  QString problem;
  if (::fstat(fd, &st) != 0) {
    problem = QString::fromLocal8Bit(std::strerror(errno));
  } else {
    problem = KindOf(st);
  }
  ::close(fd);
  if (!exists && !keepNewFile) {
    ::unlink(native.constData());
  }
  return problem;
}

}  // namespace

QString NextTakePath(const QString& path) {
  const QFileInfo info(path);
  if (path.isEmpty() || !info.exists()) {
    return path;
  }
  const QString suffix = info.suffix().isEmpty() ? QString() : QStringLiteral(".") + info.suffix();
  QString base = info.completeBaseName();
  // "talk-3.mp3" beside "talk.mp3" belongs to talk's series.
  static const QRegularExpression kNumbered(QStringLiteral("^(.+)-([2-9]|[1-9][0-9]+)$"));
  if (const auto match = kNumbered.match(base);
      match.hasMatch() && info.dir().exists(match.captured(1) + suffix)) {
    base = match.captured(1);
  }
  const QRegularExpression member(
      QStringLiteral("^%1-([0-9]+)%2$")
          .arg(QRegularExpression::escape(base), QRegularExpression::escape(suffix)));
  qint64 highest = 1;
  for (const QString& name : info.dir().entryList(QDir::Files | QDir::Hidden | QDir::System)) {
    if (const auto match = member.match(name); match.hasMatch()) {
      highest = std::max(highest, match.captured(1).toLongLong());
    }
  }
  for (qint64 n = highest + 1;; ++n) {
    const QString next =
        info.dir().filePath(QStringLiteral("%1-%2%3").arg(base).arg(n).arg(suffix));
    if (!QFileInfo::exists(next)) {
      return next;
    }
  }
}

bool RecorderEngine::CheckOutputWritable(const QString& path) {
  const QString reason =
      path.isEmpty() ? QStringLiteral("No output file is named.") : WriteProblem(path, false, 0666);
  if (reason.isEmpty()) {
    return true;
  }
  services_.boxes.Show(controls_.owner(),
                       QStringLiteral("Cannot record to \"%1\": %2").arg(path, reason),
                       kErrorCaption, platform::MessageBoxes::Icon::Stop);
  return false;
}

bool RecorderEngine::CheckTempWavWritable(const QString& path) {
  const QString reason = WriteProblem(path, true, 0600);
  if (reason.isEmpty()) {
    return true;
  }
  services_.boxes.Show(
      controls_.owner(),
      QStringLiteral("Cannot write the temporary recording file \"%1\" in the folder \"%2\": %3")
          .arg(path, QFileInfo(path).absolutePath(), reason),
      kErrorCaption, platform::MessageBoxes::Icon::Stop);
  return false;
}

void RecorderEngine::OnRecord() {
  // Resume.
  if (m_bPaused == 1) {
    if (m_pMC) {
      m_pMC->RunAsync();
    }
    controls_.SetTimer(kTimerId, kTimerPeriodMs);
    controls_.EnableControl(id::kRecord, false);
    m_bPaused = 0;
    return;
  }
  // A recording runs or is starting: leave it, its chain and its file alone.
  if (m_bRecording == 1 || m_bStarting) {
    return;
  }

  // The path of this recording is what the field shows now, or the next free name after it.
  UpdateData();
  if (m_bKeepEveryTake) {
    m_strOutputFile = NextTakePath(m_strOutputFile);
    controls_.SetOutputFieldText(m_strOutputFile);
  }
  const QString path = m_strOutputFile;
  if (!CheckOutputWritable(path) || !CheckTempWavWritable(TempWavPath())) {
    return;
  }
  if (outputClaim_.Claim(path) == OutputClaim::Result::HeldByAnotherCopy) {
    services_.boxes.Show(controls_.owner(),
                         QStringLiteral("Another running copy of Tonvale is recording into "
                                        "\"%1\". Choose another file to record to.")
                             .arg(path),
                         kErrorCaption, platform::MessageBoxes::Icon::Stop);
    return;
  }
  if (!services_.handOff.WriteOutputPath(path)) {
    qCWarning(lcRecorder) << "could not store the output path for the sink";
  }
  if (Failed(BuildChain())) {
    RemoveSinkAndWriter();
    outputClaim_.Release();
    return;
  }
  // The old recording stays until the sink writes the new one's first audio over it, so a
  // start that fails keeps it. The capture opens at once; the window goes on while the
  // stream makes its way to the files, and the rest follows when the start has ended.
  const HRESULT hr = m_pMC->RunAsync();
  if (hr == S_FALSE) {
    m_bStarting = true;
    return;
  }
  FinishRecordStart(hr);
}

void RecorderEngine::FinishRecordStart(HRESULT hr) {
  m_bStarting = false;
  if (Failed(hr)) {
    services_.boxes.Show(
        controls_.owner(),
        QStringLiteral("1. Your audio hardware may be used by other program. Please exit other "
                       "program.\n2. Or your audio hardware has unknown problem. The program "
                       "can not start recording."),
        QStringLiteral("Start Recording Error"), platform::MessageBoxes::Icon::None);
  }
  controls_.SetStatusText(kStatusRecordingStart);
  m_nUsedSeconds = 0;
  controls_.SetTimer(kTimerId, kTimerPeriodMs);

  m_bRecording = 1;
  controls_.EnableControl(id::kRecord, false);
  controls_.EnableControl(id::kPlay, false);
  controls_.EnableControl(id::kPause, true);

  if (Failed(hr) || m_bStopAfterStart) {
    controls_.PostStopCommand();
  }
  m_bStopAfterStart = false;
  if (std::optional<QString> error = std::exchange(m_startError, std::nullopt)) {
    StopForError(*error);
  }
}

void RecorderEngine::StopForError(const QString& detail) {
  // The stream failed (a write error, a full disk): the recording ends here and what was
  // written stays playable.
  OnStop();
  services_.boxes.Show(controls_.owner(),
                       QStringLiteral("The recording has stopped because of an error:\n%1")
                           .arg(detail.isEmpty() ? QStringLiteral("unknown error") : detail),
                       kErrorCaption, platform::MessageBoxes::Icon::Stop);
}

void RecorderEngine::SetPreRoll(bool on) {
  m_bPreRoll = on;
  ApplyPreRoll();
}

void RecorderEngine::ApplyPreRoll() {
  if (m_pMC && Failed(m_pMC->SetPreRoll(m_bPreRoll ? kPreRollMs : 0)) && m_bPreRoll) {
    qCWarning(lcRecorder) << "the audio before Record cannot be kept for this line";
  }
}

void RecorderEngine::OnPause() {
  if (m_bRecording == 0) {
    return;
  }
  if (m_pMC) {
    m_pMC->Pause();
    m_bPaused = 1;
    controls_.KillTimer(kTimerId);
    controls_.SetStatusText(PausedStatusText(m_nUsedSeconds));
  }
  controls_.EnableControl(id::kRecord, true);
}

void RecorderEngine::OnStop() {
  // A Stop during the start ends the recording as soon as it has started.
  if (m_bStarting) {
    m_bStopAfterStart = true;
    return;
  }
  if (m_bRecording == 0) {
    return;
  }
  if (m_pMC) {
    m_pMC->StopWhenReady();
  }
  // The count stops however the recording ends, with or without a graph left to stop.
  controls_.KillTimer(kTimerId);
  m_nUsedSeconds = 0;
  RemoveSinkAndWriter();
  outputClaim_.Release();
  m_bPaused = 0;
  m_bRecording = 0;
  controls_.EnableControl(id::kRecord, true);
  controls_.EnableControl(id::kPause, true);
  controls_.EnableControl(id::kStop, true);
  controls_.EnableControl(id::kPlay, true);
  controls_.SetStatusText(kStatusReady);
}

void RecorderEngine::OnTimer(int timerId) {
  if (timerId != kTimerId) {
    return;
  }
  ++m_nUsedSeconds;
  controls_.SetStatusText(RecordingStatusText(m_nUsedSeconds));
}

void RecorderEngine::OnPlay() {
  const QString path = controls_.OutputFieldText();
  if (!FileExists(path)) {
    services_.boxes.Show(nullptr, path + QStringLiteral(" does not exist!"), kErrorCaption,
                         platform::MessageBoxes::Icon::None);
    return;
  }
  services_.desktop.OpenFile(path);
}

void RecorderEngine::StopForClose() {
  if (!m_pMC) {
    return;
  }
  if (m_bRecording == 1 || m_bStarting) {
    // Files complete before the graph goes away.
    m_pMC->StopWhenReady();
    controls_.KillTimer(kTimerId);
    outputClaim_.Release();
    m_bRecording = 0;
    m_bPaused = 0;
    m_bStarting = false;
    m_bStopAfterStart = false;
    m_startError.reset();
  } else {
    m_pMC->Stop();
  }
}

// ---------------------------------------------------------------------------------------
// Capture chain

HRESULT RecorderEngine::CreateCaptureGraph() {
  HRESULT hr = services_.media.CreateFilterGraph(&m_pGB);
  if (Failed(hr) || !m_pGB) {
    return E_NOINTERFACE;
  }
  hr = services_.media.CreateCaptureGraphBuilder(&m_pCaptureBuilder);
  if (Failed(hr) || !m_pCaptureBuilder) {
    return E_NOINTERFACE;
  }
  hr = m_pCaptureBuilder->SetFiltergraph(m_pGB);
  if (Failed(hr)) {
    return hr;
  }
  hr = m_pGB->QueryMediaControl(&m_pMC);
  if (Failed(hr)) {
    DebugTrace("FAILED(0x%x) hr = m_pGB->QueryInterface(IID_IMediaControl, (void **)&m_pMC)\n", hr);
    return hr;
  }
  hr = m_pGB->QueryMediaEvent(&m_pME);
  if (Failed(hr)) {
    DebugTrace("FAILED(0x%x) hr = m_pGB->QueryInterface(IID_IMediaEventEx, (void **)&m_pME)\n", hr);
    return hr;
  }
  return m_pME->SetNotifyWindow(controls_.GraphNotifier(), 0);
}

void RecorderEngine::ResetGraphMembers() {
  // Callers have released the graph already; whatever is still held goes now, so nothing
  // of an old graph can outlive it.
  m_pGB = {};
  m_pCaptureBuilder = {};
  m_pMC = {};
  m_pME = {};
  m_pCaptureFilter = {};
  m_pSinkFilter = {};
  m_pFileWriter = {};
  m_bPaused = 0;
  m_bStarting = false;
  m_bStopAfterStart = false;
  m_startError.reset();
  controls_.SetOutputFieldText(m_strOutputFile);
}

HRESULT RecorderEngine::BuildChain() {
  // Leftovers of an earlier, failed build go first.
  RemoveSinkAndWriter();
  if (!m_pGB || !m_pMC) {
    services_.boxes.Show(controls_.owner(),
                         QStringLiteral("There is no audio capture device to record from."),
                         kErrorCaption, platform::MessageBoxes::Icon::None);
    return E_POINTER;
  }

  HRESULT hr = services_.media.CreateFilter(
      QString::fromLatin1(platform::kSinkClassId).toStdString(), &m_pSinkFilter);
  if (Failed(hr) || !m_pSinkFilter) {
    m_pSinkFilter = {};
    services_.boxes.Show(
        controls_.owner(),
        QStringLiteral("The program does not detect its file writer. Please install the program "
                       "again!"),
        kErrorCaption, platform::MessageBoxes::Icon::None);
    return E_NOINTERFACE;
  }
  hr = ConnectWriter();
  if (Failed(hr)) {
    services_.boxes.Show(controls_.owner(),
                         QStringLiteral("The recording cannot start: the capture device could "
                                        "not be connected to the file writer (error 0x%1).")
                             .arg(static_cast<quint32>(hr), 8, 16, QLatin1Char('0')),
                         kErrorCaption, platform::MessageBoxes::Icon::Stop);
  }
  return hr;
}

HRESULT RecorderEngine::ConnectWriter() {
  std::shared_ptr<platform::FileSinkFilter> writer;
  HRESULT hr = services_.media.CreateFileWriter(&writer);
  if (Failed(hr) || !writer) {
    return E_NOINTERFACE;
  }
  hr = writer->QueryFilter(&m_pFileWriter);
  if (Failed(hr) || !m_pFileWriter) {
    m_pFileWriter = {};
    return E_NOINTERFACE;
  }
  hr = m_pGB->AddFilter(m_pSinkFilter, "WAV Dest");
  if (Failed(hr)) {
    return hr;
  }
  hr = m_pGB->AddFilter(m_pFileWriter, "File Writer");
  if (Failed(hr)) {
    return hr;
  }
  writer->SetMode(platform::FileSinkFilter::kOverwrite);
  hr = writer->SetFileName(TempWavPath().toStdString());
  if (Failed(hr)) {
    return hr;
  }
  std::shared_ptr<platform::Pin> pin;
  hr = PinAtPosition(m_pCaptureFilter, PinDirection::Output, 0, &pin);
  if (pin) {
    hr = m_pGB->Render(pin);
  }
  return hr;
}

HRESULT RecorderEngine::PinAtPosition(const std::shared_ptr<platform::Filter>& filter,
                                      PinDirection direction, int n,
                                      std::shared_ptr<platform::Pin>* pin) {
  *pin = {};
  if (!filter) {
    return E_POINTER;
  }
  std::unique_ptr<platform::PinEnumerator> pins;
  HRESULT hr = filter->EnumPins(&pins);
  if (Failed(hr) || !pins) {
    return Failed(hr) ? hr : E_FAIL;
  }
  hr = E_FAIL;
  std::shared_ptr<platform::Pin> candidate;
  while (pins->Next(&candidate) == S_OK && candidate) {
    auto pinDirection = static_cast<PinDirection>(-1);
    if (Failed(candidate->QueryDirection(&pinDirection))) {
      pinDirection = static_cast<PinDirection>(-1);
    }
    if (pinDirection == direction) {
      if (n == 0) {
        *pin = std::move(candidate);
        hr = S_OK;
        break;
      }
      --n;
    }
    candidate = {};
  }
  return hr;
}

HRESULT RecorderEngine::RemoveSinkAndWriter() {
  HRESULT hr = S_OK;
  if (m_pSinkFilter) {
    if (m_pGB) {
      hr = m_pGB->RemoveFilter(m_pSinkFilter);
    }
    m_pSinkFilter = {};
  }
  if (m_pFileWriter) {
    if (m_pGB) {
      hr = m_pGB->RemoveFilter(m_pFileWriter);
    }
    m_pFileWriter = {};
  }
  return hr;
}

void RecorderEngine::ReleaseCaptureGraph() {
  if (m_pME) {
    m_pME->SetNotifyWindow({}, 0);
  }
  m_pMC = {};
  m_pME = {};
  m_pFileWriter = {};
  m_pSinkFilter = {};
  m_pCaptureFilter = {};
  m_pGB = {};
  m_pCaptureBuilder = {};
}

void RecorderEngine::TearDownCapture() {
  // A recording still running or starting ends with complete files before the graph goes.
  if ((m_bRecording == 1 || m_bStarting) && m_pMC) {
    m_pMC->StopWhenReady();
  }
  if (m_bStarting) {
    m_bStarting = false;
    m_bStopAfterStart = false;
    m_startError.reset();
    outputClaim_.Release();
  }
  ClearSoundCardList();
  controls_.ComboResetContent(id::kInputLines);
  m_inputLinePins.clear();
  RemoveSinkAndWriter();
  ReleaseCaptureGraph();
}

// ---------------------------------------------------------------------------------------
// Device events

void RecorderEngine::OnGraphEvent(std::intptr_t instance) {
  if (instance == 0) {
    HandleCaptureEvents();
  }
}

HRESULT RecorderEngine::HandleCaptureEvents() {
  long code = 0;
  std::intptr_t param1 = 0;
  std::intptr_t param2 = 0;
  if (!m_pME || Failed(m_pME->GetEvent(&code, &param1, &param2, 0))) {
    return S_OK;
  }
  HRESULT hr = S_OK;
  for (;;) {
    // The interface that delivered the event frees it, even once the graph is gone.
    const std::shared_ptr<platform::MediaEvent> events = m_pME;
    // Only the device watch tells a removal; a capture error is a start or stream error.
    if (code == platform::EC_DEVICE_LOST && param2 == 0) {
      OnStop();
      hr = events->FreeEventParams(code, param1, param2);
      TearDownCapture();
      ResetGraphMembers();
      services_.boxes.Beep();
      services_.boxes.Show(controls_.owner(),
                           QStringLiteral("The selected input device was removed!"), kAppCaption,
                           platform::MessageBoxes::Icon::Exclamation);
      return hr;
    }
    if (code == platform::EC_DEVICE_LOST) {
      // The device is back. Whatever is still held of the old graph goes first, so no
      // reference leaks and no list holds an entry twice.
      if (m_pGB || !m_soundCardMonikers.empty()) {
        OnStop();
        TearDownCapture();
      }
      ResetGraphMembers();
      const HRESULT created = CreateCaptureGraph();
      if (Succeeded(created) && Failed(EnumerateSoundCards()) && m_bNoCaptureHardware) {
        hr = events->FreeEventParams(code, param1, param2);
        TearDownCapture();
        controls_.PostQuit();
        return hr;
      }
      services_.boxes.Beep();
      services_.boxes.Show(controls_.owner(),
                           QStringLiteral("The audio input device has been reattached!"),
                           kAppCaption, platform::MessageBoxes::Icon::Information);
    } else if (code == platform::EC_RUN_COMPLETE) {
      if (m_bStarting) {
        FinishRecordStart(static_cast<HRESULT>(param1));
      }
    } else if (code == platform::EC_ERRORABORT && m_bStarting) {
      // Told once the start has ended, as when the start waited for it.
      if (!m_startError) {
        m_startError = QString::fromStdString(platform::ErrorEventText(code, param2));
      }
    } else if (code == platform::EC_ERRORABORT && m_bRecording == 1) {
      StopForError(QString::fromStdString(platform::ErrorEventText(code, param2)));
    }
    hr = events->FreeEventParams(code, param1, param2);
    if (!m_pME || Failed(m_pME->GetEvent(&code, &param1, &param2, 0))) {
      break;
    }
  }
  return hr;
}

}  // namespace tonvale::recorder
