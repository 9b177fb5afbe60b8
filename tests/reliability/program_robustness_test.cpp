// The real program under hard conditions, on the shared private display and sound server:
// killed in the middle of a recording, a burst of termination signals, hostile settings,
// and two copies at once.

#include <signal.h>

#include <QDir>
#include <QFileInfo>
#include <thread>

#include "e2e_fixture.h"

namespace tonvale::testing {
namespace {

using Clock = std::chrono::steady_clock;

// Starts a copy on a home whose settings record kSinkA into `output`, and starts recording
// through the hotkey once its first audio reached the file; returns when it did.
Clock::time_point StartRecording(ProgramRun& program, const std::string& output,
                                 const std::string& key = "ctrl+alt+r") {
  EXPECT_TRUE(program.Start());
  EXPECT_FALSE(program.WaitForMainWindow().empty()) << program.Log();
  EXPECT_TRUE(PressKey(key));
  const auto limit = Clock::now() + 10s;
  while (QFileInfo(QString::fromStdString(output)).size() == 0 && Clock::now() < limit)
    std::this_thread::sleep_for(20ms);
  EXPECT_GT(QFileInfo(QString::fromStdString(output)).size(), 0) << program.Log();
  return Clock::now();
}

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

TEST_F(E2eTest, KilledMidRecordingKeepsPlayableFilesAndTheNextStartRecords) {
  const pid_t tone = pulse().playTone(kSinkA, 1000);
  const std::string output = home.path("killed.mp3");
  SettingsForDevice(0, output);
  double recorded = 0;
  {
    ProgramRun program(home);
    const auto started = StartRecording(program, output);
    std::this_thread::sleep_for(4s);
    kill(program.pid(), SIGKILL);
    recorded = SecondsSince(started);
    ASSERT_EQ(program.WaitExit(5s), -1);
  }
  // Everything up to a second before the kill is in the MP3; its header states no length.
  const AudioAnalysis mp3 = AnalyzeAudioFile(output);
  ASSERT_TRUE(mp3.ok) << mp3.error;
  EXPECT_NEAR(mp3.durationSeconds, recorded - 0.25, 0.75);
  EXPECT_NEAR(mp3.dominantFrequencyHz, 1000.0, 15.0);
  EXPECT_LT(HeaderDurationSeconds(output), 0);
  // The next start gives the temporary WAV the length its header never got, then records
  // over the remains.
  ProgramRun again(home);
  ASSERT_TRUE(again.Start());
  ASSERT_FALSE(again.WaitForMainWindow().empty()) << again.Log();
  ExpectTone(home.tempWav(), recorded - 0.25, 0.75, 1000);
  RecordWithHotkeys(again, "00:00:02");
  Close(again);
  const AudioAnalysis next = ExpectTone(output, 2.5, 0.8, 1000);
  ExpectTone(home.tempWav(), next.durationSeconds, 0.1, 1000);
  pulse().stopTone(tone);
}

TEST_F(E2eTest, ABurstOfTerminationSignalsClosesOnceWithCompleteFiles) {
  // Signals sent back to back mostly merge while pending; spaced ones each run the handler,
  // more often than a socket buffer of about 280 one-byte writes holds. A hang is likely,
  // not certain, so there are several rounds.
  const pid_t tone = pulse().playTone(kSinkA, 1000);
  const struct {
    int count;
    std::chrono::microseconds gap;
  } rounds[] = {{250, 0us}, {1000, 100us}, {1000, 100us}, {1000, 100us}};
  for (const auto& round : rounds) {
    SCOPED_TRACE(round.count);
    const std::string output = home.path("burst.mp3");
    QFile::remove(QString::fromStdString(output));
    SettingsForDevice(0, output);
    ProgramRun program(home);
    StartRecording(program, output);
    std::this_thread::sleep_for(2s);
    for (int i = 0; i < round.count; ++i) {
      kill(program.pid(), i % 2 == 0 ? SIGTERM : SIGINT);
      std::this_thread::sleep_for(round.gap);
    }
    ASSERT_EQ(program.WaitExit(5s), 0);
    const AudioAnalysis mp3 = ExpectTone(output, 2.5, 0.6, 1000);
    ExpectTone(home.tempWav(), mp3.durationSeconds, 0.1, 1000);
    // Closed through the close command, which writes the settings.
    EXPECT_EQ(home.Setting("HotKey/mHotKey[0].nVirtualKey"), "82");
  }
  pulse().stopTone(tone);
}

TEST_F(E2eTest, HostileSettingsStartNormallyAndWriteNothingUnnamed) {
  const std::string missing = home.path("no such folder");
  const std::string named = home.path("named $(touch x) `y` ;&|*.mp3");
  const std::string ok = "[Option]\nb_only_once=1\nnSearchFlag=1\noutput_wav_file=";
  struct Case {
    const char* what;
    std::string settings;
    bool records;  // a recording to the named file is expected
  };
  const std::vector<Case> cases = {
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
  const pid_t tone = pulse().playTone(kSinkA, 1000);
  const QString work = QString::fromStdString(home.path("cwd"));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    QDir(work).removeRecursively();
    QDir().mkpath(work);
    QFile::remove(QString::fromStdString(named));
    QDir().mkpath(QString::fromStdString(home.configHome() + "/Velmora"));
    QFile settings(QString::fromStdString(home.settingsFile()));
    ASSERT_TRUE(settings.open(QIODevice::WriteOnly | QIODevice::Truncate));
    settings.write(c.settings.c_str());
    settings.close();
    const QString oldCwd = QDir::currentPath();
    QDir::setCurrent(work);  // the program inherits it; a relative path resolves here
    ProgramRun program(home);
    ASSERT_TRUE(program.Start());
    QDir::setCurrent(oldCwd);
    // Whatever is reported (a hotkey that cannot be registered comes before the window)
    // is answered; the program runs on.
    for (int i = 0; i < 50 && !program.WaitForLine("shown", 200ms); ++i) {
      for (const auto& box : FindWindows("^Error$")) PressKeyInWindow(box, "Return");
    }
    ASSERT_FALSE(program.WaitForMainWindow().empty()) << program.Log();
    PressKey("ctrl+alt+r");
    std::this_thread::sleep_for(2s);
    PressKey("ctrl+alt+s");
    std::this_thread::sleep_for(500ms);
    for (int i = 0; i < 3; ++i) {
      for (const auto& box : FindWindows("^Error$")) PressKeyInWindow(box, "Return");
      std::this_thread::sleep_for(300ms);
    }
    ASSERT_TRUE(program.running());
    Close(program);
    if (c.records) {
      EXPECT_TRUE(AnalyzeAudioFile(named).ok);
    }
    for (const std::string& stray : {missing, home.path("x"), home.path("y")})
      EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(stray))) << stray;
    // Nothing lands in the working directory except a file the user named there.
    const QStringList left = QDir(work).entryList(QDir::NoDotAndDotDot | QDir::AllEntries);
    EXPECT_TRUE(left.isEmpty() || left == QStringList{QStringLiteral("relative.mp3")})
        << left.join(u' ').toStdString();
  }
  pulse().stopTone(tone);
}

