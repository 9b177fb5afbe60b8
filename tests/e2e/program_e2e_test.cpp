// A fresh install records the default output's monitor through the global hotkeys while
// another client has the focus; without a sound server the program says how to start one.

#include <gmock/gmock.h>

#include <filesystem>
#include <thread>

#include "e2e_fixture.h"

namespace tonvale::testing {
namespace {

using ::testing::HasSubstr;

TEST_F(E2eTest, FreshInstallRecordsTheDefaultOutputsMonitorAndKeepsThatDevice) {
  const pid_t toneB = pulse().playTone(kSinkB, 440);
  ASSERT_TRUE(pulse().waitPlaying(toneB));
  ASSERT_EQ(pulse().pactl({"set-default-sink", kSinkB}), 0);
  // PulseAudio moves the playing streams to the new default sink: the suite's tone goes back.
  ASSERT_TRUE(pulse().moveToSink(suiteTone(), kSinkA));
  const std::string output = home.path("sonarelrecorder.mp3");
  {
    ProgramRun program(home);
    ASSERT_FALSE(program.Open().empty()) << program.Log();
    EXPECT_EQ(program.LastLists(),
              "cards=1/2 [Monitor of tonvale_a|Monitor of tonvale_b] "
              "lines=0/1 [Monitor of tonvale_b]");
    EXPECT_EQ(program.LastStatus(), "Status : Ready");
    // Filling the lists at start-up never opens the input hint.
    EXPECT_TRUE(FindWindows("^How to select an input device$").empty());
    // Another client has the focus.
    const pid_t other = StartProgram({"xmessage", "-name", "other", "focus is here"});
    ASSERT_FALSE(WaitForWindow("^other$|^xmessage$").empty());
    std::this_thread::sleep_for(300ms);
    RecordWithHotkeys(program);
    Close(program);
    StopProcess(other);
  }
  const AudioAnalysis mp3 = ExpectTone(output, 2.5, 0.8, 440);
  ExpectTone(home.tempWav(), mp3.durationSeconds, 0.1, 440);
  // SIGTERM closes the window through its close command: the settings are written.
  ExpectSettings({{"HotKey/mHotKey[0].nVirtualKey", "82"},
                  {"Option/nSearchFlag", "1"},
                  {"Option/nSoundCaptureIndex", "1"},
                  {"Option/nCapturePinIndex", "0"},
                  {"Option/strSoundCaptureName", "tonvale_b.monitor"},
                  {"Option/output_wav_file", output}});

  // One more output, listed first: the remembered device is recorded, into the file the
  // settings name; with every recording kept, three takes leave three files.
  const int added = pulse().loadNullSink("tonvale_0");
  ASSERT_GE(added, 0);
  const std::string named = home.path("take two.mp3");
  home.WriteSettings({{"Option/output_wav_file", named}, {"Option/b_keep_every_recording", "1"}});
  ProgramRun again(home);
  ASSERT_FALSE(again.Open().empty()) << again.Log();
  EXPECT_THAT(again.LastLists(), HasSubstr("cards=2/3 ["));
  EXPECT_THAT(again.LastLists(), HasSubstr("lines=0/1 [Monitor of tonvale_b]"));
  for (int take = 0; take < 3; ++take) {
    EXPECT_TRUE(PressKey("ctrl+alt+r"));
    EXPECT_TRUE(again.WaitForLine("Used Time: 00:00:02", 10s, take)) << again.Log();
    EXPECT_TRUE(PressKey("ctrl+alt+s"));
    EXPECT_TRUE(again.WaitForLine("status: Status : Ready", 10s, take + 1)) << again.Log();
  }
  Close(again);
  for (const char* name : {"take two.mp3", "take two-2.mp3", "take two-3.mp3"})
    ExpectTone(home.path(name), 2.5, 0.8, 440);
  ASSERT_EQ(pulse().pactl({"unload-module", std::to_string(added)}), 0);
  pulse().stopTone(toneB);
  ASSERT_EQ(pulse().pactl({"set-default-sink", kSinkA}), 0);
}

TEST_F(E2eTest, NoSoundServerSaysHowToStartOneAndEndsWithAnError) {
  ProgramRun program(home);
  // Nothing answers at this address. Qt's own options still work beside the program's.
  ASSERT_TRUE(program.Start({"-platform", "xcb"}, {"PULSE_SERVER=unix:/nonexistent/tonvale"}));
  AnswerBox(program, "Tonvale", "No sound server answered.");
  EXPECT_EQ(program.WaitExit(10s), 1) << program.Log();
  const std::string log = program.Log();
  EXPECT_NE(log.find("sonarelrecorder: No sound server answered."), std::string::npos) << log;
  EXPECT_NE(log.find("systemctl --user start pipewire-pulse"), std::string::npos) << log;
  EXPECT_EQ(program.CountLines("shown"), 0);
  EXPECT_FALSE(std::filesystem::exists(home.settingsFile()));
}

}  // namespace
}  // namespace tonvale::testing
