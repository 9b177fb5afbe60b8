// The device and input-line half of the recording engine: the sound-card list, the input
// lines of the bound device, the one-time automatic choice of a line, and the line levels.

#include <QString>
#include <algorithm>

#include "recorder/recorder_engine.h"

namespace tonvale::recorder {

using platform::PinDirection;

namespace {

const QString kCaptureName = QStringLiteral("Audio Capture");
const QString kNoEntries = QStringLiteral("<< No entries >>");
const QString kErrorEntry = QStringLiteral("<ERROR>");

constexpr const char* kLineKeywords[] = {"wave", "stereo", "mix", "mixer", "what u hear", "output"};

}  // namespace

HRESULT RecorderEngine::EnumerateSoundCards() {
  m_bNoCaptureHardware = false;
  std::shared_ptr<platform::DeviceEnumerator> devices;
  HRESULT hr = services_.media.CreateDeviceEnumerator(&devices);
  if (Failed(hr) || !devices) {
    return Failed(hr) ? hr : E_NOINTERFACE;
  }
  std::unique_ptr<platform::MonikerEnumerator> monikers;
  hr = devices->CreateAudioInputEnumerator(&monikers);
  if (Succeeded(hr)) {
    hr = AddDevicesToList(monikers.get());
    monikers.reset();
  }
  devices.reset();
  if (Failed(hr)) {
    return hr;
  }
  m_bNoCaptureHardware = hr == S_FALSE;
  if (hr == S_FALSE) {
    services_.boxes.Show(
        controls_.owner(),
        QStringLiteral(
            "There were no audio capture devices detected on this system.\r\n\r\nIf your system "
            "has an audio capture device (sound card, video camera, etc.),\r\nthen make sure that "
            "it is working properly and that you are not running\r\nthis program through a "
            "Windows XP Remote Desktop connection.\r\n\r\nThis program will now exit."),
        QStringLiteral("No audio capture hardware!"), platform::MessageBoxes::Icon::Stop);
    return E_FAIL;
  }
  ChooseSoundCard();
  controls_.ComboSetCurSel(id::kSoundCards, nSoundCaptureIndex);
  OnSoundCardSelected();
  return hr;
}

QString RecorderEngine::DeviceIdAt(int entry) const {
  std::string id;
  const auto& moniker = m_soundCardMonikers[static_cast<size_t>(entry)];
  if (!moniker || Failed(moniker->ReadDeviceId(&id))) {
    return {};
  }
  return QString::fromStdString(id);
}

namespace {

// How likely an input line carries what the computer plays: the sound of the default
// output, of any output, then a name with one of the keywords, in their order.
int LineRank(platform::Pin& pin, const QString& name) {
  platform::LineRole role = platform::LineRole::Input;
  if (Succeeded(pin.QueryLineRole(&role))) {
    if (role == platform::LineRole::DefaultOutputMonitor) {
      return 3;
    }
    if (role == platform::LineRole::Monitor) {
      return 2;
    }
  }
  const QString lower = name.toLower();
  return std::ranges::any_of(kLineKeywords,
                             [&](const char* k) { return lower.contains(QLatin1String(k)); })
             ? 1
             : 0;
}

}  // namespace

void RecorderEngine::ChooseSoundCard() {
  const int count = static_cast<int>(m_soundCardMonikers.size());
  if (!m_strSoundCaptureName.isEmpty()) {
    for (int i = 0; i < count; ++i) {
      if (DeviceIdAt(i) == m_strSoundCaptureName) {
        nSoundCaptureIndex = i;
        return;
      }
    }
    return;
  }
  if (nSearchFlag != 0) {
    return;
  }
  // A first start: the device whose line carries the default output's sound, else the first
  // with any output's sound.
  int best = -1;
  int bestRank = 1;
  for (int i = 0; i < count; ++i) {
    std::shared_ptr<platform::Filter> filter;
    const auto& moniker = m_soundCardMonikers[static_cast<size_t>(i)];
    if (!moniker || Failed(moniker->BindToObject(&filter)) || !filter) {
      continue;
    }
    std::shared_ptr<platform::Pin> pin;
    for (int n = 0; Succeeded(PinAtPosition(filter, PinDirection::Input, n, &pin)); ++n) {
      const int rank = LineRank(*pin, {});
      if (rank > bestRank) {
        best = i;
        bestRank = rank;
      }
    }
  }
  if (best >= 0) {
    nSoundCaptureIndex = best;
  }
}

HRESULT RecorderEngine::AddDevicesToList(platform::MonikerEnumerator* devices) {
  if (devices == nullptr) {
    controls_.ComboAddString(id::kSoundCards, kNoEntries);
    m_soundCardMonikers.push_back(nullptr);
    return S_FALSE;
  }
  HRESULT result = S_OK;
  std::shared_ptr<platform::Moniker> moniker;
  while (devices->Next(&moniker) == S_OK && moniker) {
    std::string name;
    result = moniker->ReadFriendlyName(&name);
    if (Succeeded(result)) {
      controls_.ComboAddString(id::kSoundCards, QString::fromStdString(name));
      m_soundCardMonikers.push_back(std::move(moniker));
    }
    moniker = {};
  }
  return result;
}

void RecorderEngine::OnSoundCardSelected() {
  if (m_pCaptureFilter) {
    // A running recording ends with complete files before its graph is released.
    OnStop();
    controls_.ComboResetContent(id::kInputLines);
    m_inputLinePins.clear();
    ReleaseCaptureGraph();
    CreateCaptureGraph();
  }
  nSoundCaptureIndex = controls_.ComboGetCurSel(id::kSoundCards);
  if (nSoundCaptureIndex < 0 ||
      nSoundCaptureIndex >= static_cast<int>(m_soundCardMonikers.size())) {
    return;
  }
  const auto moniker = m_soundCardMonikers[static_cast<size_t>(nSoundCaptureIndex)];
  if (!moniker) {
    return;
  }
  if (const QString id = DeviceIdAt(nSoundCaptureIndex); !id.isEmpty()) {
    m_strSoundCaptureName = id;
  }
  if (Failed(moniker->BindToObject(&m_pCaptureFilter)) || !m_pCaptureFilter) {
    m_pCaptureFilter = {};
    return;
  }
  if (!m_pGB || Failed(m_pGB->AddFilter(m_pCaptureFilter, kCaptureName.toStdString()))) {
    return;
  }
  if (Failed(ListInputLines(m_pCaptureFilter, PinDirection::Input))) {
    return;
  }
  controls_.ComboSetCurSel(id::kInputLines, nCapturePinIndex);
  OnInputLineSelected();
}

HRESULT RecorderEngine::ListInputLines(const std::shared_ptr<platform::Filter>& filter,
                                       PinDirection direction) {
  controls_.ComboResetContent(id::kInputLines);
  m_inputLinePins.clear();
  if (!filter) {
    return E_NOINTERFACE;
  }
  std::unique_ptr<platform::PinEnumerator> pins;
  HRESULT hr = filter->EnumPins(&pins);
  if (Failed(hr) || !pins) {
    controls_.ComboAddString(id::kInputLines, kErrorEntry);
    m_inputLinePins.push_back(-1);
    return Failed(hr) ? hr : E_FAIL;
  }
  pins->Reset();
  int pinPosition = 0;  // counts pins of the wanted direction, as PinAtPosition does
  int bestRow = -1;     // of the automatic choice
  int bestRank = 0;
  std::shared_ptr<platform::Pin> pin;
  while ((hr = pins->Next(&pin)) == S_OK && pin) {
    PinDirection pinDirection{};
    if (Failed(pin->QueryDirection(&pinDirection))) {
      controls_.ComboAddString(id::kInputLines, kErrorEntry);
      m_inputLinePins.push_back(-1);
      pin = {};
      continue;
    }
    if (pinDirection != direction) {
      pin = {};
      continue;
    }
    const int position = pinPosition++;
    std::string name;
    if (Failed(pin->QueryPinInfo(&name))) {
      pin = {};
      continue;
    }
    const QString lineName = QString::fromStdString(name);
    const int row = controls_.ComboAddString(id::kInputLines, lineName);
    m_inputLinePins.push_back(position);
    if (nSearchFlag == 0) {
      // The first line of the best rank wins.
      if (const int rank = LineRank(*pin, lineName); rank > bestRank) {
        bestRow = row;
        bestRank = rank;
      }
    }
    pin = {};
  }
  if (nSearchFlag == 0 && bestRow >= 0) {
    nCapturePinIndex = bestRow;
  }
  nSearchFlag = 1;
  return hr;
}

void RecorderEngine::OnInputLineSelected() {
  if (m_bOnlyOnce == 0) {
    int dontShowAgain = 0;
    if (controls_.RunInputHint(&dontShowAgain)) {
      m_bOnlyOnce = dontShowAgain;
    }
  }
  OnStop();
  EnableSelectedLine();
  ApplyPreRoll();
}

int RecorderEngine::PinForLine(int line) const {
  if (line < 0 || line >= static_cast<int>(m_inputLinePins.size())) {
    return -1;
  }
  return m_inputLinePins[static_cast<size_t>(line)];
}

HRESULT RecorderEngine::ApplyToLines(bool setLevel, double level) {
  const int count = controls_.ComboCount(id::kInputLines);
  const int selected = controls_.ComboGetCurSel(id::kInputLines);
  nCapturePinIndex = selected;
  HRESULT hr = S_OK;
  for (int i = 0; i < count; ++i) {
    const int position = PinForLine(i);
    if (position < 0) {
      continue;
    }
    std::shared_ptr<platform::Pin> pin;
    hr = PinAtPosition(m_pCaptureFilter, PinDirection::Input, position, &pin);
    if (Failed(hr)) {
      continue;
    }
    std::shared_ptr<platform::AudioInputMixer> mixer;
    hr = pin->QueryMixer(&mixer);
    if (Failed(hr) || !mixer) {
      continue;
    }
    if (i == selected) {
      if (setLevel) {
        hr = mixer->put_MixLevel(level);
      } else {
        ShowLineLevel(*mixer);
      }
      hr = mixer->put_Enable(true);
    } else {
      hr = mixer->put_Enable(false);
    }
  }
  return hr;
}

std::shared_ptr<platform::Pin> RecorderEngine::SelectedLinePin() const {
  const int position = PinForLine(controls_.ComboGetCurSel(id::kInputLines));
  std::shared_ptr<platform::Pin> pin;
  if (position < 0 || !m_pCaptureFilter ||
      Failed(PinAtPosition(m_pCaptureFilter, PinDirection::Input, position, &pin))) {
    return nullptr;
  }
  return pin;
}

HRESULT RecorderEngine::EnableSelectedLine() {
  return ApplyToLines(false, 0.0);
}

int RecorderEngine::ShowLineLevel(platform::AudioInputMixer& mixer) {
  double level = 0.0;
  if (Failed(mixer.get_MixLevel(&level))) {
    level = 0.0;
  }
  controls_.SetSliderPos(SliderPosFromLevel(level));
  return 0;
}

void RecorderEngine::OnVolumeReleased() {
  ApplyLineLevel(LevelFromSliderPos(controls_.SliderPos()));
}

HRESULT RecorderEngine::ApplyLineLevel(double level) {
  return ApplyToLines(true, level);
}

void RecorderEngine::ClearSoundCardList() {
  m_soundCardMonikers.clear();
  controls_.ComboResetContent(id::kSoundCards);
}

}  // namespace tonvale::recorder
