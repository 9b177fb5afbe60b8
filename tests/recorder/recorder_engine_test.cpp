// The recording engine against fakes of the media layer and of the window.

#include "recorder/recorder_engine.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <functional>
#include <ranges>

#include "fake_controls.h"
#include "fake_media.h"
#include "fake_services.h"

namespace tonvale::testing {
namespace {

using recorder::kTimerId;
using recorder::RecorderEngine;
namespace id = recorder::id;
using namespace Qt::StringLiterals;

// The window around an engine, and a folder for its files that holds the last recording.
struct Rig {
  QTemporaryDir dir;
  QString output = dir.filePath(u"take.mp3"_s);
  FakeMediaFactory media;
  FakeHandOff handOff;
  FakeMessageBoxes boxes;
  FakeDesktop desktop;
  FakeControls controls;
  RecorderEngine engine{{media, handOff, boxes, desktop}, controls};

  // A device ("!...": its name cannot be read) with these lines in pin order, then its
  // capture pin. A line "*..." carries the default output's sound, "+..." another output's;
  // ">..." is an output pin; "?..." cannot tell its direction, "!..." its name.
  std::shared_ptr<FakeDevice> Add(const std::string& name, const std::vector<std::string>& lines) {
    auto device = std::make_shared<FakeDevice>(name);
    device->nameResult = name[0] == '!' ? E_FAIL : S_OK;
    for (const std::string& line : lines) {
      const char kind =
          std::string_view("*+>?!").find(line[0]) != std::string_view::npos ? line[0] : ' ';
      const auto pin = device->filter->AddPin(
          kind == '>' ? PinDirection::Output : PinDirection::Input, line.substr(kind != ' '));
      pin->role = kind == '*'   ? LineRole::DefaultOutputMonitor
                  : kind == '+' ? LineRole::Monitor
                                : LineRole::Input;
      pin->directionResult = kind == '?' ? E_FAIL : S_OK;
      pin->infoResult = kind == '!' ? E_FAIL : S_OK;
    }
    device->filter->AddPin(PinDirection::Output, "Capture");
    media.devices.push_back(device);
    return device;
  }
  // Start-up as the window does it, with what was remembered.
  HRESULT Start(int card = 0, int line = 0, int searchFlag = 1, const QString& device = {}) {
    QFile last(output);
    EXPECT_TRUE(last.open(QIODevice::WriteOnly) && last.write("last take") == 9);
    engine.Load({card, line, searchFlag, device, output});
    engine.SetOnlyOnce(1);
    engine.SetTempWavFile(dir.filePath(u"qorntemp.wav"_s));
    engine.ResetGraphMembers();
    EXPECT_TRUE(Succeeded(engine.CreateCaptureGraph()));
    return engine.EnumerateSoundCards();
  }
  std::shared_ptr<FakeGraph> graph() const { return media.graph(); }
  // "caption: text" of every box shown.
  QStringList Shown() const {
    QStringList out;
    for (const auto& box : boxes.shown) out << box.caption + u": "_s + box.text;
    return out;
  }
  QByteArray Last() const {
    QFile file(output);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  }
  void ExpectReady() {
    EXPECT_FALSE(engine.recording());
    EXPECT_EQ(controls.status, u"Status : Ready"_s);
    EXPECT_FALSE(controls.timerRunning);
    for (int b : {id::kPlay, id::kPause, id::kStop, id::kRecord}) EXPECT_TRUE(controls.enabled[b]);
  }
  void ExpectRecording(const char* usedTime) {
    EXPECT_TRUE(engine.recording());
    EXPECT_EQ(controls.status,
              u"Status : Recording audio - Used Time: "_s + QLatin1String(usedTime));
    EXPECT_TRUE(controls.timerRunning);
  }
};

// Which input lines of a device are enabled, in pin order.
std::vector<bool> Enabled(const FakeDevice& device) {
  std::vector<bool> out;
  for (const auto& pin : device.filter->pins)
    if (pin->direction == PinDirection::Input)
      out.push_back(pin->mixer->enabled);
  return out;
}

TEST(UsedTime, IsHoursMinutesSecondsWithTheHoursUnwrapped) {
  const std::pair<int, const char*> cases[] = {{0, "00:00:00"},    {59, "00:00:59"},
                                               {60, "00:01:00"},   {3599, "00:59:59"},
                                               {3600, "01:00:00"}, {360000, "100:00:00"}};
  for (const auto& [seconds, text] : cases)
    EXPECT_EQ(recorder::UsedTimeText(seconds), QLatin1String(text)) << seconds;
}

TEST(Engine, RecordPauseResumeAndStopDriveTheChainTheCountAndTheButtons) {
  Rig r;
  r.Add("Card", {"Line In"});
  ASSERT_TRUE(Succeeded(r.Start()));
  r.controls.status = u"untouched"_s;
  r.engine.OnPause();
  r.engine.OnStop();
  EXPECT_EQ(r.controls.status, u"untouched"_s) << "nothing to pause or stop";
  EXPECT_TRUE(r.graph()->calls.empty());
  // A build that fails leaves nothing in the way of the next.
  r.graph()->renderResult = VFW_E_CANNOT_RENDER;
  r.engine.OnRecord();
  EXPECT_FALSE(r.engine.recording());
  r.graph()->renderResult = S_OK;

  // The path typed into the field is the one recorded and handed to the sink.
  const QString typed = r.controls.field = r.dir.filePath(u"typed.mp3"_s);
  r.engine.OnRecord();
  r.ExpectRecording("00:00:00");
  EXPECT_FALSE(r.controls.enabled[id::kRecord] || r.controls.enabled[id::kPlay]);
  EXPECT_TRUE(r.controls.enabled[id::kPause]);
  EXPECT_EQ(std::ranges::count(r.graph()->filters | std::views::values, "WAV Dest"), 1);
  EXPECT_EQ(r.media.writers.back()->mode, platform::FileSinkFilter::kOverwrite);
  EXPECT_EQ(r.handOff.paths.back(), typed);
  r.engine.OnTimer(kTimerId);
  r.engine.OnTimer(42);  // another timer
  r.ExpectRecording("00:00:01");
  // Record while recording leaves the recording, its chain and its file alone.
  r.controls.field = r.dir.filePath(u"other.mp3"_s);
  r.engine.OnRecord();
  EXPECT_EQ(r.media.sinks.size(), 2u);
  EXPECT_EQ(r.engine.outputFile(), typed);

  for (int i = 1; i < 65; ++i) r.engine.OnTimer(kTimerId);
  r.engine.OnPause();
  const QString paused = u"Status : Paused audio recording - Used Time: 00:01:05"_s;
  EXPECT_EQ(r.controls.status, paused);
  EXPECT_FALSE(r.controls.timerRunning);
  EXPECT_TRUE(r.controls.enabled[id::kRecord]);
  EXPECT_EQ(r.graph()->calls.back(), "Pause");
  r.engine.OnRecord();  // resumes: the count goes on, the chain stays
  EXPECT_EQ(r.controls.status, paused);
  EXPECT_EQ(r.graph()->calls.back(), "Run");
  r.engine.OnTimer(kTimerId);
  r.ExpectRecording("00:01:06");
  EXPECT_EQ(r.media.sinks.size(), 2u);

  r.engine.OnPause();
  r.engine.OnStop();
  r.ExpectReady();
  EXPECT_FALSE(r.engine.paused());
  EXPECT_EQ(r.engine.usedSeconds(), 0);
  EXPECT_EQ(r.graph()->calls.back(), "StopWhenReady");
  ASSERT_EQ(r.graph()->filters.size(), 1u);
  EXPECT_EQ(r.graph()->filters[0].second, "Audio Capture") << "the capture device stays";
  EXPECT_EQ(r.media.sinks.back().use_count(), 1) << "the engine still holds the old sink";
  r.engine.OnRecord();
  EXPECT_EQ(r.media.sinks.size(), 3u) << "each recording builds a fresh chain";
}

// A start that cannot work says why, builds nothing and keeps the last recording; once the
// cause is gone, the next start works.
TEST(Engine, RefusedStartsSayWhyBuildNothingAndKeepTheLastRecording) {
  Rig other;  // another running copy
  other.Add("Card", {"Line In"});
  ASSERT_TRUE(Succeeded(other.Start()));
  using Cause = std::function<void(Rig&, bool)>;  // sets it up (true) or takes it away
  const Cause noSink = [](Rig& r, bool on) { r.media.sinkInstalled = !on; };
  const Cause noGraph = [](Rig& r, bool on) { on ? r.engine.TearDownCapture() : void(r.Start()); };
  const Cause otherCopy = [&other](Rig& r, bool on) {
    other.controls.field = r.output;
    on ? other.engine.OnRecord() : other.engine.OnStop();
  };
  const char* take = "%1/take.mp3";
  const char* temp = "%1/qorntemp.wav";
  // The output field (%1: the folder of the files), the temporary WAV, what the box says first.
  // clang-format off
  const std::tuple<const char*, const char*, Cause, const char*> cases[] = {
      {"%1/missing/take.mp3", temp, nullptr, "Cannot record to \"%1/missing/take.mp3\": "},
      {"", temp, nullptr, "Cannot record to \"\": No output file is named."},
      {"%1", temp, nullptr, "Cannot record to \"%1\": it is a folder"},
      {"/dev/full", temp, nullptr, "Cannot record to \"/dev/full\": it is not a regular file"},
      {take, "%1/gone/qorntemp.wav", nullptr,
       "Cannot write the temporary recording file \"%1/gone/qorntemp.wav\" in the folder \"%1/gone\": "},
      {take, temp, noSink, "The program does not detect its file writer. Please install the program again!"},
      {take, temp, noGraph, "There is no audio capture device to record from."},
      {"%1/./take.mp3", temp, otherCopy, "Another running copy of Tonvale is recording into \"%1/./take.mp3\""},
  };
  // clang-format on
  for (const auto& [field, tempWav, cause, told] : cases) {
    SCOPED_TRACE(told);
    Rig r;
    r.Add("Card", {"Line In"});
    ASSERT_TRUE(Succeeded(r.Start()));
    const auto in = [&r](const char* text) {
      return QString::fromUtf8(text).replace(u"%1"_s, r.dir.path());
    };
    r.controls.field = in(field);
    r.engine.SetTempWavFile(in(tempWav));
    if (cause)
      cause(r, true);
    r.engine.OnRecord();
    ASSERT_EQ(r.Shown().size(), 1);
    EXPECT_TRUE(r.Shown()[0].startsWith(u"Error: "_s + in(told))) << r.Shown()[0].toStdString();
    r.ExpectReady();
    EXPECT_TRUE(r.media.writers.empty());
    EXPECT_EQ(r.Last(), "last take");

    r.controls.field = r.output;
    r.engine.SetTempWavFile(in(temp));
    if (cause)
      cause(r, false);
    r.engine.OnRecord();
    EXPECT_TRUE(r.engine.recording());
  }
}

TEST(Engine, FailedRunSaysSoFirstThenStopsAndKeepsTheDeviceAndTheLastRecording) {
  Rig r;
  r.Add("Card", {"Line In"});
  ASSERT_TRUE(Succeeded(r.Start()));
  // The source refuses: Run fails, and the capture error it queued arrives in the box's loop.
  r.graph()->runResult = VFW_E_NO_CAPTURE_HARDWARE;
  QString statusWhileBoxOpen;
  r.boxes.onShow = [&] {
    statusWhileBoxOpen = r.controls.status;
    r.graph()->Notify(EC_ERRORABORT, VFW_E_NO_CAPTURE_HARDWARE, MakeErrorEventText("refused"));
    r.engine.OnGraphEvent(0);
  };
  r.engine.OnRecord();
  EXPECT_EQ(r.Shown(), QStringList{u"Start Recording Error: 1. Your audio hardware may be used by "
                                   u"other program. Please exit other program.\n2. Or your audio "
                                   u"hardware has unknown problem. The program can not start "
                                   u"recording."_s});
  EXPECT_EQ(statusWhileBoxOpen, u"Status : Ready"_s);
  r.ExpectRecording("00:00:00");
  EXPECT_EQ(r.controls.postedStops, 1);
  r.engine.OnStop();  // the posted command
  r.ExpectReady();
  // A capture error is no removal: the device stays listed and bound.
  EXPECT_EQ(r.controls.ComboCount(id::kSoundCards), 1);
  EXPECT_TRUE(r.engine.hasGraph());
  EXPECT_EQ(r.Last(), "last take");
}

TEST(Engine, PlayOpensTheFieldsFileAsItIsOrSaysItIsMissing) {
  Rig r;
  r.engine.OnPlay();  // an empty field
  EXPECT_EQ(r.Shown(), QStringList{u"Error:  does not exist!"_s});
  EXPECT_FALSE(r.boxes.shown[0].owned);
  r.controls.field = r.dir.filePath(u"-x $(touch pwned); 'a\" b.mp3"_s);
  QFile file(r.controls.field);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  r.engine.OnPlay();
  EXPECT_EQ(r.desktop.opened, std::vector<QString>{r.controls.field});
}

// What start-up lists and selects. On a first start (search flag 0) the choice lands on the
// sound of the default output, then of any output, then on the first line named with a
// keyword. Later the remembered device wins by its identity (an index here; 9: one no longer
// listed), else by its position, and the line by its position; a position outside its list
// selects nothing. Every device of the same name is listed and binds its own.
TEST(Lists, StartUpSelectsTheRememberedOrTheLikeliestDeviceAndLine) {
  using Device = std::pair<std::string, std::vector<std::string>>;
  const Device laptop = {"Built-in Audio",
                         {"Internal Microphone", "Headphones Stereo Microphone",
                          "*Monitor of Built-in Audio Analog Stereo"}};
  const Device usbMic = {"Blue Yeti", {"Blue Yeti Analog Stereo"}};
  const Device hdmi = {"HDA NVidia", {"+Monitor of HDA NVidia Digital Stereo (HDMI)"}};
  const Device hdmiDefault = {"HDA NVidia", {"*Monitor of HDA NVidia Digital Stereo (HDMI)"}};
  const Device ports = {"HDA Intel PCH", {"Microphone", "Line In", "+Monitor of HDA Intel PCH"}};
  const auto card = [](std::vector<std::string> lines) { return Device{"Card", lines}; };
  struct Case {
    std::vector<Device> devices;
    int card, line, searchFlag, remembered;  // as stored
    int wantCard, wantLine;                  // -1: none
  };
  // clang-format off
  const Case cases[] = {
      {{laptop},                    0, 0, 0, -1,   0, 2},
      {{usbMic, laptop},            0, 0, 0, -1,   1, 2},
      {{usbMic},                    0, 0, 0, -1,   0, 0},
      {{ports},                     0, 0, 0, -1,   0, 2},
      {{ports, hdmiDefault},        0, 0, 0, -1,   1, 0},
      {{usbMic, ports, hdmi},       0, 0, 0, -1,   1, 2},
      {{card({"Microphone", "Line In", "Stereo Mix"})},         0, 0, 0, -1,   0, 2},
      {{card({"Mono Mix", "Microphone"})},                      0, 0, 0, -1,   0, 0},
      {{card({"Microphone", "MIXER"})},                         0, 0, 0, -1,   0, 1},
      {{card({"Microphone", "Wave Out Mix", "Stereo Mix"})},    0, 0, 0, -1,   0, 1},
      {{card({"Microphone", "What U Hear"})},                   0, 0, 0, -1,   0, 1},
      {{card({"Line In", "Monitor of Built-in Audio"})},        0, 0, 0, -1,   0, 0},
      {{card({"Line In", "Analog Output Monitor"})},            0, 0, 0, -1,   0, 1},
      {{card({"Microphone", "Line In", "Stereo Mix"})},         0, 1, 1, -1,   0, 1},
      {{card({"Microphone", "Line In"})},                       0, 5, 1, -1,   0, -1},
      {{card({"Mic"})},                                         3, 0, 1, -1,  -1, -1},
      {{card({"Mic"}), card({"Mic"})},                          1, 0, 1, -1,   1, 0},
      {{usbMic, ports, hdmi},                                   1, 0, 1,  2,   2, 0},
      {{usbMic, ports, hdmi},                                   1, 0, 1,  9,   1, 0},
      {{usbMic, {"!Broken", {"Mic"}}, ports},                   0, 0, 1, -1,   0, 0},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.devices.back().second.back() + " " + std::to_string(c.card));
    Rig r;
    std::vector<QString> names;
    for (const auto& [name, lines] : c.devices) {
      r.Add(name, lines);
      if (name[0] != '!')
        names.push_back(QString::fromStdString(name));
    }
    const auto& devices = r.media.devices;
    const std::size_t remembered = static_cast<std::size_t>(c.remembered);
    ASSERT_TRUE(Succeeded(r.Start(c.card, c.line, c.searchFlag,
                                  c.remembered < 0 ? QString()
                                  : remembered < devices.size()
                                      ? QString::fromStdString(devices[remembered]->id)
                                      : u"gone"_s)));
    EXPECT_EQ(r.controls.combos[id::kSoundCards], names);
    EXPECT_EQ(r.controls.selection[id::kSoundCards], c.wantCard);
    EXPECT_EQ(r.controls.selection[id::kInputLines], c.wantLine);
    const auto settings = r.engine.Settings();
    EXPECT_EQ(settings.nSoundCaptureIndex, c.wantCard);
    EXPECT_EQ(settings.nCapturePinIndex, c.wantCard < 0 ? c.line : c.wantLine);
    EXPECT_EQ(settings.nSearchFlag, 1);
    EXPECT_EQ(r.engine.hasCaptureDevice(), c.wantCard >= 0);
    for (int d = 0; d < static_cast<int>(devices.size()); ++d) {
      const FakeDevice& device = *devices[static_cast<std::size_t>(d)];
      if (d == c.wantCard) {
        EXPECT_EQ(settings.strSoundCaptureName.toStdString(), device.id);
      }
      // Exactly the selected line is enabled, and every line of the device is set.
      const std::vector<bool> enabled = Enabled(device);
      for (std::size_t i = 0; i < enabled.size(); ++i) {
        EXPECT_EQ(enabled[i], d == c.wantCard && static_cast<int>(i) == c.wantLine);
        EXPECT_EQ(device.filter->pins[i]->mixer->enableCalls, d == c.wantCard ? 1 : 0);
      }
    }
  }
}

TEST(Lists, NoDeviceOrOnlyAnUnreadableOneFailsTheStartUp) {
  Rig none;
  EXPECT_EQ(none.Start(), E_FAIL);
  EXPECT_EQ(none.controls.combos[id::kSoundCards], std::vector{u"<< No entries >>"_s});
  ASSERT_EQ(none.Shown().size(), 1);
  EXPECT_TRUE(none.Shown()[0].startsWith(u"No audio capture hardware!: There were no audio"_s));
  EXPECT_TRUE(none.Shown()[0].endsWith(u"This program will now exit."_s));
  EXPECT_EQ(none.boxes.shown[0].icon, platform::MessageBoxes::Icon::Stop);
  Rig broken;  // an unreadable name last
  broken.Add("Good", {"Mic"});
  broken.Add("!Broken", {"Mic"});
  EXPECT_EQ(broken.Start(), E_FAIL);
}

// Rows of the line list and pins of the device stay in step past error entries and output
// pins; the slider shows and sets the level of the selected line; a user's change of line
// shows the hint until it is closed with OK and its box ticked.
TEST(Lists, TheSelectedLineIsTheOneEnabledLevelledAndHinted) {
  Rig r;
  auto device = r.Add("Card", {"?Bad direction", "Microphone", ">Out", "!No info", "Line In"});
  auto& pins = device->filter->pins;
  pins[4]->mixer->level = 0.4999;
  ASSERT_TRUE(Succeeded(r.Start(0, 2)));
  EXPECT_EQ(r.controls.combos[id::kInputLines],
            (std::vector{u"<ERROR>"_s, u"Microphone"_s, u"Line In"_s}));
  EXPECT_EQ(Enabled(*device), (std::vector<bool>{false, false, false, true}));
  EXPECT_EQ(pins[3]->mixer->enableCalls, 0) << "a line without a row is left alone";
  std::shared_ptr<Pin> pin;
  EXPECT_EQ(RecorderEngine::PinAtPosition(device->filter, PinDirection::Output, 1, &pin), S_OK);
  EXPECT_EQ(pin, pins[5]);
  EXPECT_EQ(RecorderEngine::PinAtPosition(device->filter, PinDirection::Output, 2, &pin), E_FAIL);
  EXPECT_EQ(RecorderEngine::PinAtPosition(nullptr, PinDirection::Input, 0, &pin), E_POINTER);
  EXPECT_EQ(pin, nullptr);

  EXPECT_EQ(r.controls.slider, 99);
  for (const auto& [pos, level] : {std::pair{150, 0.75}, {200, 1.0}, {1, 0.005}, {0, 0.0}}) {
    r.controls.slider = pos;
    r.engine.OnVolumeReleased();
    EXPECT_DOUBLE_EQ(pins[4]->mixer->level, level);
    EXPECT_TRUE(pins[4]->mixer->enabled);
  }
  pins[4]->mixer->levelResult = E_FAIL;
  r.engine.EnableSelectedLine();
  EXPECT_EQ(r.controls.slider, 0) << "a level that cannot be read shows as 0";

  EXPECT_EQ(r.controls.hints, 0) << "no hint at start-up";
  r.engine.SetOnlyOnce(0);
  // Escape with the box ticked, OK with it cleared, OK with it ticked, then no more.
  for (const auto& [accepted, ticked, onlyOnce] :
       {std::tuple{false, 1, 0}, {true, 0, 0}, {true, 1, 1}, {true, 0, 1}}) {
    r.controls.hintAccepted = accepted;
    r.controls.hintDontShowAgain = ticked;
    r.engine.OnInputLineSelected();
    EXPECT_EQ(r.engine.onlyOnce(), onlyOnce);
  }
  EXPECT_EQ(r.controls.hints, 3);
}

// A change of line or card, a stream error, the device's removal and the close each end a
// running recording, with complete files, before anything else.
TEST(Events, WhatEndsARecordingStopsItFirst) {
  Rig r;
  auto a = r.Add("A", {"Mic", "Line In"});
  r.Add("B", {"Line In", "Stereo Mix", "Aux"});
  ASSERT_TRUE(Succeeded(r.Start()));
  r.engine.OnRecord();
  r.controls.selection[id::kInputLines] = 1;
  r.engine.OnInputLineSelected();
  r.ExpectReady();
  EXPECT_EQ(Enabled(*a), (std::vector<bool>{false, true}));

  r.engine.OnRecord();
  auto graph = r.graph();
  r.controls.selection[id::kSoundCards] = 1;
  r.engine.OnSoundCardSelected();
  r.ExpectReady();
  EXPECT_EQ(graph->calls.back(), "StopWhenReady");
  EXPECT_EQ(graph.use_count(), 2) << "the old graph is released";
  EXPECT_EQ(r.controls.ComboCount(id::kInputLines), 3);

  r.engine.OnRecord();
  graph = r.graph();
  graph->Notify(EC_ERRORABORT, E_FAIL, MakeErrorEventText("No space left on device"));
  r.engine.OnGraphEvent(0);
  r.ExpectReady();
  EXPECT_EQ(r.Shown(), QStringList{u"Error: The recording has stopped because of an error:\n"
                                   u"No space left on device"_s});
  EXPECT_EQ(graph->freed.size(), 1u);

  r.engine.OnRecord();
  for (long code : {EC_COMPLETE, EC_DEVICE_LOST, 0x42L}) graph->Notify(code, 0, 0);
  r.engine.OnGraphEvent(1);  // another instance value
  EXPECT_EQ(graph->freed.size(), 1u);
  r.engine.OnGraphEvent(0);
  EXPECT_EQ(graph->freed.size(), 3u);
  EXPECT_EQ(graph->events.size(), 1u) << "nothing after the removal is read";
  r.ExpectReady();
  EXPECT_FALSE(r.engine.hasGraph());
  EXPECT_EQ(r.controls.ComboCount(id::kSoundCards) + r.controls.ComboCount(id::kInputLines), 0);
  EXPECT_EQ(r.Shown().back(), u"Tonvale: The selected input device was removed!"_s);
  EXPECT_EQ(r.boxes.beeps, 1);

  // The close: a running recording ends before the graph goes; tearing down twice is harmless.
  ASSERT_TRUE(Succeeded(r.Start()));
  r.engine.OnRecord();
  graph = r.graph();
  r.engine.TearDownCapture();
  r.engine.TearDownCapture();
  EXPECT_EQ(graph->calls.back(), "StopWhenReady");
  EXPECT_FALSE(r.engine.hasGraph());
  EXPECT_EQ(r.controls.ComboCount(id::kSoundCards) + r.controls.ComboCount(id::kInputLines), 0);
  EXPECT_EQ(a.use_count(), 2) << "list entries release their devices";
  EXPECT_EQ(graph.use_count(), 2);
  EXPECT_EQ(graph->notify, nullptr);
}

TEST(Events, ReturnRebuildsTheListsOnceOrEndsTheProgramWhenNoDeviceIsLeft) {
  for (const bool left : {true, false}) {
    SCOPED_TRACE(left);
    Rig r;
    r.Add("Card", {"Mic", "Line In"});
    ASSERT_TRUE(Succeeded(r.Start(0, 1)));
    const auto old = r.graph();
    if (!left)
      r.media.devices.clear();
    old->Notify(EC_DEVICE_LOST, 0, 1);
    r.engine.OnGraphEvent(0);
    EXPECT_EQ(old->freed.size(), 1u);
    EXPECT_EQ(old.use_count(), 2) << "the old graph is released";
    EXPECT_EQ(r.controls.quits, left ? 0 : 1);
    EXPECT_EQ(r.engine.hasGraph(), left);
    ASSERT_EQ(r.Shown().size(), 1);
    EXPECT_TRUE(
        r.Shown()[0].startsWith(left ? u"Tonvale: The audio input device has been reattached!"_s
                                     : u"No audio capture hardware!: "_s));
    EXPECT_EQ(r.boxes.shown[0].icon, left ? platform::MessageBoxes::Icon::Information
                                          : platform::MessageBoxes::Icon::Stop);
    EXPECT_EQ(r.controls.ComboCount(id::kSoundCards), left ? 1 : 0);
    EXPECT_EQ(r.controls.ComboCount(id::kInputLines), left ? 2 : 0);
    EXPECT_EQ(r.controls.selection[id::kInputLines], left ? 1 : -1);
  }
}

}  // namespace
}  // namespace tonvale::testing
