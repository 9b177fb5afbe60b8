// The real program on a private X server and a private sound server: a tone played into a
// null sink is recorded from its monitor through the global hotkeys while another client has
// the focus.

#include <cstdlib>
#include <thread>

#include "e2e_fixture.h"

namespace tonvale::testing {
namespace {

TEST_F(E2eTest, HotkeysRecordTheMonitorOfANullSinkToAnMp3) {
  const std::string output = home.path("take one.mp3");
  home.WriteSettings({{"Option/output_wav_file", output}, {"Option/b_only_once", "1"}});
  const pid_t tone = pulse().playTone(kSinkA, 1000);
  ASSERT_GT(tone, 0);
  ProgramRun program(home);
  ASSERT_TRUE(program.Start());
  ASSERT_FALSE(program.WaitForMainWindow().empty()) << program.Log();
  // Another client has the focus.
  const pid_t other = StartProgram({"xmessage", "-name", "other", "focus is here"});
  ASSERT_FALSE(WaitForWindow("^other$|^xmessage$").empty());
  std::this_thread::sleep_for(300ms);

  ASSERT_EQ(RunProgram({"xdotool", "key", "ctrl+alt+r"}), 0);
  ASSERT_TRUE(program.WaitForLine("Used Time: 00:00:00")) << program.Log();
  std::this_thread::sleep_for(3s);
  ASSERT_EQ(RunProgram({"xdotool", "key", "ctrl+alt+s"}), 0);
  ASSERT_TRUE(program.WaitForLine("status: Status : Ready", 10s, 1)) << program.Log();
  Close(program);
  StopProcess(other);
  pulse().stopTone(tone);

  const AudioAnalysis mp3 = ExpectTone(output, 3.0, 0.6, 1000);
  ExpectTone(home.tempWav(), mp3.durationSeconds, 0.1, 1000);

  // SIGTERM closes the window through its close command: the settings are written.
  EXPECT_EQ(home.Setting("HotKey/mHotKey[0].nVirtualKey"), "82");
  EXPECT_EQ(home.Setting("Option/nSearchFlag"), "1");
  EXPECT_EQ(home.Setting("Option/output_wav_file"), output);
}

TEST_F(E2eTest, NoSoundServerSaysHowToStartOneAndEndsWithAnError) {
  // Nothing answers at this address; the test's own server stays for the other cases.
  const std::string server = std::getenv("PULSE_SERVER");
  setenv("PULSE_SERVER", "unix:/nonexistent/tonvale", 1);
  ProgramRun program(home);
  // Qt's own options still work beside the program's.
  const bool started = program.Start({"-platform", "xcb"});
  setenv("PULSE_SERVER", server.c_str(), 1);
  ASSERT_TRUE(started);
  ASSERT_TRUE(program.WaitForLine("box: Tonvale | No sound server answered.")) << program.Log();
  const std::string box = WaitForWindow("^Tonvale$");
  ASSERT_FALSE(box.empty());
  EXPECT_TRUE(program.running());
  const std::string log = program.Log();
  EXPECT_NE(log.find("sonarelrecorder: No sound server answered."), std::string::npos) << log;
  EXPECT_NE(log.find("systemctl --user start pipewire-pulse"), std::string::npos) << log;
  ASSERT_TRUE(PressKeyInWindow(box, "Return"));
  EXPECT_EQ(program.WaitExit(10s), 1) << program.Log();
  EXPECT_EQ(program.CountLines("shown"), 0);
  EXPECT_FALSE(home.SettingsExist());
}

}  // namespace
}  // namespace tonvale::testing
