// The platform backends: a pulse server's cards and sources as devices, the recorded format, the
// GStreamer graph with no sound server (PulseAudio points nowhere), pulse on a private server.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QSettings>
#include <QString>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <filesystem>
#include <optional>
#include <thread>

#include "fake_media.h"
#include "platform/capture_format.h"
#include "platform/gst/gst_capture_filter.h"
#include "platform/gst/media_factory_gst.h"
#include "platform/pulse/pulse_context.h"
#include "platform/pulse/pulse_devices.h"
#include "platform/pulse/pulse_level_monitor.h"
#include "platform/pulse/pulse_lines.h"
#include "private_server.h"

namespace tonvale::platform {
namespace {

using namespace std::chrono_literals;
using testing::FakePin;
using testing::PrivatePulse;
using Strings = std::vector<std::string>;

// A built-in card (an input with two ports, a sink), a USB card with only an output (some servers
// leave the card off its monitor), a card with nothing, a card-less input and a null sink.
PulseSnapshot Machine() {
  PulseSnapshot s{{{0, "alsa_card.pci", "Built-in Audio"},
                   {1, "alsa_card.usb", "USB Headset"},
                   {2, "alsa_card.hdmi", "HDMI (off)"}},
                  {{0, "pci.out", "Built-in Out", 0, 1},
                   {1, "usb.out", "USB Out", 1, 3},
                   {2, "null", "Null Output", kNoIndex, 4}},
                  {},
                  "pci.out"};
  // Index, name, card, the sink it monitors.
  for (const auto& [index, name, card, sink] : {std::tuple{0u, "pci.in", 0u, kNoIndex},
                                                {1u, "pci.out.monitor", 0u, 0u},
                                                {2u, "virtual.in", kNoIndex, kNoIndex},
                                                {3u, "usb.out.monitor", kNoIndex, 1u},
                                                {4u, "null.monitor", kNoIndex, 2u}}) {
    s.sources.push_back({index, name, name + std::string(" desc"), card, sink, {}, "", {}, {}});
  }
  s.sources[0].ports = {{"mic", "Microphone"}, {"line", "Line In"}};
  return s;
}

// Each device's name and its lines as "label|source|port" and a role mark: "~" a monitor, "~~"
// the default output's.
std::vector<std::string> Listing(const PulseSnapshot& s) {
  std::vector<std::string> out;
  for (const PulseDevice& d : ListPulseDevices(s)) {
    out.push_back(d.friendlyName + ":");
    for (const PulseLine& l : PulseDeviceLines(s, d))
      out.back() += " " + l.label + "|" + l.source + "|" + l.port + std::string(int(l.role), '~');
  }
  return out;
}

// Cards with an input or an output, and card-less sources that do not monitor a card's sink,
// by the name the user sees: a replugged device (new indices, listed elsewhere) keeps its place.
TEST(PulseDeviceList, DevicesByNameWithPortsOfInputsThenMonitorsOfSinksAsLines) {
  const std::vector<std::string> expected = {
      "Built-in Audio: Microphone|pci.in|mic Line In|pci.in|line "
      "pci.out.monitor desc|pci.out.monitor|~~",
      "null.monitor desc: null.monitor desc|null.monitor|~",
      "USB Headset: usb.out.monitor desc|usb.out.monitor|~",
      "virtual.in desc: virtual.in desc|virtual.in|"};
  EXPECT_EQ(Listing(Machine()), expected);
  PulseSnapshot s = Machine();
  s.cards[0].index = s.sources[0].card = s.sources[1].card = s.sinks[0].card = 7;
  s.sources[4].index = s.sinks[2].monitorSource = 9;
  std::ranges::rotate(s.cards, s.cards.begin() + 1);
  std::ranges::rotate(s.sources, s.sources.begin() + 4);
  EXPECT_EQ(Listing(s), expected);

  s.sources[1].ports.clear();  // pci.in
  EXPECT_EQ(Listing(s)[0],
            "Built-in Audio: pci.in desc|pci.in| pci.out.monitor desc|pci.out.monitor|~~");
  EXPECT_TRUE(Listing(PulseSnapshot{}).empty());
  for (PulseFacility gone : {PulseFacility::Card, PulseFacility::Source})
    EXPECT_TRUE(PulseDeviceLines(s, {gone, "gone", 9, "Gone"}).empty());
}

TEST(CaptureFormat, KeepsMonoAndStereoTakesTheNearestMp3RateAndDownmixesWithoutRaisingTheLevel) {
  for (const auto& [source, recorded] : {std::pair{1, 1}, {2, 2}, {6, 2}, {0, 2}})
    EXPECT_EQ(RecordedChannels(source), recorded) << source;
  for (int rate : kMp3SampleRates) EXPECT_EQ(RecordedSampleRate(rate), rate);
  // A tie goes up; an unknown rate is the usual default.
  for (const auto& [source, recorded] :
       {std::pair{96000, 48000}, {46050, 48000}, {7000, 8000}, {0, kDefaultCaptureRate}})
    EXPECT_EQ(RecordedSampleRate(source), recorded) << source;
  // Downmix: each side's weights sum to one, none negative. 5.1: front 1, centre and rear
  // -3 dB, LFE left out, before scaling.
  using enum Speaker;
  for (const auto& layout : std::vector<std::vector<Speaker>>{
           {FrontLeft, FrontRight, FrontCenter, Lfe, RearLeft, RearRight},
           {FrontLeft, FrontRight, FrontCenter, Lfe, RearLeft, RearRight, SideLeft, SideRight},
           {Other, Other, Other},
           {FrontLeft, FrontRight, RearCenter}}) {
    const auto weights = DownmixCoefficients(layout);
    ASSERT_EQ(weights.size(), layout.size());
    double left = 0, right = 0;
    for (const auto& w : weights) {
      EXPECT_GE(std::min(w[0], w[1]), 0);
      left += w[0];
      right += w[1];
    }
    EXPECT_NEAR(left, 1.0, 1e-9);
    EXPECT_NEAR(right, 1.0, 1e-9);
  }
  const auto surround =
      DownmixCoefficients({FrontLeft, FrontRight, FrontCenter, Lfe, RearLeft, RearRight});
  for (const auto& [channel, left, right] :
       {std::tuple{0, 0.41421, 0.0}, {2, 0.29289, 0.29289}, {3, 0.0, 0.0}, {4, 0.29289, 0.0}}) {
    EXPECT_NEAR(surround[channel][0], left, 1e-5) << channel;
    EXPECT_NEAR(surround[channel][1], right, 1e-5) << channel;
  }
}

// The filter's pins, and their names as "in:name" or "out:name".
std::vector<std::shared_ptr<Pin>> PinsOf(Filter& filter, Strings* names = nullptr) {
  std::unique_ptr<PinEnumerator> all;
  EXPECT_EQ(filter.EnumPins(&all), S_OK);
  std::vector<std::shared_ptr<Pin>> pins;
  for (std::shared_ptr<Pin> pin; all && all->Next(&pin) == S_OK; pins.push_back(pin)) {
    PinDirection direction{};
    std::string name;
    EXPECT_TRUE(pin->QueryDirection(&direction) == S_OK && pin->QueryPinInfo(&name) == S_OK);
    if (names != nullptr)
      names->push_back((direction == PinDirection::Input ? "in:" : "out:") + name);
  }
  return pins;
}

// The next event within `timeoutMs`, its parameters freed: code, param1, param2 (0 for an
// EC_ERRORABORT) and the error text; (0, the failure, 0, "") when none was read.
using Event = std::tuple<long, std::intptr_t, std::intptr_t, std::string>;
Event NextEvent(MediaEvent& events, int timeoutMs = 0) {
  long code = 0;
  std::intptr_t p1 = 0, p2 = 0;
  if (const HRESULT hr = events.GetEvent(&code, &p1, &p2, timeoutMs); hr != S_OK)
    return {0, hr, 0, ""};
  const Event event{code, p1, code == EC_ERRORABORT ? 0 : p2, ErrorEventText(code, p2)};
  EXPECT_EQ(events.FreeEventParams(code, p1, p2), S_OK);
  return event;
}
const Event kNone{0, E_ABORT, 0, ""};

// The devices' friendly names, and their monikers.
Strings Enumerate(DeviceEnumerator& enumerator, std::vector<std::shared_ptr<Moniker>>* all = {}) {
  std::unique_ptr<MonikerEnumerator> devices;
  EXPECT_EQ(enumerator.CreateAudioInputEnumerator(&devices), S_OK);
  Strings names;
  for (std::shared_ptr<Moniker> device; devices && devices->Next(&device) == S_OK;) {
    EXPECT_EQ(device->ReadFriendlyName(&names.emplace_back()), S_OK);
    if (all != nullptr)
      all->push_back(device);
  }
  return names;
}

class GstGraphTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(factory_.CreateFilterGraph(&graph_), S_OK);
    ASSERT_EQ(graph_->QueryMediaEvent(&events_), S_OK);
    ASSERT_EQ(graph_->AddFilter(capture_, "Audio Capture"), S_OK);
  }

