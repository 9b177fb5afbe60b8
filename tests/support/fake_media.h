#pragma once

// In-memory fakes of the media layer: a graph that records what is done to it, filters with
// chosen pins, devices with chosen names, and failures on demand (the *Result members).

#include <algorithm>
#include <deque>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "platform/media.h"

namespace tonvale::testing {

using namespace tonvale::platform;  // NOLINT: test vocabulary

// Hands `value` out when `result` is a success; returns `result`.
template <typename T, typename V>
HRESULT Give(HRESULT result, T* out, V&& value) {
  if (Succeeded(result))
    *out = std::forward<V>(value);
  return result;
}

// Keeps what a call was given; returns `result`.
template <typename T, typename V>
HRESULT Keep(T& field, V&& value, HRESULT result = S_OK) {
  field = std::forward<V>(value);
  return result;
}

struct FakeMixer : AudioInputMixer {
  bool enabled = false;
  int enableCalls = 0;
  double level = 0.5;
  HRESULT levelResult = S_OK;
  HRESULT put_Enable(bool enable) override {
    ++enableCalls;
    return Keep(enabled, enable);
  }
  HRESULT put_MixLevel(double value) override { return Keep(level, value); }
  HRESULT get_MixLevel(double* value) override { return Give(levelResult, value, level); }
};

struct FakePin : Pin {
  PinDirection direction;
  std::string name;
  LineRole role = LineRole::Input;
  std::shared_ptr<FakeMixer> mixer = std::make_shared<FakeMixer>();
  HRESULT directionResult = S_OK;
  HRESULT infoResult = S_OK;
  FakePin(PinDirection d, std::string n) : direction(d), name(std::move(n)) {}
  HRESULT QueryDirection(PinDirection* d) override { return Give(directionResult, d, direction); }
  HRESULT QueryPinInfo(std::string* n) override { return Give(infoResult, n, name); }
  HRESULT QueryLineRole(LineRole* r) override { return Give(S_OK, r, role); }
  HRESULT QueryMixer(std::shared_ptr<AudioInputMixer>* m) override {
    return Give(mixer ? S_OK : E_NOINTERFACE, m, mixer);
  }
};

struct FakeFilter : Filter {
  std::string kind;
  std::vector<std::shared_ptr<FakePin>> pins;
  HRESULT enumResult = S_OK;
  MediaEventSink* graph = nullptr;
  explicit FakeFilter(std::string k) : kind(std::move(k)) {}
  std::shared_ptr<FakePin> AddPin(PinDirection d, const std::string& name) {
    return pins.emplace_back(std::make_shared<FakePin>(d, name));
  }
  HRESULT EnumPins(std::unique_ptr<PinEnumerator>* out) override;
  void JoinFilterGraph(MediaEventSink* g) override { graph = g; }
};

struct FakeFileWriter : FileSinkFilter {
  std::shared_ptr<FakeFilter> filter = std::make_shared<FakeFilter>("File Writer");
  int mode = 0;
  std::string fileName;
  HRESULT setFileNameResult = S_OK;
  FakeFileWriter() { filter->AddPin(PinDirection::Input, "in"); }
  HRESULT SetMode(int m) override { return Keep(mode, m); }
  HRESULT SetFileName(const std::string& path) override {
    return Keep(fileName, path, setFileNameResult);
  }
  HRESULT QueryFilter(std::shared_ptr<Filter>* f) override { return Give(S_OK, f, filter); }
};

struct FakeGraph : GraphBuilder,
                   MediaControl,
                   MediaEvent,
                   MediaEventSink,
                   std::enable_shared_from_this<FakeGraph> {
  using Event = std::tuple<long, std::intptr_t, std::intptr_t>;
  std::vector<std::pair<std::shared_ptr<Filter>, std::string>> filters;
  std::vector<std::string> calls;  // "Run", "Pause", "Stop", "StopWhenReady", "Render"
  HRESULT runResult = S_OK;
  HRESULT renderResult = S_OK;
  HRESULT addResult = S_OK;
  std::deque<Event> events;
  std::vector<Event> freed;
  NotifyFn notify;
  std::intptr_t notifyInstance = -1;

  ~FakeGraph() override {
    for (auto& [code, p1, p2] : events) FreeStandardEventParams(code, p1, p2);
  }
  HRESULT Call(const char* name, HRESULT result) {
    return Keep(calls.emplace_back(), name, result);
  }
  HRESULT AddFilter(const std::shared_ptr<Filter>& f, const std::string& name) override {
    if (Failed(addResult))
      return addResult;
    filters.emplace_back(f, name);
    f->JoinFilterGraph(this);
    return S_OK;
  }
  HRESULT RemoveFilter(const std::shared_ptr<Filter>& f) override {
    const auto removed = std::erase_if(filters, [&](const auto& e) { return e.first == f; });
    if (removed > 0)
      f->JoinFilterGraph(nullptr);
    return removed > 0 ? S_OK : E_FAIL;
  }
  HRESULT Render(const std::shared_ptr<Pin>&) override { return Call("Render", renderResult); }
  HRESULT QueryMediaControl(std::shared_ptr<MediaControl>* c) override {
    return Give(S_OK, c, std::shared_ptr<MediaControl>(shared_from_this(), this));
  }
  HRESULT QueryMediaEvent(std::shared_ptr<MediaEvent>* e) override {
    return Give(S_OK, e, std::shared_ptr<MediaEvent>(shared_from_this(), this));
  }
  HRESULT Run() override { return Call("Run", runResult); }
  HRESULT Pause() override { return Call("Pause", S_OK); }
  HRESULT Stop() override { return Call("Stop", S_OK); }
  HRESULT StopWhenReady() override { return Call("StopWhenReady", S_OK); }
  HRESULT SetNotifyWindow(NotifyFn fn, std::intptr_t instance) override {
    notifyInstance = instance;
    return Keep(notify, std::move(fn));
  }
  HRESULT GetEvent(long* code, std::intptr_t* p1, std::intptr_t* p2, int) override {
    if (events.empty())
      return E_ABORT;
    std::tie(*code, *p1, *p2) = events.front();
    events.pop_front();
    return S_OK;
  }
  HRESULT FreeEventParams(long code, std::intptr_t p1, std::intptr_t p2) override {
    freed.emplace_back(code, p1, p2);
    FreeStandardEventParams(code, p1, p2);
    return S_OK;
  }
  void Notify(long code, std::intptr_t p1, std::intptr_t p2) override {
    events.emplace_back(code, p1, p2);
  }
  bool Holds(const std::string& name) const {
    return std::ranges::any_of(filters, [&](const auto& f) { return f.second == name; });
  }
};

struct FakeDevice : Moniker {
  std::string name;
  std::shared_ptr<FakeFilter> filter = std::make_shared<FakeFilter>(name);
  std::string id = "fake:" + name + ":" + std::to_string(reinterpret_cast<std::uintptr_t>(this));
  HRESULT nameResult = S_OK;
  HRESULT bindResult = S_OK;
  int binds = 0;
  explicit FakeDevice(std::string n) : name(std::move(n)) {}
  HRESULT ReadFriendlyName(std::string* n) override { return Give(nameResult, n, name); }
  HRESULT ReadDeviceId(std::string* i) override { return Give(S_OK, i, id); }
  HRESULT BindToObject(std::shared_ptr<Filter>* f) override {
    binds += Succeeded(bindResult) ? 1 : 0;
    return Give(bindResult, f, filter);
  }
};

struct FakeMediaFactory : MediaFactory, DeviceEnumerator {
  std::vector<std::shared_ptr<FakeDevice>> devices;
  std::vector<std::shared_ptr<FakeGraph>> graphs;
  std::vector<std::shared_ptr<FakeFileWriter>> writers;
  std::vector<std::shared_ptr<FakeFilter>> sinks;
  bool sinkInstalled = true;
  HRESULT graphResult = S_OK;
  HRESULT enumeratorResult = S_OK;

