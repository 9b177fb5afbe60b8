// The WAV Dest plugin as the program and gst-launch-1.0 use it: loaded from the build tree,
// fed a generated tone, its MP3 and WAV decoded and measured.

#include <gst/gst.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <QSettings>
#include <QString>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "audio_analysis.h"
#include "platform/sink_contract.h"
#include "private_server.h"
#include "sink_test_env.h"

namespace {

namespace fs = std::filesystem;
using tonvale::testing::AnalyzeAudioFile;
using tonvale::testing::HeaderDurationSeconds;

constexpr double kToneHz = 1000;

struct RunResult {
  bool eos = false;
  bool stateChangeFailed = false;
  GQuark errorDomain = 0;
  int errorCode = 0;
  std::string errorText;    // the first error on the bus
  std::string errorSource;  // name of the element that posted it
};

void SetHandOff(const QString& path) {
  using namespace tonvale::platform;
  QSettings settings(QSettings::NativeFormat, QSettings::UserScope,
                     QString::fromLatin1(kHandOffOrganisation),
                     QString::fromLatin1(kHandOffApplication));
  if (path.isNull())
    settings.remove(QString::fromLatin1(kHandOffKey));
  else
    settings.setValue(QString::fromLatin1(kHandOffKey), path);
}

class WavDestTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    registryDir_ = new std::string(tonvale::testing::InitGstWithSinkPlugin());
    ASSERT_FALSE(registryDir_->empty()) << "run through ctest";
  }
  static void TearDownTestSuite() {
    fs::remove_all(*registryDir_);
    delete registryDir_;
  }

  void SetUp() override {
    dir_ = tonvale::testing::MakeTempDir("tonvale-sink-");
    SetHandOff(QString());
  }
  void TearDown() override {
    SetHandOff(QString());
    fs::remove_all(dir_);
  }

  // Runs `tone seconds of 1 kHz (rate, channels) ! wav dest ! filesink wav` to its end; another
  // `wave` of audiotestsrc replaces the tone. An empty location leaves the property unset.
  RunResult RunTone(const std::string& location, const std::string& wav, int rate = 44100,
                    int channels = 1, double seconds = 2.0, bool live = false,
                    const std::string& wave = "sine") {
    const int perBuffer = rate / 50;
    const std::string description =
        "audiotestsrc name=tone wave=" + wave +
        " freq=1000 volume=0.5 samplesperbuffer=" + std::to_string(perBuffer) +
        (live ? " is-live=true" : "") +
        " num-buffers=" + std::to_string(static_cast<int>(seconds * 50)) +
        " ! audio/x-raw,format=S16LE,rate=" + std::to_string(rate) +
        ",channels=" + std::to_string(channels) + " ! tonvalewavdest name=dest" +
        " ! filesink name=wav";
    GError* error = nullptr;
    GstElement* pipeline = gst_parse_launch(description.c_str(), &error);
    EXPECT_NE(pipeline, nullptr) << (error ? error->message : "");
    g_clear_error(&error);
    RunResult result;
    if (pipeline == nullptr)
      return result;
    GstElement* dest = gst_bin_get_by_name(GST_BIN(pipeline), "dest");
    GstElement* wavSink = gst_bin_get_by_name(GST_BIN(pipeline), "wav");
    if (!location.empty())
      g_object_set(dest, "location", location.c_str(), nullptr);
    g_object_set(wavSink, "location", wav.c_str(), nullptr);

    result.stateChangeFailed =
        gst_element_set_state(pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE;
    GstBus* bus = gst_element_get_bus(pipeline);
    GstMessage* message = gst_bus_timed_pop_filtered(
        bus, 60 * GST_SECOND, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    if (message != nullptr && GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS) {
      result.eos = true;
    } else if (message != nullptr) {
      GError* gerror = nullptr;
      gst_message_parse_error(message, &gerror, nullptr);
      result.errorDomain = gerror->domain;
      result.errorCode = gerror->code;
      result.errorText = gerror->message;
      result.errorSource = GST_MESSAGE_SRC_NAME(message);
      g_error_free(gerror);
    }
    if (message != nullptr)
      gst_message_unref(message);
    gst_object_unref(bus);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(dest);
    gst_object_unref(wavSink);
    gst_object_unref(pipeline);
    return result;
  }

  std::string dir_;
  static std::string* registryDir_;
};

std::string* WavDestTest::registryDir_ = nullptr;

void ExpectToneFile(const std::string& path, int rate, int channels, double seconds,
                    double tolerance) {
  SCOPED_TRACE(path);
  const auto a = AnalyzeAudioFile(path);
  ASSERT_TRUE(a.ok) << a.error;
  EXPECT_EQ(a.sampleRate, rate);
  EXPECT_EQ(a.channels, channels);
  EXPECT_NEAR(a.durationSeconds, seconds, tolerance);
  EXPECT_NEAR(HeaderDurationSeconds(path), a.durationSeconds, tolerance);
  EXPECT_NEAR(a.dominantFrequencyHz, kToneHz, 2.0);
  EXPECT_GT(a.rms, 0.25);  // a 0.5 sine is 0.354
  // A gap would show up as a run of silence; the encoder's start-up delay is well below this.
  EXPECT_LT(a.longestSilenceSeconds, 0.05);
}

TEST_F(WavDestTest, IsFoundByItsClassIdAndNamedWavDest) {
  GList* factories =
      gst_element_factory_list_get_elements(GST_ELEMENT_FACTORY_TYPE_ANY, GST_RANK_NONE);
  GstElementFactory* found = nullptr;
  for (GList* f = factories; f != nullptr; f = f->next) {
    auto* factory = static_cast<GstElementFactory*>(f->data);
    const gchar* id = gst_element_factory_get_metadata(factory, "tonvale-class-id");
    if (id != nullptr && std::string(id) == tonvale::platform::kSinkClassId) {
      EXPECT_EQ(found, nullptr) << "two factories carry the class id";
      found = factory;
    }
  }
  ASSERT_NE(found, nullptr);
  EXPECT_STREQ(gst_plugin_feature_get_name(GST_PLUGIN_FEATURE(found)), "tonvalewavdest");
  EXPECT_STREQ(gst_element_factory_get_metadata(found, GST_ELEMENT_METADATA_LONGNAME), "WAV Dest");
  GstElement* element = gst_element_factory_create(found, nullptr);
  ASSERT_NE(element, nullptr);
  GstPad* sink = gst_element_get_static_pad(element, "sink");
  GstPad* src = gst_element_get_static_pad(element, "src");
  ASSERT_NE(sink, nullptr);
  ASSERT_NE(src, nullptr);
  EXPECT_EQ(gst_pad_get_direction(sink), GST_PAD_SINK);
  EXPECT_EQ(gst_pad_get_direction(src), GST_PAD_SRC);
  gst_object_unref(sink);
  gst_object_unref(src);
  gst_object_unref(element);
  gst_plugin_feature_list_free(factories);
}

TEST_F(WavDestTest, ToneBecomesAnMp3AndAWavOfTheSameLengthAndPitch) {
  struct Case {
    int rate;
    int channels;
    double seconds;
    int mp3Channels;  // LAME takes at most two; audioconvert folds more to mono
  };
  for (const Case& c : {Case{44100, 1, 3.0, 1}, Case{48000, 2, 2.0, 2}, Case{44100, 2, 1.0, 2},
                        Case{48000, 6, 1.0, 1}}) {
    SCOPED_TRACE(std::to_string(c.rate) + " Hz, " + std::to_string(c.channels) + " ch");
    const std::string mp3 = dir_ + "/out.mp3";
    const std::string wav = dir_ + "/out.wav";
    const RunResult run = RunTone(mp3, wav, c.rate, c.channels, c.seconds);
    ASSERT_TRUE(run.eos) << run.errorText;
    ExpectToneFile(mp3, c.rate, c.mp3Channels, c.seconds, 0.1);
    ExpectToneFile(wav, c.rate, c.channels, c.seconds, 1e-6);
  }
}

// Interleaved S16 samples that a decoder run as `argv` wrote to `out`.
std::vector<std::int16_t> Decode(const std::vector<std::string>& argv, const std::string& out) {
  std::string output;
  EXPECT_EQ(tonvale::testing::RunProgram(argv, &output), 0) << output;
  std::ifstream in(out, std::ios::binary | std::ios::ate);
  std::vector<std::int16_t> samples(static_cast<std::size_t>(in.tellg()) / 2);
  in.seekg(0).read(reinterpret_cast<char*>(samples.data()),
                   static_cast<std::streamsize>(samples.size() * 2));
  return samples;
}

// Energy of (channel 0 of) `decoded`, `lag` samples early, minus `reference`, relative.
double Mismatch(const std::vector<std::int16_t>& reference,
                const std::vector<std::int16_t>& decoded, int channels, int lag) {
  double difference = 0, energy = 0;
  for (std::size_t i = 2000; i + 2000 < reference.size() / channels; ++i) {
    const double r = reference[i * channels];
    difference += std::pow(r - decoded.at((i + lag) * channels), 2);
    energy += r * r;
  }
  return difference / energy;
}

// Gapless decoders (they read the encoder delay and padding from the header) give back
// exactly the WAV's samples, in step with it, so recordings can be joined without a gap.
TEST_F(WavDestTest, Mp3DecodesToExactlyTheSamplesOfTheWav) {
  // 20 ms (one buffer) end before the encoder has put out a frame.
  for (const auto& [rate, channels, seconds] :
       {std::tuple{44100, 1, 1.0}, std::tuple{48000, 2, 1.0}, std::tuple{22050, 2, 1.0},
        std::tuple{24000, 1, 1.0}, std::tuple{44100, 2, 0.02}}) {
    SCOPED_TRACE(std::to_string(rate) + " Hz, " + std::to_string(channels) + " ch, " +
                 std::to_string(seconds) + " s");
    const std::string mp3 = dir_ + "/gapless.mp3", wav = dir_ + "/gapless.wav";
    const std::string raw = dir_ + "/decoded.raw";
    ASSERT_TRUE(RunTone(mp3, wav, rate, channels, seconds, false, "pink-noise").eos);
    const auto ffmpeg = [&](const std::string& in) {
      return Decode({"ffmpeg", "-v", "error", "-y", "-i", in, "-f", "s16le", raw}, raw);
    };
    const auto reference = ffmpeg(wav);
    ASSERT_EQ(reference.size(), static_cast<std::size_t>(rate * seconds * channels + 0.5));
    for (const auto& [decoder, samples] :
         {std::pair{"ffmpeg", ffmpeg(mp3)},
          std::pair{"mpg123", Decode({"mpg123", "-q", "-e", "s16", "-O", raw, mp3}, raw)}}) {
      SCOPED_TRACE(decoder);
      EXPECT_EQ(samples.size(), reference.size());
      if (seconds > 0.5) {  // in step: a shift by one sample would match far worse
        EXPECT_LT(Mismatch(reference, samples, channels, 0) * 2,
                  std::min(Mismatch(reference, samples, channels, -1),
                           Mismatch(reference, samples, channels, 1)));
      }
    }
  }
}

TEST_F(WavDestTest, WritesToTheHandOffPathReadAfreshAtEachStart) {
  // The location property, when set, wins over the hand-off.
  const std::string first = dir_ + "/first.mp3";
  const std::string second = dir_ + "/second.mp3";
  const std::string explicitPath = dir_ + "/explicit.mp3";
  SetHandOff(QString::fromStdString(first));
  ASSERT_TRUE(RunTone("", dir_ + "/1.wav").eos);
  SetHandOff(QString::fromStdString(second));
  ASSERT_TRUE(RunTone("", dir_ + "/2.wav").eos);
  ASSERT_TRUE(RunTone(explicitPath, dir_ + "/3.wav").eos);

  for (const std::string& path : {first, second, explicitPath}) {
    const auto a = AnalyzeAudioFile(path);
    EXPECT_TRUE(a.ok) << path << ": " << a.error;
    EXPECT_NEAR(a.durationSeconds, 2.0, 0.1) << path;
  }
  EXPECT_FALSE(fs::exists(dir_ + "/explicit.mp3.tmp"));
}

TEST_F(WavDestTest, AnEarlierRecordingStaysUntilTheNewOneHasAudio) {
  const std::string path = dir_ + "/take.mp3";
  std::ofstream(path) << "last take";
  // The WAV cannot be written: the run fails before any audio.
  EXPECT_FALSE(RunTone(path, dir_ + "/no such folder/x.wav").eos);
  std::ifstream old(path);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(old), {}), "last take");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);

  ASSERT_TRUE(RunTone(path, dir_ + "/x.wav").eos);
  const auto a = AnalyzeAudioFile(path);
  ASSERT_TRUE(a.ok) << a.error;
  EXPECT_NEAR(a.durationSeconds, 2.0, 0.1);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 2);
}

