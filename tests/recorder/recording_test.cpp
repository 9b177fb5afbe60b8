// Recording through the real engine, graph, sink plugin and sound server: what a recording
// holds, and that its files are complete however it ends.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <optional>

#include "audio_analysis.h"
#include "fake_controls.h"
#include "fake_services.h"
#include "platform/gst/media_factory_gst.h"
#include "platform/pulse/pulse_devices.h"
#include "private_server.h"
#include "recorder/recorder_engine.h"
#include "settings/sink_hand_off.h"

namespace tonvale::testing {
namespace {

using recorder::RecorderEngine;
using namespace Qt::StringLiterals;
using Command = std::function<void()>;
using Commands = std::vector<std::pair<Command, int>>;  // each followed by its milliseconds
constexpr double kAmplitude = 0.9;
constexpr int kToneHz = 1000;
const std::string kTone = "tonvale_test";
const std::string kGone = "tonvale_gone";  // unloaded while recording

// A null sink's monitor playing one tone per channel. A recording keeps the rate and up to
// two channels; more are mixed down to two.
struct Source {
  std::string sink;
  int channels, rate;
  std::vector<int> toneHz;
  std::string channelMap;
};
const Source kSources[] = {
    {"a_stereo", 2, 44100, {440, 660}, {}},
    {"b_mono", 1, 44100, {440}, {}},
    {"c_stereo48", 2, 48000, {440, 660}, {}},
    {"d_surround",
     6,
     48000,
     {440, 660, 550, 110, 330, 880},
     "front-left,front-right,front-center,lfe,rear-left,rear-right"},
};

// The main window: its controls and its engine on the real media layer.
struct Window {
  FakeMessageBoxes boxes;
  FakeDesktop desktop;
  FakeControls controls;
  RecorderEngine engine;
  Window(platform::MediaFactory& media, platform::SinkHandOff& handOff)
      : engine({media, handOff, boxes, desktop}, controls) {
    controls.engine = &engine;
  }
};

class RecordingTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = MakeTempDir("tonvale-recording-");
    setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);
    server_.emplace(std::vector<std::string>{kTone});
    gone_ = server_->loadNullSink(kGone);
    for (const std::string& sink : {kTone, kGone}) server_->playTone(sink, kToneHz);
    for (const Source& s : kSources) {
      std::vector<std::string> args = {"channels=" + std::to_string(s.channels),
                                       "rate=" + std::to_string(s.rate)};
      if (!s.channelMap.empty())
        args.push_back("channel_map=" + s.channelMap);
      server_->loadNullSink(s.sink, s.sink, args);
      const std::string tones = Path(s.sink + "-tones.wav");
      std::vector<std::string> sox = {"sox", "-n", "-b", "16", "-r", std::to_string(s.rate), "-c"};
      sox.insert(sox.end(), {std::to_string(s.channels), tones, "synth", "60"});
      for (int hz : s.toneHz) sox.insert(sox.end(), {"sine", std::to_string(hz)});
      sox.insert(sox.end(), {"vol", std::to_string(kAmplitude)});
      if (RunProgram(sox) == 0)
        server_->playFile(s.sink, tones);
    }
    QThread::msleep(1500);  // a freshly fed null sink renders in blocks of about a second at first
  }
  static void TearDownTestSuite() {
    server_.reset();
    std::filesystem::remove_all(dir_);
  }
  static std::string Path(const std::string& name) { return dir_ + "/" + name; }
  static void ProcessEventsFor(int ms) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
      QThread::msleep(10);
    }
  }

  // A window recording from the monitor of `sink` into <sink>.mp3, its WAV beside it.
  void Open(const std::string& sink) {
    window_.reset();
    window_.emplace(media_, handOff_);
    sink_ = sink;
    RecorderEngine& engine = window_->engine;
    engine.SetOnlyOnce(1);
    engine.SetTempWavFile(QString::fromStdString(Path(sink + ".wav")));
    engine.Load({0, 0, 1, {}, QString::fromStdString(Path(sink + ".mp3"))});
    engine.ResetGraphMembers();
    ASSERT_EQ(engine.CreateCaptureGraph(), S_OK);
    ASSERT_TRUE(Succeeded(engine.EnumerateSoundCards()));
    const int card =
        window_->controls.Find(recorder::id::kSoundCards, QString::fromStdString(" " + sink));
    ASSERT_GE(card, 0);
    window_->controls.ComboSetCurSel(recorder::id::kSoundCards, card);
    engine.OnSoundCardSelected();
  }

  // Runs the commands on a window recording from `sink` (the one open, while it has a graph)
  // and gives the shortest and the longest the recording can be: the time the graph surely
  // ran (from the return of a Record to the call of the next command) and the time it may
  // have run (from that call to that return). A busy machine widens the window, never the check.
  std::pair<double, double> Run(const std::string& sink, const Commands& commands) {
    if (!window_ || !window_->engine.hasGraph() || sink != sink_)
      Open(sink);
    const auto running = [this] {
      return window_ && window_->engine.recording() && !window_->engine.paused();
    };
    using Clock = std::chrono::steady_clock;
    const auto seconds = [](Clock::duration d) { return std::chrono::duration<double>(d).count(); };
    double shortest = 0;
    double longest = 0;
    Clock::time_point since[2];
    for (const auto& [command, ms] : commands) {
      const bool wasRunning = running();
      const Clock::time_point called = Clock::now();
      command();
      const Clock::time_point returned = Clock::now();
      if (wasRunning && !running()) {
        shortest += seconds(called - since[1]);
        longest += seconds(returned - since[0]);
      } else if (!wasRunning && running()) {
        since[0] = called;
        since[1] = returned;
      }
      ProcessEventsFor(ms);
    }
    return {shortest, longest};
  }

  inline static std::optional<PrivatePulse> server_;
  inline static std::string dir_;
  inline static int gone_ = -1;  // the module of kGone
  platform::GstMediaFactory media_{platform::GstMediaFactory::DefaultPluginDir(),
                                   &platform::CreatePulseDeviceEnumerator};
  settings::QSettingsSinkHandOff handOff_;
  std::optional<Window> window_;
  std::string sink_;
  const Command record = [this] { window_->engine.OnRecord(); };
  const Command pause = [this] { window_->engine.OnPause(); };
  const Command stop = [this] { window_->engine.OnStop(); };
};

