#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

#include "platform/gst/gst_capture_filter.h"
#include "platform/gst/media_factory_gst.h"
#include "platform/pulse/pulse_devices.h"
#include "private_server.h"

namespace tonvale::platform {
namespace {

using tonvale::testing::PrivatePulse;

struct Device {
  std::string name;
  std::shared_ptr<Moniker> moniker;
};

// Lists the devices; the HRESULT of CreateAudioInputEnumerator goes to *result.
std::vector<Device> Enumerate(HRESULT* result = nullptr) {
  std::shared_ptr<DeviceEnumerator> enumerator;
  HRESULT hr = CreatePulseDeviceEnumerator(&enumerator);
  std::vector<Device> out;
  if (Succeeded(hr)) {
    std::unique_ptr<MonikerEnumerator> devices;
    hr = enumerator->CreateAudioInputEnumerator(&devices);
    EXPECT_EQ(devices == nullptr, hr != S_OK);
    std::shared_ptr<Moniker> moniker;
    while (devices && devices->Next(&moniker) == S_OK) {
      Device d{{}, moniker};
      EXPECT_EQ(moniker->ReadFriendlyName(&d.name), S_OK);
      out.push_back(d);
    }
  }
  if (result != nullptr)
    *result = hr;
  return out;
}

std::vector<std::string> Names(const std::vector<Device>& devices) {
  std::vector<std::string> names;
  for (const auto& d : devices) names.push_back(d.name);
  return names;
}

// The names and directions of the bound filter's pins.
std::vector<std::string> PinsOf(Filter& filter) {
  std::unique_ptr<PinEnumerator> pins;
  EXPECT_EQ(filter.EnumPins(&pins), S_OK);
  std::vector<std::string> out;
  std::shared_ptr<Pin> pin;
  while (pins && pins->Next(&pin) == S_OK) {
    PinDirection dir{};
    std::string name;
    EXPECT_EQ(pin->QueryDirection(&dir), S_OK);
    EXPECT_EQ(pin->QueryPinInfo(&name), S_OK);
    out.push_back((dir == PinDirection::Input ? "in:" : "out:") + name);
  }
  return out;
}

std::shared_ptr<AudioInputMixer> MixerOfFirstPin(Filter& filter) {
  std::unique_ptr<PinEnumerator> pins;
  std::shared_ptr<Pin> pin;
  std::shared_ptr<AudioInputMixer> mixer;
  if (filter.EnumPins(&pins) == S_OK && pins->Next(&pin) == S_OK)
    pin->QueryMixer(&mixer);
  return mixer;
}

TEST(PulseDevicesTest, NullSinksAreDevicesInAStableOrderWithTheirMonitorAsLine) {
  PrivatePulse pulse({"alpha", "beta"});
  ASSERT_TRUE(pulse.started());
  ASSERT_GE(pulse.loadNullSink("twin1", "Twin"), 0);
  ASSERT_GE(pulse.loadNullSink("twin2", "Twin"), 0);
  const std::vector<std::string> expected = {"Monitor of alpha", "Monitor of beta",
                                             "Monitor of Twin", "Monitor of Twin"};
  auto first = Enumerate();
  EXPECT_EQ(Names(first), expected);
  auto second = Enumerate();
  EXPECT_EQ(Names(second), expected);

  // Each entry binds its own device, even when two share a name.
  const std::vector<std::string> sources = {"alpha.monitor", "beta.monitor", "twin1.monitor",
                                            "twin2.monitor"};
  ASSERT_EQ(second.size(), sources.size());
  for (std::size_t i = 0; i < sources.size(); ++i) {
    std::shared_ptr<Filter> filter;
    ASSERT_EQ(second[i].moniker->BindToObject(&filter), S_OK);
    auto* capture = dynamic_cast<GstCaptureFilter*>(filter.get());
    ASSERT_NE(capture, nullptr);
    EXPECT_EQ(PinsOf(*filter), (std::vector<std::string>{"in:" + expected[i], "out:Capture"}));
    EXPECT_EQ(capture->source().name, sources[i]);
    auto mixer = MixerOfFirstPin(*filter);
    ASSERT_NE(mixer, nullptr);
    ASSERT_EQ(mixer->put_Enable(true), S_OK);
    EXPECT_EQ(capture->source().name, sources[i]);
    ASSERT_EQ(mixer->put_MixLevel(0.5), S_OK);
    double level = 0;
    ASSERT_EQ(mixer->get_MixLevel(&level), S_OK);
    EXPECT_NEAR(level, 0.5, 0.01);
  }
}

TEST(PulseDevicesTest, EmptyServerHasNoDevicesAndNoServerIsAFailure) {
  {
    PrivatePulse pulse(std::vector<std::string>{});
    ASSERT_TRUE(pulse.started());
    HRESULT hr = E_FAIL;
    const auto devices = Enumerate(&hr);
    if (pulse.server() == testing::SoundServer::PipeWire) {
      // PipeWire keeps a fallback sink while there is no other, so its monitor is listed.
      ASSERT_EQ(devices.size(), 1u);
      EXPECT_EQ(devices.front().name, "Monitor of Dummy Output");
    } else {
      EXPECT_TRUE(devices.empty());
      EXPECT_EQ(hr, S_FALSE);
    }
  }
  setenv("PULSE_SERVER", "unix:/nonexistent/tonvale/native", 1);
  std::shared_ptr<DeviceEnumerator> enumerator;
  EXPECT_EQ(CreatePulseDeviceEnumerator(&enumerator), RPC_E_SERVER_UNAVAILABLE);
  EXPECT_EQ(enumerator, nullptr);
}

TEST(PulseDevicesTest, EnumeratorOutlivesARestartedServer) {
  std::shared_ptr<DeviceEnumerator> enumerator;
  {
    PrivatePulse pulse({"first"});
    ASSERT_TRUE(pulse.started());
    ASSERT_EQ(CreatePulseDeviceEnumerator(&enumerator), S_OK);
  }
  std::unique_ptr<MonikerEnumerator> devices;
  EXPECT_TRUE(Failed(enumerator->CreateAudioInputEnumerator(&devices)));
  PrivatePulse again({"second"});
  ASSERT_TRUE(again.started());
  ASSERT_EQ(enumerator->CreateAudioInputEnumerator(&devices), S_OK);
  std::shared_ptr<Moniker> moniker;
  ASSERT_EQ(devices->Next(&moniker), S_OK);
  std::string name;
  ASSERT_EQ(moniker->ReadFriendlyName(&name), S_OK);
  EXPECT_EQ(name, "Monitor of second");
}

// Reads events for up to timeoutMs; returns the EC_DEVICE_LOST param2 values seen.
std::vector<std::intptr_t> DeviceLostEvents(MediaEvent& events, std::size_t want,
                                            int timeoutMs = 5000) {
  std::vector<std::intptr_t> seen;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (seen.size() < want && std::chrono::steady_clock::now() < end) {
    long code = 0;
    std::intptr_t p1 = 0, p2 = 0;
    if (events.GetEvent(&code, &p1, &p2, 100) != S_OK)
      continue;
    if (code == EC_DEVICE_LOST)
      seen.push_back(p2);
    events.FreeEventParams(code, p1, p2);
  }
  return seen;
}

TEST(PulseDevicesTest, UnplugAndReplugOfTheBoundDeviceReachTheGraphQueue) {
  PrivatePulse pulse({"keep"});
  ASSERT_TRUE(pulse.started());
  const int module = pulse.loadNullSink("plug", "Plug");
  ASSERT_GE(module, 0);
  auto devices = Enumerate();
  ASSERT_EQ(Names(devices), (std::vector<std::string>{"Monitor of keep", "Monitor of Plug"}));
  std::shared_ptr<Filter> filter;
  ASSERT_EQ(devices[1].moniker->BindToObject(&filter), S_OK);

  GstMediaFactory factory;
  std::shared_ptr<GraphBuilder> graph;
  ASSERT_EQ(factory.CreateFilterGraph(&graph), S_OK);
  std::shared_ptr<MediaEvent> events;
  ASSERT_EQ(graph->QueryMediaEvent(&events), S_OK);
  ASSERT_EQ(graph->AddFilter(filter, "Audio Capture"), S_OK);

  // Another device's comings and goings are not reported.
  const int other = pulse.loadNullSink("other");
  ASSERT_GE(other, 0);
  ASSERT_EQ(pulse.pactl({"unload-module", std::to_string(other)}), 0);
  EXPECT_TRUE(DeviceLostEvents(*events, 1, 500).empty());

  ASSERT_EQ(pulse.pactl({"unload-module", std::to_string(module)}), 0);
  EXPECT_EQ(DeviceLostEvents(*events, 1), std::vector<std::intptr_t>{0});
  std::shared_ptr<Filter> stale;
  EXPECT_EQ(devices[1].moniker->BindToObject(&stale), VFW_E_NO_CAPTURE_HARDWARE);
  EXPECT_EQ(stale, nullptr);

  const int again = pulse.loadNullSink("plug", "Plug");
  ASSERT_GE(again, 0);
  auto back = DeviceLostEvents(*events, 1);
  ASSERT_EQ(back.size(), 1u);
  EXPECT_NE(back[0], 0);

  // Out of the graph, the device is no longer watched.
  ASSERT_EQ(graph->RemoveFilter(filter), S_OK);
  ASSERT_EQ(pulse.pactl({"unload-module", std::to_string(again)}), 0);
  EXPECT_TRUE(DeviceLostEvents(*events, 1, 500).empty());
}

TEST(PulseDevicesTest, ServerGoingAwayCountsAsUnplugAndReleaseIsSafeAfterwards) {
  auto pulse = std::make_unique<PrivatePulse>(std::vector<std::string>{"solo"});
  ASSERT_TRUE(pulse->started());
  auto devices = Enumerate();
  ASSERT_EQ(devices.size(), 1u);
  std::shared_ptr<Filter> filter;
  ASSERT_EQ(devices[0].moniker->BindToObject(&filter), S_OK);
  GstMediaFactory factory;
  std::shared_ptr<GraphBuilder> graph;
  ASSERT_EQ(factory.CreateFilterGraph(&graph), S_OK);
  std::shared_ptr<MediaEvent> events;
  ASSERT_EQ(graph->QueryMediaEvent(&events), S_OK);
  ASSERT_EQ(graph->AddFilter(filter, "Audio Capture"), S_OK);

  pulse.reset();
  EXPECT_EQ(DeviceLostEvents(*events, 1), std::vector<std::intptr_t>{0});
  auto mixer = MixerOfFirstPin(*filter);
  ASSERT_NE(mixer, nullptr);
  double level = 0;
  EXPECT_TRUE(Failed(mixer->get_MixLevel(&level)));
  EXPECT_TRUE(Failed(mixer->put_Enable(true)));
  graph.reset();
  filter.reset();
  devices.clear();
}

}  // namespace
}  // namespace tonvale::platform
