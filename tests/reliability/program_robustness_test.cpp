// The real program under hard conditions, on a private X server and a private sound server:
// killed in the middle of a recording, started on hostile settings, and run twice at once.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "audio_analysis.h"
#include "private_server.h"

namespace tonvale::testing {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::string ProgramPath() {
  const char* build = std::getenv("TONVALE_BUILD_DIR");
  return std::string(build ? build : ".") + "/bin/sonarelrecorder";
}

// Number of top-level windows whose title matches exactly.
int CountWindows(const std::string& title) {
  std::string out;
  if (RunProgram({"xdotool", "search", "--name", "^" + title + "$"}, &out) != 0)
    return 0;
  int lines = 0;
  for (char c : out) lines += c == '\n';
  return lines;
}

bool WaitForWindows(const std::string& title, int count, std::chrono::milliseconds limit = 10s) {
  const auto end = Clock::now() + limit;
  while (Clock::now() < end) {
    if (CountWindows(title) >= count)
      return true;
    std::this_thread::sleep_for(100ms);
  }
  return false;
}

// Exit code, -1 for a signal, -2 when still running after the limit.
int WaitExit(pid_t pid, std::chrono::milliseconds limit) {
  const auto end = Clock::now() + limit;
  int status = 0;
  while (Clock::now() < end) {
    if (waitpid(pid, &status, WNOHANG) == pid)
      return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::this_thread::sleep_for(50ms);
  }
  return -2;
}

bool Key(const std::string& combination) {
  return RunProgram({"xdotool", "key", combination}) == 0;
}

// Answers every message box ("Error") with its OK button; returns how many there were.
int DismissBoxes() {
  std::string out;
  RunProgram({"xdotool", "search", "--name", "^Error$"}, &out);
  int boxes = 0;
  for (size_t pos = 0, next; pos < out.size(); pos = next + 1) {
    next = out.find('\n', pos);
    if (next == std::string::npos)
      next = out.size();
    const std::string id = out.substr(pos, next - pos);
    if (id.empty())
      continue;
    RunProgram({"xdotool", "windowfocus", "--sync", id});
    RunProgram({"xdotool", "key", "--clearmodifiers", "Return"});
    ++boxes;
  }
  return boxes;
}

class RobustnessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(home.isValid());
    ASSERT_TRUE(pulse.started());
    ASSERT_TRUE(xvfb.started());
    UseConfig(QStringLiteral("config"));
    setenv("TMPDIR", home.path().toUtf8().constData(), 1);
    // The default output file lives in the home folder: keep it in the test's folder.
    setenv("HOME", home.path().toUtf8().constData(), 1);
    unsetenv("QT_QPA_PLATFORM");
    tone = pulse.playTone("tonvale_rel", 1000);
    ASSERT_GT(tone, 0);
  }
  void TearDown() override {
    for (pid_t pid : programs) {
      if (WaitExit(pid, 0ms) == -2) {
        kill(pid, SIGKILL);
        WaitExit(pid, 5s);
      }
    }
    pulse.stopTone(tone);
  }
  // Points the next program started at its own settings folder.
  void UseConfig(const QString& name) {
    config = home.filePath(name);
    setenv("XDG_CONFIG_HOME", config.toUtf8().constData(), 1);
  }
  QString SettingsFile() const { return config + QStringLiteral("/Velmora/sonarelrecorder.conf"); }
  void WriteSettings(const QString& text) {
    QDir().mkpath(config + QStringLiteral("/Velmora"));
    QFile file(SettingsFile());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text.toUtf8());
  }
  pid_t Start() {
    const pid_t pid = StartProgram({ProgramPath()});
    if (pid > 0)
      programs.push_back(pid);
    return pid;
  }
  // Closes through the window's close command; true when the program ended cleanly.
  bool Close(pid_t pid) {
    kill(pid, SIGTERM);
    return WaitExit(pid, 15s) == 0;
  }

  QTemporaryDir home;
  PrivatePulse pulse{{"tonvale_rel"}};
  PrivateXvfb xvfb;
  QString config;
  pid_t tone = -1;
  std::vector<pid_t> programs;
};

