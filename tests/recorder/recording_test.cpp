// Recording through the real engine, graph, sink plugin and sound server.

#include <gtest/gtest.h>

#include <QTest>
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

using recorder::id::kSoundCards;
using Command = std::function<void()>;
using Commands = std::vector<std::pair<Command, int>>;  // each followed by its milliseconds
constexpr double kAmplitude = 0.9;

// A null sink's monitor playing one tone per channel.
struct Source {
  std::string sink;
  int rate;
  std::vector<int> toneHz;
  std::string channelMap;
};
// clang-format off
const Source kSources[] = {
    {"a_stereo", 44100, {440, 660}, "front-left,front-right"},
    {"b_mono", 48000, {440}, "mono"},
    {"c_surround", 48000, {440, 660, 550, 110, 330, 880}, "front-left,front-right,front-center,lfe,rear-left,rear-right"},
};
// clang-format on

class RecordingTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = MakeTempDir("tonvale-recording-");
    setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);
    server_.emplace();
    for (const Source& s : kSources) {
      const std::string channels = std::to_string(s.toneHz.size()), rate = std::to_string(s.rate);
      server_->loadNullSink(
          s.sink, {}, {"channels=" + channels, "rate=" + rate, "channel_map=" + s.channelMap});
      const std::string file = Path(s.sink, ".src.wav");
      std::string sox = "sox -n -b 16 -r " + rate + " -c " + channels + " " + file + " synth 60";
      for (int hz : s.toneHz) sox += " sine " + std::to_string(hz);
      if (RunProgram({"sh", "-c", sox + " vol " + std::to_string(kAmplitude)}) == 0)
        server_->playFile(s.sink, file);
    }
    QTest::qWait(1500);  // a freshly fed null sink renders in blocks of about a second at first
  }
  static void TearDownTestSuite() {
    server_.reset();
    std::filesystem::remove_all(dir_);
  }
  static std::string Path(const std::string& s, const char* ext) { return dir_ + "/" + s + ext; }

  // Runs the commands on a window (still open while it has a graph) recording `sink` into
  // <sink>.mp3 and .wav; gives the length the recording should have and by how much it may be off.
  std::pair<double, double> Run(const std::string& sink, const Commands& commands) {
    if (!engine_ || !engine_->hasGraph() || sink != sink_) {
      engine_.reset();
      boxes_.shown.clear();
      controls_.emplace();
      engine_.emplace(recorder::EngineServices{media_, handOff_, boxes_, desktop_}, *controls_);
      controls_->engine = &*engine_;
      sink_ = sink;
      // The sink's monitor, by the identity start-up remembers.
      engine_->Load({0, 0, 1, QString::fromStdString(sink + ".monitor"),
                     QString::fromStdString(Path(sink, ".mp3"))});
      engine_->SetTempWavFile(QString::fromStdString(Path(sink, ".wav")));
      EXPECT_TRUE(engine_->CreateCaptureGraph() == S_OK &&
                  Succeeded(engine_->EnumerateSoundCards()));
    }
    using Clock = std::chrono::steady_clock;
    std::chrono::duration<double> ran{}, slack{0.15};
    Clock::time_point since;
    for (const auto& [command, ms] : commands) {
      const bool wasRunning = engine_->recording();
      const Clock::time_point called = Clock::now();
      command();
      const Clock::duration took = Clock::now() - called;
      if (wasRunning != engine_->recording()) {
        ran += wasRunning ? called + took / 2 - since : Clock::duration{};
        since = called + took / 2;
        slack += took / 2;
      }
      QTest::qWait(ms);
    }
    EXPECT_TRUE(boxes_.shown.empty()) << boxes_.shown[0].text.toStdString();
    return {ran.count(), slack.count()};
  }

  inline static std::optional<PrivatePulse> server_;
  inline static std::string dir_;
  platform::GstMediaFactory media_{platform::GstMediaFactory::DefaultPluginDir(),
                                   &platform::CreatePulseDeviceEnumerator};
  settings::QSettingsSinkHandOff handOff_;
  FakeMessageBoxes boxes_;  // the window's
  FakeDesktop desktop_;
  std::optional<FakeControls> controls_;
  std::optional<recorder::RecorderEngine> engine_;
  std::string sink_;
  // Record returns while the capture starts; the command ends with the start, as it did when
  // Record waited for it.
  const Command record = [this] {
    engine_->OnRecord();
    while (engine_->starting()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  };
  const Command stop = [this] { engine_->OnStop(); };
};

