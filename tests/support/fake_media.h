#pragma once

// In-memory fakes of the media layer: a graph that records what is done to it, filters with
// chosen pins, devices with chosen names, and failures on demand.

#include <deque>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "platform/media.h"

namespace tonvale::testing {

using namespace tonvale::platform;  // NOLINT: test vocabulary

struct FakeMixer : AudioInputMixer {
  bool enabled = false;
  int enableCalls = 0;
  double level = 0.5;
  HRESULT levelResult = S_OK;
  HRESULT put_Enable(bool enable) override {
    enabled = enable;
    ++enableCalls;
    return S_OK;
  }
  HRESULT put_MixLevel(double value) override {
    level = value;
    return S_OK;
  }
  HRESULT get_MixLevel(double* value) override {
    if (Succeeded(levelResult))
      *value = level;
    return levelResult;
  }
};

struct FakePin : Pin {
  PinDirection direction = PinDirection::Input;
  LineRole role = LineRole::Input;
  std::string name;
  std::shared_ptr<FakeMixer> mixer = std::make_shared<FakeMixer>();
  HRESULT directionResult = S_OK;
  HRESULT infoResult = S_OK;
  FakePin(PinDirection d, std::string n) : direction(d), name(std::move(n)) {}
  HRESULT QueryDirection(PinDirection* d) override {
    if (Succeeded(directionResult))
      *d = direction;
    return directionResult;
  }
  HRESULT QueryPinInfo(std::string* n) override {
    if (Succeeded(infoResult))
      *n = name;
    return infoResult;
  }
  HRESULT QueryLineRole(LineRole* r) override {
    *r = role;
    return S_OK;
  }
  HRESULT QueryMixer(std::shared_ptr<AudioInputMixer>* m) override {
    if (!mixer)
      return E_NOINTERFACE;
    *m = mixer;
    return S_OK;
  }
};

struct FakeFilter : Filter, std::enable_shared_from_this<FakeFilter> {
  std::string kind;
  std::vector<std::shared_ptr<FakePin>> pins;
  HRESULT enumResult = S_OK;
  MediaEventSink* graph = nullptr;
  explicit FakeFilter(std::string k) : kind(std::move(k)) {}
  std::shared_ptr<FakePin> AddPin(PinDirection d, const std::string& name) {
    pins.push_back(std::make_shared<FakePin>(d, name));
    return pins.back();
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
  HRESULT SetMode(int m) override {
    mode = m;
    return S_OK;
  }
  HRESULT SetFileName(const std::string& path) override {
    fileName = path;
    return setFileNameResult;
  }
  HRESULT QueryFilter(std::shared_ptr<Filter>* f) override {
    *f = filter;
    return S_OK;
  }
};

struct FakeGraph : GraphBuilder,
                   MediaControl,
                   MediaEvent,
                   MediaEventSink,
                   std::enable_shared_from_this<FakeGraph> {
  std::vector<std::pair<std::shared_ptr<Filter>, std::string>> filters;
  std::vector<std::string> calls;  // "Run", "Pause", "Stop", "StopWhenReady", "Render", ...
  HRESULT runResult = S_OK;
  HRESULT renderResult = S_OK;
  HRESULT addResult = S_OK;
  std::deque<std::tuple<long, std::intptr_t, std::intptr_t>> events;
  std::vector<std::tuple<long, std::intptr_t, std::intptr_t>> freed;
  NotifyFn notify;
  std::intptr_t notifyInstance = -1;

  HRESULT AddFilter(const std::shared_ptr<Filter>& f, const std::string& name) override {
    if (Failed(addResult))
      return addResult;
    filters.emplace_back(f, name);
    f->JoinFilterGraph(this);
    return S_OK;
  }
  HRESULT RemoveFilter(const std::shared_ptr<Filter>& f) override {
    for (auto it = filters.begin(); it != filters.end(); ++it) {
      if (it->first == f) {
        f->JoinFilterGraph(nullptr);
        filters.erase(it);
        return S_OK;
      }
    }
    return E_FAIL;
  }
  HRESULT Render(const std::shared_ptr<Pin>&) override {
    calls.push_back("Render");
    return renderResult;
  }
  HRESULT QueryMediaControl(std::shared_ptr<MediaControl>* c) override {
    *c = std::shared_ptr<MediaControl>(shared_from_this(), this);
    return S_OK;
  }
  HRESULT QueryMediaEvent(std::shared_ptr<MediaEvent>* e) override {
    *e = std::shared_ptr<MediaEvent>(shared_from_this(), this);
    return S_OK;
  }
  HRESULT Run() override {
    calls.push_back("Run");
    return runResult;
  }
  HRESULT Pause() override {
    calls.push_back("Pause");
    return S_OK;
  }
  HRESULT Stop() override {
    calls.push_back("Stop");
    return S_OK;
  }
  HRESULT StopWhenReady() override {
    calls.push_back("StopWhenReady");
    return S_OK;
  }
  HRESULT SetNotifyWindow(NotifyFn fn, std::intptr_t instance) override {
    notify = std::move(fn);
    notifyInstance = instance;
    return S_OK;
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
    for (const auto& f : filters)
      if (f.second == name)
        return true;
    return false;
  }
  ~FakeGraph() override {
    for (auto& [code, p1, p2] : events) FreeStandardEventParams(code, p1, p2);
  }
};

struct FakeCaptureGraphBuilder : CaptureGraphBuilder {
  HRESULT SetFiltergraph(const std::shared_ptr<GraphBuilder>&) override { return S_OK; }
};

struct FakeDevice : Moniker {
  std::string name;
  std::shared_ptr<FakeFilter> filter;
  HRESULT nameResult = S_OK;
  HRESULT bindResult = S_OK;
  int binds = 0;
  explicit FakeDevice(std::string n)
      : name(std::move(n)), filter(std::make_shared<FakeFilter>(name)) {}
  HRESULT ReadFriendlyName(std::string* n) override {
    if (Succeeded(nameResult))
      *n = name;
    return nameResult;
  }
  std::string id = "fake:" + name + ":" + std::to_string(reinterpret_cast<std::uintptr_t>(this));
  HRESULT ReadDeviceId(std::string* i) override {
    *i = id;
    return S_OK;
  }
  HRESULT BindToObject(std::shared_ptr<Filter>* f) override {
    if (Failed(bindResult))
      return bindResult;
    ++binds;
    *f = filter;
    return S_OK;
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

  std::shared_ptr<FakeDevice> AddDevice(const std::string& name,
                                        const std::vector<std::string>& lines) {
    auto device = std::make_shared<FakeDevice>(name);
    for (const auto& line : lines) device->filter->AddPin(PinDirection::Input, line);
    device->filter->AddPin(PinDirection::Output, "Capture");
    devices.push_back(device);
    return device;
  }
  std::shared_ptr<FakeGraph> graph() const { return graphs.empty() ? nullptr : graphs.back(); }

  HRESULT CreateFilterGraph(std::shared_ptr<GraphBuilder>* g) override {
    if (Failed(graphResult))
      return graphResult;
    graphs.push_back(std::make_shared<FakeGraph>());
    *g = graphs.back();
    return S_OK;
  }
  HRESULT CreateCaptureGraphBuilder(std::shared_ptr<CaptureGraphBuilder>* b) override {
    *b = std::make_shared<FakeCaptureGraphBuilder>();
    return S_OK;
  }
  HRESULT CreateFilter(const std::string& classId, std::shared_ptr<Filter>* f) override {
    if (!sinkInstalled || classId != kSinkClassId)
      return E_NOINTERFACE;
    sinks.push_back(std::make_shared<FakeFilter>("WAV Dest"));
    *f = sinks.back();
    return S_OK;
  }
  HRESULT CreateFileWriter(std::shared_ptr<FileSinkFilter>* w) override {
    writers.push_back(std::make_shared<FakeFileWriter>());
    *w = writers.back();
    return S_OK;
  }
  HRESULT CreateDeviceEnumerator(std::shared_ptr<DeviceEnumerator>* e) override {
    *e = std::shared_ptr<DeviceEnumerator>(std::shared_ptr<void>(), this);
    return S_OK;
  }
  HRESULT CreateAudioInputEnumerator(std::unique_ptr<MonikerEnumerator>* out) override;
};

}  // namespace tonvale::testing