TEST_F(RobustnessTest, KilledMidRecordingKeepsAPlayableMp3AndTheNextStartRecords) {
  const QString first = home.filePath(QStringLiteral("killed.mp3"));
  WriteSettings(QStringLiteral("[Option]\nb_only_once=1\noutput_wav_file=%1\n").arg(first));
  const pid_t program = Start();
  ASSERT_GT(program, 0);
  ASSERT_TRUE(WaitForWindows("Tonvale", 1));
  ASSERT_TRUE(Key("ctrl+alt+r"));
  // The clock starts with the first audio in the MP3, so start-up time does not count.
  const auto limit = Clock::now() + 10s;
  while (QFileInfo(first).size() == 0 && Clock::now() < limit) std::this_thread::sleep_for(20ms);
  const auto started = Clock::now();
  ASSERT_GT(QFileInfo(first).size(), 0);
  std::this_thread::sleep_for(5s);
  kill(program, SIGKILL);
  const double recorded = std::chrono::duration<double>(Clock::now() - started).count();
  ASSERT_EQ(WaitExit(program, 5s), -1);

  // Everything up to a second before the kill is in the MP3 and decodes.
  const AudioAnalysis mp3 = AnalyzeAudioFile(first.toStdString());
  ASSERT_TRUE(mp3.ok) << mp3.error;
  EXPECT_GT(mp3.durationSeconds, recorded - 1.0);
  EXPECT_LE(mp3.durationSeconds, recorded + 0.5);
  EXPECT_NEAR(mp3.dominantFrequencyHz, 1000.0, 15.0);
  EXPECT_LT(mp3.longestSilenceSeconds, 0.25);
  // The next start comes up normally, and first gives the temporary WAV the length its
  // header never got: it plays up to the kill, like the MP3.
  const QString wav = home.filePath(QStringLiteral("qorntemp.wav"));
  const pid_t again = Start();
  ASSERT_GT(again, 0);
  ASSERT_TRUE(WaitForWindows("Tonvale", 1));
  const AudioAnalysis killedWav = AnalyzeAudioFile(wav.toStdString());
  ASSERT_TRUE(killedWav.ok) << killedWav.error;
  EXPECT_GT(killedWav.durationSeconds, recorded - 1.0);
  EXPECT_LE(killedWav.durationSeconds, recorded + 0.5);
  EXPECT_NEAR(HeaderDurationSeconds(wav.toStdString()), killedWav.durationSeconds, 0.01);
  EXPECT_NEAR(killedWav.dominantFrequencyHz, 1000.0, 15.0);

  // It records over the remains.
  ASSERT_TRUE(Key("ctrl+alt+r"));
  std::this_thread::sleep_for(3s);
  ASSERT_TRUE(Key("ctrl+alt+s"));
  std::this_thread::sleep_for(1s);
  EXPECT_TRUE(Close(again));
  const AudioAnalysis next = AnalyzeAudioFile(first.toStdString());
  ASSERT_TRUE(next.ok) << next.error;
  EXPECT_GT(next.durationSeconds, 1.5);
  EXPECT_LT(next.durationSeconds, 3.2);
  EXPECT_NEAR(HeaderDurationSeconds(first.toStdString()), next.durationSeconds, 0.1);
  const AudioAnalysis nextWav = AnalyzeAudioFile(wav.toStdString());
  ASSERT_TRUE(nextWav.ok) << nextWav.error;
  EXPECT_NEAR(nextWav.durationSeconds, next.durationSeconds, 0.1);
}

TEST_F(RobustnessTest, ABurstOfTerminationSignalsClosesOnceWithCompleteFiles) {
  // Signals sent back to back mostly merge while pending; spaced ones each run the handler,
  // more often than a socket buffer of about 280 one-byte writes holds. A hang is likely,
  // not certain, so there are several rounds.
  const struct {
    int count;
    std::chrono::microseconds gap;
  } rounds[] = {{250, 0us}, {1000, 100us}, {1000, 100us}, {1000, 100us}};
  for (size_t round = 0; round < std::size(rounds); ++round) {
    SCOPED_TRACE(round);
    const QString mp3 = home.filePath(QStringLiteral("burst%1.mp3").arg(round));
    WriteSettings(QStringLiteral("[Option]\nb_only_once=1\noutput_wav_file=%1\n").arg(mp3));
    const pid_t program = Start();
    ASSERT_GT(program, 0);
    ASSERT_TRUE(WaitForWindows("Tonvale", 1));
    ASSERT_TRUE(Key("ctrl+alt+r"));
    const auto limit = Clock::now() + 10s;
    while (QFileInfo(mp3).size() == 0 && Clock::now() < limit) std::this_thread::sleep_for(20ms);
    ASSERT_GT(QFileInfo(mp3).size(), 0);
    std::this_thread::sleep_for(2s);
    for (int i = 0; i < rounds[round].count; ++i) {
      kill(program, i % 2 == 0 ? SIGTERM : SIGINT);
      std::this_thread::sleep_for(rounds[round].gap);
    }
    ASSERT_EQ(WaitExit(program, 5s), 0);

    const AudioAnalysis audio = AnalyzeAudioFile(mp3.toStdString());
    ASSERT_TRUE(audio.ok) << audio.error;
    EXPECT_GT(audio.durationSeconds, 1.5);
    EXPECT_NEAR(HeaderDurationSeconds(mp3.toStdString()), audio.durationSeconds, 0.1);
    const std::string wav = home.filePath(QStringLiteral("qorntemp.wav")).toStdString();
    const AudioAnalysis wavAudio = AnalyzeAudioFile(wav);
    ASSERT_TRUE(wavAudio.ok) << wavAudio.error;
    EXPECT_NEAR(HeaderDurationSeconds(wav), wavAudio.durationSeconds, 0.01);
    EXPECT_NEAR(wavAudio.durationSeconds, audio.durationSeconds, 0.1);
    // Closed through the close command: the settings it writes are there.
    QSettings stored(SettingsFile(), QSettings::IniFormat);
    EXPECT_EQ(stored.value(QStringLiteral("HotKey/mHotKey[0].nVirtualKey")).toString(),
              QStringLiteral("82"));
    EXPECT_EQ(stored.value(QStringLiteral("Option/nSearchFlag")).toString(), QStringLiteral("1"));
  }
}