  GstMediaFactory factory_;
  std::shared_ptr<GraphBuilder> graph_;
  std::shared_ptr<MediaEvent> events_;
  static CaptureSource Nowhere() { return {"nowhere", {}}; }
  std::shared_ptr<GstCaptureFilter> capture_ =
      std::make_shared<GstCaptureFilter>(std::vector<std::shared_ptr<Pin>>{}, Nowhere);
};

// The sink comes only from the plugin directory, by its class id in any case. A graph holds a
// filter once and only its own kind, and renders the capture pin only through both the sink
// and the File Writer. Run with no sound server fails and reports the device.
TEST_F(GstGraphTest, FindsTheSinkAndHoldsEachFilterOnceAndRendersAndRunsOnlyAWholeChain) {
  for (const auto& [dir, classId, found] : std::vector<std::tuple<std::string, std::string, bool>>{
           {"", "{ddcd2468-4ec9-4431-84d2-c7be1fe8cc17}", true},
           {"", "{00000000-0000-0000-0000-000000000000}", false},
           {"/nonexistent/tonvale/plugins", kSinkClassId, false}}) {
    std::shared_ptr<Filter> filter;
    EXPECT_EQ(Succeeded(GstMediaFactory(dir).CreateFilter(classId, &filter)), found) << classId;
    EXPECT_EQ(filter != nullptr, found) << dir;
  }
  const std::shared_ptr<Pin> pin = PinsOf(*capture_).at(0);  // its only pin, the output
  const std::string dir = testing::MakeTempDir("tonvale-noserver-");
  QSettings(QString::fromLatin1(kHandOffOrganisation), QString::fromLatin1(kHandOffApplication))
      .setValue(QString::fromLatin1(kHandOffKey), QString::fromStdString(dir + "/a.mp3"));
  std::shared_ptr<FileSinkFilter> writer;
  std::shared_ptr<Filter> sink, wav;
  std::shared_ptr<GraphBuilder> second;
  ASSERT_TRUE(factory_.CreateFilter(kSinkClassId, &sink) == S_OK &&
              factory_.CreateFileWriter(&writer) == S_OK && writer->QueryFilter(&wav) == S_OK &&
              factory_.CreateFilterGraph(&second) == S_OK);
  for (const auto& [set, expected] : {std::pair{writer->SetMode(7), E_INVALIDARG},
                                      {writer->SetFileName(""), E_INVALIDARG},
                                      {writer->SetFileName(std::string("a\0b", 3)), E_INVALIDARG},
                                      {writer->SetMode(FileSinkFilter::kOverwrite), S_OK},
                                      {writer->SetFileName(dir + "/a.wav"), S_OK}})
    EXPECT_EQ(set, expected);

  ASSERT_EQ(graph_->AddFilter(sink, "WAV Dest"), S_OK);
  EXPECT_LT(graph_->AddFilter(capture_, "again"), 0);
  EXPECT_LT(graph_->AddFilter(std::make_shared<testing::FakeFilter>(), "foreign"), 0);
  EXPECT_LT(second->AddFilter(capture_, "elsewhere"), 0);
  EXPECT_LT(second->AddFilter(sink, "elsewhere"), 0);
  EXPECT_LT(second->RemoveFilter(sink), 0);
  EXPECT_EQ(graph_->Render(pin), VFW_E_CANNOT_RENDER);
  ASSERT_EQ(graph_->RemoveFilter(sink), S_OK);
  ASSERT_EQ(graph_->AddFilter(wav, "File Writer"), S_OK);
  EXPECT_EQ(graph_->Render(pin), VFW_E_CANNOT_RENDER);  // raw audio is no WAV stream
  ASSERT_EQ(graph_->AddFilter(sink, "WAV Dest"), S_OK);
  EXPECT_EQ(graph_->Render(pin), S_OK);
  EXPECT_EQ(graph_->Render(pin), E_UNEXPECTED);  // already connected
  EXPECT_EQ(graph_->Render(std::make_shared<FakePin>(PinDirection::Output, "x")), E_INVALIDARG);

  std::shared_ptr<MediaControl> control;
  std::atomic<int> notified{0};
  ASSERT_EQ(graph_->QueryMediaControl(&control), S_OK);
  ASSERT_EQ(events_->SetNotifyWindow([&](std::intptr_t) { ++notified; }, 0), S_OK);
  EXPECT_EQ(control->Run(), VFW_E_NO_CAPTURE_HARDWARE);
  EXPECT_EQ(control->StopWhenReady(), S_OK);
  const auto [code, hr, p2, text] = NextEvent(*events_);
  EXPECT_EQ(std::tuple(code, hr, text.empty(), notified > 0),
            std::tuple(EC_ERRORABORT, VFW_E_NO_CAPTURE_HARDWARE, false, true));
  ASSERT_EQ(events_->SetNotifyWindow({}, 0), S_OK);
  ASSERT_EQ(graph_->RemoveFilter(sink), S_OK);  // and it may join another graph
  EXPECT_EQ(second->AddFilter(sink, "WAV Dest"), S_OK);
  std::filesystem::remove_all(dir);
}

