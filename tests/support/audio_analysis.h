#pragma once

// Decoding and measuring audio files in tests: length, pitch, level and gaps of whatever
// GStreamer can read (MP3, WAV, ...), and the length a file's header claims.

#include <string>
#include <vector>

namespace tonvale::testing {

struct AudioAnalysis {
  bool ok = false;
  std::string error;  // why decoding failed, when !ok
  // From the decoded sample count.
  double durationSeconds = 0;
  int sampleRate = 0;
  int channels = 0;
  // Strongest frequency of the channel mix (windowed DFT peak, interpolated); 0 when silent.
  double dominantFrequencyHz = 0;
  // Over all samples of all channels, full scale = 1.0.
  double rms = 0;
  // The longest run of 10 ms blocks whose RMS stays below the silence threshold.
  double longestSilenceSeconds = 0;
  // The largest sample magnitude of any channel.
  double peak = 0;
  // How long the file holds nothing above -60 dBFS before its first sound.
  double leadingSilenceSeconds = 0;
  // Per channel, over the middle half of the file (clear of how a stream starts and ends):
  // the strongest frequency and the RMS level in dBFS.
  std::vector<double> channelFrequencyHz;
  std::vector<double> channelLevelDb;
};

// Decodes the whole file in-process (calls gst_init when needed). A block counts as silent
// when its RMS is below silenceThreshold (0.001 is -60 dBFS).
AudioAnalysis AnalyzeAudioFile(const std::string& path, double silenceThreshold = 0.001);

// The duration the file's header states, in seconds: for a WAV the data chunk's size over
// the byte rate, for an MP3 the frame count of its Xing/Info tag. Negative when the file
// cannot be read or its header states no length.
double HeaderDurationSeconds(const std::string& path);

// The one check of a recording: it decodes, lasts `seconds` give or take `tolerance`, holds
// a tone of `hz` (within 15 Hz) with no gap over 0.2 s, and its header states the length it
// decodes to. Failures are reported as test failures; the analysis is returned for more.
AudioAnalysis ExpectTone(const std::string& path, double seconds, double tolerance, double hz);

}  // namespace tonvale::testing
