// Measures the recording path of the program on a private PulseAudio.
//
// Takes: a click train with uneven gaps plays into a null sink while a reference capture of
// its monitor (5 ms fragments, on the monotonic system clock) maps clock time to sample
// positions. Each take is Record, three seconds, Stop; the WAV's first and last 100 ms are
// found sample for sample in the reference, which gives where the file starts and ends
// against the presses. Also the time Record takes on the calling (window) thread.
//
// Then, with pink noise: time from the Record command to the first captured audio in the
// file, time from Stop until both files are complete, CPU seconds per recorded minute against
// a bare gst-launch-1.0 pipeline with the same encoder settings, and peak resident memory.
//
// Usage: record_bench [seconds] [takes]   (default 60 and 5; prints a table)

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gst/gst.h>

#include "fake_controls.h"
#include "fake_services.h"
#include "platform/gst/gst_pre_roll.h"
#include "platform/gst/media_factory_gst.h"
#include "platform/pulse/pulse_devices.h"
#include "platform/riff.h"
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

constexpr int kRate = 44100;
constexpr int kChannels = 2;

// A click train of `seconds` as a 16-bit stereo WAV: clicks 15 to 60 ms apart, each a short
// decaying burst with its own level on each side, so any 100 ms of it is found in one place.
void WriteClickTrain(const QString& path, int seconds) {
  std::mt19937 random(7);
  std::uniform_int_distribution<int> gap(kRate * 15 / 1000, kRate * 60 / 1000);
  std::uniform_real_distribution<double> level(0.15, 0.8);
  std::vector<std::int16_t> samples(static_cast<std::size_t>(seconds) * kRate * kChannels);
  for (std::size_t frame = 1000; frame + 64 < samples.size() / kChannels; frame += gap(random)) {
    for (int side = 0; side < kChannels; ++side) {
      const double peak = level(random) * 32767;
      for (int i = 0; i < 48; ++i)
        samples[(frame + i) * kChannels + side] =
            static_cast<std::int16_t>(peak * std::exp(-i / 8.0) * (i % 2 ? -1 : 1));
    }
  }
  QFile file(path);
  file.open(QIODevice::WriteOnly);
  const auto put32 = [&](std::uint32_t v) { file.write(reinterpret_cast<const char*>(&v), 4); };
  const auto put16 = [&](std::uint16_t v) { file.write(reinterpret_cast<const char*>(&v), 2); };
  const auto bytes = static_cast<std::uint32_t>(samples.size() * 2);
  file.write("RIFF");
  put32(36 + bytes);
  file.write("WAVEfmt ");
  put32(16);
  put16(1);
  put16(kChannels);
  put32(kRate);
  put32(kRate * kChannels * 2);
  put16(kChannels * 2);
  put16(16);
  file.write("data");
  put32(bytes);
  file.write(reinterpret_cast<const char*>(samples.data()), bytes);
}

// A 16-bit WAV's rate and samples.
struct Wav {
  std::uint32_t rate = 0;
  std::vector<std::int16_t> samples;
};
Wav ReadWav(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly))
    return {};
  const QByteArray all = file.readAll();
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(all.constData());
  const auto size = static_cast<std::size_t>(all.size());
  Wav wav;
  platform::riff::WalkWavChunks(bytes, size, [&](const platform::riff::Chunk& chunk) {
    const std::size_t payload = chunk.offset + 8;
    if (chunk.Is("fmt ") && payload + 8 <= size)
      wav.rate = platform::riff::ReadLe32(bytes + payload + 4);
    if (!chunk.Is("data"))
      return true;
    wav.samples.resize(std::min<std::size_t>(chunk.size, size - payload) / 2);
    std::memcpy(wav.samples.data(), bytes + payload, wav.samples.size() * 2);
    return false;
  });
  return wav;
}