// Events queue in order and announce themselves to the registered callback, at once when it
// registers while events wait, and never once it is unregistered (while another thread
// notifies); a filter out of the graph no longer reaches the queue.
TEST_F(GstGraphTest, EventsQueueInOrderAndReachOnlyTheRegisteredCallback) {
  std::vector<std::intptr_t> instances;
  const auto record = [&](std::intptr_t i) { instances.push_back(i); };
  ASSERT_EQ(events_->SetNotifyWindow(record, 42), S_OK);
  capture_->NotifyGraph(EC_DEVICE_LOST, 0, 0);
  capture_->NotifyGraph(EC_DEVICE_LOST, 3, 1);
  ASSERT_EQ(events_->SetNotifyWindow({}, 0), S_OK);
  capture_->NotifyGraph(EC_ERRORABORT, E_FAIL, MakeErrorEventText("unread"));
  ASSERT_EQ(events_->SetNotifyWindow(record, 7), S_OK);
  EXPECT_EQ(instances, (std::vector<std::intptr_t>{42, 42, 7}));
  ASSERT_EQ(graph_->RemoveFilter(capture_), S_OK);
  capture_->NotifyGraph(EC_DEVICE_LOST, 0, 0);
  for (const Event& event : {Event(EC_DEVICE_LOST, 0, 0, ""), Event(EC_DEVICE_LOST, 3, 1, ""),
                             Event(EC_ERRORABORT, E_FAIL, 0, "unread"), kNone})
    EXPECT_EQ(NextEvent(*events_), event);

  ASSERT_EQ(graph_->AddFilter(capture_, "Audio Capture"), S_OK);
  std::atomic<bool> unregistered{false}, stop{false};
  std::atomic<int> calls{0}, lateCalls{0};
  const auto count = [&](std::intptr_t) {
    ++calls;
    lateCalls += unregistered ? 1 : 0;
    std::this_thread::yield();
  };
  ASSERT_EQ(events_->SetNotifyWindow(count, 0), S_OK);
  std::thread notifier([&] {
    while (!stop) capture_->NotifyGraph(EC_DEVICE_LOST, 0, 1);
  });
  while (calls < 100) std::this_thread::yield();
  ASSERT_EQ(events_->SetNotifyWindow({}, 0), S_OK);
  unregistered = true;
  std::this_thread::sleep_for(20ms);
  stop = true;
  notifier.join();
  EXPECT_EQ(lateCalls.load(), 0);
  capture_->NotifyGraph(EC_ERRORABORT, E_FAIL, MakeErrorEventText("unread, freed with the graph"));
}

