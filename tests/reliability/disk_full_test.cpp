// A full disk under a recording ends it with one box naming the error and a Ready window, and
// what reached the disk stays playable. The disk is a small tmpfs in a mount namespace of this
// process's own (root only), seen by nothing else on the machine.

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QThread>

#include "audio_analysis.h"
#include "fake_controls.h"
#include "fake_services.h"
#include "platform/gst/media_factory_gst.h"
#include "platform/pulse/pulse_devices.h"
#include "private_server.h"
#include "settings/sink_hand_off.h"

namespace tonvale::testing {
namespace {

using namespace Qt::StringLiterals;

TEST(DiskFull, TheMp3OrTheWavOnAFullDiskEndsTheRecordingAndKeepsWhatWasWritten) {
  // Before any thread starts, so that every later one shares the namespace.
  if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
    GTEST_SKIP() << "needs root for a private mount namespace";
  QTemporaryDir roomy, small;
  int argc = 0;
  QCoreApplication app(argc, nullptr);
  PrivatePulse pulse({"full"});
  ASSERT_TRUE(pulse.started());
  const pid_t tone = pulse.playTone("full", 1000);
  QThread::msleep(300);
  // The build's plugin folder: in a chroot, a new mount namespace can make /proc/self/exe,
  // which the default folder is found from, name the path outside it.
  platform::GstMediaFactory media(TONVALE_RELIABILITY_PLUGIN_DIR,
                                  &platform::CreatePulseDeviceEnumerator);
  settings::QSettingsSinkHandOff handOff;

  for (const bool mp3Full : {true, false}) {
    SCOPED_TRACE(mp3Full ? "the MP3 on the full disk" : "the WAV on the full disk");
    // Room for a second or so of either file.
    ASSERT_EQ(mount("full", QFile::encodeName(small.path()).constData(), "tmpfs", 0, "size=96k"),
              0);
    FakeMessageBoxes boxes;
    FakeDesktop desktop;
    FakeControls controls;
    recorder::RecorderEngine engine({media, handOff, boxes, desktop}, controls);
    controls.engine = &engine;
    engine.SetTempWavFile((mp3Full ? roomy : small).path() + u"/qorntemp.wav"_s);
    engine.SetOutputFile((mp3Full ? small : roomy).path() + u"/take.mp3"_s);
    ASSERT_TRUE(Succeeded(engine.CreateCaptureGraph()) && Succeeded(engine.EnumerateSoundCards()));
    engine.OnRecord();
    for (int tick = 0; tick < 60 && (engine.starting() || engine.recording());
         ++tick)  // the count's ticks at least
      QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);

    EXPECT_FALSE(engine.recording());
    EXPECT_EQ(controls.status, recorder::kStatusReady);
    ASSERT_EQ(boxes.shown.size(), 1u);
    const QString& told = boxes.shown[0].text;
    EXPECT_TRUE(told.startsWith(u"The recording has stopped because of an error:\n"_s) &&
                told.contains(u"No space left"_s))
        << told.toStdString();
    // What reached the disk decodes; its header may state no length (the repair's business).
    const AudioAnalysis heard =
        AnalyzeAudioFile((mp3Full ? engine.outputFile() : engine.tempWavFile()).toStdString());
    ASSERT_TRUE(heard.ok) << heard.error;
    EXPECT_GT(heard.durationSeconds, 0.2);
    EXPECT_NEAR(heard.dominantFrequencyHz, 1000.0, 15.0);
    EXPECT_LT(heard.longestSilenceSeconds, 0.2);
    engine.TearDownCapture();
    ASSERT_EQ(umount(QFile::encodeName(small.path()).constData()), 0);
  }
  pulse.stopTone(tone);
}

}  // namespace
}  // namespace tonvale::testing