// A capture of the monitor that notes, for each fragment, the clock time of its first sample.
class ReferenceCapture {
 public:
  ReferenceCapture(const std::string& source, int rate) {
    const std::string launch = "pulsesrc device=" + source +
                               " buffer-time=200000 latency-time=5000 ! "
                               "audio/x-raw,format=S16LE,channels=2,rate=" +
                               std::to_string(rate) +
                               " ! "
                               "fakesink name=out signal-handoffs=true sync=false";
    pipeline_ = gst_parse_launch(launch.c_str(), nullptr);
    GstClock* clock = gst_system_clock_obtain();
    gst_pipeline_use_clock(GST_PIPELINE(pipeline_), clock);
    gst_object_unref(clock);
    GstElement* out = gst_bin_get_by_name(GST_BIN(pipeline_), "out");
    g_signal_connect(out, "handoff", G_CALLBACK(&ReferenceCapture::OnBuffer), this);
    gst_object_unref(out);
    gst_element_set_state(pipeline_, GST_STATE_PLAYING);
    gst_element_get_state(pipeline_, nullptr, nullptr, 3 * GST_SECOND);
  }
  ~ReferenceCapture() {
    gst_element_set_state(pipeline_, GST_STATE_NULL);
    gst_object_unref(pipeline_);
  }
  // The source's own rate, which the program records in too.
  int rate() {
    std::lock_guard lock(mutex_);
    return rate_;
  }
  // The frame the source was at when the clock read `time`.
  double FrameAt(GstClockTime time) {
    std::lock_guard lock(mutex_);
    auto mark = std::upper_bound(marks_.begin(), marks_.end(), time,
                                 [](GstClockTime t, const auto& m) { return t < m.first; });
    if (mark == marks_.begin())
      return -1;
    --mark;
    return static_cast<double>(mark->second) +
           static_cast<double>(time - mark->first) * rate_ / GST_SECOND;
  }
  // True when the frames [from, from + count) hold any sound.
  bool Sounds(long from, long count) {
    std::lock_guard lock(mutex_);
    const auto begin = samples_.begin() + std::max(0L, from) * kChannels;
    const auto end =
        samples_.begin() +
        std::min<long>(from + count, static_cast<long>(samples_.size() / kChannels)) * kChannels;
    return begin < end && std::any_of(begin, end, [](std::int16_t v) { return v != 0; });
  }
  // Where `wanted` (interleaved) starts, searched within `range` frames of `near`; -1 if it is
  // not there (on average 16 steps per sample are allowed: PipeWire passes the samples through
  // floating point; a click train one click off differs by far more).
  long Find(const std::int16_t* wanted, std::size_t frames, double near, long range) {
    std::lock_guard lock(mutex_);
    const long total = static_cast<long>(samples_.size() / kChannels);
    long best = -1;
    std::int64_t bestCost = static_cast<std::int64_t>(frames) * kChannels * 16 + 1;
    for (long at = std::max(0L, static_cast<long>(near) - range);
         at <= std::min(total - static_cast<long>(frames), static_cast<long>(near) + range); ++at) {
      std::int64_t cost = 0;
      const std::int16_t* have = samples_.data() + at * kChannels;
      for (std::size_t i = 0; i < frames * kChannels && cost < bestCost; ++i)
        cost += std::abs(have[i] - wanted[i]);
      if (cost < bestCost) {
        bestCost = cost;
        best = at;
      }
    }
    return best;
  }

 private:
  static void OnBuffer(GstElement* sink, GstBuffer* buffer, GstPad* pad, gpointer data) {
    auto* self = static_cast<ReferenceCapture*>(data);
    GstMapInfo map;
    if (!gst_buffer_map(buffer, &map, GST_MAP_READ))
      return;
    std::lock_guard lock(self->mutex_);
    if (self->rate_ == 0) {
      GstCaps* caps = gst_pad_get_current_caps(pad);
      gst_structure_get_int(gst_caps_get_structure(caps, 0), "rate", &self->rate_);
      gst_caps_unref(caps);
    }
    if (GST_BUFFER_PTS_IS_VALID(buffer))
      self->marks_.emplace_back(GST_BUFFER_PTS(buffer) + gst_element_get_base_time(sink),
                                self->samples_.size() / kChannels);
    const auto* first = reinterpret_cast<const std::int16_t*>(map.data);
    self->samples_.insert(self->samples_.end(), first, first + map.size / 2);
    gst_buffer_unmap(buffer, &map);
  }

  GstElement* pipeline_ = nullptr;
  std::mutex mutex_;
  std::vector<std::int16_t> samples_;
  std::vector<std::pair<GstClockTime, std::size_t>> marks_;
  int rate_ = 0;
};

