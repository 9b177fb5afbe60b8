#include "recorder/recorder_engine.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "fake_controls.h"
#include "fake_media.h"
#include "fake_services.h"

namespace tonvale::testing {
namespace {

using recorder::RecorderEngine;

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    output = dir.filePath(QStringLiteral("take.mp3"));
  }

  // Start-up as the main window does it: graph, devices, temporary file.
  void StartUp() {
    engine.SetOnlyOnce(1);
    engine.SetOutputFile(output);
    engine.ResetGraphMembers();
    ASSERT_TRUE(Succeeded(engine.CreateCaptureGraph()));
    ASSERT_TRUE(Succeeded(engine.EnumerateSoundCards()));
    engine.SetTempWavFile(dir.filePath(QStringLiteral("qorntemp.wav")));
  }

  std::shared_ptr<FakeGraph> graph() { return media.graph(); }

  QTemporaryDir dir;
  QString output;
  FakeMediaFactory media;
  FakeHandOff handOff;
  FakeMessageBoxes boxes;
  FakeDesktop desktop;
  FakeControls controls;
  RecorderEngine engine{{media, handOff, boxes, desktop}, controls};
};

TEST(UsedTime, FormatsHoursMinutesSecondsWithoutWrapping) {
  const std::vector<std::pair<int, const char*>> cases = {
      {0, "00:00:00"},    {1, "00:00:01"},    {59, "00:00:59"},      {60, "00:01:00"},
      {3599, "00:59:59"}, {3600, "01:00:00"}, {360000, "100:00:00"},
  };
  for (const auto& [seconds, text] : cases) {
    EXPECT_EQ(recorder::UsedTimeText(seconds), QString::fromLatin1(text)) << seconds;
  }
}

TEST(SliderMapping, PositionsAndLevelsConvert) {
  EXPECT_DOUBLE_EQ(recorder::LevelFromSliderPos(200), 1.0);
  EXPECT_DOUBLE_EQ(recorder::LevelFromSliderPos(1), 0.005);
  EXPECT_DOUBLE_EQ(recorder::LevelFromSliderPos(0), 0.0);
  EXPECT_EQ(recorder::SliderPosFromLevel(0.4999), 99);
  EXPECT_EQ(recorder::SliderPosFromLevel(1.0), 200);
}

TEST_F(EngineTest, RecordBuildsChainRunsAndCountsSeconds) {
  media.AddDevice("Card", {"Microphone"});
  StartUp();
  engine.OnRecord();

  ASSERT_TRUE(boxes.shown.empty()) << boxes.shown[0].text.toStdString();
  EXPECT_TRUE(engine.recording());
  EXPECT_EQ(controls.status, QStringLiteral("Status : Recording audio - Used Time: 00:00:00"));
  EXPECT_TRUE(controls.timerRunning);
  EXPECT_FALSE(controls.enabled[1004]);
  EXPECT_FALSE(controls.enabled[1001]);
  EXPECT_TRUE(controls.enabled[1002]);
  EXPECT_TRUE(graph()->Holds("WAV Dest"));
  EXPECT_TRUE(graph()->Holds("File Writer"));
  ASSERT_EQ(media.writers.size(), 1u);
  EXPECT_EQ(media.writers[0]->mode, platform::FileSinkFilter::kOverwrite);
  EXPECT_EQ(QString::fromStdString(media.writers[0]->fileName), engine.tempWavFile());
  ASSERT_EQ(handOff.paths.size(), 1u);
  EXPECT_EQ(handOff.paths[0], output);

  engine.OnTimer(recorder::kTimerId);
  EXPECT_EQ(controls.status, QStringLiteral("Status : Recording audio - Used Time: 00:00:01"));
  engine.OnTimer(42);  // another timer changes nothing
  EXPECT_EQ(engine.usedSeconds(), 1);
}

