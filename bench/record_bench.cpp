// Measures the recording path of the program on a private PulseAudio with pink noise playing
// into a null sink: time from the Record command to the first captured audio in the file,
// time from Stop until both files are complete, CPU seconds per recorded minute against a
// bare gst-launch-1.0 pipeline with the same encoder settings, and peak resident memory.
//
// Usage: record_bench [seconds]   (default 60; prints a table)

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>
#include <atomic>
#include <cstdio>
#include <string>
#include <thread>

#include "fake_controls.h"
#include "fake_services.h"
#include "platform/gst/media_factory_gst.h"
#include "platform/pulse/pulse_devices.h"
#include "private_server.h"
#include "recorder/recorder_engine.h"
#include "settings/sink_hand_off.h"

namespace {

using namespace tonvale;

double CpuSeconds(const rusage& r) {
  return static_cast<double>(r.ru_utime.tv_sec + r.ru_stime.tv_sec) +
         static_cast<double>(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
}

long FileSize(const QString& path) {
  struct stat st {};
  return stat(QFile::encodeName(path).constData(), &st) == 0 ? static_cast<long>(st.st_size) : -1;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
  QTemporaryDir dir;
  setenv("XDG_CONFIG_HOME", dir.path().toUtf8().constData(), 1);
  tonvale::testing::PrivatePulse pulse({"bench"});
  if (!pulse.started()) {
    std::fprintf(stderr, "no private PulseAudio\n");
    return 1;
  }
  const pid_t noise = tonvale::testing::StartProgram(
      {"gst-launch-1.0", "-q", "audiotestsrc", "is-live=true", "wave=pink-noise", "volume=0.3", "!",
       "audioconvert", "!", "pulsesink", "device=bench"});
  // A null sink renders in large blocks until its first client has run for a while; a
  // recording started earlier waits for the end of such a block (about a second), which no
  // sound card does.
  QThread::msleep(3000);

  platform::GstMediaFactory media(
      QDir(QStringLiteral(TONVALE_BENCH_PLUGIN_DIR)).absolutePath().toStdString(),
      &platform::CreatePulseDeviceEnumerator);
  settings::QSettingsSinkHandOff handOff;
  tonvale::testing::FakeMessageBoxes boxes;
  tonvale::testing::FakeDesktop desktop;
  tonvale::testing::FakeControls controls;
  recorder::RecorderEngine engine({media, handOff, boxes, desktop}, controls);
  controls.engine = &engine;
  engine.SetOnlyOnce(1);
  engine.SetTempWavFile(dir.filePath(QStringLiteral("qorntemp.wav")));
  engine.SetOutputFile(dir.filePath(QStringLiteral("bench.mp3")));
  engine.ResetGraphMembers();
  if (Failed(engine.CreateCaptureGraph()) || Failed(engine.EnumerateSoundCards())) {
    std::fprintf(stderr, "no capture graph\n");
    return 1;
  }

  if (qEnvironmentVariableIsSet("BENCH_WARM_SINK")) {
    std::shared_ptr<platform::Filter> warm;
    QElapsedTimer load;
    load.start();
    media.CreateFilter(platform::kSinkClassId, &warm);
    std::fprintf(stderr, "sink load %lld ms\n", static_cast<long long>(load.elapsed()));
  }
  rusage before{};
  getrusage(RUSAGE_SELF, &before);
  QElapsedTimer clock;
  clock.start();
  // Watches the files from another thread, since Record itself waits for the graph to run.
  // The first audio is in a file once it grows past its header: the 44 bytes of the WAV
  // header; the MP3 writer writes whole 2 KiB blocks, the first of them the Xing frame
  // followed by audio.
  std::atomic<qint64> firstWavMs{-1};
  std::atomic<qint64> firstMp3Ms{-1};
  std::thread watcher([&] {
    while (clock.elapsed() < 5000 && (firstWavMs < 0 || firstMp3Ms < 0)) {
      if (firstWavMs < 0 && FileSize(engine.tempWavFile()) > 44)
        firstWavMs = clock.elapsed();
      if (firstMp3Ms < 0 && FileSize(engine.outputFile()) > 0)
        firstMp3Ms = clock.elapsed();
      std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
  });
  engine.OnRecord();
  const qint64 recordReturnedMs = clock.elapsed();
  watcher.join();
  if (!engine.recording()) {
    std::fprintf(stderr, "recording did not start\n");
    return 1;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(seconds * 1000 - clock.elapsed()));
  QElapsedTimer stopClock;
  stopClock.start();
  engine.OnStop();
  const qint64 stopMs = stopClock.elapsed();
  rusage after{};
  getrusage(RUSAGE_SELF, &after);
  const double programCpu = CpuSeconds(after) - CpuSeconds(before);

  // The same encoder on the same source with pulsesrc's default buffering, in the format the
  // program records the null sink's monitor in (stereo at 44.1 kHz, as the source delivers).
  const QString bare = dir.filePath(QStringLiteral("bare.mp3"));
  const pid_t pipeline = tonvale::testing::StartProgram(
      {"gst-launch-1.0", "-q", "-e", "pulsesrc", "device=bench.monitor", "!",
       "audio/x-raw,channels=2,rate=44100", "!", "audioconvert", "!",
       "audio/x-raw,format=S16LE,channels=2,rate=44100", "!", "lamemp3enc", "target=quality",
       "quality=2", "!", "filesink", "location=" + bare.toStdString()});
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  kill(pipeline, SIGINT);
  int status = 0;
  rusage bareUsage{};
  wait4(pipeline, &status, 0, &bareUsage);
  const double bareCpu = CpuSeconds(bareUsage);
  tonvale::testing::StopProcess(noise);

  const double minutes = seconds / 60.0;
  std::printf("| measure | value |\n|---|---|\n");
  std::printf("| Record command to first audio in the WAV | %lld ms |\n",
              static_cast<long long>(firstWavMs.load()));
  std::printf("| Record command to first audio in the MP3 | %lld ms |\n",
              static_cast<long long>(firstMp3Ms.load()));
  std::printf("| Record command handled (chain built, graph running) | %lld ms |\n",
              static_cast<long long>(recordReturnedMs));
  std::printf("| Stop to both files complete | %lld ms |\n", static_cast<long long>(stopMs));
  std::printf("| CPU per recorded minute, program | %.2f s |\n", programCpu / minutes);
  std::printf("| CPU per recorded minute, gst-launch pulsesrc ! lamemp3enc | %.2f s |\n",
              bareCpu / minutes);
  std::printf("| CPU ratio program / pipeline | %.2f |\n", programCpu / bareCpu);
  std::printf("| peak resident memory, program | %ld MiB |\n", after.ru_maxrss / 1024);
  std::printf("| MP3 size after %d s | %ld bytes |\n", seconds, FileSize(engine.outputFile()));
  return 0;
}