// A line's level is its source's; the enabled line is recorded. A port refused, a source gone or
// a server silent is reported, and the line stays chosen: no unnoticed fallback to another.
TEST(PulseContextTest, LinesSetLevelAndRecordedSourceAndReportWhatFails) {
  PrivatePulse pulse({"one", "two"});
  ASSERT_TRUE(pulse.started());
  std::shared_ptr<PulseContext> context;
  ASSERT_EQ(PulseContext::Connect(&context), S_OK);
  const std::vector<PulseLine> lines = {{"1", "one.monitor", ""},
                                        {"2", "two.monitor", ""},
                                        {"3", "one.monitor", "nope"},
                                        {"4", "gone", ""}};
  const auto selection = std::make_shared<PulseLineSelection>(lines);
  std::vector<std::shared_ptr<AudioInputMixer>> mixers;
  for (const auto& pin : MakePulseInputPins(context, selection))
    ASSERT_EQ(pin->QueryMixer(&mixers.emplace_back()), S_OK);
  ASSERT_EQ(mixers.size(), 4u);

  double level = -1;
  for (const auto& [put, expected] :
       {std::pair{0.0, 0.0}, {1.0, 1.0}, {1.7, 1.0}, {-0.3, 0.0}, {0.25, 0.25}, {0.5, 0.5}}) {
    ASSERT_EQ(mixers[0]->put_MixLevel(put), S_OK) << put;
    ASSERT_EQ(mixers[0]->get_MixLevel(&level), S_OK);
    EXPECT_NEAR(level, expected, 0.01) << put;
  }
  EXPECT_EQ(mixers[0]->put_MixLevel(std::nan("")), E_INVALIDARG);
  // The server's own view: 50% on every channel. Above normal, set elsewhere, reads as full.
  std::string out;
  ASSERT_EQ(pulse.pactl({"get-source-volume", "one.monitor"}, &out), 0);
  EXPECT_THAT(out, ::testing::AllOf(::testing::HasSubstr("50%"),
                                    ::testing::Not(::testing::HasSubstr("100%"))));
  ASSERT_EQ(pulse.pactl({"set-source-volume", "one.monitor", "150%"}), 0);
  // PipeWire passes the change on to other clients a little after pactl returns.
  testing::WaitUntil(2s, [&] { return mixers[0]->get_MixLevel(&level) == S_OK && level != 0.5; });
  EXPECT_DOUBLE_EQ(level, 1.0);

  EXPECT_EQ(selection->source(), "one.monitor");
  ASSERT_EQ(mixers[1]->put_Enable(true), S_OK);
  ASSERT_EQ(mixers[0]->put_Enable(false), S_OK);  // not the chosen line: no change
  EXPECT_EQ(selection->source(), "two.monitor");
  ASSERT_EQ(mixers[1]->put_Enable(false), S_OK);
  EXPECT_EQ(selection->source(), "one.monitor");
  EXPECT_TRUE(Failed(mixers[2]->put_Enable(true)));
  EXPECT_EQ(selection->current(), 2);
  EXPECT_EQ(mixers[3]->put_Enable(true), VFW_E_NO_CAPTURE_HARDWARE);
  EXPECT_EQ(selection->source(), "gone");
  EXPECT_EQ(mixers[3]->get_MixLevel(&level), VFW_E_NO_CAPTURE_HARDWARE);
  EXPECT_TRUE(Failed(mixers[3]->put_MixLevel(0.5)));

  // A frozen server: connecting and requests time out, and leave nothing that breaks later ones.
  const pid_t server = pulse.protocolServerPid();
  ASSERT_GT(server, 0);
  ASSERT_EQ(kill(server, SIGSTOP), 0);
  std::shared_ptr<PulseContext> another;
  PulseSnapshot snapshot;
  EXPECT_EQ(PulseContext::Connect(&another, 300), E_ABORT);
  EXPECT_EQ(another, nullptr);
  EXPECT_EQ(context->QuerySnapshot(&snapshot, 300), E_ABORT);
  EXPECT_EQ(mixers[0]->get_MixLevel(&level), E_ABORT);
  ASSERT_EQ(kill(server, SIGCONT), 0);
  EXPECT_EQ(context->QuerySnapshot(&snapshot), S_OK);
  EXPECT_EQ(mixers[0]->get_MixLevel(&level), S_OK);

  // A watch of a device already gone reports it at once.
  std::atomic<int> lost{0};
  auto watch = context->WatchPresence(PulseFacility::Card, "no.such.card", 42,
                                      [&](bool present) { lost += present ? 0 : 1; });
  for (int i = 0; i < 250 && lost == 0; ++i) std::this_thread::sleep_for(20ms);
  EXPECT_EQ(lost.load(), 1);
}

