#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "fake_controls.h"
#include "fake_media.h"
#include "fake_services.h"
#include "recorder/recorder_engine.h"

namespace tonvale::testing {
namespace {

using recorder::RecorderEngine;

struct Lists {
  FakeMediaFactory media;
  FakeHandOff handOff;
  FakeMessageBoxes boxes;
  FakeDesktop desktop;
  FakeControls controls;
  RecorderEngine engine{{media, handOff, boxes, desktop}, controls};

  HRESULT Start(int soundCard = 0, int pin = 0, int searchFlag = 0) {
    recorder::EngineSettings settings = engine.Settings();
    settings.nSoundCaptureIndex = soundCard;
    settings.nCapturePinIndex = pin;
    settings.nSearchFlag = searchFlag;
    engine.Load(settings);
    engine.SetOnlyOnce(1);
    engine.ResetGraphMembers();
    EXPECT_TRUE(Succeeded(engine.CreateCaptureGraph()));
    return engine.EnumerateSoundCards();
  }
  std::vector<bool> Enabled(const FakeDevice& d) {
    std::vector<bool> out;
    for (const auto& p : d.filter->pins)
      if (p->direction == PinDirection::Input)
        out.push_back(p->mixer->enabled);
    return out;
  }
};

TEST(InputLineChoice, FirstKeywordMatchInPinOrderIsChosenOnAFreshInstall) {
  struct Case {
    std::vector<std::string> lines;
    int chosen;
  };
  const std::vector<Case> cases = {
      {{"Microphone", "Line In", "Stereo Mix"}, 2},
      {{"Microphone", "Line In"}, 0},
      {{"Mono Mix", "Microphone"}, 0},
      {{"Microphone", "MIXER"}, 1},
      {{"Microphone", "Wave Out Mix", "Stereo Mix"}, 1},
      {{"Microphone", "What U Hear"}, 1},
      {{"Line In", "Monitor of Built-in Audio"}, 0},
      {{"Line In", "Analog Output Monitor"}, 1},
  };
  for (const auto& c : cases) {
    Lists l;
    auto device = l.media.AddDevice("Card", c.lines);
    ASSERT_TRUE(Succeeded(l.Start()));
    EXPECT_EQ(l.controls.combos[1011].size(), c.lines.size());
    EXPECT_EQ(l.controls.selection[1011], c.chosen) << c.lines.back();
    EXPECT_EQ(l.engine.Settings().nCapturePinIndex, c.chosen);
    EXPECT_EQ(l.engine.Settings().nSearchFlag, 1);
    std::vector<bool> expected(c.lines.size(), false);
    expected[static_cast<size_t>(c.chosen)] = true;
    EXPECT_EQ(l.Enabled(*device), expected);
  }
}

// The lists real machines give on a first start: the choice lands on the sound of the
// default output, then of any output, and only then on a keyword.
TEST(InputLineChoice, FirstStartChoosesTheDefaultOutputsSoundOnTheMachinesUsersHave) {
  using enum LineRole;
  struct Line {
    std::string name;
    LineRole role;
  };
  struct Device {
    std::string name;
    std::vector<Line> lines;
  };
  struct Case {
    const char* machine;
    std::vector<Device> devices;
    int device, line;
  };
  const Device laptop = {"Built-in Audio",
                         {{"Internal Microphone", Input},
                          {"Headphones Stereo Microphone", Input},
                          {"Monitor of Built-in Audio Analog Stereo", DefaultOutputMonitor}}};
  const Device usbMic = {"Blue Yeti", {{"Blue Yeti Analog Stereo", Input}}};
  const Device hdmi = {"HDA NVidia", {{"Monitor of HDA NVidia Digital Stereo (HDMI)", Monitor}}};
  const Device ports = {
      "HDA Intel PCH",
      {{"Microphone", Input}, {"Line In", Input}, {"Monitor of HDA Intel PCH", Monitor}}};
  Device hdmiDefault = hdmi;
  hdmiDefault.lines[0].role = DefaultOutputMonitor;
  const std::vector<Case> cases = {
      {"laptop", {laptop}, 0, 2},
      {"USB microphone and laptop", {usbMic, laptop}, 1, 2},
      {"USB microphone alone", {usbMic}, 0, 0},
      {"card with ports, no default among its outputs", {ports}, 0, 2},
      {"several outputs, HDMI the default", {ports, hdmiDefault}, 1, 0},
      {"several outputs, none the default", {usbMic, ports, hdmi}, 1, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.machine);
    Lists l;
    for (const auto& d : c.devices) {
      std::vector<std::string> names;
      for (const auto& line : d.lines) names.push_back(line.name);
      auto device = l.media.AddDevice(d.name, names);
      for (std::size_t i = 0; i < d.lines.size(); ++i)
        device->filter->pins[i]->role = d.lines[i].role;
    }
    ASSERT_TRUE(Succeeded(l.Start()));
    EXPECT_EQ(l.controls.selection[1009], c.device);
    EXPECT_EQ(l.controls.selection[1011], c.line);
    EXPECT_EQ(l.engine.Settings().nSearchFlag, 1);
  }
}

TEST(SoundCards, RememberedDeviceIsSelectedWhereverItIsNowListed) {
  Lists l;
  l.media.AddDevice("Alpha", {"Mic"});
  auto chosen = l.media.AddDevice("Zulu", {"Mic"});
  ASSERT_TRUE(Succeeded(l.Start(1, 0, 1)));
  const QString remembered = l.engine.Settings().strSoundCaptureName;
  EXPECT_EQ(remembered.toStdString(), chosen->id);

  // Another device is plugged in and listed before it: the identity wins over the position.
  Lists next;
  next.media.devices = {l.media.devices[0], std::make_shared<FakeDevice>("Mike"), chosen};
  next.engine.Load({0, 0, 0, remembered, {}});
  ASSERT_TRUE(Succeeded(next.Start(1, 0, 1)));
  EXPECT_EQ(next.controls.selection[1009], 2);
  EXPECT_EQ(next.engine.Settings().nSoundCaptureIndex, 2);
  // Without it, the position decides as before.
  next.media.devices.pop_back();
  next.engine.TearDownCapture();
  ASSERT_TRUE(Succeeded(next.Start(1, 0, 1)));
  EXPECT_EQ(next.controls.selection[1009], 1);
  EXPECT_EQ(next.engine.Settings().strSoundCaptureName.toStdString(), next.media.devices[1]->id);
}

TEST(InputLineChoice, RememberedPositionDecidesOnceSearched) {
  Lists l;
  auto device = l.media.AddDevice("Card", {"Microphone", "Line In", "Stereo Mix"});
  ASSERT_TRUE(Succeeded(l.Start(0, 1, 1)));
  EXPECT_EQ(l.controls.selection[1011], 1);
  EXPECT_EQ(l.Enabled(*device), (std::vector<bool>{false, true, false}));
}

TEST(InputLineChoice, PositionOutsideTheListSelectsNothingAndDisablesAll) {
  Lists l;
  auto device = l.media.AddDevice("Card", {"Microphone", "Line In"});
  ASSERT_TRUE(Succeeded(l.Start(0, 5, 1)));
  EXPECT_EQ(l.controls.selection[1011], -1);
  EXPECT_EQ(l.engine.Settings().nCapturePinIndex, -1);
  EXPECT_EQ(l.Enabled(*device), (std::vector<bool>{false, false}));
  EXPECT_EQ(device->filter->pins[0]->mixer->enableCalls, 1);
}

TEST(SoundCards, SameNamesBothListedAndEachBindsItsOwnDevice) {
  Lists l;
  auto first = l.media.AddDevice("USB Audio", {"Mic"});
  auto second = l.media.AddDevice("USB Audio", {"Mic"});
  ASSERT_TRUE(Succeeded(l.Start(1, 0, 1)));
  EXPECT_EQ(l.controls.combos[1009],
            (std::vector<QString>{QStringLiteral("USB Audio"), QStringLiteral("USB Audio")}));
  EXPECT_EQ(first->binds, 0);
  EXPECT_EQ(second->binds, 1);
}

TEST(SoundCards, OutOfRangeDevicePositionBindsNothing) {
  Lists l;
  l.media.AddDevice("Card", {"Mic"});
  ASSERT_TRUE(Succeeded(l.Start(3)));
  EXPECT_EQ(l.engine.Settings().nSoundCaptureIndex, -1);
  EXPECT_EQ(l.engine.hasCaptureDevice(), false);
  EXPECT_EQ(l.controls.ComboCount(1011), 0);
}

TEST(SoundCards, NoDeviceShowsTheBoxAndFails) {
  Lists l;
  EXPECT_EQ(l.Start(), E_FAIL);
  EXPECT_EQ(l.controls.combos[1009], (std::vector<QString>{QStringLiteral("<< No entries >>")}));
  ASSERT_EQ(l.boxes.shown.size(), 1u);
  EXPECT_EQ(l.boxes.shown[0].caption, QStringLiteral("No audio capture hardware!"));
  EXPECT_EQ(l.boxes.shown[0].icon, platform::MessageBoxes::Icon::Stop);
  EXPECT_TRUE(l.boxes.shown[0].text.endsWith(QStringLiteral("This program will now exit.")));
}

TEST(SoundCards, UnreadableNameSkipsTheDeviceUnlessItIsLast) {
  Lists l;
  l.media.AddDevice("Broken", {"Mic"})->nameResult = E_FAIL;
  l.media.AddDevice("Good", {"Mic"});
  ASSERT_TRUE(Succeeded(l.Start()));
  EXPECT_EQ(l.controls.combos[1009], (std::vector<QString>{QStringLiteral("Good")}));

  Lists last;
  last.media.AddDevice("Good", {"Mic"});
  last.media.AddDevice("Broken", {"Mic"})->nameResult = E_FAIL;
  EXPECT_EQ(last.Start(), E_FAIL);
}

TEST(InputLines, RowsAndPinsStayInStepWithErrorEntries) {
  Lists l;
  auto device = l.media.AddDevice("Card", {"Bad direction", "Microphone", "No info", "Line In"});
  device->filter->pins[0]->directionResult = E_FAIL;
  device->filter->pins[2]->infoResult = E_FAIL;
  ASSERT_TRUE(Succeeded(l.Start(0, 2, 1)));
  EXPECT_EQ(l.controls.combos[1011],
            (std::vector<QString>{QStringLiteral("<ERROR>"), QStringLiteral("Microphone"),
                                  QStringLiteral("Line In")}));
  // Row 2 is "Line In": exactly that pin is enabled.
  EXPECT_TRUE(device->filter->pins[3]->mixer->enabled);
  EXPECT_FALSE(device->filter->pins[1]->mixer->enabled);
  EXPECT_EQ(device->filter->pins[2]->mixer->enableCalls, 0);
}

TEST(InputLines, HintShownOnUserChangeAndStoredOutcomeKeptOnOk) {
  Lists l;
  l.media.AddDevice("Card", {"Mic", "Line In"});
  ASSERT_TRUE(Succeeded(l.Start(0, 0, 1)));
  EXPECT_EQ(l.controls.hints, 0) << "no hint during start-up";
  l.engine.SetOnlyOnce(0);

  l.controls.hintAccepted = false;  // Escape
  l.engine.OnInputLineSelected();
  EXPECT_EQ(l.engine.onlyOnce(), 0);
  l.controls.hintAccepted = true;
  l.controls.hintDontShowAgain = 0;  // OK with the box cleared
  l.engine.OnInputLineSelected();
  EXPECT_EQ(l.engine.onlyOnce(), 0);
  l.controls.hintDontShowAgain = 1;  // OK ticked
  l.engine.OnInputLineSelected();
  EXPECT_EQ(l.engine.onlyOnce(), 1);
  l.engine.OnInputLineSelected();
  EXPECT_EQ(l.controls.hints, 3);
}

TEST(InputLines, ChangingTheLineWhileRecordingStopsFirst) {
  Lists l;
  auto device = l.media.AddDevice("Card", {"Mic", "Line In"});
  ASSERT_TRUE(Succeeded(l.Start(0, 0, 1)));
  QTemporaryDir dir;
  l.controls.field = dir.filePath(QStringLiteral("a.mp3"));
  l.engine.OnRecord();
  ASSERT_TRUE(l.engine.recording());
  l.controls.selection[1011] = 1;
  l.engine.OnInputLineSelected();
  EXPECT_FALSE(l.engine.recording());
  EXPECT_EQ(l.controls.status, QStringLiteral("Status : Ready"));
  EXPECT_TRUE(device->filter->pins[1]->mixer->enabled);
}

TEST(InputLines, ChangingTheCardWhileRecordingEndsTheRecordingBeforeReleasingTheGraph) {
  Lists l;
  l.media.AddDevice("A", {"Mic"});
  l.media.AddDevice("B", {"Line In", "Stereo Mix"});
  ASSERT_TRUE(Succeeded(l.Start(0, 0, 1)));
  QTemporaryDir dir;
  l.controls.field = dir.filePath(QStringLiteral("a.mp3"));
  l.engine.OnRecord();
  auto oldGraph = l.media.graph();
  l.controls.selection[1009] = 1;
  l.engine.OnSoundCardSelected();
  EXPECT_EQ(oldGraph->calls.back(), "StopWhenReady");
  EXPECT_EQ(oldGraph.use_count(), 2) << "held only by the factory record and this test";
  EXPECT_FALSE(l.engine.recording());
  EXPECT_EQ(l.controls.combos[1011].size(), 2u);
  EXPECT_NE(l.media.graph(), oldGraph);
}

TEST(SliderLevel, EnablingShowsTheLevelAndReleasingAppliesIt) {
  Lists l;
  auto device = l.media.AddDevice("Card", {"Mic", "Line In"});
  device->filter->pins[1]->mixer->level = 0.4999;
  ASSERT_TRUE(Succeeded(l.Start(0, 1, 1)));
  EXPECT_EQ(l.controls.slider, 99);
  l.controls.slider = 150;
  l.engine.OnVolumeReleased();
  EXPECT_DOUBLE_EQ(device->filter->pins[1]->mixer->level, 0.75);
  EXPECT_TRUE(device->filter->pins[1]->mixer->enabled);

  device->filter->pins[1]->mixer->levelResult = E_FAIL;
  l.engine.EnableSelectedLine();
  EXPECT_EQ(l.controls.slider, 0) << "a failed level read shows position 0";
}

TEST(DeviceEvents, RemovalAmongOtherEventsStopsTearsDownAndReadsNoFurther) {
  Lists l;
  auto device = l.media.AddDevice("Card", {"Mic"});
  ASSERT_TRUE(Succeeded(l.Start(0, 0, 1)));
  QTemporaryDir dir;
  l.controls.field = dir.filePath(QStringLiteral("a.mp3"));
  l.engine.OnRecord();
  auto graph = l.media.graph();
  graph->Notify(EC_COMPLETE, 0, 0);
  graph->Notify(EC_DEVICE_LOST, 0, 0);
  graph->Notify(0x42, 0, 0);
  l.engine.OnGraphEvent(1);  // other instance values do nothing
  EXPECT_EQ(graph->freed.size(), 0u);
  l.engine.OnGraphEvent(0);

  EXPECT_EQ(graph->freed.size(), 2u);
  EXPECT_EQ(graph->events.size(), 1u) << "nothing after the removal is read";
  EXPECT_FALSE(l.engine.recording());
  EXPECT_EQ(l.controls.status, QStringLiteral("Status : Ready"));
  EXPECT_EQ(l.controls.ComboCount(1009), 0);
  EXPECT_EQ(l.controls.ComboCount(1011), 0);
  EXPECT_EQ(l.engine.hasGraph(), false);
  EXPECT_EQ(l.boxes.beeps, 1);
  ASSERT_EQ(l.boxes.shown.size(), 1u);
  EXPECT_EQ(l.boxes.shown[0].text, QStringLiteral("The selected input device was removed!"));
  EXPECT_EQ(l.boxes.shown[0].caption, QStringLiteral("Tonvale"));
  EXPECT_EQ(device.use_count(), 2);
}

TEST(DeviceEvents, ReturnWhileTheGraphIsIntactRebuildsWithoutDoubledEntries) {
  Lists l;
  auto device = l.media.AddDevice("Card", {"Mic", "Line In"});
  ASSERT_TRUE(Succeeded(l.Start(0, 1, 1)));
  auto oldGraph = l.media.graph();
  oldGraph->Notify(EC_DEVICE_LOST, 0, 1);
  l.engine.OnGraphEvent(0);
  EXPECT_EQ(l.controls.ComboCount(1009), 1);
  EXPECT_EQ(l.controls.ComboCount(1011), 2);
  EXPECT_EQ(l.controls.selection[1011], 1);
  EXPECT_NE(l.media.graph(), oldGraph);
  EXPECT_EQ(oldGraph->freed.size(), 1u);
  EXPECT_EQ(oldGraph.use_count(), 2) << "the engine must release the old graph";
  ASSERT_EQ(l.boxes.shown.size(), 1u);
  EXPECT_EQ(l.boxes.shown[0].text, QStringLiteral("The audio input device has been reattached!"));
  EXPECT_EQ(l.boxes.shown[0].icon, platform::MessageBoxes::Icon::Information);
}

TEST(DeviceEvents, ReturnWithNoDeviceLeftEndsTheProgram) {
  Lists l;
  auto device = l.media.AddDevice("Card", {"Mic"});
  ASSERT_TRUE(Succeeded(l.Start(0, 0, 1)));
  l.media.devices.clear();
  l.media.graph()->Notify(EC_DEVICE_LOST, 0, 1);
  l.engine.OnGraphEvent(0);
  EXPECT_EQ(l.controls.quits, 1);
  EXPECT_EQ(l.engine.hasGraph(), false);
}

TEST(DeviceEvents, StreamErrorWhileRecordingStopsAndTellsTheUser) {
  Lists l;
  l.media.AddDevice("Card", {"Mic"});
  ASSERT_TRUE(Succeeded(l.Start(0, 0, 1)));
  QTemporaryDir dir;
  l.controls.field = dir.filePath(QStringLiteral("a.mp3"));
  l.engine.OnRecord();
  auto graph = l.media.graph();
  graph->Notify(EC_ERRORABORT, E_FAIL, MakeErrorEventText("No space left on device"));
  l.engine.OnGraphEvent(0);
  EXPECT_FALSE(l.engine.recording());
  EXPECT_FALSE(l.controls.timerRunning);
  ASSERT_EQ(l.boxes.shown.size(), 1u);
  EXPECT_TRUE(l.boxes.shown[0].text.contains(QStringLiteral("No space left on device")));
  EXPECT_EQ(graph->freed.size(), 1u);
}

}  // namespace
}  // namespace tonvale::testing
