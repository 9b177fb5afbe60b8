#pragma once

// The recording engine of the main window: the Record, Pause and Stop commands with the
// status line and its one-second count, the capture chain, the device and input-line lists,
// the graph's device events and Play. It owns every media-layer reference; the main dialog
// owns it and routes its commands here.

#include <QString>
#include <memory>
#include <optional>
#include <vector>

#include "platform/media.h"
#include "platform/services.h"
#include "recorder/output_claim.h"
#include "recorder/recorder_controls.h"

namespace tonvale::recorder {

struct EngineServices {
  platform::MediaFactory& media;
  platform::SinkHandOff& handOff;
  platform::MessageBoxes& boxes;
  platform::Desktop& desktop;
};

// Status line texts.
inline const QString kStatusReady = QStringLiteral("Status : Ready");
inline const QString kStatusRecordingStart =
    QStringLiteral("Status : Recording audio - Used Time: 00:00:00");
QString RecordingStatusText(int usedSeconds);
QString PausedStatusText(int usedSeconds);
// hh:mm:ss with hours unwrapped.
QString UsedTimeText(int usedSeconds);

// True when the file at path can be opened for reading.
bool FileExists(const QString& path);

// Where a recording goes that must not replace the file at `path`: `path` when nothing is
// there, else the name after the highest of "<name>-<n>.<ext>" beside it (n from 2). A path
// that is already such a name of the series continues it.
QString NextTakePath(const QString& path);

// Slider position <-> input-line level.
inline constexpr int kSliderMax = 200;
double LevelFromSliderPos(int pos);
int SliderPosFromLevel(double level);

// What the engine keeps between runs: start-up loads it from the settings, the close
// sequence saves it (the "Option" section; see settings_keys.h).
struct EngineSettings {
  int nSoundCaptureIndex = 0;
  int nCapturePinIndex = 0;
  int nSearchFlag = 0;  // the one-time automatic choice of a line has been made
  // The remembered device's identity: where it is listed, it wins over the position.
  QString strSoundCaptureName;
  QString strOutputFile;
};

class RecorderEngine {
 public:
  RecorderEngine(EngineServices services, RecorderControls& controls);
  ~RecorderEngine();
  RecorderEngine(const RecorderEngine&) = delete;
  RecorderEngine& operator=(const RecorderEngine&) = delete;

  // Start-up hands the engine what was remembered (the output path also goes into the
  // output field); the close sequence saves Settings().
  void Load(const EngineSettings& settings);
  EngineSettings Settings() const;
  // While nonzero the input hint is not shown (the setting b_only_once).
  void SetOnlyOnce(int onlyOnce) { m_bOnlyOnce = onlyOnce; }
  void SetTempWavFile(const QString& path) { m_szTempWavFile = path; }
  // On: a Record never replaces an existing recording (NextTakePath); the field shows the name.
  void SetKeepEveryTake(bool keep) { m_bKeepEveryTake = keep; }
  bool keepEveryTake() const { return m_bKeepEveryTake; }
  // On: the capture keeps the last kPreRollMs of the line whenever the program runs, and a
  // recording begins with them.
  static constexpr int kPreRollMs = 5000;
  void SetPreRoll(bool on);
  bool preRoll() const { return m_bPreRoll; }
  // Browse: the chosen file becomes the output path, shown in the output field.
  void SetOutputFile(const QString& path);

  bool recording() const { return m_bRecording == 1; }
  // Record was pressed and the capture is starting; the rest of Record follows when it has.
  bool starting() const { return m_bStarting; }
  bool paused() const { return m_bPaused == 1; }
  int usedSeconds() const { return m_nUsedSeconds; }
  const QString& outputFile() const { return m_strOutputFile; }
  const QString& tempWavFile() const { return m_szTempWavFile; }
  int onlyOnce() const { return m_bOnlyOnce; }
  bool hasGraph() const { return m_pGB != nullptr; }
  bool hasCaptureDevice() const { return m_pCaptureFilter != nullptr; }

