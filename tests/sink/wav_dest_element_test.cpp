// The WAV Dest plugin as the program and gst-launch-1.0 use it: loaded from the build tree,
// fed a generated signal, its MP3 and WAV decoded and measured.

#include <gst/gst.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <QSettings>
#include <QString>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "audio_analysis.h"
#include "platform/sink_contract.h"
#include "private_server.h"

namespace {

namespace fs = std::filesystem;
using namespace tonvale::testing;
using namespace tonvale::platform;

struct Format {
  int rate = 44100, channels = 1;
  double seconds = 2.0;
};

struct RunResult {
  bool eos = false, stateChangeFailed = false;
  GQuark domain = 0;
  int code = 0;
  std::string text{}, source{};  // of the first error, and the name of the element that posted it
};

void SetHandOff(const std::string& path) {  // "" removes it
  QSettings s(QSettings::NativeFormat, QSettings::UserScope,
              QString::fromLatin1(kHandOffOrganisation), QString::fromLatin1(kHandOffApplication));
  path.empty() ? s.remove(QString::fromLatin1(kHandOffKey))
               : s.setValue(QString::fromLatin1(kHandOffKey), QString::fromStdString(path));
}

class WavDestTest : public ::testing::Test {
 protected:
  // GStreamer here and in the gst-launch-1.0 children finds the plugin in the build tree,
  // through a registry of its own so that the user's registry cache is left alone.
  static void SetUpTestSuite() {
    const char* build = std::getenv("TONVALE_BUILD_DIR");
    ASSERT_NE(build, nullptr) << "run through ctest";
    registry_ = MakeTempDir("tonvale-gstreg-");
    setenv("GST_REGISTRY", (registry_ + "/registry.bin").c_str(), 1);
    setenv("GST_PLUGIN_PATH", (std::string(build) + "/lib/tonvale").c_str(), 1);
    gst_init(nullptr, nullptr);
    GstElementFactory* factory = gst_element_factory_find("tonvalewavdest");
    ASSERT_NE(factory, nullptr);
    EXPECT_STREQ(gst_element_factory_get_metadata(factory, GST_ELEMENT_METADATA_LONGNAME),
                 "WAV Dest");
    gst_object_unref(factory);
  }
  static void TearDownTestSuite() { fs::remove_all(registry_); }
  void SetUp() override {
    dir_ = MakeTempDir("tonvale-sink-");
    SetHandOff("");
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Runs `f` of a 1 kHz `wave` into the sink, its WAV to a file, to the end or the first
  // error. An empty location leaves the property unset.
  RunResult Run(const std::string& location, const std::string& wav, Format f = {},
                const std::string& wave = "sine") {
    const auto n = [](auto v) { return std::to_string(v); };
    GstElement* pipeline = gst_parse_launch(
        ("audiotestsrc wave=" + wave + " freq=1000 volume=0.5 samplesperbuffer=" + n(f.rate / 50) +
         " num-buffers=" + n(std::lround(f.seconds * 50)) +
         " ! audio/x-raw,format=S16LE,rate=" + n(f.rate) + ",channels=" + n(f.channels) +
         " ! tonvalewavdest name=dest ! filesink name=wav")
            .c_str(),
        nullptr);
    EXPECT_NE(pipeline, nullptr);
    if (pipeline == nullptr)
      return {};
    if (!location.empty())
      gst_child_proxy_set(GST_CHILD_PROXY(pipeline), "dest::location", location.c_str(), nullptr);
    gst_child_proxy_set(GST_CHILD_PROXY(pipeline), "wav::location", wav.c_str(), nullptr);
    const bool failed =
        gst_element_set_state(pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE;
    GstMessage* m = gst_bus_timed_pop_filtered(
        GST_ELEMENT_BUS(pipeline), 60 * GST_SECOND,
        static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    RunResult r{m != nullptr && GST_MESSAGE_TYPE(m) == GST_MESSAGE_EOS, failed};
    if (m != nullptr && !r.eos) {
      GError* e = nullptr;
      gst_message_parse_error(m, &e, nullptr);
      r = {false, failed, e->domain, e->code, e->message, GST_MESSAGE_SRC_NAME(m)};
      g_error_free(e);
    }
    if (m != nullptr)
      gst_message_unref(m);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
    return r;
  }

  std::string dir_;
  inline static std::string registry_;
};

// Interleaved S16 samples that a decoder run as `argv` wrote to `out`.
std::vector<std::int16_t> Decode(const std::vector<std::string>& argv, const std::string& out) {
  std::string output;
  EXPECT_EQ(RunProgram(argv, &output), 0) << output;
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

// A tone becomes an MP3 and a WAV of its length, rate and pitch. From noise, gapless decoders
// (they read the encoder's delay and padding from the header) give back exactly the WAV's
// samples, in step with it, so that recordings join without a gap. LAME takes at most two
// channels (more are folded to mono); 20 ms (one buffer) end before it has put out a frame.
TEST_F(WavDestTest, MakesAnMp3AndAWavOfTheSameAudioThatDecodeGapless) {
  for (const auto& [f, mp3Channels] : {std::pair{Format{44100, 2, 3.0}, 2},
                                       {Format{48000, 1, 2.0}, 1},
                                       {Format{22050, 2, 1.0}, 2},
                                       {Format{24000, 1, 1.0}, 1},
                                       {Format{48000, 6, 1.0}, 1},
                                       {Format{44100, 2, 0.02}, 2}}) {
    SCOPED_TRACE(std::to_string(f.rate) + " Hz, " + std::to_string(f.channels) + " ch, " +
                 std::to_string(f.seconds) + " s");
    const std::string mp3 = dir_ + "/out.mp3", wav = dir_ + "/out.wav", raw = dir_ + "/out.raw";
    if (f.seconds > 0.5) {
      ASSERT_TRUE(Run(mp3, wav, f).eos);
      for (const auto& [path, channels, tolerance] :
           {std::tuple{mp3, mp3Channels, 0.1}, std::tuple{wav, f.channels, 1e-6}}) {
        const AudioAnalysis a = ExpectTone(path, f.seconds, tolerance, 1000);
        EXPECT_EQ(a.sampleRate, f.rate);
        EXPECT_EQ(a.channels, channels);
        EXPECT_NEAR(HeaderDurationSeconds(path), f.seconds, tolerance);
        EXPECT_NEAR(a.dominantFrequencyHz, 1000, 2.0);
        EXPECT_LT(a.longestSilenceSeconds, 0.05);  // the encoder's start-up delay is less
        EXPECT_GT(a.rms, 0.25);                    // a 0.5 sine is 0.354
      }
    }
    if (f.channels > 2)
      continue;
    ASSERT_TRUE(Run(mp3, wav, f, "pink-noise").eos);
    // The format named: ffmpeg's probe takes some 20 ms MP3s of noise for video.
    const auto ffmpeg = [&](const char* format, const std::string& in) {
      return Decode({"ffmpeg", "-v", "error", "-y", "-f", format, "-i", in, "-f", "s16le", raw},
                    raw);
    };
    const auto reference = ffmpeg("wav", wav);
    ASSERT_EQ(reference.size(), static_cast<std::size_t>(f.rate * f.seconds * f.channels + 0.5));
    for (const auto& [decoder, samples] :
         {std::pair{"ffmpeg", ffmpeg("mp3", mp3)},
          std::pair{"mpg123", Decode({"mpg123", "-q", "-e", "s16", "-O", raw, mp3}, raw)}}) {
      SCOPED_TRACE(decoder);
      EXPECT_EQ(samples.size(), reference.size());
      if (f.seconds > 0.5) {  // in step: a shift by one sample would match far worse
        EXPECT_LT(Mismatch(reference, samples, f.channels, 0) * 2,
                  std::min(Mismatch(reference, samples, f.channels, -1),
                           Mismatch(reference, samples, f.channels, 1)));
      }
    }
  }
}

// The MP3 goes to the location property when set, else to the hand-off path read afresh at
// each start, exactly as named; an earlier recording there stays until the new one has audio.
TEST_F(WavDestTest, WritesWhereItIsToldAndKeepsTheEarlierRecordingUntilTheNewOneHasAudio) {
  const std::string first = dir_ + "/first.mp3", wav = dir_ + "/x.wav";
  const std::string odd = dir_ + "/my rec 'q' \"dq\" ünïcødé $(touch pwned) `touch bq` ;.mp3";
  const std::string explicitPath = dir_ + "/explicit.mp3";
  SetHandOff(first);
  ASSERT_TRUE(Run("", wav).eos);
  SetHandOff(odd);
  ASSERT_TRUE(Run("", wav).eos);
  std::ofstream(explicitPath) << "last take";
  EXPECT_FALSE(Run(explicitPath, dir_ + "/no such folder/x.wav").eos);  // fails before audio
  std::ifstream old(explicitPath);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(old), {}), "last take");
  ASSERT_TRUE(Run(explicitPath, wav).eos);

  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir_)) names.push_back(entry.path().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{explicitPath, first, odd, wav}));
  for (const std::string& path : {first, odd, explicitPath}) ExpectTone(path, 2.0, 0.1, 1000);
  EXPECT_FALSE(fs::exists("pwned"));
}

