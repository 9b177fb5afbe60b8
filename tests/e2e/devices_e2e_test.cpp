// The real program's devices on a private sound server: the recorded one unplugged, and a
// server with no device at all.

#include <filesystem>

#include "e2e_fixture.h"

namespace tonvale::testing {
namespace {

// A third sink, recorded from and then unloaded, idle or in the middle of a recording.
TEST_F(E2eTest, UnloadingTheRecordedSinkEmptiesTheListsAndSaysSo) {
  for (const bool recording : {false, true}) {
    SCOPED_TRACE(recording ? "while recording" : "while idle");
    const int module = pulse().loadNullSink("tonvale_c");
    ASSERT_GE(module, 0);
    const pid_t tone = pulse().playTone("tonvale_c", 440);
    ASSERT_TRUE(pulse().waitPlaying(tone));
    const std::string output = home.path(recording ? "recording.mp3" : "idle.mp3");
    SettingsForDevice(output, 2);
    ProgramRun program(home);
    const std::string window = program.Open();
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

    AnswerBox(program, "Tonvale", "The selected input device was removed!", {window});
    EXPECT_EQ(program.LastLists(), "cards=-1/0 [] lines=-1/0 []");
    EXPECT_EQ(program.LastStatus(), "Status : Ready");
    Close(program);
    // One box: a capture that fails with its device is no stream error of its own.
    EXPECT_EQ(program.CountLines("box: "), 1) << program.Log();
    // The remembered positions stay as they were, for the device's return.
    ExpectSettings({{"Option/nSoundCaptureIndex", "2"}, {"Option/nCapturePinIndex", "0"}});
    if (recording) {
      ExpectTone(output, std::chrono::duration<double>(unloaded - started).count(), 0.6, 440);
    } else {
      EXPECT_FALSE(std::filesystem::exists(output));
    }
  }
}

TEST_F(E2eTest, NoCaptureDeviceShowsTheBoxAndEndsWithoutWritingSettings) {
  // A server with no sink and no source; PipeWire keeps a fallback sink (a moment after the
  // server) while there is no other, so there the program lists that one's monitor.
  PrivatePulse empty(std::vector<std::string>{});
  ASSERT_TRUE(empty.started());
  SettingsForDevice(home.path("never.mp3"));
  const std::string stored = ReadFile(home.settingsFile());
  std::string sources;
  ProgramRun program(home);
  if (empty.server() == SoundServer::PipeWire) {
    WaitUntil(5s, [&] {
      empty.pactl({"list", "short", "sources"}, &sources);
      return sources.find("auto_null") != std::string::npos;
    });
    ASSERT_TRUE(program.Start());
    ASSERT_TRUE(program.WaitForLine("lists: cards=0/1 [Monitor of Dummy Output]")) << program.Log();
    Close(program);
    return;
  }
  ASSERT_EQ(empty.pactl({"list", "short", "sources"}, &sources), 0);
  ASSERT_EQ(sources, "");
  ASSERT_TRUE(program.Start());
  AnswerBox(program, "No audio capture hardware!", "There were no audio capture devices detected");
  EXPECT_EQ(program.WaitExit(10s), 0) << program.Log();
  EXPECT_EQ(program.CountLines("shown"), 0);
  EXPECT_EQ(ReadFile(home.settingsFile()), stored);
}

}  // namespace
}  // namespace tonvale::testing
