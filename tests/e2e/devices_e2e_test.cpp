// The real program's device lists on a private sound server: null-sink monitors as devices,
// recording from the chosen one, unplugging, and a server with no device at all.

#include <QFile>
#include <cstdlib>
#include <thread>

#include "e2e_fixture.h"

namespace tonvale::testing {
namespace {

const std::string kCards = "cards=";

TEST_F(E2eTest, FreshInstallChoosesTheDefaultOutputsMonitorAndKeepsItWhenAnotherIsAdded) {
  ASSERT_EQ(pulse().pactl({"set-default-sink", kSinkB}), 0);
  {
    ProgramRun program(home);
    ASSERT_TRUE(program.Start());
    ASSERT_FALSE(program.WaitForMainWindow().empty()) << program.Log();
    EXPECT_EQ(program.LastLists(),
              "cards=1/2 [Monitor of tonvale_a|Monitor of tonvale_b] "
              "lines=0/1 [Monitor of tonvale_b]");
    EXPECT_EQ(program.LastStatus(), "Status : Ready");
    // Filling the lists at start-up never opens the input hint.
    EXPECT_TRUE(FindWindows("^How to select an input device$").empty());
    Close(program);
  }
  ASSERT_EQ(pulse().pactl({"set-default-sink", kSinkA}), 0);
  EXPECT_EQ(home.Setting("Option/nSearchFlag"), "1");
  EXPECT_EQ(home.Setting("Option/nSoundCaptureIndex"), "1");
  EXPECT_EQ(home.Setting("Option/nCapturePinIndex"), "0");
  EXPECT_EQ(home.Setting("Option/strSoundCaptureName"), "tonvale_b.monitor");
  EXPECT_EQ(home.Setting("Option/output_wav_file"), home.path("sonarelrecorder.mp3"));

  // One more output, listed first: the remembered device is still the one selected.
  const int added = pulse().loadNullSink("tonvale_0");
  ASSERT_GE(added, 0);
  ProgramRun again(home);
  ASSERT_TRUE(again.Start());
  ASSERT_FALSE(again.WaitForMainWindow().empty()) << again.Log();
  EXPECT_NE(again.LastLists().find("cards=2/3 ["), std::string::npos) << again.LastLists();
  EXPECT_NE(again.LastLists().find("lines=0/1 [Monitor of tonvale_b]"), std::string::npos);
  Close(again);
  ASSERT_EQ(pulse().pactl({"unload-module", std::to_string(added)}), 0);
}

TEST_F(E2eTest, RecordsTheChosenDeviceAndNotTheOther) {
  const pid_t toneA = pulse().playTone(kSinkA, 440);
  const pid_t toneB = pulse().playTone(kSinkB, 1000);
  ASSERT_GT(toneA, 0);
  ASSERT_GT(toneB, 0);
  struct Case {
    int soundCard;
    const char* line;
    double pitch;
  };
  for (const Case& c :
       {Case{1, "Monitor of tonvale_b", 1000.0}, Case{0, "Monitor of tonvale_a", 440.0}}) {
    SCOPED_TRACE(c.line);
    const std::string output = home.path("chosen.mp3");
    QFile::remove(QString::fromStdString(output));
    SettingsForDevice(c.soundCard, output);
    ProgramRun program(home);
    ASSERT_TRUE(program.Start());
    ASSERT_FALSE(program.WaitForMainWindow().empty()) << program.Log();
    EXPECT_NE(program.LastLists().find("lines=0/1 [" + std::string(c.line) + "]"),
              std::string::npos)
        << program.LastLists();

    RecordWithHotkeys(program, "00:00:02");
    Close(program);

    ExpectTone(output, 2.5, 0.8, c.pitch);
  }
  pulse().stopTone(toneA);
  pulse().stopTone(toneB);
}

// A third sink, recorded from and then unloaded, idle or in the middle of a recording.
TEST_F(E2eTest, UnloadingTheRecordedSinkEmptiesTheListsAndSaysSo) {
  for (const bool recording : {false, true}) {
    SCOPED_TRACE(recording ? "while recording" : "while idle");
    const int module = pulse().loadNullSink("tonvale_c");
    ASSERT_GE(module, 0);
    const pid_t tone = pulse().playTone("tonvale_c", 440);
    const std::string output = home.path("unplugged.mp3");
    QFile::remove(QString::fromStdString(output));
    SettingsForDevice(2, output);

    ProgramRun program(home);
    ASSERT_TRUE(program.Start());
    const std::string window = program.WaitForMainWindow();
    ASSERT_FALSE(window.empty()) << program.Log();
    ASSERT_NE(program.LastLists().find("lines=0/1 [Monitor of tonvale_c]"), std::string::npos)
        << program.LastLists();

    auto started = std::chrono::steady_clock::now();
    if (recording) {
      ASSERT_TRUE(PressKey("ctrl+alt+r"));
      ASSERT_TRUE(program.WaitForLine("Used Time: 00:00:00")) << program.Log();
      started = std::chrono::steady_clock::now();
      ASSERT_TRUE(program.WaitForLine("Used Time: 00:00:02")) << program.Log();
    }
    const auto unloaded = std::chrono::steady_clock::now();
    ASSERT_EQ(pulse().pactl({"unload-module", std::to_string(module)}), 0);
    pulse().stopTone(tone);

    ASSERT_TRUE(program.WaitForLine("box: Tonvale | The selected input device was removed!"))
        << program.Log();
    const std::string box = WaitForWindow("^Tonvale$", {window});
    ASSERT_FALSE(box.empty());
    std::this_thread::sleep_for(200ms);
    // One box: a capture that fails with its device is no stream error of its own.
    EXPECT_EQ(program.CountLines("box: "), 1) << program.Log();
    EXPECT_EQ(program.LastLists(), "cards=-1/0 [] lines=-1/0 []");
    EXPECT_EQ(program.LastStatus(), "Status : Ready");
    ASSERT_TRUE(PressKeyInWindow(box, "Return"));
    EXPECT_TRUE(WaitWindowGone(box));
    EXPECT_TRUE(program.running());

    Close(program);
    // The remembered positions stay as they were, for the device's return.
    EXPECT_EQ(home.Setting("Option/nSoundCaptureIndex"), "2");
    EXPECT_EQ(home.Setting("Option/nCapturePinIndex"), "0");

    if (recording) {
      ExpectTone(output, std::chrono::duration<double>(unloaded - started).count(), 0.6, 440);
    } else {
      EXPECT_FALSE(QFile::exists(QString::fromStdString(output)));
    }
  }
}

TEST_F(E2eTest, NoCaptureDeviceShowsTheBoxAndEndsWithoutWritingSettings) {
  // A server with no sink and no source; PipeWire keeps a fallback sink while there is no
  // other, so there the program lists that one's monitor.
  PrivatePulse empty(std::vector<std::string>{});
  ASSERT_TRUE(empty.started());
  SettingsForDevice(0, home.path("never.mp3"));
  ProgramRun program(home);
  if (empty.server() == SoundServer::PipeWire) {
    // The fallback sink comes a moment after the server.
    std::string sources;
    for (int i = 0; i < 100 && sources.find("auto_null") == std::string::npos; ++i) {
      std::this_thread::sleep_for(50ms);
      empty.pactl({"list", "short", "sources"}, &sources);
    }
    ASSERT_TRUE(program.Start());
    ASSERT_TRUE(program.WaitForLine("lists: cards=0/1 [Monitor of Dummy Output]")) << program.Log();
    Close(program);
    return;
  }
  ASSERT_TRUE(program.Start());
  std::string sources;
  ASSERT_EQ(empty.pactl({"list", "short", "sources"}, &sources), 0);
  ASSERT_EQ(sources, "");
  QFile before(QString::fromStdString(home.settingsFile()));
  ASSERT_TRUE(before.open(QIODevice::ReadOnly));
  const QByteArray stored = before.readAll();

  ASSERT_TRUE(program.WaitForLine(
      "box: No audio capture hardware! | There were no audio capture devices detected"))
      << program.Log();
  const std::string box = WaitForWindow("^No audio capture hardware!$");
  ASSERT_FALSE(box.empty());
  EXPECT_TRUE(program.running());
  ASSERT_TRUE(PressKeyInWindow(box, "Return"));
  EXPECT_EQ(program.WaitExit(10s), 0) << program.Log();
  EXPECT_EQ(program.CountLines("shown"), 0);

  QFile after(QString::fromStdString(home.settingsFile()));
  ASSERT_TRUE(after.open(QIODevice::ReadOnly));
  EXPECT_EQ(after.readAll(), stored);
}

}  // namespace
}  // namespace tonvale::testing