// A path that cannot be opened fails the start, a full disk stops the run: either way with an
// error from the sink itself that names the path and the reason.
TEST_F(WavDestTest, FailureIsReportedByTheSinkNamingPathAndReason) {
  fs::create_directory(dir_ + "/a-directory.mp3");
  constexpr int kOpen = GST_RESOURCE_ERROR_OPEN_WRITE;
  const std::string cannot = "Could not open \"";
  for (const auto& [location, code, text] : std::vector<std::tuple<std::string, int, std::string>>{
           {"/no/such/dir/x.mp3", kOpen,
            cannot + "/no/such/dir/x.mp3\" for writing: No such file or directory"},
           {dir_ + "/a-directory.mp3", kOpen,
            cannot + dir_ + "/a-directory.mp3\" for writing: Is a directory"},
           {"", kOpen, cannot + "\" for writing: no output file name is set"},  // nor hand-off
           {"/dev/full", GST_RESOURCE_ERROR_NO_SPACE_LEFT,
            "Could not write to \"/dev/full\": No space left on device"}}) {
    SCOPED_TRACE(location);
    const RunResult run = Run(location, dir_ + "/x.wav");
    EXPECT_FALSE(run.eos);
    EXPECT_EQ(run.stateChangeFailed, code == kOpen);
    EXPECT_EQ(run.domain, GST_RESOURCE_ERROR);
    EXPECT_EQ(run.code, code);
    EXPECT_EQ(run.text, text);
    EXPECT_EQ(run.source, "dest");
  }
}