TEST_F(E2eTest, TwoCopiesRecordWholeToTheirOwnFilesAndNeverIntoOne) {
  const pid_t tone = pulse().playTone(kSinkA, 1000);
  const std::string a = home.path("a.mp3");
  const std::string b = home.path("b.mp3");
  SettingsForDevice(0, a);
  // The second copy needs other hotkeys (the clash itself is an end-to-end test of the
  // hotkeys); at first it names the file the first one records into.
  home.WriteSettings({{"Option/b_only_once", "1"},
                      {"Option/nSearchFlag", "1"},
                      {"Option/output_wav_file", a},
                      {"HotKey/mHotKey[0].nVirtualKey", "84"},
                      {"HotKey/mHotKey[1].nVirtualKey", "85"}},
                     "config-b");
  ProgramRun first(home);
  ProgramRun second(home, "config-b");
  StartRecording(first, a);
  ASSERT_TRUE(second.Start());
  ASSERT_FALSE(second.WaitForMainWindow().empty()) << second.Log();
  ASSERT_TRUE(PressKey("ctrl+alt+t"));
  ASSERT_TRUE(second.WaitForLine("box: Error | Another running copy of Tonvale is recording"))
      << second.Log();
  for (const auto& box : FindWindows("^Error$")) PressKeyInWindow(box, "Return");
  EXPECT_EQ(second.CountLines("Used Time"), 0);
  // With a file of its own, both record at the same time.
  second.Terminate();
  ASSERT_EQ(second.WaitExit(), 0);
  home.WriteSettings({{"Option/output_wav_file", b}}, "config-b");
  ProgramRun third(home, "config-b");
  StartRecording(third, b, "ctrl+alt+t");
  std::this_thread::sleep_for(3s);
  ASSERT_TRUE(PressKey("ctrl+alt+s"));
  ASSERT_TRUE(PressKey("ctrl+alt+u"));
  ASSERT_TRUE(first.WaitForLine("status: Status : Ready", 10s, 1)) << first.Log();
  ASSERT_TRUE(third.WaitForLine("status: Status : Ready", 10s, 1)) << third.Log();
  first.Terminate();
  third.Terminate();
  EXPECT_EQ(first.WaitExit(), 0);
  EXPECT_EQ(third.WaitExit(), 0);
  pulse().stopTone(tone);
  // Each copy has a temporary WAV of its own, holding its own recording whole.
  const AudioAnalysis firstMp3 = ExpectTone(a, 6.0, 2.5, 1000);
  const AudioAnalysis thirdMp3 = ExpectTone(b, 3.0, 0.7, 1000);
  ExpectTone(home.tempWav(), firstMp3.durationSeconds, 0.1, 1000);
  ExpectTone(home.path("qorntemp-2.wav"), thirdMp3.durationSeconds, 0.1, 1000);
}

}  // namespace
}  // namespace tonvale::testing