TEST_F(RobustnessTest, HostileSettingsStartNormallyAndWriteNothingUnnamed) {
  const QString missing = home.filePath(QStringLiteral("no such folder"));
  struct Case {
    const char* what;
    QString settings;
    bool records;  // a recording to the named file is expected
  };
  const QString named = home.filePath(QStringLiteral("named $(touch x) `y` ;&|*.mp3"));
  const std::vector<Case> cases = {
      {"garbage and wrong types",
       QStringLiteral("\x01\x02garbage\n[Option\nnSoundCaptureIndex=@Variant(\\0\\0\\0\\x7f)\n"
                      "[HotKey]\nmHotKey[0].fsModifiers=@ByteArray(\\xff\\xff)\n"
                      "mHotKey[0].nVirtualKey=abc\n[Option]\nb_only_once=1\noutput_wav_file=\"") +
           named + QStringLiteral("\"\n"),
       true},
      {"huge and negative numbers, keys outside every table",
       QStringLiteral("[Option]\nnSoundCaptureIndex=99999999999\nnCapturePinIndex=-7\n"
                      "nSearchFlag=-2147483648\nb_only_once=1\noutput_wav_file=\"") +
           named +
           QStringLiteral("\"\n[HotKey]\nmHotKey[0].fsModifiers=4294967295\n"
                          "mHotKey[0].nVirtualKey=100000\nmHotKey[1].fsModifiers=-1\n"
                          "mHotKey[1].nVirtualKey=-5\n"),
       false},
      {"output in a missing folder",
       QStringLiteral("[Option]\nb_only_once=1\noutput_wav_file=%1/take.mp3\n").arg(missing),
       false},
      {"relative output path",
       QStringLiteral("[Option]\nb_only_once=1\noutput_wav_file=relative.mp3\n"), false},
      {"4000-character output path",
       QStringLiteral("[Option]\nb_only_once=1\noutput_wav_file=%1/%2.mp3\n")
           .arg(home.path(), QString(4000, u'a')),
       false},
      {"empty output path", QStringLiteral("[Option]\nb_only_once=1\noutput_wav_file=\n"), false},
      {"read-only place",
       QStringLiteral("[Option]\nb_only_once=1\noutput_wav_file=/proc/tonvale.mp3\n"), false},
  };
  const QString work = home.filePath(QStringLiteral("cwd"));
  ASSERT_TRUE(QDir().mkpath(work));
  const QString oldCwd = QDir::currentPath();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteSettings(c.settings);
    QFile::remove(named);
    QDir::setCurrent(work);  // the program inherits it; a relative path resolves here
    const pid_t program = Start();
    QDir::setCurrent(oldCwd);
    ASSERT_GT(program, 0);
    ASSERT_TRUE(WaitForWindows("Tonvale", 1));
    DismissBoxes();  // a hotkey that cannot be registered is reported, then the program runs
    Key("ctrl+alt+r");
    std::this_thread::sleep_for(2s);
    Key("ctrl+alt+s");
    std::this_thread::sleep_for(500ms);
    ASSERT_EQ(WaitExit(program, 0ms), -2) << "the program ended";
    for (int i = 0; i < 3 && DismissBoxes() > 0; ++i) std::this_thread::sleep_for(300ms);
    ASSERT_EQ(CountWindows("Error"), 0);
    EXPECT_TRUE(Close(program));
    if (c.records) {
      const AudioAnalysis mp3 = AnalyzeAudioFile(named.toStdString());
      EXPECT_TRUE(mp3.ok) << mp3.error;
    }
    EXPECT_FALSE(QFileInfo::exists(missing));
    EXPECT_FALSE(QFileInfo::exists(home.filePath(QStringLiteral("x"))));
    EXPECT_FALSE(QFileInfo::exists(home.filePath(QStringLiteral("y"))));
    // Nothing lands in the working directory except a file the user named there.
    const QStringList left = QDir(work).entryList(QDir::NoDotAndDotDot | QDir::AllEntries);
    EXPECT_TRUE(left.isEmpty() || left == QStringList{QStringLiteral("relative.mp3")})
        << left.join(u' ').toStdString();
    QDir(work).removeRecursively();
    QDir().mkpath(work);
  }
}