TEST_F(WavDestTest, PathWithSpacesQuotesUnicodeAndShellSyntaxIsWrittenExactlyThere) {
  const std::string odd = dir_ + "/my rec 'q' \"dq\" ünïcødé $(touch pwned) `touch bq` ;.mp3";
  SetHandOff(QString::fromStdString(odd));
  ASSERT_TRUE(RunTone("", dir_ + "/odd.wav").eos);
  const auto a = AnalyzeAudioFile(odd);
  ASSERT_TRUE(a.ok) << a.error;
  EXPECT_NEAR(a.dominantFrequencyHz, kToneHz, 2.0);
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir_)) names.push_back(entry.path().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{odd, dir_ + "/odd.wav"}));
  EXPECT_FALSE(fs::exists("pwned"));
}

TEST_F(WavDestTest, PathThatCannotBeOpenedFailsTheStartNamingPathAndReason) {
  fs::create_directory(dir_ + "/a-directory.mp3");
  struct Case {
    std::string location;  // empty: none set and no hand-off
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"/no/such/dir/x.mp3",
       "Could not open \"/no/such/dir/x.mp3\" for writing: No such file or directory"},
      {dir_ + "/a-directory.mp3",
       "Could not open \"" + dir_ + "/a-directory.mp3\" for writing: Is a directory"},
      {"", "Could not open \"\" for writing: no output file name is set"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.location);
    const RunResult run = RunTone(c.location, dir_ + "/x.wav");
    EXPECT_TRUE(run.stateChangeFailed);
    EXPECT_FALSE(run.eos);
    EXPECT_EQ(run.errorDomain, GST_RESOURCE_ERROR);
    EXPECT_EQ(run.errorCode, GST_RESOURCE_ERROR_OPEN_WRITE);
    EXPECT_EQ(run.errorText, c.expected);
  }
}

