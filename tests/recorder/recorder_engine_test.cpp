// The recording engine against fakes of the media layer and of the window.

#include "recorder/recorder_engine.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <algorithm>
#include <functional>

#include "fake_controls.h"
#include "fake_media.h"
#include "fake_services.h"

namespace tonvale::testing {
namespace {

using recorder::kTimerId;
namespace id = recorder::id;
using namespace Qt::StringLiterals;
using Icon = platform::MessageBoxes::Icon;
using Steps = std::vector<std::pair<std::function<void()>, std::string>>;  // each, then State()

// The window around an engine, and a folder for its files that holds the last recording.
struct Rig {
  QTemporaryDir dir;
  QString output = dir.filePath(u"take.mp3"_s);
  FakeMediaFactory media;
  FakeHandOff handOff;
  FakeMessageBoxes boxes;
  FakeDesktop desktop;
  FakeControls controls;
  recorder::RecorderEngine engine{{media, handOff, boxes, desktop}, controls};

  // Start-up as the window does it, with what was remembered.
  HRESULT Start(int card = 0, int line = 0, int searchFlag = 1, const QString& device = {}) {
    QFile last(output);
    EXPECT_TRUE(last.open(QIODevice::WriteOnly) && last.write("last take") == 9);
    engine.Load({card, line, searchFlag, device, output});
    engine.SetOnlyOnce(1);
    engine.SetTempWavFile(dir.filePath(u"qorntemp.wav"_s));
    EXPECT_TRUE(Succeeded(engine.CreateCaptureGraph()));
    return engine.EnumerateSoundCards();
  }
  QString At(const char* p) const { return QString::fromUtf8(p).replace(u"%1"_s, dir.path()); }
  // "caption: text" of each box shown.
  QStringList Shown() const {
    QStringList out;
    for (const auto& box : boxes.shown) out << box.caption + u": "_s + box.text;
    return out;
  }
  // The status without "Status : ", "+ count" while counting, the buttons off, the graph's
  // filters and its last call.
  std::string State() const {
    std::string s = controls.status.mid(9).toStdString() +
                    (controls.timerRunning ? " + count" : "") +
                    (controls.enabled.at(id::kPlay) ? "" : " -Play") +
                    (controls.enabled.at(id::kRecord) ? "" : " -Record");
    for (const auto& filter : media.graph()->filters) s += " | " + filter.second;
    return s + " | " + (media.graph()->calls.empty() ? "-" : media.graph()->calls.back());
  }
  void Expect(const Steps& steps) {
    for (std::size_t i = 0; i < steps.size(); ++i) {
      steps[i].first();
      EXPECT_EQ(State(), steps[i].second) << "after step " << i;
    }
  }
};

// The count, the buttons and the chain from Record to Stop; Record while recording changes
// nothing. The capture device stays; each recording builds its own chain, and one that cannot be
// built leaves nothing in the way of the next. Pause stops the count; Record resumes.
TEST(Engine, RecordStopPlayAndAChangeOfLineDoWhatTheWindowShows) {
  Rig r;
  r.media.AddDevice("Card", {"Line In"});
  ASSERT_TRUE(Succeeded(r.Start()));
  const QString typed = r.dir.filePath(u"typed.mp3"_s);
  const std::string rec = "Recording audio - Used Time: 00:0",
                    on = " + count -Play -Record | Audio Capture | WAV Dest | File Writer | Run";
  // clang-format off
  r.Expect({
      {[&] { r.engine.OnPause(); r.engine.OnStop(); }, "Ready | Audio Capture | -"},
      {[&] { r.media.graph()->renderResult = VFW_E_CANNOT_RENDER; r.engine.OnRecord(); }, "Ready | Audio Capture | Render"},
      {[&] { r.media.graph()->renderResult = S_OK; r.controls.field = typed; r.engine.OnRecord(); }, rec + "0:00" + on},
      {[&] { r.engine.OnTimer(kTimerId); r.engine.OnTimer(42); }, rec + "0:01" + on},
      {[&] { r.controls.field = r.At("%1/other.mp3"); r.engine.OnRecord(); }, rec + "0:01" + on},
      {[&] { for (int i = 1; i < 65; ++i) r.engine.OnTimer(kTimerId); r.engine.OnPause(); },
       "Paused audio recording - Used Time: 00:01:05 -Play | Audio Capture | WAV Dest | File Writer | Pause"},
      {[&] { r.engine.OnRecord(); r.engine.OnTimer(kTimerId); }, rec + "1:06" + on},
      {[&] { r.engine.OnPause(); r.engine.OnStop(); }, "Ready | Audio Capture | StopWhenReady"},
  });
  // clang-format on
  EXPECT_EQ(std::tuple(r.media.writers.back()->mode, r.media.writers.back()->fileName,
                       r.handOff.paths.back(), r.engine.outputFile()),
            std::tuple(platform::FileSinkFilter::kOverwrite, r.engine.tempWavFile().toStdString(),
                       typed, typed));
  EXPECT_TRUE(r.Shown().size() == 1 && r.Shown()[0].contains(u"(error 0x80040218)"_s));
  r.boxes.shown.clear();
  r.engine.OnRecord();
  EXPECT_EQ(std::pair(r.media.sinks.size(), r.media.sinks[1].use_count()), std::pair(3ul, 1l))
      << "a chain for each recording, the old one released";
  EXPECT_EQ(recorder::UsedTimeText(363599), u"100:59:59"_s) << "the hours unwrapped";

  // Play opens the field's file as it is, or says it is missing.
  r.engine.OnStop();
  r.controls.field = r.dir.filePath(u"-x $(touch pwned); 'a\" b.mp3"_s);
  r.engine.OnPlay();
  EXPECT_EQ(std::pair(r.Shown(), r.boxes.shown[0].owned),
            std::pair(QStringList{u"Error: "_s + r.controls.field + u" does not exist!"_s}, false));
  ASSERT_TRUE(QFile(r.controls.field).open(QIODevice::WriteOnly));
  r.engine.OnPlay();
  EXPECT_EQ(r.desktop.opened, QStringList{r.controls.field});

  // A user's change of line shows the hint (start-up did not) until it is closed with OK and
  // its box ticked: Escape with the box ticked, OK with it cleared, OK with it ticked, no more.
  EXPECT_EQ(r.controls.hints, 0);
  r.engine.SetOnlyOnce(0);
  for (const auto& [accepted, ticked, onlyOnce] :
       {std::tuple{false, 1, 0}, {true, 0, 0}, {true, 1, 1}, {true, 0, 1}}) {
    r.controls.hintAccepted = accepted;
    r.controls.hintDontShowAgain = ticked;
    r.engine.OnInputLineSelected();
    EXPECT_EQ(r.engine.onlyOnce(), onlyOnce);
  }
  EXPECT_EQ(r.controls.hints, 3);
}

// With every take kept, a Record whose file exists records into the next numbered name and the
// field shows it; a name of the series continues the series. Without, the field's file is used.
TEST(Engine, KeptTakesGoToTheNextFreeNumberedName) {
  Rig r;
  r.media.AddDevice("Card", {"Line In"});
  ASSERT_TRUE(Succeeded(r.Start()));  // take.mp3 holds the last take
  for (const char* name :
       {"talk.mp3", "talk-2.mp3", "talk-5.mp3", "lecture-2024.mp3", "x-3.mp3", "noext"})
    ASSERT_TRUE(QFile(r.dir.filePath(QString::fromLatin1(name))).open(QIODevice::WriteOnly));
  for (const auto& [field, next] : {std::pair{"talk.mp3", "talk-6.mp3"},
                                    {"talk-5.mp3", "talk-6.mp3"},
                                    {"lecture-2024.mp3", "lecture-2024-2.mp3"},
                                    {"x-3.mp3", "x-3-2.mp3"},
                                    {"new.mp3", "new.mp3"},
                                    {"noext", "noext-2"}})
    EXPECT_EQ(recorder::NextTakePath(r.dir.filePath(QString::fromLatin1(field))),
              r.dir.filePath(QString::fromLatin1(next)))
        << field;
  r.engine.SetKeepEveryTake(true);
  QStringList recordedTo;
  for (int take = 0; take < 3; ++take) {
    r.engine.OnRecord();
    recordedTo << QFileInfo(r.controls.field).fileName() + u"="_s +
                      QFileInfo(r.engine.outputFile()).fileName();
    QFile(r.engine.outputFile()).open(QIODevice::WriteOnly);  // what the sink writes
    r.engine.OnStop();
  }
  r.engine.SetKeepEveryTake(false);
  r.engine.OnRecord();
  recordedTo << QFileInfo(r.engine.outputFile()).fileName();
  EXPECT_EQ(recordedTo, (QStringList{u"take-2.mp3=take-2.mp3"_s, u"take-3.mp3=take-3.mp3"_s,
                                     u"take-4.mp3=take-4.mp3"_s, u"take-4.mp3"_s}));
}

// A start that cannot work says why, builds nothing and keeps the last recording.
TEST(Engine, RefusedStartsSayWhyBuildNothingAndKeepTheLastRecording) {
  recorder::OutputClaim other;  // another running copy's (the real one: tests/reliability)
  const std::function<void(Rig&)> none = [](Rig&) {};
  const char *take = "%1/take.mp3", *temp = "%1/qorntemp.wav";
  // The output field (%1: the folder of the files), the temporary WAV, what the box says first.
  // clang-format off
  const std::tuple<const char*, const char*, std::function<void(Rig&)>, const char*> cases[] = {
      {"%1/missing/take.mp3", temp, none, "Cannot record to \"%1/missing/take.mp3\": No such file"},
      {"", temp, none, "Cannot record to \"\": No output file is named."},
      {"%1", temp, none, "Cannot record to \"%1\": it is a folder"},
      {"/dev/full", temp, none, "Cannot record to \"/dev/full\": it is not a regular file"},
      {take, "%1/gone/qorntemp.wav", none, "Cannot write the temporary recording file \"%1/gone/qorntemp.wav\" in the folder \"%1/gone\": "},
      {take, temp, [](Rig& r) { r.media.sinkInstalled = false; }, "The program does not detect its file writer."},
      {take, temp, [](Rig& r) { r.engine.TearDownCapture(); }, "There is no audio capture device to record from."},
      {"%1/./take.mp3", temp, [&](Rig& r) { other.Claim(r.output); }, "Another running copy of Tonvale is recording into \"%1/./take.mp3\""},
  };
  // clang-format on
  for (const auto& [field, tempWav, cause, told] : cases) {
    SCOPED_TRACE(told);
    Rig r;
    r.media.AddDevice("Card", {"Line In"});
    ASSERT_TRUE(Succeeded(r.Start()));
    r.controls.field = r.At(field);
    r.engine.SetTempWavFile(r.At(tempWav));
    cause(r);
    r.engine.OnRecord();
    EXPECT_TRUE(r.Shown().size() == 1 && r.Shown()[0].startsWith(u"Error: "_s + r.At(told)))
        << r.Shown().join(u'\n').toStdString();
    EXPECT_TRUE(r.State().starts_with("Ready |") && r.media.writers.empty());
    QFile last(r.output);
    EXPECT_EQ(last.open(QIODevice::ReadOnly) ? last.readAll() : QByteArray(), "last take");
  }
}

// What start-up lists and selects. A first start (search flag 0) picks the default output's
// sound, else any output's, else the first line named with a keyword. Later a remembered device
// no longer listed falls back to its position (found, its identity wins: tests/e2e), the line
// to its; a position outside the list selects nothing. Without a device start-up fails.
TEST(Lists, StartUpSelectsTheRememberedOrTheLikeliestDeviceAndLine) {
  using Device = std::pair<std::string, std::vector<std::string>>;
  const Device mic = {"Yeti", {"Yeti Analog Stereo"}};
  const Device laptop = {"Built-in",
                         {"Internal Mic", "Headphones Stereo Mic", "*Monitor of Built-in"}};
  const Device ports = {"PCH", {"Microphone", "Line In", "+Monitor of PCH"}};
  const Device hdmi = {"HDMI", {"+Monitor of HDMI"}}, hdmiDefault = {"HDMI", {"*Monitor of HDMI"}};
  const auto card = [](std::vector<std::string> lines) { return Device{"Card", lines}; };
  struct Case {
    std::vector<Device> devices;
    int card, line, searchFlag;  // as stored
    bool gone;                   // a device is remembered that is no longer listed
    int wantCard, wantLine;      // -1: none; -2: start-up fails
  };
  // clang-format off
  const Case cases[] = {
      {{mic, laptop},                                          0, 0, 0, false,   1, 2},
      {{mic, ports, hdmi},                                     0, 0, 0, false,   1, 2},
      {{ports, hdmiDefault},                                   0, 0, 0, false,   1, 0},
      {{card({"Microphone", "WHAT U HEAR", "Stereo Mix"})},    0, 0, 0, false,   0, 1},
      {{card({"Line In", "Monitor of X", "Output Monitor"})},  0, 0, 0, false,   0, 2},
      {{card({"Microphone", "Line In", "Stereo Mix"})},        0, 1, 1, false,   0, 1},
      {{card({"Microphone", "Line In"})},                      0, 5, 1, false,   0, -1},
      {{card({"Mic"})},                                        3, 0, 1, false,  -1, -1},
      {{card({"Mic"}), card({"Mic"})},                         1, 0, 1, false,   1, 0},
      {{mic, ports, hdmi},                                     1, 0, 1, true,    1, 0},
      {{},                                                     0, 0, 1, false,  -2, -2},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(&c - cases);
    Rig r;
    std::vector<QString> names;
    for (const auto& [name, lines] : c.devices)
      names.push_back(QString::fromStdString(r.media.AddDevice(name, lines)->name));

    const HRESULT started = r.Start(c.card, c.line, c.searchFlag, c.gone ? u"gone"_s : QString());
    EXPECT_EQ(r.controls.combos[id::kSoundCards],
              names.empty() ? std::vector{u"<< No entries >>"_s} : names);
    const auto s = r.engine.Settings();
    if (c.wantCard == -2) {
      EXPECT_EQ(started, E_FAIL);
      continue;
    }
    EXPECT_EQ(std::tuple(started, r.controls.selection[id::kSoundCards], s.nSoundCaptureIndex,
                         r.controls.selection[id::kInputLines], s.nCapturePinIndex, s.nSearchFlag,
                         r.engine.hasCaptureDevice()),
              std::tuple(S_OK, c.wantCard, c.wantCard, c.wantLine,
                         c.wantCard < 0 ? c.line : c.wantLine, 1, c.wantCard >= 0));
    for (std::size_t d = 0; d < r.media.devices.size(); ++d) {
      const bool chosen = static_cast<int>(d) == c.wantCard;
      EXPECT_TRUE(!chosen || s.strSoundCaptureName.toStdString() == r.media.devices[d]->id);
      // Exactly the selected line is enabled, and every line of the chosen device is set.
      const auto& pins = r.media.devices[d]->filter->pins;
      for (std::size_t i = 0; i + 1 < pins.size(); ++i)
        EXPECT_EQ(std::pair(pins[i]->mixer->enabled, pins[i]->mixer->enableCalls),
                  std::pair(chosen && static_cast<int>(i) == c.wantLine, chosen ? 1 : 0))
            << d << ' ' << i;
    }
  }
}

// What ends a recording stops it first: the Stop posted when Run failed (its box, then the
// capture error queued in the box's loop: no removal), a change of line or card, a stream error,
// the removal, then nothing is held (on a server: tests/e2e). Its return rebuilds the lists.
// Record may return while the graph starts. The window changes once the start has ended, in
// the order of a start Record waited for: a Record meanwhile does nothing, a Stop ends the
// recording then, and an error during a start that fails is told after the start's own box.
TEST(Events, AStartThatEndsLaterShowsWhatAWaitedStartWould) {
  Rig r;
  r.media.AddDevice("Card", {"Line In"});
  ASSERT_TRUE(Succeeded(r.Start()));
  const auto graph = r.media.graph();
  graph->startsLater = true;
  const auto complete = [&](HRESULT hr) {
    graph->Notify(EC_RUN_COMPLETE, hr, 0);
    r.engine.OnGraphEvent(0);
  };
  const std::string chain = " | Audio Capture | WAV Dest | File Writer | RunAsync";
  // clang-format off
  r.Expect({
      {[&] { r.engine.OnRecord(); r.engine.OnRecord(); r.engine.OnStop(); }, "Ready" + chain},
      {[&] { complete(S_OK); }, "Recording audio - Used Time: 00:00:00 + count -Play -Record" + chain},
      {[&] { r.engine.OnStop(); }, "Ready | Audio Capture | StopWhenReady"},
      {[&] { r.engine.OnRecord(); graph->Notify(EC_ERRORABORT, E_ACCESSDENIED, MakeErrorEventText("denied"));
             complete(E_ACCESSDENIED); }, "Ready | Audio Capture | StopWhenReady"},
  });
  // clang-format on
  EXPECT_EQ(std::pair(std::count(graph->calls.begin(), graph->calls.end(), "RunAsync"),
                      r.controls.postedStops),
            std::pair(2l, 2));
  ASSERT_EQ(r.Shown().size(), 2);
  EXPECT_TRUE(r.Shown()[0].startsWith(u"Start Recording Error: "_s) &&
              r.Shown()[1] == u"Error: The recording has stopped because of an error:\ndenied"_s)
      << r.Shown().join(u" / "_s).toStdString();
}

TEST(Events, WhatEndsARecordingStopsItFirst) {
  Rig r;
  auto a = r.media.AddDevice("A", {"Mic", "Line In"});
  r.media.AddDevice("B", {"Line In", "Stereo Mix", "Aux"});
  ASSERT_TRUE(Succeeded(r.Start()));
  const std::string chain = " | Audio Capture | WAV Dest | File Writer | Run",
                    stopped = "Ready | Audio Capture | StopWhenReady";
  std::string whileBoxOpen;
  std::shared_ptr<FakeGraph> first = r.media.graph(), graph;
  first->runResult = VFW_E_NO_CAPTURE_HARDWARE;
  r.boxes.onShow = [&] {
    whileBoxOpen = r.State();
    first->Notify(EC_ERRORABORT, VFW_E_NO_CAPTURE_HARDWARE, MakeErrorEventText("refused"));
    r.engine.OnGraphEvent(0);
    first->runResult = S_OK;
    r.boxes.onShow = nullptr;
  };
  // clang-format off
  r.Expect({
      {[&] { r.engine.OnRecord(); }, "Recording audio - Used Time: 00:00:00 + count -Play -Record" + chain},
      {[&] { r.engine.OnStop(); }, stopped},
      {[&] { r.engine.OnRecord(); r.controls.selection[id::kInputLines] = 1; r.engine.OnInputLineSelected(); }, stopped},
      {[&] { r.engine.OnRecord(); r.controls.selection[id::kSoundCards] = 1; r.engine.OnSoundCardSelected(); },
       "Ready | Audio Capture | -"},
      {[&] { r.engine.OnRecord(); graph = r.media.graph();
             graph->Notify(EC_ERRORABORT, E_FAIL, MakeErrorEventText("No space left")); r.engine.OnGraphEvent(0); }, stopped},
      {[&] { r.engine.OnRecord(); for (long e : {EC_COMPLETE, EC_DEVICE_LOST, 0x42L}) graph->Notify(e, 0, 0); },
       "Recording audio - Used Time: 00:00:00 + count -Play -Record" + chain},
      {[&] { r.engine.OnGraphEvent(0); r.engine.TearDownCapture(); }, stopped},
  });
  // clang-format on
  EXPECT_EQ(
      r.Shown(),
      (QStringList{u"Start Recording Error: 1. Your audio hardware may be used by other program. "
                   u"Please exit other program.\n2. Or your audio hardware has unknown problem. "
                   u"The program can not start recording."_s,
                   u"Error: The recording has stopped because of an error:\nNo space left"_s,
                   u"Tonvale: The selected input device was removed!"_s}));
  EXPECT_EQ(whileBoxOpen, "Ready" + chain);
  EXPECT_EQ(std::tuple(r.controls.postedStops, r.boxes.beeps, a->filter->pins[0]->mixer->enabled,
                       a->filter->pins[1]->mixer->enabled, first->calls.back(), first.use_count()),
            std::tuple(1, 1, false, true, "StopWhenReady", 2l))
      << "the line chosen while recording; the first graph stopped and released";
  EXPECT_EQ(
      std::tuple(graph->freed.size(), graph->events.size(), r.engine.hasGraph(),
                 r.controls.ComboCount(id::kSoundCards) + r.controls.ComboCount(id::kInputLines),
                 a.use_count(), graph.use_count(), graph->notify == nullptr),
      std::tuple(3ul, 1ul, false, 0, 2l, 2l, true))
      << "what followed the removal unread; every device, graph and notification released";

  // Its return: the lists rebuilt once; with no device left, the box of a start-up without one.
  ASSERT_TRUE(Succeeded(r.Start(1, 2)));
  for (const bool left : {true, false}) {
    const auto old = r.media.graph();
    if (!left)
      r.media.devices.clear();
    old->Notify(EC_DEVICE_LOST, 0, 1);
    r.engine.OnGraphEvent(0);
    const QString told = left ? u"Tonvale: The audio input device has been reattached!"_s
                              : u"No audio capture hardware!: There were no audio"_s;
    EXPECT_TRUE(r.Shown().last().startsWith(told)) << r.Shown().last().toStdString();
    EXPECT_EQ(
        std::tuple(r.boxes.shown.size(), r.boxes.shown.back().icon, old->freed.size(),
                   old.use_count(), r.controls.quits, r.engine.hasGraph(),
                   r.controls.ComboCount(id::kSoundCards), r.controls.ComboCount(id::kInputLines),
                   r.controls.selection[id::kInputLines]),
        left ? std::tuple(4ul, Icon::Information, 1ul, 2l, 0, true, 2, 3, 2)
             : std::tuple(5ul, Icon::Stop, 1ul, 2l, 1, false, 0, 0, -1));
  }
}

}  // namespace
}  // namespace tonvale::testing