// A recording keeps the source's rate, tones (more than two channels mixed to two) and levels,
// unclipped, in complete files, also when made again in a window after a build failed there.
TEST_F(RecordingTest, KeepsTheSourcesRateChannelsAndLevelInCompleteFiles) {
  // With no device bound the build fails, a box tells, and the chain is taken down.
  const Command failed = [this] {
    const int card = controls_->ComboGetCurSel(kSoundCards);
    controls_->ComboSetCurSel(kSoundCards, -1);
    engine_->OnSoundCardSelected();
    engine_->OnRecord();
    EXPECT_FALSE(engine_->recording());
    EXPECT_EQ(boxes_.shown.size(), 1u);
    boxes_.shown.clear();
    controls_->ComboSetCurSel(kSoundCards, card);
    engine_->OnSoundCardSelected();
  };
  const Commands once = {{record, 2500}, {stop, 0}};
  const std::pair<const Source&, Commands> recordings[] = {
      {kSources[0], once},
      {kSources[1], once},
      {kSources[1], {{failed, 0}, {record, 2500}, {stop, 0}}},
      {kSources[2], once},
  };
  const double sineDb = 20 * std::log10(kAmplitude / std::sqrt(2.0));
  // 5.1 to stereo: front 0.4142, centre and rear 0.2929 (1 : 0.7071 : 0.7071, summing to 1).
  const double surroundDb =
      20 * std::log10(kAmplitude * std::sqrt((0.41421 * 0.41421 + 2 * 0.29289 * 0.29289) / 2));
  for (const auto& [s, commands] : recordings) {
    SCOPED_TRACE(s.sink + (commands.size() > 2 ? ", again" : ""));
    const auto [seconds, tolerance] = Run(s.sink, commands);
    for (const char* ext : {".mp3", ".wav"}) {
      const auto audio = AnalyzeAudioFile(Path(s.sink, ext));
      ASSERT_TRUE(audio.ok) << ext << audio.error;
      EXPECT_NEAR(audio.durationSeconds, seconds, tolerance) << ext;
      EXPECT_NEAR(HeaderDurationSeconds(Path(s.sink, ext)), audio.durationSeconds, 0.1) << ext;
      EXPECT_EQ(audio.sampleRate, s.rate) << ext;
      EXPECT_LT(audio.longestSilenceSeconds, 0.2) << ext;
      ASSERT_EQ(audio.channelFrequencyHz.size(), std::min(s.toneHz.size(), std::size_t{2})) << ext;
      for (std::size_t c = 0; c < audio.channelFrequencyHz.size(); ++c)
        EXPECT_NEAR(audio.channelFrequencyHz[c], s.toneHz[c], 3) << ext << " channel " << c;
      if (std::string_view(ext) == ".wav") {
        // The PCM itself: every channel's level, nothing clipped. PipeWire starts a capture
        // stream with a quantum of silence (2048 frames, 43 ms at 48 kHz); PulseAudio does not.
        for (double db : audio.channelLevelDb)
          EXPECT_NEAR(db, s.toneHz.size() > 2 ? surroundDb : sineDb, 0.1);
        EXPECT_LT(audio.peak, 0.99);
        EXPECT_LT(audio.leadingSilenceSeconds,
                  server_->server() == SoundServer::PipeWire ? 0.05 : 0.01);
      }
    }
  }
}

// With the seconds before Record kept, both files begin with the 5 s before the press, joined
// to the rest without a gap; the same start without them holds the interval alone (above).
TEST_F(RecordingTest, BeginsWithTheFiveSecondsBeforeRecordWhenAsked) {
  const Command keep = [this] { engine_->SetPreRoll(true); };
  const auto [seconds, tolerance] =
      Run(kSources[0].sink, {{keep, 6000}, {record, 1500}, {stop, 0}});
  for (const char* ext : {".mp3", ".wav"}) {
    const auto audio = AnalyzeAudioFile(Path(kSources[0].sink, ext));
    ASSERT_TRUE(audio.ok) << ext << audio.error;
    EXPECT_NEAR(audio.durationSeconds, seconds + 5.0, tolerance + 0.05) << ext;
    EXPECT_LT(audio.longestSilenceSeconds, 0.05) << ext;
    ASSERT_FALSE(audio.channelFrequencyHz.empty()) << ext;
    EXPECT_NEAR(audio.channelFrequencyHz[0], kSources[0].toneHz[0], 3) << ext;
  }
}

}  // namespace
}  // namespace tonvale::testing