TEST_F(WavDestTest, FullDiskStopsTheRunWithAnErrorNamingTheFile) {
  const RunResult run = RunTone("/dev/full", dir_ + "/full.wav");
  EXPECT_FALSE(run.eos);
  EXPECT_EQ(run.errorDomain, GST_RESOURCE_ERROR);
  EXPECT_EQ(run.errorText, "Could not write to \"/dev/full\": No space left on device");
  EXPECT_EQ(run.errorSource, "dest");  // the sink itself, not a part inside it
}

// MPEG-1 Layer III frames (128 kbit/s, 44.1 kHz, joint stereo: 417 bytes each) through the
// Xing writer alone, cut into filesrc's buffers without regard to frame borders.
TEST_F(WavDestTest, XingWriterStatesTheLengthOnlyOfAStreamItCouldCount) {
  constexpr int kFrames = 300;
  constexpr std::size_t kFrameBytes = 417;
  for (bool garbage : {false, true}) {
    SCOPED_TRACE(garbage ? "bytes that are no frame in the middle" : "whole frames");
    std::string stream;
    for (int i = 0; i < kFrames; ++i) {
      if (garbage && i == kFrames / 2)
        stream.append(100, '\0');
      std::string frame(kFrameBytes, '\0');
      frame.replace(0, 4, "\xFF\xFB\x90\x44");
      stream += frame;
    }
    const std::string in = dir_ + "/in.mp3";
    const std::string out = dir_ + "/out.mp3";
    std::ofstream(in, std::ios::binary) << stream;
    std::string output;
    ASSERT_EQ(
        tonvale::testing::RunProgram({"gst-launch-1.0", "-q", "filesrc", "location=" + in,
                                      "blocksize=1000", "!", "audio/mpeg,mpegversion=1,layer=3",
                                      "!", "tonvalexingwriter", "!", "filesink", "location=" + out},
                                     &output),
        0)
        << output;
    // The stream follows one Xing frame of the same shape: 64 kbit/s (208 bytes) fits the
    // Xing and LAME tags.
    EXPECT_EQ(fs::file_size(out), stream.size() + 208);
    if (garbage) {
      EXPECT_LT(HeaderDurationSeconds(out), 0) << "a frame count it could not finish";
    } else {
      EXPECT_NEAR(HeaderDurationSeconds(out), kFrames * 1152 / 44100.0, 1e-9);
    }
  }
}