TEST_F(RecordingTest, KeepsTheSourcesRateAndChannelsAndItsLevelUnclipped) {
  const double sineDb = 20 * std::log10(kAmplitude / std::sqrt(2.0));
  // 5.1 to stereo: front 0.4142, centre and rear 0.2929 (1 : 0.7071 : 0.7071, summing to 1).
  const double surroundDb =
      20 * std::log10(kAmplitude * std::sqrt((0.41421 * 0.41421 + 2 * 0.29289 * 0.29289) / 2));
  for (const Source& s : kSources) {
    SCOPED_TRACE(s.sink);
    const auto [shortest, longest] = Run(s.sink, {{record, 2500}, {stop, 0}});
    EXPECT_TRUE(window_->boxes.shown.empty()) << window_->boxes.shown[0].text.toStdString();
    const std::size_t channels = std::min(s.toneHz.size(), std::size_t{2});
    for (const std::string& file : {Path(s.sink + ".mp3"), Path(s.sink + ".wav")}) {
      SCOPED_TRACE(file);
      const auto audio = AnalyzeAudioFile(file);
      ASSERT_TRUE(audio.ok) << audio.error;
      EXPECT_NEAR(audio.durationSeconds, (shortest + longest) / 2, (longest - shortest) / 2 + 0.15);
      EXPECT_NEAR(HeaderDurationSeconds(file), audio.durationSeconds, 0.1);
      EXPECT_EQ(audio.sampleRate, s.rate);
      ASSERT_EQ(audio.channelFrequencyHz.size(), channels);
      for (std::size_t c = 0; c < channels; ++c)
        EXPECT_NEAR(audio.channelFrequencyHz[c], s.toneHz[c], 3) << "channel " << c;
      if (file.ends_with(".wav")) {
        // The PCM itself: the level of every channel, and nothing clipped.
        for (double db : audio.channelLevelDb)
          EXPECT_NEAR(db, s.channels > 2 ? surroundDb : sineDb, 0.1);
        EXPECT_LT(audio.peak, 0.99);
        // PipeWire starts a new capture stream with a quantum of silence (2048 frames, 43 ms
        // at 48 kHz); PulseAudio delivers the tone from the first frame.
        EXPECT_LT(audio.leadingSilenceSeconds,
                  server_->server() == SoundServer::PipeWire ? 0.05 : 0.01);
      }
    }
  }
}