// From gst-launch-1.0: a run killed while it records leaves an MP3 that decodes up to the
// kill, with an unfinished header that states no length rather than a wrong one; the Xing
// writer alone, on MPEG-1 frames (128 kbit/s, 44.1 kHz: 417 bytes) cut regardless of frame
// borders, puts before them a Xing frame of their shape (64 kbit/s: 208 bytes) that states
// the length only of a stream it could count.
TEST_F(WavDestTest, WorksFromGstLaunchAndStatesNoLengthItCouldNotCount) {
  const std::string mp3 = dir_ + "/launch.mp3", wav = dir_ + "/launch.wav";
  const pid_t pid =
      StartProgram({"gst-launch-1.0", "-q", "audiotestsrc", "is-live=true", "freq=1000", "!",
                    "tonvalewavdest", "location=" + mp3, "!", "filesink", "location=" + wav});
  ASSERT_GT(pid, 0);
  for (int i = 0; i < 100 && (!fs::exists(mp3) || fs::file_size(mp3) == 0); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const bool started = fs::exists(mp3) && fs::file_size(mp3) > 0;
  if (started)
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  kill(pid, SIGKILL);
  StopProcess(pid);  // reaps it
  ASSERT_TRUE(started) << "nothing reached the MP3 file within 10 s";
  const AudioAnalysis killed = AnalyzeAudioFile(mp3);
  ASSERT_TRUE(killed.ok) << killed.error;
  EXPECT_GT(killed.durationSeconds, 1.5);  // give or take the last second
  EXPECT_NEAR(killed.dominantFrequencyHz, 1000, 2.0);
  EXPECT_LT(HeaderDurationSeconds(mp3), 0);

  for (bool garbage : {false, true}) {
    SCOPED_TRACE(garbage ? "bytes that are no frame in the middle" : "whole frames");
    std::string stream;
    for (int i = 0; i < 300; ++i)
      stream += (garbage && i == 150 ? std::string(100, '\0') : "") + "\xFF\xFB\x90\x44" +
                std::string(413, '\0');
    std::ofstream(dir_ + "/in.mp3", std::ios::binary) << stream;
    std::string output;
    ASSERT_EQ(RunProgram({"gst-launch-1.0", "-q", "filesrc", "location=" + dir_ + "/in.mp3",
                          "blocksize=1000", "!", "audio/mpeg,mpegversion=1,layer=3", "!",
                          "tonvalexingwriter", "!", "filesink", "location=" + mp3},
                         &output),
              0)
        << output;
    EXPECT_EQ(fs::file_size(mp3), stream.size() + 208);
    EXPECT_NEAR(HeaderDurationSeconds(mp3), garbage ? -1 : 300 * 1152 / 44100.0, 1e-9);
  }
}

}  // namespace
