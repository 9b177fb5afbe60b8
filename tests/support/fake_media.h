#pragma once

// In-memory fakes of the media layer: a graph that records what is done to it, devices with
// chosen lines, and failures on demand (the *Result members).

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
  HRESULT put_Enable(bool enable) override {
    ++enableCalls;
    return Keep(enabled, enable);
  }
  HRESULT put_MixLevel(double value) override { return Keep(level, value); }
  HRESULT get_MixLevel(double* value) override { return Give(S_OK, value, level); }
};

struct FakePin : Pin {
  PinDirection direction;
  std::string name;
  LineRole role = LineRole::Input;
  std::shared_ptr<FakeMixer> mixer = std::make_shared<FakeMixer>();
  FakePin(PinDirection d, std::string n) : direction(d), name(std::move(n)) {}
  HRESULT QueryDirection(PinDirection* d) override { return Give(S_OK, d, direction); }
  HRESULT QueryPinInfo(std::string* n) override { return Give(S_OK, n, name); }
  HRESULT QueryLineRole(LineRole* r) override { return Give(S_OK, r, role); }
  HRESULT QueryMixer(std::shared_ptr<AudioInputMixer>* m) override { return Give(S_OK, m, mixer); }
};

struct FakeFilter : Filter {
  std::vector<std::shared_ptr<FakePin>> pins;
  std::shared_ptr<FakePin> AddPin(PinDirection d, const std::string& name) {
    return pins.emplace_back(std::make_shared<FakePin>(d, name));
  }
  HRESULT EnumPins(std::unique_ptr<PinEnumerator>* out) override;
};

struct FakeFileWriter : FileSinkFilter {
  std::shared_ptr<FakeFilter> filter = std::make_shared<FakeFilter>();
  int mode = 0;
  std::string fileName;
  HRESULT SetMode(int m) override { return Keep(mode, m); }
  HRESULT SetFileName(const std::string& path) override { return Keep(fileName, path); }
  HRESULT QueryFilter(std::shared_ptr<Filter>* f) override { return Give(S_OK, f, filter); }
};

struct FakeGraph : GraphBuilder,
                   MediaControl,
                   MediaEvent,
                   MediaEventSink,
                   std::enable_shared_from_this<FakeGraph> {
  using Event = std::tuple<long, std::intptr_t, std::intptr_t>;
  std::vector<std::pair<std::shared_ptr<Filter>, std::string>> filters;
  std::vector<std::string> calls;  // "Run", "RunAsync", "Pause", "Stop", "StopWhenReady", "Render"
  HRESULT runResult = S_OK, renderResult = S_OK;
  std::deque<Event> events;
  std::vector<Event> freed;
  NotifyFn notify;

  ~FakeGraph() override {
    for (auto& [code, p1, p2] : events) FreeStandardEventParams(code, p1, p2);
  }
  HRESULT Call(const char* name, HRESULT hr) { return Keep(calls.emplace_back(), name, hr); }
  HRESULT AddFilter(const std::shared_ptr<Filter>& f, const std::string& name) override {
    return Keep(filters.emplace_back(), std::pair(f, name));
  }
  HRESULT RemoveFilter(const std::shared_ptr<Filter>& f) override {
    return std::erase_if(filters, [&](const auto& e) { return e.first == f; }) ? S_OK : E_FAIL;
  }
  HRESULT Render(const std::shared_ptr<Pin>&) override { return Call("Render", renderResult); }
  HRESULT QueryMediaControl(std::shared_ptr<MediaControl>* c) override {
    return Give(S_OK, c, std::shared_ptr<MediaControl>(shared_from_this(), this));
  }
  HRESULT QueryMediaEvent(std::shared_ptr<MediaEvent>* e) override {
    return Give(S_OK, e, std::shared_ptr<MediaEvent>(shared_from_this(), this));
  }
  HRESULT Run() override { return Call("Run", runResult); }
  bool startsLater = false;  // RunAsync leaves the start pending; the test sends EC_RUN_COMPLETE
  HRESULT RunAsync() override { return startsLater ? Call("RunAsync", S_FALSE) : Run(); }
  HRESULT Pause() override { return Call("Pause", S_OK); }
  HRESULT Stop() override { return Call("Stop", S_OK); }
  HRESULT StopWhenReady() override { return Call("StopWhenReady", S_OK); }
  HRESULT SetNotifyWindow(NotifyFn fn, std::intptr_t) override { return Keep(notify, fn); }
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
};

struct FakeDevice : Moniker {
  std::string name;
  std::shared_ptr<FakeFilter> filter = std::make_shared<FakeFilter>();
  std::string id = "fake:" + name + ":" + std::to_string(reinterpret_cast<std::uintptr_t>(this));
  explicit FakeDevice(std::string n) : name(std::move(n)) {}
  HRESULT ReadFriendlyName(std::string* n) override { return Give(S_OK, n, name); }
  HRESULT ReadDeviceId(std::string* i) override { return Give(S_OK, i, id); }
  HRESULT BindToObject(std::shared_ptr<Filter>* f) override { return Give(S_OK, f, filter); }
};

struct FakeMediaFactory : MediaFactory, DeviceEnumerator {
  std::vector<std::shared_ptr<FakeDevice>> devices;
  std::vector<std::shared_ptr<FakeGraph>> graphs;
  std::vector<std::shared_ptr<FakeFileWriter>> writers;
  std::vector<std::shared_ptr<FakeFilter>> sinks;
  bool sinkInstalled = true;

  // A device with these input lines, then its capture pin. A line "*..." carries the default
  // output's sound, "+..." another output's.
  std::shared_ptr<FakeDevice> AddDevice(const std::string& name,
                                        const std::vector<std::string>& lines);
  std::shared_ptr<FakeGraph> graph() const { return graphs.empty() ? nullptr : graphs.back(); }

  HRESULT CreateFilterGraph(std::shared_ptr<GraphBuilder>* g) override {
    return Give(S_OK, g, graphs.emplace_back(std::make_shared<FakeGraph>()));
  }
  struct NoFiltergraph : CaptureGraphBuilder {
    HRESULT SetFiltergraph(const std::shared_ptr<GraphBuilder>&) override { return S_OK; }
  };
  HRESULT CreateCaptureGraphBuilder(std::shared_ptr<CaptureGraphBuilder>* b) override {
    return Give(S_OK, b, std::make_shared<NoFiltergraph>());
  }
  HRESULT CreateFilter(const std::string& classId, std::shared_ptr<Filter>* f) override {
    if (!sinkInstalled || classId != kSinkClassId)
      return E_NOINTERFACE;
    return Give(S_OK, f, sinks.emplace_back(std::make_shared<FakeFilter>()));
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