TEST_F(WavDestTest, WorksFromGstLaunch) {
  const std::string mp3 = dir_ + "/launch.mp3";
  const std::string wav = dir_ + "/launch.wav";
  std::string output;
  const int status = tonvale::testing::RunProgram(
      {"gst-launch-1.0", "-q", "audiotestsrc", "num-buffers=200", "freq=1000", "!",
       "tonvalewavdest", "location=" + mp3, "!", "filesink", "location=" + wav},
      &output);
  ASSERT_EQ(status, 0) << output;
  const double seconds = 200 * 1024 / 44100.0;
  ExpectToneFile(mp3, 44100, 1, seconds, 0.1);
  ExpectToneFile(wav, 44100, 1, seconds, 1e-6);
}

TEST_F(WavDestTest, KilledRecordingLeavesADecodableMp3UpToTheKill) {
  const std::string mp3 = dir_ + "/killed.mp3";
  const pid_t pid = tonvale::testing::StartProgram(
      {"gst-launch-1.0", "-q", "audiotestsrc", "is-live=true", "freq=1000", "!", "tonvalewavdest",
       "location=" + mp3, "!", "filesink", "location=" + dir_ + "/k.wav"});
  ASSERT_GT(pid, 0);
  // Wait until encoded audio reaches the file, then record on for a while.
  for (int i = 0; i < 100 && (!fs::exists(mp3) || fs::file_size(mp3) == 0); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const bool started = fs::exists(mp3) && fs::file_size(mp3) > 0;
  if (started)
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  kill(pid, SIGKILL);
  tonvale::testing::StopProcess(pid);  // reaps it
  ASSERT_TRUE(started) << "nothing reached the MP3 file within 10 s";
  const auto a = AnalyzeAudioFile(mp3);
  ASSERT_TRUE(a.ok) << a.error;
  // What was encoded up to the kill is on disk, give or take the last second.
  EXPECT_GT(a.durationSeconds, 1.5);
  EXPECT_NEAR(a.dominantFrequencyHz, kToneHz, 2.0);
  // The header was never finished: it must state no length rather than a wrong one.
  EXPECT_LT(HeaderDurationSeconds(mp3), 0);
}

}  // namespace
