// The real program killed in the middle of a recording, under a burst of termination
// signals, on hostile settings, and twice at once.

#include <signal.h>

#include <QFileInfo>
#include <filesystem>
#include <fstream>
#include <thread>

#include "e2e_fixture.h"

namespace tonvale::testing {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Opens the program and records through the hotkey; returns once audio reached `output`.
Clock::time_point StartRecording(ProgramRun& program, const std::string& output,
                                 const std::string& key = "ctrl+alt+r") {
  EXPECT_FALSE(program.Open().empty()) << program.Log();
  EXPECT_TRUE(PressKey(key));
  EXPECT_TRUE(WaitUntil(10s, [&] { return QFileInfo(QString::fromStdString(output)).size() > 0; }))
      << program.Log();
  return Clock::now();
}

void AnswerErrors() {
  for (const auto& box : FindWindows("^Error$")) PressKeyInWindow(box, "Return");
}

TEST_F(E2eTest, KilledMidRecordingKeepsPlayableFilesAndTheNextStartRecords) {
  const std::string output = home.path("killed.mp3");
  SettingsForDevice(output);
  double recorded = 0;  // up to a second before the kill, as the encoder had it
  {
    ProgramRun program(home);
    const auto started = StartRecording(program, output);
    std::this_thread::sleep_for(4s);
    kill(program.pid(), SIGKILL);
    recorded = std::chrono::duration<double>(Clock::now() - started).count() - 0.25;
    ASSERT_EQ(program.WaitExit(5s), -1);
  }
  // The MP3 plays; its header states no length.
  ExpectTone(output, recorded, 0.75, kToneHz, false);
  // The next start gives the temporary WAV the length its header never got, then records
  // over the remains.
  ProgramRun again(home);
  ASSERT_FALSE(again.Open().empty()) << again.Log();
  ExpectTone(home.tempWav(), recorded, 0.75, kToneHz);
  RecordWithHotkeys(again);
  Close(again);
  const AudioAnalysis next = ExpectTone(output, 2.5, 0.8, kToneHz);
  ExpectTone(home.tempWav(), next.durationSeconds, 0.1, kToneHz);
}

TEST_F(E2eTest, ABurstOfTerminationSignalsClosesOnceWithCompleteFiles) {
  // Signals sent back to back mostly merge while pending; spaced ones each run the handler,
  // more often than a socket buffer of about 280 one-byte writes holds. A hang is likely,
  // not certain, so there are several rounds.
  for (const auto& [count, gap] :
       {std::pair{250, 0us}, {1000, 100us}, {1000, 100us}, {1000, 100us}}) {
    SCOPED_TRACE(count);
    const std::string output = home.path("burst.mp3");
    fs::remove(output);
    SettingsForDevice(output);
    ProgramRun program(home);
    StartRecording(program, output);
    std::this_thread::sleep_for(2s);
    for (int i = 0; i < count; ++i) {
      kill(program.pid(), i % 2 == 0 ? SIGTERM : SIGINT);
      std::this_thread::sleep_for(gap);
    }
    ASSERT_EQ(program.WaitExit(5s), 0);
    const AudioAnalysis mp3 = ExpectTone(output, 2.5, 0.6, kToneHz);
    ExpectTone(home.tempWav(), mp3.durationSeconds, 0.1, kToneHz);
    // Closed through the close command, which writes the settings.
    EXPECT_EQ(home.Setting("HotKey/mHotKey[0].nVirtualKey"), "82");
  }
}

TEST_F(E2eTest, HostileSettingsStartNormallyAndWriteNothingUnnamed) {
  const std::string missing = home.path("no such folder");
  const std::string named = home.path("named $(touch x) `y` ;&|*.mp3");
  const std::string ok = "[Option]\nb_only_once=1\nnSearchFlag=1\noutput_wav_file=";
  const struct {
    const char* what;
    std::string settings;
    bool records;  // a recording to the named file is expected
  } cases[] = {
      {"garbage and wrong types",
       "\x01\x02garbage\n[Option\nnSoundCaptureIndex=@Variant(\\0\\0\\0\\x7f)\n[HotKey]\n"
       "mHotKey[0].fsModifiers=@ByteArray(\\xff\\xff)\nmHotKey[0].nVirtualKey=abc\n" +
           ok + "\"" + named + "\"\n",
       true},
      {"huge and negative numbers, keys outside every table",
       "[Option]\nnSoundCaptureIndex=99999999999\nnCapturePinIndex=-7\n"
       "nSearchFlag=-2147483648\nb_only_once=1\noutput_wav_file=\"" +
           named +
           "\"\n[HotKey]\nmHotKey[0].fsModifiers=4294967295\nmHotKey[0].nVirtualKey=100000\n"
           "mHotKey[1].fsModifiers=-1\nmHotKey[1].nVirtualKey=-5\n",
       false},
      {"output in a missing folder", ok + missing + "/take.mp3\n", false},
      {"relative output path", ok + "relative.mp3\n", false},
      {"4000-character output path", ok + home.dir() + "/" + std::string(4000, 'a') + ".mp3\n",
       false},
      {"empty output path", ok + "\n", false},
      {"read-only place", ok + "/proc/tonvale.mp3\n", false},
  };
  const std::string work = home.path("cwd");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(work);
    fs::create_directories(work);
    fs::remove(named);
    fs::create_directories(fs::path(home.settingsFile()).parent_path());
    std::ofstream(home.settingsFile()) << c.settings;
    ProgramRun program(home);
    ASSERT_TRUE(program.Start({}, {"--chdir=" + work}));  // a relative path resolves there
    // Whatever is reported (a hotkey that cannot be registered comes before the window)
    // is answered; the program runs on.
    WaitUntil(10s, [&] {
      AnswerErrors();
      return program.CountLines("shown") > 0;
    });
    ASSERT_FALSE(program.WaitForMainWindow().empty()) << program.Log();
    PressKey("ctrl+alt+r");
    std::this_thread::sleep_for(2s);
    PressKey("ctrl+alt+s");
    for (int i = 0; i < 3; ++i) {
      std::this_thread::sleep_for(300ms);
      AnswerErrors();
    }
    ASSERT_TRUE(program.running());
    Close(program);
    EXPECT_TRUE(!c.records || AnalyzeAudioFile(named).ok);
    for (const std::string& stray : {missing, home.path("x"), home.path("y")})
      EXPECT_FALSE(fs::exists(stray)) << stray;
    // Nothing lands in the working directory except a file the user named there.
    for (const auto& left : fs::directory_iterator(work))
      EXPECT_EQ(left.path().filename(), "relative.mp3");
  }
}