TEST_F(EngineTest, PauseAt65SecondsThenResumeContinuesTheCount) {
  media.AddDevice("Card", {"Line In"});
  StartUp();
  engine.OnRecord();
  for (int i = 0; i < 65; ++i) engine.OnTimer(recorder::kTimerId);
  engine.OnPause();
  EXPECT_EQ(controls.status,
            QStringLiteral("Status : Paused audio recording - Used Time: 00:01:05"));
  EXPECT_FALSE(controls.timerRunning);
  EXPECT_TRUE(controls.enabled[1004]);
  EXPECT_EQ(graph()->calls.back(), "Pause");

  const auto writersBefore = media.writers.size();
  engine.OnRecord();  // resume
  EXPECT_EQ(engine.paused(), 0);
  EXPECT_TRUE(controls.timerRunning);
  EXPECT_EQ(media.writers.size(), writersBefore) << "resume must not build a new chain";
  EXPECT_EQ(controls.status,
            QStringLiteral("Status : Paused audio recording - Used Time: 00:01:05"));
  engine.OnTimer(recorder::kTimerId);
  EXPECT_EQ(controls.status, QStringLiteral("Status : Recording audio - Used Time: 00:01:06"));
}

TEST_F(EngineTest, StopAfterPauseReturnsToReadyAndTakesTheChainApart) {
  media.AddDevice("Card", {"Line In"});
  StartUp();
  engine.OnRecord();
  engine.OnTimer(recorder::kTimerId);
  engine.OnPause();
  engine.OnStop();

  EXPECT_FALSE(engine.recording());
  EXPECT_EQ(engine.paused(), 0);
  EXPECT_EQ(engine.usedSeconds(), 0);
  EXPECT_EQ(controls.status, QStringLiteral("Status : Ready"));
  for (int id : {1001, 1002, 1003, 1004}) EXPECT_TRUE(controls.enabled[id]) << id;
  EXPECT_EQ(graph()->calls.back(), "StopWhenReady");
  EXPECT_FALSE(graph()->Holds("WAV Dest"));
  EXPECT_FALSE(graph()->Holds("File Writer"));
  EXPECT_TRUE(graph()->Holds("Audio Capture"));
  EXPECT_EQ(media.sinks.front().use_count(), 1) << "the engine still holds the old sink";

  engine.OnRecord();  // the next recording builds a fresh chain
  EXPECT_EQ(media.sinks.size(), 2u);
  EXPECT_TRUE(graph()->Holds("WAV Dest"));
}

TEST_F(EngineTest, PauseAndStopInReadyChangeNothing) {
  media.AddDevice("Card", {"Line In"});
  StartUp();
  controls.status = QStringLiteral("untouched");
  controls.enabled[1004] = false;
  engine.OnPause();
  engine.OnStop();
  EXPECT_EQ(controls.status, QStringLiteral("untouched"));
  EXPECT_FALSE(controls.enabled[1004]);
  EXPECT_TRUE(graph()->calls.empty());
}

TEST_F(EngineTest, MissingSinkShowsOnlyTheFileWriterMessageAndKeepsTheOldFile) {
  media.AddDevice("Card", {"Line In"});
  StartUp();
  media.sinkInstalled = false;
  {
    QFile old(output);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("last recording");
  }
  engine.OnRecord();

  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].text,
            QStringLiteral(
                "The program does not detect its file writer. Please install the program again!"));
  EXPECT_EQ(boxes.shown[0].caption, QStringLiteral("Error"));
  EXPECT_FALSE(engine.recording());
  EXPECT_EQ(controls.status, QStringLiteral("Status : Ready"));
  EXPECT_TRUE(controls.enabled[1004]);
  EXPECT_FALSE(controls.timerRunning);
  EXPECT_TRUE(QFile::exists(output)) << "a failed start must not destroy the last recording";
}

TEST_F(EngineTest, RunFailureShowsTheBoxFirstQueuesStopAndKeepsDeviceCountAndOldFile) {
  media.AddDevice("Card", {"Line In"});
  StartUp();
  QFile old(output);
  ASSERT_TRUE(old.open(QIODevice::WriteOnly));
  old.write("last take");
  old.close();
  controls.field = output;
  // The source refuses: Run fails and the capture error it queued is handled in the box's loop.
  graph()->runResult = VFW_E_NO_CAPTURE_HARDWARE;
  QString statusWhileBoxOpen;
  boxes.onShow = [&] {
    statusWhileBoxOpen = controls.status;
    graph()->Notify(EC_ERRORABORT, VFW_E_NO_CAPTURE_HARDWARE, MakeErrorEventText("refused"));
    engine.OnGraphEvent(0);
  };
  engine.OnRecord();

  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].caption, QStringLiteral("Start Recording Error"));
  EXPECT_EQ(boxes.shown[0].text,
            QStringLiteral("1. Your audio hardware may be used by other program. Please exit "
                           "other program.\n2. Or your audio hardware has unknown problem. The "
                           "program can not start recording."));
  EXPECT_EQ(statusWhileBoxOpen, QStringLiteral("Status : Ready"));
  EXPECT_EQ(controls.status, QStringLiteral("Status : Recording audio - Used Time: 00:00:00"));
  EXPECT_EQ(controls.postedStops, 1);
  engine.OnStop();  // the queued command
  EXPECT_EQ(controls.status, QStringLiteral("Status : Ready"));
  EXPECT_FALSE(controls.timerRunning);
  for (int id : {1001, 1002, 1003, 1004}) EXPECT_TRUE(controls.enabled[id]) << id;
  // A capture error is no removal: the device stays listed and bound.
  EXPECT_EQ(controls.ComboCount(1009), 1);
  EXPECT_NE(engine.hasGraph(), false);
  ASSERT_TRUE(old.open(QIODevice::ReadOnly));
  EXPECT_EQ(old.readAll(), "last take");
}