  // A device with these input lines, then its output pin.
  std::shared_ptr<FakeDevice> AddDevice(const std::string& name,
                                        const std::vector<std::string>& lines) {
    auto& device = devices.emplace_back(std::make_shared<FakeDevice>(name));
    for (const auto& line : lines) device->filter->AddPin(PinDirection::Input, line);
    device->filter->AddPin(PinDirection::Output, "Capture");
    return device;
  }
  std::shared_ptr<FakeGraph> graph() const { return graphs.empty() ? nullptr : graphs.back(); }

  HRESULT CreateFilterGraph(std::shared_ptr<GraphBuilder>* g) override {
    if (Succeeded(graphResult))
      graphs.push_back(std::make_shared<FakeGraph>());
    return Give(graphResult, g, graph());
  }
  HRESULT CreateCaptureGraphBuilder(std::shared_ptr<CaptureGraphBuilder>* b) override;
  HRESULT CreateFilter(const std::string& classId, std::shared_ptr<Filter>* f) override {
    if (!sinkInstalled || classId != kSinkClassId)
      return E_NOINTERFACE;
    return Give(S_OK, f, sinks.emplace_back(std::make_shared<FakeFilter>("WAV Dest")));
  }
  HRESULT CreateFileWriter(std::shared_ptr<FileSinkFilter>* w) override {
    return Give(S_OK, w, writers.emplace_back(std::make_shared<FakeFileWriter>()));
  }
  HRESULT CreateDeviceEnumerator(std::shared_ptr<DeviceEnumerator>* e) override {
    return Give(S_OK, e, std::shared_ptr<DeviceEnumerator>(std::shared_ptr<void>(), this));
  }
  HRESULT CreateAudioInputEnumerator(std::unique_ptr<MonikerEnumerator>* out) override;
};

}  // namespace tonvale::testing