// Null sinks' monitors are devices; each binds its own (even two of one name) with its line as
// input pin. While its filter is in a graph, a device's unplugging and return and the server's
// end reach the graph's queue (no other device's). The enumerator lists the next server's too.
TEST_F(GstGraphTest, PulseDevicesAreListedBoundAndWatchedWhileTheirFilterIsInAGraph) {
  std::optional<PrivatePulse> pulse(std::in_place, Strings{"a", "b"});
  ASSERT_TRUE(pulse->started());
  const int twin1 = pulse->loadNullSink("twin1", "Twin"),
            twin2 = pulse->loadNullSink("twin2", "Twin");
  ASSERT_GE(std::min(twin1, twin2), 0);
  std::shared_ptr<DeviceEnumerator> enumerator;
  ASSERT_EQ(CreatePulseDeviceEnumerator(&enumerator), S_OK);
  const Strings names = {"Monitor of a", "Monitor of b", "Monitor of Twin", "Monitor of Twin"};
  std::vector<std::shared_ptr<Moniker>> devices;
  ASSERT_EQ(Enumerate(*enumerator, &devices), names);
  std::vector<std::shared_ptr<Filter>> filters;
  std::vector<std::shared_ptr<AudioInputMixer>> mixers;
  for (const char* source : {"a.monitor", "b.monitor", "twin1.monitor", "twin2.monitor"}) {
    const std::size_t i = filters.size();
    ASSERT_EQ(devices[i]->BindToObject(&filters.emplace_back()), S_OK);
    auto* capture = dynamic_cast<GstCaptureFilter*>(filters[i].get());
    ASSERT_NE(capture, nullptr);
    Strings pins;
    ASSERT_EQ(PinsOf(*capture, &pins).at(0)->QueryMixer(&mixers.emplace_back()), S_OK);
    EXPECT_EQ(pins, (Strings{"in:" + names[i], "out:Capture"}));
    ASSERT_EQ(mixers[i]->put_Enable(true), S_OK);
    EXPECT_EQ(capture->source().name, source);
  }

  ASSERT_EQ(graph_->RemoveFilter(capture_), S_OK);
  ASSERT_EQ(graph_->AddFilter(filters[3], "Audio Capture"), S_OK);
  const Event lost{EC_DEVICE_LOST, 0, 0, ""};
  ASSERT_EQ(pulse->pactl({"unload-module", std::to_string(twin1)}), 0);  // its namesake
  EXPECT_EQ(NextEvent(*events_, 500), kNone);
  ASSERT_EQ(pulse->pactl({"unload-module", std::to_string(twin2)}), 0);
  EXPECT_EQ(NextEvent(*events_, 5000), lost);
  std::shared_ptr<Filter> stale;
  EXPECT_EQ(devices[3]->BindToObject(&stale), VFW_E_NO_CAPTURE_HARDWARE);
  EXPECT_EQ(stale, nullptr);
  const int again = pulse->loadNullSink("twin2", "Twin");
  ASSERT_GE(again, 0);
  EXPECT_EQ(NextEvent(*events_, 5000), Event(EC_DEVICE_LOST, 0, 1, ""));  // back
  ASSERT_EQ(graph_->RemoveFilter(filters[3]), S_OK);                      // then no longer watched
  ASSERT_EQ(pulse->pactl({"unload-module", std::to_string(again)}), 0);
  EXPECT_EQ(NextEvent(*events_, 500), kNone);

  ASSERT_EQ(graph_->AddFilter(filters[0], "Audio Capture"), S_OK);
  pulse.reset();
  EXPECT_EQ(NextEvent(*events_, 5000), lost);
  double level = 0;
  EXPECT_TRUE(Failed(mixers[0]->get_MixLevel(&level)));
  EXPECT_TRUE(Failed(mixers[0]->put_Enable(true)));
  graph_.reset();  // releasing after the server has gone is safe
  filters.clear();
  std::unique_ptr<MonikerEnumerator> none;
  EXPECT_TRUE(Failed(enumerator->CreateAudioInputEnumerator(&none)));
  pulse.emplace(Strings{"gamma"});
  ASSERT_TRUE(pulse->started());
  EXPECT_THAT(Enumerate(*enumerator), ::testing::Contains("Monitor of gamma"));
}