TEST_F(EngineTest, UnwritableOutputIsReportedWithItsPathAndNothingStarts) {
  media.AddDevice("Card", {"Line In"});
  StartUp();
  ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("folder.mp3")));
  const std::vector<QString> badPaths = {
      dir.filePath(QStringLiteral("no such folder/take.mp3")), QString(),
      dir.filePath(QStringLiteral("folder.mp3")),
      QStringLiteral("/dev/full"),  // never written into: not a regular file
  };
  for (const QString& path : badPaths) {
    boxes.shown.clear();
    controls.field = path;
    engine.OnRecord();
    ASSERT_EQ(boxes.shown.size(), 1u) << path.toStdString();
    EXPECT_TRUE(boxes.shown[0].text.contains(path)) << boxes.shown[0].text.toStdString();
    EXPECT_FALSE(boxes.shown[0].text.contains(QStringLiteral("hardware")));
    EXPECT_FALSE(engine.recording());
    EXPECT_EQ(controls.status, QStringLiteral("Status : Ready"));
    EXPECT_FALSE(graph()->Holds("WAV Dest"));
  }
  // A temporary folder that cannot be written is named, instead of blaming the hardware.
  boxes.shown.clear();
  controls.field = output;
  const QString folder = dir.filePath(QStringLiteral("gone"));
  engine.SetTempWavFile(folder + QStringLiteral("/qorntemp.wav"));
  engine.OnRecord();
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_TRUE(boxes.shown[0].text.contains(QStringLiteral("folder \"%1\"").arg(folder)))
      << boxes.shown[0].text.toStdString();
  EXPECT_FALSE(engine.recording());
}

TEST_F(EngineTest, AFileAnotherCopyRecordsIntoIsRefusedUntilThatRecordingEnds) {
  media.AddDevice("Card", {"Line In"});
  StartUp();
  FakeMediaFactory otherMedia;
  otherMedia.AddDevice("Card", {"Line In"});
  FakeControls otherControls;
  RecorderEngine other{{otherMedia, handOff, boxes, desktop}, otherControls};
  other.SetOnlyOnce(1);
  other.ResetGraphMembers();
  ASSERT_TRUE(Succeeded(other.CreateCaptureGraph()));
  ASSERT_TRUE(Succeeded(other.EnumerateSoundCards()));
  other.SetTempWavFile(dir.filePath(QStringLiteral("qorntemp-2.wav")));

  controls.field = output;
  engine.OnRecord();
  ASSERT_TRUE(engine.recording());
  // The same file by another spelling.
  otherControls.field = dir.path() + QStringLiteral("/./take.mp3");
  other.OnRecord();
  EXPECT_FALSE(other.recording());
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_TRUE(boxes.shown[0].text.startsWith(QStringLiteral("Another running copy")));
  EXPECT_EQ(otherMedia.writers.size(), 0u) << "nothing is built, nothing written";

  engine.OnStop();
  other.OnRecord();
  EXPECT_TRUE(other.recording());
  other.OnStop();
}

TEST_F(EngineTest, RecordWhileRecordingLeavesTheRecordingAlone) {
  media.AddDevice("Card", {"Line In"});
  StartUp();
  engine.OnRecord();
  engine.OnTimer(recorder::kTimerId);
  controls.field = dir.filePath(QStringLiteral("other.mp3"));
  engine.OnRecord();
  EXPECT_EQ(media.sinks.size(), 1u);
  EXPECT_EQ(handOff.paths.size(), 1u);
  EXPECT_EQ(engine.usedSeconds(), 1);
  EXPECT_EQ(engine.outputFile(), output);
}