TEST_F(RobustnessTest, TwoCopiesRecordToTheirOwnFiles) {
  const QString a = home.filePath(QStringLiteral("a.mp3"));
  const QString b = home.filePath(QStringLiteral("b.mp3"));
  WriteSettings(QStringLiteral("[Option]\nb_only_once=1\noutput_wav_file=%1\n").arg(a));
  const pid_t first = Start();
  ASSERT_GT(first, 0);
  ASSERT_TRUE(WaitForWindows("Tonvale", 1));

  // The second copy needs other hotkeys (the clash itself is an end-to-end test of the
  // hotkeys): both record at the same time, each to its own files.
  UseConfig(QStringLiteral("config-b"));
  WriteSettings(QStringLiteral("[Option]\nb_only_once=1\noutput_wav_file=%1\n"
                               "[HotKey]\nmHotKey[0].nVirtualKey=84\nmHotKey[1].nVirtualKey=85\n")
                    .arg(b));
  const pid_t second = Start();
  ASSERT_GT(second, 0);
  ASSERT_TRUE(WaitForWindows("Tonvale", 2));
  std::this_thread::sleep_for(500ms);
  ASSERT_TRUE(Key("ctrl+alt+r"));
  std::this_thread::sleep_for(1s);
  ASSERT_TRUE(Key("ctrl+alt+t"));
  std::this_thread::sleep_for(3s);
  ASSERT_TRUE(Key("ctrl+alt+s"));
  std::this_thread::sleep_for(1s);
  ASSERT_TRUE(Key("ctrl+alt+u"));
  std::this_thread::sleep_for(1s);
  EXPECT_TRUE(Close(first));
  EXPECT_TRUE(Close(second));

  const AudioAnalysis first_mp3 = AnalyzeAudioFile(a.toStdString());
  const AudioAnalysis second_mp3 = AnalyzeAudioFile(b.toStdString());
  ASSERT_TRUE(first_mp3.ok) << first_mp3.error;
  ASSERT_TRUE(second_mp3.ok) << second_mp3.error;
  EXPECT_NEAR(first_mp3.durationSeconds, 4.0, 0.7);
  EXPECT_NEAR(second_mp3.durationSeconds, 4.0, 0.7);
  EXPECT_NEAR(HeaderDurationSeconds(a.toStdString()), first_mp3.durationSeconds, 0.1);
  EXPECT_NEAR(HeaderDurationSeconds(b.toStdString()), second_mp3.durationSeconds, 0.1);
  EXPECT_LT(first_mp3.longestSilenceSeconds, 0.25);
  EXPECT_LT(second_mp3.longestSilenceSeconds, 0.25);
  // Each copy has a temporary WAV of its own, holding its own recording whole.
  const AudioAnalysis first_wav =
      AnalyzeAudioFile(home.filePath(QStringLiteral("qorntemp.wav")).toStdString());
  const AudioAnalysis second_wav =
      AnalyzeAudioFile(home.filePath(QStringLiteral("qorntemp-2.wav")).toStdString());
  ASSERT_TRUE(first_wav.ok) << first_wav.error;
  ASSERT_TRUE(second_wav.ok) << second_wav.error;
  EXPECT_NEAR(first_wav.durationSeconds, first_mp3.durationSeconds, 0.1);
  EXPECT_NEAR(second_wav.durationSeconds, second_mp3.durationSeconds, 0.1);
  EXPECT_LT(first_wav.longestSilenceSeconds, 0.25);
  EXPECT_LT(second_wav.longestSilenceSeconds, 0.25);
}

}  // namespace
}  // namespace tonvale::testing