// The meter reads a line's source per channel, mono and 6 channels alike: a sine at half scale
// peaks at -6 dBFS with its RMS 3 dB below; the source's mute reaches it with its silence; another
// backend's pin is refused.
TEST(PulseLevelMonitorTest, ReadsPeakAndRmsPerChannelFollowsMuteAndTheWatchedLine) {
  PrivatePulse pulse({"quiet"});
  ASSERT_TRUE(pulse.started());
  ASSERT_GE(pulse.loadNullSink("mono", "", {"channels=1"}), 0);
  ASSERT_GE(pulse.loadNullSink("six", "", {"channels=6"}), 0);
  ASSERT_GT(pulse.playTone("mono", 440), 0);
  ASSERT_GT(pulse.playTone("six", 440), 0);
  PulseLevelMonitor monitor;
  LineLevels levels;
  EXPECT_FALSE(monitor.Read(&levels));
  EXPECT_EQ(monitor.Watch(std::make_shared<FakePin>(PinDirection::Input, "x")), E_INVALIDARG);
  // Levels once a reading holds `n` channels and meets `done`.
  const auto settle = [&](
                          std::size_t n, const std::function<bool()>& done = [] { return true; }) {
    const bool held = testing::WaitUntil(5s, [&] {
      std::this_thread::sleep_for(50ms);
      return monitor.Read(&levels) && levels.channels.size() == n && done();
    });
    std::this_thread::sleep_for(300ms);  // past a first fragment that was partly silent
    return held && monitor.Read(&levels) && levels.channels.size() == n;
  };
  const auto selection = std::make_shared<PulseLineSelection>(
      std::vector<PulseLine>{{"m", "mono.monitor", ""}, {"s", "six.monitor", ""}});
  std::shared_ptr<PulseContext> context;
  ASSERT_EQ(PulseContext::Connect(&context), S_OK);
  const auto pins = MakePulseInputPins(context, selection);
  ASSERT_EQ(monitor.Watch(pins[0]), S_OK);
  ASSERT_TRUE(settle(1, [&] { return levels.channels[0].peak > 0.1F; }));
  EXPECT_NEAR(levels.channels[0].peak, 0.5, 0.03);
  EXPECT_NEAR(levels.channels[0].rms, 0.5 / std::sqrt(2.0), 0.03);
  EXPECT_FALSE(levels.muted);
  ASSERT_EQ(pulse.pactl({"set-source-mute", "mono.monitor", "1"}), 0);
  EXPECT_TRUE(settle(1, [&] { return levels.muted && levels.channels[0].peak == 0.0F; }));

  ASSERT_EQ(monitor.Watch(pins[1]), S_OK);
  ASSERT_TRUE(settle(6, [&] { return levels.channels[0].peak > 0.1F; }));
  EXPECT_FALSE(levels.muted);
  for (const ChannelLevel& c : levels.channels)  // each channel a sine, or silent
    EXPECT_NEAR(c.rms, c.peak / std::sqrt(2.0), 0.03);
  monitor.Stop();
  EXPECT_FALSE(monitor.Read(&levels));
}

}  // namespace
}  // namespace tonvale::platform
