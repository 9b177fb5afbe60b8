#include "audio_analysis.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <string>
#include <vector>

#include "private_server.h"

namespace {

using tonvale::testing::AnalyzeAudioFile;
using tonvale::testing::HeaderDurationSeconds;

void PutLe(std::vector<char>& out, std::uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>(v >> (8 * i)));
}

// 16-bit PCM WAV: `tone` seconds of a sine, `gap` seconds of silence, `tone` seconds of sine.
std::string WriteToneGapTone(const std::string& dir, int rate, int channels, double frequency,
                             double amplitude, double tone, double gap) {
  std::vector<std::int16_t> samples;
  auto add = [&](double seconds, bool sound) {
    const auto frames = static_cast<int>(std::lround(seconds * rate));
    for (int f = 0; f < frames; ++f) {
      const double v =
          sound ? amplitude * std::sin(2 * std::numbers::pi * frequency * f / rate) : 0.0;
      for (int c = 0; c < channels; ++c)
        samples.push_back(static_cast<std::int16_t>(std::lround(v * 32767)));
    }
  };
  add(tone, true);
  add(gap, false);
  add(tone, true);
  const auto dataBytes = static_cast<std::uint32_t>(samples.size() * 2);
  std::vector<char> file;
  file.insert(file.end(), {'R', 'I', 'F', 'F'});
  PutLe(file, 36 + dataBytes, 4);
  file.insert(file.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  PutLe(file, 16, 4);
  PutLe(file, 1, 2);
  PutLe(file, static_cast<std::uint32_t>(channels), 2);
  PutLe(file, static_cast<std::uint32_t>(rate), 4);
  PutLe(file, static_cast<std::uint32_t>(rate * channels * 2), 4);
  PutLe(file, static_cast<std::uint32_t>(channels * 2), 2);
  PutLe(file, 16, 2);
  file.insert(file.end(), {'d', 'a', 't', 'a'});
  PutLe(file, dataBytes, 4);
  const auto* bytes = reinterpret_cast<const char*>(samples.data());
  file.insert(file.end(), bytes, bytes + dataBytes);
  const std::string path = dir + "/tone.wav";
  std::ofstream(path, std::ios::binary)
      .write(file.data(), static_cast<std::streamsize>(file.size()));
  return path;
}

class AudioAnalysisTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = tonvale::testing::MakeTempDir("tonvale-analysis-"); }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string dir_;
};

TEST_F(AudioAnalysisTest, MeasuresLengthPitchLevelAndGapOfAKnownWav) {
  struct Case {
    int rate;
    int channels;
    double frequency;
    double gap;
  };
  for (const Case& c : {Case{22050, 2, 440, 0.3}, Case{48000, 1, 1000, 0.05}}) {
    SCOPED_TRACE(std::to_string(c.rate) + " Hz, " + std::to_string(c.channels) + " ch");
    const std::string path =
        WriteToneGapTone(dir_, c.rate, c.channels, c.frequency, 0.5, 0.5, c.gap);
    const auto a = AnalyzeAudioFile(path);
    ASSERT_TRUE(a.ok) << a.error;
    EXPECT_EQ(a.sampleRate, c.rate);
    EXPECT_EQ(a.channels, c.channels);
    EXPECT_NEAR(a.durationSeconds, 1.0 + c.gap, 1.0 / c.rate);
    EXPECT_NEAR(a.dominantFrequencyHz, c.frequency, 1.0);
    EXPECT_NEAR(a.rms, 0.5 / std::sqrt(2.0) * std::sqrt(1.0 / (1.0 + c.gap)), 0.005);
    // Blocks are 10 ms, so the measured gap is the whole blocks inside it.
    EXPECT_NEAR(a.longestSilenceSeconds, c.gap, 0.02);
    EXPECT_NEAR(HeaderDurationSeconds(path), 1.0 + c.gap, 1.0 / c.rate);
  }
}

TEST_F(AudioAnalysisTest, ReportsFilesItCannotReadInsteadOfMeasuringThem) {
  const std::string text = dir_ + "/notes.txt";
  std::ofstream(text) << "this is not audio, just some words in a file\n";
  for (const std::string& path : {text, dir_ + "/missing.mp3"}) {
    SCOPED_TRACE(path);
    const auto a = AnalyzeAudioFile(path);
    EXPECT_FALSE(a.ok);
    EXPECT_FALSE(a.error.empty());
    EXPECT_LT(HeaderDurationSeconds(path), 0);
  }
}

}  // namespace