void WaitForStart(const recorder::RecorderEngine& engine) {
  while (engine.starting()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
}

void Pump(int ms) {
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < ms)
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents,
                                    static_cast<int>(ms - t.elapsed()));
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  gst_init(&argc, &argv);
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
  const int takes = argc > 2 ? std::atoi(argv[2]) : 5;
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

  rusage before{};
  getrusage(RUSAGE_SELF, &before);
  QElapsedTimer clock;
  clock.start();
  // Watches the files from another thread while the start runs.
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
  WaitForStart(engine);
  const qint64 startedMs = clock.elapsed();
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
  std::printf("| Record command returned | %lld ms |\n", static_cast<long long>(recordReturnedMs));
  std::printf("| Record command to the start reported (graph running) | %lld ms |\n",
              static_cast<long long>(startedMs));
  std::printf("| Stop to both files complete | %lld ms |\n", static_cast<long long>(stopMs));
  std::printf("| CPU per recorded minute, program | %.2f s |\n", programCpu / minutes);
  std::printf("| CPU per recorded minute, gst-launch pulsesrc ! lamemp3enc | %.2f s |\n",
              bareCpu / minutes);
  std::printf("| CPU ratio program / pipeline | %.2f |\n", programCpu / bareCpu);
  std::printf("| peak resident memory, program | %ld MiB |\n", after.ru_maxrss / 1024);
  std::printf("| MP3 size after %d s | %ld bytes |\n", seconds, FileSize(engine.outputFile()));

  const QString clicks = dir.filePath(QStringLiteral("clicks.wav"));
  WriteClickTrain(clicks, 8 * takes + 10);
  const pid_t clickPlayer = tonvale::testing::StartProgram(
      {"gst-launch-1.0", "-q", "filesrc", "location=" + clicks.toStdString(), "!", "wavparse", "!",
       "pulsesink", "device=bench"});
  QThread::msleep(1000);
  std::printf(
      "| take | Record on the window's thread | start offset | end offset | continuous |\n"
      "|---|---|---|---|---|\n");
  {
    // A first, unmeasured take tells the rate the program records the source in.
    engine.OnRecord();
    WaitForStart(engine);
    Pump(500);
    engine.OnStop();
    ReferenceCapture reference("bench.monitor",
                               static_cast<int>(ReadWav(engine.tempWavFile()).rate));
    Pump(500);
    // The last take keeps the 5 s before Record: it starts that much before the press.
    double wordBeforePress = -1;
    for (int take = 1; take <= takes + 1; ++take) {
      const bool preRoll = take > takes;
      if (preRoll) {
        engine.SetPreRoll(true);
        Pump(recorder::RecorderEngine::kPreRollMs + 1000);
      }
      const GstClockTime pressed = platform::GstPreRoll::Now();
      QElapsedTimer onThread;
      onThread.start();
      engine.OnRecord();
      const double recordMs = static_cast<double>(onThread.nsecsElapsed()) / 1e6;
      WaitForStart(engine);
      Pump(static_cast<int>(3000 - (platform::GstPreRoll::Now() - pressed) / GST_MSECOND));
      const GstClockTime stopped = platform::GstPreRoll::Now();
      engine.OnStop();
      Pump(300);
      const std::vector<std::int16_t> wav = ReadWav(engine.tempWavFile()).samples;
      // The start is found from a stretch a little into the file, since a server may begin a
      // stream with silence in place of sound; such silence counts as missing.
      const int rate = reference.rate();
      const auto kProbe = static_cast<std::size_t>(rate / 10);
      const auto kInto = static_cast<std::size_t>(rate * 3 / 10);
      const double kept = preRoll ? recorder::RecorderEngine::kPreRollMs * rate / 1000.0 : 0;
      const double startFrame = reference.FrameAt(pressed) - kept;
      const double stopFrame = reference.FrameAt(stopped);
      const std::size_t frames = wav.size() / kChannels;
      const long into = frames < kInto + kProbe
                            ? -1
                            : reference.Find(wav.data() + kInto * kChannels, kProbe,
                                             startFrame + static_cast<double>(kInto), rate);
      const long last = frames < kProbe
                            ? -1
                            : reference.Find(wav.data() + (frames - kProbe) * kChannels, kProbe,
                                             stopFrame - static_cast<double>(kProbe), rate);
      const auto ms = [rate](double f) { return f * 1000.0 / rate; };
      const char* label = preRoll ? "with the 5 s before" : "";
      if (into < 0 || last < 0 || startFrame < 0 || stopFrame < 0) {
        std::printf("| %d %s | %.1f ms | not found | not found | |\n", take, label, recordMs);
      } else {
        long first = into - static_cast<long>(kInto);
        const auto silent = static_cast<long>(std::find_if(wav.begin(), wav.end(),
                                                           [](std::int16_t v) { return v != 0; }) -
                                              wav.begin()) /
                            kChannels;
        // Every quarter second of the file is where the first part puts it: nothing is
        // missing or repeated in between.
        int jumps = 0;
        for (std::size_t at = kInto; at + kProbe <= frames;
             at += static_cast<std::size_t>(rate / 4)) {
          const long expected = into + static_cast<long>(at - kInto);
          if (reference.Find(wav.data() + at * kChannels, kProbe, static_cast<double>(expected),
                             rate / 10) != expected)
            ++jumps;
        }
        if (reference.Sounds(first, silent))
          first += silent;
        if (preRoll) {
          // A word said 2 s before the press: where the file holds it, against the five-second
          // mark where the press is heard (target 2.00 +- 0.05 s).
          const double word = reference.FrameAt(pressed - 2 * GST_SECOND);
          wordBeforePress = 5.0 - (word - static_cast<double>(first)) / rate;
        }
        std::printf("| %d %s | %.1f ms | %+.1f ms | %+.1f ms | %s |\n", take, label, recordMs,
                    ms(static_cast<double>(first) - startFrame),
                    ms(static_cast<double>(last + static_cast<long>(kProbe)) - stopFrame),
                    jumps == 0 ? "yes" : "no");
      }
      Pump(1000);
    }
    engine.SetPreRoll(false);
    if (wordBeforePress >= 0)
      std::printf(
          "\nWith the 5 s before: a sound 2 s before the press is %.3f s before the "
          "file's five-second mark.\n",
          wordBeforePress);
  }
  std::printf(
      "\nStart offset: where the file starts against the Record press (5 s before it for the "
      "last take); end offset: where it ends against the Stop press (negative: audio before "
      "the press is missing, or the end is cut). Continuous: every quarter second of the file "
      "follows on from its start, nothing missing or repeated.\n\n");
  tonvale::testing::StopProcess(clickPlayer);

  return 0;
}