// Paused time is left out, and the files are complete however a recording ends: by Stop, by
// the close command, with the window gone, or with its device. Before a recording, a start
// that was refused or a build that failed disturb nothing.
TEST_F(RecordingTest, PausedTimeIsLeftOutAndTheFilesAreCompleteHoweverARecordingEnds) {
  const Command close = [this] {
    window_->engine.StopForClose();
    window_->engine.TearDownCapture();
  };
  const Command gone = [this] { window_.reset(); };
  // An output that cannot be written is named before anything is built; a build that fails
  // (with no device bound) leaves its sink and File Writer in the graph.
  const Command refused = [this] {
    auto& [boxes, desktop, controls, engine] = *window_;
    const QString output = controls.field;
    const QString missing = QString::fromStdString(Path("missing/out.mp3"));
    controls.field = missing;
    engine.OnRecord();
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_TRUE(boxes.shown[0].text.contains(u"\"%1\""_s.arg(missing)));
    boxes.shown.clear();
    controls.field = output;
    const int card = controls.ComboGetCurSel(recorder::id::kSoundCards);
    controls.ComboSetCurSel(recorder::id::kSoundCards, -1);
    engine.OnSoundCardSelected();
    engine.OnRecord();
    EXPECT_FALSE(engine.recording());
    controls.ComboSetCurSel(recorder::id::kSoundCards, card);
    engine.OnSoundCardSelected();
  };
  // PulseAudio fails the capture, PipeWire moves the stream to another source: either way the
  // device's watch reports the removal, which ends the recording.
  const Command unplug = [this] {
    ASSERT_EQ(server_->pactl({"unload-module", std::to_string(gone_)}), 0);
    for (int i = 0; i < 50 && window_->engine.recording(); ++i) ProcessEventsFor(100);
    EXPECT_EQ(window_->controls.ComboCount(recorder::id::kSoundCards), 0);
  };
  // What ends it, the source, the one box it shows (if any), the commands.
  const std::tuple<const char*, std::string, const char*, Commands> recordings[] = {
      {"resumed", kTone, nullptr, {{record, 1500}, {pause, 1000}, {record, 1500}, {stop, 0}}},
      {"again, stopped while paused", kTone, nullptr, {{record, 1500}, {pause, 1500}, {stop, 0}}},
      {"refused, failed, started", kTone, nullptr, {{refused, 0}, {record, 1000}, {stop, 0}}},
      {"closed", kTone, nullptr, {{record, 1500}, {close, 0}}},
      {"window gone", kTone, nullptr, {{record, 1500}, {gone, 0}}},
      {"unplugged", kGone, "The selected input device was removed!", {{record, 1500}, {unplug, 0}}},
  };
  for (const auto& [what, sink, box, commands] : recordings) {
    SCOPED_TRACE(what);
    const auto [shortest, longest] = Run(sink, commands);
    QStringList shown;
    for (const auto& b : window_ ? window_->boxes.shown : std::vector<ShownBox>{}) shown << b.text;
    EXPECT_EQ(shown, box ? QStringList{QString::fromLatin1(box)} : QStringList{})
        << "a capture failing with its device is no error of its own";
    for (const std::string& file : {Path(sink + ".mp3"), Path(sink + ".wav")})
      ExpectTone(file, (shortest + longest) / 2, (longest - shortest) / 2 + 0.15, kToneHz);
  }
}

}  // namespace
}  // namespace tonvale::testing
