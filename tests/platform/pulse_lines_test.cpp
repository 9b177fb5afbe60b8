#include <gtest/gtest.h>

#include "platform/pulse/pulse_lines.h"

namespace tonvale::platform {
namespace {

PulseSource Input(std::uint32_t index, const std::string& name, std::uint32_t card,
                  std::vector<PulsePort> ports = {}) {
  PulseSource s;
  s.index = index;
  s.name = name;
  s.description = name + " desc";
  s.card = card;
  s.ports = std::move(ports);
  return s;
}

PulseSource Monitor(std::uint32_t index, const std::string& name, std::uint32_t sink,
                    std::uint32_t card) {
  PulseSource s = Input(index, name, card);
  s.monitorOfSink = sink;
  return s;
}

std::vector<std::string> Names(const std::vector<PulseDevice>& devices) {
  std::vector<std::string> out;
  for (const auto& d : devices) out.push_back(d.friendlyName);
  return out;
}

std::vector<std::string> Labels(const std::vector<PulseLine>& lines) {
  std::vector<std::string> out;
  // The role as a mark: "+" the default output's monitor, "~" another monitor.
  for (const auto& l : lines) {
    const char* role = l.role == LineRole::DefaultOutputMonitor ? "+"
                       : l.role == LineRole::Monitor            ? "~"
                                                                : "";
    out.push_back(l.label + "|" + l.source + "|" + l.port + role);
  }
  return out;
}

// A machine with a built-in card (two ports on its input, a sink), a USB card with only an
// output, a card with nothing at all, and a null sink that belongs to no card.
PulseSnapshot Machine() {
  PulseSnapshot s;
  s.cards = {{0, "alsa_card.pci", "Built-in Audio"},
             {1, "alsa_card.usb", "USB Headset"},
             {2, "alsa_card.hdmi", "HDMI (off)"}};
  s.sinks = {{0, "pci.out", "Built-in Out", 0, 1},
             {1, "usb.out", "USB Out", 1, 3},
             {2, "null", "Null Output", kNoIndex, 4}};
  s.sources = {Input(0, "pci.in", 0, {{"mic", "Microphone"}, {"line", "Line In"}}),
               Monitor(1, "pci.out.monitor", 0, 0), Input(2, "virtual.in", kNoIndex),
               // Some servers leave the card off the monitor of a card's sink.
               Monitor(3, "usb.out.monitor", 1, kNoIndex), Monitor(4, "null.monitor", 2, kNoIndex)};
  s.defaultSink = "pci.out";
  return s;
}

TEST(PulseDeviceList, CardsWithInputOrOutputAndCardlessSourcesNotMonitoringACardSinkByName) {
  EXPECT_EQ(Names(ListPulseDevices(Machine())),
            (std::vector<std::string>{"Built-in Audio", "null.monitor desc", "USB Headset",
                                      "virtual.in desc"}));
  EXPECT_TRUE(ListPulseDevices(PulseSnapshot{}).empty());
}

TEST(PulseDeviceList, OrderDoesNotDependOnIndicesSoAReplugKeepsThePosition) {
  PulseSnapshot s = Machine();
  const auto before = Names(ListPulseDevices(s));
  // The built-in card and the null sink come back with new, higher indices.
  s.cards[0].index = 7;
  for (auto& src : s.sources) {
    if (src.card == 0)
      src.card = 7;
  }
  s.sinks[0].card = 7;
  s.sources[4].index = 9;
  s.sinks[2].monitorSource = 9;
  std::ranges::rotate(s.cards, s.cards.begin() + 1);
  std::ranges::rotate(s.sources, s.sources.begin() + 4);
  EXPECT_EQ(Names(ListPulseDevices(s)), before);
}

TEST(PulseDeviceList, LinesArePortsOfInputsThenMonitorsOfSinks) {
  const PulseSnapshot s = Machine();
  const auto devices = ListPulseDevices(s);
  ASSERT_EQ(devices.size(), 4u);
  struct Case {
    std::size_t device;
    std::vector<std::string> lines;
  } cases[] = {
      {0,
       {"Microphone|pci.in|mic", "Line In|pci.in|line", "pci.out.monitor desc|pci.out.monitor|+"}},
      {1, {"null.monitor desc|null.monitor|~"}},
      {2, {"usb.out.monitor desc|usb.out.monitor|~"}},
      {3, {"virtual.in desc|virtual.in|"}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Labels(PulseDeviceLines(s, devices[c.device])), c.lines) << c.device;
  }
}

TEST(PulseDeviceList, SourceWithoutPortsIsOneLineAndMissingDeviceHasNone) {
  PulseSnapshot s = Machine();
  s.sources[0].ports.clear();
  EXPECT_EQ(Labels(PulseDeviceLines(s, ListPulseDevices(s)[0])).front(), "pci.in desc|pci.in|");
  EXPECT_TRUE(PulseDeviceLines(s, {PulseFacility::Card, "gone", 9, "Gone"}).empty());
  EXPECT_TRUE(PulseDeviceLines(s, {PulseFacility::Source, "gone", 9, "Gone"}).empty());
}

TEST(PulseLineSelectionTest, RecordsChosenLineElseFirstElseDefault) {
  PulseLineSelection none({});
  EXPECT_EQ(none.source(), "");
  none.Choose(0);  // out of range: ignored
  EXPECT_EQ(none.current(), -1);

  PulseLineSelection lines({{"A", "a", ""}, {"B", "b", ""}, {"C", "c", ""}});
  EXPECT_EQ(lines.source(), "a");
  lines.Choose(2);
  EXPECT_EQ(lines.source(), "c");
  lines.Release(1);  // not the chosen one
  EXPECT_EQ(lines.source(), "c");
  lines.Choose(5);
  EXPECT_EQ(lines.current(), 2);
  lines.Release(2);
  EXPECT_EQ(lines.current(), -1);
  EXPECT_EQ(lines.source(), "a");
}

}  // namespace
}  // namespace tonvale::platform
