#include "platform/pulse/pulse_lines.h"

#include <algorithm>
#include <cmath>

#include <QString>

namespace tonvale::platform {

namespace {

bool IsInput(const PulseSource& s) {
  return s.monitorOfSink == kNoIndex;
}

const PulseSource* SourceAt(const PulseSnapshot& snapshot, std::uint32_t index) {
  for (const auto& s : snapshot.sources) {
    if (s.index == index)
      return &s;
  }
  return nullptr;
}

const PulseSink* SinkAt(const PulseSnapshot& snapshot, std::uint32_t index) {
  for (const auto& s : snapshot.sinks) {
    if (s.index == index)
      return &s;
  }
  return nullptr;
}

LineRole RoleOf(const PulseSnapshot& snapshot, const PulseSource& source) {
  if (IsInput(source))
    return LineRole::Input;
  const PulseSink* sink = SinkAt(snapshot, source.monitorOfSink);
  return sink != nullptr && sink->name == snapshot.defaultSink ? LineRole::DefaultOutputMonitor
                                                               : LineRole::Monitor;
}

// A monitor of a card's sink is one of that card's lines, not a device of its own.
bool MonitorsCardSink(const PulseSnapshot& snapshot, const PulseSource& source) {
  if (IsInput(source))
    return false;
  const PulseSink* sink = SinkAt(snapshot, source.monitorOfSink);
  return sink != nullptr && sink->card != kNoIndex;
}

}  // namespace

std::vector<PulseDevice> ListPulseDevices(const PulseSnapshot& snapshot) {
  std::vector<PulseDevice> devices;
  for (const auto& card : snapshot.cards) {
    const bool hasInput = std::ranges::any_of(
        snapshot.sources, [&](const PulseSource& s) { return s.card == card.index && IsInput(s); });
    const bool hasSink = std::ranges::any_of(
        snapshot.sinks, [&](const PulseSink& s) { return s.card == card.index; });
    if (hasInput || hasSink) {
      devices.push_back({PulseFacility::Card, card.name, card.index, card.description});
    }
  }
  for (const auto& source : snapshot.sources) {
    if (source.card == kNoIndex && !MonitorsCardSink(snapshot, source)) {
      devices.push_back({PulseFacility::Source, source.name, source.index, source.description});
    }
  }
  // Not by index: a device that is unplugged and plugged back in gets a new one.
  std::ranges::sort(devices, [](const PulseDevice& a, const PulseDevice& b) {
    const int byLabel = QString::fromStdString(a.friendlyName)
                            .compare(QString::fromStdString(b.friendlyName), Qt::CaseInsensitive);
    return byLabel != 0 ? byLabel < 0 : a.name < b.name;
  });
  return devices;
}

std::vector<PulseLine> PulseDeviceLines(const PulseSnapshot& snapshot, const PulseDevice& device) {
  std::vector<PulseLine> lines;
  if (device.facility == PulseFacility::Source) {
    for (const auto& s : snapshot.sources) {
      if (s.name == device.name) {
        lines.push_back({s.description, s.name, {}, RoleOf(snapshot, s)});
        break;
      }
    }
    return lines;
  }
  auto card = std::ranges::find(snapshot.cards, device.name, &PulseCard::name);
  if (card == snapshot.cards.end())
    return lines;
  for (const auto& s : snapshot.sources) {
    if (s.card != card->index || !IsInput(s))
      continue;
    if (s.ports.empty()) {
      lines.push_back({s.description, s.name, {}, LineRole::Input});
      continue;
    }
    for (const auto& port : s.ports)
      lines.push_back({port.description, s.name, port.name, LineRole::Input});
  }
  for (const auto& sink : snapshot.sinks) {
    if (sink.card != card->index)
      continue;
    if (const PulseSource* monitor = SourceAt(snapshot, sink.monitorSource)) {
      lines.push_back({monitor->description, monitor->name, {}, RoleOf(snapshot, *monitor)});
    }
  }
  return lines;
}

std::string PulseLineSelection::source() const {
  std::lock_guard lock(mutex_);
  if (current_ >= 0)
    return lines_[static_cast<std::size_t>(current_)].source;
  return lines_.empty() ? std::string() : lines_.front().source;
}

int PulseLineSelection::current() const {
  std::lock_guard lock(mutex_);
  return current_;
}

void PulseLineSelection::Choose(int line) {
  if (line < 0 || static_cast<std::size_t>(line) >= lines_.size())
    return;
  std::lock_guard lock(mutex_);
  current_ = line;
}

void PulseLineSelection::Release(int line) {
  std::lock_guard lock(mutex_);
  if (current_ == line)
    current_ = -1;
}

PulseLineMixer::PulseLineMixer(std::shared_ptr<PulseContext> context,
                               std::shared_ptr<PulseLineSelection> selection, int line)
    : context_(std::move(context)), selection_(std::move(selection)), line_(line) {}

HRESULT PulseLineMixer::put_Enable(bool enable) {
  if (!enable) {
    selection_->Release(line_);
    return S_OK;
  }
  // Chosen first: whatever fails below, the graph must not quietly record another line.
  selection_->Choose(line_);
  const PulseLine& line = selection_->lines()[static_cast<std::size_t>(line_)];
  HRESULT hr;
  if (line.port.empty()) {
    PulseSource source;
    hr = context_->QuerySource(line.source, &source);
  } else {
    hr = context_->SetSourcePort(line.source, line.port);
  }
  if (Failed(hr)) {
    qCWarning(lcDevices) << "cannot enable line" << line.label.c_str() << "on"
                         << line.source.c_str();
  }
  return hr;
}

HRESULT PulseLineMixer::put_MixLevel(double level) {
  if (std::isnan(level))
    return E_INVALIDARG;
  level = std::clamp(level, 0.0, 1.0);
  const std::string& name = selection_->lines()[static_cast<std::size_t>(line_)].source;
  PulseSource source;
  HRESULT hr = context_->QuerySource(name, &source);
  if (Failed(hr))
    return hr;
  const auto volume = static_cast<pa_volume_t>(std::lround(level * PA_VOLUME_NORM));
  pa_cvolume cv;
  const auto channels =
      static_cast<unsigned>(source.volume.channels > 0 ? source.volume.channels : 1);
  pa_cvolume_set(&cv, channels, volume);
  return context_->SetSourceVolume(name, cv);
}

HRESULT PulseLineMixer::get_MixLevel(double* level) {
  if (level == nullptr)
    return E_POINTER;
  PulseSource source;
  HRESULT hr =
      context_->QuerySource(selection_->lines()[static_cast<std::size_t>(line_)].source, &source);
  if (Failed(hr))
    return hr;
  if (!pa_cvolume_valid(&source.volume))
    return E_FAIL;
  const double average = static_cast<double>(pa_cvolume_avg(&source.volume));
  *level = std::min(1.0, average / PA_VOLUME_NORM);
  return S_OK;
}

PulseInputPin::PulseInputPin(std::shared_ptr<PulseContext> context,
                             std::shared_ptr<PulseLineSelection> selection, int line)
    : name_(selection->lines()[static_cast<std::size_t>(line)].label),
      source_(selection->lines()[static_cast<std::size_t>(line)].source),
      role_(selection->lines()[static_cast<std::size_t>(line)].role) {
  mixer_ = std::make_shared<PulseLineMixer>(std::move(context), std::move(selection), line);
}

HRESULT PulseInputPin::QueryDirection(PinDirection* direction) {
  if (direction == nullptr)
    return E_POINTER;
  *direction = PinDirection::Input;
  return S_OK;
}

HRESULT PulseInputPin::QueryPinInfo(std::string* name) {
  if (name == nullptr)
    return E_POINTER;
  *name = name_;
  return S_OK;
}

HRESULT PulseInputPin::QueryLineRole(LineRole* role) {
  if (role == nullptr)
    return E_POINTER;
  *role = role_;
  return S_OK;
}

HRESULT PulseInputPin::QueryMixer(std::shared_ptr<AudioInputMixer>* mixer) {
  if (mixer == nullptr)
    return E_POINTER;
  *mixer = mixer_;
  return S_OK;
}

std::vector<std::shared_ptr<Pin>> MakePulseInputPins(
    const std::shared_ptr<PulseContext>& context,
    const std::shared_ptr<PulseLineSelection>& selection) {
  std::vector<std::shared_ptr<Pin>> pins;
  const auto count = static_cast<int>(selection->lines().size());
  for (int i = 0; i < count; ++i) {
    pins.push_back(std::make_shared<PulseInputPin>(context, selection, i));
  }
  return pins;
}

}  // namespace tonvale::platform
