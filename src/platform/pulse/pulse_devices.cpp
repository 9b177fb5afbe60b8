#include "platform/pulse/pulse_devices.h"

#include <algorithm>
#include <mutex>
#include <vector>

#include "platform/gst/gst_capture_filter.h"
#include "platform/pulse/pulse_context.h"
#include "platform/pulse/pulse_lines.h"

namespace tonvale::platform {

namespace {

// The chosen line's source as it is now: its format may have changed since it was listed.
CaptureSource CurrentSource(PulseContext& context, const PulseLineSelection& selection) {
  CaptureSource chosen;
  chosen.name = selection.source();
  PulseSource info;
  if (Succeeded(context.QuerySource(chosen.name.empty() ? "@DEFAULT_SOURCE@" : chosen.name, &info)))
    chosen.format = info.format;
  return chosen;
}

// A capture filter that watches its device while it is in a graph.
class PulseCaptureFilter : public GstCaptureFilter {
 public:
  PulseCaptureFilter(std::shared_ptr<PulseContext> context, PulseDevice device,
                     const std::shared_ptr<PulseLineSelection>& selection)
      : GstCaptureFilter(MakePulseInputPins(context, selection),
                         [context, selection] { return CurrentSource(*context, *selection); }),
        context_(std::move(context)),
        device_(std::move(device)) {}

  ~PulseCaptureFilter() override {
    // The watch's callback uses this object: it must be gone before the base is destroyed.
    std::lock_guard lock(watchMutex_);
    watch_.reset();
  }

  bool DeviceGone() override {
    constexpr int kCheckTimeoutMs = 1000;
    PulseSnapshot snapshot;
    if (Failed(context_->QuerySnapshot(&snapshot, kCheckTimeoutMs)))
      return !context_->connected();
    return std::ranges::none_of(ListPulseDevices(snapshot), [this](const PulseDevice& d) {
      return d.facility == device_.facility && d.name == device_.name;
    });
  }

  void JoinFilterGraph(MediaEventSink* graph) override {
    if (graph == nullptr) {
      std::lock_guard lock(watchMutex_);
      watch_.reset();
    }
    GstCaptureFilter::JoinFilterGraph(graph);
    if (graph != nullptr) {
      std::lock_guard lock(watchMutex_);
      if (!watch_) {
        watch_ = context_->WatchPresence(
            device_.facility, device_.name, device_.index,
            [this](bool present) { NotifyGraph(EC_DEVICE_LOST, 0, present ? 1 : 0); });
      }
    }
  }

 private:
  std::shared_ptr<PulseContext> context_;
  PulseDevice device_;
  std::mutex watchMutex_;
  std::unique_ptr<PulseContext::Watch> watch_;
};

class PulseMoniker : public Moniker {
 public:
  PulseMoniker(std::shared_ptr<PulseContext> context, PulseDevice device)
      : context_(std::move(context)), device_(std::move(device)) {}

  HRESULT ReadFriendlyName(std::string* name) override {
    if (name == nullptr)
      return E_POINTER;
    *name = device_.friendlyName;
    return S_OK;
  }

  HRESULT ReadDeviceId(std::string* id) override {
    if (id == nullptr)
      return E_POINTER;
    *id = device_.name;
    return S_OK;
  }

  HRESULT BindToObject(std::shared_ptr<Filter>* filter) override {
    if (filter == nullptr)
      return E_POINTER;
    filter->reset();
    // The device's lines as they are now, not as they were when it was listed.
    PulseSnapshot snapshot;
    HRESULT hr = context_->QuerySnapshot(&snapshot);
    if (Failed(hr))
      return hr;
    for (const PulseDevice& current : ListPulseDevices(snapshot)) {
      if (current.facility != device_.facility || current.name != device_.name)
        continue;
      auto selection = std::make_shared<PulseLineSelection>(PulseDeviceLines(snapshot, current));
      *filter = std::make_shared<PulseCaptureFilter>(context_, current, selection);
      return S_OK;
    }
    qCInfo(lcDevices) << "device to bind is gone:" << device_.name.c_str();
    return VFW_E_NO_CAPTURE_HARDWARE;
  }

 private:
  std::shared_ptr<PulseContext> context_;
  PulseDevice device_;
};

class PulseMonikerEnumerator : public MonikerEnumerator {
 public:
  explicit PulseMonikerEnumerator(std::vector<std::shared_ptr<Moniker>> monikers)
      : monikers_(std::move(monikers)) {}

  HRESULT Next(std::shared_ptr<Moniker>* moniker) override {
    if (moniker == nullptr)
      return E_POINTER;
    if (next_ >= monikers_.size()) {
      moniker->reset();
      return S_FALSE;
    }
    *moniker = monikers_[next_++];
    return S_OK;
  }

 private:
  std::vector<std::shared_ptr<Moniker>> monikers_;
  std::size_t next_ = 0;
};

class PulseDeviceEnumerator : public DeviceEnumerator {
 public:
  explicit PulseDeviceEnumerator(std::shared_ptr<PulseContext> context)
      : context_(std::move(context)) {}

  HRESULT CreateAudioInputEnumerator(std::unique_ptr<MonikerEnumerator>* devices) override {
    if (devices == nullptr)
      return E_POINTER;
    devices->reset();
    if (!context_->connected()) {
      // The server went away since this enumerator was made; a new one may be up.
      std::shared_ptr<PulseContext> fresh;
      HRESULT hr = PulseContext::Connect(&fresh);
      if (Failed(hr))
        return hr;
      context_ = std::move(fresh);
    }
    PulseSnapshot snapshot;
    HRESULT hr = context_->QuerySnapshot(&snapshot);
    if (Failed(hr))
      return hr;
    std::vector<std::shared_ptr<Moniker>> monikers;
    for (PulseDevice& device : ListPulseDevices(snapshot)) {
      qCDebug(lcDevices) << "capture device" << device.friendlyName.c_str() << "("
                         << device.name.c_str() << ")";
      monikers.push_back(std::make_shared<PulseMoniker>(context_, std::move(device)));
    }
    if (monikers.empty())
      return S_FALSE;
    *devices = std::make_unique<PulseMonikerEnumerator>(std::move(monikers));
    return S_OK;
  }

 private:
  std::shared_ptr<PulseContext> context_;
};

}  // namespace

HRESULT CreatePulseDeviceEnumerator(std::shared_ptr<DeviceEnumerator>* devices) {
  if (devices == nullptr)
    return E_POINTER;
  devices->reset();
  std::shared_ptr<PulseContext> context;
  // A failed connection means that no server answered (refused, or no answer in time).
  if (Failed(PulseContext::Connect(&context)))
    return RPC_E_SERVER_UNAVAILABLE;
  *devices = std::make_shared<PulseDeviceEnumerator>(std::move(context));
  return S_OK;
}

}  // namespace tonvale::platform
