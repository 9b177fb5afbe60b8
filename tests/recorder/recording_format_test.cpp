// Recording through the real engine, graph, sink plugin and sound server: a recording keeps
// the source's channels and rate, and a source of more channels is mixed down the same way on
// PulseAudio and PipeWire, without clipping.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "audio_analysis.h"
#include "fake_controls.h"
#include "fake_services.h"
#include "platform/gst/media_factory_gst.h"
#include "platform/pulse/pulse_devices.h"
#include "private_server.h"
#include "recorder/recorder_engine.h"
#include "settings/sink_hand_off.h"

namespace tonvale {
namespace {

using testing::AnalyzeAudioFile;

struct Source {
  std::string sink;
  std::vector<std::string> moduleArgs;
  int channels;  // of the played file and the sink
  int rate;
  std::vector<int> toneHz;  // one per channel, at 0.9 of full scale
  // What the recording must hold.
  int recordedChannels;
  int recordedRate;
  std::vector<int> recordedHz;  // the strongest tone of each recorded channel
  double levelDb;               // of each recorded channel
};

void PrintTo(const Source& s, std::ostream* out) {
  *out << s.sink;
}

constexpr double kToneAmplitude = 0.9;
const double kSineDb = 20 * std::log10(kToneAmplitude / std::sqrt(2.0));
// 5.1 to stereo: front 0.4142, centre and rear 0.2929 (1 : 0.7071 : 0.7071, summing to 1).
const double kSurroundDb =
    20 * std::log10(kToneAmplitude * std::sqrt((0.41421 * 0.41421 + 2 * 0.29289 * 0.29289) / 2));

const std::vector<Source>& Sources() {
  static const std::vector<Source> sources = {
      {"a_stereo", {"rate=44100"}, 2, 44100, {440, 660}, 2, 44100, {440, 660}, kSineDb},
      {"b_mono", {"channels=1", "rate=44100"}, 1, 44100, {440}, 1, 44100, {440}, kSineDb},
      {"c_stereo48", {"rate=48000"}, 2, 48000, {440, 660}, 2, 48000, {440, 660}, kSineDb},
      {"d_surround",
       {"channels=6", "rate=48000",
        "channel_map=front-left,front-right,front-center,lfe,rear-left,rear-right"},
       6,
       48000,
       {440, 660, 550, 110, 330, 880},
       2,
       48000,
       {440, 660},
       kSurroundDb},
  };
  return sources;
}

class RecordingFormatTest : public ::testing::TestWithParam<Source> {
 protected:
  static void SetUpTestSuite() {
    dir_ = new std::string(testing::MakeTempDir("tonvale-format-"));
    setenv("XDG_CONFIG_HOME", dir_->c_str(), 1);
    pulse_ = new testing::PrivatePulse(std::vector<std::string>{});
    for (const Source& s : Sources()) pulse_->loadNullSink(s.sink, s.sink, s.moduleArgs);
  }
  static void TearDownTestSuite() {
    delete pulse_;
    std::filesystem::remove_all(*dir_);
    delete dir_;
  }

  static std::string TonesFile(const Source& s) {
    const std::string path = *dir_ + "/" + s.sink + ".wav";
    std::vector<std::string> argv = {
        "sox", "-n",    "-r", std::to_string(s.rate), "-c", std::to_string(s.channels), "-b", "16",
        path,  "synth", "30"};
    for (int hz : s.toneHz) {
      argv.push_back("sine");
      argv.push_back(std::to_string(hz));
    }
    argv.insert(argv.end(), {"vol", std::to_string(kToneAmplitude)});
    return testing::RunProgram(argv) == 0 ? path : std::string();
  }

  static void ProcessEventsFor(int ms) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
      QThread::msleep(10);
    }
  }

  inline static testing::PrivatePulse* pulse_ = nullptr;
  inline static std::string* dir_ = nullptr;
};

TEST_P(RecordingFormatTest, KeepsTheSourcesChannelsRateAndLevel) {
  const Source& s = GetParam();
  ASSERT_TRUE(pulse_->started());
  const std::string tones = TonesFile(s);
  ASSERT_FALSE(tones.empty());
  ASSERT_GT(pulse_->playFile(s.sink, tones), 0);
  // A freshly fed null sink renders in blocks of about a second at first.
  QThread::msleep(1500);

  platform::GstMediaFactory media(platform::GstMediaFactory::DefaultPluginDir(),
                                  &platform::CreatePulseDeviceEnumerator);
  settings::QSettingsSinkHandOff handOff;
  testing::FakeMessageBoxes boxes;
  testing::FakeDesktop desktop;
  testing::FakeControls controls;
  recorder::RecorderEngine engine({media, handOff, boxes, desktop}, controls);
  controls.engine = &engine;
  engine.SetOnlyOnce(1);
  engine.SetTempWavFile(QString::fromStdString(*dir_ + "/" + s.sink + "-temp.wav"));
  engine.Load({0, 0, 1, {}, QString::fromStdString(*dir_ + "/" + s.sink + ".mp3")});
  engine.ResetGraphMembers();
  ASSERT_EQ(engine.CreateCaptureGraph(), S_OK);
  ASSERT_TRUE(Succeeded(engine.EnumerateSoundCards()));
  const int card = controls.Find(recorder::id::kSoundCards, QString::fromStdString(" " + s.sink));
  ASSERT_GE(card, 0);
  controls.ComboSetCurSel(recorder::id::kSoundCards, card);
  engine.OnSoundCardSelected();

  engine.OnRecord();
  ASSERT_TRUE(engine.recording());
  ProcessEventsFor(2500);
  engine.OnStop();
  EXPECT_TRUE(boxes.shown.empty()) << boxes.shown.front().text.toStdString();

  for (const std::string& file :
       {engine.outputFile().toStdString(), engine.tempWavFile().toStdString()}) {
    SCOPED_TRACE(file);
    const auto audio = AnalyzeAudioFile(file);
    ASSERT_TRUE(audio.ok) << audio.error;
    EXPECT_EQ(audio.channels, s.recordedChannels);
    EXPECT_EQ(audio.sampleRate, s.recordedRate);
    ASSERT_EQ(audio.channelFrequencyHz.size(), s.recordedHz.size());
    for (std::size_t c = 0; c < s.recordedHz.size(); ++c) {
      EXPECT_NEAR(audio.channelFrequencyHz[c], s.recordedHz[c], 3) << "channel " << c;
    }
    if (file.ends_with(".wav")) {
      // The PCM itself: the level of every channel, and nothing clipped.
      for (double db : audio.channelLevelDb) EXPECT_NEAR(db, s.levelDb, 0.1);
      EXPECT_LT(audio.peak, 0.99);
      // PipeWire starts a new capture stream with a quantum of silence (2048 frames, 43 ms
      // at 48 kHz); PulseAudio delivers the tone from the first frame.
      EXPECT_LT(audio.leadingSilenceSeconds,
                pulse_->server() == testing::SoundServer::PipeWire ? 0.05 : 0.01);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Sources, RecordingFormatTest, ::testing::ValuesIn(Sources()),
                         [](const auto& source) { return source.param.sink.substr(2); });

}  // namespace
}  // namespace tonvale
