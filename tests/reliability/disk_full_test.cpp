// A recording whose files cannot be written (a full disk, a device that refuses writes) ends
// with a message and a Ready window, and what was written stays playable. The small disk is
// a tmpfs mounted in a private mount namespace: the outer test re-runs this program under
// `unshare -m` (root only), where the inner test mounts it and records.

#include <gtest/gtest.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>
#include <cstdlib>

#include "audio_analysis.h"
#include "fake_controls.h"
#include "fake_services.h"
#include "platform/gst/media_factory_gst.h"
#include "platform/pulse/pulse_devices.h"
#include "private_server.h"
#include "settings/sink_hand_off.h"

namespace tonvale::testing {
namespace {

const char kCaseVariable[] = "TONVALE_DISK_FULL_CASE";
const char kDirVariable[] = "TONVALE_DISK_FULL_DIR";

enum Case { kMp3OnFullDisk = 1, kWavOnFullDisk };

std::string Self() {
  char path[4096] = {};
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  return n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string();
}

TEST(DiskFull, RecordingStopsWithAMessageAndKeepsWhatWasWritten) {
  if (geteuid() != 0 || RunProgram({"unshare", "-m", "true"}) != 0)
    GTEST_SKIP() << "needs root for a private mount namespace";
  for (Case c : {kMp3OnFullDisk, kWavOnFullDisk}) {
    SCOPED_TRACE(c);
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    setenv(kCaseVariable, std::to_string(c).c_str(), 1);
    setenv(kDirVariable, dir.path().toUtf8().constData(), 1);
    std::string output;
    const int status = RunProgram(
        {"unshare", "-m", "--propagation", "private", Self(), "--gtest_filter=DiskFullInner.*"},
        &output);
    unsetenv(kCaseVariable);
    EXPECT_EQ(status, 0) << output;
    EXPECT_NE(output.find("[  PASSED  ] 1 test"), std::string::npos) << output;
  }
}

TEST(DiskFullInner, OneCase) {
  const char* which = std::getenv(kCaseVariable);
  if (which == nullptr)
    GTEST_SKIP() << "run by DiskFull in a private mount namespace";
  const Case c = static_cast<Case>(std::atoi(which));
  const QDir dir(QString::fromLocal8Bit(std::getenv(kDirVariable)));
  const QString small = dir.filePath(QStringLiteral("small"));
  ASSERT_TRUE(QDir().mkpath(small));
  // Room for a second or so of either file.
  ASSERT_EQ(
      RunProgram({"mount", "-t", "tmpfs", "-o", "size=96k", "tonvale-full", small.toStdString()}),
      0);
  setenv("XDG_CONFIG_HOME", dir.filePath(QStringLiteral("config")).toUtf8().constData(), 1);

  int argc = 1;
  char name[] = "disk_full_test";
  char* argv[] = {name, nullptr};
  QCoreApplication app(argc, argv);
  PrivatePulse pulse({"full"});
  ASSERT_TRUE(pulse.started());
  const pid_t tone = pulse.playTone("full", 1000);
  QThread::msleep(300);

  platform::GstMediaFactory media(
      QDir(QStringLiteral(TONVALE_RELIABILITY_PLUGIN_DIR)).absolutePath().toStdString(),
      &platform::CreatePulseDeviceEnumerator);
  settings::QSettingsSinkHandOff handOff;
  FakeMessageBoxes boxes;
  FakeDesktop desktop;
  FakeControls controls;
  recorder::RecorderEngine engine({media, handOff, boxes, desktop}, controls);
  controls.engine = &engine;
  engine.SetOnlyOnce(1);
  const QString mp3 = c == kMp3OnFullDisk ? small + QStringLiteral("/take.mp3")
                                          : dir.filePath(QStringLiteral("take.mp3"));
  engine.SetTempWavFile((c == kWavOnFullDisk ? small : dir.path()) +
                        QStringLiteral("/qorntemp.wav"));
  engine.SetOutputFile(controls.field = mp3);
  engine.ResetGraphMembers();
  ASSERT_TRUE(Succeeded(engine.CreateCaptureGraph()));
  ASSERT_TRUE(Succeeded(engine.EnumerateSoundCards()));

  engine.OnRecord();
  ASSERT_TRUE(engine.recording());
  QElapsedTimer clock;
  clock.start();
  while (engine.recording() && clock.elapsed() < 30000) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  }
  pulse.stopTone(tone);

  EXPECT_FALSE(engine.recording()) << "the recording went on";
  EXPECT_EQ(controls.status, recorder::kStatusReady);
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_TRUE(boxes.shown[0].text.startsWith(
      QStringLiteral("The recording has stopped because of an error:\n")))
      << boxes.shown[0].text.toStdString();
  // What reached the disk before it filled decodes.
  const AudioAnalysis heard =
      AnalyzeAudioFile((c == kMp3OnFullDisk ? mp3 : engine.tempWavFile()).toStdString());
  ASSERT_TRUE(heard.ok) << heard.error;
  EXPECT_GT(heard.durationSeconds, 0.2);
  EXPECT_NEAR(heard.dominantFrequencyHz, 1000.0, 15.0);
  engine.TearDownCapture();
  RunProgram({"umount", small.toStdString()});
}

}  // namespace
}  // namespace tonvale::testing
