// What a pulse server's cards and sources become: devices, their lines and the line chosen,
// and the format a recording keeps of what a source delivers.

#include <gtest/gtest.h>

#include "platform/capture_format.h"
#include "platform/pulse/pulse_lines.h"

namespace tonvale::platform {
namespace {

PulseSource Source(std::uint32_t index, const std::string& name, std::uint32_t card,
                   std::uint32_t monitorOfSink = kNoIndex, std::vector<PulsePort> ports = {}) {
  PulseSource s;
  s.index = index;
  s.name = name;
  s.description = name + " desc";
  s.card = card;
  s.monitorOfSink = monitorOfSink;
  s.ports = std::move(ports);
  return s;
}

// A built-in card (an input with two ports, a sink), a USB card with only an output, a card
// with nothing at all, a card-less input and a null sink that belongs to no card.
PulseSnapshot Machine() {
  PulseSnapshot s;
  s.cards = {{0, "alsa_card.pci", "Built-in Audio"},
             {1, "alsa_card.usb", "USB Headset"},
             {2, "alsa_card.hdmi", "HDMI (off)"}};
  s.sinks = {{0, "pci.out", "Built-in Out", 0, 1},
             {1, "usb.out", "USB Out", 1, 3},
             {2, "null", "Null Output", kNoIndex, 4}};
  s.sources = {Source(0, "pci.in", 0, kNoIndex, {{"mic", "Microphone"}, {"line", "Line In"}}),
               Source(1, "pci.out.monitor", 0, 0), Source(2, "virtual.in", kNoIndex),
               // Some servers leave the card off the monitor of a card's sink.
               Source(3, "usb.out.monitor", kNoIndex, 1), Source(4, "null.monitor", kNoIndex, 2)};
  s.defaultSink = "pci.out";
  return s;
}

// Each device's name and its lines as "label|source|port" and a role mark: "+" the default
// output's monitor, "~" another monitor.
std::vector<std::string> Listing(const PulseSnapshot& s) {
  std::vector<std::string> out;
  for (const PulseDevice& d : ListPulseDevices(s)) {
    out.push_back(d.friendlyName + ":");
    for (const PulseLine& l : PulseDeviceLines(s, d)) {
      out.back() += " " + l.label + "|" + l.source + "|" + l.port +
                    (l.role == LineRole::DefaultOutputMonitor ? "+"
                     : l.role == LineRole::Monitor            ? "~"
                                                              : "");
    }
  }
  return out;
}

// Cards with an input or an output, and card-less sources that do not monitor a card's sink,
// by the name the user sees, not by index: a replugged device (new, higher indices, listed
// elsewhere by the server) keeps its place.
TEST(PulseDeviceList, DevicesByNameWithPortsOfInputsThenMonitorsOfSinksAsLines) {
  const std::vector<std::string> expected = {
      "Built-in Audio: Microphone|pci.in|mic Line In|pci.in|line "
      "pci.out.monitor desc|pci.out.monitor|+",
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
            "Built-in Audio: pci.in desc|pci.in| pci.out.monitor desc|pci.out.monitor|+");
  EXPECT_TRUE(Listing(PulseSnapshot{}).empty());
  EXPECT_TRUE(PulseDeviceLines(s, {PulseFacility::Card, "gone", 9, "Gone"}).empty());
  EXPECT_TRUE(PulseDeviceLines(s, {PulseFacility::Source, "gone", 9, "Gone"}).empty());
}

TEST(PulseLineSelectionTest, RecordsTheChosenLineElseTheFirstElseTheDefault) {
  PulseLineSelection none({});
  none.Choose(0);  // out of range: ignored
  EXPECT_EQ(none.current(), -1);
  EXPECT_EQ(none.source(), "");

  PulseLineSelection lines({{"A", "a", ""}, {"B", "b", ""}, {"C", "c", ""}});
  EXPECT_EQ(lines.source(), "a");
  lines.Choose(2);
  lines.Release(1);  // not the chosen one
  lines.Choose(5);   // out of range
  EXPECT_EQ(lines.current(), 2);
  EXPECT_EQ(lines.source(), "c");
  lines.Release(2);
  EXPECT_EQ(lines.current(), -1);
  EXPECT_EQ(lines.source(), "a");
}

TEST(CaptureFormat, RecordingKeepsMonoAndStereoAndTakesTheNearestMp3Rate) {
  for (const auto& [source, recorded] : {std::pair{1, 1}, {2, 2}, {6, 2}, {0, 2}})
    EXPECT_EQ(RecordedChannels(source), recorded) << source;
  for (int rate : kMp3SampleRates) EXPECT_EQ(RecordedSampleRate(rate), rate);
  // A tie goes up; an unknown rate is the usual default.
  for (const auto& [source, recorded] :
       {std::pair{96000, 48000}, {46050, 48000}, {7000, 8000}, {0, kDefaultCaptureRate}})
    EXPECT_EQ(RecordedSampleRate(source), recorded) << source;
}

// Each side's weights sum to one, none negative. 5.1: front 1, centre and rear -3 dB, LFE
// left out, before scaling.
TEST(CaptureFormat, DownmixNeverRaisesTheLevelAndKeepsTheSides) {
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

}  // namespace
}  // namespace tonvale::platform