TEST_F(EngineTest, TypedPathIsTheOneRecordedAndHandedOver) {
  media.AddDevice("Card", {"Line In"});
  StartUp();
  engine.SetOutputFile(dir.filePath(QStringLiteral("stored.mp3")));
  controls.field = dir.filePath(QStringLiteral("typed.mp3"));
  engine.OnRecord();
  ASSERT_EQ(handOff.paths.size(), 1u);
  EXPECT_EQ(handOff.paths[0], controls.field);
  EXPECT_EQ(engine.outputFile(), controls.field);
}

TEST_F(EngineTest, BuildWithoutGraphFailsWithoutTouchingIt) {
  media.AddDevice("Card", {"Line In"});
  StartUp();
  engine.TearDownCapture();
  engine.ResetGraphMembers();
  engine.OnRecord();
  EXPECT_FALSE(engine.recording());
  EXPECT_EQ(controls.status, QStringLiteral("Status : Ready"));
  EXPECT_TRUE(media.sinks.empty());
}

TEST_F(EngineTest, LeftoversOfAFailedBuildAreRemovedBeforeTheNext) {
  media.AddDevice("Card", {"Line In"});
  StartUp();
  graph()->renderResult = VFW_E_CANNOT_RENDER;
  engine.OnRecord();
  EXPECT_FALSE(engine.recording());
  graph()->renderResult = S_OK;
  engine.OnRecord();
  int sinksInGraph = 0;
  for (const auto& f : graph()->filters) sinksInGraph += f.second == "WAV Dest";
  EXPECT_EQ(sinksInGraph, 1);
  EXPECT_TRUE(engine.recording());
}

TEST_F(EngineTest, PinsAreCountedPerDirection) {
  auto filter = std::make_shared<FakeFilter>("f");
  filter->AddPin(PinDirection::Input, "in0");
  filter->AddPin(PinDirection::Output, "out0");
  filter->AddPin(PinDirection::Input, "in1");
  filter->AddPin(PinDirection::Output, "out1");
  std::shared_ptr<Pin> pin;
  ASSERT_EQ(RecorderEngine::PinAtPosition(filter, PinDirection::Output, 0, &pin), S_OK);
  EXPECT_EQ(pin, filter->pins[1]);
  ASSERT_EQ(RecorderEngine::PinAtPosition(filter, PinDirection::Input, 1, &pin), S_OK);
  EXPECT_EQ(pin, filter->pins[2]);
  EXPECT_EQ(RecorderEngine::PinAtPosition(filter, PinDirection::Output, 2, &pin), E_FAIL);
  EXPECT_EQ(pin, nullptr);
  EXPECT_EQ(RecorderEngine::PinAtPosition(nullptr, PinDirection::Output, 0, &pin), E_POINTER);
}

TEST_F(EngineTest, TearDownTwiceIsHarmlessAndReleasesEverything) {
  auto device = media.AddDevice("Card", {"Line In"});
  StartUp();
  engine.OnRecord();
  engine.TearDownCapture();
  engine.TearDownCapture();
  EXPECT_EQ(engine.hasGraph(), false);
  EXPECT_EQ(controls.ComboCount(1009), 0);
  EXPECT_EQ(controls.ComboCount(1011), 0);
  EXPECT_EQ(device.use_count(), 2) << "list entries must release their devices";
  EXPECT_EQ(graph().use_count(), 2) << "held only by the factory record and this expression";
  EXPECT_EQ(graph()->notify, nullptr);
  EXPECT_EQ(graph()->calls.back(), "StopWhenReady") << "a running recording ends cleanly";
}

TEST_F(EngineTest, PlayOpensTheFieldsFileOrSaysItIsMissing) {
  media.AddDevice("Card", {"Line In"});
  StartUp();
  controls.field = QString();
  engine.OnPlay();
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].text, QStringLiteral(" does not exist!"));
  EXPECT_FALSE(boxes.shown[0].owned);

  const QString hostile = dir.filePath(QStringLiteral("-x $(touch pwned); 'a\" b.mp3"));
  {
    QFile f(hostile);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  }
  controls.field = hostile;
  engine.OnPlay();
  ASSERT_EQ(desktop.opened.size(), 1u);
  EXPECT_EQ(desktop.opened[0], hostile);
}

}  // namespace
}  // namespace tonvale::testing
