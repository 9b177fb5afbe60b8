// The pulse server's devices, input lines and connection, against a private server
// (PulseAudio, or PipeWire with its pulse server).

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <thread>

#include "media_probe.h"
#include "platform/gst/gst_capture_filter.h"
#include "platform/gst/media_factory_gst.h"
#include "platform/pulse/pulse_context.h"
#include "platform/pulse/pulse_devices.h"
#include "platform/pulse/pulse_lines.h"
#include "private_server.h"

namespace tonvale::platform {
namespace {

using testing::PrivatePulse;
using Strings = std::vector<std::string>;

bool WaitFor(const std::function<bool()>& done) {
  for (int i = 0; i < 250 && !done(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  return done();
}

// The devices' friendly names, and their monikers; *result is CreateAudioInputEnumerator's.
Strings Enumerate(DeviceEnumerator& enumerator, HRESULT* result = nullptr,
                  std::vector<std::shared_ptr<Moniker>>* monikers = nullptr) {
  std::unique_ptr<MonikerEnumerator> devices;
  const HRESULT hr = enumerator.CreateAudioInputEnumerator(&devices);
  EXPECT_EQ(devices == nullptr, hr != S_OK);
  Strings names;
  std::shared_ptr<Moniker> moniker;
  while (devices && devices->Next(&moniker) == S_OK) {
    EXPECT_EQ(moniker->ReadFriendlyName(&names.emplace_back()), S_OK);
    if (monikers != nullptr)
      monikers->push_back(moniker);
  }
  if (result != nullptr)
    *result = hr;
  return names;
}

// No server is refused (and there is no device list); one that accepts the connection and never
// answers is given up on.
TEST(PulseContextTest, NoServerOrASilentOneIsRefused) {
  setenv("PULSE_SERVER", "unix:/nonexistent/tonvale/native", 1);
  std::shared_ptr<PulseContext> context;
  EXPECT_EQ(PulseContext::Connect(&context), E_FAIL);
  EXPECT_EQ(context, nullptr);
  std::shared_ptr<DeviceEnumerator> devices;
  EXPECT_EQ(CreatePulseDeviceEnumerator(&devices), RPC_E_SERVER_UNAVAILABLE);
  EXPECT_EQ(devices, nullptr);

  const std::string dir = testing::MakeTempDir("tonvale-silent-"), path = dir + "/native";
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  ASSERT_LT(path.size(), sizeof addr.sun_path);
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(listen(fd, 4), 0);
  setenv("PULSE_SERVER", ("unix:" + path).c_str(), 1);
  EXPECT_EQ(PulseContext::Connect(&context, 300), E_ABORT);
  EXPECT_EQ(context, nullptr);
  close(fd);
  std::filesystem::remove_all(dir);
}

// A line's level is its source's; the enabled line is the one recorded. A port the source
// refuses, a source that is gone or a frozen server is reported, and the line stays chosen so
// that recording never falls back to another line unnoticed.
TEST(PulseContextTest, LinesSetLevelAndRecordedSourceAndReportWhatFails) {
  PrivatePulse pulse({"one", "two"});
  ASSERT_TRUE(pulse.started());
  std::shared_ptr<PulseContext> context;
  ASSERT_EQ(PulseContext::Connect(&context), S_OK);
  auto selection =
      std::make_shared<PulseLineSelection>(std::vector<PulseLine>{{"One", "one.monitor", ""},
                                                                  {"Two", "two.monitor", ""},
                                                                  {"Port", "one.monitor", "nope"},
                                                                  {"Gone", "missing.source", ""}});
  std::vector<std::shared_ptr<AudioInputMixer>> mixers;
  for (const auto& pin : MakePulseInputPins(context, selection))
    ASSERT_EQ(pin->QueryMixer(&mixers.emplace_back()), S_OK);
  ASSERT_EQ(mixers.size(), 4u);
  AudioInputMixer& one = *mixers[0];

  double level = -1;
  for (const auto& [put, expected] :
       {std::pair{0.5, 0.5}, {0.0, 0.0}, {1.0, 1.0}, {1.7, 1.0}, {-0.3, 0.0}, {0.25, 0.25}}) {
    ASSERT_EQ(one.put_MixLevel(put), S_OK) << put;
    ASSERT_EQ(one.get_MixLevel(&level), S_OK);
    EXPECT_NEAR(level, expected, 0.01) << put;
  }
  EXPECT_EQ(one.put_MixLevel(std::nan("")), E_INVALIDARG);
  EXPECT_EQ(one.get_MixLevel(nullptr), E_POINTER);
  // The server's own view: 50% on every channel. Above normal, set elsewhere, reads as full.
  ASSERT_EQ(one.put_MixLevel(0.5), S_OK);
  std::string out;
  ASSERT_EQ(pulse.pactl({"get-source-volume", "one.monitor"}, &out), 0);
  EXPECT_NE(out.find("50%"), std::string::npos) << out;
  EXPECT_EQ(out.find("100%"), std::string::npos) << out;
  ASSERT_EQ(pulse.pactl({"set-source-volume", "one.monitor", "150%"}), 0);
  ASSERT_EQ(one.get_MixLevel(&level), S_OK);
  EXPECT_DOUBLE_EQ(level, 1.0);

  EXPECT_EQ(selection->source(), "one.monitor");
  ASSERT_EQ(mixers[1]->put_Enable(true), S_OK);
  ASSERT_EQ(mixers[0]->put_Enable(false), S_OK);  // not the chosen line: no change
  EXPECT_EQ(selection->source(), "two.monitor");
  ASSERT_EQ(mixers[1]->put_Enable(false), S_OK);
  EXPECT_EQ(selection->source(), "one.monitor");
  EXPECT_TRUE(Failed(mixers[2]->put_Enable(true)));
  EXPECT_EQ(selection->current(), 2);
  EXPECT_EQ(mixers[3]->get_MixLevel(&level), VFW_E_NO_CAPTURE_HARDWARE);
  EXPECT_TRUE(Failed(mixers[3]->put_MixLevel(0.5)));

  // Requests to a frozen server time out and leave nothing behind that breaks later ones.
  const pid_t server = pulse.protocolServerPid();
  ASSERT_GT(server, 0);
  ASSERT_EQ(kill(server, SIGSTOP), 0);
  PulseSnapshot snapshot;
  EXPECT_EQ(context->QuerySnapshot(&snapshot, 300), E_ABORT);
  EXPECT_EQ(one.get_MixLevel(&level), E_ABORT);
  ASSERT_EQ(kill(server, SIGCONT), 0);
  ASSERT_EQ(context->QuerySnapshot(&snapshot), S_OK);
  EXPECT_EQ(snapshot.sinks.size(), 2u);
  ASSERT_EQ(one.put_MixLevel(0.5), S_OK);
  ASSERT_EQ(one.get_MixLevel(&level), S_OK);
  EXPECT_NEAR(level, 0.5, 0.01);

  ASSERT_EQ(pulse.pactl({"unload-module", "module-null-sink"}), 0);
  // PipeWire takes the nodes away after it has answered.
  ASSERT_TRUE(WaitFor([&] {
    std::string sources;
    return pulse.pactl({"list", "short", "sources"}, &sources) == 0 &&
           sources.find("two.monitor") == std::string::npos;
  }));
  EXPECT_EQ(mixers[1]->put_Enable(true), VFW_E_NO_CAPTURE_HARDWARE);
  EXPECT_EQ(selection->source(), "two.monitor");

  // A watch of a device already gone reports it at once.
  std::atomic<int> lost{0};
  auto watch = context->WatchPresence(PulseFacility::Card, "no.such.card", 42,
                                      [&](bool present) { lost += present ? 0 : 1; });
  EXPECT_TRUE(WaitFor([&] { return lost.load() == 1; }));
}

// Null sinks' monitors are devices, listed in a stable order; each binds its own device (even
// two of one name) with its line as input pin. While a device's filter is in a graph, its
// unplugging, its return and the server going away reach the graph's queue; no other
// device's. The enumerator outlives its server and lists the next one's devices: none on an
// empty PulseAudio, while PipeWire keeps a fallback sink ("Dummy Output") when there is none.
TEST(PulseDevicesTest, DevicesAreListedBoundAndWatchedWhileTheirFilterIsInAGraph) {
  std::optional<PrivatePulse> pulse(std::in_place, Strings{"alpha", "beta"});
  ASSERT_TRUE(pulse->started());
  ASSERT_GE(pulse->loadNullSink("twin1", "Twin"), 0);
  const int twin2 = pulse->loadNullSink("twin2", "Twin");
  ASSERT_GE(twin2, 0);
  std::shared_ptr<DeviceEnumerator> enumerator;
  ASSERT_EQ(CreatePulseDeviceEnumerator(&enumerator), S_OK);
  const Strings names = {"Monitor of alpha", "Monitor of beta", "Monitor of Twin",
                         "Monitor of Twin"};
  std::vector<std::shared_ptr<Moniker>> devices;
  EXPECT_EQ(Enumerate(*enumerator), names);
  ASSERT_EQ(Enumerate(*enumerator, nullptr, &devices), names);
  std::vector<std::shared_ptr<Filter>> filters;
  for (const char* source : {"alpha.monitor", "beta.monitor", "twin1.monitor", "twin2.monitor"}) {
    const std::size_t i = filters.size();
    ASSERT_EQ(devices[i]->BindToObject(&filters.emplace_back()), S_OK);
    auto* capture = dynamic_cast<GstCaptureFilter*>(filters[i].get());
    ASSERT_NE(capture, nullptr);
    std::shared_ptr<AudioInputMixer> mixer;
    EXPECT_EQ(Pins(*capture, &mixer), (Strings{"in:" + names[i], "out:Capture"}));
    ASSERT_NE(mixer, nullptr);
    EXPECT_EQ(capture->source().name, source);
    ASSERT_EQ(mixer->put_Enable(true), S_OK);
    EXPECT_EQ(capture->source().name, source);
  }

  std::shared_ptr<GraphBuilder> graph;
  std::shared_ptr<MediaEvent> events;
  ASSERT_EQ(GstMediaFactory().CreateFilterGraph(&graph), S_OK);
  ASSERT_EQ(graph->QueryMediaEvent(&events), S_OK);
  ASSERT_EQ(graph->AddFilter(filters[3], "Audio Capture"), S_OK);
  const Event none{0, E_ABORT, 0, ""}, lost{EC_DEVICE_LOST, 0, 0, ""};
  const int other = pulse->loadNullSink("other");
  ASSERT_GE(other, 0);
  ASSERT_EQ(pulse->pactl({"unload-module", std::to_string(other)}), 0);
  EXPECT_EQ(NextEvent(*events, 500), none);
  ASSERT_EQ(pulse->pactl({"unload-module", std::to_string(twin2)}), 0);
  EXPECT_EQ(NextEvent(*events, 5000), lost);
  std::shared_ptr<Filter> stale;
  EXPECT_EQ(devices[3]->BindToObject(&stale), VFW_E_NO_CAPTURE_HARDWARE);
  EXPECT_EQ(stale, nullptr);
  const int again = pulse->loadNullSink("twin2", "Twin");
  ASSERT_GE(again, 0);
  EXPECT_EQ(NextEvent(*events, 5000), Event(EC_DEVICE_LOST, 0, 1, ""));  // back
  // Out of the graph, the device is no longer watched.
  ASSERT_EQ(graph->RemoveFilter(filters[3]), S_OK);
  ASSERT_EQ(pulse->pactl({"unload-module", std::to_string(again)}), 0);
  EXPECT_EQ(NextEvent(*events, 500), none);

  ASSERT_EQ(graph->AddFilter(filters[0], "Audio Capture"), S_OK);
  pulse.reset();
  EXPECT_EQ(NextEvent(*events, 5000), lost);
  std::shared_ptr<AudioInputMixer> mixer;
  Pins(*filters[0], &mixer);
  ASSERT_NE(mixer, nullptr);
  double level = 0;
  EXPECT_TRUE(Failed(mixer->get_MixLevel(&level)));
  EXPECT_TRUE(Failed(mixer->put_Enable(true)));
  graph.reset();  // releasing after the server has gone is safe
  filters.clear();
  HRESULT hr = S_OK;
  EXPECT_TRUE(Enumerate(*enumerator, &hr).empty());
  EXPECT_TRUE(Failed(hr));

  // PipeWire's fallback sink comes a moment after the server, and not at all when
  // pipewire-pulse started before pipewire answered (the private server's start races it):
  // such a start is tried again.
  std::optional<PrivatePulse> empty;
  const auto fallbackListed = [&] {
    std::string sources;
    return empty->pactl({"list", "short", "sources"}, &sources) == 0 &&
           sources.find("auto_null") != std::string::npos;
  };
  bool pipewire = false;
  for (int attempt = 0; attempt < 3; ++attempt) {
    empty.emplace(Strings{});
    ASSERT_TRUE(empty->started());
    pipewire = empty->server() == testing::SoundServer::PipeWire;
    if (!pipewire || WaitFor(fallbackListed))
      break;
  }
  EXPECT_EQ(Enumerate(*enumerator, &hr), pipewire ? Strings{"Monitor of Dummy Output"} : Strings{});
  EXPECT_EQ(hr, pipewire ? S_OK : S_FALSE);
}

}  // namespace
}  // namespace tonvale::platform
