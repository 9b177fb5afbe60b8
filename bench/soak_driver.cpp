// Long recording through the real engine, capture graph and sink on a private PulseAudio,
// headless: a continuous 1 kHz tone is played into a null sink and its monitor recorded for
// the given time. The one-second timer is a real QTimer driving OnTimer, as in the window.
// Prints resident memory every 10 s, then the MP3's length against the wall clock, the
// longest gap in the tone and the status line's last count.
//
// Usage: soak_driver <seconds> <work dir>   (exit 0 when every check held)

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <QTimer>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>

#include "audio_analysis.h"
#include "fake_controls.h"
#include "fake_services.h"
#include "platform/gst/media_factory_gst.h"
#include "platform/pulse/pulse_devices.h"
#include "private_server.h"
#include "recorder/recorder_engine.h"
#include "settings/sink_hand_off.h"

namespace {

using namespace tonvale;

long ResidentKiB() {
  QFile status(QStringLiteral("/proc/self/status"));
  if (!status.open(QIODevice::ReadOnly))
    return -1;
  for (const QByteArray& line : status.readAll().split('\n')) {
    if (line.startsWith("VmRSS:"))
      return line.mid(6).trimmed().split(' ').value(0).toLong();
  }
  return -1;
}

// "Status : Recording audio - Used Time: hh:mm:ss" -> seconds, -1 for any other text.
int CountOf(const QString& status) {
  const QStringList parts = status.section(QStringLiteral("Used Time: "), 1).split(u':');
  if (parts.size() != 3)
    return -1;
  return parts[0].toInt() * 3600 + parts[1].toInt() * 60 + parts[2].toInt();
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (argc < 3) {
    std::fprintf(stderr, "usage: soak_driver <seconds> <work dir>\n");
    return 2;
  }
  const int seconds = std::atoi(argv[1]);
  const QDir work(QString::fromLocal8Bit(argv[2]));
  setenv("XDG_CONFIG_HOME", work.filePath(QStringLiteral("config")).toUtf8().constData(), 1);

  testing::PrivatePulse pulse({"soak"});
  if (!pulse.started()) {
    std::fprintf(stderr, "no private PulseAudio\n");
    return 1;
  }
  // The player keeps a second of tone queued, so that a gap in the recording is the
  // recorder's and not a player starved on a busy machine; the recording starts once the
  // tone flows steadily.
  const pid_t tone = pulse.playTone("soak", 1000, 1000);
  QThread::msleep(3000);

  platform::GstMediaFactory media(
      QDir(QStringLiteral(TONVALE_SOAK_PLUGIN_DIR)).absolutePath().toStdString(),
      &platform::CreatePulseDeviceEnumerator);
  settings::QSettingsSinkHandOff handOff;
  testing::FakeMessageBoxes boxes;
  testing::FakeDesktop desktop;
  testing::FakeControls controls;
  recorder::RecorderEngine engine({media, handOff, boxes, desktop}, controls);
  controls.engine = &engine;
  engine.SetOnlyOnce(1);
  engine.SetTempWavFile(work.filePath(QStringLiteral("qorntemp.wav")));
  engine.SetOutputFile(work.filePath(QStringLiteral("soak.mp3")));
  controls.field = engine.outputFile();
  engine.ResetGraphMembers();
  if (Failed(engine.CreateCaptureGraph()) || Failed(engine.EnumerateSoundCards())) {
    std::fprintf(stderr, "no capture graph\n");
    return 1;
  }

  engine.OnRecord();
  while (engine.starting()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  // The clock runs from the moment the graph runs, as the status count does.
  QElapsedTimer clock;
  clock.start();
  if (!engine.recording()) {
    std::fprintf(stderr, "recording did not start\n");
    return 1;
  }
  long firstRss = -1, minRss = 0, maxRss = 0, lastRss = 0;
  QTimer sampler;
  QObject::connect(&sampler, &QTimer::timeout, [&] {
    const long rss = ResidentKiB();
    if (firstRss < 0)
      firstRss = minRss = maxRss = rss;
    minRss = std::min(minRss, rss);
    maxRss = std::max(maxRss, rss);
    lastRss = rss;
    std::printf("rss t=%lld s %ld KiB status \"%s\"\n", clock.elapsed() / 1000, rss,
                qPrintable(controls.status));
    std::fflush(stdout);
  });
  sampler.start(10000);
  QTimer::singleShot(seconds * 1000, &app, [&] { app.quit(); });
  app.exec();
  sampler.stop();
  const int shownCount = CountOf(controls.status);
  const double wall = static_cast<double>(clock.elapsed()) / 1000.0;
  engine.OnStop();
  pulse.stopTone(tone);

  const testing::AudioAnalysis mp3 = testing::AnalyzeAudioFile(engine.outputFile().toStdString());
  const testing::AudioAnalysis wav = testing::AnalyzeAudioFile(engine.tempWavFile().toStdString());
  const double drift = mp3.ok ? std::abs(mp3.durationSeconds - wall) / wall * 100.0 : 100.0;
  const double header = testing::HeaderDurationSeconds(engine.outputFile().toStdString());
  std::printf("| measure | value |\n|---|---|\n");
  std::printf("| wall clock, Record to Stop | %.1f s |\n", wall);
  std::printf("| MP3 decoded length | %.1f s (%.3f %% off the clock) |\n", mp3.durationSeconds,
              drift);
  std::printf("| MP3 header length | %.1f s |\n", header);
  std::printf("| WAV decoded length | %.1f s |\n", wav.durationSeconds);
  std::printf("| MP3 pitch | %.1f Hz |\n", mp3.dominantFrequencyHz);
  std::printf("| longest silence in MP3 / WAV | %.2f s / %.2f s |\n", mp3.longestSilenceSeconds,
              wav.longestSilenceSeconds);
  std::printf("| status count at the end | %d s |\n", shownCount);
  std::printf("| resident memory first / min / max / last | %ld / %ld / %ld / %ld KiB |\n",
              firstRss, minRss, maxRss, lastRss);
  std::printf("| resident memory growth, first to last sample | %.1f KiB a minute |\n",
              static_cast<double>(lastRss - firstRss) / (wall / 60.0));
  std::printf("| message boxes | %zu |\n", boxes.shown.size());
  for (const auto& box : boxes.shown) std::printf("box: %s\n", qPrintable(box.text));

  bool ok = mp3.ok && wav.ok && drift < 0.2 && mp3.longestSilenceSeconds < 0.25 &&
            wav.longestSilenceSeconds < 0.25 &&
            std::abs(shownCount - static_cast<int>(wall)) <= 1 && boxes.shown.empty() &&
            std::abs(header - mp3.durationSeconds) < 0.5;
  // Memory is flat when no sample exceeds the first one (taken after 10 s) by 1 MiB or more:
  // a recording of any length holds the same buffers.
  ok = ok && maxRss - firstRss < 1024;
  std::printf("%s\n", ok ? "SOAK PASSED" : "SOAK FAILED");
  return ok ? 0 : 1;
}