  // Commands.
  void OnRecord();
  void OnPause();
  void OnStop();
  void OnTimer(int timerId);
  void OnPlay();
  void OnSoundCardSelected();
  void OnInputLineSelected();
  void OnVolumeReleased();
  // Takes the text of the output field into m_strOutputFile.
  void UpdateData();
  // A graph event notification arrived with this instance value.
  void OnGraphEvent(std::intptr_t instance);

  // Capture chain.
  HRESULT CreateCaptureGraph();
  void ResetGraphMembers();
  HRESULT BuildChain();
  // The file writer after the sink, and the capture pin rendered into them.
  HRESULT ConnectWriter();
  static HRESULT PinAtPosition(const std::shared_ptr<platform::Filter>& filter,
                               platform::PinDirection direction, int n,
                               std::shared_ptr<platform::Pin>* pin);
  HRESULT RemoveSinkAndWriter();
  void ReleaseCaptureGraph();
  void TearDownCapture();
  // The close command's stop: ends a running recording with complete files.
  void StopForClose();

  // Devices and input lines.
  HRESULT EnumerateSoundCards();
  HRESULT AddDevicesToList(platform::MonikerEnumerator* devices);
  HRESULT ListInputLines(const std::shared_ptr<platform::Filter>& filter,
                         platform::PinDirection direction);
  HRESULT EnableSelectedLine();
  // The pin of the selected input line; nullptr when no line is selected or none is bound.
  std::shared_ptr<platform::Pin> SelectedLinePin() const;
  int ShowLineLevel(platform::AudioInputMixer& mixer);
  HRESULT ApplyLineLevel(double level);
  void ClearSoundCardList();
  HRESULT HandleCaptureEvents();

 private:
  // What Record does once the graph's start has ended with `hr`.
  void FinishRecordStart(HRESULT hr);
  void StopForError(const QString& detail);
  // Tells the graph what to keep before a start, for the line chosen now.
  void ApplyPreRoll();
  void ChooseSoundCard();
  QString DeviceIdAt(int entry) const;
  bool CheckOutputWritable(const QString& path);
  bool CheckTempWavWritable(const QString& path);
  QString TempWavPath() const;
  int PinForLine(int line) const;
  HRESULT ApplyToLines(bool setLevel, double level);

  EngineServices services_;
  RecorderControls& controls_;
  // Held from a Record press until its recording ends.
  OutputClaim outputClaim_;

  // State of the controller.
  int m_bRecording = 0;
  int m_bPaused = 0;
  int m_nUsedSeconds = 0;
  QString m_strOutputFile;
  QString m_szTempWavFile;
  int m_bOnlyOnce = 0;
  bool m_bKeepEveryTake = false;
  bool m_bPreRoll = false;
  bool m_bStarting = false;
  bool m_bStopAfterStart = false;
  // A stream error during the start, told when the start has ended.
  std::optional<QString> m_startError;

  // Remembered choices (EngineSettings).
  int nSoundCaptureIndex = 0;
  int nCapturePinIndex = 0;
  int nSearchFlag = 0;
  QString m_strSoundCaptureName;

  // The capture graph.
  std::shared_ptr<platform::GraphBuilder> m_pGB;
  std::shared_ptr<platform::CaptureGraphBuilder> m_pCaptureBuilder;
  std::shared_ptr<platform::MediaControl> m_pMC;
  std::shared_ptr<platform::MediaEvent> m_pME;
  std::shared_ptr<platform::Filter> m_pCaptureFilter;
  std::shared_ptr<platform::Filter> m_pSinkFilter;
  std::shared_ptr<platform::Filter> m_pFileWriter;

  // Entry data of the sound-card list, one per entry (null for "<< No entries >>").
  std::vector<std::shared_ptr<platform::Moniker>> m_soundCardMonikers;
  // For each entry of the input-line list, the position of its pin among the input pins,
  // or -1 for an "<ERROR>" entry.
  std::vector<int> m_inputLinePins;
  // The last enumeration found no capture device at all.
  bool m_bNoCaptureHardware = false;
};

}  // namespace tonvale::recorder
