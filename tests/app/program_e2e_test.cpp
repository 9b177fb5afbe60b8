// The real program on a private X server and a private sound server: a tone played into a
// null sink is recorded from its monitor through the global hotkeys.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <QDir>
#include <QFile>
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

std::string ProgramPath() {
  const char* build = std::getenv("TONVALE_BUILD_DIR");
  return std::string(build ? build : ".") + "/bin/sonarelrecorder";
}

bool WaitForWindow(const std::string& title) {
  for (int i = 0; i < 100; ++i) {
    std::string out;
    if (RunProgram({"xdotool", "search", "--name", "^" + title + "$"}, &out) == 0 && !out.empty()) {
      return true;
    }
    std::this_thread::sleep_for(100ms);
  }
  return false;
}

int WaitExit(pid_t pid, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  int status = 0;
  while (std::chrono::steady_clock::now() < end) {
    if (waitpid(pid, &status, WNOHANG) == pid)
      return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::this_thread::sleep_for(50ms);
  }
  return -2;
}

class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(home.isValid());
    ASSERT_TRUE(pulse.started());
    ASSERT_TRUE(xvfb.started());
    setenv("XDG_CONFIG_HOME", home.filePath(QStringLiteral("config")).toUtf8().constData(), 1);
    setenv("TMPDIR", home.path().toUtf8().constData(), 1);
    unsetenv("QT_QPA_PLATFORM");
    output = home.filePath(QStringLiteral("take one.mp3"));
  }
  QString SettingsFile() const {
    return home.filePath(QStringLiteral("config/Velmora/sonarelrecorder.conf"));
  }

  QTemporaryDir home;
  PrivatePulse pulse{{"tonvale_e2e"}};
  PrivateXvfb xvfb;
  QString output;
};

TEST_F(ProgramTest, HotkeysRecordTheMonitorOfANullSinkToAnMp3) {
  {
    QSettings settings(SettingsFile(), QSettings::IniFormat);
    settings.setValue(QStringLiteral("Option/output_wav_file"), output);
    settings.setValue(QStringLiteral("Option/b_only_once"), QStringLiteral("1"));
  }
  const pid_t tone = pulse.playTone("tonvale_e2e", 1000);
  ASSERT_GT(tone, 0);
  const pid_t program = StartProgram({ProgramPath()});
  ASSERT_GT(program, 0);
  ASSERT_TRUE(WaitForWindow("Tonvale"));
  // Another client has the focus.
  const pid_t other = StartProgram({"xmessage", "-name", "other", "focus is here"});
  std::this_thread::sleep_for(500ms);

  ASSERT_EQ(RunProgram({"xdotool", "key", "ctrl+alt+r"}), 0);
  std::this_thread::sleep_for(3s);
  ASSERT_EQ(RunProgram({"xdotool", "key", "ctrl+alt+s"}), 0);
  std::this_thread::sleep_for(1s);
  kill(program, SIGTERM);
  EXPECT_EQ(WaitExit(program, 15s), 0);
  StopProcess(other);
  pulse.stopTone(tone);

  const AudioAnalysis mp3 = AnalyzeAudioFile(output.toStdString());
  ASSERT_TRUE(mp3.ok) << mp3.error;
  EXPECT_NEAR(mp3.durationSeconds, 3.0, 0.6);
  EXPECT_NEAR(mp3.dominantFrequencyHz, 1000.0, 15.0);
  EXPECT_NEAR(HeaderDurationSeconds(output.toStdString()), mp3.durationSeconds, 0.1);
  EXPECT_LT(mp3.longestSilenceSeconds, 0.2);

  const std::string wavPath = home.filePath(QStringLiteral("qorntemp.wav")).toStdString();
  const AudioAnalysis wav = AnalyzeAudioFile(wavPath);
  ASSERT_TRUE(wav.ok) << wav.error;
  EXPECT_NEAR(wav.durationSeconds, mp3.durationSeconds, 0.1);
  EXPECT_NEAR(wav.dominantFrequencyHz, 1000.0, 15.0);

  // SIGTERM closes the window through its close command: the settings are written.
  QSettings settings(SettingsFile(), QSettings::IniFormat);
  EXPECT_EQ(settings.value(QStringLiteral("HotKey/mHotKey[0].nVirtualKey")).toString(),
            QStringLiteral("82"));
  EXPECT_EQ(settings.value(QStringLiteral("Option/nSearchFlag")).toString(), QStringLiteral("1"));
  EXPECT_EQ(settings.value(QStringLiteral("Option/output_wav_file")).toString(), output);
}

}  // namespace
}  // namespace tonvale::testing