TEST_F(E2eTest, TwoCopiesRecordWholeToTheirOwnFilesAndNeverIntoOne) {
  const std::string a = home.path("a.mp3");
  const std::string b = home.path("b.mp3");
  SettingsForDevice(a);
  // The second copy needs other hotkeys (the clash itself is an end-to-end test of the
  // hotkeys); at first it names the file the first one records into.
  SettingsForDevice(a, 0, "config-b");
  home.WriteSettings(
      {{"HotKey/mHotKey[0].nVirtualKey", "84"}, {"HotKey/mHotKey[1].nVirtualKey", "85"}},
      "config-b");
  ProgramRun first(home);
  ProgramRun second(home, "config-b");
  StartRecording(first, a);
  ASSERT_FALSE(second.Open().empty()) << second.Log();
  ASSERT_TRUE(PressKey("ctrl+alt+t"));
  AnswerBox(second, "Error", "Another running copy of Tonvale is recording");
  EXPECT_EQ(second.CountLines("Used Time"), 0);
  Close(second);
  // With a file of its own, both record at the same time.
  SettingsForDevice(b, 0, "config-b");
  ProgramRun third(home, "config-b");
  StartRecording(third, b, "ctrl+alt+t");
  std::this_thread::sleep_for(3s);
  ASSERT_TRUE(PressKey("ctrl+alt+s"));
  ASSERT_TRUE(PressKey("ctrl+alt+u"));
  for (ProgramRun* copy : {&first, &third}) {
    EXPECT_TRUE(copy->WaitForLine("status: Status : Ready", 10s, 1)) << copy->Log();
    Close(*copy);
  }
  // Each copy has a temporary WAV of its own, holding its own recording whole.
  const AudioAnalysis firstMp3 = ExpectTone(a, 6.0, 2.5, kToneHz);
  const AudioAnalysis thirdMp3 = ExpectTone(b, 3.0, 0.7, kToneHz);
  ExpectTone(home.tempWav(), firstMp3.durationSeconds, 0.1, kToneHz);
  ExpectTone(home.path("qorntemp-2.wav"), thirdMp3.durationSeconds, 0.1, kToneHz);
}

}  // namespace
}  // namespace tonvale::testing
