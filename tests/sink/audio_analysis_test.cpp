// The measuring helper of the audio tests, on files whose content is known. Its MP3 header
// reading is checked against written Xing frames in xing_header_test.

#include "audio_analysis.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <string>
#include <utility>
#include <vector>

#include "private_server.h"
#include "wav_bytes.h"

namespace {

using namespace tonvale::testing;

TEST(AudioAnalysis, MeasuresLengthPitchLevelAndGapOfAKnownWav) {
  const std::string dir = MakeTempDir("tonvale-analysis-");
  struct Case {
    int rate, channels;
    double hz, gap;  // 0.5 s of a 0.5 sine, `gap` s of silence, 0.5 s of the sine
  };
  for (const Case& c : {Case{22050, 2, 440, 0.3}, Case{48000, 1, 1000, 0.05}}) {
    SCOPED_TRACE(std::to_string(c.rate) + " Hz, " + std::to_string(c.channels) + " ch");
    std::vector<std::int16_t> samples;
    for (const auto& [seconds, amplitude] : {std::pair{0.5, 0.5}, {c.gap, 0.0}, {0.5, 0.5}}) {
      for (int f = 0; f < static_cast<int>(std::lround(seconds * c.rate)); ++f) {
        const double v = amplitude * std::sin(2 * std::numbers::pi * c.hz * f / c.rate);
        samples.insert(samples.end(), c.channels,
                       static_cast<std::int16_t>(std::lround(v * 32767)));
      }
    }
    const auto dataBytes = static_cast<std::uint32_t>(samples.size() * 2);
    const auto header =
        WavHeader({36 + dataBytes, dataBytes, static_cast<std::uint16_t>(c.channels),
                   static_cast<std::uint32_t>(c.rate)});
    const std::string path = dir + "/tone.wav";
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(header.data()),
               static_cast<std::streamsize>(header.size()))
        .write(reinterpret_cast<const char*>(samples.data()), dataBytes);

    const AudioAnalysis a = AnalyzeAudioFile(path);
    ASSERT_TRUE(a.ok) << a.error;
    EXPECT_EQ(a.sampleRate, c.rate);
    EXPECT_EQ(a.channels, c.channels);
    EXPECT_NEAR(a.durationSeconds, 1.0 + c.gap, 1.0 / c.rate);
    EXPECT_NEAR(HeaderDurationSeconds(path), 1.0 + c.gap, 1.0 / c.rate);
    EXPECT_NEAR(a.dominantFrequencyHz, c.hz, 1.0);
    EXPECT_NEAR(a.rms, 0.5 / std::sqrt(2.0) * std::sqrt(1.0 / (1.0 + c.gap)), 0.005);
    EXPECT_NEAR(a.longestSilenceSeconds, c.gap, 0.02);  // the whole 10 ms blocks inside it
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
